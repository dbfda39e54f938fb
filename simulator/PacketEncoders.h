// Builds the bytes the sensor sends, from values: data packets in both slot
// layouts and in the dual-return arrangement, compact scan packets and status
// packets in the long and the short layout.
//
// Used by the simulated sensor, the tests, the benchmarks and the fuzz seeds;
// the program itself only decodes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "PacketFormat.h"

namespace z540k::sim {

using DataPacketBytes = std::array<std::uint8_t, kDataPacketSize>;
using CompactScanPacketBytes = std::array<std::uint8_t, kCompactScanPacketSize>;
using StatusPacketBytes = std::array<std::uint8_t, kStatusPacketSize>;

// Status bytes 104-105: the high-reflection compensation in millimetres
// (BE16). The host's decoding does not read them; its advanced configuration
// window shows them from the raw packet.
constexpr std::size_t kHighReflectionOffset = 104;

struct Measurement {
  std::uint16_t distance = 0;
  std::uint8_t intensity = 0;
};

// Writes one data packet in place. Every block starts flagged FF EE with
// azimuth 0 and empty slots.
//
// Measurement k of a block is the k-th measurement slot of the writer's
// layout: slots 0..14, 16..30 in protocol 1.7 (k < 30), slots 0 and 16 in
// protocol 1.6 (k < 2). For dual-return packets use protocol 1.7 and put the
// first return of firing f into block 2f, the second into block 2f + 1.
class DataPacketWriter {
 public:
  explicit DataPacketWriter(Layout layout);

  Layout layout() const { return layout_; }
  int measurementsPerBlock() const;

  // Azimuth in hundredths of a degree as the sensor stamps it (0..35999).
  void setBlockAzimuth(int block, std::uint16_t hundredths);
  void setMeasurement(int block, int k, Measurement m);
  // A raw slot (0..31), whatever the layout uses it for.
  void setSlot(int block, int slot, Measurement m);
  void setBlockFlags(int block, std::uint8_t flag0, std::uint8_t flag1);
  // GPS date and time where the writer's layout keeps them.
  void setGps(int block, const GpsDateTime& when);
  void setTimestamp(std::uint32_t timestamp);

  const DataPacketBytes& bytes() const { return bytes_; }

 private:
  std::uint8_t* block(int b) { return bytes_.data() + kBlockSize * static_cast<std::size_t>(b); }

  Layout layout_;
  DataPacketBytes bytes_{};
};

// A compact scan packet: start angle in ten-thousandths of a degree, then
// 250 measurements.
CompactScanPacketBytes encodeCompactScanPacket(
    std::uint32_t startAngle, const std::array<Measurement, kCompactMeasurementsPerPacket>& measurements);

// Everything a status packet carries, as values.
struct SensorStatus {
  std::uint16_t motorSpeed = 600;
  std::array<std::uint8_t, 4> sensorIp{127, 0, 0, 2};
  std::array<std::uint8_t, 4> destIp{127, 0, 0, 1};
  std::array<std::uint8_t, 6> mac{0x60, 0x76, 0x88, 0x00, 0x00, 0x01};
  std::uint16_t dataPort = kDefaultDataPort;
  std::uint16_t statusPort = kDefaultStatusPort;
  std::array<std::uint8_t, 4> ntpIp{0, 0, 0, 0};
  std::array<std::uint8_t, 4> gateway{127, 0, 0, 1};
  std::array<std::uint8_t, 4> subnetMask{255, 0, 0, 0};
  std::uint16_t runState = 0;  // 0 running, 1 stopped
  std::uint16_t interval = 0;
  std::uint16_t sensorState = 0;  // 0 running, 1 sleep
  std::uint16_t ppsSetAngle = 0;  // hundredths of a degree
  std::uint16_t ppsDeviation = 0;
  GpsDateTime utcTime;
  std::string latitude;   // at most 10 characters
  std::string longitude;  // at most 10 characters
  char latitudeHemisphere = 'N';
  char longitudeHemisphere = 'E';
  std::uint16_t plate2Temperature = 0;
  std::uint16_t lvdsSetting = 0;
  std::uint8_t gpsState = 0;
  std::uint8_t ppsState = 0;
  std::uint8_t highTemperaturePause = 0;
  std::uint16_t machineStopTemperature = 0;
  std::array<std::uint8_t, 10> plate3Voltage{};
  std::uint16_t board2HighVoltage = 0;
  std::uint16_t board2HighVoltageAdjust = 0;
  std::uint8_t board2Threshold = 0;
  std::uint16_t highReflection = 0;  // mm, bytes 104-105
  std::uint8_t raw168 = 0;
  std::uint8_t raw169 = 0;
  std::array<std::uint8_t, 4> raw170{};
  std::array<std::uint8_t, 4> raw174{};
  std::uint16_t measuringRange = 0;  // metres x 100
  std::uint16_t trailingThreshold = 0;
  std::uint16_t trailingDistance = 0;             // cm
  std::uint8_t zeroDegreePosition = 0;            // 0 cable end, 1 straight ahead
  std::uint8_t echoMode = 0;                      // 0 single, 1 dual
  std::int16_t horizontalOffset = 0;              // degrees x 100
  std::int16_t encoderZero = 0;                   // degrees x 100
  std::array<std::int16_t, 16> verticalAngles{};  // hundredths of a degree
  std::string versionText;                        // at most 20 Latin-1 characters
  std::array<std::uint8_t, 10> versionPairs{};
  std::array<std::uint8_t, 2> board2Version{};
  // Byte 4 (packet 1202) must not be 3 in a long-layout packet: 3 announces
  // the short layout.
  std::array<std::uint8_t, 6> board3Version{};
};

enum class StatusLayout {
  Long,   // every field at its place
  Short,  // sensor IP, ports, destination and speed at the short positions; byte 1202 = 3
};

StatusPacketBytes encodeStatusPacket(const SensorStatus& status, StatusLayout layout = StatusLayout::Long);

}  // namespace z540k::sim
