#include "RegionMeasurement.h"

#include <algorithm>
#include <charconv>

#include "CsvExport.h"

namespace z540k {

std::optional<SelectionBox> selectionBoxOf(const std::vector<ScenePoint>& picked) {
  if (picked.empty()) return std::nullopt;
  const ScenePoint& first = picked.front();
  SelectionBox box{first.x, first.x, first.y, first.y, first.z, first.z};
  for (const ScenePoint& p : picked) {
    box.xMin = std::min(box.xMin, p.x);
    box.xMax = std::max(box.xMax, p.x);
    box.yMin = std::min(box.yMin, p.y);
    box.yMax = std::max(box.yMax, p.y);
    box.zMin = std::min(box.zMin, p.z);
    box.zMax = std::max(box.zMax, p.z);
  }
  return box;
}

std::vector<RegionTableRow> frozenRegionRows(const LidarDataSingleLine& frame, const SelectionBox& box, int pickedCount,
                                             Layout layout, ViewMode viewMode) {
  std::vector<RegionTableRow> rows;
  if (pickedCount <= 0) return rows;
  const std::size_t n = frame.pairedSize();
  int k = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const double d = scaledDistance(frame.distance[j], layout);
    const double a = frame.azimuth[j];
    const CsvPoint c = csvPoint(d, a, viewMode, CsvFrameKind::Frozen);
    const ScenePoint p{c.x, c.y, c.z};
    if (!box.contains(p)) continue;
    rows.push_back(RegionTableRow{k, pointTableRow(k, p, a, d, frame.intensity[j], frame.timestamp[j])});
    if (++k == pickedCount) k = 0;
  }
  return rows;
}

namespace {

// Fixed notation with 6 decimals, as "%f" writes it in the C locale (the
// program's locale may use another decimal mark).
void appendFixed(std::string& out, float v) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, static_cast<double>(v), std::chars_format::fixed, 6);
  out.append(text, result.ptr);
}

void appendAxis(std::string& out, const char* axis, float min, float max, float sum, int count) {
  out += axis;
  out += "_Min:";
  appendFixed(out, min);
  out += "    ";
  out += axis;
  out += "_Max:";
  appendFixed(out, max);
  out += "    ";
  out += axis;
  out += "_Average:";
  appendFixed(out, sum / static_cast<float>(count));
  out += "    ";
  out += axis;
  out += "_Error:";
  appendFixed(out, max - min);
}

}  // namespace

RegionStatistics::Step RegionStatistics::add(float x, float y, int pickedCount) {
  Step step;
  if (pickedCount <= 0) return step;
  ++measured_;
  if (count_ >= pickedCount) {
    // The window is complete. Its average is over the measurements it holds,
    // which are `pickedCount` unless the region was picked anew meanwhile.
    if (count_ > 0) {
      step.lineDue = true;
      step.line.reserve(160);
      appendAxis(step.line, "x", xMin_, xMax_, xSum_, count_);
      step.line += '\n';
      appendAxis(step.line, "y", yMin_, yMax_, ySum_, count_);
    }
    count_ = 0;
  }
  step.row = count_;
  if (count_ == 0) {
    xMin_ = xMax_ = x;
    yMin_ = yMax_ = y;
    xSum_ = ySum_ = 0;
  }
  xMin_ = std::min(xMin_, x);
  xMax_ = std::max(xMax_, x);
  yMin_ = std::min(yMin_, y);
  yMax_ = std::max(yMax_, y);
  xSum_ += x;
  ySum_ += y;
  ++count_;
  return step;
}

bool statisticsRowShown(int row, int scrollPosition) {
  const long long r = row, v = scrollPosition;
  return r >= 0 && r >= v && r <= v + kFrameTableRows;
}

}  // namespace z540k
