// The records cross threads in queued signals under the names the
// connections spell.
#include <QCoreApplication>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include "CapturePlayer.h"
#include "LiveDataReceiver.h"
#include "RecordMetaTypes.h"
#include "StatusReceiver.h"

// Emits records from whatever thread it is moved to.
class RecordSender : public QObject {
  Q_OBJECT
 signals:
  void SendData(LidarDataSingleLine lidardata);
  void SendLidarStatusToSettingUI(SettingData* data, std::vector<int> Mac);
 public slots:
  void sendOne() {
    LidarDataSingleLine r;
    r.distance = {1.0, 65535.0};
    r.intensity = {0, 255};
    r.azimuth = {0.5, 359.5};
    r.timestamp = {7, 8};
    emit SendData(r);
    status_.motorSpeed = 600;
    emit SendLidarStatusToSettingUI(&status_, std::vector<int>(19, 4));
  }

 private:
  SettingData status_{};
};

class RecordReceiver : public QObject {
  Q_OBJECT
 public:
  LidarDataSingleLine last;
  int motorSpeed = 0;
  std::size_t values = 0;
  QThread* deliveredOn = nullptr;
 public slots:
  void CalculateCoordinates(LidarDataSingleLine lidardata) {
    last = lidardata;
    deliveredOn = QThread::currentThread();
  }
  void OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
    motorSpeed = data->motorSpeed;
    values = Mac.size();
  }
};

class RecordMetaTypeTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  void namesAreKnownToTheMetaTypeSystem() {
    const int record = qMetaTypeId<LidarDataSingleLine>();
    QCOMPARE(QMetaType::type("struct LidarDataSingleLine"), record);
    QCOMPARE(QMetaType::type("LidarDataSingleLine"), record);
    QCOMPARE(QMetaType::type("struct SettingData"), qMetaTypeId<SettingData>());
    QCOMPARE(QMetaType::type("std::vector<int>"), qMetaTypeId<std::vector<int>>());
    QCOMPARE(QMetaType::type("QList<int>"), qMetaTypeId<QList<int>>());
    QCOMPARE(QMetaType::type("SettingData*"), qMetaTypeId<SettingData*>());
    QVERIFY(QMetaType::type("const u_char*") != QMetaType::UnknownType);
    // Registering twice is harmless.
    registerRecordMetaTypes();
    QCOMPARE(QMetaType::type("LidarDataSingleLine"), record);
  }

  // The workers' signals carry only types whose queued copies are safe to
  // hand across threads: a signal with a new type fails here until the type
  // gets its queued copy.
  void workerSignalsCarryCoveredTypes() {
    for (const QMetaObject* worker :
         {&GetlidarData_1::staticMetaObject, &GetSet::staticMetaObject, &ReadLiveOffData::staticMetaObject}) {
      for (int i = worker->methodOffset(); i < worker->methodCount(); ++i) {
        const QMetaMethod signal = worker->method(i);
        if (signal.methodType() != QMetaMethod::Signal) continue;
        for (int p = 0; p < signal.parameterCount(); ++p)
          QVERIFY2(queuesSafely(signal.parameterType(p)),
                   qPrintable(QString("%1::%2").arg(worker->className(), signal.methodSignature())));
      }
    }
    QVERIFY(!queuesSafely(qMetaTypeId<QList<int>>()));
  }

  // A record emitted in a worker thread reaches a GUI-thread slot through a
  // queued connection made with the spelled signatures, as a copy.
  void queuedDeliveryAcrossThreads() {
    QThread worker;
    RecordSender sender;
    RecordReceiver receiver;
    sender.moveToThread(&worker);
    QVERIFY(QObject::connect(&sender, SIGNAL(SendData(struct LidarDataSingleLine)), &receiver,
                             SLOT(CalculateCoordinates(struct LidarDataSingleLine)), Qt::UniqueConnection));
    QVERIFY(QObject::connect(&sender, SIGNAL(SendLidarStatusToSettingUI(SettingData*, std::vector<int>)), &receiver,
                             SLOT(OnLidarStatusReceiving(SettingData*, std::vector<int>)), Qt::UniqueConnection));
    // A second identical connection is refused: connections are unique.
    QVERIFY(!QObject::connect(&sender, SIGNAL(SendData(struct LidarDataSingleLine)), &receiver,
                              SLOT(CalculateCoordinates(struct LidarDataSingleLine)), Qt::UniqueConnection));
    QSignalSpy spy(&sender, SIGNAL(SendData(struct LidarDataSingleLine)));
    worker.start();
    QMetaObject::invokeMethod(&sender, "sendOne", Qt::QueuedConnection);
    QTRY_COMPARE(receiver.last.distance.size(), std::size_t(2));
    QCOMPARE(receiver.deliveredOn, QThread::currentThread());
    QCOMPARE(receiver.last.distance[1], 65535.0);
    QCOMPARE(receiver.last.intensity[1], 255);
    QCOMPARE(receiver.last.timestamp[0], 7ULL);
    QTRY_COMPARE(int{receiver.motorSpeed}, 600);
    QCOMPARE(receiver.values, std::size_t(19));
    QCOMPARE(spy.count(), 1);
    worker.quit();
    worker.wait();
  }
};

QTEST_GUILESS_MAIN(RecordMetaTypeTest)
#include "test_record_meta_types.moc"
