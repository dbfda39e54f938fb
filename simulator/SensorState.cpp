#include "SensorState.h"

#include <arpa/inet.h>

#include <cstring>

namespace z540k::sim {

namespace {

// The simulated unit's fixed identity and health readings, as its status
// packet reports them.
constexpr std::uint16_t kPpsDeviation = 2;       // 0.02 degrees
constexpr std::uint16_t kBoardTemperature = 95;  // the host shows value - 50: 45 degrees C
constexpr std::uint8_t kGpsLocked = 1;
constexpr std::uint8_t kPpsLocked = 1;
constexpr std::uint16_t kMachineStopTemperature = 0x0800;
constexpr std::uint16_t kBoard2HighVoltage = 180;
constexpr std::array<std::uint8_t, 10> kBoardVoltageDigits{1, 2, 0, 5, 0, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 10> kVersionPairs{1, 2, 1, 1, 1, 0, 1, 0, 2, 0};
constexpr std::array<std::uint8_t, 2> kBoard2Version{1, 0x23};
// 2024.3.9, firmware 1.2.3; the fifth byte (packet 1202) is the long
// configuration format.
constexpr std::array<std::uint8_t, 6> kBoard3Version{20, 24, 3, 9, 1, 0x23};
const char* const kVersionText = "Z540-K simulated";
const char* const kLatitude = "3958.12340";
const char* const kLongitude = "11623.5678";

}  // namespace

bool isMotorSpeed(unsigned rpm) { return rpm == kMotorSpeed5Hz || rpm == kMotorSpeed10Hz || rpm == kMotorSpeed20Hz; }

SensorStatus statusOf(const SensorState& state, const GpsDateTime& now) {
  SensorStatus s;
  s.motorSpeed = state.measuredMotorSpeed();
  s.sensorIp = state.sensorIp;
  s.destIp = state.destIp;
  s.mac = state.mac;
  s.dataPort = state.dataPort;
  s.statusPort = state.statusPort;
  s.ntpIp = state.ntpIp;
  s.gateway = state.gateway;
  s.subnetMask = state.subnetMask;
  s.runState = state.runState;
  s.interval = state.interval;
  s.sensorState = state.sensorState;
  s.ppsSetAngle = state.ppsSetAngle;
  s.ppsDeviation = kPpsDeviation;
  s.utcTime = now;
  s.latitude = kLatitude;
  s.longitude = kLongitude;
  s.latitudeHemisphere = 'N';
  s.longitudeHemisphere = 'E';
  s.plate2Temperature = kBoardTemperature;
  s.gpsState = kGpsLocked;
  s.ppsState = kPpsLocked;
  s.machineStopTemperature = kMachineStopTemperature;
  s.plate3Voltage = kBoardVoltageDigits;
  s.board2HighVoltage = kBoard2HighVoltage;
  s.highReflection = state.highReflection;
  s.measuringRange = state.measuringRange;
  s.trailingThreshold = state.trailingThreshold;
  s.trailingDistance = state.trailingDistance;
  s.zeroDegreePosition = state.zeroDegreePosition;
  s.echoMode = state.echoMode;
  s.horizontalOffset = state.horizontalOffset;
  s.encoderZero = state.encoderZero;
  s.versionText = kVersionText;
  s.versionPairs = kVersionPairs;
  s.board2Version = kBoard2Version;
  s.board3Version = kBoard3Version;
  return s;
}

std::string formatIpv4(const Ipv4Address& a) { return dottedIpv4(a.data()); }

bool parseIpv4(const std::string& text, Ipv4Address& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  std::memcpy(address.data(), &parsed.s_addr, address.size());  // network order: first octet first
  return true;
}

bool isLoopback(const Ipv4Address& address) { return address[0] == 127; }

}  // namespace z540k::sim
