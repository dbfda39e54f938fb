// record: the window's recorder without the window. The data port's traffic
// is captured with libpcap on one adapter into a pcap file until the time or
// the revolutions asked for, or a stop signal. The summary goes to stderr.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CaptureFile.h"
#include "Commands.h"
#include "RecordingSession.h"
#include "RevolutionIndex.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool record OUT.pcap [--seconds S | --frames N] [options]\n"
    "\n"
    "Records the data port's traffic as the window's Record does: libpcap on one network adapter, every\n"
    "packet of the port written to OUT.pcap with its capture time. Ends after --seconds, after\n"
    "--frames revolutions (counted as export-csv counts them in the file; a few packets after the last\n"
    "may be in it too), or at Ctrl+C; the file holds every packet captured until then. Packets the\n"
    "capture buffer or the adapter dropped are counted in the summary (exit code 1). Capturing needs\n"
    "the right to (root, or CAP_NET_RAW and CAP_NET_ADMIN on the program).\n"
    "\n"
    "options:\n"
    "  --seconds S            record for S seconds (default 0: until --frames or Ctrl+C)\n"
    "  --frames N             record until N revolutions are in the file\n"
    "  --port P               the data port recorded (default 2368)\n"
    "  --capture-device NAME  the adapter (default: $Z540K_CAPTURE_DEVICE, else as the window chooses)\n";

// Counts the revolutions in the growing pcap file the recorder writes: reads
// the whole records added since the last look.
class RecordedRevolutions {
 public:
  explicit RecordedRevolutions(std::string path) : path_(std::move(path)) {}

  std::size_t update() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return count();
    if (header_.empty()) {
      header_.resize(24);
      if (!in.read(reinterpret_cast<char*>(header_.data()), 24)) {
        header_.clear();
        return count();
      }
      offset_ = 24;
      // The magic a1b2c3d4 (or a1b23c4d) in little-endian order starts D4 (4D).
      swapped_ = !(header_[0] == 0xD4 || header_[0] == 0x4D);
    }
    in.seekg(static_cast<std::streamoff>(offset_));
    std::vector<std::uint8_t> bytes(header_);
    for (;;) {
      std::uint8_t h[16];
      if (!in.read(reinterpret_cast<char*>(h), 16)) break;
      const std::uint32_t captured =
          swapped_ ? (std::uint32_t{h[8]} << 24 | std::uint32_t{h[9]} << 16 | std::uint32_t{h[10]} << 8 | h[11])
                   : (std::uint32_t{h[11]} << 24 | std::uint32_t{h[10]} << 16 | std::uint32_t{h[9]} << 8 | h[8]);
      if (captured > (1u << 18)) break;
      std::vector<std::uint8_t> data(captured);
      if (!in.read(reinterpret_cast<char*>(data.data()), captured)) break;
      bytes.insert(bytes.end(), h, h + 16);
      bytes.insert(bytes.end(), data.begin(), data.end());
      offset_ += 16 + captured;
    }
    CaptureReader reader;
    if (bytes.size() > header_.size() && reader.openMemory(bytes.data(), bytes.size())) {
      CapturedDatagram d;
      while (reader.next(d))
        if (isDataPacket(d.payload, d.size)) index_.addPacket(d.payload);
    }
    return count();
  }
  std::size_t count() const { return index_.frameCount(returnFamilyOf(returnModeOf(index_.traits().arrangement()))); }

 private:
  std::string path_;
  std::vector<std::uint8_t> header_;
  std::uint64_t offset_ = 0;
  bool swapped_ = false;
  RevolutionIndex index_;
};

}  // namespace

int recordCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {"--seconds", "--frames", "--port", "--capture-device"}, {"--help"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (line.positional().size() != 1) throw UsageError("needs OUT.pcap (see --help)");
  const std::string& path = line.positional()[0];
  const double seconds = line.seconds("--seconds");
  const long long frames = line.count("--frames");
  const int port = line.port("--port", 2368);

  std::string device = line.text("--capture-device", "");
  if (device.empty()) {
    const char* const argv[] = {"z540k-tool"};
    device = namedCaptureDevice(1, argv);  // the environment's choice
  }
  RecordingSession recording;
  std::string reason;
  if (!recording.start(path, port, device, reason)) {
    std::fprintf(stderr, "z540k-tool record: %s\n", reason.c_str());
    return 1;
  }
  const CaptureRecorder& recorder = *recording.recorder();
  RecordedRevolutions revolutions(path);
  const auto start = std::chrono::steady_clock::now();
  std::size_t counted = 0;
  bool interrupted = false;
  while (recorder.isRunning()) {
    if (stopRequested) {
      interrupted = true;
      break;
    }
    if (seconds > 0 && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds)
      break;
    if (frames > 0 && recorder.isCapturing() && recorder.error().empty() &&
        (counted = revolutions.update()) >= static_cast<std::size_t>(frames))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!recording.stop(10000)) {
    std::fprintf(stderr, "z540k-tool record: the recording did not end within 10 s; %s holds what was written\n",
                 path.c_str());
    return 1;
  }
  counted = revolutions.update();
  const std::string error = recorder.error();
  if (!error.empty()) {
    std::fprintf(stderr, "z540k-tool record: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr,
               "recorded %llu packets (%zu revolutions) on %s to %s, %llu dropped by the capture buffer, %llu "
               "dropped by the adapter%s\n",
               static_cast<unsigned long long>(recorder.packetsWritten()), counted, recording.device().c_str(),
               path.c_str(), static_cast<unsigned long long>(recorder.packetsDropped()),
               static_cast<unsigned long long>(recorder.adapterDrops()),
               interrupted ? (", " + interruptedText()).c_str() : "");
  if (recorder.packetsWritten() == 0) {
    std::fprintf(stderr, "z540k-tool record: %s\n", nothingArrivedText("data packet", port, seconds).c_str());
    return kExitNothingReceived;
  }
  if (recorder.packetsDropped() > 0 || recorder.adapterDrops() > 0) return 1;
  if (interrupted && frames > 0 && counted < static_cast<std::size_t>(frames)) return 1;
  return 0;
}

}  // namespace z540k::cli
