#include "DataPacketDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "RevolutionAssembly.h"

namespace z540k {

namespace {

template <typename T>
void appendList(std::vector<T>& to, const std::vector<T>& from) {
  to.insert(to.end(), from.begin(), from.end());
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
}

void DataPacketDecoder::clear() {
  main_.clear();
  second_.clear();
  compact_.clear();
}

void DataPacketDecoder::reset() {
  clear();
  forgetPreviousPacket();
  lostTotal_ = 0;
  lostInRevolution_ = 0;
  excused_ = 0;
  gpsCurrent_ = GpsDateTime{};
  gpsPrevious_ = GpsDateTime{};
}

void DataPacketDecoder::emitRecord(LidarDataSingleLine& record) {
  record.receivedAtNs = receivedAtNs_;
  record.capturedAtUs = capturedAtUs_;
  if (sink_) sink_(record);
  lostInRevolution_ = 0;
}

void DataPacketDecoder::countLost(std::uint64_t missing) {
  // Drops on this host happened before this packet, whether a gap shows them
  // or not.
  const std::uint64_t excused = std::min(missing, excused_);
  excused_ = 0;
  missing -= excused;
  lostTotal_ += missing;
  lostInRevolution_ += missing;
}

void DataPacketDecoder::countLostDataPackets(const std::uint8_t* packet) {
  constexpr std::int32_t kTurn = 36000;  // hundredths of a degree
  const auto azimuthOf = [packet](int b) {
    const std::int32_t a = loadLE16(packet + kBlockSize * b + kBlockAzimuthOffset);
    return a >= kTurn ? 0 : a;  // as the decoder reads it
  };
  const std::int32_t first = azimuthOf(0);
  const std::int32_t previous = previousAzimuth_;
  previousAzimuth_ = first;
  if (previous < 0) {
    excused_ = 0;
    return;
  }
  // The packet's own span: from block 0 to its last block, 11 block steps of
  // 12 per packet; dual-return blocks come in pairs sharing an azimuth, from
  // pair 0 to pair 5, 5 steps of 6.
  const bool paired = azimuthOf(1) == first;
  std::int32_t span = azimuthOf(paired ? kBlocksPerPacket - 2 : kBlocksPerPacket - 1) - first;
  if (span < 0) span += kTurn;
  const std::int64_t stepsInSpan = paired ? kBlocksPerPacket / 2 - 1 : kBlocksPerPacket - 1;
  const std::int64_t stepsPerPacket = paired ? kBlocksPerPacket / 2 : kBlocksPerPacket;
  // A motor that stands still, or a packet whose blocks make no sense as one
  // turning scan (more than half a turn), tells nothing.
  if (span == 0 || span * stepsPerPacket >= stepsInSpan * (kTurn / 2)) {
    excused_ = 0;
    return;
  }
  std::int32_t gap = first - previous;
  if (gap < 0) gap += kTurn;
  // Packet steps in the gap, rounded: gap / (span x stepsPerPacket / stepsInSpan);
  // below 1.5 nothing is missing (the usual case, without a division).
  const std::int64_t unit = span * stepsPerPacket;
  const std::int64_t twiceGap = 2 * gap * stepsInSpan;
  if (twiceGap < 3 * unit) {
    countLost(0);
    return;
  }
  countLost(static_cast<std::uint64_t>((twiceGap + unit) / (2 * unit) - 1));
}

void DataPacketDecoder::countLostCompactPackets(std::uint32_t start) {
  constexpr std::int64_t kTurn = 3600000;  // ten-thousandths of a degree
  constexpr std::int64_t kStep = 900000;   // 250 measurements of 0.36 degree
  const std::int64_t current = start % kTurn;
  const std::int64_t previous = previousCompactStart_;
  previousCompactStart_ = current;
  if (previous < 0) {
    excused_ = 0;
    return;
  }
  std::int64_t gap = current - previous;
  if (gap < 0) gap += kTurn;
  const std::int64_t steps = (2 * gap + kStep) / (2 * kStep);
  countLost(steps >= 2 ? static_cast<std::uint64_t>(steps - 1) : 0);
}

bool DataPacketDecoder::decodeDataPacket(const std::uint8_t* data, std::size_t size, int firstBlock) {
  if (!isDataPacket(data, size)) return false;
  if (firstBlock < 0) firstBlock = 0;
  countLostDataPackets(data);
  const std::uint32_t packetTime = loadLE32(data + kPacketTimestampOffset);
  const ReturnMode mode = returnMode_;
  if (mode == ReturnMode::Strongest) {
    decodeStrongestBlocks(data, firstBlock, packetTime);
  } else if (isDualReturn(mode)) {
    for (int b = firstBlock; b < kBlocksPerPacket; ++b) decodeDualBlock(data, b, packetTime);
  }
  return true;
}

void DataPacketDecoder::decodeStrongestBlocks(const std::uint8_t* packet, int firstBlock, std::uint32_t packetTime) {
  double azimuths[kBlocksPerPacket];
  for (int b = firstBlock; b < kBlocksPerPacket; ++b) azimuths[b] = blockAzimuthDegrees(packet + kBlockSize * b);
  // Block by block, a block closes the revolution when its azimuth and the
  // one before it wrap. The blocks up to such a block, or to the end of the
  // packet, are appended as one run; while GPS readings are taken, which
  // come between blocks, every block is a run of its own. The layout may
  // change inside a packet, when a block closes a revolution.
  for (int b = firstBlock; b < kBlocksPerPacket;) {
    const std::vector<double>& seen = main_.blockAzimuth;
    bool wraps = !seen.empty() && azimuthsWrap(seen.back(), azimuths[b]);
    int end = b + 1;
    if (!gpsEnabled_)
      for (; !wraps && end < kBlocksPerPacket; ++end) wraps = azimuthsWrap(azimuths[end - 1], azimuths[end]);
    const int count = appendBlocks(main_, packet, azimuths, b, end, activeLayout_, packetTime);
    if (gpsEnabled_) takeGpsReading(packet + kBlockSize * b, b);
    if (wraps) closeStrongestRevolution(count);
    b = end;
  }
}

void DataPacketDecoder::takeGpsReading(const std::uint8_t* block, int b) {
  const std::uint8_t* date;
  const std::uint8_t* time;
  if (activeLayout_ == Layout::Protocol17) {
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

  emitRecord(main_);
  main_.clear();
  activeLayout_ = pendingLayout_;

  appendList(main_.azimuth, carry_.azimuth);
  appendList(main_.distance, carry_.distance);
  appendList(main_.intensity, carry_.intensity);
  appendList(main_.timestamp, carry_.timestamp);
}

void DataPacketDecoder::decodeDualBlock(const std::uint8_t* packet, int b, std::uint32_t packetTime) {
  // Even blocks carry the first return, odd blocks the second return of the
  // same firings; an odd block takes the azimuth of the even block before it.
  // Every block uses the protocol 1.7 slot arrangement.
  const bool first = b % 2 == 0;
  LidarDataSingleLine& record = first ? main_ : second_;
  const std::uint8_t* block = packet + kBlockSize * b;
  const std::uint8_t* azimuthBlock = first ? block : block - kBlockSize;

  appendBlock(record, block, blockAzimuthDegrees(azimuthBlock), b, Layout::Protocol17, packetTime);

  if (revolutionWrapped(main_)) closeDualRevolution();
}

void DataPacketDecoder::closeDualRevolution() {
  extrapolate(main_, kProtocol17MeasurementsPerBlock);
  // Right after a start the second-return record may hold a single block
  // azimuth; extrapolate() then leaves it as it is.
  extrapolate(second_, kProtocol17MeasurementsPerBlock);

  switch (returnMode_) {
    case ReturnMode::Dual:
      main_.secondReturnsFrom = main_.distance.size();
      appendList(main_.distance, second_.distance);
      appendList(main_.intensity, second_.intensity);
      appendList(main_.azimuth, second_.azimuth);
      appendList(main_.timestamp, second_.timestamp);
      emitRecord(main_);
      break;
    case ReturnMode::DualFirst:
      main_.secondReturnsFrom = main_.distance.size();
      emitRecord(main_);
      break;
    case ReturnMode::DualSecond:
      second_.secondReturnsFrom = 0;
      emitRecord(second_);
      break;
    default:
      break;
  }
  clear();
}

bool DataPacketDecoder::decodeCompactScanPacket(const std::uint8_t* data, std::size_t size) {
  if (!isCompactScanPacket(data, size)) return false;

  const std::uint32_t rawStart = loadBE32(data + kCompactStartAngleOffset);
  countLostCompactPackets(rawStart);
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
    emitRecord(compact_);
    clear();
  }
  return true;
}

}  // namespace z540k
