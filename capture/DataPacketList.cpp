// The capture player's packet list, and the frame figures taken from it.
#include "DataPacketList.h"

#include <utility>

#include "PacketFormat.h"

namespace z540k {

namespace {

// The estimate looks at the steps from packet 10 to packet 30.
constexpr std::size_t kFirstEstimatePacket = 10;
constexpr std::size_t kEstimateSteps = 20;
// In hundredths of a degree, as the packets hold azimuths.
constexpr std::int64_t kFullTurn = 36000;
constexpr std::int64_t kLongestStep = 6440;  // 64.4 degrees: longer ones are gaps, not steps
constexpr int kPacketsPerFrameMargin = 8;

std::int64_t firstBlockAzimuth(const std::uint8_t* packet) { return loadLE16(packet + kBlockAzimuthOffset); }

}  // namespace

DataPacketList::DataPacketList(std::shared_ptr<const void> owner, std::vector<const std::uint8_t*> packets)
    : owner_(std::move(owner)), packets_(std::move(packets)) {}

DataPacketList DataPacketList::fromBytes(std::vector<std::uint8_t> bytes) {
  auto owner = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  std::vector<const std::uint8_t*> packets;
  packets.reserve(owner->size() / kDataPacketSize);
  for (std::size_t at = 0; at + kDataPacketSize <= owner->size(); at += kDataPacketSize)
    packets.push_back(owner->data() + at);
  return DataPacketList(std::move(owner), std::move(packets));
}

int estimatePacketsPerFrame(const DataPacketList& list) {
  if (list.count() < kFirstEstimatePacket + kEstimateSteps + 1) return kDefaultPacketsPerFrame;
  std::int64_t sum = 0;
  std::int64_t steps = 0;
  for (std::size_t i = kFirstEstimatePacket; i < kFirstEstimatePacket + kEstimateSteps; ++i) {
    std::int64_t step = firstBlockAzimuth(list.packet(i + 1)) - firstBlockAzimuth(list.packet(i));
    if (step < 0) step += kFullTurn;
    // Still below 0: one of the two azimuths lies past 360 degrees, which no
    // turn of the sensor has; it says nothing about the step.
    if (step < 0 || step >= kLongestStep) continue;
    sum += step;
    ++steps;
  }
  // No steps, or none that moved: nothing to divide by.
  if (sum == 0) return kDefaultPacketsPerFrame;
  // 360 degrees over the mean step (sum / steps hundredths), truncated.
  return static_cast<int>(kFullTurn * steps / sum) + kPacketsPerFrameMargin;
}

FrameTotal frameTotalOf(std::size_t packetCount, int packetsPerFrame) {
  const auto perFrame = static_cast<std::size_t>(packetsPerFrame >= 1 ? packetsPerFrame : kDefaultPacketsPerFrame);
  FrameTotal frames;
  frames.total = packetCount / perFrame;
  frames.remainder = packetCount % perFrame;
  if (frames.remainder != 0) ++frames.total;
  return frames;
}

}  // namespace z540k
