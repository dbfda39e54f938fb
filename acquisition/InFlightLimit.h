// Bounds what a receiver thread has handed to the GUI thread through queued
// signals and the GUI thread has not yet taken.
//
// Before it emits, the worker takes a place; after emitting, it posts an event
// to an object of the GUI thread that gives the place back. Qt delivers the
// events of one thread in the order they were posted, so when that event runs
// every queued slot invocation posted before it has run. While all places are
// taken the GUI thread is not keeping up (or not taking events at all), and
// the worker drops what it would have sent instead of queueing copies without
// end.
//
// The receiving slots must live in the thread of the object the release
// event is posted to (the receivers post it to themselves: they belong to the
// GUI thread).
#pragma once

#include <QObject>
#include <atomic>
#include <cstddef>
#include <functional>

#include "LidarRecords.h"

namespace z540k {

class InFlightLimit {
 public:
  // Worker thread: takes a place, or returns false when `limit` places are
  // taken (a limit of 0 takes a place whatever the count).
  bool tryAcquire(std::size_t limit);
  // Worker thread, after the emissions: gives the place back once the events
  // already posted to `guiObject`'s thread have been delivered, running
  // `then` there first.
  void releaseAfterDelivery(QObject* guiObject, std::function<void()> then = {});

  std::size_t inFlight() const { return inFlight_.load(); }

 private:
  std::atomic<std::size_t> inFlight_{0};
};

// What the live receiver does with each finished revolution: emits the
// receiver's SendData (a queued copy per connected slot) unless `limit`
// revolutions are still on their way; returns false, emitting nothing, then.
// `beforeEmit` runs right before SendData is emitted (it emits what goes
// with the revolution).
template <typename Receiver, typename BeforeEmit>
bool deliverRecord(Receiver* receiver, InFlightLimit& places, std::size_t limit, const LidarDataSingleLine& record,
                   BeforeEmit beforeEmit) {
  if (!places.tryAcquire(limit)) return false;
  beforeEmit();
  emit receiver->SendData(record);
  places.releaseAfterDelivery(receiver);
  return true;
}

}  // namespace z540k
