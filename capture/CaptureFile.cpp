// Capture files: the reader (classic pcap and pcapng, read through a buffer
// of its own) and the writer.
//
// Classic pcap (every field in the writer's byte order, told by the magic):
//   file header, 24 bytes: magic, version 2.4, time zone, accuracy, snapshot
//     length, link type;
//   then records: a 16-byte header (seconds, microseconds or nanoseconds,
//     captured length, original length) followed by the captured bytes.
// pcapng: blocks of type, total length, body, total length again (fields in
// the byte order of their section, told by the section header's byte-order
// magic), the length a multiple of 4. A section header starts each section;
// interface descriptions give link type, snapshot length and time
// resolution; packets come in enhanced, simple or (obsolete) packet blocks.
#include "CaptureFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

#include "ByteOrder.h"
#include "PacketSource.h"

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

// ---- pcapng -----------------------------------------------------------------
constexpr std::uint32_t kBlockSectionHeader = 0x0A0D0D0A;  // the same in both byte orders
constexpr std::uint32_t kBlockInterface = 1;
constexpr std::uint32_t kBlockObsoletePacket = 2;
constexpr std::uint32_t kBlockSimplePacket = 3;
constexpr std::uint32_t kBlockEnhancedPacket = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t kByteOrderMagicSwapped = 0x4D3C2B1A;
constexpr std::uint16_t kPcapngVersionMajor = 1;
// Type, length, trailing length.
constexpr std::size_t kBlockFrameSize = 12;
constexpr std::size_t kBlockLengthOffset = 4;
// Section header: byte-order magic, version, section length (8 bytes).
constexpr std::size_t kSectionMinLength = 28;
constexpr std::size_t kSectionMagicOffset = 8;
constexpr std::size_t kSectionVersionMajorOffset = 12;
constexpr std::size_t kSectionVersionMinorOffset = 14;
// Interface description: link type (2), reserved (2), snapshot length, options.
constexpr std::size_t kInterfaceMinLength = 20;
constexpr std::size_t kInterfaceLinkTypeOffset = 8;
constexpr std::size_t kInterfaceSnapLengthOffset = 12;
constexpr std::size_t kInterfaceOptionsOffset = 16;
constexpr std::uint16_t kOptionEnd = 0;
constexpr std::uint16_t kOptionTimeResolution = 9;  // if_tsresol: 10^-n, or 2^-n with the top bit set
constexpr std::uint16_t kOptionTimeOffset = 14;     // if_tsoffset: seconds added to every time stamp
constexpr std::uint8_t kResolutionBinary = 0x80;
constexpr int kDefaultResolution = 6;  // microseconds
constexpr int kMaxDecimalResolution = 19;
constexpr int kMaxBinaryResolution = 63;
// Enhanced packet (and the obsolete packet block, whose interface field is
// 16 bits followed by a 16-bit drop count): interface, time stamp high and
// low, captured and original length, data.
constexpr std::size_t kPacketMinLength = 32;
constexpr std::size_t kPacketInterfaceOffset = 8;
constexpr std::size_t kPacketTimeHighOffset = 12;
constexpr std::size_t kPacketTimeLowOffset = 16;
constexpr std::size_t kPacketCapturedOffset = 20;
constexpr std::size_t kPacketDataOffset = 28;
// Simple packet: original length, data (captured length implied).
constexpr std::size_t kSimplePacketMinLength = 16;
constexpr std::size_t kSimplePacketOriginalOffset = 8;
constexpr std::size_t kSimplePacketDataOffset = 12;
// The fewest framing bytes of a record, as the header promises.
static_assert(kMinRecordFraming == kRecordHeaderSize && kMinRecordFraming == kSimplePacketMinLength);

// The reader's buffer: records and the blocks the reader looks into must fit
// in it; a longer block is damage. Blocks of other types are passed over
// without being read, whatever their length. Half a MiB: the bytes copied in
// are still in the core's cache when they are parsed (a buffer of several
// MiB makes a load of a large capture some 15% slower), and the file is
// checked for changes twice per MiB.
constexpr std::size_t kBufferSize = 512u << 10;

// ---- Writer ------------------------------------------------------------------
constexpr std::uint32_t kWriterSnapLength = 65535;
constexpr std::size_t kWriterBufferSize = 1 << 20;
// Made-up, locally administered addresses: the sender, and the host it sends to.
constexpr std::uint8_t kWriterSourceMac[6] = {0x02, 0x5A, 0x54, 0x00, 0x00, 0x02};
constexpr std::uint8_t kWriterDestMac[6] = {0x02, 0x5A, 0x54, 0x00, 0x00, 0x01};

std::uint32_t loadLE32Or(bool swapped, const std::uint8_t* p) { return swapped ? loadBE32(p) : loadLE32(p); }
std::uint16_t loadLE16Or(bool swapped, const std::uint8_t* p) { return swapped ? loadBE16(p) : loadLE16(p); }
std::uint64_t loadLE64Or(bool swapped, const std::uint8_t* p) {
  const std::uint64_t first = loadLE32Or(swapped, p), second = loadLE32Or(swapped, p + 4);
  return swapped ? first << 32 | second : second << 32 | first;
}

std::string hexWord(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

const char* linkTypeName(std::uint32_t type) {
  switch (type) {
    case 6:
      return "IEEE 802.5 Token Ring";
    case 9:
      return "PPP";
    case 105:
      return "IEEE 802.11";
    case 108:
      return "OpenBSD loopback";
    case 127:
      return "IEEE 802.11 radiotap";
    case 189:
      return "Linux USB";
    case 229:
      return "raw IPv6";
    default:
      return nullptr;
  }
}

// The link types the reader reads (the low 16 bits of the field), as read.
bool readableLinkType(std::uint32_t type, LinkType& out) {
  switch (type) {
    case static_cast<std::uint32_t>(LinkType::Null):
    case static_cast<std::uint32_t>(LinkType::Ethernet):
    case static_cast<std::uint32_t>(LinkType::Raw):
    case static_cast<std::uint32_t>(LinkType::LinuxCooked):
    case static_cast<std::uint32_t>(LinkType::LinuxCooked2):
      out = static_cast<LinkType>(type);
      return true;
    case kLinkTypeIPv4:
      out = LinkType::Raw;
      return true;
    default:
      return false;
  }
}

std::string unsupportedLinkType(std::uint32_t type) {
  const char* known = linkTypeName(type);
  return "unsupported link type " + std::to_string(type) + (known ? std::string(" (") + known + ")" : std::string()) +
         "; readable are Ethernet, Linux cooked v1/v2, BSD loopback and raw IP";
}

}  // namespace

// ============================================================================
// Reader

// A pcapng interface: how to read its packets, or that they are passed over.
struct CaptureReader::Interface {
  std::uint32_t type = 0;  // as described
  bool readable = false;
  LinkType linkType = LinkType::Ethernet;
  std::uint32_t snapLength = 0;  // 0: no limit
  bool binaryResolution = false;
  int resolution = kDefaultResolution;  // time stamp units of 10^-n (or 2^-n) seconds
  std::int64_t offsetSeconds = 0;
};

namespace {

std::uint64_t powerOfTen(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// A pcapng time stamp in its interface's units, as seconds and microseconds
// (rounded down); seconds saturate rather than wrap.
template <typename Interface>
void pcapngTime(std::uint64_t stamp, const Interface& i, std::int64_t& seconds, std::uint32_t& microseconds) {
  std::uint64_t whole = 0;
  if (i.binaryResolution) {
    whole = i.resolution == 0 ? stamp : stamp >> i.resolution;
    const std::uint64_t fraction = i.resolution == 0 ? 0 : stamp & ((std::uint64_t{1} << i.resolution) - 1);
    microseconds = static_cast<std::uint32_t>((static_cast<unsigned __int128>(fraction) * 1000000) >> i.resolution);
  } else if (i.resolution == 6) {  // the usual resolutions, with divisions the compiler makes cheap
    whole = stamp / 1000000;
    microseconds = static_cast<std::uint32_t>(stamp % 1000000);
  } else if (i.resolution == 9) {
    whole = stamp / 1000000000;
    microseconds = static_cast<std::uint32_t>(stamp % 1000000000 / 1000);
  } else {
    const std::uint64_t unit = powerOfTen(i.resolution);
    whole = stamp / unit;
    const std::uint64_t fraction = stamp % unit;
    microseconds = static_cast<std::uint32_t>(i.resolution <= 6 ? fraction * powerOfTen(6 - i.resolution)
                                                                : fraction / powerOfTen(i.resolution - 6));
  }
  const __int128 total = static_cast<__int128>(whole) + i.offsetSeconds;
  constexpr auto kMost = std::numeric_limits<std::int64_t>::max();
  constexpr auto kLeast = std::numeric_limits<std::int64_t>::min();
  seconds = total > kMost ? kMost : total < kLeast ? kLeast : static_cast<std::int64_t>(total);
}

}  // namespace

void CaptureReader::timeOf(const Record& record, std::int64_t& seconds, std::uint32_t& microseconds) {
  if (record.interface) {
    pcapngTime(record.stamp, *record.interface, seconds, microseconds);
  } else {
    seconds = record.seconds;
    microseconds = record.microseconds;
  }
}

CaptureReader::CaptureReader() = default;
CaptureReader::~CaptureReader() = default;

void CaptureReader::release() {
  file_.reset();
  stdinBytes_ = {};
  window_ = nullptr;
  windowOffset_ = 0;
  windowSize_ = 0;
  size_ = 0;
  offset_ = 0;
  records_ = 0;
  blocks_ = 0;
  ended_ = true;
  changed_ = false;
  pcapng_ = false;
  interfaces_.clear();
  linkType_ = LinkType::Ethernet;
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

bool CaptureReader::endWithBlockDamage(const std::string& what) {
  damage_ = name_ + ": block " + std::to_string(blocks_) + " at byte offset " + std::to_string(offset_) + ": " + what;
  ended_ = true;
  return false;
}

bool CaptureReader::endChanged() {
  changed_ = true;
  damage_ = file_->changedMessage();
  ended_ = true;
  return false;
}

namespace {

// The whole of standard input, for a capture piped in ("-"): a pipe cannot
// be read twice or checked for changes, so its bytes are kept in memory and
// read from there. False with a reason when nothing came or it cannot be read.
bool readStandardInput(std::vector<std::uint8_t>& bytes, std::string& reason) {
  bytes.clear();
  if (::isatty(STDIN_FILENO)) {
    reason = "a terminal, not a capture: pipe one into it (tcpdump -w - ... |) or name the file";
    return false;
  }
  try {
    std::size_t used = 0;
    for (;;) {
      if (bytes.size() - used < (1u << 20)) bytes.resize(std::max<std::size_t>(bytes.size() * 2, 4u << 20));
      const ssize_t n = ::read(STDIN_FILENO, bytes.data() + used, bytes.size() - used);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        reason = std::string("cannot read it: ") + std::strerror(errno);
        return false;
      }
      if (n == 0) break;
      used += static_cast<std::size_t>(n);
    }
    bytes.resize(used);
  } catch (const std::bad_alloc&) {
    bytes = {};
    reason = "not enough memory to hold the capture read from it";
    return false;
  }
  if (bytes.empty()) {
    reason = "the capture is empty (nothing came)";
    return false;
  }
  return true;
}

}  // namespace

bool CaptureReader::open(const std::string& path) {
  release();
  name_ = path;
  std::string reason;
  if (path == "-") {
    name_ = "standard input";
    if (!readStandardInput(stdinBytes_, reason)) return fail(reason);
    window_ = stdinBytes_.data();
    windowSize_ = stdinBytes_.size();
    size_ = stdinBytes_.size();
    return checkFileHeader();
  }
  std::shared_ptr<const PacketSource> file = PacketSource::openFile(path, reason);
  if (!file) return fail(reason);
  if (!buffer_) {
    buffer_.reset(new (std::nothrow) std::uint8_t[kBufferSize]);
    if (!buffer_) return fail("not enough memory to read it");
  }
  file_ = std::move(file);
  size_ = file_->size();
  window_ = buffer_.get();
  return checkFileHeader();
}

bool CaptureReader::openMemory(const std::uint8_t* data, std::size_t size) {
  release();
  name_ = "capture in memory";
  if (size == 0 || data == nullptr) return fail("the capture is empty");
  window_ = data;
  windowSize_ = size;
  size_ = size;
  return checkFileHeader();
}

// `bytes` from offset_ on at hand in the window; the caller has made sure
// the file (as it was opened) holds them. False when the file changed or
// cannot be read, the reading ended.
bool CaptureReader::ensure(std::size_t bytes) {
  if (offset_ >= windowOffset_ && offset_ + bytes <= windowOffset_ + windowSize_) return true;
  return refill(bytes);
}

bool CaptureReader::refill(std::size_t bytes) {
  if (!file_ || bytes > kBufferSize) return endWithDamage("internal: read past the bytes at hand");
  // What is left of the window goes to the front (a record straddling the
  // end); a block passed over leaves nothing to keep.
  const std::uint64_t windowEnd = windowOffset_ + windowSize_;
  const std::size_t keep = offset_ < windowEnd ? static_cast<std::size_t>(windowEnd - offset_) : 0;
  if (keep > 0) std::memmove(buffer_.get(), at(), keep);
  windowOffset_ = offset_;
  windowSize_ = keep;
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, size_ - windowOffset_));
  while (windowSize_ < want) {
    const ssize_t n = ::pread(file_->fd(), buffer_.get() + windowSize_, want - windowSize_,
                              static_cast<off_t>(windowOffset_ + windowSize_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return endWithDamage(std::string("cannot read: ") + std::strerror(errno));
    if (n == 0) return endChanged();  // ends before the size it had when opened
    windowSize_ += static_cast<std::size_t>(n);
  }
  // Checked after the read: bytes read while the file was being rewritten
  // are never delivered.
  if (!file_->unchanged()) return endChanged();
  if (refillObserver_) refillObserver_();
  return windowSize_ >= bytes;
}

bool CaptureReader::checkFileHeader() {
  if (size_ < 4) return fail("not a pcap capture file (" + std::to_string(size_) + " bytes)");
  if (!ensure(static_cast<std::size_t>(std::min<std::uint64_t>(size_, kFileHeaderSize)))) {
    error_ = damage_;  // changed or unreadable before the header was read
    damage_.clear();
    return false;
  }
  if (loadLE32(at()) == kBlockSectionHeader) return checkPcapngHeader();
  return checkClassicHeader();
}

bool CaptureReader::checkClassicHeader() {
  const std::uint8_t* h = at();
  const std::uint32_t magic = loadLE32(h + kMagicOffset);
  switch (magic) {
    case kMagicMicroseconds:
      swapped_ = false;
      nanoseconds_ = false;
      break;
    case kMagicNanoseconds:
      swapped_ = false;
      nanoseconds_ = true;
      break;
    case kMagicMicrosecondsSwapped:
      swapped_ = true;
      nanoseconds_ = false;
      break;
    case kMagicNanosecondsSwapped:
      swapped_ = true;
      nanoseconds_ = true;
      break;
    default:
      return fail("not a pcap capture file (starts with " + hexWord(loadBE32(h)) + ")");
  }
  if (size_ < kFileHeaderSize)
    return fail("the pcap file header is cut short (" + std::to_string(size_) + " of 24 bytes)");

  const std::uint16_t major = loadLE16Or(swapped_, h + kVersionMajorOffset);
  const std::uint16_t minor = loadLE16Or(swapped_, h + kVersionMinorOffset);
  if (major != kVersionMajor)
    return fail("unsupported pcap version " + std::to_string(major) + "." + std::to_string(minor));

  const std::uint32_t linkType = loadLE32Or(swapped_, h + kLinkTypeOffset) & kLinkTypeMask;
  if (!readableLinkType(linkType, linkType_)) return fail(unsupportedLinkType(linkType));

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

// The first section header, then the interface descriptions that follow it
// (writers put them first): the file's link type is its first interface's,
// and a file none of whose interfaces can be read is refused at once, as a
// classic file of such a link type is.
bool CaptureReader::checkPcapngHeader() {
  pcapng_ = true;
  ended_ = false;
  Record none;
  nextPcapngRecord(none, true);
  if (blocks_ == 0) {  // the section header itself is damaged, or the file changed
    error_ = damage_;
    damage_.clear();
    ended_ = true;
    return false;
  }
  const auto readable =
      std::find_if(interfaces_.begin(), interfaces_.end(), [](const Interface& i) { return i.readable; });
  if (!interfaces_.empty() && readable == interfaces_.end()) return fail(unsupportedLinkType(interfaces_[0].type));
  if (readable != interfaces_.end()) linkType_ = readable->linkType;
  return true;
}

bool CaptureReader::nextRecord(Record& record) {
  if (ended_) return false;
  return pcapng_ ? nextPcapngRecord(record) : nextClassicRecord(record);
}

bool CaptureReader::nextClassicRecord(Record& record) {
  const std::uint64_t left = size_ - offset_;
  if (left == 0) {
    ended_ = true;
    return false;
  }
  if (left < kRecordHeaderSize)
    return endWithDamage("record header cut short (" + std::to_string(left) + " of 16 bytes)");
  if (!ensure(kRecordHeaderSize)) return false;

  const std::uint8_t* h = at();
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
  if (!ensure(kRecordHeaderSize + captured)) return false;
  h = at();

  std::uint64_t seconds = loadLE32Or(swapped_, h + kRecordSecondsOffset);
  std::uint32_t fraction = loadLE32Or(swapped_, h + kRecordFractionOffset);
  if (nanoseconds_) fraction /= 1000;
  // A fraction of a second of a second or more is carried into the seconds.
  if (fraction >= 1000000) {
    seconds += fraction / 1000000;
    fraction %= 1000000;
  }

  record.bytes = h + kRecordHeaderSize;
  record.offset = offset_ + kRecordHeaderSize;
  record.capturedLength = captured;
  record.seconds = static_cast<std::int64_t>(seconds);
  record.microseconds = fraction;
  record.index = records_;
  record.linkType = linkType_;
  record.start = offset_;
  record.end = offset_ + kRecordHeaderSize + captured;
  offset_ += kRecordHeaderSize + captured;
  ++records_;
  return true;
}

namespace {

// The byte order of the block of `type` that starts at `h` into `swapped` (a
// section header names its own, any other block keeps the section's); the
// damage that ends the reading, empty when there is none.
std::string blockStartDamage(std::uint32_t type, const std::uint8_t* h, bool firstBlock, bool& swapped) {
  if (type == kBlockSectionHeader) {
    // A new section may be in the other byte order.
    const std::uint32_t magic = loadLE32(h + kSectionMagicOffset);
    if (magic == kByteOrderMagic)
      swapped = false;
    else if (magic == kByteOrderMagicSwapped)
      swapped = true;
    else
      return "not a pcapng section header (byte-order magic " + hexWord(loadBE32(h + kSectionMagicOffset)) + ")";
  } else if (firstBlock) {
    return "a pcapng file starts with a section header";
  }
  return {};
}

// What is wrong with a block's length with `left` bytes of the file from its
// start; empty when nothing is.
std::string blockLengthDamage(std::uint32_t length, std::uint64_t left) {
  if (length < kBlockFrameSize) return "block length " + std::to_string(length) + " (less than 12)";
  if (length % 4 != 0) return "block length " + std::to_string(length) + " is not a multiple of 4";
  if (length > left)
    return "block of " + std::to_string(length) + " bytes runs past the end of the file (" + std::to_string(left) +
           " bytes left)";
  return {};
}

bool isPacketBlock(std::uint32_t type) {
  return type == kBlockEnhancedPacket || type == kBlockSimplePacket || type == kBlockObsoletePacket;
}

}  // namespace

// Blocks up to the next packet block of a readable interface. Blocks of
// other types are passed over; their trailing length is still checked.
// `header`: only the first section header and the interface descriptions
// right after it, stopping before any other block.
bool CaptureReader::nextPcapngRecord(Record& record, bool header) {
  for (;;) {
    const std::uint64_t left = size_ - offset_;
    if (left == 0) {
      ended_ = true;
      return false;
    }
    if (left < kBlockFrameSize)
      return endWithBlockDamage("block header cut short (" + std::to_string(left) + " of 12 bytes)");
    if (!ensure(kBlockFrameSize)) return false;
    const std::uint8_t* h = at();
    const std::uint32_t type = loadLE32Or(swapped_, h);
    bool swapped = swapped_;
    std::string damage = blockStartDamage(type, h, blocks_ == 0, swapped);
    if (!damage.empty()) return endWithBlockDamage(damage);
    if (header && type != kBlockSectionHeader && type != kBlockInterface) return false;
    const std::uint32_t length = loadLE32Or(swapped, h + kBlockLengthOffset);
    damage = blockLengthDamage(length, left);
    if (!damage.empty()) return endWithBlockDamage(damage);
    const bool lookedInto = type == kBlockSectionHeader || type == kBlockInterface || isPacketBlock(type);
    const std::uint64_t start = offset_;
    const std::uint8_t* trailerAt = nullptr;
    if (lookedInto) {
      if (length > kBufferSize) return endWithBlockDamage("absurd block length " + std::to_string(length));
      if (!ensure(length)) return false;
      trailerAt = at() + length - 4;
    } else {
      // Passed over unread: only its trailing length is read.
      offset_ = start + length - 4;
      const bool trailerRead = ensure(4);
      if (trailerRead) trailerAt = at();
      offset_ = start;
      if (!trailerRead) return false;
    }
    const std::uint32_t trailer = loadLE32Or(swapped, trailerAt);
    if (trailer != length)
      return endWithBlockDamage("trailing block length " + std::to_string(trailer) + " does not match " +
                                std::to_string(length));

    bool deliver = false;
    if (type == kBlockSectionHeader) {
      swapped_ = swapped;
      if (!sectionHeader(length)) return false;
      ++describingBlocks_;
    } else if (type == kBlockInterface) {
      if (!interfaceDescription(length)) return false;
      ++describingBlocks_;
    } else if (isPacketBlock(type)) {
      if (!packetBlock(type, length, record)) return false;
      deliver = record.bytes != nullptr;
      ++records_;
    }
    offset_ = start + length;
    ++blocks_;
    if (deliver) return true;
  }
}

bool CaptureReader::sectionHeader(std::uint32_t length) {
  if (length < kSectionMinLength)
    return endWithBlockDamage("section header of " + std::to_string(length) + " bytes (less than 28)");
  const std::uint8_t* h = at();
  const std::uint16_t major = loadLE16Or(swapped_, h + kSectionVersionMajorOffset);
  const std::uint16_t minor = loadLE16Or(swapped_, h + kSectionVersionMinorOffset);
  if (major != kPcapngVersionMajor)
    return endWithBlockDamage("unsupported pcapng version " + std::to_string(major) + "." + std::to_string(minor));
  interfaces_.clear();  // interface numbers count anew in every section
  return true;
}

bool CaptureReader::interfaceDescription(std::uint32_t length) {
  if (length < kInterfaceMinLength)
    return endWithBlockDamage("interface description of " + std::to_string(length) + " bytes (less than 20)");
  const std::uint8_t* h = at();
  Interface i;
  i.type = loadLE16Or(swapped_, h + kInterfaceLinkTypeOffset);
  i.readable = readableLinkType(i.type, i.linkType);
  i.snapLength = loadLE32Or(swapped_, h + kInterfaceSnapLengthOffset);
  const std::size_t end = length - 4;
  for (std::size_t p = kInterfaceOptionsOffset; p + 4 <= end;) {
    const std::uint16_t code = loadLE16Or(swapped_, h + p);
    const std::uint16_t size = loadLE16Or(swapped_, h + p + 2);
    if (code == kOptionEnd) break;
    if (size > end - p - 4)
      return endWithBlockDamage("interface description option " + std::to_string(code) + " runs past the block");
    const std::uint8_t* value = h + p + 4;
    if (code == kOptionTimeResolution && size >= 1) {
      i.binaryResolution = (value[0] & kResolutionBinary) != 0;
      i.resolution = value[0] & ~kResolutionBinary & 0xFF;
      if (i.resolution > (i.binaryResolution ? kMaxBinaryResolution : kMaxDecimalResolution))
        return endWithBlockDamage("unusable time resolution " + std::to_string(value[0]) + " (if_tsresol)");
    } else if (code == kOptionTimeOffset && size >= 8) {
      i.offsetSeconds = static_cast<std::int64_t>(loadLE64Or(swapped_, value));
    }
    p += 4 + ((static_cast<std::size_t>(size) + 3) & ~std::size_t{3});
  }
  interfaces_.push_back(i);
  return true;
}

// Fills `record` for a packet of a readable interface; leaves its bytes null
// for one of an interface of another link type.
bool CaptureReader::packetBlock(std::uint32_t type, std::uint32_t length, Record& record) {
  const std::uint8_t* h = at();
  std::uint32_t interface = 0, captured = 0;
  std::size_t dataOffset = kPacketDataOffset, room = 0;
  std::uint64_t stamp = 0;
  if (type == kBlockSimplePacket) {
    if (length < kSimplePacketMinLength)
      return endWithBlockDamage("simple packet block of " + std::to_string(length) + " bytes (less than 16)");
    if (interfaces_.empty()) return endWithBlockDamage("simple packet block before any interface description");
    dataOffset = kSimplePacketDataOffset;
    room = length - kSimplePacketMinLength;
    captured = loadLE32Or(swapped_, h + kSimplePacketOriginalOffset);
    const std::uint32_t snap = interfaces_[0].snapLength;
    if (snap != 0) captured = std::min(captured, snap);
    captured = static_cast<std::uint32_t>(std::min<std::size_t>(captured, room));
  } else {
    if (length < kPacketMinLength)
      return endWithBlockDamage("packet block of " + std::to_string(length) + " bytes (less than 32)");
    interface = type == kBlockEnhancedPacket ? loadLE32Or(swapped_, h + kPacketInterfaceOffset)
                                             : loadLE16Or(swapped_, h + kPacketInterfaceOffset);
    if (interface >= interfaces_.size())
      return endWithBlockDamage("packet of interface " + std::to_string(interface) + ", which is not described");
    stamp = static_cast<std::uint64_t>(loadLE32Or(swapped_, h + kPacketTimeHighOffset)) << 32 |
            loadLE32Or(swapped_, h + kPacketTimeLowOffset);
    captured = loadLE32Or(swapped_, h + kPacketCapturedOffset);
    room = length - kPacketMinLength;
    if (captured > room)
      return endWithBlockDamage("captured length " + std::to_string(captured) + " is more than the block holds (" +
                                std::to_string(room) + " bytes)");
  }
  if (captured > kMaxRecordLength)
    return endWithBlockDamage("absurd captured length " + std::to_string(captured) + " (more than " +
                              std::to_string(kMaxRecordLength) + ")");
  const Interface& i = interfaces_[interface];
  record = Record{};
  if (!i.readable) return true;
  record.bytes = h + dataOffset;
  record.offset = offset_ + dataOffset;
  record.capturedLength = captured;
  if (type != kBlockSimplePacket) {
    record.stamp = stamp;
    record.interface = &i;
  }
  record.index = records_;
  record.linkType = i.linkType;
  record.start = offset_;
  record.end = offset_ + length;
  return true;
}

namespace {

// Steps `p` and `n` over the link layer to the IPv4 header; false for a frame
// that carries no IPv4 or is cut short.
bool stepOverLinkLayer(LinkType linkType, const std::uint8_t*& p, std::size_t& n) {
  switch (linkType) {
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
  return true;
}

// The UDP datagram in the `n` bytes of IPv4 packet at `p`: its payload,
// addresses and ports into `out`, which is left alone when there is none.
bool udpOfIpv4(const std::uint8_t* p, std::size_t n, CapturedDatagram& out) {
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
  return true;
}

}  // namespace

bool CaptureReader::udpOf(const Record& record, CapturedDatagram& out) const {
  const std::uint8_t* p = record.bytes;
  std::size_t n = record.capturedLength;
  if (!stepOverLinkLayer(record.linkType, p, n) || !udpOfIpv4(p, n, out)) return false;
  timeOf(record, out.seconds, out.microseconds);
  out.recordIndex = record.index;
  out.payloadOffset = record.offset + static_cast<std::uint64_t>(out.payload - record.bytes);
  out.recordStart = record.start;
  out.recordEnd = record.end;
  return true;
}

bool CaptureReader::next(CapturedDatagram& out) {
  Record record;
  while (nextRecord(record))
    if (udpOf(record, out)) return true;
  return false;
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
  // A large buffer: records of a datagram each go out in few writes.
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
                          std::uint16_t sourcePort, std::uint32_t destIp, std::uint16_t destPort, std::int64_t seconds,
                          std::uint32_t microseconds) {
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
