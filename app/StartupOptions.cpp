#include "StartupOptions.h"

#include <arpa/inet.h>

#include "Arguments.h"

namespace z540k {

namespace {

constexpr double kYear = 86400.0 * 366;

const std::vector<OptionSpec> kOptions = {
    {"--port", "N", "the data port field (default 2368)"},
    {"--telemetry-port", "N", "the status port field (default 2369)"},
    {"--multicast", "ADDR", "the multicast group field, empty for none (default 224.1.1.1)"},
    {"--layout", "1.6|1.7", "the data packet layout chosen in the protocol list (default 1.6)"},
    {"--return-mode", "0-3",
     "decode in this return mode: 0 strongest, 1 dual (first then second),\n"
     "2 dual first, 3 dual second (default: the sensor's, from its status\n"
     "packets, or from its data packets until one came)"},
    {"--sensor", "IP[:PORT]",
     "draw the sensor sending from this address only (default: the first\n"
     "sensor heard after Lidar is pressed)"},
    {"--start", "", "press \"Lidar\" at start-up: receive at once"},
    {"--capture-device", "NAME", "record on this network adapter (also Z540K_CAPTURE_DEVICE)"},
    {"--factory", "",
     "show the factory buttons (\"ACWPSettin\": advanced configuration and\n"
     "the GPS time-stamp test; \"Channel\": laser channel selection)"},
    {"--screenshot", "FILE", "save a picture of the whole window (PNG) before quitting"},
    {"--quit-after", "SECONDS",
     "quit after this many seconds (with --screenshot: exit 0 only when\n"
     "the picture was written)"},
    {"--version", "", "print the program's version and exit"},
    {"--help", "", "this text"},
};

}  // namespace

std::string startupHelp() {
  return "usage: z540k-host [options]\n"
         "\n"
         "The Z540-K host program: the live scan as a 3-D point cloud, capture files, CSV export and the\n"
         "sensor's configuration.\n"
         "\n"
         "options:\n" +
         optionsHelp(kOptions, 26);
}

bool parseStartupOptions(const std::vector<std::string>& args, StartupOptions& o, std::string& error) {
  try {
    const Arguments line(args, kOptions);  // positional arguments are Qt's
    o.help = line.has("--help");
    if (o.help) return true;
    if (line.has("--port")) o.dataPort = line.port("--port", 0);
    if (line.has("--telemetry-port")) o.telemetryPort = line.port("--telemetry-port", 0);
    if (line.has("--multicast")) {
      o.multicast = line.text("--multicast", "");
      in_addr parsed{};
      if (!o.multicast->empty() && ::inet_pton(AF_INET, o.multicast->c_str(), &parsed) != 1)
        line.refuse("--multicast", "an IPv4 address, or empty for none");
    }
    if (line.has("--layout")) o.layout = line.choice("--layout", {"1.6", "1.7"}, 0);
    if (line.has("--return-mode")) o.returnMode = static_cast<int>(line.integer("--return-mode", 0, 0, 3));
    if (line.has("--sensor")) {
      SensorAddress sensor;
      std::string reason;
      if (!parseSensorAddress(line.text("--sensor", ""), sensor, reason)) throw OptionError("--sensor: " + reason);
      o.sensor = sensor;
    }
    o.start = line.has("--start");
    o.captureDevice = line.text("--capture-device", "");
    o.factory = line.has("--factory");
    o.screenshot = line.text("--screenshot", "");
    if (line.has("--screenshot") && o.screenshot.empty()) throw OptionError("--screenshot needs a file name");
    o.quitAfterSeconds = line.numberAbove("--quit-after", 0, 0, kYear, "seconds, more than 0 and at most a year");
    if (!o.screenshot.empty() && o.quitAfterSeconds <= 0) throw OptionError("--screenshot needs --quit-after SECONDS");
  } catch (const OptionError& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace z540k
