#include "RevolutionIndex.h"

#include "PacketFormat.h"
#include "RevolutionAssembly.h"

namespace z540k {

ReturnFamily returnFamilyOf(ReturnMode returnMode) {
  return isDualReturn(returnMode) ? ReturnFamily::Dual : ReturnFamily::Strongest;
}

// The decoder appends the block azimuth, then tests the two newest ones of
// the record; a close empties the record, so the block after a close is
// never tested against the one before it.
void RevolutionIndex::addBlock(Family& family, double azimuth, std::uint64_t packet, int block) {
  if (family.holdsBlock && azimuthsWrap(family.newest, azimuth)) {
    family.closes.push_back(BlockPosition{packet, block});
    family.holdsBlock = false;
    return;
  }
  family.newest = azimuth;
  family.holdsBlock = true;
}

void RevolutionIndex::addPacket(const std::uint8_t* packet) {
  for (int b = 0; b < kBlocksPerPacket; ++b) {
    const double azimuth = blockAzimuthDegrees(packet + kBlockSize * b);
    addBlock(strongest_, azimuth, packets_, b);
    if (b % 2 == 0) addBlock(dual_, azimuth, packets_, b);
  }
  traits_.addPacket(packet);
  ++packets_;
}

BlockPosition RevolutionIndex::frameStart(ReturnFamily family, std::size_t k) const {
  if (k == 0) return BlockPosition{};
  BlockPosition p = of(family).closes[k - 1];
  if (++p.block == kBlocksPerPacket) {
    p.block = 0;
    ++p.packet;
  }
  return p;
}

std::uint64_t RevolutionIndex::frameBlocks(ReturnFamily family, std::size_t k) const {
  const BlockPosition start = frameStart(family, k);
  const BlockPosition close = frameClose(family, k);
  return (close.packet * kBlocksPerPacket + static_cast<std::uint64_t>(close.block)) -
         (start.packet * kBlocksPerPacket + static_cast<std::uint64_t>(start.block)) + 1;
}

}  // namespace z540k
