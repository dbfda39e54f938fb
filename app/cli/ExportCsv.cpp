// export-csv: every datagram of a capture that the live receiver would take
// (data packets, compact scan packets), decoded as live, each completed
// revolution written as the program's frame-by-frame CSV export writes it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "CaptureFile.h"
#include "Commands.h"
#include "CsvFrameFile.h"
#include "DataPacketDecoder.h"
#include "PacketFormat.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool export-csv CAPTURE OUT.csv [options]\n"
    "\n"
    "Decodes every data packet (1206 bytes, FF EE) and compact scan packet (778 bytes, A2 5C) of a pcap\n"
    "capture in file order and writes one CSV frame per completed revolution, FreamID counting from 1.\n"
    "The CSV is written beside OUT.csv and put in its place only when it is complete: a failed export\n"
    "leaves an existing OUT.csv as it was. A capture damaged part way is exported up to the damage\n"
    "(exit code 1); with no frame before the damage OUT.csv is left as it was.\n"
    "\n"
    "options:\n";

// Shows how far a long read has come, on a terminal only.
class Progress {
 public:
  explicit Progress(std::uint64_t total) : show_(isatty(STDERR_FILENO) && total > (64u << 20)), total_(total) {}
  void update(std::uint64_t done) {
    if (!show_) return;
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent != shown_) {
      shown_ = percent;
      std::fprintf(stderr, "\r  reading: %3d%%", percent);
    }
  }
  void finish() {
    if (show_) std::fputs("\r               \r", stderr);
  }

 private:
  bool show_;
  std::uint64_t total_;
  int shown_ = -1;
};

}  // namespace

int exportCsvCommand(const std::vector<std::string>& args) {
  std::set<std::string> valueOptions(std::begin(kDecodeOptionNames), std::end(kDecodeOptionNames));
  const CommandLine line(args, valueOptions, {"--help"});
  if (line.has("--help")) {
    std::printf("%s%s  --frames N             stop after N frames (default 0: every frame)\n", kHelp,
                kDecodeOptionsHelp);
    return 0;
  }
  if (line.positional().size() != 2) throw UsageError("needs CAPTURE and OUT.csv (see --help)");
  const DecodeSettings settings = decodeSettings(line);
  const std::string& capturePath = line.positional()[0];
  const std::string& csvPath = line.positional()[1];
  // The capture is read through a mapping: writing over it would destroy it
  // and fault the reading. Caught under any name (another path, a link).
  struct stat in {}, out {};
  if (::stat(capturePath.c_str(), &in) == 0 && ::stat(csvPath.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino)
    throw UsageError(csvPath + " is the capture " + capturePath + " itself; choose another output file");

  CaptureReader reader;
  if (!reader.open(capturePath)) {
    std::fprintf(stderr, "z540k-tool export-csv: %s\n", reader.error().c_str());
    return 1;
  }
  CsvFrameFile csv(settings.csv, settings.frames);
  std::string error;
  if (!csv.open(csvPath, error)) {
    std::fprintf(stderr, "z540k-tool export-csv: %s\n", error.c_str());
    return 1;
  }

  DataPacketDecoder decoder([&csv](const LidarDataSingleLine& record) { csv.writeFrame(record); });
  decoder.setLayout(settings.layout);
  decoder.setReturnMode(settings.returnMode);

  Progress progress(reader.fileSize());
  std::uint64_t dataPackets = 0, compactPackets = 0, datagrams = 0;
  CapturedDatagram d;
  while (!csv.complete() && !stopRequested && reader.next(d)) {
    ++datagrams;
    if (decoder.decodeDataPacket(d.payload, d.size))
      ++dataPackets;
    else if (decoder.decodeCompactScanPacket(d.payload, d.size))
      ++compactPackets;
    if ((datagrams & 0xFFF) == 0) progress.update(reader.bytesRead());
  }
  progress.finish();

  if (stopRequested) {
    csv.discard();
    std::fprintf(stderr, "z540k-tool export-csv: interrupted; %s was left unchanged\n", csvPath.c_str());
    return 1;
  }
  // A damaged capture still gives the frames of the records before the
  // damage, written in place of the target, but the run is not a success.
  // With no frame before the damage there is nothing to keep: the target
  // stays as it was.
  const bool whole = reader.damage().empty();
  if (!whole && csv.frames() == 0) {
    csv.discard();
    std::fprintf(stderr, "z540k-tool export-csv: %s; no frame before it, %s was left unchanged\n",
                 reader.damage().c_str(), csvPath.c_str());
    return 1;
  }
  if (!csv.close(error)) {
    std::fprintf(stderr, "z540k-tool export-csv: %s\n", error.c_str());
    return 1;
  }
  if (!whole)
    std::fprintf(stderr, "z540k-tool export-csv: %s; the %lld frames before it were exported\n",
                 reader.damage().c_str(), csv.frames());
  std::printf("read %llu packets (%llu data, %llu compact), wrote %lld frames, %llu lines to %s\n",
              static_cast<unsigned long long>(dataPackets + compactPackets),
              static_cast<unsigned long long>(dataPackets), static_cast<unsigned long long>(compactPackets),
              csv.frames(), static_cast<unsigned long long>(csv.lines()), csvPath.c_str());
  return whole ? 0 : 1;
}

}  // namespace z540k::cli
