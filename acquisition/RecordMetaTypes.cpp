#include "RecordMetaTypes.h"

#include <QCoreApplication>
#include <QEvent>

#ifdef Z540K_UNDER_TSAN
namespace {

char queuedCalls;

// Acquires what the copies of queued arguments released, before the GUI
// thread delivers a queued call.
class QueuedCallOrder : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MetaCall) __tsan_acquire(&queuedCalls);
    return false;
  }
};

void orderQueuedCalls() {
  static QueuedCallOrder* filter = nullptr;
  if (filter || !QCoreApplication::instance()) return;
  filter = new QueuedCallOrder;
  QCoreApplication::instance()->installEventFilter(filter);
}

}  // namespace

void* z540k::queuedCallOrder() { return &queuedCalls; }
#endif

void registerRecordMetaTypes() {
  // Qt normalises "struct X" to "X", so the first registration also answers
  // to the plain name.
  qRegisterMetaType<LidarDataSingleLine>("struct LidarDataSingleLine");
  qRegisterMetaType<SettingData>("struct SettingData");
  qRegisterMetaType<std::vector<int>>("std::vector<int>");
  qRegisterMetaType<QList<int>>("QList<int>");
  qRegisterMetaType<SettingData*>("SettingData*");
  qRegisterMetaType<const u_char*>("const u_char*");
  qRegisterMetaType<z540k::ReturnMode>("z540k::ReturnMode");
#ifdef Z540K_UNDER_TSAN
  orderQueuedCalls();
#endif
}

bool queuesSafely(int metaTypeId) {
  for (int covered : {qMetaTypeId<LidarDataSingleLine>(), qMetaTypeId<SettingData>(), qMetaTypeId<std::vector<int>>(),
                      qMetaTypeId<SettingData*>(), qMetaTypeId<const u_char*>(), int{QMetaType::Bool},
                      int{QMetaType::Int}, int{QMetaType::ULongLong}, int{QMetaType::QString}})
    if (metaTypeId == covered) return true;
  return false;
}
