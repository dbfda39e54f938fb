// The main window's state apart from its widgets: the frames arriving for
// display, the marked region, and the export of frames.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "CsvExportSession.h"
#include "FrameDisplay.h"
#include "RegionPicking.h"

using namespace z540k;

namespace {

LidarDataSingleLine frameOf(int points, double distance = 500) {
  LidarDataSingleLine r;
  for (int i = 0; i < points; ++i) {
    r.distance.push_back(distance);
    r.intensity.push_back(i);
    r.azimuth.push_back(i * 10.0);
    r.timestamp.push_back(1000 + i);
  }
  return r;
}

std::string contentOf(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

// One draw queued at a time; the frames arriving meanwhile replace each
// other and count as merged, unless they went to a CSV file (empty clouds).
TEST(FrameDisplayTest, NewestWinsAndMergedAreCounted) {
  FrameDisplay display;
  EXPECT_TRUE(display.wantDraw(false));
  display.keep(frameOf(1));
  EXPECT_FALSE(display.wantDraw(false));
  display.keep(frameOf(2));
  EXPECT_FALSE(display.wantDraw(true));  // exported: not a merged frame
  EXPECT_EQ(display.framesMerged(), 1u);
  EXPECT_EQ(display.startDraw(), nullptr);  // the newest went to the file
  display.drawn();
  EXPECT_TRUE(display.wantDraw(false));
  const LidarDataSingleLine* drawn = display.startDraw();
  ASSERT_NE(drawn, nullptr);
  EXPECT_EQ(drawn->distance.size(), 2u);
  display.drawn();
  EXPECT_EQ(display.framesDrawn(), 2u);
  display.toggleRunning();
  EXPECT_FALSE(display.running());
  EXPECT_EQ(display.latest().distance.size(), 2u);
}

// The table follows the newest drawn frame at most every kIntervalMs; the
// rows offered meanwhile wait, the newest replacing older ones.
TEST(TableRefreshTest, NewestRowsAtAReadersPace) {
  const auto rows = [](const char* id) { return std::vector<PointTableRow>{PointTableRow{id}}; };
  constexpr std::int64_t step = TableRefresh::kIntervalMs;
  TableRefresh table;
  EXPECT_TRUE(table.offer(rows("1"), 1000));  // the first at once
  EXPECT_EQ(table.take(1000)[0][0], "1");
  EXPECT_FALSE(table.offer(rows("2"), 1000 + step / 4));
  EXPECT_FALSE(table.offer(rows("3"), 1000 + step / 2));
  EXPECT_EQ(table.dueInMs(1000 + step / 2), step - step / 2);
  EXPECT_TRUE(table.pending());
  EXPECT_EQ(table.take(1000 + step)[0][0], "3");
  EXPECT_FALSE(table.pending());
  EXPECT_FALSE(table.offer(rows("4"), 1000 + step + 1));
  table.drop();  // a region marked: the frame's rows are not shown
  EXPECT_FALSE(table.pending());
  EXPECT_TRUE(table.offer(rows("5"), 1000 + 2 * step));
}

TEST(RegionPickingTest, PickMeasureAndClear) {
  RegionPicking picking;
  picking.toggleSelecting();
  std::vector<ColouredPoint> shown(3);
  shown[0].p = {1, 2, 0};
  shown[1].p = {-4, 6, 0};
  shown[2].p = {3, -1, 0};
  // Indices outside the cloud alone pick nothing: selection goes on.
  EXPECT_TRUE(picking.pick({-1, 3}, shown).empty());
  EXPECT_TRUE(picking.selecting());
  EXPECT_FALSE(picking.picked());

  EXPECT_EQ(picking.pick({0, 7, 1}, shown).size(), 2u);
  EXPECT_FALSE(picking.selecting());
  EXPECT_TRUE(picking.picked());
  EXPECT_EQ(picking.pickedCount(), 2);
  EXPECT_EQ(picking.box().xMin, -4);
  EXPECT_EQ(picking.box().yMax, 6);

  // Windows of pickedCount measurements: the third closes the first window.
  std::vector<RegionMeasurement> inRegion(3);
  std::vector<int> rows;
  int lines = 0;
  picking.measure(inRegion, [&](const RegionMeasurement&, const RegionStatistics::Step& step) {
    rows.push_back(step.row);
    lines += step.lineDue;
  });
  EXPECT_EQ(rows, (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(lines, 1);

  picking.clear();
  EXPECT_FALSE(picking.picked());
  EXPECT_EQ(picking.pickedCount(), 0);
  EXPECT_EQ(picking.statistics().count(), 0);
}

// An export of arriving frames completes at the count it started with, even
// when the options change meanwhile; the frozen frame is written at once;
// an abandoned export leaves the target as it was.
TEST(CsvExportSessionTest, FramesFrozenFrameAndAbandon) {
  const std::string dir = testing::TempDir();
  const std::string path = dir + "z540k-session-" + std::to_string(::getpid()) + ".csv";
  CsvExportSession session;
  session.choose({3, 0, 360, {}});
  std::string error;
  ASSERT_TRUE(session.begin(std::make_unique<CsvFrameFile>(CsvExportOptions{}, 3), path, error)) << error;
  EXPECT_TRUE(session.active());
  EXPECT_FALSE(session.begin(std::make_unique<CsvFrameFile>(CsvExportOptions{}, 3), path, error));
  session.choose({1, 0, 360, {}});
  EXPECT_FALSE(session.add(frameOf(2)));
  EXPECT_FALSE(session.add(frameOf(2)));
  EXPECT_EQ(session.framesWritten(), 2);
  EXPECT_TRUE(session.add(frameOf(2)));
  ASSERT_TRUE(session.finish(error)) << error;
  EXPECT_FALSE(session.active());
  EXPECT_EQ(session.framesWrittenLast(), 3);
  EXPECT_EQ(session.framesWanted(), 3);
  const std::string written = contentOf(path);
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1 + 3 * 2);
  EXPECT_NE(written.find("\n3,"), std::string::npos);

  // Stopped early, then abandoned: the file from before stays.
  ASSERT_TRUE(session.begin(std::make_unique<CsvFrameFile>(CsvExportOptions{}, 1), path, error)) << error;
  session.add(frameOf(5));
  session.abandon();
  EXPECT_FALSE(session.active());
  EXPECT_EQ(contentOf(path), written);

  CsvFrameFile frozen(CsvExportOptions{}, 1);
  ASSERT_TRUE(CsvExportSession::exportFrozen(frozen, path, frameOf(4), error)) << error;
  const std::string frozenText = contentOf(path);
  EXPECT_EQ(std::count(frozenText.begin(), frozenText.end(), '\n'), 1 + 4);
  std::remove(path.c_str());
}
