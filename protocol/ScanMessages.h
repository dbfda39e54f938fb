// The numbers of a robot's scan messages from one revolution: the values of
// a LaserScan (ranges on uniform angles) and of a point cloud's points, in
// the robot conventions: metres, x forward, y left, z up, angles
// counter-clockwise seen from above, a measurement without a return an
// infinite range.
//
// The sensor's azimuth a is 0 along the scanner's +y and grows clockwise
// (90 degrees along +x). The robot's forward axis is the scanner's +y and
// its left is the scanner's -x, so a measurement at distance d is the point
// (d cos a, -d sin a, 0) and its robot angle is -a.
//
// Pure: no messages, no Qt; the ROS library fills its messages from these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "LidarRecords.h"
#include "PacketFormat.h"

namespace z540k {

// Which measurements of a record a scan takes, and how to scale them.
struct ScanSelection {
  double metresPerCount = 0.002;  // one raw distance count, in metres
  double angleMin = 0.0;          // azimuths taken, degrees, inclusive
  double angleMax = 360.0;
};

// A record of both returns holds the first return's measurements followed
// by the second return's: the second begins where the azimuths fall back by
// more than half a turn. The index of its first measurement; pairedSize()
// when the record holds one return only.
std::size_t secondReturnStart(const LidarDataSingleLine& record);

struct LaserScanValues {
  float angleMin = 0, angleMax = 0, angleIncrement = 0;  // radians
  // Seconds between neighbouring ranges: negative, as the sensor turns
  // clockwise and ranges[0] (the largest azimuth) is measured last.
  float timeIncrement = 0;
  float scanTime = 0;  // seconds of the revolution
  float rangeMin = 0, rangeMax = 0;
  std::vector<float> ranges;       // +Inf: no return; NaN: no measurement on that angle
  std::vector<float> intensities;  // 0 where there is no measurement
  // Measurements that found their angle taken by a nearer one and are not
  // in the ranges (a point cloud keeps them).
  std::size_t overlapping = 0;
};

// The measurements [begin, end) of `record` (placeholders and those outside
// the angle range left out) on uniform angles from the smallest robot angle
// to the largest, one per measurement: each measurement lies within half an
// increment of its angle. Empty ranges when there is no measurement.
LaserScanValues laserScanOf(const LidarDataSingleLine& record, std::size_t begin, std::size_t end,
                            const ScanSelection& selection);

struct ScanPointValues {
  float x = 0, y = 0, z = 0;  // metres; NaN when there is no return
  float intensity = 0;
  float azimuth = 0;  // the sensor's azimuth, degrees
  float time = 0;     // seconds relative to the revolution's last measurement (0 or below)
};

// The exact points of every measurement of `record` an export takes (those
// paired, in the angle range, no placeholder), in order.
std::vector<ScanPointValues> scanPointsOf(const LidarDataSingleLine& record, const ScanSelection& selection);

// The time stamp of the revolution's last measurement, in the sensor's unit
// (microseconds); the times above are relative to it.
std::uint64_t lastMeasurementTime(const LidarDataSingleLine& record);

// The sensor's clock as UTC microseconds since 1970: the date and hour of
// its GPS time with the packet time (microseconds since the top of the UTC
// hour). A packet time more than half an hour away from the GPS minute and
// second belongs to the hour before or after (the hour turned between the
// two). Without a GPS date (all zero: the sensor sends none) the packet
// time alone, from 1970-01-01 00:00.
std::int64_t sensorClockMicroseconds(const GpsDateTime& gps, std::uint64_t packetTime);

}  // namespace z540k
