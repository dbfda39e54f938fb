// The main window: construction, live start and stop with the simulated
// sensor on loopback, every datagram in the status line, the view aids and
// keys, the display pause, and a screenshot of the simulated room with the
// grid on.
#include <QVTKOpenGLStereoWidget.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardItemModel>
#include <QToolButton>
#include <QtTest>
#include <cmath>
#include <set>

#include "About.h"
#include "CaptureFile.h"
#include "CapturePlayer.h"
#include "DataPacketDecoder.h"
#include "Form_QLaserSelection.h"
#include "InetactionSetupWidget.h"
#include "LiveDataReceiver.h"
#include "LoopbackTestSupport.h"
#include "PacketEncoders.h"
#include "PointCloudView.h"
#include "ProcessTestSupport.h"
#include "RecordMetaTypes.h"
#include "ScanPacketStream.h"
#include "SimulatorTestSupport.h"
#include "StatusReceiver.h"
#include "UdpSocket.h"
#include "WindowTestSupport.h"
#include "manwindow.h"

using namespace z540k;
using namespace z540k::test;

namespace {

bool sameImage(const QIcon& icon, const char* resource) {
  return icon.pixmap(32, 32).toImage() == QIcon(resource).pixmap(32, 32).toImage();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  // Built in order: the hidden controls stay hidden, the playback buttons
  // wait for a capture, the palette is the window's own.
  void construction() {
    manwindow w;
    QCOMPARE(w.windowTitle(), QString("QK-Z540-K"));
    for (const char* hidden : {"showAngle_lineEdit", "label_3", "Btn_ACWPSetting", "CBox_Echo", "toolButton_User",
                               "toolButton_Develop", "Btn_Channel", "setVerticalPushButton"})
      QVERIFY2(child(w, hidden)->isHidden(), hidden);
    for (const char* disabled : {"toolButton_Play", "toolButton_GoToEnd", "toolButton_GoToStart",
                                 "toolButton_SeekBackward", "toolButton_SeekForward"})
      QVERIFY2(!child(w, disabled)->isEnabled(), disabled);
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(230, 230, 230));
    QCOMPARE(QApplication::palette().color(QPalette::Highlight), QColor(142, 45, 197).lighter(150));
    QVERIFY(!w.isLiveRunning());
    QVERIFY(w.statusLine().contains("Not receiving"));
    // The view list names the preset the view takes (from above) in full.
    auto* views = child<QComboBox>(w, "comboBox_View");
    QCOMPARE(views->currentText(), QString("Top"));
    QVERIFY2(views->width() >= views->iconSize().width() + views->fontMetrics().horizontalAdvance("Front") + 16,
             qPrintable(QString::number(views->width())));
    QVERIFY(QApplication::palette().color(QPalette::Disabled, QPalette::ButtonText) !=
            QApplication::palette().color(QPalette::Active, QPalette::ButtonText));
  }

  // "Lidar" starts both receivers with the fields' values, again stops them,
  // and a third press starts them anew; the simulated sensor's revolutions
  // reach the view as the point computation makes them.
  void lidarStartStopAndStartAgain() {
    SimulatedSensorFeed sensor(60);
    const HeldUdpPort& data = sensor.data;
    const HeldUdpPort& status = sensor.status;
    manwindow w(sensor.options());
    w.show();  // the point table is written only while it is shown
    auto* lidar = child<QToolButton>(w, "toolButton_Lidar");
    for (int press = 1; press <= 3; ++press) {
      lidar->click();
      const bool on = press != 2;
      QCOMPARE(w.isLiveRunning(), on);
      QCOMPARE(w.liveReceiver().isRunning(), on);
      QCOMPARE(w.statusReceiver().isRunning(), on);
      if (!on) continue;
      QCOMPARE(w.liveReceiver().port.load(), int(data.port()));
      QCOMPARE(w.statusReceiver().port.load(), int(status.port()));
      QCOMPARE(w.liveReceiver().pendingLayout.load(), Layout::Protocol17);
      const std::uint64_t drawn = w.frameDisplay().framesDrawn();
      // Frames drawn, and the latest a whole revolution (the first after a
      // start holds only part of one).
      QTRY_VERIFY_WITH_TIMEOUT(
          w.frameDisplay().framesDrawn() >= drawn + 2 && w.frameDisplay().latest().pairedSize() > 1000, 20000);
      // What the view holds is what the point computation makes of the frame:
      // with the display paused the latest frame stays, and is drawn.
      child<QToolButton>(w, "tolbtn_offdata")->click();
      FrameSettings s;
      s.layout = Layout::Protocol17;
      FramePoints expected;
      computeFramePoints(w.frameDisplay().latest(), s, expected);
      QVERIFY(expected.display.size() > 1000);
      QTRY_COMPARE(w.cloudView().cloudSize(PointCloudView::kDisplayCloudId), expected.display.size());
      QVERIFY(w.cloudView().contains(PointCloudView::kSelectionCloudId));
      QCOMPARE(w.pointTableModel()->rowCount(), kFrameTableRows);
      QCOMPARE(w.pointTableModel()->item(0, 1)->text(), QString::fromStdString(expected.tableRows[0][1]));
      child<QToolButton>(w, "tolbtn_offdata")->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(w.statusLine().contains("Receiving on port " + QString::number(data.port())), 5000);
    // The sensor's status reaches the settings window, which "Parameter"
    // shows, and the versions it decodes reach About, which has seen data.
    QTRY_VERIFY_WITH_TIMEOUT(w.networkSettings().session().decodedStatusReady(), 20000);
    child<QToolButton>(w, "Btn_Setting")->click();
    QVERIFY(w.networkSettings().isVisible());
    QVERIFY(w.about().dataSeen());
    child<QToolButton>(w, "toolButton_About")->click();
    QVERIFY(w.about().isVisible());
    w.networkSettings().close();
    w.about().close();
  }

  // A dual-return sensor, with no return mode given: the window decodes both
  // returns as export-csv --return-mode 1 does (the first revolutions by
  // what the data show, then by the sensor's status), on a clean stream
  // nothing is lost on the wire, and the status line names the mode.
  void dualReturnSensorIsFollowed() {
    for (const auto& [layout, rpm] : {std::pair{Layout::Protocol17, "1200"}, std::pair{Layout::Protocol16, "600"}}) {
      const std::vector<std::string> sensorOptions = {"--dual-return", "--rpm", rpm};
      const std::vector<LidarDataSingleLine> expected =
          simulatedRevolutions(layout, 100, sensorOptions, ReturnMode::Dual);
      QVERIFY(expected.size() >= 3);
      SimulatedSensorFeed sensor(60, sensorOptions, layout);
      manwindow w(sensor.options());
      child<QToolButton>(w, "toolButton_Lidar")->click();
      QTRY_VERIFY_WITH_TIMEOUT(w.statusLine().contains("return mode DualEcho (from the sensor's status)"), 20000);
      const std::uint64_t seen = w.frameDisplay().framesDrawn();
      QTRY_VERIFY_WITH_TIMEOUT(w.frameDisplay().framesDrawn() >= seen + 2, 20000);
      QCOMPARE(w.frameDisplay().latest().pairedSize(), expected[1].pairedSize());
      QCOMPARE(w.frameDisplay().latest().azimuth, expected[1].azimuth);
      QCOMPARE(w.liveReceiver().returnMode.load(), ReturnMode::Dual);
      QCOMPARE(w.liveReceiver().lostOnWire(), quint64(0));
    }
  }

  // A second program on the data port: the window says so in its status
  // line instead of silently sharing the traffic.
  void portInUseIsShown() {
    UdpSocket other;
    QVERIFY(other.create() && other.setReuseAddress() && other.bind(0));
    HeldUdpPort status;
    manwindow w(loopbackWindowOptions(other.localPort(), status.port()));
    child<QToolButton>(w, "toolButton_Lidar")->click();
    QVERIFY(w.statusLine().contains("already in use by another program"));
  }

  // Shown without a window manager, the window takes the screen's free area
  // (as maximised) and could take a 1366 x 768 one, however long its status
  // line grows.
  void windowFitsTheScreen() {
    UdpSocket other;  // the port in use: the longest line, with its error
    QVERIFY(other.create() && other.setReuseAddress() && other.bind(0));
    HeldUdpPort status;
    manwindow w(loopbackWindowOptions(other.localPort(), status.port()));
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    child<QToolButton>(w, "toolButton_Lidar")->click();
    QVERIFY(w.statusLine().contains("already in use by another program"));
    QApplication::processEvents();
    const QRect available = w.screen()->availableGeometry();
    QVERIFY2(available.contains(w.frameGeometry()), qPrintable(QString("%1 x %2 on %3 x %4")
                                                                   .arg(w.frameGeometry().width())
                                                                   .arg(w.frameGeometry().height())
                                                                   .arg(available.width())
                                                                   .arg(available.height())));
    const QSize least = w.minimumSizeHint().expandedTo(w.minimumSize());
    QVERIFY2(least.width() <= 1366 && least.height() <= 768,
             qPrintable(QString("at least %1 x %2").arg(least.width()).arg(least.height())));
  }

  // Empty datagrams and the largest a UDP datagram can be show in the
  // status line among the datagrams of their port and the unrecognised ones.
  void statusLineCountsEveryDatagram() {
    HeldUdpPort data, status;
    manwindow w(loopbackWindowOptions(data.port(), status.port()));
    child<QToolButton>(w, "toolButton_Lidar")->click();
    LoopbackSender sender("127.0.0.1", "127.0.0.2");
    const std::vector<std::uint8_t> empty;
    sim::DataPacketWriter packet(Layout::Protocol17);
    const auto statusPacket = sim::encodeStatusPacket(sim::SensorStatus{});
    QVERIFY(sender.send(data.port(), packet.bytes()) && sender.send(data.port(), empty) &&
            sender.send(data.port(), largestDatagramStartingWith(packet.bytes())));
    QVERIFY(sender.send(status.port(), statusPacket) && sender.send(status.port(), empty) &&
            sender.send(status.port(), largestDatagramStartingWith(statusPacket)));
    QTRY_VERIFY2_WITH_TIMEOUT(w.statusLine().contains("3 datagrams, 2 unrecognised, 0 dropped by the kernel") &&
                                  w.statusLine().contains("status port: 3 datagrams, 2 unrecognised"),
                              qPrintable(w.statusLine()), 10000);
  }

  // Two sensors sending to the window's ports: the first one heard is drawn
  // (or the one --sensor names) and its status passed on; the status line
  // names both and counts the other's datagrams.
  void eachSensorOnItsOwn() {
    const std::uint32_t a = 0x7F000002, b = 0x7F000003;
    for (const bool pinB : {false, true}) {
      HeldUdpPort data, status;
      StartupOptions options = loopbackWindowOptions(data.port(), status.port());
      options.layout = 1;
      if (pinB) options.sensor = SensorAddress{b, 0};
      manwindow w(options);
      std::vector<std::size_t> sizes;
      connect(&w.liveReceiver(), &GetlidarData_1::SendData, &w,
              [&](const LidarDataSingleLine& r) { sizes.push_back(r.distance.size()); });
      child<QToolButton>(w, "toolButton_Lidar")->click();
      LoopbackSender fromA("127.0.0.1", "127.0.0.2"), fromB("127.0.0.1", "127.0.0.3");
      sim::ScanPattern turnA, turnB;
      turnA.firingsPerRevolution = 360;  // 30 packets a turn, 30 x 360 measurements
      turnB.firingsPerRevolution = 720;  // 60 packets a turn, 30 x 720 measurements
      sim::ScanPacketStream streamA(turnA), streamB(turnB);
      QVERIFY(fromA.send(data.port(), streamA.next()));  // A is heard first
      for (int i = 0; i < 4 * 60; ++i) {
        QVERIFY(fromB.send(data.port(), streamB.next()));
        if (i % 2 == 0) QVERIFY(fromA.send(data.port(), streamA.next()));
      }
      QTRY_VERIFY_WITH_TIMEOUT(sizes.size() >= 3, 10000);
      // The first revolution is read in the 1.6 layout (the window's layout
      // takes effect after it), the others in 1.7.
      for (std::size_t i = 1; i < sizes.size(); ++i)
        QVERIFY2(pinB ? sizes[i] > 15000 : sizes[i] < 15000, qPrintable(QString::number(sizes[i])));
      QTRY_COMPARE_WITH_TIMEOUT(w.liveReceiver().datagramCounts().anotherSensor, quint64(pinB ? 121 : 240), 10000);
      const QString drawn = pinB ? "127.0.0.3" : "127.0.0.2", other = pinB ? "127.0.0.2" : "127.0.0.3";
      QTRY_VERIFY2_WITH_TIMEOUT(
          QRegularExpression("sensors: .*" + drawn + ":[0-9]+ \\(drawn\\)").match(w.statusLine()).hasMatch() &&
              w.statusLine().contains(other + ":") &&
              w.statusLine().contains(QString("%1 datagrams from another sensor").arg(pinB ? 121 : 240)),
          qPrintable(w.statusLine()), 10000);
      // The settings window gets the status of the sensor drawn only.
      QTRY_COMPARE_WITH_TIMEOUT(w.statusReceiver().sensorIp.load(), pinB ? b : a, 10000);
      const auto statusPacket = sim::encodeStatusPacket(sim::SensorStatus{});
      QVERIFY(fromA.send(status.port(), statusPacket) && fromB.send(status.port(), statusPacket));
      QTRY_VERIFY_WITH_TIMEOUT(
          w.statusReceiver().datagramCounts().status == 1 && w.statusReceiver().datagramCounts().anotherSensor == 1,
          10000);
    }
  }

  void functionKeysAreSwallowed() {
    manwindow w;
    for (int key : {Qt::Key_F4, Qt::Key_F5, Qt::Key_F6, Qt::Key_F7}) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(&w, &press);
      QCOMPARE(press.isAccepted(), key != Qt::Key_F7);
    }
  }

  void pointSizeKeysStayWithinOneToTen() {
    manwindow w;
    QCOMPARE(w.currentPointSize(), 1);
    for (int i = 0; i < 12; ++i) w.cloudView().pressKey('+', "plus");
    QCOMPARE(w.currentPointSize(), 10);
    for (int i = 0; i < 12; ++i) w.cloudView().pressKey('-', "minus");
    QCOMPARE(w.currentPointSize(), 1);
  }

  // Before any frame each preset looks in its direction at 10 m either way
  // of the sensor (fitted to frames: test_view_camera_and_readout.cpp).
  void cameraPresets() {
    manwindow w;
    auto* combo = child<QComboBox>(w, "comboBox_View");
    const std::array<std::array<double, 3>, 3> directions = {{{0, 1.2, -0.2}, {0, 0, -1}, {1, 0, -0.2}}};
    const std::vector<ScenePoint> extent = {{-1000, -1000, 0}, {1000, -1000, 0}, {-1000, 1000, 0}, {1000, 1000, 0}};
    for (int index : {0, 2, 1}) {  // the list starts at 1, the view's own preset
      combo->setCurrentIndex(index);
      const auto c = w.cloudView().camera();
      const std::array<double, 3> d = {c[3] - c[0], c[4] - c[1], c[5] - c[2]};
      const auto& e = directions[index];
      const double across = std::hypot(d[1] * e[2] - d[2] * e[1], d[2] * e[0] - d[0] * e[2], d[0] * e[1] - d[1] * e[0]);
      QVERIFY(across < 1e-6 * std::hypot(d[0], d[1], d[2]) && d[0] * e[0] + d[1] * e[1] + d[2] * e[2] > 0);
      QCOMPARE(w.cloudView().fractionInView(extent), 1.0);
    }
  }

  // The grid: 102 lines, 25 rings of 36 segments, 13 labels, with their ids;
  // hidden again, every shape goes; "Clear" removes clouds and shapes.
  void gridAxesAndClear() {
    manwindow w;
    auto* grid = child<QToolButton>(w, "toolButton_MeaGrid");
    grid->click();
    const auto ids = w.cloudView().shapeIds();
    const std::set<std::string> set(ids.begin(), ids.end());
    QCOMPARE(set.size(), std::size_t(102 + 25 * 36 + 13));
    for (const char* id : {"Line-5000", "Line5000", "Line-4959", "Line5041", "Circle2000", "Circle20010",
                           "Circle5000350", "Circle2", "Circle50"})
      QVERIFY2(set.count(id), id);
    grid->click();
    QVERIFY(w.cloudView().shapeIds().empty());

    child<QToolButton>(w, "toolButton_Coor")->click();
    QVERIFY(w.cloudView().contains(PointCloudView::kAxesId));
    child<QToolButton>(w, "toolButton_Coor")->click();
    QVERIFY(!w.cloudView().contains(PointCloudView::kAxesId));

    grid->click();
    w.CalculateCoordinates(simulatedRevolutions(Layout::Protocol17).at(1));
    QTRY_VERIFY(w.frameDisplay().framesDrawn() == 1);
    QVERIFY(w.cloudView().cloudCount() == 2);
    child<QToolButton>(w, "toolButton_clear")->click();
    QCOMPARE(w.cloudView().cloudCount(), std::size_t(0));
    QVERIFY(w.cloudView().shapeIds().empty());
  }

  // The display pause: its text and icon swap, and records are ignored
  // (the picture and the last frame stay) until it is pressed again.
  void displayPauseIgnoresRecords() {
    manwindow w;
    const auto revolutions = simulatedRevolutions(Layout::Protocol17);
    auto* pause = child<QToolButton>(w, "tolbtn_offdata");
    w.CalculateCoordinates(revolutions.at(1));
    QTRY_COMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(1));
    pause->click();
    QCOMPARE(pause->text(), QString("Paly "));
    QVERIFY(sameImage(pause->icon(), ":/image/Resources/images/Green.png"));
    QVERIFY(!w.frameDisplay().running());
    w.CalculateCoordinates(revolutions.at(2));
    QCoreApplication::processEvents();
    QCOMPARE(w.frameDisplay().latest().timestamp, revolutions.at(1).timestamp);
    QCOMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(1));
    pause->click();
    QCOMPARE(pause->text(), QString("Pause"));
    QVERIFY(sameImage(pause->icon(), ":/image/Resources/images/Red.png"));
    w.CalculateCoordinates(revolutions.at(2));
    QTRY_COMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(2));
  }

  // Records that arrive faster than the window draws: the newest wins, the
  // others are counted as dropped for display.
  void framesComeFasterThanTheyAreDrawn() {
    manwindow w;
    const auto revolutions = simulatedRevolutions(Layout::Protocol17);
    for (int i = 0; i < 5; ++i) w.CalculateCoordinates(revolutions.at(1 + i % 2));
    QTRY_COMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(1));
    QCOMPARE(w.frameDisplay().framesMerged(), std::uint64_t(4));
    QCOMPARE(w.frameDisplay().latest().timestamp, revolutions.at(1).timestamp);
  }

  // The factory buttons stay hidden unless the program starts with
  // --factory; then they open the advanced window and the channel selection.
  void factoryButtonsOnlyWithTheOption() {
    for (const bool factory : {false, true}) {
      StartupOptions options;
      options.factory = factory;
      manwindow w(options);
      w.show();
      for (const char* name : {"Btn_ACWPSetting", "Btn_Channel"})
        QCOMPARE(!child<QToolButton>(w, name)->isHidden(), factory);
      if (!factory) continue;
      child<QToolButton>(w, "Btn_Channel")->click();
      QVERIFY(w.laserSelection().isVisible());
      w.laserSelection().hide();
    }
  }

  // The status line's revolutions per second are the sensor's, read from its
  // own clock: revolutions of the simulator at 600 rpm handed to the window
  // as fast as it takes them, with the display paused, read 10; the first
  // figures come with the first frame.
  void statusLineShowsTheSensorsRate() {
    manwindow w;
    const auto revolutions = simulatedRevolutions(Layout::Protocol17, 300);
    QVERIFY(revolutions.size() >= 25);
    child<QToolButton>(w, "tolbtn_offdata")->click();  // display paused
    w.CalculateCoordinates(revolutions.at(1));
    QVERIFY(w.statusLine().contains("3630 points/rev"));
    for (std::size_t i = 2; i < revolutions.size(); ++i) w.CalculateCoordinates(revolutions.at(i));
    const QRegularExpression rate("([0-9.]+) rev/s");
    QTRY_VERIFY(rate.match(w.statusLine()).captured(1).toDouble() > 0);
    const double perSecond = rate.match(w.statusLine()).captured(1).toDouble();
    QVERIFY2(perSecond >= 9 && perSecond <= 11, qPrintable(w.statusLine()));
    QCOMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(0));
  }

  // The simulated room with the grid on, as an operator sees it: saved as a
  // PNG beside the test, and checked to show the room's points in their
  // colours where they belong.
  void screenshotOfTheSimulatedRoom() {
    StartupOptions options;
    options.layout = 1;
    manwindow w(options);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    child<QToolButton>(w, "toolButton_MeaGrid")->click();
    for (int i = 0; i < 2; ++i) w.cloudView().pressKey('+', "plus");  // 3-pixel points
    child<QComboBox>(w, "comboBox_View")->setCurrentIndex(1);         // from above
    w.CalculateCoordinates(simulatedRevolutions(Layout::Protocol17).at(1));
    QTRY_COMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(1));
    w.cloudView().resetCamera();
    w.cloudView().repaint();

    const QImage shot = w.cloudView().picture();
    const QString dir = QCoreApplication::applicationDirPath();
    QVERIFY(w.cloudView().windowPicture(w).save(dir + "/main_window_room.png"));
    QVERIFY(shot.save(dir + "/main_window_room_view.png"));

    const auto points = w.cloudView().displayedPoints();
    QVERIFY(points.size() > 1000);
    int inside = 0, matching = 0;
    for (const auto& p : points) {
      double px = 0, py = 0;
      if (!w.cloudView().sceneToWidget(p.p.x, p.p.y, p.p.z, px, py)) continue;
      ++inside;
      // The point's colour within a pixel of where it lands.
      bool found = false;
      for (int dy = -1; dy <= 1 && !found; ++dy)
        for (int dx = -1; dx <= 1 && !found; ++dx) {
          const QPoint at(int(std::lround(px)) + dx, int(std::lround(py)) + dy);
          if (!shot.rect().contains(at)) continue;
          const QColor c = shot.pixelColor(at);
          found = std::abs(c.red() - p.colour.r) <= 8 && std::abs(c.green() - p.colour.g) <= 8 &&
                  std::abs(c.blue() - p.colour.b) <= 8;
        }
      matching += found;
    }
    QVERIFY2(inside > int(points.size() * 9 / 10),
             qPrintable(QString("%1 of %2 in view").arg(inside).arg(points.size())));
    QVERIFY2(matching > inside * 8 / 10,
             qPrintable(QString("%1 of %2 shown in their colour").arg(matching).arg(inside)));
    // Far from the room the view is black or grid lines, not points.
    int coloured = 0;
    for (int x = 0; x < 40; ++x) {
      const QColor c = shot.pixelColor(x, shot.height() / 2);
      coloured += c.red() != c.green() || c.green() != c.blue();
    }
    QCOMPARE(coloured, 0);
  }
};

int main(int argc, char** argv) {
  PointCloudView::prepareSurfaceFormat();
  QApplication app(argc, argv);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_main_window.moc"
