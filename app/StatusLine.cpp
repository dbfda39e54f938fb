#include "StatusLine.h"

#include <cstdio>

namespace z540k {

std::string statusLineText(const ReceptionFigures& f) {
  std::string state;
  if (f.playing && f.paused && f.frame > 0)
    state = "Paused at frame " + std::to_string(f.frame) + " of " + std::to_string(f.frameTotal);
  else if (f.playing)
    state = "Playing a capture";
  else if (!f.lidarOn)
    state = "Not receiving (press Lidar)";
  else if (!f.setupError.empty())
    state = "Not receiving: " + f.setupError;
  else if (f.datagramsLastSecond == 0)
    state = "No data on port " + std::to_string(f.dataPort);
  else
    state = "Receiving on port " + std::to_string(f.dataPort);
  if (f.playing && f.playbackLate > 0)
    state += ", " + std::to_string(f.playbackLate) + (f.playbackLate == 1 ? " frame" : " frames") +
             " behind the capture's pace (the host cannot keep it)";
  using ull = unsigned long long;
  char delay[64] = "";
  if (f.screenDelayMs >= 0) std::snprintf(delay, sizeof delay, ", up to %.0f ms to screen", f.screenDelayMs);
  char figures[700];
  std::snprintf(figures, sizeof figures,
                "   |   %.1f rev/s, %.1f drawn/s%s   |   %zu points/rev   |   %llu datagrams, %llu unrecognised, %llu "
                "dropped by the kernel, %llu lost on the wire, %llu dropped at the hand-over   |   status port: %llu "
                "datagrams, %llu unrecognised, %llu dropped by the kernel   |   %llu frame%s merged for display",
                f.revolutionsPerSecond, f.framesDrawnPerSecond, delay, f.pointsPerRevolution,
                static_cast<ull>(f.datagrams), static_cast<ull>(f.unrecognised), static_cast<ull>(f.kernelDrops),
                static_cast<ull>(f.lostOnWire), static_cast<ull>(f.handOverDrops), static_cast<ull>(f.statusDatagrams),
                static_cast<ull>(f.statusUnrecognised), static_cast<ull>(f.statusKernelDrops),
                static_cast<ull>(f.displayMerged), f.displayMerged == 1 ? "" : "s");
  // The sensors and what they show early in the line, where a narrow window
  // still shows them.
  if (!f.sensorNote.empty()) state += "   |   " + f.sensorNote;
  if (!f.ruler.empty()) state += "   |   ruler: " + f.ruler;
  std::string line = state + (f.sensors.empty() ? std::string() : "   |   " + f.sensors) + figures;
  if (!f.lastError.empty()) line += "   |   last error: " + f.lastError;
  return line;
}

std::string sensorsText(const std::vector<SourceCount>& sources, const std::optional<SensorAddress>& drawn,
                        bool chosenByHand, std::uint64_t fromAnother) {
  if (sources.size() < 2 && !chosenByHand && fromAnother == 0) return {};
  std::string text = "sensors:";
  bool drawnListed = false;
  for (const SourceCount& s : sources) {
    const bool isDrawn = drawn && s.address.ip == drawn->ip && (drawn->port == 0 || s.address.port == drawn->port);
    drawnListed = drawnListed || isDrawn;
    text += (text.size() > 8 ? ", " : " ") + sensorAddressText(s.address) + (isDrawn ? " (drawn)" : "");
  }
  if (drawn && !drawnListed) text += (text.size() > 8 ? ", " : " ") + sensorAddressText(*drawn) + " (drawn, not heard)";
  return text + "; " + std::to_string(fromAnother) + " datagrams from another sensor";
}

void RevolutionRate::add(std::uint64_t time, std::uint64_t lostBefore) {
  revolutions_ += lostBefore + 1;
  if (!history_.empty()) {
    const std::uint64_t last = history_.back().first;
    const std::uint64_t elapsed = time >= last ? time - last : time + kClockWrap - last;
    // A clock that jumped (a GPS correction, another sensor): start over.
    if (elapsed > kClockWrap / 2) history_.clear();
  }
  history_.emplace_back(time, revolutions_);
  const auto since = [this](std::uint64_t from) {
    const std::uint64_t to = history_.back().first;
    return to >= from ? to - from : to + kClockWrap - from;
  };
  while (history_.size() > 2 && since(history_[1].first) >= kWindow) history_.pop_front();
}

double RevolutionRate::perSecond() const {
  if (history_.size() < 2) return 0;
  const std::uint64_t from = history_.front().first, to = history_.back().first;
  const std::uint64_t elapsed = to >= from ? to - from : to + kClockWrap - from;
  if (elapsed == 0) return 0;
  return static_cast<double>(history_.back().second - history_.front().second) * 1e6 / static_cast<double>(elapsed);
}

void ReceptionCounters::revolution(std::uint64_t time, std::uint64_t handOverDrops, std::size_t points) {
  ++revolutions_;
  rate_.add(time, handOverDrops >= handOverDropsSeen_ ? handOverDrops - handOverDropsSeen_ : 0);
  handOverDropsSeen_ = handOverDrops;
  points_ = points;
}

void ReceptionCounters::tick(std::uint64_t framesDrawn, std::uint64_t datagrams, double seconds) {
  framesDrawnPerSecond_ = static_cast<double>(framesDrawn - framesDrawnAtTick_) / seconds;
  framesDrawnAtTick_ = framesDrawn;
  if (revolutions_ == revolutionsAtTick_) rate_.clear();
  revolutionsAtTick_ = revolutions_;
  datagramsLastSecond_ = datagrams - datagramsAtTick_;
  datagramsAtTick_ = datagrams;
  delayLastSecondMs_ = worstDelayMs_;
  worstDelayMs_ = -1;
}

void ReceptionCounters::fill(ReceptionFigures& f) const {
  f.revolutionsPerSecond = rate_.perSecond();
  f.framesDrawnPerSecond = framesDrawnPerSecond_;
  f.datagramsLastSecond = datagramsLastSecond_;
  f.pointsPerRevolution = points_;
  f.screenDelayMs = delayLastSecondMs_;
}

}  // namespace z540k
