// The stream made ahead of the sender: a thread of its own makes the
// datagrams in order into a ring of made datagrams, and the sender takes
// them when they are due. At a fixed rate of many thousand datagrams a second
// the making (the scene, the noise, the encoding) costs as much as the
// sending, and the two then share the machine's cores.
//
// The datagrams are the stream's own, in its order: the same bytes as made
// one by one. A change of state (a configuration packet) takes effect with
// the datagrams made after it, at most the ring's length after the next one
// sent.
//
// Threads: the sender calls take(), pop() and setState(); the maker runs
// inside. The stream is the maker's while this object lives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "SensorStream.h"

namespace z540k::sim {

class StreamAhead {
 public:
  StreamAhead(SensorStream& stream, std::size_t capacity);
  ~StreamAhead();
  StreamAhead(const StreamAhead&) = delete;
  StreamAhead& operator=(const StreamAhead&) = delete;

  // The next datagram, waiting for it to be made; valid until pop().
  const Datagram& take();
  void pop();
  // The stream follows `state` from the next datagram made.
  void setState(const SensorState& state);

 private:
  void make();

  SensorStream& stream_;
  std::vector<Datagram> ring_;
  std::mutex streamMutex_;  // the stream, between a datagram made and a state change
  std::atomic<std::size_t> made_{0}, taken_{0};
  // A side that found the ring empty (the sender) or full (the maker) waits
  // under the mutex; the other wakes it.
  std::mutex waitMutex_;
  std::condition_variable changed_;
  std::atomic<bool> senderWaiting_{false}, makerWaiting_{false}, stopping_{false};
  std::thread maker_;  // last: started once the rest is set
};

}  // namespace z540k::sim
