// The marked region: its box, the frozen frame's rows inside it, and the
// statistics window with its line of text.
#include <gtest/gtest.h>

#include "RegionMeasurement.h"
#include "Ruler.h"
#include "SensorScene.h"
#include "Trails.h"

using namespace z540k;

namespace {

LidarDataSingleLine recordOf(std::initializer_list<std::pair<double, double>> distanceAndAzimuth) {
  LidarDataSingleLine r;
  int i = 0;
  for (const auto& [distance, azimuth] : distanceAndAzimuth) {
    r.distance.push_back(distance);
    r.intensity.push_back(10 + i);
    r.azimuth.push_back(azimuth);
    r.timestamp.push_back(1000 + i);
    ++i;
  }
  return r;
}

}  // namespace

// The box starts at the first point (not an extreme one) and widens; its
// bounds are inside. Nothing marked leaves the all-zero box, which takes only
// the origin.
TEST(RegionBoxTest, WidensFromTheFirstPointAndIncludesItsBounds) {
  const auto box = selectionBoxOf({{2, 110, 0}, {-10, 120, 0}, {10, 105, 0}, {0, 100, 0}});
  ASSERT_TRUE(box);
  EXPECT_EQ(box->xMin, -10);
  EXPECT_EQ(box->xMax, 10);
  EXPECT_EQ(box->yMin, 100);
  EXPECT_EQ(box->yMax, 120);
  EXPECT_EQ(box->zMin, 0);
  EXPECT_EQ(box->zMax, 0);
  EXPECT_TRUE(box->contains({10, 100, 0}));
  EXPECT_FALSE(box->contains({10.5f, 100, 0}));
  EXPECT_FALSE(box->contains({0, 99.9f, 0}));

  EXPECT_FALSE(selectionBoxOf({}));
  const SelectionBox cleared;
  EXPECT_TRUE(cleared.contains({0, 0, 0}));
  EXPECT_FALSE(cleared.contains({1, 0, 0}));
  EXPECT_FALSE(cleared.contains({0, -1, 0}));
}

// Raw 13.5 in protocol 1.6 is 27 mm: 2.7 cm along -x at 270, +x at 90 and +y
// at 0. View mode 0 adds 0.5 and truncates: -2.7 -> -2, 2.7 -> 3. The row
// index returns to 0 at the picked count; points outside are not listed.
TEST(FrozenRegionRowsTest, RoundsHalfUpAndWrapsAtThePickedCount) {
  auto frame = recordOf({{13.5, 270.0}, {1000.0, 90.0}, {13.5, 90.0}, {13.5, 0.0}});
  frame.distance.push_back(13.5);  // no azimuth: not a measurement
  const SelectionBox box{-3, 3, -3, 3, 0, 0};

  const auto rows = frozenRegionRows(frame, box, 2, Layout::Protocol16, ViewMode::WholeCentimetres);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].row, 0);
  EXPECT_EQ(rows[1].row, 1);
  EXPECT_EQ(rows[2].row, 0);
  EXPECT_EQ(rows[0].cells, pointTableRow(0, {-2, 0, 0}, 270.0, 27.0, 10, 1000));
  EXPECT_EQ(rows[1].cells, pointTableRow(1, {3, 0, 0}, 90.0, 27.0, 12, 1002));
  EXPECT_EQ(rows[2].cells, pointTableRow(0, {0, 3, 0}, 0.0, 27.0, 13, 1003));

  // View mode 1 keeps the fractions; protocol 1.7 doubles the distance
  // (-5.4 + 0.5 truncates to -4).
  const auto fractions = frozenRegionRows(frame, box, 4, Layout::Protocol16, ViewMode::FractionsKept);
  ASSERT_EQ(fractions.size(), 3u);
  EXPECT_EQ(fractions[0].cells[1].substr(0, 7), "-2.7000");
  // 5.4 cm: outside
  EXPECT_EQ(frozenRegionRows(frame, box, 4, Layout::Protocol17, ViewMode::WholeCentimetres).size(), 0u);
  EXPECT_EQ(
      frozenRegionRows(frame, SelectionBox{-6, 6, -6, 6, 0, 0}, 4, Layout::Protocol17, ViewMode::WholeCentimetres)[0]
          .cells[1]
          .substr(0, 7),
      "-4.0000");

  EXPECT_TRUE(frozenRegionRows(frame, box, 0, Layout::Protocol16, ViewMode::WholeCentimetres).empty());
}

// With 4 picked the line is first due at the fifth in-box measurement and
// shows the first four; the fifth starts the next window at row 0.
TEST(RegionStatisticsTest, LineOfTheCompletedWindow) {
  RegionStatistics stats;
  const float xs[] = {1, -2.5f, 4, 10};
  const float ys[] = {100, 120, 110, 105};
  for (int i = 0; i < 4; ++i) {
    const auto step = stats.add(xs[i], ys[i], 4);
    EXPECT_EQ(step.row, i);
    EXPECT_FALSE(step.lineDue);
  }
  const auto fifth = stats.add(1000, 0, 4);
  ASSERT_TRUE(fifth.lineDue);
  EXPECT_EQ(fifth.row, 0);
  EXPECT_EQ(fifth.line,
            "x_Min:-2.500000    x_Max:10.000000    x_Average:3.125000    x_Error:12.500000\n"
            "y_Min:100.000000    y_Max:120.000000    y_Average:108.750000    y_Error:20.000000");
  EXPECT_EQ(stats.add(0, 0, 4).row, 1);

  // "Clear" empties the window.
  stats.reset();
  EXPECT_EQ(stats.add(5, 5, 4).row, 0);
  EXPECT_EQ(stats.count(), 1);
}

// No picked points: nothing counted, no line (no division by zero). A window
// left longer than a new pick's count averages over what it holds.
TEST(RegionStatisticsTest, NoPickedPointsAndAShorterNewPick) {
  RegionStatistics stats;
  for (int i = 0; i < 3; ++i) {
    const auto step = stats.add(0, 0, 0);
    EXPECT_FALSE(step.lineDue);
    EXPECT_EQ(step.row, -1);
  }
  EXPECT_EQ(stats.count(), 0);

  for (float x : {2.0f, 4.0f, 6.0f, 8.0f}) stats.add(x, 0, 4);
  const auto step = stats.add(0, 0, 2);
  ASSERT_TRUE(step.lineDue);
  EXPECT_NE(step.line.find("x_Average:5.000000"), std::string::npos) << step.line;
}

TEST(RegionStatisticsTest, RowsShownFromTheScrollPositionToThirtyBelow) {
  EXPECT_TRUE(statisticsRowShown(0, 0));
  EXPECT_TRUE(statisticsRowShown(30, 0));
  EXPECT_FALSE(statisticsRowShown(31, 0));
  EXPECT_FALSE(statisticsRowShown(4, 5));
  EXPECT_TRUE(statisticsRowShown(35, 5));
  EXPECT_FALSE(statisticsRowShown(-1, 0));
}

// The ruler on a revolution of the simulated room (every 0.1 degree, with
// the sensor's distance noise): clicks near two points of the back wall give
// the true distance between them within 1 cm, and each end's range and
// azimuth; a third click starts over; far from every point nothing is hit.
TEST(RulerTest, MeasuresTheSimulatedRoom) {
  std::vector<ColouredPoint> frame;
  for (int tenth = 0; tenth < 3600; ++tenth) {
    const sim::SceneReturns r = sim::SensorScene::returns(tenth / 10.0, 0.0, tenth, 1e6);
    if (r.first.distanceMm > 0)
      frame.push_back({scenePoint(r.first.distanceMm, tenth / 10.0, ViewMode::FractionsKept), {}});
  }
  auto exact = [](double azimuth) {
    return scenePoint(sim::SensorScene::exactReturns(azimuth, 0.0).first.distanceMm, azimuth, ViewMode::FractionsKept);
  };
  const ScenePoint a = exact(200.0), b = exact(160.0);  // both on the back wall
  ASSERT_NEAR(a.y, sim::SensorScene::kBackWallY / 10, 0.01);
  Ruler ruler;
  for (const ScenePoint& end : {a, b}) {
    const auto hit = nearestPoint(frame, end.x, end.y, 5.0f);
    ASSERT_TRUE(hit);
    ruler.click(*hit);
  }
  EXPECT_NEAR(ruler.lengthMetres(), (b.x - a.x) / 100.0, 0.01);
  EXPECT_NEAR(rulerRangeMetres(ruler.ends()[0]), rulerRangeMetres(a), 0.01);
  EXPECT_NEAR(rulerAzimuthDegrees(ruler.ends()[0]), 200.0, 0.15);
  EXPECT_NEAR(rulerAzimuthDegrees(ruler.ends()[1]), 160.0, 0.15);
  EXPECT_EQ(ruler.text().rfind("A 2.66", 0), 0u) << ruler.text();
  EXPECT_NE(ruler.text().find(": A-B 1.8"), std::string::npos) << ruler.text();
  ruler.click(a);
  EXPECT_EQ(ruler.ends().size(), 1u);
  EXPECT_EQ(ruler.lengthMetres(), 0.0);
  EXPECT_FALSE(nearestPoint(frame, 0.0f, 0.0f, 5.0f));  // the sensor's own place: no point
}

// Trails hold exactly the last N revolutions, the newest drawn last at its
// own colour and each older one fainter; a shorter length drops the oldest,
// length 1 holds nothing (the plain view draws its frame itself).
TEST(TrailsTest, HoldTheLastRevolutionsFading) {
  auto revolution = [](int k) {
    std::vector<ColouredPoint> points(k, ColouredPoint{{float(k), 0, 0}, {200, 100, 50}});
    return points;
  };
  Trails trails;
  trails.setLength(3);
  for (int k = 1; k <= 5; ++k) trails.add(revolution(k));
  EXPECT_EQ(trails.revolutions(), 3u);
  const auto& drawn = trails.points();
  ASSERT_EQ(drawn.size(), 3u + 4u + 5u);
  EXPECT_EQ(drawn.front().p.x, 3.0f);  // the oldest first, at a third of its colour
  EXPECT_TRUE((drawn.front().colour == Rgb{66, 33, 16}));
  EXPECT_TRUE((drawn[3].colour == Rgb{133, 66, 33}));
  EXPECT_EQ(drawn.back().p.x, 5.0f);
  EXPECT_TRUE((drawn.back().colour == Rgb{200, 100, 50}));
  trails.setLength(2);
  EXPECT_EQ(trails.revolutions(), 2u);
  EXPECT_EQ(trails.points().size(), 4u + 5u);
  trails.setLength(99);
  EXPECT_EQ(trails.length(), Trails::kMaxLength);
  trails.setLength(0);
  EXPECT_EQ(trails.length(), 1);
  EXPECT_EQ(trails.revolutions(), 0u);
}
