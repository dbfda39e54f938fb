#include "PacketEncoders.h"

#include <algorithm>
#include <cstring>

#include "StatusPacket.h"

namespace z540k::sim {

namespace {

// Text into a fixed-width field, cut to the width, the rest zero.
void storeText(std::uint8_t* p, std::size_t width, const std::string& text) {
  std::memcpy(p, text.data(), std::min(width, text.size()));
}

}  // namespace

DataPacketWriter::DataPacketWriter(Layout layout)
    : layout_(layout == Layout::Protocol17 ? Layout::Protocol17 : Layout::Protocol16) {
  for (int b = 0; b < kBlocksPerPacket; ++b) setBlockFlags(b, kBlockFlag0, kBlockFlag1);
}

int DataPacketWriter::measurementsPerBlock() const {
  return layout_ == Layout::Protocol17 ? kProtocol17MeasurementsPerBlock : kProtocol16MeasurementsPerBlock;
}

void DataPacketWriter::setBlockAzimuth(int b, std::uint16_t hundredths) {
  storeLE16(block(b) + kBlockAzimuthOffset, hundredths);
}

void DataPacketWriter::setMeasurement(int b, int k, Measurement m) {
  const int slot = layout_ == Layout::Protocol17 ? kProtocol17Slots.at(k) : kProtocol16Slots.at(k);
  setSlot(b, slot, m);
}

void DataPacketWriter::setSlot(int b, int slot, Measurement m) {
  std::uint8_t* p = block(b) + kBlockSlotsOffset + kSlotSize * static_cast<std::size_t>(slot);
  storeLE16(p, m.distance);
  p[2] = m.intensity;
}

void DataPacketWriter::setBlockFlags(int b, std::uint8_t flag0, std::uint8_t flag1) {
  block(b)[kBlockFlagOffset] = flag0;
  block(b)[kBlockFlagOffset + 1] = flag1;
}

void DataPacketWriter::setGps(int b, const GpsDateTime& when) {
  std::uint8_t* date;
  std::uint8_t* time;
  if (layout_ == Layout::Protocol17) {
    date = block(b) + kProtocol17GpsDateOffset;
    time = block(b) + kProtocol17GpsTimeOffset;
  } else {
    date = block(b) + kProtocol16GpsOffset;
    time = date + 3;
  }
  date[0] = when.year;
  date[1] = when.month;
  date[2] = when.day;
  time[0] = when.hour;
  time[1] = when.minute;
  time[2] = when.second;
}

void DataPacketWriter::setTimestamp(std::uint32_t timestamp) {
  storeLE32(bytes_.data() + kPacketTimestampOffset, timestamp);
}

CompactScanPacketBytes encodeCompactScanPacket(
    std::uint32_t startAngle, const std::array<Measurement, kCompactMeasurementsPerPacket>& measurements) {
  CompactScanPacketBytes bytes{};
  bytes[0] = kCompactScanHeader0;
  bytes[1] = kCompactScanHeader1;
  storeBE32(bytes.data() + kCompactStartAngleOffset, startAngle);
  std::uint8_t* p = bytes.data() + kCompactMeasurementsOffset;
  for (const Measurement& m : measurements) {
    storeLE16(p, m.distance);
    p[2] = m.intensity;
    p += 3;
  }
  return bytes;
}

StatusPacketBytes encodeStatusPacket(const SensorStatus& s, StatusLayout layout) {
  namespace at = status_offset;
  StatusPacketBytes bytes{};
  std::uint8_t* p = bytes.data();
  std::copy(kStatusHeader.begin(), kStatusHeader.end(), p);

  storeText(p + at::kVersionText, 20, s.versionText);
  storeBytes(p + at::kVersionPairs, s.versionPairs);
  storeBytes(p + at::kBoard2Version, s.board2Version);
  storeBytes(p + at::kBoard3Version, s.board3Version);

  if (layout == StatusLayout::Short) {
    storeBytes(p + at::kShortSensorIp, s.sensorIp);
    storeBE16(p + at::kShortDataPort, s.dataPort);
    storeBytes(p + at::kShortDestIp, s.destIp);
    storeBE16(p + at::kShortStatusPort, s.statusPort);
    storeBE16(p + at::kShortMotorSpeed, s.motorSpeed);
    p[at::kConfigurationFormat] = at::kShortConfigurationFormat;
    return bytes;
  }

  storeBE16(p + at::kMotorSpeed, s.motorSpeed);
  storeBytes(p + at::kSensorIp, s.sensorIp);
  storeBytes(p + at::kDestIp, s.destIp);
  storeBytes(p + at::kMac, s.mac);
  storeBE16(p + at::kDataPort, s.dataPort);
  storeBE16(p + at::kStatusPort, s.statusPort);
  storeBytes(p + at::kNtpIp, s.ntpIp);
  storeBytes(p + at::kGateway, s.gateway);
  storeBytes(p + at::kSubnetMask, s.subnetMask);
  storeBE16(p + at::kRunState, s.runState);
  storeBE16(p + at::kInterval, s.interval);
  storeBE16(p + at::kSensorState, s.sensorState);
  storeBE16(p + at::kPpsSetAngle, s.ppsSetAngle);
  storeBE16(p + at::kPpsDeviation, s.ppsDeviation);
  const GpsDateTime& t = s.utcTime;
  const std::array<std::uint8_t, 6> utc{t.year, t.month, t.day, t.hour, t.minute, t.second};
  storeBytes(p + at::kUtcTime, utc);
  storeText(p + at::kLatitude, 10, s.latitude);
  storeText(p + at::kLongitude, 10, s.longitude);
  p[at::kLatitudeHemisphere] = static_cast<std::uint8_t>(s.latitudeHemisphere);
  p[at::kLongitudeHemisphere] = static_cast<std::uint8_t>(s.longitudeHemisphere);
  storeBE16(p + at::kPlate2Temperature, s.plate2Temperature);
  storeBE16(p + at::kLvdsSetting, s.lvdsSetting);
  p[at::kGpsState] = s.gpsState;
  p[at::kPpsState] = s.ppsState;
  p[at::kHighTemperaturePause] = s.highTemperaturePause;
  storeBE16(p + at::kMachineStopTemperature, s.machineStopTemperature);
  storeBytes(p + at::kPlate3Voltage, s.plate3Voltage);
  storeBE16(p + at::kBoard2HighVoltage, s.board2HighVoltage);
  storeBE16(p + at::kBoard2HighVoltageAdjust, s.board2HighVoltageAdjust);
  p[at::kBoard2Threshold] = s.board2Threshold;
  storeBE16(p + kHighReflectionOffset, s.highReflection);
  p[at::kRaw168] = s.raw168;
  p[at::kRaw169] = s.raw169;
  storeBytes(p + at::kRaw170, s.raw170);
  storeBytes(p + at::kRaw174, s.raw174);
  storeBE16(p + at::kMeasuringRange, s.measuringRange);
  storeBE16(p + at::kTrailingThreshold, s.trailingThreshold);
  storeBE16(p + at::kTrailingDistance, s.trailingDistance);
  p[at::kZeroDegreePosition] = s.zeroDegreePosition;
  p[at::kEchoMode] = s.echoMode;
  storeBE16(p + at::kHorizontalOffset, static_cast<std::uint16_t>(s.horizontalOffset));
  storeBE16(p + at::kEncoderZero, static_cast<std::uint16_t>(s.encoderZero));
  for (std::size_t i = 0; i < s.verticalAngles.size(); ++i)
    storeBE16(p + at::kVerticalAngles + 2 * i, static_cast<std::uint16_t>(s.verticalAngles[i]));
  return bytes;
}

}  // namespace z540k::sim
