// What the scan messages of the bag export and the live node are: topics,
// frame and the measurements taken. No ROS types: the tool and the window
// fill it without ROS's headers.
#pragma once

#include <string>

#include "ScanMessages.h"

namespace z540k {

struct RosScanOptions {
  std::string topic = "scan";                // LaserScan of the (first) return
  std::string secondTopic = "scan_second";   // LaserScan of the second return in a record of both
  std::string cloudTopic;                    // PointCloud2 of every measurement; empty: none
  std::string frameId = "laser";
  ScanSelection selection;
};

}  // namespace z540k
