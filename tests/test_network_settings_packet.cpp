// The network settings packet byte for byte in both formats, the field
// encodings and their checks, the rules the window and the tool share
// (Refresh, refusals, equal addresses), the session both drive (readiness,
// Set), and the status dump text.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "NetworkSettingsPacket.h"
#include "NetworkSettingsRules.h"
#include "NetworkSettingsSession.h"
#include "SettingsFieldValues.h"
#include "StatusSnapshots.h"

using namespace z540k;
using namespace z540k::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

NetworkSettingsInput emptyInput() {
  NetworkSettingsInput in;
  in.motorSpeed = " 10 HZ";
  in.motorState = "Run";
  return in;
}

// Every field typed.
NetworkSettingsInput fullInput() {
  NetworkSettingsInput in;
  in.sensorIp = "10.1.2.3";
  in.destIp = "10.1.2.200";
  in.subnet = "255.255.0.0";
  in.gateway = "10.1.0.1";
  in.ntp = "10.1.2.9";
  in.mac = "60-76-88-0a-Bc-FE";
  in.dataPort = "2370";
  in.devicePort = "65535";
  in.interval = "1";
  in.ppsAngle = "90";
  in.motorSpeed = " 20 HZ";
  in.motorState = "Stop";
  in.sensorState = 1;
  in.writeTime = true;
  return in;
}

const LocalDateTime kNow{2024, 3, 9, 8, 5, 30};

template <typename Packet>
Bytes range(const Packet& p, std::size_t from, std::size_t to) {
  return Bytes(p.begin() + from, p.begin() + to);
}

}  // namespace

TEST(NetworkSettingsPacketTest, LongPacketOfEveryFieldTyped) {
  StatusSnapshot snapshot = longSnapshot();
  const StatusSnapshot before = snapshot;
  const auto packet = buildLongNetworkSettingsPacket(fullInput(), snapshot, kNow);
  const Bytes expectedHead = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA,  // header
                              0x04, 0xB0,                                      // " 20 HZ": 1200 rpm
                              0x0A, 0x01, 0x02, 0x03,                          // sensor IP
                              0x0A, 0x01, 0x02, 0xC8,                          // destination IP
                              0x60, 0x76, 0x88, 0x0A, 0xBC, 0xFE,              // MAC
                              0x09, 0x42, 0xFF, 0xFF,                          // data port 2370, device port 65535
                              0x0A, 0x01, 0x02, 0x09,                          // NTP
                              0x0A, 0x01, 0x00, 0x01,                          // gateway
                              0xFF, 0xFF, 0x00, 0x00,                          // subnet mask
                              0x00, 0x01, 0x00, 0x01, 0x00, 0x01,              // Stop, interval 1, Sleep
                              0x42, 0x49,                                      // 46-47 from the snapshot
                              0x23, 0x28,                                      // PPS angle 90.00
                              0x5E, 0x65,                                      // 50-51 from the snapshot
                              0x18, 0x03, 0x09, 0x08, 0x05, 0x1E};             // 2024-03-09 08:05:30
  EXPECT_EQ(range(packet, 0, 58), expectedHead);
  EXPECT_EQ(range(packet, 58, 1204), range(before, 58, 1204));
  EXPECT_EQ(range(packet, 1204, 1206), (Bytes{0x0F, 0xF0}));
  EXPECT_EQ(snapshot, before);
  EXPECT_EQ(networkSettingsDestination(snapshot, false), "192.168.1.200");  // where it is, not where it goes
  EXPECT_FALSE(isShortStatusFormat(snapshot));
}

TEST(NetworkSettingsPacketTest, LongPacketOfEmptyFieldsKeepsTheSensorsValues) {
  StatusSnapshot snapshot = longSnapshot();
  NetworkSettingsInput in = emptyInput();
  in.writeTime = false;
  const auto packet = buildLongNetworkSettingsPacket(in, snapshot, kNow);
  EXPECT_EQ(range(packet, 8, 10), (Bytes{0x02, 0x58}));
  EXPECT_EQ(range(packet, 10, 18), range(snapshot, 10, 18));
  EXPECT_EQ(range(packet, 18, 24), (Bytes{0x60, 0x76, 0x88, 0x00, 0x00, 0x00}));
  EXPECT_EQ(range(packet, 24, 40), range(snapshot, 24, 40));  // ports, NTP, gateway, mask: never 0.0.0.0 unasked
  EXPECT_EQ(range(packet, 40, 46), Bytes(6, 0));              // Run, interval 0, Running
  EXPECT_EQ(range(packet, 48, 50), (Bytes{0x12, 0x34}));
  EXPECT_EQ(range(packet, 52, 58), Bytes(6, 0));  // " No": no time
  EXPECT_EQ(range(packet, 1204, 1206), (Bytes{0x0F, 0xF0}));
}

// Ports within 1025-65535 only; anything else keeps the snapshot's port. The
// PPS angle: whole degrees times 100; empty keeps the snapshot's.
TEST(NetworkSettingsPacketTest, PortBoundsAndPpsAngle) {
  struct Case {
    std::string text;
    Bytes port;  // bytes 24-25
  };
  for (const Case& c : std::vector<Case>{{"1024", {0x09, 0x40}},
                                         {"1025", {0x04, 0x01}},
                                         {"65535", {0xFF, 0xFF}},
                                         {"65536", {0x09, 0x40}},
                                         {"0001025", {0x04, 0x01}},
                                         {"+2000", {0x07, 0xD0}},  // as the field's validator takes it
                                         {"99999999999999999999", {0x09, 0x40}},
                                         {"2000x", {0x09, 0x40}},
                                         {"", {0x09, 0x40}}}) {
    SCOPED_TRACE("port \"" + c.text + "\"");
    StatusSnapshot snapshot = longSnapshot();
    NetworkSettingsInput in = emptyInput();
    in.dataPort = c.text;
    in.devicePort = c.text;
    const auto packet = buildLongNetworkSettingsPacket(in, snapshot, kNow);
    EXPECT_EQ(range(packet, 24, 26), c.port);
    if (c.port == Bytes{0x09, 0x40}) {
      EXPECT_EQ(range(packet, 26, 28), (Bytes{0x09, 0x41}));
    }
  }
  for (const auto& [text, bytes] :
       std::vector<std::pair<std::string, Bytes>>{{"360", {0x8C, 0xA0}}, {"0", {0x00, 0x00}}, {"", {0x12, 0x34}}}) {
    StatusSnapshot snapshot = longSnapshot();
    NetworkSettingsInput in = emptyInput();
    in.ppsAngle = text;
    EXPECT_EQ(range(buildLongNetworkSettingsPacket(in, snapshot, kNow), 48, 50), bytes) << "PPS \"" << text << "\"";
  }
}

// A sensor that reports 255.255.255.255 is at 192.168.1.200: the packet goes
// there, and an empty sensor IP field keeps that address.
TEST(NetworkSettingsPacketTest, UnsetSensorAddressIsTheFactoryAddress) {
  StatusSnapshot snapshot = longSnapshot();
  std::fill(snapshot.begin() + 10, snapshot.begin() + 14, 0xFF);
  EXPECT_EQ(networkSettingsDestination(snapshot, false), "192.168.1.200");
  const auto packet = buildLongNetworkSettingsPacket(emptyInput(), snapshot, kNow);
  EXPECT_EQ(range(packet, 10, 14), (Bytes{0xC0, 0xA8, 0x01, 0xC8}));
  EXPECT_EQ(range(snapshot, 10, 14), (Bytes{0xC0, 0xA8, 0x01, 0xC8}));

  std::fill(snapshot.begin() + 10, snapshot.begin() + 14, 0xFF);
  NetworkSettingsInput in = emptyInput();
  in.sensorIp = "10.0.0.7";
  const auto moved = buildLongNetworkSettingsPacket(in, snapshot, kNow);
  EXPECT_EQ(range(moved, 10, 14), (Bytes{10, 0, 0, 7}));
  EXPECT_EQ(networkSettingsDestination(snapshot, false), "192.168.1.200");
}

TEST(NetworkSettingsPacketTest, MacAndMotorSpeedChoices) {
  struct Case {
    std::string mac;
    bool usable;
    Bytes bytes;  // 18-23
  };
  for (const Case& c :
       std::vector<Case>{{"60-76-88-00-00-1", false, {0x60, 0x76, 0x88, 0x00, 0x00, 0x00}},  // 16 characters: default
                         {"", false, {0x60, 0x76, 0x88, 0x00, 0x00, 0x00}},
                         {"a0:b1:C2:d3:E4:f5", true, {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5}},   // any separator
                         {"60-76-88-00-00-0g", false, {0x60, 0x76, 0x88, 0x00, 0x00, 0x01}},  // 17, not hex: snapshot's
                         {"6 -76-88-00-00-01", false, {0x60, 0x76, 0x88, 0x00, 0x00, 0x01}},
                         {"0x-76-88-00-00-01", false, {0x60, 0x76, 0x88, 0x00, 0x00, 0x01}}}) {
    SCOPED_TRACE("MAC \"" + c.mac + "\"");
    EXPECT_EQ(macTextUsable(c.mac), c.usable);
    StatusSnapshot snapshot = longSnapshot();
    NetworkSettingsInput in = emptyInput();
    in.mac = c.mac;
    EXPECT_EQ(range(buildLongNetworkSettingsPacket(in, snapshot, kNow), 18, 24), c.bytes);
  }
  for (const auto& [choice, rpm] : std::vector<std::pair<std::string, Bytes>>{
           {" 5 HZ", {0x01, 0x2C}}, {" 10 HZ", {0x02, 0x58}}, {" 20 HZ", {0x04, 0xB0}}, {"20 HZ", {0x02, 0x58}}}) {
    StatusSnapshot snapshot = longSnapshot();
    NetworkSettingsInput in = emptyInput();
    in.motorSpeed = choice;
    EXPECT_EQ(range(buildLongNetworkSettingsPacket(in, snapshot, kNow), 8, 10), rpm) << choice;
    EXPECT_EQ(range(buildShortNetworkSettingsPacket(in, shortSnapshot()), 29, 31), rpm) << choice;
  }
}

TEST(NetworkSettingsPacketTest, ShortPacketOfEveryFieldTyped) {
  NetworkSettingsInput in = fullInput();
  in.motorSpeed = " 5 HZ";
  const Bytes expected = {0xFF, 0x00, 0x00, 0xA2, 0xFF, 0xFF, 0x00, 0x00, 0xA3,  // header
                          0x0A, 0x01, 0x02, 0x03,                                // sensor IP
                          0x00, 0x00, 0x00, 0x00,                                //
                          0x09, 0x42,                                            // data port 2370
                          0x0A, 0x01, 0x02, 0xC8,                                // destination IP
                          0xFF, 0xFF,                                            // device port 65535
                          0x00, 0x00, 0x00, 0x00,                                //
                          0x01, 0x2C,                                            // 300 rpm
                          0x00,                                                  //
                          0xA5, 0x5A, 0x0F, 0xF0};                               // tail
  const StatusSnapshot snapshot = shortSnapshot();
  EXPECT_EQ(range(buildShortNetworkSettingsPacket(in, snapshot), 0, 36), expected);
  EXPECT_TRUE(isShortStatusFormat(snapshot));
  EXPECT_EQ(networkSettingsDestination(snapshot, true), "192.168.1.200");
}

// Empty fields and refused ports keep what the short status reports, read
// where it reports them.
TEST(NetworkSettingsPacketTest, ShortPacketOfEmptyFieldsKeepsTheSensorsValues) {
  NetworkSettingsInput in = emptyInput();
  in.motorSpeed = "";
  in.dataPort = "1024";
  const Bytes expected = {0xFF, 0x00, 0x00, 0xA2, 0xFF, 0xFF, 0x00, 0x00, 0xA3, 0xC0, 0xA8, 0x01,
                          0xC8, 0x00, 0x00, 0x00, 0x00, 0x09, 0x40, 0xC0, 0xA8, 0x01, 0x66, 0x09,
                          0x41, 0x00, 0x00, 0x00, 0x00, 0x02, 0x58, 0x00, 0xA5, 0x5A, 0x0F, 0xF0};
  EXPECT_EQ(range(buildShortNetworkSettingsPacket(in, shortSnapshot()), 0, 36), expected);
}

TEST(NetworkSettingsPacketTest, AddressTexts) {
  struct Case {
    std::string text;
    Bytes bytes;
    bool fourParts;
  };
  for (const Case& c : std::vector<Case>{{"192.168.1.200", {0xC0, 0xA8, 0x01, 0xC8}, true},
                                         {"300.1.1.1", {44, 1, 1, 1}, true},
                                         {"1.2.3.4.5", {1, 2, 3, 4}, false},
                                         {"1..2.3", {1, 0, 2, 3}, false},
                                         {"192.168.1", {192, 168, 1, 0}, false},
                                         {"192.168.1.", {192, 168, 1, 0}, false},
                                         {"a.-1.7x.9", {0, 0xFF, 7, 9}, true},
                                         {"", {0, 0, 0, 0}, false}}) {
    SCOPED_TRACE("\"" + c.text + "\"");
    const auto bytes = ipv4TextBytes(c.text);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), c.bytes);
    EXPECT_EQ(ipv4TextHasFourParts(c.text), c.fourParts);
  }
}

TEST(NetworkSettingsPacketTest, StatusDumpRoundTripAndRefusals) {
  StatusSnapshot packet;
  for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const std::string text = statusDumpText(packet.data(), packet.size());
  ASSERT_EQ(text.size(), 3618u);
  EXPECT_EQ(text.substr(0, 12), "0b 30 55 7a ");
  EXPECT_EQ(text.find_first_of("ABCDEF\n"), std::string::npos);
  EXPECT_EQ(text.back(), ' ');
  StatusSnapshot back{};
  std::string error;
  ASSERT_TRUE(parseStatusDump(text, back, error)) << error;
  EXPECT_EQ(back, packet);

  // Upper case, line breaks (also CR LF), tabs and no final separator.
  std::string other;
  for (std::size_t i = 0; i < packet.size(); ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", packet[i]);
    other += two;
    if (i + 1 < packet.size()) other += (i % 16 == 15) ? "\r\n" : (i % 4 == 3 ? "\t" : " ");
  }
  back.fill(0);
  ASSERT_TRUE(parseStatusDump(other, back, error)) << error;
  EXPECT_EQ(back, packet);

  const StatusSnapshot untouched = back;
  for (const auto& [bad, says] :
       std::vector<std::pair<std::string, std::string>>{{text.substr(0, text.size() - 3), "1205 bytes"},
                                                        {text + "00", "more than 1206"},
                                                        {"zz " + text.substr(3), "byte 1 is \"zz\""},
                                                        {text.substr(0, 6) + "a 5" + text.substr(8), "byte 3 is \"a\""},
                                                        {"a5ff" + text.substr(5), "byte 1 is \"a5ff\""},
                                                        {text.substr(0, 3) + "0x" + text.substr(5), "byte 2 is \"0x\""},
                                                        {"", "0 bytes"}}) {
    EXPECT_FALSE(parseStatusDump(bad, back, error)) << says;
    EXPECT_NE(error.find(says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(back, untouched);
  }
}

// Every value of every 16-bit field the window shows, in both formats: status
// -> Refresh -> unedited Set gives the status bytes back (ports of 1024 and
// below are kept from the status, the rest written; the PPS angle, which a
// Refresh leaves empty, kept). The addresses and the MAC go back too.
TEST(NetworkSettingsRulesTest, RefreshThenSetWritesBackEveryValue) {
  StatusSnapshot s = longSnapshot();
  StatusSnapshot shortStatus = shortSnapshot();
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    const auto hi = static_cast<std::uint8_t>(v >> 8), lo = static_cast<std::uint8_t>(v);
    // The addresses' last two bytes: a first number outside 1-223 is refused.
    for (std::size_t at : {12, 16, 18, 24, 26, 28, 32, 36, 42, 48}) s[at] = hi, s[at + 1] = lo;
    for (std::size_t at : {10, 12, 16, 18}) shortStatus[at] = hi, shortStatus[at + 1] = lo;
    NetworkSettingsInput in = emptyInput();
    applyRefresh(refreshedSettings(s, false), in);
    in.writeTime = false;
    ASSERT_EQ(networkSettingsRefusal(in, false), std::nullopt) << v;
    StatusSnapshot snapshot = s;
    const auto p = buildLongNetworkSettingsPacket(in, snapshot, kNow);
    ASSERT_EQ(range(p, 10, 50), range(s, 10, 50)) << v;

    NetworkSettingsInput shortIn = emptyInput();
    applyRefresh(refreshedSettings(shortStatus, true), shortIn);
    ASSERT_EQ(networkSettingsRefusal(shortIn, true), std::nullopt) << v;
    const auto q = buildShortNetworkSettingsPacket(shortIn, shortStatus);
    ASSERT_EQ(range(q, 9, 13), range(shortStatus, 8, 12)) << v;
    ASSERT_EQ(range(q, 17, 19), range(shortStatus, 12, 14)) << v;
    ASSERT_EQ(range(q, 19, 23), range(shortStatus, 14, 18)) << v;
    ASSERT_EQ(range(q, 23, 25), range(shortStatus, 18, 20)) << v;
  }
}

// What Set refuses, naming the field: half-typed and impossible addresses, a
// MAC that is not hexadecimal, numbers a field cannot hold, text. Empty
// fields pass; the short format checks only what it sends.
TEST(NetworkSettingsRulesTest, Refusals) {
  struct Case {
    std::string NetworkSettingsInput::*field;
    std::string text;
    std::string says;  // empty: accepted
  };
  using I = NetworkSettingsInput;
  const std::string notAddress = "is not an IPv4 address: each of its four numbers must be from 0 to 255 !";
  const std::vector<Case> cases = {
      {&I::destIp, "10.0.0", "Dest IP \"10.0.0\" is not a complete IPv4 address."},
      {&I::sensorIp, "10.0.0.", "Lidar IP \"10.0.0.\" is not a complete IPv4 address."},
      {&I::gateway, "10.0.0.256", "default gateway \"10.0.0.256\" " + notAddress},
      {&I::subnet, "255.0.0.-1", "Subnet Mask \"255.0.0.-1\" " + notAddress},
      {&I::ntp, "10.0.0.0001", "NTP IP \"10.0.0.0001\" " + notAddress},
      {&I::ntp, "10.0.0.01", ""},
      {&I::ntp, "0.0.0.0", ""},  // typed: no NTP server
      {&I::subnet, " ", "Subnet Mask \" \" is not a complete IPv4 address."},
      {&I::gateway, "-", "default gateway \"-\" is not a complete IPv4 address."},
      {&I::ntp, "nan", "NTP IP \"nan\" is not a complete IPv4 address."},
      {&I::sensorIp, "0.0.0.0", "Lidar IP \"0.0.0.0\" is not a host address: its first number must be from 1 to 223"},
      {&I::destIp, "255.255.255.255", "Dest IP \"255.255.255.255\" is not a host address"},
      {&I::destIp, "224.1.1.1", "Dest IP \"224.1.1.1\" is not a host address"},
      {&I::sensorIp, "223.255.255.254", ""},
      {&I::destIp, "10.0.0.256", "Dest IP \"10.0.0.256\" " + notAddress},
      {&I::ppsAngle, "1e308", "PPS angle (degrees) \"1e308\" is not a whole number from 0 to 360"},
      {&I::dataPort, "2,000", "Data Port \"2,000\" is not a whole number from 0 to 65535"},
      {&I::mac, "60-76-88-00-00-zz", "Mac \"60-76-88-00-00-zz\" is not a MAC address"},
      {&I::mac, "60-76-88-00-00-0", ""},  // another length: the default MAC
      {&I::dataPort, "65536", "Data Port \"65536\" is not a whole number from 0 to 65535"},
      {&I::devicePort, "-1", "device Port \"-1\" is not a whole number from 0 to 65535"},
      {&I::devicePort, "NaN", "device Port \"NaN\" is not a whole number"},
      {&I::dataPort, "1024", ""},  // the sensor keeps its port
      {&I::dataPort, "+2000", ""},
      {&I::interval, "65536", "Packet interval \"65536\" is not a whole number from 0 to 65535"},
      {&I::ppsAngle, "361", "PPS angle (degrees) \"361\" is not a whole number from 0 to 360"},
      {&I::ppsAngle, "-1", "PPS angle (degrees) \"-1\" is not a whole number from 0 to 360"},
      {&I::ppsAngle, "90.5", "PPS angle (degrees) \"90.5\" is not a whole number"},
      {&I::ppsAngle, "360", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    NetworkSettingsInput in = fullInput();
    in.*c.field = c.text;
    const auto refusal = networkSettingsRefusal(in, false);
    if (c.says.empty()) {
      EXPECT_EQ(refusal, std::nullopt);
    } else {
      ASSERT_TRUE(refusal.has_value());
      EXPECT_EQ(refusal->rfind(c.says, 0), 0u) << *refusal;
    }
  }
  NetworkSettingsInput in = emptyInput();
  EXPECT_EQ(networkSettingsRefusal(in, false), std::nullopt);
  in.ppsAngle = "999", in.ntp = "1.2";  // not in the short packet
  EXPECT_EQ(networkSettingsRefusal(in, true), std::nullopt);
  EXPECT_TRUE(networkSettingsRefusal(in, false).has_value());
}

// Sensor and destination are compared by the bytes they send: the same
// address written two ways, or a typed address equal to the one an empty
// field keeps, is the same address.
TEST(NetworkSettingsRulesTest, EqualAddressesByTheirBytes) {
  const StatusSnapshot s = longSnapshot();  // sensor 192.168.1.200, destination 192.168.1.102
  const auto same = [&](const std::string& sensor, const std::string& dest, bool shortFormat = false) {
    NetworkSettingsInput in = emptyInput();
    in.sensorIp = sensor, in.destIp = dest;
    return sameSensorAndDestination(in, shortFormat ? shortSnapshot() : s, shortFormat);
  };
  EXPECT_TRUE(same("10.0.0.1", "10.0.0.01"));
  EXPECT_TRUE(same("", ""));
  EXPECT_TRUE(same("", "192.168.1.200"));
  EXPECT_TRUE(same("192.168.1.102", ""));
  EXPECT_TRUE(same("192.168.001.102", "", true));
  EXPECT_FALSE(same("10.0.0.1", "10.0.0.2"));
  EXPECT_FALSE(same("", "192.168.1.102"));
  EXPECT_FALSE(same("10.0.0", "10.0.0.0"));  // half-typed: refused for that, not for this
  StatusSnapshot unset = s;
  std::fill(unset.begin() + 10, unset.begin() + 14, 0xFF);
  NetworkSettingsInput in = emptyInput();
  in.sensorIp = "", in.destIp = "192.168.1.200";  // where an unset sensor is
  EXPECT_TRUE(sameSensorAndDestination(in, unset, false));
}

// The fields whose sensor value the packet keeps, which the window's
// completion message lists: empty ones, ports of 1024 or below; the short
// packet carries only addresses and ports.
TEST(NetworkSettingsRulesTest, KeptSensorValues) {
  EXPECT_TRUE(keptSensorValues(fullInput(), false).empty());
  NetworkSettingsInput in = fullInput();
  in.dataPort = "1024", in.subnet = "", in.ppsAngle = "";
  EXPECT_EQ(keptSensorValues(in, false), (std::vector<std::string>{"Data Port", "Subnet Mask", "PPS angle (degrees)"}));
  EXPECT_EQ(keptSensorValues(in, true), (std::vector<std::string>{"Data Port"}));
  EXPECT_EQ(keptValuesText(keptSensorValues(emptyInput(), true)),
            "The sensor keeps its own value for: Lidar IP, Data Port, Dest IP, device Port.");
  EXPECT_EQ(keptValuesText({}), "");
}

// The session's readiness over a sequence of events: a raw status makes
// Refresh and Set ready, a Refresh takes the first (and the decoded status,
// whose choices it then fills), a send the second; refusals leave it ready.
TEST(NetworkSettingsSessionTest, ReadinessAndSetRefusals) {
  NetworkSettingsSession session;
  NetworkSettingsInput in = emptyInput();
  EXPECT_FALSE(session.refresh());
  // The same address is said first, as the window has always said it.
  EXPECT_EQ(session.set(in, kNow).refused, NetworkSettingsSession::SetRefusal::SameAddress);
  EXPECT_EQ(session.set(fullInput(), kNow).refused, NetworkSettingsSession::SetRefusal::NoStatus);

  const StatusSnapshot status = longSnapshot();
  session.takeRawStatus(status.data());
  EXPECT_TRUE(session.canRefresh() && session.canSend() && !session.decodedStatusReady());
  const auto refreshed = session.refresh();
  ASSERT_TRUE(refreshed);
  EXPECT_FALSE(refreshed->withStatus);
  EXPECT_EQ(refreshed->fields.sensorIp, "192.168.1.200");
  EXPECT_FALSE(session.refresh());  // until the next status packet
  applyRefresh(refreshed->fields, in);

  const std::pair<std::string, NetworkSettingsSession::SetRefusal> refusals[] = {
      {"192.168.1.102", NetworkSettingsSession::SetRefusal::SameAddress},
      {"192.168.1.", NetworkSettingsSession::SetRefusal::Field}};
  for (const auto& [sensorIp, refusal] : refusals) {
    NetworkSettingsInput typed = in;
    typed.sensorIp = sensorIp;
    const auto plan = session.set(typed, kNow);
    EXPECT_EQ(plan.refused, refusal) << sensorIp;
    EXPECT_TRUE(plan.packet.empty() && session.canSend()) << sensorIp;
  }

  in.ppsAngle.clear();
  const auto plan = session.set(in, kNow);
  ASSERT_EQ(plan.refused, NetworkSettingsSession::SetRefusal::None) << plan.refusal;
  EXPECT_EQ(plan.packet.size(), kNetworkSettingsLongSize);
  EXPECT_EQ(plan.destination, "192.168.1.200");
  EXPECT_EQ(plan.kept, keptValuesText(keptSensorValues(in, false)));
  EXPECT_FALSE(plan.kept.empty());
  session.sent();
  EXPECT_EQ(session.set(in, kNow).refused, NetworkSettingsSession::SetRefusal::NoStatus);
  session.takeRawStatus(status.data());
  EXPECT_TRUE(session.canSend());
}

// The tool's session reads the format from the packet and fills every
// choice; the short format gets the short packet.
TEST(NetworkSettingsSessionTest, FromSnapshot) {
  for (const bool shortLayout : {false, true}) {
    NetworkSettingsSession session =
        NetworkSettingsSession::fromSnapshot(shortLayout ? shortSnapshot() : longSnapshot());
    EXPECT_EQ(session.shortFormat(), shortLayout);
    const auto refreshed = session.refresh();
    ASSERT_TRUE(refreshed && refreshed->withStatus);
    NetworkSettingsInput in = emptyInput();
    applyRefresh(refreshed->fields, in);
    const auto plan = session.set(in, kNow);
    ASSERT_EQ(plan.refused, NetworkSettingsSession::SetRefusal::None) << plan.refusal;
    EXPECT_EQ(plan.packet.size(), shortLayout ? kNetworkSettingsShortSize : kNetworkSettingsLongSize);
  }
}
