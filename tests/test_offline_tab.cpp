// The main window's Offline tab: opening captures (figures, refusals, damage),
// playback to the end and again, pause and single steps, the seek speeds and
// their icons, a second capture, and recording the simulated sensor's traffic
// on loopback.
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <vector>

#include "CaptureFile.h"
#include "CapturePlayer.h"
#include "CaptureRecorder.h"
#include "FileDialogs.h"
#include "LiveDataReceiver.h"
#include "LoopbackTestSupport.h"
#include "MessageRecorder.h"
#include "PointCloudView.h"
#include "ProcessTestSupport.h"
#include "RecordMetaTypes.h"
#include "SimulatorTestSupport.h"
#include "UdpSocket.h"
#include "manwindow.h"

using namespace z540k;
using namespace z540k::test;

namespace {

constexpr int kLong = 20000;  // generous: waits end on the event, not on the time

// A capture of the simulated room written by the simulator: `count` data
// packets (status packets between them), 10 packets a turn (36 degrees
// apart), or 20 with both returns (18 degrees apart).
QString writeCapture(const QTemporaryDir& dir, const QString& name, int count, bool dualReturn = false) {
  const QString path = dir.filePath(name);
  std::vector<std::string> args = {Z540K_SIM_PATH, "--quiet", "--count", std::to_string(count), "--layout", "1.7",
                                   "--write-pcap", path.toStdString()};
  if (dualReturn) args.push_back("--dual-return");
  Process sim(args);
  if (sim.wait() != 0) qFatal("the simulator could not write %s", qPrintable(path));
  return path;
}

// Whole revolutions the player emits from such a capture: every turn that
// begins before the last packet (the turn under way at the end is dropped).
int revolutionsOf(int count, int packetsPerTurn) { return (count - 1) / packetsPerTurn; }

bool showsImage(const QIcon& icon, const char* name) {
  const QImage expected = QIcon(QString(":/image/Resources/images/") + name).pixmap(32, 32).toImage();
  return !expected.isNull() && icon.pixmap(32, 32).toImage() == expected;
}

// Answers the window's file dialogs with `answer`, remembering what was asked.
struct FileAnswers {
  struct Asked {
    FileDialogKind kind;
    QString caption, proposed, filter;
  };
  QString answer;
  std::vector<Asked> asked;
  FileDialogResponder previous;
  FileAnswers() {
    previous = setFileDialogResponder([this](FileDialogKind kind, const QString& caption, const QString& proposed,
                                             const QString& filter) {
      asked.push_back({kind, caption, proposed, filter});
      return answer;
    });
  }
  ~FileAnswers() { setFileDialogResponder(previous); }
};

// What the player emits: counted on its own thread (so nothing emitted while
// paused escapes the count), and as the window receives it.
struct PlayerWatch {
  QObject context;
  std::atomic<int> emitted{0};
  std::vector<LidarDataSingleLine> records;
  int ends = 0;
  explicit PlayerWatch(ReadLiveOffData& player) {
    QObject::connect(&player, &ReadLiveOffData::SendData, &context, [this](const LidarDataSingleLine&) { ++emitted; },
                     Qt::DirectConnection);
    QObject::connect(&player, &ReadLiveOffData::SendData, &context,
                     [this](const LidarDataSingleLine& r) { records.push_back(r); });
    QObject::connect(&player, &ReadLiveOffData::SendBool, &context, [this](bool) { ++ends; });
  }
};

// The Offline tab's controls of one window.
struct Tab {
  manwindow& w;
  FileAnswers files;
  QToolButton *record, *open, *play, *forward, *backward, *toStart, *toEnd;
  QSpinBox* frame;
  QSlider* slider;

  explicit Tab(manwindow& window) : w(window) {
    record = button("toolButton_SavePcapData");
    open = button("toolButton_Open");
    play = button("toolButton_Play");
    forward = button("toolButton_SeekForward");
    backward = button("toolButton_SeekBackward");
    toStart = button("toolButton_GoToStart");
    toEnd = button("toolButton_GoToEnd");
    frame = w.findChild<QSpinBox*>("Spbox_Frame");
    slider = w.findChild<QSlider*>("Slider_Frame");
    if (!frame || !slider) qFatal("no frame counter");
  }
  QToolButton* button(const char* name) {
    auto* b = w.findChild<QToolButton*>(name);
    if (!b) qFatal("no button %s", name);
    return b;
  }
  void openFile(const QString& path) {
    files.answer = path;
    open->click();
  }
  // The figures of the capture the window holds.
  bool holds(std::size_t packets, int perFrame, int total, int remainder) const {
    return w.loadedPacketCount() == packets && w.currentPacketsPerFrame() == perFrame &&
           w.currentFrameTotal() == total && w.currentFrameRemainder() == remainder &&
           frame->maximum() == total && slider->maximum() == total && frame->minimum() == 0 && slider->minimum() == 0;
  }
};

}  // namespace

class OfflineTabTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

 private slots:
  void initTestCase() {
    registerRecordMetaTypes();
    QVERIFY(dir_.isValid());
  }

  // Open: the figures of the capture and the controls; a file that is no
  // capture, or one without data packets, is refused in an "error" box and
  // the capture loaded before stays; a damaged one keeps what precedes the
  // damage, with a warning.
  void openFiguresRefusalsAndDamage() {
    const QString capture = writeCapture(dir_, "open.pcap", 95);
    MessageRecorder messages;
    manwindow w;
    Tab tab(w);

    tab.files.answer.clear();  // cancelled: nothing happens
    tab.open->click();
    QCOMPARE(w.loadedPacketCount(), std::size_t(0));
    QVERIFY(!tab.play->isEnabled());

    tab.openFile(capture);
    QCOMPARE(tab.files.asked.back().kind, FileDialogKind::Open);
    QCOMPARE(tab.files.asked.back().caption, QString("WireSharkCaptureFile"));
    QCOMPARE(tab.files.asked.back().filter, QString("Supported Files (*.pcap)"));
    QVERIFY(messages.messages.empty());
    // Packets 36 degrees apart: 360 / 36 + 8 = 18 a frame; 95 = 5 * 18 + 5.
    QVERIFY(tab.holds(95, 18, 6, 5));
    for (QWidget* c : {static_cast<QWidget*>(tab.play), static_cast<QWidget*>(tab.toEnd),
                       static_cast<QWidget*>(tab.toStart), static_cast<QWidget*>(tab.backward),
                       static_cast<QWidget*>(tab.forward), static_cast<QWidget*>(tab.frame),
                       static_cast<QWidget*>(tab.slider)})
      QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));
    QVERIFY(w.isPlayPaused());
    QCOMPARE(tab.frame->value(), 0);

    // Not a capture.
    const QString text = dir_.filePath("notes.pcap");
    QFile notes(text);
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("these are notes, not packets\n") > 0);
    notes.close();
    // Only status packets (1206 bytes, A5 FF 00 5A ...) on the status port.
    const QString statusOnly = dir_.filePath("status-only.pcap");
    {
      CaptureWriter writer;
      QVERIFY(writer.open(statusOnly.toStdString()));
      std::vector<std::uint8_t> status(1206, 0);
      const std::uint8_t header[] = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55};
      std::copy(std::begin(header), std::end(header), status.begin());
      for (int i = 0; i < 5; ++i)
        QVERIFY(writer.write(status.data(), status.size(), 0x7F000002, 2368, 0x7F000001, 2369, 1700000000 + i, 0));
      QVERIFY(writer.close());
    }
    for (const QString& bad : {text, statusOnly}) {
      messages.messages.clear();
      tab.openFile(bad);
      QCOMPARE(int(messages.messages.size()), 1);
      QCOMPARE(messages.last().title, QString("error"));
      QVERIFY2(messages.last().text.contains(bad), qPrintable(messages.last().text));
      QVERIFY(tab.holds(95, 18, 6, 5));
      QVERIFY(tab.play->isEnabled() && tab.frame->isEnabled());
    }

    // Cut inside the last record, a data packet: the 94 before it load.
    const QString damaged = dir_.filePath("damaged.pcap");
    QVERIFY(QFile::copy(capture, damaged));
    QVERIFY(QFile::resize(damaged, QFileInfo(capture).size() - 100));
    messages.messages.clear();
    tab.openFile(damaged);
    QCOMPARE(int(messages.messages.size()), 1);
    QCOMPARE(messages.last().title, QString("Warning"));
    QVERIFY(tab.holds(94, 18, 6, 4));
  }

  // Play to the end: the end arrives after the last record and leaves the
  // window paused at frame 0 with Open and the steps usable again, speed and
  // seek icons back to normal; Play again restarts from the first packet.
  void playToTheEndAndAgain() {
    const QString capture = writeCapture(dir_, "end.pcap", 95);
    MessageRecorder messages;
    manwindow w;
    Tab tab(w);
    PlayerWatch watch(w.player());
    w.player().pauseOverrideMs = 0;
    tab.openFile(capture);

    tab.play->click();
    QVERIFY(showsImage(tab.play->icon(), "Pause.png"));
    QVERIFY(!w.isPlayPaused());
    QVERIFY(!tab.open->isEnabled() && !tab.toEnd->isEnabled() && !tab.toStart->isEnabled());
    tab.forward->click();  // 2x; the end puts it back to normal
    QTRY_VERIFY_WITH_TIMEOUT(w.isPlayerFinished(), kLong);
    const int revolutions = revolutionsOf(95, 10);
    QCOMPARE(int(watch.records.size()), revolutions);
    QCOMPARE(watch.ends, 1);
    QVERIFY(w.isPlayPaused());
    QCOMPARE(w.currentFrameIndex(), 0);
    QCOMPARE(tab.frame->value(), 0);
    QVERIFY(tab.open->isEnabled() && tab.toEnd->isEnabled() && tab.toStart->isEnabled());
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));
    QVERIFY(showsImage(tab.forward->icon(), "Seekforward.png"));
    QCOMPARE(w.currentSpeedIndex(), 0);
    QCOMPARE(w.latestFrame().timestamp, watch.records.back().timestamp);

    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(watch.ends, 2, kLong);
    QCOMPARE(int(watch.records.size()), 2 * revolutions);
    for (int i = 0; i < revolutions; ++i)
      QVERIFY2(watch.records[revolutions + i].timestamp == watch.records[i].timestamp, qPrintable(QString::number(i)));
    QVERIFY(w.isPlayerFinished());
    QCOMPARE(w.currentFrameIndex(), 0);
    QVERIFY(messages.messages.empty());
  }

  // Pause holds the player (nothing is emitted while paused); each single
  // step plays exactly one more revolution and moves the frame counter by
  // one; Play resumes to the end.
  void pauseResumeAndSingleSteps() {
    const QString capture = writeCapture(dir_, "steps.pcap", 95);
    manwindow w;
    Tab tab(w);
    PlayerWatch watch(w.player());
    tab.openFile(capture);

    tab.toEnd->click();  // loaded, never played: no frame to step from
    QCOMPARE(w.currentFrameIndex(), 0);
    QVERIFY(!w.player().isRunning());

    // The pause after a revolution outlasts the test: the player emits one
    // and waits.
    w.player().pauseOverrideMs = 600000;
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.currentFrameIndex(), 1, kLong);
    tab.play->click();  // pause
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));
    QVERIFY(w.isPlayPaused());
    QVERIFY(tab.toEnd->isEnabled() && tab.toStart->isEnabled());
    QVERIFY(!tab.open->isEnabled());  // a paused capture is not let go by opening another
    QVERIFY(!w.player().gateOpen());
    QCOMPARE(watch.emitted.load(), 1);

    w.player().pauseOverrideMs = 0;
    const struct {
      QToolButton* button;
      int frame;
      int direction;
    } steps[] = {{tab.toEnd, 2, 1}, {tab.toEnd, 3, 1}, {tab.toStart, 2, -1}};
    int emitted = 1;
    for (const auto& step : steps) {
      step.button->click();
      // The player closes the gate behind the step's revolution (the click
      // opened it).
      QTRY_VERIFY_WITH_TIMEOUT(!w.player().gateOpen(), kLong);
      QCOMPARE(watch.emitted.load(), ++emitted);
      QTRY_COMPARE_WITH_TIMEOUT(w.currentFrameIndex(), step.frame, kLong);
      QCOMPARE(tab.frame->value(), step.frame);
      QCOMPARE(w.player().direction.load(), step.direction);
      QVERIFY(w.isPlayPaused());
    }
    QVERIFY(showsImage(tab.backward->icon(), "Seekbackward.png"));

    tab.play->click();  // resume, forwards
    QVERIFY(showsImage(tab.play->icon(), "Pause.png"));
    QCOMPARE(w.player().direction.load(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(w.isPlayerFinished(), kLong);
    QVERIFY(watch.emitted > emitted);
    QCOMPARE(int(watch.records.size()), watch.emitted.load());
  }

  // Each press of Seek forward while playing steps the speed (2x, 3x, 0.5x,
  // 0.25x, normal) with its icon; Seek backward first turns the play round at
  // normal speed, then steps likewise; played back to the first packet, the
  // capture ends and turns forwards again.
  void seekSpeedsAndIcons() {
    const QString capture = writeCapture(dir_, "seek.pcap", 95);
    manwindow w;
    Tab tab(w);
    tab.openFile(capture);
    // Two revolutions: one played, one stepped (the backward speeds need a
    // frame counter of 2 or more); then playing, waiting in the long pause
    // after the third.
    w.player().pauseOverrideMs = 600000;
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.currentFrameIndex(), 1, kLong);
    tab.play->click();
    w.player().pauseOverrideMs = 0;
    tab.toEnd->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.player().gateOpen() && w.currentFrameIndex() == 2, kLong);
    w.player().pauseOverrideMs = 600000;
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.currentFrameIndex(), 3, kLong);

    const struct {
      const char* icon;
      int speed;
    } forward[] = {{"Seekforward_2x.png", 1},   {"Seekforward_3x.png", 2},   {"Seekforward_0.5x.png", 3},
                   {"Seekforward_0.25x.png", 4}, {"Seekforward.png", 0}},
      backward[] = {{"Seekbackward.png", 0},      {"Seekbackward_2x.png", 1},   {"Seekbackward_3x.png", 2},
                    {"Seekbackward_0.5x.png", 3}, {"Seekbackward_0.25x.png", 4}, {"Seekbackward.png", 0}};
    for (const auto& press : forward) {
      tab.forward->click();
      QVERIFY2(showsImage(tab.forward->icon(), press.icon), press.icon);
      QCOMPARE(w.currentSpeedIndex(), press.speed);
      QCOMPARE(w.player().direction.load(), 1);
      QVERIFY(showsImage(tab.backward->icon(), "Seekbackward.png"));
    }
    for (const auto& press : backward) {
      tab.backward->click();
      QVERIFY2(showsImage(tab.backward->icon(), press.icon), press.icon);
      QCOMPARE(w.currentSpeedIndex(), press.speed);
      QCOMPARE(w.player().direction.load(), -1);
      QVERIFY(showsImage(tab.forward->icon(), "Seekforward.png"));
    }
    tab.backward->click();  // 2x backwards; then forwards again at normal speed
    tab.forward->click();
    QVERIFY(showsImage(tab.forward->icon(), "Seekforward.png"));
    QVERIFY(showsImage(tab.backward->icon(), "Seekbackward.png"));
    QCOMPARE(w.currentSpeedIndex(), 0);
    QCOMPARE(w.player().direction.load(), 1);
    tab.backward->click();
    QCOMPARE(w.player().direction.load(), -1);
    tab.backward->click();
    QVERIFY(showsImage(tab.backward->icon(), "Seekbackward_2x.png"));

    // Backwards to the first packet: cut the long pause short.
    w.player().pauseOverrideMs = 0;
    w.player().takeGate();
    w.player().giveGate();
    QTRY_VERIFY_WITH_TIMEOUT(w.isPlayerFinished(), kLong);
    QCOMPARE(w.player().direction.load(), 1);
    QCOMPARE(w.currentFrameIndex(), 0);
    QCOMPARE(w.currentSpeedIndex(), 0);
    QVERIFY(showsImage(tab.backward->icon(), "Seekbackward.png"));
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));
    QVERIFY(tab.open->isEnabled());
  }

  // A second capture: opened while the first waits loaded, and after the
  // first played to its end, with Pause pressed just as that end came; the
  // second then plays whole.
  void secondCaptureWhilePausedAndAfterPlaying() {
    const QString first = writeCapture(dir_, "first.pcap", 95);
    const QString second = writeCapture(dir_, "second.pcap", 250, true);
    MessageRecorder messages;
    manwindow w;
    Tab tab(w);
    PlayerWatch watch(w.player());
    w.player().pauseOverrideMs = 0;

    tab.openFile(first);
    tab.openFile(second);
    // 18-degree steps: 360 / 18 + 8 = 28 a frame; 250 = 8 * 28 + 26.
    QVERIFY(tab.holds(250, 28, 9, 26));

    tab.play->click();
    w.player().wait();  // the capture has ended; the window has not heard yet
    tab.play->click();  // Pause, just too late
    QTRY_VERIFY_WITH_TIMEOUT(w.isPlayerFinished(), kLong);
    QCOMPARE(int(watch.records.size()), revolutionsOf(250, 20));
    QVERIFY(tab.open->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(w.cloudView().cloudCount() > 0, kLong);

    tab.openFile(first);
    QVERIFY(tab.holds(95, 18, 6, 5));
    QCOMPARE(w.cloudView().cloudCount(), std::size_t(0));  // the played capture's picture goes
    QVERIFY(!w.isPlayerFinished() && w.isPlayPaused());
    QCOMPARE(w.currentFrameIndex(), 0);
    watch.records.clear();
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(watch.ends, 2, kLong);
    QCOMPARE(int(watch.records.size()), revolutionsOf(95, 10));
    QVERIFY(w.isPlayerFinished());
    QVERIFY(messages.messages.empty());
  }

  // Record starts only with running receivers; then it records the data
  // port's traffic on loopback. A recording that cannot write its file is
  // reported; the stop works with the receivers stopped and needs no further
  // packet; the recorded capture opens whole and plays. Stopping "Lidar"
  // while it plays stops the player, and live data shows again when "Lidar"
  // is pressed once more.
  void recordThenOpenTheRecording() {
    qputenv("Z540K_CAPTURE_DEVICE", "lo");
    SimulatedSensorFeed sensor(120);
    Process& sim = sensor.sim;
    MessageRecorder messages;
    manwindow w(sensor.options());
    Tab tab(w);
    auto* lidar = tab.button("toolButton_Lidar");

    tab.record->click();
    QCOMPARE(messages.last().title, QString("提示"));
    QCOMPARE(messages.last().text, QString("请先连接雷达！"));
    QVERIFY(!w.isRecording() && !tab.record->isChecked());
    QVERIFY(tab.files.asked.empty());

    lidar->click();
    QVERIFY(w.isLiveRunning());
    QTRY_VERIFY_WITH_TIMEOUT(w.framesDrawn() >= 1, kLong);

    // A file that cannot be written ends the recording, and the operator
    // hears of it.
    messages.messages.clear();
    tab.files.answer = dir_.filePath("no-such-folder/x.pcap");
    tab.record->click();
    QTRY_VERIFY_WITH_TIMEOUT(!messages.messages.empty(), kLong);
    QCOMPARE(messages.last().title, QString("error"));
    QVERIFY(!w.isRecording() && !tab.record->isChecked());

    const QString recorded = dir_.filePath("recorded.pcap");
    tab.files.answer = recorded;
    messages.messages.clear();
    tab.record->click();
    QCOMPARE(tab.files.asked.back().kind, FileDialogKind::Save);
    QCOMPARE(tab.files.asked.back().caption, QString("Save PCAP"));
    QCOMPARE(tab.files.asked.back().filter, QString("WireSharkCaptureFile (*.pcap)"));
    QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d-\\d\\d-\\d\\d\\.pcap$")
                .match(tab.files.asked.back().proposed)
                .hasMatch());
    const CaptureRecorder* recorder = w.captureRecorder();
    QVERIFY(recorder);
    QTRY_VERIFY_WITH_TIMEOUT(recorder->isCapturing() || !recorder->isRunning(), kLong);
    if (!recorder->isCapturing() || !w.isRecording())
      QSKIP(qPrintable("cannot capture on lo here: " + QString::fromStdString(recorder->error())));
    QVERIFY(w.isRecording() && tab.record->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(recorder->packetsWritten() >= 40, kLong);

    // The sensor falls silent and "Lidar" is stopped: the recording still
    // stops, without waiting for another packet.
    sim.signal(SIGSTOP);
    QTRY_VERIFY_WITH_TIMEOUT(sim.stopped(), kLong);
    lidar->click();
    QVERIFY(!w.isLiveRunning() && w.isRecording());
    tab.record->click();
    QVERIFY(!recorder->isRunning());
    QVERIFY(!w.isRecording() && !tab.record->isChecked());
    QCOMPARE(int(messages.messages.size()), 1);
    QCOMPARE(messages.last().title, QString("提示"));
    QCOMPARE(messages.last().text, QString("录制pcap文件完成！"));
    QCOMPARE(recorder->packetsDropped(), std::uint64_t(0));
    sim.signal(SIGCONT);

    // Every packet of the recording is in the file.
    messages.messages.clear();
    tab.openFile(recorded);
    QVERIFY(messages.messages.empty());
    QCOMPARE(std::uint64_t(w.loadedPacketCount()), recorder->packetsWritten());

    lidar->click();
    w.player().pauseOverrideMs = 600000;
    tab.play->click();
    QVERIFY(w.liveReceiver().paused);  // live data is set aside while a capture plays
    QTRY_VERIFY_WITH_TIMEOUT(w.currentFrameIndex() >= 1, kLong);
    lidar->click();
    QVERIFY(!w.isLiveRunning());
    QVERIFY(!w.player().isRunning());
    QVERIFY(w.isPlayPaused());
    QVERIFY(tab.open->isEnabled() && tab.toEnd->isEnabled() && tab.toStart->isEnabled());
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));

    lidar->click();
    QVERIFY(!w.liveReceiver().paused);
    const quint64 drawn = w.framesDrawn();
    QTRY_VERIFY_WITH_TIMEOUT(w.framesDrawn() >= drawn + 2, kLong);
    QVERIFY(messages.messages.empty());
  }
};

int main(int argc, char** argv) {
  PointCloudView::prepareSurfaceFormat();
  QApplication app(argc, argv);
  OfflineTabTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_offline_tab.moc"
