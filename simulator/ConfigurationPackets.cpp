#include "ConfigurationPackets.h"

#include <algorithm>
#include <cstdio>

#include "PacketFormat.h"
#include "StatusPacket.h"

namespace z540k::sim {

namespace {

namespace at = status_offset;

constexpr std::size_t kHeaderBytesShown = 8;
constexpr unsigned kMaxPpsAngle = 36000;  // hundredths of a degree
constexpr std::size_t kHostTimeSize = 6;
constexpr std::uint8_t kMacGroupBit = 0x01;

// Bytes as the refusals show them: "0F F0".
std::string hexBytes(const std::uint8_t* p, std::size_t n) { return z540k::hexBytes(p, n, ' ', true); }

template <std::size_t N>
bool bytesEqual(const std::uint8_t* p, const std::array<std::uint8_t, N>& expected) {
  return std::equal(expected.begin(), expected.end(), p);
}

Ipv4Address ipAt(const std::uint8_t* p) { return Ipv4Address{p[0], p[1], p[2], p[3]}; }

std::string formatMac(const MacAddress& m) { return z540k::hexBytes(m.data(), m.size(), '-', true); }

std::uint32_t ipValue(const Ipv4Address& a) { return loadBE32(a.data()); }

// Checks return an empty text when the value is sane, else the reason.

// The sensor's own address: a unicast host address (first octet 1..223).
std::string checkSensorAddress(const Ipv4Address& a) {
  if (a[0] == 0 || a[0] > 223) return "sensor address " + formatIpv4(a) + " is not a unicast host address";
  return {};
}

// Where the sensor sends: unicast, multicast or the broadcast address, never
// 0.x.x.x nor the reserved 240..254 range.
std::string checkDestination(const Ipv4Address& a) {
  const bool broadcast = ipValue(a) == 0xFFFFFFFFu;
  if (a[0] == 0 || (a[0] >= 240 && !broadcast)) return "destination address " + formatIpv4(a) + " cannot receive";
  return {};
}

// A mask is contiguous when no 0 bit precedes a 1 bit.
std::string checkSubnetMask(const Ipv4Address& a) {
  const std::uint32_t m = ipValue(a);
  if ((m | (m - 1)) != 0xFFFFFFFFu) return "subnet mask " + formatIpv4(a) + " is not contiguous";
  return {};
}

std::string checkPort(const char* what, std::uint16_t port) {
  if (port == 0) return std::string(what) + " 0 is out of 1..65535";
  return {};
}

std::string checkMotorSpeed(std::uint16_t rpm) {
  if (!isMotorSpeed(rpm)) return "motor speed " + std::to_string(rpm) + " rpm, expected 300, 600 or 1200";
  return {};
}

std::string checkChoice(const char* what, unsigned value, unsigned highest) {
  if (value > highest)
    return std::string(what) + " " + std::to_string(value) + " is out of 0.." + std::to_string(highest);
  return {};
}

// Six zero bytes carry no time; anything else must be a real date and time.
std::string readHostTime(const std::uint8_t* p, std::optional<GpsDateTime>& time) {
  if (std::all_of(p, p + kHostTimeSize, [](std::uint8_t b) { return b == 0; })) return {};
  const GpsDateTime t{p[0], p[1], p[2], p[3], p[4], p[5]};
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59)
    return "time " + hexBytes(p, kHostTimeSize) + " is not a date and time";
  time = t;
  return {};
}

ParsedConfiguration refused(std::string why) {
  ParsedConfiguration r;
  r.error = std::move(why);
  return r;
}

ParsedConfiguration accepted(ConfigurationRequest request) {
  ParsedConfiguration r;
  r.ok = true;
  r.request = std::move(request);
  return r;
}

// The default-restore packet: a long network packet whose every byte after
// the header is fixed, but for the host's time at 52..57.
bool isDefaultRestore(const std::uint8_t* p) {
  std::array<std::uint8_t, kLongConfigurationSize> expected{};
  expected[at::kMotorSpeed] = static_cast<std::uint8_t>(kRestoreMotorSpeed >> 8);
  expected[at::kMotorSpeed + 1] = static_cast<std::uint8_t>(kRestoreMotorSpeed & 0xFF);
  std::copy(kRestoreSensorIp.begin(), kRestoreSensorIp.end(), expected.begin() + at::kSensorIp);
  std::copy(kRestoreDestIp.begin(), kRestoreDestIp.end(), expected.begin() + at::kDestIp);
  expected[at::kDataPort] = static_cast<std::uint8_t>(kRestoreDataPort >> 8);
  expected[at::kDataPort + 1] = static_cast<std::uint8_t>(kRestoreDataPort & 0xFF);
  expected[at::kStatusPort] = static_cast<std::uint8_t>(kRestoreStatusPort >> 8);
  expected[at::kStatusPort + 1] = static_cast<std::uint8_t>(kRestoreStatusPort & 0xFF);
  const std::size_t fixedStart = kNetworkSettingsHeader.size();
  return std::equal(p + fixedStart, p + at::kUtcTime, expected.begin() + fixedStart) &&
         std::equal(p + at::kUtcTime + kHostTimeSize, p + kLongTailOffset,
                    expected.begin() + at::kUtcTime + kHostTimeSize);
}

// The long network settings packet (and the default restore, which is one).
ParsedConfiguration parseLongNetworkSettings(const std::uint8_t* p) {
  ConfigurationRequest r;
  r.kind = isDefaultRestore(p) ? ConfigurationKind::DefaultRestore : ConfigurationKind::NetworkSettings;
  std::string why;

  const std::uint16_t speed = loadBE16(p + at::kMotorSpeed);
  if (!(why = checkMotorSpeed(speed)).empty()) return refused(why);
  r.motorSpeed = speed;

  const Ipv4Address sensorIp = ipAt(p + at::kSensorIp);
  const Ipv4Address destIp = ipAt(p + at::kDestIp);
  if (!(why = checkSensorAddress(sensorIp)).empty()) return refused(why);
  if (!(why = checkDestination(destIp)).empty()) return refused(why);
  if (sensorIp == destIp) return refused("sensor and destination address are both " + formatIpv4(sensorIp));
  r.sensorIp = sensorIp;
  r.destIp = destIp;

  // The host sends zeros when it has no MAC to give: the sensor keeps its own.
  MacAddress mac;
  std::copy(p + at::kMac, p + at::kMac + mac.size(), mac.begin());
  if (mac[0] & kMacGroupBit) return refused("MAC address " + formatMac(mac) + " is a group address");
  if (std::any_of(mac.begin(), mac.end(), [](std::uint8_t b) { return b != 0; })) r.mac = mac;

  const std::uint16_t dataPort = loadBE16(p + at::kDataPort);
  const std::uint16_t statusPort = loadBE16(p + at::kStatusPort);
  if (!(why = checkPort("data port", dataPort)).empty()) return refused(why);
  if (!(why = checkPort("status port", statusPort)).empty()) return refused(why);
  r.dataPort = dataPort;
  r.statusPort = statusPort;

  const Ipv4Address mask = ipAt(p + at::kSubnetMask);
  if (!(why = checkSubnetMask(mask)).empty()) return refused(why);
  r.ntpIp = ipAt(p + at::kNtpIp);
  r.gateway = ipAt(p + at::kGateway);
  r.subnetMask = mask;

  const std::uint16_t runState = loadBE16(p + at::kRunState);
  const std::uint16_t sensorState = loadBE16(p + at::kSensorState);
  const std::uint16_t ppsAngle = loadBE16(p + at::kPpsSetAngle);
  if (!(why = checkChoice("run state", runState, kRunStateStopped)).empty()) return refused(why);
  if (!(why = checkChoice("sensor state", sensorState, kSensorStateSleep)).empty()) return refused(why);
  if (ppsAngle > kMaxPpsAngle) return refused("PPS angle " + std::to_string(ppsAngle) + " is above 36000 hundredths");
  r.runState = runState;
  r.sensorState = sensorState;
  r.ppsSetAngle = ppsAngle;
  r.interval = loadBE16(p + at::kInterval);

  if (!(why = readHostTime(p + at::kUtcTime, r.hostTime)).empty()) return refused(why);
  return accepted(r);
}

ParsedConfiguration parseShortNetworkSettings(const std::uint8_t* p) {
  namespace shortAt = network_settings_offset;
  ConfigurationRequest r;
  r.kind = ConfigurationKind::ShortNetworkSettings;
  std::string why;

  const std::uint16_t speed = loadBE16(p + shortAt::kShortMotorSpeed);
  if (!(why = checkMotorSpeed(speed)).empty()) return refused(why);
  r.motorSpeed = speed;

  const Ipv4Address sensorIp = ipAt(p + shortAt::kShortSensorIp);
  const Ipv4Address destIp = ipAt(p + shortAt::kShortDestIp);
  if (!(why = checkSensorAddress(sensorIp)).empty()) return refused(why);
  if (!(why = checkDestination(destIp)).empty()) return refused(why);
  if (sensorIp == destIp) return refused("sensor and destination address are both " + formatIpv4(sensorIp));
  r.sensorIp = sensorIp;
  r.destIp = destIp;

  const std::uint16_t dataPort = loadBE16(p + shortAt::kShortDataPort);
  const std::uint16_t statusPort = loadBE16(p + shortAt::kShortDevicePort);
  if (!(why = checkPort("data port", dataPort)).empty()) return refused(why);
  if (!(why = checkPort("status port", statusPort)).empty()) return refused(why);
  r.dataPort = dataPort;
  r.statusPort = statusPort;
  return accepted(r);
}

ParsedConfiguration parseAdvancedSettings(const std::uint8_t* p) {
  ConfigurationRequest r;
  r.kind = ConfigurationKind::AdvancedSettings;
  std::string why;

  if (!bytesEqual(p + kAdvancedMarkerOffset, kAdvancedMarker))
    return refused("marker at 160 is " + hexBytes(p + kAdvancedMarkerOffset, kAdvancedMarker.size()) +
                   ", expected 55 AA AA 55 33 33 11 11");

  const std::uint16_t speed = loadBE16(p + at::kMotorSpeed);
  if (!(why = checkMotorSpeed(speed)).empty()) return refused(why);
  r.motorSpeed = speed;

  // Bytes 10..17 echo the addresses of the status frame the host captured;
  // the advanced packet does not move the sensor.
  const std::uint16_t runState = loadBE16(p + at::kRunState);
  if (!(why = checkChoice("run state", runState, kRunStateUnknown)).empty()) return refused(why);
  if (runState != kRunStateUnknown) r.runState = runState;

  if (!(why = readHostTime(p + at::kUtcTime, r.hostTime)).empty()) return refused(why);

  const std::uint16_t range = loadBE16(p + at::kMeasuringRange);
  if (range == 0) return refused("measuring range 0 would blind the sensor");
  r.measuringRange = range;
  r.highReflection = loadBE16(p + kHighReflectionOffset);
  r.trailingThreshold = loadBE16(p + at::kTrailingThreshold);
  r.trailingDistance = loadBE16(p + at::kTrailingDistance);

  const std::uint8_t zero = p[at::kZeroDegreePosition];
  const std::uint8_t echo = p[at::kEchoMode];
  if (!(why = checkChoice("zero-degree position", zero, 1)).empty()) return refused(why);
  if (!(why = checkChoice("echo mode", echo, kEchoModeDual)).empty()) return refused(why);
  r.zeroDegreePosition = zero;
  r.echoMode = echo;
  r.horizontalOffset = static_cast<std::int16_t>(loadBE16(p + at::kHorizontalOffset));
  r.encoderZero = static_cast<std::int16_t>(loadBE16(p + at::kEncoderZero));
  return accepted(r);
}

// Collects "name old -> new" for every field that changes.
class ChangeList {
 public:
  template <typename T, typename Format>
  void set(const char* name, const std::optional<T>& wanted, T& field, Format format) {
    if (!wanted || *wanted == field) return;
    add(std::string(name) + " " + format(field) + " -> " + format(*wanted));
    field = *wanted;
  }
  std::string text() const { return text_.empty() ? "nothing changed" : text_; }

 private:
  void add(const std::string& change) {
    if (!text_.empty()) text_ += ", ";
    text_ += change;
  }
  std::string text_;
};

}  // namespace

const char* describe(ConfigurationKind kind) {
  switch (kind) {
    case ConfigurationKind::NetworkSettings:
      return "network settings";
    case ConfigurationKind::ShortNetworkSettings:
      return "short network settings";
    case ConfigurationKind::AdvancedSettings:
      return "advanced settings";
    case ConfigurationKind::DefaultRestore:
      return "default restore";
  }
  return "configuration";
}

ParsedConfiguration parseConfigurationPacket(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return refused("empty datagram");
  const std::size_t commonHeader = kNetworkSettingsHeader.size() - 2;
  const bool longHeader = size >= commonHeader && std::equal(data, data + commonHeader, kNetworkSettingsHeader.begin());
  const bool shortHeader = size >= kShortNetworkSettingsHeader.size() && bytesEqual(data, kShortNetworkSettingsHeader);
  const std::string sizeText = std::to_string(size) + " bytes";

  if (size == kLongConfigurationSize && longHeader) {
    if (!bytesEqual(data + kLongTailOffset, kLongTail))
      return refused("tail at 1204 is " + hexBytes(data + kLongTailOffset, kLongTail.size()) + ", expected 0F F0");
    if (bytesEqual(data, kNetworkSettingsHeader)) return parseLongNetworkSettings(data);
    if (bytesEqual(data, kAdvancedSettingsHeader)) return parseAdvancedSettings(data);
    return refused("packet kind " + hexBytes(data + kLongHeaderKindOffset, 2) +
                   " at bytes 6-7, expected AA AA (network) or BB BB (advanced)");
  }
  if (size == kShortNetworkSettingsSize && shortHeader) {
    if (!bytesEqual(data + network_settings_offset::kShortTail, kShortNetworkSettingsTail))
      return refused("tail at 32 is " +
                     hexBytes(data + network_settings_offset::kShortTail, kShortNetworkSettingsTail.size()) +
                     ", expected A5 5A 0F F0");
    return parseShortNetworkSettings(data);
  }
  if (longHeader) return refused("long configuration packet of " + sizeText + ", expected 1206");
  if (shortHeader) return refused("short network settings packet of " + sizeText + ", expected 36");
  return refused("not a configuration packet: " + sizeText + " starting " +
                 hexBytes(data, std::min(size, kHeaderBytesShown)));
}

std::string applyConfiguration(const ConfigurationRequest& r, SensorState& s) {
  const auto number = [](auto v) { return std::to_string(v); };
  const auto address = [](const Ipv4Address& a) { return formatIpv4(a); };
  const auto hundredths = [](auto v) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", v / 100.0);
    return std::string(text);
  };
  const auto runState = [](std::uint16_t v) { return std::string(v == kRunStateRunning ? "running" : "stopped"); };
  const auto sensorState = [](std::uint16_t v) { return std::string(v == kSensorStateRunning ? "running" : "sleep"); };
  const auto echo = [](std::uint8_t v) { return std::string(v == kEchoModeDual ? "dual" : "single"); };

  ChangeList changes;
  changes.set("sensor address", r.sensorIp, s.sensorIp, address);
  changes.set("destination", r.destIp, s.destIp, address);
  changes.set("MAC", r.mac, s.mac, formatMac);
  changes.set("data port", r.dataPort, s.dataPort, number);
  changes.set("status port", r.statusPort, s.statusPort, number);
  changes.set("NTP server", r.ntpIp, s.ntpIp, address);
  changes.set("gateway", r.gateway, s.gateway, address);
  changes.set("subnet mask", r.subnetMask, s.subnetMask, address);
  changes.set("motor speed (rpm)", r.motorSpeed, s.motorSpeed, number);
  changes.set("motor", r.runState, s.runState, runState);
  changes.set("packet interval", r.interval, s.interval, number);
  changes.set("sensor state", r.sensorState, s.sensorState, sensorState);
  changes.set("PPS angle", r.ppsSetAngle, s.ppsSetAngle, hundredths);
  changes.set("high-reflection compensation (mm)", r.highReflection, s.highReflection, number);
  changes.set("measuring range (m)", r.measuringRange, s.measuringRange, hundredths);
  changes.set("trailing threshold", r.trailingThreshold, s.trailingThreshold, number);
  changes.set("trailing distance (cm)", r.trailingDistance, s.trailingDistance, number);
  changes.set("zero-degree position", r.zeroDegreePosition, s.zeroDegreePosition, number);
  changes.set("echo mode", r.echoMode, s.echoMode, echo);
  changes.set("horizontal offset", r.horizontalOffset, s.horizontalOffset, hundredths);
  changes.set("encoder zero", r.encoderZero, s.encoderZero, hundredths);
  return changes.text();
}

}  // namespace z540k::sim
