#include "CaptureRecorder.h"

#include <linux/if_packet.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CaptureFile.h"
#include "LiveCapture.h"

namespace z540k {

namespace {
// Bounded waits: a stop message is seen at once through its event, and the
// capture handle is looked at at least this often.
constexpr int kPollMilliseconds = 100;
constexpr int kSnapshotLength = 65535;
// Each record of the file begins with seconds, microseconds, captured and
// original length, 32 bits each; the file with its 24-byte header.
constexpr std::uint64_t kRecordHeaderBytes = 16;
constexpr std::uint64_t kFileHeaderBytes = sizeof(pcap_file_header);

// Link types of kernel network interfaces (ARPHRD_*). Ethernet cards, Wi-Fi
// in managed mode, bridges, bonds, VLANs, veth and tap devices all report
// Ethernet.
constexpr int kHardwareEthernet = 1;
constexpr int kHardwareLoopback = 772;

// The ARPHRD_* type of the kernel network interface `name`; -1 when there
// is none of that name.
int kernelHardwareType(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return -1;
  std::FILE* f = std::fopen(("/sys/class/net/" + name + "/type").c_str(), "r");
  if (!f) return -1;
  int type = -1;
  if (std::fscanf(f, "%d", &type) != 1) type = -1;
  std::fclose(f);
  return type;
}

// Whether the sensor's traffic can arrive on the adapter: a kernel network
// interface that is up and running, with Ethernet or loopback framing. This
// leaves out "any" and the monitors libpcap also lists (Bluetooth, USB,
// D-Bus, netfilter), whose descriptions may begin with the letters below.
bool canCarrySensorTraffic(const CaptureAdapter& a) {
  const std::uint32_t upAndRunning = PCAP_IF_UP | PCAP_IF_RUNNING;
  if ((a.flags & upAndRunning) != upAndRunning) return false;
  return a.hardwareType == kHardwareEthernet || a.hardwareType == kHardwareLoopback;
}
}  // namespace

std::vector<CaptureAdapter> listCaptureAdapters(std::string& error) {
  std::vector<CaptureAdapter> adapters;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* all = nullptr;
  if (pcap_findalldevs(&all, errbuf) != 0) {
    error = errbuf;
    return adapters;
  }
  for (pcap_if_t* d = all; d; d = d->next) {
    CaptureAdapter a{d->name ? d->name : "", d->description ? d->description : "", d->flags};
    a.hardwareType = kernelHardwareType(a.name);
    adapters.push_back(std::move(a));
  }
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
    if (a.description.empty() || !canCarrySensorTraffic(a)) continue;
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
  dropped_ = 0;
  adapterDrops_ = 0;
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
  {
    std::unique_lock<std::mutex> lock(endMutex_);
    if (!ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !running_; })) return false;
  }
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

// The file's bytes are followed record by record, so that a write that
// fails part way (a full disk) never leaves half a record at the end: the
// file is cut back to the last record the system took whole.
struct CaptureRecorder::DumpTarget {
  pcap_dumper_t* dumper = nullptr;
  int writeError = 0;  // errno of the first failed write, 0 while fine
  // The end of what was handed to the dump file, and of what is known to be
  // in the file (the last flush that succeeded); 0 until the header is.
  std::uint64_t handedEnd = kFileHeaderBytes;
  std::uint64_t wholeEnd = 0;
  // Where each record handed over since that flush ends.
  std::vector<std::uint64_t> pendingEnds;
  // The bytes the system had taken when the first write failed.
  std::uint64_t takenWhenFailed = 0;
  // With an observer: a file header of the capture's link type, then a copy
  // of the records handed over since the last flush, as the file has them.
  std::size_t fileHeaderSize = 0;
  std::vector<std::uint8_t> pendingRecords;
};

namespace {

using DumpTarget = CaptureRecorder::DumpTarget;

// The first failed write, and how far the file got: the stream writes in
// order at the file's offset, so the offset is what the system took.
void noteWriteError(DumpTarget& target, int error) {
  if (target.writeError) return;
  target.writeError = error ? error : EIO;
  const off_t offset = ::lseek(fileno(pcap_dump_file(target.dumper)), 0, SEEK_CUR);
  target.takenWhenFailed = offset < 0 ? target.wholeEnd : static_cast<std::uint64_t>(offset);
}

// pcap_dump() reports nothing: a failed write shows only in the file's error
// state, checked after each packet while errno still tells why. Nothing more
// is written after it.
void dumpPacket(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
  auto* target = reinterpret_cast<DumpTarget*>(user);
  if (target->writeError) return;
  pcap_dump(reinterpret_cast<u_char*>(target->dumper), header, bytes);
  if (target->fileHeaderSize > 0) {
    const std::uint32_t fields[] = {static_cast<std::uint32_t>(header->ts.tv_sec),
                                    static_cast<std::uint32_t>(header->ts.tv_usec), header->caplen, header->len};
    const auto* at = reinterpret_cast<const std::uint8_t*>(fields);
    target->pendingRecords.insert(target->pendingRecords.end(), at, at + sizeof fields);
    target->pendingRecords.insert(target->pendingRecords.end(), bytes, bytes + header->caplen);
  }
  target->handedEnd += kRecordHeaderBytes + header->caplen;
  target->pendingEnds.push_back(target->handedEnd);
  if (std::ferror(pcap_dump_file(target->dumper))) noteWriteError(*target, errno);
}

// Hands what the dump file buffers to the operating system. 0, or the errno
// of a failed write (EIO when the system did not say).
int flushDump(DumpTarget& target) {
  errno = 0;
  const bool flushed = pcap_dump_flush(target.dumper) == 0;
  const int error = errno;
  if (flushed && !target.writeError && !std::ferror(pcap_dump_file(target.dumper))) return 0;
  noteWriteError(target, error);
  return target.writeError;
}

// After a failed write: cuts the file `fd` back to the end of the last record
// the system took whole (to nothing when not even the header was), so that it
// reads as a whole capture. Returns the records kept of those pending.
std::uint64_t keepWholeRecords(int fd, const DumpTarget& target) {
  std::uint64_t end = target.wholeEnd;
  std::uint64_t kept = 0;
  for (const std::uint64_t recordEnd : target.pendingEnds) {
    if (recordEnd > target.takenWhenFailed) break;
    end = recordEnd;
    ++kept;
  }
  struct stat file {};
  // A device or a pipe keeps what it took.
  if (::fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && static_cast<std::uint64_t>(file.st_size) > end &&
      ::ftruncate(fd, static_cast<off_t>(end)) != 0) {
    // The cut record stays; the failed write is reported already.
  }
  return kept;
}

// The reason a capture could not be opened, by the step that failed.
std::string openFailure(LiveCaptureStep failed, const CaptureRecorder::Settings& settings, const std::string& error) {
  switch (failed) {
    case LiveCaptureStep::Create:
      return "cannot open the capture adapter: " + error;
    case LiveCaptureStep::Activate:
      return "cannot capture on " + settings.device + ": " + error;
    case LiveCaptureStep::Filter:
      return "bad capture filter \"" + settings.filter + "\": " + error;
    case LiveCaptureStep::NonBlocking:
      return "cannot capture on " + settings.device + " without blocking: " + error;
  }
  return error;
}

}  // namespace

void CaptureRecorder::run(Settings settings) {
  LiveCaptureSettings open;
  open.device = settings.device;
  open.filter = settings.filter;
  open.snapLength = kSnapshotLength;
  open.timeoutMs = kPollMilliseconds;
  open.bufferBytes = settings.bufferBytes;
  // On loopback the kernel would count a drop for the sent copy of a packet
  // too (libpcap hands over the received one only).
  open.ignoreOutgoing = kernelHardwareType(settings.device) == kHardwareLoopback;
  std::string openError;
  LiveCaptureStep failed = LiveCaptureStep::Create;
  LiveCaptureHandle handle = openLiveCapture(open, openError, failed);
  DumpTarget target;
  if (!handle) {
    fail(openFailure(failed, settings, openError));
  } else if (!(target.dumper = pcap_dump_open(handle.get(), settings.dumpPath.c_str()))) {
    fail("cannot write " + settings.dumpPath + ": " + pcap_geterr(handle.get()));
  } else if (flushRecording(target, settings.dumpPath)) {
    if (observer_.written) {
      pcap_file_header header{0xa1b2c3d4,
                              PCAP_VERSION_MAJOR,
                              PCAP_VERSION_MINOR,
                              0,
                              0,
                              static_cast<bpf_u_int32>(pcap_snapshot(handle.get())),
                              static_cast<bpf_u_int32>(pcap_datalink(handle.get()))};
      const auto* at = reinterpret_cast<const std::uint8_t*>(&header);
      target.pendingRecords.assign(at, at + sizeof header);
      target.fileHeaderSize = sizeof header;
    }
    // The file header went out: a file that cannot be written is known
    // before the recording counts as started.
    capturing_ = true;
    recordUntilStopped(handle.get(), target, settings.dumpPath);
  }
  if (target.dumper) {
    // After a failed write the file is cut back once the stream is closed:
    // closing may still write what the stream held.
    const int fd = flushRecording(target, settings.dumpPath) ? -1 : ::dup(fileno(pcap_dump_file(target.dumper)));
    pcap_dump_close(target.dumper);
    if (fd >= 0) {
      packets_ += keepWholeRecords(fd, target);
      ::close(fd);
    }
  }
  handle.reset();
  {
    std::lock_guard<std::mutex> lock(endMutex_);
    running_ = false;
  }
  ended_.notify_all();
  if (observer_.ended) observer_.ended();
}

bool CaptureRecorder::flushRecording(DumpTarget& target, const std::string& path) {
  if (const int error = flushDump(target)) {
    fail("cannot write " + path + ": " + std::strerror(error));
    return false;
  }
  packets_ += target.pendingEnds.size();
  target.pendingEnds.clear();
  target.wholeEnd = target.handedEnd;
  tellWritten(target);
  return true;
}

void CaptureRecorder::tellWritten(DumpTarget& target) {
  if (target.pendingRecords.size() <= target.fileHeaderSize) return;
  CaptureReader reader;
  if (reader.openMemory(target.pendingRecords.data(), target.pendingRecords.size())) {
    CapturedDatagram datagram;
    while (reader.next(datagram)) observer_.written(datagram.payload, datagram.size);
  }
  target.pendingRecords.resize(target.fileHeaderSize);
}

void CaptureRecorder::recordUntilStopped(void* handle, DumpTarget& target, const std::string& path) {
  pcap_t* capture = static_cast<pcap_t*>(handle);
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
    if (n == PCAP_ERROR) fail(std::string("capture failed: ") + pcap_geterr(capture));
    pcap_stat stats{};
    if (pcap_stats(capture, &stats) == 0) {
      dropped_ = stats.ps_drop;
      adapterDrops_ = stats.ps_ifdrop;
    }
    // A file that cannot be written ends the recording: what follows would
    // be lost too.
    if (n == PCAP_ERROR || !flushRecording(target, path)) break;
  }
}

}  // namespace z540k
