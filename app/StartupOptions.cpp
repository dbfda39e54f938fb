#include "StartupOptions.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace z540k {

const char* const kStartupHelp =
    "usage: z540k-host [options]\n"
    "\n"
    "The Z540-K host program: the live scan as a 3-D point cloud, capture files, CSV export and the\n"
    "sensor's configuration.\n"
    "\n"
    "options:\n"
    "  --port N                the data port field (default 2368)\n"
    "  --telemetry-port N      the status port field (default 2369)\n"
    "  --multicast ADDR        the multicast group field, empty for none (default 224.1.1.1)\n"
    "  --layout 1.6|1.7        the data packet layout chosen in the protocol list (default 1.6)\n"
    "  --start                 press \"Lidar\" at start-up: receive at once\n"
    "  --capture-device NAME   record on this network adapter (also Z540K_CAPTURE_DEVICE)\n"
    "  --factory               show the factory buttons (\"ACWPSettin\": advanced configuration and\n"
    "                          the GPS time-stamp test; \"Channel\": laser channel selection)\n"
    "  --screenshot FILE       save a picture of the whole window (PNG) before quitting\n"
    "  --quit-after SECONDS    quit after this many seconds (with --screenshot: exit 0 only when\n"
    "                          the picture was written)\n"
    "  --help                  this text\n";

namespace {

bool port(const std::string& name, const std::string& text, std::optional<int>& out, std::string& error) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < 1 || v > 65535) {
    error = "bad value for " + name + ": \"" + text + "\" (expected a port from 1 to 65535)";
    return false;
  }
  out = static_cast<int>(v);
  return true;
}

}  // namespace

bool parseStartupOptions(const std::vector<std::string>& args, StartupOptions& o, std::string& error) {
  const std::vector<std::string> withValue = {"--port", "--telemetry-port", "--multicast", "--layout", "--capture-device",
                                              "--screenshot", "--quit-after"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    if (name.compare(0, 2, "--") != 0) continue;  // Qt's own options start with a single dash
    std::string value;
    bool hasValue = false;
    const auto eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    bool takesValue = false;
    for (const auto& w : withValue) takesValue = takesValue || w == name;
    if (takesValue && !hasValue) {
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    } else if (!takesValue && hasValue) {
      error = "option " + name + " takes no value";
      return false;
    }
    if (name == "--port") {
      if (!port(name, value, o.dataPort, error)) return false;
    } else if (name == "--telemetry-port") {
      if (!port(name, value, o.telemetryPort, error)) return false;
    } else if (name == "--multicast") {
      in_addr parsed{};
      if (!value.empty() && ::inet_pton(AF_INET, value.c_str(), &parsed) != 1) {
        error = "bad value for --multicast: \"" + value + "\" (expected an IPv4 address, or empty for none)";
        return false;
      }
      o.multicast = value;
    } else if (name == "--layout") {
      if (value != "1.6" && value != "1.7") {
        error = "bad value for --layout: \"" + value + "\" (expected 1.6 or 1.7)";
        return false;
      }
      o.layout = value == "1.7" ? 1 : 0;
    } else if (name == "--factory") {
      o.factory = true;
    } else if (name == "--capture-device") {
      o.captureDevice = value;
    } else if (name == "--screenshot") {
      if (value.empty()) {
        error = "--screenshot needs a file name";
        return false;
      }
      o.screenshot = value;
    } else if (name == "--quit-after") {
      char* end = nullptr;
      const double v = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !std::isfinite(v) || v <= 0 || v > 86400 * 366) {
        error = "bad value for --quit-after: \"" + value + "\" (expected seconds, more than 0 and at most a year)";
        return false;
      }
      o.quitAfterSeconds = v;
    } else if (name == "--start") {
      o.start = true;
    } else if (name == "--help") {
      o.help = true;
    } else {
      error = "unknown option " + args[i] + " (see --help)";
      return false;
    }
  }
  if (!o.screenshot.empty() && o.quitAfterSeconds <= 0) {
    error = "--screenshot needs --quit-after SECONDS";
    return false;
  }
  return true;
}

}  // namespace z540k
