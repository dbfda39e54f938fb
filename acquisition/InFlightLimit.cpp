#include "InFlightLimit.h"

#include <QMetaObject>

namespace z540k {

bool InFlightLimit::tryAcquire(std::size_t limit) {
  std::size_t n = inFlight_.load();
  do {
    if (limit != 0 && n >= limit) return false;
  } while (!inFlight_.compare_exchange_weak(n, n + 1));
  return true;
}

void InFlightLimit::releaseAfterDelivery(QObject* guiObject, std::function<void()> then) {
  QMetaObject::invokeMethod(
      guiObject,
      [this, then = std::move(then)] {
        if (then) then();
        --inFlight_;
      },
      Qt::QueuedConnection);
}

}  // namespace z540k
