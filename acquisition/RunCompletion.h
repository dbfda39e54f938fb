// The end of a worker thread's run(), published for the thread that waited
// for it. QThread::wait() synchronises through Qt's own primitives, which
// ThreadSanitizer cannot see into; this release/acquire pair states the same
// ordering in the C++ memory model.
#pragma once

#include <QThread>
#include <atomic>
#include <cstdio>

namespace z540k {

class RunCompletion {
 public:
  // Last thing run() does.
  void markEnded() { ended_.fetch_add(1, std::memory_order_release); }
  // After a successful wait() for the thread.
  void joined() const { (void)ended_.load(std::memory_order_acquire); }

 private:
  std::atomic<unsigned> ended_{0};
};

// Waits for `thread`, told to end, to end. Its own loop ends it within a
// moment (a receive woken, a gate opened); one that has not ended after
// `boundMs` is reported on stderr, naming `what`, and then waited for, since
// a running thread cannot safely be left behind. False when the bound passed.
inline bool waitForRunEnd(QThread& thread, const char* what, unsigned long boundMs = 5000) {
  if (thread.wait(boundMs)) return true;
  std::fprintf(stderr, "z540k: %s had not ended %lu ms after it was told to; waiting for it\n", what, boundMs);
  thread.wait();
  return false;
}

}  // namespace z540k
