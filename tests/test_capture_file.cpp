// Capture files: the writer's bytes checked field by field and read back,
// captures built here byte by byte for every link type and byte order, pcapng
// files (built here and converted by editcap), the player's loading rule and
// packet list, bad and damaged files, files changed on disk while read, and
// captures written by tcpdump itself on loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "CaptureFile.h"
#include "DataPacketLoad.h"
#include "PacketEncoders.h"
#include "ScanPacketStream.h"

using namespace z540k;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint32_t kSensorIp = 0x7F000002;  // 127.0.0.2
constexpr std::uint32_t kHostIp = 0x7F000001;    // 127.0.0.1

void putBE16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void putBE32(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}
void putLE32(Bytes& b, std::uint32_t v) {
  for (int s = 0; s <= 24; s += 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}
void put32(Bytes& b, std::uint32_t v, bool bigEndian) { bigEndian ? putBE32(b, v) : putLE32(b, v); }
void put16(Bytes& b, std::uint16_t v, bool bigEndian) {
  if (bigEndian) return putBE16(b, v);
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
std::uint16_t be16At(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]); }
std::uint32_t le32At(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

Bytes payloadOf(std::size_t size, std::uint8_t seed) {
  Bytes p(size);
  for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>(seed + i * 13);
  return p;
}

// An IPv4/UDP packet. `udpLength` 0 means the true one; `optionWords` extra
// IHL words of options; `fragment` the flags/offset field.
struct Ipv4Udp {
  Bytes payload;
  std::uint32_t source = kSensorIp, dest = kHostIp;
  std::uint16_t sourcePort = 2368, destPort = 2368;
  int optionWords = 0;
  std::uint16_t fragment = 0x4000;
  std::uint8_t protocol = 17;
  int udpLength = -1;
  Bytes build() const {
    Bytes b;
    b.push_back(static_cast<std::uint8_t>(0x40 | (5 + optionWords)));
    b.push_back(0);
    putBE16(b, static_cast<std::uint16_t>(20 + 4 * optionWords + 8 + payload.size()));
    putBE16(b, 0x1234);
    putBE16(b, fragment);
    b.push_back(64);
    b.push_back(protocol);
    putBE16(b, 0);
    putBE32(b, source);
    putBE32(b, dest);
    for (int i = 0; i < 4 * optionWords; ++i) b.push_back(0x01);  // NOP options
    putBE16(b, sourcePort);
    putBE16(b, destPort);
    putBE16(b, static_cast<std::uint16_t>(udpLength >= 0 ? udpLength : 8 + static_cast<int>(payload.size())));
    putBE16(b, 0);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
  }
};

Bytes withPrefix(Bytes prefix, const Bytes& rest) {
  prefix.insert(prefix.end(), rest.begin(), rest.end());
  return prefix;
}
Bytes ethernetFrame(const Bytes& l3, std::uint16_t etherType = 0x0800) {
  Bytes h(12, 0xAA);
  putBE16(h, etherType);
  return withPrefix(h, l3);
}
Bytes vlanFrame(const Bytes& l3) {
  Bytes h(12, 0xAA);
  putBE16(h, 0x8100);
  putBE16(h, 0x0064);  // VLAN 100
  putBE16(h, 0x0800);
  return withPrefix(h, l3);
}
Bytes cookedFrame(const Bytes& l3, std::uint16_t protocol = 0x0800) {
  Bytes h = {0, 0, 0x03, 0x04, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0};  // incoming, loopback, 6-byte address
  putBE16(h, protocol);
  return withPrefix(h, l3);
}
Bytes cooked2Frame(const Bytes& l3, std::uint16_t protocol = 0x0800) {
  Bytes h;
  putBE16(h, protocol);
  putBE16(h, 0);
  putBE32(h, 1);  // interface index
  putBE16(h, 772);
  h.insert(h.end(), {0, 6, 0, 0, 0, 0, 0, 0, 0, 0});
  return withPrefix(h, l3);
}
Bytes nullFrame(const Bytes& l3, bool bigEndian, std::uint32_t family = 2) {
  Bytes h;
  put32(h, family, bigEndian);
  return withPrefix(h, l3);
}

// A classic pcap file built field by field.
struct PcapBuilder {
  bool bigEndian = false;
  bool nanoseconds = false;
  Bytes bytes;
  PcapBuilder(std::uint32_t linkType, bool bigEndianFile = false, bool nanosecondFile = false,
              std::uint32_t snapLength = 262144)
      : bigEndian(bigEndianFile), nanoseconds(nanosecondFile) {
    put32(bytes, nanoseconds ? 0xA1B23C4D : 0xA1B2C3D4, bigEndian);
    put16(bytes, 2, bigEndian);
    put16(bytes, 4, bigEndian);
    put32(bytes, 0, bigEndian);
    put32(bytes, 0, bigEndian);
    put32(bytes, snapLength, bigEndian);
    put32(bytes, linkType, bigEndian);
  }
  // `captured`/`original` override the true lengths (for damaged records).
  PcapBuilder& add(const Bytes& frame, std::uint32_t seconds = 1700000000, std::uint32_t fraction = 0,
                   long captured = -1, long original = -1) {
    put32(bytes, seconds, bigEndian);
    put32(bytes, fraction, bigEndian);
    put32(bytes, captured >= 0 ? static_cast<std::uint32_t>(captured) : static_cast<std::uint32_t>(frame.size()),
          bigEndian);
    put32(bytes, original >= 0 ? static_cast<std::uint32_t>(original) : static_cast<std::uint32_t>(frame.size()),
          bigEndian);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return *this;
  }
};

// A datagram with a copy of its payload, which the reader's buffer holds
// only until its next call.
struct ReadDatagram : CapturedDatagram {
  Bytes bytes;
};

Bytes bytesOf(const CapturedDatagram& d) { return Bytes(d.payload, d.payload + d.size); }
Bytes bytesOf(const ReadDatagram& d) { return d.bytes; }

std::vector<ReadDatagram> readAll(CaptureReader& reader, bool dataPackets = false) {
  std::vector<ReadDatagram> all;
  CapturedDatagram d;
  while (dataPackets ? nextDataPacket(reader, d) : reader.next(d)) {
    all.push_back({d, bytesOf(d)});
    all.back().payload = nullptr;
  }
  return all;
}

Bytes bytesAt(const Bytes& file, std::uint64_t offset, std::size_t size) {
  return offset + size <= file.size() ? Bytes(file.begin() + offset, file.begin() + offset + size) : Bytes();
}

Bytes bytesOf(const DataPacketList& list) {
  Bytes all(list.count() * 1206);
  std::string error;
  for (std::size_t i = 0; i < list.count(); ++i) EXPECT_TRUE(list.read(i, all.data() + i * 1206, error)) << error;
  return all;
}

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/z540k-capture-test-XXXXXX";
    path_ = mkdtemp(name) ? name : "/tmp";
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}
Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What one written datagram should read back as.
struct Sent {
  Bytes payload;
  std::uint32_t source, dest;
  std::uint16_t sourcePort, destPort;
  std::int64_t seconds;
  std::uint32_t microseconds;
};

std::vector<Sent> mixedTraffic() {
  sim::ScanPacketStream stream(sim::ScanPattern{});
  std::vector<Sent> sent;
  for (int i = 0; i < 5; ++i) {
    const auto p = stream.next();
    sent.push_back({Bytes(p.begin(), p.end()), kSensorIp, kHostIp, 2368, 2368, 1700000000 + i, 999999u - i});
  }
  const auto status = sim::encodeStatusPacket(sim::SensorStatus{});
  sent.push_back({Bytes(status.begin(), status.end()), kSensorIp, kHostIp, 2369, 2369, 1700000010, 5});
  sent.push_back({Bytes(), 0x0A000001, 0xC0A80102, 1, 65535, 0, 0});
  sent.push_back({payloadOf(65507, 7), 0xFFFFFFFF, 0, 65535, 1, 0xFFFFFFFFll, 123456});
  return sent;
}

Bytes dataPacketBytes(sim::ScanPacketStream& stream) {
  const auto p = stream.next();
  return Bytes(p.begin(), p.end());
}

// `packets` data packets with a status packet every 50, as the sensor sends
// them; `expected` gets the data packets' bytes.
void writeDataCapture(const std::string& path, int packets, Bytes& expected) {
  CaptureWriter writer;
  ASSERT_TRUE(writer.open(path)) << writer.error();
  sim::ScanPacketStream stream(sim::ScanPattern{});
  const auto status = sim::encodeStatusPacket(sim::SensorStatus{});
  for (int i = 0; i < packets; ++i) {
    const Bytes p = dataPacketBytes(stream);
    ASSERT_TRUE(writer.write(p.data(), p.size(), kSensorIp, 2368, kHostIp, 2368, 1700000000 + i / 100,
                             static_cast<std::uint32_t>(i % 100 * 10000 + i)));
    expected.insert(expected.end(), p.begin(), p.end());
    if (i % 50 == 0) {
      ASSERT_TRUE(writer.write(status.data(), status.size(), kSensorIp, 2369, kHostIp, 2369, 1700000000, 7));
    }
  }
  ASSERT_TRUE(writer.close()) << writer.error();
}

void expectSameRevolutions(const RevolutionIndex& a, const RevolutionIndex& b) {
  EXPECT_EQ(a.packets(), b.packets());
  for (const ReturnFamily family : {ReturnFamily::Strongest, ReturnFamily::Dual}) {
    ASSERT_EQ(a.frameCount(family), b.frameCount(family));
    for (std::size_t k = 0; k < a.frameCount(family); ++k) EXPECT_EQ(a.frameClose(family, k), b.frameClose(family, k));
  }
}

}  // namespace

// ---- Writer ------------------------------------------------------------------

// The writer's file read back field by field, independently of the reader:
// file header, record headers, Ethernet, IPv4 (checksum, DF, TTL,
// identification) and UDP; then through the reader.
TEST(CaptureWriterTest, WritesWhatACaptureOfTheSensorHoldsAndReadsBack) {
  TempDir dir;
  const std::string path = dir.file("written.pcap");
  const auto sent = mixedTraffic();
  {
    CaptureWriter writer;
    ASSERT_TRUE(writer.open(path)) << writer.error();
    for (const Sent& s : sent)
      ASSERT_TRUE(writer.write(s.payload.data(), s.payload.size(), s.source, s.sourcePort, s.dest, s.destPort,
                               s.seconds, s.microseconds))
          << writer.error();
    ASSERT_TRUE(writer.close()) << writer.error();
  }

  const Bytes file = readFile(path);
  ASSERT_GE(file.size(), 24u);
  EXPECT_EQ(le32At(file, 0), 0xA1B2C3D4u);
  EXPECT_EQ(file[4] | file[5] << 8, 2);
  EXPECT_EQ(file[6] | file[7] << 8, 4);
  EXPECT_EQ(le32At(file, 16), 65535u);
  EXPECT_EQ(le32At(file, 20), 1u);
  std::size_t at = 24;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(i);
    const Sent& s = sent[i];
    ASSERT_LE(at + 16 + 42, file.size());
    EXPECT_EQ(le32At(file, at), static_cast<std::uint32_t>(s.seconds));
    EXPECT_EQ(le32At(file, at + 4), s.microseconds);
    EXPECT_EQ(le32At(file, at + 8), 42 + s.payload.size());
    EXPECT_EQ(le32At(file, at + 12), 42 + s.payload.size());
    const std::size_t frame = at + 16, ip = frame + 14, udp = ip + 20;
    EXPECT_EQ(be16At(file, frame + 12), 0x0800);
    EXPECT_EQ(file[ip], 0x45);
    EXPECT_EQ(be16At(file, ip + 2), 28 + s.payload.size());
    EXPECT_EQ(be16At(file, ip + 4), i);  // identification counts up
    EXPECT_EQ(be16At(file, ip + 6), 0x4000);
    EXPECT_EQ(file[ip + 8], 64);
    EXPECT_EQ(file[ip + 9], 17);
    std::uint32_t sum = 0;
    for (int k = 0; k < 20; k += 2) sum += be16At(file, ip + k);
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    EXPECT_EQ(sum, 0xFFFFu) << "IPv4 header checksum";
    EXPECT_EQ(be16At(file, ip + 12) << 16 | be16At(file, ip + 14), s.source);
    EXPECT_EQ(be16At(file, ip + 16) << 16 | be16At(file, ip + 18), s.dest);
    EXPECT_EQ(be16At(file, udp), s.sourcePort);
    EXPECT_EQ(be16At(file, udp + 2), s.destPort);
    EXPECT_EQ(be16At(file, udp + 4), 8 + s.payload.size());
    EXPECT_EQ(be16At(file, udp + 6), 0);
    EXPECT_TRUE(std::equal(s.payload.begin(), s.payload.end(), file.begin() + udp + 8));
    at = udp + 8 + s.payload.size();
  }
  EXPECT_EQ(at, file.size());

  CaptureReader reader;
  ASSERT_TRUE(reader.open(path)) << reader.error();
  EXPECT_EQ(reader.linkType(), LinkType::Ethernet);
  const auto got = readAll(reader);
  EXPECT_TRUE(reader.damage().empty()) << reader.damage();
  EXPECT_EQ(reader.bytesRead(), reader.fileSize());
  EXPECT_EQ(reader.recordsRead(), sent.size());
  ASSERT_EQ(got.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bytesOf(got[i]), sent[i].payload);
    EXPECT_EQ(got[i].sourceIp, sent[i].source);
    EXPECT_EQ(got[i].destIp, sent[i].dest);
    EXPECT_EQ(got[i].sourcePort, sent[i].sourcePort);
    EXPECT_EQ(got[i].destPort, sent[i].destPort);
    EXPECT_EQ(got[i].seconds, sent[i].seconds);
    EXPECT_EQ(got[i].microseconds, sent[i].microseconds);
    EXPECT_EQ(got[i].recordIndex, i);
  }
}

// tcpdump, which Wireshark's format agrees with, reads the writer's file.
TEST(CaptureWriterTest, TcpdumpReadsTheWrittenFile) {
  if (std::system("command -v tcpdump >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "tcpdump is not installed";
  }
  TempDir dir;
  const std::string path = dir.file("for-tcpdump.pcap");
  CaptureWriter writer;
  ASSERT_TRUE(writer.open(path));
  const auto sent = mixedTraffic();
  for (const Sent& s : sent)
    ASSERT_TRUE(writer.write(s.payload.data(), s.payload.size(), s.source, s.sourcePort, s.dest, s.destPort, s.seconds,
                             s.microseconds));
  ASSERT_TRUE(writer.close());
  const std::string listing = dir.file("listing.txt");
  // -v: tcpdump checks the IPv4 header checksum and shows the header fields.
  ASSERT_EQ(std::system(("tcpdump -nn -v -r '" + path + "' > '" + listing + "' 2>/dev/null").c_str()), 0);
  std::ifstream in(listing);
  std::string all;
  std::vector<std::string> datagrams;
  for (std::string line; std::getline(in, line);) {
    all += line + "\n";
    if (line.find("UDP, length") != std::string::npos) datagrams.push_back(line);
  }
  ASSERT_EQ(datagrams.size(), sent.size()) << all;
  EXPECT_NE(datagrams[0].find("127.0.0.2.2368 > 127.0.0.1.2368: UDP, length 1206"), std::string::npos) << all;
  EXPECT_NE(datagrams[6].find("10.0.0.1.1 > 192.168.1.2.65535: UDP, length 0"), std::string::npos) << all;
  EXPECT_EQ(all.find("bad"), std::string::npos) << all;
  EXPECT_NE(all.find("ttl 64, id 7, offset 0, flags [DF], proto UDP (17), length 65535"), std::string::npos) << all;
}

TEST(CaptureWriterTest, ReportsFailures) {
  CaptureWriter writer;
  EXPECT_FALSE(writer.open("/nonexistent-dir/x.pcap"));
  EXPECT_NE(writer.error().find("/nonexistent-dir/x.pcap"), std::string::npos) << writer.error();
  EXPECT_NE(writer.error().find("No such file"), std::string::npos) << writer.error();
  const std::uint8_t byte = 1;
  EXPECT_FALSE(writer.write(&byte, 1, 1, 1, 1, 1, 0, 0));

  TempDir dir;
  ASSERT_TRUE(writer.open(dir.file("a.pcap")));
  const Bytes big(65508, 0);
  EXPECT_FALSE(writer.write(big.data(), big.size(), 1, 1, 1, 1, 0, 0));
  EXPECT_FALSE(writer.error().empty());
  EXPECT_FALSE(writer.close());

  // A full disk shows when the buffer goes out, at the latest on close.
  ASSERT_TRUE(writer.open("/dev/full")) << writer.error();
  const Bytes packet(1206, 0xFF);
  bool ok = true;
  for (int i = 0; i < 2000 && ok; ++i) ok = writer.write(packet.data(), packet.size(), 1, 1, 1, 1, i, 0);
  ok = writer.close() && ok;
  EXPECT_FALSE(ok);
  EXPECT_NE(writer.error().find("No space left"), std::string::npos) << writer.error();
}

// ---- Link types, byte orders, time stamps -------------------------------------

struct LinkCase {
  const char* name;
  std::uint32_t linkType;
  Bytes (*frame)(const Bytes&);
  LinkType expected;
};

void PrintTo(const LinkCase& c, std::ostream* out) { *out << c.name; }

class CaptureLinkTypeTest : public ::testing::TestWithParam<LinkCase> {};

// For every link type: a UDP datagram between records the reader must pass
// over (TCP, a non-IPv4 frame, a runt), in both byte orders and both time
// resolutions.
TEST_P(CaptureLinkTypeTest, FindsTheUdpDatagramsAndPassesOverTheRest) {
  const LinkCase& c = GetParam();
  Ipv4Udp first;
  first.payload = payloadOf(100, 1);
  first.sourcePort = 40000;
  first.destPort = 2368;
  Ipv4Udp tcp = first;
  tcp.protocol = 6;
  Ipv4Udp second;
  second.payload = payloadOf(1206, 2);
  second.source = 0xC0A80164;
  second.dest = 0xC0A80102;
  second.sourcePort = 2369;
  second.destPort = 50000;
  Bytes ipv6 = first.build();
  ipv6[0] = 0x60;

  for (bool bigEndian : {false, true}) {
    for (bool nanoseconds : {false, true}) {
      SCOPED_TRACE(std::string(bigEndian ? "big-endian" : "little-endian") + (nanoseconds ? " ns" : " us"));
      PcapBuilder pcap(c.linkType, bigEndian, nanoseconds);
      pcap.add(c.frame(first.build()), 1700000001, nanoseconds ? 123456789u : 123456u)
          .add(c.frame(tcp.build()))
          .add(c.frame(ipv6))
          .add(Bytes(3, 0))
          .add(c.frame(second.build()), 4000000000u, nanoseconds ? 999999999u : 999999u);
      CaptureReader reader;
      ASSERT_TRUE(reader.openMemory(pcap.bytes.data(), pcap.bytes.size())) << reader.error();
      EXPECT_EQ(reader.linkType(), c.expected);
      const auto got = readAll(reader);
      EXPECT_TRUE(reader.damage().empty()) << reader.damage();
      ASSERT_EQ(got.size(), 2u);
      EXPECT_EQ(bytesOf(got[0]), first.payload);
      EXPECT_EQ(got[0].sourceIp, kSensorIp);
      EXPECT_EQ(got[0].destIp, kHostIp);
      EXPECT_EQ(got[0].sourcePort, 40000);
      EXPECT_EQ(got[0].destPort, 2368);
      EXPECT_EQ(got[0].seconds, 1700000001);
      EXPECT_EQ(got[0].microseconds, 123456u);
      EXPECT_EQ(got[0].recordIndex, 0u);
      EXPECT_EQ(bytesOf(got[1]), second.payload);
      EXPECT_EQ(got[1].sourceIp, 0xC0A80164u);
      EXPECT_EQ(got[1].destPort, 50000);
      EXPECT_EQ(got[1].seconds, 4000000000ll);  // unsigned in the file
      EXPECT_EQ(got[1].microseconds, 999999u);
      EXPECT_EQ(got[1].recordIndex, 4u);
      EXPECT_EQ(reader.recordsRead(), 5u);
      for (const auto& d : got) EXPECT_EQ(bytesAt(pcap.bytes, d.payloadOffset, d.size), bytesOf(d));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllLinkTypes, CaptureLinkTypeTest,
    ::testing::Values(
        LinkCase{"Ethernet", 1, [](const Bytes& l3) { return ethernetFrame(l3); }, LinkType::Ethernet},
        LinkCase{"EthernetVlan", 1, vlanFrame, LinkType::Ethernet},
        LinkCase{"LinuxCooked", 113, [](const Bytes& l3) { return cookedFrame(l3); }, LinkType::LinuxCooked},
        LinkCase{"LinuxCooked2", 276, [](const Bytes& l3) { return cooked2Frame(l3); }, LinkType::LinuxCooked2},
        LinkCase{"NullLittleEndian", 0, [](const Bytes& l3) { return nullFrame(l3, false); }, LinkType::Null},
        LinkCase{"NullBigEndian", 0, [](const Bytes& l3) { return nullFrame(l3, true); }, LinkType::Null},
        LinkCase{"Raw", 101, [](const Bytes& l3) { return l3; }, LinkType::Raw},
        LinkCase{"RawIPv4", 228, [](const Bytes& l3) { return l3; }, LinkType::Raw}),
    [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

// A fraction field of a second or more (some writers leave it so) carries
// into the seconds instead of giving a time stamp past the second.
TEST(CaptureReaderTest, CarriesOverlongFractionsIntoTheSeconds) {
  Ipv4Udp udp;
  const Bytes frame = ethernetFrame(udp.build());
  for (bool nanoseconds : {false, true}) {
    PcapBuilder pcap(1, false, nanoseconds);
    pcap.add(frame, 20, nanoseconds ? 2500000000u : 2500000u);
    CaptureReader reader;
    ASSERT_TRUE(reader.openMemory(pcap.bytes.data(), pcap.bytes.size()));
    CapturedDatagram d;
    ASSERT_TRUE(reader.next(d));
    EXPECT_EQ(d.seconds, 22);
    EXPECT_EQ(d.microseconds, 500000u);
  }
}

// Frames of the right link layer that carry something else than IPv4.
TEST(CaptureReaderTest, PassesOverOtherProtocolsOfEachLinkLayer) {
  Ipv4Udp udp;
  udp.payload = payloadOf(10, 3);
  const Bytes ip = udp.build();
  struct Case {
    std::uint32_t linkType;
    Bytes frame;
  } cases[] = {{1, ethernetFrame(ip, 0x0806)},  {1, ethernetFrame(ip, 0x86DD)}, {113, cookedFrame(ip, 0x86DD)},
               {276, cooked2Frame(ip, 0x0806)}, {0, nullFrame(ip, false, 24)},  {0, nullFrame(ip, true, 30)}};
  for (const Case& c : cases) {
    PcapBuilder pcap(c.linkType);
    pcap.add(c.frame);
    CaptureReader reader;
    ASSERT_TRUE(reader.openMemory(pcap.bytes.data(), pcap.bytes.size()));
    EXPECT_TRUE(readAll(reader).empty()) << "link type " << c.linkType;
    EXPECT_TRUE(reader.damage().empty());
  }
}

// IPv4 options, fragments, Ethernet padding after a short datagram, a
// snapshot length cutting the payload, broken header lengths.
TEST(CaptureReaderTest, FollowsTheIpv4AndUdpHeaders) {
  Ipv4Udp withOptions;
  withOptions.payload = payloadOf(30, 4);
  withOptions.optionWords = 3;
  Ipv4Udp firstFragment;
  firstFragment.payload = payloadOf(40, 5);
  firstFragment.fragment = 0x2000;  // more fragments, offset 0
  firstFragment.udpLength = 8 + 3000;
  Ipv4Udp laterFragment = firstFragment;
  laterFragment.fragment = 0x2000 | 185;
  Ipv4Udp padded;
  padded.payload = payloadOf(6, 6);
  Bytes paddedFrame = ethernetFrame(padded.build());
  paddedFrame.resize(60, 0);  // Ethernet's minimum frame: the payload is still 6 bytes
  Ipv4Udp cut;
  cut.payload = payloadOf(1206, 7);
  const Bytes cutFrame = ethernetFrame(cut.build());
  Ipv4Udp shortUdpLength;
  shortUdpLength.payload = payloadOf(10, 8);
  shortUdpLength.udpLength = 7;
  Bytes badIhl = ethernetFrame(withOptions.build());
  badIhl[14] = 0x44;  // IHL 4
  Bytes ihlBeyondRecord = ethernetFrame(Ipv4Udp{}.build());
  ihlBeyondRecord[14] = 0x4F;  // 60 bytes of header, 28 present

  PcapBuilder pcap(1, false, false, 100);
  pcap.add(ethernetFrame(withOptions.build()))
      .add(ethernetFrame(firstFragment.build()))
      .add(ethernetFrame(laterFragment.build()))
      .add(paddedFrame)
      .add(Bytes(cutFrame.begin(), cutFrame.begin() + 100), 1700000000, 0, 100, static_cast<long>(cutFrame.size()))
      .add(ethernetFrame(shortUdpLength.build()))
      .add(badIhl)
      .add(ihlBeyondRecord);
  CaptureReader reader;
  ASSERT_TRUE(reader.openMemory(pcap.bytes.data(), pcap.bytes.size()));
  const auto got = readAll(reader);
  EXPECT_TRUE(reader.damage().empty()) << reader.damage();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(bytesOf(got[0]), withOptions.payload);
  EXPECT_EQ(got[0].sourcePort, 2368);
  EXPECT_EQ(bytesOf(got[1]), firstFragment.payload);  // what the first fragment holds
  EXPECT_EQ(got[1].recordIndex, 1u);
  EXPECT_EQ(bytesOf(got[2]), padded.payload);
  EXPECT_EQ(got[2].recordIndex, 3u);
  EXPECT_EQ(bytesOf(got[3]), Bytes(cut.payload.begin(), cut.payload.begin() + (100 - 42)));
}

// ---- The player's loading rule -------------------------------------------------

TEST(CaptureReaderTest, DataPacketsOfAnEthernetCaptureByTheLoadingRule) {
  sim::ScanPacketStream stream(sim::ScanPattern{});
  const auto a = stream.next(), b = stream.next(), c = stream.next();
  Ipv4Udp onDataPort;
  onDataPort.payload.assign(a.begin(), a.end());
  Ipv4Udp onOtherPort;
  onOtherPort.payload.assign(b.begin(), b.end());
  onOtherPort.sourcePort = 9;
  onOtherPort.destPort = 7777;
  Ipv4Udp longer;  // 1207 bytes: record of 1249
  longer.payload.assign(c.begin(), c.end());
  longer.payload.push_back(0);
  Ipv4Udp status;
  const auto s = sim::encodeStatusPacket(sim::SensorStatus{});
  status.payload.assign(s.begin(), s.begin() + s.size());
  // 1248 bytes with FF EE at 42 but not IPv4/UDP at all: the rule takes it.
  Bytes notIp = ethernetFrame(onDataPort.build(), 0x88B5);
  notIp[14] = 0;
  notIp[14 + 9] = 6;
  Ipv4Udp shortPacket;  // a 1206-byte payload starting FF EE in a VLAN frame: 1252 bytes
  shortPacket.payload.assign(c.begin(), c.end());

  PcapBuilder pcap(1);
  pcap.add(ethernetFrame(status.build()))
      .add(ethernetFrame(onDataPort.build()), 10, 1)
      .add(ethernetFrame(longer.build()))
      .add(vlanFrame(shortPacket.build()))
      .add(ethernetFrame(onOtherPort.build()), 11, 2)
      .add(notIp, 12, 3);
  CaptureReader reader;
  ASSERT_TRUE(reader.openMemory(pcap.bytes.data(), pcap.bytes.size()));
  const auto got = readAll(reader, true);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(bytesOf(got[0]), onDataPort.payload);
  EXPECT_EQ(got[0].recordIndex, 1u);
  for (const auto& d : got) EXPECT_EQ(bytesAt(pcap.bytes, d.payloadOffset, d.size), bytesOf(d));
  EXPECT_EQ(got[0].destPort, 2368);
  EXPECT_EQ(got[0].seconds, 10);
  EXPECT_EQ(bytesOf(got[1]), onOtherPort.payload);
  EXPECT_EQ(got[1].destPort, 7777);
  EXPECT_EQ(got[1].microseconds, 2u);
  EXPECT_EQ(bytesOf(got[2]), onDataPort.payload);
  EXPECT_EQ(got[2].recordIndex, 5u);
  EXPECT_EQ(got[2].size, 1206u);
  EXPECT_EQ(got[2].destPort, 0);  // headers not understood: no ports
}

TEST(CaptureReaderTest, DataPacketsOfOtherLinkTypesByTheirUdpPayload) {
  sim::ScanPacketStream stream(sim::ScanPattern{});
  const auto a = stream.next();
  Ipv4Udp data;
  data.payload.assign(a.begin(), a.end());
  data.optionWords = 2;  // the record is longer than 1248: the payload decides here
  Ipv4Udp shorter = data;
  shorter.payload.pop_back();
  Ipv4Udp notFlagged = data;
  notFlagged.payload[1] = 0xEF;
  PcapBuilder pcap(113);
  pcap.add(cookedFrame(shorter.build())).add(cookedFrame(notFlagged.build())).add(cookedFrame(data.build()));
  CaptureReader reader;
  ASSERT_TRUE(reader.openMemory(pcap.bytes.data(), pcap.bytes.size()));
  CapturedDatagram d;
  ASSERT_TRUE(nextDataPacket(reader, d));
  EXPECT_EQ(bytesOf(d), data.payload);
  EXPECT_EQ(d.recordIndex, 2u);
  EXPECT_FALSE(nextDataPacket(reader, d));
}

TEST(LoadDataPacketsTest, LoadsTheDataPacketsInFileOrderWithProgress) {
  TempDir dir;
  const std::string path = dir.file("mixed.pcap");
  CaptureWriter writer;
  ASSERT_TRUE(writer.open(path));
  sim::ScanPacketStream stream(sim::ScanPattern{});
  const auto status = sim::encodeStatusPacket(sim::SensorStatus{});
  Bytes expected;
  for (int i = 0; i < 300; ++i) {
    const auto p = stream.next();
    ASSERT_TRUE(writer.write(p.data(), p.size(), kSensorIp, 2368, kHostIp, 2368, i, 0));
    expected.insert(expected.end(), p.begin(), p.end());
    if (i % 50 == 0) {
      ASSERT_TRUE(writer.write(status.data(), status.size(), kSensorIp, 2369, kHostIp, 2369, i, 1));
    }
  }
  ASSERT_TRUE(writer.close());

  DataPacketList list;
  std::string error, damage;
  std::uint64_t lastRead = 0, lastSize = 0;
  int calls = 0;
  ASSERT_TRUE(loadDataPackets(path, list, error, damage, [&](std::uint64_t read, std::uint64_t size) {
    EXPECT_GE(read, lastRead);
    lastRead = read;
    lastSize = size;
    ++calls;
    return true;
  }));
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(damage.empty());
  EXPECT_EQ(list.count(), 300u);
  EXPECT_EQ(bytesOf(list), expected);
  EXPECT_GE(calls, 1);
  EXPECT_EQ(lastRead, lastSize);
  EXPECT_EQ(lastSize, readFile(path).size());

  // Status packets only: an empty list, no error.
  const std::string statusOnly = dir.file("status-only.pcap");
  ASSERT_TRUE(writer.open(statusOnly));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(writer.write(status.data(), status.size(), kSensorIp, 2369, kHostIp, 2369, i, 0));
  }
  ASSERT_TRUE(writer.close());
  ASSERT_TRUE(loadDataPackets(statusOnly, list, error, damage));
  EXPECT_EQ(list.count(), 0u);

  ASSERT_TRUE(loadDataPackets(path, list, error, damage));
  EXPECT_FALSE(loadDataPackets(dir.file("missing.pcap"), list, error, damage));
  EXPECT_NE(error.find("missing.pcap"), std::string::npos) << error;
  EXPECT_EQ(list.count(), 0u);

  // A capture piped in ("-") leaves the list no file to play from: refused.
  ASSERT_TRUE(loadDataPackets(path, list, error, damage));
  const int savedStdin = dup(STDIN_FILENO);
  const int piped = open(path.c_str(), O_RDONLY);
  ASSERT_GE(piped, 0);
  ASSERT_EQ(dup2(piped, STDIN_FILENO), STDIN_FILENO);
  close(piped);
  const bool loaded = loadDataPackets("-", list, error, damage);
  dup2(savedStdin, STDIN_FILENO);
  close(savedStdin);
  EXPECT_FALSE(loaded);
  EXPECT_NE(error.find("standard input"), std::string::npos) << error;
  EXPECT_EQ(list.count(), 0u);
}

// The list reads from the file it keeps open, after the loader is gone;
// damage keeps the packets before it; a progress callback that answers false
// stops the load at once and leaves nothing behind.
TEST(LoadDataPacketsTest, ReadsFromTheFileKeptOpenStopsAtDamageAndCancels) {
  TempDir dir;
  const std::string path = dir.file("large.pcap");
  constexpr int kPackets = 5000;  // about 6 MB: progress comes before the end
  Bytes expected;
  writeDataCapture(path, kPackets, expected);
  const std::uint64_t fileSize = readFile(path).size();

  DataPacketList list;
  std::string error, damage;
  ASSERT_TRUE(loadDataPackets(path, list, error, damage)) << error;
  DataPacketList kept = list;  // the last owner of the open file
  list = DataPacketList();
  EXPECT_EQ(bytesOf(kept), expected);
  expectSameRevolutions(kept.revolutions(), DataPacketList::fromBytes(expected).revolutions());

  // Cut in the middle of the last record.
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(fileSize - 100)), 0);
  ASSERT_TRUE(loadDataPackets(path, list, error, damage)) << error;
  EXPECT_EQ(list.count(), kPackets - 1u);
  EXPECT_EQ(list.revolutions().packets(), kPackets - 1u);
  EXPECT_NE(damage.find("cut short"), std::string::npos) << damage;
  std::uint8_t packet[1206];
  ASSERT_TRUE(list.read(kPackets - 2, packet, error)) << error;
  EXPECT_TRUE(std::equal(expected.end() - 2 * 1206, expected.end() - 1206, packet));

  std::vector<std::uint64_t> reports;
  EXPECT_FALSE(loadDataPackets(path, list, error, damage, [&](std::uint64_t read, std::uint64_t) {
    reports.push_back(read);
    return false;
  }));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_GT(reports[0], 0u);
  EXPECT_LT(reports[0], fileSize - 1264);  // before the end of the records: stopped during the pass
  EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
  EXPECT_EQ(list.count(), 0u);
}

// ---- pcapng ----------------------------------------------------------------------

namespace {

// A pcapng file built block by block; `starts` holds each block's offset.
struct PcapngBuilder {
  bool bigEndian = false;
  Bytes bytes;
  std::vector<std::size_t> starts;

  PcapngBuilder& block(std::uint32_t type, Bytes body) {
    body.resize((body.size() + 3) / 4 * 4, 0);
    const auto length = static_cast<std::uint32_t>(12 + body.size());
    starts.push_back(bytes.size());
    put32(bytes, type, bigEndian);
    put32(bytes, length, bigEndian);
    bytes.insert(bytes.end(), body.begin(), body.end());
    put32(bytes, length, bigEndian);
    return *this;
  }
  PcapngBuilder& section(bool bigEndianSection) {
    bigEndian = bigEndianSection;
    Bytes b;
    put32(b, 0x1A2B3C4D, bigEndian);
    put16(b, 1, bigEndian);
    put16(b, 0, bigEndian);
    put32(b, 0xFFFFFFFF, bigEndian);  // section length unknown
    put32(b, 0xFFFFFFFF, bigEndian);
    return block(0x0A0D0D0A, b);
  }
  Bytes option(std::uint16_t code, const Bytes& value) const {
    Bytes o;
    put16(o, code, bigEndian);
    put16(o, static_cast<std::uint16_t>(value.size()), bigEndian);
    o.insert(o.end(), value.begin(), value.end());
    o.resize((o.size() + 3) / 4 * 4, 0);
    return o;
  }
  PcapngBuilder& interface(std::uint16_t linkType, std::uint32_t snapLength, const Bytes& options = {}) {
    Bytes b;
    put16(b, linkType, bigEndian);
    put16(b, 0, bigEndian);
    put32(b, snapLength, bigEndian);
    b.insert(b.end(), options.begin(), options.end());
    if (!options.empty()) b.insert(b.end(), {0, 0, 0, 0});  // end of options
    return block(1, b);
  }
  // An enhanced packet block, or with `obsolete` the old packet block (a
  // 16-bit interface and a drop count where the enhanced one has 32 bits).
  PcapngBuilder& enhanced(std::uint32_t interfaceId, std::uint64_t stamp, const Bytes& frame, bool obsolete = false) {
    Bytes b;
    if (obsolete) {
      put16(b, static_cast<std::uint16_t>(interfaceId), bigEndian);
      put16(b, 0, bigEndian);
    } else {
      put32(b, interfaceId, bigEndian);
    }
    put32(b, static_cast<std::uint32_t>(stamp >> 32), bigEndian);
    put32(b, static_cast<std::uint32_t>(stamp), bigEndian);
    put32(b, static_cast<std::uint32_t>(frame.size()), bigEndian);
    put32(b, static_cast<std::uint32_t>(frame.size()), bigEndian);
    b.insert(b.end(), frame.begin(), frame.end());
    return block(obsolete ? 2 : 6, b);
  }
  PcapngBuilder& simple(const Bytes& frame) {
    Bytes b;
    put32(b, static_cast<std::uint32_t>(frame.size()), bigEndian);
    b.insert(b.end(), frame.begin(), frame.end());
    return block(3, b);
  }
};

}  // namespace

// Wireshark's format as editcap writes it from our classic capture: the same
// datagrams, times, data packets and revolutions. The capture is larger than
// the reader's buffer, so blocks straddle its refills.
TEST(PcapngTest, EditcapsConversionReadsAsTheClassicCapture) {
  if (std::system("command -v editcap >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "editcap is not installed (Debian package tshark)";
  }
  TempDir dir;
  const std::string classic = dir.file("classic.pcap"), pcapng = dir.file("converted.pcapng");
  Bytes expected;
  writeDataCapture(classic, 4000, expected);
  ASSERT_EQ(std::system(("editcap -F pcapng '" + classic + "' '" + pcapng + "'").c_str()), 0);

  CaptureReader a, b;
  ASSERT_TRUE(a.open(classic)) << a.error();
  ASSERT_TRUE(b.open(pcapng)) << b.error();
  EXPECT_EQ(b.linkType(), LinkType::Ethernet);
  for (const bool dataPackets : {false, true}) {
    if (dataPackets) {
      ASSERT_TRUE(a.open(classic));
      ASSERT_TRUE(b.open(pcapng));
    }
    const auto fromClassic = readAll(a, dataPackets), fromPcapng = readAll(b, dataPackets);
    EXPECT_TRUE(b.damage().empty()) << b.damage();
    EXPECT_EQ(b.bytesRead(), b.fileSize());
    ASSERT_EQ(fromPcapng.size(), fromClassic.size());
    EXPECT_EQ(fromClassic.size(), dataPackets ? 4000u : 4080u);
    for (std::size_t i = 0; i < fromClassic.size(); ++i) {
      SCOPED_TRACE(i);
      const ReadDatagram &x = fromClassic[i], &y = fromPcapng[i];
      ASSERT_EQ(y.bytes, x.bytes);
      const auto fields = [](const ReadDatagram& d) {
        return std::make_tuple(d.sourceIp, d.destIp, d.sourcePort, d.destPort, d.seconds, d.microseconds,
                               d.recordIndex);
      };
      EXPECT_EQ(fields(y), fields(x));
    }
  }

  DataPacketList fromClassic, fromPcapng;
  std::string error, damage;
  ASSERT_TRUE(loadDataPackets(classic, fromClassic, error, damage)) << error;
  ASSERT_TRUE(loadDataPackets(pcapng, fromPcapng, error, damage)) << error;
  EXPECT_TRUE(damage.empty()) << damage;
  EXPECT_EQ(bytesOf(fromPcapng), expected);
  const RevolutionIndex direct = DataPacketList::fromBytes(expected).revolutions();
  EXPECT_GT(direct.frameCount(ReturnFamily::Strongest), 100u);
  expectSameRevolutions(fromClassic.revolutions(), direct);
  expectSameRevolutions(fromPcapng.revolutions(), direct);
}

// Two sections (the second big-endian), interfaces of three link types (one
// unreadable), time resolutions in nano- and milliseconds, binary and with an
// offset, enhanced, simple and obsolete packet blocks, a block of an unknown
// type.
TEST(PcapngTest, ReadsSectionsInterfacesAndEveryPacketBlock) {
  sim::ScanPacketStream stream(sim::ScanPattern{});
  Ipv4Udp a, b, small, cut, raw;
  a.payload = dataPacketBytes(stream);
  b.payload = dataPacketBytes(stream);
  small.payload = payloadOf(10, 1);
  cut.payload = payloadOf(100, 2);
  raw.payload = payloadOf(20, 3);
  raw.destPort = 2369;

  PcapngBuilder f;
  Bytes interface0 = f.option(9, {9});  // nanoseconds
  Bytes timeOffset;
  put32(timeOffset, 100, false);
  put32(timeOffset, 0, false);
  const Bytes offsetOption = f.option(14, timeOffset);
  interface0.insert(interface0.end(), offsetOption.begin(), offsetOption.end());
  f.section(false)
      .interface(1, 64, interface0)
      .interface(113, 0)
      .interface(105, 0)
      .enhanced(0, 1700000000123456789ull, ethernetFrame(a.build()))
      .block(0x0BAD, Bytes(10, 0xEE))
      .enhanced(2, 5, Bytes(60, 0x11))  // unreadable interface: passed over
      .enhanced(1, 1700000001000002ull, cookedFrame(small.build()))
      .simple(ethernetFrame(cut.build()))  // interface 0's snapshot length cuts it to 64 bytes
      .enhanced(1, 7999999, cookedFrame(b.build()), true)
      .section(true)
      .interface(101, 0, f.option(9, {0x80 | 10}))
      .interface(101, 0, f.option(9, {3}))
      .enhanced(0, 5 * 1024 + 512, raw.build())
      .enhanced(1, 4005, raw.build());

  CaptureReader reader;
  ASSERT_TRUE(reader.openMemory(f.bytes.data(), f.bytes.size())) << reader.error();
  EXPECT_EQ(reader.linkType(), LinkType::Ethernet);
  const auto got = readAll(reader);
  EXPECT_TRUE(reader.damage().empty()) << reader.damage();
  EXPECT_EQ(reader.recordsRead(), 7u);
  ASSERT_EQ(got.size(), 6u);
  const struct {
    Bytes payload;
    std::int64_t seconds;
    std::uint32_t microseconds;
    std::uint64_t record;
  } want[] = {{a.payload, 1700000100, 123456, 0},
              {small.payload, 1700000001, 2, 2},
              {Bytes(cut.payload.begin(), cut.payload.begin() + (64 - 42)), 0, 0, 3},
              {b.payload, 7, 999999, 4},
              {raw.payload, 5, 500000, 5},
              {raw.payload, 4, 5000, 6}};
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].bytes, want[i].payload);
    EXPECT_EQ(bytesAt(f.bytes, got[i].payloadOffset, got[i].size), want[i].payload);
    EXPECT_EQ(got[i].seconds, want[i].seconds);
    EXPECT_EQ(got[i].microseconds, want[i].microseconds);
    EXPECT_EQ(got[i].recordIndex, want[i].record);
    EXPECT_EQ(got[i].sourceIp, kSensorIp);
  }
  EXPECT_EQ(got[4].destPort, 2369);

  // The loading rule: by the fixed places on the Ethernet interface, by the
  // UDP payload on the cooked one.
  ASSERT_TRUE(reader.openMemory(f.bytes.data(), f.bytes.size()));
  const auto packets = readAll(reader, true);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].bytes, a.payload);
  EXPECT_EQ(packets[1].bytes, b.payload);

  // A file whose only interface cannot be read is refused at once.
  PcapngBuilder wireless;
  wireless.section(false).interface(105, 0).enhanced(0, 0, Bytes(60, 0));
  EXPECT_FALSE(reader.openMemory(wireless.bytes.data(), wireless.bytes.size()));
  EXPECT_NE(reader.error().find("link type 105 (IEEE 802.11)"), std::string::npos) << reader.error();
}

// A damaged block ends the reading like a damaged record: the packets before
// it delivered, the block named with its offset and fault.
TEST(PcapngTest, DamagedBlocksEndTheReading) {
  Ipv4Udp udp;
  udp.payload = payloadOf(30, 4);
  const Bytes frame = ethernetFrame(udp.build());
  PcapngBuilder base;
  base.section(false).interface(1, 0).enhanced(0, 1, frame);
  const std::size_t at = base.bytes.size();  // block 3
  const auto patch32 = [](Bytes& b, std::size_t offset, std::uint32_t v) {
    Bytes le;
    putLE32(le, v);
    std::copy(le.begin(), le.end(), b.begin() + offset);
  };
  PcapngBuilder good = base;
  good.enhanced(0, 2, frame);
  const auto length = static_cast<std::uint32_t>(good.bytes.size() - at);
  struct Case {
    const char* says;
    Bytes bytes;
    int block = 3;
    std::size_t offset = 0;  // 0: that of block 3
  };
  std::vector<Case> cases = {
      {"not a multiple of 4", good.bytes},
      {"block length 8 (less than 12)", good.bytes},
      {"trailing block length", good.bytes},
      {"runs past the end of the file", good.bytes},
      {"more than the block holds", good.bytes},
      {"interface 3, which is not described", PcapngBuilder(base).enhanced(3, 2, frame).bytes},
      {"simple packet block before any interface description", PcapngBuilder(base).section(false).simple(frame).bytes,
       4, at + 28},
      {"option 9 runs past the block", PcapngBuilder(base).interface(1, 0, Bytes{9, 0, 40, 0}).bytes}};
  patch32(cases[0].bytes, at + 4, length + 2);
  patch32(cases[1].bytes, at + 4, 8);
  patch32(cases[2].bytes, good.bytes.size() - 4, length + 4);
  patch32(cases[3].bytes, at + 4, length + 1024);
  patch32(cases[4].bytes, at + 20, length);  // captured length
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    CaptureReader reader;
    ASSERT_TRUE(reader.openMemory(c.bytes.data(), c.bytes.size())) << reader.error();
    const auto got = readAll(reader);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].seconds, 0);
    EXPECT_EQ(got[0].microseconds, 1u);
    const std::size_t offset = c.offset ? c.offset : at;
    const std::string where = "block " + std::to_string(c.block) + " at byte offset " + std::to_string(offset) + ": ";
    EXPECT_NE(reader.damage().find(where), std::string::npos) << reader.damage();
    EXPECT_NE(reader.damage().find(c.says), std::string::npos) << reader.damage();
    EXPECT_EQ(reader.bytesRead(), offset);
  }
  // Cut anywhere in the last block.
  for (std::size_t cut = at + 1; cut < good.bytes.size(); ++cut) {
    CaptureReader reader;
    ASSERT_TRUE(reader.openMemory(good.bytes.data(), cut));
    EXPECT_EQ(readAll(reader).size(), 1u);
    EXPECT_NE(reader.damage().find("block 3 at byte offset"), std::string::npos) << cut << ": " << reader.damage();
  }
}

// A large block of a type the reader does not need is passed over without
// being read: only its trailing length is.
TEST(PcapngTest, PassesOverLargeUnknownBlocksUnread) {
  TempDir dir;
  const std::string path = dir.file("large-block.pcapng");
  Ipv4Udp udp;
  udp.payload = payloadOf(30, 5);
  PcapngBuilder f;
  f.section(false).interface(1, 0).enhanced(0, 1, ethernetFrame(udp.build()));
  f.block(0x80000001, Bytes(9u << 20, 0x5A)).enhanced(0, 2, ethernetFrame(udp.build()));
  writeFile(path, f.bytes);
  CaptureReader reader;
  int refills = 0;
  reader.setRefillObserver([&] { ++refills; });
  ASSERT_TRUE(reader.open(path)) << reader.error();
  EXPECT_EQ(readAll(reader).size(), 2u);
  EXPECT_TRUE(reader.damage().empty()) << reader.damage();
  EXPECT_EQ(refills, 2);  // the file's start, then from the block's trailing length on
}

// ---- Files changed on disk while they are read --------------------------------

namespace {

void setModified(const std::string& path, timespec when) {
  const timespec times[2] = {{0, UTIME_OMIT}, when};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

timespec modifiedOf(const std::string& path) {
  struct stat s {};
  EXPECT_EQ(stat(path.c_str(), &s), 0);
  return s.st_mtim;
}

// Ways another program changes the capture at `path`.
struct Change {
  const char* name;
  void (*apply)(const std::string& path);
};

const Change kChanges[] = {
    {"truncated", [](const std::string& path) { ASSERT_EQ(truncate(path.c_str(), 4096), 0); }},
    // The same size, bytes rewritten at the end, a new modification time.
    {"rewritten in place",
     [](const std::string& path) {
       Bytes bytes = readFile(path);
       std::fill(bytes.end() - 3000, bytes.end(), 0xAA);
       const int fd = ::open(path.c_str(), O_WRONLY);
       ASSERT_GE(fd, 0);
       ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
       ::close(fd);
       timespec later = modifiedOf(path);
       later.tv_sec += 10;
       setModified(path, later);
     }},
    // Another file of the same bytes, size and time renamed over the path.
    {"replaced",
     [](const std::string& path) {
       const std::string other = path + ".new";
       writeFile(other, readFile(path));
       setModified(other, modifiedOf(path));
       ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
     }},
};

}  // namespace

// The reader stops at its next refill, the packets before delivered as they
// were; a load fails (its list would point into another file).
TEST(ChangedOnDiskTest, ReadingAndLoadingStopAtTheChange) {
  TempDir dir;
  const std::string path = dir.file("changing.pcap");
  Bytes expected;
  writeDataCapture(path, 4000, expected);  // about 5 MB: more than the reader's buffer
  const Bytes original = readFile(path);
  const std::string changed = path + " changed on disk after it was opened";
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.name);
    writeFile(path, original);
    CaptureReader reader;
    int refills = 0;
    reader.setRefillObserver([&] {
      if (refills++ == 0) change.apply(path);
    });
    ASSERT_TRUE(reader.open(path)) << reader.error();
    const auto got = readAll(reader, true);
    EXPECT_TRUE(reader.changedOnDisk());
    EXPECT_EQ(reader.damage(), changed);
    EXPECT_GT(got.size(), 100u);
    ASSERT_LT(got.size(), 4000u);
    for (std::size_t i = 0; i < got.size(); ++i)
      ASSERT_TRUE(std::equal(got[i].bytes.begin(), got[i].bytes.end(), expected.begin() + 1206 * i)) << i;

    writeFile(path, original);
    Bytes onePacket(1206, 0);
    onePacket[0] = 0xFF;
    onePacket[1] = 0xEE;
    DataPacketList list = DataPacketList::fromBytes(onePacket);
    ASSERT_EQ(list.count(), 1u);
    std::string error, damage;
    bool applied = false;
    EXPECT_FALSE(loadDataPackets(path, list, error, damage, [&](std::uint64_t, std::uint64_t) {
      if (!applied) change.apply(path);
      applied = true;
      return true;
    }));
    EXPECT_EQ(error, changed);
    EXPECT_EQ(list.count(), 0u);
  }
}

// A loaded list reads its packets from the file: once the file changed, a
// read fails with the reason instead of giving another file's bytes.
TEST(ChangedOnDiskTest, PacketListReadsFailOnceTheFileChanged) {
  TempDir dir;
  const std::string path = dir.file("played.pcap");
  Bytes expected;
  writeDataCapture(path, 300, expected);
  const Bytes original = readFile(path);
  const std::string changed = path + " changed on disk after it was opened";
  std::uint8_t packet[1206];
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.name);
    writeFile(path, original);
    DataPacketList list;
    std::string error, damage;
    ASSERT_TRUE(loadDataPackets(path, list, error, damage)) << error;
    ASSERT_TRUE(list.read(299, packet, error)) << error;
    EXPECT_TRUE(std::equal(packet, packet + 1206, expected.end() - 1206));
    EXPECT_TRUE(list.unchanged(error));
    change.apply(path);
    error.clear();
    EXPECT_FALSE(list.unchanged(error));
    EXPECT_EQ(error, changed);
    error.clear();
    EXPECT_FALSE(list.read(0, packet, error));
    EXPECT_EQ(error, changed);
  }

  // Rewritten with its time put back: the packet read is no data packet.
  writeFile(path, original);
  DataPacketList list;
  std::string error, damage;
  ASSERT_TRUE(loadDataPackets(path, list, error, damage)) << error;
  const timespec modified = modifiedOf(path);
  Bytes zeroed = original;
  std::fill(zeroed.end() - 1206, zeroed.end(), 0);
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, zeroed.data(), zeroed.size(), 0), static_cast<ssize_t>(zeroed.size()));
  ::close(fd);
  setModified(path, modified);
  EXPECT_TRUE(list.read(0, packet, error)) << error;
  EXPECT_FALSE(list.read(299, packet, error));
  EXPECT_EQ(error, changed);
}

// ---- Bad files and damage ------------------------------------------------------

TEST(CaptureReaderTest, RefusesBadFilesWithAOneLineReason) {
  TempDir dir;
  auto refusal = [&](const Bytes& bytes) {
    const std::string path = dir.file("bad.pcap");
    writeFile(path, bytes);
    CaptureReader reader;
    EXPECT_FALSE(reader.open(path));
    CapturedDatagram d;
    EXPECT_FALSE(reader.next(d));
    EXPECT_EQ(reader.error().find('\n'), std::string::npos) << reader.error();
    // The same bytes in memory are refused alike.
    CaptureReader inMemory;
    EXPECT_FALSE(inMemory.openMemory(bytes.data(), bytes.size()));
    EXPECT_FALSE(inMemory.error().empty());
    return reader.error();
  };
  auto expectMention = [](const std::string& error, const std::string& what) {
    EXPECT_NE(error.find(what), std::string::npos) << "\"" << error << "\" lacks \"" << what << "\"";
  };

  CaptureReader reader;
  EXPECT_FALSE(reader.open(dir.file("missing.pcap")));
  expectMention(reader.error(), dir.file("missing.pcap"));
  expectMention(reader.error(), "No such file");
  EXPECT_FALSE(reader.open(dir.file("")));
  expectMention(reader.error(), "directory");
  // A FIFO nobody writes to and a device are refused at once, never waited on.
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  for (const std::string& special : {dir.file("fifo"), std::string("/dev/zero")}) {
    EXPECT_FALSE(reader.open(special));
    expectMention(reader.error(), "is not a regular file");
  }

  expectMention(refusal({}), "empty");
  expectMention(refusal({'h', 'i'}), "not a pcap capture");
  const std::string text = "time,azimuth,distance\n1,2,3\n";
  expectMention(refusal(Bytes(text.begin(), text.end())), "not a pcap capture");
  // pcapng section headers: a version 0.0, a byte-order magic that is none.
  Bytes pcapng = {0x0A, 0x0D, 0x0D, 0x0A, 0x1C, 0, 0, 0, 0x4D, 0x3C, 0x2B, 0x1A};
  pcapng.resize(24, 0);
  putLE32(pcapng, 28);
  expectMention(refusal(pcapng), "unsupported pcapng version 0.0");
  Bytes notPcapng = {0x0A, 0x0D, 0x0D, 0x0A};
  notPcapng.resize(64, 0);
  expectMention(refusal(notPcapng), "not a pcapng section header");
  Bytes cutHeader = PcapBuilder(1).bytes;
  cutHeader.resize(20);
  expectMention(refusal(cutHeader), "cut short");
  expectMention(refusal(PcapBuilder(105).bytes), "link type 105");
  expectMention(refusal(PcapBuilder(12345).bytes), "link type 12345");
  expectMention(refusal(PcapBuilder(1, true, false, 0xFFFFFFFF).bytes), "snapshot length 4294967295");
  Bytes version1 = PcapBuilder(1).bytes;
  version1[4] = 1;
  expectMention(refusal(version1), "version");

  // A capture without records is not bad: it holds nothing.
  const Bytes headerOnly = PcapBuilder(1).bytes;
  ASSERT_TRUE(reader.openMemory(headerOnly.data(), headerOnly.size()));
  CapturedDatagram d;
  EXPECT_FALSE(reader.next(d));
  EXPECT_TRUE(reader.damage().empty());
}

// Cut at every byte of its last two records, a capture delivers exactly the
// complete records before the cut and names the damaged one.
TEST(CaptureReaderTest, TruncationKeepsEarlierRecordsAndReportsTheDamage) {
  Ipv4Udp udp;
  udp.payload = payloadOf(50, 9);
  PcapBuilder pcap(1);
  std::vector<std::size_t> recordStarts;
  for (int i = 0; i < 4; ++i) {
    recordStarts.push_back(pcap.bytes.size());
    pcap.add(ethernetFrame(udp.build()), 100 + i, 0);
  }
  const std::size_t full = pcap.bytes.size();
  for (std::size_t cut = recordStarts[2]; cut <= full; ++cut) {
    SCOPED_TRACE(cut);
    const Bytes bytes(pcap.bytes.begin(), pcap.bytes.begin() + cut);
    CaptureReader reader;
    ASSERT_TRUE(reader.openMemory(bytes.data(), bytes.size()));
    const auto got = readAll(reader);
    std::size_t complete = 0;
    while (complete < 4 && (complete + 1 == 4 ? full : recordStarts[complete + 1]) <= cut) ++complete;
    ASSERT_EQ(got.size(), complete);
    EXPECT_EQ(got.back().seconds, 100 + static_cast<std::int64_t>(complete) - 1);
    CapturedDatagram d;
    EXPECT_FALSE(reader.next(d));  // stays at the end
    const bool atBoundary = cut == full || cut == recordStarts[complete];
    if (atBoundary) {
      EXPECT_TRUE(reader.damage().empty()) << reader.damage();
    } else {
      EXPECT_NE(reader.damage().find("record " + std::to_string(complete)), std::string::npos) << reader.damage();
      EXPECT_NE(reader.damage().find("offset " + std::to_string(recordStarts[complete])), std::string::npos)
          << reader.damage();
      EXPECT_NE(reader.damage().find("cut short"), std::string::npos) << reader.damage();
      EXPECT_EQ(reader.bytesRead(), recordStarts[complete]);
    }
  }
}

TEST(CaptureReaderTest, AbsurdRecordLengthsEndTheReading) {
  Ipv4Udp udp;
  udp.payload = payloadOf(20, 10);
  const Bytes frame = ethernetFrame(udp.build());
  const Bytes room(300000, 0);  // bytes enough behind the damaged header
  struct Case {
    std::uint32_t snapLength;
    long captured, original;
    const char* mentions;
  } cases[] = {{0, 262145, 262145, "262145"},   // beyond any capture, even without a snapshot limit
               {1500, 3001, 3001, "snapshot"},  // past twice the snapshot length
               {1500, 600, 599, "original"}};   // more captured than there was
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mentions);
    PcapBuilder pcap(1, true, false, c.snapLength);
    pcap.add(frame).add(frame);
    const std::size_t damagedAt = pcap.bytes.size();
    pcap.add(room, 0, 0, c.captured, c.original).add(frame);
    CaptureReader reader;
    ASSERT_TRUE(reader.openMemory(pcap.bytes.data(), pcap.bytes.size()));
    EXPECT_EQ(readAll(reader).size(), 2u);
    EXPECT_NE(reader.damage().find("record 2 at byte offset " + std::to_string(damagedAt)), std::string::npos)
        << reader.damage();
    EXPECT_NE(reader.damage().find(c.mentions), std::string::npos) << reader.damage();
  }
  // A few bytes over the snapshot length, as some writers do, is still read.
  PcapBuilder slack(1, false, false, 40);
  slack.add(frame);
  CaptureReader reader;
  ASSERT_TRUE(reader.openMemory(slack.bytes.data(), slack.bytes.size()));
  EXPECT_EQ(readAll(reader).size(), 1u);
  EXPECT_TRUE(reader.damage().empty());
}

// ---- Captures written by tcpdump on loopback -----------------------------------

namespace {

// tcpdump running in the background, writing to a file.
class Tcpdump {
 public:
  // Returns an empty string when tcpdump is listening, else why not. Its
  // messages go to `logPath`.
  std::string start(const std::vector<std::string>& arguments, const std::string& logPath) {
    pid_ = fork();
    if (pid_ < 0) return "cannot fork";
    if (pid_ == 0) {
      const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (log >= 0) {
        dup2(log, 1);
        dup2(log, 2);
      }
      std::vector<char*> argv;
      static const char kProgram[] = "tcpdump";
      argv.push_back(const_cast<char*>(kProgram));
      for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp("tcpdump", argv.data());
      _exit(127);
    }
    // tcpdump says "listening on ..." once its capture is set up.
    std::string said;
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      std::ifstream in(logPath);
      said.assign(std::istreambuf_iterator<char>(in), {});
      if (said.find("listening on") != std::string::npos) return {};
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return "tcpdump is not installed";
        break;
      }
    }
    stop();
    return "tcpdump did not start: " + (said.empty() ? std::string("no answer") : said.substr(0, said.find('\n')));
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    int status = 0;
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         std::chrono::steady_clock::now() < deadline;) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = 0;
  }
  ~Tcpdump() { stop(); }

 private:
  pid_t pid_ = 0;
};

// A bound UDP socket on 127.0.0.1 whose port is free (the kernel picks it);
// being bound, the datagrams sent to it are received, not refused.
struct LoopbackReceiver {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  std::uint16_t port = 0;
  LoopbackReceiver() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
      port = ntohs(a.sin_port);
  }
  ~LoopbackReceiver() { ::close(fd); }
};

void captureLoopbackTraffic(const std::vector<std::string>& interfaceArguments, LinkType expectedLinkType) {
  TempDir dir;
  const std::string path = dir.file("tcpdump.pcap");
  LoopbackReceiver receiver;
  ASSERT_NE(receiver.port, 0);
  std::vector<std::string> arguments = interfaceArguments;
  // -Z root: tcpdump keeps the right to write into the test's directory.
  for (const char* a : {"-Z", "root", "-U", "-n", "-w"}) arguments.push_back(a);
  arguments.push_back(path);
  arguments.push_back("udp port " + std::to_string(receiver.port));
  Tcpdump tcpdump;
  const std::string problem = tcpdump.start(arguments, dir.file("tcpdump.log"));
  if (!problem.empty()) {
    GTEST_SKIP() << problem;
  }

  sim::ScanPacketStream stream(sim::ScanPattern{});
  std::vector<Bytes> sent = {payloadOf(1, 1), payloadOf(100, 2)};
  const auto data = stream.next();
  sent.emplace_back(data.begin(), data.end());
  const auto status = sim::encodeStatusPacket(sim::SensorStatus{});
  sent.emplace_back(status.begin(), status.end());
  sent.push_back(payloadOf(9000, 3));  // more than an Ethernet MTU; lo carries it whole

  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(receiver.port);
  for (const Bytes& p : sent)
    ASSERT_EQ(sendto(sender, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(p.size()));
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  getsockname(sender, reinterpret_cast<sockaddr*>(&from), &fromLength);
  ::close(sender);

  // tcpdump -U writes each packet as it comes; wait until all are there.
  std::vector<ReadDatagram> got;
  CaptureReader reader;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
       got.size() < sent.size() && std::chrono::steady_clock::now() < deadline;) {
    got.clear();
    if (reader.open(path)) got = readAll(reader);
    if (got.size() < sent.size()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  tcpdump.stop();

  ASSERT_TRUE(reader.open(path)) << reader.error();
  EXPECT_EQ(reader.linkType(), expectedLinkType);
  got = readAll(reader);
  EXPECT_TRUE(reader.damage().empty()) << reader.damage();
  ASSERT_EQ(got.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bytesOf(got[i]), sent[i]);
    EXPECT_EQ(got[i].sourceIp, kHostIp);
    EXPECT_EQ(got[i].destIp, kHostIp);
    EXPECT_EQ(got[i].sourcePort, ntohs(from.sin_port));
    EXPECT_EQ(got[i].destPort, receiver.port);
    EXPECT_GT(got[i].seconds, 1600000000);
  }

  // The data packet is loaded from tcpdump's file, and only it.
  DataPacketList list;
  std::string error, damage;
  ASSERT_TRUE(loadDataPackets(path, list, error, damage)) << error;
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(bytesOf(list), Bytes(data.begin(), data.end()));
}

}  // namespace

TEST(CaptureFromTcpdumpTest, LoopbackInterfaceIsEthernet) { captureLoopbackTraffic({"-i", "lo"}, LinkType::Ethernet); }

TEST(CaptureFromTcpdumpTest, AnyInterfaceLinuxCookedV1) {
  captureLoopbackTraffic({"-i", "any", "-y", "LINUX_SLL"}, LinkType::LinuxCooked);
}

TEST(CaptureFromTcpdumpTest, AnyInterfaceLinuxCookedV2) {
  captureLoopbackTraffic({"-i", "any", "-y", "LINUX_SLL2"}, LinkType::LinuxCooked2);
}
