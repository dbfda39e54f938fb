// The capture player: forward and backward play, the layout, the end of the
// capture, restarting, single steps, the pause at each speed step, and a
// watchdog over every sequence of the window's playback controls.
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "CaptureFrames.h"
#include "CapturePlayer.h"
#include "DataPacketDecoder.h"
#include "PlaybackControl.h"
#include "RecordMetaTypes.h"
#include "ScanPacketStream.h"

using namespace z540k;

namespace {

// `count` data packets of a turning sensor; by default 30 packets per
// revolution, each revolution starting at 0 degrees with the first block of
// a packet.
std::shared_ptr<DataPacketList> capturePackets(int count, Layout layout = Layout::Protocol17, bool dual = false,
                                               int firingsPerRevolution = 360, std::uint16_t startAzimuth = 0) {
  sim::ScanPattern pattern;
  pattern.layout = layout;
  pattern.dualReturn = dual;
  pattern.firingsPerRevolution = firingsPerRevolution;
  pattern.startAzimuth = startAzimuth;
  sim::ScanPacketStream stream(pattern);
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    const auto p = stream.next();
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  return std::make_shared<DataPacketList>(DataPacketList::fromBytes(std::move(bytes)));
}

// Packets of several sensor streams one after the other: revolutions of
// different lengths in one capture.
std::shared_ptr<DataPacketList> splicedPackets(const std::vector<std::pair<sim::ScanPattern, int>>& parts) {
  std::vector<std::uint8_t> bytes;
  for (const auto& [pattern, count] : parts) {
    sim::ScanPacketStream stream(pattern);
    for (int i = 0; i < count; ++i) {
      const auto p = stream.next();
      bytes.insert(bytes.end(), p.begin(), p.end());
    }
  }
  return std::make_shared<DataPacketList>(DataPacketList::fromBytes(std::move(bytes)));
}

// The records the live decoder emits for the packets, in order.
std::vector<LidarDataSingleLine> decoderRecords(const DataPacketList& packets, Layout layout, ReturnMode returnMode) {
  std::vector<LidarDataSingleLine> records;
  DataPacketDecoder decoder([&](const LidarDataSingleLine& r) { records.push_back(r); });
  decoder.setLayout(layout);
  decoder.setReturnMode(returnMode);
  std::vector<std::uint8_t> packet(kDataPacketSize);
  std::string error;
  for (std::size_t i = 0; i < packets.count(); ++i) {
    if (!packets.read(i, packet.data(), error)) qFatal("%s", error.c_str());
    decoder.decodeDataPacket(packet.data(), packet.size());
  }
  return records;
}

// The speed a seek button's icon shows: "Seekforward_0.5x.png" 0.5; without
// a factor, normal speed.
double speedOnButton(const std::string& icon) {
  const auto mark = icon.rfind('_');
  return mark == std::string::npos ? 1.0 : std::stod(icon.substr(mark + 1));
}

bool sameRecord(const LidarDataSingleLine& a, const LidarDataSingleLine& b) {
  return a.blockAzimuth == b.blockAzimuth && a.distance == b.distance && a.intensity == b.intensity &&
         a.azimuth == b.azimuth && a.timestamp == b.timestamp;
}

// What the window receives from the player, in arrival order: 'R' for a
// record, 'E' for the end. `emitted` counts records as the player emits them
// (on its own thread), so a test can tell what happened while it was paused.
struct PlayerSignals {
  QObject context;
  QString order;
  std::vector<LidarDataSingleLine> records;
  std::vector<int> frames;  // the number of each record
  std::atomic<int> emitted{0};

  explicit PlayerSignals(ReadLiveOffData& player) {
    QObject::connect(&player, &ReadLiveOffData::SendData, &context, [this](const LidarDataSingleLine& r) {
      records.push_back(r);
      order += 'R';
    });
    QObject::connect(&player, &ReadLiveOffData::SendBool, &context, [this](bool) { order += 'E'; });
    QObject::connect(&player, &ReadLiveOffData::SendFrame, &context,
                     [this](int frame, int) { frames.push_back(frame); });
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

  // Forwards: one record per revolution, exactly the live decoder's records
  // of the same packets (the first, partial one included, the unfinished one
  // at the end dropped); the end is signalled once, after the last record,
  // with each frame's number; the list is never replaced while the player
  // runs; played again it starts from the first frame.
  void forwardPlayToTheEnd() {
    const auto packets = capturePackets(95);
    const auto expected = decoderRecords(*packets, Layout::Protocol17, ReturnMode::Strongest);
    QCOMPARE(expected.size(), std::size_t(3));
    ReadLiveOffData player;
    QVERIFY(player.setPackets(packets));
    player.pauseOverrideMs = 0;
    PlayerSignals emitted(player);
    player.takeGate();
    player.start();
    QVERIFY(!player.setPackets(capturePackets(10)));  // refused while it runs, paused or not
    player.giveGate();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
    QVERIFY(player.wait(5000));
    QCOMPARE(emitted.order, QString("RRRE"));
    QCOMPARE(emitted.frames, (std::vector<int>{1, 2, 3}));
    for (std::size_t r = 0; r < expected.size(); ++r) QVERIFY(sameRecord(emitted.records[r], expected[r]));
    QCOMPARE(player.direction.load(), Direction::Forwards);
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 2, 10000);
    QCOMPARE(emitted.order, QString("RRRERRRE"));
    QVERIFY(sameRecord(emitted.records[3], expected[0]));
  }

  // Single steps forwards, then backwards over the whole capture: every
  // frame going back is the frame of that number going forwards, whole
  // revolutions only; past the first frame the capture ends and play turns
  // forwards again. A frame asked for by number is that frame.
  void backwardStepsShowTheForwardFrames() {
    const auto packets = capturePackets(125);
    const auto expected = decoderRecords(*packets, Layout::Protocol17, ReturnMode::Strongest);
    QCOMPARE(expected.size(), std::size_t(4));
    ReadLiveOffData player;
    QVERIFY(player.setPackets(packets));
    player.pauseOverrideMs = 0;
    PlayerSignals emitted(player);
    const auto step = [&](Direction direction, int frame) {
      const int before = emitted.emitted;
      player.direction = direction;
      player.stepRequest = 1;
      if (frame > 0) player.seekTo(frame);
      if (player.isRunning())
        player.giveGate();
      else
        player.start();
      QTRY_COMPARE_WITH_TIMEOUT(emitted.emitted.load(), before + 1, 10000);
      QTRY_VERIFY_WITH_TIMEOUT(!player.gateOpen(), 10000);  // waits behind the step
    };
    for (int k = 1; k <= 4; ++k) step(Direction::Forwards, 0);
    for (int k = 3; k >= 1; --k) step(Direction::Backwards, 0);
    step(Direction::Forwards, 4);
    step(Direction::Backwards, 2);
    QTRY_COMPARE_WITH_TIMEOUT(int(emitted.records.size()), 9, 10000);
    QCOMPARE(emitted.frames, (std::vector<int>{1, 2, 3, 4, 3, 2, 1, 4, 2}));
    for (std::size_t r = 0; r < emitted.records.size(); ++r)
      QVERIFY2(sameRecord(emitted.records[r], expected[emitted.frames[r] - 1]), qPrintable(QString::number(r)));
    player.direction = Direction::Backwards;
    player.giveGate();  // on backwards from frame 2: frame 1, then the end
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
    QCOMPARE(emitted.order.right(2), QString("RE"));
    QCOMPARE(player.direction.load(), Direction::Forwards);
  }

  // A capture of a sensor in the protocol 1.6 layout plays back in that
  // layout, and dual-return captures in the window's return mode, record for
  // record as the live decoder reads them.
  void layoutAndReturnModeAsChosen() {
    for (const bool dual : {false, true}) {
      const auto packets = capturePackets(70, dual ? Layout::Protocol17 : Layout::Protocol16, dual);
      const ReturnMode mode = dual ? ReturnMode::Dual : ReturnMode::Strongest;
      const auto expected = decoderRecords(*packets, dual ? Layout::Protocol17 : Layout::Protocol16, mode);
      QVERIFY(!expected.empty());
      ReadLiveOffData player;
      player.layout = dual ? Layout::Protocol17 : Layout::Protocol16;
      player.returnMode = mode;
      player.pauseOverrideMs = 0;
      QVERIFY(player.setPackets(packets));
      PlayerSignals emitted(player);
      player.start();
      QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
      QCOMPARE(emitted.records.size(), expected.size());
      for (std::size_t r = 0; r < expected.size(); ++r) QVERIFY(sameRecord(emitted.records[r], expected[r]));
    }
  }

  // Every frame, reached forwards, backwards or by a jump, is the record the
  // live decoder emits under that number, also when revolutions are too
  // short for what one hands on to the next to come from its own blocks,
  // and when the capture starts part way through a revolution.
  void framesAreTheDecodersRecordsHoweverReached() {
    // In the protocol 1.6 layout a revolution of 50 firings holds exactly the
    // 100 measurements a revolution hands on from, one of 49 fewer: after six
    // whole turns of 50, what a revolution of 49 receives comes from further
    // back.
    sim::ScanPattern of50, of49;
    of50.layout = of49.layout = Layout::Protocol16;
    of50.firingsPerRevolution = 50;
    of49.firingsPerRevolution = 49;
    const struct {
      Layout layout;
      bool dual;
      std::shared_ptr<DataPacketList> packets;
    } cases[] = {{Layout::Protocol17, false, capturePackets(210, Layout::Protocol17, false, 360, 33000)},
                 {Layout::Protocol16, false, capturePackets(35, Layout::Protocol16, false, 60, 33000)},
                 {Layout::Protocol16, false, splicedPackets({{of50, 25}, {of49, 30}})},
                 {Layout::Protocol17, true, capturePackets(420, Layout::Protocol17, true, 360, 33000)}};
    for (const auto& c : cases) {
      const auto& packets = c.packets;
      const ReturnMode mode = c.dual ? ReturnMode::DualSecond : ReturnMode::Strongest;
      const auto expected = decoderRecords(*packets, c.layout, mode);
      CaptureFrames frames(packets);
      frames.setLayout(c.layout);
      frames.setReturnMode(mode);
      const std::size_t n = expected.size();
      QCOMPARE(frames.frameTotal(), n);
      QVERIFY(n >= 6);
      std::vector<std::size_t> order;
      for (std::size_t k = 0; k < n; ++k) order.push_back(k);
      for (std::size_t k = n; k-- > 0;) order.push_back(k);
      for (std::size_t k : {n - 1, std::size_t(0), n / 2, std::size_t(1), n - 2, std::size_t(3)}) order.push_back(k);
      for (std::size_t k : order) {
        LidarDataSingleLine frame;
        QCOMPARE(frames.frame(k, frame, {}), CaptureFrames::Result::Frame);
        QVERIFY2(sameRecord(frame, expected[k]),
                 qPrintable(QString("layout %1, frame %2").arg(static_cast<int>(c.layout)).arg(k)));
      }
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

  // Play pressed while a single step's frame is still in its pause (the
  // window clears the step and opens the gate) is not lost: the gate is not
  // closed behind that step, and playback goes on to the end.
  void playDuringAStepsPauseGoesOn() {
    ReadLiveOffData player;
    QVERIFY(player.setPackets(capturePackets(185)));
    bool pressed = false;
    player.setPauseWait([&](int) {
      if (pressed) return;
      pressed = true;
      player.stepRequest = 0;
      player.giveGate();
    });
    PlayerSignals emitted(player);
    player.stepRequest = 1;
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
    QCOMPARE(emitted.order, QString(6, 'R') + 'E');
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

  // Each speed plays at its factor of the pace the capture was recorded at
  // (its time stamps), forwards and backwards, measured on a virtual clock
  // the pauses advance: decoding takes no time on it, and a pause rounded to
  // the millisecond is made up by the next.
  void speedsFollowTheCapturesTimeStamps() {
    const auto packets = capturePackets(1500);
    for (const bool backwards : {false, true})
      for (int speed = 0; speed < 5; ++speed) {
        ReadLiveOffData player;
        QVERIFY(player.setPackets(packets));
        std::atomic<std::int64_t> now{0};
        player.setClock([&] { return now.load(); });
        player.setPauseWait([&](int milliseconds) { now += std::int64_t(milliseconds) * 1000; });
        std::vector<std::pair<std::int64_t, std::uint64_t>> sent;  // host time, sensor time
        QObject context;
        QObject::connect(
            &player, &ReadLiveOffData::SendData, &context,
            [&](const LidarDataSingleLine& r) {
              sent.emplace_back(now.load(), *std::max_element(r.timestamp.begin(), r.timestamp.end()));
            },
            Qt::DirectConnection);
        PlayerSignals emitted(player);
        player.speedIndex = speed;
        if (backwards) {
          player.direction = Direction::Backwards;
          player.seekTo(1000);  // past the end: the last frame
        }
        player.start();
        QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 20000);
        QVERIFY(player.wait(5000));
        QVERIFY(sent.size() > 20);
        // From the second frame on (the first has no interval to go by).
        const double host = double(sent.back().first - sent[1].first);
        const double sensor = std::fabs(double(sent.back().second) - double(sent[1].second));
        const double factor = PlaybackPace::factor(speed);
        QVERIFY2(std::fabs(sensor / host / factor - 1) < 0.05,
                 qPrintable(QString("speed %1%2: %3 s of the capture in %4 s")
                                .arg(factor)
                                .arg(backwards ? " backwards" : "")
                                .arg(sensor / 1e6)
                                .arg(host / 1e6)));
        QCOMPARE(player.lateFrames(), std::uint64_t(0));
      }
  }

  // The pace alone: the pause before the next frame makes up for time spent
  // since; a host more than a second behind counts the frame late and goes
  // on from there; a gap in the capture is played as the interval before it;
  // the sensor's clock wraps once an hour.
  void paceLateGapsAndTheHourlyWrap() {
    PlaybackPace pace;
    const std::uint64_t hour = 3600ull * 1000000;
    QCOMPARE(pace.wait(hour - 100000, 0, 1), std::int64_t(-1));        // the first: no interval known
    QCOMPARE(pace.wait(hour - 50000, 70000, 1), std::int64_t(50000));  // counted from here
    QCOMPARE(pace.wait(0, 100000, 1), std::int64_t(-1));               // no time stamp: the fixed pause
    QCOMPARE(pace.wait(hour - 50000, 0, 1), std::int64_t(50000));      // the interval known before
    QCOMPARE(pace.wait(20000, 100000, 0.5), std::int64_t(140000));     // across the wrap, at 0.5x
    QCOMPARE(pace.wait(70000, 230000, 0.5), std::int64_t(70000));      // 30 ms spent decoding made up
    QCOMPARE(pace.wait(120000, 1500000, 0.5), std::int64_t(100000));   // late: counted, paced from here
    QCOMPARE(pace.lateFrames(), std::uint64_t(1));
    QCOMPARE(pace.wait(60000000, 1500000, 0.5), std::int64_t(100000));  // a gap: the last interval
  }

  // Each press of Seek forward while playing, carried out as the window does
  // (the control's speed copied to the player), sets the pause the player
  // waits after its next frame: a step shown faster (2x, 3x) waits less than
  // normal speed, one shown slower (0.5x, 0.25x) longer, in their order.
  void seekSpeedStepsSetThePauseBetweenFrames() {
    PlaybackControl control;
    control.load(6);
    control.play();
    ReadLiveOffData player;
    QVERIFY(player.setPackets(capturePackets(185)));
    std::vector<std::pair<double, int>> paces;  // the speed on the button, the pause waited
    player.setPauseWait([&](int milliseconds) {
      paces.emplace_back(speedOnButton(control.seekForwardIcon()), milliseconds);
      control.seekForward();
      player.speedIndex = control.speedIndex();
    });
    PlayerSignals emitted(player);
    player.start();
    QTRY_COMPARE_WITH_TIMEOUT(emitted.ends(), 1, 10000);
    QVERIFY(player.wait(5000));
    QCOMPARE(paces.size(), std::size_t(6));
    std::set<double> speeds;
    for (const auto& [speed, pause] : paces) {
      speeds.insert(speed);
      for (const auto& [otherSpeed, otherPause] : paces)
        QVERIFY2(
            speed < otherSpeed ? pause > otherPause : speed > otherSpeed || pause == otherPause,
            qPrintable(QString("%1x waits %2 ms, %3x %4 ms").arg(speed).arg(pause).arg(otherSpeed).arg(otherPause)));
    }
    QCOMPARE(speeds.size(), std::size_t(5));
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
              player.direction = Direction::Forwards;
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
            player.direction = control == StepForward ? Direction::Forwards : Direction::Backwards;
            player.stepRequest = 1;
            player.giveGate();
            paused = false;
            break;
          case SeekForward:
          case SeekBackward:
            player.direction = control == SeekForward ? Direction::Forwards : Direction::Backwards;
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
    }
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
