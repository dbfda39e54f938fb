#include "StatusHandOver.h"

#include <QCoreApplication>
#include <algorithm>
#include <memory>

namespace z540k {

// Blocks still on their way are released by events that go with their
// owner, but queued slots posted before those events may still read them.
// They are freed by an event posted behind those slots: when it runs, or
// when the application discards it with its other pending events.
StatusHandOver::~StatusHandOver() {
  auto onTheirWay = std::make_shared<std::vector<std::unique_ptr<Block>>>();
  for (Block* b : made_) {
    if (std::find(free_.begin(), free_.end(), b) == free_.end())
      onTheirWay->emplace_back(b);
    else
      delete b;
  }
  if (onTheirWay->empty()) return;
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(
        app, [onTheirWay] {}, Qt::QueuedConnection);
}

StatusHandOver::Block* StatusHandOver::acquire() {
  if (!places_.tryAcquire(kMaxInFlight)) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (free_.empty()) return made_.emplace_back(new Block);
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
