// The device status packet: recognition, every SettingData field from its
// packet bytes, the status value list, and the encoder's two layouts.
#include <gtest/gtest.h>

#include <cstring>

#include "PacketEncoders.h"
#include "StatusPacket.h"

using namespace z540k;

namespace {

// A status packet whose byte i (after the header) is a value that differs
// from its neighbours, so a field read from the wrong offset shows.
std::array<std::uint8_t, kStatusPacketSize> patternedStatusPacket() {
  std::array<std::uint8_t, kStatusPacketSize> p{};
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
  std::copy(kStatusHeader.begin(), kStatusHeader.end(), p.begin());
  return p;
}

int be16(const std::array<std::uint8_t, kStatusPacketSize>& p, std::size_t at) { return p[at] * 256 + p[at + 1]; }

template <std::size_t N, typename T>
void expectBytes(const T (&field)[N], const std::array<std::uint8_t, kStatusPacketSize>& p, std::size_t from,
                 const char* name) {
  for (std::size_t i = 0; i < N; ++i)
    EXPECT_EQ(static_cast<std::uint8_t>(field[i]), p[from + i]) << name << "[" << i << "]";
}

}  // namespace

// Every field of the record from its own packet bytes, written out here by
// packet offset independently of the decoder's table.
TEST(StatusPacketTest, EveryFieldFromItsPacketBytes) {
  const auto p = patternedStatusPacket();
  SettingData s;
  std::memset(&s, 0xCC, sizeof s);
  std::vector<int> values;
  ASSERT_TRUE(decodeStatusPacket(p.data(), p.size(), s, values));

  expectBytes(s.destIp, p, 14, "destIp");
  expectBytes(s.dataPort, p, 24, "dataPort");
  EXPECT_EQ(int{s.motorSpeed}, be16(p, 8));
  EXPECT_EQ(int{s.runState}, be16(p, 40));
  expectBytes(s.utcTime, p, 52, "utcTime");
  EXPECT_EQ(int{s.interval}, be16(p, 42));
  expectBytes(s.ppsSetAngle, p, 48, "ppsSetAngle");
  expectBytes(s.ppsDeviation, p, 50, "ppsDeviation");
  expectBytes(s.latitude, p, 58, "latitude");
  EXPECT_EQ(static_cast<std::uint8_t>(s.latitudeHemisphere), p[78]);
  expectBytes(s.longitude, p, 68, "longitude");
  EXPECT_EQ(static_cast<std::uint8_t>(s.longitudeHemisphere), p[79]);
  expectBytes(s.plate2Temperature, p, 80, "plate2Temperature");
  expectBytes(s.lvdsSetting, p, 82, "lvdsSetting");
  EXPECT_EQ(s.raw168, p[168]);
  EXPECT_EQ(s.raw169, p[169]);
  expectBytes(s.raw170, p, 170, "raw170");
  expectBytes(s.raw174, p, 174, "raw174");
  expectBytes(s.board2Version, p, 1196, "board2Version");
  expectBytes(s.board3Version, p, 1198, "board3Version");
  expectBytes(s.verticalAngles, p, 245, "verticalAngles");
  EXPECT_EQ(s.gpsState, p[84]);
  EXPECT_EQ(s.ppsState, p[85]);
  EXPECT_EQ(s.highTemperaturePause, p[86]);
  expectBytes(s.machineStopTemperature, p, 87, "machineStopTemperature");
  expectBytes(s.plate3Voltage, p, 89, "plate3Voltage");
  expectBytes(s.versionText, p, 1164, "versionText");
  expectBytes(s.versionPairs, p, 1184, "versionPairs");

  // The unaligned 32-bit fields sit at record offsets 6, 10 and 20 in the
  // machine's byte order: a consumer copying the 149 bytes finds them there.
  unsigned char image[149];
  std::memcpy(image, &s, sizeof image);
  std::int32_t at6, at10, at20;
  std::memcpy(&at6, image + 6, 4);
  std::memcpy(&at10, image + 10, 4);
  std::memcpy(&at20, image + 20, 4);
  EXPECT_EQ(at6, be16(p, 8));
  EXPECT_EQ(at10, be16(p, 40));
  EXPECT_EQ(at20, be16(p, 42));
  // A byte-for-byte copy reproduces every field.
  SettingData copy;
  std::memcpy(&copy, image, sizeof copy);
  EXPECT_EQ(std::memcmp(&copy, &s, sizeof s), 0);
  EXPECT_EQ(int{copy.interval}, int{s.interval});
}

TEST(StatusPacketTest, ValueListOfNineteenEntries) {
  const auto p = patternedStatusPacket();
  const std::vector<int> v = decodeStatusValues(p.data());
  ASSERT_EQ(v.size(), 19u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(v[i], p[18 + i]) << "MAC byte " << i;
  EXPECT_EQ(v[6], be16(p, 50));
  EXPECT_EQ(v[7], be16(p, 24));
  EXPECT_EQ(v[8], be16(p, 26));
  EXPECT_EQ(v[9], be16(p, 178));
  EXPECT_EQ(v[10], be16(p, 180));
  EXPECT_EQ(v[11], be16(p, 182));
  EXPECT_EQ(v[12], p[184]);
  EXPECT_EQ(v[13], p[185]);
  EXPECT_EQ(v[14], be16(p, 186));
  EXPECT_EQ(v[15], be16(p, 194));
  EXPECT_EQ(v[16], be16(p, 99));
  EXPECT_EQ(v[17], be16(p, 101));
  EXPECT_EQ(v[18], p[103]);
  for (int x : v) EXPECT_GE(x, 0);
}

TEST(StatusPacketTest, KnownValues) {
  auto p = patternedStatusPacket();
  p[8] = 0x02;
  p[9] = 0x58;
  p[245] = 0xFF;
  p[246] = 0x9C;
  p[186] = 0xFF;  // a negative horizontal offset stays the plain unsigned value
  p[187] = 0x38;
  SettingData s;
  std::vector<int> v;
  ASSERT_TRUE(decodeStatusPacket(p.data(), p.size(), s, v));
  EXPECT_EQ(int{s.motorSpeed}, 600);
  EXPECT_EQ(s.verticalAngles[0], 0xFF);
  EXPECT_EQ(s.verticalAngles[1], 0x9C);
  EXPECT_EQ(static_cast<std::int16_t>((s.verticalAngles[0] << 8) | s.verticalAngles[1]), -100);
  EXPECT_EQ(v[14], 0xFF38);
}

// Any one of the eight header bytes differing makes it something else; the
// length must be exactly 1206.
TEST(StatusPacketTest, RecognitionNeedsTheWholeHeaderAndLength) {
  const auto good = patternedStatusPacket();
  EXPECT_TRUE(isStatusPacket(good.data(), good.size()));
  for (std::size_t i = 0; i < 8; ++i) {
    auto p = good;
    p[i] ^= 0x01;
    EXPECT_FALSE(isStatusPacket(p.data(), p.size())) << "byte " << i;
    SettingData s;
    std::vector<int> v{1, 2, 3};
    EXPECT_FALSE(decodeStatusPacket(p.data(), p.size(), s, v));
    EXPECT_EQ(v.size(), 3u);  // untouched
  }
  auto p = good;
  p[7] = 0x54;  // A5 FF 00 5A 11 11 55 54
  EXPECT_FALSE(isStatusPacket(p.data(), p.size()));
  EXPECT_FALSE(isStatusPacket(good.data(), good.size() - 1));
  EXPECT_TRUE(hasStatusHeader(good.data(), 8));
  EXPECT_FALSE(hasStatusHeader(good.data(), 7));
}

// Each decode fills the record completely: decoding packet A then packet B
// gives exactly what B alone gives.
TEST(StatusPacketTest, NoFieldKeepsAnEarlierValue) {
  const auto a = patternedStatusPacket();
  auto b = a;
  for (std::size_t i = 8; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(~b[i]);
  SettingData fromA, fromB, fresh;
  std::vector<int> v;
  ASSERT_TRUE(decodeStatusPacket(a.data(), a.size(), fromA, v));
  fromB = fromA;
  ASSERT_TRUE(decodeStatusPacket(b.data(), b.size(), fromB, v));
  std::memset(&fresh, 0, sizeof fresh);
  ASSERT_TRUE(decodeStatusPacket(b.data(), b.size(), fresh, v));
  EXPECT_EQ(std::memcmp(&fromB, &fresh, sizeof fresh), 0);
  EXPECT_EQ(v.size(), 19u);
}

// The field table names every member once and tiles the 149-byte record.
TEST(StatusPacketTest, FieldTableCoversTheRecord) {
  std::size_t next = 0;
  for (const StatusField& f : kSettingDataFields) {
    EXPECT_EQ(f.recordOffset, next) << f.name;
    next += f.size;
    EXPECT_LE(f.packetOffset + (f.kind == StatusFieldKind::BigEndian16 ? 2 : f.size), kStatusPacketSize) << f.name;
  }
  EXPECT_EQ(next, sizeof(SettingData));
}

// ---- The encoder -------------------------------------------------------------

TEST(StatusEncoderTest, LongLayoutRoundTrip) {
  sim::SensorStatus st;
  st.motorSpeed = 1200;
  st.destIp = {192, 168, 1, 102};
  st.sensorIp = {192, 168, 1, 200};
  st.dataPort = 2368;
  st.statusPort = 2369;
  st.runState = 1;
  st.interval = 1;
  st.ppsSetAngle = 36000;
  st.ppsDeviation = 0x8000;
  st.utcTime = GpsDateTime{24, 3, 9, 8, 5, 30};
  st.latitude = "3958.1234";
  st.longitude = "11623.4567";
  st.latitudeHemisphere = 'S';
  st.longitudeHemisphere = 'W';
  st.plate2Temperature = 85;
  st.lvdsSetting = 1;
  st.gpsState = 1;
  st.ppsState = 2;
  st.highTemperaturePause = 3;
  st.machineStopTemperature = 0x0800;
  st.plate3Voltage = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  st.board2HighVoltage = 300;
  st.board2HighVoltageAdjust = 0xFFFE;
  st.board2Threshold = 9;
  st.raw168 = 0x11;
  st.raw169 = 0x22;
  st.raw170 = {1, 2, 3, 4};
  st.raw174 = {5, 6, 7, 8};
  st.measuringRange = 20000;
  st.trailingThreshold = 4;
  st.trailingDistance = 150;
  st.zeroDegreePosition = 1;
  st.echoMode = 1;
  st.horizontalOffset = -250;
  st.encoderZero = 125;
  st.verticalAngles[0] = -100;
  st.verticalAngles[15] = 1500;
  st.versionText = "Z540-K firmware";
  st.versionPairs = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  st.board2Version = {2, 0x13};
  st.board3Version = {20, 24, 3, 9, 1, 0x23};

  const auto p = sim::encodeStatusPacket(st);
  SettingData s;
  std::vector<int> v;
  ASSERT_TRUE(decodeStatusPacket(p.data(), p.size(), s, v));
  EXPECT_EQ(int{s.motorSpeed}, 1200);
  EXPECT_EQ(int{s.runState}, 1);
  EXPECT_EQ(int{s.interval}, 1);
  EXPECT_EQ(s.destIp[3], 102);
  EXPECT_EQ(s.dataPort[0], 0x09);  // 2368 = 09 40, high byte first
  EXPECT_EQ(s.dataPort[1], 0x40);
  EXPECT_EQ(s.ppsSetAngle[0], 0x8C);
  EXPECT_EQ(s.ppsSetAngle[1], 0xA0);
  EXPECT_EQ(s.utcTime[5], 30);
  EXPECT_EQ(std::string(s.latitude, 9), "3958.1234");
  EXPECT_EQ(std::string(s.longitude, 10), "11623.4567");
  EXPECT_EQ(s.latitudeHemisphere, 'S');
  EXPECT_EQ(s.longitudeHemisphere, 'W');
  EXPECT_EQ(s.machineStopTemperature[0], 0x08);
  EXPECT_EQ(s.plate3Voltage[9], 10);
  EXPECT_EQ(s.raw174[3], 8);
  EXPECT_EQ(s.verticalAngles[0], 0xFF);
  EXPECT_EQ(s.verticalAngles[1], 0x9C);
  EXPECT_EQ(s.verticalAngles[30], 0x05);
  EXPECT_EQ(s.verticalAngles[31], 0xDC);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.versionText), 15), "Z540-K firmware");
  EXPECT_EQ(s.board3Version[5], 0x23);
  const std::vector<int> expected{0x60, 0x76, 0x88, 0x00, 0x00,   0x01, 0x8000, 2368,   2369, 20000,
                                  4,    150,  1,    1,    0xFF06, 125,  300,    0xFFFE, 9};
  EXPECT_EQ(v, expected);
  // Raw-only fields at their places.
  EXPECT_EQ(p[10], 192);
  EXPECT_EQ(p[13], 200);
  EXPECT_EQ(p[1202], 1);
}

// Sensors that take the short configuration packet report their addresses,
// ports and speed at the short positions and mark byte 1202 with 3.
TEST(StatusEncoderTest, ShortLayoutPositions) {
  sim::SensorStatus st;
  st.sensorIp = {10, 0, 0, 7};
  st.destIp = {10, 0, 0, 1};
  st.dataPort = 6699;
  st.statusPort = 7788;
  st.motorSpeed = 300;
  const auto p = sim::encodeStatusPacket(st, sim::StatusLayout::Short);
  EXPECT_TRUE(isStatusPacket(p.data(), p.size()));
  EXPECT_EQ(p[8], 10);
  EXPECT_EQ(p[11], 7);
  EXPECT_EQ(p[12] * 256 + p[13], 6699);
  EXPECT_EQ(p[14], 10);
  EXPECT_EQ(p[17], 1);
  EXPECT_EQ(p[18] * 256 + p[19], 7788);
  EXPECT_EQ(p[20] * 256 + p[21], 300);
  EXPECT_EQ(p[1202], 3);
  SettingData s;
  std::vector<int> v;
  ASSERT_TRUE(decodeStatusPacket(p.data(), p.size(), s, v));
  EXPECT_EQ(s.board3Version[4], 3);
  ShortStatus shortStatus;
  ASSERT_TRUE(decodeShortStatus(p.data(), p.size(), shortStatus));
  EXPECT_EQ(shortStatus.sensorIp, st.sensorIp);
  EXPECT_EQ(shortStatus.destIp, st.destIp);
  EXPECT_EQ(shortStatus.dataPort, 6699);
  EXPECT_EQ(shortStatus.devicePort, 7788);
  EXPECT_EQ(shortStatus.motorSpeed, 300);
  EXPECT_FALSE(decodeShortStatus(sim::encodeStatusPacket(st).data(), p.size(), shortStatus));  // long layout
}

// The short layout's fields from their own bytes (16-bit values high byte
// first), and only for a status packet whose byte 1202 is 3.
TEST(StatusPacketTest, ShortLayoutFields) {
  auto p = patternedStatusPacket();
  p[1202] = 3;
  ShortStatus s;
  ASSERT_TRUE(decodeShortStatus(p.data(), p.size(), s));
  EXPECT_EQ(s.sensorIp, (std::array<std::uint8_t, 4>{p[8], p[9], p[10], p[11]}));
  EXPECT_EQ(s.dataPort, be16(p, 12));
  EXPECT_EQ(s.destIp, (std::array<std::uint8_t, 4>{p[14], p[15], p[16], p[17]}));
  EXPECT_EQ(s.devicePort, be16(p, 18));
  EXPECT_EQ(s.motorSpeed, be16(p, 20));

  const ShortStatus before = s;
  for (std::uint8_t other : {0, 1, 2, 4, 0xFF}) {
    p[1202] = other;
    EXPECT_FALSE(decodeShortStatus(p.data(), p.size(), s)) << int{other};
  }
  p[1202] = 3;
  EXPECT_FALSE(decodeShortStatus(p.data(), p.size() - 1, s));
  p[7] = 0x54;
  EXPECT_FALSE(decodeShortStatus(p.data(), p.size(), s));
  EXPECT_EQ(s.motorSpeed, before.motorSpeed);  // unchanged by a refusal
  EXPECT_EQ(s.sensorIp, before.sensorIp);
}
