#include "StatusFrameCapture.h"

#include <pcap/pcap.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "CaptureFile.h"
#include "CaptureRecorder.h"
#include "LiveCapture.h"
#include "PacketFormat.h"

namespace z540k {

namespace {

constexpr int kSnapLength = 65535;
constexpr int kPollSliceMs = 100;

// pcap's classic file headers, to hand one frame to the capture reader,
// which finds the IPv4 and UDP headers by link type.
constexpr std::size_t kFileHeaderSize = 24;
constexpr std::size_t kRecordHeaderSize = 16;
constexpr std::uint32_t kPcapMagic = 0xA1B2C3D4;
constexpr std::uint32_t kLinkTypeRaw = 101;

// The file link type of a live capture's data link (they differ for raw IP).
std::uint32_t fileLinkType(int dlt) {
#ifdef DLT_RAW
  if (dlt == DLT_RAW) return kLinkTypeRaw;
#endif
  return static_cast<std::uint32_t>(dlt);
}

std::array<std::uint8_t, 4> ipv4Bytes(std::uint32_t hostOrder) {
  return {static_cast<std::uint8_t>(hostOrder >> 24), static_cast<std::uint8_t>(hostOrder >> 16),
          static_cast<std::uint8_t>(hostOrder >> 8), static_cast<std::uint8_t>(hostOrder)};
}

// One captured frame as a status frame: true with `out` filled when its UDP
// payload is 1206 bytes starting with the first `headerBytes` of the status
// header.
bool statusFrameOf(std::uint32_t linkType, const std::uint8_t* frame, std::uint32_t length, std::size_t headerBytes,
                   std::vector<std::uint8_t>& scratch, CapturedStatusFrame& out) {
  scratch.assign(kFileHeaderSize + kRecordHeaderSize + length, 0);
  std::uint8_t* h = scratch.data();
  storeLE32(h, kPcapMagic);
  storeLE16(h + 4, 2);
  storeLE16(h + 6, 4);
  storeLE32(h + 16, kSnapLength);
  storeLE32(h + 20, linkType);
  std::uint8_t* r = h + kFileHeaderSize;
  storeLE32(r + 8, length);
  storeLE32(r + 12, length);
  std::copy(frame, frame + length, r + kRecordHeaderSize);

  CaptureReader reader;
  CapturedDatagram datagram;
  if (!reader.openMemory(scratch.data(), scratch.size()) || !reader.next(datagram)) return false;
  if (datagram.size != kStatusPacketSize) return false;
  if (!std::equal(kStatusHeader.begin(), kStatusHeader.begin() + static_cast<std::ptrdiff_t>(headerBytes),
                  datagram.payload))
    return false;
  std::copy(datagram.payload, datagram.payload + kStatusPacketSize, out.payload.begin());
  out.addresses.sensorIp = ipv4Bytes(datagram.sourceIp);
  out.addresses.sensorPort = datagram.sourcePort;
  out.addresses.hostIp = ipv4Bytes(datagram.destIp);
  out.destPort = datagram.destPort;
  return true;
}

}  // namespace

StatusFrameCaptureSettings statusFrameCaptureSettings(StatusFrameUse use, const std::string& device,
                                                      std::uint16_t statusPort, int timeoutMs) {
  StatusFrameCaptureSettings settings;
  settings.device = device;
  settings.statusPort = statusPort;
  settings.headerBytes = use == StatusFrameUse::Refresh ? 2 : 4;
  settings.timeoutMs = timeoutMs;
  settings.frameLimit = use == StatusFrameUse::Refresh ? 1000 : 3000;
  return settings;
}

StatusFrameResult captureStatusFrame(const StatusFrameCaptureSettings& settings, CapturedStatusFrame& out,
                                     std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(settings.timeoutMs, 1));
  const std::size_t headerBytes =
      std::min<std::size_t>(std::max<std::size_t>(settings.headerBytes, 1), kStatusHeader.size());
  const std::string where = " on the adapter \"" + settings.device + "\"";

  LiveCaptureSettings open;
  open.device = settings.device;
  open.filter = "udp port " + std::to_string(settings.statusPort);
  open.optimizeFilter = true;
  open.snapLength = kSnapLength;
  open.timeoutMs = kPollSliceMs;
  std::string openError;
  LiveCaptureStep failed = LiveCaptureStep::Create;
  const LiveCaptureHandle handle = openLiveCapture(open, openError, failed);
  if (!handle) {
    error = failed == LiveCaptureStep::Create || failed == LiveCaptureStep::Activate
                ? "cannot capture" + where + ": " + openError
                : "cannot filter \"" + open.filter + "\"" + where + ": " + openError;
    return StatusFrameResult::Failed;
  }
  pcap_t* p = handle.get();
  const int fd = pcap_get_selectable_fd(p);
  const std::uint32_t linkType = fileLinkType(pcap_datalink(p));

  std::vector<std::uint8_t> scratch;
  std::size_t frames = 0;
  for (;;) {
    if (settings.keepWaiting && !settings.keepWaiting()) {
      error = "the capture was cancelled";
      return StatusFrameResult::Cancelled;
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int got;
    while ((got = pcap_next_ex(p, &header, &data)) == 1) {
      if (statusFrameOf(linkType, data, header->caplen, headerBytes, scratch, out)) return StatusFrameResult::Captured;
      if (settings.frameLimit != 0 && ++frames >= settings.frameLimit) {
        error = "no status packet among " + std::to_string(frames) + " frames of port " +
                std::to_string(settings.statusPort) + where;
        return StatusFrameResult::NoFrame;
      }
    }
    if (got < 0) {
      error = "the capture failed" + where + ": " + pcap_geterr(p);
      return StatusFrameResult::Failed;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      error = "no status packet on port " + std::to_string(settings.statusPort) + where + " within " +
              std::to_string(settings.timeoutMs) + " ms";
      return StatusFrameResult::NoFrame;
    }
    const int slice = static_cast<int>(std::min<long long>(left, kPollSliceMs));
    if (fd >= 0) {
      pollfd waitFor{fd, POLLIN, 0};
      ::poll(&waitFor, 1, slice);
    } else {
      pollfd none{-1, 0, 0};
      ::poll(&none, 0, slice);
    }
  }
}

std::string chooseStatusCaptureAdapter(const std::string& named, std::string& reason) {
  std::string listError;
  const auto adapters = listCaptureAdapters(listError);
  if (adapters.empty() && !listError.empty()) {
    reason = "cannot list the network adapters: " + listError;
    return {};
  }
  return chooseCaptureAdapter(named, adapters, reason);
}

}  // namespace z540k
