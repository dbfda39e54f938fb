// Packets lost on the wire, told by the decoder from the gaps in the
// sensor's azimuths: data packets in every arrangement, compact scan
// packets, gaps across the wrap, drops the host itself caused.
#include <gtest/gtest.h>

#include <set>

#include "DecoderTestSupport.h"

using namespace z540k;
using namespace z540k::test;
using sim::ScanPacketStream;
using sim::ScanPattern;

namespace {

struct Arrangement {
  Layout layout;
  bool dual;
  int firingsPerRevolution;
};

// Feeds `packets` packets of the pattern, leaving out those in `dropped`;
// returns the loss of each emitted revolution as the sink saw it.
std::vector<std::uint64_t> feedWithout(RecordingDecoder& d, const ScanPattern& pattern, int packets,
                                       const std::set<int>& dropped) {
  std::vector<std::uint64_t> perRevolution;
  d.decoder.setRecordSink(
      [&](const LidarDataSingleLine&) { perRevolution.push_back(d.decoder.revolutionLostPackets()); });
  ScanPacketStream stream(pattern);
  for (int i = 0; i < packets; ++i) {
    const auto p = stream.next();
    if (!dropped.count(i)) d.feed(p);
  }
  return perRevolution;
}

}  // namespace

class WireLossTest : public ::testing::TestWithParam<Arrangement> {};

// Single packets, two in a row, the packets on either side of the wrap and
// the one across it: each counted once, in the revolution that closes after
// the gap; nothing lost counts nothing.
TEST_P(WireLossTest, EveryMissingPacketIsCountedOnce) {
  const Arrangement a = GetParam();
  ScanPattern pattern;
  pattern.layout = a.layout;
  pattern.dualReturn = a.dual;
  pattern.firingsPerRevolution = a.firingsPerRevolution;
  const int perPacket = a.dual ? 6 : 12;
  const int packetsPerTurn = a.firingsPerRevolution / perPacket;
  const int wrap = packetsPerTurn;  // the first packet of the second turn starts near 0 degrees
  const std::set<int> dropped = {3, 7, 8, wrap - 1, wrap, 2 * wrap + 1, 3 * wrap - 2};
  RecordingDecoder lossless;
  lossless.decoder.setLayout(a.layout);
  lossless.decoder.setReturnMode(a.dual ? ReturnMode::Dual : ReturnMode::Strongest);
  EXPECT_EQ(feedWithout(lossless, pattern, 4 * packetsPerTurn, {}), std::vector<std::uint64_t>(3, 0));
  EXPECT_EQ(lossless.decoder.lostPackets(), 0u);

  RecordingDecoder d;
  d.decoder.setLayout(a.layout);
  d.decoder.setReturnMode(a.dual ? ReturnMode::Dual : ReturnMode::Strongest);
  const auto perRevolution = feedWithout(d, pattern, 4 * packetsPerTurn, dropped);
  EXPECT_EQ(d.decoder.lostPackets(), dropped.size());
  // A revolution closes at the first packet received past the wrap: a gap
  // over the wrap is the closing revolution's, one just after it the next's.
  EXPECT_EQ(perRevolution, (std::vector<std::uint64_t>{5, 0, 2}));
}

INSTANTIATE_TEST_SUITE_P(Arrangements, WireLossTest,
                         ::testing::Values(Arrangement{Layout::Protocol17, false, 120},
                                           Arrangement{Layout::Protocol16, false, 1200},
                                           Arrangement{Layout::Protocol17, true, 120}),
                         [](const auto& info) {
                           return std::string(info.param.dual ? "dual" : "single") +
                                  (info.param.layout == Layout::Protocol17 ? "17" : "16");
                         });

// Compact scan packets advance 90 degrees each: a missing one, the closing
// one at 270 degrees, and two in a row are counted; a repeated packet is not.
TEST(WireLossTest, CompactScanPackets) {
  std::array<sim::Measurement, kCompactMeasurementsPerPacket> m{};
  RecordingDecoder d;
  std::vector<std::uint64_t> perRevolution;
  d.decoder.setRecordSink(
      [&](const LidarDataSingleLine&) { perRevolution.push_back(d.decoder.revolutionLostPackets()); });
  auto feed = [&](std::uint32_t quarter) {
    const auto p = sim::encodeCompactScanPacket(quarter % 4 * 900000u, m);
    ASSERT_TRUE(d.decoder.decodeCompactScanPacket(p.data(), p.size()));
  };
  for (std::uint32_t q : {0, 1, 3, 4, 5, 6, 7, 8, 11, 12, 12, 13, 14, 15}) feed(q);
  EXPECT_EQ(d.decoder.lostPackets(), 3u);
  EXPECT_EQ(perRevolution, (std::vector<std::uint64_t>{1, 0, 2, 0}));
}

// Datagrams the host dropped itself (the kernel's receive buffer) explain a
// gap first; a stream resumed elsewhere, or a motor standing still, counts
// nothing.
TEST(WireLossTest, DropsOnThisHostAndResumesAreNotTheWires) {
  ScanPattern pattern;
  ScanPacketStream stream(pattern);
  RecordingDecoder d;
  d.decoder.setLayout(pattern.layout);
  d.feed(stream.next());
  stream.next();
  stream.next();
  stream.next();
  d.decoder.excuseDroppedDatagrams(2);
  d.feed(stream.next());  // three missing, two of them dropped here
  EXPECT_EQ(d.decoder.lostPackets(), 1u);
  stream.next();
  d.decoder.forgetPreviousPacket();
  d.feed(stream.next());
  EXPECT_EQ(d.decoder.lostPackets(), 1u);

  sim::DataPacketWriter still(Layout::Protocol17);
  for (int b = 0; b < kBlocksPerPacket; ++b) still.setBlockAzimuth(b, 4500);
  d.feed(still.bytes());
  d.feed(still.bytes());
  EXPECT_EQ(d.decoder.lostPackets(), 1u);
  d.decoder.reset();
  EXPECT_EQ(d.decoder.lostPackets(), 0u);
}
