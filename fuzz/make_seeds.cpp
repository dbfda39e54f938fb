// Writes the seed corpus of the decoder fuzz target: command programs built
// around real packets from the encoders (whole revolutions in both layouts
// and all return modes, compact scans, status packets).
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "PacketEncoders.h"
#include "ScanPacketStream.h"

using namespace z540k;

namespace {

void write(const std::string& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Command 2 followed by the packet's bytes after its FF EE.
void appendDataPacket(std::vector<std::uint8_t>& program, const sim::DataPacketBytes& p) {
  program.push_back(2);
  program.insert(program.end(), p.begin() + 2, p.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_seeds DIR\n";
    return 2;
  }
  const std::string dir = argv[1];
  int n = 0;
  for (Layout layout : {Layout::Protocol16, Layout::Protocol17}) {
    for (int mode = 0; mode < 4; ++mode) {
      sim::ScanPattern pattern;
      pattern.layout = layout;
      pattern.dualReturn = mode != 0;
      pattern.firingsPerRevolution = 36;  // three packets per turn keep seeds small
      sim::ScanPacketStream stream(pattern);
      std::vector<std::uint8_t> program{0, static_cast<std::uint8_t>(mode + 1), 1, static_cast<std::uint8_t>(layout)};
      program.push_back(7);  // reset: the pending layout becomes active at the first close
      for (int i = 0; i < 8; ++i) appendDataPacket(program, stream.next());
      // Replay with a step of 12 firings' worth of azimuth: more turns.
      program.insert(program.end(),
                     {9, 20, static_cast<std::uint8_t>(12000 & 0xFF), static_cast<std::uint8_t>(12000 >> 8)});
      write(dir, "revolutions-" + std::to_string(static_cast<int>(layout)) + "-" + std::to_string(mode), program);
      ++n;
    }
  }
  // Compact scans around the 270-degree close.
  std::vector<std::uint8_t> compact;
  std::array<sim::Measurement, kCompactMeasurementsPerPacket> m{};
  for (int k = 0; k < kCompactMeasurementsPerPacket; ++k)
    m[k] = sim::Measurement{static_cast<std::uint16_t>(100 + k), 7};
  for (std::uint32_t start : {0u, 900000u, 1800000u, 2700000u, 2700001u}) {
    const auto p = sim::encodeCompactScanPacket(start, m);
    compact.push_back(3);
    compact.insert(compact.end(), p.begin() + 2, p.end());
  }
  write(dir, "compact", compact);
  ++n;
  // Status packets, long and short.
  std::vector<std::uint8_t> status;
  for (auto layout : {sim::StatusLayout::Long, sim::StatusLayout::Short}) {
    const auto p = sim::encodeStatusPacket(sim::SensorStatus{}, layout);
    status.push_back(4);
    status.insert(status.end(), p.begin() + 8, p.end());
  }
  write(dir, "status", status);
  ++n;
  std::cout << n << " seeds written to " << dir << "\n";
  return 0;
}
