// Hands decoded status packets from a receiver thread to the GUI thread
// through signals that carry bare pointers (SettingData*, const u_char*).
//
// Each status packet gets a block of its own from a pool. After emitting the
// signals, the receiver asks for the block back through the release event of
// an InFlightLimit: every queued slot that received the pointers has run (and
// copied the bytes) before the block is reused.
#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "InFlightLimit.h"
#include "LidarRecords.h"
#include "PacketFormat.h"
#include "StatusPacket.h"

namespace z540k {

class StatusHandOver {
 public:
  struct Block {
    SettingData status{};
    std::array<std::uint8_t, kStatusPacketSize> raw{};
  };

  // While this many blocks are on their way, further status packets are
  // dropped (the GUI thread is not taking events).
  static constexpr std::size_t kMaxInFlight = 256;

  StatusHandOver() = default;
  ~StatusHandOver();
  StatusHandOver(const StatusHandOver&) = delete;
  StatusHandOver& operator=(const StatusHandOver&) = delete;

  // A free block, or nullptr when too many are in flight.
  Block* acquire();
  // Returns `block` once the events already posted to `guiObject`'s thread
  // have been delivered.
  void releaseAfterDelivery(QObject* guiObject, Block* block);

  std::size_t inFlight() const;

 private:
  void release(Block* block);

  InFlightLimit places_;
  std::mutex mutex_;
  std::vector<Block*> free_;
  std::vector<Block*> made_;  // every block, free or on its way (at most kMaxInFlight)
};

// What both receivers do with a status packet (1206 bytes, header checked):
// decode it into a block of its own, emit the receiver's
// SendLidarStatusToSettingUI and SendDataDifo with pointers into the block,
// and have the block back after delivery. Returns false, emitting nothing,
// while too many blocks are on their way.
template <typename Receiver>
bool deliverStatus(Receiver* receiver, StatusHandOver& handOver, const std::uint8_t* packet) {
  StatusHandOver::Block* block = handOver.acquire();
  if (!block) return false;
  std::copy(packet, packet + kStatusPacketSize, block->raw.begin());
  decodeSettingData(block->raw.data(), block->status);
  emit receiver->SendLidarStatusToSettingUI(&block->status, decodeStatusValues(block->raw.data()));
  emit receiver->SendDataDifo(block->raw.data());
  handOver.releaseAfterDelivery(receiver, block);
  return true;
}

}  // namespace z540k
