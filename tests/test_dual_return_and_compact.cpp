// Dual-return decoding (modes 1 to 3) and compact scan packets.
#include <gtest/gtest.h>

#include "DecoderTestSupport.h"

using namespace z540k;
using namespace z540k::test;
using sim::DataPacketWriter;
using sim::Measurement;
using sim::ScanPacketStream;
using sim::ScanPattern;

namespace {

// The expected measurements of one return of the firings [first, last), in
// order, with their times.
struct Expected {
  std::vector<double> distance;
  std::vector<int> intensity;
  std::vector<unsigned long long> timestamp;
  std::vector<double> azimuth;
};

void appendReturn(Expected& e, const ScanPacketStream& stream, const ScanPattern& pattern, std::uint64_t first,
                  std::uint64_t last, int returnIndex) {
  for (std::uint64_t f = first; f < last; ++f) {
    const double T = pattern.firstTimestamp + static_cast<double>(f / 6) * pattern.timestampStep;
    const int b = static_cast<int>(2 * (f % 6)) + returnIndex;
    const double a0 = degrees(stream.azimuthOf(f));
    double span = degrees(stream.azimuthOf(f + 1)) - a0;
    if (span < 0) span += 360;
    for (int k = 0; k < 30; ++k) {
      const Measurement m = ScanPacketStream::measurementOf(f, k, returnIndex);
      e.distance.push_back(m.distance);
      e.intensity.push_back(m.intensity);
      e.timestamp.push_back(static_cast<unsigned long long>(T + (30 * b + kProtocol17Slots[k]) * 3.125 - 596.875));
      double a = a0 + span / 30 * k;
      e.azimuth.push_back(a >= 360 ? a - 360 : a);
    }
  }
}

void expectRecord(const LidarDataSingleLine& r, const Expected& e, const char* what) {
  ASSERT_EQ(r.distance.size(), e.distance.size()) << what;
  ASSERT_EQ(r.azimuth.size(), e.azimuth.size()) << what;
  for (std::size_t i = 0; i < e.distance.size(); ++i) {
    ASSERT_EQ(r.distance[i], e.distance[i]) << what << " entry " << i;
    ASSERT_EQ(r.intensity[i], e.intensity[i]) << what << " entry " << i;
    ASSERT_EQ(r.timestamp[i], e.timestamp[i]) << what << " entry " << i;
    ASSERT_NEAR(r.azimuth[i], e.azimuth[i], 1e-3) << what << " entry " << i;
  }
}

}  // namespace

class DualReturnTest : public ::testing::TestWithParam<ReturnMode> {};

// Mode 1 emits the first returns followed by the second returns, mode 2 only
// the first (even blocks), mode 3 only the second (odd blocks). Both records
// are emptied at every close, whatever the layout setting says.
TEST_P(DualReturnTest, RevolutionsHoldTheRightReturns) {
  const ReturnMode mode = GetParam();
  ScanPattern pattern;
  pattern.dualReturn = true;
  pattern.firingsPerRevolution = 120;  // 3 degrees per firing, 20 packets per turn
  ScanPacketStream stream(pattern);

  RecordingDecoder rec;
  rec.decoder.setPendingLayout(Layout::Protocol16);  // dual-return blocks ignore it
  rec.decoder.setReturnMode(mode);
  rec.feed(stream, 3 * 20 + 1);
  ASSERT_EQ(rec.records.size(), 3u);

  // The close comes at the even block of firing 120n: the first returns hold
  // firings [start, 120n] (the closing one included), the second returns
  // [start2, 120n). After a close the closing firing's second return starts
  // the next second-return record; its first return left with the record.
  for (std::uint64_t n = 0; n < 3; ++n) {
    const std::uint64_t end = 120 * (n + 1);
    const std::uint64_t firstStart = n == 0 ? 0 : 120 * n + 1;
    const std::uint64_t secondStart = n == 0 ? 0 : 120 * n;
    Expected e;
    if (mode == ReturnMode::Dual || mode == ReturnMode::DualFirst)
      appendReturn(e, stream, pattern, firstStart, end + 1, 0);
    if (mode == ReturnMode::Dual || mode == ReturnMode::DualSecond)
      appendReturn(e, stream, pattern, secondStart, end, 1);
    expectRecord(rec.records[n], e, "record");
    EXPECT_EQ(rec.records[n].blockAzimuth.size(),
              mode == ReturnMode::DualSecond ? end - secondStart : end + 1 - firstStart);
  }
  EXPECT_EQ(rec.decoder.activeLayout(), Layout::Protocol16);  // no layout change in dual modes
}

INSTANTIATE_TEST_SUITE_P(Modes, DualReturnTest,
                         ::testing::Values(ReturnMode::Dual, ReturnMode::DualFirst, ReturnMode::DualSecond));

// Right after a start the second-return record can hold a single block when
// the first revolution closes: it has no span to extrapolate with, so its
// measurements leave without azimuths, and nothing breaks.
TEST(DualReturnEdgeTest, SecondReturnWithOneBlockAtTheFirstClose) {
  for (ReturnMode mode : {ReturnMode::Dual, ReturnMode::DualSecond}) {
    RecordingDecoder rec;
    rec.decoder.setReturnMode(mode);
    DataPacketWriter w(Layout::Protocol17);
    const std::uint16_t az[6] = {35900, 50, 350, 650, 950, 1250};
    for (int f = 0; f < 6; ++f) {
      w.setBlockAzimuth(2 * f, az[f]);
      w.setBlockAzimuth(2 * f + 1, 12345);  // an odd block's own azimuth is not used
      for (int k = 0; k < 30; ++k) {
        w.setMeasurement(2 * f, k, Measurement{static_cast<std::uint16_t>(1000 + 100 * f + k), 1});
        w.setMeasurement(2 * f + 1, k, Measurement{static_cast<std::uint16_t>(5000 + 100 * f + k), 2});
      }
    }
    rec.feed(w.bytes());
    ASSERT_EQ(rec.records.size(), 1u) << static_cast<int>(mode);
    const LidarDataSingleLine& r = rec.records[0];
    if (mode == ReturnMode::DualSecond) {
      EXPECT_EQ(r.distance.size(), 30u);
      EXPECT_TRUE(r.azimuth.empty());
      EXPECT_EQ(r.distance[0], 5000.0);
    } else {
      EXPECT_EQ(r.distance.size(), 90u);
      EXPECT_EQ(r.azimuth.size(), 60u);
      EXPECT_EQ(r.distance[60], 5000.0);
    }
    // Firing 1's second return starts the next second-return record with
    // the azimuth of its even block.
    ASSERT_FALSE(rec.decoder.secondReturnRecord().blockAzimuth.empty());
    EXPECT_EQ(rec.decoder.secondReturnRecord().blockAzimuth[0], degrees(50));
  }
}

// A return mode change takes effect from the next packet; the strongest
// record's contents are kept and later emitted under the new mode's rules.
TEST(DualReturnEdgeTest, SwitchingModesKeepsDecodingSafe) {
  ScanPattern pattern;
  pattern.firingsPerRevolution = 100;
  ScanPacketStream stream(pattern);
  RecordingDecoder rec;
  rec.decoder.setLayout(Layout::Protocol16);
  for (int i = 0; i < 200; ++i) {
    rec.decoder.setReturnMode(i % 7 == 0 ? ReturnMode::Dual
                                         : (i % 5 == 0 ? ReturnMode::Strongest : ReturnMode::DualSecond));
    rec.feed(stream.next());
  }
  ASSERT_FALSE(rec.records.empty());
  for (const auto& r : rec.records) {
    EXPECT_EQ(r.distance.size(), r.intensity.size());
    EXPECT_EQ(r.distance.size(), r.timestamp.size());
  }
}

// ---- Compact scan packets -----------------------------------------------------

namespace {

sim::CompactScanPacketBytes compactPacket(std::uint32_t start, std::uint16_t distance) {
  std::array<Measurement, kCompactMeasurementsPerPacket> m{};
  for (int k = 0; k < kCompactMeasurementsPerPacket; ++k)
    m[k] = Measurement{static_cast<std::uint16_t>(distance + k), static_cast<std::uint8_t>(k)};
  return sim::encodeCompactScanPacket(start, m);
}

}  // namespace

// Start angle bytes 00 29 32 E0 (270.0000 degrees) close the compact
// revolution; 00 29 32 E1 (270.0001) does not.
TEST(CompactScanTest, ClosesExactlyAtTwoHundredSeventyDegrees) {
  RecordingDecoder rec;
  // Something in the strongest-return record, to see it cleared too.
  DataPacketWriter w(Layout::Protocol16);
  rec.feed(w.bytes());
  ASSERT_FALSE(rec.decoder.mainRecord().distance.empty());

  auto almost = compactPacket(2700001, 100);
  EXPECT_EQ(almost[20], 0x00);
  EXPECT_EQ(almost[21], 0x29);
  EXPECT_EQ(almost[22], 0x32);
  EXPECT_EQ(almost[23], 0xE1);
  for (std::uint32_t start : {0u, 900000u, 1800000u}) {
    auto p = compactPacket(start, 100);
    ASSERT_TRUE(rec.decoder.decodeCompactScanPacket(p.data(), p.size()));
  }
  ASSERT_TRUE(rec.decoder.decodeCompactScanPacket(almost.data(), almost.size()));
  EXPECT_TRUE(rec.records.empty());

  auto closing = compactPacket(2700000, 7000);
  EXPECT_EQ(closing[23], 0xE0);
  ASSERT_TRUE(rec.decoder.decodeCompactScanPacket(closing.data(), closing.size()));
  ASSERT_EQ(rec.records.size(), 1u);
  const LidarDataSingleLine& r = rec.records[0];
  EXPECT_EQ(r.distance.size(), 1250u);
  expectEqualLengths(r);
  EXPECT_TRUE(r.blockAzimuth.empty());
  for (auto t : r.timestamp) EXPECT_EQ(t, 0u);
  EXPECT_EQ(r.azimuth[250], 90.0);
  EXPECT_DOUBLE_EQ(r.azimuth[251], 90.36);
  EXPECT_EQ(r.distance[1000], 7000.0);  // the closing packet's measurements are in
  EXPECT_EQ(r.intensity[1249], 249);
  EXPECT_EQ(r.azimuth[1000], 270.0);

  // All three accumulators are emptied.
  EXPECT_TRUE(rec.decoder.compactRecord().distance.empty());
  EXPECT_TRUE(rec.decoder.mainRecord().distance.empty());
  EXPECT_TRUE(rec.decoder.mainRecord().blockAzimuth.empty());
}

// The start angle is converted in single precision; the measurement steps of
// 0.36 degrees are added in double precision without wrapping.
TEST(CompactScanTest, StartAngleInSinglePrecisionStepsInDouble) {
  DataPacketDecoder d;
  auto p = compactPacket(1234567, 1);
  ASSERT_TRUE(d.decodeCompactScanPacket(p.data(), p.size()));
  const auto& az = d.compactRecord().azimuth;
  EXPECT_EQ(az[0], 0x1.edd3aap+6);  // 123.4567 as a float
  EXPECT_EQ(az[249], 0x1.aa3183147ae14p+7);

  auto high = compactPacket(3599999, 1);  // 359.9999: no wrap-around
  ASSERT_TRUE(d.decodeCompactScanPacket(high.data(), high.size()));
  EXPECT_GT(d.compactRecord().azimuth.back(), 360.0);
}

// Without a 270.0 start angle the compact record stays bounded: when full,
// the older half is dropped, whole packets at a time.
TEST(CompactScanTest, RecordIsBoundedWhenNoRevolutionCloses) {
  DataPacketDecoder d;
  const std::size_t packetsToFill = DataPacketDecoder::kCompactRecordLimit / kCompactMeasurementsPerPacket;
  std::size_t largest = 0;
  for (std::size_t i = 0; i < packetsToFill + 3; ++i) {
    auto p = compactPacket(0, static_cast<std::uint16_t>(i));
    ASSERT_TRUE(d.decodeCompactScanPacket(p.data(), p.size()));
    largest = std::max(largest, d.compactRecord().distance.size());
  }
  EXPECT_EQ(largest, DataPacketDecoder::kCompactRecordLimit);
  const auto& r = d.compactRecord();
  expectEqualLengths(r);
  // Packets 0 .. packetsToFill/2 - 1 were dropped when the next one came.
  EXPECT_EQ(r.distance.size(), (packetsToFill / 2 + 3) * kCompactMeasurementsPerPacket);
  EXPECT_EQ(r.distance.front(), static_cast<double>(packetsToFill / 2));
  EXPECT_EQ(r.azimuth.front(), 0.0);
  EXPECT_EQ(r.distance.back(), static_cast<double>(packetsToFill + 2 + 249));
}

// A sensor whose azimuth never wraps (a standing motor) never closes a
// revolution: the strongest record stays bounded too, its lists aligned.
TEST(CompactScanTest, DataRecordIsBoundedWhenTheAzimuthNeverWraps) {
  DataPacketDecoder d;
  d.setLayout(Layout::Protocol17);
  DataPacketWriter w(Layout::Protocol17);
  for (int b = 0; b < 12; ++b)
    for (int k = 0; k < 30; ++k)
      w.setMeasurement(b, k, Measurement{static_cast<std::uint16_t>(k + 1), static_cast<std::uint8_t>(k)});
  const std::size_t packets = DataPacketDecoder::kRecordLimit / 360 + 10;
  std::size_t largest = 0;
  for (std::size_t i = 0; i < packets; ++i) {
    ASSERT_TRUE(d.decodeDataPacket(w.bytes().data(), w.bytes().size()));
    largest = std::max(largest, d.mainRecord().distance.size());
  }
  EXPECT_LE(largest, DataPacketDecoder::kRecordLimit);
  const auto& r = d.mainRecord();
  EXPECT_LT(r.distance.size(), DataPacketDecoder::kRecordLimit);
  EXPECT_EQ(r.distance.size(), r.azimuth.size() + 30);
  // Still aligned: entry i of every list is measurement i % 30 of its block.
  for (std::size_t i = 0; i < r.distance.size(); ++i) {
    ASSERT_EQ(r.distance[i], static_cast<double>(i % 30 + 1)) << i;
    ASSERT_EQ(r.intensity[i], static_cast<int>(i % 30)) << i;
  }
  EXPECT_LE(r.blockAzimuth.size(), DataPacketDecoder::kRecordLimit / 30);
}

TEST(CompactScanTest, RejectsOtherLengthsAndHeaders) {
  DataPacketDecoder d;
  auto p = compactPacket(2700000, 1);
  EXPECT_FALSE(d.decodeCompactScanPacket(p.data(), p.size() - 1));
  p[1] = 0x5D;
  EXPECT_FALSE(d.decodeCompactScanPacket(p.data(), p.size()));
  EXPECT_TRUE(d.compactRecord().distance.empty());
  // And the data packet decoder does not take a compact packet.
  p[1] = 0x5C;
  EXPECT_FALSE(d.decodeDataPacket(p.data(), p.size()));
}

TEST(ClassifyDatagramTest, KindsByLengthAndLeadingBytes) {
  DataPacketWriter w(Layout::Protocol17);
  EXPECT_EQ(classifyDatagram(w.bytes().data(), w.bytes().size()), DatagramKind::DataPacket);
  auto c = compactPacket(0, 1);
  EXPECT_EQ(classifyDatagram(c.data(), c.size()), DatagramKind::CompactScanPacket);
  auto s = sim::encodeStatusPacket(sim::SensorStatus{});
  EXPECT_EQ(classifyDatagram(s.data(), s.size()), DatagramKind::StatusPacket);
  EXPECT_EQ(classifyDatagram(s.data(), 1205), DatagramKind::Other);
  EXPECT_EQ(classifyDatagram(w.bytes().data(), 0), DatagramKind::Other);
}
