// What the data packets show of the sensor: single or dual return, the layout
// they look like, and the return mode a receiver follows; judged on the
// simulated sensor's streams in every layout, return arrangement and speed.
#include <gtest/gtest.h>

#include "PacketEncoders.h"
#include "SensorStream.h"
#include "SensorTraits.h"

using namespace z540k;
using namespace z540k::sim;

namespace {

struct Stream {
  Layout layout;
  bool dual;
  std::uint16_t rpm;
};

std::string nameOf(const Stream& s) {
  return std::string(layoutText(s.layout)) + (s.dual ? " dual " : " single ") + std::to_string(s.rpm);
}

// Two seconds of the simulated room's data packets.
DataPacketTraits traitsOf(const Stream& s) {
  StreamSettings settings;
  settings.layout = s.layout;
  SensorState state;
  state.motorSpeed = s.rpm;
  state.echoMode = s.dual ? kEchoModeDual : kEchoModeSingle;
  SensorStream stream(settings, state);
  DataPacketTraits traits;
  Datagram d;
  do {
    stream.next(d);
    if (d.kind == SentKind::Data) traits.addPacket(d.data());
  } while (d.timeUs < 2 * kMicrosecondsPerSecond);
  return traits;
}

DataPacketBytes packetWithAzimuths(std::initializer_list<int> azimuths) {
  DataPacketWriter writer(Layout::Protocol17);
  int b = 0;
  for (const int a : azimuths) writer.setBlockAzimuth(b++, static_cast<std::uint16_t>(a));
  return writer.bytes();
}

const DataPacketBytes kSingle = packetWithAzimuths({35700, 35730, 35760, 35790, 20, 50, 80, 110, 140, 170, 200, 230});
const DataPacketBytes kDual = packetWithAzimuths({35400, 35400, 35700, 35700, 0, 0, 300, 300, 600, 600, 900, 900});
const DataPacketBytes kStill = packetWithAzimuths({100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100});

}  // namespace

TEST(SensorTraitsTest, EveryStreamShowsItsArrangementAndOnlyTheOtherLayoutWarns) {
  for (const Layout layout : {Layout::Protocol16, Layout::Protocol17})
    for (const bool dual : {false, true})
      for (const std::uint16_t rpm : {std::uint16_t(300), std::uint16_t(600), std::uint16_t(1200)}) {
        const Stream s{layout, dual, rpm};
        const DataPacketTraits traits = traitsOf(s);
        EXPECT_EQ(traits.arrangement(), dual ? ReturnArrangement::Dual : ReturnArrangement::Single) << nameOf(s);
        const Layout other = layout == Layout::Protocol17 ? Layout::Protocol16 : Layout::Protocol17;
        EXPECT_EQ(layoutWarning(traits, layout, "try --layout "), "") << nameOf(s);
        // Dual-return blocks are the same bytes in both layouts: nothing to say.
        const std::string expected = dual ? ""
                                          : std::string("the measurements look like layout ") + layoutText(layout) +
                                                "; try --layout " + layoutText(layout);
        EXPECT_EQ(layoutWarning(traits, other, "try --layout "), expected) << nameOf(s);
      }
}

TEST(SensorTraitsTest, PacketsShowPairsAcrossTheWrapAndNothingWhenTheMotorStands) {
  EXPECT_EQ(returnArrangementOf(kSingle.data()), ReturnArrangement::Single);
  EXPECT_EQ(returnArrangementOf(kDual.data()), ReturnArrangement::Dual);
  EXPECT_EQ(returnArrangementOf(kStill.data()), ReturnArrangement::Unknown);
  DataPacketTraits traits;
  traits.addPacket(kStill.data());
  EXPECT_EQ(traits.arrangement(), ReturnArrangement::Unknown);
  EXPECT_FALSE(traits.layoutLook());  // no returns at all
}

TEST(SensorTraitsTest, FollowsDataThenStatusAndKeepsAFixedMode) {
  ReturnModeChoice choice;
  EXPECT_EQ(choice.basis(), ReturnModeChoice::Basis::Default);
  EXPECT_TRUE(choice.dataPacket(kDual.data()));  // the first packet decides at once
  EXPECT_EQ(choice.mode(), ReturnMode::Dual);
  EXPECT_EQ(choice.basis(), ReturnModeChoice::Basis::Data);
  // Two stray packets do not flip it; a third in a row does.
  EXPECT_FALSE(choice.dataPacket(kSingle.data()));
  EXPECT_FALSE(choice.dataPacket(kSingle.data()));
  EXPECT_FALSE(choice.dataPacket(kStill.data()));  // shows nothing, breaks no run
  EXPECT_TRUE(choice.dataPacket(kSingle.data()));
  EXPECT_EQ(choice.mode(), ReturnMode::Strongest);

  // The sensor's status outranks its data; a short-layout byte is no mode.
  choice.sensorStatus(7);
  EXPECT_EQ(choice.basis(), ReturnModeChoice::Basis::Data);
  choice.sensorStatus(1);
  EXPECT_EQ(choice.mode(), ReturnMode::Dual);
  EXPECT_TRUE(choice.dataDisagree());
  EXPECT_EQ(returnModeText(choice.mode(), choice.basis(), choice.dataArrangement()),
            "return mode DualEcho (from the sensor's status); the data look like single return");

  // Fixed: neither status nor data move it; agreeing data are not remarked.
  ReturnModeChoice fixed(ReturnMode::DualSecond);
  fixed.sensorStatus(0);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(fixed.dataPacket(kDual.data()));
  EXPECT_EQ(fixed.mode(), ReturnMode::DualSecond);
  EXPECT_FALSE(fixed.dataDisagree());
  fixed.fix(ReturnMode::Strongest);
  EXPECT_TRUE(fixed.dataDisagree());
  fixed.fix(std::nullopt);
  EXPECT_EQ(fixed.mode(), ReturnMode::Strongest);  // the sensor's status said single
  EXPECT_EQ(fixed.basis(), ReturnModeChoice::Basis::Status);
}
