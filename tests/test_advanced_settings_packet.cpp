// The advanced settings and default-restore packets, byte for byte, the
// texts a Refresh shows, what each field takes, and that a Refresh followed by
// an unedited Set writes back every status value; the window's session.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>
#include <vector>

#include "AdvancedSettingsPacket.h"
#include "AdvancedSettingsSession.h"
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
  put(194, {0xFF, 0x9C});
  put(1204, {0x0F, 0xF0});
  EXPECT_EQ(p, expected);
}

// Each text read exactly from its digits, in 16-bit two's complement.
TEST(AdvancedSettingsPacket, FieldValues) {
  using F = AdvancedField;
  const std::tuple<F, const char*, int> cases[] = {{F::DeviationAngle, "-1.5", 0xFF6A},
                                                   {F::DeviationAngle, "0", 0},
                                                   {F::DeviationAngle, "0.29", 29},
                                                   {F::DeviationAngle, "1.15", 115},
                                                   {F::DeviationAngle, " 1e-1 ", 10},
                                                   {F::DeviationAngle, "-327.68", 0x8000},
                                                   {F::DeviationAngle, "327.67", 0x7FFF},
                                                   {F::EncoderZero, "-1", 0xFF9C},
                                                   {F::EncoderZero, "-0.01", 0xFFFF},
                                                   {F::EncoderZero, "1.230", 123},
                                                   {F::Range, "1.5", 0x0096},
                                                   {F::Range, "123.45", 0x3039},
                                                   {F::Range, "150", 0x3A98},
                                                   {F::Range, "655.35", 0xFFFF},
                                                   {F::HighReflect, "40000.0", 0x9C40},
                                                   {F::TrailThreshold, "+7", 7},
                                                   {F::TrailDistance, "65535", 0xFFFF}};
  for (const auto& [field, text, value] : cases) {
    const auto v = advancedFieldValue(field, text);
    ASSERT_TRUE(v.has_value()) << text;
    EXPECT_EQ(*v, value) << text;
  }
}

// A text its field cannot hold (one step outside its range, more decimals
// than it keeps, not a number, far too large) is refused with the field's
// name and range; nothing of it reaches the packet.
TEST(AdvancedSettingsPacket, ValuesAFieldCannotHoldAreRefused) {
  using F = AdvancedField;
  struct Case {
    F field;
    std::vector<const char*> refused;
    const char* says;
  };
  const Case cases[] = {
      {F::HighReflect,
       {"-1", "65536", "NaN", "mm", "327.68", "0.5"},
       "High-reflection compensation (mm) \"%s\" is not a whole number from 0 to 65535"},
      {F::DeviationAngle,
       {"-327.69", "327.68", "700", "nan", "inf", "1e308", "1,5", "0.005", "-0.005", "1.001"},
       "Horizontal offset angle (degrees) \"%s\" is not a number from -327.68 to 327.67 with at most 2 decimals"},
      {F::Range,
       {"-0.01", "655.36", "700", "NaN", "abc", "0.005", "1e-3", "150.0001"},
       "Measuring range (m) \"%s\" is not a number from 0 to 655.35 with at most 2 decimals"},
      {F::TrailThreshold,
       {"-1", "65536", "1.5", "x"},
       "Trailing-removal threshold \"%s\" is not a whole number from 0 to 65535"},
      {F::TrailDistance,
       {"-1", "65536", "1e2"},
       "Trailing-removal distance (cm) \"%s\" is not a whole number from 0 to 65535"},
      {F::EncoderZero,
       {"-327.69", "327.68", "0x10", "1.234"},
       "Encoder zero calibration (degrees) \"%s\" is not a number from -327.68 to 327.67 with at most 2 decimals"},
  };
  const StatusSnapshot s = longSnapshot();
  for (const Case& c : cases) {
    for (const char* text : c.refused) {
      SCOPED_TRACE(text);
      char says[160];
      std::snprintf(says, sizeof says, c.says, text);
      EXPECT_FALSE(advancedFieldValue(c.field, text).has_value());
      EXPECT_EQ(advancedFieldRefusal(c.field, text), std::optional<std::string>(says));
      AdvancedSettingsInput in = form();
      std::optional<std::string>* fields[] = {&in.highReflect,    &in.deviationAngle, &in.range,
                                              &in.trailThreshold, &in.trailDistance,  &in.encoderZero};
      *fields[static_cast<int>(c.field)] = std::string(text);
      EXPECT_EQ(advancedSettingsRefusal(in), std::optional<std::string>(says));
      // Built anyway, the field keeps the status bytes.
      const std::size_t offsets[] = {104, 186, 178, 180, 182, 194};
      const std::size_t at = offsets[static_cast<int>(c.field)];
      EXPECT_EQ(at16(buildAdvancedSettingsPacket(in, s, kFrame, kNow), at), s[at] << 8 | s[at + 1]);
    }
  }
  EXPECT_EQ(advancedSettingsRefusal(form()), std::nullopt);
  EXPECT_EQ(advancedFieldRefusal(F::Range, ""), std::nullopt);  // empty: the window's own message
}

// Every value of every 16-bit field the window shows: status -> Refresh ->
// unedited Set gives the status bytes back.
TEST(AdvancedSettingsPacket, RefreshThenSetWritesBackEveryValue) {
  StatusSnapshot s = longSnapshot();
  const std::size_t offsets[] = {104, 178, 180, 182, 186, 194};
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    for (std::size_t at : offsets) s[at] = static_cast<std::uint8_t>(v >> 8), s[at + 1] = static_cast<std::uint8_t>(v);
    const AdvancedSettingsView view = advancedSettingsView(s);
    AdvancedSettingsInput in;
    in.highReflect = view.highReflect, in.deviationAngle = view.deviationAngle, in.range = view.range;
    in.trailThreshold = view.trailThreshold, in.trailDistance = view.trailDistance, in.encoderZero = view.encoderZero;
    ASSERT_EQ(advancedSettingsRefusal(in), std::nullopt) << v;
    const auto p = buildAdvancedSettingsPacket(in, s, kFrame, kNow);
    for (std::size_t at : offsets) ASSERT_EQ(at16(p, at), v) << "byte " << at << ", " << view.deviationAngle;
  }
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
  in.trailThreshold = "";  // reads as 0
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
  const std::uint8_t head[] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA, 0x01, 0x2C, 0xC0, 0xA8, 0x01, 0xDE,
                               0xC0, 0xA8, 0x01, 0x7D, 0,    0,    0,    0,    0,    0,    0x09, 0x40, 0x09, 0x41};
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
  put(178, {0x30, 0x39, 0x00, 0x05, 0x00, 0x0A, 1, 3, 0xFF, 0x6A});
  put(194, {0xFF, 0xFF});
  put(1196, {2, 0x13, 20, 24, 3, 9, 1, 0x23});
  const AdvancedSettingsView v = advancedSettingsView(s);
  EXPECT_EQ(v.range, "123.45");
  EXPECT_EQ(v.trailThreshold, "5");
  EXPECT_EQ(v.trailDistance, "10");
  EXPECT_EQ(v.highReflect, "40000");
  EXPECT_EQ(v.zeroDegreeIndex, 1);
  EXPECT_EQ(v.echoIndex, -1);
  EXPECT_EQ(v.deviationAngle, "-1.5");  // two's complement: 65386 - 65536
  EXPECT_EQ(v.encoderZero, "-0.01");
  EXPECT_EQ(v.board2Version, "V2.1.3");
  EXPECT_EQ(v.board3Version, "2024.3.9-V1.2.3");
  EXPECT_EQ(v.motorSpeed, "");
  EXPECT_EQ(v.board2HighVoltage, "256");
  EXPECT_EQ(v.board2HighVoltageAdjust, "-2");
  EXPECT_EQ(v.board2ThresholdAdjust, "9");

  const std::string dump = statusDumpText(s.data(), s.size());
  EXPECT_EQ(dump.size(), 3618u);
  EXPECT_EQ(dump.substr(0, 12), "a5 ff 00 5a ");
  EXPECT_EQ(dump.back(), ' ');
  EXPECT_EQ(dump.find('\n'), std::string::npos);
}

// Set waits for a Refresh (once, and again after every send attempt) and
// for the end of a capture; it sends the run state of the last status.
TEST(AdvancedSettingsSession, SetReadinessAndChecks) {
  AdvancedSettingsSession session;
  AdvancedSettingsInput in = form();
  EXPECT_FALSE(session.canRefresh() || session.setEnabled());
  EXPECT_EQ(session.checkSet(in).refused, AdvancedSettingsSession::SetRefusal::NotRefreshed);

  SettingData status{};
  status.runState = 1;
  session.takeStatus(status, {1, 2, 3});
  session.setBusy(true);
  session.refreshEnded();
  EXPECT_TRUE(session.canRefresh() && session.refreshed() && !session.setEnabled());
  session.setBusy(false);
  EXPECT_TRUE(session.setEnabled());

  AdvancedSettingsInput bad = form();
  bad.range = "x";
  const auto refused = session.checkSet(bad);
  EXPECT_EQ(refused.refused, AdvancedSettingsSession::SetRefusal::Field);
  EXPECT_EQ(refused.refusal, *advancedSettingsRefusal(bad));
  ASSERT_EQ(session.checkSet(in).refused, AdvancedSettingsSession::SetRefusal::None);
  EXPECT_EQ(in.runState, std::optional<unsigned>(1));

  session.sendEnded();
  EXPECT_TRUE(!session.refreshed() && session.setEnabled());  // usable, but refused until a Refresh
  EXPECT_EQ(session.checkSet(in).refused, AdvancedSettingsSession::SetRefusal::NotRefreshed);
}

// A log the receiver cannot write ends only the test that writes it.
TEST(AdvancedSettingsSession, GpsTestState) {
  AdvancedSettingsSession session;
  EXPECT_FALSE(session.logWriteErrorEndsTest("a.txt"));
  session.gpsTestStarted({"a.txt", "a_Error.txt"});
  session.gpsTestStopped();
  session.gpsTestStarted({"b.txt", "b_Error.txt"});
  EXPECT_FALSE(session.logWriteErrorEndsTest("a_Error.txt"));
  EXPECT_TRUE(session.gpsTestRunning());
  EXPECT_TRUE(session.logWriteErrorEndsTest("b_Error.txt"));
  EXPECT_FALSE(session.gpsTestRunning() || session.logWriteErrorEndsTest("b.txt"));
}

}  // namespace
}  // namespace z540k
