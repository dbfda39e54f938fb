// The end of a worker thread's run(), published for the thread that waited
// for it. QThread::wait() synchronises through Qt's own primitives, which
// ThreadSanitizer cannot see into; this release/acquire pair states the same
// ordering in the C++ memory model.
#pragma once

#include <atomic>

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

}  // namespace z540k
