#include "CapturePlayer.h"

#include <cmath>

#include "RevolutionAssembly.h"

using namespace z540k;

// ---- PlaybackGate ----------------------------------------------------------

namespace z540k {

void PlaybackGate::close() {
  std::unique_lock<std::mutex> lock(mutex_);
  open_ = false;
  changed_.notify_all();  // cuts a pause between revolutions short
  changed_.wait(lock, [this] { return !decoding_ || stop_; });
}

void PlaybackGate::open() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
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

bool PlaybackGate::closeBehindStep() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  return passAt();
}

void PlaybackGate::sleep(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return !open_ || stop_; });
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
    case 0: return 110;
    case 1: return 80;
    case 2: return 50;
    case 3: return 130;
    default: return 150;
  }
}

bool ReadLiveOffData::endRevolution(LidarDataSingleLine& record, int& activeLayout) {
  emit SendData(record);
  record.clear();
  const int override = pauseOverrideMs;
  gate_.sleep(override >= 0 ? override : pauseMilliseconds(speedIndex));
  // A layout chosen meanwhile applies from the next revolution on.
  activeLayout = layout;
  int step = 1;
  if (stepRequest.compare_exchange_strong(step, 0)) return gate_.closeBehindStep();
  return !gate_.stopRequested();
}

void ReadLiveOffData::run() {
  runCompletion_.joined();  // a restart continues where the previous run ended
  // setPackets() refuses while the thread runs: the list stays as it is.
  const std::shared_ptr<const DataPacketList> list = packets_;
  const std::size_t count = list ? list->count() : 0;
  bool ended = false;  // the end of the capture was reached (not a stop)
  LidarDataSingleLine record;
  int activeLayout = layout;
  // Going back, the first block azimuth of the packet played before, which
  // follows the current packet in time.
  bool previousPlayedBackwards = false;
  double previousFirstAzimuth = 0.0;

  std::size_t i = 0;
  if (count == 0) ended = !gate_.stopRequested();
  while (count > 0 && gate_.passAt()) {
    const std::uint8_t* packet = list->packet(i);
    const bool backwards = direction == -1;
    bool stopped = false;
    if (packet[0] == kBlockFlag0 && packet[1] == kBlockFlag1) {
      const double packetTime = loadLE32(packet + kPacketTimestampOffset);
      if (backwards && !previousPlayedBackwards) {
        // Turned backwards: the forward azimuth sequence ends here, as each
        // backward packet's does at its last block.
        extrapolate(record, measurementsPerBlock(activeLayout));
        record.blockAzimuth.clear();
      } else if (backwards && !record.distance.empty()) {
        // Going back, a wrap that falls between this packet and the one
        // played before it ends the revolution before this packet's blocks.
        const double newest = blockAzimuthDegrees(packet + kBlockSize * (kBlocksPerPacket - 1));
        if (std::fabs(newest - previousFirstAzimuth) > 180.0) stopped = !endRevolution(record, activeLayout);
      }
      for (int b = 0; b < kBlocksPerPacket && !stopped; ++b) {
        const std::uint8_t* block = packet + kBlockSize * b;
        appendBlock(record, block, blockAzimuthDegrees(block), b, activeLayout, packetTime);
        if (revolutionWrapped(record)) stopped = !endRevolution(record, activeLayout);
        // Going back, each packet's azimuth sequence is closed at its last
        // block, so interpolation never spans two packets.
        if (backwards && b == kBlocksPerPacket - 1) {
          extrapolate(record, measurementsPerBlock(activeLayout));
          record.blockAzimuth.clear();
        }
      }
      previousPlayedBackwards = backwards;
      previousFirstAzimuth = blockAzimuthDegrees(packet);
    }
    if (stopped) break;

    // The end lies in the direction of play: the last packet going forwards
    // (its unfinished revolution is dropped), the first going backwards
    // (what was collected is emitted, and play turns forwards again).
    if (direction != -1 && i == count - 1) {
      ended = true;
      break;
    }
    if (direction == -1 && i == 0) {
      emit SendData(record);
      direction = 1;
      ended = true;
      break;
    }
    i = direction == -1 ? i - 1 : i + 1;
  }
  gate_.idle();
  // Signalled after every record of the run, so the window never sees the
  // end before the last frame.
  if (ended) emit SendBool(true);
  runCompletion_.markEnded();
}
