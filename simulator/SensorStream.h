// Everything the simulated sensor sends, in time order: data packets (or
// compact scan packets) at the pace of the motor, and a status packet once a
// second.
//
// Stream time is the sensor's clock in microseconds since it started. The
// stream produces datagrams; when to send them, and where, is the caller's
// business (the network loop paces them against the wall clock, the capture
// writer stamps them).
//
// Pace and resolution. The motor turns at 300, 600 or 1200 rpm; the sensor
// fires at a fixed angular step, so a faster motor sends more packets per
// second and every revolution holds the same measurements:
//
//   protocol 1.7, single return: 30 measurements per block, block step 3.00
//     degrees (0.1 degree per measurement), 120 blocks = 10 packets and 3600
//     measurements per revolution;
//   protocol 1.6, single return: 2 measurements per block, block step 0.30
//     degrees (0.15 degree per measurement), 1200 blocks = 100 packets and
//     2400 measurements per revolution;
//   dual return (either layout; the blocks always use the 30-slot
//     arrangement): block pairs 3.00 degrees apart, 120 pairs = 20 packets
//     and 3600 measurements of each return per revolution;
//   compact scan packets: 4 packets of 250 measurements (0.36 degree) per
//     revolution, starting at 0, 90, 180 and 270 degrees.
//
// Packets per second = packets per revolution x rpm / 60; the packet time
// stamp advances by the packet period. Raw distances: 2 mm per count in
// protocol 1.6, 4 mm per count in protocol 1.7 (the host divides by 0.5 and
// 0.25 to get millimetres).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "PacketEncoders.h"
#include "SensorScene.h"
#include "SensorState.h"

namespace z540k::sim {

constexpr std::uint64_t kMicrosecondsPerSecond = 1000000;
constexpr std::uint64_t kMicrosecondsPerHour = 3600 * kMicrosecondsPerSecond;
constexpr std::uint64_t kStatusPeriodUs = kMicrosecondsPerSecond;

// Block azimuth steps, hundredths of a degree.
constexpr int kProtocol17BlockStep = 300;
constexpr int kProtocol16BlockStep = 30;
constexpr int kDualReturnBlockStep = 300;
constexpr int kCompactPacketsPerRevolution = 4;
constexpr std::uint32_t kCompactQuarterAngle = 900000;  // ten-thousandths of a degree

// Millimetres per raw distance count.
double rawDistanceUnitMm(Layout layout);

// Large enough for every datagram the simulator sends, garbage included (whose
// longest exceed the 2048 bytes a receiver reads at a time).
constexpr std::size_t kMaxDatagramSize = 4096;

enum class SentKind { Data, CompactScan, Status, Garbage };

struct Datagram {
  SentKind kind = SentKind::Data;
  std::uint64_t timeUs = 0;  // stream time
  std::size_t size = 0;
  std::array<std::uint8_t, kMaxDatagramSize> bytes{};

  const std::uint8_t* data() const { return bytes.data(); }
  bool isMeasurement() const { return kind == SentKind::Data || kind == SentKind::CompactScan; }
};

struct StreamSettings {
  Layout layout = Layout::Protocol17;  // the sensor's firmware: fixed for its life
  bool compactScan = false;            // compact scan packets instead of data packets
  StatusLayout statusLayout = StatusLayout::Long;
  // The sensor's UTC clock at stream time 0, microseconds since 1970.
  std::int64_t clockStartUs = 0;
  // Stream time (seconds) from which the GPS time in the data blocks and in
  // the status is one second ahead, for the GPS time-stamp test: at the next
  // whole GPS second the readings go s, s + 2.
  std::optional<double> gpsJumpAtSeconds;
};

// Calendar date and time of a count of seconds since 1970 (UTC), as the
// sensor writes it: year - 2000, month, day, hour, minute, second.
GpsDateTime gpsDateTimeOf(std::int64_t secondsSince1970);

class SensorStream {
 public:
  SensorStream(const StreamSettings& settings, const SensorState& state);

  // From `nowUs` on the stream follows `state` (motor speed, run and sensor
  // state, echo mode, measuring range, and what the status reports). A
  // sensor that starts scanning again sends its next packet at `nowUs`.
  void setState(const SensorState& state, std::uint64_t nowUs);
  const SensorState& state() const { return state_; }
  const StreamSettings& settings() const { return settings_; }

  // Stream time of the next datagram.
  std::uint64_t nextTimeUs() const;
  // Produces the next datagram (status first when both are due together).
  void next(Datagram& out);

  // The pace in the current state.
  int packetsPerRevolution() const;
  std::uint32_t packetPeriodUs() const;
  int blockAzimuthStep() const;  // hundredths of a degree (0 for compact scan)

  // The GPS date and time at a stream time (the injected jump included), and
  // the packet time stamp: microseconds since the top of the UTC hour.
  GpsDateTime gpsTimeAt(std::uint64_t timeUs) const;
  std::uint32_t packetTimestampAt(std::uint64_t timeUs) const;

 private:
  void makeDataPacket(Datagram& out);
  void makeDualReturnPacket(Datagram& out);
  void makeCompactScanPacket(Datagram& out);
  void makeStatusPacket(Datagram& out);
  // The `perBlock` firings of the block at `azimuth`, from a table of the
  // whole revolution made on first use: the room does not move, so only the
  // person and the noise are worked out per measurement.
  const SceneFiring* firingsOfBlock(int azimuth, int step, int perBlock);
  const SceneFiring& compactFiringAt(int quarter, int k);

  StreamSettings settings_;
  SensorState state_;
  std::optional<std::int64_t> gpsJumpAtUs_;  // UTC microseconds of the skipped second
  std::uint64_t nextDataUs_ = 0;
  std::uint64_t nextStatusUs_ = 0;
  int azimuth_ = 0;  // hundredths of a degree of the next firing
  int quarter_ = 0;  // next compact scan packet, 0..3
  std::uint64_t noiseKey_ = 0;
  // The firings of a revolution whose blocks start at `offset` + j x `step`.
  struct FiringTable {
    int step = 0, perBlock = 0, offset = -1;
    std::vector<SceneFiring> firings;
  };
  FiringTable firings_;
  std::vector<SceneFiring> compactFirings_;
  mutable std::optional<std::pair<std::int64_t, GpsDateTime>> gpsSecond_;  // the last one asked for
};

}  // namespace z540k::sim
