#include "LiveCapture.h"

#include <linux/if_packet.h>
#include <sys/socket.h>

namespace z540k {

LiveCaptureHandle openLiveCapture(const LiveCaptureSettings& settings, std::string& error, LiveCaptureStep& failed) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  LiveCaptureHandle handle(pcap_create(settings.device.c_str(), errbuf));
  if (!handle) {
    failed = LiveCaptureStep::Create;
    error = errbuf;
    return nullptr;
  }
  pcap_t* p = handle.get();
  pcap_set_snaplen(p, settings.snapLength);
  pcap_set_promisc(p, 1);
  pcap_set_timeout(p, settings.timeoutMs);
  // Every packet is handed over as it arrives: a stop or a deadline finds it.
  pcap_set_immediate_mode(p, 1);
  if (settings.bufferBytes > 0) pcap_set_buffer_size(p, settings.bufferBytes);
  if (pcap_activate(p) < 0) {
    failed = LiveCaptureStep::Activate;
    error = pcap_geterr(p);
    return nullptr;
  }
  // Where the system cannot leave them out, they stay (and drops of them are
  // counted too).
  if (settings.ignoreOutgoing) {
    const int on = 1;
    ::setsockopt(pcap_fileno(p), SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
  }
  bpf_u_int32 net = 0, mask = PCAP_NETMASK_UNKNOWN;
  if (pcap_lookupnet(settings.device.c_str(), &net, &mask, errbuf) != 0) mask = PCAP_NETMASK_UNKNOWN;
  bpf_program program{};
  if (pcap_compile(p, &program, settings.filter.c_str(), settings.optimizeFilter ? 1 : 0, mask) != 0) {
    failed = LiveCaptureStep::Filter;
    error = pcap_geterr(p);
    return nullptr;
  }
  const int filtered = pcap_setfilter(p, &program);
  pcap_freecode(&program);
  if (filtered != 0) {
    failed = LiveCaptureStep::Filter;
    error = pcap_geterr(p);
    return nullptr;
  }
  // The callers read whatever is waiting and must never block in the library.
  if (pcap_setnonblock(p, 1, errbuf) != 0) {
    failed = LiveCaptureStep::NonBlocking;
    error = errbuf;
    return nullptr;
  }
  return handle;
}

}  // namespace z540k
