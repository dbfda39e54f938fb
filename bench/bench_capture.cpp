// Reading a large capture of the sensor: a bare libpcap loop that only counts
// records (with its default stdio buffer, and with a 1 MiB one) as the
// yardstick, against CaptureReader::next over the whole file; and opening the
// capture for the player with loadDataPackets, timed in turn with the
// reader's scan of the same file and reported against it (load/scan, the
// median of the pairs) with the memory the packet list adds per packet. The
// capture (about 1 GB of data packets with a status packet now and then, as
// the sensor sends them) is written once with CaptureWriter to
// $Z540K_BENCH_CAPTURE (default /tmp/z540k-bench-1g.pcap) and reused while
// its size is right; it is read once before measuring so every figure is
// taken with the file in the page cache.
//
// Run by hand: build/bench/bench_capture
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "CaptureFile.h"
#include "PacketEncoders.h"
#include "ScanPacketStream.h"

using namespace z540k;

namespace {

constexpr std::uint64_t kDataPackets = 800000;     // x 1264 file bytes: about 1 GB
constexpr std::uint64_t kDataPacketsPerStatus = 1000;
constexpr std::uint64_t kRecordBytes = 16 + 14 + 20 + 8 + 1206;  // both kinds are 1206-byte datagrams
constexpr std::uint64_t kRecords = kDataPackets + kDataPackets / kDataPacketsPerStatus;
constexpr std::uint64_t kFileBytes = 24 + kRecords * kRecordBytes;
constexpr std::uint32_t kSensorIp = 0x7F000002;
constexpr std::uint32_t kHostIp = 0x7F000001;
constexpr std::size_t kLargeStdioBuffer = 1 << 20;

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

// Reads the whole file once so the figures below are with it in the page cache.
void warmPageCache(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  std::vector<char> chunk(8 << 20);
  while (std::fread(chunk.data(), 1, chunk.size(), f) == chunk.size()) {
  }
  std::fclose(f);
}

void countWithLibpcap(benchmark::State& state, pcap_t* pcap, std::uint64_t& records) {
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  records = 0;
  while (pcap_next_ex(pcap, &header, &bytes) == 1) ++records;
  benchmark::DoNotOptimize(records);
  if (records != kRecords) state.SkipWithError("libpcap counted a different number of records");
}

void finish(benchmark::State& state, std::uint64_t records) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * records));
}

// (a) The yardstick: libpcap opens the file itself and reads every record.
void BM_LibpcapCountRecords(benchmark::State& state) {
  std::uint64_t records = 0;
  for (auto _ : state) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* pcap = pcap_open_offline(capturePath().c_str(), error);
    if (!pcap) {
      state.SkipWithError(error);
      return;
    }
    countWithLibpcap(state, pcap, records);
    pcap_close(pcap);
  }
  finish(state, records);
}

// (b) The same with a 1 MiB stdio buffer under libpcap.
void BM_LibpcapCountRecordsLargeBuffer(benchmark::State& state) {
  std::uint64_t records = 0;
  std::unique_ptr<char[]> buffer(new char[kLargeStdioBuffer]);
  for (auto _ : state) {
    std::FILE* file = std::fopen(capturePath().c_str(), "rb");
    if (!file) {
      state.SkipWithError("cannot open the capture");
      return;
    }
    std::setvbuf(file, buffer.get(), _IOFBF, kLargeStdioBuffer);
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* pcap = pcap_fopen_offline(file, error);  // closes the file in pcap_close
    if (!pcap) {
      std::fclose(file);
      state.SkipWithError(error);
      return;
    }
    countWithLibpcap(state, pcap, records);
    pcap_close(pcap);
  }
  finish(state, records);
}

// Every UDP datagram of the capture through CaptureReader::next; the count.
std::uint64_t scanWithReader(benchmark::State& state) {
  CaptureReader reader;
  if (!reader.open(capturePath())) {
    state.SkipWithError(reader.error().c_str());
    return 0;
  }
  std::uint64_t datagrams = 0;
  std::size_t payloadBytes = 0;
  CapturedDatagram d;
  while (reader.next(d)) {
    ++datagrams;
    payloadBytes += d.size;
  }
  benchmark::DoNotOptimize(payloadBytes);
  if (datagrams != kRecords) state.SkipWithError("the reader found a different number of datagrams");
  return datagrams;
}

// (c) Every UDP datagram through CaptureReader::next.
void BM_CaptureReaderNext(benchmark::State& state) {
  std::uint64_t datagrams = 0;
  for (auto _ : state) datagrams = scanWithReader(state);
  finish(state, datagrams);
}

// Anonymous memory the process holds (heap and anonymous mappings, not the
// capture's mapped pages), from /proc/self/status.
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

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// (d) Opening the capture for the player: each iteration scans the file with
// the reader, then loads it, and holds the list while the memory is read.
// Counters: the medians of both times and of their ratio (the goal is a load
// of at most twice the scan), and the anonymous memory the held list adds,
// per packet (the goal is at most 16 bytes).
void BM_LoadDataPacketsAgainstScan(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> scanMs, loadMs, ratios, listBytesPerPacket;
  std::size_t packets = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    scanWithReader(state);
    const auto t1 = Clock::now();
    const std::int64_t before = anonymousBytes();
    DataPacketList list;
    std::string error, damage;
    const auto t2 = Clock::now();
    const bool loaded = loadDataPackets(capturePath(), list, error, damage);
    const auto t3 = Clock::now();
    const std::int64_t after = anonymousBytes();
    if (!loaded) {
      state.SkipWithError(error.c_str());
      return;
    }
    packets = list.count();
    benchmark::DoNotOptimize(list.packet(packets - 1));
    if (packets != kDataPackets) state.SkipWithError("a different number of data packets was loaded");
    const double scan = std::chrono::duration<double, std::milli>(t1 - t0).count();
    const double load = std::chrono::duration<double, std::milli>(t3 - t2).count();
    scanMs.push_back(scan);
    loadMs.push_back(load);
    ratios.push_back(load / scan);
    listBytesPerPacket.push_back(static_cast<double>(after - before) / static_cast<double>(packets));
  }
  state.counters["scan_ms"] = median(scanMs);
  state.counters["load_ms"] = median(loadMs);
  state.counters["load/scan"] = median(ratios);
  state.counters["list_B/packet"] = median(listBytesPerPacket);
  finish(state, packets);
}

}  // namespace

BENCHMARK(BM_LibpcapCountRecords)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LibpcapCountRecordsLargeBuffer)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CaptureReaderNext)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LoadDataPacketsAgainstScan)->Unit(benchmark::kMillisecond)->Iterations(7);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Large blocks in mappings of their own, given back when freed: the
  // memory a packet list adds shows in the process's anonymous memory on
  // every iteration, not only the first.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  const std::string path = capturePath();
  if (sizeOf(path) != kFileBytes) {
    std::fprintf(stderr, "writing %llu bytes of capture to %s ...\n", static_cast<unsigned long long>(kFileBytes),
                 path.c_str());
    if (!writeCapture(path)) return 1;
  }
  warmPageCache(path);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
