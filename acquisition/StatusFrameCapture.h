// One status frame captured with libpcap, as the advanced window takes it
// before Refresh, Set and "Save set file": the status payload together with
// the addresses of its frame (the sensor's real source address and port, and
// the host address it sends to), read through the frame's link type
// (Ethernet, Linux cooked v1/v2 on "any", BSD loopback, raw IP).
//
// Runs on the caller's thread; the wait is bounded and can be cancelled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "AdvancedSettingsPacket.h"
#include "PacketFormat.h"

namespace z540k {

struct StatusFrameCaptureSettings {
  // The adapter's name (chooseStatusCaptureAdapter, or chooseCaptureAdapter).
  std::string device;
  // Only UDP traffic from or to this port is looked at (the status port).
  std::uint16_t statusPort = kDefaultStatusPort;
  // How many leading bytes of the status header a frame must carry: 2 (A5 FF,
  // Refresh) or 4 (A5 FF 00 5A, Set and save); at most 8.
  std::size_t headerBytes = 4;
  // The longest wait for a status frame, in milliseconds (> 0).
  int timeoutMs = 3000;
  // Frames passing the filter looked at before giving up; 0: no limit.
  std::size_t frameLimit = 3000;
  // Called at least every 100 ms while waiting (the window keeps its events
  // running in it); returning false cancels the capture. May be empty.
  std::function<bool()> keepWaiting;
};

struct CapturedStatusFrame {
  StatusSnapshot payload{};        // the 1206 bytes of the UDP payload
  StatusFrameAddresses addresses;  // source IPv4 and port, destination IPv4
  std::uint16_t destPort = 0;
};

enum class StatusFrameResult {
  Captured,
  NoFrame,    // no status frame within the wait or the frame limit
  Cancelled,  // keepWaiting returned false
  Failed,     // the adapter could not be opened or filtered: see `error`
};

// What a capture looks for, by what follows it: a Refresh takes a frame
// whose header starts A5 FF within 1000 frames; Set and "Save set file" (and
// the tool's advanced) one that starts A5 FF 00 5A within 3000.
enum class StatusFrameUse { Refresh, Send };
StatusFrameCaptureSettings statusFrameCaptureSettings(StatusFrameUse use, const std::string& device,
                                                      std::uint16_t statusPort, int timeoutMs);

// Opens `settings.device` live (promiscuous, the status port's filter),
// waits for the first UDP payload of 1206 bytes that starts with the status
// header, and closes the capture again. `error` says why in one line for
// every result but Captured.
StatusFrameResult captureStatusFrame(const StatusFrameCaptureSettings& settings, CapturedStatusFrame& out,
                                     std::string& error);

// The adapter as the recorder chooses it (chooseCaptureAdapter over
// listCaptureAdapters): `named` first (namedCaptureDevice), else the first
// usable adapter described R, I, B, A or Q, else "any". Empty with a reason
// when there is none.
std::string chooseStatusCaptureAdapter(const std::string& named, std::string& reason);

}  // namespace z540k
