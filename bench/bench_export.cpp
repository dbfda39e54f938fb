// A capture exported as the headless tool exports it, against a peer on the
// same machine in alternating rounds (A, B, A, B ...) on the same capture,
// the capture in the page cache and every output synced to disk:
//
// - by default export-csv (the tool's defaults: layout 1.6, view mode 1)
//   against dd writing the same number of bytes (`dd if=/dev/zero of=F
//   bs=1M conv=fsync`, run as a child process). Printed per round and as
//   medians: wall, user and system time (the export's getrusage(RUSAGE_SELF)
//   deltas, every thread included; dd's from wait4); the export's system
//   time also split into the calling thread's, which reads the capture,
//   decodes and syncs at the end, and that of the CSV writer's threads,
//   which format and write; the speed ratio dd time / export time (the
//   goal: at least 0.5), the system time ratios export / dd (the goal: the
//   writer's at most 1.5), and the load average.
// - with --cloud, the tool itself (z540k-tool beside this program in the
//   build tree, or --tool PATH) run as child processes: export-csv, then
//   export-cloud in one form, for each of the ten forms (merged and one file
//   per frame; PCD binary, compressed, ASCII; PLY binary, ASCII), round after
//   round. The capture is decoded in the layout its data show (the return
//   arrangement the tool reads from the data itself), over the angle range
//   0..30 degrees by default (--angle-max: about 25 million of the 1 GB
//   capture's 288 million measurements, a 1.2 GB binary cloud). Printed per
//   run and as medians: wall and system time, peak memory (the child's
//   maxrss), the output's size, the load average, and the goals met or
//   MISSED: cloud time at most the CSV's, peak memory of one file per frame
//   flat (at most the CSV export's or 64 MiB), of a merged cloud at most
//   1.2 times its file.
//
// The capture: the 1 GB one bench_capture writes ($Z540K_BENCH_CAPTURE,
// default /tmp/z540k-bench-1g.pcap; 800,000 protocol 1.7 data packets, 19
// million CSV lines at the defaults), or any capture given with --capture
// (a smaller one for quick runs, e.g. `z540k-sim --write-pcap F --rate
// 100000 --seconds 2`).
//
// Run by hand: build/bench/bench_export [rounds, default 5] [--capture FILE]
// [--cloud | --bag [--angle-max DEG] [--tool PATH]] (--bag: export-bag alone, which --cloud adds to its
// forms when the tool has ROS). The outputs go beside the capture and are removed (and the
// removal synced) after each round; folders of one file per frame are set aside and removed at
// the end.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CaptureExport.h"
#include "CaptureFile.h"
#include "PacketFormat.h"
#include "SensorTraits.h"

using namespace z540k;
using namespace z540k::bench;

namespace {

std::string defaultCapture() {
  const char* configured = std::getenv("Z540K_BENCH_CAPTURE");
  return configured && *configured ? configured : "/tmp/z540k-bench-1g.pcap";
}

// Wall, user and system time of one round, in ms; for an export also the
// system time of the calling thread alone (reading the capture, decoding,
// the final sync), the rest being the CSV writer's threads (writing).
struct Times {
  double wall = 0, user = 0, system = 0, callerSystem = 0;
};

double ms(const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; }

class Stopwatch {
 public:
  Stopwatch() {
    ::getrusage(RUSAGE_SELF, &before_);
    ::getrusage(RUSAGE_THREAD, &beforeThread_);
    start_ = std::chrono::steady_clock::now();
  }
  Times elapsed() const {
    Times t;
    t.wall = msSince(start_);
    rusage after{}, afterThread{};
    ::getrusage(RUSAGE_SELF, &after);
    ::getrusage(RUSAGE_THREAD, &afterThread);
    t.user = ms(after.ru_utime) - ms(before_.ru_utime);
    t.system = ms(after.ru_stime) - ms(before_.ru_stime);
    t.callerSystem = ms(afterThread.ru_stime) - ms(beforeThread_.ru_stime);
    return t;
  }

 private:
  rusage before_{}, beforeThread_{};
  std::chrono::steady_clock::time_point start_;
};

// The output gone, and its blocks freed on disk, before the next round.
void removeSynced(const std::string& path) {
  std::remove(path.c_str());
  ::sync();
}

// One export into `out`; false on failure.
bool exportRound(const std::string& capture, const std::string& path, FrameFile& out,
                 const cli::DecodeSettings& settings, Times& times, std::uint64_t& bytes) {
  const std::atomic<bool> stop{false};
  const Stopwatch watch;
  const cli::CaptureExportResult result = cli::exportCapture(capture, path, out, settings, stop);
  times = watch.elapsed();
  struct stat s {};
  bytes = ::stat(path.c_str(), &s) == 0 ? static_cast<std::uint64_t>(s.st_size) : 0;
  removeSynced(path);
  if (result.exitCode != 0) std::fprintf(stderr, "%s\n", result.message.c_str());
  return result.exitCode == 0;
}

// dd itself, writing `bytes` bytes into `path`: `dd if=/dev/zero of=PATH
// bs=1M count=BYTES iflag=count_bytes conv=fsync`, its times those of the
// child process (wait4). False on failure.
bool ddRound(const std::string& path, std::uint64_t bytes, Times& times) {
  const std::string of = "of=" + path, count = "count=" + std::to_string(bytes);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::execlp("dd", "dd", "if=/dev/zero", of.c_str(), "bs=1M", count.c_str(), "iflag=count_bytes", "conv=fsync",
             "status=none", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  const bool ok =
      child > 0 && ::wait4(child, &status, 0, &usage) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  times.wall = msSince(start);
  times.user = ms(usage.ru_utime);
  times.system = ms(usage.ru_stime);
  times.callerSystem = times.system;
  if (!ok) std::fprintf(stderr, "dd into %s failed\n", path.c_str());
  removeSynced(path);
  return ok;
}

Times medians(const std::vector<Times>& rounds) {
  std::vector<double> wall, user, system, caller;
  for (const Times& t : rounds) {
    wall.push_back(t.wall);
    user.push_back(t.user);
    system.push_back(t.system);
    caller.push_back(t.callerSystem);
  }
  return Times{median(wall), median(user), median(system), median(caller)};
}

int csvAgainstDd(const std::string& capture, int rounds) {
  const cli::DecodeSettings settings;  // the tool's defaults
  std::vector<Times> csv, dd;
  std::uint64_t bytes = 0, lines = 0;
  for (int round = 1; round <= rounds; ++round) {
    CsvFrameFile file(settings.csv, 0);
    Times a, b;
    if (!exportRound(capture, capture + ".bench.csv", file, settings, a, bytes)) return 1;
    lines = file.rows();
    if (!ddRound(capture + ".bench.dd", bytes, b)) return 1;
    csv.push_back(a);
    dd.push_back(b);
    std::printf(
        "  round %d: export-csv %6.0f ms (user %5.0f, sys %4.0f: reading %4.0f, writer %4.0f)   dd %5.0f ms "
        "(user %2.0f, sys %4.0f)   load average %s\n",
        round, a.wall, a.user, a.system, a.callerSystem, a.system - a.callerSystem, b.wall, b.user, b.system,
        loadAverage().c_str());
  }
  const Times a = medians(csv), b = medians(dd);
  std::printf(
      "export-csv, %llu lines, %.0f MB: %.0f ms wall, %.0f ms user, %.0f ms sys (the calling thread's %.0f, "
      "the writer's threads' %.0f)\n",
      static_cast<unsigned long long>(lines), static_cast<double>(bytes) / 1e6, a.wall, a.user, a.system,
      a.callerSystem, a.system - a.callerSystem);
  std::printf("dd bs=1M conv=fsync, the same bytes: %.0f ms wall, %.0f ms user, %.0f ms sys\n", b.wall, b.user,
              b.system);
  std::printf(
      "speed export-csv / dd %.2f (goal >= 0.5); sys export-csv / dd %.2f, the writer's threads' / dd %.2f "
      "(goal <= 1.5)  (medians of %d rounds)\n",
      b.wall / a.wall, a.system / b.system, (a.system - a.callerSystem) / b.system, rounds);
  return 0;
}

// The layout and return arrangement the capture's data packets show (its
// first 20,000), as the tool's warning judges them.
struct CaptureLook {
  Layout layout = Layout::Protocol16;
  std::string arrangement = "unknown";
};
CaptureLook lookAt(const std::string& capture) {
  CaptureLook look;
  CaptureReader reader;
  if (!reader.open(capture)) return look;
  DataPacketTraits traits;
  CapturedDatagram d;
  while (traits.packets() < 20000 && reader.next(d))
    if (classifyDatagram(d.payload, d.size) == DatagramKind::DataPacket) traits.addPacket(d.payload);
  if (const auto layout = traits.layoutLook()) look.layout = *layout;
  const ReturnArrangement a = traits.arrangement();
  look.arrangement = a == ReturnArrangement::Dual     ? "dual return"
                     : a == ReturnArrangement::Single ? "single return"
                                                      : "unknown";
  return look;
}

// One run of the tool as a child process: its wall time, CPU time and peak
// resident memory (wait4), and the size of what it wrote (a file, or a
// folder's files). The output is removed, and the removal synced.
struct ToolRound {
  bool ok = false;
  double wall = 0, user = 0, system = 0;
  double peakMb = 0, outputMb = 0;
};

double outputBytes(const std::string& path) {
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0) return 0;
  if (!S_ISDIR(s.st_mode)) return static_cast<double>(s.st_size);
  double total = 0;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* e = ::readdir(dir))
      if (e->d_name[0] != '.' && ::stat((path + "/" + e->d_name).c_str(), &s) == 0)
        total += static_cast<double>(s.st_size);
    ::closedir(dir);
  }
  return total;
}

void removeFolder(const std::string& path) {
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* e = ::readdir(dir))
      if (e->d_name[0] != '.') std::remove((path + "/" + e->d_name).c_str());
    ::closedir(dir);
  }
  ::rmdir(path.c_str());
}

// Folders of one file per frame are kept aside until the run ends: ext4
// scans past the inodes of files deleted in the last half minute when it
// creates new ones, so deleting one round's 26,000 files made the next
// round's export spend seconds in the kernel (recently_deleted), a cost of
// the benchmark, not of the export.
std::vector<std::string>& keptFolders() {
  static std::vector<std::string> kept;
  return kept;
}

void removeKeptFolders() {
  for (const std::string& path : keptFolders()) removeFolder(path);
  keptFolders().clear();
  ::sync();
}

void removeOutput(const std::string& path) {
  struct stat s {};
  if (::stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode)) {
    const std::string aside = path + ".kept" + std::to_string(keptFolders().size());
    if (::rename(path.c_str(), aside.c_str()) == 0)
      keptFolders().push_back(aside);
    else
      removeFolder(path);
  } else {
    std::remove(path.c_str());
  }
  ::sync();
}

ToolRound runTool(const std::vector<std::string>& args, const std::string& output) {
  ToolRound round;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const int quiet = ::open("/dev/null", O_WRONLY);
    if (quiet >= 0) ::dup2(quiet, 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  round.ok = child > 0 && ::wait4(child, &status, 0, &usage) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  round.wall = msSince(start);
  round.user = ms(usage.ru_utime);
  round.system = ms(usage.ru_stime);
  round.peakMb = static_cast<double>(usage.ru_maxrss) / 1024;
  round.outputMb = outputBytes(output) / (1 << 20);
  removeOutput(output);
  if (!round.ok) std::fprintf(stderr, "%s %s failed (status %d)\n", args[0].c_str(), args[1].c_str(), status);
  return round;
}

// The tool beside this program in the build tree, or the one given.
std::string toolBesideUs() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "z540k-tool";
  std::string path(self, static_cast<std::size_t>(n));
  path = path.substr(0, path.rfind('/'));  // build/bench
  return path.substr(0, path.rfind('/')) + "/app/cli/z540k-tool";
}

struct CloudForm {
  const char* name;
  std::vector<std::string> options;
  const char* output;  // beside the capture
  bool merged;
  const char* command = "export-cloud";
};

// export-csv against export-cloud in every form, each pair of runs side by
// side (csv, form, csv, form ...), the tool run as the operator runs it.
int csvAgainstCloud(const std::string& capture, int rounds, const std::string& tool, double angleMax, bool bagOnly) {
  const CaptureLook look = lookAt(capture);
  const std::string layout = look.layout == Layout::Protocol17 ? "1.7" : "1.6";
  char range[32];
  std::snprintf(range, sizeof range, "%g", angleMax);
  const std::vector<std::string> decode = {"--layout", layout, "--angle-max", range};
  std::printf("the capture's data: layout %s, %s; decoded with --layout %s --angle-max %s\n", layout.c_str(),
              look.arrangement.c_str(), layout.c_str(), range);
  std::vector<CloudForm> forms = {
      {"merged PCD binary", {"--merge", "--binary"}, ".bench.pcd", true},
      {"merged PCD compressed", {"--merge", "--compressed"}, ".bench.pcd", true},
      {"merged PCD ASCII", {"--merge", "--ascii"}, ".bench.pcd", true},
      {"merged PLY binary", {"--merge", "--binary"}, ".bench.ply", true},
      {"merged PLY ASCII", {"--merge", "--ascii"}, ".bench.ply", true},
      {"per frame PCD binary", {"--binary"}, ".bench.frames", false},
      {"per frame PCD compressed", {"--compressed"}, ".bench.frames", false},
      {"per frame PCD ASCII", {"--ascii"}, ".bench.frames", false},
      {"per frame PLY binary", {"--format", "ply", "--binary"}, ".bench.frames", false},
      {"per frame PLY ASCII", {"--format", "ply", "--ascii"}, ".bench.frames", false},
  };
  // export-bag (LaserScans and point clouds) when the tool has ROS; with
  // --bag alone.
  const CloudForm bag = {"ROS bag, scans and clouds", {"--cloud-topic", "cloud"}, ".bench.bag", true, "export-bag"};
  const bool withRos = std::system((tool + " export-bag --help >/dev/null 2>&1").c_str()) == 0;
  if (bagOnly && !withRos) {
    std::fprintf(stderr, "%s was built without ROS: no export-bag to measure\n", tool.c_str());
    return 1;
  }
  if (bagOnly) forms.clear();
  if (withRos) forms.push_back(bag);
  struct Figures {
    std::vector<double> csvMs, cloudMs, ratio, csvPeak, cloudPeak, output, load;
  };
  std::vector<Figures> figures(forms.size());
  auto load1 = [] { return std::atof(loadAverage().c_str()); };
  for (int round = 1; round <= rounds; ++round) {
    for (std::size_t f = 0; f < forms.size(); ++f) {
      std::vector<std::string> csvArgs = {tool, "export-csv", capture, capture + ".bench.csv"};
      csvArgs.insert(csvArgs.end(), decode.begin(), decode.end());
      const std::string out = capture + forms[f].output;
      std::vector<std::string> cloudArgs = {tool, forms[f].command, capture, out};
      cloudArgs.insert(cloudArgs.end(), forms[f].options.begin(), forms[f].options.end());
      cloudArgs.insert(cloudArgs.end(), decode.begin(), decode.end());
      const double loadBefore = load1();
      const ToolRound a = runTool(csvArgs, capture + ".bench.csv");
      const ToolRound b = runTool(cloudArgs, out);
      if (!a.ok || !b.ok) return 1;
      Figures& fig = figures[f];
      fig.csvMs.push_back(a.wall);
      fig.cloudMs.push_back(b.wall);
      fig.ratio.push_back(b.wall / a.wall);
      fig.csvPeak.push_back(a.peakMb);
      fig.cloudPeak.push_back(b.peakMb);
      fig.output.push_back(b.outputMb);
      fig.load.push_back((loadBefore + load1()) / 2);
      std::printf(
          "  round %d %-24s csv %6.0f ms (sys %5.0f, %4.0f MB)  cloud %6.0f ms (sys %5.0f, %5.0f MB peak, %5.0f MB "
          "out)  cloud/csv %.2f  load %s\n",
          round, forms[f].name, a.wall, a.system, a.peakMb, b.wall, b.system, b.peakMb, b.outputMb, b.wall / a.wall,
          loadAverage().c_str());
    }
  }
  // Memory: one file per frame holds a frame's points whatever the capture's
  // length (the CSV export's peak, or 64 MiB, at most); a merged cloud at
  // most 1.2 times the file it writes (or the CSV export's peak, the
  // program's own, when that is more).
  int missed = 0;
  std::printf("\nmedians of %d rounds, each export-cloud form run right after an export-csv:\n", rounds);
  for (std::size_t f = 0; f < forms.size(); ++f) {
    const Figures& fig = figures[f];
    const double ratio = median(fig.ratio), peak = median(fig.cloudPeak), output = median(fig.output);
    const double csvPeak = median(fig.csvPeak);
    const bool fast = ratio <= 1.0;
    const double memoryBound = forms[f].merged ? std::max(1.2 * output, csvPeak) : std::max(csvPeak, 64.0);
    const bool small = peak <= memoryBound;
    missed += !fast + !small;
    std::printf(
        "%-24s csv %6.0f ms  cloud %6.0f ms  cloud/csv %.2f %s  peak %5.0f MB (bound %5.0f MB: %s)  output "
        "%5.0f MB  load %.2f\n",
        forms[f].name, median(fig.csvMs), median(fig.cloudMs), ratio, fast ? "(goal <= 1.0 met)" : "GOAL <= 1.0 MISSED",
        peak, memoryBound, small ? "met" : "MISSED", output, median(fig.load));
  }
  std::printf(missed ? "%d goals missed\n" : "every goal met\n", missed);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A line at a time, also into a file: a long run shows its rounds as they end.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int rounds = 5;
  bool cloud = false, bagOnly = false;
  std::string tool = toolBesideUs();
  double angleMax = 30;
  std::string capture = defaultCapture();
  bool given = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--cloud") == 0) {
      cloud = true;
    } else if (std::strcmp(argv[i], "--bag") == 0) {
      cloud = bagOnly = true;
    } else if (std::strcmp(argv[i], "--tool") == 0 && i + 1 < argc) {
      tool = argv[++i];
    } else if (std::strcmp(argv[i], "--angle-max") == 0 && i + 1 < argc) {
      angleMax = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--capture") == 0 && i + 1 < argc) {
      capture = argv[++i];
      given = true;
    } else if (std::atoi(argv[i]) > 0) {
      rounds = std::atoi(argv[i]);
    } else {
      std::fprintf(stderr,
                   "usage: bench_export [rounds] [--capture FILE] [--cloud | --bag [--angle-max DEG] [--tool PATH]]\n");
      return 2;
    }
  }
  struct stat s {};
  if (::stat(capture.c_str(), &s) != 0 || (!given && s.st_size < (900 << 20))) {
    std::fprintf(stderr, "no capture of about 1 GB at %s: run bench_capture first (or give --capture FILE)\n",
                 capture.c_str());
    return 1;
  }
  warmPageCache(capture);
  std::printf("%s, %.2f GB; load average before: %s\n", capture.c_str(), static_cast<double>(s.st_size) / 1e9,
              loadAverage().c_str());
  const int code = cloud ? csvAgainstCloud(capture, rounds, tool, angleMax, bagOnly) : csvAgainstDd(capture, rounds);
  removeKeptFolders();
  std::printf("load average after: %s\n", loadAverage().c_str());
  return code;
}
