// The status bar's line: whether data flows and why not, at a glance; and
// the sensor's revolutions per second, taken from the sensor's own clock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SensorSources.h"

namespace z540k {

struct ReceptionFigures {
  bool lidarOn = false;  // the "Lidar" button is pressed
  bool playing = false;  // a capture plays (or waits paused)
  bool paused = false;   // ...waiting paused at `frame` of `frameTotal` (1 = the first)
  int frame = 0, frameTotal = 0;
  std::uint64_t playbackLate = 0;  // frames the player sent later than the capture's pace allowed
  int dataPort = 0;
  double revolutionsPerSecond = 0;  // the sensor's, from its decoded revolutions, drawn or not
  double framesDrawnPerSecond = 0;  // what the window drew in the last second
  double screenDelayMs = -1;        // the longest revolution-to-screen delay of the last second; < 0: none drawn
  std::uint64_t datagramsLastSecond = 0;
  std::size_t pointsPerRevolution = 0;  // measurements of the newest revolution
  std::uint64_t datagrams = 0;          // read on the data port since the program started
  std::uint64_t unrecognised = 0;       // of those, neither data, status nor compact scan packets (empty
                                        // and over-long datagrams included)
  std::uint64_t kernelDrops = 0;        // dropped by the kernel (receive buffer full)
  std::uint64_t lostOnWire = 0;         // never reached this host (gaps in the sensor's azimuths)
  std::uint64_t handOverDrops = 0;      // revolutions dropped because the window had too many waiting
  // Read on the status port since the program started; of those, not status
  // packets; and dropped by the kernel.
  std::uint64_t statusDatagrams = 0, statusUnrecognised = 0, statusKernelDrops = 0;
  std::uint64_t displayMerged = 0;  // revolutions that arrived but were not drawn (a newer one was)
  std::string sensorNote;           // what the data show of the sensor (return mode, layout), empty when nothing
  std::string ruler;                // the ruler's ends and length, empty when it has none
  std::string sensors;              // the sensors heard when more than one (sensorsText), else empty
  std::string setupError;           // the last failure to set up reception, empty when none
  std::string lastError;            // the last error reported to the operator, empty when none
};

// Plain text; the window shows it in white rich text, so it is escaped there.
std::string statusLineText(const ReceptionFigures& f);

// The sensors on the data port when more than one sent or one was chosen by
// hand: "sensors: 127.0.0.2:2368 (drawn), 127.0.0.3:2368; 5230 datagrams
// from another sensor"; empty for one sensor heard and none chosen.
// `drawn` is the one decoded; `fromAnother` the data port's and the status
// port's datagrams of the others.
std::string sensorsText(const std::vector<SourceCount>& sources, const std::optional<SensorAddress>& drawn,
                        bool chosenByHand, std::uint64_t fromAnother);

// The sensor's revolutions per second from the time stamps of its
// revolutions (the newest measurement time of each; the sensor counts
// microseconds past the hour, so its clock wraps once an hour), over the
// last two seconds of the sensor's time: the rate at which it turns,
// whatever the host does meanwhile. Revolutions without time stamps
// (compact scan packets) are timed by the host clock instead.
class RevolutionRate {
 public:
  // A revolution ended at `sensorMicroseconds`; `lostBefore` revolutions
  // that never reached the window (dropped at the hand-over) ended since the
  // one before it.
  void add(std::uint64_t sensorMicroseconds, std::uint64_t lostBefore = 0);
  // Revolutions per second; 0 until two revolutions are known.
  double perSecond() const;
  // The sensor fell silent: nothing is known any more.
  void clear() { history_.clear(); }

  static constexpr std::uint64_t kClockWrap = 3600ull * 1000000;  // an hour of microseconds
  static constexpr std::uint64_t kWindow = 2000000;               // two seconds

 private:
  std::deque<std::pair<std::uint64_t, std::uint64_t>> history_;  // (time, revolutions so far)
  std::uint64_t revolutions_ = 0;
};

// What the window counts for its status line: the revolutions that arrive
// (drawn or not) with the sensor's rate and the newest one's points, and once
// a second the frames drawn and the datagrams read in that second.
class ReceptionCounters {
 public:
  // A revolution of `points` measurements ended at `time` (the sensor's
  // microseconds, or the host's for a revolution without time stamps);
  // `handOverDrops` records have been dropped at the hand-over so far.
  void revolution(std::uint64_t time, std::uint64_t handOverDrops, std::size_t points);
  std::uint64_t revolutions() const { return revolutions_; }
  // Once every `seconds`: the frames drawn and datagrams read so far. With
  // no revolution since the last tick the sensor is silent (or the capture
  // paused): its rate is unknown.
  void tick(std::uint64_t framesDrawn, std::uint64_t datagrams, double seconds);
  // A revolution was drawn `ms` after it reached the window: the longest of
  // a second is shown for the second after it.
  void drawnAfter(double ms) { worstDelayMs_ = ms > worstDelayMs_ ? ms : worstDelayMs_; }
  // The rates and the points into the line's figures.
  void fill(ReceptionFigures& f) const;

 private:
  RevolutionRate rate_;
  std::uint64_t revolutions_ = 0;
  std::uint64_t handOverDropsSeen_ = 0;
  std::size_t points_ = 0;
  std::uint64_t revolutionsAtTick_ = 0;
  std::uint64_t framesDrawnAtTick_ = 0;
  std::uint64_t datagramsAtTick_ = 0;
  double framesDrawnPerSecond_ = 0;
  std::uint64_t datagramsLastSecond_ = 0;
  double worstDelayMs_ = -1, delayLastSecondMs_ = -1;
};

// The newest time stamp of a revolution's measurements (0 when it has none).
template <typename Timestamps>
std::uint64_t newestTimestamp(const Timestamps& timestamps) {
  std::uint64_t newest = 0;
  for (const auto t : timestamps)
    if (t > newest) newest = t;
  return newest;
}

}  // namespace z540k
