// The headless tool against the simulated sensor, each as its own process on
// loopback with ports of its own: live revolutions, status packets, a
// configuration change, a capture written and exported, and the tool's
// refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>

#include "LoopbackTestSupport.h"
#include "PacketFormat.h"
#include "ProcessTestSupport.h"
#include "StatusPacket.h"
#include "UdpSocket.h"

using namespace z540k;
using namespace z540k::test;

namespace {

const std::string kSim = Z540K_SIM_PATH;
const std::string kTool = Z540K_TOOL_PATH;

struct Ports {
  std::string data = std::to_string(freeUdpPort());
  std::string status = std::to_string(freeUdpPort());
  std::string sensor = std::to_string(freeUdpPort());
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::string tempPath(const std::string& name) { return "/tmp/z540k-" + std::to_string(::getpid()) + "-" + name; }

}  // namespace

// Every revolution the simulator sends arrives with its point count: 120
// blocks of 30 measurements per turn in the 1.7 layout, plus the closing
// block carried between records.
TEST(ToolWithSimulatorTest, ListenReceivesEveryRevolution) {
  const Ports p;
  Process listen({kTool, "listen", "--port", p.data, "--layout", "1.7", "--seconds", "15", "--frames", "10"});
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor,
               "--status-to-data-port", "--count", "101"});
  ASSERT_EQ(sim.wait(), 0) << sim.err();
  ASSERT_EQ(listen.wait(), 0) << listen.err();
  const auto out = lines(listen.out());
  int revolutions = 0;
  const std::regex line("revolution (\\d+): (\\d+) points, azimuth 0\\.00\\.\\.359\\.90, time (\\d+)\\.\\.(\\d+)");
  for (const auto& l : out) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) continue;
    ++revolutions;
    EXPECT_EQ(std::stoi(m[1]), revolutions);
    EXPECT_EQ(std::stoi(m[2]), 3630) << l;
    EXPECT_LT(std::stoull(m[3]), std::stoull(m[4]));
  }
  EXPECT_EQ(revolutions, 10) << listen.out();
  ASSERT_FALSE(out.empty());
  EXPECT_NE(out.back().find("datagrams: 101 data,"), std::string::npos) << out.back();
  EXPECT_NE(out.back().find("10 revolutions; 0 dropped by the kernel"), std::string::npos) << out.back();
}

// status --json shows the status the simulator was started with.
TEST(ToolWithSimulatorTest, StatusAsJson) {
  const Ports p;
  Process status({kTool, "status", "--port", p.status, "--json", "--count", "1", "--seconds", "10"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor,
               "--rpm", "1200", "--seconds", "3"});
  ASSERT_EQ(status.wait(), 0) << status.err();
  sim.interrupt();
  EXPECT_EQ(sim.wait(), 0);
  const auto out = lines(status.out());
  ASSERT_EQ(out.size(), 1u) << status.out();
  const std::string& json = out[0];
  EXPECT_NE(json.find("\"destIp\":[127,0,0,1]"), std::string::npos) << json;
  const int data = std::stoi(p.data), st = std::stoi(p.status);
  EXPECT_NE(json.find("\"dataPort\":[" + std::to_string(data >> 8) + "," + std::to_string(data & 0xFF) + "]"),
            std::string::npos);
  EXPECT_NE(json.find("\"motorSpeed\":1200,\"runState\":0"), std::string::npos) << json;
  EXPECT_NE(json.find("," + p.data + "," + p.status + ","), std::string::npos) << json;  // values 7 and 8
  (void)st;
}

// A network settings packet built on the last status packet and sent to the
// sensor's address changes what its next status packets say.
TEST(ToolWithSimulatorTest, NetworkSettingsPacketChangesTheStatus) {
  const Ports p;
  UdpSocket statusSocket;
  ASSERT_TRUE(statusSocket.create() && statusSocket.setReuseAddress() && statusSocket.bind(std::stoi(p.status)));
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor,
               "--rpm", "600", "--seconds", "12"});
  std::uint8_t buffer[2048];
  auto nextStatus = [&](SettingData& s) {
    std::vector<int> values;
    for (int tries = 0; tries < 60; ++tries) {
      const long n = statusSocket.receive(buffer, sizeof buffer, 100);
      if (n > 0 && decodeStatusPacket(buffer, static_cast<std::size_t>(n), s, values)) return true;
    }
    return false;
  };
  SettingData before;
  ASSERT_TRUE(nextStatus(before));
  EXPECT_EQ(int{before.motorSpeed}, 600);

  std::array<std::uint8_t, 1206> packet;
  std::copy(buffer, buffer + packet.size(), packet.begin());
  const std::uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
  std::copy(header, header + 8, packet.begin());
  packet[8] = 0x01;  // 300 rpm
  packet[9] = 0x2C;
  packet[1204] = 0x0F;
  packet[1205] = 0xF0;
  LoopbackSender toSensor("127.0.0.2");
  ASSERT_TRUE(toSensor.send(static_cast<std::uint16_t>(std::stoi(p.sensor)), packet));

  SettingData after{};
  bool changed = false;
  for (int i = 0; i < 5 && !changed; ++i) changed = nextStatus(after) && after.motorSpeed == 300;
  EXPECT_TRUE(changed) << "motor speed still " << after.motorSpeed;
  sim.interrupt();
  EXPECT_EQ(sim.wait(), 0);
  EXPECT_NE(sim.err().find("applied"), std::string::npos) << sim.err();
}

// A capture written by the simulator exports to CSV with the scene's points:
// the right-hand wall stands 5 m to the right (500 cm), and listening to the
// same capture replayed writes the very same CSV.
TEST(ToolWithSimulatorTest, WrittenCaptureExportsTheScene) {
  const std::string capture = tempPath("scene.pcap"), csv = tempPath("scene.csv"), live = tempPath("live.csv");
  const Ports p;
  Process write({kSim, "--quiet", "--write-pcap", capture, "--seconds", "1", "--layout", "1.7"});
  ASSERT_EQ(write.wait(), 0) << write.err();
  Process exportCsv({kTool, "export-csv", capture, csv, "--layout", "1.7", "--view-mode", "2"});
  ASSERT_EQ(exportCsv.wait(), 0) << exportCsv.err();
  EXPECT_NE(exportCsv.out().find("wrote 9 frames"), std::string::npos) << exportCsv.out();

  const auto rows = lines(readFile(csv));
  ASSERT_GT(rows.size(), 1u);
  EXPECT_EQ(rows[0], "FreamID,Points_X,Points_Y,Points_Z,intensity,azimuth,distance,timestamp");
  int wallPoints = 0, lastFrame = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    std::istringstream in(rows[i]);
    std::string field;
    std::vector<double> v;
    while (std::getline(in, field, ',')) v.push_back(std::stod(field));
    ASSERT_EQ(v.size(), 8u) << rows[i];
    lastFrame = static_cast<int>(v[0]);
    const double azimuth = v[5];
    if (azimuth > 95 && azimuth < 115 && v[6] > 0) {  // past the window, before the corner
      EXPECT_NEAR(v[1], 500.0, 2.0) << rows[i];  // x of the wall at +5 m
      ++wallPoints;
    }
  }
  EXPECT_EQ(lastFrame, 9);
  EXPECT_GT(wallPoints, 9 * 150);

  // The same datagrams live: replayed, received by listen --csv.
  Process listen({kTool, "listen", "--port", p.data, "--layout", "1.7", "--view-mode", "2", "--csv", live,
                  "--seconds", "15", "--frames", "9"});
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  Process replay({kSim, "--quiet", "--replay", capture, "--speed", "4", "--data-port", p.data, "--status-port",
                  p.status, "--sensor-port", p.sensor});
  ASSERT_EQ(replay.wait(), 0) << replay.err();
  ASSERT_EQ(listen.wait(), 0) << listen.err();
  EXPECT_EQ(readFile(live), readFile(csv));
  std::remove(capture.c_str());
  std::remove(csv.c_str());
  std::remove(live.c_str());
}

// Bad capture files: a clear line naming the fault and a non-zero exit; a
// capture damaged after some records still exports those records.
TEST(ToolWithSimulatorTest, BadCapturesAreRefusedClearly) {
  const std::string good = tempPath("good.pcap"), bad = tempPath("bad.pcap"), csv = tempPath("bad.csv");
  Process write({kSim, "--quiet", "--write-pcap", good, "--seconds", "1", "--layout", "1.7"});
  ASSERT_EQ(write.wait(), 0) << write.err();
  const std::string bytes = readFile(good);
  ASSERT_GT(bytes.size(), 100000u);
  auto writeBad = [&](const std::string& content) { std::ofstream(bad, std::ios::binary) << content; };
  auto exportBad = [&](const std::string& says) {
    Process run({kTool, "export-csv", bad, csv, "--layout", "1.7"});
    EXPECT_EQ(run.wait(), 1) << says;
    const auto errLines = lines(run.err());
    EXPECT_EQ(errLines.size(), 1u) << run.err();
    EXPECT_NE(run.err().find(says), std::string::npos) << run.err();
    return run.out();
  };
  writeBad("");
  exportBad("empty");
  writeBad(std::string("\x0A\x0D\x0D\x0A", 4) + std::string(60, '\0'));
  exportBad("pcapng");
  std::string unknownLink = bytes.substr(0, 24);
  unknownLink[20] = 99;
  writeBad(unknownLink);
  exportBad("link type");
  // Cut in the middle of a record: the frames before it are written.
  writeBad(bytes.substr(0, bytes.size() / 2 + 7));
  const std::string summary = exportBad("record");
  EXPECT_NE(summary.find("wrote 4 frames"), std::string::npos) << summary;
  EXPECT_GT(lines(readFile(csv)).size(), 4u * 3600u);
  // An absurd record length in the second record.
  std::string absurd = bytes;
  const std::size_t second = 24 + 16 + 1248;
  absurd[second + 8] = '\xFF';
  absurd[second + 9] = '\xFF';
  absurd[second + 10] = '\xFF';
  writeBad(absurd);
  exportBad("record 1");
  std::remove(good.c_str());
  std::remove(bad.c_str());
  std::remove(csv.c_str());
}

// Every failure is one clear line on stderr and a non-zero exit.
TEST(ToolWithSimulatorTest, FailuresGiveOneLineAndNonZeroExit) {
  const std::string text = tempPath("not-a-capture.pcap");
  std::ofstream(text) << "hello, this is text\n";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  UdpSocket holder;  // a port held without address reuse
  ASSERT_TRUE(holder.create() && holder.bind(0));
  const std::string heldPort = std::to_string(holder.localPort());
  const std::vector<Case> cases = {
      {{kTool, "export-csv", "/nonexistent/x.pcap", "/tmp/x.csv"}, 1, "/nonexistent/x.pcap"},
      {{kTool, "export-csv", text, "/tmp/x.csv"}, 1, "not"},
      {{kTool, "export-csv", text}, 2, "needs CAPTURE and OUT.csv"},
      {{kTool, "export-csv", text, "/tmp/x.csv", "--layout", "1.8"}, 2, "--layout"},
      {{kTool, "export-csv", text, "/tmp/x.csv", "--return-mode", "4"}, 2, "--return-mode"},
      {{kTool, "listen", "--port", "70000"}, 2, "--port"},
      {{kTool, "listen", "--port", heldPort, "--seconds", "1"}, 1, "bind"},
      {{kTool, "status", "--bogus"}, 2, "--bogus"},
      {{kTool, "frobnicate"}, 2, "unknown command"},
  };
  for (const Case& c : cases) {
    Process run(c.args);
    EXPECT_EQ(run.wait(), c.code) << c.args[1] << " " << run.err();
    const auto errLines = lines(run.err());
    ASSERT_EQ(errLines.size(), 1u) << run.err();
    EXPECT_NE(errLines[0].find(c.says), std::string::npos) << errLines[0];
  }
  for (const char* command : {"export-csv", "listen", "status"}) {
    Process help({kTool, command, "--help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(help.out().find("usage: z540k-tool"), std::string::npos);
  }
  std::remove(text.c_str());
}
