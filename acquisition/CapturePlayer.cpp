#include "CapturePlayer.h"

#include <algorithm>
#include <chrono>
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

// ---- PlaybackPace ----------------------------------------------------------

double PlaybackPace::factor(int speedIndex) {
  switch (speedIndex) {
    case 0:
      return 1;
    case 1:
      return 2;
    case 2:
      return 3;
    case 3:
      return 0.5;
    default:
      return 0.25;
  }
}

std::int64_t PlaybackPace::wait(std::uint64_t sensorTime, std::int64_t now, double factor) {
  if (sensorTime == 0) {
    restart();
    return -1;
  }
  constexpr std::uint64_t hour = 3600ull * 1000000;
  // Either way round the sensor's hourly clock, whichever is shorter.
  const std::uint64_t forth = (sensorTime % hour + hour - lastSensor_ % hour) % hour;
  const std::uint64_t step = hasLast_ ? std::min(forth, hour - forth) : 0;
  const bool gap = step > kLongestGap;  // played as the interval before it
  if (hasLast_ && !gap) interval_ = step;
  const auto anchor = [&] {
    anchored_ = true;
    factor_ = factor;
    anchorHost_ = now;
    elapsed_ = 0;
  };
  if (!anchored_ || factor != factor_ || gap) {
    anchor();
  } else {
    elapsed_ += step;
    const auto due = anchorHost_ + static_cast<std::int64_t>(static_cast<double>(elapsed_) / factor_);
    if (now - due > kLateLimit) {
      ++late_;
      anchor();
    }
  }
  lastSensor_ = sensorTime;
  hasLast_ = true;
  if (interval_ == 0) {  // the first frame: nothing known of the pace yet
    anchored_ = false;
    return -1;
  }
  const auto nextDue = anchorHost_ + static_cast<std::int64_t>(static_cast<double>(elapsed_ + interval_) / factor_);
  return std::max<std::int64_t>(0, nextDue - now);
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
  waitForRunEnd(*this, "the capture player");
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
  pace_ = PlaybackPace();
  paceSpeed_ = -1;
  lateFrames_ = 0;
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
    if (seek > 0) paceSeek_ = true;
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
  const int pauseMs = override >= 0 ? override : pauseAfter(record, closings);
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

int ReadLiveOffData::pauseAfter(const LidarDataSingleLine& record, std::uint64_t closings) {
  const int speed = speedIndex;
  const Direction turn = direction;
  // Paused, turned, sped up or moved elsewhere: the pace is counted anew.
  if (speed != paceSpeed_ || turn != paceDirection_ || closings != paceClosings_ || paceSeek_) pace_.restart();
  paceSpeed_ = speed;
  paceDirection_ = turn;
  paceClosings_ = closings;
  paceSeek_ = false;
  const std::int64_t now =
      clock_
          ? clock_()
          : std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
  std::uint64_t sensorTime = 0;  // the revolution's newest time stamp
  for (const auto t : record.timestamp) sensorTime = std::max<std::uint64_t>(sensorTime, t);
  const std::int64_t wait = pace_.wait(sensorTime, now, PlaybackPace::factor(speed));
  lateFrames_ = pace_.lateFrames();
  return wait < 0 ? pauseMilliseconds(speed) : static_cast<int>((wait + 500) / 1000);
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
