// What the main window does with the revolutions that arrive for display:
// the newest is kept and drawn once the records already waiting have been
// taken; those that arrive before that draw runs replace each other and
// count as merged. While the display is paused nothing new is kept, and the
// frame on screen stays for the frozen-frame export and the region listing.
//
// Plain state of the GUI thread: the window queues the draw when told to.
#pragma once

#include <cstdint>
#include <vector>

#include "LidarRecords.h"
#include "PointComputation.h"

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

// The point table follows the newest drawn frame at the pace a reader can
// follow and a table of 30 rows costs: rows are written at most once every
// kIntervalMs, the newest rows waiting meanwhile (the window writes them
// when they fall due, at once while the display is paused, and not while the
// table is hidden).
class TableRefresh {
 public:
  static constexpr std::int64_t kIntervalMs = 500;

  // The rows of a frame drawn at `nowMs` (milliseconds of any steady clock).
  // True when they are due now: take() them.
  bool offer(std::vector<PointTableRow> rows, std::int64_t nowMs);
  bool pending() const { return pending_; }
  // Milliseconds until the waiting rows fall due (0: now).
  std::int64_t dueInMs(std::int64_t nowMs) const;
  // The waiting rows, written at `nowMs`.
  std::vector<PointTableRow> take(std::int64_t nowMs);
  // The waiting rows are no longer to be shown (a region marked, the table cleared).
  void drop();

 private:
  std::vector<PointTableRow> rows_;
  bool pending_ = false;
  bool written_ = false;
  std::int64_t writtenAtMs_ = 0;
};

}  // namespace z540k
