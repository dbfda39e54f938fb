// What the configuration commands (configure, advanced, restore-defaults)
// read alike: the local time written into a packet, and a status packet
// saved in the dump format.
#pragma once

#include <stdexcept>
#include <string>

#include "CommandLine.h"
#include "NetworkSettingsPacket.h"

namespace z540k::cli {

// A refusal that is not about the command line's shape (a file, a sensor, a
// send): main prints it on one line and exits with 1.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// Nothing came from the sensor in the time given: exit code
// kExitNothingReceived.
struct NothingArrived : Refusal {
  using Refusal::Refusal;
};

// --local-time "yyyy-MM-dd hh:mm:ss" (a real date whose year fits the
// packet's byte, 2000-2255; UsageError otherwise), or now when not given.
LocalDateTime localTimeOption(const CommandLine& line);

// A status packet saved by "Save set file" or status --save-snapshot
// (Refusal with the reason when it is not one). Only a regular file is read:
// a FIFO or a device is refused at once, never waited on.
StatusSnapshot snapshotFromFile(const std::string& path);

}  // namespace z540k::cli
