#include "StatusText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>

#include "AdvancedSettingsPacket.h"
#include "NetworkSettingsRules.h"
#include "PacketFormat.h"
#include "StatusPacket.h"

namespace z540k::cli {

const char* const kStatusValueNames[kStatusValueCount] = {"mac0",
                                                          "mac1",
                                                          "mac2",
                                                          "mac3",
                                                          "mac4",
                                                          "mac5",
                                                          "ppsDeviation",
                                                          "dataPort",
                                                          "statusPort",
                                                          "measuringRange",
                                                          "trailingThreshold",
                                                          "trailingDistance",
                                                          "zeroDegreePosition",
                                                          "echoMode",
                                                          "horizontalOffset",
                                                          "encoderZero",
                                                          "board2HighVoltage",
                                                          "board2HighVoltageAdjust",
                                                          "board2Threshold"};

namespace {

const unsigned char* fieldBytes(const SettingData& s, const StatusField& f) {
  return reinterpret_cast<const unsigned char*>(&s) + f.recordOffset;
}

std::int32_t int32Field(const SettingData& s, const StatusField& f) {
  std::int32_t v;
  std::memcpy(&v, fieldBytes(s, f), sizeof v);
  return v;
}

// Text of a character field: printable ASCII as is, anything else escaped.
std::string quotedText(const unsigned char* p, std::size_t n) {
  std::string out = "\"";
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\') {
      out += static_cast<char>(p[i]);
    } else {
      out += "\\x" + hexBytes(p + i, 1);
    }
  }
  return out + "\"";
}

std::string fieldAsText(const SettingData& s, const StatusField& f) {
  const unsigned char* p = fieldBytes(s, f);
  if (f.kind == StatusFieldKind::BigEndian16) return std::to_string(int32Field(s, f));
  if (f.kind == StatusFieldKind::Characters) return quotedText(p, f.size);
  if (std::strcmp(f.name, "destIp") == 0) return dottedIpv4(p);
  if (f.size == 1) return std::to_string(p[0]);
  std::string text = hexBytes(p, f.size);
  if (f.size == 2) text += "  (" + std::to_string(p[0] * 256 + p[1]) + ")";
  return text;
}

}  // namespace

std::string statusAsText(const SettingData& status, const std::vector<int>& values) {
  std::string out;
  char line[256];
  for (const StatusField& f : kSettingDataFields) {
    std::snprintf(line, sizeof line, "  %-24s %s\n", f.name, fieldAsText(status, f).c_str());
    out += line;
  }
  if (values.size() == kStatusValueCount) {
    std::uint8_t mac[6];
    for (std::size_t i = 0; i < 6; ++i) mac[i] = static_cast<std::uint8_t>(values[i]);
    std::snprintf(line, sizeof line, "  %-24s %s\n", "mac", hexBytes(mac, 6, '-').c_str());
    out += line;
  }
  for (std::size_t i = 6; i < values.size() && i < kStatusValueCount; ++i) {
    std::snprintf(line, sizeof line, "  %-24s %d\n", kStatusValueNames[i], values[i]);
    out += line;
  }
  return out;
}

namespace {

// A JSON string of Latin-1 bytes (a character field's trailing zeros left
// out): printable ASCII as is, anything else as \u00XX.
std::string jsonString(const unsigned char* p, std::size_t n) {
  std::string out = "\"";
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\') {
      out += static_cast<char>(p[i]);
    } else {
      out += "\\u00" + hexBytes(p + i, 1);
    }
  }
  return out + "\"";
}

std::string jsonString(const std::string& text) {
  return jsonString(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// A text that is a number in JSON's own form ("1200", "-0.01") is that
// number; no text (a choice left unchanged) is null; anything else a string,
// each byte one Latin-1 character as the windows read them.
std::string typedJson(const std::string& text) {
  static const std::regex number("-?(0|[1-9][0-9]*)(\\.[0-9]+)?");
  return text.empty() ? "null" : std::regex_match(text, number) ? text : jsonString(text);
}

std::string characters(const unsigned char* p, std::size_t n) {
  while (n > 0 && p[n - 1] == 0) --n;
  return jsonString(p, n);
}

// The sender's address and port, when known, as the first keys.
std::string sourceJson(const std::string& sourceIp, std::uint16_t sourcePort) {
  if (sourceIp.empty()) return "";
  return "\"sourceIp\":\"" + sourceIp + "\",\"sourcePort\":" + std::to_string(sourcePort) + ",";
}

// A field's value: numbers as numbers (two bytes big-endian), characters and
// the address and time as text, other byte runs as arrays of numbers.
std::string fieldAsJson(const SettingData& status, const StatusField& f, const NetworkStatusDisplay& shown) {
  const unsigned char* p = fieldBytes(status, f);
  if (f.kind == StatusFieldKind::BigEndian16) return std::to_string(int32Field(status, f));
  if (f.kind == StatusFieldKind::Characters) return characters(p, f.size);
  if (std::strcmp(f.name, "destIp") == 0) return "\"" + dottedIpv4(p) + "\"";
  if (std::strcmp(f.name, "utcTime") == 0) return jsonString(shown.utcTime);
  if (f.size == 1) return std::to_string(p[0]);
  if (f.size == 2) return std::to_string(p[0] * 256 + p[1]);
  std::string out = "[";
  for (std::size_t i = 0; i < f.size; ++i) out += (i ? "," : "") + std::to_string(p[i]);
  return out + "]";
}

}  // namespace

std::string statusAsJson(const SettingData& status, const std::vector<int>& values, const std::string& sourceIp,
                         std::uint16_t sourcePort) {
  const NetworkStatusDisplay shown = networkStatusDisplay(status, values);
  std::string out = "{" + sourceJson(sourceIp, sourcePort);
  bool first = true;
  for (const StatusField& f : kSettingDataFields) {
    out += first ? "\"" : ",\"";
    first = false;
    out += f.name;
    out += "\":" + fieldAsJson(status, f, shown);
  }
  // The version texts as the About dialog shows them.
  static const char* const kVersionNames[] = {"fpga2",     "fpga3",         "text",         "hardware2",
                                              "hardware3", "emissionBoard", "receiveBoard", "structure"};
  out += ",\"versions\":{";
  for (std::size_t i = 0; i < shown.versions.size() && i < 8; ++i) {
    if (i) out += ',';
    out +=
        "\"" + std::string(kVersionNames[i]) + "\":" +
        (i == 2 ? characters(reinterpret_cast<const unsigned char*>(shown.versions[i].data()), shown.versions[i].size())
                : jsonString(shown.versions[i]));
  }
  out += "},\"values\":{";
  if (values.size() == kStatusValueCount) out += "\"mac\":\"" + shown.mac + "\"";
  for (std::size_t i = 6; i < values.size() && i < kStatusValueCount; ++i)
    out += ",\"" + std::string(kStatusValueNames[i]) + "\":" + std::to_string(values[i]);
  out += "}}";
  return out;
}

namespace {

std::string jsonAddress(const std::array<std::uint8_t, 4>& ip) { return "\"" + dottedIpv4(ip.data()) + "\""; }

}  // namespace

std::string shortStatusAsText(const ShortStatus& status) {
  std::string out;
  char line[128];
  std::snprintf(line, sizeof line, "  %-24s %s\n", "layout", "short (byte 1202 = 3)");
  out += line;
  std::snprintf(line, sizeof line, "  %-24s %s\n", "sensorIp", dottedIpv4(status.sensorIp.data()).c_str());
  out += line;
  std::snprintf(line, sizeof line, "  %-24s %u\n", "dataPort", unsigned{status.dataPort});
  out += line;
  std::snprintf(line, sizeof line, "  %-24s %s\n", "destIp", dottedIpv4(status.destIp.data()).c_str());
  out += line;
  std::snprintf(line, sizeof line, "  %-24s %u\n", "devicePort", unsigned{status.devicePort});
  out += line;
  std::snprintf(line, sizeof line, "  %-24s %u\n", "motorSpeed", unsigned{status.motorSpeed});
  out += line;
  return out;
}

std::string shortStatusAsJson(const ShortStatus& status, const std::string& sourceIp, std::uint16_t sourcePort) {
  return "{" + sourceJson(sourceIp, sourcePort) + "\"layout\":\"short\",\"sensorIp\":" + jsonAddress(status.sensorIp) +
         ",\"dataPort\":" + std::to_string(status.dataPort) + ",\"destIp\":" + jsonAddress(status.destIp) +
         ",\"devicePort\":" + std::to_string(status.devicePort) +
         ",\"motorSpeed\":" + std::to_string(status.motorSpeed) + "}";
}

namespace {

// The short layout's Refresh texts.
NamedTexts shortLayoutTexts(const NetworkSettingsRefresh& r) {
  return {{"layout", "short"},
          {"sensorIp", r.sensorIp},
          {"destIp", r.destIp},
          {"dataPort", r.dataPort},
          {"devicePort", r.devicePort},
          {"motorSpeedRead", std::to_string(r.motorSpeed)},
          {"motorSpeedChoice", r.motorSpeedChoice}};
}

// The live values the settings window shows from a long status packet.
NamedTexts liveValueTexts(const StatusSnapshot& snapshot) {
  SettingData status{};
  std::vector<int> values;
  decodeStatusPacket(snapshot.data(), snapshot.size(), status, values);
  const NetworkStatusDisplay d = networkStatusDisplay(status, values);
  NamedTexts v = {{"layout", "long"},
                  {"motorSpeedRead", std::to_string(d.motorSpeed)},
                  {"utcTime", d.utcTime},
                  {"ppsSetAngle", d.ppsSetAngle},
                  {"longitude", d.longitude},
                  {"latitude", d.latitude},
                  {"mac", d.mac},
                  {"ppsAngleLocked", d.ppsAngleLocked},
                  {"ppsDeviation", d.ppsDeviation},
                  {"plate2Temperature", d.plate2Temperature},
                  {"lvds", std::to_string(d.lvdsIndex)},
                  {"gpsState", d.gpsState},
                  {"ppsState", d.ppsState},
                  {"highTemperaturePause", d.highTemperaturePause},
                  {"machineStopTemperature", d.machineStopTemperature},
                  {"plate3Voltage", d.plate3Voltage}};
  static const char* const kVersionNames[] = {"fpga2Version",        "fpga3Version",     "versionText",
                                              "hardware2Version",    "hardware3Version", "emissionBoardVersion",
                                              "receiveBoardVersion", "structureVersion"};
  for (std::size_t i = 0; i < d.versions.size() && i < 8; ++i) v.emplace_back(kVersionNames[i], d.versions[i]);
  return v;
}

// The long layout's Refresh texts of the settings window, appended to `v`.
void appendRefreshTexts(const NetworkSettingsRefresh& r, NamedTexts& v) {
  v.insert(v.end(), {{"sensorIp", r.sensorIp},
                     {"destIp", r.destIp},
                     {"ntp", r.ntp},
                     {"gateway", r.gateway},
                     {"subnet", r.subnet},
                     {"dataPort", r.dataPort},
                     {"devicePort", r.devicePort},
                     {"interval", r.interval},
                     {"motorSpeedChoice", r.motorSpeedChoice},
                     {"motorState", r.motorState},
                     {"sensorState", r.sensorState < 0    ? ""
                                     : r.sensorState == 0 ? "Running"
                                                          : "Sleep"}});
}

// The factory values an advanced settings packet sets, as the advanced
// window's Refresh shows them, appended to `v`.
void appendAdvancedValueTexts(const AdvancedSettingsView& a, NamedTexts& v) {
  const auto index = [](int i) { return i < 0 ? std::string() : std::to_string(i); };
  v.insert(v.end(), {{"range", a.range},
                     {"trailingThreshold", a.trailThreshold},
                     {"trailingDistance", a.trailDistance},
                     {"highReflect", a.highReflect},
                     {"zeroDegreePosition", index(a.zeroDegreeIndex)},
                     {"echoMode", index(a.echoIndex)},
                     {"horizontalOffset", a.deviationAngle},
                     {"encoderZero", a.encoderZero}});
}

// The advanced window's Refresh texts, appended to `v`.
void appendAdvancedTexts(const StatusSnapshot& snapshot, NamedTexts& v) {
  const AdvancedSettingsView a = advancedSettingsView(snapshot);
  appendAdvancedValueTexts(a, v);
  v.insert(v.end(), {{"board2Version", a.board2Version},
                     {"board3Version", a.board3Version},
                     {"board2HighVoltage", a.board2HighVoltage},
                     {"board2HighVoltageAdjust", a.board2HighVoltageAdjust},
                     {"board2ThresholdAdjust", a.board2ThresholdAdjust}});
}

}  // namespace

NamedTexts windowValues(const std::uint8_t* packet) {
  StatusSnapshot snapshot;
  std::copy(packet, packet + snapshot.size(), snapshot.begin());
  const bool shortFormat = isShortStatusFormat(snapshot);
  const NetworkSettingsRefresh r = refreshedSettings(snapshot, shortFormat);
  if (shortFormat) return shortLayoutTexts(r);
  NamedTexts v = liveValueTexts(snapshot);
  appendRefreshTexts(r, v);
  appendAdvancedTexts(snapshot, v);
  return v;
}

std::string namedTextsAsText(const NamedTexts& values) {
  std::string out;
  for (const auto& [name, text] : values) {
    std::string shown;
    for (const char c : text) {
      const auto b = static_cast<unsigned char>(c);
      if (b >= 0x20 && b < 0x7F) {
        shown += c;
      } else {
        shown += "\\x" + hexBytes(&b, 1);
      }
    }
    if (shown.empty()) shown = "(unchanged)";
    out += "  " + name + std::string(name.size() < 24 ? 24 - name.size() : 0, ' ') + " " + shown + "\n";
  }
  return out;
}

std::string namedTextsAsJson(const NamedTexts& values) {
  std::string out = "{";
  for (const auto& [name, text] : values) {
    out += (out.size() > 1 ? ",\"" : "\"") + name + "\":";
    out += typedJson(text);
  }
  return out + "}";
}

NamedTexts networkSettingsTexts(const std::uint8_t* packet, std::size_t size) {
  if (size == kNetworkSettingsShortSize) {
    namespace at = network_settings_offset;
    return {{"sensorIp", dottedIpv4(packet + at::kShortSensorIp)},
            {"destIp", dottedIpv4(packet + at::kShortDestIp)},
            {"dataPort", std::to_string(loadBE16(packet + at::kShortDataPort))},
            {"devicePort", std::to_string(loadBE16(packet + at::kShortDevicePort))},
            {"motorSpeed", std::to_string(loadBE16(packet + at::kShortMotorSpeed))}};
  }
  StatusSnapshot snapshot{};
  std::copy(packet, packet + std::min(size, snapshot.size()), snapshot.begin());
  // A long network settings packet holds the fields at the status's places:
  // read under the status's header, as a Refresh reads them.
  if (size == snapshot.size() && std::equal(kNetworkSettingsHeader.begin(), kNetworkSettingsHeader.end(), packet))
    std::copy(kStatusHeader.begin(), kStatusHeader.end(), snapshot.begin());
  const bool shortStatus = size == snapshot.size() && isShortStatusFormat(snapshot);
  const NetworkSettingsRefresh r = refreshedSettings(snapshot, shortStatus);
  if (shortStatus)
    return {{"sensorIp", r.sensorIp},
            {"destIp", r.destIp},
            {"dataPort", r.dataPort},
            {"devicePort", r.devicePort},
            {"motorSpeed", std::to_string(r.motorSpeed)}};
  NamedTexts v = {{"mac", r.mac}, {"motorSpeed", std::to_string(r.motorSpeed)}};
  appendRefreshTexts(r, v);
  return v;
}

NamedTexts advancedSettingsTexts(const std::uint8_t* packet) {
  StatusSnapshot snapshot{};
  std::copy(packet, packet + snapshot.size(), snapshot.begin());
  NamedTexts v = {{"motorSpeed", std::to_string(loadBE16(packet + advanced_settings_offset::kMotorSpeed))}};
  appendAdvancedValueTexts(advancedSettingsView(snapshot), v);
  return v;
}

std::string settingsChangeJson(const NamedTexts& before, const NamedTexts& after, const std::string& destination) {
  std::string out = "{\"destination\":\"" + destination + "\",\"fields\":[";
  for (std::size_t i = 0; i < after.size(); ++i) {
    const std::string& was = i < before.size() && before[i].first == after[i].first ? before[i].second : "";
    out += (i ? ",{\"name\":\"" : "{\"name\":\"") + after[i].first + "\",\"before\":" + typedJson(was) +
           ",\"after\":" + typedJson(after[i].second) + ",\"changed\":" + (was != after[i].second ? "true" : "false") +
           "}";
  }
  return out + "]}";
}

}  // namespace z540k::cli
