// export-csv: every datagram of a capture that the live receiver would take
// (data packets, compact scan packets), decoded as live, each completed
// revolution written as the program's frame-by-frame CSV export writes it
// (the work itself is in CaptureExport).
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <set>

#include "CaptureExport.h"
#include "Commands.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool export-csv CAPTURE OUT.csv [options]\n"
    "\n"
    "Decodes every data packet (1206 bytes, FF EE) and compact scan packet (778 bytes, A2 5C) of a\n"
    "capture (pcap or pcapng) in file order and writes one CSV frame per completed revolution, FreamID\n"
    "counting from 1. The CSV is written beside OUT.csv and put in its place only when it is complete:\n"
    "a failed export leaves an existing OUT.csv as it was. A capture damaged part way, or changed on\n"
    "disk by another program while it is read, is exported up to that point (exit code 1); with no\n"
    "frame before it OUT.csv is left as it was. The summary counts the packets lost on the wire: those\n"
    "missing from the capture, told by the gaps in the sensor's azimuths. The packets of one sensor (its\n"
    "source address and port) are decoded: a capture of several is refused, listing them with their\n"
    "packets, unless --source picks one. CAPTURE - reads the capture from standard input (held in\n"
    "memory); OUT - writes the CSV to standard output. Data alone go to stdout; the summary, warnings\n"
    "and progress to stderr.\n"
    "\n"
    "options:\n";

// Shows how far a long read has come, with its rate and the time left, on a
// terminal only.
class Progress {
 public:
  Progress() : terminal_(isatty(STDERR_FILENO)), start_(std::chrono::steady_clock::now()) {}
  void update(std::uint64_t done, std::uint64_t total) {
    show_ = terminal_ && total > (64u << 20);
    if (!show_) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;  // bytes a second
    if (rate > 0)
      std::fprintf(stderr, "\r  reading: %3d%% at %.0f MB/s, %.0f s left   ", percent, rate / 1e6,
                   static_cast<double>(total - done) / rate);
    else
      std::fprintf(stderr, "\r  reading: %3d%%", percent);
  }
  void finish() {
    if (show_) std::fputs("\r                                                \r", stderr);
  }

 private:
  bool terminal_;
  std::chrono::steady_clock::time_point start_;
  bool show_ = false;
  int shown_ = -1;
};

}  // namespace

void refuseWritingOverCapture(const std::string& capturePath, const std::string& outPath) {
  // Writing over the capture would destroy it while it is read. Caught under
  // any name (another path, a link).
  struct stat in {
  }, target{};
  if (::stat(capturePath.c_str(), &in) == 0 && ::stat(outPath.c_str(), &target) == 0 && in.st_dev == target.st_dev &&
      in.st_ino == target.st_ino)
    throw UsageError(outPath + " is the capture " + capturePath + " itself; choose another output file");
}

void refuseOtherFormatName(const std::string& csvPath) {
  // A CSV under the name of another format would pass for that format.
  const auto dot = csvPath.find_last_of('.');
  if (dot == std::string::npos || csvPath.find('/', dot) != std::string::npos) return;
  std::string ext = csvPath.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* other : {"pcd", "ply", "pcap", "pcapng", "json"})
    if (ext == other)
      throw UsageError(csvPath + " names a ." + ext + " file, but CSV is written; name it .csv (export-cloud writes " +
                       "PCD and PLY)");
}

const char* const kQuietOptionHelp =
    "  --quiet                no progress line (shown only when stderr is a terminal, for large captures)\n";

int runCaptureExport(const char* command, const std::string& capturePath, const std::string& outPath, FrameFile& out,
                     const DecodeSettings& settings, bool quiet, const CaptureExportHooks* extra) {
  refuseWritingOverCapture(capturePath, outPath);

  CaptureExportHooks hooks = extra ? *extra : CaptureExportHooks{};
  Progress progress;
  if (!quiet) hooks.progress = [&progress](std::uint64_t done, std::uint64_t total) { progress.update(done, total); };
  const CaptureExportResult result = exportCapture(capturePath, outPath, out, settings, stopRequested, hooks);
  progress.finish();
  if (!result.warning.empty()) std::fprintf(stderr, "z540k-tool %s: %s\n", command, result.warning.c_str());
  if (!result.message.empty()) std::fprintf(stderr, "z540k-tool %s: %s\n", command, result.message.c_str());
  // Only the data go to stdout (an output of "-"): the summary is a diagnostic.
  if (!result.summary.empty()) std::fprintf(stderr, "z540k-tool %s: %s\n", command, result.summary.c_str());
  return result.exitCode;
}

int exportCsvCommand(const std::vector<std::string>& args) {
  std::set<std::string> valueOptions(std::begin(kDecodeOptionNames), std::end(kDecodeOptionNames));
  valueOptions.insert("--source");
  const CommandLine line(args, valueOptions, {"--help", "--quiet"});
  if (line.has("--help")) {
    std::printf("%s%s%s%s%s", kHelp, kDecodeOptionsHelp, kSourceOptionHelp, kFrameRangeHelp, kQuietOptionHelp);
    return 0;
  }
  if (line.positional().size() != 2) throw UsageError("needs CAPTURE and OUT.csv (see --help)");
  DecodeSettings settings = decodeSettings(line);
  settings.source = sourceChoice(line);
  const std::string& capturePath = line.positional()[0];
  const std::string& csvPath = line.positional()[1];
  refuseWritingOverCapture(capturePath, csvPath);
  refuseOtherFormatName(csvPath);
  CsvFrameFile csv(settings.csv, settings.frames);
  return runCaptureExport("export-csv", capturePath, csvPath, csv, settings, line.has("--quiet"));
}

}  // namespace z540k::cli
