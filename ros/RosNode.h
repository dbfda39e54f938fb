// The tool's ROS node: the revolutions and the status of the live sensor
// published through roscpp. No ROS types here: the tool includes this
// without ROS's headers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "LidarRecords.h"
#include "RosScanOptions.h"

namespace z540k {

class RosNode {
 public:
  // Joins the ROS master that ROS_MASTER_URI names (ROS_IP, ROS_HOSTNAME
  // honoured), waiting at most `waitSeconds` for it to answer; null with a
  // reason when it does not. Ctrl+C stays with the caller.
  static std::unique_ptr<RosNode> start(const std::string& name, const RosScanOptions& options, double waitSeconds,
                                        std::string& error);
  ~RosNode();

  // The measurements taken from now on.
  void setSelection(const ScanSelection& selection);
  // The messages of one revolution, stamped now.
  void publishRevolution(const LidarDataSingleLine& record);
  // One diagnostics message of the status's (name, text) values.
  void publishStatus(const std::vector<std::pair<std::string, std::string>>& values);
  // False once the master asked the node to shut down (or it lost it).
  bool ok() const;
  std::uint64_t scansPublished() const { return scans_; }
  std::uint64_t statusPublished() const { return status_; }
  std::uint64_t overlapping() const { return overlapping_; }

 private:
  class Publishers;
  explicit RosNode(std::unique_ptr<Publishers> publishers);
  std::unique_ptr<Publishers> publishers_;
  std::uint64_t scans_ = 0, status_ = 0, overlapping_ = 0;
};

}  // namespace z540k
