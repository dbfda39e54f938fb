// The advanced settings and default-restore packets, byte for byte, and the
// texts a Refresh shows.
#include <gtest/gtest.h>

#include "AdvancedSettingsPacket.h"
#include "StatusSnapshots.h"

namespace z540k {
namespace {

using test::longSnapshot;

const LocalDateTime kNow{2024, 3, 9, 14, 5, 30};
const StatusFrameAddresses kFrame{{10, 0, 0, 7}, 2369, {10, 0, 0, 1}};

std::uint16_t at16(const std::array<std::uint8_t, 1206>& p, std::size_t i) {
  return static_cast<std::uint16_t>(p[i] << 8 | p[i + 1]);
}

// A complete form as the window sends it.
AdvancedSettingsInput form() {
  AdvancedSettingsInput in;
  in.highReflect = "25";
  in.zeroDegreeIndex = 1;
  in.echoIndex = 0;
  in.deviationAngle = "-1.5";
  in.range = "150";
  in.trailThreshold = "3";
  in.trailDistance = "10";
  in.encoderZero = "-1";
  in.motorSpeed = " 10 HZ";
  return in;
}

TEST(AdvancedSettingsPacket, BuildsEveryFieldOverTheStatusCopy) {
  const StatusSnapshot s = longSnapshot();
  const auto p = buildAdvancedSettingsPacket(form(), s, kFrame, kNow);
  std::array<std::uint8_t, 1206> expected;
  std::copy(s.begin(), s.end(), expected.begin());
  const auto put = [&](std::size_t at, std::initializer_list<int> bytes) {
    for (int b : bytes) expected[at++] = static_cast<std::uint8_t>(b);
  };
  put(0, {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xBB, 0xBB, 0x02, 0x58, 10, 0, 0, 7, 10, 0, 0, 1});
  put(40, {0x00, 0x00});
  put(52, {24, 3, 9, 14, 5, 30});
  put(104, {0x00, 0x19});
  put(160, {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11});
  put(178, {0x3A, 0x98, 0x00, 0x03, 0x00, 0x0A, 1, 0, 0xFF, 0x6A});
  put(194, {0xFF, 0x9B});
  put(1204, {0x0F, 0xF0});
  EXPECT_EQ(p, expected);
}

TEST(AdvancedSettingsPacket, FieldEncodingExamples) {
  EXPECT_EQ(deviationAngleField("-1.5"), 0xFF6A);
  EXPECT_EQ(deviationAngleField("0"), 0x0000);
  EXPECT_EQ(deviationAngleField("700"), 0x0000);  // 70000 after scaling
  EXPECT_EQ(deviationAngleField("0.29"), 29);     // exact, not 28.999...
  EXPECT_EQ(deviationAngleField("-327.68"), 0x8000);
  EXPECT_EQ(deviationAngleField("655.35"), 0xFFFF);
  EXPECT_EQ(deviationAngleField("abc"), 0);
  EXPECT_EQ(deviationAngleField("nan"), 0);
  EXPECT_EQ(deviationAngleField(" 1e-1 "), 10);
  EXPECT_EQ(encoderZeroField("-1"), 0xFF9B);
  EXPECT_EQ(encoderZeroField("-0.01"), 0xFFFE);  // 65535 added, not 65536
  EXPECT_EQ(encoderZeroField("1.234"), 123);
  EXPECT_EQ(rangeField("1.5"), 0x0000);
  EXPECT_EQ(rangeField("150"), 0x3A98);
  EXPECT_EQ(rangeField("30000000"), 0x0000);  // no int overflow on scaling
  EXPECT_EQ(rangeField("99999999999"), 0x0000);
  EXPECT_EQ(highReflectField("40000.9"), 0x9C40);
  EXPECT_EQ(trailField("-1"), 0xFFFF);
  EXPECT_EQ(trailField("65536"), 0);
  EXPECT_EQ(field16(-65536), 0);
  EXPECT_EQ(field16(-65535), 1);
}

TEST(AdvancedSettingsPacket, EmptyAndUnsetFieldsKeepTheStatusBytes) {
  StatusSnapshot s = longSnapshot();
  s[41] = 7;  // a run state that is neither 0 nor 1
  AdvancedSettingsInput in = form();
  in.highReflect = "";
  in.encoderZero = "";
  const auto p = buildAdvancedSettingsPacket(in, s, kFrame, kNow);
  EXPECT_EQ(at16(p, 104), static_cast<std::uint16_t>(s[104] << 8 | s[105]));
  EXPECT_EQ(at16(p, 194), static_cast<std::uint16_t>(s[194] << 8 | s[195]));
  EXPECT_EQ(at16(p, 40), 2);

  const auto kept = buildAdvancedSettingsPacket(AdvancedSettingsInput{}, s, kFrame, kNow);
  for (std::size_t i : {8, 9, 104, 105, 178, 179, 180, 181, 182, 183, 184, 185, 186, 187, 194, 195})
    EXPECT_EQ(kept[i], s[i]) << "byte " << i;

  in.motorSpeed = "300";  // not an entry of the list: 1200 rpm
  in.runState = 1u;
  const auto q = buildAdvancedSettingsPacket(in, s, kFrame, kNow);
  EXPECT_EQ(at16(q, 8), 1200);
  EXPECT_EQ(at16(q, 40), 1);
}

TEST(AdvancedSettingsPacket, RefusalsAndTheTrailingQuestion) {
  const StatusSnapshot s = longSnapshot();
  AdvancedSettingsInput in = form();
  EXPECT_EQ(checkAdvancedSettings(in), AdvancedSettingsRefusal::None);
  EXPECT_FALSE(trailingRemovalSendsZero(in, s));
  in.trailThreshold = "0";
  EXPECT_TRUE(trailingRemovalSendsZero(in, s));
  in.trailThreshold = "65536";  // encodes to 00 00 as well
  EXPECT_TRUE(trailingRemovalSendsZero(in, s));
  in.range = "";
  EXPECT_EQ(checkAdvancedSettings(in), AdvancedSettingsRefusal::RangeEmpty);
  in.deviationAngle = "";
  EXPECT_EQ(checkAdvancedSettings(in), AdvancedSettingsRefusal::DeviationAngleEmpty);
  EXPECT_EQ(checkAdvancedSettings(AdvancedSettingsInput{}), AdvancedSettingsRefusal::None);
}

TEST(AdvancedSettingsPacket, DefaultRestorePacket) {
  const auto p = buildDefaultRestorePacket(kNow);
  std::array<std::uint8_t, 1206> expected{};
  const std::uint8_t head[] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA, 0x01, 0x2C, 0xC0, 0xA8, 0x01,
                               0xDE, 0xC0, 0xA8, 0x01, 0x7D, 0, 0, 0, 0, 0, 0, 0x09, 0x40, 0x09, 0x41};
  std::copy(std::begin(head), std::end(head), expected.begin());
  const std::uint8_t time[] = {24, 3, 9, 14, 5, 30};
  std::copy(std::begin(time), std::end(time), expected.begin() + 52);
  expected[1204] = 0x0F;
  expected[1205] = 0xF0;
  EXPECT_EQ(p, expected);
}

TEST(AdvancedSettingsPacket, RestoreDestination) {
  std::string ip, reason;
  std::uint16_t port = 0;
  EXPECT_TRUE(restoreDestination(" 192.168.1.222", "2368 ", ip, port, reason));
  EXPECT_EQ(ip, "192.168.1.222");
  EXPECT_EQ(port, 2368);
  for (const char* bad : {"70000", "0", "-1", "", "23a", "65536"}) {
    EXPECT_FALSE(restoreDestination("192.168.1.222", bad, ip, port, reason)) << bad;
    EXPECT_NE(reason.find("port"), std::string::npos);
  }
  for (const char* bad : {"192.168.1", "192.168.1.256", "0.0.0.0", "a.b.c.d", "1.2.3.4.5", "1..2.3"})
    EXPECT_FALSE(restoreDestination(bad, "2368", ip, port, reason)) << bad;
}

TEST(AdvancedSettingsPacket, RefreshViewAndDumpText) {
  StatusSnapshot s = longSnapshot();
  const auto put = [&](std::size_t at, std::initializer_list<int> bytes) {
    for (int b : bytes) s[at++] = static_cast<std::uint8_t>(b);
  };
  put(8, {0x02, 0xBC});  // 700 rpm: the motor speed stays
  put(99, {0x01, 0x00, 0xFF, 0xFE, 9});
  put(104, {0x9C, 0x40});
  put(178, {0x00, 0x96, 0x00, 0x05, 0x00, 0x0A, 1, 3, 0xFF, 0x6A});
  put(194, {0xFF, 0x9B});
  put(1196, {2, 0x13, 20, 24, 3, 9, 1, 0x23});
  const AdvancedSettingsView v = advancedSettingsView(s);
  EXPECT_EQ(v.range, "1.5");
  EXPECT_EQ(v.trailThreshold, "5");
  EXPECT_EQ(v.trailDistance, "10");
  EXPECT_EQ(v.highReflect, "40000");
  EXPECT_EQ(v.zeroDegreeIndex, 1);
  EXPECT_EQ(v.echoIndex, -1);
  EXPECT_EQ(v.deviationAngle, "-1.49");  // 65386 - 65535
  EXPECT_EQ(v.encoderZero, "-1");        // 65435 - 65535 = -100
  EXPECT_EQ(v.board2Version, "V2.1.3");
  EXPECT_EQ(v.board3Version, "2024.3.9-V1.2.3");
  EXPECT_EQ(v.motorSpeed, "");
  EXPECT_EQ(v.board2HighVoltage, "256");
  EXPECT_EQ(v.board2HighVoltageAdjust, "-1");
  EXPECT_EQ(v.board2ThresholdAdjust, "9");

  const std::string dump = statusDumpText(s.data(), s.size());
  EXPECT_EQ(dump.size(), 3618u);
  EXPECT_EQ(dump.substr(0, 12), "a5 ff 00 5a ");
  EXPECT_EQ(dump.back(), ' ');
  EXPECT_EQ(dump.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace z540k
