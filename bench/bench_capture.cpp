// Opening a large capture for the player: loadDataPackets (one pass that
// lists the data packets and indexes their revolutions) against a bare
// libpcap loop that only counts the packets (pcap_open_offline and
// pcap_next_ex), on the same file in the same run, in alternating rounds
// (libpcap, load, libpcap, load ...) so both see the same machine. Printed:
// the medians, their ratio (the goal: the load takes at most 0.8x the
// libpcap loop), the load average, and the memory a loaded list holds per
// packet (anonymous memory added while it is held).
//
// The capture (about 1 GB of data packets with a status packet now and then,
// as the sensor sends them) is written once with CaptureWriter to
// $Z540K_BENCH_CAPTURE (default /tmp/z540k-bench-1g.pcap) and reused while
// its size is right; its pcapng form (editcap, from tshark) beside it as
// .pcapng. Both are read once before measuring, so every figure is taken
// with the files in the page cache.
//
// Run by hand: build/bench/bench_capture [rounds, default 5]
#include <malloc.h>
#include <pcap/pcap.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CaptureFile.h"
#include "DataPacketLoad.h"
#include "PacketEncoders.h"
#include "ScanPacketStream.h"

using namespace z540k;
using namespace z540k::bench;

namespace {

constexpr std::uint64_t kDataPackets = 800000;  // x 1264 file bytes: about 1 GB
constexpr std::uint64_t kDataPacketsPerStatus = 1000;
constexpr std::uint64_t kRecordBytes = 16 + 14 + 20 + 8 + 1206;  // both kinds are 1206-byte datagrams
constexpr std::uint64_t kRecords = kDataPackets + kDataPackets / kDataPacketsPerStatus;
constexpr std::uint64_t kFileBytes = 24 + kRecords * kRecordBytes;
constexpr std::uint32_t kSensorIp = 0x7F000002;
constexpr std::uint32_t kHostIp = 0x7F000001;

std::string capturePath() {
  const char* configured = std::getenv("Z540K_BENCH_CAPTURE");
  return configured && *configured ? configured : "/tmp/z540k-bench-1g.pcap";
}

std::uint64_t sizeOf(const std::string& path) {
  struct stat s {};
  return stat(path.c_str(), &s) == 0 ? static_cast<std::uint64_t>(s.st_size) : 0;
}

// Writes the capture into a neighbour file and renames it, so an interrupted
// run never leaves a short file that a later run would take.
bool writeCapture(const std::string& path) {
  const std::string partial = path + ".partial";
  CaptureWriter writer;
  if (!writer.open(partial)) {
    std::fprintf(stderr, "%s\n", writer.error().c_str());
    return false;
  }
  sim::ScanPacketStream stream(sim::ScanPattern{});
  const auto status = sim::encodeStatusPacket(sim::SensorStatus{});
  std::int64_t microseconds = 1700000000ll * 1000000;
  for (std::uint64_t i = 0; i < kDataPackets; ++i) {
    const auto packet = stream.next();
    microseconds += 1333;  // 12 firings at 600 rpm, 360 firings a turn
    bool ok = writer.write(packet.data(), packet.size(), kSensorIp, 2368, kHostIp, 2368, microseconds / 1000000,
                           static_cast<std::uint32_t>(microseconds % 1000000));
    if (ok && (i + 1) % kDataPacketsPerStatus == 0)
      ok = writer.write(status.data(), status.size(), kSensorIp, 2369, kHostIp, 2369, microseconds / 1000000,
                        static_cast<std::uint32_t>(microseconds % 1000000));
    if (!ok) break;
  }
  if (!writer.close() || std::rename(partial.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "%s\n", writer.error().empty() ? "cannot rename the capture" : writer.error().c_str());
    std::remove(partial.c_str());
    return false;
  }
  return true;
}

// The pcapng form of the capture, written once beside it.
bool convertToPcapng(const std::string& classic, const std::string& pcapng) {
  if (sizeOf(pcapng) > kFileBytes) return true;
  const std::string partial = pcapng + ".partial";
  if (std::system(("editcap -F pcapng '" + classic + "' '" + partial + "'").c_str()) != 0 ||
      std::rename(partial.c_str(), pcapng.c_str()) != 0) {
    std::fprintf(stderr, "cannot write %s with editcap (Debian package tshark)\n", pcapng.c_str());
    std::remove(partial.c_str());
    return false;
  }
  return true;
}

// Anonymous memory the process holds (heap and anonymous mappings), from
// /proc/self/status.
std::int64_t anonymousBytes() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long long kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "RssAnon: %lld kB", &kib) == 1) break;
  std::fclose(f);
  return kib * 1024;
}

// (A) libpcap opens the file itself and counts its packets.
bool libpcapRound(const std::string& path, double& ms) {
  const auto start = std::chrono::steady_clock::now();
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* pcap = pcap_open_offline(path.c_str(), error);
  if (!pcap) {
    std::fprintf(stderr, "libpcap: %s\n", error);
    return false;
  }
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  std::uint64_t packets = 0;
  while (pcap_next_ex(pcap, &header, &bytes) == 1) ++packets;
  pcap_close(pcap);
  ms = msSince(start);
  if (packets != kRecords) {
    std::fprintf(stderr, "libpcap counted %llu packets, not %llu\n", static_cast<unsigned long long>(packets),
                 static_cast<unsigned long long>(kRecords));
    return false;
  }
  return true;
}

// (B) The player's load, holding the list while its memory is read.
bool loadRound(const std::string& path, double& ms, double& bytesPerPacket) {
  const std::int64_t before = anonymousBytes();
  const auto start = std::chrono::steady_clock::now();
  DataPacketList list;
  std::string error, damage;
  const bool loaded = loadDataPackets(path, list, error, damage);
  ms = msSince(start);
  bytesPerPacket = static_cast<double>(anonymousBytes() - before) / static_cast<double>(list.count());
  if (!loaded || !damage.empty() || list.count() != kDataPackets) {
    std::fprintf(stderr, "load: %s%s, %zu data packets\n", error.c_str(), damage.c_str(), list.count());
    return false;
  }
  return true;
}

bool measure(const char* name, const std::string& path, int rounds) {
  warmPageCache(path);
  std::vector<double> libpcapMs, loadMs, bytes;
  for (int round = 0; round < rounds; ++round) {
    double a = 0, b = 0, perPacket = 0;
    if (!libpcapRound(path, a) || !loadRound(path, b, perPacket)) return false;
    libpcapMs.push_back(a);
    loadMs.push_back(b);
    bytes.push_back(perPacket);
  }
  const double a = median(libpcapMs), b = median(loadMs);
  std::printf(
      "%-8s %5.2f GB  libpcap loop %7.1f ms  loadDataPackets %7.1f ms  load/libpcap %.2f  "
      "list %.1f B/packet  (medians of %d rounds each)\n",
      name, static_cast<double>(sizeOf(path)) / 1e9, a, b, b / a, median(bytes), rounds);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  // Large blocks in mappings of their own, given back when freed: the
  // memory a packet list adds shows in the process's anonymous memory on
  // every round, not only the first.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  const std::string path = capturePath(), pcapng = path + "ng";
  if (sizeOf(path) != kFileBytes) {
    std::fprintf(stderr, "writing %llu bytes of capture to %s ...\n", static_cast<unsigned long long>(kFileBytes),
                 path.c_str());
    if (!writeCapture(path)) return 1;
  }
  const bool withPcapng = convertToPcapng(path, pcapng);
  std::printf("load average before: %s\n", loadAverage().c_str());
  if (!measure("pcap", path, rounds)) return 1;
  if (withPcapng && !measure("pcapng", pcapng, rounds)) return 1;
  std::printf("load average after:  %s\n", loadAverage().c_str());
  return 0;
}
