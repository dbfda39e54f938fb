// What the main window does with the revolutions that arrive for display:
// the newest is kept and drawn once the records already waiting have been
// taken; those that arrive before that draw runs replace each other and
// count as merged. While the display is paused nothing new is kept, and the
// frame on screen stays for the frozen-frame export and the region listing.
//
// Plain state of the GUI thread: the window queues the draw when told to.
#pragma once

#include <cstdint>

#include "LidarRecords.h"

namespace z540k {

class FrameDisplay {
 public:
  // "Pause" and "Paly" of the display.
  bool running() const { return running_; }
  void toggleRunning() { running_ = !running_; }

  // Keeps `record` as the newest frame (the display runs).
  const LidarDataSingleLine& keep(LidarDataSingleLine record) {
    latest_ = std::move(record);
    return latest_;
  }
  // The newest frame is to be drawn, or empty clouds when it went to a CSV
  // file instead. True when the window must queue a draw; false when one is
  // queued already: that draw takes this frame, and the frame it would have
  // drawn counts as merged (unless it was not to be drawn either).
  bool wantDraw(bool empty);
  // The queued draw runs: the frame to draw, or null for empty clouds.
  const LidarDataSingleLine* startDraw() {
    drawQueued_ = false;
    return drawEmpty_ ? nullptr : &latest_;
  }
  void drawn() { ++framesDrawn_; }

  const LidarDataSingleLine& latest() const { return latest_; }
  std::uint64_t framesDrawn() const { return framesDrawn_; }
  std::uint64_t framesMerged() const { return framesMerged_; }

 private:
  bool running_ = true;
  LidarDataSingleLine latest_;
  bool drawQueued_ = false;
  bool drawEmpty_ = false;  // the newest frame went to the CSV file
  std::uint64_t framesDrawn_ = 0;
  std::uint64_t framesMerged_ = 0;
};

}  // namespace z540k
