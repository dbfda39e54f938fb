#include "InFlightLimit.h"

#include <QMetaObject>

#include "ThreadSanitizer.h"

namespace z540k {

bool InFlightLimit::tryAcquire(std::size_t limit) {
  std::size_t n = inFlight_.load();
  do {
    if (limit != 0 && n >= limit) return false;
  } while (!inFlight_.compare_exchange_weak(n, n + 1));
  return true;
}

// Qt hands the call to the GUI thread through its posted-event list, under a
// lock ThreadSanitizer does not see (Qt is not instrumented). Under
// ThreadSanitizer the hand-over is told to it: what the worker did before is
// released to the call, and the making of the queued call (the captures, read
// only by the GUI thread afterwards) is not recorded as the worker's writes.
void InFlightLimit::releaseAfterDelivery(QObject* guiObject, std::function<void()> then) {
#ifdef Z540K_UNDER_TSAN
  __tsan_release(this);
  AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
  QMetaObject::invokeMethod(
      guiObject,
      [this, then = std::move(then)] {
#ifdef Z540K_UNDER_TSAN
        __tsan_acquire(this);
#endif
        if (then) then();
        --inFlight_;
      },
      Qt::QueuedConnection);
#ifdef Z540K_UNDER_TSAN
  AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#endif
}

}  // namespace z540k
