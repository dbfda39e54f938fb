#include "CaptureSlice.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "RevolutionIndex.h"
#include "SensorTraits.h"

namespace z540k {

namespace {

struct KeptRecord {
  std::uint64_t start = 0, end = 0;
  std::uint64_t describing = 0;  // pcapng blocks describing sections and interfaces before it
  double seconds = 0;            // capture time
};

// Packets of frame A - 1 read before the one where frame A begins, so that
// the decoder's revolution closing there carries into frame A as in the
// whole capture.
constexpr std::size_t kSectionLengthOffset = 16;  // in a pcapng section header block

constexpr std::uint64_t kLeadInPackets = 10;  // over 100 measurements in every layout

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Copies bytes [from, to) of the capture to `write`. A pcapng file's section
// header, at the start, gets the section length -1 ("not given", in either
// byte order): the slice's section is shorter.
bool copyBytes(std::FILE* in, const SliceWrite& write, std::uint64_t from, std::uint64_t to, bool pcapng,
               const std::atomic<bool>* stop, std::string& error) {
  if (fseeko(in, static_cast<off_t>(from), SEEK_SET) != 0) {
    error = std::string("cannot seek in the capture: ") + std::strerror(errno);
    return false;
  }
  std::vector<std::uint8_t> buffer(1 << 20);
  while (from < to) {
    if (stop && *stop) {
      error = "interrupted";
      return false;
    }
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - from));
    if (std::fread(buffer.data(), 1, n, in) != n) {
      error = "the capture changed on disk after it was read";
      return false;
    }
    if (pcapng && from == 0 && n >= kSectionLengthOffset + 8)
      std::memset(buffer.data() + kSectionLengthOffset, 0xFF, 8);
    if (!write(buffer.data(), n, error)) return false;
    from += n;
  }
  return true;
}

}  // namespace

bool sliceCapture(const std::string& inPath, const SliceRequest& request, const SliceWrite& write, SliceResult& result,
                  std::string& error, const std::atomic<bool>* stop) {
  result = SliceResult{};
  CaptureReader reader;
  if (!reader.open(inPath)) {
    error = reader.error();
    return false;
  }
  SensorSources sources;
  if (request.source) sources.pin(*request.source);
  std::vector<KeptRecord> packets;  // the chosen sensor's data packets
  RevolutionIndex index;
  std::uint64_t firstRecord = 0;
  bool any = false;
  CapturedDatagram d;
  while (reader.next(d)) {
    if (stop && *stop) {
      error = "interrupted";
      return false;
    }
    if (!any) {
      firstRecord = d.recordStart;
      any = true;
    }
    if (classifyDatagram(d.payload, d.size) != DatagramKind::DataPacket) continue;
    if (!sources.note({d.sourceIp, d.sourcePort})) {
      if (sources.pinned()) continue;
      error = inPath + " holds the data packets of several sensors: " + sourceListText(sources.sources(), "packets") +
              "; choose one with --source IP[:PORT]";
      return false;
    }
    index.addPacket(d.payload);
    packets.push_back(
        {d.recordStart, d.recordEnd, reader.describingBlocks(), static_cast<double>(d.seconds) + d.microseconds / 1e6});
  }
  if (!reader.damage().empty()) {
    error = reader.damage() + "; slicing needs a whole capture";
    return false;
  }
  const ReturnFamily family =
      returnFamilyOf(request.returnMode ? *request.returnMode : returnModeOf(index.traits().arrangement()));
  const long long total = static_cast<long long>(index.frameCount(family));
  result.framesInCapture = total;
  if (packets.empty()) {
    error = inPath + " holds no data packets" +
            (request.source ? " of the sensor " + sensorAddressText(*request.source) : std::string());
    return false;
  }

  // The frames asked for, 1-based, both ends included.
  long long first = request.firstFrame, last = request.frames > 0 ? first + request.frames - 1 : total;
  if (request.bySeconds) {
    // The frames whose closing packet lies in the time range.
    const double origin = packets.front().seconds;
    first = 0;
    last = 0;
    for (long long n = 1; n <= total; ++n) {
      const double t = packets[index.frameClose(family, static_cast<std::size_t>(n - 1)).packet].seconds - origin;
      if (t < request.fromSeconds) continue;
      if (request.toSeconds > 0 && t > request.toSeconds) break;
      if (first == 0) first = n;
      last = n;
    }
    if (first == 0) {
      error = inPath + " has no revolution closing within the seconds asked (" + std::to_string(total) +
              " revolutions over " + std::to_string(packets.back().seconds - origin) + " s)";
      return false;
    }
  }
  if (first > total) {
    error = inPath + " holds " + std::to_string(total) + " frames, none from frame " + std::to_string(first) + " on";
    return false;
  }
  last = std::min(last, total);

  std::uint64_t startByte = firstRecord;
  std::uint64_t startPacket = 0;
  if (first > 1) {
    // Frame first - 1 closes in packet p: start a few packets before it,
    // within frame first - 1.
    const std::uint64_t p = index.frameClose(family, static_cast<std::size_t>(first - 2)).packet;
    const BlockPosition s = index.frameStart(family, static_cast<std::size_t>(first - 2));
    const std::uint64_t within = s.packet + (s.block > 0 ? 1 : 0);
    startPacket = std::min(p, std::max(within, p >= kLeadInPackets ? p - kLeadInPackets : 0));
    startByte = packets[startPacket].start;
    result.leadIn = true;
  }
  const std::uint64_t endPacket = index.frameClose(family, static_cast<std::size_t>(last - 1)).packet;
  const std::uint64_t endByte = packets[endPacket].end;
  if (reader.isPcapng() && packets[startPacket].describing != packets.front().describing) {
    error = inPath + " describes sections or interfaces after its first packet; such a pcapng file cannot be sliced";
    return false;
  }

  // Copy: the file's header (pcap file header, or the pcapng section header
  // and interface descriptions before the first datagram), then the records.
  File in(std::fopen(inPath.c_str(), "rb"));
  if (!in) {
    error = "cannot read " + inPath + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::stat(inPath.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) != reader.fileSize()) {
    error = inPath + " changed on disk after it was read";
    return false;
  }
  const std::uint64_t headerEnd = std::min(firstRecord, startByte);
  if (!copyBytes(in.get(), write, 0, headerEnd, reader.isPcapng(), stop, error) ||
      !copyBytes(in.get(), write, startByte, endByte, false, stop, error))
    return false;
  result.firstFrame = first;
  result.lastFrame = last;
  result.dataPackets = endPacket - startPacket + 1;
  result.bytes = headerEnd + (endByte - startByte);
  return true;
}

}  // namespace z540k
