#include "BagFrameFile.h"

#include <rosbag/bag.h>
#include <rosbag/exceptions.h>
#include <unistd.h>

#include "RosMessages.h"

namespace z540k {

class BagFrameFile::Bag {
 public:
  rosbag::Bag bag;
};

BagFrameFile::BagFrameFile(RosScanOptions options, BagCompression compression, long long maxFrames)
    : FrameFile(maxFrames), options_(std::move(options)), compression_(compression) {}

BagFrameFile::~BagFrameFile() { discard(); }

bool BagFrameFile::open(const std::string& path, std::string& error) {
  // A bag is a file with an index at its end: never written in place.
  const int fd = target_.create(path, false, error);
  if (fd < 0) return false;
  ::close(fd);
  try {
    bag_ = std::make_unique<Bag>();
    bag_->bag.open(target_.writtenPath(), rosbag::bagmode::Write);
    bag_->bag.setCompression(compression_ == BagCompression::Bz2   ? rosbag::compression::BZ2
                             : compression_ == BagCompression::Lz4 ? rosbag::compression::LZ4
                                                                   : rosbag::compression::Uncompressed);
  } catch (const rosbag::BagException& e) {
    error = path + ": the bag cannot be written: " + e.what();
    bag_.reset();
    target_.abandon();
    return false;
  }
  return true;
}

void BagFrameFile::writeFrame(const LidarDataSingleLine& record, CsvFrameKind) {
  if (!bag_ || complete() || failed()) return;
  const ros::Time stamp(static_cast<std::uint32_t>(seconds_), microseconds_ * 1000u);
  const RevolutionMessages m = revolutionMessages(record, options_, stamp);
  try {
    bag_->bag.write(options_.topic, stamp, m.scan);
    ++messages_;
    if (m.hasSecond) {
      bag_->bag.write(options_.secondTopic, stamp, m.second);
      ++messages_;
    }
    if (!options_.cloudTopic.empty()) {
      bag_->bag.write(options_.cloudTopic, stamp, m.cloud);
      ++messages_;
    }
  } catch (const rosbag::BagException& e) {
    error_ = target_.path() + ": writing the bag failed: " + e.what();
    return;
  }
  overlapping_ += m.overlapping;
  ++frames_;
}

bool BagFrameFile::close(std::string& error) {
  if (!bag_) {
    error = "no bag is open";
    return false;
  }
  if (!failed()) {
    try {
      bag_->bag.close();  // writes the index
    } catch (const rosbag::BagException& e) {
      error_ = target_.path() + ": finishing the bag failed: " + e.what();
    }
  }
  bag_.reset();
  if (failed()) {
    error = error_ + target_.unchangedNote();
    target_.abandon();
    return false;
  }
  return target_.commit(error);
}

void BagFrameFile::discard() {
  if (bag_) {
    try {
      bag_->bag.close();
    } catch (const rosbag::BagException&) {
      // Dropped anyway.
    }
    bag_.reset();
  }
  target_.abandon();
}

std::string BagFrameFile::rowsText() const {
  std::string text = std::to_string(messages_) + " messages";
  if (overlapping_ > 0)
    text += " (" + std::to_string(overlapping_) +
            " measurements left out of the LaserScans, their angle taken by a nearer one)";
  return text;
}

}  // namespace z540k
