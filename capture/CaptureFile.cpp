// Classic pcap capture files: the reader over a read-only mapping, the
// player's loading rule, and the writer.
//
// File layout (every field in the writer's byte order, told by the magic):
//   file header, 24 bytes: magic, version 2.4, time zone, accuracy, snapshot
//     length, link type;
//   then records: a 16-byte header (seconds, microseconds or nanoseconds,
//     captured length, original length) followed by the captured bytes.
#include "CaptureFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

#include "PacketFormat.h"

namespace z540k {

namespace {

// ---- File header -------------------------------------------------------------
constexpr std::size_t kFileHeaderSize = 24;
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kVersionMajorOffset = 4;
constexpr std::size_t kVersionMinorOffset = 6;
constexpr std::size_t kSnapLengthOffset = 16;
constexpr std::size_t kLinkTypeOffset = 20;
constexpr std::uint16_t kVersionMajor = 2;
constexpr std::uint16_t kVersionMinor = 4;

// The magic as read little-endian: a file written on a little-endian machine
// reads as the first value, one from a big-endian machine as the swapped one.
constexpr std::uint32_t kMagicMicroseconds = 0xA1B2C3D4;
constexpr std::uint32_t kMagicNanoseconds = 0xA1B23C4D;
constexpr std::uint32_t kMagicMicrosecondsSwapped = 0xD4C3B2A1;
constexpr std::uint32_t kMagicNanosecondsSwapped = 0x4D3CB2A1;
// A pcapng file starts with its section header block type, the same in both
// byte orders.
constexpr std::uint32_t kPcapngSectionHeader = 0x0A0D0D0A;

// The link type is the low 16 bits; newer writers keep the frame check
// sequence length in the high bits.
constexpr std::uint32_t kLinkTypeMask = 0xFFFF;
constexpr std::uint32_t kLinkTypeIPv4 = 228;  // raw IPv4 only

// ---- Record header -----------------------------------------------------------
constexpr std::size_t kRecordHeaderSize = 16;
constexpr std::size_t kRecordSecondsOffset = 0;
constexpr std::size_t kRecordFractionOffset = 4;
constexpr std::size_t kRecordCapturedLengthOffset = 8;
constexpr std::size_t kRecordOriginalLengthOffset = 12;

// No network capture holds a longer record (libpcap refuses longer ones for
// every link type that carries IP); a longer length is a damaged header.
constexpr std::uint32_t kMaxRecordLength = 262144;
// Some writers put a few bytes more into a record than their snapshot length
// allows; twice the snapshot length is past any such slip.
constexpr std::uint32_t kSnapLengthSlack = 2;
// A snapshot length beyond this cannot come from a network capture: the
// header is garbage.
constexpr std::uint32_t kMaxSnapLength = 16u * 1024 * 1024;

// ---- Link layers -------------------------------------------------------------
constexpr std::uint16_t kEtherTypeIPv4 = 0x0800;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;  // 802.1Q

constexpr std::size_t kEthernetHeaderSize = 14;
constexpr std::size_t kEthernetTypeOffset = 12;
constexpr std::size_t kVlanTagSize = 4;

// tcpdump -i any writes the Linux cooked header: v1 ends with the protocol,
// v2 starts with it.
constexpr std::size_t kCookedHeaderSize = 16;
constexpr std::size_t kCookedProtocolOffset = 14;
constexpr std::size_t kCooked2HeaderSize = 20;
constexpr std::size_t kCooked2ProtocolOffset = 0;

// BSD loopback: the address family in the byte order of the machine that
// wrote it; AF_INET is 2 on every system.
constexpr std::size_t kNullHeaderSize = 4;
constexpr std::uint32_t kNullFamilyInet = 2;

// ---- IPv4 and UDP ------------------------------------------------------------
constexpr std::size_t kIpv4MinHeaderSize = 20;
constexpr std::size_t kIpv4VersionIhlOffset = 0;
constexpr std::size_t kIpv4TotalLengthOffset = 2;
constexpr std::size_t kIpv4IdentificationOffset = 4;
constexpr std::size_t kIpv4FragmentOffset = 6;
constexpr std::size_t kIpv4TtlOffset = 8;
constexpr std::size_t kIpv4ProtocolOffset = 9;
constexpr std::size_t kIpv4ChecksumOffset = 10;
constexpr std::size_t kIpv4SourceOffset = 12;
constexpr std::size_t kIpv4DestOffset = 16;
constexpr std::uint16_t kIpv4FragmentOffsetMask = 0x1FFF;
constexpr std::uint16_t kIpv4DontFragment = 0x4000;
constexpr std::uint8_t kIpv4VersionIhl = 0x45;  // version 4, 5 words
constexpr std::uint8_t kIpv4Ttl = 64;
constexpr std::uint8_t kIpProtocolUdp = 17;

constexpr std::size_t kUdpHeaderSize = 8;
constexpr std::size_t kUdpSourcePortOffset = 0;
constexpr std::size_t kUdpDestPortOffset = 2;
constexpr std::size_t kUdpLengthOffset = 4;
constexpr std::size_t kUdpChecksumOffset = 6;
constexpr std::size_t kMaxUdpPayload = 65507;  // 65535 - IPv4 20 - UDP 8

// ---- The capture player's loading rule ---------------------------------------
// A data packet of the sensor in an Ethernet capture: Ethernet 14 + IPv4 20 +
// UDP 8 + 1206 captured bytes, the payload at byte 42.
constexpr std::size_t kDataPacketPayloadOffset = kEthernetHeaderSize + kIpv4MinHeaderSize + kUdpHeaderSize;
constexpr std::size_t kDataPacketRecordLength = kDataPacketPayloadOffset + kDataPacketSize;
// The fewest file bytes one data packet can take, whatever the link type (raw
// IPv4 without options); loadDataPackets reserves by it.
constexpr std::size_t kMinDataPacketFootprint = kRecordHeaderSize + kIpv4MinHeaderSize + kUdpHeaderSize + kDataPacketSize;
// How often a load reports its progress, and so how soon it notices a cancel.
constexpr std::uint64_t kProgressEveryBytes = 4u * 1024 * 1024;

// ---- Writer ------------------------------------------------------------------
constexpr std::uint32_t kWriterSnapLength = 65535;
constexpr std::size_t kWriterBufferSize = 1 << 20;
// Made-up, locally administered addresses: the sensor, and the host it sends to.
constexpr std::uint8_t kWriterSourceMac[6] = {0x02, 0x5A, 0x54, 0x00, 0x00, 0x02};
constexpr std::uint8_t kWriterDestMac[6] = {0x02, 0x5A, 0x54, 0x00, 0x00, 0x01};

std::uint32_t loadLE32Or(bool swapped, const std::uint8_t* p) { return swapped ? loadBE32(p) : loadLE32(p); }
std::uint16_t loadLE16Or(bool swapped, const std::uint8_t* p) { return swapped ? loadBE16(p) : loadLE16(p); }

void storeLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void storeLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void storeBE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
void storeBE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::string hexWord(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

const char* linkTypeName(std::uint32_t type) {
  switch (type) {
    case 6: return "IEEE 802.5 Token Ring";
    case 9: return "PPP";
    case 105: return "IEEE 802.11";
    case 108: return "OpenBSD loopback";
    case 127: return "IEEE 802.11 radiotap";
    case 189: return "Linux USB";
    case 229: return "raw IPv6";
    default: return nullptr;
  }
}

}  // namespace

// ============================================================================
// Reader

struct CaptureReader::Record {
  const std::uint8_t* bytes = nullptr;
  std::uint32_t capturedLength = 0;
  std::int64_t seconds = 0;
  std::uint32_t microseconds = 0;
  std::uint64_t index = 0;
};

CaptureReader::CaptureReader() = default;
CaptureReader::~CaptureReader() { release(); }

void CaptureReader::release() {
  mapping_.reset();
  data_ = nullptr;
  size_ = 0;
  offset_ = 0;
  records_ = 0;
  ended_ = true;
  error_.clear();
  damage_.clear();
}

bool CaptureReader::fail(const std::string& reason) {
  error_ = name_ + ": " + reason;
  ended_ = true;
  return false;
}

bool CaptureReader::endWithDamage(const std::string& what) {
  damage_ = name_ + ": record " + std::to_string(records_) + " at byte offset " + std::to_string(offset_) + ": " + what;
  ended_ = true;
  return false;
}

bool CaptureReader::open(const std::string& path) {
  release();
  name_ = path;
  // Non-blocking, so that a FIFO given by mistake does not hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(std::string("cannot open: ") + std::strerror(errno));
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    const int err = errno;
    ::close(fd);
    return fail(std::string("cannot read: ") + std::strerror(err));
  }
  if (S_ISDIR(status.st_mode)) {
    ::close(fd);
    return fail("is a directory, not a capture file");
  }
  if (!S_ISREG(status.st_mode)) {
    ::close(fd);
    return fail("is not a regular file");
  }
  if (status.st_size == 0) {
    ::close(fd);
    return fail("the file is empty");
  }
  const auto length = static_cast<std::size_t>(status.st_size);
  void* mapping = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
  const int err = errno;
  ::close(fd);
  if (mapping == MAP_FAILED) return fail(std::string("cannot map the file: ") + std::strerror(err));
  // One forward pass: let the kernel read ahead generously.
  madvise(mapping, length, MADV_SEQUENTIAL);
  mapping_ = std::shared_ptr<const void>(mapping, [length](const void* at) { munmap(const_cast<void*>(at), length); });
  data_ = static_cast<const std::uint8_t*>(mapping);
  size_ = length;
  return checkFileHeader();
}

bool CaptureReader::openMemory(const std::uint8_t* data, std::size_t size) {
  release();
  name_ = "capture in memory";
  if (size == 0 || data == nullptr) return fail("the capture is empty");
  data_ = data;
  size_ = size;
  return checkFileHeader();
}

bool CaptureReader::checkFileHeader() {
  const std::uint8_t* h = data_;
  if (size_ >= 4 && loadLE32(h + kMagicOffset) == kPcapngSectionHeader)
    return fail("pcapng files are not supported; convert with: editcap -F pcap IN OUT");
  if (size_ < 4) return fail("not a pcap capture file (" + std::to_string(size_) + " bytes)");

  const std::uint32_t magic = loadLE32(h + kMagicOffset);
  switch (magic) {
    case kMagicMicroseconds: swapped_ = false; nanoseconds_ = false; break;
    case kMagicNanoseconds: swapped_ = false; nanoseconds_ = true; break;
    case kMagicMicrosecondsSwapped: swapped_ = true; nanoseconds_ = false; break;
    case kMagicNanosecondsSwapped: swapped_ = true; nanoseconds_ = true; break;
    default: return fail("not a pcap capture file (starts with " + hexWord(loadBE32(h)) + ")");
  }
  if (size_ < kFileHeaderSize)
    return fail("the pcap file header is cut short (" + std::to_string(size_) + " of 24 bytes)");

  const std::uint16_t major = loadLE16Or(swapped_, h + kVersionMajorOffset);
  const std::uint16_t minor = loadLE16Or(swapped_, h + kVersionMinorOffset);
  if (major != kVersionMajor)
    return fail("unsupported pcap version " + std::to_string(major) + "." + std::to_string(minor));

  const std::uint32_t linkType = loadLE32Or(swapped_, h + kLinkTypeOffset) & kLinkTypeMask;
  switch (linkType) {
    case static_cast<std::uint32_t>(LinkType::Null):
    case static_cast<std::uint32_t>(LinkType::Ethernet):
    case static_cast<std::uint32_t>(LinkType::Raw):
    case static_cast<std::uint32_t>(LinkType::LinuxCooked):
    case static_cast<std::uint32_t>(LinkType::LinuxCooked2):
      linkType_ = static_cast<LinkType>(linkType);
      break;
    case kLinkTypeIPv4:
      linkType_ = LinkType::Raw;
      break;
    default: {
      const char* known = linkTypeName(linkType);
      return fail("unsupported link type " + std::to_string(linkType) +
                  (known ? std::string(" (") + known + ")" : std::string()) +
                  "; readable are Ethernet, Linux cooked v1/v2, BSD loopback and raw IP");
    }
  }

  snapLength_ = loadLE32Or(swapped_, h + kSnapLengthOffset);
  if (snapLength_ > kMaxSnapLength)
    return fail("absurd snapshot length " + std::to_string(snapLength_) + " (the header is damaged)");
  // A snapshot length of 0 means "no limit" to libpcap.
  const std::uint64_t bySnap =
      snapLength_ == 0 ? kMaxRecordLength : static_cast<std::uint64_t>(snapLength_) * kSnapLengthSlack;
  recordLengthLimit_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(bySnap, kMaxRecordLength));

  offset_ = kFileHeaderSize;
  records_ = 0;
  ended_ = false;
  return true;
}

bool CaptureReader::nextRecord(Record& record) {
  if (ended_) return false;
  const std::uint64_t left = size_ - offset_;
  if (left == 0) {
    ended_ = true;
    return false;
  }
  if (left < kRecordHeaderSize)
    return endWithDamage("record header cut short (" + std::to_string(left) + " of 16 bytes)");

  const std::uint8_t* h = data_ + offset_;
  const std::uint32_t captured = loadLE32Or(swapped_, h + kRecordCapturedLengthOffset);
  const std::uint32_t original = loadLE32Or(swapped_, h + kRecordOriginalLengthOffset);
  if (captured > recordLengthLimit_) {
    if (captured > kMaxRecordLength)
      return endWithDamage("absurd captured length " + std::to_string(captured) + " (more than " +
                           std::to_string(kMaxRecordLength) + ")");
    return endWithDamage("absurd captured length " + std::to_string(captured) + " (snapshot length " +
                         std::to_string(snapLength_) + ")");
  }
  if (captured > original)
    return endWithDamage("absurd captured length " + std::to_string(captured) + " (more than the original " +
                         std::to_string(original) + ")");
  if (left - kRecordHeaderSize < captured)
    return endWithDamage("record data cut short (" + std::to_string(left - kRecordHeaderSize) + " of " +
                         std::to_string(captured) + " bytes)");

  std::uint64_t seconds = loadLE32Or(swapped_, h + kRecordSecondsOffset);
  std::uint32_t fraction = loadLE32Or(swapped_, h + kRecordFractionOffset);
  if (nanoseconds_) fraction /= 1000;
  // A fraction of a second of a second or more is carried into the seconds.
  if (fraction >= 1000000) {
    seconds += fraction / 1000000;
    fraction %= 1000000;
  }

  record.bytes = h + kRecordHeaderSize;
  record.capturedLength = captured;
  record.seconds = static_cast<std::int64_t>(seconds);
  record.microseconds = fraction;
  record.index = records_;
  offset_ += kRecordHeaderSize + captured;
  ++records_;
  return true;
}

bool CaptureReader::udpOf(const Record& record, CapturedDatagram& out) const {
  const std::uint8_t* p = record.bytes;
  std::size_t n = record.capturedLength;

  // Step over the link layer to the IPv4 header.
  switch (linkType_) {
    case LinkType::Ethernet: {
      if (n < kEthernetHeaderSize) return false;
      std::uint16_t type = loadBE16(p + kEthernetTypeOffset);
      std::size_t header = kEthernetHeaderSize;
      if (type == kEtherTypeVlan) {
        if (n < kEthernetHeaderSize + kVlanTagSize) return false;
        type = loadBE16(p + kEthernetTypeOffset + kVlanTagSize);
        header += kVlanTagSize;
      }
      if (type != kEtherTypeIPv4) return false;
      p += header;
      n -= header;
      break;
    }
    case LinkType::LinuxCooked:
      if (n < kCookedHeaderSize || loadBE16(p + kCookedProtocolOffset) != kEtherTypeIPv4) return false;
      p += kCookedHeaderSize;
      n -= kCookedHeaderSize;
      break;
    case LinkType::LinuxCooked2:
      if (n < kCooked2HeaderSize || loadBE16(p + kCooked2ProtocolOffset) != kEtherTypeIPv4) return false;
      p += kCooked2HeaderSize;
      n -= kCooked2HeaderSize;
      break;
    case LinkType::Null:
      if (n < kNullHeaderSize) return false;
      if (loadLE32(p) != kNullFamilyInet && loadBE32(p) != kNullFamilyInet) return false;
      p += kNullHeaderSize;
      n -= kNullHeaderSize;
      break;
    case LinkType::Raw:
      break;
  }

  // IPv4: version 4, header length from IHL (options included).
  if (n < kIpv4MinHeaderSize) return false;
  const std::uint8_t versionIhl = p[kIpv4VersionIhlOffset];
  if ((versionIhl >> 4) != 4) return false;
  const std::size_t ipHeader = static_cast<std::size_t>(versionIhl & 0x0F) * 4;
  if (ipHeader < kIpv4MinHeaderSize || ipHeader > n) return false;
  if (p[kIpv4ProtocolOffset] != kIpProtocolUdp) return false;
  // Later fragments carry no UDP header.
  if ((loadBE16(p + kIpv4FragmentOffset) & kIpv4FragmentOffsetMask) != 0) return false;
  const std::uint32_t sourceIp = loadBE32(p + kIpv4SourceOffset);
  const std::uint32_t destIp = loadBE32(p + kIpv4DestOffset);
  p += ipHeader;
  n -= ipHeader;

  // UDP: the payload as long as the header says, but no longer than what was
  // captured (a short snapshot length, a first fragment).
  if (n < kUdpHeaderSize) return false;
  const std::uint16_t udpLength = loadBE16(p + kUdpLengthOffset);
  if (udpLength < kUdpHeaderSize) return false;
  out.payload = p + kUdpHeaderSize;
  out.size = std::min<std::size_t>(udpLength - kUdpHeaderSize, n - kUdpHeaderSize);
  out.sourceIp = sourceIp;
  out.destIp = destIp;
  out.sourcePort = loadBE16(p + kUdpSourcePortOffset);
  out.destPort = loadBE16(p + kUdpDestPortOffset);
  out.seconds = record.seconds;
  out.microseconds = record.microseconds;
  out.recordIndex = record.index;
  return true;
}

bool CaptureReader::next(CapturedDatagram& out) {
  Record record;
  while (nextRecord(record))
    if (udpOf(record, out)) return true;
  return false;
}

bool CaptureReader::nextDataPacket(CapturedDatagram& out) {
  if (linkType_ != LinkType::Ethernet) {
    while (next(out))
      if (isDataPacket(out.payload, out.size)) return true;
    return false;
  }
  // The player's rule looks at fixed places of the record, whatever its
  // headers say: the addresses and ports are filled when the headers are
  // plain Ethernet/IPv4/UDP, left 0 otherwise.
  Record record;
  while (nextRecord(record)) {
    if (record.capturedLength != kDataPacketRecordLength) continue;
    const std::uint8_t* payload = record.bytes + kDataPacketPayloadOffset;
    if (!isDataPacket(payload, kDataPacketSize)) continue;
    CapturedDatagram found;
    if (!udpOf(record, found)) found = CapturedDatagram{};
    out = found;
    out.payload = payload;
    out.size = kDataPacketSize;
    out.seconds = record.seconds;
    out.microseconds = record.microseconds;
    out.recordIndex = record.index;
    return true;
  }
  return false;
}

bool loadDataPackets(const std::string& path, DataPacketList& list, std::string& error, std::string& damage,
                     const LoadProgress& progress) {
  list = DataPacketList();
  error.clear();
  damage.clear();
  CaptureReader reader;
  if (!reader.open(path)) {
    error = reader.error();
    return false;
  }
  // No data packet takes fewer file bytes than kMinDataPacketFootprint, so
  // this bounds the list: it never grows while loading, and pages of it
  // that no packet fills are never touched.
  const std::uint64_t mostPackets = reader.fileSize() / kMinDataPacketFootprint;
  std::vector<const std::uint8_t*> packets;
  try {
    packets.reserve(static_cast<std::size_t>(mostPackets));
  } catch (const std::exception&) {
    error = path + ": not enough memory to list up to " + std::to_string(mostPackets) + " data packets";
    return false;
  }
  const auto cancelled = [&] {
    error = path + ": loading was cancelled";
    return false;
  };
  std::uint64_t nextProgress = kProgressEveryBytes;
  CapturedDatagram packet;
  while (reader.nextDataPacket(packet)) {
    packets.push_back(packet.payload);
    if (progress && reader.bytesRead() >= nextProgress) {
      if (!progress(reader.bytesRead(), reader.fileSize())) return cancelled();
      nextProgress = reader.bytesRead() + kProgressEveryBytes;
    }
  }
  if (progress && !progress(reader.bytesRead(), reader.fileSize())) return cancelled();
  damage = reader.damage();
  if (packets.empty()) return true;  // nothing to keep the file mapped for

  // A capture mostly of other traffic: give back what the bound overshot.
  if (packets.capacity() / 2 > packets.size()) {
    try {
      packets.shrink_to_fit();
    } catch (const std::exception&) {
    }
  }
  // Playback reads the packets again, in either direction, for as long as
  // the list lives: no longer a single forward pass.
  std::shared_ptr<const void> mapping = reader.mappedFile();
  madvise(const_cast<void*>(mapping.get()), static_cast<std::size_t>(reader.fileSize()), MADV_NORMAL);
  list = DataPacketList(std::move(mapping), std::move(packets));
  return true;
}

// ============================================================================
// Writer

CaptureWriter::CaptureWriter() = default;
CaptureWriter::~CaptureWriter() { close(); }

bool CaptureWriter::fail(const std::string& what) {
  // The first failure is the one worth reporting; later ones follow from it.
  if (error_.empty()) error_ = path_ + ": " + what;
  return false;
}

bool CaptureWriter::open(const std::string& path) {
  close();
  error_.clear();
  path_ = path;
  ipIdentification_ = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return fail(std::string("cannot create: ") + std::strerror(errno));
  // A large buffer: the sensor's 1248-byte records go out in few writes.
  buffer_.reset(new (std::nothrow) char[kWriterBufferSize]);
  if (buffer_) std::setvbuf(file_, buffer_.get(), _IOFBF, kWriterBufferSize);

  std::uint8_t header[kFileHeaderSize] = {};
  storeLE32(header + kMagicOffset, kMagicMicroseconds);
  storeLE16(header + kVersionMajorOffset, kVersionMajor);
  storeLE16(header + kVersionMinorOffset, kVersionMinor);
  storeLE32(header + kSnapLengthOffset, kWriterSnapLength);
  storeLE32(header + kLinkTypeOffset, static_cast<std::uint32_t>(LinkType::Ethernet));
  if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
    fail(std::string("cannot write: ") + std::strerror(errno));
    close();
    return false;
  }
  return true;
}

bool CaptureWriter::write(const std::uint8_t* payload, std::size_t size, std::uint32_t sourceIp,
                          std::uint16_t sourcePort, std::uint32_t destIp, std::uint16_t destPort,
                          std::int64_t seconds, std::uint32_t microseconds) {
  if (!file_) return fail("the capture file is not open");
  if (!error_.empty()) return false;
  if (size > kMaxUdpPayload)
    return fail("a datagram of " + std::to_string(size) + " bytes is larger than UDP can carry");
  if (size > 0 && payload == nullptr) return fail("datagram without bytes");
  seconds += microseconds / 1000000;
  microseconds %= 1000000;
  if (seconds < 0 || seconds > 0xFFFFFFFFll)
    return fail("time " + std::to_string(seconds) + " s is outside what a pcap file can hold");

  constexpr std::size_t kIpOffset = kRecordHeaderSize + kEthernetHeaderSize;
  constexpr std::size_t kUdpOffset = kIpOffset + kIpv4MinHeaderSize;
  constexpr std::size_t kHeadersSize = kUdpOffset + kUdpHeaderSize;
  std::uint8_t h[kHeadersSize] = {};
  const auto frameLength = static_cast<std::uint32_t>(kEthernetHeaderSize + kIpv4MinHeaderSize + kUdpHeaderSize + size);
  // Record header: every frame fits the snapshot length, so both lengths agree.
  storeLE32(h + kRecordSecondsOffset, static_cast<std::uint32_t>(seconds));
  storeLE32(h + kRecordFractionOffset, microseconds);
  storeLE32(h + kRecordCapturedLengthOffset, frameLength);
  storeLE32(h + kRecordOriginalLengthOffset, frameLength);

  std::uint8_t* ethernet = h + kRecordHeaderSize;
  std::memcpy(ethernet, kWriterDestMac, 6);
  std::memcpy(ethernet + 6, kWriterSourceMac, 6);
  storeBE16(ethernet + kEthernetTypeOffset, kEtherTypeIPv4);

  std::uint8_t* ip = h + kIpOffset;
  ip[kIpv4VersionIhlOffset] = kIpv4VersionIhl;
  storeBE16(ip + kIpv4TotalLengthOffset, static_cast<std::uint16_t>(kIpv4MinHeaderSize + kUdpHeaderSize + size));
  storeBE16(ip + kIpv4IdentificationOffset, ipIdentification_++);
  storeBE16(ip + kIpv4FragmentOffset, kIpv4DontFragment);
  ip[kIpv4TtlOffset] = kIpv4Ttl;
  ip[kIpv4ProtocolOffset] = kIpProtocolUdp;
  storeBE32(ip + kIpv4SourceOffset, sourceIp);
  storeBE32(ip + kIpv4DestOffset, destIp);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < kIpv4MinHeaderSize; i += 2) sum += loadBE16(ip + i);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  storeBE16(ip + kIpv4ChecksumOffset, static_cast<std::uint16_t>(~sum));

  std::uint8_t* udp = h + kUdpOffset;
  storeBE16(udp + kUdpSourcePortOffset, sourcePort);
  storeBE16(udp + kUdpDestPortOffset, destPort);
  storeBE16(udp + kUdpLengthOffset, static_cast<std::uint16_t>(kUdpHeaderSize + size));
  storeBE16(udp + kUdpChecksumOffset, 0);  // 0: no checksum, as IPv4 allows

  if (std::fwrite(h, 1, sizeof h, file_) != sizeof h || (size > 0 && std::fwrite(payload, 1, size, file_) != size))
    return fail(std::string("cannot write: ") + std::strerror(errno));
  return true;
}

bool CaptureWriter::close() {
  if (!file_) return error_.empty();
  if (std::fflush(file_) != 0) fail(std::string("cannot write: ") + std::strerror(errno));
  if (std::fclose(file_) != 0) fail(std::string("cannot close: ") + std::strerror(errno));
  file_ = nullptr;
  buffer_.reset();
  return error_.empty();
}

}  // namespace z540k
