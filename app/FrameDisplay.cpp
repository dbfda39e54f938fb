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

}  // namespace z540k
