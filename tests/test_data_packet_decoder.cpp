// Strongest-return decoding of data packets: revolutions in both layouts,
// interpolation precision, carry-over at the wrap, time stamps, layout changes
// and GPS readings.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "DecoderTestSupport.h"
#include "GpsTimeLog.h"

using namespace z540k;
using namespace z540k::test;
using sim::DataPacketWriter;
using sim::Measurement;
using sim::ScanPacketStream;
using sim::ScanPattern;

namespace {

int slotOf(Layout layout, int k) { return layout == Layout::Protocol17 ? kProtocol17Slots[k] : kProtocol16Slots[k]; }

// A packet whose blocks carry the given azimuths (hundredths) and measurement
// k of block b has distance 100 * b + k + 1.
sim::DataPacketBytes packetWithAzimuths(Layout layout, const std::array<std::uint16_t, 12>& azimuths,
                                        std::uint32_t timestamp = 100000) {
  DataPacketWriter w(layout);
  for (int b = 0; b < 12; ++b) {
    w.setBlockAzimuth(b, azimuths[b]);
    for (int k = 0; k < w.measurementsPerBlock(); ++k)
      w.setMeasurement(b, k, Measurement{static_cast<std::uint16_t>(100 * b + k + 1), static_cast<std::uint8_t>(k)});
  }
  w.setTimestamp(timestamp);
  return w.bytes();
}

}  // namespace

// ---- Whole revolutions -------------------------------------------------------

class StrongestRevolutionTest : public ::testing::TestWithParam<std::tuple<Layout, int>> {};

// Every measurement sent comes out exactly once, in order, with its own
// distance, intensity and time; the records in between hold the carried
// measurements' placeholders at their end and the carried measurements at the
// start of the next record.
TEST_P(StrongestRevolutionTest, EveryMeasurementArrivesOnceInOrder) {
  const auto [layout, firingsPerRevolution] = GetParam();
  const int K = measurementsPerBlock(layout);
  ScanPattern pattern;
  pattern.layout = layout;
  pattern.firingsPerRevolution = firingsPerRevolution;
  pattern.firstTimestamp = 5000000;
  ScanPacketStream stream(pattern);

  RecordingDecoder rec;
  rec.decoder.setLayout(layout);
  const int revolutions = 4;
  const int packets = (revolutions * firingsPerRevolution) / 12 + 1;
  rec.feed(stream, packets);

  // A revolution closes at the first block of the next turn: one record per
  // completed turn.
  ASSERT_EQ(static_cast<int>(rec.records.size()), revolutions);

  std::uint64_t sent = 0;  // index of the next measurement in sending order
  for (std::size_t r = 0; r < rec.records.size(); ++r) {
    const LidarDataSingleLine& record = rec.records[r];
    expectEqualLengths(record);
    // The first record holds one more block (the closing one) than the
    // blocks of its turn; every later one also starts with the carried block.
    const std::size_t blocks = firingsPerRevolution + 1;
    EXPECT_EQ(record.distance.size(), blocks * K) << "record " << r;
    EXPECT_EQ(record.blockAzimuth.size(), r == 0 ? blocks : blocks - 1) << "record " << r;

    // The closing block lies just past 0 degrees: its measurements are the
    // placeholders at the end.
    for (std::size_t i = record.distance.size() - K; i < record.distance.size(); ++i)
      EXPECT_TRUE(isPlaceholder(record, i)) << "record " << r << " entry " << i;

    for (std::size_t i = 0; i + K < record.distance.size(); ++i, ++sent) {
      const std::uint64_t f = sent / K;
      const int k = static_cast<int>(sent % K);
      const Measurement m = ScanPacketStream::measurementOf(f, k, 0);
      ASSERT_EQ(record.distance[i], m.distance) << "record " << r << " entry " << i;
      ASSERT_EQ(record.intensity[i], m.intensity);
      const int packet = static_cast<int>(f / 12);
      const int b = static_cast<int>(f % 12);
      const double T = pattern.firstTimestamp + static_cast<double>(packet) * pattern.timestampStep;
      const double offset =
          layout == Layout::Protocol17 ? (30 * b + slotOf(layout, k)) * 3.125 : (slotOf(layout, k) + 2 * b) * 3.125;
      ASSERT_EQ(record.timestamp[i], static_cast<unsigned long long>(T + offset - 596.875));
      // Azimuths run from the block's own azimuth towards the next block's.
      const double a0 = degrees(stream.azimuthOf(f));
      double span = degrees(stream.azimuthOf(f + 1)) - a0;
      if (span < 0) span += 360;
      double expected = a0 + span / K * k;
      if (expected >= 360) expected -= 360;
      ASSERT_NEAR(record.azimuth[i], expected, 1e-3) << "record " << r << " entry " << i;
    }
  }
  // The carried measurements of the last close wait at the start of the
  // accumulator.
  const LidarDataSingleLine& pending = rec.decoder.mainRecord();
  ASSERT_GE(pending.distance.size(), static_cast<std::size_t>(K));
  for (int k = 0; k < K; ++k) {
    const std::uint64_t f = sent / K;
    EXPECT_EQ(pending.distance[k], ScanPacketStream::measurementOf(f, k, 0).distance);
    EXPECT_NEAR(pending.azimuth[k], degrees(stream.azimuthOf(f)) + 360.0 / firingsPerRevolution / K * k, 1e-3);
  }
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, StrongestRevolutionTest,
                         ::testing::Combine(::testing::Values(Layout::Protocol16, Layout::Protocol17),
                                            ::testing::Values(360, 100, 1000)));

// ---- Interpolation and extrapolation precision -------------------------------

// The step between two measurements is computed in single precision; the
// double-precision result differs in the last bits, which this test sees.
TEST(InterpolationTest, AzimuthsOfABlockUseSinglePrecisionSteps) {
  RecordingDecoder rec;
  rec.decoder.setLayout(Layout::Protocol17);
  rec.feed(
      packetWithAzimuths(Layout::Protocol17, {1000, 1033, 1066, 1099, 1132, 1165, 1198, 1231, 1264, 1297, 1330, 1363}));
  const auto& az = rec.decoder.mainRecord().azimuth;
  ASSERT_EQ(az.size(), 11u * 30u);  // the newest block waits for the next one
  EXPECT_EQ(az[0], 10.0);
  EXPECT_EQ(az[1], 0x1.405a1caa8p+3);
  EXPECT_EQ(az[7], 0x1.4276c8a8p+3);
  EXPECT_EQ(az[29], 0x1.4a353f5p+3);
  // Computed in double precision, entry 1 would be 0x1.405a1caaaaaabp+3.
  EXPECT_NE(az[1], 0x1.405a1caaaaaabp+3);
  EXPECT_EQ(rec.decoder.mainRecord().blockAzimuth[1], 0x1.4a8f5cp+3);  // 10.33 in single precision
}

// At the wrap: the block before it is interpolated across 360 (and wrapped),
// the closing block is extrapolated with the same single-precision step,
// added to its block azimuth in double precision.
TEST(InterpolationTest, WrapInterpolationAndCloseExtrapolation) {
  RecordingDecoder rec;
  rec.decoder.setLayout(Layout::Protocol17);
  // Blocks at 358.30, 358.90, 359.50 then 0.70: the fourth block closes.
  rec.feed(packetWithAzimuths(Layout::Protocol17, {35830, 35890, 35950, 70, 190, 310, 430, 550, 670, 790, 910, 1030}));
  ASSERT_EQ(rec.records.size(), 1u);
  const LidarDataSingleLine& r = rec.records[0];
  ASSERT_EQ(r.azimuth.size(), 4u * 30u);
  // Block 2 (359.50 towards 0.70): single-precision step, wrapped past 360.
  EXPECT_EQ(r.azimuth[60], 359.5);
  EXPECT_EQ(r.azimuth[61], 0x1.678a3d777p+8);
  // From k = 13 on, block 2's azimuths pass 360 and wrap below 20 degrees;
  // with the closing block 3 they are among the last 100 and move on,
  // leaving placeholders.
  EXPECT_FALSE(isPlaceholder(r, 72));  // k = 12: 359.98
  for (int i = 73; i < 120; ++i) EXPECT_TRUE(isPlaceholder(r, i)) << i;

  // The next record starts with the carried measurements, in order: block 2's
  // 17 wrapped ones, then the closing block's 30 extrapolated ones.
  const LidarDataSingleLine& next = rec.decoder.mainRecord();
  ASSERT_GE(next.azimuth.size(), 47u);
  EXPECT_EQ(next.azimuth[16], 0x1.51ed1p-1);  // block 2, k = 29: 0.66
  EXPECT_EQ(next.distance[16], 230.0);
  EXPECT_EQ(next.azimuth[17], 0x1.666666p-1);   // 0.70 in single precision, k = 0
  EXPECT_EQ(next.azimuth[18], 0x1.7ae154ep-1);  // k = 1
  EXPECT_EQ(next.azimuth[38], 0x1.8a3dffp+0);   // k = 21: 1.540008
  EXPECT_EQ(next.azimuth[46], 0x1.dc29bbp+0);   // k = 29
  // The step in double precision would give 0x1.8a3dffccccccdp+0 for k = 21,
  // which prints as 1.540009: a different sixth digit in an export.
  EXPECT_NE(next.azimuth[38], 0x1.8a3dffccccccdp+0);
  EXPECT_EQ(next.distance[17], 301.0);
  EXPECT_EQ(next.distance[46], 330.0);
  EXPECT_EQ(next.blockAzimuth.size(), 8u);  // blocks 4..11 of the packet
}

// ---- Carry-over -------------------------------------------------------------

// With fewer than 100 measurements at the close nothing is carried over: the
// emitted record keeps every measurement and the next starts empty.
TEST(CarryOverTest, FewerThanHundredMeasurementsCarryNothing) {
  RecordingDecoder rec;  // protocol 1.6: 2 measurements per block
  rec.feed(packetWithAzimuths(Layout::Protocol16,
                              {35000, 35500, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000}));
  ASSERT_EQ(rec.records.size(), 1u);
  const LidarDataSingleLine& r = rec.records[0];
  ASSERT_EQ(r.distance.size(), 6u);
  expectEqualLengths(r);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_FALSE(isPlaceholder(r, i)) << i;
  EXPECT_EQ(r.azimuth[4], degrees(500));
  EXPECT_EQ(r.azimuth[5], 10.0);  // 5 + (5 - 355 + 360) / 2
  // The next record starts with block 3 (no carried measurements before it).
  EXPECT_EQ(rec.decoder.mainRecord().distance.front(), 301.0);
}

// Only the measurements below 20 degrees among the last 100 move on: one at
// exactly 20 degrees stays, and with fewer than 100 measurements none moves.
TEST(CarryOverTest, OnlyMeasurementsBelowTwentyDegreesAmongTheLastHundredMove) {
  // Protocol 1.6 (2 per block): blocks in 1-degree steps up to 350.00, then
  // the wrap at 10.00. The closing block's two measurements extrapolate to
  // 10.0 and exactly 20.0; the block before it reaches 360.0 = 0.0.
  const std::array<std::uint16_t, 12> closing{1000, 1200, 1400, 1600, 1800, 2000, 2200, 2400, 2600, 2800, 3000, 3200};
  auto feedRun = [&](RecordingDecoder& rec, std::uint16_t firstBlock, int packets) {
    std::array<std::uint16_t, 12> az{};
    std::uint16_t a = firstBlock;
    for (int p = 0; p < packets; ++p) {
      for (int b = 0; b < 12; ++b, a += 100) az[b] = a;
      rec.feed(packetWithAzimuths(Layout::Protocol16, az));
    }
    EXPECT_TRUE(rec.records.empty());
    rec.feed(packetWithAzimuths(Layout::Protocol16, closing));
  };

  RecordingDecoder few;
  feedRun(few, 30300, 4);  // 48 blocks 303..350 and the closing one: 98 measurements
  ASSERT_EQ(few.records.size(), 1u);
  const LidarDataSingleLine& r = few.records[0];
  ASSERT_EQ(r.distance.size(), 98u);
  for (std::size_t i = 0; i < r.distance.size(); ++i) EXPECT_FALSE(isPlaceholder(r, i)) << i;
  EXPECT_EQ(r.azimuth[96], 10.0);
  EXPECT_EQ(r.azimuth[97], 20.0);

  RecordingDecoder many;
  feedRun(many, 29100, 5);  // 60 blocks 291..350 and the closing one: 122 measurements
  ASSERT_EQ(many.records.size(), 1u);
  const LidarDataSingleLine& r2 = many.records[0];
  ASSERT_EQ(r2.distance.size(), 122u);
  EXPECT_FALSE(isPlaceholder(r2, 117));  // 349.5
  EXPECT_FALSE(isPlaceholder(r2, 118));  // 350.0
  EXPECT_TRUE(isPlaceholder(r2, 119));   // 360.0 wrapped to 0.0
  EXPECT_TRUE(isPlaceholder(r2, 120));   // 10.0
  EXPECT_FALSE(isPlaceholder(r2, 121));  // 20.0 is not below 20
  EXPECT_EQ(r2.azimuth[121], 20.0);
  const LidarDataSingleLine& next = many.decoder.mainRecord();
  EXPECT_EQ(next.azimuth[0], 0.0);
  EXPECT_EQ(next.distance[0], 1102.0);  // block 11 of the fifth packet, k = 1
  EXPECT_EQ(next.azimuth[1], 10.0);
  EXPECT_EQ(next.distance[1], 1.0);  // block 0 of the closing packet, k = 0
}

// ---- Block azimuth limits ---------------------------------------------------

TEST(BlockAzimuthTest, RawValuesAtAndAboveFullTurn) {
  DataPacketDecoder decoder;
  DataPacketWriter w(Layout::Protocol16);
  w.setBlockAzimuth(0, 35999);
  w.setBlockAzimuth(1, 35999);
  w.setBlockAzimuth(2, 36000);  // out of range: read as 0.0
  w.setBlockAzimuth(3, 65535);
  auto bytes = w.bytes();
  // Check the byte order the sensor uses: 35999 is 9F 8C, 36000 is A0 8C.
  EXPECT_EQ(bytes[2], 0x9F);
  EXPECT_EQ(bytes[3], 0x8C);
  EXPECT_EQ(bytes[202], 0xA0);
  EXPECT_EQ(bytes[203], 0x8C);
  std::vector<LidarDataSingleLine> out;
  decoder.setRecordSink([&](const LidarDataSingleLine& r) { out.push_back(r); });
  ASSERT_TRUE(decoder.decodeDataPacket(bytes.data(), bytes.size()));
  // 359.99 -> 0.0 closes at block 2.
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].blockAzimuth.size(), 3u);
  EXPECT_EQ(out[0].blockAzimuth[0], 0x1.67fd7p+8);  // 359.99 in single precision
  EXPECT_EQ(out[0].blockAzimuth[2], 0.0);
  EXPECT_EQ(decoder.mainRecord().blockAzimuth.front(), 0.0);  // 65535 as well
}

// ---- Time stamps ------------------------------------------------------------

TEST(TimestampTest, FiringOffsetsOfBothLayouts) {
  DataPacketDecoder d17;
  d17.setLayout(Layout::Protocol17);
  auto p17 = packetWithAzimuths(Layout::Protocol17, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100}, 1000);
  ASSERT_TRUE(d17.decodeDataPacket(p17.data(), p17.size()));
  const auto& t17 = d17.mainRecord().timestamp;
  ASSERT_EQ(t17.size(), 360u);
  EXPECT_EQ(t17[0], 403u);     // 1000 - 596.875
  EXPECT_EQ(t17[1], 406u);     // + 3.125
  EXPECT_EQ(t17[14], 446u);    // slot 14: 446.875, truncated
  EXPECT_EQ(t17[15], 453u);    // slot 16: 453.125 (slot 15 is the GPS date)
  EXPECT_EQ(t17[29], 496u);    // slot 30: 496.875
  EXPECT_EQ(t17[30], 496u);    // block 1, slot 0: 30 x 3.125 as well
  EXPECT_EQ(t17[359], 1528u);  // block 11, slot 30: 1000 + 360 x 3.125 - 596.875

  DataPacketDecoder d16;
  auto p16 = packetWithAzimuths(Layout::Protocol16, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100}, 1000);
  ASSERT_TRUE(d16.decodeDataPacket(p16.data(), p16.size()));
  const auto& t16 = d16.mainRecord().timestamp;
  ASSERT_EQ(t16.size(), 24u);
  EXPECT_EQ(t16[0], 403u);   // slot 0, block 0
  EXPECT_EQ(t16[1], 453u);   // slot 16, block 0: the slot number enters directly
  EXPECT_EQ(t16[2], 409u);   // slot 0, block 1: 2 x 3.125
  EXPECT_EQ(t16[23], 521u);  // slot 16, block 11: 1000 + (16 + 22) x 3.125 - 596.875
}

// A packet time stamp of 0 puts the early firings before zero: they are
// clamped to 0 instead of wrapping to huge unsigned values.
TEST(TimestampTest, NegativeTimesAreClampedToZero) {
  DataPacketDecoder d;
  d.setLayout(Layout::Protocol17);
  auto p = packetWithAzimuths(Layout::Protocol17, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100}, 0);
  ASSERT_TRUE(d.decodeDataPacket(p.data(), p.size()));
  const auto& t = d.mainRecord().timestamp;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const double exact = static_cast<double>(i / 30 * 30 + kProtocol17Slots[i % 30]) * 3.125 - 596.875;
    EXPECT_EQ(t[i], exact > 0 ? static_cast<unsigned long long>(exact) : 0ULL) << i;
  }
  EXPECT_EQ(t[0], 0u);
  EXPECT_EQ(t[359], 528u);
  // The largest time stamp does not overflow either.
  auto pmax =
      packetWithAzimuths(Layout::Protocol17, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100}, 0xFFFFFFFFu);
  DataPacketDecoder dmax;
  dmax.setLayout(Layout::Protocol17);
  ASSERT_TRUE(dmax.decodeDataPacket(pmax.data(), pmax.size()));
  EXPECT_EQ(dmax.mainRecord().timestamp.back(), 0xFFFFFFFFull + 528u);
}

// ---- Layout changes ---------------------------------------------------------

// A requested layout is read only from the revolution after the next
// emission: blocks keep their old layout until then, and the blocks of the
// same packet after the closing block already use the new one.
TEST(LayoutChangeTest, TakesEffectOnlyAfterTheNextEmission) {
  RecordingDecoder rec;
  ASSERT_EQ(rec.decoder.activeLayout(), Layout::Protocol16);
  rec.feed(packetWithAzimuths(Layout::Protocol16,
                              {30000, 30500, 31000, 31500, 32000, 32500, 33000, 33500, 34000, 34500, 35000, 35500}));
  rec.decoder.setPendingLayout(Layout::Protocol17);
  EXPECT_EQ(rec.decoder.activeLayout(), Layout::Protocol16);
  EXPECT_EQ(rec.decoder.pendingLayout(), Layout::Protocol17);

  // The next packet is still read in the 1.6 layout up to the close at block 2
  // (0.00); from block 3 on in the 1.7 layout. Build it with both layouts'
  // slots filled so either reading finds values.
  DataPacketWriter w(Layout::Protocol17);
  const std::array<std::uint16_t, 12> az{35800, 35900, 0, 100, 200, 300, 400, 500, 600, 700, 800, 900};
  for (int b = 0; b < 12; ++b) {
    w.setBlockAzimuth(b, az[b]);
    for (int k = 0; k < 30; ++k) w.setMeasurement(b, k, Measurement{static_cast<std::uint16_t>(1000 * (b + 1) + k), 1});
  }
  rec.feed(w.bytes());
  ASSERT_EQ(rec.records.size(), 1u);
  EXPECT_EQ(rec.records[0].distance.size(), 15u * 2u);  // 12 + 3 blocks of the old layout
  EXPECT_EQ(rec.records[0].distance[24], 1000.0);       // block 0 of packet 2, slot 0
  EXPECT_EQ(rec.records[0].distance[25], 1015.0);       // slot 16 is measurement 15 of 1.7
  EXPECT_EQ(rec.decoder.activeLayout(), Layout::Protocol17);
  // Nothing carried (30 < 100); blocks 3..11 read 30 measurements each.
  EXPECT_EQ(rec.decoder.mainRecord().distance.size(), 9u * 30u);
  EXPECT_EQ(rec.decoder.mainRecord().distance[0], 4000.0);
  EXPECT_EQ(rec.decoder.mainRecord().distance[29], 4029.0);
}

// ---- Modes, clearing, rejection ---------------------------------------------

TEST(DecoderControlTest, UnknownReturnModeIgnoresBlocksAndClearEmptiesEverything) {
  RecordingDecoder rec;
  auto p =
      packetWithAzimuths(Layout::Protocol16, {35000, 35500, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000});
  rec.decoder.setReturnMode(static_cast<ReturnMode>(4));
  rec.feed(p);
  rec.decoder.setReturnMode(static_cast<ReturnMode>(-1));
  rec.feed(p);
  EXPECT_TRUE(rec.records.empty());
  EXPECT_TRUE(rec.decoder.mainRecord().distance.empty());

  rec.decoder.setReturnMode(ReturnMode::Strongest);
  rec.feed(p);
  EXPECT_FALSE(rec.decoder.mainRecord().distance.empty());
  rec.decoder.clear();
  const auto& m = rec.decoder.mainRecord();
  EXPECT_TRUE(m.blockAzimuth.empty() && m.distance.empty() && m.intensity.empty() && m.azimuth.empty() &&
              m.timestamp.empty());
}

TEST(DecoderControlTest, RejectsWhatIsNotADataPacket) {
  DataPacketDecoder d;
  int emitted = 0;
  d.setRecordSink([&](const LidarDataSingleLine&) { ++emitted; });
  auto p =
      packetWithAzimuths(Layout::Protocol16, {35000, 35500, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000});
  EXPECT_FALSE(d.decodeDataPacket(p.data(), p.size() - 1));
  std::vector<std::uint8_t> longer(p.begin(), p.end());
  longer.push_back(0);
  EXPECT_FALSE(d.decodeDataPacket(longer.data(), longer.size()));
  p[1] = 0xEF;
  EXPECT_FALSE(d.decodeDataPacket(p.data(), p.size()));
  EXPECT_TRUE(d.mainRecord().distance.empty());
  // Flags of later blocks are not checked.
  p[1] = 0xEE;
  DataPacketWriter w(Layout::Protocol16);
  w.setBlockFlags(5, 0, 0);
  EXPECT_TRUE(d.decodeDataPacket(w.bytes().data(), w.bytes().size()));
  EXPECT_EQ(d.mainRecord().distance.size(), 24u);
  EXPECT_EQ(emitted, 0);
}

TEST(DecoderControlTest, DistancesAtTheirLimitsAreCarriedUnchanged) {
  DataPacketDecoder d;
  DataPacketWriter w(Layout::Protocol16);
  w.setMeasurement(0, 0, Measurement{0, 0});
  w.setMeasurement(0, 1, Measurement{65535, 255});
  ASSERT_TRUE(d.decodeDataPacket(w.bytes().data(), w.bytes().size()));
  EXPECT_EQ(d.mainRecord().distance[0], 0.0);
  EXPECT_EQ(d.mainRecord().distance[1], 65535.0);
  EXPECT_EQ(d.mainRecord().intensity[1], 255);
}

// ---- GPS readings -----------------------------------------------------------

class GpsReadingTest : public ::testing::TestWithParam<Layout> {};

// Every block yields one reading with the bytes of the layout's GPS place;
// "previous" is the reading before it, across packets.
TEST_P(GpsReadingTest, OneReadingPerBlockWithThePreviousOne) {
  const Layout layout = GetParam();
  DataPacketDecoder d;
  d.setLayout(layout);
  std::vector<GpsReading> readings;
  d.setGpsSink([&](const GpsReading& r) { readings.push_back(r); });

  DataPacketWriter w(layout);
  for (int b = 0; b < 12; ++b) {
    w.setBlockAzimuth(b, static_cast<std::uint16_t>(100 * b));
    w.setGps(b, GpsDateTime{21, 11, 22, 10, 0, static_cast<std::uint8_t>(b)});
  }
  // Disabled: no readings.
  ASSERT_TRUE(d.decodeDataPacket(w.bytes().data(), w.bytes().size()));
  EXPECT_TRUE(readings.empty());

  d.setGpsReadingsEnabled(true);
  ASSERT_TRUE(d.decodeDataPacket(w.bytes().data(), w.bytes().size()));
  ASSERT_EQ(readings.size(), 12u);
  EXPECT_EQ(readings[0].previous, GpsDateTime{});  // nothing read since the start
  for (int b = 0; b < 12; ++b) {
    EXPECT_EQ(readings[b].block, b);
    EXPECT_EQ(readings[b].current, (GpsDateTime{21, 11, 22, 10, 0, static_cast<std::uint8_t>(b)}));
    if (b > 0) {
      EXPECT_EQ(readings[b].previous, readings[b - 1].current);
    }
  }
  ASSERT_TRUE(d.decodeDataPacket(w.bytes().data(), w.bytes().size()));
  ASSERT_EQ(readings.size(), 24u);
  EXPECT_EQ(readings[12].previous.second, 11);

  // Dual-return modes take no readings.
  d.setReturnMode(ReturnMode::Dual);
  ASSERT_TRUE(d.decodeDataPacket(w.bytes().data(), w.bytes().size()));
  EXPECT_EQ(readings.size(), 24u);

  // A reset forgets the last reading.
  d.setReturnMode(ReturnMode::Strongest);
  d.reset();
  ASSERT_TRUE(d.decodeDataPacket(w.bytes().data(), w.bytes().size()));
  EXPECT_EQ(readings[24].previous, GpsDateTime{});
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, GpsReadingTest, ::testing::Values(Layout::Protocol16, Layout::Protocol17));

// The GPS text read back as UTC seconds (with the machine on UTC): a date
// that does not exist, or a byte that gives a three-digit field, reads as
// 4294967295, as does a time past the 32-bit range.
TEST(GpsTimeTextTest, EpochSecondsOfTheGpsText) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(gpsDateTimeText(GpsDateTime{21, 11, 22, 10, 0, 10}), "2021/11/22 10:00:10");
  EXPECT_EQ(gpsEpochSeconds("2021/11/22 10:00:10"), 1637575210u);
  EXPECT_EQ(gpsEpochSeconds("2024/02/29 23:59:59"), 1709251199u);
  for (const char* bad : {"2023/02/29 00:00:00", "2021/13/01 00:00:00", "2021/11/22 24:00:00", "2021/11/22 10:60:00",
                          "2106/02/07 06:28:15", "2000/00/00 00:00:00"})
    EXPECT_EQ(gpsEpochSeconds(bad), 4294967295u) << bad;
  EXPECT_EQ(gpsEpochSeconds(gpsDateTimeText(GpsDateTime{21, 11, 22, 10, 0, 100})), 4294967295u);
}
