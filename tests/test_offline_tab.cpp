// The main window's Offline tab: opening captures (figures, refusals, damage),
// playback to the end and again, pause and single steps, the seek speeds and
// their icons, a second capture, recording the simulated sensor's traffic on
// loopback, and the signals that end the program while it records and exports.
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <memory>
#include <vector>

#include "CaptureFile.h"
#include "CaptureMergeSupport.h"
#include "CapturePlayer.h"
#include "CaptureRecorder.h"
#include "CsvExport.h"
#include "FileDialogs.h"
#include "LiveDataReceiver.h"
#include "LoopbackTestSupport.h"
#include "MessageRecorder.h"
#include "PointCloudView.h"
#include "ProcessTestSupport.h"
#include "RecordMetaTypes.h"
#include "SaveDataOptions.h"
#include "SimulatorTestSupport.h"
#include "UdpSocket.h"
#include "WindowTestSupport.h"
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
  std::vector<std::string> args = {Z540K_SIM_PATH, "--quiet", "--count",      std::to_string(count),
                                   "--layout",     "1.7",     "--write-pcap", path.toStdString()};
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
    previous = setFileDialogResponder(
        [this](FileDialogKind kind, const QString& caption, const QString& proposed, const QString& filter) {
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
    QObject::connect(
        &player, &ReadLiveOffData::SendData, &context, [this](const LidarDataSingleLine&) { ++emitted; },
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
  // Opens `path` and waits until the load (on its worker thread) has ended.
  void openFile(const QString& path) {
    files.answer = path;
    open->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.isLoadingCapture(), kLong);
  }
  // The figures of the capture the window holds.
  bool holds(std::size_t packets, int total) const {
    return w.loadedPacketCount() == packets && w.playback().frameTotal() == total && frame->maximum() == total &&
           slider->maximum() == total && frame->minimum() == 0 && slider->minimum() == 0;
  }
};

// A window on held loopback ports with "Lidar" pressed (an export needs the
// receivers running) and playback without its pauses: where a capture is
// played into an export.
struct ExportingWindow {
  HeldUdpPort data, status;
  MessageRecorder messages;
  manwindow w{loopbackWindowOptions(data.port(), status.port())};
  Tab tab{w};
  ExportingWindow() {
    tab.button("toolButton_Lidar")->click();
    w.player().pauseOverrideMs = 0;
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
    QCOMPARE(tab.files.asked.back().filter, QString("Supported Files (*.pcap *.pcapng)"));
    QVERIFY(messages.messages.empty());
    // Packets 36 degrees apart: a revolution closes at packets 10, 20 ... 90.
    QVERIFY(tab.holds(95, 9));
    for (QWidget* c :
         {static_cast<QWidget*>(tab.play), static_cast<QWidget*>(tab.toEnd), static_cast<QWidget*>(tab.toStart),
          static_cast<QWidget*>(tab.backward), static_cast<QWidget*>(tab.forward), static_cast<QWidget*>(tab.frame),
          static_cast<QWidget*>(tab.slider)})
      QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));
    QVERIFY(w.playback().paused());
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
      QVERIFY(tab.holds(95, 9));
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
    QVERIFY(tab.holds(94, 9));
  }

  // The capture is read on a worker thread: Open returns at once, Open and
  // the playback controls wait for the load, and the completion takes the
  // packets. A window destroyed while it loads cancels the load and waits.
  void loadOffTheGuiThread() {
    const QString capture = writeCapture(dir_, "worker.pcap", 95);
    MessageRecorder messages;
    {
      manwindow w;
      Tab tab(w);
      tab.openFile(capture);
      QSignalSpy loaded(&w, &manwindow::captureLoadFinished);
      tab.files.answer = capture;
      tab.open->click();
      QVERIFY(w.isLoadingCapture() && !tab.open->isEnabled() && !tab.play->isEnabled() && !tab.frame->isEnabled());
      QVERIFY(loaded.wait(kLong));
      QVERIFY(!w.isLoadingCapture() && tab.holds(95, 9) && tab.open->isEnabled() && tab.play->isEnabled());
      tab.open->click();
    }  // destroyed while the second load reads
    QVERIFY(messages.messages.empty());
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
    QVERIFY(!w.playback().paused());
    QVERIFY(!tab.open->isEnabled() && !tab.toEnd->isEnabled() && !tab.toStart->isEnabled());
    tab.forward->click();  // 2x; the end puts it back to normal
    QTRY_VERIFY_WITH_TIMEOUT(w.playback().endReached(), kLong);
    const int revolutions = revolutionsOf(95, 10);
    QCOMPARE(int(watch.records.size()), revolutions);
    QCOMPARE(watch.ends, 1);
    QVERIFY(w.playback().paused());
    QCOMPARE(w.playback().frame(), 0);
    QCOMPARE(tab.frame->value(), 0);
    QVERIFY(tab.open->isEnabled() && tab.toEnd->isEnabled() && tab.toStart->isEnabled());
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));
    QVERIFY(showsImage(tab.forward->icon(), "Seekforward.png"));
    QCOMPARE(w.playback().speedIndex(), 0);
    QCOMPARE(w.frameDisplay().latest().timestamp, watch.records.back().timestamp);

    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(watch.ends, 2, kLong);
    QCOMPARE(int(watch.records.size()), 2 * revolutions);
    for (int i = 0; i < revolutions; ++i)
      QVERIFY2(watch.records[revolutions + i].timestamp == watch.records[i].timestamp, qPrintable(QString::number(i)));
    QVERIFY(w.playback().endReached());
    QCOMPARE(w.playback().frame(), 0);
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
    QCOMPARE(w.playback().frame(), 0);
    QVERIFY(!w.player().isRunning());

    // The pause after a revolution outlasts the test: the player emits one
    // and waits.
    w.player().pauseOverrideMs = 600000;
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), 1, kLong);
    tab.play->click();  // pause
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));
    QVERIFY(w.playback().paused());
    QVERIFY(tab.toEnd->isEnabled() && tab.toStart->isEnabled());
    QVERIFY(!tab.open->isEnabled());  // a paused capture is not let go by opening another
    QVERIFY(!w.player().gateOpen());
    QCOMPARE(watch.emitted.load(), 1);
    const QString total = QString::number(w.playback().frameTotal());
    QVERIFY2(w.statusLine().startsWith("Paused at frame 1 of " + total), qPrintable(w.statusLine()));

    w.player().pauseOverrideMs = 0;
    const struct {
      QToolButton* button;
      int frame;
      Direction direction;
    } steps[] = {{tab.toEnd, 2, Direction::Forwards},
                 {tab.toEnd, 3, Direction::Forwards},
                 {tab.toStart, 2, Direction::Backwards}};
    int emitted = 1;
    for (const auto& step : steps) {
      step.button->click();
      // The player closes the gate behind the step's revolution (the click
      // opened it).
      QTRY_VERIFY_WITH_TIMEOUT(!w.player().gateOpen(), kLong);
      QCOMPARE(watch.emitted.load(), ++emitted);
      QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), step.frame, kLong);
      QCOMPARE(tab.frame->value(), step.frame);
      QCOMPARE(w.player().direction.load(), step.direction);
      QVERIFY(w.playback().paused());
    }
    QVERIFY(showsImage(tab.backward->icon(), "Seekbackward.png"));

    tab.play->click();  // resume, forwards
    QVERIFY(showsImage(tab.play->icon(), "Pause.png"));
    QCOMPARE(w.player().direction.load(), Direction::Forwards);
    QTRY_VERIFY_WITH_TIMEOUT(w.playback().endReached(), kLong);
    QVERIFY(watch.emitted > emitted);
    QCOMPARE(int(watch.records.size()), watch.emitted.load());
  }

  // The counter shows the capture's length as soon as it is open; Stop ends
  // playback at any moment, playing or paused, and lets live data and Open
  // back in; the next Play starts from the first frame.
  void counterAndStop() {
    const QString capture = writeCapture(dir_, "stop.pcap", 95);
    manwindow w;
    Tab tab(w);
    auto* stop = tab.button("toolButton_Stop");
    tab.openFile(capture);
    const int total = w.playback().frameTotal();
    QCOMPARE(tab.frame->text(), QString("0 / %1").arg(total));
    QVERIFY(!stop->isEnabled());
    w.player().pauseOverrideMs = 600000;
    for (const bool pauseFirst : {false, true}) {
      tab.play->click();
      QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), 1, kLong);
      QCOMPARE(tab.frame->text(), QString("1 / %1").arg(total));
      if (pauseFirst) tab.play->click();
      QVERIFY(stop->isEnabled() && !tab.open->isEnabled() && w.playback().holdsView());
      stop->click();
      QVERIFY(!w.player().isRunning() && !w.playback().holdsView());
      QVERIFY(tab.open->isEnabled() && tab.play->isEnabled() && !stop->isEnabled());
      QVERIFY(!w.liveReceiver().paused);
    }
    PlayerWatch watch(w.player());
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(watch.records.size(), std::size_t(1), kLong);
    QCOMPARE(w.playback().frame(), 1);
    tab.play->click();
  }

  // A capture file dropped onto the window opens as Open opens it; the keys
  // act through the buttons (Space play/pause, Right/Left single steps,
  // Home/End the first/last frame, Ctrl+O Open) and say so in the tooltips;
  // typed into a field they stay with the field.
  void dropAndKeys() {
    const QString capture = writeCapture(dir_, "keys.pcap", 95);
    manwindow w;
    Tab tab(w);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(capture)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    QTRY_VERIFY2_WITH_TIMEOUT(!w.isLoadingCapture() && w.loadedPacketCount() == 95, "the dropped file is not open",
                              kLong);
    const int total = w.playback().frameTotal();
    QVERIFY(tab.play->toolTip().endsWith("(Space)") && tab.toEnd->toolTip().endsWith("(Right)"));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    w.player().pauseOverrideMs = 600000;
    QTest::keyClick(&w, Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), 1, kLong);
    QTest::keyClick(&w, Qt::Key_Space);
    QVERIFY(w.playback().paused());
    w.player().pauseOverrideMs = 0;
    const struct {
      Qt::Key key;
      int frame;
    } steps[] = {{Qt::Key_Right, 2}, {Qt::Key_Right, 3}, {Qt::Key_Left, 2}, {Qt::Key_End, total}, {Qt::Key_Home, 1}};
    for (const auto& step : steps) {
      QTest::keyClick(&w, step.key);
      QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), step.frame, kLong);
      QVERIFY(w.playback().paused());
    }
    tab.frame->setFocus();
    QTest::keyClicks(tab.frame, " f");
    QTest::keyClick(tab.frame, Qt::Key_End);
    QVERIFY(w.playback().paused());
    QCOMPARE(w.playback().frame(), 1);

    tab.w.findChild<QToolButton*>("toolButton_Stop")->click();
    tab.files.answer = writeCapture(dir_, "keys2.pcap", 40);
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isLoadingCapture() && w.loadedPacketCount() == 40, kLong);
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
    QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), 1, kLong);
    tab.play->click();
    w.player().pauseOverrideMs = 0;
    tab.toEnd->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.player().gateOpen() && w.playback().frame() == 2, kLong);
    w.player().pauseOverrideMs = 600000;
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), 3, kLong);

    const struct {
      const char* icon;
      int speed;
    } forward[] = {{"Seekforward_2x.png", 1},
                   {"Seekforward_3x.png", 2},
                   {"Seekforward_0.5x.png", 3},
                   {"Seekforward_0.25x.png", 4},
                   {"Seekforward.png", 0}},
      backward[] = {{"Seekbackward.png", 0},      {"Seekbackward_2x.png", 1},    {"Seekbackward_3x.png", 2},
                    {"Seekbackward_0.5x.png", 3}, {"Seekbackward_0.25x.png", 4}, {"Seekbackward.png", 0}};
    for (const auto& press : forward) {
      tab.forward->click();
      QVERIFY2(showsImage(tab.forward->icon(), press.icon), press.icon);
      QCOMPARE(w.playback().speedIndex(), press.speed);
      QCOMPARE(w.player().direction.load(), Direction::Forwards);
      QVERIFY(showsImage(tab.backward->icon(), "Seekbackward.png"));
    }
    for (const auto& press : backward) {
      tab.backward->click();
      QVERIFY2(showsImage(tab.backward->icon(), press.icon), press.icon);
      QCOMPARE(w.playback().speedIndex(), press.speed);
      QCOMPARE(w.player().direction.load(), Direction::Backwards);
      QVERIFY(showsImage(tab.forward->icon(), "Seekforward.png"));
    }
    tab.backward->click();  // 2x backwards; then forwards again at normal speed
    tab.forward->click();
    QVERIFY(showsImage(tab.forward->icon(), "Seekforward.png"));
    QVERIFY(showsImage(tab.backward->icon(), "Seekbackward.png"));
    QCOMPARE(w.playback().speedIndex(), 0);
    QCOMPARE(w.player().direction.load(), Direction::Forwards);
    tab.backward->click();
    QCOMPARE(w.player().direction.load(), Direction::Backwards);
    tab.backward->click();
    QVERIFY(showsImage(tab.backward->icon(), "Seekbackward_2x.png"));

    // Backwards to the first packet: cut the long pause short.
    w.player().pauseOverrideMs = 0;
    w.player().takeGate();
    w.player().giveGate();
    QTRY_VERIFY_WITH_TIMEOUT(w.playback().endReached(), kLong);
    QCOMPARE(w.player().direction.load(), Direction::Forwards);
    QCOMPARE(w.playback().frame(), 0);
    QCOMPARE(w.playback().speedIndex(), 0);
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
    // 18-degree steps: a revolution closes at packets 20, 40 ... 240.
    QVERIFY(tab.holds(250, 12));

    tab.play->click();
    w.player().wait();  // the capture has ended; the window has not heard yet
    tab.play->click();  // Pause, just too late
    QTRY_VERIFY_WITH_TIMEOUT(w.playback().endReached(), kLong);
    QCOMPARE(int(watch.records.size()), 12);
    QVERIFY(tab.open->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(w.cloudView().cloudCount() > 0, kLong);

    tab.openFile(first);
    QVERIFY(tab.holds(95, 9));
    QCOMPARE(w.cloudView().cloudCount(), std::size_t(0));  // the played capture's picture goes
    QVERIFY(!w.playback().endReached() && w.playback().paused());
    QCOMPARE(w.playback().frame(), 0);
    watch.records.clear();
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(watch.ends, 2, kLong);
    QCOMPARE(int(watch.records.size()), revolutionsOf(95, 10));
    QVERIFY(w.playback().endReached());
    QVERIFY(messages.messages.empty());
  }

  // Playback decodes as the live view and export-csv do: for single and
  // dual return (recognised from the data), both layouts, a slow and a fast
  // motor, the window's
  // frame-by-frame CSV of a capture is export-csv's file byte for byte, and
  // its frame total is the number of frames export-csv writes. A frame chosen
  // on the spin box, and the one stepped back to from it, are the frames
  // forward play showed under those numbers.
  void playbackCsvEqualsExportCsv() {
    ExportingWindow window;
    manwindow& w = window.w;
    Tab& tab = window.tab;
    PlayerWatch watch(w.player());
    const struct {
      const char* layout;
      bool dual;
      const char* rpm;
    } cases[] = {{"1.7", false, "300"}, {"1.6", false, "1200"}, {"1.7", true, "1200"}, {"1.6", true, "300"}};
    for (const auto& c : cases) {
      const QString name = QString("%1-%2-%3").arg(c.layout, c.dual ? "dual" : "single", c.rpm);
      const QString capture = dir_.filePath(name + ".pcap");
      // About a hundred packets a turn in the protocol 1.6 layout, ten (or
      // twenty with both returns) in the 1.7 layout.
      const bool longTurns = QString(c.layout) == "1.6" && !c.dual;
      std::vector<std::string> sim = {
          Z540K_SIM_PATH, "--quiet", "--count",      longTurns ? "450" : "150", "--layout", c.layout,
          "--rpm",        c.rpm,     "--write-pcap", capture.toStdString()};
      if (c.dual) sim.push_back("--dual-return");
      QCOMPARE(Process(sim).wait(), 0);
      const QString byTool = dir_.filePath(name + "-tool.csv"), byWindow = dir_.filePath(name + "-window.csv");
      QCOMPARE(Process({Z540K_TOOL_PATH, "export-csv", capture.toStdString(), byTool.toStdString(), "--layout",
                        c.layout, "--return-mode", c.dual ? "1" : "0"})
                   .wait(),
               0);

      // The return mode is not chosen: the window takes it from the data.
      w.findChild<QComboBox*>("comboBox_agree")->setCurrentIndex(QString(c.layout) == "1.6" ? 0 : 1);
      tab.openFile(capture);
      const int total = w.playback().frameTotal();
      QVERIFY2(total >= 3, qPrintable(name));
      QFile toolFile(byTool);
      QVERIFY(toolFile.open(QIODevice::ReadOnly));
      const QByteArray expected = toolFile.readAll();
      QVERIFY(expected.endsWith('\n'));
      const QByteArray lastLine = expected.left(expected.size() - 1).mid(expected.lastIndexOf('\n', -2) + 1);
      QCOMPARE(lastLine.left(lastLine.indexOf(',')).toInt(), total);

      tab.files.answer = byWindow;
      startExport(w, QString::number(total), "0", "360");
      QVERIFY(w.csvExport().active());
      watch.records.clear();
      tab.play->click();
      QTRY_VERIFY_WITH_TIMEOUT(w.playback().endReached() && !w.csvExport().active(), kLong);
      QFile windowFile(byWindow);
      QVERIFY(windowFile.open(QIODevice::ReadOnly));
      QVERIFY2(windowFile.readAll() == expected, qPrintable(name));
      QCOMPARE(int(watch.records.size()), total);

      // A merged cloud likewise is export-cloud's, byte for byte (the
      // measurements without a return left out by both).
      if (!c.dual || QString(c.layout) != "1.7") continue;
      const QString cloudByTool = dir_.filePath(name + "-tool.pcd"),
                    cloudByWindow = dir_.filePath(name + "-window.pcd");
      QCOMPARE(Process({Z540K_TOOL_PATH, "export-cloud", capture.toStdString(), cloudByTool.toStdString(), "--merge",
                        "--layout", c.layout, "--return-mode", "1", "--quiet"})
                   .wait(),
               0);
      tab.openFile(capture);
      tab.files.answer = cloudByWindow;
      startExport(w, QString::number(total), "0", "360");
      tab.play->click();
      QTRY_VERIFY_WITH_TIMEOUT(w.playback().endReached() && !w.csvExport().active(), kLong);
      QVERIFY(w.csvExport().leftOutLast() > 0);
      QFile toolCloud(cloudByTool), windowCloud(cloudByWindow);
      QVERIFY(toolCloud.open(QIODevice::ReadOnly) && windowCloud.open(QIODevice::ReadOnly));
      QVERIFY(windowCloud.readAll() == toolCloud.readAll());
    }

    // Chosen on the spin box while the capture has ended: the frame shows
    // and playback waits there; one step back shows the frame before it.
    const std::vector<LidarDataSingleLine> forward = watch.records;
    tab.frame->setValue(3);
    QTRY_COMPARE_WITH_TIMEOUT(int(watch.records.size()), int(forward.size()) + 1, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(!w.player().gateOpen(), kLong);
    QCOMPARE(w.frameDisplay().latest().timestamp, forward[2].timestamp);
    QCOMPARE(w.frameDisplay().latest().distance, forward[2].distance);
    QCOMPARE(tab.frame->value(), 3);
    QCOMPARE(tab.slider->value(), 3);
    tab.toStart->click();
    QTRY_COMPARE_WITH_TIMEOUT(tab.frame->value(), 2, kLong);
    QCOMPARE(w.frameDisplay().latest().timestamp, forward[1].timestamp);
    QCOMPARE(w.frameDisplay().latest().azimuth, forward[1].azimuth);
    // Dragged on the slider: the counter and the frame follow.
    tab.slider->setValue(5);
    QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), 5, kLong);
    QTRY_COMPARE_WITH_TIMEOUT(w.frameDisplay().latest().timestamp, forward[4].timestamp, kLong);
    QCOMPARE(tab.frame->value(), 5);
  }

#ifdef Z540K_WITH_ROS
  // A bag written frame by frame while a capture plays is export-bag's:
  // the same messages under the same stamps (the capture times of the
  // packets that completed the revolutions), the second returns included.
  void playbackBagEqualsExportBag() {
    ExportingWindow window;
    manwindow& w = window.w;
    Tab& tab = window.tab;
    const QString capture = dir_.filePath("bag.pcap");
    QCOMPARE(Process({Z540K_SIM_PATH, "--quiet", "--count", "150", "--layout", "1.7", "--rpm", "1200", "--dual-return",
                      "--write-pcap", capture.toStdString()})
                 .wait(),
             0);
    const QString byTool = dir_.filePath("tool.bag"), byWindow = dir_.filePath("window.bag");
    QCOMPARE(Process({Z540K_TOOL_PATH, "export-bag", capture.toStdString(), byTool.toStdString(), "--layout", "1.7",
                      "--cloud-topic", "cloud"})
                 .wait(),
             0);
    w.findChild<QComboBox*>("comboBox_agree")->setCurrentIndex(1);
    tab.openFile(capture);
    tab.files.answer = byWindow;
    startExport(w, QString::number(w.playback().frameTotal()), "0", "360");
    QVERIFY(w.csvExport().active());
    tab.play->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.playback().endReached() && !w.csvExport().active(), kLong);
    QProcess python;
    startPython(python, {"-c",
                         "import sys, rosbag\n"
                         "def messages(path):\n"
                         "    return [(t, m.header.stamp, str(m)) for t, m, _ in rosbag.Bag(path).read_messages()]\n"
                         "a, b = messages(sys.argv[1]), messages(sys.argv[2])\n"
                         "print(len(a), len({t for t, _, _ in a}), a == b)\n"
                         "d = [(x[:2], y[:2], x[2][:300], y[2][:300]) for x, y in zip(a, b) if x != y]\n"
                         "print(len(b), d[:1], file=sys.stderr)\n",
                         byTool, byWindow});
    QVERIFY(python.waitForFinished(60000));
    QCOMPARE(python.exitCode(), 0);
    const QStringList out = QString(python.readAllStandardOutput()).trimmed().split(' ');
    QCOMPARE(out.value(1), QString("3"));  // scans, second returns and clouds
    QVERIFY(out.value(0).toInt() > 3 * 5);
    QVERIFY2(out.value(2) == "True", python.readAllStandardError().constData());
  }
#endif

  // A capture of two sensors (other addresses, rates and layouts): Open asks
  // which one to play, the one with the most packets first, and nothing
  // changes when the operator cancels; the one chosen plays alone, its
  // frame-by-frame CSV equal to export-csv --source.
  void openAsksWhichSensorToPlay() {
    ExportingWindow window;
    manwindow& w = window.w;
    Tab& tab = window.tab;
    MessageRecorder& messages = window.messages;
    const QString a = dir_.filePath("sensor-a.pcap"), b = dir_.filePath("sensor-b.pcap");
    const QString both = dir_.filePath("two-sensors.pcap");
    QCOMPARE(Process({Z540K_SIM_PATH, "--quiet", "--count", "150", "--bind", "127.0.0.2", "--layout", "1.7",
                      "--write-pcap", a.toStdString()})
                 .wait(),
             0);
    QCOMPARE(Process({Z540K_SIM_PATH, "--quiet", "--count", "450", "--bind", "127.0.0.3", "--layout", "1.6", "--rpm",
                      "1200", "--write-pcap", b.toStdString()})
                 .wait(),
             0);
    std::string error;
    QVERIFY2(mergeCaptures({a.toStdString(), b.toStdString()}, both.toStdString(), error), error.c_str());

    messages.chooseWith(-1);
    tab.openFile(both);
    QCOMPARE(int(messages.choices.size()), 1);
    const QStringList offered = messages.choices.back().items;
    QCOMPARE(offered.size(), 2);
    QVERIFY2(offered[0].startsWith("127.0.0.3:2368") && offered[0].contains("450"), qPrintable(offered[0]));
    QVERIFY2(offered[1].startsWith("127.0.0.2:2368") && offered[1].contains("150"), qPrintable(offered[1]));
    QCOMPARE(w.loadedPacketCount(), std::size_t(0));
    QVERIFY(messages.messages.empty());

    messages.chooseWith(0);
    w.findChild<QComboBox*>("comboBox_agree")->setCurrentIndex(0);  // protocol 1.6
    tab.openFile(both);
    QCOMPARE(w.loadedPacketCount(), std::size_t(450));
    const QString byTool = dir_.filePath("sensor-b-tool.csv"), byWindow = dir_.filePath("sensor-b-window.csv");
    QCOMPARE(Process({Z540K_TOOL_PATH, "export-csv", both.toStdString(), byTool.toStdString(), "--layout", "1.6",
                      "--source", "127.0.0.3"})
                 .wait(),
             0);
    tab.files.answer = byWindow;
    startExport(w, QString::number(w.playback().frameTotal()), "0", "360");
    QVERIFY(w.csvExport().active());
    tab.play->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.playback().endReached() && !w.csvExport().active(), kLong);
    QFile toolFile(byTool), windowFile(byWindow);
    QVERIFY(toolFile.open(QIODevice::ReadOnly) && windowFile.open(QIODevice::ReadOnly));
    const QByteArray expected = toolFile.readAll();
    QVERIFY(expected.count('\n') > 2000);
    QVERIFY(windowFile.readAll() == expected);
  }

  // A capture shortened while it is loaded, or rewritten in place while it
  // plays, ends playback with a message naming the file; the frames shown
  // stay, and the capture can be opened again once it is whole.
  void captureChangedOnDisk() {
    MessageRecorder messages;
    manwindow w;
    Tab tab(w);
    PlayerWatch watch(w.player());
    const QString capture = writeCapture(dir_, "changing.pcap", 200);
    const QString other = writeCapture(dir_, "other.pcap", 200, true);

    tab.openFile(capture);
    QVERIFY(QFile::resize(capture, 4096));
    w.player().pauseOverrideMs = 0;
    tab.play->click();
    QTRY_VERIFY_WITH_TIMEOUT(!messages.messages.empty(), kLong);
    QCOMPARE(messages.last().title, QString("error"));
    QVERIFY2(messages.last().text.contains(capture + " changed on disk after it was opened"),
             qPrintable(messages.last().text));
    QTRY_VERIFY_WITH_TIMEOUT(!w.player().isRunning(), kLong);
    QVERIFY(!tab.play->isEnabled() && !tab.frame->isEnabled() && tab.open->isEnabled());
    QVERIFY(watch.records.empty());

    writeCapture(dir_, "changing.pcap", 200);
    messages.messages.clear();
    tab.openFile(capture);
    QVERIFY(messages.messages.empty());
    w.player().pauseOverrideMs = 600000;
    tab.play->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.playback().frame(), 1, kLong);
    tab.play->click();  // paused on the first frame
    {
      // Rewritten in place, as a recording to the same name does.
      QFile from(other), to(capture);
      QVERIFY(from.open(QIODevice::ReadOnly) && to.open(QIODevice::ReadWrite | QIODevice::Truncate));
      QVERIFY(to.write(from.readAll()) > 0);
    }
    tab.toEnd->click();
    QTRY_VERIFY_WITH_TIMEOUT(!messages.messages.empty(), kLong);
    QVERIFY2(messages.last().text.contains(capture + " changed on disk after it was opened"),
             qPrintable(messages.last().text));
    QCOMPARE(int(watch.records.size()), 1);
    QCOMPARE(w.frameDisplay().latest().timestamp, watch.records[0].timestamp);
    QVERIFY(!tab.play->isEnabled());
  }

  // An error longer than the screen is wide (a capture with a long name that
  // changed on disk) leaves the window inside the screen: the status line
  // shows its start, its tooltip and the "Last error" box the whole of it.
  void longErrorKeepsTheWindowOnScreen() {
    MessageRecorder messages;
    manwindow w;
    Tab tab(w);
    const QString capture = writeCapture(dir_, QString(240, 'n') + ".pcap", 100);
    tab.openFile(capture);
    QVERIFY(QFile::resize(capture, 4096));
    w.player().pauseOverrideMs = 0;
    tab.play->click();
    QTRY_VERIFY_WITH_TIMEOUT(!messages.messages.empty(), kLong);
    const QString error = capture + " changed on disk after it was opened";
    QVERIFY(error.size() > 300);
    QTRY_VERIFY_WITH_TIMEOUT(w.statusLine().contains(error), kLong);
    QApplication::processEvents();
    QVERIFY2(w.screen()->availableGeometry().contains(w.frameGeometry()),
             qPrintable(QString::number(w.frameGeometry().width())));
    QVERIFY2(w.statusLineShown().endsWith(QChar(0x2026)) && !w.statusLineShown().contains(error),
             qPrintable(w.statusLineShown()));
    QVERIFY(w.findChild<QLabel*>("statusLine")->toolTip().contains(error.toHtmlEscaped()));
    auto* lastError = tab.button("toolButton_LastError");
    QVERIFY(lastError->isEnabled());
    lastError->click();
    auto* box = w.findChild<QDialog*>("lastErrorBox");
    QVERIFY(box && box->isVisible());
    auto* text = box->findChild<QPlainTextEdit*>();
    QVERIFY(text && text->isReadOnly() && text->toPlainText().contains(error));
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
    QVERIFY(!w.recording().recording() && !tab.record->isChecked());
    QVERIFY(tab.files.asked.empty());

    lidar->click();
    QVERIFY(w.isLiveRunning());
    QTRY_VERIFY_WITH_TIMEOUT(w.frameDisplay().framesDrawn() >= 1, kLong);

    // A file that cannot be written ends the recording, and the operator
    // hears of it.
    messages.messages.clear();
    tab.files.answer = dir_.filePath("no-such-folder/x.pcap");
    tab.record->click();
    QTRY_VERIFY_WITH_TIMEOUT(!messages.messages.empty(), kLong);
    QCOMPARE(messages.last().title, QString("error"));
    QVERIFY(!w.recording().recording() && !tab.record->isChecked());

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
    const CaptureRecorder* recorder = w.recording().recorder();
    QVERIFY(recorder);
    QTRY_VERIFY_WITH_TIMEOUT(recorder->isCapturing() || !recorder->isRunning(), kLong);
    if (!recorder->isCapturing() || !w.recording().recording())
      QSKIP(qPrintable("cannot capture on lo here: " + QString::fromStdString(recorder->error())));
    QVERIFY(w.recording().recording() && tab.record->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(recorder->packetsWritten() >= 40, kLong);

    // The sensor falls silent and "Lidar" is stopped: the recording still
    // stops, without waiting for another packet.
    sim.signal(SIGSTOP);
    QTRY_VERIFY_WITH_TIMEOUT(sim.stopped(), kLong);
    lidar->click();
    QVERIFY(!w.isLiveRunning() && w.recording().recording());
    tab.record->click();
    QVERIFY(!recorder->isRunning());
    QVERIFY(!w.recording().recording() && !tab.record->isChecked());
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
    QTRY_VERIFY_WITH_TIMEOUT(w.playback().frame() >= 1, kLong);
    lidar->click();
    QVERIFY(!w.isLiveRunning());
    QVERIFY(!w.player().isRunning());
    QVERIFY(w.playback().paused());
    QVERIFY(tab.open->isEnabled() && tab.toEnd->isEnabled() && tab.toStart->isEnabled());
    QVERIFY(showsImage(tab.play->icon(), "Play.png"));

    lidar->click();
    QVERIFY(!w.liveReceiver().paused);
    const std::uint64_t drawn = w.frameDisplay().framesDrawn();
    QTRY_VERIFY_WITH_TIMEOUT(w.frameDisplay().framesDrawn() >= drawn + 2, kLong);
    QVERIFY(messages.messages.empty());
  }

  // A signal that ends the program from outside, while a recording and a
  // frame-by-frame export are both half written, ends them as quitting does,
  // without a question or a box: the export keeps its frames under the
  // chosen name, the recording is whole, nothing else is left in the folder,
  // and the exit code is 1 as the export had not written all its frames.
  void exitSignalsEndWritingAsQuitting_data() {
    QTest::addColumn<int>("number");
    for (const int number : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) QTest::newRow(sigabbrev_np(number)) << number;
  }
  void exitSignalsEndWritingAsQuitting() {
    QFETCH(int, number);
    qputenv("Z540K_CAPTURE_DEVICE", "lo");
    SimulatedSensorFeed sensor(120);
    MessageRecorder messages;
    QTemporaryDir folder;
    const QString recorded = folder.filePath("recorded.pcap"), exported = folder.filePath("exported.csv");
    auto w = std::make_unique<manwindow>(sensor.options());
    w->endOnExitSignals();
    Tab tab(*w);
    tab.button("toolButton_Lidar")->click();
    tab.files.answer = recorded;
    tab.record->click();
    const CaptureRecorder* recorder = w->recording().recorder();
    QVERIFY(recorder);
    QTRY_VERIFY_WITH_TIMEOUT(recorder->isCapturing() || !recorder->isRunning(), kLong);
    if (!recorder->isCapturing() || !w->recording().recording())
      QSKIP(qPrintable("cannot capture on lo here: " + QString::fromStdString(recorder->error())));
    tab.files.answer = exported;
    startExport(*w, "1000", "0", "360");
    QVERIFY(w->csvExport().active());
    QTRY_VERIFY_WITH_TIMEOUT(w->csvExport().framesWritten() >= 3 && recorder->packetsWritten() >= 40, kLong);
    QVERIFY(!QFile::exists(exported));  // written beside its name until it ends

    ::kill(::getpid(), number);
    QTimer guard;  // in case the signal went unnoticed
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(kLong);
    QCOMPARE(QApplication::exec(), 1);  // as main runs the window
    QVERIFY(messages.messages.empty());
    QVERIFY(!w->csvExport().active() && !w->recording().recording() && !recorder->isRunning());

    QFile csv(exported);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    QCOMPARE(rows.front(), QByteArray(kCsvHeader));
    QCOMPARE(rows.back(), QByteArray());  // whole lines only
    const QByteArray& last = rows[rows.size() - 2];
    QCOMPARE(last.count(','), 7);
    const int frames = w->csvExport().framesWrittenLast();
    QVERIFY(frames >= 3 && frames < 1000);
    QCOMPARE(last.left(last.indexOf(',')).toInt(), frames);
    CaptureReader reader;
    QVERIFY(reader.open(recorded.toStdString()));
    std::uint64_t packets = 0;
    for (CapturedDatagram d; reader.next(d);) ++packets;
    QVERIFY2(reader.damage().empty(), reader.damage().c_str());
    QCOMPARE(packets, recorder->packetsWritten());
    w.reset();  // as main does after the loop
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({"exported.csv", "recorded.pcap"}));
  }
};

int main(int argc, char** argv) {
  PointCloudView::prepareSurfaceFormat();
  QApplication app(argc, argv);
  OfflineTabTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_offline_tab.moc"
