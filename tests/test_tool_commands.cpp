// The headless tool's commands for captures and for finding sensors, as
// processes: slice against the export of the whole capture, info of a
// capture of two sensors, discover and record against simulated sensors on
// loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "CaptureFile.h"
#include "CaptureMergeSupport.h"
#include "LoopbackTestSupport.h"
#include "ProcessTestSupport.h"
#include "UdpSocket.h"

using namespace z540k;
using namespace z540k::test;

namespace {

const std::string kSim = Z540K_SIM_PATH;
const std::string kTool = Z540K_TOOL_PATH;

std::string tempPath(const std::string& name) {
  return "/tmp/z540k-commands-" + std::to_string(::getpid()) + "-" + name;
}

// Runs a program to its end; its exit code.
int run(const std::vector<std::string>& args, std::string* err = nullptr, std::string* out = nullptr) {
  Process p(args);
  const int code = p.wait();
  if (err) *err = p.err();
  if (out) *out = p.out();
  return code;
}

bool installed(const std::string& program) {
  return run({"/bin/sh", "-c", "command -v " + program + " >/dev/null"}) == 0;
}

// A port held at the wildcard address, for a simulated sensor's own port.
UdpSocket heldAtWildcard() {
  UdpSocket s;
  if (!(s.create() && s.setReuseAddress() && s.bind(0))) ADD_FAILURE() << s.lastError();
  return s;
}

std::uint64_t datagramsFrom(const std::string& path, const std::string& address) {
  CaptureReader reader;
  std::uint64_t n = 0;
  CapturedDatagram d;
  if (!reader.open(path)) return 0;
  while (reader.next(d)) n += formatIpv4(d.sourceIp) == address;
  return n;
}

}  // namespace

// The slice's export is the export of those frames of the whole, byte for
// byte: single return in both layouts, dual return, pcap and pcapng. From
// frame A > 1 the slice leads in with the end of frame A - 1, whose part
// revolution its export writes first.
TEST(ToolSlice, ExportsExactlyTheFramesOfTheWhole) {
  struct Case {
    const char* layout;
    bool dual;
  };
  const bool pcapng = installed("editcap");
  for (const Case c : {Case{"1.7", false}, Case{"1.6", false}, Case{"1.7", true}}) {
    SCOPED_TRACE(std::string(c.layout) + (c.dual ? " dual" : " single"));
    std::vector<std::string> captures = {tempPath("whole.pcap")};
    std::vector<std::string> sim = {kSim,        "--quiet", "--write-pcap", captures[0],
                                    "--seconds", "2",       "--layout",     c.layout};
    if (c.dual) sim.push_back("--dual-return");
    ASSERT_EQ(run(sim), 0);
    if (pcapng) {
      captures.push_back(tempPath("whole.pcapng"));
      ASSERT_EQ(run({"/usr/bin/env", "editcap", "-F", "pcapng", captures[0], captures[1]}), 0);
    }
    for (const std::string& whole : captures) {
      for (const std::string range : {"1:3", "7:9", "18:"}) {
        SCOPED_TRACE(whole + " " + range);
        const std::string slice = tempPath("slice") + whole.substr(whole.rfind('.'));
        const std::string sliceCsv = tempPath("slice.csv"), wholeCsv = tempPath("whole.csv");
        std::string err;
        ASSERT_EQ(run({kTool, "slice", whole, slice, "--frames", range}, &err), 0) << err;
        ASSERT_EQ(run({kTool, "export-csv", whole, wholeCsv, "--layout", c.layout, "--frames", range}, &err), 0) << err;
        const bool leadIn = range.rfind("1:", 0) != 0;  // from a frame after the first
        ASSERT_EQ(
            run({kTool, "export-csv", slice, sliceCsv, "--layout", c.layout, "--frames", leadIn ? "2:" : "0"}, &err), 0)
            << err;
        const std::string expected = readFile(wholeCsv);
        EXPECT_GT(expected.size(), 1000u);
        EXPECT_TRUE(expected == readFile(sliceCsv));
        if (installed("capinfos")) {
          EXPECT_EQ(run({"/usr/bin/env", "capinfos", slice}), 0);
        }
        ::unlink(slice.c_str());
        ::unlink(sliceCsv.c_str());
        ::unlink(wholeCsv.c_str());
      }
    }
    for (const std::string& path : captures) ::unlink(path.c_str());
  }
}

TEST(ToolSlice, RefusesWhatItCannotCut) {
  const std::string whole = tempPath("refused.pcap"), slice = tempPath("refused-slice.pcap");
  ASSERT_EQ(run({kSim, "--quiet", "--write-pcap", whole, "--seconds", "1"}), 0);
  std::string err;
  EXPECT_EQ(run({kTool, "slice", whole, slice, "--frames", "500:600"}, &err), 1);
  EXPECT_NE(err.find("none from frame 500"), std::string::npos) << err;
  EXPECT_NE(::access(slice.c_str(), F_OK), 0);  // nothing written
  EXPECT_EQ(run({kTool, "slice", whole, slice, "--frames", "5:3"}), 2);
  EXPECT_EQ(run({kTool, "slice", whole, slice}), 2);
  EXPECT_EQ(run({kTool, "slice", whole, whole, "--frames", "1:2"}), 2);
  // The exports refuse a range past the end the same way, and leave no file.
  const std::string csv = tempPath("refused.csv");
  EXPECT_EQ(run({kTool, "export-csv", whole, csv, "--frames", "500:"}, &err), 1);
  EXPECT_NE(::access(csv.c_str(), F_OK), 0);
  // seconds: the revolutions ending within the range, the first at 0.
  ASSERT_EQ(run({kTool, "slice", whole, slice, "--seconds", "0:0.5"}, &err), 0) << err;
  EXPECT_NE(err.find("frames 1 to "), std::string::npos) << err;
  ::unlink(whole.c_str());
  ::unlink(slice.c_str());
}

// info names both sensors of a merged capture, with the datagrams of each.
TEST(ToolInfo, NamesEachSensorOfACapture) {
  const std::string a = tempPath("a.pcap"), b = tempPath("b.pcap"), both = tempPath("both.pcap");
  ASSERT_EQ(run({kSim, "--quiet", "--write-pcap", a, "--seconds", "1"}), 0);
  ASSERT_EQ(run({kSim, "--quiet", "--write-pcap", b, "--seconds", "1", "--bind", "127.0.0.3", "--dual-return"}), 0);
  std::string error;
  ASSERT_TRUE(mergeCaptures({a, b}, both, error)) << error;
  std::string out, err;
  ASSERT_EQ(run({kTool, "info", both, "--json"}, &err, &out), 0) << err;
  {
    std::ofstream(tempPath("info.json")) << out;
    EXPECT_EQ(run({"/usr/bin/env", "python3", "-m", "json.tool", tempPath("info.json")}), 0) << out;
    ::unlink(tempPath("info.json").c_str());
  }
  for (const auto& [address, returns] :
       {std::pair<std::string, std::string>{"127.0.0.2", "single return"}, {"127.0.0.3", "dual return"}}) {
    const std::regex sender("\"address\": \"" + address +
                            ":2368\", \"dataPackets\": (\\d+), [^}]*\"statusPackets\": "
                            "(\\d+), [^}]*\"revolutions\": (\\d+), [^}]*\"returns\": \"" +
                            returns + "\"");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, sender)) << address << "\n" << out;
    EXPECT_EQ(std::stoull(m[1]) + std::stoull(m[2]), datagramsFrom(both, address));
    EXPECT_GE(std::stoull(m[3]), 8u);  // a second at 600 rpm
  }
  EXPECT_EQ(run({kTool, "info", tempPath("missing.pcap")}, &err), 1);
  for (const std::string& path : {a, b, both}) ::unlink(path.c_str());
}

// discover lists two sensors at their own addresses, one of them sending its
// status to the data port too.
TEST(ToolDiscover, FindsTwoSensors) {
  HeldUdpPort data, status;
  UdpSocket own2 = heldAtWildcard(), own3 = heldAtWildcard();
  const std::string dataPort = std::to_string(data.port()), statusPort = std::to_string(status.port());
  Process sim2({kSim, "--quiet", "--bind", "127.0.0.2", "--sensor-port", std::to_string(own2.localPort()),
                "--data-port", dataPort, "--status-port", statusPort, "--seconds", "20"});
  Process sim3({kSim, "--quiet", "--bind", "127.0.0.3", "--sensor-port", std::to_string(own3.localPort()),
                "--data-port", dataPort, "--status-port", statusPort, "--status-to-data-port", "--seconds", "20"});
  std::string out, err;
  EXPECT_EQ(
      run({kTool, "discover", "--seconds", "3", "--port", dataPort, "--status-port", statusPort, "--json"}, &err, &out),
      0)
      << err;
  EXPECT_NE(out.find("{\"address\":\"127.0.0.2\""), std::string::npos) << out;
  EXPECT_NE(out.find("{\"address\":\"127.0.0.3\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"" + std::to_string(own3.localPort()) + " -> " + dataPort + "\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"mac\":"), std::string::npos);
  sim2.interrupt();
  sim3.interrupt();
  sim2.wait();
  sim3.wait();
  // Nobody there: the code for nothing received, and no data on stdout.
  EXPECT_EQ(run({kTool, "discover", "--seconds", "0.3", "--port", dataPort, "--status-port", statusPort}, &err, &out),
            3);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("no status packet arrived on port " + statusPort), std::string::npos) << err;
}

// record on the loopback adapter until three revolutions are in the file.
TEST(ToolRecord, RecordsRevolutionsOnLoopback) {
  HeldUdpPort data, status;
  UdpSocket own = heldAtWildcard();
  const std::string path = tempPath("record.pcap"), csv = tempPath("record.csv");
  Process record({kTool, "record", path, "--frames", "3", "--port", std::to_string(data.port()), "--capture-device",
                  "lo", "--seconds", "60"});
  Process sim({kSim, "--quiet", "--sensor-port", std::to_string(own.localPort()), "--data-port",
               std::to_string(data.port()), "--status-port", std::to_string(status.port()), "--seconds", "60"});
  const int code = record.wait();
  if (code == 1 && record.err().find("ermission") != std::string::npos)
    GTEST_SKIP() << "capturing needs privileges here: " << record.err();
  ASSERT_EQ(code, 0) << record.err();
  EXPECT_NE(record.err().find("(3 revolutions)"), std::string::npos) << record.err();
  std::string err;
  std::string out;
  ASSERT_EQ(run({kTool, "export-csv", path, csv, "--layout", "1.7"}, &err, &out), 0) << err;
  EXPECT_NE((out + err).find("wrote 3 frames"), std::string::npos) << out << err;
  ::unlink(path.c_str());
  ::unlink(csv.c_str());
}
