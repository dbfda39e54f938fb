// The sensor's 1206-byte device status packet: where each SettingData field
// and each entry of the status value list comes from, and the decoding.
// Status fields are big-endian (high byte first).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "LidarRecords.h"
#include "PacketFormat.h"

namespace z540k {

// How a SettingData field is filled from the packet.
enum class StatusFieldKind {
  Bytes,        // the packet bytes, unchanged and in order
  Characters,   // the same, read as text characters
  BigEndian16,  // a BE16 value widened into a signed 32-bit field
};

struct StatusField {
  const char* name;          // the SettingData member
  std::size_t recordOffset;  // offset in the 149-byte record
  std::size_t size;          // width in the record
  std::size_t packetOffset;  // first source byte in the status packet
  StatusFieldKind kind;
};

// Every SettingData field in record order.
extern const std::array<StatusField, 28> kSettingDataFields;

// Packet offsets of the 19 status value list entries, and their widths (1 for
// a single byte, 2 for a BE16 value).
struct StatusValueSource {
  std::size_t packetOffset;
  std::size_t size;
};
extern const std::array<StatusValueSource, kStatusValueCount> kStatusValueSources;

// Named positions the settings windows and the simulator use besides the
// SettingData fields (long status layout).
namespace status_offset {
constexpr std::size_t kMotorSpeed = 8;
constexpr std::size_t kSensorIp = 10;
constexpr std::size_t kDestIp = 14;
constexpr std::size_t kMac = 18;
constexpr std::size_t kDataPort = 24;
constexpr std::size_t kStatusPort = 26;
constexpr std::size_t kNtpIp = 28;
constexpr std::size_t kGateway = 32;
constexpr std::size_t kSubnetMask = 36;
constexpr std::size_t kRunState = 40;
constexpr std::size_t kInterval = 42;
constexpr std::size_t kSensorState = 44;
constexpr std::size_t kPpsSetAngle = 48;
constexpr std::size_t kPpsDeviation = 50;
constexpr std::size_t kUtcTime = 52;
constexpr std::size_t kLatitude = 58;
constexpr std::size_t kLongitude = 68;
constexpr std::size_t kLatitudeHemisphere = 78;
constexpr std::size_t kLongitudeHemisphere = 79;
constexpr std::size_t kPlate2Temperature = 80;
constexpr std::size_t kLvdsSetting = 82;
constexpr std::size_t kGpsState = 84;
constexpr std::size_t kPpsState = 85;
constexpr std::size_t kHighTemperaturePause = 86;
constexpr std::size_t kMachineStopTemperature = 87;
constexpr std::size_t kPlate3Voltage = 89;
constexpr std::size_t kBoard2HighVoltage = 99;
constexpr std::size_t kBoard2HighVoltageAdjust = 101;
constexpr std::size_t kBoard2Threshold = 103;
constexpr std::size_t kRaw168 = 168;
constexpr std::size_t kRaw169 = 169;
constexpr std::size_t kRaw170 = 170;
constexpr std::size_t kRaw174 = 174;
constexpr std::size_t kMeasuringRange = 178;
constexpr std::size_t kTrailingThreshold = 180;
constexpr std::size_t kTrailingDistance = 182;
constexpr std::size_t kZeroDegreePosition = 184;
constexpr std::size_t kEchoMode = 185;
constexpr std::size_t kHorizontalOffset = 186;
constexpr std::size_t kEncoderZero = 194;
constexpr std::size_t kVerticalAngles = 245;
constexpr std::size_t kVersionText = 1164;
constexpr std::size_t kVersionPairs = 1184;
constexpr std::size_t kBoard2Version = 1196;
constexpr std::size_t kBoard3Version = 1198;
// board3Version's fifth byte: 3 marks a sensor that takes the short
// configuration packet and reports its status in the short layout.
constexpr std::size_t kConfigurationFormat = 1202;
constexpr std::uint8_t kShortConfigurationFormat = 3;

// Short status layout (sensors with byte 1202 = 3).
constexpr std::size_t kShortSensorIp = 8;
constexpr std::size_t kShortDataPort = 12;
constexpr std::size_t kShortDestIp = 14;
constexpr std::size_t kShortStatusPort = 18;
constexpr std::size_t kShortMotorSpeed = 20;
}  // namespace status_offset

// What a sensor reporting the short status layout says about itself. Such a
// packet fills only these bytes (besides the header and the version bytes);
// the long layout's fields hold nothing meaningful there.
struct ShortStatus {
  std::array<std::uint8_t, 4> sensorIp{};  // bytes 8-11, first octet first
  std::uint16_t dataPort = 0;              // bytes 12-13
  std::array<std::uint8_t, 4> destIp{};    // bytes 14-17
  std::uint16_t devicePort = 0;            // bytes 18-19, where the status goes
  std::uint16_t motorSpeed = 0;            // bytes 20-21, revolutions per minute
};

// True for a status packet (1206 bytes, status header) whose byte 1202 is 3.
bool isShortStatusPacket(const std::uint8_t* data, std::size_t size);

// Reads the short layout's fields. Returns false, and changes nothing, unless
// `data` is a status packet in the short layout.
bool decodeShortStatus(const std::uint8_t* data, std::size_t size, ShortStatus& status);

// Fills every field of `record` from a status packet of kStatusPacketSize
// bytes (the caller has recognised it); no field keeps an earlier value.
void decodeSettingData(const std::uint8_t* packet, SettingData& record);

// The 19 status values of a status packet, each the plain unsigned value of
// its bytes.
std::vector<int> decodeStatusValues(const std::uint8_t* packet);

// The echo mode a status packet states (0 single, 1 dual return), from the
// decoded record and value list as the receivers hand them on; none for a
// packet in the short layout, whose byte 185 means nothing.
std::optional<std::uint8_t> statusEchoMode(const SettingData& record, const std::vector<int>& values);

// Both of the above. Returns false, and changes nothing, unless `data` is a
// 1206-byte buffer starting with the status header.
bool decodeStatusPacket(const std::uint8_t* data, std::size_t size, SettingData& record, std::vector<int>& values);

}  // namespace z540k
