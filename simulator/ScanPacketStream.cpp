#include "ScanPacketStream.h"

namespace z540k::sim {

ScanPacketStream::ScanPacketStream(ScanPattern pattern) : pattern_(pattern), timestamp_(pattern.firstTimestamp) {
  if (pattern_.dualReturn) pattern_.layout = Layout::Protocol17;
  if (pattern_.firingsPerRevolution < 1) pattern_.firingsPerRevolution = 1;
}

int ScanPacketStream::measurementsPerFiring() const {
  return pattern_.layout == Layout::Protocol17 ? kProtocol17MeasurementsPerBlock : kProtocol16MeasurementsPerBlock;
}

std::uint16_t ScanPacketStream::azimuthOf(std::uint64_t firing) const {
  const std::uint64_t f = firing % static_cast<std::uint64_t>(pattern_.firingsPerRevolution);
  const std::uint64_t a = pattern_.startAzimuth + f * 36000 / static_cast<std::uint64_t>(pattern_.firingsPerRevolution);
  return static_cast<std::uint16_t>(a % 36000);
}

Measurement ScanPacketStream::measurementOf(std::uint64_t firing, int k, int returnIndex) {
  const std::uint64_t mix =
      firing * 131 + static_cast<std::uint64_t>(k) * 17 + static_cast<std::uint64_t>(returnIndex) * 7;
  Measurement m;
  m.distance = static_cast<std::uint16_t>(1 + mix % 60000);
  m.intensity = static_cast<std::uint8_t>(mix % 251);
  return m;
}

DataPacketBytes ScanPacketStream::next() {
  DataPacketWriter writer(pattern_.layout);
  const int perFiring = measurementsPerFiring();
  if (pattern_.dualReturn) {
    for (int f = 0; f < 6; ++f, ++firing_) {
      writer.setBlockAzimuth(2 * f, azimuthOf(firing_));
      writer.setBlockAzimuth(2 * f + 1, azimuthOf(firing_));
      for (int k = 0; k < perFiring; ++k) {
        writer.setMeasurement(2 * f, k, measurementOf(firing_, k, 0));
        writer.setMeasurement(2 * f + 1, k, measurementOf(firing_, k, 1));
      }
    }
  } else {
    for (int b = 0; b < kBlocksPerPacket; ++b, ++firing_) {
      writer.setBlockAzimuth(b, azimuthOf(firing_));
      for (int k = 0; k < perFiring; ++k) writer.setMeasurement(b, k, measurementOf(firing_, k, 0));
    }
  }
  writer.setTimestamp(timestamp_);
  timestamp_ += pattern_.timestampStep;
  return writer.bytes();
}

}  // namespace z540k::sim
