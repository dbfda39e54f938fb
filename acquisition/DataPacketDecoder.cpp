#include "DataPacketDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>

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

// The span from the second-newest to the newest block azimuth, in single
// precision, taken forwards across the 0/360 wrap.
inline float blockSpan(double prev, double last) {
  float delta = static_cast<float>(last - prev);
  if (delta < 0.0f) delta += 360.0f;
  return delta;
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
// block span beyond the newest block azimuth (double precision). Without two
// block azimuths there is no span and nothing is appended.
void extrapolate(LidarDataSingleLine& record, int count) {
  const std::size_t nb = record.blockAzimuth.size();
  if (nb < 2) return;
  const double last = record.blockAzimuth[nb - 1];
  const double delta = blockSpan(record.blockAzimuth[nb - 2], last);
  const std::size_t n = record.azimuth.size();
  record.azimuth.resize(n + count);
  double* azimuth = record.azimuth.data() + n;
  for (int k = 0; k < count; ++k) {
    const double a = last + delta / count * k;
    azimuth[k] = a >= 360.0 ? a - 360.0 : a;
  }
}

// A revolution closes when the two newest block azimuths are more than half a
// turn apart: the scan wrapped past 0 degrees between them.
inline bool revolutionWrapped(const LidarDataSingleLine& record) {
  const std::size_t nb = record.blockAzimuth.size();
  return nb >= 2 && std::fabs(record.blockAzimuth[nb - 1] - record.blockAzimuth[nb - 2]) > 180.0;
}

template <typename T>
void appendList(std::vector<T>& to, const std::vector<T>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

template <typename T>
void dropFront(std::vector<T>& list, std::size_t count) {
  list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(std::min(count, list.size())));
}

// Keeps a record that never closes within `limit` measurements: before
// `incoming` more would overflow it, the older half goes, in whole blocks or
// packets of `incoming`. Dropping the same count from the front of each list
// keeps entry i of every list on the same measurement.
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

// Reserve for a revolution's worth up front so the first revolutions do not
// pay for growing; after that the accumulators keep their capacity.
constexpr std::size_t kInitialCapacity = 16384;

void reserveRecord(LidarDataSingleLine& record) {
  record.blockAzimuth.reserve(kInitialCapacity / 16);
  record.distance.reserve(kInitialCapacity);
  record.intensity.reserve(kInitialCapacity);
  record.azimuth.reserve(kInitialCapacity);
  record.timestamp.reserve(kInitialCapacity);
}

// Of a closing revolution, the last 100 measurements are examined for ones
// that already belong to the next revolution.
constexpr std::size_t kCarryWindow = 100;
constexpr double kCarryBelowDegrees = 20.0;

}  // namespace

DataPacketDecoder::DataPacketDecoder(RecordSink sink) : sink_(std::move(sink)) {
  reserveRecord(main_);
  reserveRecord(second_);
  firingOffsets();
}

void DataPacketDecoder::clear() {
  main_.clear();
  second_.clear();
  compact_.clear();
}

void DataPacketDecoder::reset() {
  clear();
  gpsCurrent_ = GpsDateTime{};
  gpsPrevious_ = GpsDateTime{};
}

void DataPacketDecoder::emit(const LidarDataSingleLine& record) {
  if (sink_) sink_(record);
}

bool DataPacketDecoder::decodeDataPacket(const std::uint8_t* data, std::size_t size) {
  if (!isDataPacket(data, size)) return false;
  const double packetTime = static_cast<double>(loadLE32(data + kPacketTimestampOffset));
  const int mode = returnMode_;
  if (mode == kReturnStrongest) {
    for (int b = 0; b < kBlocksPerPacket; ++b)
      decodeStrongestBlock(data + kBlockSize * b, b, packetTime);
  } else if (mode >= kReturnDual && mode <= kReturnDualSecond) {
    for (int b = 0; b < kBlocksPerPacket; ++b) decodeDualBlock(data, b, packetTime);
  }
  return true;
}

void DataPacketDecoder::decodeStrongestBlock(const std::uint8_t* block, int b, double packetTime) {
  // The layout may change inside a packet, when a block closes a revolution.
  const bool protocol17 = activeLayout_ == kLayoutProtocol17;
  const int count = protocol17 ? kProtocol17MeasurementsPerBlock : kProtocol16MeasurementsPerBlock;

  boundRecord(main_, count, kRecordLimit);
  main_.blockAzimuth.push_back(blockAzimuthDegrees(block));
  if (protocol17)
    appendMeasurements(main_, block, kProtocol17Slots.data(), count,
                       firingOffsets().protocol17[b].data(), packetTime);
  else
    appendMeasurements(main_, block, kProtocol16Slots.data(), count,
                       firingOffsets().protocol16[b].data(), packetTime);
  if (gpsEnabled_) takeGpsReading(block, b);
  interpolate(main_, count);
  if (revolutionWrapped(main_)) closeStrongestRevolution(count);
}

void DataPacketDecoder::takeGpsReading(const std::uint8_t* block, int b) {
  const std::uint8_t* date;
  const std::uint8_t* time;
  if (activeLayout_ == kLayoutProtocol17) {
    date = block + kProtocol17GpsDateOffset;
    time = block + kProtocol17GpsTimeOffset;
  } else {
    date = block + kProtocol16GpsOffset;
    time = date + 3;
  }
  gpsPrevious_ = gpsCurrent_;
  gpsCurrent_ = GpsDateTime{date[0], date[1], date[2], time[0], time[1], time[2]};
  if (gpsSink_) gpsSink_(GpsReading{gpsCurrent_, gpsPrevious_, b});
}

void DataPacketDecoder::closeStrongestRevolution(int count) {
  extrapolate(main_, count);

  // Measurements of the newest blocks that lie past the wrap (below 20
  // degrees) belong to the next revolution: move them there, leaving zero
  // placeholders so the emitted record keeps its length.
  carry_.clear();
  const std::size_t n = main_.pairedSize();
  if (n >= kCarryWindow) {
    for (std::size_t i = n - kCarryWindow; i < n; ++i) {
      if (main_.azimuth[i] < kCarryBelowDegrees) {
        carry_.azimuth.push_back(main_.azimuth[i]);
        carry_.distance.push_back(main_.distance[i]);
        carry_.intensity.push_back(main_.intensity[i]);
        carry_.timestamp.push_back(main_.timestamp[i]);
        main_.azimuth[i] = 0.0;
        main_.distance[i] = 0.0;
        main_.intensity[i] = 0;
        main_.timestamp[i] = 0;
      }
    }
  }

  emit(main_);
  main_.clear();
  activeLayout_ = pendingLayout_;

  appendList(main_.azimuth, carry_.azimuth);
  appendList(main_.distance, carry_.distance);
  appendList(main_.intensity, carry_.intensity);
  appendList(main_.timestamp, carry_.timestamp);
}

void DataPacketDecoder::decodeDualBlock(const std::uint8_t* packet, int b, double packetTime) {
  // Even blocks carry the first return, odd blocks the second return of the
  // same firings; an odd block takes the azimuth of the even block before it.
  // Every block uses the protocol 1.7 slot arrangement.
  const bool first = b % 2 == 0;
  LidarDataSingleLine& record = first ? main_ : second_;
  const std::uint8_t* block = packet + kBlockSize * b;
  const std::uint8_t* azimuthBlock = first ? block : block - kBlockSize;

  boundRecord(record, kProtocol17MeasurementsPerBlock, kRecordLimit);
  record.blockAzimuth.push_back(blockAzimuthDegrees(azimuthBlock));
  appendMeasurements(record, block, kProtocol17Slots.data(), kProtocol17MeasurementsPerBlock,
                     firingOffsets().protocol17[b].data(), packetTime);
  interpolate(record, kProtocol17MeasurementsPerBlock);

  if (revolutionWrapped(main_)) closeDualRevolution();
}

void DataPacketDecoder::closeDualRevolution() {
  extrapolate(main_, kProtocol17MeasurementsPerBlock);
  // Right after a start the second-return record may hold a single block
  // azimuth; extrapolate() then leaves it as it is.
  extrapolate(second_, kProtocol17MeasurementsPerBlock);

  switch (returnMode_) {
    case kReturnDual:
      appendList(main_.distance, second_.distance);
      appendList(main_.intensity, second_.intensity);
      appendList(main_.azimuth, second_.azimuth);
      appendList(main_.timestamp, second_.timestamp);
      emit(main_);
      break;
    case kReturnDualFirst:
      emit(main_);
      break;
    case kReturnDualSecond:
      emit(second_);
      break;
    default:
      break;
  }
  clear();
}

bool DataPacketDecoder::decodeCompactScanPacket(const std::uint8_t* data, std::size_t size) {
  if (!isCompactScanPacket(data, size)) return false;

  const std::uint32_t rawStart = loadBE32(data + kCompactStartAngleOffset);
  const float start = static_cast<float>(rawStart) / 10000.0f;

  boundRecord(compact_, kCompactMeasurementsPerPacket, kCompactRecordLimit);

  const std::size_t n = compact_.distance.size();
  compact_.distance.resize(n + kCompactMeasurementsPerPacket);
  compact_.intensity.resize(n + kCompactMeasurementsPerPacket);
  compact_.azimuth.resize(n + kCompactMeasurementsPerPacket);
  compact_.timestamp.resize(n + kCompactMeasurementsPerPacket, 0);
  const std::uint8_t* m = data + kCompactMeasurementsOffset;
  for (int k = 0; k < kCompactMeasurementsPerPacket; ++k, m += 3) {
    compact_.azimuth[n + k] = static_cast<double>(start) + k * kCompactAngleStep;
    compact_.distance[n + k] = loadLE16(m);
    compact_.intensity[n + k] = m[2];
  }

  if (start == 270.0f) {
    emit(compact_);
    clear();
  }
  return true;
}

}  // namespace z540k
