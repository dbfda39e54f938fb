// What the scan messages of the bag export and the live node are: topics,
// frame and the measurements taken. No ROS types: the tool and the window
// fill it without ROS's headers.
#pragma once

#include <string>

#include "CsvExport.h"
#include "PointComputation.h"
#include "ScanMessages.h"

namespace z540k {

struct RosScanOptions {
  std::string topic = "scan";               // LaserScan of the (first) return
  std::string secondTopic = "scan_second";  // LaserScan of the second return in a record of both
  std::string cloudTopic;                   // PointCloud2 of every measurement; empty: none
  std::string frameId = "laser";
  ScanSelection selection;
};

// The measurements an export with `options` takes, in metres: the same as
// its CSV rows.
inline ScanSelection scanSelectionOf(const CsvExportOptions& options) {
  ScanSelection s;
  s.metresPerCount = scaledDistance(1.0, options.layout) / 1000.0;  // millimetres per count
  s.angleMin = options.angleMin;
  s.angleMax = options.angleMax;
  return s;
}

}  // namespace z540k
