// Reading a large capture of the sensor: a bare libpcap loop that only counts
// records (with its default stdio buffer, and with a 1 MiB one) as the
// yardstick, against CaptureReader::next over the whole file and
// loadDataPackets. The capture (about 1 GB of data packets with a status
// packet now and then, as the sensor sends them) is written once with
// CaptureWriter to $Z540K_BENCH_CAPTURE (default /tmp/z540k-bench-1g.pcap)
// and reused while its size is right; it is read once before measuring so
// every figure is taken with the file in the page cache.
//
// Run by hand: build/bench/bench_capture
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

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

// (c) Every UDP datagram through CaptureReader::next.
void BM_CaptureReaderNext(benchmark::State& state) {
  std::uint64_t datagrams = 0;
  for (auto _ : state) {
    CaptureReader reader;
    if (!reader.open(capturePath())) {
      state.SkipWithError(reader.error().c_str());
      return;
    }
    datagrams = 0;
    std::size_t payloadBytes = 0;
    CapturedDatagram d;
    while (reader.next(d)) {
      ++datagrams;
      payloadBytes += d.size;
    }
    benchmark::DoNotOptimize(payloadBytes);
    if (datagrams != kRecords) state.SkipWithError("the reader found a different number of datagrams");
  }
  finish(state, datagrams);
}

// (d) The player's whole load: every data packet copied into one block.
void BM_LoadDataPackets(benchmark::State& state) {
  std::size_t packets = 0;
  for (auto _ : state) {
    DataPacketList list;
    std::string error, damage;
    if (!loadDataPackets(capturePath(), list, error, damage)) {
      state.SkipWithError(error.c_str());
      return;
    }
    packets = list.count();
    benchmark::DoNotOptimize(list.bytes.data());
    if (packets != kDataPackets) state.SkipWithError("a different number of data packets was loaded");
  }
  finish(state, packets);
}

}  // namespace

BENCHMARK(BM_LibpcapCountRecords)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LibpcapCountRecordsLargeBuffer)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CaptureReaderNext)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LoadDataPackets)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
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
