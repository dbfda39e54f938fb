#include "ScanMessages.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace z540k {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSecondsPerTick = 1e-6;  // the sensor's time stamps count microseconds

bool taken(const LidarDataSingleLine& r, std::size_t j, const ScanSelection& s) {
  const double a = r.azimuth[j];
  return a >= s.angleMin && a <= s.angleMax && !r.isPlaceholder(j);
}

}  // namespace

std::size_t secondReturnStart(const LidarDataSingleLine& record) {
  const std::size_t n = record.pairedSize();
  bool any = false;
  double previous = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const double a = record.azimuth[j];
    if (any && a < previous - 180.0) {
      if (record.isPlaceholder(j)) continue;
      return j;
    }
    if (a == 0.0 && record.isPlaceholder(j)) continue;
    previous = a;
    any = true;
  }
  return n;
}

std::uint64_t lastMeasurementTime(const LidarDataSingleLine& record) {
  // A placeholder's time is 0: it never is the largest.
  std::uint64_t last = 0;
  const std::size_t n = record.pairedSize();
  for (std::size_t j = 0; j < n; ++j) last = std::max<std::uint64_t>(last, record.timestamp[j]);
  return last;
}

LaserScanValues laserScanOf(const LidarDataSingleLine& record, std::size_t begin, std::size_t end,
                            const ScanSelection& selection) {
  LaserScanValues scan;
  scan.rangeMin = static_cast<float>(selection.metresPerCount);
  scan.rangeMax = static_cast<float>(65535 * selection.metresPerCount);
  end = std::min(end, record.pairedSize());
  std::vector<std::size_t> chosen;
  double lowest = 0, highest = 0;  // robot angles, radians
  std::uint64_t firstTime = 0, lastTime = 0;
  for (std::size_t j = begin; j < end; ++j) {
    if (!taken(record, j, selection)) continue;
    const double angle = -record.azimuth[j] * kPi / 180.0;
    const std::uint64_t t = record.timestamp[j];
    if (chosen.empty()) {
      lowest = highest = angle;
      firstTime = lastTime = t;
    }
    lowest = std::min(lowest, angle);
    highest = std::max(highest, angle);
    firstTime = std::min(firstTime, t);
    lastTime = std::max(lastTime, t);
    chosen.push_back(j);
  }
  if (chosen.empty()) return scan;

  // As many angles as measurements, from the smallest to the largest.
  std::size_t count = chosen.size();
  double increment = count > 1 ? (highest - lowest) / static_cast<double>(count - 1) : 0.0;
  if (!(increment > 0)) {
    count = 1;
    increment = 0;
  }
  scan.angleMin = static_cast<float>(lowest);
  scan.angleMax = static_cast<float>(lowest + increment * static_cast<double>(count - 1));
  scan.angleIncrement = static_cast<float>(increment);
  const double span = static_cast<double>(lastTime - firstTime) * kSecondsPerTick;
  if (chosen.size() > 1) {
    scan.timeIncrement = static_cast<float>(-span / static_cast<double>(chosen.size() - 1));
    scan.scanTime =
        static_cast<float>(span * static_cast<double>(chosen.size()) / static_cast<double>(chosen.size() - 1));
  }

  scan.ranges.assign(count, std::numeric_limits<float>::quiet_NaN());
  scan.intensities.assign(count, 0.0f);
  std::vector<double> offBy(count, std::numeric_limits<double>::infinity());
  for (const std::size_t j : chosen) {
    const double angle = -record.azimuth[j] * kPi / 180.0;
    const double place = increment > 0 ? (angle - lowest) / increment : 0.0;
    const auto i = std::min(count - 1, static_cast<std::size_t>(std::lround(place)));
    const double off = std::fabs(place - static_cast<double>(i));
    if (!std::isnan(scan.ranges[i])) {
      ++scan.overlapping;
      if (off >= offBy[i]) continue;
    }
    offBy[i] = off;
    const double d = record.distance[j];
    scan.ranges[i] = d > 0 ? static_cast<float>(d * selection.metresPerCount) : std::numeric_limits<float>::infinity();
    scan.intensities[i] = static_cast<float>(record.intensity[j]);
  }
  return scan;
}

std::vector<ScanPointValues> scanPointsOf(const LidarDataSingleLine& record, const ScanSelection& selection) {
  std::vector<ScanPointValues> points;
  const std::size_t n = record.pairedSize();
  points.reserve(n);
  const double last = static_cast<double>(lastMeasurementTime(record));
  for (std::size_t j = 0; j < n; ++j) {
    if (!taken(record, j, selection)) continue;
    ScanPointValues p;
    const double a = record.azimuth[j];
    const double d = record.distance[j] * selection.metresPerCount;
    if (d > 0) {
      const double r = a * kPi / 180.0;
      p.x = static_cast<float>(d * std::cos(r));
      p.y = static_cast<float>(-d * std::sin(r));
    } else {
      p.x = p.y = p.z = std::numeric_limits<float>::quiet_NaN();
    }
    p.intensity = static_cast<float>(record.intensity[j]);
    p.azimuth = static_cast<float>(a);
    p.time = static_cast<float>((static_cast<double>(record.timestamp[j]) - last) * kSecondsPerTick);
    points.push_back(p);
  }
  return points;
}

std::int64_t sensorClockMicroseconds(const GpsDateTime& gps, std::uint64_t packetTime) {
  const auto time = static_cast<std::int64_t>(packetTime);
  if (gps.year == 0 && gps.month == 0 && gps.day == 0) return time;
  // Days since 1970-01-01 of the civil date (proleptic Gregorian).
  const int y = 2000 + gps.year - (gps.month <= 2 ? 1 : 0);
  const int m = gps.month;
  const int era = y / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + gps.day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
  constexpr std::int64_t kHour = 3600LL * 1000000;
  std::int64_t hourStart = (days * 24 + gps.hour) * kHour;
  const std::int64_t gpsInHour = (gps.minute * 60LL + gps.second) * 1000000;
  if (time - gpsInHour > kHour / 2) hourStart -= kHour;
  if (gpsInHour - time > kHour / 2) hourStart += kHour;
  return hourStart + time;
}

}  // namespace z540k
