// The value types that travel from the acquisition threads to the rest of the
// program: one revolution of measurements, the decoded device status and the
// status value list that accompanies it.
//
// Pure data: no Qt, no threads. Queued-signal registration lives in
// RecordMetaTypes.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One batch of decoded measurements, normally one full revolution.
// Entry i of distance, intensity, azimuth and timestamp describe the same
// measurement. azimuth is computed one block late, so while a record is being
// filled it is shorter than distance by the newest block; consumers pair
// entries only up to the shortest of the four lists.
struct LidarDataSingleLine {
  // Azimuth stamped on each data block, degrees (a raw value of 360.00 or
  // more is stored as 0.0). Empty in records built from compact scan packets.
  std::vector<double> blockAzimuth;
  // Raw 16-bit distance count, unscaled (the point computation applies the
  // layout's unit).
  std::vector<double> distance;
  // Raw 8-bit intensity.
  std::vector<int> intensity;
  // Horizontal angle of the measurement in degrees, [0, 360) after wrap.
  std::vector<double> azimuth;
  // Packet time stamp plus the measurement's firing offset, truncated;
  // 0 for compact scan records.
  std::vector<unsigned long long> timestamp;
  // Dual return: the measurements before this index are first returns, the
  // rest second returns (0: all second, the size or more: all first).
  // kNotDual for the strongest return and compact scan packets.
  static constexpr std::size_t kNotDual = static_cast<std::size_t>(-1);
  std::size_t secondReturnsFrom = kNotDual;
  // Live: the host's steady clock (nanoseconds) when the datagram that
  // completed the revolution was read; 0 for records of captures.
  std::int64_t receivedAtNs = 0;
  // Played from a capture: the capture time (microseconds since 1970) of
  // the packet that completed the revolution; 0 otherwise.
  std::int64_t capturedAtUs = 0;

  void clear() {
    secondReturnsFrom = kNotDual;
    receivedAtNs = 0;
    capturedAtUs = 0;
    blockAzimuth.clear();
    distance.clear();
    intensity.clear();
    azimuth.clear();
    timestamp.clear();
  }

  // A measurement moved to the next revolution at the close leaves all four
  // of its entries zero in the emitted record.
  bool isPlaceholder(std::size_t i) const {
    return distance[i] == 0.0 && azimuth[i] == 0.0 && intensity[i] == 0 && timestamp[i] == 0;
  }

  // Number of complete measurements: the shortest of the four
  // per-measurement lists.
  std::size_t pairedSize() const {
    std::size_t n = distance.size();
    if (intensity.size() < n) n = intensity.size();
    if (azimuth.size() < n) n = azimuth.size();
    if (timestamp.size() < n) n = timestamp.size();
    return n;
  }
};

// The decoded device status. Its consumers copy all 149 bytes at once, so the
// fields below are its exact memory image: packed, in this order, with these
// widths. Multi-byte arrays hold the status packet's bytes as stored (high
// byte first); the three 32-bit fields are in the machine's byte order at
// unaligned positions.
#pragma pack(push, 1)
struct SettingData {
  std::uint8_t destIp[4];                  // packet 14..17
  std::uint8_t dataPort[2];                // packet 24, 25
  std::int32_t motorSpeed;                 // BE16 at packet 8
  std::int32_t runState;                   // BE16 at packet 40: 0 running, 1 stopped
  std::uint8_t utcTime[6];                 // packet 52..57: year-2000, month, day, h, m, s
  std::int32_t interval;                   // BE16 at packet 42
  std::uint8_t ppsSetAngle[2];             // packet 48, 49, hundredths of a degree
  std::uint8_t ppsDeviation[2];            // packet 50, 51
  char latitude[10];                       // packet 58..67, text
  char latitudeHemisphere;                 // packet 78
  char longitude[10];                      // packet 68..77, text
  char longitudeHemisphere;                // packet 79
  std::uint8_t plate2Temperature[2];       // packet 80, 81
  std::uint8_t lvdsSetting[2];             // packet 82, 83
  std::uint8_t raw168;                     // packet 168
  std::uint8_t raw169;                     // packet 169
  std::uint8_t raw170[4];                  // packet 170..173
  std::uint8_t raw174[4];                  // packet 174..177
  std::uint8_t board2Version[2];           // packet 1196, 1197
  std::uint8_t board3Version[6];           // packet 1198..1203; byte 1202 tells the configuration format
  std::uint8_t verticalAngles[32];         // packet 245..276, 16 signed BE16 hundredths of a degree
  std::uint8_t gpsState;                   // packet 84
  std::uint8_t ppsState;                   // packet 85
  std::uint8_t highTemperaturePause;       // packet 86
  std::uint8_t machineStopTemperature[2];  // packet 87, 88
  std::uint8_t plate3Voltage[10];          // packet 89..98
  std::uint8_t versionText[20];            // packet 1164..1183, Latin-1
  std::uint8_t versionPairs[10];           // packet 1184..1193, five (major, minor) pairs
};
#pragma pack(pop)

static_assert(sizeof(SettingData) == 149, "SettingData is a 149-byte memory image");
static_assert(offsetof(SettingData, destIp) == 0, "SettingData layout");
static_assert(offsetof(SettingData, dataPort) == 4, "SettingData layout");
static_assert(offsetof(SettingData, motorSpeed) == 6, "SettingData layout");
static_assert(offsetof(SettingData, runState) == 10, "SettingData layout");
static_assert(offsetof(SettingData, utcTime) == 14, "SettingData layout");
static_assert(offsetof(SettingData, interval) == 20, "SettingData layout");
static_assert(offsetof(SettingData, ppsSetAngle) == 24, "SettingData layout");
static_assert(offsetof(SettingData, ppsDeviation) == 26, "SettingData layout");
static_assert(offsetof(SettingData, latitude) == 28, "SettingData layout");
static_assert(offsetof(SettingData, latitudeHemisphere) == 38, "SettingData layout");
static_assert(offsetof(SettingData, longitude) == 39, "SettingData layout");
static_assert(offsetof(SettingData, longitudeHemisphere) == 49, "SettingData layout");
static_assert(offsetof(SettingData, plate2Temperature) == 50, "SettingData layout");
static_assert(offsetof(SettingData, lvdsSetting) == 52, "SettingData layout");
static_assert(offsetof(SettingData, raw168) == 54, "SettingData layout");
static_assert(offsetof(SettingData, raw169) == 55, "SettingData layout");
static_assert(offsetof(SettingData, raw170) == 56, "SettingData layout");
static_assert(offsetof(SettingData, raw174) == 60, "SettingData layout");
static_assert(offsetof(SettingData, board2Version) == 64, "SettingData layout");
static_assert(offsetof(SettingData, board3Version) == 66, "SettingData layout");
static_assert(offsetof(SettingData, verticalAngles) == 72, "SettingData layout");
static_assert(offsetof(SettingData, gpsState) == 104, "SettingData layout");
static_assert(offsetof(SettingData, ppsState) == 105, "SettingData layout");
static_assert(offsetof(SettingData, highTemperaturePause) == 106, "SettingData layout");
static_assert(offsetof(SettingData, machineStopTemperature) == 107, "SettingData layout");
static_assert(offsetof(SettingData, plate3Voltage) == 109, "SettingData layout");
static_assert(offsetof(SettingData, versionText) == 119, "SettingData layout");
static_assert(offsetof(SettingData, versionPairs) == 139, "SettingData layout");

// The status value list that travels with every SettingData: exactly this
// many entries, the MAC address first.
constexpr std::size_t kStatusValueCount = 19;
