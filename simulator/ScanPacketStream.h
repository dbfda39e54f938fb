// A deterministic stream of data packets for a turning sensor: consecutive
// firings at evenly spaced azimuths, every measurement's distance and
// intensity a function of its firing and index. Tests and benchmarks use it
// to produce whole revolutions in any layout and return arrangement.
#pragma once

#include <cstdint>
#include <functional>

#include "PacketEncoders.h"

namespace z540k::sim {

struct ScanPattern {
  Layout layout = Layout::Protocol17;
  bool dualReturn = false;         // firings as (first, second) block pairs, protocol 1.7 slots
  int firingsPerRevolution = 360;  // block azimuth step = 36000 / firingsPerRevolution hundredths
  std::uint16_t startAzimuth = 0;  // hundredths of a degree of the first firing
  std::uint32_t firstTimestamp = 1000000;
  std::uint32_t timestampStep = 1125;  // per packet
};

class ScanPacketStream {
 public:
  explicit ScanPacketStream(ScanPattern pattern);

  // The next packet of the stream.
  DataPacketBytes next();

  // Firings per packet: 12 single-return blocks, or 6 dual-return pairs.
  int firingsPerPacket() const { return pattern_.dualReturn ? 6 : 12; }
  int measurementsPerFiring() const;
  std::uint64_t firingsSent() const { return firing_; }

  // Block azimuth (hundredths) of firing i.
  std::uint16_t azimuthOf(std::uint64_t firing) const;
  // Distance and intensity of measurement k of firing i, for the given return
  // (0 first, 1 second). Distances are never 0, so a placeholder is told apart.
  static Measurement measurementOf(std::uint64_t firing, int k, int returnIndex);

 private:
  ScanPattern pattern_;
  std::uint64_t firing_ = 0;
  std::uint32_t timestamp_;
};

}  // namespace z540k::sim
