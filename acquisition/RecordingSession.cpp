#include "RecordingSession.h"

namespace z540k {

RecordingSession::RecordingSession() = default;

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
  if (!recorder_) recorder_ = std::make_unique<CaptureRecorder>();
  if (!recorder_->start({path, portFilter(port), device})) {
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

std::string RecordingSession::summary() const {
  const std::string error = this->error();
  if (!error.empty()) return "the recording " + path_ + " failed: " + error;
  return "the recording " + path_ + " kept " + std::to_string(packetsWritten()) + " packets, " +
         std::to_string(packetsDropped()) + " dropped by the capture";
}

bool RecordingSession::whole() const { return error().empty() && packetsDropped() == 0; }

}  // namespace z540k
