// Classic pcap capture files: reading the UDP datagrams they hold, and writing
// datagrams as a capture of the sensor would have them.
//
// The reader knows nothing of the sensor's formats: it yields UDP payloads
// with their addresses, ports and capture time, found through the file's link
// type (Ethernet, Linux cooked v1 and v2, BSD loopback/null, raw IPv4). The
// payload bytes stay where they are (the file is mapped), so reading is one
// pass with no copy. The one sensor rule it carries is the loading rule of the
// capture player, for Ethernet captures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataPacketList.h"

namespace z540k {

// One UDP datagram of a capture.
struct CapturedDatagram {
  const std::uint8_t* payload = nullptr;  // points into the reader's mapping
  std::size_t size = 0;                   // UDP payload bytes present in the record
  std::uint32_t sourceIp = 0;             // IPv4, host byte order (127.0.0.2 = 0x7F000002)
  std::uint32_t destIp = 0;
  std::uint16_t sourcePort = 0;
  std::uint16_t destPort = 0;
  std::int64_t seconds = 0;               // capture time
  std::uint32_t microseconds = 0;         // (nanosecond files are rounded down to µs)
  std::uint64_t recordIndex = 0;          // 0-based position among all records of the file
};

// Link types the reader understands (the values of the pcap header).
enum class LinkType : std::uint32_t {
  Null = 0,           // BSD loopback: 4-byte address family in the writer's byte order
  Ethernet = 1,
  Raw = 101,          // raw IPv4/IPv6 (files of link type 228, raw IPv4 only, read as this)
  LinuxCooked = 113,  // SLL, 16-byte header (tcpdump -i any, older libpcap)
  LinuxCooked2 = 276, // SLL2, 20-byte header (tcpdump -i any, libpcap 1.10+)
};

class CaptureReader {
 public:
  CaptureReader();
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Opens and checks the file header. On failure returns false and `error()`
  // says why in one line: missing or unreadable, empty, not a capture, a
  // pcapng file, an unknown link type, an absurd snapshot length.
  bool open(const std::string& path);
  // The same over bytes already in memory (tests, fuzzing); they must outlive
  // the reader.
  bool openMemory(const std::uint8_t* data, std::size_t size);
  const std::string& error() const { return error_; }
  LinkType linkType() const { return linkType_; }

  // The next UDP-over-IPv4 datagram in file order; records that are not
  // (other protocols, fragments, IPv6, ARP ...) are passed over. Returns
  // false at the end of the file or at damage: a record truncated mid-way or
  // with an absurd length ends the reading, the datagrams before it have been
  // delivered, and `damage()` describes it (empty for a clean end).
  bool next(CapturedDatagram& out);
  const std::string& damage() const { return damage_; }

  // Progress of the pass, for the caller's display.
  std::uint64_t bytesRead() const { return offset_; }
  std::uint64_t fileSize() const { return size_; }
  std::uint64_t recordsRead() const { return records_; }

  // The capture player's loading rule, for Ethernet captures: the next record
  // whose captured length is 1248 (Ethernet 14 + IPv4 20 + UDP 8 + 1206) and
  // whose bytes 42 and 43 are FF EE, whatever its port; `payload` points at
  // its byte 42 and `size` is 1206. For the other link types: the next UDP
  // payload of exactly 1206 bytes starting FF EE. Ends like next().
  bool nextDataPacket(CapturedDatagram& out);

  // The mapping of a file opened with open(): it stays mapped while the
  // returned owner lives, after the reader is reopened or destroyed, so the
  // payloads handed out stay readable. Empty when nothing is mapped (after
  // openMemory, or a failed open).
  std::shared_ptr<const void> mappedFile() const { return mapping_; }

 private:
  struct Record;
  bool nextRecord(Record& record);
  bool udpOf(const Record& record, CapturedDatagram& out) const;
  bool fail(const std::string& reason);
  bool endWithDamage(const std::string& what);
  bool checkFileHeader();
  void release();

  std::string name_;  // the path, or a stand-in for bytes in memory, for messages
  std::shared_ptr<const void> mapping_;  // unmapped when the last owner lets go
  bool ended_ = true;  // nothing open, end of file reached, or damage found
  std::uint32_t recordLengthLimit_ = 0;
  std::string error_;
  std::string damage_;
  LinkType linkType_ = LinkType::Ethernet;
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t records_ = 0;
  bool swapped_ = false;
  bool nanoseconds_ = false;
  std::uint32_t snapLength_ = 0;
};

// Loads a capture's sensor data packets for the player, in file order, by
// nextDataPacket()'s rule, in one pass over the mapped file: the list points
// at the payloads where they lie and keeps the mapping alive, so it costs a
// pointer per packet, not the file. `progress` (may be empty) is called now
// and then, and once at the end, with the bytes read so far and the file
// size; when it returns false the load stops. Returns false with a one-line
// reason in `error` (and an empty list) when the file cannot be read or the
// load was stopped; damage after some records keeps the packets before it and
// is described in `damage`. Any thread may load, into a list that no other
// thread reads meanwhile.
using LoadProgress = std::function<bool(std::uint64_t bytesRead, std::uint64_t fileSize)>;
bool loadDataPackets(const std::string& path, DataPacketList& list, std::string& error, std::string& damage,
                     const LoadProgress& progress = {});

// Writes datagrams into a classic pcap file (microsecond time stamps,
// Ethernet link type) with Ethernet, IPv4 (valid header checksum) and UDP
// headers as a capture of the sensor would have them; Wireshark and tcpdump
// open it.
class CaptureWriter {
 public:
  CaptureWriter();
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  bool open(const std::string& path);  // truncates; false with error() on failure
  const std::string& error() const { return error_; }
  // Appends one datagram (payload of at most 65507 bytes) with its capture
  // time. Returns false (and sets error()) when writing fails.
  bool write(const std::uint8_t* payload, std::size_t size, std::uint32_t sourceIp, std::uint16_t sourcePort,
             std::uint32_t destIp, std::uint16_t destPort, std::int64_t seconds, std::uint32_t microseconds);
  bool close();  // flushes; false if anything failed

 private:
  bool fail(const std::string& what);

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's buffer; lives until the stream is closed
  std::string path_;
  std::string error_;
  std::uint16_t ipIdentification_ = 0;
};

}  // namespace z540k
