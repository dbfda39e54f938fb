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
// - with --cloud, export-csv against one merged binary PCD (export-cloud
//   --merge --binary), in two decodings: the tool's defaults, and layout 1.7
//   with the angle range 0..30 degrees (about 24 million of the 1 GB
//   capture's 288 million measurements). The goal: the cloud takes at most
//   the CSV's time.
//
// The capture: the 1 GB one bench_capture writes ($Z540K_BENCH_CAPTURE,
// default /tmp/z540k-bench-1g.pcap; 800,000 protocol 1.7 data packets, 19
// million CSV lines at the defaults), or any capture given with --capture
// (a smaller one for quick runs, e.g. `z540k-sim --write-pcap F --rate
// 100000 --seconds 2`).
//
// Run by hand: build/bench/bench_export [rounds, default 5] [--capture FILE]
// [--cloud]. The outputs go beside the capture and are removed (and the
// removal synced) after each round.
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
#include "CloudFrameFile.h"

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

int csvAgainstCloud(const std::string& capture, int rounds) {
  struct Decoding {
    const char* name;
    cli::DecodeSettings settings;
  };
  std::vector<Decoding> decodings(2);
  decodings[0].name = "defaults (layout 1.6)";
  decodings[1].name = "layout 1.7, 0..30 deg";
  decodings[1].settings.layout = decodings[1].settings.csv.layout = Layout::Protocol17;
  decodings[1].settings.csv.angleMax = 30;
  for (const Decoding& d : decodings) {
    std::vector<double> csvMs, cloudMs;
    std::uint64_t rows = 0, points = 0, bytes = 0;
    for (int round = 1; round <= rounds; ++round) {
      Times a, b;
      CsvFrameFile csv(d.settings.csv, 0);
      if (!exportRound(capture, capture + ".bench.csv", csv, d.settings, a, bytes)) return 1;
      CloudFrameFile cloud(d.settings.csv, 0, CloudFileOptions{CloudFormat::Pcd, CloudEncoding::Binary, true});
      if (!exportRound(capture, capture + ".bench.pcd", cloud, d.settings, b, bytes)) return 1;
      rows = csv.rows();
      points = cloud.rows();
      csvMs.push_back(a.wall);
      cloudMs.push_back(b.wall);
      std::printf("  round %d: csv %.0f ms, cloud %.0f ms; load average %s\n", round, a.wall, b.wall,
                  loadAverage().c_str());
    }
    const double a = median(csvMs), b = median(cloudMs);
    std::printf(
        "%-22s export-csv %8.0f ms (%llu lines)  export-cloud --merge --binary %8.0f ms (%llu points)  "
        "cloud/csv %.2f  (medians of %d rounds)\n",
        d.name, a, static_cast<unsigned long long>(rows), b, static_cast<unsigned long long>(points), b / a, rounds);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  bool cloud = false;
  std::string capture = defaultCapture();
  bool given = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--cloud") == 0) {
      cloud = true;
    } else if (std::strcmp(argv[i], "--capture") == 0 && i + 1 < argc) {
      capture = argv[++i];
      given = true;
    } else if (std::atoi(argv[i]) > 0) {
      rounds = std::atoi(argv[i]);
    } else {
      std::fprintf(stderr, "usage: bench_export [rounds] [--capture FILE] [--cloud]\n");
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
  const int code = cloud ? csvAgainstCloud(capture, rounds) : csvAgainstDd(capture, rounds);
  std::printf("load average after: %s\n", loadAverage().c_str());
  return code;
}
