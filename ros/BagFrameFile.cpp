#include "BagFrameFile.h"

#include <rosbag/bag.h>
#include <rosbag/exceptions.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "RosMessages.h"

namespace z540k {

// The bag and the thread that writes the messages of the revolutions: the
// caller goes on decoding meanwhile. A bounded queue: a caller ahead of the
// writer waits for room, so nothing is dropped.
class BagFrameFile::Bag {
 public:
  Bag(const RosScanOptions& options) : options_(options) {}
  ~Bag() {
    stop();
    finish();
  }

  rosbag::Bag& bag() { return *file_; }

  // Closes the bag, writing its index; the reason when that failed. A bag
  // that could not be closed is let go without its destructor: rosbag's
  // would write again, fail again and throw out of a destructor, ending
  // the program. Its descriptor stays open until the program ends; the file
  // itself is removed by the caller.
  std::string finish() {
    if (!file_) return {};
    try {
      file_->close();
      file_.reset();
      return {};
    } catch (const rosbag::BagException& e) {
      (void)file_.release();
      return e.what();
    }
  }

  void start() {
    thread_ = std::thread([this] { run(); });
  }
  // False once a write failed (then the revolution is not taken).
  bool put(const LidarDataSingleLine& record, const ros::Time& stamp) {
    // Converted here, the small messages handed over: copying the record
    // would cost more than converting it.
    Item item{revolutionMessages(record, options_, stamp), stamp};
    std::unique_lock<std::mutex> lock(mutex_);
    roomOrFailure_.wait(lock, [this] { return queue_.size() < kQueued || !error_.empty(); });
    if (!error_.empty()) return false;
    queue_.push_back(std::move(item));
    work_.notify_one();
    return true;
  }
  // Waits until everything queued is written (or a write failed); the
  // thread ends. The first failure's text, or empty.
  std::string stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    work_.notify_one();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }
  bool failed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !error_.empty();
  }
  std::uint64_t messages() const { return messages_; }
  std::uint64_t overlapping() const { return overlapping_; }

 private:
  static constexpr std::size_t kQueued = 8;
  struct Item {
    RevolutionMessages messages;
    ros::Time stamp;
  };

  void run() {
    for (;;) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        work_.wait(lock, [this] { return !queue_.empty() || ending_; });
        if (queue_.empty()) return;
        item = std::move(queue_.front());
        queue_.pop_front();
        roomOrFailure_.notify_one();
      }
      const RevolutionMessages& m = item.messages;
      try {
        file_->write(options_.topic, item.stamp, m.scan);
        ++messages_;
        if (m.hasSecond) {
          file_->write(options_.secondTopic, item.stamp, m.second);
          ++messages_;
        }
        if (!options_.cloudTopic.empty()) {
          file_->write(options_.cloudTopic, item.stamp, m.cloud);
          ++messages_;
        }
        overlapping_ += m.overlapping;
      } catch (const rosbag::BagException& e) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = std::string("writing the bag failed: ") + e.what();
        queue_.clear();
        roomOrFailure_.notify_all();
        return;
      }
    }
  }

  const RosScanOptions options_;
  mutable std::mutex mutex_;
  std::condition_variable work_, roomOrFailure_;
  std::deque<Item> queue_;
  bool ending_ = false;
  std::string error_;
  std::atomic<std::uint64_t> messages_{0}, overlapping_{0};
  std::unique_ptr<rosbag::Bag> file_ = std::make_unique<rosbag::Bag>();
  std::thread thread_;
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
    bag_ = std::make_unique<Bag>(options_);
    bag_->bag().open(target_.writtenPath(), rosbag::bagmode::Write);
    bag_->bag().setCompression(compression_ == BagCompression::Bz2   ? rosbag::compression::BZ2
                               : compression_ == BagCompression::Lz4 ? rosbag::compression::LZ4
                                                                     : rosbag::compression::Uncompressed);
    bag_->start();
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
  ros::Time stamp(static_cast<std::uint32_t>(seconds_), microseconds_ * 1000u);
  if (stampBySensor_) {
    const std::int64_t us = sensorClockMicroseconds(gps_, lastMeasurementTime(record));
    stamp.fromNSec(static_cast<std::uint64_t>(std::max<std::int64_t>(us, 0)) * 1000u);
  }
  if (stampAtWriting_ && record.capturedAtUs > 0)
    stamp.fromNSec(static_cast<std::uint64_t>(record.capturedAtUs) * 1000u);
  else if (stampAtWriting_)
    stamp.fromNSec(static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count()));
  if (bag_->put(record, stamp)) ++frames_;
}

bool BagFrameFile::failed() const { return !error_.empty() || (bag_ && bag_->failed()); }

bool BagFrameFile::close(std::string& error) {
  if (!bag_) {
    error = "no bag is open";
    return false;
  }
  const std::string failure = bag_->stop();
  if (!failure.empty()) error_ = target_.path() + ": " + failure;
  messages_ = bag_->messages();
  overlapping_ = bag_->overlapping();
  // Written or not, the bag is closed before the file is renamed or removed.
  const std::string unfinished = bag_->finish();
  if (!unfinished.empty() && error_.empty()) error_ = target_.path() + ": finishing the bag failed: " + unfinished;
  bag_.reset();
  if (!error_.empty()) {
    error = error_ + target_.unchangedNote();
    target_.abandon();
    return false;
  }
  return target_.commit(error);
}

void BagFrameFile::discard() {
  if (bag_) {
    bag_->stop();
    bag_->finish();  // dropped anyway
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
