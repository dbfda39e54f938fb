#include "AdvancedSettingsPacket.h"

#include "PacketFormat.h"

#include <algorithm>
#include <cstdio>

namespace z540k {

namespace {

namespace at = advanced_settings_offset;

// Default-restore contents (the sensor's factory network settings).
constexpr std::uint16_t kRestoreMotorSpeed = 300;
constexpr std::array<std::uint8_t, 4> kRestoreSensorIp = {192, 168, 1, 222};
constexpr std::array<std::uint8_t, 4> kRestoreHostIp = {192, 168, 1, 125};
constexpr std::uint16_t kRestoreDataPort = 2368;
constexpr std::uint16_t kRestoreStatusPort = 2369;

// Status places the view reads that the packet does not write.
constexpr std::size_t kBoard2HighVoltage = 99;
constexpr std::size_t kBoard2HighVoltageAdjust = 101;
constexpr std::size_t kBoard2ThresholdAdjust = 103;
constexpr std::size_t kBoard2Version = 1196;
constexpr std::size_t kBoard3Version = 1198;

// Beyond any 16-bit field: a reading this large encodes as 0 whatever is
// added to it.
constexpr long long kHuge = 1LL << 40;
// Signed fields shown by Refresh: above this, 65535 is subtracted.
constexpr unsigned kLargestPositive = 32767;
constexpr long long kNegativeOffset = 65535;

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string trimmed(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && isSpace(text[b])) ++b;
  while (e > b && isSpace(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// A decimal number text times 10^shift, truncated toward zero, computed from
// its digits exactly (magnitudes beyond kHuge saturate there). False when the
// text is not a number.
bool scaledDecimal(const std::string& raw, int shift, long long& out) {
  const std::string t = trimmed(raw);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  std::string digits;
  std::size_t intDigits = 0;
  while (i < t.size() && isDigit(t[i])) digits += t[i++], ++intDigits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && isDigit(t[i])) digits += t[i++];
  }
  if (digits.empty()) return false;
  long long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negativeExponent = t[i++] == '-';
    if (i == t.size() || !isDigit(t[i])) return false;
    while (i < t.size() && isDigit(t[i])) exponent = std::min(exponent * 10 + (t[i++] - '0'), 100000LL);
    if (negativeExponent) exponent = -exponent;
  }
  if (i != t.size()) return false;
  // The integer part ends this many digits into `digits`.
  const long long end = static_cast<long long>(intDigits) + exponent + shift;
  long long v = 0;
  for (long long k = 0; k < end; ++k) {
    const int d = k < static_cast<long long>(digits.size()) ? digits[static_cast<std::size_t>(k)] - '0' : 0;
    v = v * 10 + d;
    if (v >= kHuge) {
      v = kHuge;
      break;
    }
  }
  out = negative ? -v : v;
  return true;
}

// A base-10 integer as the window reads it: white space around it, an
// optional sign, digits only; a value beyond a 32-bit int, or any other
// text, reads as 0.
long long integerReading(const std::string& raw) {
  const std::string t = trimmed(raw);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i == t.size()) return 0;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (!isDigit(t[i])) return 0;
    v = v * 10 + (t[i] - '0');
    if (v > 2147483648LL) return 0;
  }
  if (negative) v = -v;
  return v > 2147483647LL ? 0 : v;
}

long long decimalReading(const std::string& text, int shift) {
  long long v = 0;
  return scaledDecimal(text, shift, v) ? v : 0;
}


void store16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v & 0xFF);
}

template <std::size_t N>
void storeBytes(std::uint8_t* p, const std::array<std::uint8_t, N>& bytes) {
  std::copy(bytes.begin(), bytes.end(), p);
}

void storeTime(std::uint8_t* p, const LocalDateTime& now) {
  const int parts[6] = {now.year - 2000, now.month, now.day, now.hour, now.minute, now.second};
  for (int i = 0; i < 6; ++i) p[i] = static_cast<std::uint8_t>(parts[i]);
}

std::uint16_t advancedMotorSpeed(const std::string& choice) {
  if (choice == " 5 HZ") return 300;
  if (choice == " 10 HZ") return 600;
  return 1200;
}

std::string shortNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

long long signedReading(unsigned v) { return v > kLargestPositive ? static_cast<long long>(v) - kNegativeOffset : v; }

}  // namespace

std::uint16_t field16(long long value) {
  if (value <= -65536 || value >= 65536) return 0;
  return static_cast<std::uint16_t>(static_cast<unsigned long long>(value) & 0xFFFF);
}

std::uint16_t highReflectField(const std::string& text) { return field16(decimalReading(text, 0)); }
std::uint16_t deviationAngleField(const std::string& text) { return field16(decimalReading(text, 2)); }
std::uint16_t rangeField(const std::string& text) { return field16(integerReading(text) * 100); }
std::uint16_t trailField(const std::string& text) { return field16(integerReading(text)); }

std::uint16_t encoderZeroField(const std::string& text) {
  long long v = decimalReading(text, 2);
  if (v < 0) v += kNegativeOffset;
  return field16(v);
}

AdvancedSettingsRefusal checkAdvancedSettings(const AdvancedSettingsInput& in) {
  if (in.deviationAngle && in.deviationAngle->empty()) return AdvancedSettingsRefusal::DeviationAngleEmpty;
  if (in.range && in.range->empty()) return AdvancedSettingsRefusal::RangeEmpty;
  return AdvancedSettingsRefusal::None;
}

bool trailingRemovalSendsZero(const AdvancedSettingsInput& in, const StatusSnapshot& status) {
  const std::uint16_t threshold = in.trailThreshold ? trailField(*in.trailThreshold) : loadBE16(&status[at::kTrailThreshold]);
  const std::uint16_t distance = in.trailDistance ? trailField(*in.trailDistance) : loadBE16(&status[at::kTrailDistance]);
  return threshold == 0 || distance == 0;
}

std::array<std::uint8_t, kAdvancedSettingsSize> buildAdvancedSettingsPacket(const AdvancedSettingsInput& in,
                                                                            const StatusSnapshot& status,
                                                                            const StatusFrameAddresses& frame,
                                                                            const LocalDateTime& now) {
  std::array<std::uint8_t, kAdvancedSettingsSize> packet;
  std::copy(status.begin(), status.end(), packet.begin());
  std::uint8_t* p = packet.data();

  storeBytes(p, kAdvancedSettingsHeader);
  if (in.motorSpeed) store16(p + at::kMotorSpeed, advancedMotorSpeed(*in.motorSpeed));
  storeBytes(p + at::kSensorIp, frame.sensorIp);
  storeBytes(p + at::kHostIp, frame.hostIp);
  const unsigned runState = in.runState ? *in.runState : loadBE16(&status[at::kRunState]);
  p[at::kRunState] = 0;
  p[at::kRunState + 1] = static_cast<std::uint8_t>(runState <= 1 ? runState : 2);
  storeTime(p + at::kTime, now);

  if (in.highReflect && !in.highReflect->empty()) store16(p + at::kHighReflect, highReflectField(*in.highReflect));
  if (in.zeroDegreeIndex) p[at::kZeroDegree] = *in.zeroDegreeIndex == 0 ? 0 : 1;
  if (in.echoIndex) p[at::kEcho] = *in.echoIndex == 0 ? 0 : 1;
  if (in.deviationAngle && !in.deviationAngle->empty())
    store16(p + at::kDeviationAngle, deviationAngleField(*in.deviationAngle));
  if (in.range && !in.range->empty()) store16(p + at::kRange, rangeField(*in.range));
  if (in.trailThreshold) store16(p + at::kTrailThreshold, trailField(*in.trailThreshold));
  if (in.trailDistance) store16(p + at::kTrailDistance, trailField(*in.trailDistance));
  if (in.encoderZero && !in.encoderZero->empty()) store16(p + at::kEncoderZero, encoderZeroField(*in.encoderZero));

  storeBytes(p + at::kMarker, kAdvancedSettingsMarker);
  storeBytes(p + at::kTail, kConfigurationTail);
  return packet;
}

std::array<std::uint8_t, kDefaultRestoreSize> buildDefaultRestorePacket(const LocalDateTime& now) {
  namespace net = network_settings_offset;
  std::array<std::uint8_t, kDefaultRestoreSize> packet{};
  std::uint8_t* p = packet.data();
  storeBytes(p, kNetworkSettingsHeader);
  store16(p + net::kMotorSpeed, kRestoreMotorSpeed);
  storeBytes(p + net::kSensorIp, kRestoreSensorIp);
  storeBytes(p + net::kDestIp, kRestoreHostIp);
  store16(p + net::kDataPort, kRestoreDataPort);
  store16(p + net::kDevicePort, kRestoreStatusPort);
  storeTime(p + net::kTime, now);
  storeBytes(p + net::kTail, kConfigurationTail);
  return packet;
}

bool restoreDestination(const std::string& ipText, const std::string& portText, std::string& ip,
                        std::uint16_t& port, std::string& reason) {
  const std::string address = trimmed(ipText);
  const std::string portValue = trimmed(portText);
  // Four numbers 0-255 of one to three digits.
  unsigned parts[4] = {};
  std::size_t count = 0, i = 0;
  bool wellFormed = true;
  while (wellFormed && count < 4) {
    std::size_t digits = 0;
    unsigned v = 0;
    while (i < address.size() && isDigit(address[i]) && digits < 4) v = v * 10 + (address[i++] - '0'), ++digits;
    wellFormed = digits >= 1 && digits <= 3 && v <= 255;
    parts[count++] = v;
    if (count < 4) wellFormed = wellFormed && i < address.size() && address[i++] == '.';
  }
  wellFormed = wellFormed && i == address.size();
  if (!wellFormed) {
    reason = "the destination address \"" + ipText + "\" is not an IPv4 address (four numbers from 0 to 255)";
    return false;
  }
  if ((parts[0] | parts[1] | parts[2] | parts[3]) == 0) {
    reason = "the destination address 0.0.0.0 names no sensor";
    return false;
  }
  long long value = 0;
  const bool digitsOnly = !portValue.empty() && portValue.size() <= 6 &&
                          std::all_of(portValue.begin(), portValue.end(), isDigit);
  if (digitsOnly) value = std::stoll(portValue);
  if (!digitsOnly || value < 1 || value > 65535) {
    reason = "the destination port \"" + portText + "\" is not a port from 1 to 65535";
    return false;
  }
  ip = std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
       std::to_string(parts[3]);
  port = static_cast<std::uint16_t>(value);
  return true;
}

AdvancedSettingsView advancedSettingsView(const StatusSnapshot& s) {
  AdvancedSettingsView v;
  v.range = shortNumber(loadBE16(&s[at::kRange]) / 100.0);
  v.trailThreshold = std::to_string(loadBE16(&s[at::kTrailThreshold]));
  v.trailDistance = std::to_string(loadBE16(&s[at::kTrailDistance]));
  v.highReflect = std::to_string(loadBE16(&s[at::kHighReflect]));
  if (s[at::kZeroDegree] <= 1) v.zeroDegreeIndex = s[at::kZeroDegree];
  if (s[at::kEcho] <= 1) v.echoIndex = s[at::kEcho];
  v.deviationAngle = shortNumber(static_cast<double>(signedReading(loadBE16(&s[at::kDeviationAngle]))) / 100.0);
  v.encoderZero = shortNumber(static_cast<double>(signedReading(loadBE16(&s[at::kEncoderZero]))) / 100.0);
  const std::uint8_t* b2 = &s[kBoard2Version];
  v.board2Version = "V" + std::to_string(b2[0]) + "." + std::to_string(b2[1] >> 4) + "." + std::to_string(b2[1] & 15);
  const std::uint8_t* b3 = &s[kBoard3Version];
  v.board3Version = std::to_string(b3[0]) + std::to_string(b3[1]) + "." + std::to_string(b3[2]) + "." +
                    std::to_string(b3[3]) + "-V" + std::to_string(b3[4]) + "." + std::to_string(b3[5] >> 4) + "." +
                    std::to_string(b3[5] & 15);
  v.motorSpeed = motorSpeedChoice(loadBE16(&s[at::kMotorSpeed]));
  v.board2HighVoltage = std::to_string(loadBE16(&s[kBoard2HighVoltage]));
  v.board2HighVoltageAdjust = std::to_string(signedReading(loadBE16(&s[kBoard2HighVoltageAdjust])));
  v.board2ThresholdAdjust = std::to_string(s[kBoard2ThresholdAdjust]);
  return v;
}

}  // namespace z540k
