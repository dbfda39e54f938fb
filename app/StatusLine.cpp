#include "StatusLine.h"

#include <cstdio>

namespace z540k {

std::string statusLineText(const ReceptionFigures& f) {
  std::string state;
  if (f.playing)
    state = "Playing a capture";
  else if (!f.lidarOn)
    state = "Not receiving (press Lidar)";
  else if (!f.setupError.empty())
    state = "Not receiving: " + f.setupError;
  else if (f.datagramsLastSecond == 0)
    state = "No data on port " + std::to_string(f.dataPort);
  else
    state = "Receiving on port " + std::to_string(f.dataPort);
  char figures[256];
  std::snprintf(figures, sizeof figures,
                "   |   %.1f rev/s   |   %zu points/frame   |   %llu datagrams, %llu unrecognised, %llu dropped by "
                "the kernel   |   %llu frames dropped for display",
                f.revolutionsPerSecond, f.pointsPerFrame, static_cast<unsigned long long>(f.datagrams),
                static_cast<unsigned long long>(f.unrecognised), static_cast<unsigned long long>(f.kernelDrops),
                static_cast<unsigned long long>(f.displayDrops));
  return state + figures;
}

}  // namespace z540k
