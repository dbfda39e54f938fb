// listen: live data port reception with the program's decoding; one line per
// revolution and the counts of datagrams by kind at the end.
//
// A reader that does not keep up does not make the tool grow: the receiver
// hands over a bounded number of revolutions at a time and drops (and
// counts) the rest, and with --seconds no write to stdout waits past the end.
// The CSV file is written in full: the reception ends on time even while
// the file's writer holds this thread, and every revolution handed over by
// then is written before the tool ends; a revolution received and not
// written (dropped at the hand-over while the file was behind) is counted
// and makes the exit code 1.
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "Commands.h"
#include "CsvFrameFile.h"
#include "LiveDataReceiver.h"
#include "RecordMetaTypes.h"
#include "StatusPacket.h"
#include "StatusReceiver.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool listen [options]\n"
    "\n"
    "Receives the sensor's datagrams on the data port, decodes them and prints one line per revolution\n"
    "(points, azimuth span, first and last time stamp, datagrams lost on the wire); at the end, on\n"
    "stderr, the datagrams by kind (other: everything else, empty and over-long datagrams included)\n"
    "and in all.\n"
    "Lost on the wire are the packets that never reached this host, told by the gaps in the sensor's\n"
    "azimuths (those the kernel dropped are counted apart). One sensor is decoded (its source address\n"
    "and port name it): the first whose packets arrive, unless --source picks one; the datagrams of\n"
    "other sensors are counted and listed on stderr, and without --source they make the exit code 1.\n"
    "\n"
    "options:\n"
    "  --port P               UDP port to receive on (default 2368)\n"
    "  --status-port P        also read the sensor's status packets on port P: without --return-mode the\n"
    "                         echo mode they state decides the return mode (status packets arriving on\n"
    "                         the data port always do; before any, the data packets decide)\n"
    "  --multicast GROUP      join this IPv4 multicast group (default: none)\n"
    "  --frames N             stop after N revolutions (default: until Ctrl+C)\n"
    "  --seconds S            stop after S seconds (default: until Ctrl+C)\n"
    "  --csv OUT.csv          also write the revolutions as export-csv writes them (a file: stdout holds\n"
    "                         the revolution lines); the file gets every revolution received until the\n"
    "                         end (written before the tool ends); those it could not keep up with are\n"
    "                         counted and make the exit code 1; the lines on stdout that find no room at\n"
    "                         once are skipped\n";

using Clock = std::chrono::steady_clock;

// Revolutions on their way to this thread at most when stdout keeps up or a
// CSV file is written (else the receiver's few): some 25 ms of them at
// 100,000 datagrams a second, and about 25 MB.
constexpr std::size_t kInFlightKeepingUp = 256;
// The longest wait before a stop signal is seen.
constexpr std::chrono::milliseconds kStopSlice{50};

// Whether stdout takes whatever is written at once: a regular file or /dev/null.
bool stdoutKeepsUp() {
  struct stat out {};
  return ::fstat(STDOUT_FILENO, &out) == 0 &&
         (S_ISREG(out.st_mode) || (S_ISCHR(out.st_mode) && out.st_rdev == makedev(1, 3)));
}

// Lines to stdout, gathered and written together: when 64 KiB have
// gathered, when the oldest has waited a second, whenever the caller flushes
// (a timer, many times a second) and at the end. A regular file or /dev/null
// takes them in one write() each. Anything else (a pipe, a terminal) gets
// them in pieces it has room for, waiting for room no longer than allowed:
// until the deadline when there is one, not at all once a stop was asked (a
// stop signal) or when told never to wait, else as long as it takes. The
// lines that find no room in time are dropped and counted.
class StdoutLines {
 public:
  StdoutLines(std::optional<Clock::time_point> deadline, bool neverWait) : deadline_(deadline), neverWait_(neverWait) {}

  void add(const std::string& line) {
    const Clock::time_point now = Clock::now();
    if (text_.empty()) oldest_ = now;
    text_ += line;
    if (text_.size() >= kGather || now - oldest_ >= std::chrono::seconds(1)) flush();
  }

  // Writes what has gathered; false when some of it was dropped.
  bool flush() {
    std::size_t done = 0;
    while (done < text_.size()) {
      if (!keepsUp_ && !waitForRoom()) break;
      // Else at most PIPE_BUF bytes: a pipe with room takes them without blocking.
      const std::size_t piece = keepsUp_ ? text_.size() - done : std::min<std::size_t>(text_.size() - done, 512);
      const ssize_t n = ::write(STDOUT_FILENO, text_.data() + done, piece);
      if (n > 0)
        done += static_cast<std::size_t>(n);
      else if (n < 0 && errno != EINTR && errno != EAGAIN)
        break;
    }
    // A line written only in part counts as dropped.
    const auto lost = static_cast<unsigned long long>(std::count(text_.begin() + done, text_.end(), '\n'));
    dropped_ += lost;
    text_.clear();
    return lost == 0;
  }
  unsigned long long dropped() const { return dropped_; }

 private:
  static constexpr std::size_t kGather = 64 << 10;

  bool waitForRoom() const {
    for (;;) {
      int timeoutMs = 100;  // a slice: a stop asked meanwhile ends the wait
      if (neverWait_ || stopRequested) {
        timeoutMs = 0;
      } else if (deadline_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now()).count();
        timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, timeoutMs));
      }
      pollfd out{STDOUT_FILENO, POLLOUT, 0};
      const int ready = ::poll(&out, 1, timeoutMs);
      if (ready > 0) return true;  // room, or an error the write reports
      if (ready < 0 && errno != EINTR) return false;
      if (timeoutMs == 0) return false;
    }
  }

  std::optional<Clock::time_point> deadline_;
  bool neverWait_;
  const bool keepsUp_ = stdoutKeepsUp();
  std::string text_;
  Clock::time_point oldest_;
  unsigned long long dropped_ = 0;
};

std::string revolutionLine(unsigned long long number, const LidarDataSingleLine& r, unsigned long long lost) {
  const std::size_t n = r.pairedSize();
  double lo = 0, hi = 0;
  unsigned long long first = 0, last = 0;
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (r.isPlaceholder(i)) continue;
    if (!any) {
      lo = hi = r.azimuth[i];
      first = r.timestamp[i];
      any = true;
    }
    lo = std::min(lo, r.azimuth[i]);
    hi = std::max(hi, r.azimuth[i]);
    last = r.timestamp[i];
  }
  char line[256];
  std::snprintf(line, sizeof line,
                "revolution %llu: %zu points, azimuth %.2f..%.2f, time %llu..%llu, %llu lost on the wire\n", number, n,
                lo, hi, first, last, lost);
  return line;
}

struct ListenOptions {
  DecodeSettings settings;
  int port = kDefaultDataPort;
  int statusPort = 0;  // 0: the status port is not read
  std::string group;   // empty: no multicast group
  double seconds = 0;
};

ListenOptions listenOptions(const CommandLine& line) {
  ListenOptions o;
  o.settings = decodeSettings(line);
  if (o.settings.firstFrame != 1) throw UsageError("--frames: live revolutions are counted as N, not A:B");
  o.settings.source = sourceChoice(line);
  o.port = line.port("--port", kDefaultDataPort);
  if (line.has("--status-port")) o.statusPort = line.port("--status-port", kDefaultStatusPort);
  o.group = line.text("--multicast", "");
  o.seconds = line.seconds("--seconds");
  return o;
}

// The program's own live receiver set up for the options, its socket not yet
// open.
void setUpReceiver(GetlidarData_1& receiver, const ListenOptions& o, bool writingCsv) {
  receiver.port = o.port;
  receiver.multicastAddress = o.group;
  receiver.running = true;
  receiver.fixedReturnMode = o.settings.returnMode ? static_cast<int>(*o.settings.returnMode) : -1;
  receiver.chooseSensor(o.settings.source.sensor, o.settings.source.all);
  // The chosen layout is active from the first packet.
  receiver.pendingLayout = o.settings.layout;
  receiver.layout = o.settings.layout;
  // The CSV file needs every revolution, and a regular file or /dev/null
  // takes every line at once: the revolutions wait only for this thread,
  // which the machine (or the file's writer) may hold back for a while. The
  // queue still has a bound: what finds no room is counted, never left to
  // grow. Without either a stalled reader of stdout only costs the
  // revolutions it misses.
  if (writingCsv || stdoutKeepsUp()) receiver.maxRecordsInFlight = kInFlightKeepingUp;
}

// Ends the reception at the deadline or at a stop signal, from a thread of
// its own: this thread may be held by the CSV file's writer (a slow disk, a
// pipe read slowly) well past the end, and what the sensor sends after it is
// not the run's. The revolutions handed over by then are written when this
// thread comes back.
class ReceptionEnd {
 public:
  ReceptionEnd(GetlidarData_1& receiver, std::optional<Clock::time_point> deadline, const std::string& csvPath)
      : receiver_(receiver), deadline_(deadline), csvPath_(csvPath), thread_([this] { watch(); }) {}
  ~ReceptionEnd() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  void watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
      const Clock::time_point now = Clock::now();
      const bool timeUp = deadline_ && now >= *deadline_;
      if (timeUp || stopRequested) {
        receiver_.running = false;
        // The writing of the backlog may take a while: said, so that the
        // wait is not taken for a hang.
        if (!csvPath_.empty() && receiver_.recordsInFlight() > 0)
          std::fprintf(stderr, "z540k-tool listen: %s; writing the revolutions received until now to %s\n",
                       timeUp ? "the time is up" : interruptedText().c_str(), csvPath_.c_str());
        return;
      }
      Clock::time_point until = now + kStopSlice;
      if (deadline_) until = std::min(until, *deadline_);
      changed_.wait_until(lock, until, [this] { return done_; });
    }
  }

  GetlidarData_1& receiver_;
  const std::optional<Clock::time_point> deadline_;
  const std::string csvPath_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;  // last: started once the rest is set
};

// The end of --seconds, as a time point: any duration the option accepts.
std::optional<Clock::time_point> deadlineAfter(double seconds) {
  std::optional<Clock::time_point> deadline;
  if (seconds > 0)
    deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  return deadline;
}

// The revolutions of a run: taken (on stdout, and in the CSV file when there
// is one), and received but dropped at the hand-over before the last one
// asked for.
struct Revolutions {
  unsigned long long taken = 0;
  unsigned long long missed = 0;
};

// Runs the event loop with the receiver until `frames` revolutions (0: no
// limit), the deadline or a stop; each revolution goes to `output` and to
// `csv` when there is one. The receiver is stopped on return, and every
// revolution it handed over has been taken (up to `frames`).
Revolutions receiveRevolutions(QCoreApplication& app, GetlidarData_1& receiver, long long frames,
                               std::optional<Clock::time_point> deadline, StdoutLines& output, CsvFrameFile* csv,
                               const std::string& csvPath, const LiveSinks* sinks) {
  auto pastDeadline = [&] { return deadline && Clock::now() >= *deadline; };
  Revolutions r;
  unsigned long long droppedAnnounced = 0;
  unsigned long long lostBeforeRevolution = 0;  // arrives just before its revolution
  QObject::connect(&receiver, &GetlidarData_1::SendLostOnWire, &app,
                   [&](quint64 lost) { lostBeforeRevolution += lost; });
  auto enough = [&] { return frames > 0 && r.taken >= static_cast<unsigned long long>(frames); };
  // Dropped before the next revolution: missing from the run unless the
  // revolutions asked for are all taken already.
  QObject::connect(&receiver, &GetlidarData_1::SendRevolutionsDropped, &app, [&](quint64 dropped) {
    droppedAnnounced += dropped;
    if (!enough()) r.missed += dropped;
  });
  QObject::connect(&receiver, &GetlidarData_1::SendData, &app, [&](const LidarDataSingleLine& record) {
    // A CSV file that cannot be written ends the run at once; its close()
    // says why.
    if (enough() || (csv && csv->failed())) {
      app.quit();
      return;
    }
    ++r.taken;
    output.add(revolutionLine(r.taken, record, lostBeforeRevolution));
    lostBeforeRevolution = 0;
    if (csv) csv->writeFrame(record);
    if (sinks && sinks->revolution) sinks->revolution(record);
    if (enough() || (csv && csv->failed())) app.quit();
  });
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &app, [&] {
    output.flush();
    if (stopRequested || pastDeadline()) app.quit();
  });
  watch.start(kStopSlice.count());
  receiver.start();
  {
    const ReceptionEnd end(receiver, deadline, csvPath);
    app.exec();
  }
  receiver.stop();
  // The loop has ended: what it handed over is all posted, and is taken now.
  while (receiver.recordsInFlight() > 0) QCoreApplication::sendPostedEvents();
  // Dropped after the last one handed over: missing unless enough were taken.
  const unsigned long long trailing = receiver.recordsDropped() - droppedAnnounced;
  if (!enough()) r.missed += trailing;
  return r;
}

std::string summaryLine(const GetlidarData_1& receiver, const Revolutions& revolutions) {
  using ull = unsigned long long;
  const auto counts = receiver.datagramCounts();
  const quint64 received = counts.data + counts.status + counts.compact + counts.other + counts.anotherSensor;
  const GetlidarData_1::SensorView sensor = receiver.sensorView();
  char summary[480];
  std::snprintf(
      summary, sizeof summary,
      "datagrams: %llu data, %llu status, %llu compact, %llu other (%llu received); %llu revolutions; %u "
      "dropped by the kernel, %llu lost on the wire, %llu revolutions dropped while the output was behind; %s\n",
      static_cast<ull>(counts.data), static_cast<ull>(counts.status), static_cast<ull>(counts.compact),
      static_cast<ull>(counts.other), static_cast<ull>(received), revolutions.taken, receiver.kernelDrops(),
      static_cast<ull>(receiver.lostOnWire()), revolutions.missed,
      returnModeText(sensor.mode, sensor.basis, sensor.disagreeing).c_str());
  return summary;
}

// The revolution lines written out, then the summary on stderr (stdout holds
// the revolutions only), with the count of lines dropped there.
void writeSummary(StdoutLines& output, const std::string& summary) {
  output.flush();
  if (output.dropped() > 0)
    std::fprintf(stderr, "z540k-tool listen: %llu lines found no room on stdout in time and were dropped\n",
                 output.dropped());
  std::fprintf(stderr, "z540k-tool listen: %s", summary.c_str());
}

// The datagrams of sensors that were not decoded, on stderr. True when a
// second sensor sent without --source: its revolutions were not delivered.
bool reportOtherSensors(const GetlidarData_1& receiver, const SourceChoice& choice) {
  const GetlidarData_1::Sensors sensors = receiver.sensors();
  const quint64 others = receiver.datagramCounts().anotherSensor;
  if (others == 0) return false;
  const std::string decoded = sensors.chosen ? sensorAddressText(*sensors.chosen) : std::string("none");
  const std::string list = sourceListText(sensors.sources, "packets");
  if (choice.sensor) {
    std::fprintf(
        stderr,
        "z540k-tool listen: decoded %s only, as asked; %llu datagrams of other sensors passed over (heard: %s)\n",
        decoded.c_str(), static_cast<unsigned long long>(others), list.c_str());
    return false;
  }
  std::fprintf(stderr,
               "z540k-tool listen: %zu sensors sent to the port: %s; only %s was decoded, %llu datagrams of the "
               "others were not; choose one with --source IP[:PORT], or --source all\n",
               sensors.sources.size(), list.c_str(), decoded.c_str(), static_cast<unsigned long long>(others));
  return true;
}

}  // namespace

int listenCommand(const std::vector<std::string>& args, const LiveSinks* sinks) {
  std::set<std::string> valueOptions(std::begin(kDecodeOptionNames), std::end(kDecodeOptionNames));
  valueOptions.insert({"--port", "--status-port", "--multicast", "--seconds", "--csv", "--source"});
  const CommandLine line(args, valueOptions, {"--help"});
  if (line.has("--help")) {
    std::printf("%s%s%s", kHelp, kDecodeOptionsHelp, kSourceOptionHelp);
    return 0;
  }
  line.refusePositional();
  const ListenOptions o = listenOptions(line);

  std::unique_ptr<CsvFrameFile> csv;
  std::string error;
  if (line.has("--csv")) {
    if (line.text("--csv", "") == "-")
      throw UsageError("--csv -: stdout holds the revolution lines; name a file for the CSV");
    refuseOtherFormatName(line.text("--csv", ""));
    csv = std::make_unique<CsvFrameFile>(o.settings.csv, 0);
    if (!csv->open(line.text("--csv", ""), error)) {
      std::fprintf(stderr, "z540k-tool listen: %s\n", error.c_str());
      return 1;
    }
  }

  // The program's own live receiver, with its event loop.
  int argc = 1;
  char name[] = "z540k-tool";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  registerRecordMetaTypes();
  GetlidarData_1 receiver;
  setUpReceiver(receiver, o, csv != nullptr);
  receiver.openSocket();
  if (!receiver.socketError().isEmpty()) {
    std::fprintf(stderr, "z540k-tool listen: %s\n", receiver.socketError().toLocal8Bit().constData());
    return 1;
  }
  // The sensor's status on its own port: the echo mode it states.
  GetSet statusReceiver;
  if (o.statusPort) {
    // Connected before the start: its first packet is seen too.
    QObject::connect(&statusReceiver, &GetSet::SendLidarStatusToSettingUI, &app,
                     [&receiver](SettingData* record, const std::vector<int>& values) {
                       if (const auto echo = statusEchoMode(*record, values)) receiver.sensorEchoMode = *echo;
                     });
    if (sinks && sinks->status)
      QObject::connect(&statusReceiver, &GetSet::SendDataDifo, &app,
                       [sinks](const u_char* packet) { sinks->status(packet); });
    if (!statusReceiver.start(ReceiverSettings{o.statusPort, o.group})) {
      std::fprintf(stderr, "z540k-tool listen: status port: %s\n",
                   statusReceiver.socketError().toLocal8Bit().constData());
      return 1;
    }
  }
  if (sinks && sinks->settings) sinks->settings(o.settings);
  const std::optional<Clock::time_point> deadline = deadlineAfter(o.seconds);
  StdoutLines output(deadline, csv != nullptr);
  const std::string csvPath = line.text("--csv", "");
  const Revolutions revolutions =
      receiveRevolutions(app, receiver, o.settings.frames, deadline, output, csv.get(), csvPath, sinks);
  statusReceiver.stop();

  bool written = true;
  if (csv && !(written = csv->close(error))) std::fprintf(stderr, "z540k-tool listen: %s\n", error.c_str());
  writeSummary(output, summaryLine(receiver, revolutions));
  const std::string layout = layoutWarning(receiver.sensorView().layoutLook, o.settings.layout, "try --layout ");
  if (!layout.empty()) std::fprintf(stderr, "z540k-tool listen: %s\n", layout.c_str());
  // Revolutions the file could not keep up with are missing from it.
  const bool missing = csv && written && revolutions.missed > 0;
  if (missing)
    std::fprintf(stderr,
                 "z540k-tool listen: %llu of %llu revolutions received were not written to %s: they were dropped "
                 "while the file was behind\n",
                 revolutions.missed, revolutions.taken + revolutions.missed, csvPath.c_str());
  // Stopped before the revolutions asked for: the file keeps those taken, and
  // the exit code says that not all came.
  const bool cutShort = stoppedShort("listen", revolutions.taken, o.settings.frames, "revolutions");
  const bool othersRefused = reportOtherSensors(receiver, o.settings.source);
  if (!(written && !missing && !cutShort && !othersRefused)) return 1;
  const auto counts = receiver.datagramCounts();
  if (counts.data + counts.compact + counts.anotherSensor == 0) {
    std::fprintf(stderr, "z540k-tool listen: %s\n", nothingArrivedText("data packet", o.port, o.seconds).c_str());
    return kExitNothingReceived;
  }
  return 0;
}

}  // namespace z540k::cli
