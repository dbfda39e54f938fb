#include "StatusHandOver.h"

#include <QMetaObject>

namespace z540k {

StatusHandOver::~StatusHandOver() {
  // Blocks still in flight are owned by their pending release events, which
  // can no longer run once the owner is gone; they are leaked rather than
  // freed under a slot that may still read them.
  for (Block* b : free_) delete b;
}

StatusHandOver::Block* StatusHandOver::acquire() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (inFlight_ >= kMaxInFlight) return nullptr;
  ++inFlight_;
  if (free_.empty()) return new Block;
  Block* b = free_.back();
  free_.pop_back();
  return b;
}

void StatusHandOver::release(Block* block) {
  std::lock_guard<std::mutex> lock(mutex_);
  --inFlight_;
  free_.push_back(block);
}

void StatusHandOver::releaseAfterDelivery(QObject* guiObject, Block* block) {
  QMetaObject::invokeMethod(guiObject, [this, block] { release(block); }, Qt::QueuedConnection);
}

std::size_t StatusHandOver::inFlight() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return inFlight_;
}

}  // namespace z540k
