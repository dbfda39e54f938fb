// The frames of an export as a ROS bag (written through librosbag): per
// revolution a sensor_msgs/LaserScan on the options' topic, one on the
// second topic when the record holds a second return, and a
// sensor_msgs/PointCloud2 when a cloud topic is named. Written beside the
// target and put in its place only when complete, as every export is.
//
// The messages are written by a thread of the file's own while the caller
// goes on decoding.
//
// The messages' stamp is the capture time of the datagram that completed
// the revolution (noteArrival before each datagram is decoded): about the
// time of the revolution's last measurement, which the LaserScan's ranges
// begin with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CsvFrameFile.h"
#include "RosScanOptions.h"

namespace z540k {

enum class BagCompression { None, Bz2, Lz4 };

class BagFrameFile : public FrameFile {
 public:
  BagFrameFile(RosScanOptions options, BagCompression compression, long long maxFrames);
  ~BagFrameFile() override;

  bool open(const std::string& path, std::string& error) override;
  void writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind = CsvFrameKind::Arriving) override;
  bool close(std::string& error) override;
  void discard() override;
  bool failed() const override;
  std::uint64_t rows() const override { return messages_; }
  std::string rowsText() const override;

  // The window's export: a revolution played from a capture is stamped with
  // its capture time (LidarDataSingleLine::capturedAtUs), as the tool stamps
  // it; a live one with the time it is written.
  void stampAtWriting() { stampAtWriting_ = true; }
  // Stamps each revolution with the sensor's clock: the GPS time noted by
  // noteSensorClock with the time of the revolution's last measurement.
  void stampBySensor() { stampBySensor_ = true; }
  void noteSensorClock(const GpsDateTime& gps) { gps_ = gps; }
  // The capture time of the datagram about to be decoded.
  void noteArrival(std::int64_t seconds, std::uint32_t microseconds) {
    seconds_ = seconds;
    microseconds_ = microseconds;
  }
  // Measurements two of which fell on one angle of a LaserScan: the nearer
  // is in the scan, both are in the point cloud. Known once closed, as the
  // messages are.
  std::uint64_t overlapping() const { return overlapping_; }

 private:
  class Bag;

  RosScanOptions options_;
  BagCompression compression_;
  FileBeside target_;
  std::unique_ptr<Bag> bag_;  // null while no file is open
  std::string error_;         // the first write that failed
  bool stampAtWriting_ = false;
  bool stampBySensor_ = false;
  GpsDateTime gps_;
  std::int64_t seconds_ = 0;
  std::uint32_t microseconds_ = 0;
  std::uint64_t messages_ = 0;
  std::uint64_t overlapping_ = 0;
};

}  // namespace z540k
