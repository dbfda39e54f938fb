// export-bag and ros: the revolutions as ROS messages, written to a bag
// (through librosbag) or published live (through roscpp), by the same
// conversion (ros/RosMessages). Decoding as export-csv and listen decode.
#include <cstdio>
#include <memory>
#include <set>

#include "BagFrameFile.h"
#include "CaptureExport.h"
#include "Commands.h"
#include "RosNode.h"
#include "StatusText.h"

namespace z540k::cli {

namespace {

const char* const kRosOptionsHelp =
    "  --topic NAME           sensor_msgs/LaserScan of each revolution (default scan)\n"
    "  --second-topic NAME    LaserScan of the second return when the revolution holds both (return mode\n"
    "                         1; default scan_second)\n"
    "  --cloud-topic NAME     also a sensor_msgs/PointCloud2 of each revolution: every measurement with x\n"
    "                         y z in metres (NaN without a return), intensity, azimuth (the sensor's,\n"
    "                         degrees) and time (seconds from the revolution's last measurement)\n"
    "  --frame-id NAME        the messages' frame (default laser)\n";

const char* const kExportBagHelp =
    "usage: z540k-tool export-bag CAPTURE OUT.bag [options]\n"
    "\n"
    "Decodes a capture (pcap or pcapng) as export-csv does and writes its revolutions as a ROS bag: one\n"
    "LaserScan per revolution (REP 103: x forward along the sensor's azimuth 0, y left, angles\n"
    "counter-clockwise; REP 117: no return is +Inf), stamped with the capture time of the packet that\n"
    "completed it. The bag is written beside OUT.bag and put in its place only when complete.\n"
    "\n"
    "options:\n"
    "  --compression none|bz2|lz4   the bag's chunks (default none)\n"
    "  --stamp capture|sensor the messages' stamp: the capture time of the packet that completed the\n"
    "                         revolution (default), or the sensor's clock at its last measurement (the\n"
    "                         GPS date and hour the data packets carry, with the packet time)\n";

const char* const kRosHelp =
    "usage: z540k-tool ros [options]\n"
    "\n"
    "A ROS node (z540k): receives the sensor live as listen does and publishes each revolution as\n"
    "export-bag writes it, stamped at its arrival, and each status packet on diagnostics\n"
    "(diagnostic_msgs/DiagnosticArray, the values status --values prints). The ROS master is the one\n"
    "ROS_MASTER_URI names (ROS_IP honoured). Stops on Ctrl+C.\n"
    "\n"
    "options:\n"
    "  --master-wait S        wait this long for the ROS master to answer (default 5)\n"
    "  --status-port P        the sensor's status port (default 2369)\n";

// Takes the ROS options out of `args` into `options`.
RosScanOptions takeRosOptions(std::vector<std::string>& args, const std::set<std::string>& own,
                              std::vector<std::pair<std::string, std::string>>& taken) {
  RosScanOptions options;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (own.count(args[i]) == 0) {
      rest.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
    const std::string& value = args[++i];
    if (args[i - 1] != "--compression" && args[i - 1] != "--master-wait" && args[i - 1] != "--stamp" && value.empty())
      throw UsageError(args[i - 1] + " needs a name");
    taken.emplace_back(args[i - 1], value);
    if (args[i - 1] == "--topic") options.topic = value;
    if (args[i - 1] == "--second-topic") options.secondTopic = value;
    if (args[i - 1] == "--cloud-topic") options.cloudTopic = value;
    if (args[i - 1] == "--frame-id") options.frameId = value;
  }
  args = rest;
  return options;
}

ScanSelection selectionOf(const DecodeSettings& settings) { return scanSelectionOf(settings.csv); }

}  // namespace

int exportBagCommand(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::vector<std::pair<std::string, std::string>> taken;
  RosScanOptions ros = takeRosOptions(
      args, {"--topic", "--second-topic", "--cloud-topic", "--frame-id", "--compression", "--stamp"}, taken);
  std::set<std::string> valueOptions(std::begin(kDecodeOptionNames), std::end(kDecodeOptionNames));
  valueOptions.insert("--source");
  const CommandLine line(args, valueOptions, {"--help", "--quiet"});
  if (line.has("--help")) {
    std::printf("%s%s%s%s%s%s", kExportBagHelp, kRosOptionsHelp, kDecodeOptionsHelp, kSourceOptionHelp, kFrameRangeHelp,
                kQuietOptionHelp);
    return 0;
  }
  if (line.positional().size() != 2) throw UsageError("needs CAPTURE and OUT.bag (see --help)");
  BagCompression compression = BagCompression::None;
  bool sensorClock = false;
  for (const auto& [name, value] : taken) {
    if (name == "--stamp") {
      if (value != "capture" && value != "sensor")
        throw UsageError("--stamp: capture or sensor, not \"" + value + "\"");
      sensorClock = value == "sensor";
    }
    if (name != "--compression") continue;
    if (value == "none")
      compression = BagCompression::None;
    else if (value == "bz2")
      compression = BagCompression::Bz2;
    else if (value == "lz4")
      compression = BagCompression::Lz4;
    else
      throw UsageError("--compression: none, bz2 or lz4, not \"" + value + "\"");
  }
  DecodeSettings settings = decodeSettings(line);
  settings.source = sourceChoice(line);
  ros.selection = selectionOf(settings);
  BagFrameFile bag(ros, compression, settings.frames);
  CaptureExportHooks hooks;
  hooks.arrival = [&bag](std::int64_t seconds, std::uint32_t microseconds) { bag.noteArrival(seconds, microseconds); };
  if (sensorClock) {
    bag.stampBySensor();
    hooks.beforeFrame = [&bag](const GpsDateTime& gps) { bag.noteSensorClock(gps); };
  }
  return runCaptureExport("export-bag", line.positional()[0], line.positional()[1], bag, settings, line.has("--quiet"),
                          &hooks);
}

int rosCommand(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::vector<std::pair<std::string, std::string>> taken;
  RosScanOptions ros =
      takeRosOptions(args, {"--topic", "--second-topic", "--cloud-topic", "--frame-id", "--master-wait"}, taken);
  for (const std::string& a : args)
    if (a == "--help") {
      std::printf("%s%s\nand listen's options, as listen --help shows them:\n\n", kRosHelp, kRosOptionsHelp);
      return listenCommand({"--help"});
    }
  double wait = 5;
  for (const auto& [name, value] : taken)
    if (name == "--master-wait") wait = CommandLine({"--master-wait", value}, {"--master-wait"}, {}).seconds(name);
  bool statusPort = false;
  for (const std::string& a : args) statusPort = statusPort || a == "--status-port";
  if (!statusPort) args.insert(args.end(), {"--status-port", std::to_string(kDefaultStatusPort)});

  std::string error;
  std::unique_ptr<RosNode> node = RosNode::start("z540k", ros, wait, error);
  if (!node) {
    std::fprintf(stderr, "z540k-tool ros: %s\n", error.c_str());
    return 1;
  }
  LiveSinks sinks;
  sinks.settings = [&](const DecodeSettings& settings) { node->setSelection(selectionOf(settings)); };
  sinks.revolution = [&](const LidarDataSingleLine& record) { node->publishRevolution(record); };
  sinks.status = [&](const std::uint8_t* packet) { node->publishStatus(windowValues(packet)); };
  const int code = listenCommand(args, &sinks);
  std::fprintf(stderr, "z540k-tool ros: published %llu revolutions and %llu status packets\n",
               static_cast<unsigned long long>(node->scansPublished()),
               static_cast<unsigned long long>(node->statusPublished()));
  return code;
}

}  // namespace z540k::cli
