// Makes the record types usable in queued signals between the worker threads
// and the GUI thread.
#pragma once

#include <sys/types.h>  // u_char

#include <QList>
#include <QMetaType>
#include <QObject>
#include <memory>
#include <utility>
#include <vector>

#include "LidarRecords.h"
#include "PacketFormat.h"
#include "ThreadSanitizer.h"

Q_DECLARE_METATYPE(LidarDataSingleLine)
Q_DECLARE_METATYPE(SettingData)
Q_DECLARE_METATYPE(SettingData*)
Q_DECLARE_METATYPE(const u_char*)
Q_DECLARE_METATYPE(z540k::ReturnMode)

// Under ThreadSanitizer: a queued call is handed to the receiving thread
// through Qt's posted-event list, under a lock ThreadSanitizer does not see
// (Qt is not instrumented). Making the copy of an argument of these types is
// the last thing the emitting thread does before Qt posts the call, and it
// releases queuedCallOrder(); the GUI thread acquires it before it delivers
// any queued call (the event filter registerRecordMetaTypes() installs). So
// what the emitting thread did before (the record or status it filled, the
// copy, the call Qt allocated for it) is ordered before the slot's reads, as
// Qt's lock orders it. A signal that carries a type of ours to another thread
// ends with one of these (queuesSafely() lists what may cross).
#ifdef Z540K_UNDER_TSAN
namespace z540k {
void* queuedCallOrder();
template <typename T>
struct QueuedCopy {
  // A call may also be dropped undelivered (its receiver gone, its events
  // removed): the copy is then destroyed where no delivery acquired first.
  static void Destruct(void* t) {
    __tsan_acquire(queuedCallOrder());
    std::destroy_at(static_cast<T*>(t));
  }
  static void* Construct(void* where, const void* t) {
    void* made = t ? new (where) T(*static_cast<const T*>(t)) : new (where) T();
    __tsan_release(queuedCallOrder());
    return made;
  }
  static void Save(QDataStream&, const void*) {}
  static void Load(QDataStream&, void*) {}
};
}  // namespace z540k
#define Z540K_QUEUED_COPY(...)                                                           \
  namespace QtMetaTypePrivate {                                                          \
  template <>                                                                            \
  struct QMetaTypeFunctionHelper<__VA_ARGS__, true> : z540k::QueuedCopy<__VA_ARGS__> {}; \
  }
Z540K_QUEUED_COPY(LidarDataSingleLine)
Z540K_QUEUED_COPY(SettingData)
Z540K_QUEUED_COPY(std::vector<int>)
Z540K_QUEUED_COPY(SettingData*)
Z540K_QUEUED_COPY(const u_char*)
#undef Z540K_QUEUED_COPY
#endif

// Queues `call` to run on `receiver`'s thread: a worker telling the GUI
// thread something. Under ThreadSanitizer the hand-over is told to it as for
// the queued copies above: what the worker did before is released to the
// delivery, and the making of the call (the captures, read only by the
// receiving thread) is not recorded as the worker's writes.
template <typename Call>
void queueCall(QObject* receiver, Call&& call) {
#ifdef Z540K_UNDER_TSAN
  __tsan_release(z540k::queuedCallOrder());
  AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
  QMetaObject::invokeMethod(receiver, std::forward<Call>(call), Qt::QueuedConnection);
#ifdef Z540K_UNDER_TSAN
  AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#endif
}

// True for the types a worker's signal may carry to the GUI thread: the
// types above, and Qt's own values and numbers, which Qt copies in its own
// code (bool, int, quint64, QString). A new type gets its queued copy above
// first.
bool queuesSafely(int metaTypeId);

// Registers the records under the names their signals and connections spell:
// "struct LidarDataSingleLine", "struct SettingData", "std::vector<int>" and
// "QList<int>", plus the two pointer types the status signals carry and the
// return mode. Call once on the GUI thread before the first connection is
// made, once the application object exists; calling again is harmless.
void registerRecordMetaTypes();
