// The 3-D view's camera presets and cursor readout in the main window: every
// preset shows the whole frame from its direction, with the axes and the grid
// on or off, and the readout gives the distance and azimuth of the place
// under the cursor, also while the display is paused.
#include <QVTKOpenGLStereoWidget.h>

#include <QComboBox>
#include <QMouseEvent>
#include <QToolButton>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "PointCloudView.h"
#include "RecordMetaTypes.h"
#include "SimulatorTestSupport.h"
#include "WindowTestSupport.h"
#include "manwindow.h"

using namespace z540k;
using namespace z540k::test;

namespace {

std::vector<ScenePoint> positions(const std::vector<ColouredPoint>& points) {
  std::vector<ScenePoint> out;
  for (const auto& p : points) out.push_back(p.p);
  return out;
}

// The camera's direction of projection and view-up, normalised.
std::array<double, 6> directionAndUp(const std::array<double, 9>& c) {
  std::array<double, 6> out{};
  double length = 0;
  for (int i = 0; i < 3; ++i) length += (c[3 + i] - c[i]) * (c[3 + i] - c[i]);
  double upLength = 0;
  for (int i = 0; i < 3; ++i) upLength += c[6 + i] * c[6 + i];
  for (int i = 0; i < 3; ++i) {
    out[i] = (c[3 + i] - c[i]) / std::sqrt(length);
    out[3 + i] = c[6 + i] / std::sqrt(upLength);
  }
  return out;
}

// A protocol 1.6 frame (a raw count is half a millimetre) of two walls, at
// x = +300 cm (azimuths 60..120) and at y = -300 cm (azimuths 150..210),
// and one point at x = -300 cm (azimuth 270).
LidarDataSingleLine twoWalls() {
  LidarDataSingleLine r;
  const auto add = [&r](double azimuth, double centimetres) {
    r.azimuth.push_back(azimuth);
    r.distance.push_back(centimetres * 5);
    r.intensity.push_back(100);
    r.timestamp.push_back(r.timestamp.size());
  };
  const double rad = 3.14159 / 180;
  for (double az = 60; az <= 120; az += 0.5) add(az, 300 / std::sin(az * rad));
  for (double az = 150; az <= 210; az += 0.5) add(az, 300 / std::fabs(std::cos(az * rad)));
  add(270, 300);
  return r;
}

// Moves the cursor over the screen widget to where a scene position is drawn,
// and returns the readout's distance and azimuth.
std::pair<double, double> readoutAt(manwindow& w, double x, double y) {
  auto* screen = child<QVTKOpenGLStereoWidget>(w, "screen");
  double px = 0, py = 0;
  if (!w.cloudView().sceneToWidget(x, y, 0, px, py)) return {-1, -1};
  QMouseEvent move(QEvent::MouseMove, QPointF(px, py), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(screen->embeddedOpenGLWindow(), &move);
  double distance = -1, azimuth = -1;
  std::sscanf(w.cloudView().textLine().c_str(), "Distance:%lf    Azimuth:%lf", &distance, &azimuth);
  return {distance, azimuth};
}

}  // namespace

class ViewCameraAndReadoutTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  // Front, top and left, with the axes and the grid on and off: the preset's
  // direction and view-up, the whole frame in view and filling a good part
  // of it, the axes a small mark at the sensor; the grid keeps the view.
  void presetsShowTheWholeFrame() {
    StartupOptions options;
    options.layout = 1;
    manwindow w(options);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // A live stream's first record may hold part of a revolution (here the
    // first quarter), the next all of it: the view takes in the whole room.
    const auto revolutions = simulatedRevolutions(Layout::Protocol17);
    LidarDataSingleLine part = revolutions.at(1);
    const auto quarter = std::find_if(part.azimuth.begin(), part.azimuth.end(), [](double az) { return az > 90; });
    part.azimuth.erase(quarter, part.azimuth.end());
    w.CalculateCoordinates(part);
    QTRY_COMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(1));
    w.CalculateCoordinates(revolutions.at(1));
    QTRY_COMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(2));
    PointCloudView& view = w.cloudView();
    const auto points = positions(view.displayedPoints());
    QVERIFY(points.size() > 1000);
    QVERIFY2(view.fractionInView(points) > 0.99, "the first frames are fitted");

    auto* combo = child<QComboBox>(w, "comboBox_View");
    auto* screen = child<QVTKOpenGLStereoWidget>(w, "screen");
    // Direction of projection (focal point minus position) and view-up.
    const std::array<std::array<double, 6>, 3> expected = {directionAndUp({0, -1, 0, 0, 0.2, -0.2, 0, 0, 1}),
                                                           directionAndUp({0, 0, 1, 0, 0, 0, 0, 1, 0}),
                                                           directionAndUp({-1, 0, 0, 0, 0, -0.2, 0, 0, 1})};
    bool gridShown = false, axesShown = false;
    for (bool grid : {false, true}) {
      for (bool axes : {false, true}) {
        if (grid != gridShown) {
          const auto before = view.camera();
          child<QToolButton>(w, "toolButton_MeaGrid")->click();
          gridShown = grid;
          if (grid) QCOMPARE(view.camera(), before);
        }
        if (axes != axesShown) {
          child<QToolButton>(w, "toolButton_Coor")->click();
          axesShown = axes;
          QCOMPARE(view.contains(PointCloudView::kAxesId), axes);
        }
        for (int preset : {1, 2, 0}) {
          const QString what = QString("preset %1, grid %2, axes %3").arg(preset).arg(grid).arg(axes);
          combo->setCurrentIndex(preset);
          const auto c = directionAndUp(view.camera());
          for (int i = 0; i < 3; ++i) QVERIFY2(std::fabs(c[i] - expected[preset][i]) < 1e-6, qPrintable(what));
          // The view-up as given, or its part across the direction.
          double upAcross = 0;
          for (int i = 0; i < 3; ++i) upAcross += c[3 + i] * expected[preset][3 + i];
          QVERIFY2(upAcross > 0.95, qPrintable(what));

          QVERIFY2(view.fractionInView(points) >= 0.9, qPrintable(what));
          // Not a speck in the middle: the frame spans a good part of the view.
          double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
          for (const auto& p : points) {
            double px = 0, py = 0;
            view.sceneToWidget(p.x, p.y, p.z, px, py);
            left = std::min(left, px), right = std::max(right, px);
            top = std::min(top, py), bottom = std::max(bottom, py);
          }
          QVERIFY2(right - left > screen->width() * 0.4 || bottom - top > screen->height() * 0.4, qPrintable(what));
          if (axes) {
            // The 50 cm axes stay within a tenth of the view.
            double x0 = 0, y0 = 0;
            QVERIFY2(view.sceneToWidget(0, 0, 0, x0, y0), qPrintable(what));
            for (const auto& tip : {std::array<double, 3>{50, 0, 0}, {0, 50, 0}, {0, 0, 50}}) {
              double x = 0, y = 0;
              QVERIFY2(view.sceneToWidget(tip[0], tip[1], tip[2], x, y), qPrintable(what));
              QVERIFY2(std::hypot(x - x0, y - y0) < screen->width() / 10.0, qPrintable(what));
            }
          }
        }
      }
    }
  }

  // The readout under the cursor on two walls and a point, seen from the
  // left (slanted): their distance in centimetres and their azimuth, while
  // frames are drawn and while the display is paused.
  void readoutUnderTheCursor() {
    manwindow w;  // protocol 1.6
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.CalculateCoordinates(twoWalls());
    QTRY_COMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(1));
    child<QComboBox>(w, "comboBox_View")->setCurrentIndex(2);

    auto [distance, azimuth] = readoutAt(w, 300, 0);
    QVERIFY2(std::fabs(distance - 300) < 6, qPrintable(QString::fromStdString(w.cloudView().textLine())));
    QVERIFY2(std::fabs(azimuth - 90) < 2, qPrintable(QString::fromStdString(w.cloudView().textLine())));
    // The newest frame reads the same place.
    w.CalculateCoordinates(twoWalls());
    QTRY_COMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(2));
    QCOMPARE(readoutAt(w, 300, 0).second, azimuth);

    child<QToolButton>(w, "tolbtn_offdata")->click();
    QVERIFY(!w.frameDisplay().running());
    // The text line's strip at the bottom of the view, as drawn.
    auto* screen = child<QVTKOpenGLStereoWidget>(w, "screen");
    const auto textStrip = [screen] { return screen->grabFramebuffer().copy(0, screen->height() - 30, 700, 30); };
    for (const auto& [x, y, expected] : {std::array<double, 3>{0, -300, 180}, {-300, 0, 270}, {300, 150, 63.43}}) {
      const QImage before = textStrip();
      std::tie(distance, azimuth) = readoutAt(w, x, y);
      const QString text = QString::fromStdString(w.cloudView().textLine());
      QVERIFY2(std::fabs(distance - std::hypot(x, y)) < 8, qPrintable(text));
      QVERIFY2(std::fabs(azimuth - expected) < 2, qPrintable(text));
      QTRY_VERIFY2(textStrip() != before, qPrintable(text));  // drawn without a frame
    }
    QCOMPARE(w.frameDisplay().framesDrawn(), std::uint64_t(2));
  }
};

int main(int argc, char** argv) {
  PointCloudView::prepareSurfaceFormat();
  QApplication app(argc, argv);
  ViewCameraAndReadoutTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_view_camera_and_readout.moc"
