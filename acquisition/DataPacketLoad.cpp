// The capture player's loading rule and the load of a capture's data
// packets for the player.
#include "DataPacketLoad.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "PacketFormat.h"
#include "PacketSource.h"
#include "RevolutionIndex.h"

namespace z540k {

namespace {

// A data packet of the sensor in an Ethernet capture: Ethernet 14 + IPv4 20 +
// UDP 8 + 1206 captured bytes, the payload at byte 42.
constexpr std::size_t kEthernetHeaderSize = 14;
constexpr std::size_t kIpv4MinHeaderSize = 20;
constexpr std::size_t kUdpHeaderSize = 8;
constexpr std::size_t kDataPacketPayloadOffset = kEthernetHeaderSize + kIpv4MinHeaderSize + kUdpHeaderSize;
constexpr std::size_t kDataPacketRecordLength = kDataPacketPayloadOffset + kDataPacketSize;
// Its sender: the IPv4 source address (bytes 26..29) and UDP source port (34..35).
constexpr std::size_t kIpv4SourceOffset = 12;
constexpr std::size_t kDataPacketSourceIpOffset = kEthernetHeaderSize + kIpv4SourceOffset;
constexpr std::size_t kDataPacketSourcePortOffset = kEthernetHeaderSize + kIpv4MinHeaderSize;
// The fewest file bytes one data packet can take, whatever the link type (raw
// IPv4 without options) and format; loadDataPackets reserves by it.
constexpr std::size_t kMinDataPacketFootprint =
    kMinRecordFraming + kIpv4MinHeaderSize + kUdpHeaderSize + kDataPacketSize;
// How often a load reports its progress, and so how soon it notices a cancel.
constexpr std::uint64_t kProgressEveryBytes = 4u * 1024 * 1024;

// `full` false: of an Ethernet data packet only the payload, its offset,
// the record index, the capture time and the source address and port
// (from their fixed places in the frame) are filled (all that the load
// needs).
bool nextDataPacket(CaptureReader& reader, CapturedDatagram& out, bool full) {
  CaptureReader::Record record;
  while (reader.nextRecord(record)) {
    if (record.linkType != LinkType::Ethernet) {
      if (reader.udpOf(record, out) && isDataPacket(out.payload, out.size)) return true;
      continue;
    }
    // The player's rule looks at fixed places of an Ethernet record, whatever
    // its headers say: the addresses and ports are filled when the headers
    // are plain Ethernet/IPv4/UDP, left 0 otherwise.
    if (record.capturedLength != kDataPacketRecordLength) continue;
    const std::uint8_t* payload = record.bytes + kDataPacketPayloadOffset;
    if (!isDataPacket(payload, kDataPacketSize)) continue;
    CapturedDatagram found;
    if (!full || !reader.udpOf(record, found)) {
      // The sensor that sent it, at its fixed places in the frame.
      found = CapturedDatagram{};
      found.sourceIp = loadBE32(record.bytes + kDataPacketSourceIpOffset);
      found.sourcePort = loadBE16(record.bytes + kDataPacketSourcePortOffset);
    }
    out = found;
    out.payload = payload;
    out.size = kDataPacketSize;
    CaptureReader::timeOf(record, out.seconds, out.microseconds);
    out.recordIndex = record.index;
    out.payloadOffset = record.offset + kDataPacketPayloadOffset;
    return true;
  }
  return false;
}

// A source's list as the load builds it.
struct Building {
  SensorAddress source;
  std::vector<std::uint64_t> offsets;
  std::vector<std::int64_t> times;
  RevolutionIndex revolutions;
};

// One pass over a capture that lists its data packets, all in one list or one
// list per source.
bool loadPackets(const std::string& path, bool bySource, std::vector<SensorPackets>& lists, std::string& error,
                 std::string& damage, const LoadProgress& progress) {
  lists.clear();
  error.clear();
  damage.clear();
  CaptureReader reader;
  if (!reader.open(path)) {
    error = reader.error();
    return false;
  }
  // The list reads each packet from the file again when it is played; a
  // capture piped in is gone once read.
  if (!reader.source()) {
    error = "standard input: a capture to play must be a file; name it";
    return false;
  }
  // No data packet takes fewer file bytes than kMinDataPacketFootprint, so
  // this bounds the list: it never grows while loading, and pages of it
  // that no packet fills are never touched. The first source gets the
  // bound; the lists of further sources (rare) grow as they go.
  const std::uint64_t mostPackets = reader.fileSize() / kMinDataPacketFootprint;
  std::vector<Building> building(1);
  try {
    building[0].offsets.reserve(static_cast<std::size_t>(mostPackets));
    building[0].times.reserve(static_cast<std::size_t>(mostPackets));
  } catch (const std::exception&) {
    error = path + ": not enough memory to list up to " + std::to_string(mostPackets) + " data packets";
    return false;
  }
  const auto cancelled = [&] {
    error = path + ": loading was cancelled";
    return false;
  };
  std::size_t sources = 0, current = 0;
  std::uint64_t nextProgress = kProgressEveryBytes;
  CapturedDatagram packet;
  while (nextDataPacket(reader, packet, false)) {
    const SensorAddress from{bySource ? packet.sourceIp : 0, bySource ? packet.sourcePort : std::uint16_t{0}};
    if (sources == 0 || building[current].source != from) {
      current = 0;
      while (current < sources && building[current].source != from) ++current;
      if (current == sources) {
        if (sources == building.size()) building.emplace_back();
        building[current].source = from;
        ++sources;
      }
    }
    building[current].offsets.push_back(packet.payloadOffset);
    building[current].times.push_back(packet.seconds * 1000000 + packet.microseconds);
    building[current].revolutions.addPacket(packet.payload);
    if (progress && reader.bytesRead() >= nextProgress) {
      if (!progress(reader.bytesRead(), reader.fileSize())) return cancelled();
      nextProgress = reader.bytesRead() + kProgressEveryBytes;
    }
  }
  if (progress && !progress(reader.bytesRead(), reader.fileSize())) return cancelled();
  // Offsets into a file that changed would play another file's bytes.
  if (reader.changedOnDisk() || !reader.source()->unchanged()) {
    error = reader.source()->changedMessage();
    return false;
  }
  damage = reader.damage();
  // With no packet there is nothing to keep the file open for.
  for (std::size_t i = 0; i < sources; ++i) {
    Building& b = building[i];
    // A capture mostly of other traffic: give back what the bound overshot.
    if (b.offsets.capacity() / 2 > b.offsets.size()) {
      try {
        b.offsets.shrink_to_fit();
        b.times.shrink_to_fit();
      } catch (const std::exception&) {
      }
    }
    lists.push_back({b.source, DataPacketList(reader.source(), std::move(b.offsets), std::move(b.revolutions),
                                              std::move(b.times))});
  }
  std::stable_sort(lists.begin(), lists.end(), [](const SensorPackets& a, const SensorPackets& b) {
    return a.packets.count() > b.packets.count();
  });
  return true;
}

}  // namespace

bool nextDataPacket(CaptureReader& reader, CapturedDatagram& out) { return nextDataPacket(reader, out, true); }

bool loadDataPackets(const std::string& path, DataPacketList& list, std::string& error, std::string& damage,
                     const LoadProgress& progress) {
  std::vector<SensorPackets> lists;
  const bool loaded = loadPackets(path, false, lists, error, damage, progress);
  list = lists.empty() ? DataPacketList() : std::move(lists.front().packets);
  return loaded;
}

bool loadSensorPackets(const std::string& path, std::vector<SensorPackets>& lists, std::string& error,
                       std::string& damage, const LoadProgress& progress) {
  return loadPackets(path, true, lists, error, damage, progress);
}

}  // namespace z540k
