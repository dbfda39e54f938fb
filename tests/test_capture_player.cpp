// The capture player: forward and backward play, the layout, the end of the
// capture, restarting, single steps, and a watchdog over every sequence of
// the window's playback controls.
#include <QtTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "CapturePlayer.h"
#include "DataPacketDecoder.h"
#include "RecordMetaTypes.h"
#include "ScanPacketStream.h"

using namespace z540k;

namespace {

// `count` data packets of a turning sensor, 30 packets per revolution, each
// revolution starting at 0 degrees with the first block of a packet.
std::shared_ptr<DataPacketList> capturePackets(int count, int layout = kLayoutProtocol17) {
  sim::ScanPattern pattern;
  pattern.layout = layout;
  pattern.firingsPerRevolution = 360;
  sim::ScanPacketStream stream(pattern);
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    const auto p = stream.next();
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  return std::make_shared<DataPacketList>(DataPacketList::fromBytes(std::move(bytes)));
}

// What the window receives from the player, in arrival order: 'R' for a
// record, 'E' for the end. `emitted` counts records as the player emits them
// (on its own thread), so a test can tell what happened while it was paused.
struct PlayerSignals {
  QObject context;
  QString order;
  std::vector<LidarDataSingleLine> records;
  std::atomic<int> emitted{0};

  explicit PlayerSignals(ReadLiveOffData& player) {
    QObject::connect(&player, &ReadLiveOffData::SendData, &context, [this](const LidarDataSingleLine& r) {
      records.push_back(r);
      order += 'R';
    });
    QObject::connect(&player, &ReadLiveOffData::SendBool, &context, [this](bool) { order += 'E'; });
    QObject::connect(
        &player, &ReadLiveOffData::SendData, &context, [this](const LidarDataSingleLine&) { ++emitted; },
        Qt::DirectConnection);
  }
  int ends() const { return order.count('E'); }
};

}  // namespace

class CapturePlayerTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  // Forwards: one record per revolution, the newest block of each without
  // azimuths; the end is signalled once, after the last record; the list is
  // never replaced while the player runs.
  void forwardPlayToTheEnd() {
    ReadLiveOffData player;
    QVERIFY(player.setPackets(capturePackets(95)));
    player.pauseOverrideMs = 0;
    PlayerSignals emitted(player);
    player.takeGate();
    player.start();
    QVERIFY(!player.setPackets(capturePackets(10)));  // refused while it runs, paused or not
    player.giveGate();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
    QVERIFY(player.wait(5000));
    QCOMPARE(emitted.order, QString("RRRE"));
    for (int r = 0; r < 3; ++r) {
      const auto& rec = emitted.records[r];
      const std::size_t blocks = r == 0 ? 361 : 360;
      QCOMPARE(rec.distance.size(), blocks * 30);
      QCOMPARE(rec.azimuth.size(), (blocks - 1) * 30);
    }
    QCOMPARE(player.direction.load(), 1);
    // Played again after the end, it starts from the first packet.
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 2, 10000);
    QCOMPARE(emitted.order, QString("RRRERRRE"));
    QCOMPARE(emitted.records[3].distance, emitted.records[0].distance);
  }

  // Backwards, a revolution also ends when the wrap falls between two
  // packets (each revolution here starts with a packet at 0 degrees): a
  // whole revolution per record, back to the first packet, whose partial
  // revolution is emitted before the end; play turns forwards again.
  void backwardsEndsRevolutionsBetweenPackets() {
    ReadLiveOffData player;
    QVERIFY(player.setPackets(capturePackets(125)));
    player.pauseOverrideMs = 0;
    PlayerSignals emitted(player);
    // Three single steps forwards: the third revolution ends at packet 90.
    player.stepRequest = 1;
    player.start();
    for (int step = 1; step <= 3; ++step) {
      QTRY_COMPARE_WITH_TIMEOUT(emitted.emitted.load(), step, 10000);
      player.takeGate();  // returns at once: the player waits behind the step
      QCOMPARE(player.stepRequest.load(), 0);
      if (step < 3) {
        player.stepRequest = 1;
        player.giveGate();
      }
    }
    player.direction = -1;
    player.giveGate();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
    QVERIFY(player.wait(5000));
    QCOMPARE(emitted.order, QString("RRRRRRE"));
    // Packets 89..60 with the rest of packet 90 played forwards, then 59..30
    // and 29..0: whole revolutions, every measurement with its azimuth.
    QCOMPARE(emitted.records[3].distance.size(), std::size_t((11 + 360) * 30));
    for (int r = 4; r < 6; ++r) {
      const auto& rec = emitted.records[r];
      QCOMPARE(rec.distance.size(), std::size_t(360 * 30));
      QCOMPARE(rec.azimuth.size(), rec.distance.size());
      const auto range = std::minmax_element(rec.azimuth.begin(), rec.azimuth.end());
      QVERIFY(*range.first < 1.0 && *range.second > 359.0);
    }
    QCOMPARE(player.direction.load(), 1);
  }

  // A capture of a sensor in the protocol 1.6 layout plays back in that
  // layout, measurement for measurement as the live decoder reads it.
  void protocol16CapturePlaysInItsLayout() {
    const auto packets = capturePackets(40, kLayoutProtocol16);
    DataPacketDecoder live;
    live.setLayout(kLayoutProtocol16);
    std::vector<LidarDataSingleLine> liveRecords;
    live.setRecordSink([&](const LidarDataSingleLine& r) { liveRecords.push_back(r); });
    for (std::size_t i = 0; i < packets->count(); ++i) live.decodeDataPacket(packets->packet(i), kDataPacketSize);
    QCOMPARE(liveRecords.size(), std::size_t(1));

    ReadLiveOffData player;
    player.layout = kLayoutProtocol16;
    player.pauseOverrideMs = 0;
    QVERIFY(player.setPackets(packets));
    PlayerSignals emitted(player);
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
    QCOMPARE(emitted.order, QString("RE"));
    const auto& played = emitted.records[0];
    const auto& expected = liveRecords[0];
    QCOMPARE(played.distance.size(), std::size_t(361 * 2));
    QCOMPARE(played.distance.size(), expected.distance.size());
    // The live decoder moves measurements past the wrap to the next
    // revolution (zeros here); the player has no carry-over.
    for (std::size_t i = 0; i < played.distance.size(); ++i) {
      if (expected.isPlaceholder(i)) continue;
      QCOMPARE(played.distance[i], expected.distance[i]);
      QCOMPARE(played.intensity[i], expected.intensity[i]);
      QCOMPARE(played.timestamp[i], expected.timestamp[i]);
      if (i < played.azimuth.size()) QCOMPARE(played.azimuth[i], expected.azimuth[i]);
    }
  }

  // An empty list signals its end at once, so the window never waits for it.
  void emptyListSignalsItsEnd() {
    ReadLiveOffData player;
    PlayerSignals emitted(player);
    QVERIFY(player.setPackets(std::make_shared<DataPacketList>()));
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 5000);
    QCOMPARE(emitted.order, QString("E"));
  }

  // The player keeps its packets alive while it can use them: the window
  // may drop its own list while playback is paused.
  void packetsOutliveTheWindowsReference() {
    auto packets = capturePackets(65);
    const std::weak_ptr<DataPacketList> watch = packets;
    ReadLiveOffData player;
    player.pauseOverrideMs = 0;
    QVERIFY(player.setPackets(packets));
    PlayerSignals emitted(player);
    player.stepRequest = 1;
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.emitted.load(), 1, 10000);
    player.takeGate();
    packets.reset();
    QVERIFY(!watch.expired());
    QVERIFY(!player.setPackets(capturePackets(5)));
    player.giveGate();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
    QCOMPARE(emitted.order, QString("RRE"));
  }

  // Stopping ends playback without an end signal, whether it plays, waits at
  // the gate or waits behind a step; a stop asked for right after the start
  // is not lost.
  void stopEndsPlaybackInEveryState() {
    ReadLiveOffData player;
    player.setPackets(capturePackets(95));
    PlayerSignals emitted(player);
    player.takeGate();
    player.start();
    player.stop();
    QVERIFY(!player.isRunning());
    player.giveGate();
    player.start();
    player.stop();  // possibly before run() began
    QVERIFY(!player.isRunning());
    player.stepRequest = 1;
    player.pauseOverrideMs = 0;
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.emitted.load(), 1, 10000);
    player.stop();
    QVERIFY(!player.isRunning());
    QCoreApplication::processEvents();
    QCOMPARE(emitted.ends(), 0);
  }

  // The pause after each revolution follows the speed index.
  void speedPauses() {
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(0), 110);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(1), 80);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(2), 50);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(3), 130);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(4), 150);
    QCOMPARE(ReadLiveOffData::pauseMilliseconds(7), 150);
  }

  // Every sequence of four of the window's playback controls, each carried
  // out as the window does it: none may keep the GUI thread waiting (a
  // watchdog ends the test if one does), a pause stops the records until
  // playback goes on, and the player can always be stopped.
  void noSequenceOfControlsBlocks() {
    enum Control { Play, Pause, StepForward, StepBackward, SeekForward, SeekBackward, Stop, kControls };
    const char* const names[kControls] = {"play", "pause", "step>", "step<", "seek>", "seek<", "stop"};
    const auto packets = capturePackets(65);
    std::mt19937 random(7);
    int sequences = 0;
    for (int code = 0; code < kControls * kControls * kControls * kControls; ++code) {
      ReadLiveOffData player;
      player.setPackets(packets);
      player.pauseOverrideMs = 1;
      PlayerSignals emitted(player);
      bool paused = false;
      QString sequence;
      for (int n = 0, c = code; n < 4; ++n, c /= kControls) {
        const Control control = static_cast<Control>(c % kControls);
        sequence += QString(names[control]) + " ";
        Watchdog watchdog(sequence);
        switch (control) {
          case Play:
            if (!player.isRunning()) {
              player.direction = 1;
              player.stepRequest = 0;
              player.start();
            }
            player.giveGate();
            paused = false;
            break;
          case Pause:
            player.takeGate();
            paused = true;
            break;
          case StepForward:
          case StepBackward:
            player.direction = control == StepForward ? 1 : -1;
            player.stepRequest = 1;
            player.giveGate();
            paused = false;
            break;
          case SeekForward:
          case SeekBackward:
            player.direction = control == SeekForward ? 1 : -1;
            player.speedIndex = static_cast<int>(random() % 5);
            break;
          case Stop:
            player.stop();
            break;
          default:
            break;
        }
        if (paused) {
          // Nothing is emitted while the gate is held.
          const int before = emitted.emitted;
          std::this_thread::yield();
          QCoreApplication::processEvents();
          QCOMPARE(emitted.emitted.load(), before);
        }
        QCoreApplication::processEvents();
      }
      Watchdog watchdog(sequence + "and the final stop");
      player.stop();
      QVERIFY(!player.isRunning());
      ++sequences;
    }
    QCOMPARE(sequences, 7 * 7 * 7 * 7);
  }

 private:
  // Ends the test process with the sequence that blocked if a control keeps
  // the GUI thread longer than any decoding of one packet could.
  class Watchdog {
   public:
    explicit Watchdog(const QString& what) : what_(what.toStdString()) {
      thread_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_.wait_for(lock, std::chrono::seconds(20), [this] { return finished_; })) {
          std::fprintf(stderr, "the GUI thread was kept waiting by: %s\n", what_.c_str());
          std::abort();
        }
      });
    }
    ~Watchdog() {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
      }
      done_.notify_all();
      thread_.join();
    }

   private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
  };
};

QTEST_GUILESS_MAIN(CapturePlayerTest)
#include "test_capture_player.moc"
