// Capture files, classic pcap and pcapng: reading the records and UDP
// datagrams they hold, and writing datagrams as a network capture has them.
//
// The reader knows nothing of what the datagrams carry: it yields each
// record's frame with its link type, capture time and place in the file, and
// the UDP payloads with their addresses and ports, found through the link
// type (Ethernet, Linux cooked v1 and v2, BSD loopback/null, raw IPv4) of the
// file or, in a pcapng file, of the interface that captured the packet. A
// file is read in one forward pass through a buffer of the reader's own;
// nothing is mapped, so another program shortening or rewriting the file
// while it is read is reported, never a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace z540k {

// One UDP datagram of a capture.
struct CapturedDatagram {
  // Points into the reader's buffer (or into the bytes given to openMemory):
  // valid until the next call of the reader that read it. Copy what you keep.
  const std::uint8_t* payload = nullptr;
  std::size_t size = 0;        // UDP payload bytes present in the record
  std::uint32_t sourceIp = 0;  // IPv4, host byte order (127.0.0.2 = 0x7F000002)
  std::uint32_t destIp = 0;
  std::uint16_t sourcePort = 0;
  std::uint16_t destPort = 0;
  std::int64_t seconds = 0;         // capture time
  std::uint32_t microseconds = 0;   // (finer time stamps are rounded down to µs)
  std::uint64_t recordIndex = 0;    // 0-based position among all records (packet blocks) of the file
  std::uint64_t payloadOffset = 0;  // byte offset of the payload in the file
  // The whole record (classic record header and data, or pcapng block):
  // its first byte in the file and the byte after it (next() fills them).
  std::uint64_t recordStart = 0;
  std::uint64_t recordEnd = 0;
};

// Link types the reader understands (the values of the pcap header and of
// pcapng interface descriptions).
enum class LinkType : std::uint32_t {
  Null = 0,  // BSD loopback: 4-byte address family in the writer's byte order
  Ethernet = 1,
  Raw = 101,           // raw IPv4/IPv6 (files of link type 228, raw IPv4 only, read as this)
  LinuxCooked = 113,   // SLL, 16-byte header (tcpdump -i any, older libpcap)
  LinuxCooked2 = 276,  // SLL2, 20-byte header (tcpdump -i any, libpcap 1.10+)
};

// The fewest bytes of the file a record takes besides its captured bytes,
// whatever the format: a classic record header and a pcapng simple packet
// block's framing are both 16 bytes.
constexpr std::size_t kMinRecordFraming = 16;

class PacketSource;

class CaptureReader {
  struct Interface;  // a pcapng interface description, as the reader keeps it

 public:
  // One record (packet block) of a readable link type, as the file holds it.
  struct Record {
    // The captured bytes of the frame, from its link-layer header on; they
    // point into the reader's buffer as a datagram's payload does.
    const std::uint8_t* bytes = nullptr;
    std::uint32_t capturedLength = 0;
    LinkType linkType = LinkType::Ethernet;
    std::uint64_t index = 0;   // 0-based position among all records (packet blocks) of the file
    std::uint64_t offset = 0;  // of bytes[0] in the file
    std::uint64_t start = 0;   // the record's (or block's) first byte in the file
    std::uint64_t end = 0;     // the byte after it
    // The capture time, read through timeOf(): seconds and microseconds of a
    // classic record or a simple packet block; of other pcapng packets the
    // time stamp in its interface's units, turned into seconds only when
    // asked for (`interface` set).
    std::int64_t seconds = 0;
    std::uint32_t microseconds = 0;
    std::uint64_t stamp = 0;
    const Interface* interface = nullptr;
  };

  CaptureReader();
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Opens and checks the file header (classic pcap) or the first section
  // header and the interface descriptions after it (pcapng). On failure
  // returns false and `error()` says why in one line: missing or unreadable,
  // not a regular file, empty, not a capture, an unknown link type, an
  // absurd snapshot length. "-" reads the capture from standard input to
  // its end first, held in memory (a pipe cannot be read twice).
  bool open(const std::string& path);
  // The same over bytes already in memory (tests, fuzzing); they must outlive
  // the reader, and payloads point into them.
  bool openMemory(const std::uint8_t* data, std::size_t size);
  const std::string& error() const { return error_; }
  // The file's link type; in a pcapng file, that of its first interface.
  LinkType linkType() const { return linkType_; }
  bool isPcapng() const { return pcapng_; }
  // pcapng section headers and interface descriptions read so far.
  std::uint64_t describingBlocks() const { return describingBlocks_; }

  // The next UDP-over-IPv4 datagram in file order; records that are not
  // (other protocols, fragments, IPv6, ARP, packets of an interface of
  // another link type ...) are passed over. Returns false at the end of the
  // file or at damage: a record or block truncated mid-way or with an absurd
  // length ends the reading, the datagrams before it have been delivered,
  // and `damage()` describes it (empty for a clean end).
  bool next(CapturedDatagram& out);
  const std::string& damage() const { return damage_; }

  // True when the reading ended because the file is no longer as it was
  // opened: it ends before the size it had, its size or modification time
  // changed, or its path names another file (checked at every refill of the
  // buffer). `damage()` is then "PATH changed on disk after it was opened";
  // the datagrams read before have been delivered.
  bool changedOnDisk() const { return changed_; }

  // Called after every refill of the buffer from the file (tests change the
  // file from it).
  void setRefillObserver(std::function<void()> observer) { refillObserver_ = std::move(observer); }

  // Progress of the pass, for the caller's display.
  std::uint64_t bytesRead() const { return offset_; }
  std::uint64_t fileSize() const { return size_; }
  std::uint64_t recordsRead() const { return records_; }

  // The next record of a readable link type in file order, whatever it
  // carries (records of a pcapng interface of another link type are passed
  // over). Ends like next().
  bool nextRecord(Record& record);
  // The record's capture time (finer time stamps rounded down to µs).
  static void timeOf(const Record& record, std::int64_t& seconds, std::uint32_t& microseconds);
  // The UDP-over-IPv4 datagram the record carries, with its capture time and
  // places in the file, into `out`; false (and `out` left alone) when it
  // carries none.
  bool udpOf(const Record& record, CapturedDatagram& out) const;

  // The file being read, for whoever reads its bytes again later (null for
  // bytes in memory and standard input).
  const std::shared_ptr<const PacketSource>& source() const { return file_; }

 private:
  bool nextClassicRecord(Record& record);
  bool nextPcapngRecord(Record& record, bool header = false);
  bool fail(const std::string& reason);
  bool endWithDamage(const std::string& what);
  bool endWithBlockDamage(const std::string& what);
  bool endChanged();
  bool checkFileHeader();
  bool checkClassicHeader();
  bool checkPcapngHeader();
  bool ensure(std::size_t bytes);
  bool refill(std::size_t bytes);
  const std::uint8_t* at() const { return window_ + (offset_ - windowOffset_); }
  bool sectionHeader(std::uint32_t length);
  bool interfaceDescription(std::uint32_t length);
  bool packetBlock(std::uint32_t type, std::uint32_t length, Record& record);
  void release();

  std::string name_;                          // the path, or a stand-in for bytes in memory, for messages
  std::shared_ptr<const PacketSource> file_;  // null for bytes in memory
  std::vector<std::uint8_t> stdinBytes_;      // a capture read from standard input
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::function<void()> refillObserver_;
  bool ended_ = true;  // nothing open, end of file reached, or damage found
  bool changed_ = false;
  std::uint32_t recordLengthLimit_ = 0;
  std::string error_;
  std::string damage_;
  LinkType linkType_ = LinkType::Ethernet;
  // The bytes at hand: window_[0 .. windowSize_) are the file's bytes from
  // windowOffset_ on (the buffer, or the whole of the bytes in memory).
  const std::uint8_t* window_ = nullptr;
  std::uint64_t windowOffset_ = 0;
  std::size_t windowSize_ = 0;
  std::uint64_t size_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t records_ = 0;
  std::uint64_t blocks_ = 0;
  std::uint64_t describingBlocks_ = 0;
  bool pcapng_ = false;
  bool swapped_ = false;
  bool nanoseconds_ = false;
  std::uint32_t snapLength_ = 0;
  std::vector<Interface> interfaces_;
};

// Writes datagrams into a classic pcap file (microsecond time stamps,
// Ethernet link type) with Ethernet, IPv4 (valid header checksum) and UDP
// headers as a network capture has them; Wireshark and tcpdump open it.
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
