#include "StreamAhead.h"

#include <csignal>

namespace z540k::sim {

StreamAhead::StreamAhead(SensorStream& stream, std::size_t capacity) : stream_(stream), ring_(capacity) {
  // Signals stay the sender's: the maker starts with all of them blocked.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  maker_ = std::thread([this] { make(); });
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

StreamAhead::~StreamAhead() {
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  maker_.join();
}

void StreamAhead::make() {
  std::size_t made = made_.load();
  for (;;) {
    if (made - taken_.load() == ring_.size()) {
      std::unique_lock<std::mutex> lock(waitMutex_);
      makerWaiting_ = true;
      changed_.wait(lock, [&] { return stopping_ || made - taken_.load() < ring_.size(); });
      makerWaiting_ = false;
    }
    if (stopping_) return;
    {
      std::lock_guard<std::mutex> lock(streamMutex_);
      stream_.next(ring_[made % ring_.size()]);
    }
    made_ = ++made;
    // Either the sender sees the new count before it waits, or this sees it
    // waiting and wakes it.
    if (senderWaiting_) {
      std::lock_guard<std::mutex> lock(waitMutex_);
      changed_.notify_all();
    }
  }
}

const Datagram& StreamAhead::take() {
  const std::size_t taken = taken_.load();
  if (made_.load() == taken) {
    std::unique_lock<std::mutex> lock(waitMutex_);
    senderWaiting_ = true;
    changed_.wait(lock, [&] { return made_.load() != taken; });
    senderWaiting_ = false;
  }
  return ring_[taken % ring_.size()];
}

void StreamAhead::pop() {
  taken_ = taken_.load() + 1;
  if (makerWaiting_) {
    std::lock_guard<std::mutex> lock(waitMutex_);
    changed_.notify_all();
  }
}

void StreamAhead::setState(const SensorState& state) {
  std::lock_guard<std::mutex> lock(streamMutex_);
  stream_.setState(state, stream_.nextTimeUs());
}

}  // namespace z540k::sim
