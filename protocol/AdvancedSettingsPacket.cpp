#include "AdvancedSettingsPacket.h"

#include <algorithm>

#include "PacketFormat.h"
#include "StatusPacket.h"

namespace z540k {

namespace {

namespace at = advanced_settings_offset;

// Default-restore contents (the sensor's factory network settings).
constexpr std::uint16_t kRestoreMotorSpeed = 300;
constexpr std::array<std::uint8_t, 4> kRestoreSensorIp = {192, 168, 1, 222};
constexpr std::array<std::uint8_t, 4> kRestoreHostIp = {192, 168, 1, 125};
constexpr std::uint16_t kRestoreDataPort = kDefaultDataPort;
constexpr std::uint16_t kRestoreStatusPort = kDefaultStatusPort;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string trimmed(const std::string& text) {
  const auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::size_t b = 0, e = text.size();
  while (b < e && isSpace(text[b])) ++b;
  while (e > b && isSpace(text[e - 1])) --e;
  return text.substr(b, e - b);
}

void storeTime(std::uint8_t* p, const LocalDateTime& now) {
  const int parts[6] = {now.year - 2000, now.month, now.day, now.hour, now.minute, now.second};
  for (int i = 0; i < 6; ++i) p[i] = static_cast<std::uint8_t>(parts[i]);
}

// The advanced window sends its last choice for any other text.
std::uint16_t advancedMotorSpeed(const std::string& choice) {
  return motorSpeedOf(choice, kMotorSpeedChoices.back().rpm);
}

// A threshold as the packet writes it: an empty text reads as 0 (the
// window's question guards it); an unset or refused one keeps the status.
std::uint16_t trailValue(AdvancedField field, const std::optional<std::string>& text, const StatusSnapshot& status,
                         std::size_t offset) {
  if (text && text->empty()) return 0;
  const auto v = text ? advancedFieldValue(field, *text) : std::nullopt;
  return v ? *v : loadBE16(&status[offset]);
}

}  // namespace

const FieldRule& advancedFieldRule(AdvancedField field) {
  static const FieldRule kRules[] = {
      {"High-reflection compensation (mm)", false, 0, 0, 65535},
      {"Horizontal offset angle (degrees)", false, 2, -32768, 32767},
      {"Measuring range (m)", false, 2, 0, 65535},
      {"Trailing-removal threshold", true, 0, 0, 65535},
      {"Trailing-removal distance (cm)", true, 0, 0, 65535},
      {"Encoder zero calibration (degrees)", false, 2, -32768, 32767},
  };
  return kRules[static_cast<int>(field)];
}

std::optional<std::uint16_t> advancedFieldValue(AdvancedField field, const std::string& text) {
  const auto v = fieldValue(advancedFieldRule(field), text);
  if (!v) return std::nullopt;
  return static_cast<std::uint16_t>(static_cast<unsigned long long>(*v) & 0xFFFF);  // two's complement
}

std::optional<std::string> advancedFieldRefusal(AdvancedField field, const std::string& text) {
  if (text.empty()) return std::nullopt;
  return fieldRefusal(advancedFieldRule(field), text);
}

std::optional<std::string> advancedSettingsRefusal(const AdvancedSettingsInput& in) {
  const std::pair<AdvancedField, const std::optional<std::string>*> fields[] = {
      {AdvancedField::HighReflect, &in.highReflect},
      {AdvancedField::DeviationAngle, &in.deviationAngle},
      {AdvancedField::Range, &in.range},
      {AdvancedField::TrailThreshold, &in.trailThreshold},
      {AdvancedField::TrailDistance, &in.trailDistance},
      {AdvancedField::EncoderZero, &in.encoderZero}};
  for (const auto& [field, text] : fields)
    if (*text)
      if (auto refusal = advancedFieldRefusal(field, **text)) return refusal;
  return std::nullopt;
}

std::vector<std::string> advancedKeptFields(const AdvancedSettingsInput& in) {
  std::vector<std::string> kept;
  for (const auto& [field, text] :
       {std::pair{AdvancedField::HighReflect, &in.highReflect}, std::pair{AdvancedField::EncoderZero, &in.encoderZero}})
    if (*text && (*text)->empty()) kept.emplace_back(advancedFieldRule(field).name);
  return kept;
}

AdvancedSettingsRefusal checkAdvancedSettings(const AdvancedSettingsInput& in) {
  if (in.deviationAngle && in.deviationAngle->empty()) return AdvancedSettingsRefusal::DeviationAngleEmpty;
  if (in.range && in.range->empty()) return AdvancedSettingsRefusal::RangeEmpty;
  return AdvancedSettingsRefusal::None;
}

bool trailingRemovalSendsZero(const AdvancedSettingsInput& in, const StatusSnapshot& status) {
  return trailValue(AdvancedField::TrailThreshold, in.trailThreshold, status, at::kTrailThreshold) == 0 ||
         trailValue(AdvancedField::TrailDistance, in.trailDistance, status, at::kTrailDistance) == 0;
}

std::array<std::uint8_t, kAdvancedSettingsSize> buildAdvancedSettingsPacket(const AdvancedSettingsInput& in,
                                                                            const StatusSnapshot& status,
                                                                            const StatusFrameAddresses& frame,
                                                                            const LocalDateTime& now) {
  std::array<std::uint8_t, kAdvancedSettingsSize> packet;
  std::copy(status.begin(), status.end(), packet.begin());
  std::uint8_t* p = packet.data();

  storeBytes(p, kAdvancedSettingsHeader);
  if (in.motorSpeed) storeBE16(p + at::kMotorSpeed, advancedMotorSpeed(*in.motorSpeed));
  storeBytes(p + at::kSensorIp, frame.sensorIp);
  storeBytes(p + at::kHostIp, frame.hostIp);
  const unsigned runState = in.runState ? *in.runState : loadBE16(&status[at::kRunState]);
  p[at::kRunState] = 0;
  p[at::kRunState + 1] = static_cast<std::uint8_t>(runState <= 1 ? runState : 2);
  storeTime(p + at::kTime, now);

  // A field left out, empty (where that keeps it) or refused keeps the
  // status bytes.
  const auto write = [&](AdvancedField field, const std::optional<std::string>& text, std::size_t offset) {
    if (!text) return;
    if (const auto v = advancedFieldValue(field, *text)) storeBE16(p + offset, *v);
  };
  write(AdvancedField::HighReflect, in.highReflect, at::kHighReflect);
  if (in.zeroDegreeIndex) p[at::kZeroDegree] = *in.zeroDegreeIndex == 0 ? 0 : 1;
  if (in.echoIndex) p[at::kEcho] = *in.echoIndex == 0 ? 0 : 1;
  write(AdvancedField::DeviationAngle, in.deviationAngle, at::kDeviationAngle);
  write(AdvancedField::Range, in.range, at::kRange);
  storeBE16(p + at::kTrailThreshold,
            trailValue(AdvancedField::TrailThreshold, in.trailThreshold, status, at::kTrailThreshold));
  storeBE16(p + at::kTrailDistance,
            trailValue(AdvancedField::TrailDistance, in.trailDistance, status, at::kTrailDistance));
  write(AdvancedField::EncoderZero, in.encoderZero, at::kEncoderZero);

  storeBytes(p + at::kMarker, kAdvancedSettingsMarker);
  storeBytes(p + at::kTail, kConfigurationTail);
  return packet;
}

std::array<std::uint8_t, kDefaultRestoreSize> buildDefaultRestorePacket(const LocalDateTime& now) {
  namespace net = network_settings_offset;
  std::array<std::uint8_t, kDefaultRestoreSize> packet{};
  std::uint8_t* p = packet.data();
  storeBytes(p, kNetworkSettingsHeader);
  storeBE16(p + net::kMotorSpeed, kRestoreMotorSpeed);
  storeBytes(p + net::kSensorIp, kRestoreSensorIp);
  storeBytes(p + net::kDestIp, kRestoreHostIp);
  storeBE16(p + net::kDataPort, kRestoreDataPort);
  storeBE16(p + net::kDevicePort, kRestoreStatusPort);
  storeTime(p + net::kTime, now);
  storeBytes(p + net::kTail, kConfigurationTail);
  return packet;
}

bool restoreDestination(const std::string& ipText, const std::string& portText, std::string& ip, std::uint16_t& port,
                        std::string& reason) {
  const std::string address = trimmed(ipText);
  const std::string portValue = trimmed(portText);
  // Four numbers 0-255 of one to three digits.
  std::uint8_t parts[4] = {};
  std::size_t count = 0, i = 0;
  bool wellFormed = true;
  while (wellFormed && count < 4) {
    std::size_t digits = 0;
    unsigned v = 0;
    while (i < address.size() && isDigit(address[i]) && digits < 4) v = v * 10 + (address[i++] - '0'), ++digits;
    wellFormed = digits >= 1 && digits <= 3 && v <= 255;
    parts[count++] = static_cast<std::uint8_t>(v);
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
  const bool digitsOnly =
      !portValue.empty() && portValue.size() <= 6 && std::all_of(portValue.begin(), portValue.end(), isDigit);
  if (digitsOnly) value = std::stoll(portValue);
  if (!digitsOnly || value < 1 || value > 65535) {
    reason = "the destination port \"" + portText + "\" is not a port from 1 to 65535";
    return false;
  }
  ip = dottedIpv4(parts);
  port = static_cast<std::uint16_t>(value);
  return true;
}

AdvancedSettingsView advancedSettingsView(const StatusSnapshot& s) {
  AdvancedSettingsView v;
  v.range = hundredthsText(loadBE16(&s[at::kRange]));
  v.trailThreshold = std::to_string(loadBE16(&s[at::kTrailThreshold]));
  v.trailDistance = std::to_string(loadBE16(&s[at::kTrailDistance]));
  v.highReflect = std::to_string(loadBE16(&s[at::kHighReflect]));
  if (s[at::kZeroDegree] <= 1) v.zeroDegreeIndex = s[at::kZeroDegree];
  if (s[at::kEcho] <= 1) v.echoIndex = s[at::kEcho];
  v.deviationAngle = hundredthsText(signed16(loadBE16(&s[at::kDeviationAngle])));
  v.encoderZero = hundredthsText(signed16(loadBE16(&s[at::kEncoderZero])));
  const std::uint8_t* b2 = &s[status_offset::kBoard2Version];
  v.board2Version = board2VersionText(b2);
  const std::uint8_t* b3 = &s[status_offset::kBoard3Version];
  v.board3Version = std::to_string(b3[0]) + std::to_string(b3[1]) + "." + std::to_string(b3[2]) + "." +
                    std::to_string(b3[3]) + "-V" + std::to_string(b3[4]) + "." + std::to_string(b3[5] >> 4) + "." +
                    std::to_string(b3[5] & 15);
  v.motorSpeed = motorSpeedChoice(loadBE16(&s[at::kMotorSpeed]));
  v.board2HighVoltage = std::to_string(loadBE16(&s[status_offset::kBoard2HighVoltage]));
  v.board2HighVoltageAdjust = std::to_string(signed16(loadBE16(&s[status_offset::kBoard2HighVoltageAdjust])));
  v.board2ThresholdAdjust = std::to_string(s[status_offset::kBoard2Threshold]);
  return v;
}

}  // namespace z540k
