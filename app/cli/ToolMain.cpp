// z540k-tool: the sensor's data without the window, with the program's own
// decoding. Commands: export-csv (capture file to CSV), export-cloud (to
// point cloud files), listen (live revolutions), status (live status
// packets), configure (the network settings packet), advanced (the factory
// values), restore-defaults (the sensor's default network settings), info
// (a capture per sender), slice (some revolutions' records), record (the
// window's recorder), discover (the sensors whose status arrives).
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Commands.h"
#include "Version.h"

namespace z540k::cli {

const char* const kDecodeOptionNames[6] = {"--layout",    "--return-mode", "--view-mode",
                                           "--angle-min", "--angle-max",   "--frames"};

const char* const kDecodeOptionsHelp =
    "  --layout 1.6|1.7       data packet layout, active from the first packet (default 1.6)\n"
    "  --return-mode 0-3      0 strongest, 1 dual (first then second), 2 dual first, 3 dual second (default:\n"
    "                         as the data show, 1 when their blocks come in pairs of one firing, else 0)\n"
    "  --view-mode 1|2        1 whole centimetres (truncated), 2 fractions kept (default 1)\n"
    "  --angle-min A          smallest azimuth written, degrees, inclusive, 0 to 360 (default 0)\n"
    "  --angle-max B          largest azimuth written, degrees, inclusive, 0 to 360 (default 360); equal\n"
    "                         ends keep half a degree on each side, as the window's save options do\n";

const char* const kFrameRangeHelp =
    "  --frames N|A:B|A:      the first N frames (default 0: every frame), frames A to B (both\n"
    "                         included) or from A on; frames count from 1, as export-csv numbers\n"
    "                         them (FreamID counts from 1 again in every file written)\n";

// --frames N (the first N, 0 every frame), A:B (frames A to B, both
// included, counted from 1 as FreamID counts) or A: (from A to the end).
void takeFrameRange(const std::string& text, long long& first, long long& count) {
  const auto whole = [&text](const std::string& part) {
    if (part.empty() || part.size() > 13 || part.find_first_not_of("0123456789") != std::string::npos)
      throw UsageError("--frames: \"" + text + "\" is not N, A:B or A: (frames counted from 1)");
    return std::stoll(part);
  };
  const auto colon = text.find(':');
  if (colon == std::string::npos) {
    first = 1;
    count = whole(text);
    return;
  }
  first = whole(text.substr(0, colon));
  const std::string end = text.substr(colon + 1);
  const long long last = end.empty() ? 0 : whole(end);
  if (first < 1 || (!end.empty() && last < first))
    throw UsageError("--frames: \"" + text + "\" needs 1 <= A <= B (frames counted from 1)");
  count = end.empty() ? 0 : last - first + 1;
}

DecodeSettings decodeSettings(const CommandLine& line) {
  DecodeSettings s;
  s.layout = line.choice("--layout", {"1.6", "1.7"}, 0) == 0 ? Layout::Protocol16 : Layout::Protocol17;
  // 0..3 as the return modes are numbered; without it the data decide.
  if (line.has("--return-mode")) s.returnMode = static_cast<ReturnMode>(line.integer("--return-mode", 0, 0, 3));
  s.csv.layout = s.layout;
  s.csv.viewMode =
      line.choice("--view-mode", {"1", "2"}, 0) == 0 ? ViewMode::WholeCentimetres : ViewMode::FractionsKept;
  // The save-data options' rule, with the dialog's words.
  if (const char* refusal = takeCsvAngleRange(static_cast<float>(line.number("--angle-min", 0.0)),
                                              static_cast<float>(line.number("--angle-max", 360.0)), s.csv))
    throw UsageError(std::string(refusal) + " (--angle-min and --angle-max: 0 to 360, the first not above the second)");
  takeFrameRange(line.text("--frames", "0"), s.firstFrame, s.frames);
  return s;
}

}  // namespace z540k::cli

namespace {

const char* const kUsage =
    "usage: z540k-tool COMMAND [options]\n"
    "\n"
    "The Z540-K sensor's data without the window, decoded as the program decodes it.\n"
    "\n"
    "commands:\n"
    "  export-csv CAPTURE OUT.csv [options]   write the revolutions of a capture file as CSV\n"
    "  export-cloud CAPTURE OUT [options]     write them as point cloud files (PCD, PLY)\n"
    "  export-bag CAPTURE OUT.bag [options]   write them as a ROS bag (LaserScan, PointCloud2)\n"
    "  listen [options]                       receive live data packets and report each revolution\n"
    "  ros [options]                          publish the live revolutions and status as a ROS node\n"
    "  status [options]                       receive live status packets and print them\n"
    "  configure [options]                    write the sensor's network and motor settings\n"
    "  advanced [options]                     show or write the sensor's factory values\n"
    "  restore-defaults --to IP:PORT          restore the sensor's default network settings\n"
    "  info CAPTURE [--json]                  what a capture holds, sensor by sensor\n"
    "  slice CAPTURE OUT --frames A:B         copy some revolutions' records to a capture of their own\n"
    "  record OUT.pcap [--seconds S]          record the data port's traffic as the window's Record does\n"
    "  discover [--seconds S] [--json]        list every sensor whose status packets reach this host\n"
    "\n"
    "z540k-tool COMMAND --help (or -h) shows the options of a command; z540k-tool --version the version.\n"
    "\n"
    "exit codes: 0 done; 1 failed (the message says why); 2 wrong usage; 3 nothing arrived from the\n"
    "sensor in the time given (status, listen, configure, advanced, record, discover).\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace z540k::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--version" || args[0] == "version")) {
    std::printf("z540k-tool %s\n", Z540K_VERSION);
    return 0;
  }
  // -h is --help, for every command as for the tool.
  for (std::string& a : args)
    if (a == "-h") a = "--help";
  if (args.empty() || args[0] == "--help" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  installStopHandler();
  try {
    if (command == "export-csv") return exportCsvCommand(args);
    if (command == "export-cloud") return exportCloudCommand(args);
    if (command == "export-bag") return exportBagCommand(args);
    if (command == "listen") return listenCommand(args);
    if (command == "ros") return rosCommand(args);
    if (command == "status") return statusCommand(args);
    if (command == "configure") return configureCommand(args);
    if (command == "advanced") return advancedCommand(args);
    if (command == "restore-defaults") return restoreDefaultsCommand(args);
    if (command == "info") return infoCommand(args);
    if (command == "slice") return sliceCommand(args);
    if (command == "record") return recordCommand(args);
    if (command == "discover") return discoverCommand(args);
    std::fprintf(stderr, "z540k-tool: unknown command \"%s\" (see z540k-tool --help)\n", command.c_str());
    return 2;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "z540k-tool %s: %s\n", command.c_str(), e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "z540k-tool %s: %s\n", command.c_str(), e.what());
    return 1;
  }
}
