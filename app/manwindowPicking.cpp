// manwindow's region picking and measurement: the selection mode, the marked
// region from the points the operator dragged a rectangle over, and the
// statistics of the measurements that fall into it.
#include <QScrollBar>
#include <QStandardItemModel>

#include "PointCloudView.h"
#include "RegionMeasurement.h"
#include "manwindow.h"

using namespace z540k;

// Switches the view's area-selection mode on or off; the view takes the
// keyboard so the operator can drag at once.
void manwindow::SelectPoints() {
  ui.screen->setFocus();
  view_->toggleAreaSelection();
  selectionMode = !selectionMode;
  mouseReadout = !selectionMode;
  setCursor(selectionMode ? Qt::CrossCursor : Qt::ArrowCursor);
}

void manwindow::onAreaPicked(const std::vector<int>& indices) {
  if (indices.empty()) return;
  // The picked points of the display cloud: the frame drawn last, in the
  // order the cloud holds them.
  const std::vector<ColouredPoint>& shown = framePoints_.display;
  std::vector<ScenePoint> picked;
  picked.reserve(indices.size());
  for (int i : indices)
    if (i >= 0 && static_cast<std::size_t>(i) < shown.size()) picked.push_back(shown[i].p);
  const auto box = selectionBoxOf(picked);
  if (!box) return;

  ensurePointTable();
  resetPointTable();
  pickedCount = static_cast<int>(picked.size());
  selectionBox = *box;
  // With the picture frozen, the matching measurements of the frame on screen
  // are listed at once.
  if (playback_.paused() || !displayRunning) {
    for (const RegionTableRow& row :
         frozenRegionRows(lastFrame, selectionBox, pickedCount, chosenLayout(), chosenViewMode()))
      writeTableRow(row.row, row.cells);
  }
  view_->showSelection(picked);

  // Selection mode ends with the pick.
  if (selectionMode) view_->toggleAreaSelection();
  selectionMode = false;
  setCursor(Qt::ArrowCursor);
  areaPicked = true;
  mouseReadout = true;
}

void manwindow::writeTableRow(int row, const PointTableRow& cells) {
  if (!pointTable) return;
  for (int column = 0; column < kPointTableColumns; ++column)
    pointTable->setItem(row, column, new QStandardItem(QString::fromStdString(cells[column])));
}

// The measurements of a drawn frame inside the marked region: the statistics
// window, its line once complete, and the table rows in view.
void manwindow::measureRegion(const std::vector<RegionMeasurement>& inRegion) {
  const int scroll = ui.tableView->verticalScrollBar()->value();
  for (const RegionMeasurement& m : inRegion) {
    const RegionStatistics::Step step = regionStatistics_.add(m.p.x, m.p.y, pickedCount);
    if (step.lineDue) view_->setTextLine(step.line);
    if (areaPicked && statisticsRowShown(step.row, scroll))
      writeTableRow(step.row, pointTableRow(step.row, m.p, m.azimuth, m.scaledDistance, m.intensity, m.timestamp));
  }
}
