// manwindow's region picking and measurement: the selection mode, the marked
// region from the points the operator dragged a rectangle over, and the
// statistics of the measurements that fall into it.
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTimer>

#include "PointCloudView.h"
#include "RegionMeasurement.h"
#include "manwindow.h"

using namespace z540k;

// Switches the view's area-selection mode on or off; the view takes the
// keyboard so the operator can drag at once.
void manwindow::SelectPoints() {
  ui.screen->setFocus();
  view_->toggleAreaSelection();
  picking_.toggleSelecting();
  setCursor(picking_.selecting() ? Qt::CrossCursor : Qt::ArrowCursor);
}

void manwindow::onAreaPicked(const std::vector<int>& indices) {
  // The picked points of the display cloud: the frame drawn last (with its
  // trails), in the order the cloud holds them.
  const bool selecting = picking_.selecting();
  const std::vector<ScenePoint> picked = picking_.pick(indices, shownPoints());
  if (picked.empty()) return;

  ensurePointTable();
  resetPointTable();
  // With the picture frozen, the matching measurements of the frame on screen
  // are listed at once.
  if (playback_.paused() || !display_.running()) {
    for (const RegionTableRow& row :
         frozenRegionRows(display_.latest(), picking_.box(), picking_.pickedCount(), chosenLayout(), chosenViewMode()))
      writeTableRow(row.row, row.cells);
  }
  view_->showSelection(picked);

  // Selection mode ends with the pick.
  if (selecting) view_->toggleAreaSelection();
  setCursor(Qt::ArrowCursor);
}

// A row's cells are changed in place, and only where their text changed:
// new items every frame made the table lay out and repaint whole.
void manwindow::writeTableRow(int row, const PointTableRow& cells) {
  if (!pointTable) return;
  for (int column = 0; column < kPointTableColumns; ++column) {
    const QString text = QString::fromStdString(cells[column]);
    if (QStandardItem* item = pointTable->item(row, column)) {
      if (item->text() != text) item->setText(text);
    } else {
      pointTable->setItem(row, column, new QStandardItem(text));
    }
  }
}

void manwindow::writeWaitingTableRows() {
  if (!tableRefresh_.pending() || !ui.tableView->isVisible()) return;
  tableTimer_->stop();
  const std::vector<PointTableRow> rows = tableRefresh_.take(hostClock_.elapsed());
  for (std::size_t row = 0; row < rows.size(); ++row) writeTableRow(static_cast<int>(row), rows[row]);
  // The columns fit their contents once, with the first rows: not at every
  // refresh (measuring every cell costs more than writing it).
  if (!tableColumnsFitted_ && !rows.empty()) {
    ui.tableView->resizeColumnsToContents();
    tableColumnsFitted_ = true;
  }
}

// The measurements of a drawn frame inside the marked region: the statistics
// window, its line once complete, and the table rows in view.
void manwindow::measureRegion(const std::vector<RegionMeasurement>& inRegion) {
  const int scroll = ui.tableView->verticalScrollBar()->value();
  picking_.measure(inRegion, [&](const RegionMeasurement& m, const RegionStatistics::Step& step) {
    if (step.lineDue) view_->setTextLine(step.line);
    if (statisticsRowShown(step.row, scroll))
      writeTableRow(step.row, pointTableRow(step.row, m.p, m.azimuth, m.scaledDistance, m.intensity, m.timestamp));
  });
}
