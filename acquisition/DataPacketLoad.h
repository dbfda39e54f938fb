// The capture player's loading rule: which records of a capture file are the
// sensor's data packets, and the load that lists them for the player in one
// pass over the file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CaptureFile.h"
#include "DataPacketList.h"
#include "SensorSources.h"

namespace z540k {

// The capture player's loading rule, for Ethernet captures (and Ethernet
// interfaces of pcapng files): the next record whose captured length is
// 1248 (Ethernet 14 + IPv4 20 + UDP 8 + 1206) and whose bytes 42 and 43
// are FF EE, whatever its port; `payload` points at its byte 42 and `size`
// is 1206. For the other link types: the next UDP payload of exactly 1206
// bytes starting FF EE. Ends like the reader's next().
bool nextDataPacket(CaptureReader& reader, CapturedDatagram& out);

// Loads a capture's sensor data packets for the player, in file order, by
// nextDataPacket()'s rule, in one pass over the file: the list keeps the file
// open and the offset and capture time of each packet (16 bytes a packet, not the file), and
// the revolutions found over the packets. `progress` (may be empty) is called
// now and then, and once at the end, with the bytes read so far and the file
// size; when it returns false the load stops. Returns false with a one-line
// reason in `error` (and an empty list) when the file cannot be read, changed
// on disk during the load ("PATH changed on disk after it was opened") or the
// load was stopped, and for standard input ("-"), which leaves no file to play
// from; damage after some records keeps the packets before it
// and is described in `damage`. Any thread may load, into a list that no
// other thread reads meanwhile.
using LoadProgress = std::function<bool(std::uint64_t bytesRead, std::uint64_t fileSize)>;
bool loadDataPackets(const std::string& path, DataPacketList& list, std::string& error, std::string& damage,
                     const LoadProgress& progress = {});

// The data packets of one sensor of a capture: its source address and port,
// and its packets as loadDataPackets() lists them.
struct SensorPackets {
  SensorAddress source;
  DataPacketList packets;
};

// The same load, one list per source (most packets first; equal counts in
// the order the sources first appear), still in one pass: a capture of one
// sensor gives one list equal to loadDataPackets()'s. Results as loadDataPackets();
// `lists` is empty when the load fails or the capture holds no data packet.
bool loadSensorPackets(const std::string& path, std::vector<SensorPackets>& lists, std::string& error,
                       std::string& damage, const LoadProgress& progress = {});

}  // namespace z540k
