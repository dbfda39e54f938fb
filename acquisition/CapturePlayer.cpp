#include "CapturePlayer.h"

#include <algorithm>
#include <cmath>

#include "CaptureFrames.h"

using namespace z540k;

// ---- PlaybackGate ----------------------------------------------------------

namespace z540k {

void PlaybackGate::close() {
  std::unique_lock<std::mutex> lock(mutex_);
  open_ = false;
  ++closings_;
  changed_.notify_all();  // cuts a pause between revolutions short
  changed_.wait(lock, [this] { return !decoding_ || stop_; });
}

void PlaybackGate::open() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  ++openings_;
  changed_.notify_all();
}

bool PlaybackGate::isOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

void PlaybackGate::requestStop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = true;
  changed_.notify_all();
}

void PlaybackGate::clearStop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = false;
}

bool PlaybackGate::stopRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

bool PlaybackGate::passAt() {
  std::unique_lock<std::mutex> lock(mutex_);
  decoding_ = false;
  changed_.notify_all();
  changed_.wait(lock, [this] { return open_ || stop_; });
  if (stop_) return false;
  decoding_ = true;
  return true;
}

bool PlaybackGate::closeBehindStep(std::uint64_t openingsBefore) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (openings_ == openingsBefore) open_ = false;
  }
  return passAt();
}

std::uint64_t PlaybackGate::openings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openings_;
}

std::uint64_t PlaybackGate::closings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closings_;
}

void PlaybackGate::sleep(int milliseconds, std::uint64_t closingsBefore) {
  std::unique_lock<std::mutex> lock(mutex_);
  // A closing since the frame was sent cuts the pause short, even when the
  // gate is open again before this thread sleeps or wakes.
  changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                    [this, closingsBefore] { return !open_ || stop_ || closings_ != closingsBefore; });
}

void PlaybackGate::idle() {
  std::lock_guard<std::mutex> lock(mutex_);
  decoding_ = false;
  changed_.notify_all();
}

}  // namespace z540k

// ---- ReadLiveOffData -------------------------------------------------------

ReadLiveOffData::ReadLiveOffData(QObject* parent) : QThread(parent) {}

ReadLiveOffData::~ReadLiveOffData() { stop(); }

bool ReadLiveOffData::setPackets(std::shared_ptr<const DataPacketList> packets) {
  if (isRunning()) return false;
  packets_ = std::move(packets);
  return true;
}

void ReadLiveOffData::stop() {
  gate_.requestStop();
  wait();
  runCompletion_.joined();
  gate_.clearStop();
}

int ReadLiveOffData::pauseMilliseconds(int speedIndex) {
  switch (speedIndex) {
    case 0:
      return 110;
    case 1:
      return 80;
    case 2:
      return 50;
    case 3:
      return 130;
    default:
      return 150;
  }
}

void ReadLiveOffData::run() {
  runCompletion_.joined();  // a restart begins where the previous run ended
  // setPackets() refuses while the thread runs: the list stays as it is.
  CaptureFrames frames(packets_);
  frames.setLayout(layout);
  frames.setReturnMode(returnMode);
  bool ended = false;  // the end of the capture was reached (not a stop)
  QString failure;
  long long shown = -1;  // the frame on screen, from 0
  LidarDataSingleLine record;

  while (true) {
    frames.setReturnMode(returnMode);
    const auto total = static_cast<long long>(frames.frameTotal());
    // The frame wanted now: one asked for, else the next one in the
    // direction of play.
    const auto next = [&] { return shown < 0 ? 0 : shown + frameStep(direction); };
    const int seek = seekRequest_.exchange(0);
    const long long target = seek > 0 ? std::min<long long>(seek, total) - 1 : next();
    if (target < 0 || target >= total) {
      // Past the first frame going backwards, or the last going forwards.
      if (target < 0) direction = Direction::Forwards;
      ended = !gate_.stopRequested();
      break;
    }
    const auto result = frames.frame(static_cast<std::size_t>(target), record, [&] {
      if (!gate_.passAt()) return false;
      frames.setLayout(layout);
      // Another frame was asked for meanwhile (a seek, a turn): this one is
      // not needed any more.
      return seekRequest_ == 0 && (seek > 0 || next() == target);
    });
    if (result == CaptureFrames::Result::Failed) {
      failure = QString::fromStdString(frames.error());
      break;
    }
    if (result == CaptureFrames::Result::Abandoned) {
      if (gate_.stopRequested()) break;
      continue;
    }
    shown = target;
    if (!sendFrame(record, target, total, ended)) break;
  }
  gate_.idle();
  signalRunEnd(failure, ended);
  runCompletion_.markEnded();
}

bool ReadLiveOffData::sendFrame(const LidarDataSingleLine& record, long long target, long long total, bool& ended) {
  // A single step asked for before this frame went out ends with it; one
  // asked for from now on ends with the next.
  const bool stepEnds = stepRequest.exchange(0) == 1;
  const std::uint64_t closings = gate_.closings();
  const std::uint64_t openings = gate_.openings();
  emit SendData(record);
  emit SendFrame(static_cast<int>(target + 1), static_cast<int>(total));
  gate_.idle();
  const int override = pauseOverrideMs;
  const int pauseMs = override >= 0 ? override : pauseMilliseconds(speedIndex);
  if (pauseWait_)
    pauseWait_(pauseMs);
  else
    gate_.sleep(pauseMs, closings);
  if (stepEnds) {
    // The end is found when playback goes on from this frame.
    if (!gate_.closeBehindStep(openings)) return false;
    gate_.idle();
  } else if (gate_.stopRequested()) {
    return false;
  } else if (seekRequest_ == 0 && (direction == Direction::Backwards ? target == 0 : target == total - 1)) {
    if (direction == Direction::Backwards) direction = Direction::Forwards;
    ended = true;
    return false;
  }
  return true;
}

void ReadLiveOffData::signalRunEnd(const QString& failure, bool ended) {
  // Signalled after every record of the run, so the window never sees the
  // end before the last frame.
  if (!failure.isEmpty()) {
    emit SendError(failure);
    emit SendBool(false);
  } else if (ended) {
    emit SendBool(true);
  }
}
