// The program's command line and its status line.
#include <gtest/gtest.h>

#include "StartupOptions.h"
#include "StatusLine.h"

using namespace z540k;

TEST(StartupOptionsTest, ValuesAndRefusals) {
  StartupOptions o;
  std::string error;
  ASSERT_TRUE(parseStartupOptions({"--port", "2400", "--telemetry-port=2401", "--multicast", "", "--layout", "1.7",
                                   "--start", "--capture-device", "lo", "--screenshot", "a.png", "--quit-after",
                                   "2.5", "-platform", "offscreen"},
                                  o, error))
      << error;
  EXPECT_EQ(o.dataPort, 2400);
  EXPECT_EQ(o.telemetryPort, 2401);
  EXPECT_EQ(o.multicast, "");
  EXPECT_EQ(o.layout, 1);
  EXPECT_TRUE(o.start);
  EXPECT_EQ(o.captureDevice, "lo");
  EXPECT_EQ(o.screenshot, "a.png");
  EXPECT_EQ(o.quitAfterSeconds, 2.5);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--port", "0"}, {"--port", "65536"}, {"--port", "12x"}, {"--port"},
        {"--multicast", "224.1.1"}, {"--layout", "1.8"}, {"--quit-after", "-1"}, {"--quit-after", "nan"},
        {"--screenshot", "a.png"}, {"--start=yes"}, {"--unknown"}}) {
    StartupOptions refused;
    error.clear();
    EXPECT_FALSE(parseStartupOptions(bad, refused, error)) << bad[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

// The line tells at a glance whether data flows, and why not.
TEST(StatusLineTest, StatesAndFigures) {
  ReceptionFigures f;
  f.dataPort = 2368;
  EXPECT_EQ(statusLineText(f).rfind("Not receiving (press Lidar)", 0), 0u);
  f.lidarOn = true;
  EXPECT_EQ(statusLineText(f).rfind("No data on port 2368", 0), 0u);
  f.datagramsLastSecond = 100;
  f.revolutionsPerSecond = 10;
  f.pointsPerFrame = 3630;
  f.datagrams = 1234;
  f.unrecognised = 5;
  f.kernelDrops = 6;
  f.displayDrops = 7;
  const std::string line = statusLineText(f);
  EXPECT_EQ(line.rfind("Receiving on port 2368", 0), 0u);
  for (const char* part : {"10.0 rev/s", "3630 points/frame", "1234 datagrams", "5 unrecognised",
                           "6 dropped by the kernel", "7 frames dropped for display"})
    EXPECT_NE(line.find(part), std::string::npos) << part;
  f.setupError = "port 2368 is already in use by another program";
  EXPECT_EQ(statusLineText(f).rfind("Not receiving: port 2368 is already in use by another program", 0), 0u);
}
