// The network settings window and the advanced window fed live, wired to the
// status receiver and the live receiver as the main window wires them: status
// packets sent on loopback cross from the receivers' threads to both windows
// through the queued signals. Under ThreadSanitizer (scripts/tsan-suite.sh)
// this is the run that checks those hand-overs for races.
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QtTest>
#include <atomic>
#include <thread>

#include "ACWPSettingWidget.h"
#include "InetactionSetupWidget.h"
#include "LiveDataReceiver.h"
#include "LoopbackTestSupport.h"
#include "MessageRecorder.h"
#include "PacketEncoders.h"
#include "RecordMetaTypes.h"
#include "StatusReceiver.h"
#include "WindowTestSupport.h"

using namespace z540k;
using namespace z540k::test;

namespace {

template <typename Receiver>
void connectToWindows(Receiver& receiver, InetactionSetupWidget& network, ACWPSettingWidget& advanced) {
  const auto unique = static_cast<Qt::ConnectionType>(Qt::AutoConnection | Qt::UniqueConnection);
  QVERIFY(
      QObject::connect(&receiver, &Receiver::SendDataDifo, &network, &InetactionSetupWidget::OnLidarDifoData, unique));
  QVERIFY(QObject::connect(&receiver, &Receiver::SendLidarStatusToSettingUI, &network,
                           &InetactionSetupWidget::OnLidarStatusReceiving, unique));
  QVERIFY(QObject::connect(&receiver, &Receiver::SendLidarStatusToSettingUI, &advanced,
                           &ACWPSettingWidget::onLidarStatusReceiving, unique));
}

QString text(QWidget& window, const char* name) { return child<QLineEdit>(window, name)->text(); }

}  // namespace

class StatusWindowsLiveTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  // Rounds of status packets sent back to back, each round to one receiver's
  // port: after each round both windows show its last packet (the motor
  // speed from the decoded record, the board-2 high voltage from the status
  // value list, the raw bytes kept whole); closing them asks nothing. Two
  // statuses reach the windows after a single wake-up of the GUI thread, made
  // for the first of them: only what our code tells ThreadSanitizer then
  // orders the receiver's writes for the second before the windows' reads.
  void liveStatusReachesBothWindows() {
    MessageRecorder messages;
    InetactionSetupWidget network;
    ACWPSettingWidget advanced;
    network.show();
    advanced.show();
    GetlidarData_1 live;
    GetSet status;
    connectToWindows(live, network, advanced);
    connectToWindows(status, network, advanced);
    const HeldUdpPort dataPort, statusPort;
    startReceiver(live, dataPort);
    startReceiver(status, statusPort);

    LoopbackSender sender;
    constexpr int kRounds = 4, kPerRound = 8;
    const auto packet = [](int n) {
      sim::SensorStatus s;
      s.motorSpeed = static_cast<std::uint16_t>(600 + n);
      s.board2HighVoltage = static_cast<std::uint16_t>(1000 + n);
      return sim::encodeStatusPacket(s);
    };
    // While the GUI thread delivers the status receiver's first status, the
    // receiver emits the next two: they are taken in one later pass over the
    // posted events, after one wake-up of the GUI thread (Qt's dispatcher
    // without GLib, which this test runs under, wakes it once for posts that
    // pile up).
    std::atomic<int> emitted{0};
    int delivered = 0;
    QObject::connect(
        &status, &GetSet::SendLidarStatusToSettingUI, &status, [&](SettingData*, std::vector<int>) { ++emitted; },
        Qt::DirectConnection);
    QObject::connect(&status, &GetSet::SendLidarStatusToSettingUI, &network, [&](SettingData*, std::vector<int>) {
      if (++delivered > 1) return;
      const QDeadlineTimer deadline(30000);
      while (emitted < 3 && !deadline.hasExpired()) std::this_thread::yield();
    });

    for (int round = 0; round < kRounds; ++round) {
      const int first = round * kPerRound, last = first + kPerRound - 1;
      for (int n = first; n <= last; ++n) QVERIFY(sender.send(round % 2 ? dataPort : statusPort, packet(n)));
      QTRY_COMPARE(text(network, "lineEdit_Motor_State"), QString::number(600 + last));
      QTRY_COMPARE(text(advanced, "lineEdit_board2HV"), QString::number(1000 + last));
      QTRY_VERIFY(network.session().snapshot() == packet(last));
    }
    QCOMPARE(int{delivered}, 2 * kPerRound);

    QVERIFY(network.close());
    QVERIFY(advanced.close());
    live.running = false;
    status.running = false;
    live.closeSocket();
    status.closeSocket();
    QVERIFY(messages.messages.empty());
  }
};

QTEST_MAIN(StatusWindowsLiveTest)
#include "test_status_windows_live.moc"
