// The capture player's packet list: the sensor's 1206-byte data packets of a
// capture, in file order, as pointers into memory the list keeps alive (the
// mapped capture file, or bytes of its own). A list costs a pointer per
// packet, whatever the size of the file; copies share the memory.
//
// Also the playback control's figures taken from a list: how many packets
// make a frame, and how many frames the list holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace z540k {

struct DataPacketList {
  DataPacketList() = default;  // empty
  // Packets at `packets`, each 1206 bytes, inside memory that `owner` keeps
  // alive for as long as the list (or a copy of it) lives.
  DataPacketList(std::shared_ptr<const void> owner, std::vector<const std::uint8_t*> packets);

  // A list over bytes of its own: `bytes` holds whole 1206-byte packets one
  // after the other (bytes short of a last whole packet are not part of it).
  // No packet rule is applied: every slice is an entry.
  static DataPacketList fromBytes(std::vector<std::uint8_t> bytes);

  std::size_t count() const { return packets_.size(); }
  // i < count(); 1206 bytes.
  const std::uint8_t* packet(std::size_t i) const { return packets_[i]; }

 private:
  std::shared_ptr<const void> owner_;
  std::vector<const std::uint8_t*> packets_;
};

// Packets per frame when a list is too short or too odd to tell.
constexpr int kDefaultPacketsPerFrame = 30;

// Packets per frame, from the azimuth steps between packets 10 and 30 (the
// first block's azimuth of each; a step across 0 degrees counts 360 more):
// 360 degrees over the mean of the steps below 64.4 degrees, plus 8,
// truncated. The default when the list has fewer than 31 packets or those
// steps add up to nothing. Computed in hundredths of a degree, as the packets
// hold azimuths, so the result is exact.
int estimatePacketsPerFrame(const DataPacketList& list);

// The frames of `packetCount` packets at `packetsPerFrame` (the default when
// less than 1): whole frames plus a last, partial one holding `remainder`
// packets if any are left over.
struct FrameTotal {
  std::size_t total = 0;
  std::size_t remainder = 0;
  bool partial() const { return remainder != 0; }
};
FrameTotal frameTotalOf(std::size_t packetCount, int packetsPerFrame);

}  // namespace z540k
