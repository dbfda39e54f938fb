// The main window's point computation: the colour map at its edges, the
// distance scale and view modes, the display angle limit, the first 30 table
// rows, the split into the two clouds, and the cursor readout.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "PointComputation.h"

using namespace z540k;

TEST(PointColourTest, IntensityMapWithItsEightBitWrap) {
  const struct {
    int intensity;
    Rgb colour;
  } cases[] = {{0, {0, 0, 255}},     {31, {0, 248, 255}},  {32, {0, 255, 255}}, {63, {0, 255, 131}},
               {64, {192, 255, 0}},  {79, {252, 255, 0}},  {80, {0, 255, 0}},   {127, {188, 255, 0}},
               {128, {255, 254, 0}}, {200, {255, 110, 0}}, {255, {255, 0, 0}}};
  for (const auto& c : cases) EXPECT_EQ(pointColour(ColourMode::Intensity, c.intensity, 0, 0), c.colour) << c.intensity;
}

TEST(PointColourTest, OtherModesAtTheirEdges) {
  EXPECT_EQ(pointColour(ColourMode::Solid, 9, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(pointColour(ColourMode::LaserId, 9, 0, 0), (Rgb{102, 102, 255}));
  const struct {
    float z;
    Rgb colour;
  } heights[] = {{-2.5f, {139, 69, 19}},  {-2, {0, 0, 255}}, {-1, {255, 255, 0}}, {0, {0, 0, 255}},
                 {0.5f, {255, 255, 255}}, {1, {0, 0, 255}},  {3, {0, 128, 0}},    {5, {0, 0, 255}}};
  for (const auto& h : heights) EXPECT_EQ(pointColour(ColourMode::Elevation, 0, h.z, 0), h.colour) << h.z;
  EXPECT_EQ(pointColour(ColourMode::Azimuth, 0, 0, 89.99), (Rgb{0, 255, 255}));
  EXPECT_EQ(pointColour(ColourMode::Azimuth, 0, 0, 90), (Rgb{0, 125, 192}));
  EXPECT_EQ(pointColour(ColourMode::Azimuth, 0, 0, 180), (Rgb{0, 255, 0}));
  EXPECT_EQ(pointColour(ColourMode::Azimuth, 0, 0, 270), (Rgb{255, 255, 0}));
}

// A raw distance of 1000 in protocol 1.6 is 2000 mm; at azimuth 90 it lies
// 200 cm along +x, with the cosine of 90 * 3.14159 / 180 left in y.
TEST(ScenePointTest, ScaleConstantAndViewModes) {
  const ScenePoint fine = scenePoint(2000, 90, ViewMode::FractionsKept);
  EXPECT_EQ(fine.x, 200.0f);
  EXPECT_NEAR(fine.y, 0.00026536, 1e-8);
  EXPECT_EQ(fine.z, 0.0f);
  const ScenePoint whole = scenePoint(2000, 90, ViewMode::WholeCentimetres);
  EXPECT_EQ(whole.x, 200.0f);
  EXPECT_EQ(whole.y, 0.0f);
  const ScenePoint behind = scenePoint(1234, 180, ViewMode::WholeCentimetres);  // y = -123.4: toward zero
  EXPECT_EQ(behind.y, -123.0f);
  EXPECT_FALSE(std::signbit(scenePoint(7, 270, ViewMode::WholeCentimetres).y));  // -0.0000x truncates to +0
}

TEST(ScenePointTest, AngleLimit) {
  EXPECT_TRUE(withinAngleLimit(359.9, 180));
  EXPECT_TRUE(withinAngleLimit(90, 90) && withinAngleLimit(270, 90));
  EXPECT_FALSE(withinAngleLimit(90.01, 90) || withinAngleLimit(269.99, 90));
  EXPECT_TRUE(withinAngleLimit(0, 0) && withinAngleLimit(360, 0));
  EXPECT_FALSE(withinAngleLimit(0.01, 0));
}

// The frame: distances of 0 and points outside the angle limit are dropped,
// the first 30 shown points reach the table (none while a region is marked),
// points inside the region go to the selection.
TEST(FramePointsTest, TableRowsAngleLimitAndRegion) {
  LidarDataSingleLine r;
  for (int j = 0; j < 500; ++j) {
    r.azimuth.push_back(j * 0.72);
    r.distance.push_back(j % 10 == 0 ? 0 : 500);  // 1000 mm, 100 cm in protocol 1.6
    r.intensity.push_back(j % 256);
    r.timestamp.push_back(1000 + j);
  }
  FrameSettings s;
  s.angleLimit = 90;
  s.box = SelectionBox{-1, 1, 99, 101, 0, 0};  // straight ahead at 100 cm
  FramePoints f;
  computeFramePoints(r, s, f);
  EXPECT_EQ(f.measurements, 500u);
  ASSERT_EQ(f.tableRows.size(), 30u);
  EXPECT_EQ(f.tableRows[0], (PointTableRow{"0", "1.0000 99.0000 0.0000", "0.720", "100.0000", "1", "1001"}));
  EXPECT_EQ(f.tableRows[29][0], "29");
  // Azimuths 0..90 and 270..360 remain (126 + 126 of 500), less the zeros.
  std::size_t shown = 0;
  for (int j = 0; j < 500; ++j) shown += (j % 10 != 0 && withinAngleLimit(j * 0.72, 90));
  EXPECT_EQ(f.display.size() + f.selection.size(), shown);
  for (const auto& m : f.selection) EXPECT_TRUE(s.box.contains(m.p));
  EXPECT_FALSE(f.selection.empty());
  s.areaPicked = true;
  computeFramePoints(r, s, f);
  EXPECT_TRUE(f.tableRows.empty());
}

// The readout gives back the azimuth a point was placed at, in every
// quadrant and on the axes.
TEST(ReadoutTest, AzimuthOfThePointsAndText) {
  for (double az = 0.5; az < 360; az += 7.25) {
    const ScenePoint p = scenePoint(3000, az, ViewMode::FractionsKept);
    EXPECT_NEAR(readoutAzimuth(p.x, p.y), az, 0.01) << az;
  }
  EXPECT_EQ(readoutAzimuth(0, 10), 0.0);
  EXPECT_DOUBLE_EQ(readoutAzimuth(10, 0), 90.0);
  EXPECT_DOUBLE_EQ(readoutAzimuth(0, -10), 180.0);
  EXPECT_DOUBLE_EQ(readoutAzimuth(-0.0, -10), 180.0);
  EXPECT_DOUBLE_EQ(readoutAzimuth(-10, 0), 270.0);
  EXPECT_LT(readoutAzimuth(-1e-12, 10), 360.0);
  EXPECT_EQ(readoutAzimuth(0, 0), 0.0);
  EXPECT_EQ(readoutText(3, 4, 0), "Distance:5.000000    Azimuth:36.869898");
}

// Every point is the float that the C library's sine and cosine give: a
// million azimuths of a scan and of compact scans (which run past 360), at
// distances of a few millimetres to 260 metres.
TEST(ScenePointTest, EveryPointAsTheLibraryComputesIt) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> azimuth(0, 450), distance(1, 262140);
  for (int i = 0; i < 1000000; ++i) {
    const double az = i < 36000 ? i / 100.0 : azimuth(random);
    const double d = i < 36000 ? 4 * 65535.0 : std::floor(distance(random));
    const double r = az * kPointPi / 180.0;
    const float x = static_cast<float>(d * std::sin(r) * 0.1);
    const float y = static_cast<float>(d * std::cos(r) * 0.1);
    const ScenePoint p = scenePoint(d, az, ViewMode::FractionsKept);
    ASSERT_EQ(p.x, x) << az << " " << d;
    ASSERT_EQ(p.y, y) << az << " " << d;
    const ScenePoint whole = scenePoint(d, az, ViewMode::WholeCentimetres);
    ASSERT_EQ(whole.x, static_cast<float>(static_cast<long long>(x))) << az << " " << d;
    ASSERT_EQ(whole.y, static_cast<float>(static_cast<long long>(y))) << az << " " << d;
  }
}
