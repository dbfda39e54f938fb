// The recorder: adapter choice, and recordings of loopback traffic read back
// packet for packet with the capture reader; drops and write failures are
// reported, never passed over.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "CaptureFile.h"
#include "CaptureRecorder.h"
#include "FullDiskTestSupport.h"
#include "LoopbackTestSupport.h"
#include "ProcessTestSupport.h"
#include "ScanPacketStream.h"
#include "UdpSocket.h"

using namespace z540k;
using namespace z540k::test;

namespace {

// Polls `done` until it holds or a generous deadline passes.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Starts a recording and waits until it captures. False where this machine
// cannot capture (the recording is then ended; see error()).
bool startCapturing(CaptureRecorder& recorder, const CaptureRecorder::Settings& settings) {
  if (!recorder.start(settings)) return false;
  waitFor([&] { return recorder.isCapturing() || !recorder.isRunning(); });
  if (recorder.isCapturing()) return true;
  recorder.postStop();
  recorder.wait(2000);
  return false;
}

constexpr std::uint32_t kUpAndRunning = PCAP_IF_UP | PCAP_IF_RUNNING;
constexpr int kEthernet = 1, kLoopback = 772, kRadiotap = 803;

}  // namespace

// Only adapters that can carry the sensor's traffic take part in the letter
// rule: the monitors Linux lists (descriptions as libpcap gives them, or made
// to begin with a rule letter) and adapters that are down never do.
TEST(CaptureAdapterTest, LetterRuleAmongAdaptersThatCarryTheTrafficThenAny) {
  const std::vector<CaptureAdapter> unfit = {
      {"bluetooth-monitor", "Bluetooth Linux Monitor", kUpAndRunning, -1},
      {"usbmon1", "Raw USB traffic, bus number 1", kUpAndRunning, -1},
      {"dbus-system", "A D-Bus system bus", kUpAndRunning, -1},
      {"nflog", "A Linux netfilter log (NFLOG) interface", kUpAndRunning, -1},
      {"nfqueue", "Q Linux netfilter queue (NFQUEUE) interface", kUpAndRunning, -1},
      {"mon0", "Atheros monitor", kUpAndRunning, kRadiotap},
      {"eth1", "Realtek PCIe GbE, no cable", PCAP_IF_UP, kEthernet},
      {"eth2", "Intel I219, switched off", 0, kEthernet},
      {"eth0", "", kUpAndRunning, kEthernet},  // fit, but no description
      {"any", "Pseudo-device that captures on all interfaces", kUpAndRunning, -1}};
  std::string reason;
  EXPECT_EQ(chooseCaptureAdapter("", unfit, reason), "any");

  std::vector<CaptureAdapter> adapters = unfit;
  adapters.push_back({"lo", "Adapter for loopback traffic", kUpAndRunning | PCAP_IF_LOOPBACK, kLoopback});
  adapters.push_back({"wlan0", "Intel Wireless", kUpAndRunning | PCAP_IF_WIRELESS, kEthernet});
  EXPECT_EQ(chooseCaptureAdapter("", adapters, reason), "lo");  // the first fit one, in listed order
  adapters.erase(adapters.end() - 2);
  EXPECT_EQ(chooseCaptureAdapter("", adapters, reason), "wlan0");

  // The operator's word counts whatever the adapter is.
  EXPECT_EQ(chooseCaptureAdapter("bluetooth-monitor", adapters, reason), "bluetooth-monitor");
  EXPECT_EQ(chooseCaptureAdapter("nope", adapters, reason), "");
  EXPECT_NE(reason.find("nope"), std::string::npos);
  reason.clear();
  const CaptureAdapter realtek{"eth0", "Realtek", kUpAndRunning, kEthernet};
  const CaptureAdapter lowerCase{"eth0", "ethernet", kUpAndRunning, kEthernet};
  EXPECT_EQ(chooseCaptureAdapter("", {unfit.front(), realtek}, reason), "eth0");
  EXPECT_EQ(chooseCaptureAdapter("", {unfit.front(), lowerCase}, reason), "");
  EXPECT_FALSE(reason.empty());  // lower case does not match, and there is no "any"
}

// This machine's list says what the choice needs: the loopback interface is
// up, running and of loopback type; "any" is no kernel interface.
TEST(CaptureAdapterTest, ListedAdaptersCarryFlagsAndLinkTypes) {
  std::string error;
  const auto adapters = listCaptureAdapters(error);
  if (adapters.empty()) GTEST_SKIP() << "no capture adapters here: " << error;
  for (const auto& a : adapters) {
    if (a.name == "lo") {
      EXPECT_EQ(a.hardwareType, kLoopback);
      EXPECT_EQ(a.flags & kUpAndRunning, kUpAndRunning);
    }
    if (a.name == "any") {
      EXPECT_EQ(a.hardwareType, -1);
    }
  }
}

// The operator names the adapter on the command line or in the environment.
TEST(CaptureAdapterTest, NamedOnTheCommandLineOrInTheEnvironment) {
  const char* separate[] = {"z540k-host", "--demo", "--capture-device", "lo"};
  const char* joined[] = {"z540k-host", "--capture-device=eth1"};
  const char* none[] = {"z540k-host", "--capture-device"};
  ::unsetenv("Z540K_CAPTURE_DEVICE");
  EXPECT_EQ(namedCaptureDevice(4, separate), "lo");
  EXPECT_EQ(namedCaptureDevice(2, joined), "eth1");
  EXPECT_EQ(namedCaptureDevice(2, none), "");
  ::setenv("Z540K_CAPTURE_DEVICE", "any", 1);
  EXPECT_EQ(namedCaptureDevice(2, none), "any");
  EXPECT_EQ(namedCaptureDevice(4, separate), "lo");  // the command line first
  ::unsetenv("Z540K_CAPTURE_DEVICE");
}

class CaptureRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/z540k-recorder-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path_ = name;
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

// Everything sent to the port while recording is in the file, in order; the
// stop takes effect without a further packet.
TEST_F(CaptureRecorderTest, RecordsLoopbackTrafficPacketForPacket) {
  const HeldUdpPort port;
  CaptureRecorder recorder;
  // What the recorder tells as it writes: every payload in file order, then the end.
  std::vector<std::vector<std::uint8_t>> told;
  int ends = 0;
  recorder.setWriteObserver(
      {[&](const std::uint8_t* p, std::size_t n) { told.emplace_back(p, p + n); }, [&] { ++ends; }});
  if (!startCapturing(recorder, {path_, "udp port " + std::to_string(port), "lo"}))
    GTEST_SKIP() << "cannot capture on lo here: " << recorder.error();
  sim::ScanPacketStream stream(sim::ScanPattern{});
  std::vector<sim::DataPacketBytes> sent;
  LoopbackSender sender;
  for (int i = 0; i < 50; ++i) {
    sent.push_back(stream.next());
    ASSERT_TRUE(sender.send(port, sent.back()));
  }
  EXPECT_TRUE(waitFor([&] { return recorder.packetsWritten() >= sent.size(); }));
  recorder.postStop();
  ASSERT_TRUE(recorder.wait(2000));
  EXPECT_EQ(recorder.error(), "");
  EXPECT_EQ(recorder.packetsWritten(), 50u);
  EXPECT_EQ(recorder.packetsDropped(), 0u);

  CaptureReader reader;
  ASSERT_TRUE(reader.open(path_)) << reader.error();
  CapturedDatagram d;
  std::size_t n = 0;
  while (reader.next(d)) {
    ASSERT_LT(n, sent.size());
    EXPECT_EQ(d.destPort, port);
    ASSERT_EQ(d.size, sent[n].size());
    EXPECT_TRUE(std::equal(sent[n].begin(), sent[n].end(), d.payload)) << "packet " << n;
    ++n;
  }
  EXPECT_EQ(n, sent.size());
  EXPECT_EQ(reader.damage(), "");
  EXPECT_EQ(ends, 1);
  ASSERT_EQ(told.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i)
    EXPECT_TRUE(std::equal(sent[i].begin(), sent[i].end(), told[i].begin(), told[i].end())) << "packet " << i;
}

// The adapter this machine's list gives with nothing named records the
// simulated sensor's traffic packet for packet as a receiver got it.
TEST_F(CaptureRecorderTest, TheChosenAdapterRecordsTheSimulatedSensor) {
  std::string error, reason;
  const auto adapters = listCaptureAdapters(error);
  const std::string device = chooseCaptureAdapter("", adapters, reason);
  ASSERT_NE(device, "") << error << reason;
  for (const auto& a : adapters)
    if (a.name == device && a.hardwareType == kEthernet)
      GTEST_SKIP() << "the choice here is " << device << " (\"" << a.description
                   << "\"), which does not carry the loopback traffic of the simulated sensor";
  // The receiver holds the data port; the sensor sends from the same port
  // number at its own address, as the real one does (its status packets to
  // the status port too, hence the filter on the destination).
  UdpSocket receiver;
  ASSERT_TRUE(receiver.create() && receiver.setReuseAddress() && receiver.bind(0));
  receiver.setReceiveBuffer(8 << 20);
  const std::uint16_t dataPort = receiver.localPort();
  const HeldUdpPort statusPort;
  CaptureRecorder recorder;
  if (!startCapturing(recorder, {path_, "dst port " + std::to_string(dataPort), device}))
    GTEST_SKIP() << "cannot capture on " << device << " here: " << recorder.error();
  Process sim({Z540K_SIM_PATH, "--quiet", "--count", "60", "--status-to-data-port", "--data-port",
               std::to_string(dataPort), "--status-port", std::to_string(statusPort), "--sensor-port",
               std::to_string(dataPort)});
  ASSERT_EQ(sim.wait(), 0) << sim.err();
  std::vector<std::vector<std::uint8_t>> received;
  const auto receiveWaiting = [&] {
    std::uint8_t buffer[2048];
    for (ReceiveResult r; (r = receiver.receive(buffer, sizeof buffer, 0)).fits(sizeof buffer);)
      received.emplace_back(buffer, buffer + r.length);
  };
  receiveWaiting();
  ASSERT_GE(received.size(), 60u);  // 60 data packets and the status packets sent meanwhile
  EXPECT_TRUE(waitFor([&] { return recorder.packetsWritten() >= received.size(); }));
  recorder.postStop();
  ASSERT_TRUE(recorder.wait(2000));
  EXPECT_EQ(recorder.error(), "");

  CaptureReader reader;
  ASSERT_TRUE(reader.open(path_)) << reader.error();
  std::vector<std::vector<std::uint8_t>> recorded;
  for (CapturedDatagram d; reader.next(d);) {
    EXPECT_EQ(d.sourceIp, 0x7F000002u);  // from the sensor's address
    recorded.emplace_back(d.payload, d.payload + d.size);
  }
  // A datagram still on its way when the sensor ended reaches the receiver too.
  waitFor([&] {
    receiveWaiting();
    return received.size() >= recorded.size();
  });
  EXPECT_TRUE(recorded == received) << recorded.size() << " recorded, " << received.size() << " received";
}

// A burst the capture buffer cannot hold: every datagram sent is either in
// the file, in order, or counted as dropped; none goes missing unsaid.
TEST_F(CaptureRecorderTest, ABurstTheBufferCannotHoldIsCountedAsDropped) {
  const HeldUdpPort port;
  CaptureRecorder recorder;
  CaptureRecorder::Settings settings{path_, "udp port " + std::to_string(port), "lo"};
  settings.bufferBytes = 1 << 20;  // room for a few packets only
  if (!startCapturing(recorder, settings)) GTEST_SKIP() << "cannot capture on lo here: " << recorder.error();
  constexpr std::uint32_t kSent = 400;
  LoopbackSender sender("127.0.0.2");  // to the held port's own socket
  std::vector<std::uint8_t> datagram(1206);
  for (std::uint32_t i = 0; i < kSent; ++i) {
    std::memcpy(datagram.data(), &i, sizeof i);
    ASSERT_TRUE(sender.send(port, datagram));
  }
  EXPECT_TRUE(waitFor([&] { return recorder.packetsWritten() + recorder.packetsDropped() >= kSent; }));
  recorder.postStop();
  ASSERT_TRUE(recorder.wait(2000));
  EXPECT_EQ(recorder.error(), "");
  EXPECT_EQ(recorder.packetsWritten() + recorder.packetsDropped(), kSent)
      << recorder.packetsDropped() << " dropped, the adapter dropped " << recorder.adapterDrops();

  CaptureReader reader;
  ASSERT_TRUE(reader.open(path_)) << reader.error();
  CapturedDatagram d;
  std::uint64_t n = 0;
  std::int64_t previous = -1;
  while (reader.next(d)) {
    ASSERT_EQ(d.size, datagram.size());
    std::uint32_t sequence;
    std::memcpy(&sequence, d.payload, sizeof sequence);
    EXPECT_GT(std::int64_t{sequence}, previous);
    previous = sequence;
    ++n;
  }
  EXPECT_EQ(n, recorder.packetsWritten());
}

// With no traffic at all the stop message still ends the recording at once,
// leaving a valid, empty capture; a second recording can follow.
TEST_F(CaptureRecorderTest, StopsWithoutWaitingForAPacket) {
  const HeldUdpPort port;
  CaptureRecorder recorder;
  const bool capturing = startCapturing(recorder, {path_, "udp port " + std::to_string(port), "lo"});
  if (!capturing) GTEST_SKIP() << "cannot capture on lo here: " << recorder.error();
  EXPECT_FALSE(recorder.start({path_, "udp port 1", "lo"}));  // one at a time
  recorder.postStop();
  ASSERT_TRUE(recorder.wait(1000));
  EXPECT_EQ(recorder.error(), "");
  CaptureReader reader;
  ASSERT_TRUE(reader.open(path_)) << reader.error();
  CapturedDatagram d;
  EXPECT_FALSE(reader.next(d));
  EXPECT_EQ(reader.damage(), "");
  ASSERT_TRUE(recorder.start({path_, "udp port 1", "lo"}));
  recorder.postStop();
  EXPECT_TRUE(recorder.wait(1000));
}

TEST_F(CaptureRecorderTest, FailuresAreReported) {
  CaptureRecorder recorder;
  ASSERT_TRUE(recorder.start({path_, "this is not a filter", "lo"}));
  ASSERT_TRUE(recorder.wait(2000));
  EXPECT_FALSE(recorder.error().empty());
  ASSERT_TRUE(recorder.start({"/nonexistent-folder/x.pcap", "udp", "lo"}));
  ASSERT_TRUE(recorder.wait(2000));
  EXPECT_FALSE(recorder.error().empty());
  ASSERT_TRUE(recorder.start({path_, "udp", "no-such-adapter0"}));
  ASSERT_TRUE(recorder.wait(2000));
  EXPECT_FALSE(recorder.error().empty());
}

// A full disk is an error, never a recording that seems fine: at once (not
// even the file header fits), or when the disk fills up while recording,
// which ends the recording with the packets written so far counted and the
// file cut back to the last whole record: it reads back whole, here and in
// capinfos where installed.
TEST_F(CaptureRecorderTest, AFullDiskEndsTheRecordingWithTheReason) {
  CaptureRecorder recorder;
  ASSERT_TRUE(recorder.start({"/dev/full", "udp", "lo"}));
  ASSERT_TRUE(recorder.wait(2000));
  ASSERT_NE(recorder.error(), "");
  if (recorder.error().rfind("cannot capture", 0) == 0) GTEST_SKIP() << recorder.error();
  EXPECT_EQ(recorder.error(), std::string("cannot write /dev/full: ") + std::strerror(ENOSPC));

  // A disk that fills up after a few packets, in the middle of a record.
  const HeldUdpPort port;
  constexpr std::uint64_t kLimit = 8192;
  bool capturing = false, ended = false;
  int sent = 0;
  {
    const FileSizeLimit limit(kLimit);
    ASSERT_TRUE(limit.active());
    capturing = startCapturing(recorder, {path_, "udp port " + std::to_string(port), "lo"});
    sim::ScanPacketStream stream(sim::ScanPattern{});
    LoopbackSender sender;
    while (capturing && sent < 50 && sender.send(port, stream.next())) ++sent;
    ended = waitFor([&] { return !recorder.isRunning(); });
  }
  ASSERT_TRUE(capturing) << recorder.error();
  ASSERT_EQ(sent, 50);
  ASSERT_TRUE(ended) << "the recording went on after the disk was full";
  EXPECT_EQ(recorder.error(), "cannot write " + path_ + ": " + std::strerror(EFBIG));
  // Every record that fitted whole is kept (24 bytes of file header, 16 of
  // record header and 1248 of Ethernet frame a packet), and nothing more.
  const std::uint64_t whole = (kLimit - 24) / (16 + 1248);
  EXPECT_EQ(recorder.packetsWritten(), whole);
  EXPECT_EQ(readFile(path_).size(), 24 + whole * (16 + 1248));
  CaptureReader reader;
  ASSERT_TRUE(reader.open(path_)) << reader.error();
  CapturedDatagram d;
  std::uint64_t n = 0;
  while (reader.next(d)) ++n;
  EXPECT_EQ(n, whole);
  EXPECT_EQ(reader.damage(), "");
  if (::access("/usr/bin/capinfos", X_OK) == 0) {
    Process capinfos({"/usr/bin/capinfos", "-c", path_});
    EXPECT_EQ(capinfos.wait(), 0) << capinfos.err();
    EXPECT_EQ(capinfos.err(), "");
    EXPECT_NE(capinfos.out().find("Number of packets:   " + std::to_string(whole)), std::string::npos)
        << capinfos.out();
  }
}
