#include "NetworkSettingsPacket.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "PacketFormat.h"
#include "SettingsFieldValues.h"
#include "StatusPacket.h"

namespace z540k {

namespace {

namespace at = network_settings_offset;

constexpr std::array<std::uint8_t, 6> kDefaultMac = {0x60, 0x76, 0x88, 0x00, 0x00, 0x00};

// A sensor that reports 255.255.255.255 as its own address is at its
// factory address.
constexpr std::array<std::uint8_t, 4> kUnsetSensorIp = {0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::array<std::uint8_t, 4> kFactorySensorIp = {192, 168, 1, 200};

constexpr long long kLowestPort = 1025;  // the bound 1024 itself is excluded
constexpr long long kHighestPort = 65535;
constexpr long long kHighestPpsAngle = 360;  // whole degrees

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The low 8 bits of the number atoi reads: leading white space, an optional
// sign, then decimal digits; no digits give 0.
std::uint8_t atoiLowByte(const std::string& part) {
  std::size_t i = 0;
  while (i < part.size() && (part[i] == ' ' || (part[i] >= '\t' && part[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < part.size() && (part[i] == '+' || part[i] == '-')) negative = part[i++] == '-';
  unsigned v = 0;
  for (; i < part.size() && isDigit(part[i]); ++i) v = (v * 10 + static_cast<unsigned>(part[i] - '0')) & 0xFF;
  return static_cast<std::uint8_t>(negative ? (256 - v) & 0xFF : v);
}

std::vector<std::string> splitAtDots(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) return parts;
    start = dot + 1;
  }
}

// An address field: the typed address, or `fallback` (4 bytes) when empty.
void storeAddress(std::uint8_t* p, const std::string& text, const std::uint8_t* fallback) {
  if (text.empty())
    std::copy(fallback, fallback + 4, p);
  else
    storeBytes(p, ipv4TextBytes(text));
}

// A port field: the typed port within 1025-65535, else the 2 bytes at
// `fallback`.
void storePort(std::uint8_t* p, const std::string& text, const std::uint8_t* fallback) {
  std::uint16_t port = 0;
  if (portTextValue(text, port))
    storeBE16(p, port);
  else
    std::copy(fallback, fallback + 2, p);
}

}  // namespace

std::array<std::uint8_t, 4> ipv4TextBytes(const std::string& text) {
  const auto parts = splitAtDots(text + ".");
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t i = 0; i < bytes.size() && i < parts.size(); ++i) bytes[i] = atoiLowByte(parts[i]);
  return bytes;
}

bool ipv4TextHasFourParts(const std::string& text) {
  const auto parts = splitAtDots(text);
  return parts.size() == 4 && std::none_of(parts.begin(), parts.end(), [](const std::string& p) { return p.empty(); });
}

bool macTextUsable(const std::string& text) {
  if (text.size() != 17) return false;
  for (std::size_t i = 0; i < 17; i += 3)
    if (hexValue(text[i]) < 0 || hexValue(text[i + 1]) < 0) return false;
  return true;
}

std::array<std::uint8_t, 6> macTextBytes(const std::string& text) {
  std::array<std::uint8_t, 6> bytes{};
  if (!macTextUsable(text)) return bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(hexValue(text[3 * i]) * 16 + hexValue(text[3 * i + 1]));
  return bytes;
}

bool portTextValue(const std::string& text, std::uint16_t& value) {
  long long v = 0;
  if (!readWholeNumber(text, v) || v < kLowestPort || v > kHighestPort) return false;
  value = static_cast<std::uint16_t>(v);
  return true;
}

// Anything unrecognised sends the middle speed.
std::uint16_t motorSpeedRpm(const std::string& choice) { return motorSpeedOf(choice, kMotorSpeedChoices[1].rpm); }

std::optional<std::uint16_t> intervalValue(const std::string& text) {
  long long v = 0;
  if (!readWholeNumber(text, v) || v < 0 || v > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(v);
}

std::optional<std::uint16_t> ppsAngleValue(const std::string& text) {
  long long v = 0;
  if (!readWholeNumber(text, v) || v < 0 || v > kHighestPpsAngle) return std::nullopt;
  return static_cast<std::uint16_t>(v * 100);
}

bool isShortStatusFormat(const StatusSnapshot& snapshot) {
  return snapshot[status_offset::kConfigurationFormat] == status_offset::kShortConfigurationFormat;
}

std::array<std::uint8_t, kNetworkSettingsLongSize> buildLongNetworkSettingsPacket(const NetworkSettingsInput& in,
                                                                                  StatusSnapshot& snapshot,
                                                                                  const LocalDateTime& now) {
  std::array<std::uint8_t, kNetworkSettingsLongSize> packet;
  std::copy(snapshot.begin(), snapshot.end(), packet.begin());
  std::uint8_t* p = packet.data();
  const std::uint8_t* s = snapshot.data();

  storeBytes(p, kNetworkSettingsHeader);
  storeBE16(p + at::kMotorSpeed, motorSpeedRpm(in.motorSpeed));
  if (std::equal(kUnsetSensorIp.begin(), kUnsetSensorIp.end(), s + at::kSensorIp))
    storeBytes(snapshot.data() + at::kSensorIp, kFactorySensorIp);
  storeAddress(p + at::kSensorIp, in.sensorIp, s + at::kSensorIp);
  storeAddress(p + at::kDestIp, in.destIp, s + at::kDestIp);

  if (in.mac.size() != 17)
    storeBytes(p + at::kMac, kDefaultMac);
  else if (macTextUsable(in.mac))
    storeBytes(p + at::kMac, macTextBytes(in.mac));
  else  // refused by the callers; never sends a half-read address
    std::copy(s + at::kMac, s + at::kMac + 6, p + at::kMac);

  storePort(p + at::kDataPort, in.dataPort, s + at::kDataPort);
  storePort(p + at::kDevicePort, in.devicePort, s + at::kDevicePort);

  // An emptied field keeps the sensor's server addresses: 0.0.0.0 is sent
  // only when typed.
  storeAddress(p + at::kNtpIp, in.ntp, s + at::kNtpIp);
  storeAddress(p + at::kGateway, in.gateway, s + at::kGateway);
  storeAddress(p + at::kSubnetMask, in.subnet, s + at::kSubnetMask);

  storeBE16(p + at::kMotorState, in.motorState == "Stop" ? 1 : 0);
  // A text the callers refuse keeps the snapshot's value: never a wrong one.
  const auto interval = in.interval.empty() ? std::optional<std::uint16_t>(0) : intervalValue(in.interval);
  if (interval)
    storeBE16(p + at::kInterval, *interval);
  else
    std::copy(s + at::kInterval, s + at::kInterval + 2, p + at::kInterval);
  storeBE16(p + at::kSensorState, in.sensorState == 1 ? 1 : 0);
  const auto ppsAngle = ppsAngleValue(in.ppsAngle);
  if (ppsAngle)
    storeBE16(p + at::kPpsAngle, *ppsAngle);
  else  // empty
    std::copy(s + at::kPpsAngle, s + at::kPpsAngle + 2, p + at::kPpsAngle);

  std::array<std::uint8_t, 6> time{};
  if (in.writeTime)
    time = {static_cast<std::uint8_t>(now.year - 2000), static_cast<std::uint8_t>(now.month),
            static_cast<std::uint8_t>(now.day),         static_cast<std::uint8_t>(now.hour),
            static_cast<std::uint8_t>(now.minute),      static_cast<std::uint8_t>(now.second)};
  storeBytes(p + at::kTime, time);
  storeBytes(p + at::kTail, kConfigurationTail);
  return packet;
}

std::array<std::uint8_t, kNetworkSettingsShortSize> buildShortNetworkSettingsPacket(const NetworkSettingsInput& in,
                                                                                    const StatusSnapshot& snapshot) {
  std::array<std::uint8_t, kNetworkSettingsShortSize> packet{};
  std::uint8_t* p = packet.data();
  const std::uint8_t* s = snapshot.data();
  storeBytes(p, kShortNetworkSettingsHeader);
  storeAddress(p + at::kShortSensorIp, in.sensorIp, s + status_offset::kShortSensorIp);
  storeAddress(p + at::kShortDestIp, in.destIp, s + status_offset::kShortDestIp);
  storePort(p + at::kShortDataPort, in.dataPort, s + status_offset::kShortDataPort);
  storePort(p + at::kShortDevicePort, in.devicePort, s + status_offset::kShortStatusPort);
  storeBE16(p + at::kShortMotorSpeed, motorSpeedRpm(in.motorSpeed));
  storeBytes(p + at::kShortTail, kShortNetworkSettingsTail);
  return packet;
}

std::string networkSettingsDestination(const StatusSnapshot& snapshot, bool shortFormat) {
  if (shortFormat) return dottedIpv4(snapshot.data() + status_offset::kShortSensorIp);
  const std::uint8_t* ip = snapshot.data() + status_offset::kSensorIp;
  if (std::equal(kUnsetSensorIp.begin(), kUnsetSensorIp.end(), ip)) return dottedIpv4(kFactorySensorIp.data());
  return dottedIpv4(ip);
}

std::string statusDumpText(const std::uint8_t* packet, std::size_t size) {
  return size == 0 ? std::string() : hexBytes(packet, size) + ' ';
}

bool parseStatusDump(const std::string& text, StatusSnapshot& out, std::string& error) {
  const auto isSeparator = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  // A word as the message shows it: at most 12 characters, printable ASCII.
  const auto shown = [](const std::string& word) {
    std::string s;
    for (std::size_t i = 0; i < word.size() && i < 12; ++i) {
      const auto c = static_cast<unsigned char>(word[i]);
      s += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return word.size() > 12 ? s + "..." : s;
  };
  StatusSnapshot bytes{};
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (isSeparator(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !isSeparator(text[end])) ++end;
    const std::string word = text.substr(i, end - i);
    if (word.size() != 2 || hexValue(word[0]) < 0 || hexValue(word[1]) < 0) {
      error = "byte " + std::to_string(count + 1) + " is \"" + shown(word) + "\", expected two hexadecimal digits";
      return false;
    }
    if (count == bytes.size()) {
      error = "more than " + std::to_string(bytes.size()) + " bytes, expected a status packet of exactly " +
              std::to_string(bytes.size());
      return false;
    }
    bytes[count++] = static_cast<std::uint8_t>(hexValue(word[0]) * 16 + hexValue(word[1]));
    i = end;
  }
  if (count != bytes.size()) {
    error = std::to_string(count) + " bytes, expected a status packet of exactly " + std::to_string(bytes.size());
    return false;
  }
  out = bytes;
  return true;
}

std::string motorSpeedChoice(unsigned rpm) {
  // Within 50 rpm of a choice.
  for (const MotorSpeedChoice& c : kMotorSpeedChoices)
    if (rpm + 50 >= c.rpm && rpm <= c.rpm + 50u) return c.text;
  return {};
}

}  // namespace z540k
