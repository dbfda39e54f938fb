// A capture of about 1 GB exported as the headless tool exports it: to CSV
// (export-csv) against one merged binary PCD (export-cloud --merge
// --binary), in alternating rounds (CSV, cloud, CSV, cloud ...) on the same
// capture so both see the same machine, the capture in the page cache and
// each output synced to disk as the tool does. Printed: the medians, their
// ratio (the goal: the cloud takes at most the CSV's time), the load average.
//
// Two decodings of the capture bench_capture writes (protocol 1.7 packets,
// 800,000 of them): the tool's defaults (layout 1.6, 24 measurements a
// packet, 19 million rows), and the capture's own layout 1.7 with the
// angle range 0..30 degrees (about 24 million of its 288 million
// measurements; all of them would make a merged cloud of 14 GB).
//
// Run by hand: build/bench/bench_export [rounds, default 3] (after
// build/bench/bench_capture has written $Z540K_BENCH_CAPTURE, default
// /tmp/z540k-bench-1g.pcap). The outputs go beside the capture and are
// removed after each round.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CaptureExport.h"
#include "CloudFrameFile.h"

using namespace z540k;
using namespace z540k::bench;

namespace {

std::string capturePath() {
  const char* configured = std::getenv("Z540K_BENCH_CAPTURE");
  return configured && *configured ? configured : "/tmp/z540k-bench-1g.pcap";
}

struct Decoding {
  const char* name;
  cli::DecodeSettings settings;
};

// One export into `out`; its time in ms, or a negative number on failure.
double exportRound(const std::string& capture, const std::string& path, FrameFile& out,
                   const cli::DecodeSettings& settings, std::uint64_t& rows) {
  const std::atomic<bool> stop{false};
  const auto start = std::chrono::steady_clock::now();
  const cli::CaptureExportResult result = cli::exportCapture(capture, path, out, settings, stop);
  const double ms = msSince(start);
  std::remove(path.c_str());
  if (result.exitCode != 0) {
    std::fprintf(stderr, "%s\n", result.message.c_str());
    return -1;
  }
  rows = out.rows();
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string capture = capturePath();
  struct stat s {};
  if (::stat(capture.c_str(), &s) != 0 || s.st_size < (900 << 20)) {
    std::fprintf(stderr, "no capture of about 1 GB at %s: run bench_capture first\n", capture.c_str());
    return 1;
  }
  std::vector<Decoding> decodings(2);
  decodings[0].name = "defaults (layout 1.6)";
  decodings[1].name = "layout 1.7, 0..30 deg";
  decodings[1].settings.layout = decodings[1].settings.csv.layout = 1;
  decodings[1].settings.csv.angleMax = 30;

  warmPageCache(capture);
  std::printf("%s, %.2f GB; load average before: %s\n", capture.c_str(), static_cast<double>(s.st_size) / 1e9,
              loadAverage().c_str());
  for (const Decoding& d : decodings) {
    std::vector<double> csvMs, cloudMs;
    std::uint64_t rows = 0, points = 0;
    for (int round = 0; round < rounds; ++round) {
      CsvFrameFile csv(d.settings.csv, 0);
      const double a = exportRound(capture, capture + ".bench.csv", csv, d.settings, rows);
      CloudFrameFile cloud(d.settings.csv, 0, CloudFileOptions{CloudFormat::Pcd, CloudEncoding::Binary, true});
      const double b = exportRound(capture, capture + ".bench.pcd", cloud, d.settings, points);
      if (a < 0 || b < 0) return 1;
      csvMs.push_back(a);
      cloudMs.push_back(b);
      std::printf("  round %d: csv %.0f ms, cloud %.0f ms; load average %s\n", round + 1, a, b, loadAverage().c_str());
    }
    const double a = median(csvMs), b = median(cloudMs);
    std::printf("%-22s export-csv %8.0f ms (%llu lines)  export-cloud --merge --binary %8.0f ms (%llu points)  "
                "cloud/csv %.2f  (medians of %d rounds)\n",
                d.name, a, static_cast<unsigned long long>(rows), b, static_cast<unsigned long long>(points), b / a,
                rounds);
  }
  std::printf("load average after: %s\n", loadAverage().c_str());
  return 0;
}
