// The headless tool against the simulated sensor, each as its own process on
// loopback with ports of its own: live revolutions, status packets, a
// configuration change, configure and its snapshots, a capture written and
// exported (and one changed on disk while exported, in this process), and the
// tool's refusals.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <regex>
#include <sstream>

#include "CaptureExport.h"
#include "CaptureFile.h"
#include "CaptureMergeSupport.h"
#include "FullDiskTestSupport.h"
#include "LoopbackTestSupport.h"
#include "NetworkSettingsPacket.h"
#include "PacketEncoders.h"
#include "PacketFormat.h"
#include "ProcessTestSupport.h"
#include "ScanPacketStream.h"
#include "StatusPacket.h"
#include "StatusSnapshots.h"
#include "UdpSocket.h"

using namespace z540k;
using namespace z540k::test;

namespace {

const std::string kSim = Z540K_SIM_PATH;
const std::string kTool = Z540K_TOOL_PATH;

// A UDP port held at the wildcard address with address reuse. The simulated
// sensor refuses a port some socket binds exactly at its own address
// (127.0.0.2), so its port is held here instead; it binds beside.
UdpSocket heldAtWildcard() {
  UdpSocket s;
  if (!(s.create() && s.setReuseAddress() && s.bind(0))) ADD_FAILURE() << s.lastError();
  return s;
}

// Ports held for the whole test: the tools bind the data and status ports
// beside HeldUdpPort's socket.
struct Ports {
  HeldUdpPort dataPort, statusPort;
  UdpSocket sensorHolder = heldAtWildcard();
  std::string data = std::to_string(dataPort.port());
  std::string status = std::to_string(statusPort.port());
  std::string sensor = std::to_string(sensorHolder.localPort());
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The summary line on stderr that holds `start`, from `start` on (empty when
// there is none): stdout holds only the data.
std::string summaryIn(const std::string& err, const std::string& start) {
  for (const std::string& l : lines(err))
    if (const auto at = l.find(start); at != std::string::npos) return l.substr(at);
  return "";
}

// Whether `json` is one JSON value, as python3 -m json.tool reads it.
bool validJson(const std::string& json) {
  static int serial = 0;
  const std::string file = "/tmp/z540k-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".json";
  std::ofstream(file) << json;
  Process check({"/usr/bin/python3", "-m", "json.tool", file});
  const bool valid = check.wait() == 0;
  std::remove(file.c_str());
  return valid;
}

std::string tempPath(const std::string& name) { return "/tmp/z540k-" + std::to_string(::getpid()) + "-" + name; }

// Files the CSV writer left beside `path` (its temporary files).
std::vector<std::string> leftoversBeside(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string prefix = "." + path.substr(slash + 1) + ".";
  std::vector<std::string> found;
  if (DIR* dir = ::opendir(path.substr(0, slash).c_str())) {
    while (const dirent* e = ::readdir(dir))
      if (std::string(e->d_name).rfind(prefix, 0) == 0) found.push_back(e->d_name);
    ::closedir(dir);
  }
  return found;
}

// A status packet in the short layout (byte 1202 = 3) with this motor speed.
std::array<std::uint8_t, kStatusPacketSize> shortStatusPacket(std::uint16_t rpm) {
  std::array<std::uint8_t, kStatusPacketSize> p{};
  std::copy(kStatusHeader.begin(), kStatusHeader.end(), p.begin());
  p[status_offset::kShortMotorSpeed] = static_cast<std::uint8_t>(rpm >> 8);
  p[status_offset::kShortMotorSpeed + 1] = static_cast<std::uint8_t>(rpm);
  p[status_offset::kConfigurationFormat] = status_offset::kShortConfigurationFormat;
  return p;
}

}  // namespace

// Every revolution the simulator sends arrives with its point count: 120
// blocks of 30 measurements per turn in the 1.7 layout, plus the closing
// block carried between records.
TEST(ToolWithSimulatorTest, ListenReceivesEveryRevolution) {
  const Ports p;
  Process listen({kTool, "listen", "--port", p.data, "--layout", "1.7", "--seconds", "120", "--frames", "10"});
  ASSERT_TRUE(listen.waitForUdpBind(p.dataPort)) << listen.err();
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor,
               "--status-to-data-port", "--count", "101"});
  ASSERT_EQ(sim.wait(), 0) << sim.err();
  ASSERT_EQ(listen.wait(), 0) << listen.err();
  const auto out = lines(listen.out());
  int revolutions = 0;
  const std::regex line(
      "revolution (\\d+): (\\d+) points, azimuth 0\\.00\\.\\.359\\.90, time (\\d+)\\.\\.(\\d+), 0 lost on the wire");
  for (const auto& l : out) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) continue;
    ++revolutions;
    EXPECT_EQ(std::stoi(m[1]), revolutions);
    EXPECT_EQ(std::stoi(m[2]), 3630) << l;
    EXPECT_LT(std::stoull(m[3]), std::stoull(m[4]));
  }
  EXPECT_EQ(revolutions, 10) << listen.out();
  EXPECT_EQ(out.size(), 10u) << listen.out();  // the revolutions alone
  const std::string summary = summaryIn(listen.err(), "datagrams: ");
  EXPECT_NE(summary.find("datagrams: 101 data,"), std::string::npos) << listen.err();
  EXPECT_NE(summary.find("10 revolutions; 0 dropped by the kernel"), std::string::npos) << summary;
}

// listen into a regular file: a burst of 200 revolutions, far more than the
// receiver's usual few in flight, all written, in order; the lines reach the
// file while listen runs (flushed within a second), and Ctrl+C ends it with
// the summary, nothing dropped.
TEST(ToolWithSimulatorTest, ListenWritesEveryRevolutionOfABurst) {
  const Ports p;
  Process listen({kTool, "listen", "--port", p.data, "--layout", "1.7", "--seconds", "120"});
  ASSERT_TRUE(listen.waitForUdpBind(p.dataPort)) << listen.err();
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor, "--rate",
               "50000", "--count", "2001"});
  ASSERT_EQ(sim.wait(), 0) << sim.err();
  EXPECT_TRUE(listen.waitForOutput("revolution 200: ", 20000)) << listen.err();
  listen.interrupt();
  ASSERT_EQ(listen.wait(), 0) << listen.err();
  const auto out = lines(listen.out());
  int revolutions = 0;
  for (const auto& l : out) {
    if (l.rfind("revolution ", 0) != 0) continue;
    EXPECT_EQ(l.rfind("revolution " + std::to_string(++revolutions) + ": ", 0), 0u) << l;
  }
  EXPECT_EQ(revolutions, 200);
  const std::string summary = summaryIn(listen.err(), "datagrams: ");
  EXPECT_NE(summary.find("; 200 revolutions; 0 dropped by the kernel"), std::string::npos) << listen.err();
  EXPECT_NE(summary.find(", 0 revolutions dropped while the output was behind"), std::string::npos) << summary;
}

// listen --csv on a disk that fills up (a 64 KB file size limit) ends at the
// first failed write, long before the burst's 200 revolutions are taken,
// naming the file and the reason; the earlier file stays.
TEST(ToolWithSimulatorTest, ListenEndsWhenItsCsvCannotBeWritten) {
  const Ports p;
  const std::string csv = tempPath("listen-full.csv");
  std::ofstream(csv) << "an earlier export\n";
  std::unique_ptr<Process> listen;
  {
    const FileSizeLimit limit(64 << 10);
    ASSERT_TRUE(limit.active());
    listen = std::make_unique<Process>(std::vector<std::string>{kTool, "listen", "--port", p.data, "--layout", "1.7",
                                                                "--seconds", "120", "--csv", csv});
  }
  ASSERT_TRUE(listen->waitForUdpBind(p.dataPort)) << listen->err();
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor, "--rate",
               "50000", "--count", "2001"});
  ASSERT_EQ(sim.wait(), 0) << sim.err();
  EXPECT_EQ(listen->wait(20000), 1) << listen->err();
  EXPECT_EQ(lines(listen->err()).at(0), "z540k-tool listen: writing " + csv + " failed: " + std::strerror(EFBIG) +
                                            "; " + csv + " was left unchanged");
  std::smatch taken;
  const std::string out = summaryIn(listen->err(), "datagrams: ");
  ASSERT_TRUE(std::regex_search(out, taken, std::regex("; (\\d+) revolutions;"))) << out;
  EXPECT_LT(std::stoi(taken[1]), 100);
  EXPECT_EQ(readFile(csv), "an earlier export\n");
  EXPECT_TRUE(leftoversBeside(csv).empty());
  std::remove(csv.c_str());
}

// listen with its stdout in a pipe that nobody reads, fed far faster than it
// prints: --seconds still ends it, its memory stays flat and the revolutions
// it could not take are counted. A second listen on the port is refused.
TEST(ToolWithSimulatorTest, ListenEndsOnTimeIntoAnUnreadPipe) {
  const Ports p;
  int pipeEnds[2];
  ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
  ::fcntl(pipeEnds[0], F_SETPIPE_SZ, 4096);  // full after the first lines
  const std::string errPath = tempPath("unread-pipe.err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const char* argv[] = {kTool.c_str(), "listen", "--port", p.data.c_str(), "--seconds", "3", nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, kTool.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  ASSERT_EQ(spawned, 0);
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor, "--rate",
               "50000", "--seconds", "120"});
  int status = 0;
  bool ended = false, secondRefused = false;
  long peakKb = 0;  // the last peak memory use seen before it ended
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    if (!secondRefused && wildcardUdpBound(p.dataPort)) {
      Process second({kTool, "listen", "--port", p.data, "--seconds", "1"});
      EXPECT_EQ(second.wait(), 1);
      EXPECT_EQ(second.err(), "z540k-tool listen: port " + p.data + " is already in use by another program\n");
      secondRefused = true;
    }
    const std::string proc = readFile("/proc/" + std::to_string(pid) + "/status");
    const auto at = proc.find("VmHWM:");
    if (at != std::string::npos) peakKb = std::stol(proc.substr(at + 6));
    ended = ::waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  sim.interrupt();
  EXPECT_EQ(sim.wait(), 0) << sim.err();
  std::string out(65536, '\0');
  ::fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
  out.resize(std::max<ssize_t>(0, ::read(pipeEnds[0], out.data(), out.size())));
  ::close(pipeEnds[0]);
  const std::string err = readFile(errPath);
  std::remove(errPath.c_str());
  ASSERT_TRUE(ended) << "listen --seconds 3 still ran after 15 s";
  EXPECT_TRUE(secondRefused);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err;
  EXPECT_GT(peakKb, 0);
  EXPECT_LT(peakKb, 100 * 1024);
  EXPECT_NE(out.find("revolution 1: "), std::string::npos) << out;
  // The summary, on stdout or (found no room there) on stderr.
  std::smatch m;
  const std::string summaries = out + err;
  ASSERT_TRUE(std::regex_search(summaries, m, std::regex("(\\d+) revolutions dropped while the output was behind")))
      << err;
  EXPECT_GT(std::stoull(m[1]), 0u) << err;
}

// listen --csv into a pipe whose reader reads nothing until listen's time is
// up, so that a backlog waits at the end: the revolutions handed over are
// all written before it ends, those that found no room are counted, file and
// count make up every revolution received, and the exit code says some were
// not written.
TEST(ToolWithSimulatorTest, ListenWritesItsCsvBacklogAndCountsTheRest) {
  const Ports p;
  const std::string fifo = tempPath("listen.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  Process listen({kTool, "listen", "--port", p.data, "--layout", "1.7", "--seconds", "3", "--csv", fifo});
  ASSERT_TRUE(listen.waitForUdpBind(p.dataPort)) << listen.err();
  // 600 revolutions, far more than the hand-over holds.
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor, "--rate",
               "50000", "--count", "6001"});
  EXPECT_TRUE(listen.waitFor([&] { return listen.err().find("the time is up") != std::string::npos; }, 20000))
      << listen.err();
  ::fcntl(reader, F_SETFL, 0);
  std::string csv;
  char buffer[1 << 16];
  for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) csv.append(buffer, static_cast<std::size_t>(n));
  ::close(reader);
  std::remove(fifo.c_str());
  const int exitCode = listen.wait(20000);
  EXPECT_EQ(sim.wait(), 0) << sim.err();

  // The frames of the file: FreamID 1, 2, ... in order.
  unsigned long long frames = 0;
  std::istringstream rows(csv);
  std::string row;
  std::getline(rows, row);  // the header
  while (std::getline(rows, row)) {
    const unsigned long long id = std::stoull(row.substr(0, row.find(',')));
    if (id == frames + 1) ++frames;
    ASSERT_EQ(id, frames) << row;
  }
  std::smatch m;
  const std::string out = summaryIn(listen.err(), "datagrams: ");
  ASSERT_TRUE(
      std::regex_search(out, m,
                        std::regex("\\((\\d+) received\\); (\\d+) revolutions; 0 dropped by the kernel, 0 lost on "
                                   "the wire, (\\d+) revolutions dropped while the output was behind")))
      << out;
  const unsigned long long datagrams = std::stoull(m[1]), taken = std::stoull(m[2]), missed = std::stoull(m[3]);
  EXPECT_EQ(frames, taken);
  // Every revolution the datagrams closed (10 packets each) is in the file or counted.
  EXPECT_EQ(taken + missed, (datagrams - 1) / 10) << out;
  EXPECT_GT(missed, 0u);
  EXPECT_EQ(exitCode, missed > 0 ? 1 : 0) << listen.err();
  EXPECT_NE(listen.err().find(std::to_string(missed) + " of " + std::to_string(taken + missed) +
                              " revolutions received were not written to " + fifo),
            std::string::npos)
      << listen.err();
}

// status --json shows the status the simulator was started with, one object
// per line, in either layout; the short layout only with the fields it
// carries. The summary goes to stderr. A long --seconds is honoured.
TEST(ToolWithSimulatorTest, StatusAsJson) {
  for (const bool shortLayout : {false, true}) {
    SCOPED_TRACE(shortLayout ? "short layout" : "long layout");
    const Ports p;
    Process status({kTool, "status", "--port", p.status, "--json", "--count", "1", "--seconds", "3000000"});
    ASSERT_TRUE(status.waitForUdpBind(p.statusPort)) << status.err();
    std::vector<std::string> simArgs = {
        kSim,    "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor,
        "--rpm", "1200",    "--seconds",   "120"};
    if (shortLayout) simArgs.push_back("--short-status");
    Process sim(simArgs);
    ASSERT_EQ(status.wait(), 0) << status.err();
    sim.interrupt();
    EXPECT_EQ(sim.wait(), 0);
    const auto out = lines(status.out());
    ASSERT_EQ(out.size(), 1u) << status.out();
    const std::string& json = out[0];
    EXPECT_NE(status.err().find("status packets: 1 (" + std::string(shortLayout ? "1" : "0") + " short layout)"),
              std::string::npos)
        << status.err();
    EXPECT_TRUE(validJson(json)) << json;
    const std::string sender = "{\"sourceIp\":\"127.0.0.2\",\"sourcePort\":";
    ASSERT_EQ(json.rfind(sender, 0), 0u) << json;
    const std::string fields = json.substr(json.find(',', sender.size()) + 1);
    if (shortLayout) {
      EXPECT_EQ(fields, "\"layout\":\"short\",\"sensorIp\":\"127.0.0.2\",\"dataPort\":" + p.data +
                            ",\"destIp\":\"127.0.0.1\",\"devicePort\":" + p.status + ",\"motorSpeed\":1200}");
      continue;
    }
    EXPECT_EQ(json.find("layout"), std::string::npos) << json;
    EXPECT_EQ(fields.rfind("\"destIp\":\"127.0.0.1\",\"dataPort\":" + p.data + ",", 0), 0u) << json;
    EXPECT_NE(json.find("\"motorSpeed\":1200,\"runState\":0"), std::string::npos) << json;
    EXPECT_NE(json.find("\"dataPort\":" + p.data + ",\"statusPort\":" + p.status + ","), std::string::npos)
        << json;  // the values
  }
}

// status --values shows a packet's values as the windows show them: signed
// fields in two's complement, the range to the hundredth; a short-layout
// packet with the Refresh of that layout.
TEST(ToolWithSimulatorTest, StatusValuesAsTheWindowsShowThem) {
  const HeldUdpPort port;
  Process status({kTool, "status", "--port", std::to_string(port.port()), "--values", "--json", "--count", "2",
                  "--seconds", "60"});
  ASSERT_TRUE(status.waitForUdpBind(port)) << status.err();
  sim::SensorStatus s;
  s.horizontalOffset = -1, s.encoderZero = -150, s.measuringRange = 12345, s.ppsDeviation = 0xFFFF;
  s.board2HighVoltageAdjust = 0xFFFE, s.motorSpeed = 600;
  LoopbackSender sender;
  ASSERT_TRUE(sender.send(port, sim::encodeStatusPacket(s)));
  ASSERT_TRUE(sender.send(port, shortStatusPacket(1200)));
  ASSERT_EQ(status.wait(), 0) << status.err();
  const auto out = lines(status.out());
  ASSERT_EQ(out.size(), 2u) << status.out();
  for (const char* value : {"\"horizontalOffset\":-0.01", "\"encoderZero\":-1.5", "\"range\":123.45",
                            "\"ppsDeviation\":-0.01", "\"ppsAngleLocked\":0", "\"board2HighVoltageAdjust\":-2",
                            "\"sensorIp\":\"127.0.0.2\"", "\"motorSpeedChoice\":\" 10 HZ\"", "\"motorState\":\"Run\""})
    EXPECT_NE(out[0].find(value), std::string::npos) << value << " in " << out[0];
  EXPECT_TRUE(validJson(out[0]) && validJson(out[1])) << status.out();
  EXPECT_NE(out[1].find(",\"layout\":\"short\",\"sensorIp\":\"0.0.0.0\","), std::string::npos) << out[1];
  EXPECT_NE(out[1].find("\"motorSpeedChoice\":\" 20 HZ\"}"), std::string::npos) << out[1];
}

// status reports the datagrams the kernel dropped while it did not read:
// stopped, it misses a flood; the first packet after it says how many went.
TEST(ToolWithSimulatorTest, StatusReportsKernelDrops) {
  const HeldUdpPort port;
  Process status({kTool, "status", "--port", std::to_string(port.port())});
  ASSERT_TRUE(status.waitForUdpBind(port)) << status.err();
  LoopbackSender sender;
  ASSERT_TRUE(sender.send(port, shortStatusPacket(300)));
  ASSERT_TRUE(status.waitForOutput("motorSpeed               300\n")) << status.out() << status.err();
  EXPECT_NE(status.out().find("layout                   short"), std::string::npos) << status.out();

  status.signal(SIGSTOP);
  ASSERT_TRUE(status.waitFor([&] { return status.stopped(); }));
  const auto flood = shortStatusPacket(600);
  for (int i = 0; i < 4000; ++i) sender.send(port, flood);  // far more than a receive buffer holds
  status.signal(SIGCONT);
  const auto last = shortStatusPacket(1234);
  ASSERT_TRUE(status.waitFor([&] {
    sender.send(port, last);
    return status.out().find("motorSpeed               1234\n") != std::string::npos;
  })) << status.err();
  status.interrupt();
  ASSERT_EQ(status.wait(), 0) << status.err();
  const std::string summary = summaryIn(status.err(), "status packets: ");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(summary, m,
                               std::regex("status packets: (\\d+) \\(\\1 short layout\\), other "
                                          "datagrams: 0 \\(\\1 received\\); (\\d+) dropped by the kernel")))
      << status.err();
  EXPECT_GT(std::stoul(m[2]), 0u) << summary;
}

// Empty datagrams and the largest a UDP datagram can be, sent from the
// sensor's address between packets, are among listen's and status's other
// datagrams and in what they received; the packets they start with are not
// taken from them. Everything sent before the last packet is read before it.
TEST(ToolWithSimulatorTest, ListenAndStatusCountEveryDatagram) {
  const Ports p;
  Process listen({kTool, "listen", "--port", p.data, "--layout", "1.7", "--frames", "1", "--seconds", "120"});
  Process status({kTool, "status", "--port", p.status, "--count", "3", "--seconds", "120"});
  ASSERT_TRUE(listen.waitForUdpBind(p.dataPort)) << listen.err();
  ASSERT_TRUE(status.waitForUdpBind(p.statusPort)) << status.err();
  LoopbackSender sender("127.0.0.1", "127.0.0.2");
  const std::vector<std::uint8_t> empty;
  sim::ScanPacketStream stream(sim::ScanPattern{});
  for (int i = 0; i <= 30; ++i) {  // the 31st packet closes the first revolution
    const auto packet = stream.next();
    if (i % 10 == 1) {
      ASSERT_TRUE(sender.send(p.dataPort, empty) && sender.send(p.dataPort, largestDatagramStartingWith(packet)));
    }
    ASSERT_TRUE(sender.send(p.dataPort, packet));
  }
  const auto statusPacket = shortStatusPacket(600);
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(sender.send(p.statusPort, statusPacket) && sender.send(p.statusPort, empty) &&
                sender.send(p.statusPort, largestDatagramStartingWith(statusPacket)));
  ASSERT_TRUE(sender.send(p.statusPort, statusPacket));

  ASSERT_EQ(listen.wait(), 0) << listen.err();
  ASSERT_EQ(status.wait(), 0) << status.err();
  const std::string listened = summaryIn(listen.err(), "datagrams: "),
                    statusSummary = summaryIn(status.err(), "status packets: ");
  EXPECT_EQ(listened.rfind("datagrams: 31 data, 0 status, 0 compact, 6 other (37 received); 1 revolutions; 0 "
                           "dropped by the kernel",
                           0),
            0u)
      << listen.err();
  EXPECT_EQ(statusSummary,
            "status packets: 3 (3 short layout), other datagrams: 4 (7 received); 0 dropped by the kernel");
}

// A network settings packet built on the last status packet and sent to the
// sensor's address changes what its next status packets say.
TEST(ToolWithSimulatorTest, NetworkSettingsPacketChangesTheStatus) {
  const Ports p;
  UdpSocket statusSocket;
  ASSERT_TRUE(statusSocket.create() && statusSocket.setReuseAddress() && statusSocket.bind(std::stoi(p.status)));
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor, "--rpm",
               "600", "--seconds", "120"});
  std::uint8_t buffer[2048];
  auto nextStatus = [&](SettingData& s) {
    std::vector<int> values;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      const ReceiveResult read = statusSocket.receive(buffer, sizeof buffer, 100);
      if (read.fits(sizeof buffer) && decodeStatusPacket(buffer, read.length, s, values)) return true;
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
  EXPECT_NE(exportCsv.err().find("wrote 9 frames"), std::string::npos) << exportCsv.err();
  EXPECT_EQ(exportCsv.out(), "");

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
      EXPECT_NEAR(v[1], 500.0, 2.0) << rows[i];       // x of the wall at +5 m
      ++wallPoints;
    }
  }
  EXPECT_EQ(lastFrame, 9);
  EXPECT_GT(wallPoints, 9 * 150);

  // The same datagrams live: replayed, received by listen --csv.
  Process listen({kTool, "listen", "--port", p.data, "--layout", "1.7", "--view-mode", "2", "--csv", live, "--seconds",
                  "120", "--frames", "9"});
  ASSERT_TRUE(listen.waitForUdpBind(p.dataPort)) << listen.err();
  Process replay({kSim, "--quiet", "--replay", capture, "--speed", "4", "--data-port", p.data, "--status-port",
                  p.status, "--sensor-port", p.sensor});
  ASSERT_EQ(replay.wait(), 0) << replay.err();
  ASSERT_EQ(listen.wait(), 0) << listen.err();
  EXPECT_EQ(readFile(live), readFile(csv));
  std::remove(capture.c_str());
  std::remove(csv.c_str());
  std::remove(live.c_str());
}

// Two sensors in one capture (other addresses, rates and layouts): the export
// refuses to mix them, lists both with their packets and leaves nothing
// behind; --source picks each, byte for byte the CSV of its capture alone.
TEST(ToolWithSimulatorTest, ExportKeepsEachSensorApart) {
  const struct {
    const char *address, *layout, *rpm;
    std::string capture, alone;
  } sensors[] = {{"127.0.0.2", "1.7", "600", tempPath("a.pcap"), tempPath("a.csv")},
                 {"127.0.0.3", "1.6", "1200", tempPath("b.pcap"), tempPath("b.csv")}};
  for (const auto& s : sensors) {
    ASSERT_EQ(Process({kSim, "--quiet", "--write-pcap", s.capture, "--seconds", "1", "--bind", s.address, "--layout",
                       s.layout, "--rpm", s.rpm})
                  .wait(),
              0);
    ASSERT_EQ(Process({kTool, "export-csv", s.capture, s.alone, "--layout", s.layout}).wait(), 0);
  }
  const std::string both = tempPath("both.pcap"), csv = tempPath("both.csv");
  std::string error;
  ASSERT_TRUE(mergeCaptures({sensors[0].capture, sensors[1].capture}, both, error)) << error;

  Process mixed({kTool, "export-csv", both, csv, "--layout", "1.7"});
  EXPECT_EQ(mixed.wait(), 1);
  EXPECT_EQ(lines(mixed.err()).size(), 1u) << mixed.err();
  EXPECT_NE(mixed.err().find("127.0.0.3:2368 (2000 packets), 127.0.0.2:2368 (100 packets)"), std::string::npos)
      << mixed.err();
  EXPECT_NE(mixed.err().find("--source"), std::string::npos);
  EXPECT_TRUE(mixed.out().empty());
  // To stdout the refusal cannot keep the output as it was, and says so.
  Process piped({kTool, "export-csv", both, "-", "--layout", "1.7"});
  EXPECT_EQ(piped.wait(), 1);
  EXPECT_NE(piped.err().find("; what standard output received is incomplete"), std::string::npos) << piped.err();
  struct stat none {};
  EXPECT_NE(::stat(csv.c_str(), &none), 0);
  EXPECT_TRUE(leftoversBeside(csv).empty());

  for (const auto& s : sensors) {
    Process picked(
        {kTool, "export-csv", both, csv, "--layout", s.layout, "--source", std::string(s.address) + ":2368"});
    EXPECT_EQ(picked.wait(), 0) << picked.err();
    EXPECT_NE(picked.err().find("packets of other sensors passed over"), std::string::npos) << picked.err();
    EXPECT_TRUE(readFile(csv) == readFile(s.alone)) << s.address;
  }
  Process together({kTool, "export-csv", both, csv, "--source", "all"});
  EXPECT_EQ(together.wait(), 0) << together.err();
  for (const auto& s : sensors) {
    std::remove(s.capture.c_str());
    std::remove(s.alone.c_str());
  }
  std::remove(both.c_str());
  std::remove(csv.c_str());
}

// Bad capture files: a clear line naming the fault and a non-zero exit; a
// capture damaged after some records still exports those records, one damaged
// before any frame leaves an existing CSV as it was.
TEST(ToolWithSimulatorTest, BadCapturesAreRefusedClearly) {
  const std::string good = tempPath("good.pcap"), bad = tempPath("bad.pcap"), csv = tempPath("bad.csv");
  Process write({kSim, "--quiet", "--write-pcap", good, "--seconds", "1", "--layout", "1.7"});
  ASSERT_EQ(write.wait(), 0) << write.err();
  const std::string bytes = readFile(good);
  ASSERT_GT(bytes.size(), 100000u);
  auto writeBad = [&](const std::string& content) { std::ofstream(bad, std::ios::binary) << content; };
  // The message, and the summary when frames were written: stderr's lines.
  auto exportBad = [&](const std::string& says, std::size_t errLines = 1) {
    Process run({kTool, "export-csv", bad, csv, "--layout", "1.7"});
    EXPECT_EQ(run.wait(), 1) << says;
    EXPECT_EQ(lines(run.err()).size(), errLines) << run.err();
    EXPECT_NE(run.err().find(says), std::string::npos) << run.err();
    EXPECT_EQ(run.out(), "");
    return run.err();
  };
  const std::string kept = "an earlier export\n";
  std::ofstream(csv) << kept;
  writeBad("");
  exportBad("empty");
  writeBad(std::string("\x0A\x0D\x0D\x0A", 4) + std::string(60, '\0'));
  exportBad("pcapng");
  std::string unknownLink = bytes.substr(0, 24);
  unknownLink[20] = 99;
  writeBad(unknownLink);
  exportBad("link type");
  EXPECT_EQ(readFile(csv), kept);
  // Cut in the middle of a record: the frames before it are written.
  writeBad(bytes.substr(0, bytes.size() / 2 + 7));
  const std::string summary = exportBad("record", 2);
  EXPECT_NE(summary.find("wrote 4 frames"), std::string::npos) << summary;
  EXPECT_GT(lines(readFile(csv)).size(), 4u * 3600u);
  // An absurd record length in the second record.
  std::string absurd = bytes;
  const std::size_t second = 24 + 16 + 1248;
  absurd[second + 8] = '\xFF';
  absurd[second + 9] = '\xFF';
  absurd[second + 10] = '\xFF';
  std::ofstream(csv) << kept;
  writeBad(absurd);
  exportBad("record 1");
  EXPECT_EQ(readFile(csv), kept);
  EXPECT_TRUE(leftoversBeside(csv).empty());
  std::remove(good.c_str());
  std::remove(bad.c_str());
  std::remove(csv.c_str());
}

// "-" reads the capture from stdin and writes the data to stdout: the same
// bytes as a named output, piped or redirected, and nothing else on stdout
// (the summary is on stderr).
TEST(ToolWithSimulatorTest, DashesAreStdinAndStdout) {
  const std::string capture = tempPath("dash.pcap"), named = tempPath("dash-named"), piped = tempPath("dash-piped");
  Process write({kSim, "--quiet", "--write-pcap", capture, "--seconds", "0.5", "--layout", "1.7"});
  ASSERT_EQ(write.wait(), 0) << write.err();
  const std::string tool = kTool;
  for (const std::string command : {"export-csv", "export-cloud"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> options = {"--layout", "1.7"};
    if (command == "export-cloud") options = {"--layout", "1.7", "--merge", "--format", "ply", "--ascii"};
    std::vector<std::string> args = {kTool, command, capture, named};
    args.insert(args.end(), options.begin(), options.end());
    Process byName(args);
    ASSERT_EQ(byName.wait(), 0) << byName.err();
    std::string joined;
    for (const std::string& o : options) joined += " " + o;
    for (const std::string& shell :
         {tool + " " + command + " - -" + joined + " < " + capture + " > " + piped,
          "cat " + capture + " | " + tool + " " + command + " - -" + joined + " | cat > " + piped}) {
      Process run({"/bin/sh", "-c", shell});
      ASSERT_EQ(run.wait(), 0) << run.err();
      EXPECT_NE(run.err().find(" to -, 0 lost on the wire"), std::string::npos) << run.err();
      EXPECT_TRUE(readFile(piped) == readFile(named)) << shell;
    }
  }
  std::remove(piped.c_str());
  Process empty({"/bin/sh", "-c", tool + " export-csv - " + piped + " < /dev/null"});
  EXPECT_EQ(empty.wait(), 1);
  EXPECT_EQ(empty.err(), "z540k-tool export-csv: standard input: the capture is empty (nothing came)\n");
  EXPECT_NE(::access(piped.c_str(), F_OK), 0);
  for (const std::string& f : {capture, named}) std::remove(f.c_str());
}

// The progress of a large export shows on a terminal only (through
// script(1)'s pseudo-terminal), with its rate and the time left; --quiet
// and a stderr that is a file leave it out; the summary comes every time.
TEST(ToolWithSimulatorTest, ProgressOnlyOnATerminal) {
  if (::access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "no script(1) for a terminal";
  const std::string capture = tempPath("progress.pcap");  // over the 64 MiB from which progress shows
  Process write({kSim, "--quiet", "--write-pcap", capture, "--seconds", "400", "--layout", "1.7", "--rpm", "1200"});
  ASSERT_EQ(write.wait(), 0) << write.err();
  const std::string command = std::string(kTool) + " export-csv " + capture + " /dev/null --layout 1.7 --angle-max 1";
  for (const auto& [args, shown] : std::vector<std::pair<std::vector<std::string>, bool>>{
           {{"/usr/bin/script", "-qec", command, "/dev/null"}, true},
           {{"/usr/bin/script", "-qec", command + " --quiet", "/dev/null"}, false},
           {{"/bin/sh", "-c", command}, false}}) {
    Process run(args);
    ASSERT_EQ(run.wait(), 0) << run.err();
    const std::string all = run.out() + run.err();
    EXPECT_EQ(std::regex_search(all, std::regex("reading: +\\d+% at \\d+ MB/s, \\d+ s left")), shown) << args[2];
    EXPECT_NE(all.find("wrote 7999 frames"), std::string::npos) << all;
  }
  std::remove(capture.c_str());
}

// export-csv never loses a file: it refuses to write over its capture under
// any name, and a failed write leaves the target as it was, with no summary
// and no temporary file.
TEST(ToolWithSimulatorTest, ExportNeverLosesAFile) {
  const std::string capture = tempPath("own.pcap"), link = tempPath("own-link.pcap"), symlink = tempPath("own-sym"),
                    csv = tempPath("own.csv"), fresh = tempPath("fresh.csv");
  Process write({kSim, "--quiet", "--write-pcap", capture, "--seconds", "1", "--layout", "1.7"});
  ASSERT_EQ(write.wait(), 0) << write.err();
  const std::string bytes = readFile(capture);
  ASSERT_EQ(::link(capture.c_str(), link.c_str()), 0);
  ASSERT_EQ(::symlink(capture.c_str(), symlink.c_str()), 0);
  const std::string viaDots = "/tmp/../tmp/" + capture.substr(5);
  for (const std::string& out : {capture, viaDots, link, symlink}) {
    Process run({kTool, "export-csv", capture, out});
    EXPECT_EQ(run.wait(), 2) << out;
    EXPECT_EQ(lines(run.err()).size(), 1u) << run.err();
    EXPECT_NE(run.err().find("itself"), std::string::npos) << run.err();
  }
  EXPECT_EQ(readFile(capture), bytes);

  // A disk that fills up: the message names the file and the system's
  // reason.
  const std::string kept = "an earlier export\n";
  std::ofstream(csv) << kept;
  for (const std::string& out : {csv, fresh}) {
    std::unique_ptr<Process> run;
    {
      const FileSizeLimit limit(64 << 10);
      ASSERT_TRUE(limit.active());
      run = std::make_unique<Process>(std::vector<std::string>{kTool, "export-csv", capture, out, "--layout", "1.7"});
    }
    EXPECT_EQ(run->wait(), 1) << run->err();
    EXPECT_EQ(run->err(), "z540k-tool export-csv: writing " + out + " failed: " + std::strerror(EFBIG) + "; " + out +
                              " was left unchanged\n");
    EXPECT_EQ(run->out(), "");
    EXPECT_TRUE(leftoversBeside(out).empty());
  }
  EXPECT_EQ(readFile(csv), kept);
  EXPECT_NE(::access(fresh.c_str(), F_OK), 0);

  // Without the limit the same export replaces the earlier one.
  Process run({kTool, "export-csv", symlink, csv, "--layout", "1.7"});
  EXPECT_EQ(run.wait(), 0) << run.err();
  EXPECT_EQ(readFile(csv).rfind("FreamID,", 0), 0u);
  EXPECT_TRUE(leftoversBeside(csv).empty());
  for (const std::string& f : {capture, link, symlink, csv}) std::remove(f.c_str());
}

// A capture that another program shortens while export-csv reads it (tcpdump
// -w recording again under the same name does): the frames read before are
// exported, or with none the target is kept; exit code 1, one clear line, no
// temporary file. Run in this process, to shorten the file at a known point.
TEST(ToolWithSimulatorTest, ExportOfACaptureChangedOnDisk) {
  const std::string capture = tempPath("changing.pcap"), csv = tempPath("changing.csv");
  cli::DecodeSettings settings;
  settings.layout = settings.csv.layout = Layout::Protocol17;
  settings.csv.angleMax = 1;  // a few lines a frame
  const std::atomic<bool> stop{false};
  int refills = 0;
  cli::CaptureExportHooks hooks;
  hooks.afterRefill = [&] {
    if (refills++ == 0) {
      ASSERT_EQ(::truncate(capture.c_str(), 4096), 0);
    }
  };
  const std::string kept = "an earlier export\n";
  const std::string changed = capture + " changed on disk after it was opened";
  for (const int leadingStatusPackets : {0, 2000}) {
    SCOPED_TRACE(leadingStatusPackets);
    {  // 5 MB, more than the reader's buffer; the status packets fill its first 2.5 MB
      CaptureWriter writer;
      ASSERT_TRUE(writer.open(capture)) << writer.error();
      const auto status = sim::encodeStatusPacket(sim::SensorStatus{});
      for (int i = 0; i < leadingStatusPackets; ++i) {
        ASSERT_TRUE(writer.write(status.data(), status.size(), 0x7F000002, 2369, 0x7F000001, 2369, 0, 0));
      }
      sim::ScanPacketStream stream(sim::ScanPattern{});
      for (int i = 0; i < 4000; ++i) {
        const auto p = stream.next();
        ASSERT_TRUE(writer.write(p.data(), p.size(), 0x7F000002, 2368, 0x7F000001, 2368, i, 0));
      }
      ASSERT_TRUE(writer.close());
    }
    std::ofstream(csv) << kept;
    refills = 0;
    const cli::CaptureExportResult result = cli::exportCaptureToCsv(capture, csv, settings, stop, hooks);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(leftoversBeside(csv).empty());
    if (leadingStatusPackets > 0) {
      EXPECT_EQ(result.message, changed + "; no frame before it, " + csv + " was left unchanged");
      EXPECT_EQ(readFile(csv), kept);
      EXPECT_EQ(result.summary, "");
      continue;
    }
    const auto rows = lines(readFile(csv));
    ASSERT_GT(rows.size(), 100u);
    const std::string frames = rows.back().substr(0, rows.back().find(','));
    EXPECT_GT(std::stoi(frames), 0);
    EXPECT_EQ(result.message, changed + "; the " + frames + " frames before it were exported");
    EXPECT_NE(result.summary.find("wrote " + frames + " frames"), std::string::npos) << result.summary;
  }
  std::remove(capture.c_str());
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
      {{kTool, "listen", "--port", heldPort, "--seconds", "1"}, 1, "port " + heldPort + " is already in use"},
      {{kTool, "status", "--bogus"}, 2, "--bogus"},
      {{kTool, "status", "--seconds", "-1"}, 2, "--seconds"},
      {{kTool, "status", "--count", "1.5"}, 2, "--count"},
      {{kTool, "listen", "--seconds", "1e12"}, 2, "--seconds"},
      {{kTool, "listen", "--seconds", "nan"}, 2, "--seconds"},
      {{kTool, "listen", "--frames", "-1"}, 2, "--frames"},
      {{kTool, "export-csv", text, "/tmp/x.csv", "--frames", "-3"}, 2, "--frames"},
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

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string writeSnapshot(const std::string& name, const StatusSnapshot& s) {
  const std::string path = tempPath(name);
  std::ofstream(path) << statusDumpText(s.data(), s.size());
  return path;
}

std::string dumpLine(const Bytes& packet) { return statusDumpText(packet.data(), packet.size()) + "\n"; }

// The long packet on `snapshot` with its header, tail and no time.
Bytes longPacketOf(const StatusSnapshot& snapshot) {
  Bytes p(snapshot.begin(), snapshot.end());
  const Bytes header = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
  std::copy(header.begin(), header.end(), p.begin());
  std::fill(p.begin() + 52, p.begin() + 58, 0);
  p[1204] = 0x0F;
  p[1205] = 0xF0;
  return p;
}

// The next status packet on `socket` that `accept` takes, within 60 s.
template <typename Accept>
bool nextStatusWhere(UdpSocket& socket, Accept accept, int tries = 5) {
  std::uint8_t buffer[2048];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (tries > 0 && std::chrono::steady_clock::now() < deadline) {
    if (socket.receive(buffer, sizeof buffer, 100).length != kStatusPacketSize) continue;
    --tries;
    if (accept(buffer)) return true;
  }
  return false;
}

}  // namespace

// configure --dry-run prints the packet the window would send: every option
// gives the packet tests' full packet; no option gives back what the status
// says, as after a Refresh; the window's silent fallbacks are told.
TEST(ToolWithSimulatorTest, ConfigureDryRunBuildsTheWindowsPacket) {
  const StatusSnapshot snapshot = longSnapshot();
  const std::string longFile = writeSnapshot("long.snapshot", snapshot);
  const std::string shortFile = writeSnapshot("short.snapshot", shortSnapshot());
  const std::string destination = "destination 192.168.1.200:2368\n";

  Process full({kTool,
                "configure",
                "--snapshot",
                longFile,
                "--dry-run",
                "--sensor-ip",
                "10.1.2.3",
                "--dest-ip",
                "10.1.2.200",
                "--subnet",
                "255.255.0.0",
                "--gateway",
                "10.1.0.1",
                "--ntp",
                "10.1.2.9",
                "--mac",
                "60-76-88-0a-Bc-FE",
                "--data-port",
                "2370",
                "--device-port",
                "65535",
                "--interval",
                "1",
                "--pps-angle",
                "90",
                "--rpm",
                "1200",
                "--motor",
                "stop",
                "--state",
                "sleep",
                "--time",
                "yes",
                "--local-time",
                "2024-03-09 08:05:30"});
  ASSERT_EQ(full.wait(), 0) << full.err();
  Bytes expected = longPacketOf(snapshot);
  const Bytes head = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA, 0x04, 0xB0, 0x0A, 0x01, 0x02, 0x03, 0x0A,
                      0x01, 0x02, 0xC8, 0x60, 0x76, 0x88, 0x0A, 0xBC, 0xFE, 0x09, 0x42, 0xFF, 0xFF, 0x0A, 0x01,
                      0x02, 0x09, 0x0A, 0x01, 0x00, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
                      0x01, 0x42, 0x49, 0x23, 0x28, 0x5E, 0x65, 0x18, 0x03, 0x09, 0x08, 0x05, 0x1E};
  std::copy(head.begin(), head.end(), expected.begin());
  EXPECT_EQ(full.out(), dumpLine(expected) + destination);
  EXPECT_EQ(full.err(), "");

  Process unchanged({kTool, "configure", "--snapshot", longFile, "--dry-run", "--time", "no"});
  ASSERT_EQ(unchanged.wait(), 0) << unchanged.err();
  EXPECT_EQ(unchanged.out(), dumpLine(longPacketOf(snapshot)) + destination);
  EXPECT_EQ(unchanged.err(), "");

  Process fallbacks({kTool, "configure", "--snapshot", longFile, "--dry-run", "--time", "no", "--data-port", "1024",
                     "--mac", "60-76-88-00-00-1"});
  ASSERT_EQ(fallbacks.wait(), 0) << fallbacks.err();
  expected = longPacketOf(snapshot);
  expected[23] = 0x00;  // the default MAC 60-76-88-00-00-00; the data port stays 2368
  EXPECT_EQ(fallbacks.out(), dumpLine(expected) + destination);
  const auto told = lines(fallbacks.err());
  ASSERT_EQ(told.size(), 2u) << fallbacks.err();
  EXPECT_NE(told[0].find("--data-port \"1024\" is not a port from 1025 to 65535: the sensor keeps its data port"),
            std::string::npos);
  EXPECT_NE(told[1].find("sends the default MAC 60-76-88-00-00-00"), std::string::npos);

  Process shortPacket({kTool, "configure", "--snapshot", shortFile, "--dry-run", "--sensor-ip", "10.1.2.3", "--dest-ip",
                       "10.1.2.200", "--data-port", "2370", "--device-port", "65535", "--rpm", "300", "--subnet",
                       "255.0.0.0"});
  ASSERT_EQ(shortPacket.wait(), 0) << shortPacket.err();
  const Bytes expectedShort = {0xFF, 0x00, 0x00, 0xA2, 0xFF, 0xFF, 0x00, 0x00, 0xA3, 0x0A, 0x01, 0x02,
                               0x03, 0x00, 0x00, 0x00, 0x00, 0x09, 0x42, 0x0A, 0x01, 0x02, 0xC8, 0xFF,
                               0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x2C, 0x00, 0xA5, 0x5A, 0x0F, 0xF0};
  EXPECT_EQ(shortPacket.out(), dumpLine(expectedShort) + destination);
  EXPECT_NE(shortPacket.err().find("--subnet is ignored"), std::string::npos) << shortPacket.err();
  std::remove(longFile.c_str());
  std::remove(shortFile.c_str());
}

// configure --dry-run --json and advanced --dry-run --json: valid JSON
// naming the destination and each field before and after; exactly the
// fields asked for change, to the values asked for.
TEST(ToolWithSimulatorTest, DryRunsAsJson) {
  const std::string longFile = writeSnapshot("json-long.snapshot", longSnapshot());
  const std::string shortFile = writeSnapshot("json-short.snapshot", shortSnapshot());
  const auto changed = [](const std::string& json) {
    std::string names;
    const std::regex field("\\{\"name\":\"([A-Za-z]+)\"[^}]*\"changed\":true\\}");
    for (std::sregex_iterator i(json.begin(), json.end(), field), end; i != end; ++i) names += (*i)[1].str() + " ";
    return names;
  };
  struct Case {
    std::vector<std::string> args;
    std::string destination, changes;
    std::vector<std::string> holds;
  };
  const std::vector<Case> cases = {
      {{"configure", "--snapshot", longFile, "--time", "no", "--rpm", "1200", "--dest-ip", "10.1.2.200"},
       "192.168.1.200:2368",
       "motorSpeed destIp motorSpeedChoice ",
       {"{\"name\":\"motorSpeed\",\"before\":600,\"after\":1200,\"changed\":true}",
        "\"after\":\"10.1.2.200\",\"changed\":true}"}},
      {{"configure", "--snapshot", longFile, "--time", "no"}, "192.168.1.200:2368", "", {}},
      {{"configure", "--snapshot", shortFile, "--rpm", "300", "--data-port", "2370"},
       "192.168.1.200:2368",
       "dataPort motorSpeed ",
       {"\"after\":2370,\"changed\":true}", "\"after\":300,\"changed\":true}"}},
      {{"advanced", "--snapshot", longFile, "--sensor", "10.0.0.7:2369", "--host-ip", "10.0.0.1", "--range", "150",
        "--deviation-angle", "-1.5"},
       "10.0.0.7:2369",
       "range horizontalOffset ",
       {"{\"name\":\"range\",\"before\":", "\"after\":150,\"changed\":true}", "\"after\":-1.5,\"changed\":true}"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {kTool};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"--dry-run", "--json"});
    Process run(args);
    ASSERT_EQ(run.wait(), 0) << run.err();
    const std::string json = run.out();
    EXPECT_TRUE(validJson(json)) << json;
    EXPECT_EQ(json.rfind("{\"destination\":\"" + c.destination + "\",\"fields\":[", 0), 0u) << json;
    EXPECT_EQ(changed(json), c.changes) << json;
    for (const std::string& h : c.holds) EXPECT_NE(json.find(h), std::string::npos) << h << " in " << json;
  }
  Process sending({kTool, "configure", "--snapshot", longFile, "--json"});
  EXPECT_EQ(sending.wait(), 2);
  EXPECT_NE(sending.err().find("--json goes with --dry-run"), std::string::npos) << sending.err();
  std::remove(longFile.c_str());
  std::remove(shortFile.c_str());
}

// configure against the simulated sensor changes only what it names: the
// sensor's log lists exactly those changes and its next status shows them.
// A short-layout sensor, configured from a snapshot status --save-snapshot
// wrote, sends its next status to the new device port.
TEST(ToolWithSimulatorTest, ConfigureChangesTheSimulatorsStatus) {
  {
    const Ports p;
    Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor, "--rpm",
                 "600", "--seconds", "120"});
    Process configure({kTool, "configure", "--status-port", p.status, "--timeout", "60", "--sensor-port", p.sensor,
                       "--rpm", "1200", "--ntp", "127.0.0.9", "--gateway", "127.0.0.254"});
    ASSERT_EQ(configure.wait(), 0) << configure.err();
    EXPECT_EQ(configure.out(), "");
    EXPECT_EQ(configure.err(),
              "z540k-tool configure: sent the 1206-byte long network settings packet to 127.0.0.2:" + p.sensor + "\n");
    UdpSocket statusSocket;
    ASSERT_TRUE(statusSocket.create() && statusSocket.setReuseAddress() && statusSocket.bind(p.statusPort));
    EXPECT_TRUE(nextStatusWhere(statusSocket, [](const std::uint8_t* s) {
      return loadBE16(s + status_offset::kMotorSpeed) == 1200 &&
             Bytes(s + status_offset::kNtpIp, s + status_offset::kNtpIp + 8) == Bytes{127, 0, 0, 9, 127, 0, 0, 254};
    }));
    sim.interrupt();
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_NE(sim.err().find(": NTP server 0.0.0.0 -> 127.0.0.9, gateway 127.0.0.1 -> 127.0.0.254, motor speed "
                             "(rpm) 600 -> 1200\n"),
              std::string::npos)
        << sim.err();
  }
  {
    const Ports p;
    const HeldUdpPort newStatusPort;
    const std::string file = tempPath("sim.snapshot");
    Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor, "--rpm",
                 "1200", "--short-status", "--seconds", "120"});
    Process save({kTool, "status", "--port", p.status, "--save-snapshot", file, "--seconds", "60"});
    ASSERT_EQ(save.wait(), 0) << save.err();
    EXPECT_EQ(readFile(file).size(), 3618u);
    Process configure({kTool, "configure", "--snapshot", file, "--sensor-port", p.sensor, "--rpm", "300",
                       "--device-port", std::to_string(newStatusPort.port())});
    ASSERT_EQ(configure.wait(), 0) << configure.err();
    EXPECT_EQ(configure.out(), "");
    EXPECT_NE(configure.err().find(
                  "configure: sent the 36-byte short network settings packet to 127.0.0.2:" + p.sensor + "\n"),
              std::string::npos)
        << configure.err();
    UdpSocket statusSocket;
    ASSERT_TRUE(statusSocket.create() && statusSocket.setReuseAddress() && statusSocket.bind(newStatusPort));
    ShortStatus status;
    EXPECT_TRUE(nextStatusWhere(
        statusSocket, [&](const std::uint8_t* s) { return decodeShortStatus(s, kStatusPacketSize, status); }, 1));
    EXPECT_EQ(status.motorSpeed, 300);
    EXPECT_EQ(status.devicePort, newStatusPort.port());
    EXPECT_EQ(std::to_string(status.dataPort), p.data);
    EXPECT_EQ(status.sensorIp, (std::array<std::uint8_t, 4>{127, 0, 0, 2}));
    sim.interrupt();
    EXPECT_EQ(sim.wait(), 0);
    std::remove(file.c_str());
  }
}

// What the window would not send, or could not know, is refused: one line on
// stderr, nothing on stdout, a non-zero exit, nothing sent.
TEST(ToolWithSimulatorTest, ConfigureRefusesWhatTheWindowWouldNotSend) {
  const StatusSnapshot good = longSnapshot();
  StatusSnapshot oddSpeed = good, oddRunState = good, oddSensorState = good, nowhere = good, dataPacket = good;
  oddSpeed[9] = 0x90;  // 0x0290 = 656 rpm: none of the three
  oddRunState[41] = 2;
  oddSensorState[45] = 7;
  std::fill(nowhere.begin() + 10, nowhere.begin() + 14, 0);
  dataPacket[0] = 0xFF;
  dataPacket[1] = 0xEE;
  const std::string goodFile = writeSnapshot("good.snapshot", good);
  const std::vector<std::string> files = {goodFile,
                                          writeSnapshot("odd-speed.snapshot", oddSpeed),
                                          writeSnapshot("odd-run.snapshot", oddRunState),
                                          writeSnapshot("odd-state.snapshot", oddSensorState),
                                          writeSnapshot("nowhere.snapshot", nowhere),
                                          writeSnapshot("data.snapshot", dataPacket),
                                          tempPath("text.snapshot"),
                                          tempPath("fifo.snapshot")};
  std::ofstream(files[6]) << "a5 ff 00 5a hello\n";
  ASSERT_EQ(::mkfifo(files[7].c_str(), 0600), 0);  // a FIFO nobody writes to: never waited on
  const HeldUdpPort silent;
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const auto configure = [&](const std::string& file, std::vector<std::string> more) {
    std::vector<std::string> args = {kTool, "configure", "--snapshot", file, "--dry-run"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const std::string same = "The Lidar local IP cannot be set to the same as the destination IP.Please reset it !";
  const std::vector<Case> cases = {
      {configure(goodFile, {"--sensor-ip", "192.168.1"}), 2, "--sensor-ip: Lidar IP \"192.168.1\" is not a complete"},
      {configure(goodFile, {"--gateway", "192.168.1."}), 2, "is not a complete IPv4 address"},
      {configure(goodFile, {"--dest-ip", "192.168.1.256"}), 2, "not an IPv4 address"},
      {configure(goodFile, {"--mac", "60-76-88-00-00-0g"}), 2, "two hexadecimal digits"},
      {configure(goodFile, {"--sensor-ip", "192.168.1.102"}), 1, same},
      {configure(goodFile, {"--sensor-ip", "10.0.0.01", "--dest-ip", "10.0.0.1"}), 1, same},
      {configure(goodFile, {"--data-port", "23x"}), 2, "--data-port"},
      {configure(goodFile, {"--interval", "2"}), 2, "--interval"},
      {configure(goodFile, {"--pps-angle", "361"}), 2, "--pps-angle"},
      {configure(goodFile, {"--device-port", "65536"}), 2,
       "device Port \"65536\" is not a whole number from 0 to 65535"},
      {configure(goodFile, {"--rpm", "900"}), 2, "--rpm"},
      {configure(goodFile, {"--local-time", "2023-02-29 10:00:00"}), 2, "--local-time"},
      {configure(files[1], {}), 1, "motor speed of 656 rpm, none of 300, 600, 1200: give --rpm"},
      {configure(files[2], {"--rpm", "600"}), 1, "give --motor"},
      {configure(files[3], {}), 1, "give --state"},
      {configure(files[5], {}), 1, "holds no status packet"},
      {configure(files[6], {}), 1, "byte 5 is \"hello\""},
      {configure("/nonexistent/x.snapshot", {}), 1, "cannot read /nonexistent/x.snapshot"},
      {configure(files[7], {}), 1, "cannot read " + files[7] + ": it is not a regular file"},
      {{kTool, "configure", "--snapshot", files[4]}, 1, "Lidar IP \"0.0.0.0\" is not a host address"},
      // An emptied sensor IP keeps the sensor's own, where the packet goes.
      {{kTool, "configure", "--snapshot", files[4], "--sensor-ip", ""}, 1, "cannot send to 0.0.0.0:2368"},
      {{kTool, "configure", "--status-port", std::to_string(silent.port()), "--timeout", "0.2"},
       3,
       "no status packet arrived on port " + std::to_string(silent.port()) + " within 0.2 s"},
      {{kTool, "status", "--save-snapshot", "/nonexistent/x.snapshot", "--seconds", "1"}, 1, "/nonexistent/"},
  };
  for (const Case& c : cases) {
    Process run(c.args);
    std::string shown;
    for (std::size_t i = 1; i < c.args.size(); ++i) shown += " " + c.args[i];
    EXPECT_EQ(run.wait(), c.code) << shown << ": " << run.err();
    EXPECT_EQ(run.out(), "") << shown;
    const auto errLines = lines(run.err());
    ASSERT_EQ(errLines.size(), 1u) << shown << ": " << run.err();
    EXPECT_NE(errLines[0].find(c.says), std::string::npos) << shown << ": " << errLines[0];
  }
  // Waiting for a sensor that is not there ends with its own exit code.
  for (const auto& [command, what] : {std::pair{"status", "no status packet arrived on port "},
                                      std::pair{"listen", "no data packet arrived on port "}}) {
    Process run({kTool, command, "--port", std::to_string(silent.port()), "--seconds", "0.2"});
    EXPECT_EQ(run.wait(), 3) << command << ": " << run.err();
    EXPECT_NE(run.err().find(what + std::to_string(silent.port()) + " within 0.2 s"), std::string::npos) << run.err();
  }
  Process help({kTool, "configure", "--help"});
  EXPECT_EQ(help.wait(), 0);
  EXPECT_NE(help.out().find("usage: z540k-tool configure"), std::string::npos);
  for (const auto& f : files) std::remove(f.c_str());
}

// advanced --dry-run and restore-defaults --dry-run print the packet tests'
// bytes; without field options advanced shows what a Refresh shows; a
// trailing threshold of 0 is sent with a warning.
TEST(ToolWithSimulatorTest, AdvancedAndRestoreDryRunBuildTheWindowsPackets) {
  const StatusSnapshot snapshot = longSnapshot();
  const std::string file = writeSnapshot("advanced.snapshot", snapshot);
  const std::vector<std::string> base = {kTool,          "advanced",           "--snapshot", file,
                                         "--sensor",     "10.0.0.7:2369",      "--host-ip",  "10.0.0.1",
                                         "--local-time", "2024-03-09 14:05:30"};
  auto full = base;
  for (const char* a :
       {"--dry-run", "--high-reflect", "25", "--zero-degree", "1", "--echo", "single", "--deviation-angle", "-1.5",
        "--range", "150", "--trail-threshold", "3", "--trail-distance", "10", "--encoder-zero", "-1", "--rpm", "600"})
    full.push_back(a);
  Process advanced(full);
  ASSERT_EQ(advanced.wait(), 0) << advanced.err();
  Bytes expected(snapshot.begin(), snapshot.end());
  const auto put = [&](std::size_t at, std::initializer_list<int> bytes) {
    for (int b : bytes) expected[at++] = static_cast<std::uint8_t>(b);
  };
  put(0, {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xBB, 0xBB, 0x02, 0x58, 10, 0, 0, 7, 10, 0, 0, 1});
  put(40, {0x00, 0x00});
  put(52, {24, 3, 9, 14, 5, 30});
  put(104, {0x00, 0x19});
  put(160, {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11});
  put(178, {0x3A, 0x98, 0x00, 0x03, 0x00, 0x0A, 1, 0, 0xFF, 0x6A});
  put(194, {0xFF, 0x9C});
  put(1204, {0x0F, 0xF0});
  EXPECT_EQ(advanced.out(), dumpLine(expected) + "destination 10.0.0.7:2369\n");
  EXPECT_EQ(advanced.err(), "");

  auto zero = base;
  for (const char* a : {"--dry-run", "--trail-threshold", "0"}) zero.push_back(a);
  Process warned(zero);
  ASSERT_EQ(warned.wait(), 0) << warned.err();
  EXPECT_EQ(lines(warned.out()).size(), 2u);
  EXPECT_NE(warned.err().find("warning: the trailing-removal threshold or distance is 0"), std::string::npos);

  Process shown(base);
  ASSERT_EQ(shown.wait(), 0) << shown.err();
  const std::string view = shown.out();
  EXPECT_NE(view.find("sensor: 10.0.0.7:2369\n"), std::string::npos) << view;
  EXPECT_NE(view.find("motor speed: 600 rpm (\" 10 HZ\")\n"), std::string::npos) << view;

  Process restore(
      {kTool, "restore-defaults", "--to", "192.168.1.222:2368", "--local-time", "2024-03-09 14:05:30", "--dry-run"});
  ASSERT_EQ(restore.wait(), 0) << restore.err();
  Bytes restorePacket(1206, 0);
  const Bytes head = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA, 0x01, 0x2C, 0xC0, 0xA8, 0x01, 0xDE,
                      0xC0, 0xA8, 0x01, 0x7D, 0,    0,    0,    0,    0,    0,    0x09, 0x40, 0x09, 0x41};
  std::copy(head.begin(), head.end(), restorePacket.begin());
  const Bytes time = {24, 3, 9, 14, 5, 30};
  std::copy(time.begin(), time.end(), restorePacket.begin() + 52);
  restorePacket[1204] = 0x0F;
  restorePacket[1205] = 0xF0;
  EXPECT_EQ(restore.out(), dumpLine(restorePacket) + "destination 192.168.1.222:2368\n");
  std::remove(file.c_str());
}

// advanced captures the simulator's status frame on loopback and sends the
// packet to the frame's source, which the simulator applies; restore-defaults
// is applied too. Skipped where this machine cannot capture.
TEST(ToolWithSimulatorTest, AdvancedAndRestoreAreAppliedBySimulator) {
  const Ports p;
  Process sim({kSim, "--quiet", "--data-port", p.data, "--status-port", p.status, "--sensor-port", p.sensor,
               "--seconds", "120"});
  Process advanced({kTool, "advanced", "--capture-device", "lo", "--status-port", p.status, "--timeout", "30",
                    "--range", "150", "--deviation-angle", "-1.5", "--trail-threshold", "7"});
  const int code = advanced.wait();
  if (code == 1 && advanced.err().find("cannot capture") != std::string::npos) {
    sim.interrupt();
    sim.wait();
    GTEST_SKIP() << advanced.err();
  }
  ASSERT_EQ(code, 0) << advanced.err();
  EXPECT_EQ(advanced.out(), "");
  EXPECT_NE(
      advanced.err().find("advanced: sent the 1206-byte advanced settings packet to 127.0.0.2:" + p.sensor + "\n"),
      std::string::npos)
      << advanced.err();
  Process restore({kTool, "restore-defaults", "--to", "127.0.0.2:" + p.sensor});
  ASSERT_EQ(restore.wait(), 0) << restore.err();
  EXPECT_EQ(restore.out(), "");
  EXPECT_NE(
      restore.err().find("restore-defaults: sent the 1206-byte default-restore packet to 127.0.0.2:" + p.sensor + "\n"),
      std::string::npos)
      << restore.err();
  sim.interrupt();
  EXPECT_EQ(sim.wait(), 0);
  const std::string log = sim.err();
  const auto at = log.find("applied advanced settings from");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string applied = log.substr(at, log.find('\n', at) - at);
  EXPECT_NE(applied.find("-> 150"), std::string::npos) << applied;
  EXPECT_NE(applied.find("horizontal offset"), std::string::npos) << applied;
  EXPECT_NE(applied.find("trailing threshold"), std::string::npos) << applied;
  EXPECT_NE(log.find("applied default restore from"), std::string::npos) << log;
}

// What neither command would send is refused: one line on stderr, nothing
// on stdout, a non-zero exit (a value its field cannot hold included).
TEST(ToolWithSimulatorTest, AdvancedAndRestoreRefusals) {
  const std::string file = writeSnapshot("refusals.snapshot", longSnapshot());
  const std::string fifo = tempPath("refusals.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::string> withFile = {kTool,           "advanced",  "--snapshot", file,       "--sensor",
                                             "10.0.0.7:2369", "--host-ip", "10.0.0.1",   "--dry-run"};
  const auto more = [&](std::vector<std::string> extra) {
    auto args = withFile;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{kTool, "restore-defaults", "--to", "127.0.0.2:70000", "--dry-run"}, "1 to 65535"},
      {{kTool, "restore-defaults", "--to", "127.0.0.2:0", "--dry-run"}, "1 to 65535"},
      {{kTool, "restore-defaults", "--to", "192.168.1:2368", "--dry-run"}, "not an IPv4 address"},
      {{kTool, "restore-defaults", "--dry-run"}, "needs --to"},
      {{kTool, "advanced", "--snapshot", file, "--dry-run"}, "needs --sensor"},
      {{kTool, "advanced", "--host-ip", "10.0.0.1"}, "go with --snapshot"},
      {{kTool, "advanced", "--timeout", "0"}, "bounded"},
      {more({"--deviation-angle", ""}), "--deviation-angle is empty"},
      {more({"--range", ""}), "--range is empty"},
      {more({"--rpm", "900"}), "--rpm"},
      {more({"--range", "655.36"}), "--range: Measuring range (m) \"655.36\" is not a number from 0 to 655.35"},
      {more({"--deviation-angle", "NaN"}), "--deviation-angle: Horizontal offset angle (degrees) \"NaN\""},
      {more({"--encoder-zero", "1e308"}), "--encoder-zero: Encoder zero calibration (degrees) \"1e308\""},
      {more({"--high-reflect", "70000"}), "--high-reflect: High-reflection compensation (mm) \"70000\""},
      {more({"--trail-distance", "ten"}), "--trail-distance: Trailing-removal distance (cm) \"ten\""},
      {more({"--echo", "triple"}), "--echo"},
      {{kTool, "advanced", "--snapshot", file, "--sensor", "10.0.0.7:99999", "--host-ip", "10.0.0.1"}, "--sensor"},
      {{kTool, "advanced", "--snapshot", fifo, "--sensor", "10.0.0.7:2369", "--host-ip", "10.0.0.1"},
       "cannot read " + fifo + ": it is not a regular file"},
  };
  for (const auto& [args, says] : cases) {
    Process run(args);
    EXPECT_NE(run.wait(), 0) << args[1] << " " << run.err();
    EXPECT_EQ(run.out(), "");
    const auto errLines = lines(run.err());
    ASSERT_EQ(errLines.size(), 1u) << run.err();
    EXPECT_NE(errLines[0].find(says), std::string::npos) << errLines[0];
  }
  std::remove(file.c_str());
  std::remove(fifo.c_str());
}

// ---- The stop signals --------------------------------------------------------

namespace {

// Every signal that stops the tool, each ending a command as Ctrl+C does.
class ToolStopSignalTest : public ::testing::TestWithParam<int> {};

std::string signalName(int number) { return std::string("SIG") + sigabbrev_np(number); }
std::string signalParamName(const ::testing::TestParamInfo<int>& info) { return signalName(info.param); }

// The bytes a process has read so far (its capture, mostly).
std::uint64_t bytesRead(pid_t pid) {
  const std::string io = readFile("/proc/" + std::to_string(pid) + "/io");
  const auto at = io.find("rchar: ");
  return at == std::string::npos ? 0 : std::stoull(io.substr(at + 7));
}

// Whether `path` is there (a file or a folder).
bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

// Each export stopped half way (a part of the capture read, the output
// beside its target): the target stays as it was, nothing is left beside it,
// exit code 1 and one line naming the signal. The export is held with
// SIGSTOP to look at it half written, then sent the signal.
TEST_P(ToolStopSignalTest, ExportsLeaveTheirTargetAsItWas) {
  const int number = GetParam();
  const std::string capture = tempPath("long.pcap"), csv = tempPath("stopped.csv"), folder = tempPath("stopped-frames"),
                    merged = tempPath("stopped.pcd");
  Process write({kSim, "--quiet", "--write-pcap", capture, "--seconds", "60", "--layout", "1.7"});
  ASSERT_EQ(write.wait(), 0) << write.err();
  const std::string kept = "an earlier export\n";
  std::ofstream(csv) << kept;
  const std::vector<std::pair<std::vector<std::string>, std::string>> exports = {
      {{kTool, "export-csv", capture, csv, "--layout", "1.7"}, csv},
      {{kTool, "export-cloud", capture, folder, "--layout", "1.7"}, folder},
      {{kTool, "export-cloud", capture, merged, "--merge", "--layout", "1.7"}, merged},
  };
  for (const auto& [args, target] : exports) {
    SCOPED_TRACE(target);
    Process run(args);
    ASSERT_TRUE(run.waitFor([&] { return bytesRead(run.pid()) >= (1u << 20) && !leftoversBeside(target).empty(); }))
        << run.out() << run.err();
    run.signal(SIGSTOP);
    ASSERT_TRUE(run.waitFor([&] { return run.stopped(); })) << "ended before it was half way: " << run.out();
    run.signal(number);
    run.signal(SIGCONT);
    EXPECT_EQ(run.wait(), 1);
    EXPECT_EQ(run.err(), "z540k-tool " + args[1] + ": interrupted by " + signalName(number) + "; " + target +
                             " was left unchanged\n");
    EXPECT_EQ(run.out(), "");
    EXPECT_TRUE(leftoversBeside(target).empty());
  }
  EXPECT_EQ(readFile(csv), kept);
  EXPECT_FALSE(exists(folder));
  EXPECT_FALSE(exists(merged));
  std::remove(capture.c_str());
  std::remove(csv.c_str());
}

// listen --csv stopped while it writes, its stdout a pipe (for SIGPIPE the
// pipe's reader goes away, as `| head -3` does): the CSV holds every
// revolution the summary counts, under its name, with nothing left beside
// it. Without --frames that is the end asked for (exit 0); stopped before
// --frames N it says so and exits 1.
TEST_P(ToolStopSignalTest, ListenKeepsTheRevolutionsTaken) {
  const int number = GetParam();
  const Ports p;
  const std::string csv = tempPath("listened.csv");
  std::unique_ptr<Process> sim;
  for (const bool limited : {false, true}) {
    SCOPED_TRACE(limited ? "--frames 1000000" : "no limit");
    std::vector<std::string> args = {kTool, "listen", "--port", p.data,      "--layout",
                                     "1.7", "--csv",  csv,      "--seconds", "120"};
    if (limited) args.insert(args.end(), {"--frames", "1000000"});
    Process listen(args, StdoutToPipe{});
    ASSERT_TRUE(listen.waitForUdpBind(p.dataPort)) << listen.err();
    if (!sim)
      sim =
          std::make_unique<Process>(std::vector<std::string>{kSim, "--quiet", "--data-port", p.data, "--status-port",
                                                             p.status, "--sensor-port", p.sensor, "--seconds", "120"});
    ASSERT_TRUE(listen.waitFor([&] { return listen.readStdout().find("revolution 3: ") != std::string::npos; }))
        << listen.err();
    EXPECT_FALSE(leftoversBeside(csv).empty());  // written beside its name meanwhile
    if (number == SIGPIPE)
      listen.closeStdout();
    else
      listen.signal(number);
    EXPECT_EQ(listen.wait(), limited ? 1 : 0) << listen.err();
    const std::string said = listen.readStdout() + listen.err();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(said, m, std::regex("; (\\d+) revolutions;"))) << said;
    const auto rows = lines(readFile(csv));
    ASSERT_GT(rows.size(), 1u);
    EXPECT_EQ(rows.front(), kCsvHeader);
    EXPECT_EQ(rows.back().substr(0, rows.back().find(',')), m[1].str());
    EXPECT_TRUE(leftoversBeside(csv).empty());
    if (limited) {
      EXPECT_NE(said.find("z540k-tool listen: interrupted by " + signalName(number) + " after " + m[1].str() +
                          " of 1000000 revolutions\n"),
                std::string::npos)
          << said;
    }
    std::remove(csv.c_str());
  }
  sim->interrupt();
  EXPECT_EQ(sim->wait(), 0) << sim->err();
}

INSTANTIATE_TEST_SUITE_P(Signals, ToolStopSignalTest, ::testing::Values(SIGHUP, SIGPIPE, SIGQUIT, SIGTERM, SIGINT),
                         signalParamName);
