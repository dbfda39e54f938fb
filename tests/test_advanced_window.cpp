// The advanced (factory) configuration window: its form, the status display,
// Refresh, Set and "Save set file" with status frames captured on the
// loopback adapter from the simulated sensor (skipped where this process
// cannot capture), the capture off the GUI thread (with a stand-in capture,
// so it runs everywhere), the default-restore packet, every message box it
// shows (read through MessageRecorder) and the GPS time-stamp test controls
// driving a live receiver.
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "ACWPSettingWidget.h"
#include "AdvancedSettingsPacket.h"
#include "FileDialogs.h"
#include "LiveDataReceiver.h"
#include "LoopbackTestSupport.h"
#include "MessageRecorder.h"
#include "PacketEncoders.h"
#include "ProcessTestSupport.h"
#include "RecordMetaTypes.h"
#include "StatusFrameCapture.h"
#include "StatusPacket.h"
#include "UdpSocket.h"
#include "WindowTestSupport.h"

using namespace z540k;
using namespace z540k::test;

namespace {

const std::string kSim = Z540K_SIM_PATH;
const std::string kTool = Z540K_TOOL_PATH;
constexpr int kLong = 30000;  // generous: waits end on the event, not on the time

QStringList shown(const MessageRecorder& messages) {
  QStringList list;
  for (const auto& m : messages.messages) list << m.title + "|" + m.text;
  return list;
}

// A fresh home folder (where the GPS test logs go) while it lives.
struct TemporaryHome {
  QTemporaryDir dir;
  QByteArray previous = qgetenv("HOME");
  TemporaryHome() { qputenv("HOME", dir.path().toLocal8Bit()); }
  ~TemporaryHome() { qputenv("HOME", previous); }
};

QString shownText(ACWPSettingWidget& window, const char* name) {
  QWidget* w = child(window, name);
  if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
  return w->property("text").toString();
}
void setText(ACWPSettingWidget& window, const char* name, const QString& text) {
  child<QLineEdit>(window, name)->setText(text);
}
// Clicks, then waits until what the click started (a capture and what
// follows it, the pause after a send) has ended.
void click(ACWPSettingWidget& window, const char* name) {
  child<QPushButton>(window, name)->click();
  QTRY_VERIFY_WITH_TIMEOUT(!window.session().busy(), kLong);
}

// Hands one status to the window as the receivers do.
void feed(ACWPSettingWidget& window, const sim::StatusPacketBytes& packet) {
  SettingData record;
  std::vector<int> values;
  QVERIFY(decodeStatusPacket(packet.data(), packet.size(), record, values));
  window.onLidarStatusReceiving(&record, values);
}

// A UDP socket on 127.0.0.1 that takes what is sent to its port.
UdpSocket boundAt(const std::string& address, std::uint16_t port = 0, bool reuse = false) {
  UdpSocket s;
  if (!(s.create() && (!reuse || s.setReuseAddress()) && s.bind(port, address))) qWarning("%s", s.lastError().c_str());
  return s;
}

// Empty when this process can capture on the loopback adapter, else why not.
QString captureUnavailable() {
  StatusFrameCaptureSettings settings;
  settings.device = "lo";
  settings.timeoutMs = 50;
  CapturedStatusFrame frame;
  std::string error;
  return captureStatusFrame(settings, frame, error) == StatusFrameResult::Failed ? QString::fromStdString(error)
                                                                                 : QString();
}

// Refresh after one status, with the captures looking at a port no sensor
// sends to (300 ms each).
void refreshWithoutSensor(ACWPSettingWidget& window, const UdpSocket& quiet) {
  window.setCaptureDevice("lo");
  window.setStatusPort(quiet.localPort());
  window.setCaptureTimeout(300);
  feed(window, sim::encodeStatusPacket(sim::SensorStatus{}));
  click(window, "pushButton_Refreshlidar");
}

// A stand-in for the status capture that waits until it is cancelled, as the
// real one does while no status frame comes; it needs no right to capture.
struct WaitingCapture {
  std::atomic<int> calls{0};
  std::atomic<bool> waiting{false};
  std::atomic<QThread*> thread{nullptr};

  StatusFrameResult operator()(const StatusFrameCaptureSettings& settings, std::string& error) {
    ++calls;
    thread = QThread::currentThread();
    waiting = true;
    while (settings.keepWaiting()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    waiting = false;
    error = "the capture was cancelled";
    return StatusFrameResult::Cancelled;
  }
};

// The window captures with `capture`, after one status.
void useWaitingCapture(ACWPSettingWidget& window, WaitingCapture& capture) {
  window.setCaptureDevice("lo");
  window.setCaptureFunction([&capture](const StatusFrameCaptureSettings& settings, CapturedStatusFrame&,
                                       std::string& error) { return capture(settings, error); });
  feed(window, sim::encodeStatusPacket(sim::SensorStatus{}));
}

QByteArray bytes(const std::uint8_t* data, std::size_t size) {
  return QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

LocalDateTime localTimeOf(const QDateTime& t) {
  return {t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(), t.time().second()};
}

const QString kNoLidar = "warring|You didn't connect Lidar.";
const QString kRefreshed = "Tips|Resresh completed";
const QString kTrailingQuestion = "error|拖尾数据为0,或拖尾距离为0?";

}  // namespace

class AdvancedWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  void form() {
    ACWPSettingWidget window;
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(window.size() == QSize(586, 541) && window.minimumSize() == QSize(580, 460) &&
            window.maximumSize() == QSize(600, 550));
    QVERIFY(!window.testAttribute(Qt::WA_QuitOnClose));
    for (int i = 0; i < 3; ++i) QVERIFY(!child<QComboBox>(window, "comboBox_rotateSpeed")->itemIcon(i).isNull());
  }

  // The board-2 values of every status, the refusals before any status or
  // refresh, the clear and Cancel.
  void statusAndRefusals() {
    MessageRecorder messages;
    ACWPSettingWidget window;
    window.setCaptureDevice("lo");
    window.show();
    QVERIFY(QMetaObject::invokeMethod(&window, "onOK_Clicked"));
    click(window, "pushButton_Refreshlidar");
    QCOMPARE(shown(messages), (QStringList{"error|请先刷新数据否则再进行设置!", "error|设备包端口错误请检查!"}));
    QVERIFY(!window.session().refreshed() && !child(window, "pushButton_OK")->isEnabled());

    SettingData record{};
    std::vector<int> values(19, 0);
    values[16] = 300, values[17] = 65534, values[18] = 32767;
    window.onLidarStatusReceiving(&record, values);
    QCOMPARE(shownText(window, "lineEdit_board2HV"), QString("300"));
    QCOMPARE(shownText(window, "lineEdit_board2HV_adjust"), QString("-2"));  // two's complement
    QCOMPARE(shownText(window, "lineEdit_board2HV_sill"), QString("32767"));

    setText(window, "lineEdit_SerialNumber", "x");
    setText(window, "lineEdit_Version", "y");
    setText(window, "lineEdit_tw", "7");
    window.onCleanACWPControl();
    QVERIFY(shownText(window, "lineEdit_SerialNumber").isEmpty() && shownText(window, "lineEdit_Version").isEmpty());
    QCOMPARE(shownText(window, "lineEdit_tw"), QString("7"));
    click(window, "pushButton_Cancel");
    QVERIFY(!window.isVisible());
  }

  // No sensor answers: Refresh still enables Set, which fails the same way
  // and wants a new refresh; Save says so in its own words.
  void noSensor() {
    const QString why = captureUnavailable();
    if (!why.isEmpty()) QSKIP(qPrintable("cannot capture on lo: " + why));
    UdpSocket quiet = boundAt("127.0.0.1");
    MessageRecorder messages;
    ACWPSettingWidget window;
    refreshWithoutSensor(window, quiet);
    QCOMPARE(shown(messages), QStringList{kNoLidar});
    QVERIFY(window.session().refreshed() && child(window, "pushButton_OK")->isEnabled());
    click(window, "pushButton_OK");
    QCOMPARE(shown(messages), (QStringList{kNoLidar, kNoLidar}));
    QVERIFY(!window.session().refreshed());
    click(window, "pushButton_SaveSettingfile");
    QCOMPARE(shown(messages).last(), QString("error|抓包失败,请设置发包间隔为0!"));
  }

  // A value its field cannot hold (one step outside its range, NaN, text) is
  // refused before any capture, naming the field and its range; nothing is
  // sent and the refreshed mark stays.
  void refusedValues() {
    const QString why = captureUnavailable();
    if (!why.isEmpty()) QSKIP(qPrintable("cannot capture on lo: " + why));
    UdpSocket quiet = boundAt("127.0.0.1");
    MessageRecorder messages;
    ACWPSettingWidget window;
    refreshWithoutSensor(window, quiet);
    QVERIFY(window.session().refreshed());  // no sensor: refreshed all the same
    const std::pair<const char*, const char*> valid[] = {
        {"lineEdit_HighReflect", "0"}, {"lineEdit_deviationAngle", "0"}, {"lineEdit_21", "50"},
        {"lineEdit_tw", "10"},         {"lineEdit_twjl", "30"},          {"lineEdit_MaPanAngle", "0"}};
    struct Case {
      const char* field;
      QStringList texts;
      QString says;
    };
    const Case cases[] = {
        {"lineEdit_HighReflect",
         {"-1", "65536", "NaN"},
         "High-reflection compensation (mm) \"%1\" is not a whole number from 0 to 65535"},
        {"lineEdit_deviationAngle",
         {"-327.69", "327.68", "700", "nan", "1e308"},
         "Horizontal offset angle (degrees) \"%1\" is not a number from -327.68 to 327.67 with at most 2 decimals"},
        {"lineEdit_21",
         {"-0.01", "655.36", "abc"},
         "Measuring range (m) \"%1\" is not a number from 0 to 655.35 with at most 2 decimals"},
        {"lineEdit_tw",
         {"-1", "65536", "1.5"},
         "Trailing-removal threshold \"%1\" is not a whole number from 0 to 65535"},
        {"lineEdit_twjl",
         {"65536", "cm"},
         "Trailing-removal distance (cm) \"%1\" is not a whole number from 0 to 65535"},
        {"lineEdit_MaPanAngle",
         {"327.68", "-327.69", "inf"},
         "Encoder zero calibration (degrees) \"%1\" is not a number from -327.68 to 327.67 with at most 2 decimals"}};
    for (const Case& c : cases) {
      for (const QString& text : c.texts) {
        for (const auto& [field, value] : valid) setText(window, field, value);
        setText(window, c.field, text);
        messages.messages.clear();
        click(window, "pushButton_OK");
        QCOMPARE(shown(messages), QStringList{"error|" + c.says.arg(text)});
        QVERIFY(window.session().refreshed());
      }
    }
    QCOMPARE(window.lastSent(), (std::array<std::uint8_t, 1206>{}));
  }

  // The capture runs on a worker thread and nothing re-enters the window: the
  // click returns at once, the GUI thread's event loop keeps running while
  // the capture waits (a timer fires), a second Refresh or a Save is refused,
  // and Cancel ends the wait without a word.
  void captureOffTheGuiThread() {
    WaitingCapture capture;
    MessageRecorder messages;
    ACWPSettingWidget window;
    useWaitingCapture(window, capture);
    window.show();
    auto* refresh = child<QPushButton>(window, "pushButton_Refreshlidar");

    refresh->click();
    QVERIFY(window.session().busy());
    bool fired = false;
    QTimer::singleShot(0, &window, [&] { fired = true; });
    QTRY_VERIFY_WITH_TIMEOUT(fired && capture.waiting, kLong);
    QVERIFY(capture.thread.load() != QThread::currentThread());
    refresh->click();
    QVERIFY(QMetaObject::invokeMethod(&window, "onRefreshbutton_clicked"));
    QVERIFY(QMetaObject::invokeMethod(&window, "onSaveSettingFile"));
    QCOMPARE(capture.calls.load(), 1);
    QVERIFY(!refresh->isEnabled() && !child(window, "pushButton_SaveSettingfile")->isEnabled());

    auto* progress = window.findChild<QProgressDialog*>();
    QVERIFY(progress);
    QTRY_VERIFY_WITH_TIMEOUT(progress->isVisible(), kLong);  // shown from the event loop
    auto* cancel = progress->findChild<QPushButton*>();
    QVERIFY(cancel && cancel->text() == "Cancel");
    cancel->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window.session().busy(), kLong);
    QVERIFY(!capture.waiting && messages.messages.empty() && !window.session().refreshed());
    QVERIFY(refresh->isEnabled() && !child(window, "pushButton_OK")->isEnabled());
    QVERIFY(!window.findChild<QProgressDialog*>());
  }

  // Closing or destroying the window while a capture waits cancels it and
  // waits for the worker; nothing of it follows.
  void closedDuringACapture() {
    WaitingCapture capture;
    MessageRecorder messages;
    ACWPSettingWidget window;
    useWaitingCapture(window, capture);
    window.show();
    click(window, "pushButton_Cancel");  // nothing under way: closes
    window.show();
    child<QPushButton>(window, "pushButton_Refreshlidar")->click();
    QTRY_VERIFY_WITH_TIMEOUT(capture.waiting, kLong);
    window.close();  // returns once the worker has ended
    QVERIFY(!capture.waiting && !window.session().busy() && !window.findChild<QProgressDialog*>());
    QVERIFY(child(window, "pushButton_Refreshlidar")->isEnabled());
    {
      ACWPSettingWidget other;
      useWaitingCapture(other, capture);
      child<QPushButton>(other, "pushButton_SaveSettingfile")->click();
      QTRY_VERIFY_WITH_TIMEOUT(capture.waiting, kLong);
    }  // destroyed while its capture waits
    QVERIFY(!capture.waiting && messages.messages.empty());
    QCOMPARE(capture.calls.load(), 2);
  }

  // The simulated sensor on loopback: Refresh shows its factory values from a
  // captured status frame; Set asks about a zero trailing value (Cancel
  // sends nothing, OK sends), the simulator applies the packet and the next
  // Refresh shows the new values; "Save set file" dumps the frame.
  void withSimulator() {
    const QString why = captureUnavailable();
    if (!why.isEmpty()) QSKIP(qPrintable("cannot capture on lo: " + why));
    UdpSocket dataSink = boundAt("127.0.0.1"), statusSink = boundAt("127.0.0.1");
    UdpSocket simulatorPort = boundAt("", 0, true);
    Process sim({kSim, "--data-port", std::to_string(dataSink.localPort()), "--status-port",
                 std::to_string(statusSink.localPort()), "--sensor-port", std::to_string(simulatorPort.localPort()),
                 "--rpm", "600", "--seconds", "120"});
    MessageRecorder messages;
    ACWPSettingWidget window;
    window.setCaptureDevice("lo");
    window.setStatusPort(statusSink.localPort());
    window.setCaptureTimeout(10000);
    window.show();
    feed(window, sim::encodeStatusPacket(sim::SensorStatus{}));
    child<QComboBox>(window, "comboBox_rotateSpeed")->setCurrentIndex(0);

    click(window, "pushButton_Refreshlidar");
    QCOMPARE(shown(messages), QStringList{kRefreshed});
    const std::pair<const char*, const char*> factory[] = {{"lineEdit_21", "50"},
                                                           {"lineEdit_22", "50"},
                                                           {"lineEdit_tw", "10"},
                                                           {"lineEdit_twjl", "30"},
                                                           {"lineEdit_HighReflect", "0"},
                                                           {"lineEdit_deviationAngle", "0"},
                                                           {"lineEdit_MaPanAngle", "0"},
                                                           {"comboBox_rotateSpeed", " 10 HZ"},
                                                           {"comboBox_SingleOrDouble", "单回波"},
                                                           {"comboBox_Zero_degree_position", "线端为0°"}};
    for (const auto& [field, expected] : factory) QCOMPARE(shownText(window, field), QString(expected));
    QVERIFY(!child(window, "lineEdit_22")->isEnabled());
    QVERIFY(shownText(window, "lineEdit_Board_2").startsWith('V'));
    QVERIFY(shownText(window, "lineEdit_Board_3").contains("-V"));

    const std::pair<const char*, const char*> edits[] = {{"lineEdit_21", "150"},
                                                         {"lineEdit_tw", "0"},
                                                         {"lineEdit_twjl", "40"},
                                                         {"lineEdit_HighReflect", "12"},
                                                         {"lineEdit_deviationAngle", "2.5"},
                                                         {"lineEdit_MaPanAngle", "-1"}};
    for (const auto& [field, text] : edits) setText(window, field, text);
    child<QComboBox>(window, "comboBox_rotateSpeed")->setCurrentIndex(2);
    child<QComboBox>(window, "comboBox_SingleOrDouble")->setCurrentIndex(1);
    child<QComboBox>(window, "comboBox_Zero_degree_position")->setCurrentIndex(1);

    messages.messages.clear();
    messages.answerWith(QMessageBox::Cancel);
    click(window, "pushButton_OK");
    QCOMPARE(shown(messages), QStringList{kTrailingQuestion});
    QVERIFY(window.session().refreshed());  // nothing was sent
    QCOMPARE(window.lastSent(), (std::array<std::uint8_t, 1206>{}));

    messages.answerWith(QMessageBox::Ok);
    click(window, "pushButton_OK");
    QCOMPARE(shown(messages), (QStringList{kTrailingQuestion, kTrailingQuestion, "Tips|Setup completed"}));
    QVERIFY(!window.session().refreshed());
    const auto& sent = window.lastSent();
    const auto at = [&](std::size_t offset, int size) { return bytes(sent.data() + offset, size).toHex(' '); };
    QCOMPARE(at(0, 18), QByteArray("aa 00 ff 11 22 22 bb bb 04 b0 7f 00 00 02 7f 00 00 01"));
    QCOMPARE(at(104, 2), QByteArray("00 0c"));
    QCOMPARE(at(178, 10), QByteArray("3a 98 00 00 00 28 01 01 00 fa"));
    QCOMPARE(at(194, 2), QByteArray("ff 9c"));  // -100 in two's complement
    QVERIFY2(sim.waitFor([&] { return sim.err().find("applied advanced settings") != std::string::npos; }, 20000),
             sim.err().c_str());

    click(window, "pushButton_Refreshlidar");
    QCOMPARE(shown(messages).last(), kRefreshed);
    const std::pair<const char*, const char*> applied[] = {{"lineEdit_21", "150"},
                                                           {"lineEdit_tw", "0"},
                                                           {"lineEdit_twjl", "40"},
                                                           {"lineEdit_HighReflect", "12"},
                                                           {"lineEdit_deviationAngle", "2.5"},
                                                           {"lineEdit_MaPanAngle", "-1"},
                                                           {"comboBox_rotateSpeed", " 20 HZ"},
                                                           {"comboBox_SingleOrDouble", "双回波"},
                                                           {"comboBox_Zero_degree_position", "正前方为0°"}};
    for (const auto& [field, expected] : applied) QCOMPARE(shownText(window, field), QString(expected));

    // Set again, unedited: the sensor gets back exactly what it reports.
    click(window, "pushButton_OK");
    QCOMPARE(shown(messages).last(), QString("Tips|Setup completed"));
    QCOMPARE(at(104, 2), QByteArray("00 0c"));
    QCOMPARE(at(178, 10), QByteArray("3a 98 00 00 00 28 01 01 00 fa"));
    QCOMPARE(at(194, 2), QByteArray("ff 9c"));

    // Save: the dump of a fresh frame; a file that cannot be written and a
    // cancelled dialog.
    QTemporaryDir dir;
    QString answer = dir.filePath("status.ini");
    QStringList asked;
    setFileDialogResponder([&](FileDialogKind kind, const QString& caption, const QString&, const QString& filter) {
      asked << QString("%1|%2|%3").arg(int(kind)).arg(caption, filter);
      return answer;
    });
    messages.messages.clear();
    click(window, "pushButton_SaveSettingfile");
    answer = dir.filePath("missing/status.ini");
    click(window, "pushButton_SaveSettingfile");
    answer.clear();
    click(window, "pushButton_SaveSettingfile");
    setFileDialogResponder({});
    const QString dialog = QString("%1|WireSharkCaptureFile|Supported Files (*.ini)").arg(int(FileDialogKind::Save));
    QCOMPARE(asked, (QStringList{dialog, dialog, dialog}));
    QCOMPARE(shown(messages), QStringList{"error|打开文件失败,请检查!"});
    QFile file(dir.filePath("status.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray dump = file.readAll();
    QCOMPARE(dump.size(), 3618);
    QVERIFY(!dump.contains('\n'));
    StatusSnapshot saved{};
    std::string error;
    QVERIFY2(parseStatusDump(dump.toStdString(), saved, error), error.c_str());
    QVERIFY(isStatusPacket(saved.data(), saved.size()));
    QCOMPARE(bytes(saved.data() + 178, 2).toHex(), QByteArray("3a98"));

    sim.interrupt();
    QCOMPARE(sim.wait(), 0);
  }

  // The window's Set and `z540k-tool advanced --dry-run` on the same status
  // frame and the same texts (typed into the fields key by key, given to the
  // tool as options): every keystroke stays, and both give the same packet,
  // or the same refusal before anything is captured or sent. The capture is a
  // stand-in that hands over the frame, so this runs without capture rights.
  void sameAsTheTool_data() {
    QTest::addColumn<QStringList>("edits");  // "field=text" typed into the window
    QTest::addColumn<QString>("outcome");    // how both refuse, or "kept: FIELDS" the completion message lists
    const auto row = [](const char* name, const QStringList& edits, const QString& outcome) {
      QTest::newRow(name) << edits << outcome;
    };
    const QString range = "Measuring range (m) \"%1\" is not a number from 0 to 655.35 with at most 2 decimals",
                  reflect = "High-reflection compensation (mm) \"%1\" is not a whole number from 0 to 65535",
                  angle =
                      "Horizontal offset angle (degrees) \"%1\" is not a number from -327.68 to 327.67 with at "
                      "most 2 decimals",
                  encoder =
                      "Encoder zero calibration (degrees) \"%1\" is not a number from -327.68 to 327.67 with "
                      "at most 2 decimals",
                  threshold = "Trailing-removal threshold \"%1\" is not a whole number from 0 to 65535",
                  distance = "Trailing-removal distance (cm) \"%1\" is not a whole number from 0 to 65535";
    row("unedited", {}, "kept: ");
    row("every field", {"21=150.5", "deviationAngle=-1.5", "MaPanAngle=-0.01", "HighReflect=12.0", "tw=3", "twjl=40"},
        "kept: ");
    row("emptied high reflection and encoder zero", {"HighReflect=", "MaPanAngle="},
        "kept: High-reflection compensation (mm), Encoder zero calibration (degrees)");
    row("range 0.005", {"21=0.005"}, range.arg("0.005"));
    row("range 1e308", {"21=1e308"}, range.arg("1e308"));
    row("range nan", {"21=nan"}, range.arg("nan"));
    row("high reflection 327.68", {"HighReflect=327.68"}, reflect.arg("327.68"));
    row("high reflection 99999", {"HighReflect=99999"}, reflect.arg("99999"));
    row("high reflection 10.0.0.256", {"HighReflect=10.0.0.256"}, reflect.arg("10.0.0.256"));
    row("angle 0.005", {"deviationAngle=0.005"}, angle.arg("0.005"));
    row("angle -0.005", {"deviationAngle=-0.005"}, angle.arg("-0.005"));
    row("angle 2,000", {"deviationAngle=2,000"}, angle.arg("2,000"));
    row("encoder zero -0.005", {"MaPanAngle=-0.005"}, encoder.arg("-0.005"));
    row("encoder zero 1e308", {"MaPanAngle=1e308"}, encoder.arg("1e308"));
    row("threshold -1", {"tw=-1"}, threshold.arg("-1"));
    row("distance 2,000", {"twjl=2,000"}, distance.arg("2,000"));
    row("distance 0.005", {"twjl=0.005"}, distance.arg("0.005"));
  }
  void sameAsTheTool() {
    QFETCH(QStringList, edits);
    QFETCH(QString, outcome);
    sim::SensorStatus status;
    status.measuringRange = 5000, status.trailingThreshold = 10, status.trailingDistance = 30;
    status.horizontalOffset = -150, status.encoderZero = 25, status.highReflection = 7;
    const auto packet = sim::encodeStatusPacket(status);
    UdpSocket sensor = boundAt("127.0.0.1");
    CapturedStatusFrame frame;
    std::copy(packet.begin(), packet.end(), frame.payload.begin());
    frame.addresses = {{127, 0, 0, 1}, sensor.localPort(), {127, 0, 0, 1}};
    int captures = 0;
    MessageRecorder messages;
    ACWPSettingWidget window;
    window.setCaptureDevice("lo");
    window.setCaptureFunction([&](const StatusFrameCaptureSettings&, CapturedStatusFrame& out, std::string&) {
      ++captures;
      out = frame;
      return StatusFrameResult::Captured;
    });
    window.show();
    feed(window, packet);
    click(window, "pushButton_Refreshlidar");
    QCOMPARE(shown(messages), QStringList{kRefreshed});
    const QMap<QString, std::string> options = {{"21", "--range"},
                                                {"deviationAngle", "--deviation-angle"},
                                                {"MaPanAngle", "--encoder-zero"},
                                                {"HighReflect", "--high-reflect"},
                                                {"tw", "--trail-threshold"},
                                                {"twjl", "--trail-distance"}};
    std::vector<std::string> args = {kTool, "advanced", "--dry-run"};
    typeFieldEdits(window, edits, options, args);
    if (QTest::currentTestFailed()) return;
    messages.messages.clear();
    click(window, "pushButton_OK");

    QTemporaryDir dir;
    const QString snapshot = dir.filePath("status.snapshot");
    QFile file(snapshot);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(statusDumpText(packet.data(), packet.size())));
    file.close();
    const auto& sent = window.lastSent();
    // The tool writes the time the window wrote.
    const QString time = QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", 2000 + sent[52], sent[53], sent[54],
                                           sent[55], sent[56], sent[57]);
    args.insert(args.end(), {"--snapshot", snapshot.toStdString(), "--sensor",
                             "127.0.0.1:" + std::to_string(sensor.localPort()), "--host-ip", "127.0.0.1"});
    if (outcome.startsWith("kept: ")) args.insert(args.end(), {"--local-time", time.toStdString()});
    Process tool(args);
    const int code = tool.wait();

    if (outcome.startsWith("kept: ")) {
      const QString kept = outcome.mid(6);
      QCOMPARE(shown(messages), QStringList{kept.isEmpty() ? QString("Tips|Setup completed")
                                                           : "Tips|Setup completed\nThe sensor keeps its own value "
                                                             "for: " +
                                                                 kept + "."});
      QCOMPARE(code, 0);
      const std::string printed = tool.out().substr(0, tool.out().find('\n'));
      QCOMPARE(QString::fromStdString(printed), QString::fromStdString(statusDumpText(sent.data(), sent.size())));
      std::uint8_t received[1206] = {};
      QCOMPARE(sensor.receive(received, sizeof received, 5000).length, sent.size());
      QCOMPARE(bytes(received, sizeof received), bytes(sent.data(), sent.size()));
      if (edits.isEmpty())  // the sensor's own values back
        QCOMPARE(bytes(sent.data() + 178, 18), bytes(packet.data() + 178, 18));
    } else {
      QCOMPARE(captures, 1);  // the Refresh's only: refused before capturing
      QCOMPARE(window.lastSent(), (std::array<std::uint8_t, 1206>{}));
      QCOMPARE(shown(messages), QStringList{"error|" + outcome});
      QVERIFY(window.session().refreshed());
      QVERIFY2(code != 0 && tool.out().empty(), tool.err().c_str());
      const QString err = QString::fromStdString(tool.err()).trimmed();
      QVERIFY2(!err.contains('\n') && err.endsWith(outcome), qPrintable(err + " / " + outcome));
    }
  }

  // The default-restore packet to the typed destination, byte for byte; the
  // destinations refused before anything is sent, and a send that fails.
  void restore() {
    UdpSocket sensor = boundAt("127.0.0.2");
    MessageRecorder messages;
    ACWPSettingWidget window;
    setText(window, "lineEdit_DestIP", "127.0.0.2");
    setText(window, "lineEdit_DestPort", QString::number(sensor.localPort()));
    const QDateTime before = QDateTime::currentDateTime();
    child<QPushButton>(window, "pushButton_RecoverSetting")->click();
    const QDateTime after = QDateTime::currentDateTime();
    // The box follows the pause that gives the sensor time to take the packet.
    QVERIFY(window.session().busy() && messages.messages.empty());
    QTRY_VERIFY_WITH_TIMEOUT(!window.session().busy(), kLong);
    QCOMPARE(shown(messages), QStringList{"Tips|Reset completed !"});
    std::array<std::uint8_t, 2048> received{};
    QCOMPARE(sensor.receive(received.data(), received.size(), 5000).length, std::size_t(1206));
    auto expected = buildDefaultRestorePacket(localTimeOf(before));
    if (bytes(received.data(), 1206) != bytes(expected.data(), expected.size()))
      expected = buildDefaultRestorePacket(localTimeOf(after));
    QCOMPARE(bytes(received.data(), 1206), bytes(expected.data(), expected.size()));

    const std::pair<const char*, const char*> refused[] = {
        {"127.0.0.2", "70000"}, {"127.0.0.2", "0"}, {"127.0.0.2", ""}, {"300.1.1.1", "2368"}, {"0.0.0.0", "2368"}};
    for (const auto& [ip, port] : refused) {
      messages.messages.clear();
      setText(window, "lineEdit_DestIP", ip);
      setText(window, "lineEdit_DestPort", port);
      click(window, "pushButton_RecoverSetting");
      QVERIFY2(messages.messages.size() == 1 && messages.last().title == "warring", port);
    }
    messages.messages.clear();
    setText(window, "lineEdit_DestIP", "255.255.255.255");
    setText(window, "lineEdit_DestPort", "2368");
    click(window, "pushButton_RecoverSetting");
    QCOMPARE(messages.messages.size(), std::size_t(1));
    QVERIFY2(messages.last().title == "error" && messages.last().text.contains("255.255.255.255:2368"),
             qPrintable(messages.last().text));
    QVERIFY(!sensor.receive(received.data(), received.size(), 0).datagram());
  }

  // Start names the two logs in the dated folder under the home folder and a
  // live receiver fed GPS readings with one jump reports back; Stop ends the
  // logging. Refused numbers and a root that cannot be created change nothing.
  void gpsTest() {
    qputenv("TZ", "UTC");
    tzset();
    const TemporaryHome home;
    MessageRecorder messages;
    ACWPSettingWidget window;
    GetlidarData_1 receiver;
    QVERIFY(connect(&window, SIGNAL(sendTestFileName(QString, QString)), &receiver,
                    SLOT(createTestFile(QString, QString)), Qt::UniqueConnection));
    QVERIFY(connect(&window, SIGNAL(sendStopTest()), &receiver, SLOT(stopCheckGPSTime()), Qt::UniqueConnection));
    QVERIFY(connect(&receiver, SIGNAL(sendErrorCount(int)), &window, SLOT(recvErrorCount(int)), Qt::UniqueConnection));
    QVERIFY(connect(&receiver, SIGNAL(sendTimeStamp(QString)), &window, SLOT(recvTimeStamp(QString)),
                    Qt::UniqueConnection));
    QSignalSpy started(&window, &ACWPSettingWidget::sendTestFileName);
    QSignalSpy stopped(&window, &ACWPSettingWidget::sendStopTest);
    auto* start = child<QPushButton>(window, "pushButton_startCheck");
    auto* number = child<QLineEdit>(window, "lineEdit_IDNumber");

    for (const char* refused : {"../17", "a/b", "a\\b", ".."}) {
      messages.messages.clear();
      number->setText(refused);
      start->click();
      QVERIFY2(messages.messages.size() == 1 && messages.last().title == "warring", refused);
    }
    QCOMPARE(shown(messages).size(), 1);
    number->clear();
    start->click();
    QCOMPARE(shown(messages).last(), QString("warring|The number can not be empty!"));

    const HeldUdpPort port;
    startReceiver(receiver, port.port());

    number->setText("17");
    const QDateTime before = QDateTime::currentDateTime();
    start->click();
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(started.count(), 1);
    QCOMPARE(start->text(), QString("Stop"));
    QVERIFY(!number->isEnabled() && window.session().gpsTestRunning());
    QCOMPARE(child<QLineEdit>(window, "lineEdit_ErrorNumber")->text(), QString("0"));
    const auto names = [&](const QDateTime& t) {
      const QString folder = home.dir.path() + "/QK_Z540-K_GPSTimeTest/" + t.toString("yyyy-MM-dd");
      const QString stamp = t.toString("yyyy-MM-dd-hh-mm-ss");
      return QVariantList{folder + "/Z540-K_17_" + stamp + ".txt", folder + "/Z540-K_17_Error_" + stamp + ".txt"};
    };
    const QVariantList paths = started.at(0);
    QVERIFY2(paths == names(before) || paths == names(after), qPrintable(paths.at(0).toString()));

    // Twelve readings 2021/11/22 10:00:01 .. :13 with :07 skipped: one jump.
    sim::DataPacketWriter w(Layout::Protocol16);
    for (int b = 0; b < 12; ++b) {
      w.setBlockAzimuth(b, static_cast<std::uint16_t>(100 * b));
      w.setGps(b, GpsDateTime{21, 11, 22, 10, 0, static_cast<std::uint8_t>(b < 6 ? b + 1 : b + 2)});
    }
    LoopbackSender sender;
    QVERIFY(sender.send(port, w.bytes()));
    QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>(window, "lineEdit_timeStamp")->text(), QString("1637575213"), 10000);
    QCOMPARE(child<QLineEdit>(window, "lineEdit_ErrorNumber")->text(), QString("1"));

    start->click();
    QCOMPARE(stopped.count(), 1);
    QVERIFY(number->isEnabled() && !window.session().gpsTestRunning() && start->text() == "Start");
    receiver.running = false;
    receiver.closeSocket();
    QFile errors(paths.at(1).toString());
    QVERIFY(errors.open(QIODevice::ReadOnly));
    const QByteArray jump = errors.readAll();
    QCOMPARE(jump.count('\n'), 1);
    QVERIFY(jump.contains("2021/11/22 10:00:06 -> 2021/11/22 10:00:08"));

    // A home folder that is a file: nothing can be created below it.
    QFile blocker(home.dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    qputenv("HOME", home.dir.filePath("file").toLocal8Bit());
    messages.messages.clear();
    start->click();
    QCOMPARE(messages.messages.size(), std::size_t(1));
    QVERIFY2(messages.last().title == "error" && messages.last().text.contains("QK_Z540-K_GPSTimeTest"),
             qPrintable(messages.last().text));
    QCOMPARE(started.count(), 1);
    QVERIFY(number->isEnabled() && start->text() == "Start");
  }

  // A log the receiver cannot write (the window's log file made a link to
  // /dev/full, a full disk) ends the test: an error box names the file and
  // the reason, and the controls return to "Start".
  void gpsTestStopsOnAnUnwritableLog() {
    const TemporaryHome home;
    MessageRecorder messages;
    ACWPSettingWidget window;
    GetlidarData_1 receiver;
    connect(&window, &ACWPSettingWidget::sendTestFileName, &receiver, [&](const QString& log, const QString& errors) {
      QFile::remove(log);
      QVERIFY(QFile::link("/dev/full", log));
      receiver.createTestFile(log, errors);
    });
    QVERIFY(connect(&receiver, SIGNAL(sendLogWriteError(QString, QString)), &window,
                    SLOT(recvLogWriteError(QString, QString)), Qt::QueuedConnection));
    QSignalSpy started(&window, &ACWPSettingWidget::sendTestFileName);
    auto* number = child<QLineEdit>(window, "lineEdit_IDNumber");
    number->setText("17");
    click(window, "pushButton_startCheck");
    QCOMPARE(started.count(), 1);
    QTRY_COMPARE(messages.messages.size(), std::size_t(1));
    QCOMPARE(shown(messages).last(), "error|The GPS time-stamp test stopped: cannot write " +
                                         started.at(0).at(0).toString() + ": " +
                                         QString::fromLocal8Bit(std::strerror(ENOSPC)));
    QVERIFY(!window.session().gpsTestRunning() && number->isEnabled() && !receiver.gpsTestActive);
  }
};

QTEST_MAIN(AdvancedWindowTest)
#include "test_advanced_window.moc"
