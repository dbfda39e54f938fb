#include "NetworkSettingsRules.h"

#include <algorithm>
#include <cstdio>

#include "PacketFormat.h"
#include "SettingsFieldValues.h"
#include "StatusPacket.h"

namespace z540k {

const char* const kSameAddressMessage =
    "The Lidar local IP cannot be set to the same as the destination IP.Please reset it !";

namespace {

namespace at = status_offset;

// The PPS deviation within which the angle counts as locked, hundredths.
constexpr long long kPpsLockedWithin = 1500;

std::vector<std::string> splitAtDots(const std::string& text, bool keepEmpty) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (keepEmpty || !part.empty()) parts.push_back(part);
    if (dot == std::string::npos) return parts;
    start = dot + 1;
  }
}

// An address part as the window reads it: its decimal value, 0 for anything
// that is not a number.
long long partValue(const std::string& part) {
  long long v = 0;
  return readWholeNumber(part, v) ? v : 0;
}

// A motor speed of 100 rpm or less is a motor that does not turn: shown as 0.
int shownMotorSpeed(long speed) { return speed <= 100 ? 0 : static_cast<int>(speed); }

// Six address bytes as "AA-BB-CC-DD-EE-FF".
template <typename ByteAt>
std::string macText(ByteAt byteAt) {
  std::uint8_t bytes[6];
  for (std::size_t i = 0; i < 6; ++i) bytes[i] = static_cast<std::uint8_t>(byteAt(i));
  return hexBytes(bytes, 6, '-');
}

std::string twoDecimals(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

int valueAt(const std::vector<int>& values, std::size_t i) { return i < values.size() ? values[i] : 0; }

const char* fieldName(NetworkField field) {
  switch (field) {
    case NetworkField::SensorIp:
      return "Lidar IP";
    case NetworkField::DestIp:
      return "Dest IP";
    case NetworkField::Subnet:
      return "Subnet Mask";
    case NetworkField::Gateway:
      return "default gateway";
    case NetworkField::Ntp:
      return "NTP IP";
    case NetworkField::Mac:
      return "Mac";
    case NetworkField::DataPort:
      return "Data Port";
    case NetworkField::DevicePort:
      return "device Port";
    case NetworkField::Interval:
      return "Packet interval";
    case NetworkField::PpsAngle:
      return "PPS angle (degrees)";
  }
  return "";
}

// `hostOnly`: the address names one host (the sensor, the host it sends to):
// its first number 1-223, so neither 0.0.0.0, a multicast group nor
// 255.255.255.255.
std::optional<std::string> addressRefusal(const char* name, const std::string& text, bool hostOnly) {
  const std::string quoted = std::string(name) + " \"" + quotedFieldText(text) + "\"";
  if (!ipv4TextHasFourParts(text))
    return quoted +
           " is not a complete IPv4 address. Please enter four numbers separated by dots, or leave the "
           "field empty !";
  for (const std::string& part : splitAtDots(text, true)) {
    long long v = 0;
    if (part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos || !readWholeNumber(part, v) ||
        v > 255)
      return quoted + " is not an IPv4 address: each of its four numbers must be from 0 to 255 !";
  }
  if (hostOnly && firstOctetCheck(text).check != AddressCheck::Valid)
    return quoted + " is not a host address: its first number must be from 1 to 223 !";
  return std::nullopt;
}

// The four bytes an address field sends: the typed address, or the snapshot's
// when empty; nothing when the text is not an address.
std::optional<std::array<std::uint8_t, 4>> sentAddress(NetworkField field, const std::string& text,
                                                       const std::uint8_t* fallback) {
  if (text.empty()) return std::array<std::uint8_t, 4>{fallback[0], fallback[1], fallback[2], fallback[3]};
  if (networkFieldRefusal(field, text)) return std::nullopt;
  return ipv4TextBytes(text);
}

}  // namespace

NetworkStatusDisplay networkStatusDisplay(const SettingData& s, const std::vector<int>& values) {
  NetworkStatusDisplay d;
  const std::int32_t speed = s.motorSpeed;
  d.motorSpeed = shownMotorSpeed(speed);
  const std::uint8_t* t = s.utcTime;
  d.utcTime = std::to_string(t[0] + 2000) + "/" + std::to_string(t[1]) + "/" + std::to_string(t[2]) + " " +
              std::to_string(t[3]) + ":" + std::to_string(t[4]) + ":" + std::to_string(t[5]);
  d.ppsSetAngle = hundredthsFixedText(loadBE16(s.ppsSetAngle));
  d.longitude = std::string(s.longitude, sizeof s.longitude) + s.longitudeHemisphere;
  d.latitude = std::string(s.latitude, sizeof s.latitude) + s.latitudeHemisphere;
  d.mac = macText([&](std::size_t i) { return valueAt(values, i); });
  const int deviation = signed16(static_cast<std::uint16_t>(valueAt(values, 6)));
  d.ppsAngleLocked = deviation >= -kPpsLockedWithin && deviation <= kPpsLockedWithin ? "0" : "1";
  d.ppsDeviation = hundredthsText(deviation);
  d.plate2Temperature =
      twoDecimals(static_cast<std::int16_t>(static_cast<std::uint16_t>(loadBE16(s.plate2Temperature) - 50)));
  d.lvdsIndex = s.lvdsSetting[1] % 2;
  d.gpsState = std::to_string(s.gpsState);
  d.ppsState = std::to_string(s.ppsState);
  d.highTemperaturePause = std::to_string(s.highTemperaturePause);
  const unsigned stop = loadBE16(s.machineStopTemperature);
  d.machineStopTemperature = twoDecimals(stop == 0 ? 0.0 : stop / 4096.0 * 330.0 - 50.0);
  for (const std::uint8_t digit : s.plate3Voltage) d.plate3Voltage += std::to_string(digit);
  d.shortFormat = s.board3Version[at::kConfigurationFormat - at::kBoard3Version] == at::kShortConfigurationFormat;

  const std::uint8_t* b2 = s.board2Version;  // packet 1196, 1197
  const std::uint8_t* b3 = s.board3Version;  // packet 1198..1203
  const auto n = [](unsigned v) { return std::to_string(v); };
  d.versions.push_back(board2VersionText(b2));
  d.versions.push_back(n(b3[0]) + n(b3[1]) + "." + n(b3[2]) + "." + n(b3[3]) + "-V." + n(b3[4]) + "." + n(b3[5] >> 4u) +
                       "." + n(b3[5] & 15u));
  d.versions.emplace_back(reinterpret_cast<const char*>(s.versionText), sizeof s.versionText);
  for (int i = 0; i < 5; ++i) d.versions.push_back("V" + n(s.versionPairs[2 * i]) + "." + n(s.versionPairs[2 * i + 1]));
  return d;
}

NetworkSettingsRefresh refreshedSettings(const StatusSnapshot& s, bool shortFormat) {
  NetworkSettingsRefresh r;
  r.shortFormat = shortFormat;
  const auto be16 = [&](std::size_t offset) { return std::to_string(loadBE16(&s[offset])); };
  if (shortFormat) {
    r.sensorIp = dottedIpv4(&s[at::kShortSensorIp]);
    r.destIp = dottedIpv4(&s[at::kShortDestIp]);
    r.dataPort = be16(at::kShortDataPort);
    r.devicePort = be16(at::kShortStatusPort);
    r.motorSpeed = loadBE16(&s[at::kShortMotorSpeed]);
  } else {
    r.sensorIp = dottedIpv4(&s[at::kSensorIp]);
    r.destIp = dottedIpv4(&s[at::kDestIp]);
    r.hasServerAddresses = s[0] == kStatusHeader[0] && s[1] == kStatusHeader[1];
    if (r.hasServerAddresses) {
      r.ntp = dottedIpv4(&s[at::kNtpIp]);
      r.gateway = dottedIpv4(&s[at::kGateway]);
      r.subnet = dottedIpv4(&s[at::kSubnetMask]);
    }
    r.dataPort = be16(at::kDataPort);
    r.devicePort = be16(at::kStatusPort);
    r.interval = be16(at::kInterval);
    r.mac = macText([&](std::size_t i) { return s[at::kMac + i]; });
    const unsigned speed = loadBE16(&s[at::kMotorSpeed]);
    r.motorSpeed = shownMotorSpeed(speed);
    const unsigned runState = loadBE16(&s[at::kRunState]);
    r.motorState = runState == 0 ? "Run" : runState == 1 ? "Stop" : "";
    const unsigned sensorState = loadBE16(&s[at::kSensorState]);
    r.sensorState = sensorState <= 1 ? static_cast<int>(sensorState) : -1;
  }
  r.motorSpeedChoice = motorSpeedChoice(static_cast<unsigned>(r.motorSpeed));
  return r;
}

void applyRefresh(const NetworkSettingsRefresh& r, NetworkSettingsInput& f) {
  f.sensorIp = r.sensorIp;
  f.destIp = r.destIp;
  if (r.hasServerAddresses) f.ntp = r.ntp, f.gateway = r.gateway, f.subnet = r.subnet;
  f.dataPort = r.dataPort;
  f.devicePort = r.devicePort;
  if (!r.shortFormat) f.interval = r.interval, f.mac = r.mac;
  if (!r.motorSpeedChoice.empty()) f.motorSpeed = r.motorSpeedChoice;
  if (!r.motorState.empty()) f.motorState = r.motorState;
  if (r.sensorState >= 0) f.sensorState = r.sensorState;
}

std::optional<std::string> subnetMaskFill(const std::string& destIp) {
  if (destIp.empty()) return std::nullopt;
  const auto parts = splitAtDots(destIp, true);
  if (parts.size() != 4) return std::string();
  const long long f = partValue(parts[0]);
  if (f >= 1 && f <= 126) return std::string("255.0.0.0");
  if (f >= 128 && f <= 191) return std::string("255.255.0.0");
  if (f >= 192 && f <= 223) return std::string("255.255.255.0");
  return std::string();
}

std::optional<std::string> gatewayFill(const std::string& destIp, const std::string& subnet) {
  const auto ip = splitAtDots(destIp, true), mask = splitAtDots(subnet, true);
  if (ip.size() != 4 || mask.size() != 4) return std::nullopt;
  std::string gateway;
  for (std::size_t i = 0; i < 3; ++i) gateway += std::to_string(partValue(ip[i]) & partValue(mask[i])) + ".";
  return gateway + "1";
}

AddressCheck subnetMaskCheck(const std::string& mask) {
  const auto parts = splitAtDots(mask, true);
  if (mask.empty() || parts.size() != 4) return AddressCheck::Unknown;
  std::uint32_t m = 0;
  for (const std::string& part : parts) m = (m << 8) + static_cast<std::uint32_t>(partValue(part));
  return (m | (m - 1)) == 0xFFFFFFFFu ? AddressCheck::Valid : AddressCheck::Invalid;
}

AddressCheck gatewayCheck(const std::string& gateway, const std::string& destIp, const std::string& subnet) {
  if (gateway.empty() || destIp.empty() || subnet.empty()) return AddressCheck::Unknown;
  const auto g = splitAtDots(gateway, false), i = splitAtDots(destIp, false), m = splitAtDots(subnet, false);
  // A half-typed address has no subnet to compare with.
  if (g.size() < 4 || i.size() < 4 || m.size() < 4) return AddressCheck::Unknown;
  for (std::size_t k = 0; k < 4; ++k) {
    const long long mask = partValue(m[k]);
    if ((partValue(i[k]) & mask) != (partValue(g[k]) & mask)) return AddressCheck::Invalid;
  }
  return AddressCheck::Valid;
}

FirstOctet firstOctetCheck(const std::string& address) {
  FirstOctet r;
  const auto parts = splitAtDots(address, true);
  // A half-typed address cannot be judged (nor rebuilt).
  if (address.empty() || parts.size() != 4) return r;
  r.value = static_cast<int>(std::min(partValue(parts[0]), 1LL << 30));
  if (r.value >= 1 && r.value <= 223) {
    r.check = AddressCheck::Valid;
    return r;
  }
  r.check = AddressCheck::Invalid;
  r.replacement = "223." + parts[1] + "." + parts[2] + "." + parts[3];
  return r;
}

std::optional<std::string> networkFieldRefusal(NetworkField field, const std::string& text) {
  if (text.empty()) return std::nullopt;
  const char* name = fieldName(field);
  switch (field) {
    case NetworkField::SensorIp:
    case NetworkField::DestIp:
      return addressRefusal(name, text, true);
    case NetworkField::Subnet:
    case NetworkField::Gateway:
    case NetworkField::Ntp:
      return addressRefusal(name, text, false);
    case NetworkField::Mac:
      // Another length sends the default MAC, as the sensor's tools always did.
      if (text.size() != 17 || macTextUsable(text)) return std::nullopt;
      return std::string(name) + " \"" + quotedFieldText(text) +
             "\" is not a MAC address: each of its six pairs must be two hexadecimal digits !";
    case NetworkField::DataPort:
    case NetworkField::DevicePort:
    case NetworkField::Interval:
      return fieldRefusal(FieldRule{name, true, 0, 0, 65535}, text);
    case NetworkField::PpsAngle:
      return fieldRefusal(FieldRule{name, true, 0, 0, 360}, text);
  }
  return std::nullopt;
}

std::optional<std::string> networkSettingsRefusal(const NetworkSettingsInput& in, bool shortFormat) {
  std::vector<std::pair<NetworkField, const std::string*>> fields = {{NetworkField::SensorIp, &in.sensorIp},
                                                                     {NetworkField::DataPort, &in.dataPort},
                                                                     {NetworkField::DestIp, &in.destIp},
                                                                     {NetworkField::DevicePort, &in.devicePort}};
  if (!shortFormat)
    fields.insert(fields.end(), {{NetworkField::Subnet, &in.subnet},
                                 {NetworkField::Gateway, &in.gateway},
                                 {NetworkField::Mac, &in.mac},
                                 {NetworkField::Interval, &in.interval},
                                 {NetworkField::PpsAngle, &in.ppsAngle},
                                 {NetworkField::Ntp, &in.ntp}});
  for (const auto& [field, text] : fields)
    if (auto refusal = networkFieldRefusal(field, *text)) return refusal;
  return std::nullopt;
}

std::vector<std::string> keptSensorValues(const NetworkSettingsInput& in, bool shortFormat) {
  std::vector<std::string> kept;
  const auto keep = [&](NetworkField field, bool kept_) {
    if (kept_) kept.emplace_back(fieldName(field));
  };
  std::uint16_t port = 0;
  keep(NetworkField::SensorIp, in.sensorIp.empty());
  keep(NetworkField::DataPort, !portTextValue(in.dataPort, port));
  keep(NetworkField::DestIp, in.destIp.empty());
  keep(NetworkField::DevicePort, !portTextValue(in.devicePort, port));
  if (shortFormat) return kept;
  keep(NetworkField::Subnet, in.subnet.empty());
  keep(NetworkField::Gateway, in.gateway.empty());
  keep(NetworkField::PpsAngle, in.ppsAngle.empty());
  keep(NetworkField::Ntp, in.ntp.empty());
  return kept;
}

bool sameSensorAndDestination(const NetworkSettingsInput& in, const StatusSnapshot& snapshot, bool shortFormat) {
  if (in.sensorIp == in.destIp) return true;
  // An empty sensor IP keeps the address the packet goes to (the factory
  // address for a sensor reporting 255.255.255.255), an empty destination
  // the snapshot's.
  const auto sensorKept = ipv4TextBytes(networkSettingsDestination(snapshot, shortFormat));
  const auto sensor = sentAddress(NetworkField::SensorIp, in.sensorIp, sensorKept.data());
  const auto dest =
      sentAddress(NetworkField::DestIp, in.destIp, &snapshot[shortFormat ? at::kShortDestIp : at::kDestIp]);
  return sensor && dest && *sensor == *dest;
}

}  // namespace z540k
