// Makes the record types usable in queued signals between the worker threads
// and the GUI thread.
#pragma once

#include <sys/types.h>  // u_char

#include <QList>
#include <QMetaType>
#include <vector>

#include "LidarRecords.h"
#include "PacketFormat.h"
#include "ThreadSanitizer.h"

Q_DECLARE_METATYPE(LidarDataSingleLine)
Q_DECLARE_METATYPE(SettingData)
Q_DECLARE_METATYPE(SettingData*)
Q_DECLARE_METATYPE(const u_char*)
Q_DECLARE_METATYPE(z540k::ReturnMode)

// Under ThreadSanitizer: the copy Qt makes of a record for a queued call is
// written on the emitting thread and read and destroyed on the receiving one,
// handed over through Qt's posted-event list under a lock ThreadSanitizer does
// not see (Qt is not instrumented). The making of that copy is not recorded as
// the emitting thread's accesses; every other access to a record still is.
#ifdef Z540K_UNDER_TSAN
#define Z540K_QUEUED_COPY(T)                                                       \
  namespace QtMetaTypePrivate {                                                    \
  template <>                                                                      \
  struct QMetaTypeFunctionHelper<T, true> {                                        \
    static void Destruct(void* t) { static_cast<T*>(t)->~T(); }                    \
    static void* Construct(void* where, const void* t) {                           \
      AnnotateIgnoreWritesBegin(__FILE__, __LINE__);                               \
      void* made = t ? new (where) T(*static_cast<const T*>(t)) : new (where) T(); \
      AnnotateIgnoreWritesEnd(__FILE__, __LINE__);                                 \
      return made;                                                                 \
    }                                                                              \
    static void Save(QDataStream&, const void*) {}                                 \
    static void Load(QDataStream&, void*) {}                                       \
  };                                                                               \
  }
Z540K_QUEUED_COPY(LidarDataSingleLine)
Z540K_QUEUED_COPY(SettingData)
#undef Z540K_QUEUED_COPY
#endif

// Registers the records under the names their signals and connections spell:
// "struct LidarDataSingleLine", "struct SettingData", "std::vector<int>" and
// "QList<int>", plus the two pointer types the status signals carry and the
// return mode. Call once on the GUI thread before the first connection is
// made; calling again is harmless.
void registerRecordMetaTypes();
