// The status bar's line: whether data flows and why not, at a glance.
#pragma once

#include <cstdint>
#include <string>

namespace z540k {

struct ReceptionFigures {
  bool lidarOn = false;            // the "Lidar" button is pressed
  bool playing = false;            // a capture plays
  int dataPort = 0;
  double revolutionsPerSecond = 0;  // frames that arrived in the last second
  std::uint64_t datagramsLastSecond = 0;
  std::size_t pointsPerFrame = 0;  // measurements of the newest frame
  std::uint64_t datagrams = 0;     // read on the data port since the program started
  std::uint64_t unrecognised = 0;  // of those, neither data, status nor compact scan packets
  std::uint64_t kernelDrops = 0;   // dropped by the kernel (receive buffer full)
  std::uint64_t displayDrops = 0;  // frames the window could not draw in time
  std::string setupError;          // the last failure to set up reception, empty when none
};

// Plain text; the window shows it in white rich text, so it is escaped there.
std::string statusLineText(const ReceptionFigures& f);

}  // namespace z540k
