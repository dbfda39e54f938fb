// z540k-sim: a simulated Z540-K sensor on the network (loopback by default),
// for the host program's demo, the tests and load tests.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "Arguments.h"
#include "CaptureModes.h"
#include "SimulatedSensor.h"
#include "SimulatorOptions.h"
#include "Version.h"

namespace {

using namespace z540k::sim;

constexpr int kExitFailure = 1;
constexpr int kExitBadOptions = 2;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler stores into it");

extern "C" void onStopSignal(int) { stopRequested.store(true); }

// No SA_RESTART: a signal ends the wait on the socket at once.
void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void logLine(const std::string& line) { std::fprintf(stderr, "z540k-sim: %s\n", line.c_str()); }

std::string formatSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

void printSummary(const RunSummary& s, const char* what) {
  std::string line = std::string(what) + " " + std::to_string(s.data) + " data, " + std::to_string(s.status) +
                     " status, " + std::to_string(s.garbage) + " garbage datagrams in " + formatSeconds(s.seconds);
  if (s.seconds > 0) line += " (" + std::to_string(static_cast<long long>(s.data / s.seconds)) + " data per second)";
  if (s.dropped) line += ", " + std::to_string(s.dropped) + " dropped (socket buffer full)";
  if (s.leftOut) line += ", " + std::to_string(s.leftOut) + " data datagrams left out (--drop)";
  if (s.configurationsApplied || s.configurationsRefused)
    line += "; configuration packets: " + std::to_string(s.configurationsApplied) + " applied, " +
            std::to_string(s.configurationsRefused) + " refused";
  logLine(line);
}

int runLive(const SimulatorOptions& o) {
  SimulatedSensor sensor(o, logLine);
  std::string error;
  if (!sensor.open(error)) {
    logLine(error);
    return kExitFailure;
  }
  if (!o.quiet) {
    const SensorState& s = sensor.state();
    logLine("sensor at " + o.bindAddress + ":" + std::to_string(o.sensorPort) + ", " + describeStream(sensor.stream()) +
            "; data to " + formatIpv4(s.destIp) + ":" + std::to_string(s.dataPort) + ", status to " +
            formatIpv4(s.destIp) + ":" + std::to_string(s.statusPort) +
            (o.statusToDataPort ? " and to the data port" : "") + "; Ctrl+C stops");
  }
  if (!sensor.run(stopRequested, error)) {
    logLine(error);
    return kExitFailure;
  }
  if (!o.quiet) printSummary(sensor.summary(), "sent");
  if (sensor.summary().sendFailures) {
    logLine(std::to_string(sensor.summary().sendFailures) + " datagrams could not be sent");
    return kExitFailure;
  }
  return 0;
}

int runWritePcap(const SimulatorOptions& o) {
  RunSummary summary;
  std::string error;
  if (!writeCapture(o, utcNowMicroseconds(), summary, error)) {
    logLine(error);
    return kExitFailure;
  }
  if (!o.quiet) printSummary(summary, ("wrote into " + o.writePcap + ":").c_str());
  return 0;
}

int runReplay(const SimulatorOptions& o) {
  RunSummary summary;
  std::string error;
  const bool ok = replayCapture(o, stopRequested, logLine, summary, error);
  const bool sentSome = summary.data + summary.status + summary.garbage > 0;
  if (!o.quiet && (ok || sentSome)) printSummary(summary, "replayed");
  if (!ok) {
    logLine(error);
    return kExitFailure;
  }
  if (summary.sendFailures) {
    logLine(std::to_string(summary.sendFailures) + " datagrams could not be sent");
    return kExitFailure;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (z540k::versionAsked(arguments)) {
    std::cout << "z540k-sim " << Z540K_VERSION << "\n";
    return 0;
  }
  const ParsedOptions parsed = parseSimulatorOptions(arguments);
  if (parsed.outcome == ParsedOptions::Outcome::Help) {
    std::cout << simulatorUsage();
    return 0;
  }
  if (parsed.outcome == ParsedOptions::Outcome::Error) {
    logLine(parsed.error);
    return kExitBadOptions;
  }
  installStopHandlers();
  const SimulatorOptions& o = parsed.options;
  if (!o.writePcap.empty()) return runWritePcap(o);
  if (!o.replay.empty()) return runReplay(o);
  return runLive(o);
}
