// Shared helpers of the decoder tests: a decoder that keeps what it emits,
// and the placeholder test.
#pragma once

#include <vector>

#include "DataPacketDecoder.h"
#include "PacketEncoders.h"
#include "ScanPacketStream.h"

namespace z540k::test {

struct RecordingDecoder {
  DataPacketDecoder decoder;
  std::vector<LidarDataSingleLine> records;

  RecordingDecoder() {
    decoder.setRecordSink([this](const LidarDataSingleLine& r) { records.push_back(r); });
  }

  void feed(const sim::DataPacketBytes& packet) { ASSERT_TRUE(decoder.decodeDataPacket(packet.data(), packet.size())); }

  void feed(sim::ScanPacketStream& stream, int packets) {
    for (int i = 0; i < packets; ++i) feed(stream.next());
  }
};

inline bool isPlaceholder(const LidarDataSingleLine& r, std::size_t i) { return r.isPlaceholder(i); }

inline void expectEqualLengths(const LidarDataSingleLine& r) {
  EXPECT_EQ(r.distance.size(), r.intensity.size());
  EXPECT_EQ(r.distance.size(), r.timestamp.size());
  EXPECT_EQ(r.distance.size(), r.azimuth.size());
}

// Block azimuth as the decoder computes it from hundredths of a degree.
inline double degrees(std::uint16_t hundredths) { return static_cast<double>(static_cast<float>(hundredths) / 100.0f); }

}  // namespace z540k::test
