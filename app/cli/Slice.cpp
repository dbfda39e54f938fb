// slice: some revolutions of a capture as a capture of their own (the work
// itself is in CaptureSlice). The summary goes to stderr.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "CaptureSlice.h"
#include "Commands.h"
#include "FileBeside.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool slice CAPTURE OUT (--frames A:B | --seconds A:B) [options]\n"
    "\n"
    "Copies the original records of some revolutions of a capture (pcap or pcapng) to OUT, byte for\n"
    "byte: the same format, link type and time stamps, every record between them kept (status\n"
    "packets, other datagrams). Frames count from 1 as export-csv counts them. A slice from frame A > 1\n"
    "starts with the last packets of frame A - 1, so that frame A decodes as in the whole capture:\n"
    "export-csv of the slice writes that part revolution first, then frames A to B exactly (export-csv\n"
    "OUT --frames 2: gives frames A to B alone). OUT is written beside its name and put in place when\n"
    "complete.\n"
    "\n"
    "options:\n"
    "  --frames N|A:B|A:      the first N frames, frames A to B (both included), or from A on\n"
    "  --seconds A:B          the revolutions that end from A to B seconds after the sensor's first data\n"
    "                         packet (A: for to the end)\n"
    "  --return-mode 0-3      the return mode whose revolutions are counted (default: as the data show)\n"
    "  --source IP[:PORT]     the sensor whose revolutions are cut, when the capture holds several\n";

void takeSecondsRange(const std::string& text, SliceRequest& request) {
  const auto colon = text.find(':');
  const auto number = [&text](const std::string& part, double& value) {
    char* end = nullptr;
    value = std::strtod(part.c_str(), &end);
    if (part.empty() || *end != '\0' || !(value >= 0) || value > CommandLine::kMaxSeconds)
      throw UsageError("--seconds: \"" + text + "\" is not A:B or A: (seconds, A not above B)");
  };
  if (colon == std::string::npos) throw UsageError("--seconds: \"" + text + "\" is not A:B or A:");
  number(text.substr(0, colon), request.fromSeconds);
  const std::string end = text.substr(colon + 1);
  request.toSeconds = 0;
  if (!end.empty()) number(end, request.toSeconds);
  if (!end.empty() && request.toSeconds < request.fromSeconds)
    throw UsageError("--seconds: \"" + text + "\" ends before it begins");
  request.bySeconds = true;
}

}  // namespace

int sliceCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {"--frames", "--seconds", "--return-mode", "--source"}, {"--help"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (line.positional().size() != 2) throw UsageError("needs CAPTURE and OUT (see --help)");
  if (line.has("--frames") == line.has("--seconds")) throw UsageError("needs --frames A:B or --seconds A:B");
  SliceRequest request;
  if (line.has("--frames")) takeFrameRange(line.text("--frames", ""), request.firstFrame, request.frames);
  if (line.has("--seconds")) takeSecondsRange(line.text("--seconds", ""), request);
  if (line.has("--return-mode")) request.returnMode = static_cast<ReturnMode>(line.integer("--return-mode", 0, 0, 3));
  request.source = sourceChoice(line).sensor;
  const std::string& inPath = line.positional()[0];
  const std::string& outPath = line.positional()[1];
  refuseWritingOverCapture(inPath, outPath);
  // Written beside OUT and put in its place when complete, as every file the
  // tool writes.
  FileBeside target;
  std::string error;
  const int fd = target.create(outPath, true, error);
  if (fd < 0) {
    std::fprintf(stderr, "z540k-tool slice: %s\n", error.c_str());
    return 1;
  }
  const SliceWrite write = [fd](const std::uint8_t* bytes, std::size_t size, std::string& reason) {
    const int failed = writeWhole(fd, reinterpret_cast<const char*>(bytes), size);
    if (failed != 0) reason = std::string("cannot write: ") + std::strerror(failed);
    return failed == 0;
  };
  SliceResult result;
  bool ok = sliceCapture(inPath, request, write, result, error, &stopRequested);
  if (stopRequested) error = interruptedText();
  if (ok && !target.inPlace() && ::fsync(fd) != 0) {
    error = std::string("cannot write: ") + std::strerror(errno);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = std::string("cannot write: ") + std::strerror(errno);
    ok = false;
  }
  if (!ok || !target.commit(error)) {
    const std::string note = target.unchangedNote();
    target.abandon();
    std::fprintf(stderr, "z540k-tool slice: %s%s\n", error.c_str(), note.c_str());
    return 1;
  }
  std::fprintf(stderr, "frames %lld to %lld of %lld (%llu data packets%s, %llu bytes) written to %s\n",
               result.firstFrame, result.lastFrame, result.framesInCapture,
               static_cast<unsigned long long>(result.dataPackets),
               result.leadIn ? ", led in by the end of the frame before" : "",
               static_cast<unsigned long long>(result.bytes), outPath.c_str());
  return 0;
}

}  // namespace z540k::cli
