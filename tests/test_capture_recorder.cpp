// The recorder: adapter choice, and a recording of loopback traffic read back
// packet for packet with the capture reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "CaptureFile.h"
#include "CaptureRecorder.h"
#include "LoopbackTestSupport.h"
#include "ProcessTestSupport.h"
#include "UdpSocket.h"
#include "ScanPacketStream.h"

using namespace z540k;
using namespace z540k::test;

TEST(CaptureAdapterTest, NamedThenDescriptionRuleThenAny) {
  const std::vector<CaptureAdapter> adapters = {
      {"eth0", ""}, {"lo", "Loopback"}, {"any", "Pseudo-device that captures on all interfaces"},
      {"wlan0", "Intel Wireless"}, {"eth1", "Realtek PCIe"}};
  std::string reason;
  EXPECT_EQ(chooseCaptureAdapter("lo", adapters, reason), "lo");
  EXPECT_EQ(chooseCaptureAdapter("", adapters, reason), "wlan0");  // first description starting R, I, B, A or Q
  EXPECT_EQ(chooseCaptureAdapter("", {{"eth0", ""}, {"any", "Pseudo-device"}}, reason), "any");
  EXPECT_EQ(chooseCaptureAdapter("nope", adapters, reason), "");
  EXPECT_NE(reason.find("nope"), std::string::npos);
  reason.clear();
  EXPECT_EQ(chooseCaptureAdapter("", {{"eth0", "ethernet"}}, reason), "");  // lower case does not match
  EXPECT_FALSE(reason.empty());
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
  const std::uint16_t port = freeUdpPort();
  CaptureRecorder recorder;
  ASSERT_TRUE(recorder.start({path_, "udp port " + std::to_string(port), "lo"}));
  for (int i = 0; i < 200 && !recorder.isCapturing() && recorder.isRunning(); ++i) usleep(10000);
  if (!recorder.isCapturing()) {
    recorder.postStop();
    recorder.wait(2000);
    GTEST_SKIP() << "cannot capture on lo here: " << recorder.error();
  }
  sim::ScanPacketStream stream(sim::ScanPattern{});
  std::vector<sim::DataPacketBytes> sent;
  LoopbackSender sender;
  for (int i = 0; i < 50; ++i) {
    sent.push_back(stream.next());
    ASSERT_TRUE(sender.send(port, sent.back()));
  }
  usleep(200000);
  recorder.postStop();
  ASSERT_TRUE(recorder.wait(2000));
  EXPECT_EQ(recorder.error(), "");
  EXPECT_EQ(recorder.packetsWritten(), 50u);

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
}

// The simulated sensor's traffic to the data port, recorded on the loopback
// adapter, reads back packet for packet as a receiver got it.
TEST_F(CaptureRecorderTest, RecordsTheSimulatedSensor) {
  const std::uint16_t dataPort = freeUdpPort();
  UdpSocket receiver;
  ASSERT_TRUE(receiver.create() && receiver.setReuseAddress() && receiver.bind(dataPort));
  receiver.setReceiveBuffer(8 << 20);
  CaptureRecorder recorder;
  ASSERT_TRUE(recorder.start({path_, "port " + std::to_string(dataPort), "lo"}));
  for (int i = 0; i < 200 && !recorder.isCapturing() && recorder.isRunning(); ++i) usleep(10000);
  if (!recorder.isCapturing()) {
    recorder.postStop();
    recorder.wait(2000);
    GTEST_SKIP() << "cannot capture on lo here: " << recorder.error();
  }
  Process sim({Z540K_SIM_PATH, "--quiet", "--count", "60", "--status-to-data-port", "--data-port",
               std::to_string(dataPort), "--status-port", std::to_string(freeUdpPort()), "--sensor-port",
               std::to_string(freeUdpPort())});
  std::vector<std::vector<std::uint8_t>> received;
  std::uint8_t buffer[2048];
  for (int idle = 0; idle < 10;) {
    const long n = receiver.receive(buffer, sizeof buffer, 100);
    if (n > 0)
      received.emplace_back(buffer, buffer + n);
    else
      ++idle;
  }
  ASSERT_EQ(sim.wait(), 0) << sim.err();
  recorder.postStop();
  ASSERT_TRUE(recorder.wait(2000));
  ASSERT_GE(received.size(), 60u);  // 60 data packets and the status packets sent meanwhile

  CaptureReader reader;
  ASSERT_TRUE(reader.open(path_)) << reader.error();
  CapturedDatagram d;
  std::size_t n = 0;
  while (reader.next(d)) {
    ASSERT_LT(n, received.size());
    EXPECT_EQ(d.sourceIp, 0x7F000002u);  // from the sensor's address
    ASSERT_EQ(d.size, received[n].size());
    EXPECT_TRUE(std::equal(received[n].begin(), received[n].end(), d.payload)) << "packet " << n;
    ++n;
  }
  EXPECT_EQ(n, received.size());
}

// With no traffic at all the stop message still ends the recording at once,
// leaving a valid, empty capture; a second recording can follow.
TEST_F(CaptureRecorderTest, StopsWithoutWaitingForAPacket) {
  CaptureRecorder recorder;
  ASSERT_TRUE(recorder.start({path_, "udp port " + std::to_string(freeUdpPort()), "lo"}));
  EXPECT_FALSE(recorder.start({path_, "udp port 1", "lo"}));  // one at a time
  usleep(100000);
  recorder.postStop();
  ASSERT_TRUE(recorder.wait(1000));
  if (!recorder.error().empty()) GTEST_SKIP() << "cannot capture on lo here: " << recorder.error();
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
