// What the main window makes of one record: each measurement's point in
// centimetres, whether it is shown, its colour, the point table's rows and
// the split between the view's two clouds; and the cursor readout. Pure
// functions over values: no widgets, no point cloud types. The window's slot
// strings them together and hands the result to the 3-D view.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "LidarRecords.h"
#include "PacketFormat.h"

namespace z540k {

// The angle constant of the point computation (not a more precise pi), the
// same in the view and in the exports.
constexpr double kPointPi = 3.14159;

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};
inline bool operator==(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// The colour modes, numbered as the window's colour list numbers them. A
// value outside these five colours every point black.
enum class ColourMode { Intensity = 0, Solid = 1, Elevation = 2, Azimuth = 3, LaserId = 4 };

// The view modes, in the order of the window's view list: "View Mode 1"
// truncates each coordinate toward zero to whole centimetres, "View Mode 2"
// keeps the fractions.
enum class ViewMode { WholeCentimetres, FractionsKept };

// A point's colour in a colour mode, from its intensity (0..255), height in
// centimetres and azimuth in degrees. Every channel is an integer stored in 8
// bits, so values outside 0..255 wrap modulo 256, as the map was drawn.
Rgb pointColour(ColourMode colourMode, int intensity, float z, double azimuth);

// Whether an azimuth lies within the display angle limit: at most `limit`
// degrees either side of 0 (with 180 every azimuth does).
inline bool withinAngleLimit(double azimuth, float limit) { return azimuth <= limit || azimuth >= 360.0 - limit; }

// A measurement's point in centimetres (x east of the sensor at azimuth 90,
// y ahead at azimuth 0, z up; the scan plane is horizontal), from the distance
// already scaled by the layout (millimetres), in whole centimetres or with
// the fractions kept as the view mode says.
struct ScenePoint {
  float x = 0, y = 0, z = 0;
};
ScenePoint scenePoint(double scaledDistance, double azimuth, ViewMode viewMode);

// The angle of an azimuth in radians, with the point computation's constant.
inline double sceneAngle(double azimuth) { return azimuth * kPointPi / 180.0; }

// A coordinate in centimetres from the distance in millimetres and the sine
// or cosine of the angle.
inline float sceneCoordinate(double d, double sineOrCosine) { return static_cast<float>(d * sineOrCosine * 0.1); }

// Whole centimetres toward zero, through an integer (so -0.7 becomes 0).
inline float truncatedCentimetres(float v) { return static_cast<float>(static_cast<long long>(v)); }

// The point at scaled distance d along an angle of the given sine and
// cosine: scenePoint once the angle's are known.
inline ScenePoint placePoint(double d, double sine, double cosine, ViewMode viewMode) {
  // The vertical angle of this single-line sensor is 0: cos 0 = 1, sin 0 = 0.
  ScenePoint p{sceneCoordinate(d, sine), sceneCoordinate(d, cosine), sceneCoordinate(d, 0.0)};
  if (viewMode == ViewMode::WholeCentimetres) {
    p.x = truncatedCentimetres(p.x);
    p.y = truncatedCentimetres(p.y);
    p.z = truncatedCentimetres(p.z);
  }
  return p;
}

// The distance scale of a layout as a factor: protocol 1.6 divides the raw
// count by 0.5, protocol 1.7 by 0.25, which is multiplying by 2 or 4
// exactly (powers of two), and much cheaper.
inline double distanceFactor(Layout layout) { return layout == Layout::Protocol17 ? 4.0 : 2.0; }

// The distance in millimetres that the selected layout makes of a raw count.
inline double scaledDistance(double raw, Layout layout) { return raw * distanceFactor(layout); }

// A region of the scene, bounds included: x, y and z minimum and maximum.
struct SelectionBox {
  float xMin = 0, xMax = 0, yMin = 0, yMax = 0, zMin = 0, zMax = 0;
  bool contains(const ScenePoint& p) const {
    return p.x >= xMin && p.x <= xMax && p.y >= yMin && p.y <= yMax && p.z >= zMin && p.z <= zMax;
  }
};

// The point table: its header and one row's cell texts.
constexpr int kPointTableColumns = 6;
extern const std::array<const char*, kPointTableColumns> kPointTableHeader;
using PointTableRow = std::array<std::string, kPointTableColumns>;
PointTableRow pointTableRow(int pointId, const ScenePoint& p, double azimuth, double scaledDistance, int intensity,
                            unsigned long long timestamp);

// The window's choices that shape a frame.
struct FrameSettings {
  Layout layout = Layout::Protocol16;
  ViewMode viewMode = ViewMode::WholeCentimetres;
  ColourMode colourMode = ColourMode::Intensity;
  float angleLimit = 180.0f;  // degrees either side of 0
  bool areaPicked = false;    // a region is marked: no first-30 table rows
  SelectionBox box;           // the marked region (all zero when none)
};

// A shown point with its colour.
struct ColouredPoint {
  ScenePoint p;
  Rgb colour;
};

// A shown measurement that fell into the marked region: the point and what
// the statistics and the table need of it.
struct RegionMeasurement {
  ScenePoint p;
  double azimuth = 0;
  double scaledDistance = 0;
  int intensity = 0;
  unsigned long long timestamp = 0;
};

// Everything a frame gives the view. The vectors keep their capacity when a
// result is reused for the next frame.
struct FramePoints {
  std::vector<ColouredPoint> display;        // drawn with their colours
  std::vector<RegionMeasurement> selection;  // inside the marked region, drawn green
  std::vector<PointTableRow> tableRows;      // the first 30 shown measurements (none while a region is marked)
  std::size_t measurements = 0;              // measurements in the record
};

// The first rows of a frame that reach the point table.
constexpr int kFrameTableRows = 30;

// Every measurement of `record` (paired up to its shortest list): scaled by
// the layout, placed, dropped when its distance is 0 or it lies outside the
// angle limit, listed among the first 30 rows while no region is marked,
// coloured, and put into the display or the selection.
void computeFramePoints(const LidarDataSingleLine& record, const FrameSettings& settings, FramePoints& out);

// Only the measurements of `record` that computeFramePoints puts into the
// marked region (settings.box), in order: what the region statistics need of
// a frame that is not drawn.
void computeRegionMeasurements(const LidarDataSingleLine& record, const FrameSettings& settings,
                               std::vector<RegionMeasurement>& out);

// The cursor readout's azimuth of a scene position, in degrees from 0 to
// 360, as the sensor measures it: 0 along +y, 90 along +x, 180 along -y, 270
// along -x. A position on the z axis (x = y = 0), which has no angle, reads 0.
double readoutAzimuth(double x, double y);
// "Distance:<d>    Azimuth:<a>", both with 6 decimals, the distance from the
// sensor in centimetres (the scene's unit, as the point table's distance).
std::string readoutText(double x, double y, double z);

}  // namespace z540k
