#include "CaptureFrames.h"

#include <array>

#include "PacketFormat.h"
#include "RevolutionAssembly.h"

namespace z540k {

CaptureFrames::CaptureFrames(std::shared_ptr<const DataPacketList> packets) : packets_(std::move(packets)) {
  if (!packets_) packets_ = std::make_shared<DataPacketList>();
  decoder_.setRecordSink([this](const LidarDataSingleLine& record) {
    const std::size_t number = nextRecord_++;
    if (number >= wanted_) ready_.emplace_back(number, record);
  });
}

void CaptureFrames::setLayout(Layout layout) {
  layout_ = layout == Layout::Protocol17 ? Layout::Protocol17 : Layout::Protocol16;
  decoder_.setPendingLayout(layout_);
}

void CaptureFrames::setReturnMode(ReturnMode mode) {
  if (returnFamilyOf(mode) != family()) positioned_ = false;
  returnMode_ = mode;
  decoder_.setReturnMode(mode);
}

std::size_t CaptureFrames::frameTotal() const { return packets_->revolutions().frameCount(family()); }

// Frame k decoded from a fresh decoder that starts at the first block of
// frame j (j <= k) equals frame k of a decoding from the start when nothing
// handed on from before frame j can reach it. Dual-return revolutions hand
// nothing on. A strongest-return revolution hands on what lies past the wrap
// among its last 100 measurements: frame j - 1 is decoded first, so what
// frame k receives comes from measurements of frame j - 1's own blocks,
// enough of them, or from the capture's start.
void CaptureFrames::startAt(std::size_t k) {
  const RevolutionIndex& index = packets_->revolutions();
  std::size_t j = k;
  if (family() == ReturnFamily::Strongest && k > 0) {
    const auto perBlock = static_cast<std::uint64_t>(measurementsPerBlock(layout_));
    j = k - 1;
    while (j > 0) {
      const std::uint64_t blocks = index.frameBlocks(family(), j);
      if (blocks >= 2 && blocks * perBlock >= kHandOnWindow) break;
      --j;
    }
  }
  const BlockPosition start = index.frameStart(family(), j);
  decoder_.reset();
  decoder_.setLayout(layout_);
  decoder_.setReturnMode(returnMode_);
  nextPacket_ = start.packet;
  nextBlock_ = start.block;
  nextRecord_ = j;
  ready_.clear();
  positioned_ = true;
}

CaptureFrames::Result CaptureFrames::frame(std::size_t k, LidarDataSingleLine& out,
                                           const std::function<bool()>& beforePacket) {
  error_.clear();
  while (!ready_.empty() && ready_.front().first < k) ready_.pop_front();
  if (!ready_.empty() && ready_.front().first != k) ready_.clear();  // decoded past it
  // Forwards by one (or the frame already decoded) goes on; anything else
  // starts afresh.
  if (ready_.empty() && (!positioned_ || k < nextRecord_ || k > nextRecord_ + 1)) startAt(k);
  wanted_ = k;
  std::array<std::uint8_t, kDataPacketSize> packet{};
  while (ready_.empty() || ready_.front().first != k) {
    if (!ready_.empty()) {  // passed it: cannot happen with an index of this list
      positioned_ = false;
      error_ = "frame " + std::to_string(k + 1) + " was not found where the index puts it";
      return Result::Failed;
    }
    if (nextPacket_ >= packets_->count()) {
      positioned_ = false;
      error_ = "the capture ended before frame " + std::to_string(k + 1);
      return Result::Failed;
    }
    if (beforePacket && !beforePacket()) return Result::Abandoned;
    if (!packets_->read(nextPacket_, packet.data(), error_)) {
      positioned_ = false;
      return Result::Failed;
    }
    decoder_.setCapturedAt(packets_->captureTimeUs(nextPacket_));
    decoder_.decodeDataPacket(packet.data(), packet.size(), nextBlock_);
    nextBlock_ = 0;
    ++nextPacket_;
  }
  out = std::move(ready_.front().second);
  ready_.pop_front();
  return Result::Frame;
}

}  // namespace z540k
