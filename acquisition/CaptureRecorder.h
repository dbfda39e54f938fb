// The recorder: a worker thread that captures the data port's traffic with
// libpcap on one network adapter and writes every packet into a capture file
// until it is posted the stop message.
//
// Threads: start(), postStop(), wait() and the accessors are for the GUI
// thread; the capture loop runs on the recorder's own thread, which owns the
// capture handle and the dump file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace z540k {

// A network adapter as libpcap lists it, with what the adapter choice needs
// to know about it.
struct CaptureAdapter {
  std::string name;
  std::string description;
  std::uint32_t flags = 0;  // libpcap's PCAP_IF_* flags (PCAP_IF_UP, PCAP_IF_RUNNING, ...)
  // The kernel's link type of the network interface of this name (ARPHRD_*,
  // as /sys/class/net/NAME/type gives it: 1 Ethernet, 772 loopback); -1 when
  // the adapter is no kernel network interface (libpcap's "any", Bluetooth,
  // USB, D-Bus and netfilter monitors).
  int hardwareType = -1;
};

std::vector<CaptureAdapter> listCaptureAdapters(std::string& error);

// The adapter to record on: the one the operator named (program option
// --capture-device or the environment variable Z540K_CAPTURE_DEVICE), else,
// among the adapters that can carry the sensor's traffic (up and running,
// Ethernet or loopback), the first whose description begins with R, I, B, A
// or Q (the sensor's Windows adapters are described so), else Linux's "any"
// pseudo-adapter. Empty, with a reason, when none of these exists.
// A pure function of the list: it opens nothing.
std::string chooseCaptureAdapter(const std::string& named, const std::vector<CaptureAdapter>& adapters,
                                 std::string& reason);

// The operator's named adapter: the program's option "--capture-device NAME"
// (or "--capture-device=NAME") first, else the environment variable
// Z540K_CAPTURE_DEVICE; empty when neither names one.
std::string namedCaptureDevice(int argc, const char* const* argv);

class CaptureRecorder {
 public:
  struct Settings {
    std::string dumpPath;  // the capture file to write
    std::string filter;    // e.g. "port 2368"
    std::string device;    // the adapter's name, as chooseCaptureAdapter gives it
    // The kernel's capture buffer; what arrives while it is full is dropped
    // (and counted in packetsDropped()).
    int bufferBytes = 16 << 20;
  };

  // What the recorder tells as it writes, on its own thread: each UDP
  // payload once it is known to be in the file, in file order (`written`),
  // and the end of the run, after isRunning() turned false (`ended`).
  struct WriteObserver {
    std::function<void(const std::uint8_t* payload, std::size_t size)> written;
    std::function<void()> ended;
  };

  CaptureRecorder() = default;
  ~CaptureRecorder();
  CaptureRecorder(const CaptureRecorder&) = delete;
  CaptureRecorder& operator=(const CaptureRecorder&) = delete;

  // Starts recording on a thread of its own. False when a recording is
  // still running (that one goes on unchanged).
  bool start(const Settings& settings);
  // The stop message: the recorder writes what it has captured, closes the
  // file and ends, without waiting for a further packet.
  void postStop();
  // Set while no recording runs; kept for the following ones.
  void setWriteObserver(WriteObserver observer) { observer_ = std::move(observer); }
  // Waits for the thread to end (after postStop); false on time-out.
  bool wait(int timeoutMs);
  bool isRunning() const { return running_; }

  // Set once the capture is open and filtering (or failed: see error()).
  bool isCapturing() const { return capturing_; }
  // Why the recording could not start or ended early (adapter, filter, a
  // dump file that cannot be written, e.g. a full disk); empty when fine.
  // A recording that cannot write its file ends at once, the file cut back
  // to the last record written whole (never half a record at its end).
  std::string error() const;
  // Counters of the current (or last) recording, kept up to date while it
  // runs (at least every 100 ms) and final once the thread has ended:
  // packets known to be in the file (handed to the operating system);
  std::uint64_t packetsWritten() const { return packets_; }
  // packets that passed the filter but were dropped because the capture
  // buffer was full: missing from the file (on "any", a packet between two
  // programs of this machine passes twice, and its drop may count twice);
  std::uint64_t packetsDropped() const { return dropped_; }
  // packets of any traffic the adapter itself dropped meanwhile (some may be
  // the sensor's); 0 where the system does not tell, as on "any".
  std::uint64_t adapterDrops() const { return adapterDrops_; }

  // The capture file being written (its libpcap dumper and counts).
  struct DumpTarget;

 private:
  void run(Settings settings);
  // Hands what the dump file holds to the operating system and counts it;
  // false (reported) when the file cannot be written.
  bool flushRecording(DumpTarget& target, const std::string& path);
  // Writes what is captured until the stop message, or until the capture or
  // the file fails.
  void recordUntilStopped(void* capture, DumpTarget& target, const std::string& path);
  void fail(const std::string& reason);
  // Hands the UDP payloads of the records just known to be in the file to
  // the observer.
  void tellWritten(DumpTarget& target);

  WriteObserver observer_;
  std::thread thread_;
  int stopEvent_ = -1;
  std::atomic<bool> running_{false};
  // The run's end, for wait(): running_ is cleared under endMutex_.
  std::mutex endMutex_;
  std::condition_variable ended_;
  std::atomic<bool> capturing_{false};
  std::atomic<std::uint64_t> packets_{0};
  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<std::uint64_t> adapterDrops_{0};
  mutable std::mutex errorMutex_;
  std::string error_;
};

}  // namespace z540k
