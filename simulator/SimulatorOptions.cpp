#include "SimulatorOptions.h"

#include <climits>

#include "Arguments.h"
#include "SensorState.h"

namespace z540k::sim {

namespace {

constexpr double kMaxRate = 1000000.0;  // datagrams per second
constexpr double kMaxSeconds = 1e9;

const std::vector<OptionSpec> kNetworkOptions = {
    {"--bind", "ADDR",
     "the sensor's address: it sends from ADDR and listens there for\n"
     "configuration packets (default 127.0.0.2)"},
    {"--sensor-port", "N", "the sensor's own port (default 2368)"},
    {"--target", "ADDR", "the host that receives data and status (default 127.0.0.1)"},
    {"--data-port", "N", "data packets go to target:N (default 2368)"},
    {"--status-port", "N", "status packets go to target:N (default 2369)"},
    {"--status-to-data-port", "", "also send every status packet to the data port (default off)"},
};

const std::vector<OptionSpec> kSensorOptions = {
    {"--layout", "1.6|1.7", "data packet layout (default 1.7)"},
    {"--dual-return", "", "first and last return in block pairs (default single return)"},
    {"--rpm", "300|600|1200", "motor speed (default 600)"},
    {"--compact", "", "compact scan packets instead of data packets (default off)"},
    {"--short-status", "", "status in the short layout, byte 1202 = 3 (default long)"},
    {"--gps-jump-at", "SECONDS",
     "the GPS time skips one second this long after the start\n"
     "(default never)"},
};

const std::vector<OptionSpec> kRunningOptions = {
    {"--seconds", "N", "stop after N seconds (default: run until Ctrl+C or SIGTERM)"},
    {"--count", "N", "stop after N data datagrams (default no limit)"},
    {"--rate", "N",
     "send N datagrams per second, whatever the motor speed (default:\n"
     "the sensor's own pace)"},
    {"--garbage", "P",
     "share P (0..1) of random, truncated, over-long and empty\n"
     "datagrams mixed in (default 0)"},
    {"--drop", "P",
     "leave out share P (0..1) of the data datagrams at random, as a\n"
     "flaky cable would; counted in the summary (default 0)"},
    {"--drop-seed", "N",
     "the seed of those choices: the same seed, the same datagrams\n"
     "(default a fixed one)"},
    {"--write-pcap", "FILE",
     "write what would be sent into a capture file, with the times it\n"
     "would have, as fast as possible; needs --seconds or --count\n"
     "(default off)"},
    {"--replay", "FILE",
     "send the UDP payloads of a capture file at their recorded pace\n"
     "(default off)"},
    {"--speed", "X", "replay pace factor (default 1)"},
    {"--fast", "", "replay as fast as possible (default off)"},
    {"--quiet", "", "no start line and no summary (default off)"},
    {"--version", "", "print the program's version and exit"},
    {"--help", "", "this text", "-h"},
};

constexpr std::size_t kHelpColumn = 25;

// Options that shape the generated stream; a replay sends what the capture
// holds and refuses them.
const std::vector<std::string> kStreamOptions = {
    "--layout", "--dual-return",         "--rpm",  "--compact",  "--short-status", "--gps-jump-at", "--garbage",
    "--rate",   "--status-to-data-port", "--drop", "--drop-seed"};

std::vector<OptionSpec> allOptions() {
  std::vector<OptionSpec> all = kNetworkOptions;
  all.insert(all.end(), kSensorOptions.begin(), kSensorOptions.end());
  all.insert(all.end(), kRunningOptions.begin(), kRunningOptions.end());
  return all;
}

ParsedOptions outcome(ParsedOptions::Outcome what, const SimulatorOptions& options = {}, std::string error = {}) {
  ParsedOptions r;
  r.outcome = what;
  r.options = options;
  r.error = std::move(error);
  return r;
}

// The values and their combinations; throws OptionError.
SimulatorOptions readOptions(const Arguments& line) {
  line.refusePositional();
  SimulatorOptions o;
  o.bindAddress = line.text("--bind", o.bindAddress);
  o.sensorPort = static_cast<std::uint16_t>(line.port("--sensor-port", o.sensorPort));
  o.target = line.text("--target", o.target);
  o.dataPort = static_cast<std::uint16_t>(line.port("--data-port", o.dataPort));
  o.statusPort = static_cast<std::uint16_t>(line.port("--status-port", o.statusPort));
  o.statusToDataPort = line.has("--status-to-data-port");
  o.shortStatus = line.has("--short-status");
  const int layoutIndex = line.choice("--layout", {"1.6", "1.7"}, o.layout == Layout::Protocol16 ? 0 : 1);
  o.layout = layoutIndex == 0 ? Layout::Protocol16 : Layout::Protocol17;
  o.dualReturn = line.has("--dual-return");
  const long long rpm = line.integer("--rpm", o.rpm, 0, 65535, "300, 600 or 1200");
  if (!isMotorSpeed(static_cast<unsigned>(rpm))) line.refuse("--rpm", "300, 600 or 1200");
  o.rpm = static_cast<std::uint16_t>(rpm);
  o.compactScan = line.has("--compact");
  if (line.has("--gps-jump-at")) o.gpsJumpAt = line.number("--gps-jump-at", 0, 0, kMaxSeconds, "seconds, 0 or more");
  if (line.has("--seconds")) o.seconds = line.numberAbove("--seconds", 0, 0, kMaxSeconds, "a number above 0");
  o.writePcap = line.text("--write-pcap", "");
  if (line.has("--write-pcap") && o.writePcap.empty()) line.refuse("--write-pcap", "a file name");
  o.replay = line.text("--replay", "");
  if (line.has("--replay") && o.replay.empty()) line.refuse("--replay", "a file name");
  if (line.has("--speed")) o.speed = line.numberAbove("--speed", 0, 0, kMaxRate, "a number above 0");
  o.fast = line.has("--fast");
  if (line.has("--rate")) o.rate = line.numberAbove("--rate", 0, 0, kMaxRate, "a number above 0");
  o.garbage = line.number("--garbage", o.garbage, 0, 1, "a share 0..1");
  o.drop = line.number("--drop", o.drop, 0, 1, "a share 0..1");
  if (line.has("--drop-seed"))
    o.dropSeed = static_cast<std::uint64_t>(line.integer("--drop-seed", 0, 0, LLONG_MAX, "a whole number"));
  if (line.has("--count"))
    o.count = static_cast<std::uint64_t>(line.integer("--count", 1, 1, LLONG_MAX, "a whole number of at least 1"));
  o.quiet = line.has("--quiet");

  // Addresses.
  Ipv4Address bind{};
  Ipv4Address target{};
  if (!parseIpv4(o.bindAddress, bind) || bind[0] == 0 || bind[0] > 223)
    throw OptionError(badValueMessage("--bind", o.bindAddress, "a unicast IPv4 address such as 127.0.0.2"));
  if (!parseIpv4(o.target, target) || target[0] == 0 || target[0] > 223)
    throw OptionError(badValueMessage("--target", o.target, "a unicast IPv4 address such as 127.0.0.1"));
  if (isLoopback(bind) && !isLoopback(target))
    throw OptionError("--target " + o.target + " cannot be reached from the loopback address " + o.bindAddress);
  if (bind == target && (o.dataPort == o.sensorPort || o.statusPort == o.sensorPort))
    throw OptionError("--target " + o.target + " with that port is the sensor itself");

  // Combinations.
  if (!o.writePcap.empty() && !o.replay.empty()) throw OptionError("--write-pcap and --replay exclude each other");
  if (o.speed && o.fast) throw OptionError("--speed and --fast exclude each other");
  if ((o.speed || o.fast) && o.replay.empty())
    throw OptionError((o.fast ? "--fast" : "--speed") + std::string(" needs --replay"));
  if (!o.writePcap.empty() && !o.seconds && !o.count) throw OptionError("--write-pcap needs --seconds or --count");
  if (o.compactScan && o.dualReturn)
    throw OptionError("--compact and --dual-return exclude each other: compact scan packets carry one return");
  if (!o.replay.empty())
    for (const std::string& option : kStreamOptions)
      if (line.has(option)) throw OptionError(option + " does not apply to --replay: the capture is sent as recorded");
  return o;
}

}  // namespace

std::string simulatorUsage() {
  return "Usage: z540k-sim [options]\n"
         "A simulated Z540-K sensor: a room with walls, a pillar and a walking person, scanned\n"
         "and sent as the sensor sends it, over UDP.\n"
         "\n"
         "Network:\n" +
         optionsHelp(kNetworkOptions, kHelpColumn) +
         "\n"
         "The sensor:\n" +
         optionsHelp(kSensorOptions, kHelpColumn) +
         "\n"
         "Running:\n" +
         optionsHelp(kRunningOptions, kHelpColumn);
}

ParsedOptions parseSimulatorOptions(const std::vector<std::string>& arguments) {
  try {
    const Arguments line(arguments, allOptions());
    if (line.has("--help")) return outcome(ParsedOptions::Outcome::Help);
    return outcome(ParsedOptions::Outcome::Run, readOptions(line));
  } catch (const OptionError& e) {
    return outcome(ParsedOptions::Outcome::Error, {}, e.what());
  }
}

}  // namespace z540k::sim
