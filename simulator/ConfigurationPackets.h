// The configuration packets the host sends to the sensor's port 2368, as the
// sensor reads them: the network settings packet (1206-byte long form built
// on a copy of a status packet, and the 36-byte short form), the advanced
// settings packet with the factory values, and the default-restore packet.
//
// Parsing is pure: bytes in, a request or a one-line reason out. Applying a
// request to a SensorState is pure as well. The sockets live elsewhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "NetworkSettingsPacket.h"
#include "SensorState.h"

namespace z540k::sim {

// ---- Framing ----------------------------------------------------------------
constexpr std::size_t kLongConfigurationSize = 1206;
constexpr std::size_t kShortNetworkSettingsSize = kNetworkSettingsShortSize;

// Bytes 0-5 are common to the long forms; bytes 6-7 tell them apart.
constexpr std::array<std::uint8_t, 8> kAdvancedSettingsHeader = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xBB, 0xBB};
constexpr std::size_t kLongHeaderKindOffset = 6;
constexpr std::size_t kLongTailOffset = 1204;
constexpr std::array<std::uint8_t, 2> kLongTail = kConfigurationTail;

// The advanced settings packet carries this marker at 160.
constexpr std::size_t kAdvancedMarkerOffset = 160;
constexpr std::array<std::uint8_t, 8> kAdvancedMarker = {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11};

// The long network settings packet and the advanced settings packet keep
// every field at its status packet position (the host builds them on a copy
// of a status packet), so their offsets are those of status_offset; the
// short form's and the frames are the host's (NetworkSettingsPacket.h).

// The advanced settings packet's run state byte: 2 says the host did not know
// the run state; the sensor keeps its own.
constexpr std::uint16_t kRunStateUnknown = 2;

// ---- The default-restore packet ---------------------------------------------
// A long network settings packet with fixed contents: 300 rpm, sensor at
// 192.168.1.222, host at 192.168.1.125, ports 2368 and 2369, the host's time,
// everything else zero.
constexpr std::uint16_t kRestoreMotorSpeed = kMotorSpeed5Hz;
constexpr Ipv4Address kRestoreSensorIp = {192, 168, 1, 222};
constexpr Ipv4Address kRestoreDestIp = {192, 168, 1, 125};
constexpr std::uint16_t kRestoreDataPort = kDefaultDataPort;
constexpr std::uint16_t kRestoreStatusPort = kDefaultStatusPort;

// ---- Requests -----------------------------------------------------------------
enum class ConfigurationKind {
  NetworkSettings,       // long form
  ShortNetworkSettings,  // 36-byte form
  AdvancedSettings,
  DefaultRestore,
};
const char* describe(ConfigurationKind kind);

// What one packet asks for. A field the packet does not carry, or asks to
// keep, stays empty.
struct ConfigurationRequest {
  ConfigurationKind kind = ConfigurationKind::NetworkSettings;

  std::optional<Ipv4Address> sensorIp;
  std::optional<Ipv4Address> destIp;
  std::optional<MacAddress> mac;
  std::optional<std::uint16_t> dataPort;
  std::optional<std::uint16_t> statusPort;
  std::optional<Ipv4Address> ntpIp;
  std::optional<Ipv4Address> gateway;
  std::optional<Ipv4Address> subnetMask;
  std::optional<std::uint16_t> motorSpeed;
  std::optional<std::uint16_t> runState;
  std::optional<std::uint16_t> interval;
  std::optional<std::uint16_t> sensorState;
  std::optional<std::uint16_t> ppsSetAngle;
  // The host's clock when it wrote the packet. The simulated sensor keeps
  // its GPS time and only checks this.
  std::optional<GpsDateTime> hostTime;

  std::optional<std::uint16_t> highReflection;
  std::optional<std::uint16_t> measuringRange;
  std::optional<std::uint16_t> trailingThreshold;
  std::optional<std::uint16_t> trailingDistance;
  std::optional<std::uint8_t> zeroDegreePosition;
  std::optional<std::uint8_t> echoMode;
  std::optional<std::int16_t> horizontalOffset;
  std::optional<std::int16_t> encoderZero;
};

struct ParsedConfiguration {
  bool ok = false;
  ConfigurationRequest request;  // when ok
  std::string error;             // when not: why the packet is refused, one line
};

// Reads one datagram received on the sensor's port. Anything that is not a
// well-formed configuration packet with sane values is refused.
ParsedConfiguration parseConfigurationPacket(const std::uint8_t* data, std::size_t size);

// Applies a parsed request. Returns what changed, as "motor speed 600 -> 1200
// rpm, data port 2368 -> 2370", or "nothing changed".
std::string applyConfiguration(const ConfigurationRequest& request, SensorState& state);

}  // namespace z540k::sim
