// The main window's marked region: the view's selection mode, the box around
// the points the operator picked, and the statistics of the measurements
// that fall into it. Plain state of the GUI thread; the window shows it.
#pragma once

#include <vector>

#include "PointComputation.h"
#include "RegionMeasurement.h"

namespace z540k {

class RegionPicking {
 public:
  // The view's area selection is on: the cursor read-out is off meanwhile.
  bool selecting() const { return selecting_; }
  void toggleSelecting() { selecting_ = !selecting_; }

  // The picked points of the display cloud, as indices into `shown` (the
  // frame drawn last); indices outside it are ignored. With at least one
  // point, the region is marked around them and selection mode ends; the
  // points are returned. With none, nothing changes and none are returned.
  std::vector<ScenePoint> pick(const std::vector<int>& indices, const std::vector<ColouredPoint>& shown);

  bool picked() const { return picked_; }
  const SelectionBox& box() const { return box_; }
  int pickedCount() const { return pickedCount_; }

  const RegionStatistics& statistics() const { return statistics_; }
  // The measurements of a frame inside the region, in order: each counted
  // by the statistics, with the step it made.
  template <typename Each>
  void measure(const std::vector<RegionMeasurement>& inRegion, Each&& each) {
    for (const RegionMeasurement& m : inRegion) each(m, statistics_.add(m.p.x, m.p.y, pickedCount_));
  }
  // The in-region measurements of the newest frame, kept for their memory.
  std::vector<RegionMeasurement>& frameMeasurements() { return frameMeasurements_; }

  // "Clear": no region, the statistics start again.
  void clear();

 private:
  bool selecting_ = false;
  bool picked_ = false;
  SelectionBox box_;
  int pickedCount_ = 0;
  RegionStatistics statistics_;
  std::vector<RegionMeasurement> frameMeasurements_;
};

}  // namespace z540k
