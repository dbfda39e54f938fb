// The simulator's two capture-file modes: writing what the sensor would send
// into a capture file instead of the network, and sending a capture's UDP
// payloads as a sensor would.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "SimulatedSensor.h"
#include "SimulatorOptions.h"

namespace z540k::sim {

// Writes the stream of a sensor started with `options` at `clockStartUs`
// (UTC microseconds) into options.writePcap, for options.seconds of sensor
// time or until options.count data datagrams: each datagram with the capture
// time it would have, its addresses and ports, garbage and status included.
// As fast as it goes. False with a one-line reason.
bool writeCapture(const SimulatorOptions& options, std::int64_t clockStartUs, RunSummary& summary, std::string& error);

// Sends the UDP payloads of options.replay from the sensor's address and
// port to the target, at their recorded pace scaled by options.speed (or as
// fast as possible with options.fast). Payloads recorded to port 2368 go to
// the data port, to 2369 to the status port, others to their recorded port.
// Stops at the end of the file, at `stop`, or at the --seconds or --count
// limit. False with a one-line reason, also when the file turns out damaged
// part-way (what came before the damage has been sent). Paced by `clock`
// when given, else by the steady clock.
bool replayCapture(const SimulatorOptions& options, const std::atomic<bool>& stop, const SimulatorLog& log,
                   RunSummary& summary, std::string& error, PaceClock* clock = nullptr);

}  // namespace z540k::sim
