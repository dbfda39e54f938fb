// The ROS messages of one revolution, filled from the pure scan values: the
// bag export and the live node publish the same messages.
#pragma once

#include <diagnostic_msgs/DiagnosticArray.h>
#include <ros/time.h>
#include <sensor_msgs/LaserScan.h>
#include <sensor_msgs/PointCloud2.h>

#include <string>
#include <utility>
#include <vector>

#include "LidarRecords.h"
#include "RosScanOptions.h"

namespace z540k {

struct RevolutionMessages {
  sensor_msgs::LaserScan scan;
  bool hasSecond = false;  // the record holds a second return
  sensor_msgs::LaserScan second;
  sensor_msgs::PointCloud2 cloud;  // filled when the options name a cloud topic
  std::size_t overlapping = 0;     // measurements left out of the LaserScans (kept in the cloud)
};

RevolutionMessages revolutionMessages(const LidarDataSingleLine& record, const RosScanOptions& options,
                                      const ros::Time& stamp);

// The sensor's status as one diagnostics message of (name, text) values.
diagnostic_msgs::DiagnosticArray statusDiagnostics(const std::vector<std::pair<std::string, std::string>>& values,
                                                   const std::string& hardwareId, const ros::Time& stamp);

}  // namespace z540k
