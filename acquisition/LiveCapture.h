// Opening a network adapter for capturing with libpcap, as the recorder and
// the advanced window's status capture both need it: created, snapshot
// length, promiscuous, immediate delivery, read time-out, optional kernel
// buffer size, activated, a capture filter installed, non-blocking. The
// handle closes itself.
#pragma once

#include <pcap/pcap.h>

#include <memory>
#include <string>

namespace z540k {

struct PcapClose {
  void operator()(pcap_t* p) const { pcap_close(p); }
};
using LiveCaptureHandle = std::unique_ptr<pcap_t, PcapClose>;

struct LiveCaptureSettings {
  std::string device;
  std::string filter;  // libpcap's filter language ("port 2368")
  bool optimizeFilter = false;
  int snapLength = 65535;
  int timeoutMs = 100;
  int bufferBytes = 0;  // 0: the library's default
  // Leave the packets this machine sends out of the capture, in the kernel
  // (on a loopback adapter every packet passes twice, sent and received).
  bool ignoreOutgoing = false;
};

// Where opening stopped, so each caller words its own message.
enum class LiveCaptureStep { Create, Activate, Filter, NonBlocking };

// The open handle, or null with the library's reason in `error` and the step
// that failed in `failed`.
LiveCaptureHandle openLiveCapture(const LiveCaptureSettings& settings, std::string& error, LiveCaptureStep& failed);

}  // namespace z540k
