#include "StatusHandOver.h"

namespace z540k {

StatusHandOver::~StatusHandOver() {
  // Blocks still in flight are owned by their pending release events, which
  // can no longer run once the owner is gone; they are leaked rather than
  // freed under a slot that may still read them.
  for (Block* b : free_) delete b;
}

StatusHandOver::Block* StatusHandOver::acquire() {
  if (!places_.tryAcquire(kMaxInFlight)) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (free_.empty()) return new Block;
  Block* b = free_.back();
  free_.pop_back();
  return b;
}

void StatusHandOver::release(Block* block) {
  std::lock_guard<std::mutex> lock(mutex_);
  free_.push_back(block);
}

void StatusHandOver::releaseAfterDelivery(QObject* guiObject, Block* block) {
  places_.releaseAfterDelivery(guiObject, [this, block] { release(block); });
}

std::size_t StatusHandOver::inFlight() const { return places_.inFlight(); }

}  // namespace z540k
