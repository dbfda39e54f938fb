#include "RevolutionAssembly.h"

#include <algorithm>
#include <array>
#include <vector>

namespace z540k {

namespace {

// Firing times in eighths of a packet time stamp unit, where every firing
// offset is whole: the slot period is 25 eighths, the origin 4775.
constexpr std::int64_t kSlotEighths = 25;
constexpr std::int64_t kOriginEighths = 4775;
static_assert(kSlotPeriod * 8 == kSlotEighths && kTimestampOrigin * 8 == kOriginEighths,
              "firing offsets are whole eighths");

// Both layouts keep their first half of measurements in slots 0, 1, ... and
// the second half in slots 16, 17, ...: two runs of adjacent slots.
constexpr int kSecondHalfSlot = 16;
template <std::size_t K>
constexpr bool inTwoRuns(const std::array<std::uint8_t, K>& slots) {
  for (std::size_t k = 0; k < K; ++k)
    if (slots[k] != (k < K / 2 ? k : kSecondHalfSlot + k - K / 2)) return false;
  return true;
}
static_assert(inTwoRuns(kProtocol17Slots) && inTwoRuns(kProtocol16Slots), "slots in two runs");

// Offset of every measurement of a packet (block b, measurement k at b K + k)
// from the packet time stamp, in eighths. The slot number enters directly,
// so in protocol 1.7 slot 30 of block b and slot 0 of block b + 1 share an
// offset. Packet time + offset is the sensor's left-to-right formula; in
// eighths it is exact, as it is in double precision (35 bits).
template <std::size_t K>
constexpr std::array<std::int64_t, kBlocksPerPacket * K> firingEighths(const std::array<std::uint8_t, K>& slots) {
  std::array<std::int64_t, kBlocksPerPacket * K> eighths{};
  for (std::size_t b = 0; b < kBlocksPerPacket; ++b)
    for (std::size_t k = 0; k < K; ++k)
      eighths[b * K + k] = static_cast<std::int64_t>(K * b + slots[k]) * kSlotEighths - kOriginEighths;
  return eighths;
}
constexpr auto kProtocol17Eighths = firingEighths(kProtocol17Slots);
constexpr auto kProtocol16Eighths = firingEighths(kProtocol16Slots);
// No offset lies before block 0's slot 0.
constexpr std::int64_t kEarliestEighths = -kOriginEighths;

// Measurements of `blocks` blocks from `block` on (block b of its packet):
// raw distance, intensity and firing time, the time truncated and negative
// times 0.
template <int K>
void readBlocks(const std::uint8_t* block, int b, int blocks, std::uint32_t packetTime, double* distance,
                int* intensity, unsigned long long* timestamp) {
  constexpr int kHalf = K / 2;
  for (int i = 0; i < blocks; ++i, block += kBlockSize, distance += K, intensity += K) {
    const std::uint8_t* low = block + kBlockSlotsOffset;
    const std::uint8_t* high = low + kSlotSize * kSecondHalfSlot;
    for (int k = 0; k < kHalf; ++k) {
      distance[k] = loadLE16(low + kSlotSize * k);
      intensity[k] = low[kSlotSize * k + 2];
    }
    for (int k = 0; k < kHalf; ++k) {
      distance[kHalf + k] = loadLE16(high + kSlotSize * k);
      intensity[kHalf + k] = high[kSlotSize * k + 2];
    }
  }
  const std::int64_t* eighths =
      (K == kProtocol17MeasurementsPerBlock ? kProtocol17Eighths.data() : kProtocol16Eighths.data()) + b * K;
  const int n = blocks * K;
  const std::int64_t time = static_cast<std::int64_t>(packetTime) * 8;
  if (time + kEarliestEighths >= 0) {
    for (int j = 0; j < n; ++j) timestamp[j] = static_cast<unsigned long long>(time + eighths[j]) >> 3;
  } else {
    // Early firings of a packet with a small time stamp: clamped to 0 rather
    // than wrapped into huge unsigned values.
    for (int j = 0; j < n; ++j) {
      const std::int64_t t = time + eighths[j];
      timestamp[j] = t > 0 ? static_cast<unsigned long long>(t) >> 3 : 0ULL;
    }
  }
}

// Appends the measurements of `blocks` blocks from `block` on to distance,
// intensity and timestamp.
void appendMeasurements(LidarDataSingleLine& record, const std::uint8_t* block, int b, int blocks, Layout layout,
                        std::uint32_t packetTime) {
  const int count = measurementsPerBlock(layout);
  const std::size_t n = record.distance.size();
  const std::size_t added = static_cast<std::size_t>(blocks) * count;
  record.distance.resize(n + added);
  record.intensity.resize(n + added);
  record.timestamp.resize(n + added);
  double* distance = record.distance.data() + n;
  int* intensity = record.intensity.data() + n;
  unsigned long long* timestamp = record.timestamp.data() + n;
  if (layout == Layout::Protocol17)
    readBlocks<kProtocol17MeasurementsPerBlock>(block, b, blocks, packetTime, distance, intensity, timestamp);
  else
    readBlocks<kProtocol16MeasurementsPerBlock>(block, b, blocks, packetTime, distance, intensity, timestamp);
}

// The span from the second-newest to the newest block azimuth, in single
// precision, taken forwards across the 0/360 wrap.
inline float blockSpan(double prev, double last) {
  float delta = static_cast<float>(last - prev);
  if (delta < 0.0f) delta += 360.0f;
  return delta;
}

// The azimuths of a block's `count` measurements, spread evenly from `prev`
// towards `next`: the per-measurement step in single precision, the sum in
// double precision, wrapped below 360. The azimuths grow with k (the step is
// not negative), so when the last one stays below 360 every one does and the
// loop needs no test.
inline void spreadAzimuths(double* azimuth, double prev, double next, int count) {
  const float step = blockSpan(prev, next) / static_cast<float>(count);
  const auto at = [prev, step](int k) { return prev + static_cast<double>(step * static_cast<float>(k)); };
  if (step >= 0.0f && at(count - 1) < 360.0) {
    for (int k = 0; k < count; ++k) azimuth[k] = at(k);
  } else {
    for (int k = 0; k < count; ++k) {
      const double a = at(k);
      azimuth[k] = a < 360.0 ? a : a - 360.0;
    }
  }
}

}  // namespace

// Gives the measurements of the second-newest block their azimuths, spread
// evenly from its azimuth towards the newest block's. The per-measurement step
// is computed in single precision.
void interpolate(LidarDataSingleLine& record, int count) {
  const std::size_t nb = record.blockAzimuth.size();
  if (nb < 2) return;
  const std::size_t n = record.azimuth.size();
  record.azimuth.resize(n + count);
  spreadAzimuths(record.azimuth.data() + n, record.blockAzimuth[nb - 2], record.blockAzimuth[nb - 1], count);
}

// Gives the newest block's measurements azimuths by continuing the last
// block span beyond the newest block azimuth. The step Delta / K x k is the
// interpolation's single-precision value; only the sum is formed in double.
void extrapolate(LidarDataSingleLine& record, int count) {
  const std::size_t nb = record.blockAzimuth.size();
  if (nb < 2) return;
  const double last = record.blockAzimuth[nb - 1];
  const float step = blockSpan(record.blockAzimuth[nb - 2], last) / static_cast<float>(count);
  const std::size_t n = record.azimuth.size();
  record.azimuth.resize(n + count);
  double* azimuth = record.azimuth.data() + n;
  for (int k = 0; k < count; ++k) {
    const double a = last + static_cast<double>(step * static_cast<float>(k));
    azimuth[k] = a >= 360.0 ? a - 360.0 : a;
  }
}

namespace {

template <typename T>
void dropFront(std::vector<T>& list, std::size_t count) {
  list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(std::min(count, list.size())));
}

}  // namespace

void boundRecord(LidarDataSingleLine& record, std::size_t incoming, std::size_t limit) {
  const std::size_t size = record.distance.size();
  if (size + incoming <= limit) return;
  const std::size_t excess = size - std::min(size, limit / 2);
  const std::size_t drop = std::min(size, (excess + incoming - 1) / incoming * incoming);
  dropFront(record.distance, drop);
  dropFront(record.intensity, drop);
  dropFront(record.azimuth, drop);
  dropFront(record.timestamp, drop);
  // Only the newest two block azimuths take part in the decoding.
  if (record.blockAzimuth.size() > 2) dropFront(record.blockAzimuth, record.blockAzimuth.size() / 2);
}

int appendBlock(LidarDataSingleLine& record, const std::uint8_t* block, double blockAzimuth, int b, Layout layout,
                std::uint32_t packetTime) {
  const int count = measurementsPerBlock(layout);
  boundRecord(record, static_cast<std::size_t>(count), kRecordLimit);
  record.blockAzimuth.push_back(blockAzimuth);
  appendMeasurements(record, block, b, 1, layout, packetTime);
  interpolate(record, count);
  return count;
}

int appendBlocks(LidarDataSingleLine& record, const std::uint8_t* packet, const double* blockAzimuths, int first,
                 int end, Layout layout, std::uint32_t packetTime) {
  const int count = measurementsPerBlock(layout);
  if (end <= first) return count;
  // A run that would reach the bound is taken block by block, each bounding
  // the record as it needs.
  if (record.distance.size() + static_cast<std::size_t>(end - first) * count > kRecordLimit) {
    for (int b = first; b < end; ++b)
      appendBlock(record, packet + kBlockSize * b, blockAzimuths[b], b, layout, packetTime);
    return count;
  }
  std::vector<double>& blockAzimuth = record.blockAzimuth;
  const std::size_t before = blockAzimuth.size();
  blockAzimuth.insert(blockAzimuth.end(), blockAzimuths + first, blockAzimuths + end);
  appendMeasurements(record, packet + kBlockSize * first, first, end - first, layout, packetTime);
  // Each new block with one before it gives that one its azimuths.
  const std::size_t from = before == 0 ? 1 : before;
  const std::size_t to = blockAzimuth.size();
  if (from < to) {
    const std::size_t n = record.azimuth.size();
    record.azimuth.resize(n + (to - from) * count);
    double* azimuth = record.azimuth.data() + n;
    for (std::size_t j = from; j < to; ++j, azimuth += count)
      spreadAzimuths(azimuth, blockAzimuth[j - 1], blockAzimuth[j], count);
  }
  return count;
}

}  // namespace z540k
