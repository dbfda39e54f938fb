#include "SensorStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SensorScene.h"

namespace z540k::sim {

namespace {

constexpr double kProtocol16UnitMm = 2.0;  // the host divides raw counts by 0.5
constexpr double kProtocol17UnitMm = 4.0;  // the host divides raw counts by 0.25
constexpr int kFullCircle = 36000;         // hundredths of a degree
constexpr std::uint64_t kMicrosecondsPerMinute = 60 * kMicrosecondsPerSecond;
constexpr int kDualFiringsPerPacket = kBlocksPerPacket / 2;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr int kGpsYearBase = 2000;

// std::lround of a positive number below 2^52, without the library call:
// the fraction of such a number is exact, and halves round up.
long roundPositive(double x) {
  const long whole = static_cast<long>(x);
  return x - static_cast<double>(whole) >= 0.5 ? whole + 1 : whole;
}

// Counts per millimetre: the units are powers of two, so multiplying by it is
// dividing by the unit, to the bit.
double countsPerMm(Layout layout) { return 1.0 / rawDistanceUnitMm(layout); }

Measurement toMeasurement(const SceneReturn& r, double countsPerMm) {
  if (r.distanceMm <= 0.0) return Measurement{};
  const long counts = roundPositive(r.distanceMm * countsPerMm);
  Measurement m;
  m.distance = static_cast<std::uint16_t>(std::clamp<long>(counts, 1, 0xFFFF));
  m.intensity = r.intensity;
  return m;
}

// The angle of firing k of a block: the host spreads a block's measurements
// evenly from its azimuth towards the next block's, and the laser fires at
// those angles.
double firingDegrees(int azimuth, int step, int k, int perBlock) {
  return (azimuth + static_cast<double>(step) * k / perBlock) / 100.0;
}

double compactFiringDegrees(int quarter, int k) {
  const std::uint32_t startAngle = static_cast<std::uint32_t>(quarter) * kCompactQuarterAngle;
  const double startDegrees = startAngle / 10000.0;
  return startDegrees + k * kCompactAngleStep;
}

template <std::size_t N>
void store(Datagram& out, SentKind kind, std::uint64_t timeUs, const std::array<std::uint8_t, N>& bytes) {
  static_assert(N <= kMaxDatagramSize, "datagram fits the buffer");
  out.kind = kind;
  out.timeUs = timeUs;
  out.size = N;
  std::memcpy(out.bytes.data(), bytes.data(), N);
}

}  // namespace

double rawDistanceUnitMm(Layout layout) { return layout == Layout::Protocol17 ? kProtocol17UnitMm : kProtocol16UnitMm; }

GpsDateTime gpsDateTimeOf(std::int64_t secondsSince1970) {
  // Days to civil date in the proleptic Gregorian calendar (eras of 400
  // years, March-based years so the leap day falls at the end).
  std::int64_t days = secondsSince1970 / kSecondsPerDay;
  std::int64_t secondOfDay = secondsSince1970 % kSecondsPerDay;
  if (secondOfDay < 0) {
    secondOfDay += kSecondsPerDay;
    --days;
  }
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

  GpsDateTime t;
  t.year = static_cast<std::uint8_t>(year - kGpsYearBase);
  t.month = static_cast<std::uint8_t>(month);
  t.day = static_cast<std::uint8_t>(day);
  t.hour = static_cast<std::uint8_t>(secondOfDay / 3600);
  t.minute = static_cast<std::uint8_t>(secondOfDay / 60 % 60);
  t.second = static_cast<std::uint8_t>(secondOfDay % 60);
  return t;
}

SensorStream::SensorStream(const StreamSettings& settings, const SensorState& state)
    : settings_(settings), state_(state) {
  if (settings_.layout != Layout::Protocol16) settings_.layout = Layout::Protocol17;
  if (settings_.gpsJumpAtSeconds) {
    // The jump falls on the first whole GPS second at or after the moment
    // asked for: one second is then skipped (s, s + 2). A jump in the middle
    // of a second would only move that second's end, and no reading would
    // show it.
    const std::int64_t second = static_cast<std::int64_t>(kMicrosecondsPerSecond);
    const std::int64_t moment =
        settings_.clockStartUs + static_cast<std::int64_t>(std::llround(*settings_.gpsJumpAtSeconds * 1e6));
    std::int64_t boundary = moment / second * second;
    if (boundary < moment) boundary += second;
    gpsJumpAtUs_ = boundary;
  }
}

void SensorStream::setState(const SensorState& state, std::uint64_t nowUs) {
  const bool wasScanning = state_.scanning();
  state_ = state;
  if (!wasScanning && state_.scanning()) nextDataUs_ = std::max(nextDataUs_, nowUs);
}

std::uint64_t SensorStream::nextTimeUs() const {
  return state_.scanning() ? std::min(nextDataUs_, nextStatusUs_) : nextStatusUs_;
}

int SensorStream::packetsPerRevolution() const {
  if (settings_.compactScan) return kCompactPacketsPerRevolution;
  if (state_.dualReturn()) return kFullCircle / kDualReturnBlockStep / kDualFiringsPerPacket;
  return kFullCircle / blockAzimuthStep() / kBlocksPerPacket;
}

int SensorStream::blockAzimuthStep() const {
  if (settings_.compactScan) return 0;
  if (state_.dualReturn()) return kDualReturnBlockStep;
  return settings_.layout == Layout::Protocol17 ? kProtocol17BlockStep : kProtocol16BlockStep;
}

std::uint32_t SensorStream::packetPeriodUs() const {
  const unsigned rpm = isMotorSpeed(state_.motorSpeed) ? state_.motorSpeed : kMotorSpeed10Hz;
  return static_cast<std::uint32_t>(kMicrosecondsPerMinute / (rpm * static_cast<unsigned>(packetsPerRevolution())));
}

GpsDateTime SensorStream::gpsTimeAt(std::uint64_t timeUs) const {
  const std::int64_t second = static_cast<std::int64_t>(kMicrosecondsPerSecond);
  std::int64_t us = settings_.clockStartUs + static_cast<std::int64_t>(timeUs);
  if (gpsJumpAtUs_ && us >= *gpsJumpAtUs_) us += second;
  std::int64_t seconds = us / second;
  if (us < 0 && us % second != 0) --seconds;
  // Every block asks, and the second changes once in many packets.
  if (!gpsSecond_ || gpsSecond_->first != seconds) gpsSecond_.emplace(seconds, gpsDateTimeOf(seconds));
  return gpsSecond_->second;
}

std::uint32_t SensorStream::packetTimestampAt(std::uint64_t timeUs) const {
  const std::int64_t hour = static_cast<std::int64_t>(kMicrosecondsPerHour);
  std::int64_t us = (settings_.clockStartUs + static_cast<std::int64_t>(timeUs)) % hour;
  if (us < 0) us += hour;
  return static_cast<std::uint32_t>(us);
}

void SensorStream::next(Datagram& out) {
  if (!state_.scanning() || nextStatusUs_ <= nextDataUs_) {
    makeStatusPacket(out);
    return;
  }
  if (settings_.compactScan)
    makeCompactScanPacket(out);
  else if (state_.dualReturn())
    makeDualReturnPacket(out);
  else
    makeDataPacket(out);
}

void SensorStream::makeDataPacket(Datagram& out) {
  DataPacketWriter writer(settings_.layout);
  const int perBlock = writer.measurementsPerBlock();
  const int step = blockAzimuthStep();
  const double perMm = countsPerMm(settings_.layout);
  const std::uint64_t start = nextDataUs_;
  const std::uint32_t period = packetPeriodUs();
  const double seconds = static_cast<double>(start) / kMicrosecondsPerSecond;
  const double rangeMm = state_.measuringRangeMm();
  const SceneDisc person = SensorScene::personAt(seconds);

  for (int b = 0; b < kBlocksPerPacket; ++b) {
    const int azimuth = azimuth_;
    writer.setBlockAzimuth(b, static_cast<std::uint16_t>(azimuth));
    writer.setGps(b, gpsTimeAt(start + static_cast<std::uint64_t>(period) * b / kBlocksPerPacket));
    const SceneFiring* firings = firingsOfBlock(azimuth, step, perBlock);
    for (int k = 0; k < perBlock; ++k) {
      const SceneReturns r = SensorScene::returns(firings[k], person, noiseKey_++, rangeMm);
      writer.setMeasurement(b, k, toMeasurement(r.first, perMm));
    }
    azimuth_ = (azimuth + step) % kFullCircle;
  }
  writer.setTimestamp(packetTimestampAt(start));
  store(out, SentKind::Data, start, writer.bytes());
  nextDataUs_ += period;
}

void SensorStream::makeDualReturnPacket(Datagram& out) {
  // Every dual-return block uses the 30-slot arrangement, whatever the
  // layout; the raw unit stays the layout's.
  DataPacketWriter writer(Layout::Protocol17);
  const int perBlock = writer.measurementsPerBlock();
  const int step = kDualReturnBlockStep;
  const double perMm = countsPerMm(settings_.layout);
  const std::uint64_t start = nextDataUs_;
  const std::uint32_t period = packetPeriodUs();
  const double seconds = static_cast<double>(start) / kMicrosecondsPerSecond;
  const double rangeMm = state_.measuringRangeMm();
  const SceneDisc person = SensorScene::personAt(seconds);

  for (int f = 0; f < kDualFiringsPerPacket; ++f) {
    const int azimuth = azimuth_;
    const GpsDateTime when = gpsTimeAt(start + static_cast<std::uint64_t>(period) * f / kDualFiringsPerPacket);
    for (int b = 2 * f; b <= 2 * f + 1; ++b) {
      writer.setBlockAzimuth(b, static_cast<std::uint16_t>(azimuth));
      writer.setGps(b, when);
    }
    const SceneFiring* firings = firingsOfBlock(azimuth, step, perBlock);
    for (int k = 0; k < perBlock; ++k) {
      const SceneReturns r = SensorScene::returns(firings[k], person, noiseKey_++, rangeMm);
      writer.setMeasurement(2 * f, k, toMeasurement(r.first, perMm));
      writer.setMeasurement(2 * f + 1, k, toMeasurement(r.last, perMm));
    }
    azimuth_ = (azimuth + step) % kFullCircle;
  }
  writer.setTimestamp(packetTimestampAt(start));
  store(out, SentKind::Data, start, writer.bytes());
  nextDataUs_ += period;
}

void SensorStream::makeCompactScanPacket(Datagram& out) {
  const double perMm = countsPerMm(settings_.layout);
  const std::uint64_t start = nextDataUs_;
  const double seconds = static_cast<double>(start) / kMicrosecondsPerSecond;
  const double rangeMm = state_.measuringRangeMm();
  const std::uint32_t startAngle = static_cast<std::uint32_t>(quarter_) * kCompactQuarterAngle;
  const SceneDisc person = SensorScene::personAt(seconds);

  std::array<Measurement, kCompactMeasurementsPerPacket> measurements;
  for (int k = 0; k < kCompactMeasurementsPerPacket; ++k) {
    const SceneReturns r = SensorScene::returns(compactFiringAt(quarter_, k), person, noiseKey_++, rangeMm);
    measurements[static_cast<std::size_t>(k)] = toMeasurement(r.first, perMm);
  }
  store(out, SentKind::CompactScan, start, encodeCompactScanPacket(startAngle, measurements));
  quarter_ = (quarter_ + 1) % kCompactPacketsPerRevolution;
  nextDataUs_ += packetPeriodUs();
}

void SensorStream::makeStatusPacket(Datagram& out) {
  const std::uint64_t at = nextStatusUs_;
  store(out, SentKind::Status, at, encodeStatusPacket(statusOf(state_, gpsTimeAt(at)), settings_.statusLayout));
  nextStatusUs_ += kStatusPeriodUs;
}

const SceneFiring* SensorStream::firingsOfBlock(int azimuth, int step, int perBlock) {
  const int offset = azimuth % step;
  FiringTable& t = firings_;
  if (t.step != step || t.perBlock != perBlock || t.offset != offset) {
    t.step = step;
    t.perBlock = perBlock;
    t.offset = offset;
    t.firings.clear();
    for (int blockAzimuth = offset; blockAzimuth < kFullCircle; blockAzimuth += step)
      for (int q = 0; q < perBlock; ++q)
        t.firings.push_back(SensorScene::firing(firingDegrees(blockAzimuth, step, q, perBlock)));
  }
  return t.firings.data() + azimuth / step * perBlock;
}

const SceneFiring& SensorStream::compactFiringAt(int quarter, int k) {
  if (compactFirings_.empty())
    for (int q = 0; q < kCompactPacketsPerRevolution; ++q)
      for (int i = 0; i < kCompactMeasurementsPerPacket; ++i)
        compactFirings_.push_back(SensorScene::firing(compactFiringDegrees(q, i)));
  return compactFirings_[static_cast<std::size_t>(quarter * kCompactMeasurementsPerPacket + k)];
}

}  // namespace z540k::sim
