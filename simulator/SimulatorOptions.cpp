#include "SimulatorOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

#include "SensorState.h"

namespace z540k::sim {

namespace {

constexpr double kMaxRate = 1000000.0;   // datagrams per second
constexpr double kMaxSeconds = 1e9;
constexpr unsigned kMaxPort = 65535;

// Options that shape the generated stream; a replay sends what the capture
// holds and refuses them.
const std::set<std::string> kStreamOptions = {"--layout", "--dual-return", "--rpm", "--compact", "--short-status",
                                              "--gps-jump-at", "--garbage", "--rate", "--status-to-data-port",
                                              "--drop", "--drop-seed"};

bool parseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool parseWhole(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  value = v;
  return true;
}

ParsedOptions failure(std::string why) {
  ParsedOptions r;
  r.outcome = ParsedOptions::Outcome::Error;
  r.error = std::move(why);
  return r;
}

}  // namespace

std::string simulatorUsage() {
  return
      "Usage: z540k-sim [options]\n"
      "A simulated Z540-K sensor: a room with walls, a pillar and a walking person, scanned\n"
      "and sent as the sensor sends it, over UDP.\n"
      "\n"
      "Network:\n"
      "  --bind ADDR            the sensor's address: it sends from ADDR and listens there for\n"
      "                         configuration packets (default 127.0.0.2)\n"
      "  --sensor-port N        the sensor's own port (default 2368)\n"
      "  --target ADDR          the host that receives data and status (default 127.0.0.1)\n"
      "  --data-port N          data packets go to target:N (default 2368)\n"
      "  --status-port N        status packets go to target:N (default 2369)\n"
      "  --status-to-data-port  also send every status packet to the data port (default off)\n"
      "\n"
      "The sensor:\n"
      "  --layout 1.6|1.7       data packet layout (default 1.7)\n"
      "  --dual-return          first and last return in block pairs (default single return)\n"
      "  --rpm 300|600|1200     motor speed (default 600)\n"
      "  --compact              compact scan packets instead of data packets (default off)\n"
      "  --short-status         status in the short layout, byte 1202 = 3 (default long)\n"
      "  --gps-jump-at SECONDS  the GPS time skips one second this long after the start\n"
      "                         (default never)\n"
      "\n"
      "Running:\n"
      "  --seconds N            stop after N seconds (default: run until Ctrl+C or SIGTERM)\n"
      "  --count N              stop after N data datagrams (default no limit)\n"
      "  --rate N               send N datagrams per second, whatever the motor speed (default:\n"
      "                         the sensor's own pace)\n"
      "  --garbage P            share P (0..1) of random and truncated datagrams mixed in\n"
      "                         (default 0)\n"
      "  --drop P               leave out share P (0..1) of the data datagrams at random, as a\n"
      "                         flaky cable would; counted in the summary (default 0)\n"
      "  --drop-seed N          the seed of those choices: the same seed, the same datagrams\n"
      "                         (default a fixed one)\n"
      "  --write-pcap FILE      write what would be sent into a capture file, with the times it\n"
      "                         would have, as fast as possible; needs --seconds or --count\n"
      "                         (default off)\n"
      "  --replay FILE          send the UDP payloads of a capture file at their recorded pace\n"
      "                         (default off)\n"
      "  --speed X              replay pace factor (default 1)\n"
      "  --fast                 replay as fast as possible (default off)\n"
      "  --quiet                no start line and no summary (default off)\n"
      "  --help                 this text\n";
}

ParsedOptions parseSimulatorOptions(const std::vector<std::string>& arguments) {
  SimulatorOptions o;
  std::set<std::string> given;

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool hasInlineValue = false;
    const std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      hasInlineValue = true;
    }
    given.insert(name);

    const auto flag = [&](bool& field) {
      if (hasInlineValue) return false;
      field = true;
      return true;
    };
    // Takes the option's value (inline or the next argument).
    bool missing = false;
    const auto takeValue = [&]() -> const std::string& {
      if (!hasInlineValue) {
        if (i + 1 >= arguments.size()) {
          missing = true;
          return value;
        }
        value = arguments[++i];
      }
      return value;
    };
    const auto port = [&](std::uint16_t& field) {
      std::uint64_t v = 0;
      if (!parseWhole(takeValue(), v) || v < 1 || v > kMaxPort) return false;
      field = static_cast<std::uint16_t>(v);
      return true;
    };
    const auto positive = [&](std::optional<double>& field, double upper) {
      double v = 0;
      if (!parseNumber(takeValue(), v) || v <= 0 || v > upper) return false;
      field = v;
      return true;
    };

    bool ok = true;
    if (name == "--help" || name == "-h") {
      ParsedOptions r;
      r.outcome = ParsedOptions::Outcome::Help;
      return r;
    } else if (name == "--bind") {
      o.bindAddress = takeValue();
    } else if (name == "--sensor-port") {
      ok = port(o.sensorPort);
    } else if (name == "--target") {
      o.target = takeValue();
    } else if (name == "--data-port") {
      ok = port(o.dataPort);
    } else if (name == "--status-port") {
      ok = port(o.statusPort);
    } else if (name == "--status-to-data-port") {
      ok = flag(o.statusToDataPort);
    } else if (name == "--short-status") {
      ok = flag(o.shortStatus);
    } else if (name == "--layout") {
      const std::string& v = takeValue();
      ok = v == "1.6" || v == "1.7";
      o.layout = v == "1.6" ? 0 : 1;
    } else if (name == "--dual-return") {
      ok = flag(o.dualReturn);
    } else if (name == "--rpm") {
      std::uint64_t v = 0;
      ok = parseWhole(takeValue(), v) && isMotorSpeed(static_cast<unsigned>(v)) && v <= kMaxPort;
      if (ok) o.rpm = static_cast<std::uint16_t>(v);
    } else if (name == "--compact") {
      ok = flag(o.compactScan);
    } else if (name == "--gps-jump-at") {
      double v = 0;
      ok = parseNumber(takeValue(), v) && v >= 0 && v <= kMaxSeconds;
      if (ok) o.gpsJumpAt = v;
    } else if (name == "--seconds") {
      ok = positive(o.seconds, kMaxSeconds);
    } else if (name == "--write-pcap") {
      o.writePcap = takeValue();
      ok = !o.writePcap.empty();
    } else if (name == "--replay") {
      o.replay = takeValue();
      ok = !o.replay.empty();
    } else if (name == "--speed") {
      ok = positive(o.speed, kMaxRate);
    } else if (name == "--fast") {
      ok = flag(o.fast);
    } else if (name == "--rate") {
      ok = positive(o.rate, kMaxRate);
    } else if (name == "--garbage") {
      double v = 0;
      ok = parseNumber(takeValue(), v) && v >= 0 && v <= 1;
      if (ok) o.garbage = v;
    } else if (name == "--drop") {
      double v = 0;
      ok = parseNumber(takeValue(), v) && v >= 0 && v <= 1;
      if (ok) o.drop = v;
    } else if (name == "--drop-seed") {
      std::uint64_t v = 0;
      ok = parseWhole(takeValue(), v);
      if (ok) o.dropSeed = v;
    } else if (name == "--count") {
      std::uint64_t v = 0;
      ok = parseWhole(takeValue(), v) && v >= 1;
      if (ok) o.count = v;
    } else if (name == "--quiet") {
      ok = flag(o.quiet);
    } else {
      return failure("unknown option " + arguments[i] + " (--help lists the options)");
    }
    if (missing) return failure(name + " needs a value");
    if (!ok) {
      if (hasInlineValue && (name == "--status-to-data-port" || name == "--short-status" || name == "--dual-return" ||
                             name == "--compact" || name == "--fast" || name == "--quiet"))
        return failure(name + " takes no value");
      std::string expected;
      if (name == "--layout") expected = "1.6 or 1.7";
      else if (name == "--rpm") expected = "300, 600 or 1200";
      else if (name.find("port") != std::string::npos) expected = "a port 1..65535";
      else if (name == "--garbage" || name == "--drop") expected = "a share 0..1";
      else if (name == "--drop-seed") expected = "a whole number";
      else if (name == "--count") expected = "a whole number of at least 1";
      else if (name == "--gps-jump-at") expected = "seconds, 0 or more";
      else if (name == "--write-pcap" || name == "--replay") expected = "a file name";
      else expected = "a number above 0";
      return failure("bad value '" + value + "' for " + name + ": expected " + expected);
    }
  }

  // Addresses.
  Ipv4Address bind{};
  Ipv4Address target{};
  if (!parseIpv4(o.bindAddress, bind) || bind[0] == 0 || bind[0] > 223)
    return failure("bad value '" + o.bindAddress + "' for --bind: expected a unicast IPv4 address such as 127.0.0.2");
  if (!parseIpv4(o.target, target) || target[0] == 0 || target[0] > 223)
    return failure("bad value '" + o.target + "' for --target: expected a unicast IPv4 address such as 127.0.0.1");
  if (isLoopback(bind) && !isLoopback(target))
    return failure("--target " + o.target + " cannot be reached from the loopback address " + o.bindAddress);
  if (bind == target && (o.dataPort == o.sensorPort || o.statusPort == o.sensorPort))
    return failure("--target " + o.target + " with that port is the sensor itself");

  // Combinations.
  if (!o.writePcap.empty() && !o.replay.empty()) return failure("--write-pcap and --replay exclude each other");
  if (o.speed && o.fast) return failure("--speed and --fast exclude each other");
  if ((o.speed || o.fast) && o.replay.empty()) return failure((o.fast ? "--fast" : "--speed") + std::string(" needs --replay"));
  if (!o.writePcap.empty() && !o.seconds && !o.count) return failure("--write-pcap needs --seconds or --count");
  if (o.compactScan && o.dualReturn) return failure("--compact and --dual-return exclude each other: compact scan packets carry one return");
  if (!o.replay.empty())
    for (const std::string& option : kStreamOptions)
      if (given.count(option)) return failure(option + " does not apply to --replay: the capture is sent as recorded");

  ParsedOptions r;
  r.outcome = ParsedOptions::Outcome::Run;
  r.options = o;
  return r;
}

}  // namespace z540k::sim
