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

#include "NetworkSettingsPacket.h"

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
// range are refused by checkAdvancedSettings; thresholds read as 0).
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

// True when the trailing-removal threshold or distance the packet would send
// is 00 00 (a set field that reads as 0, or encodes to 0): the window asks
// "拖尾数据为0,或拖尾距离为0?" before sending, the tool warns. Unset fields
// count by the status bytes they keep.
bool trailingRemovalSendsZero(const AdvancedSettingsInput& input, const StatusSnapshot& status);

// The advanced settings packet: a copy of the captured status payload with
// the header, motor speed, the frame's two addresses, the run state byte
// (00 then runState when it is 0 or 1, else 2), the local time, the fields of
// `input`, the marker and the tail written over it. Never fails: callers
// refuse what checkAdvancedSettings rejects first (an empty deviation angle or
// range, built anyway, keeps the status bytes).
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
bool restoreDestination(const std::string& ipText, const std::string& portText, std::string& ip,
                        std::uint16_t& port, std::string& reason);

// --- The 16-bit field encoding and the readings of the field texts ---

// 0, and any value whose magnitude is 65536 or more, gives 0; any other value
// its low 16 bits in two's complement (-1 gives 0xFFFF, 40000 gives 0x9C40).
std::uint16_t field16(long long value);

// The window's readings of its texts, each already through field16():
// high reflection: the number truncated toward zero;
std::uint16_t highReflectField(const std::string& text);
// deviation angle: the number times 100, truncated toward zero (-1.5 gives
// 0xFF6A, 700 gives 0);
std::uint16_t deviationAngleField(const std::string& text);
// range: a base-10 integer (a fractional or other text reads as 0) times 100
// (150 gives 0x3A98, 1.5 gives 0);
std::uint16_t rangeField(const std::string& text);
// thresholds: a base-10 integer (other text reads as 0);
std::uint16_t trailField(const std::string& text);
// encoder zero: the number times 100 truncated toward zero, a negative value
// with 65535 added (-1 gives 0xFF9B, -0.01 gives 0xFFFE).
std::uint16_t encoderZeroField(const std::string& text);
// Text readings: numbers are C-locale decimals with an optional sign, point
// and exponent, white space around them allowed; the product with 100 is
// taken from the decimal digits exactly (0.29 gives 29). A text that is not
// a number reads as 0, as do "inf" and "nan".

// --- What a Refresh shows ---

// The fields a Refresh fills from one status packet, as texts. An index of -1
// and an empty motorSpeed mean "the status leaves the control unchanged".
struct AdvancedSettingsView {
  std::string range;           // bytes 178-179 / 100, up to 6 significant digits
  std::string trailThreshold;  // 180-181
  std::string trailDistance;   // 182-183
  std::string highReflect;     // 104-105, unsigned
  int zeroDegreeIndex = -1;    // byte 184 when 0 or 1
  int echoIndex = -1;          // byte 185 when 0 or 1
  std::string deviationAngle;  // 186-187: above 32767 less 65535, / 100
  std::string encoderZero;     // 194-195: the same
  std::string board2Version;   // "V" b0 "." (b1 >> 4) "." (b1 & 15), bytes 1196-1197
  std::string board3Version;   // "2024.3.9-V1.2.3" from bytes 1198-1203
  std::string motorSpeed;      // " 5 HZ" for 250-350 rpm, " 10 HZ" 550-650, " 20 HZ" 1150-1250, else empty
  std::string board2HighVoltage;        // 99-100
  std::string board2HighVoltageAdjust;  // 101-102: above 32767 less 65535
  std::string board2ThresholdAdjust;    // 103
};
AdvancedSettingsView advancedSettingsView(const StatusSnapshot& status);

}  // namespace z540k
