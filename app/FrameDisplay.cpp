#include "FrameDisplay.h"

namespace z540k {

bool FrameDisplay::wantDraw(bool empty) {
  drawEmpty_ = empty;
  if (drawQueued_) {
    if (!empty) ++framesMerged_;
    return false;
  }
  drawQueued_ = true;
  return true;
}

bool TableRefresh::offer(std::vector<PointTableRow> rows, std::int64_t nowMs) {
  rows_ = std::move(rows);
  pending_ = true;
  return dueInMs(nowMs) == 0;
}

std::int64_t TableRefresh::dueInMs(std::int64_t nowMs) const {
  if (!written_) return 0;
  const std::int64_t since = nowMs - writtenAtMs_;
  return since >= kIntervalMs || since < 0 ? 0 : kIntervalMs - since;
}

std::vector<PointTableRow> TableRefresh::take(std::int64_t nowMs) {
  pending_ = false;
  written_ = true;
  writtenAtMs_ = nowMs;
  return std::move(rows_);
}

void TableRefresh::drop() {
  rows_.clear();
  pending_ = false;
}

}  // namespace z540k
