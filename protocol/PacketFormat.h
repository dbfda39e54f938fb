// Byte layout of what the sensor sends: the 1206-byte data packet in its two
// slot layouts, the 778-byte compact scan packet and the recognition of the
// 1206-byte status packet. Named offsets and explicit little/big-endian loads;
// packets are never cast to structs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ByteOrder.h"

namespace z540k {

// The ports the sensor sends to unless configured otherwise: data packets,
// and status packets.
constexpr std::uint16_t kDefaultDataPort = 2368;
constexpr std::uint16_t kDefaultStatusPort = 2369;

// ---- Data packet -----------------------------------------------------------
constexpr std::size_t kDataPacketSize = 1206;
constexpr int kBlocksPerPacket = 12;
constexpr std::size_t kBlockSize = 100;
constexpr std::size_t kBlockFlagOffset = 0;     // FF EE
constexpr std::size_t kBlockAzimuthOffset = 2;  // LE16, hundredths of a degree
constexpr std::size_t kBlockSlotsOffset = 4;    // 32 slots of 3 bytes
constexpr std::size_t kSlotSize = 3;            // LE16 distance, u8 intensity
constexpr int kSlotsPerBlock = 32;
constexpr std::size_t kPacketTimestampOffset = 1200;  // LE32
constexpr std::uint8_t kBlockFlag0 = 0xFF;
constexpr std::uint8_t kBlockFlag1 = 0xEE;

// Packet layouts, in the order of the operator's protocol list.
enum class Layout { Protocol16, Protocol17 };

// Return modes, numbered as the return-mode list numbers them. A value
// outside these four (an unselected list gives -1) makes the decoder ignore
// data packets.
enum class ReturnMode {
  Strongest = 0,   // "StrongEcho"
  Dual = 1,        // "DualEcho": first return, then second
  DualFirst = 2,   // "DualEcho_first"
  DualSecond = 3,  // "DualEcho_second"
};
inline bool isDualReturn(ReturnMode mode) {
  return mode == ReturnMode::Dual || mode == ReturnMode::DualFirst || mode == ReturnMode::DualSecond;
}

// Protocol 1.7 (and every dual-return block): 30 measurements in slots 0..14
// and 16..30; slot 15 holds the GPS date, slot 31 the GPS time.
constexpr int kProtocol17MeasurementsPerBlock = 30;
constexpr std::array<std::uint8_t, kProtocol17MeasurementsPerBlock> kProtocol17Slots = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
constexpr std::size_t kProtocol17GpsDateOffset = 49;  // block offsets 49..51: year-2000, month, day
constexpr std::size_t kProtocol17GpsTimeOffset = 97;  // block offsets 97..99: hour, minute, second

// Protocol 1.6: 2 measurements in slots 0 and 16; the GPS date and time in
// block offsets 94..99.
constexpr int kProtocol16MeasurementsPerBlock = 2;
constexpr std::array<std::uint8_t, kProtocol16MeasurementsPerBlock> kProtocol16Slots = {0, 16};
constexpr std::size_t kProtocol16GpsOffset = 94;

// Firing period of one slot, in packet time stamp units, and the offset that
// puts the packet time stamp at slot 191 of the firing sequence.
constexpr double kSlotPeriod = 3.125;
constexpr double kTimestampOrigin = 596.875;  // 191 x 3.125

// GPS date and time as the sensor writes it into each data block.
struct GpsDateTime {
  std::uint8_t year = 0;  // year - 2000
  std::uint8_t month = 0;
  std::uint8_t day = 0;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
};

inline bool operator==(const GpsDateTime& a, const GpsDateTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
         a.second == b.second;
}

// ---- Compact scan packet ---------------------------------------------------
constexpr std::size_t kCompactScanPacketSize = 778;
constexpr std::uint8_t kCompactScanHeader0 = 0xA2;
constexpr std::uint8_t kCompactScanHeader1 = 0x5C;
constexpr std::size_t kCompactStartAngleOffset = 20;  // BE32, ten-thousandths of a degree
constexpr std::size_t kCompactMeasurementsOffset = 28;
constexpr int kCompactMeasurementsPerPacket = 250;
constexpr double kCompactAngleStep = 0.36;

// ---- Status packet ---------------------------------------------------------
constexpr std::size_t kStatusPacketSize = 1206;
constexpr std::array<std::uint8_t, 8> kStatusHeader = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55};

// Four address bytes in packet order as dotted text ("192.168.1.200").
inline std::string dottedIpv4(const std::uint8_t* bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
         std::to_string(bytes[3]);
}

// The second board's version from its two status bytes: "V<major>.<high
// nibble>.<low nibble>".
inline std::string board2VersionText(const std::uint8_t* bytes) {
  return "V" + std::to_string(bytes[0]) + "." + std::to_string(bytes[1] >> 4) + "." + std::to_string(bytes[1] & 15);
}

// Bytes as hex text: two digits a byte, `separator` between them ("0f f0",
// or "0F F0" in upper case).
inline std::string hexBytes(const std::uint8_t* p, std::size_t n, char separator = ' ', bool upperCase = false) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out += separator;
    out += digits[p[i] >> 4];
    out += digits[p[i] & 0x0F];
  }
  return out;
}

// ---- Recognition -----------------------------------------------------------
// Only the first block's flag bytes are tested; later blocks are taken as
// they come.
inline bool isDataPacket(const std::uint8_t* data, std::size_t size) {
  return size == kDataPacketSize && data[0] == kBlockFlag0 && data[1] == kBlockFlag1;
}

inline bool isCompactScanPacket(const std::uint8_t* data, std::size_t size) {
  return size == kCompactScanPacketSize && data[0] == kCompactScanHeader0 && data[1] == kCompactScanHeader1;
}

// Header test only: the receivers differ in the length they demand.
inline bool hasStatusHeader(const std::uint8_t* data, std::size_t size) {
  if (size < kStatusHeader.size()) return false;
  for (std::size_t i = 0; i < kStatusHeader.size(); ++i)
    if (data[i] != kStatusHeader[i]) return false;
  return true;
}

inline bool isStatusPacket(const std::uint8_t* data, std::size_t size) {
  return size == kStatusPacketSize && hasStatusHeader(data, size);
}

enum class DatagramKind { DataPacket, StatusPacket, CompactScanPacket, Other };

// What the data port receiver makes of one datagram.
inline DatagramKind classifyDatagram(const std::uint8_t* data, std::size_t size) {
  if (isDataPacket(data, size)) return DatagramKind::DataPacket;
  if (isStatusPacket(data, size)) return DatagramKind::StatusPacket;
  if (isCompactScanPacket(data, size)) return DatagramKind::CompactScanPacket;
  return DatagramKind::Other;
}

// The block azimuth in degrees, computed in single precision and widened (the
// interpolated azimuths depend on this rounding); 360.00 or more becomes 0.0.
inline double blockAzimuthDegrees(const std::uint8_t* block) {
  const float a = static_cast<float>(loadLE16(block + kBlockAzimuthOffset)) / 100.0f;
  return a >= 360.0f ? 0.0 : static_cast<double>(a);
}

}  // namespace z540k
