// The factory packets: the advanced settings packet that writes the sensor's
// high-reflection compensation, range, trailing-point removal, zero-degree
// position, echo mode, offset angle, encoder zero and motor speed, built from
// the advanced window's fields (as typed) on a captured status packet; and
// the default-restore packet that puts the sensor's network settings back to
// the factory's. Also the field texts a Refresh shows for a status packet,
// and the check of the restore packet's destination.
//
// Pure functions: the local time is an input; nothing here sends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "NetworkSettingsPacket.h"
#include "SettingsFieldValues.h"

namespace z540k {

constexpr std::size_t kAdvancedSettingsSize = 1206;
constexpr std::size_t kDefaultRestoreSize = 1206;

// Bytes 0-7: the long configuration frame, BB BB marking the advanced packet
// (the default-restore packet carries the network settings header, AA AA).
constexpr std::array<std::uint8_t, 8> kAdvancedSettingsHeader = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xBB, 0xBB};
// The marker at 160 of every advanced settings packet.
constexpr std::array<std::uint8_t, 8> kAdvancedSettingsMarker = {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11};

// Offsets in the advanced settings packet: the status packet's places.
namespace advanced_settings_offset {
constexpr std::size_t kMotorSpeed = 8;
constexpr std::size_t kSensorIp = 10;
constexpr std::size_t kHostIp = 14;
constexpr std::size_t kRunState = 40;
constexpr std::size_t kTime = 52;
constexpr std::size_t kHighReflect = 104;
constexpr std::size_t kMarker = 160;
constexpr std::size_t kRange = 178;
constexpr std::size_t kTrailThreshold = 180;
constexpr std::size_t kTrailDistance = 182;
constexpr std::size_t kZeroDegree = 184;
constexpr std::size_t kEcho = 185;
constexpr std::size_t kDeviationAngle = 186;
constexpr std::size_t kEncoderZero = 194;
constexpr std::size_t kTail = 1204;
}  // namespace advanced_settings_offset

// Where a captured status frame came from and went to: the advanced settings
// packet writes both addresses and goes to the sensor's address and port.
struct StatusFrameAddresses {
  std::array<std::uint8_t, 4> sensorIp{};  // the frame's IPv4 source
  std::uint16_t sensorPort = 0;            // the frame's UDP source port
  std::array<std::uint8_t, 4> hostIp{};    // the frame's IPv4 destination
};

// The advanced window's fields as typed. The window sets every member; an
// unset member (the tool's omitted option) keeps the status packet's bytes
// for its field. Set but empty: as the window treats the empty field (high
// reflection and encoder zero keep the status bytes; deviation angle and
// range are refused by checkAdvancedSettings; thresholds read as 0). A text
// its field cannot hold is refused by advancedSettingsRefusal.
struct AdvancedSettingsInput {
  std::optional<std::string> highReflect;     // lineEdit_HighReflect, mm
  std::optional<int> zeroDegreeIndex;         // comboBox_Zero_degree_position: 0 or 1 (anything else: 1)
  std::optional<int> echoIndex;               // comboBox_SingleOrDouble: 0 or 1 (anything else: 1)
  std::optional<std::string> deviationAngle;  // lineEdit_deviationAngle, degrees
  std::optional<std::string> range;           // lineEdit_21
  std::optional<std::string> trailThreshold;  // lineEdit_tw
  std::optional<std::string> trailDistance;   // lineEdit_twjl, cm
  std::optional<std::string> encoderZero;     // lineEdit_MaPanAngle, degrees
  std::optional<std::string> motorSpeed;      // comboBox_rotateSpeed's text: " 5 HZ", " 10 HZ", " 20 HZ"
  // The run state the window's status copy holds (its last received status);
  // unset: the status packet's bytes 40-41.
  std::optional<unsigned> runState;
};

// The window's refusals before it builds, in the order it checks them.
enum class AdvancedSettingsRefusal {
  None,
  DeviationAngleEmpty,  // "请输入水平偏移角度!"
  RangeEmpty,           // "请输入量程!"
};
AdvancedSettingsRefusal checkAdvancedSettings(const AdvancedSettingsInput& input);

// The text fields, each a 16-bit value in the packet.
enum class AdvancedField { HighReflect, DeviationAngle, Range, TrailThreshold, TrailDistance, EncoderZero };

// What a field takes, in the packet's units: high reflection whole mm
// 0-65535 ("12.0" is 12, "12.5" is refused); the offset angle and encoder
// zero degrees to the hundredth, -327.68 to 327.67 (two's complement, as the
// status stores them); the range metres to the hundredth, 0 to 655.35; the
// thresholds whole numbers 0-65535. More decimals than a field keeps are
// refused, never dropped.
const FieldRule& advancedFieldRule(AdvancedField field);

// The 16-bit value a field's text writes ("-1.5" degrees gives 0xFF6A, "1.5"
// metres 0x0096, "123.45" metres 0x3039), read exactly from its digits;
// nothing when the field cannot hold it (out of range, not a number).
std::optional<std::uint16_t> advancedFieldValue(AdvancedField field, const std::string& text);

// The first field, in the window's order, whose text (set and not empty) its
// field cannot hold: one line naming the field and its range. An empty
// threshold reads as 0, which the trailing-removal question guards.
std::optional<std::string> advancedSettingsRefusal(const AdvancedSettingsInput& input);
// The same for one field's text (empty passes).
std::optional<std::string> advancedFieldRefusal(AdvancedField field, const std::string& text);

// The fields, named as the refusals name them, whose empty text keeps the
// status packet's value (high reflection, encoder zero).
std::vector<std::string> advancedKeptFields(const AdvancedSettingsInput& input);

// True when the trailing-removal threshold or distance the packet would send
// is 00 00 (a set field that reads as 0, or encodes to 0): the window asks
// "拖尾数据为0,或拖尾距离为0?" before sending, the tool warns. Unset fields
// count by the status bytes they keep.
bool trailingRemovalSendsZero(const AdvancedSettingsInput& input, const StatusSnapshot& status);

// The advanced settings packet: a copy of the captured status payload with
// the header, motor speed, the frame's two addresses, the run state byte
// (00 then runState when it is 0 or 1, else 2), the local time, the fields of
// `input`, the marker and the tail written over it. Never fails: callers
// refuse what checkAdvancedSettings and advancedSettingsRefusal reject first
// (such a field, built anyway, keeps the status bytes).
std::array<std::uint8_t, kAdvancedSettingsSize> buildAdvancedSettingsPacket(const AdvancedSettingsInput& input,
                                                                            const StatusSnapshot& status,
                                                                            const StatusFrameAddresses& frame,
                                                                            const LocalDateTime& now);

// The default-restore packet: zeros with the network settings header, 300 rpm,
// sensor 192.168.1.222, host 192.168.1.125, ports 2368 and 2369, the local
// time at 52 and the tail.
std::array<std::uint8_t, kDefaultRestoreSize> buildDefaultRestorePacket(const LocalDateTime& now);

// The restore packet's destination from lineEdit_DestIP and lineEdit_DestPort
// (or the tool's --to). True with `ip` (dotted, normalised) and `port` when
// the address is four decimal numbers 0-255 other than 0.0.0.0 and the port
// text a decimal number 1-65535 (white space around either allowed); false
// with a one-line English reason otherwise (nothing is sent to port 0).
bool restoreDestination(const std::string& ipText, const std::string& portText, std::string& ip, std::uint16_t& port,
                        std::string& reason);

// --- What a Refresh shows ---

// The fields a Refresh fills from one status packet, as texts. An index of -1
// and an empty motorSpeed mean "the status leaves the control unchanged".
struct AdvancedSettingsView {
  std::string range;                    // bytes 178-179 in hundredths: "123.45"
  std::string trailThreshold;           // 180-181
  std::string trailDistance;            // 182-183
  std::string highReflect;              // 104-105, unsigned
  int zeroDegreeIndex = -1;             // byte 184 when 0 or 1
  int echoIndex = -1;                   // byte 185 when 0 or 1
  std::string deviationAngle;           // 186-187, two's complement hundredths: 0xFFFF "-0.01"
  std::string encoderZero;              // 194-195: the same
  std::string board2Version;            // "V" b0 "." (b1 >> 4) "." (b1 & 15), bytes 1196-1197
  std::string board3Version;            // "2024.3.9-V1.2.3" from bytes 1198-1203
  std::string motorSpeed;               // " 5 HZ" for 250-350 rpm, " 10 HZ" 550-650, " 20 HZ" 1150-1250, else empty
  std::string board2HighVoltage;        // 99-100
  std::string board2HighVoltageAdjust;  // 101-102, two's complement
  std::string board2ThresholdAdjust;    // 103
};
AdvancedSettingsView advancedSettingsView(const StatusSnapshot& status);

}  // namespace z540k
