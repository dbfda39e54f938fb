// The main window's CSV export (the frozen frame, frame by frame, and what
// it refuses) driven through the save-data options window, and the marked
// region: its box, its table rows and its statistics line.
#include <QVTKOpenGLStereoWidget.h>

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "CsvExport.h"
#include "FileDialogs.h"
#include "FullDiskTestSupport.h"
#include "LiveDataReceiver.h"
#include "LoopbackTestSupport.h"
#include "MessageRecorder.h"
#include "PointCloudView.h"
#include "RecordMetaTypes.h"
#include "SaveDataOptions.h"
#include "SimulatorTestSupport.h"
#include "WindowTestSupport.h"
#include "manwindow.h"

using namespace z540k;
using namespace z540k::test;

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A frame with measurements at known places (protocol 1.6: a raw count is
// half a millimetre): two 2.7 cm either side of the sensor (azimuths 90 and
// 270), and a ring of 36 at one metre.
LidarDataSingleLine knownFrame(unsigned long long firstTime) {
  LidarDataSingleLine r;
  auto add = [&](double azimuth, double raw, int intensity) {
    r.azimuth.push_back(azimuth);
    r.distance.push_back(raw);
    r.intensity.push_back(intensity);
    r.timestamp.push_back(firstTime + r.timestamp.size());
  };
  add(90, 13.5, 10);
  add(270, 13.5, 20);
  for (int i = 0; i < 36; ++i) add(i * 10.0 + 5, 2000, 100 + i);
  return r;
}

// The window with "Lidar" pressed (on held ports, nothing sent to them):
// exports need the receivers running.
struct LiveWindow {
  HeldUdpPort data, status;
  std::unique_ptr<manwindow> window;
  LiveWindow() {
    window = std::make_unique<manwindow>(loopbackWindowOptions(data.port(), status.port()));
    child<QToolButton>(*window, "toolButton_Lidar")->click();
  }
  manwindow& operator*() { return *window; }
  manwindow* operator->() { return window.get(); }

  void exportWith(const QString& frames, const QString& angleMin, const QString& angleMax) {
    startExport(*window, frames, angleMin, angleMax);
  }
};

// The file dialogs answer with a path in a folder of the test's own.
struct SavePath {
  QTemporaryDir dir;
  QString path = dir.filePath("export.csv");
  QString filter;  // the filters the dialog offered last
  FileDialogResponder previous;
  explicit SavePath(bool cancel = false) {
    previous = setFileDialogResponder([this, cancel](FileDialogKind, const QString&, const QString&, const QString& f) {
      filter = f;
      return cancel ? QString() : path;
    });
  }
  ~SavePath() { setFileDialogResponder(previous); }
};

std::string expectedFile(const std::vector<LidarDataSingleLine>& frames, CsvFrameKind kind, CsvExportOptions options) {
  std::string text = std::string(kCsvHeader) + "\n";
  int id = 1;
  for (const auto& f : frames) appendCsvFrame(text, f, id++, options, kind);
  return text;
}

}  // namespace

class WindowExportAndPickingTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  // Before "Lidar" the export is refused with its message.
  void exportNeedsTheReceivers() {
    MessageRecorder messages;
    manwindow w;
    child<QToolButton>(w, "Btn_SaveCSV")->click();
    QCOMPARE(messages.messages.size(), std::size_t(1));
    QCOMPARE(messages.last().title, QString("提示"));
    QCOMPARE(messages.last().text, QString("请先连接雷达！"));
    QVERIFY(!w.saveDataOptions().isVisible());
  }

  // The display paused: the frame on screen is written at once, rounded half
  // up to whole centimetres (2.7 becomes 3, -2.7 becomes -2), with no
  // message.
  void frozenFrame() {
    MessageRecorder messages;
    SavePath file;
    LiveWindow w;
    const LidarDataSingleLine frame = knownFrame(500);
    w->CalculateCoordinates(frame);
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(1));
    child<QToolButton>(*w, "tolbtn_offdata")->click();
    w.exportWith("1", "0", "360");
    QVERIFY(!w->csvExport().active());
    CsvExportOptions options;  // protocol 1.6, view mode 1 (whole centimetres)
    const std::string written = readAll(file.path.toStdString());
    QCOMPARE(written, expectedFile({frame}, CsvFrameKind::Frozen, options));
    QVERIFY(written.find("\n1,3,0,0,10,90,") != std::string::npos);
    QVERIFY(written.find("\n1,-2,0,0,20,270,") != std::string::npos);
    QVERIFY(messages.messages.empty());
  }

  // Frame by frame: the next three records go to the file (truncated toward
  // zero: 2.7 becomes 2), the view shows empty clouds meanwhile, and the
  // completion message follows the third. A range of 5 to 5 is widened to
  // 4.5 to 5.5 by the options window.
  void frameByFrame() {
    MessageRecorder messages;
    SavePath file;
    LiveWindow w;
    w.exportWith("3", "5", "5");
    QVERIFY(w->csvExport().active());
    // Many more on their way than the display needs, and still a bound.
    QVERIFY(w->liveReceiver().maxRecordsInFlight.load() > GetlidarData_1::kDefaultRecordsInFlight);
    std::vector<LidarDataSingleLine> frames;
    for (int i = 0; i < 3; ++i) {
      frames.push_back(knownFrame(1000 * (i + 1)));
      w->CalculateCoordinates(frames.back());
      QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(i + 1));
      QCOMPARE(w->cloudView().cloudSize(PointCloudView::kDisplayCloudId), std::size_t(0));
      if (i < 2)  // the view says why it is empty
        QCOMPARE(w->cloudView().notice(),
                 std::string(i ? "Exporting: 2 frames written" : "Exporting: 1 frame written"));
    }
    QVERIFY(!w->csvExport().active());
    QApplication::processEvents();
    QCOMPARE(w->cloudView().notice(), std::string());
    QCOMPARE(messages.messages.size(), std::size_t(1));
    QCOMPARE(messages.last().title, QString("提示"));
    QCOMPARE(messages.last().text, QString("保存CSV文件完成！"));
    CsvExportOptions options;
    options.angleMin = 4.5f;
    options.angleMax = 5.5f;
    const std::string written = readAll(file.path.toStdString());
    QCOMPARE(written, expectedFile(frames, CsvFrameKind::Arriving, options));
    QVERIFY(written.find("\n3,") != std::string::npos && written.find("\n4,") == std::string::npos);
    QVERIFY(w->liveReceiver().maxRecordsInFlight.load() > 0);
    // Drawn again once the export is over.
    w->CalculateCoordinates(frames[0]);
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(4));
    QVERIFY(w->cloudView().cloudSize(PointCloudView::kDisplayCloudId) > 0);
  }

  // Revolutions dropped on their way between two frames of the export are
  // missing from the file: the completion message says how many (those
  // before its first frame are not its own).
  void frameByFrameWithRevolutionsDropped() {
    MessageRecorder messages;
    SavePath file;
    LiveWindow w;
    w.exportWith("2", "0", "360");
    emit w->liveReceiver().SendRevolutionsDropped(5);
    w->CalculateCoordinates(knownFrame(1000));
    emit w->liveReceiver().SendRevolutionsDropped(2);
    w->CalculateCoordinates(knownFrame(2000));
    QVERIFY(!w->csvExport().active());
    QCOMPARE(messages.last().text,
             QString("保存CSV文件完成！\n2 revolutions arriving between its frames were dropped on "
                     "their way and are missing from the file."));
  }

  // A 1000-frame export stopped after 7 frames: the file holds exactly those
  // 7 under the chosen name, and the message says how many of how many.
  // Quitting during an export asks the same; "No" keeps the window open.
  void stoppingAnExportKeepsWhatItWrote() {
    MessageRecorder messages(QMessageBox::No);
    SavePath file;
    LiveWindow w;
    w.exportWith("1000", "0", "360");
    std::vector<LidarDataSingleLine> frames;
    for (int i = 0; i < 7; ++i) {
      frames.push_back(knownFrame(100 * (i + 1)));
      w->CalculateCoordinates(frames.back());
    }
    QVERIFY(!w->close());  // "No": the export goes on, the window stays
    QVERIFY(w->csvExport().active());
    QCOMPARE(messages.last().text, QString("Stop the export and keep the 7 frames written?"));
    QVERIFY(!QFile::exists(file.path));  // written beside it until complete
    messages.answerWith(QMessageBox::Yes);
    child<QToolButton>(*w, "Btn_SaveCSV")->click();
    QVERIFY(!w->csvExport().active());
    QCOMPARE(messages.last().text, QString("保存CSV文件完成！\n7 of 1000 frames were written."));
    CsvExportOptions options;
    QCOMPARE(readAll(file.path.toStdString()), expectedFile(frames, CsvFrameKind::Arriving, options));
  }

  // The export holds still while the stop question is open: frames arriving
  // meanwhile are counted, not written, whether the answer is "No" (the
  // export goes on after them) or "Yes" (exactly the frames asked about are
  // kept), and the closing message says how many.
  void theStopQuestionKeepsTheCountAsked() {
    MessageRecorder messages(QMessageBox::No);
    SavePath file;
    LiveWindow w;
    w.exportWith("1000", "0", "360");
    std::vector<LidarDataSingleLine> written;
    int arriving = 0;
    messages.whileOpen = [&](const RecordedMessage& m) {
      if (m.title != "Question") return;
      for (int i = 0; i < 3; ++i) w->CalculateCoordinates(knownFrame(7000 + ++arriving));
    };
    for (int i = 0; i < 4; ++i) {
      written.push_back(knownFrame(100 * (i + 1)));
      w->CalculateCoordinates(written.back());
      if (i == 1) child<QToolButton>(*w, "Btn_SaveCSV")->click();  // "No"
    }
    messages.answerWith(QMessageBox::Yes);
    child<QToolButton>(*w, "Btn_SaveCSV")->click();
    QCOMPARE(messages.messages[messages.messages.size() - 2].text,
             QString("Stop the export and keep the 4 frames written?"));
    QVERIFY(!w->csvExport().active());
    QCOMPARE(messages.last().text, QString("保存CSV文件完成！\n4 of 1000 frames were written.\n6 frames arriving while "
                                           "the stop question was open were not written."));
    QCOMPARE(readAll(file.path.toStdString()), expectedFile(written, CsvFrameKind::Arriving, CsvExportOptions{}));
  }

  // The ruler (with its button down) takes the drawn points nearest two
  // clicks: the view draws it and the status line gives its ends and length;
  // a click far from every point says so; Clear removes it.
  void rulerOnDrawnPoints() {
    LiveWindow w;
    w->CalculateCoordinates(knownFrame(500));
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(1));
    const std::vector<ColouredPoint> drawn = w->cloudView().displayedPoints();
    QVERIFY(drawn.size() > 20);
    const ScenePoint a = drawn[2].p, b = drawn[20].p;
    child<QToolButton>(*w, "toolButton_Ruler")->click();
    // A click on the view where `a` is drawn (a press and release at one
    // pixel); then a click near `b`, as the view hands it on.
    auto* screen = child<QVTKOpenGLStereoWidget>(*w, "screen");
    double px = 0, py = 0;
    QVERIFY(w->cloudView().sceneToWidget(a.x, a.y, a.z, px, py));
    dragOver(*screen, QPoint(int(px), int(py)), QPoint(int(px), int(py)));
    QCOMPARE(w->ruler().ends().size(), std::size_t(1));
    QCOMPARE(w->ruler().ends()[0].x, a.x);
    w->onRulerClick(b.x - 5, b.y);
    QCOMPARE(w->ruler().ends().size(), std::size_t(2));
    QCOMPARE(w->ruler().ends()[1].x, b.x);
    QVERIFY(w->cloudView().contains(PointCloudView::kRulerLineId));
    QVERIFY2(w->statusLine().contains(QString("ruler: A ") + QString::fromStdString(w->ruler().text()).mid(2)),
             qPrintable(w->statusLine()));
    QVERIFY(w->statusLine().contains(QString(": A-B %1 m").arg(std::hypot(a.x - b.x, a.y - b.y) / 100, 0, 'f', 3)));
    w->onRulerClick(-9000, 9000);
    QVERIFY(w->statusLine().contains("(no point within 30 cm of the click)"));
    child<QToolButton>(*w, "toolButton_clear")->click();
    QVERIFY(w->ruler().ends().empty() && !w->statusLine().contains("ruler:"));
    QVERIFY(!w->cloudView().contains(PointCloudView::kRulerLineId));
  }

  // Trails typed into their box keep exactly that many revolutions in the
  // display cloud; back at 1 the view draws the newest alone.
  void trailsKeepTheLastRevolutions() {
    LiveWindow w;
    auto* box = child<QSpinBox>(*w, "spinBox_Trails");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "4");
    QCOMPARE(w->trails().length(), 4);
    std::uint64_t drawn = 0;
    auto draw = [&] {
      w->CalculateCoordinates(knownFrame(100 * ++drawn));
      QTRY_COMPARE(w->frameDisplay().framesDrawn(), drawn);
    };
    draw();
    const std::size_t perRevolution = w->cloudView().cloudSize(PointCloudView::kDisplayCloudId);
    QVERIFY(perRevolution > 0);
    for (int i = 0; i < 5; ++i) draw();
    QCOMPARE(w->trails().revolutions(), std::size_t(4));
    QCOMPARE(w->cloudView().cloudSize(PointCloudView::kDisplayCloudId), 4 * perRevolution);
    box->selectAll();
    QTest::keyClicks(box, "1");
    draw();
    QCOMPARE(w->cloudView().cloudSize(PointCloudView::kDisplayCloudId), perRevolution);
  }

  // The dialog offers the point cloud formats after the CSV; a name ending
  // in .pcd or .ply gets the same points as a cloud: the frozen frame, or
  // the frames written as they arrive merged into one file.
  void pointCloudFiles() {
    MessageRecorder messages;
    SavePath file;
    LiveWindow w;
    const LidarDataSingleLine frame = knownFrame(500);
    w->CalculateCoordinates(frame);
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(1));
    child<QToolButton>(*w, "tolbtn_offdata")->click();
    file.path = file.dir.filePath("frozen.pcd");
    w.exportWith("1", "0", "360");
    QVERIFY(file.filter.startsWith("CSV (*.csv);;Point cloud (*.pcd);;Point cloud (*.ply)"));
    const std::string pcd = readAll(file.path.toStdString());
    QVERIFY(pcd.find("FIELDS x y z intensity azimuth distance timestamp frame point\n") != std::string::npos);
    QVERIFY(pcd.find("\nPOINTS 38\nDATA binary_compressed\n") != std::string::npos);

    child<QToolButton>(*w, "tolbtn_offdata")->click();
    file.path = file.dir.filePath("arriving.ply");
    w.exportWith("3", "0", "360");
    // A measurement without a return is no point: left out, as the tool
    // leaves it out, and said.
    for (int i = 0; i < 3; ++i) {
      LidarDataSingleLine arriving = knownFrame(1000 * (i + 1));
      if (i == 1) arriving.distance[5] = 0;
      w->CalculateCoordinates(arriving);
    }
    QVERIFY(!w->csvExport().active());
    QCOMPARE(messages.last().text,
             QString("保存CSV文件完成！\n1 measurement without a return was left out of the cloud."));
    QVERIFY(readAll(file.path.toStdString()).find("\nelement vertex 113\n") != std::string::npos);
  }

#ifdef Z540K_WITH_ROS
  // With ROS the dialog offers a bag: the frames as they arrive written as
  // export-bag writes them (LaserScan and point cloud per revolution), read
  // back through rosbag.
  void rosBag() {
    MessageRecorder messages;
    SavePath file;
    LiveWindow w;
    file.path = file.dir.filePath("arriving.bag");
    w.exportWith("3", "0", "360");
    QVERIFY(file.filter.endsWith(";;ROS bag (*.bag)"));
    for (int i = 0; i < 3; ++i) w->CalculateCoordinates(knownFrame(1000 * (i + 1)));
    QVERIFY(!w->csvExport().active());
    QCOMPARE(messages.last().text, QString("保存CSV文件完成！"));
    QProcess python;
    startPython(python,
                {"-c",
                 "import sys, rosbag\n"
                 "from sensor_msgs import point_cloud2\n"
                 "b = rosbag.Bag(sys.argv[1])\n"
                 "scans = [m for _, m, _ in b.read_messages(topics=['scan'])]\n"
                 "clouds = [list(point_cloud2.read_points(m)) for _, m, _ in b.read_messages(topics=['cloud'])]\n"
                 "print(len(scans), len(clouds), sum(map(len, clouds)), round(clouds[0][0][1], 4))\n",
                 file.path});
    QVERIFY(python.waitForFinished(60000));
    QCOMPARE(python.exitCode(), 0);
    // 38 points a frame; the first at azimuth 90 (13.5 counts of 2 mm) lies on the robot's right.
    QCOMPARE(QString(python.readAllStandardOutput()).trimmed(), QString("3 3 114 -0.027"));
  }
#endif

  // A cancelled file dialog exports nothing; a file that cannot be written
  // is reported and nothing is counted; a new export while one runs is
  // refused and the running one goes on.
  void refusals() {
    MessageRecorder messages;
    LiveWindow w;
    {
      SavePath cancelled(true);
      w.exportWith("2", "0", "360");
      QVERIFY(!w->csvExport().active());
      QVERIFY(messages.messages.empty());
    }
    {
      SavePath unwritable;
      unwritable.path = unwritable.dir.filePath("no-such-folder/export.csv");
      w.exportWith("2", "0", "360");
      QVERIFY(!w->csvExport().active());
      QCOMPARE(messages.messages.size(), std::size_t(1));
      QCOMPARE(messages.last().title, QString("error"));
    }
    SavePath file;
    w.exportWith("2", "0", "360");
    QVERIFY(w->csvExport().active());
    // SaveData again offers to stop the export; "No" lets it go on.
    messages.answerWith(QMessageBox::No);
    child<QToolButton>(*w, "Btn_SaveCSV")->click();
    QCOMPARE(messages.messages.size(), std::size_t(2));
    QCOMPARE(messages.last().title, QString("Question"));
    QCOMPARE(messages.last().text, QString("Stop the export and keep the 0 frames written?"));
    QVERIFY(!w->saveDataOptions().isVisible());
    QVERIFY(w->csvExport().active());
    w->CalculateCoordinates(knownFrame(1));
    w->CalculateCoordinates(knownFrame(2));
    QVERIFY(!w->csvExport().active());
    QCOMPARE(messages.last().text, QString("保存CSV文件完成！"));
  }

  // A disk that fills up (a 1 MB file size limit) during an export of 1000
  // arriving frames: the export ends with the first frame after the failed
  // write (only the writer's few batches of some 9 frames were on their way),
  // its message names the file and the system's reason, the earlier file
  // stays and nothing is left beside it; no revolution is dropped any more.
  void aFullDiskEndsTheExportAtOnce() {
    MessageRecorder messages;
    SavePath file;
    std::ofstream(file.path.toStdString()) << "an earlier export\n";
    LiveWindow w;
    w.exportWith("1000", "0", "360");
    QVERIFY(w->csvExport().active());
    LidarDataSingleLine frame;
    for (int i = 0; i < 3600; ++i) {
      frame.azimuth.push_back(i / 10.0);
      frame.distance.push_back(2000 + i);
      frame.intensity.push_back(i % 256);
      frame.timestamp.push_back(1000 + i);
    }
    int handed = 0;
    {
      const FileSizeLimit limit(1 << 20);
      QVERIFY(limit.active());
      for (; handed < 1000 && w->csvExport().active(); ++handed) w->CalculateCoordinates(frame);
    }
    QVERIFY(!w->csvExport().active());
    QVERIFY2(handed < 100, QByteArray::number(handed));
    QCOMPARE(messages.messages.size(), std::size_t(1));
    QVERIFY(messages.last().kind == MessageKind::Critical);
    QCOMPARE(messages.last().title, QString("error"));
    QCOMPARE(messages.last().text, "The file could not be written: writing " + file.path +
                                       " failed: " + QString::fromLocal8Bit(std::strerror(EFBIG)) + "; " + file.path +
                                       " was left unchanged");
    QCOMPARE(readAll(file.path.toStdString()), std::string("an earlier export\n"));
    QCOMPARE(folderEntries(file.dir.path().toStdString()), std::vector<std::string>{"export.csv"});
    QVERIFY(w->liveReceiver().maxRecordsInFlight.load() > 0);
  }

  // Picking four points of the ring marks their box; with the picture
  // frozen the matching measurements are listed; the statistics line shows
  // the first window of four once the fifth in-box measurement arrives;
  // "Clear" forgets the region.
  void pickedRegionAndItsStatistics() {
    LiveWindow w;
    const LidarDataSingleLine frame = knownFrame(1);
    w->CalculateCoordinates(frame);
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(1));
    const auto shown = w->cloudView().displayedPoints();
    // The ring's points at azimuths 5, 15, 25 and 35 (after the two near ones).
    const std::vector<int> picked = {2, 3, 4, 5};
    float xMin = 1e9, xMax = -1e9, yMin = 1e9, yMax = -1e9;
    for (int i : picked) {
      xMin = std::min(xMin, shown[i].p.x);
      xMax = std::max(xMax, shown[i].p.x);
      yMin = std::min(yMin, shown[i].p.y);
      yMax = std::max(yMax, shown[i].p.y);
    }
    child<QToolButton>(*w, "tolbtn_offdata")->click();  // frozen: rows listed at once
    w->onAreaPicked(picked);
    QVERIFY(w->regionPicking().picked());
    const SelectionBox box = w->regionPicking().box();
    QCOMPARE(box.xMin, xMin);
    QCOMPARE(box.xMax, xMax);
    QCOMPARE(box.yMin, yMin);
    QCOMPARE(box.yMax, yMax);
    QCOMPARE(w->cloudView().cloudSize(PointCloudView::kSelectionCloudId), picked.size());
    QCOMPARE(w->pointTableModel()->rowCount(), 4);
    QCOMPARE(w->pointTableModel()->item(0, 2)->text(), QString("5.000"));

    // Live again: the region's measurements of each frame feed the statistics.
    child<QToolButton>(*w, "tolbtn_offdata")->click();
    w->CalculateCoordinates(frame);
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(2));
    QCOMPARE(w->cloudView().cloudSize(PointCloudView::kSelectionCloudId), std::size_t(4));
    QVERIFY(w->cloudView().textLine().find("x_Min") == std::string::npos);  // four counted, none shown yet
    w->CalculateCoordinates(frame);
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(3));
    double xSum = 0, ySum = 0;
    for (int i : picked) xSum += shown[i].p.x, ySum += shown[i].p.y;
    const QString expected = QString(
                                 "x_Min:%1    x_Max:%2    x_Average:%3    x_Error:%4\ny_Min:%5    y_Max:%6    "
                                 "y_Average:%7    y_Error:%8")
                                 .arg(xMin, 0, 'f', 6)
                                 .arg(xMax, 0, 'f', 6)
                                 .arg(xSum / 4, 0, 'f', 6)
                                 .arg(xMax - xMin, 0, 'f', 6)
                                 .arg(yMin, 0, 'f', 6)
                                 .arg(yMax, 0, 'f', 6)
                                 .arg(ySum / 4, 0, 'f', 6)
                                 .arg(yMax - yMin, 0, 'f', 6);
    QCOMPARE(QString::fromStdString(w->cloudView().textLine()), expected);

    // Frames that come faster than they are drawn are measured all the same.
    const std::uint64_t measured = w->regionPicking().statistics().measured();
    const std::uint64_t drawn = w->frameDisplay().framesDrawn();
    for (int i = 0; i < 5; ++i) w->CalculateCoordinates(frame);
    QCOMPARE(w->regionPicking().statistics().measured(), measured + 5 * picked.size());
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), drawn + 1);

    child<QToolButton>(*w, "toolButton_clear")->click();
    QVERIFY(!w->regionPicking().picked());
    QCOMPARE(w->regionPicking().box().xMax, 0.0f);
    QCOMPARE(w->cloudView().cloudCount(), std::size_t(0));
  }

  // "Select", then a rectangle dragged over the view: the viewer's own area
  // picking hands the points under it to the window, which marks the region
  // and leaves the selection mode.
  void draggingARectanglePicksPoints() {
    LiveWindow w;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    w->CalculateCoordinates(knownFrame(1));
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(1));
    child<QToolButton>(*w, "toolButton_selectCloud")->click();
    QVERIFY(w->regionPicking().selecting());
    auto* screen = child<QVTKOpenGLStereoWidget>(*w, "screen");
    const QPoint from(2, 2), to(screen->width() - 3, screen->height() - 3);
    auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
      QMouseEvent e(type, at, screen->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
      QApplication::sendEvent(screen->embeddedOpenGLWindow(), &e);
    };
    mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
    mouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    mouse(QEvent::MouseMove, to, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    QTRY_VERIFY(w->regionPicking().picked());
    QVERIFY(!w->regionPicking().selecting());
    QCOMPARE(w->cloudView().cloudSize(PointCloudView::kSelectionCloudId), w->cloudView().displayedPoints().size());
  }

  // Keys typed in the view: "x" selects as "Select" does, "+" grows the
  // points; every other key the interaction knows leaves the view, the
  // working folder and the window as they were. The table takes no typing.
  void viewKeysAndTheTable() {
    QTemporaryDir folder;
    const QString workingFolder = QDir::currentPath();
    QDir::setCurrent(folder.path());
    LiveWindow w;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    w->CalculateCoordinates(knownFrame(1));
    QTRY_COMPARE(w->frameDisplay().framesDrawn(), std::uint64_t(1));
    QWindow* view = child<QVTKOpenGLStereoWidget>(*w, "screen")->embeddedOpenGLWindow();
    const auto camera = w->cloudView().camera();
    for (const char key : QByteArray("jJcCrRfFoOuUgGlLhHpPwWsS3eEqQ1579")) QTest::keyClick(view, key);
    QDir::setCurrent(workingFolder);
    QCOMPARE(w->cloudView().camera(), camera);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(w->isVisible());
    QVERIFY(!w->regionPicking().selecting());
    QTest::keyClick(view, 'x');
    QVERIFY(w->regionPicking().selecting());
    QTest::keyClick(view, 'x');
    QVERIFY(!w->regionPicking().selecting());
    QTest::keyClick(view, '+');
    QCOMPARE(w->currentPointSize(), 2);

    auto* table = child<QTableView>(*w, "tableView");
    const QModelIndex cell = table->model()->index(0, 1);
    const QString shown = cell.data().toString();
    QVERIFY(!shown.isEmpty());
    table->setCurrentIndex(cell);
    const QRect at = table->visualRect(cell);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at.center());
    QTest::keyClicks(table->viewport(), "99");
    QTest::keyClick(table->viewport(), Qt::Key_Return);
    QCOMPARE(cell.data().toString(), shown);
  }

  // Rectangles dragged again and again while the simulated sensor's frames
  // replace the clouds, drawn or frozen: every pick marks exactly the points
  // of the frame on screen under its rectangle.
  void pickingAgainAndAgainWhileFramesArrive_data() {
    QTest::addColumn<bool>("paused");
    QTest::newRow("drawing") << false;
    QTest::newRow("paused") << true;
  }
  void pickingAgainAndAgainWhileFramesArrive() {
    QFETCH(bool, paused);
    SimulatedSensorFeed sensor(60);
    manwindow w(sensor.options());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    child<QToolButton>(w, "toolButton_Lidar")->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.frameDisplay().framesDrawn() >= 3, 10000);
    if (paused) child<QToolButton>(w, "tolbtn_offdata")->click();
    auto* screen = child<QVTKOpenGLStereoWidget>(w, "screen");
    for (int pick = 0; pick < 50; ++pick) {
      // Drawing, a new frame replaces the clouds before each pick; paused,
      // the picks replace the marked points themselves.
      const std::uint64_t drawn = w.frameDisplay().framesDrawn();
      if (!paused) QTRY_VERIFY_WITH_TIMEOUT(w.frameDisplay().framesDrawn() > drawn, 5000);
      // Growing rectangles around a point of the room, from either corner.
      const std::vector<ColouredPoint> before = w.cloudView().displayedPoints();
      QVERIFY(!before.empty());
      const int half = 6 + pick * 2;
      double cx = -1, cy = -1;
      for (std::size_t i = 0; i < before.size(); ++i) {
        const ScenePoint& p = before[(pick * 7919 + i) % before.size()].p;
        if (w.cloudView().sceneToWidget(p.x, p.y, p.z, cx, cy) && cx >= half && cy >= half &&
            cx < screen->width() - half && cy < screen->height() - half)
          break;
      }
      QVERIFY(cx >= half && cy >= half);
      QPoint from = QPointF(cx, cy).toPoint() - QPoint(half, half), to = QPointF(cx, cy).toPoint() + QPoint(half, half);
      if (pick % 2) std::swap(from, to);
      child<QToolButton>(w, "toolButton_selectCloud")->click();
      QVERIFY(w.regionPicking().selecting());
      dragOver(*screen, from, to);
      // What the view showed while the rectangle was dragged.
      const std::vector<ColouredPoint> shown = w.cloudView().displayedPoints();
      const QRect inner = QRect(from, to).normalized().adjusted(2, 2, -2, -2);
      const QRect outer = QRect(from, to).normalized().adjusted(-2, -2, 2, 2);
      std::size_t surely = 0, maybe = 0;
      for (const ColouredPoint& p : shown) {
        double px, py;
        if (!w.cloudView().sceneToWidget(p.p.x, p.p.y, p.p.z, px, py)) continue;
        surely += inner.contains(QPointF(px, py).toPoint());
        maybe += outer.contains(QPointF(px, py).toPoint());
      }
      QVERIFY(maybe > 0);  // the rectangles lie over the room
      QTRY_VERIFY(!w.regionPicking().selecting());
      const int count = w.regionPicking().pickedCount();
      QVERIFY2(
          count >= static_cast<int>(surely) && count <= static_cast<int>(maybe),
          qPrintable(
              QString("pick %1: %2 points, %3 to %4 under the rectangle").arg(pick).arg(count).arg(surely).arg(maybe)));
      QCOMPARE(w.cloudView().cloudSize(PointCloudView::kSelectionCloudId), std::size_t(count));
    }
  }

 private:
  // A rectangle dragged with the left button in the view.
  static void dragOver(QVTKOpenGLStereoWidget& screen, QPoint from, QPoint to) {
    auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
      QMouseEvent e(type, at, screen.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
      QApplication::sendEvent(screen.embeddedOpenGLWindow(), &e);
    };
    mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
    mouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    mouse(QEvent::MouseMove, to, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
  }
};

int main(int argc, char** argv) {
  PointCloudView::prepareSurfaceFormat();
  QApplication app(argc, argv);
  WindowExportAndPickingTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_window_export_and_picking.moc"
