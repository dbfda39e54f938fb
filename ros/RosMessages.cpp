#include "RosMessages.h"

#include <sensor_msgs/point_cloud2_iterator.h>

#include <cstring>

namespace z540k {

namespace {

sensor_msgs::LaserScan laserScan(const LaserScanValues& v, const std::string& frameId, const ros::Time& stamp) {
  sensor_msgs::LaserScan scan;
  scan.header.stamp = stamp;
  scan.header.frame_id = frameId;
  scan.angle_min = v.angleMin;
  scan.angle_max = v.angleMax;
  scan.angle_increment = v.angleIncrement;
  scan.time_increment = v.timeIncrement;
  scan.scan_time = v.scanTime;
  scan.range_min = v.rangeMin;
  scan.range_max = v.rangeMax;
  scan.ranges = v.ranges;
  scan.intensities = v.intensities;
  return scan;
}

}  // namespace

RevolutionMessages revolutionMessages(const LidarDataSingleLine& record, const RosScanOptions& options,
                                      const ros::Time& stamp) {
  RevolutionMessages m;
  const std::size_t second = secondReturnStart(record);
  const LaserScanValues first = laserScanOf(record, 0, second, options.selection);
  m.scan = laserScan(first, options.frameId, stamp);
  m.overlapping = first.overlapping;
  if (second < record.pairedSize()) {
    const LaserScanValues other = laserScanOf(record, second, record.pairedSize(), options.selection);
    m.hasSecond = true;
    m.second = laserScan(other, options.frameId, stamp);
    m.overlapping += other.overlapping;
  }
  if (options.cloudTopic.empty()) return m;

  const std::vector<ScanPointValues> points = scanPointsOf(record, options.selection);
  sensor_msgs::PointCloud2& cloud = m.cloud;
  cloud.header.stamp = stamp;
  cloud.header.frame_id = options.frameId;
  sensor_msgs::PointCloud2Modifier modifier(cloud);
  modifier.setPointCloud2Fields(6, "x", 1, sensor_msgs::PointField::FLOAT32, "y", 1, sensor_msgs::PointField::FLOAT32,
                                "z", 1, sensor_msgs::PointField::FLOAT32, "intensity", 1,
                                sensor_msgs::PointField::FLOAT32, "azimuth", 1, sensor_msgs::PointField::FLOAT32,
                                "time", 1, sensor_msgs::PointField::FLOAT32);
  modifier.resize(points.size());
  cloud.height = 1;
  cloud.width = static_cast<std::uint32_t>(points.size());
  cloud.is_dense = false;  // no return: NaN coordinates
  // The fields above are six packed floats in ScanPointValues' order: the
  // points go in as they are.
  static_assert(sizeof(ScanPointValues) == 6 * sizeof(float), "ScanPointValues is the point's six fields");
  if (!points.empty()) std::memcpy(cloud.data.data(), points.data(), points.size() * sizeof(ScanPointValues));
  return m;
}

diagnostic_msgs::DiagnosticArray statusDiagnostics(const std::vector<std::pair<std::string, std::string>>& values,
                                                   const std::string& hardwareId, const ros::Time& stamp) {
  diagnostic_msgs::DiagnosticArray array;
  array.header.stamp = stamp;
  diagnostic_msgs::DiagnosticStatus status;
  status.level = diagnostic_msgs::DiagnosticStatus::OK;
  status.name = "z540k: status";
  status.message = "status packet";
  status.hardware_id = hardwareId;
  for (const auto& [name, text] : values) {
    diagnostic_msgs::KeyValue kv;
    kv.key = name;
    kv.value = text;
    status.values.push_back(kv);
  }
  array.status.push_back(status);
  return array;
}

}  // namespace z540k
