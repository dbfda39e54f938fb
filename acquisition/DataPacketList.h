// The capture player's packet list: the sensor's 1206-byte data packets of a
// capture, in file order, and where its revolutions close.
//
// A list loaded from a file holds the file open and the byte offset of each
// packet's payload and its capture time (16 bytes a packet, whatever the size
// of the file); a
// packet is read from the file when it is played. Nothing is mapped, so a
// file that another program shortens, rewrites or replaces cannot fault the
// program: the read that notices it fails with "FILE changed on disk after
// it was opened". A list built over bytes in memory (tests) never changes.
// Copies share the file or the bytes; reading is safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "RevolutionIndex.h"

namespace z540k {

class PacketSource;  // where the packet bytes are: an open file, or memory

class DataPacketList {
 public:
  DataPacketList();  // empty
  // A list over a source: the payload offsets of its data packets, in
  // capture order, and the revolutions found over them.
  // `times`: each packet's capture time in microseconds since 1970 (empty:
  // not known).
  DataPacketList(std::shared_ptr<const PacketSource> source, std::vector<std::uint64_t> offsets,
                 RevolutionIndex revolutions, std::vector<std::int64_t> times = {});

  // A list over bytes of its own: `bytes` holds whole 1206-byte packets one
  // after the other (bytes short of a last whole packet are not part of it);
  // the slices that start FF EE are the entries.
  static DataPacketList fromBytes(std::vector<std::uint8_t> bytes);

  std::size_t count() const { return offsets_.size(); }
  // Packet i's capture time (microseconds since 1970); 0 when not known.
  std::int64_t captureTimeUs(std::size_t i) const { return i < times_.size() ? times_[i] : 0; }

  // Copies packet i (i < count(), 1206 bytes) into `out`. False, with a
  // one-line reason naming the file, when the file changed on disk since it
  // was loaded (shortened, written to, replaced or removed) or cannot be read.
  bool read(std::size_t i, std::uint8_t* out, std::string& error) const;

  // Whether the file is still as it was loaded (always for bytes in memory);
  // false with the reason as read() gives it.
  bool unchanged(std::string& error) const;

  const RevolutionIndex& revolutions() const { return revolutions_; }

 private:
  std::shared_ptr<const PacketSource> source_;
  std::vector<std::uint64_t> offsets_;
  RevolutionIndex revolutions_;
  std::vector<std::int64_t> times_;
};

}  // namespace z540k
