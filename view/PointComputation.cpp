#include "PointComputation.h"

#include <cmath>
#include <cstdio>

#include "CsvExport.h"

namespace z540k {

const std::array<const char*, kPointTableColumns> kPointTableHeader = {
    "PointID", "Points_cm_XYZ", "Azimuth", "Distance_cm", "Intensity", "Timestamp"};

namespace {

inline std::uint8_t wrap8(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

inline Rgb rgb(int r, int g, int b) { return Rgb{wrap8(r), wrap8(g), wrap8(b)}; }

// Whole centimetres toward zero, through an integer (so -0.7 becomes 0).
inline float truncated(float v) { return static_cast<float>(static_cast<long long>(v)); }

std::string fixed(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

}  // namespace

Rgb pointColour(int colourMode, int intensity, float z, double azimuth) {
  switch (colourMode) {
    case kColourIntensity: {
      const int i = intensity;
      if (i < 32) return rgb(0, 8 * i, 255);
      if (i < 64) return rgb(0, 255, 383 - 4 * i);
      if (i < 128) return rgb(4 * i - 64, 255, 0);
      return rgb(255, 2 * (255 - i) - 256, 0);
    }
    case kColourSolid:
      return rgb(255, 255, 255);
    case kColourElevation:
      if (z < -2) return rgb(139, 69, 19);
      if (z > -2 && z < 0) return rgb(255, 255, 0);
      if (z > 0 && z < 1) return rgb(255, 255, 255);
      if (z > 1 && z < 5) return rgb(0, 128, 0);
      return rgb(0, 0, 255);  // z >= 5, or exactly -2, 0 or 1
    case kColourAzimuth:
      if (azimuth < 90) return rgb(0, 255, 255);
      if (azimuth < 180) return rgb(0, 125, 192);
      if (azimuth < 270) return rgb(0, 255, 0);
      return rgb(255, 255, 0);
    case kColourLaserId:
      return rgb(102, 102, 255);
    default:
      return rgb(0, 0, 0);
  }
}

ScenePoint scenePoint(double d, double azimuth, int viewMode) {
  // The vertical angle of this single-line sensor is 0: cos 0 = 1, sin 0 = 0.
  const double r = azimuth * kPointPi / 180.0;
  ScenePoint p;
  p.x = static_cast<float>(d * std::sin(r) * 0.1);
  p.y = static_cast<float>(d * std::cos(r) * 0.1);
  p.z = static_cast<float>(d * 0.0 * 0.1);
  if (viewMode == 0) {
    p.x = truncated(p.x);
    p.y = truncated(p.y);
    p.z = truncated(p.z);
  }
  return p;
}

PointTableRow pointTableRow(int pointId, const ScenePoint& p, double azimuth, double scaledDistance, int intensity,
                            unsigned long long timestamp) {
  return {std::to_string(pointId),
          fixed(p.x, 4) + " " + fixed(p.y, 4) + " " + fixed(p.z, 4),
          fixed(azimuth, 3),
          fixed(scaledDistance / 10, 4),
          std::to_string(intensity),
          fixed(static_cast<double>(timestamp), 0)};
}

namespace {

// The distance scale of a layout as a factor: dividing by 0.5 or 0.25 is
// multiplying by 2 or 4, exactly (powers of two), and much cheaper.
inline double distanceFactor(int layout) { return layout == 1 ? 4.0 : 2.0; }

// The per-measurement loop, with the colour mode fixed at compile time so the
// colour rule is inlined.
template <int Mode>
void framePointsIn(const LidarDataSingleLine& record, const FrameSettings& s, FramePoints& out) {
  const std::size_t n = record.pairedSize();
  const double factor = distanceFactor(s.layout);
  const double* azimuths = record.azimuth.data();
  const double* distances = record.distance.data();
  const int* intensities = record.intensity.data();
  const unsigned long long* timestamps = record.timestamp.data();
  const bool wantRows = !s.areaPicked;
  const double limit = s.angleLimit;
  const double upper = 360.0 - s.angleLimit;
  // A box of all zeros (nothing marked) still takes points at exactly 0, 0, 0.
  const SelectionBox box = s.box;

  out.display.resize(n);
  ColouredPoint* display = out.display.data();
  std::size_t shown = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const double az = azimuths[j];
    const double d = distances[j] * factor;
    // No return, or outside the display angle: not shown.
    if (!(d > 0) || !(az <= limit || az >= upper)) continue;
    const ScenePoint p = scenePoint(d, az, s.viewMode);
    const int intensity = intensities[j];
    if (wantRows && out.tableRows.size() < static_cast<std::size_t>(kFrameTableRows))
      out.tableRows.push_back(pointTableRow(static_cast<int>(out.tableRows.size()), p, az, d, intensity,
                                            timestamps[j]));
    if (box.contains(p)) {
      out.selection.push_back(RegionMeasurement{p, az, d, intensity, timestamps[j]});
    } else {
      display[shown].p = p;
      display[shown].colour = pointColour(Mode, intensity, p.z, az);
      ++shown;
    }
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
    case kColourIntensity: framePointsIn<kColourIntensity>(record, s, out); break;
    case kColourSolid: framePointsIn<kColourSolid>(record, s, out); break;
    case kColourElevation: framePointsIn<kColourElevation>(record, s, out); break;
    case kColourAzimuth: framePointsIn<kColourAzimuth>(record, s, out); break;
    case kColourLaserId: framePointsIn<kColourLaserId>(record, s, out); break;
    default: framePointsIn<-1>(record, s, out); break;
  }
}

double readoutAzimuth(double x, double y) {
  const double planar = std::sqrt(y * y + x * x);
  if (planar == 0) return 0.0;
  double a = std::asin(std::fabs(y) / planar) * 57.2957795;
  if (x < 0 && y > 0)
    a = 180 + a;
  else if (x < 0 && y < 0)
    a = 180 - a;
  else if (x > 0 && y < 0)
    ;  // stays
  else if (x >= 0 && y >= 0)
    a = 360 - a;
  return a;
}

std::string readoutText(double x, double y, double z) {
  return "Distance:" + fixed(std::sqrt(x * x + y * y + z * z), 6) + "    Azimuth:" + fixed(readoutAzimuth(x, y), 6);
}

}  // namespace z540k
