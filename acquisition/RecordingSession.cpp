#include "RecordingSession.h"

#include <condition_variable>
#include <mutex>

#include "PacketFormat.h"
#include "RevolutionIndex.h"

namespace z540k {

struct RecordingSession::Written {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  RevolutionIndex index;
  std::size_t revolutions = 0;
  bool ended = false;

  void add(const std::uint8_t* payload, std::size_t size) {
    if (!isDataPacket(payload, size)) return;
    std::lock_guard<std::mutex> lock(mutex);
    index.addPacket(payload);
    const std::size_t closed = index.frameCount(returnFamilyOf(returnModeOf(index.traits().arrangement())));
    if (closed == revolutions) return;
    revolutions = closed;
    changed.notify_all();
  }
  void end() {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    changed.notify_all();
  }
  void restart() {
    std::lock_guard<std::mutex> lock(mutex);
    index = RevolutionIndex();
    revolutions = 0;
    ended = false;
  }
};

RecordingSession::RecordingSession(bool countRevolutions)
    : written_(std::make_unique<Written>()), countRevolutions_(countRevolutions) {}

// A recording still going keeps what it captured.
RecordingSession::~RecordingSession() {
  if (recorder_) {
    recorder_->postStop();
    recorder_->wait(5000);
  }
}

std::string RecordingSession::portFilter(int port) { return "port " + std::to_string(port); }

bool RecordingSession::start(const std::string& path, int port, const std::string& namedDevice, std::string& reason) {
  std::string listError;
  const std::string device = chooseCaptureAdapter(namedDevice, listCaptureAdapters(listError), reason);
  if (device.empty()) {
    reason = "No network adapter to record on: " + (reason.empty() ? listError : reason);
    return false;
  }
  if (!recorder_) {
    recorder_ = std::make_unique<CaptureRecorder>();
    Written* written = written_.get();
    if (countRevolutions_)
      recorder_->setWriteObserver(
          {[written](const std::uint8_t* payload, std::size_t size) { written->add(payload, size); },
           [written] { written->end(); }});
  }
  // The last recording's thread, which has told its end, is joined before
  // the count starts afresh.
  const bool idle = recorder_->wait(0);
  if (idle) written_->restart();
  if (!idle || !recorder_->start({path, portFilter(port), device})) {
    reason = "The previous recording is still ending: try again in a moment.";
    return false;
  }
  path_ = path;
  device_ = device;
  recording_ = true;
  return true;
}

bool RecordingSession::stop(int timeoutMs) {
  if (!recording_) return true;
  recorder_->postStop();
  if (!recorder_->wait(timeoutMs)) return false;
  recording_ = false;
  return true;
}

bool RecordingSession::endedByItself() {
  if (!recording_ || recorder_->isRunning()) return false;
  recorder_->wait(1000);
  recording_ = false;
  return true;
}

std::string RecordingSession::error() const { return recorder_ ? recorder_->error() : std::string(); }

std::uint64_t RecordingSession::packetsWritten() const { return recorder_ ? recorder_->packetsWritten() : 0; }

std::uint64_t RecordingSession::packetsDropped() const { return recorder_ ? recorder_->packetsDropped() : 0; }

std::size_t RecordingSession::revolutionsWritten() const {
  std::lock_guard<std::mutex> lock(written_->mutex);
  return written_->revolutions;
}

bool RecordingSession::waitForRevolutions(std::size_t count, std::chrono::steady_clock::time_point until) const {
  std::unique_lock<std::mutex> lock(written_->mutex);
  const auto done = [&] { return (count > 0 && written_->revolutions >= count) || written_->ended; };
  written_->changed.wait_until(lock, until, done);
  return count > 0 && written_->revolutions >= count;
}

std::string RecordingSession::summary() const {
  const std::string error = this->error();
  if (!error.empty()) return "the recording " + path_ + " failed: " + error;
  return "the recording " + path_ + " kept " + std::to_string(packetsWritten()) + " packets, " +
         std::to_string(packetsDropped()) + " dropped by the capture";
}

bool RecordingSession::whole() const { return error().empty() && packetsDropped() == 0; }

}  // namespace z540k
