// Where the revolutions of a stream of data packets close, found from the
// block azimuths alone, by the same wrap rule the decoder closes them with.
// A capture is indexed in the pass that lists its packets, so a player knows
// the exact number of revolutions and where each one begins without decoding
// a measurement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PacketFormat.h"
#include "SensorTraits.h"

namespace z540k {

// A block of a packet stream: packet index and block 0..11 within it.
struct BlockPosition {
  std::uint64_t packet = 0;
  int block = 0;
};

inline bool operator==(const BlockPosition& a, const BlockPosition& b) {
  return a.packet == b.packet && a.block == b.block;
}

// The return-mode families close revolutions on different blocks: the
// strongest return looks at every block, the dual-return modes at the even
// blocks only (an odd block shares the azimuth of the block before it).
enum class ReturnFamily { Strongest, Dual };
ReturnFamily returnFamilyOf(ReturnMode returnMode);

class RevolutionIndex {
 public:
  // The next data packet of the stream (1206 bytes starting FF EE).
  void addPacket(const std::uint8_t* packet);

  std::uint64_t packets() const { return packets_; }

  // What the same packets show of the sensor: single or dual return, the
  // layout they look like. A capture's player decodes in the return mode
  // they show unless the operator fixed one.
  const DataPacketTraits& traits() const { return traits_; }

  // Revolutions that closed: frame k is the k-th record the decoder emits
  // when fed the stream from its first packet.
  std::size_t frameCount(ReturnFamily family) const { return of(family).closes.size(); }
  // The block that closes frame k (its last block).
  BlockPosition frameClose(ReturnFamily family, std::size_t k) const { return of(family).closes[k]; }
  // The first block that belongs to frame k alone: the block after the one
  // that closed frame k - 1, or the stream's first block.
  BlockPosition frameStart(ReturnFamily family, std::size_t k) const;
  // The blocks of frame k from frameStart() to frameClose(), both included.
  std::uint64_t frameBlocks(ReturnFamily family, std::size_t k) const;

 private:
  struct Family {
    std::vector<BlockPosition> closes;
    double newest = 0.0;  // the newest block azimuth of the revolution being collected
    bool holdsBlock = false;
  };
  const Family& of(ReturnFamily family) const { return family == ReturnFamily::Dual ? dual_ : strongest_; }
  static void addBlock(Family& family, double azimuth, std::uint64_t packet, int block);

  Family strongest_;
  Family dual_;
  std::uint64_t packets_ = 0;
  DataPacketTraits traits_;
};

}  // namespace z540k
