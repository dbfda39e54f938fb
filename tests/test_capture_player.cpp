// The capture player: forward and backward play, the speed pause, the gate,
// single steps, the end of the capture and restarting.
#include <QElapsedTimer>
#include <QtTest>

#include "CapturePlayer.h"
#include "RecordMetaTypes.h"
#include "ScanPacketStream.h"
#include "SignalCollector.h"

using namespace z540k;

namespace {

// `count` data packets of a turning sensor, 30 packets per revolution.
std::vector<std::uint8_t> capturePackets(int count) {
  sim::ScanPattern pattern;
  pattern.firingsPerRevolution = 360;
  sim::ScanPacketStream stream(pattern);
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    const auto p = stream.next();
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  return bytes;
}

// Collects the player's records and end signals as the main window gets them.
struct PlayerSignals {
  SignalCollector collector;
  explicit PlayerSignals(ReadLiveOffData& player) {
    QObject::connect(&player, SIGNAL(SendData(struct LidarDataSingleLine)), &collector,
                     SLOT(onRecord(struct LidarDataSingleLine)));
    QObject::connect(&player, SIGNAL(SendBool(bool)), &collector, SLOT(onBool(bool)));
  }
  int records() const { return collector.recordCount(); }
  int ends() const { return collector.boolCount(); }
  const LidarDataSingleLine& record(int i) const { return collector.records[i]; }
};

}  // namespace

class CapturePlayerTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  // Forwards: one record per revolution, the newest block of each without
  // azimuths, then the end signalled once while the last packet is read.
  void forwardPlayToTheEnd() {
    const auto packets = capturePackets(95);
    ReadLiveOffData player;
    QVERIFY(player.setPackets(packets.data(), 95));
    player.speedIndex = 2;
    PlayerSignals emitted(player);
    player.start();
    QVERIFY(!player.setPackets(packets.data(), 10));  // never replaced while playing
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 5000);
    QVERIFY(player.wait(1000));
    QCOMPARE(emitted.collector.bools[0], true);
    QCOMPARE(emitted.records(), 3);
    for (int r = 0; r < 3; ++r) {
      const auto rec = emitted.record(r);
      const std::size_t blocks = r == 0 ? 361 : 360;
      QCOMPARE(rec.distance.size(), blocks * 30);
      QCOMPARE(rec.azimuth.size(), (blocks - 1) * 30);
      QCOMPARE(rec.blockAzimuth.size(), blocks);
    }
    QCOMPARE(player.direction.load(), 1);
  }

  // Played again after the end, it starts from the first packet.
  void restartReplaysFromTheStart() {
    const auto packets = capturePackets(65);
    ReadLiveOffData player;
    player.setPackets(packets.data(), 65);
    player.speedIndex = 2;
    PlayerSignals emitted(player);
    for (int round = 1; round <= 2; ++round) {
      player.start();
      QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), round, 5000);
      QVERIFY(player.wait(1000));
      QCOMPARE(emitted.records(), 2 * round);
      QCOMPARE(emitted.record(2 * round - 2).distance.size(), std::size_t(361 * 30));
    }
  }

  // The pause after each revolution follows the speed index.
  void speedPauses() {
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(0), 110);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(1), 80);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(2), 50);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(3), 130);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(4), 150);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(7), 150);
    // Two revolutions at speed 4 take at least two pauses.
    const auto packets = capturePackets(65);
    ReadLiveOffData player;
    player.setPackets(packets.data(), 65);
    player.speedIndex = 4;
    PlayerSignals emitted(player);
    QElapsedTimer clock;
    clock.start();
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 5000);
    QVERIFY(clock.elapsed() >= 2 * 150);
  }

  // Holding the gate pauses playback; giving it back resumes it.
  void gatePausesAndResumes() {
    const auto packets = capturePackets(95);
    ReadLiveOffData player;
    player.setPackets(packets.data(), 95);
    player.speedIndex = 2;
    PlayerSignals emitted(player);
    player.takeGate();
    player.start();
    QTest::qWait(300);
    QCOMPARE(emitted.records(), 0);
    player.giveGate();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 5000);
    QCOMPARE(emitted.records(), 3);
  }

  // A single step plays exactly up to the end of the next revolution and
  // waits at the gate again.
  void singleStep() {
    const auto packets = capturePackets(125);
    ReadLiveOffData player;
    player.setPackets(packets.data(), 125);
    player.speedIndex = 2;
    PlayerSignals emitted(player);
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.records(), 1, 3000);
    player.takeGate();  // paused, after the packet in progress
    QTest::qWait(100);  // what was emitted before the pause arrives
    const int before = emitted.records();
    player.stepRequest = 1;
    player.giveGate();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.records(), before + 1, 3000);
    QTest::qWait(300);
    QCOMPARE(emitted.records(), before + 1);
    QCOMPARE(player.stepRequest.load(), 0);
    QVERIFY(player.isRunning());
    player.giveGate();
    QVERIFY(player.wait(5000));
    QTRY_COMPARE(emitted.records(), 4);
  }

  // Turned backwards in the middle, it plays back to the first packet, emits
  // what it collected there, signals the end and leaves the direction
  // forwards.
  void backwardsToTheStart() {
    const auto packets = capturePackets(95);
    ReadLiveOffData player;
    player.setPackets(packets.data(), 95);
    player.speedIndex = 2;
    PlayerSignals emitted(player);
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.records(), 1, 3000);
    player.takeGate();
    player.direction = -1;
    player.giveGate();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 5000);
    QVERIFY(player.wait(1000));
    QCOMPARE(player.direction.load(), 1);
    // Going back, no revolution closes (each packet's azimuths ascend and
    // are closed at its last block): the last record holds every packet
    // played back. Only the first packet's block 0 has no azimuths yet.
    QVERIFY(emitted.records() >= 2);
    const auto last = emitted.record(emitted.records() - 1);
    QVERIFY(last.distance.size() >= std::size_t(30 * 360));
    QCOMPARE(last.distance.size() - last.azimuth.size(), std::size_t(30));
    QCOMPARE(last.blockAzimuth.size(), std::size_t(1));
  }

  void emptyListEndsAtOnce() {
    ReadLiveOffData player;
    PlayerSignals emitted(player);
    player.setPackets(nullptr, 0);
    player.start();
    QVERIFY(player.wait(1000));
    QCOMPARE(emitted.records(), 0);
    QCOMPARE(emitted.ends(), 0);
  }

  // A player waiting at its gate can be stopped (the program closing).
  void stopWhileWaitingAtTheGate() {
    const auto packets = capturePackets(95);
    ReadLiveOffData player;
    player.setPackets(packets.data(), 95);
    player.takeGate();
    player.start();
    QTest::qWait(50);
    player.requestStop();
    QVERIFY(player.wait(2000));
  }
};

QTEST_GUILESS_MAIN(CapturePlayerTest)
#include "test_capture_player.moc"
