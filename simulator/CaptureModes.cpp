#include "CaptureModes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "CaptureFile.h"
#include "GarbageDatagrams.h"
#include "PacketFormat.h"

namespace z540k::sim {

namespace {

constexpr std::uint16_t kRecordedDataPort = kDefaultDataPort;
constexpr std::uint16_t kRecordedStatusPort = kDefaultStatusPort;
// The longest wait between two looks at the stop flag during a replay.
constexpr std::int64_t kLongestWaitUs = 50000;

// Host-order value of an address, as the capture writer takes it.
std::uint32_t hostOrder(const Ipv4Address& a) { return loadBE32(a.data()); }

// The capture file's own reason, which names the file; the file's name in
// front when it does not.
std::string fileError(const std::string& path, const std::string& reason) {
  if (reason.find(path) != std::string::npos) return reason;
  return path + ": " + reason;
}

}  // namespace

bool writeCapture(const SimulatorOptions& o, std::int64_t clockStartUs, RunSummary& summary, std::string& error) {
  CaptureWriter writer;
  if (!writer.open(o.writePcap)) {
    error = fileError(o.writePcap, writer.error());
    return false;
  }
  const SensorState state = initialSensorState(o);
  SensorStream stream(streamSettingsFor(o, clockStartUs), state);
  GarbageDatagrams garbage(o.garbage, kGarbageSeed);
  DatagramDrop drop = datagramDropFor(o);
  const std::uint32_t source = hostOrder(state.sensorIp);
  const std::uint32_t target = hostOrder(state.destIp);
  const double limitUs = o.seconds ? *o.seconds * 1e6 : std::numeric_limits<double>::infinity();
  const double rateStepUs = o.rate ? 1e6 / *o.rate : 0.0;

  std::uint64_t produced = 0;
  std::uint64_t measurementSlots = 0;
  bool ok = true;
  std::uint64_t timeUs = 0;
  const auto write = [&](const Datagram& d, std::uint16_t port) {
    const std::int64_t at = clockStartUs + static_cast<std::int64_t>(timeUs);
    std::int64_t seconds = at / 1000000;
    std::int64_t micro = at % 1000000;
    if (micro < 0) {
      micro += 1000000;
      --seconds;
    }
    if (!writer.write(d.data(), d.size, source, o.sensorPort, target, port, seconds, static_cast<std::uint32_t>(micro)))
      ok = false;
  };

  Datagram d;
  Datagram junk;
  while (ok && !(o.count && measurementSlots >= *o.count)) {
    // With a fixed rate the datagrams are stamped at that rate, as the
    // network loop would send them.
    timeUs = o.rate ? static_cast<std::uint64_t>(std::llround(static_cast<double>(produced) * rateStepUs))
                    : stream.nextTimeUs();
    if (static_cast<double>(timeUs) >= limitUs) break;
    stream.next(d);
    ++produced;
    if (d.kind == SentKind::Status) {
      write(d, state.statusPort);
      if (o.statusToDataPort) write(d, state.dataPort);
      ++summary.status;
      continue;
    }
    ++measurementSlots;
    for (int n = garbage.countBeforeNext(); n > 0; --n) {
      garbage.make(d, junk);
      write(junk, state.dataPort);
      ++summary.garbage;
    }
    if (garbage.replacesEverything()) continue;
    if (drop.leaveOut()) {
      ++summary.leftOut;
      continue;
    }
    write(d, state.dataPort);
    ++summary.data;
  }
  summary.seconds = static_cast<double>(timeUs) / 1e6;
  if (!ok || !writer.close()) {
    error = fileError(o.writePcap, writer.error());
    return false;
  }
  return true;
}

bool replayCapture(const SimulatorOptions& o, const std::atomic<bool>& stop, const SimulatorLog& log,
                   RunSummary& summary, std::string& error, PaceClock* paceClock) {
  CaptureReader reader;
  if (!reader.open(o.replay)) {
    error = fileError(o.replay, reader.error());
    return false;
  }
  Ipv4Address bind{};
  Ipv4Address target{};
  parseIpv4(o.bindAddress, bind);
  parseIpv4(o.target, target);
  SensorSocket socket;
  if (!socket.bind(bind, o.sensorPort, error)) return false;

  const double speed = o.speed.value_or(1.0);
  SteadyPaceClock steadyClock;
  PaceClock& clock = paceClock ? *paceClock : steadyClock;
  const std::int64_t start = clock.nowUs();
  const auto elapsedUs = [&] { return clock.nowUs() - start; };
  const double limitUs = o.seconds ? *o.seconds * 1e6 : std::numeric_limits<double>::infinity();
  std::vector<int> reportedErrors;

  CapturedDatagram c;
  bool haveFirst = false;
  std::int64_t firstUs = 0;
  std::uint64_t measurements = 0;
  bool limitReached = false;
  while (!stop.load() && !limitReached && !(o.count && measurements >= *o.count) && reader.next(c)) {
    const std::int64_t recordedUs = c.seconds * 1000000 + c.microseconds;
    if (!haveFirst) {
      firstUs = recordedUs;
      haveFirst = true;
    }
    if (!o.fast) {
      // Records out of time order go out at once.
      const double dueUs = static_cast<double>(std::max<std::int64_t>(0, recordedUs - firstUs)) / speed;
      for (;;) {
        const std::int64_t now = elapsedUs();
        if (stop.load() || static_cast<double>(now) >= limitUs) break;
        if (static_cast<double>(now) >= dueUs) break;
        const auto until = static_cast<std::int64_t>(std::ceil(std::min(dueUs, limitUs)));
        if (clock.waitUntil(start + std::min(until, now + kLongestWaitUs), -1) < 0 && errno != EINTR) {
          error = std::string("waiting to replay failed: ") + std::strerror(errno);
          return false;
        }
      }
      if (stop.load()) break;
    }
    if (static_cast<double>(elapsedUs()) >= limitUs) {
      limitReached = true;
      break;
    }

    std::uint16_t port = c.destPort;
    if (port == kRecordedDataPort)
      port = o.dataPort;
    else if (port == kRecordedStatusPort)
      port = o.statusPort;
    const int e = socket.sendTo(target, port, c.payload, c.size);
    const SentKind kind = [&] {
      switch (classifyDatagram(c.payload, c.size)) {
        case z540k::DatagramKind::DataPacket:
          return SentKind::Data;
        case z540k::DatagramKind::CompactScanPacket:
          return SentKind::CompactScan;
        case z540k::DatagramKind::StatusPacket:
          return SentKind::Status;
        default:
          return SentKind::Garbage;
      }
    }();
    if (kind == SentKind::Data || kind == SentKind::CompactScan) ++measurements;
    if (e != 0) {
      if (e == EAGAIN || e == ENOBUFS) {
        ++summary.dropped;
      } else {
        ++summary.sendFailures;
        if (std::find(reportedErrors.begin(), reportedErrors.end(), e) == reportedErrors.end()) {
          reportedErrors.push_back(e);
          if (log) log("cannot send to " + formatIpv4(target) + ":" + std::to_string(port) + ": " + std::strerror(e));
        }
      }
      continue;
    }
    if (kind == SentKind::Status)
      ++summary.status;
    else if (kind == SentKind::Garbage)
      ++summary.garbage;
    else
      ++summary.data;
  }
  summary.seconds = static_cast<double>(elapsedUs()) / 1e6;
  if (reader.changedOnDisk()) {
    error = reader.damage() + "; the replay stopped after " +
            std::to_string(summary.data + summary.status + summary.garbage) + " datagrams";
    return false;
  }
  if (!reader.damage().empty()) {
    error = o.replay + " is damaged after " + std::to_string(summary.data + summary.status + summary.garbage) +
            " datagrams: " + reader.damage();
    return false;
  }
  return true;
}

}  // namespace z540k::sim
