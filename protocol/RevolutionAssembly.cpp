#include "RevolutionAssembly.h"

#include <algorithm>
#include <array>

namespace z540k {

namespace {

// Firing offset of every measurement of a packet, in packet time stamp units,
// relative to the packet time stamp. The slot number enters directly, so in
// protocol 1.7 slot 30 of block b and slot 0 of block b + 1 share an offset.
// All values are multiples of 1/8, so adding them to the (integral, 32-bit)
// packet time is exact and equals the sensor's left-to-right formula.
struct FiringOffsets {
  std::array<std::array<double, kProtocol17MeasurementsPerBlock>, kBlocksPerPacket> protocol17{};
  std::array<std::array<double, kProtocol16MeasurementsPerBlock>, kBlocksPerPacket> protocol16{};

  FiringOffsets() {
    for (int b = 0; b < kBlocksPerPacket; ++b) {
      for (int k = 0; k < kProtocol17MeasurementsPerBlock; ++k)
        protocol17[b][k] = (30 * b + kProtocol17Slots[k]) * kSlotPeriod - kTimestampOrigin;
      for (int k = 0; k < kProtocol16MeasurementsPerBlock; ++k)
        protocol16[b][k] = (kProtocol16Slots[k] + 2 * b) * kSlotPeriod - kTimestampOrigin;
    }
  }
};

const FiringOffsets& firingOffsets() {
  static const FiringOffsets offsets;
  return offsets;
}

// Early slots of a packet with a small time stamp come out negative: they are
// clamped to 0 rather than wrapped into huge unsigned values.
inline unsigned long long toTimestamp(double t) {
  return t > 0.0 ? static_cast<unsigned long long>(t) : 0ULL;
}

// The span from the second-newest to the newest block azimuth, in single
// precision, taken forwards across the 0/360 wrap.
inline float blockSpan(double prev, double last) {
  float delta = static_cast<float>(last - prev);
  if (delta < 0.0f) delta += 360.0f;
  return delta;
}

}  // namespace

const double* protocol17FiringOffsets(int block) { return firingOffsets().protocol17[block].data(); }
const double* protocol16FiringOffsets(int block) { return firingOffsets().protocol16[block].data(); }

// Appends the K measurements of one block to distance, intensity and timestamp.
void appendMeasurements(LidarDataSingleLine& record, const std::uint8_t* block,
                        const std::uint8_t* slots, int count, const double* offsets,
                        double packetTime) {
  const std::size_t n = record.distance.size();
  record.distance.resize(n + count);
  record.intensity.resize(n + count);
  record.timestamp.resize(n + count);
  double* distance = record.distance.data() + n;
  int* intensity = record.intensity.data() + n;
  unsigned long long* timestamp = record.timestamp.data() + n;
  const std::uint8_t* slotBase = block + kBlockSlotsOffset;
  for (int k = 0; k < count; ++k) {
    const std::uint8_t* slot = slotBase + kSlotSize * slots[k];
    distance[k] = loadLE16(slot);
    intensity[k] = slot[2];
    timestamp[k] = toTimestamp(packetTime + offsets[k]);
  }
}


// Gives the measurements of the second-newest block their azimuths, spread
// evenly from its azimuth towards the newest block's. The per-measurement step
// is computed in single precision.
void interpolate(LidarDataSingleLine& record, int count) {
  const std::size_t nb = record.blockAzimuth.size();
  if (nb < 2) return;
  const double prev = record.blockAzimuth[nb - 2];
  const float step = blockSpan(prev, record.blockAzimuth[nb - 1]) / static_cast<float>(count);
  const std::size_t n = record.azimuth.size();
  record.azimuth.resize(n + count);
  double* azimuth = record.azimuth.data() + n;
  for (int k = 0; k < count; ++k) {
    const double a = prev + static_cast<double>(step * static_cast<float>(k));
    azimuth[k] = a < 360.0 ? a : a - 360.0;
  }
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

int appendBlock(LidarDataSingleLine& record, const std::uint8_t* block, double blockAzimuth, int b, int layout,
                double packetTime) {
  const bool protocol17 = layout == kLayoutProtocol17;
  const int count = measurementsPerBlock(layout);
  boundRecord(record, static_cast<std::size_t>(count), kRecordLimit);
  record.blockAzimuth.push_back(blockAzimuth);
  if (protocol17)
    appendMeasurements(record, block, kProtocol17Slots.data(), count, protocol17FiringOffsets(b), packetTime);
  else
    appendMeasurements(record, block, kProtocol16Slots.data(), count, protocol16FiringOffsets(b), packetTime);
  interpolate(record, count);
  return count;
}

}  // namespace z540k
