// What the simulated sensor holds: its network settings, its motor and run
// state, and the factory values. Configuration packets change it; the status
// packet reports it; the packet stream follows it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "PacketEncoders.h"

namespace z540k::sim {

using Ipv4Address = std::array<std::uint8_t, 4>;  // first octet first
using MacAddress = std::array<std::uint8_t, 6>;

// Motor speeds the sensor can turn at, in revolutions per minute.
constexpr std::uint16_t kMotorSpeed5Hz = 300;
constexpr std::uint16_t kMotorSpeed10Hz = 600;
constexpr std::uint16_t kMotorSpeed20Hz = 1200;
bool isMotorSpeed(unsigned rpm);

constexpr std::uint16_t kRunStateRunning = 0;
constexpr std::uint16_t kRunStateStopped = 1;
constexpr std::uint16_t kSensorStateRunning = 0;
constexpr std::uint16_t kSensorStateSleep = 1;
constexpr std::uint8_t kEchoModeSingle = 0;
constexpr std::uint8_t kEchoModeDual = 1;

// The factory defaults the simulated unit ships with.
constexpr std::uint16_t kDefaultMeasuringRange = 5000;  // 50.00 m
constexpr std::uint16_t kDefaultTrailingThreshold = 10;
constexpr std::uint16_t kDefaultTrailingDistance = 30;  // cm

struct SensorState {
  // Network.
  Ipv4Address sensorIp{127, 0, 0, 2};
  Ipv4Address destIp{127, 0, 0, 1};  // the host that receives data and status
  MacAddress mac{0x60, 0x76, 0x88, 0x00, 0x00, 0x01};
  std::uint16_t dataPort = kDefaultDataPort;
  std::uint16_t statusPort = kDefaultStatusPort;
  Ipv4Address ntpIp{0, 0, 0, 0};
  Ipv4Address gateway{127, 0, 0, 1};
  Ipv4Address subnetMask{255, 0, 0, 0};

  // Motor and operation.
  std::uint16_t motorSpeed = kMotorSpeed10Hz;  // the speed it is set to, rpm
  std::uint16_t runState = kRunStateRunning;
  std::uint16_t interval = 0;
  std::uint16_t sensorState = kSensorStateRunning;
  std::uint16_t ppsSetAngle = 0;  // hundredths of a degree

  // Factory values.
  std::uint16_t measuringRange = kDefaultMeasuringRange;  // metres x 100
  std::uint16_t trailingThreshold = kDefaultTrailingThreshold;
  std::uint16_t trailingDistance = kDefaultTrailingDistance;  // cm
  std::uint16_t highReflection = 0;                           // mm
  std::uint8_t zeroDegreePosition = 0;                        // 0 cable end, 1 straight ahead
  std::uint8_t echoMode = kEchoModeSingle;
  std::int16_t horizontalOffset = 0;  // degrees x 100
  std::int16_t encoderZero = 0;       // degrees x 100

  // The laser fires and data packets go out only while the motor runs and
  // the sensor is awake.
  bool scanning() const { return runState == kRunStateRunning && sensorState == kSensorStateRunning; }
  bool dualReturn() const { return echoMode == kEchoModeDual; }
  // The speed the sensor measures on its motor: nothing while it stands.
  std::uint16_t measuredMotorSpeed() const { return scanning() ? motorSpeed : 0; }
  double measuringRangeMm() const { return measuringRange * 10.0; }
};

// The status packet contents of a sensor in `state` at GPS time `now`.
SensorStatus statusOf(const SensorState& state, const GpsDateTime& now);

// Dotted text of an address, and the reverse (false for anything but four
// decimal octets).
std::string formatIpv4(const Ipv4Address& address);
bool parseIpv4(const std::string& text, Ipv4Address& address);
bool isLoopback(const Ipv4Address& address);

}  // namespace z540k::sim
