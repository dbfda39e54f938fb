// The command line of z540k-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PacketFormat.h"

namespace z540k::sim {

constexpr std::uint16_t kSensorPort = 2368;  // the sensor sends from and listens on it

struct SimulatorOptions {
  std::string bindAddress = "127.0.0.2";
  std::uint16_t sensorPort = kSensorPort;
  std::string target = "127.0.0.1";
  std::uint16_t dataPort = kDefaultDataPort;
  std::uint16_t statusPort = kDefaultStatusPort;
  bool statusToDataPort = false;
  bool shortStatus = false;
  Layout layout = Layout::Protocol17;
  bool dualReturn = false;
  std::uint16_t rpm = 600;
  bool compactScan = false;
  std::optional<double> gpsJumpAt;  // seconds after start
  std::optional<double> seconds;
  std::string writePcap;
  std::string replay;
  std::optional<double> speed;  // replay pace factor
  bool fast = false;            // replay as fast as possible
  std::optional<double> rate;   // datagrams per second
  double garbage = 0.0;
  double drop = 0.0;  // share of data datagrams left out
  std::optional<std::uint64_t> dropSeed;
  std::optional<std::uint64_t> count;
  bool quiet = false;
};

struct ParsedOptions {
  enum class Outcome { Run, Help, Error } outcome = Outcome::Error;
  SimulatorOptions options;
  std::string error;  // one line, for Outcome::Error
};

// Reads the arguments after the program name with the shared parser
// (common/Arguments.h). Every value is checked: a bad one gives
// Outcome::Error with the reason; --help (or -h) gives Outcome::Help without
// checking the values.
ParsedOptions parseSimulatorOptions(const std::vector<std::string>& arguments);

// The --help text, from the declared options, every option with its default.
std::string simulatorUsage();

}  // namespace z540k::sim
