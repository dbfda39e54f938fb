// The capture player's packet list.
#include "DataPacketList.h"

#include <utility>

#include "PacketFormat.h"
#include "PacketSource.h"

namespace z540k {

DataPacketList::DataPacketList() = default;

DataPacketList::DataPacketList(std::shared_ptr<const PacketSource> source, std::vector<std::uint64_t> offsets,
                               RevolutionIndex revolutions, std::vector<std::int64_t> times)
    : source_(std::move(source)),
      offsets_(std::move(offsets)),
      revolutions_(std::move(revolutions)),
      times_(std::move(times)) {}

DataPacketList DataPacketList::fromBytes(std::vector<std::uint8_t> bytes) {
  const std::size_t packets = bytes.size() / kDataPacketSize;
  std::vector<std::uint64_t> offsets;
  offsets.reserve(packets);
  RevolutionIndex revolutions;
  for (std::size_t i = 0; i < packets; ++i) {
    const std::uint8_t* packet = bytes.data() + i * kDataPacketSize;
    if (!isDataPacket(packet, kDataPacketSize)) continue;
    offsets.push_back(i * kDataPacketSize);
    revolutions.addPacket(packet);
  }
  return DataPacketList(PacketSource::ofBytes(std::move(bytes)), std::move(offsets), std::move(revolutions));
}

bool DataPacketList::read(std::size_t i, std::uint8_t* out, std::string& error) const {
  if (!source_->readAt(offsets_[i], out, kDataPacketSize, error)) return false;
  // The packet was listed because it starts FF EE; other bytes there mean
  // the file was rewritten in a way its size and time do not show.
  if (source_->fd() >= 0 && !isDataPacket(out, kDataPacketSize)) {
    error = source_->changedMessage();
    return false;
  }
  return true;
}

bool DataPacketList::unchanged(std::string& error) const {
  if (!source_ || source_->unchanged()) return true;
  error = source_->changedMessage();
  return false;
}

}  // namespace z540k
