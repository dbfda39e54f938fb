#include "RosNode.h"

#include <ros/ros.h>

#include "RosMessages.h"

namespace z540k {

class RosNode::Publishers {
 public:
  explicit Publishers(const RosScanOptions& o) : options(o), spinner(1) {}
  RosScanOptions options;
  ros::NodeHandle node;
  ros::AsyncSpinner spinner;
  ros::Publisher scan, second, cloud, diagnostics;
};

std::unique_ptr<RosNode> RosNode::start(const std::string& name, const RosScanOptions& options, double waitSeconds,
                                        std::string& error) {
  int argc = 1;
  char program[] = "z540k-tool";
  char* argv[] = {program, nullptr};
  try {
    ros::init(argc, argv, name, ros::init_options::NoSigintHandler | ros::init_options::NoRosout);
    if (!ros::master::check()) {
      ros::WallTime until = ros::WallTime::now() + ros::WallDuration(waitSeconds);
      while (!ros::master::check()) {
        if (ros::WallTime::now() >= until) {
          error = "no ROS master answers at " + ros::master::getURI() +
                  " (start roscore, or set ROS_MASTER_URI and ROS_IP)";
          return nullptr;
        }
        ros::WallDuration(0.1).sleep();
      }
    }
    auto p = std::make_unique<Publishers>(options);
    p->scan = p->node.advertise<sensor_msgs::LaserScan>(options.topic, 10);
    p->second = p->node.advertise<sensor_msgs::LaserScan>(options.secondTopic, 10);
    if (!options.cloudTopic.empty()) p->cloud = p->node.advertise<sensor_msgs::PointCloud2>(options.cloudTopic, 10);
    p->diagnostics = p->node.advertise<diagnostic_msgs::DiagnosticArray>("diagnostics", 10);
    p->spinner.start();
    return std::unique_ptr<RosNode>(new RosNode(std::move(p)));
  } catch (const ros::Exception& e) {
    error = std::string("ROS: ") + e.what();
    return nullptr;
  }
}

RosNode::RosNode(std::unique_ptr<Publishers> publishers) : publishers_(std::move(publishers)) {}

RosNode::~RosNode() {
  publishers_->spinner.stop();
  publishers_.reset();
  ros::shutdown();
}

void RosNode::setSelection(const ScanSelection& selection) { publishers_->options.selection = selection; }

void RosNode::publishRevolution(const LidarDataSingleLine& record) {
  const RevolutionMessages m = revolutionMessages(record, publishers_->options, ros::Time::now());
  publishers_->scan.publish(m.scan);
  if (m.hasSecond) publishers_->second.publish(m.second);
  if (!publishers_->options.cloudTopic.empty()) publishers_->cloud.publish(m.cloud);
  overlapping_ += m.overlapping;
  ++scans_;
}

void RosNode::publishStatus(const std::vector<std::pair<std::string, std::string>>& values) {
  publishers_->diagnostics.publish(statusDiagnostics(values, "z540k", ros::Time::now()));
  ++status_;
}

bool RosNode::ok() const { return ros::ok(); }

}  // namespace z540k
