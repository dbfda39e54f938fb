// Decoding speed of the data packet decoder in every layout and return mode,
// and of compact scan packets, against two ceilings: copying the measurement
// slots into three columns, and a plain memcpy of the same packet bytes.
// Items are measurements read from the packets (360 per protocol 1.7 packet,
// the memcpy counted the same way, so items/s compare directly).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "DataPacketDecoder.h"
#include "PacketEncoders.h"
#include "ScanPacketStream.h"

using namespace z540k;

namespace {

constexpr int kPackets = 4096;  // about 11 revolutions of 360 firings

std::vector<std::uint8_t> makeStream(Layout layout, bool dual) {
  sim::ScanPattern pattern;
  pattern.layout = layout;
  pattern.dualReturn = dual;
  pattern.firingsPerRevolution = dual ? 180 : 360;
  sim::ScanPacketStream stream(pattern);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(kPackets) * kDataPacketSize);
  for (int i = 0; i < kPackets; ++i) {
    const auto p = stream.next();
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  return bytes;
}

void decodeStream(benchmark::State& state, Layout layout, ReturnMode mode) {
  const bool dual = mode != ReturnMode::Strongest;
  const std::vector<std::uint8_t> bytes = makeStream(layout, dual);
  DataPacketDecoder decoder;
  decoder.setLayout(layout);
  decoder.setReturnMode(mode);
  std::size_t records = 0;
  decoder.setRecordSink([&](const LidarDataSingleLine& r) {
    benchmark::DoNotOptimize(r.distance.data());
    ++records;
  });
  for (auto _ : state) {
    for (int i = 0; i < kPackets; ++i)
      decoder.decodeDataPacket(bytes.data() + static_cast<std::size_t>(i) * kDataPacketSize, kDataPacketSize);
  }
  const int perBlock = (dual || layout == Layout::Protocol17) ? 30 : 2;
  state.SetItemsProcessed(state.iterations() * kPackets * 12 * perBlock);
  state.counters["revolutions_per_pass"] = static_cast<double>(records) / static_cast<double>(state.iterations());
}

void BM_Decode_Protocol17_Strongest(benchmark::State& s) { decodeStream(s, Layout::Protocol17, ReturnMode::Strongest); }
void BM_Decode_Protocol16_Strongest(benchmark::State& s) { decodeStream(s, Layout::Protocol16, ReturnMode::Strongest); }
void BM_Decode_Dual(benchmark::State& s) { decodeStream(s, Layout::Protocol17, ReturnMode::Dual); }
void BM_Decode_DualFirst(benchmark::State& s) { decodeStream(s, Layout::Protocol17, ReturnMode::DualFirst); }
void BM_Decode_DualSecond(benchmark::State& s) { decodeStream(s, Layout::Protocol17, ReturnMode::DualSecond); }

// The ceiling: copy the 30 measurement slots of every block into three
// reused columns (distance, intensity, time), nothing else.
void BM_Ceiling_CopySlotsProtocol17(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = makeStream(Layout::Protocol17, false);
  std::vector<double> distance(kPackets * 360);
  std::vector<int> intensity(kPackets * 360);
  std::vector<unsigned long long> timestamp(kPackets * 360);
  for (auto _ : state) {
    std::size_t n = 0;
    for (int i = 0; i < kPackets; ++i) {
      const std::uint8_t* packet = bytes.data() + static_cast<std::size_t>(i) * kDataPacketSize;
      const double T = loadLE32(packet + kPacketTimestampOffset);
      for (int b = 0; b < 12; ++b) {
        const std::uint8_t* slots = packet + 100 * b + 4;
        for (int k = 0; k < 30; ++k, ++n) {
          const std::uint8_t* s = slots + 3 * kProtocol17Slots[k];
          distance[n] = loadLE16(s);
          intensity[n] = s[2];
          timestamp[n] = static_cast<unsigned long long>(T + k);
        }
      }
    }
    benchmark::DoNotOptimize(distance.data());
    benchmark::DoNotOptimize(intensity.data());
    benchmark::DoNotOptimize(timestamp.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPackets * 360);
}

// The other ceiling: memcpy the whole packet stream into a reused buffer.
void BM_Ceiling_Memcpy(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = makeStream(Layout::Protocol17, false);
  std::vector<std::uint8_t> copy(bytes.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPackets * 360);
}

void BM_Decode_CompactScan(benchmark::State& state) {
  std::vector<sim::CompactScanPacketBytes> packets;
  std::array<sim::Measurement, kCompactMeasurementsPerPacket> m{};
  for (int k = 0; k < kCompactMeasurementsPerPacket; ++k) m[k] = sim::Measurement{static_cast<std::uint16_t>(k + 1), 9};
  for (int i = 0; i < 1024; ++i) packets.push_back(sim::encodeCompactScanPacket((i % 4) * 900000u, m));
  DataPacketDecoder decoder;
  decoder.setRecordSink([](const LidarDataSingleLine& r) { benchmark::DoNotOptimize(r.distance.data()); });
  for (auto _ : state)
    for (const auto& p : packets) decoder.decodeCompactScanPacket(p.data(), p.size());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(packets.size()) *
                          kCompactMeasurementsPerPacket);
}

}  // namespace

BENCHMARK(BM_Ceiling_CopySlotsProtocol17);
BENCHMARK(BM_Ceiling_Memcpy);
BENCHMARK(BM_Decode_Protocol17_Strongest);
BENCHMARK(BM_Decode_Protocol16_Strongest);
BENCHMARK(BM_Decode_Dual);
BENCHMARK(BM_Decode_DualFirst);
BENCHMARK(BM_Decode_DualSecond);
BENCHMARK(BM_Decode_CompactScan);

BENCHMARK_MAIN();
