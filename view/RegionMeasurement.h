// The marked region of the view and what the window measures in it: the box
// around the picked points, the frozen frame's measurements inside it as
// point table rows, and the statistics window over the in-box measurements of
// the arriving frames with its line of text. Pure values: no widgets, no
// point cloud types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LidarRecords.h"
#include "PointComputation.h"

namespace z540k {

// The box around the picked points: all six bounds start at the first point
// and widen by each further one. No points, no box (the window keeps its
// box as it was).
std::optional<SelectionBox> selectionBoxOf(const std::vector<ScenePoint>& picked);

// A point table row with the row it goes into.
struct RegionTableRow {
  int row = 0;
  PointTableRow cells;
};

// The frozen frame's measurements inside `box` (bounds included), in order,
// as point table rows. Every measurement of `frame` (paired up to its
// shortest list) is placed as the frozen-frame export places it: distance
// scaled by the layout, divided by 10, and in whole centimetres rounded by adding 0.5 and truncating toward zero. The
// rows run 0, 1, ... and start again at 0 whenever they reach `pickedCount`,
// so later rows overwrite earlier ones: write them in the order given. With
// no picked points (pickedCount 0 or less) there are no rows.
std::vector<RegionTableRow> frozenRegionRows(const LidarDataSingleLine& frame, const SelectionBox& box, int pickedCount,
                                             Layout layout, ViewMode viewMode);

// The statistics over the in-box measurements of the arriving frames: a
// window of `pickedCount` measurements, which may span frames, with the x and
// y minimum, maximum and sum. The count lives as long as the object, across
// frames; the window's "Clear" calls reset().
class RegionStatistics {
 public:
  struct Step {
    // The row this measurement may go into (the count before it was added),
    // or -1 when it was not counted (no picked points).
    int row = -1;
    // A window was complete: show `line`, the statistics of that window.
    bool lineDue = false;
    std::string line;
  };

  // Counts one in-box measurement at x, y (centimetres). When the window
  // already holds `pickedCount` measurements or more, its line is due and a
  // new window starts with this measurement. With no picked points
  // (pickedCount 0 or less) nothing is counted and no line is due.
  Step add(float x, float y, int pickedCount);

  // Back to an empty window.
  void reset() { count_ = 0; }

  // Measurements in the current window.
  int count() const { return count_; }
  // Measurements counted since the object was made.
  std::uint64_t measured() const { return measured_; }

 private:
  int count_ = 0;
  std::uint64_t measured_ = 0;
  float xMin_ = 0, xMax_ = 0, xSum_ = 0;
  float yMin_ = 0, yMax_ = 0, ySum_ = 0;
};

// Whether a statistics row is written to the point table: it lies between the
// table's vertical scroll position and 30 rows below it, both ends included.
bool statisticsRowShown(int row, int scrollPosition);

}  // namespace z540k
