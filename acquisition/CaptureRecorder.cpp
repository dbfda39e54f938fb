#include "CaptureRecorder.h"

#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace z540k {

namespace {
// Bounded waits: a stop message is seen at once through its event, and the
// capture handle is looked at at least this often.
constexpr int kPollMilliseconds = 100;
constexpr int kSnapshotLength = 65535;
}  // namespace

std::vector<CaptureAdapter> listCaptureAdapters(std::string& error) {
  std::vector<CaptureAdapter> adapters;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* all = nullptr;
  if (pcap_findalldevs(&all, errbuf) != 0) {
    error = errbuf;
    return adapters;
  }
  for (pcap_if_t* d = all; d; d = d->next)
    adapters.push_back({d->name ? d->name : "", d->description ? d->description : ""});
  pcap_freealldevs(all);
  return adapters;
}

std::string chooseCaptureAdapter(const std::string& named, const std::vector<CaptureAdapter>& adapters,
                                 std::string& reason) {
  if (!named.empty()) {
    for (const auto& a : adapters)
      if (a.name == named) return a.name;
    reason = "the capture adapter \"" + named + "\" does not exist";
    return {};
  }
  for (const auto& a : adapters) {
    if (a.description.empty()) continue;
    const char c = a.description[0];
    if (c == 'R' || c == 'I' || c == 'B' || c == 'A' || c == 'Q') return a.name;
  }
  for (const auto& a : adapters)
    if (a.name == "any") return a.name;
  reason = "no network adapter to capture on";
  return {};
}

std::string namedCaptureDevice(int argc, const char* const* argv) {
  const std::string option = "--capture-device";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == option && i + 1 < argc) return argv[i + 1];
    if (a.compare(0, option.size() + 1, option + "=") == 0) return a.substr(option.size() + 1);
  }
  const char* named = std::getenv("Z540K_CAPTURE_DEVICE");
  return named ? named : "";
}

CaptureRecorder::~CaptureRecorder() {
  postStop();
  if (thread_.joinable()) thread_.join();
  if (stopEvent_ >= 0) ::close(stopEvent_);
}

bool CaptureRecorder::start(const Settings& settings) {
  if (running_) return false;
  if (thread_.joinable()) thread_.join();
  if (stopEvent_ < 0) stopEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::uint64_t drained;
  while (::read(stopEvent_, &drained, sizeof drained) > 0) {
  }
  {
    std::lock_guard<std::mutex> lock(errorMutex_);
    error_.clear();
  }
  packets_ = 0;
  capturing_ = false;
  running_ = true;
  thread_ = std::thread(&CaptureRecorder::run, this, settings);
  return true;
}

void CaptureRecorder::postStop() {
  if (stopEvent_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(stopEvent_, &one, sizeof one);
}

bool CaptureRecorder::wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (running_ && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (running_) return false;
  if (thread_.joinable()) thread_.join();
  return true;
}

std::string CaptureRecorder::error() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return error_;
}

void CaptureRecorder::fail(const std::string& reason) {
  std::lock_guard<std::mutex> lock(errorMutex_);
  if (error_.empty()) error_ = reason;
}

namespace {

struct DumpTarget {
  pcap_dumper_t* dumper;
  std::atomic<std::uint64_t>* packets;
};

void dumpPacket(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
  auto* target = reinterpret_cast<DumpTarget*>(user);
  pcap_dump(reinterpret_cast<u_char*>(target->dumper), header, bytes);
  ++*target->packets;
}

}  // namespace

void CaptureRecorder::run(Settings settings) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* capture = pcap_create(settings.device.c_str(), errbuf);
  pcap_dumper_t* dumper = nullptr;
  auto finish = [&] {
    if (dumper) {
      pcap_dump_flush(dumper);
      pcap_dump_close(dumper);
    }
    if (capture) pcap_close(capture);
    running_ = false;
  };
  if (!capture) {
    fail(std::string("cannot open the capture adapter: ") + errbuf);
    return finish();
  }
  pcap_set_snaplen(capture, kSnapshotLength);
  pcap_set_promisc(capture, 1);
  pcap_set_timeout(capture, kPollMilliseconds);
  // Hand every packet over as it arrives, so a stop finds it written.
  pcap_set_immediate_mode(capture, 1);
  pcap_set_buffer_size(capture, 16 << 20);
  if (pcap_activate(capture) < 0) {
    fail(std::string("cannot capture on ") + settings.device + ": " + pcap_geterr(capture));
    return finish();
  }
  bpf_u_int32 net = 0, mask = PCAP_NETMASK_UNKNOWN;
  if (pcap_lookupnet(settings.device.c_str(), &net, &mask, errbuf) != 0) mask = PCAP_NETMASK_UNKNOWN;
  bpf_program program{};
  if (pcap_compile(capture, &program, settings.filter.c_str(), 0, mask) != 0 ||
      pcap_setfilter(capture, &program) != 0) {
    fail("bad capture filter \"" + settings.filter + "\": " + pcap_geterr(capture));
    pcap_freecode(&program);
    return finish();
  }
  pcap_freecode(&program);
  dumper = pcap_dump_open(capture, settings.dumpPath.c_str());
  if (!dumper) {
    fail("cannot write " + settings.dumpPath + ": " + pcap_geterr(capture));
    return finish();
  }
  pcap_setnonblock(capture, 1, errbuf);
  capturing_ = true;

  DumpTarget target{dumper, &packets_};
  const int captureFd = pcap_get_selectable_fd(capture);
  pollfd waits[2] = {{stopEvent_, POLLIN, 0}, {captureFd, POLLIN, 0}};
  bool stop = false;
  while (!stop) {
    const int ready = ::poll(waits, captureFd >= 0 ? 2 : 1, kPollMilliseconds);
    stop = ready > 0 && (waits[0].revents & POLLIN);
    // Write everything waiting, also after the stop message: nothing that was
    // captured is lost.
    int n;
    while ((n = pcap_dispatch(capture, -1, dumpPacket, reinterpret_cast<u_char*>(&target))) > 0) {
    }
    if (n == PCAP_ERROR) {
      fail(std::string("capture failed: ") + pcap_geterr(capture));
      break;
    }
    pcap_dump_flush(dumper);
  }
  finish();
}

}  // namespace z540k
