// The robot scan values of a revolution: the azimuth mapping, uniform angles
// within half an increment, no return as +Inf, the second return's split.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ScanMessages.h"

using namespace z540k;

namespace {

void add(LidarDataSingleLine& r, double azimuth, double distance, unsigned long long time, int intensity = 7) {
  r.azimuth.push_back(azimuth);
  r.distance.push_back(distance);
  r.intensity.push_back(intensity);
  r.timestamp.push_back(time);
}

}  // namespace

// Azimuth 0 is forward (+x), 90 (the scanner's +x, clockwise) is right (-y);
// a placeholder and an azimuth outside the range make no point.
TEST(ScanMessages, PointsFollowTheRobotAxes) {
  LidarDataSingleLine r;
  add(r, 0.0, 500, 1000);
  add(r, 90.0, 1000, 1100);
  add(r, 0.0, 0, 0, 0);    // carried to the next revolution
  add(r, 200.0, 0, 1200);  // no return
  ScanSelection s;
  s.metresPerCount = 0.004;
  s.angleMax = 300;
  const auto points = scanPointsOf(r, s);
  ASSERT_EQ(points.size(), 3u);
  EXPECT_NEAR(points[0].x, 2.0, 1e-6);
  EXPECT_NEAR(points[0].y, 0.0, 1e-6);
  EXPECT_NEAR(points[1].x, 0.0, 1e-6);
  EXPECT_NEAR(points[1].y, -4.0, 1e-6);
  EXPECT_NEAR(points[0].time, -200e-6, 1e-9);
  EXPECT_EQ(points[1].azimuth, 90.0f);
  EXPECT_TRUE(std::isnan(points[2].x));
  s.angleMax = 100;
  EXPECT_EQ(scanPointsOf(r, s).size(), 2u);
}

// Uneven azimuths land within half an increment of their angle; no return
// is +Inf, an angle without a measurement NaN; ranges run against the
// sensor's turn, so the time between them is negative.
TEST(ScanMessages, LaserScanPlacesMeasurementsOnUniformAngles) {
  LidarDataSingleLine r;
  const double azimuths[] = {10.0, 10.3, 14.1, 16.0, 17.9, 20.0};
  unsigned long long t = 5000;
  for (const double a : azimuths) add(r, a, a == 16.0 ? 0 : 100, t += 100);
  ScanSelection s;
  const LaserScanValues scan = laserScanOf(r, 0, r.pairedSize(), s);
  ASSERT_EQ(scan.ranges.size(), 6u);
  EXPECT_NEAR(scan.angleMin, -20.0 * M_PI / 180, 1e-6);
  EXPECT_NEAR(scan.angleIncrement, 2.0 * M_PI / 180, 1e-6);
  EXPECT_NEAR(scan.timeIncrement, -100e-6, 1e-9);
  EXPECT_NEAR(scan.scanTime, 600e-6, 1e-9);
  int infinite = 0, missing = 0;
  for (const float range : scan.ranges) {
    infinite += std::isinf(range);
    missing += std::isnan(range);
  }
  // 10.0 and 10.3 share the last angle (10.0): the nearer stays, the other is counted.
  EXPECT_EQ(infinite, 1);
  EXPECT_EQ(scan.overlapping, 1u);
  EXPECT_EQ(missing, 1);
  for (const double a : {20.0, 17.9, 14.1, 10.0}) {
    const double angle = -a * M_PI / 180;
    const double place = (angle - scan.angleMin) / scan.angleIncrement;
    const long i = std::lround(place);
    EXPECT_LE(std::fabs(place - i), 0.5);
    EXPECT_FLOAT_EQ(scan.ranges[i], 0.2f) << a;
  }
}

// A record of both returns splits where the azimuths fall back by more than
// half a turn; a placeholder's 0 does not count as the fall.
TEST(ScanMessages, SecondReturnStartsWhereAzimuthsFallBack) {
  LidarDataSingleLine r;
  add(r, 350, 1, 1);
  add(r, 359, 1, 2);
  add(r, 0, 0, 0, 0);
  EXPECT_EQ(secondReturnStart(r), 3u);
  add(r, 1, 1, 3);
  add(r, 359, 1, 4);
  EXPECT_EQ(secondReturnStart(r), 3u);
}

// The sensor's clock: GPS date and hour with the microseconds of the hour,
// the hour taken from the side of a turn the packet time is on; no GPS
// date leaves the packet time alone.
TEST(ScanMessages, SensorClockJoinsGpsHourAndPacketTime) {
  const GpsDateTime gps{26, 12, 8, 8, 2, 25};        // 2026-12-08 08:02:25 UTC
  const std::int64_t hour = 1796716800LL * 1000000;  // 2026-12-08 08:00:00 UTC
  EXPECT_EQ(sensorClockMicroseconds(gps, 145205680), hour + 145205680);
  const GpsDateTime beforeTurn{26, 12, 8, 8, 59, 59};
  EXPECT_EQ(sensorClockMicroseconds(beforeTurn, 1500), hour + 3600LL * 1000000 + 1500);
  const GpsDateTime afterTurn{26, 12, 8, 9, 0, 0};
  EXPECT_EQ(sensorClockMicroseconds(afterTurn, 3599999000ULL), hour + 3599999000LL);
  EXPECT_EQ(sensorClockMicroseconds(GpsDateTime{}, 1234), 1234);
  EXPECT_EQ(sensorClockMicroseconds(GpsDateTime{24, 2, 29, 0, 0, 0}, 0), 1709164800LL * 1000000);  // a leap day
}
