// One status frame captured with libpcap from the simulated sensor on
// loopback: payload and addresses read through the adapter's link type
// (Ethernet on "lo", Linux cooked on "any"); the wait ends on time and on
// cancel. Skipped where this machine cannot capture.
#include <gtest/gtest.h>

#include <chrono>

#include "LoopbackTestSupport.h"
#include "PacketFormat.h"
#include "ProcessTestSupport.h"
#include "StatusFrameCapture.h"
#include "UdpSocket.h"

using namespace z540k;
using namespace z540k::test;

namespace {

const std::string kSim = Z540K_SIM_PATH;

// Skips the test when `device` cannot be captured on here (no rights, no
// such adapter); a capture that could open says so through its result.
#define SKIP_IF_NO_CAPTURE(result, error) \
  if ((result) == StatusFrameResult::Failed) GTEST_SKIP() << "cannot capture here: " << (error)

}  // namespace

TEST(StatusFrameCaptureTest, CapturesTheSimulatorsStatusWithItsAddresses) {
  for (const char* device : {"lo", "any"}) {
    SCOPED_TRACE(device);
    const HeldUdpPort dataPort, statusPort;
    UdpSocket sensorHolder;
    ASSERT_TRUE(sensorHolder.create() && sensorHolder.setReuseAddress() && sensorHolder.bind(0));
    const std::uint16_t sensorPort = sensorHolder.localPort();
    Process sim({kSim, "--quiet", "--data-port", std::to_string(dataPort.port()), "--status-port",
                 std::to_string(statusPort.port()), "--sensor-port", std::to_string(sensorPort), "--rpm", "600",
                 "--seconds", "60"});
    StatusFrameCaptureSettings settings;
    settings.device = device;
    settings.statusPort = statusPort.port();
    settings.timeoutMs = 20000;
    CapturedStatusFrame frame;
    std::string error;
    const StatusFrameResult result = captureStatusFrame(settings, frame, error);
    sim.interrupt();
    EXPECT_EQ(sim.wait(), 0) << sim.err();
    SKIP_IF_NO_CAPTURE(result, error);
    ASSERT_EQ(result, StatusFrameResult::Captured) << error;
    EXPECT_TRUE(std::equal(kStatusHeader.begin(), kStatusHeader.end(), frame.payload.begin()));
    EXPECT_EQ(loadBE16(frame.payload.data() + 8), 600);
    EXPECT_EQ(frame.addresses.sensorIp, (std::array<std::uint8_t, 4>{127, 0, 0, 2}));
    EXPECT_EQ(frame.addresses.sensorPort, sensorPort);
    EXPECT_EQ(frame.addresses.hostIp, (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_EQ(frame.destPort, statusPort.port());
  }
}

// No sensor: the wait ends at its bound with a reason; a cancel ends it at
// once; an adapter that does not exist fails with a reason.
TEST(StatusFrameCaptureTest, BoundedCancellableAndFailing) {
  const HeldUdpPort silent;
  StatusFrameCaptureSettings settings;
  settings.device = "lo";
  settings.statusPort = silent.port();
  settings.timeoutMs = 300;
  CapturedStatusFrame frame;
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  StatusFrameResult result = captureStatusFrame(settings, frame, error);
  SKIP_IF_NO_CAPTURE(result, error);
  EXPECT_EQ(result, StatusFrameResult::NoFrame);
  EXPECT_NE(error.find("no status packet on port " + std::to_string(silent.port())), std::string::npos) << error;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  int asked = 0;
  settings.timeoutMs = 60000;
  settings.keepWaiting = [&] { return ++asked < 3; };
  EXPECT_EQ(captureStatusFrame(settings, frame, error), StatusFrameResult::Cancelled);
  EXPECT_EQ(asked, 3);

  settings.device = "no-such-adapter0";
  settings.keepWaiting = nullptr;
  EXPECT_EQ(captureStatusFrame(settings, frame, error), StatusFrameResult::Failed);
  EXPECT_NE(error.find("no-such-adapter0"), std::string::npos) << error;
}
