#include "PointComputation.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace z540k {

const std::array<const char*, kPointTableColumns> kPointTableHeader = {"PointID",     "Points_cm_XYZ", "Azimuth",
                                                                       "Distance_cm", "Intensity",     "Timestamp"};

namespace {

inline std::uint8_t wrap8(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

inline Rgb rgb(int r, int g, int b) { return Rgb{wrap8(r), wrap8(g), wrap8(b)}; }

// Fixed notation with a point for the decimals whatever the locale (the
// window runs with the user's, which may write a comma).
std::string fixed(double v, int decimals) {
  char text[352];  // the longest double in fixed notation, with 6 decimals
  const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals).ptr;
  return std::string(text, end);
}

}  // namespace

Rgb pointColour(ColourMode colourMode, int intensity, float z, double azimuth) {
  switch (colourMode) {
    case ColourMode::Intensity: {
      const int i = intensity;
      if (i < 32) return rgb(0, 8 * i, 255);
      if (i < 64) return rgb(0, 255, 383 - 4 * i);
      if (i < 128) return rgb(4 * i - 64, 255, 0);
      return rgb(255, 2 * (255 - i) - 256, 0);
    }
    case ColourMode::Solid:
      return rgb(255, 255, 255);
    case ColourMode::Elevation:
      if (z < -2) return rgb(139, 69, 19);
      if (z > -2 && z < 0) return rgb(255, 255, 0);
      if (z > 0 && z < 1) return rgb(255, 255, 255);
      if (z > 1 && z < 5) return rgb(0, 128, 0);
      return rgb(0, 0, 255);  // z >= 5, or exactly -2, 0 or 1
    case ColourMode::Azimuth:
      if (azimuth < 90) return rgb(0, 255, 255);
      if (azimuth < 180) return rgb(0, 125, 192);
      if (azimuth < 270) return rgb(0, 255, 0);
      return rgb(255, 255, 0);
    case ColourMode::LaserId:
      return rgb(102, 102, 255);
    default:
      return rgb(0, 0, 0);
  }
}

ScenePoint scenePoint(double d, double azimuth, ViewMode viewMode) {
  const double r = sceneAngle(azimuth);
  return placePoint(d, std::sin(r), std::cos(r), viewMode);
}

namespace {

// Inside the box, tested without branches: the points of a scan fall on
// either side of its bounds at random, which a branch would mispredict.
inline bool insideBox(const SelectionBox& b, const ScenePoint& p) {
  return (p.x >= b.xMin) & (p.x <= b.xMax) & (p.y >= b.yMin) & (p.y <= b.yMax) & (p.z >= b.zMin) & (p.z <= b.zMax);
}

}  // namespace

PointTableRow pointTableRow(int pointId, const ScenePoint& p, double azimuth, double scaledDistance, int intensity,
                            unsigned long long timestamp) {
  return {std::to_string(pointId),   fixed(p.x, 4) + " " + fixed(p.y, 4) + " " + fixed(p.z, 4),
          fixed(azimuth, 3),         fixed(scaledDistance / 10, 4),
          std::to_string(intensity), fixed(static_cast<double>(timestamp), 0)};
}

namespace {

// The intensity map as a table: scan intensities change from one
// measurement to the next, which the map's branches would mispredict.
struct IntensityColours {
  Rgb colour[256];
  IntensityColours() {
    for (int i = 0; i < 256; ++i) colour[i] = pointColour(ColourMode::Intensity, i, 0, 0);
  }
};
const IntensityColours kIntensityColours;

template <ColourMode Mode>
inline Rgb colourOf(int intensity, float z, double azimuth) {
  if (Mode == ColourMode::Intensity && intensity >= 0 && intensity < 256) return kIntensityColours.colour[intensity];
  return pointColour(Mode, intensity, z, azimuth);
}

// Mode kRegionOnly: only the measurements in the marked region are kept.
// kNoColour stands for every value outside the colour list.
constexpr ColourMode kRegionOnly = static_cast<ColourMode>(-2);
constexpr ColourMode kNoColour = static_cast<ColourMode>(-1);

// The measurements are taken in runs that stay in the first level cache: a
// plain loop over the C library's sine and cosine for the shown measurements
// of a run, then their x and y (a loop the compiler vectorises), then what
// becomes of each point.
constexpr std::size_t kRun = 256;

// The shown measurements of one run: their index in the record, distance,
// sine and cosine, then x and y.
struct MeasurementRun {
  std::size_t count = 0;
  std::size_t index[kRun];
  double ds[kRun], sines[kRun], cosines[kRun];
  float xs[kRun], ys[kRun];
};

// What stays the same for every measurement of a frame.
struct FrameInputs {
  const double* azimuths;
  const double* distances;
  const int* intensities;
  const unsigned long long* timestamps;
  double factor, limit, upper;
  bool wantRows, whole;
  SelectionBox box;
};

// The shown measurements of [start, end) into `run`, with the sine and cosine
// of their angles.
inline void gatherShown(const FrameInputs& in, std::size_t start, std::size_t end, MeasurementRun& run) {
  run.count = 0;
  for (std::size_t j = start; j < end; ++j) {
    const double az = in.azimuths[j];
    const double d = in.distances[j] * in.factor;
    // No return, or outside the display angle: not shown. (A distance
    // that is not finite cannot come from the sensor: not shown either.)
    if (!(d > 0) || !(az <= in.limit || az >= in.upper) || !std::isfinite(d)) continue;
    const double r = sceneAngle(az);
    run.index[run.count] = j;
    run.ds[run.count] = d;
    run.sines[run.count] = std::sin(r);
    run.cosines[run.count] = std::cos(r);
    ++run.count;
  }
}

inline void placeRun(MeasurementRun& run) {
  for (std::size_t i = 0; i < run.count; ++i) {
    run.xs[i] = sceneCoordinate(run.ds[i], run.sines[i]);
    run.ys[i] = sceneCoordinate(run.ds[i], run.cosines[i]);
  }
}

// Each point of the run to the table rows, and to the selection (inside the
// box) or the display (after `shown` points there); returns the display's
// points.
template <ColourMode Mode>
inline std::size_t sortRun(const FrameInputs& in, const MeasurementRun& run, FramePoints& out, ColouredPoint* display,
                           std::size_t shown) {
  for (std::size_t i = 0; i < run.count; ++i) {
    const std::size_t j = run.index[i];
    const double az = in.azimuths[j];
    const double d = run.ds[i];
    // As scenePoint places it: a positive finite distance in the scan
    // plane has z 0.
    const ScenePoint p{in.whole ? truncatedCentimetres(run.xs[i]) : run.xs[i],
                       in.whole ? truncatedCentimetres(run.ys[i]) : run.ys[i], 0.0f};
    const int intensity = in.intensities[j];
    if (in.wantRows && out.tableRows.size() < static_cast<std::size_t>(kFrameTableRows))
      out.tableRows.push_back(
          pointTableRow(static_cast<int>(out.tableRows.size()), p, az, d, intensity, in.timestamps[j]));
    if (insideBox(in.box, p)) {
      out.selection.push_back(RegionMeasurement{p, az, d, intensity, in.timestamps[j]});
    } else if constexpr (Mode != kRegionOnly) {
      display[shown].p = p;
      display[shown].colour = colourOf<Mode>(intensity, p.z, az);
      ++shown;
    }
  }
  return shown;
}

// The per-measurement loop, with the colour mode fixed at compile time so the
// colour rule is inlined.
template <ColourMode Mode>
void framePointsIn(const LidarDataSingleLine& record, const FrameSettings& s, FramePoints& out) {
  const std::size_t n = record.pairedSize();
  // A box of all zeros (nothing marked) still takes points at exactly 0, 0, 0.
  const FrameInputs in{record.azimuth.data(),
                       record.distance.data(),
                       record.intensity.data(),
                       record.timestamp.data(),
                       distanceFactor(s.layout),
                       s.angleLimit,
                       360.0 - s.angleLimit,
                       !s.areaPicked && Mode != kRegionOnly,
                       s.viewMode == ViewMode::WholeCentimetres,
                       s.box};
  if (Mode != kRegionOnly) out.display.resize(n);
  ColouredPoint* display = out.display.data();
  std::size_t shown = 0;
  MeasurementRun run;
  for (std::size_t start = 0; start < n; start += kRun) {
    gatherShown(in, start, std::min(n, start + kRun), run);
    placeRun(run);
    shown = sortRun<Mode>(in, run, out, display, shown);
  }
  out.display.resize(shown);
}

}  // namespace

void computeFramePoints(const LidarDataSingleLine& record, const FrameSettings& s, FramePoints& out) {
  out.display.clear();
  out.selection.clear();
  out.tableRows.clear();
  out.measurements = record.pairedSize();
  switch (s.colourMode) {
    case ColourMode::Intensity:
      framePointsIn<ColourMode::Intensity>(record, s, out);
      break;
    case ColourMode::Solid:
      framePointsIn<ColourMode::Solid>(record, s, out);
      break;
    case ColourMode::Elevation:
      framePointsIn<ColourMode::Elevation>(record, s, out);
      break;
    case ColourMode::Azimuth:
      framePointsIn<ColourMode::Azimuth>(record, s, out);
      break;
    case ColourMode::LaserId:
      framePointsIn<ColourMode::LaserId>(record, s, out);
      break;
    default:
      framePointsIn<kNoColour>(record, s, out);
      break;
  }
}

void computeRegionMeasurements(const LidarDataSingleLine& record, const FrameSettings& s,
                               std::vector<RegionMeasurement>& out) {
  FramePoints points;
  points.selection = std::move(out);
  points.selection.clear();
  framePointsIn<kRegionOnly>(record, s, points);
  out = std::move(points.selection);
}

double readoutAzimuth(double x, double y) {
  if (x == 0 && y == 0) return 0.0;
  double a = std::atan2(x, y) * (180.0 / M_PI);
  if (a < 0) a += 360.0;
  return a >= 360.0 ? a - 360.0 : a;
}

std::string readoutText(double x, double y, double z) {
  return "Distance:" + fixed(std::sqrt(x * x + y * y + z * z), 6) + "    Azimuth:" + fixed(readoutAzimuth(x, y), 6);
}

}  // namespace z540k
