#include "StatusPacket.h"

#include <cstring>

namespace z540k {

#define Z540K_FIELD(member, packetOffset, kind) \
  StatusField { #member, offsetof(SettingData, member), sizeof(SettingData::member), packetOffset, kind }

const std::array<StatusField, 28> kSettingDataFields = {{
    Z540K_FIELD(destIp, status_offset::kDestIp, StatusFieldKind::Bytes),
    Z540K_FIELD(dataPort, status_offset::kDataPort, StatusFieldKind::Bytes),
    Z540K_FIELD(motorSpeed, status_offset::kMotorSpeed, StatusFieldKind::BigEndian16),
    Z540K_FIELD(runState, status_offset::kRunState, StatusFieldKind::BigEndian16),
    Z540K_FIELD(utcTime, status_offset::kUtcTime, StatusFieldKind::Bytes),
    Z540K_FIELD(interval, status_offset::kInterval, StatusFieldKind::BigEndian16),
    Z540K_FIELD(ppsSetAngle, status_offset::kPpsSetAngle, StatusFieldKind::Bytes),
    Z540K_FIELD(ppsDeviation, status_offset::kPpsDeviation, StatusFieldKind::Bytes),
    Z540K_FIELD(latitude, status_offset::kLatitude, StatusFieldKind::Characters),
    Z540K_FIELD(latitudeHemisphere, status_offset::kLatitudeHemisphere, StatusFieldKind::Characters),
    Z540K_FIELD(longitude, status_offset::kLongitude, StatusFieldKind::Characters),
    Z540K_FIELD(longitudeHemisphere, status_offset::kLongitudeHemisphere, StatusFieldKind::Characters),
    Z540K_FIELD(plate2Temperature, status_offset::kPlate2Temperature, StatusFieldKind::Bytes),
    Z540K_FIELD(lvdsSetting, status_offset::kLvdsSetting, StatusFieldKind::Bytes),
    Z540K_FIELD(raw168, status_offset::kRaw168, StatusFieldKind::Bytes),
    Z540K_FIELD(raw169, status_offset::kRaw169, StatusFieldKind::Bytes),
    Z540K_FIELD(raw170, status_offset::kRaw170, StatusFieldKind::Bytes),
    Z540K_FIELD(raw174, status_offset::kRaw174, StatusFieldKind::Bytes),
    Z540K_FIELD(board2Version, status_offset::kBoard2Version, StatusFieldKind::Bytes),
    Z540K_FIELD(board3Version, status_offset::kBoard3Version, StatusFieldKind::Bytes),
    Z540K_FIELD(verticalAngles, status_offset::kVerticalAngles, StatusFieldKind::Bytes),
    Z540K_FIELD(gpsState, status_offset::kGpsState, StatusFieldKind::Bytes),
    Z540K_FIELD(ppsState, status_offset::kPpsState, StatusFieldKind::Bytes),
    Z540K_FIELD(highTemperaturePause, status_offset::kHighTemperaturePause, StatusFieldKind::Bytes),
    Z540K_FIELD(machineStopTemperature, status_offset::kMachineStopTemperature, StatusFieldKind::Bytes),
    Z540K_FIELD(plate3Voltage, status_offset::kPlate3Voltage, StatusFieldKind::Bytes),
    Z540K_FIELD(versionText, status_offset::kVersionText, StatusFieldKind::Bytes),
    Z540K_FIELD(versionPairs, status_offset::kVersionPairs, StatusFieldKind::Bytes),
}};

#undef Z540K_FIELD

const std::array<StatusValueSource, kStatusValueCount> kStatusValueSources = {{
    {status_offset::kMac + 0, 1},
    {status_offset::kMac + 1, 1},
    {status_offset::kMac + 2, 1},
    {status_offset::kMac + 3, 1},
    {status_offset::kMac + 4, 1},
    {status_offset::kMac + 5, 1},
    {status_offset::kPpsDeviation, 2},
    {status_offset::kDataPort, 2},
    {status_offset::kStatusPort, 2},
    {status_offset::kMeasuringRange, 2},
    {status_offset::kTrailingThreshold, 2},
    {status_offset::kTrailingDistance, 2},
    {status_offset::kZeroDegreePosition, 1},
    {status_offset::kEchoMode, 1},
    {status_offset::kHorizontalOffset, 2},
    {status_offset::kEncoderZero, 2},
    {status_offset::kBoard2HighVoltage, 2},
    {status_offset::kBoard2HighVoltageAdjust, 2},
    {status_offset::kBoard2Threshold, 1},
}};

void decodeSettingData(const std::uint8_t* packet, SettingData& record) {
  auto* image = reinterpret_cast<unsigned char*>(&record);
  for (const StatusField& field : kSettingDataFields) {
    if (field.kind == StatusFieldKind::BigEndian16) {
      const std::int32_t value = loadBE16(packet + field.packetOffset);
      std::memcpy(image + field.recordOffset, &value, sizeof value);
    } else {
      std::memcpy(image + field.recordOffset, packet + field.packetOffset, field.size);
    }
  }
}

std::vector<int> decodeStatusValues(const std::uint8_t* packet) {
  std::vector<int> values;
  values.reserve(kStatusValueCount);
  for (const StatusValueSource& source : kStatusValueSources)
    values.push_back(source.size == 1 ? packet[source.packetOffset] : loadBE16(packet + source.packetOffset));
  return values;
}

std::optional<std::uint8_t> statusEchoMode(const SettingData& record, const std::vector<int>& values) {
  // Entry 13 of the value list is byte 185; byte 1202 is the fifth of board3Version.
  constexpr std::size_t kEchoModeEntry = 13;
  constexpr std::size_t kFormatInBoard3 = status_offset::kConfigurationFormat - status_offset::kBoard3Version;
  if (values.size() <= kEchoModeEntry ||
      record.board3Version[kFormatInBoard3] == status_offset::kShortConfigurationFormat)
    return std::nullopt;
  return static_cast<std::uint8_t>(values[kEchoModeEntry]);
}

bool isShortStatusPacket(const std::uint8_t* data, std::size_t size) {
  return isStatusPacket(data, size) &&
         data[status_offset::kConfigurationFormat] == status_offset::kShortConfigurationFormat;
}

bool decodeShortStatus(const std::uint8_t* data, std::size_t size, ShortStatus& status) {
  if (!isShortStatusPacket(data, size)) return false;
  namespace at = status_offset;
  std::memcpy(status.sensorIp.data(), data + at::kShortSensorIp, status.sensorIp.size());
  status.dataPort = loadBE16(data + at::kShortDataPort);
  std::memcpy(status.destIp.data(), data + at::kShortDestIp, status.destIp.size());
  status.devicePort = loadBE16(data + at::kShortStatusPort);
  status.motorSpeed = loadBE16(data + at::kShortMotorSpeed);
  return true;
}

bool decodeStatusPacket(const std::uint8_t* data, std::size_t size, SettingData& record, std::vector<int>& values) {
  if (!isStatusPacket(data, size)) return false;
  decodeSettingData(data, record);
  values = decodeStatusValues(data);
  return true;
}

}  // namespace z540k
