// record: the window's recorder without the window. The data port's traffic
// is captured with libpcap on one adapter into a pcap file until the time or
// the revolutions asked for, or a stop signal. The summary goes to stderr.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "PacketFormat.h"
#include "RecordingSession.h"

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
  const int port = line.port("--port", kDefaultDataPort);

  std::string device = line.text("--capture-device", "");
  if (device.empty()) {
    const char* const argv[] = {"z540k-tool"};
    device = namedCaptureDevice(1, argv);  // the environment's choice
  }
  RecordingSession recording(/*countRevolutions=*/true);
  std::string reason;
  if (!recording.start(path, port, device, reason)) {
    std::fprintf(stderr, "z540k-tool record: %s\n", reason.c_str());
    return 1;
  }
  const CaptureRecorder& recorder = *recording.recorder();
  const auto start = std::chrono::steady_clock::now();
  const auto end =
      start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  const std::size_t wanted = frames > 0 ? static_cast<std::size_t>(frames) : 0;
  bool interrupted = false;
  // The wait ends as soon as the revolutions are in the file or the
  // recording ends; a stop signal cannot wake it, so it is looked at this
  // often.
  constexpr auto kStopCheck = std::chrono::milliseconds(100);
  while (recorder.isRunning()) {
    if (stopRequested) {
      interrupted = true;
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (seconds > 0 && now >= end) break;
    const auto until = seconds > 0 ? std::min(now + kStopCheck, end) : now + kStopCheck;
    if (recording.waitForRevolutions(wanted, until)) break;
  }
  if (!recording.stop(10000)) {
    std::fprintf(stderr, "z540k-tool record: the recording did not end within 10 s; %s holds what was written\n",
                 path.c_str());
    return 1;
  }
  const std::size_t counted = recording.revolutionsWritten();
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
