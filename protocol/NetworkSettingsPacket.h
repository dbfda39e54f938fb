// The network settings packet that writes the sensor's addresses, ports and
// motor settings, in its two formats, built from the settings window's fields
// (as typed) and the last raw status packet; the destination it goes to; the
// field encodings; and the status dump text ("Save set file", the tool's
// snapshots).
//
// Pure functions: the local time is an input, and the only state touched is
// the caller's snapshot (the long build's 255.255.255.255 replacement).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace z540k {

constexpr std::size_t kNetworkSettingsLongSize = 1206;
constexpr std::size_t kNetworkSettingsShortSize = 36;
// Every network settings packet goes to this port, whatever ports it sets.
constexpr std::uint16_t kConfigurationPort = 2368;

// The settings window's fields, as typed. Empty texts are empty fields.
struct NetworkSettingsInput {
  std::string sensorIp, destIp, subnet, gateway, ntp, mac, dataPort, devicePort, interval, ppsAngle;
  std::string motorSpeed;  // " 5 HZ", " 10 HZ", " 20 HZ" (anything else: 600 rpm)
  std::string motorState;  // "Run" or "Stop" (anything but "Stop" runs)
  int sensorState = 0;     // 0 "Running", 1 "Sleep"
  bool writeTime = true;   // " Yes" / " No"
};

// The PC's local time written into the long packet (year in full, e.g. 2024).
struct LocalDateTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// The last raw status packet, 1206 bytes.
using StatusSnapshot = std::array<std::uint8_t, 1206>;

// The frames of the two formats (the sensor's parser checks them too).
constexpr std::array<std::uint8_t, 8> kNetworkSettingsHeader = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
constexpr std::array<std::uint8_t, 2> kConfigurationTail = {0x0F, 0xF0};  // at 1204 of every long packet
constexpr std::array<std::uint8_t, 9> kShortNetworkSettingsHeader = {0xFF, 0x00, 0x00, 0xA2, 0xFF,
                                                                     0xFF, 0x00, 0x00, 0xA3};
constexpr std::array<std::uint8_t, 4> kShortNetworkSettingsTail = {0xA5, 0x5A, 0x0F, 0xF0};

// Offsets of the fields in the long packet (the long status layout's places).
namespace network_settings_offset {
constexpr std::size_t kMotorSpeed = 8;
constexpr std::size_t kSensorIp = 10;
constexpr std::size_t kDestIp = 14;
constexpr std::size_t kMac = 18;
constexpr std::size_t kDataPort = 24;
constexpr std::size_t kDevicePort = 26;
constexpr std::size_t kNtpIp = 28;
constexpr std::size_t kGateway = 32;
constexpr std::size_t kSubnetMask = 36;
constexpr std::size_t kMotorState = 40;
constexpr std::size_t kInterval = 42;
constexpr std::size_t kSensorState = 44;
constexpr std::size_t kPpsAngle = 48;
constexpr std::size_t kTime = 52;
constexpr std::size_t kTail = 1204;
// Short packet.
constexpr std::size_t kShortSensorIp = 9;
constexpr std::size_t kShortDataPort = 17;
constexpr std::size_t kShortDestIp = 19;
constexpr std::size_t kShortDevicePort = 23;
constexpr std::size_t kShortMotorSpeed = 29;
constexpr std::size_t kShortTail = 32;
}  // namespace network_settings_offset

// The long format: a copy of the snapshot with the settings written over it.
// A snapshot whose sensor IP (bytes 10-13) is 255.255.255.255 has it replaced
// by 192.168.1.200 in `snapshot` itself first, so the sensor IP fallback and
// networkSettingsDestination() both see the replacement.
// Empty address fields keep the snapshot's (never 0.0.0.0 unless typed:
// an emptied subnet mask, gateway or NTP field would otherwise wipe the
// sensor's). A MAC that is not 17 characters sends
// 60 76 88 00 00 00; one of 17 that macTextUsable() rejects keeps the
// snapshot's MAC. A port text that is not a number within 1025-65535 keeps
// the snapshot's port. An interval or PPS angle text that intervalValue() or
// ppsAngleValue() cannot read keeps the snapshot's value. Callers refuse what
// networkSettingsRefusal() (NetworkSettingsRules.h) rejects before they build
// (the build itself never fails).
std::array<std::uint8_t, kNetworkSettingsLongSize> buildLongNetworkSettingsPacket(const NetworkSettingsInput& input,
                                                                                  StatusSnapshot& snapshot,
                                                                                  const LocalDateTime& now);

// The short format: 36 bytes from the sensor IP, destination IP, the two
// ports and the motor speed. Empty fields (and ports out of range) keep the
// values the short status layout reports: sensor IP at snapshot bytes 8-11,
// data port 12-13, destination IP 14-17, device port 18-19.
std::array<std::uint8_t, kNetworkSettingsShortSize> buildShortNetworkSettingsPacket(const NetworkSettingsInput& input,
                                                                                    const StatusSnapshot& snapshot);

// The motor speed entry (" 5 HZ", " 10 HZ", " 20 HZ") that a speed the
// sensor reports falls in: within 50 rpm of 300, 600 or 1200. Empty for any
// other speed.
std::string motorSpeedChoice(unsigned rpm);

// Where the packet goes: the sensor's current address from the snapshot (not
// the new one entered), "A.B.C.D". Long format: bytes 10-13 (after the long
// build's replacement); short format: bytes 8-11.
std::string networkSettingsDestination(const StatusSnapshot& snapshot, bool shortFormat);

// True when snapshot byte 1202 is 3: the sensor reports the short status
// layout and takes the short packet.
bool isShortStatusFormat(const StatusSnapshot& snapshot);

// --- Field encodings and the checks that guard them ---

// Dotted text to 4 bytes: the first four parts between dots, each read as
// atoi reads (leading decimal digits, else 0), low 8 bits; missing parts give
// 0. "192.168.1.200" gives C0 A8 01 C8.
std::array<std::uint8_t, 4> ipv4TextBytes(const std::string& text);

// True when the text cuts at "." into exactly four non-empty parts. An
// address field that is not empty and fails this (a text the window's
// validator still holds half typed, as "192.168.1" or "192.168.1.") is
// refused by the callers.
bool ipv4TextHasFourParts(const std::string& text);

// True for a 17-character text whose six pairs at 0, 3, 6, 9, 12, 15 are two
// hexadecimal digits each (any separators). A 17-character text that fails
// is refused by the callers; other lengths send the default MAC.
bool macTextUsable(const std::string& text);

// The 6 bytes of a usable MAC text ("60-76-88-00-00-01" gives 60 76 88 00 00 01).
std::array<std::uint8_t, 6> macTextBytes(const std::string& text);

// A port text as the build takes it: true, with the value, when the text is
// a whole number (an optional sign, then decimal digits: "+2000" is 2000, as
// the port field's validator takes it) whose value v satisfies
// 1024 < v < 65536; false when the snapshot's port is kept instead (empty,
// out of range or not a number).
bool portTextValue(const std::string& text, std::uint16_t& value);

// Motor speed choice text to revolutions per minute: " 5 HZ" 300, " 10 HZ"
// 600, " 20 HZ" 1200, anything else 600.
std::uint16_t motorSpeedRpm(const std::string& choice);

// The 16-bit values of the interval and PPS angle fields: a whole number
// 0-65535; whole degrees 0-360 times 100 (360 gives 36000). Nothing for any
// other text (empty included).
std::optional<std::uint16_t> intervalValue(const std::string& text);
std::optional<std::uint16_t> ppsAngleValue(const std::string& text);

// --- The status dump format ---

// Each byte as two lower-case hexadecimal digits followed by one space, on a
// single line without a line break (1206 bytes give 3618 characters).
std::string statusDumpText(const std::uint8_t* packet, std::size_t size);

// Reads a dump of exactly 1206 bytes: pairs of hexadecimal digits (either
// case) separated by spaces, tabs or line breaks. Anything else, a byte
// split across a separator, or another byte count is refused with a reason
// in `error` and leaves `out` unchanged.
bool parseStatusDump(const std::string& text, StatusSnapshot& out, std::string& error);

}  // namespace z540k
