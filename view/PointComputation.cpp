#include "PointComputation.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "CsvExport.h"

namespace z540k {

const std::array<const char*, kPointTableColumns> kPointTableHeader = {
    "PointID", "Points_cm_XYZ", "Azimuth", "Distance_cm", "Intensity", "Timestamp"};

namespace {

inline std::uint8_t wrap8(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

inline Rgb rgb(int r, int g, int b) { return Rgb{wrap8(r), wrap8(g), wrap8(b)}; }

// Whole centimetres toward zero, through an integer (so -0.7 becomes 0).
inline float truncated(float v) { return static_cast<float>(static_cast<long long>(v)); }

// Fixed notation with a point for the decimals whatever the locale (the
// window runs with the user's, which may write a comma).
std::string fixed(double v, int decimals) {
  char text[352];  // the longest double in fixed notation, with 6 decimals
  const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals).ptr;
  return std::string(text, end);
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

namespace {

inline std::uint64_t bitsOf(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

inline double fromBits(std::uint64_t b) {
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

// Azimuths beyond this (in degrees) go to the library's sine and cosine.
constexpr double kFastAzimuthLimit = 1.0e7;

// x and y of a run of measurements before they become floats: d sin(r) 0.1
// and d cos(r) 0.1 with r = azimuth 3.14159 / 180, in double precision, with
// sine and cosine of our own: range reduction by pi/2 in two parts and the
// classic minimax kernels on [-pi/4, pi/4], within an ulp or two of the C
// library's. Written without branches or calls (the quadrant's swaps and
// signs are bit operations), so the compiler turns the loop into vector
// instructions. Meaningless for azimuths beyond kFastAzimuthLimit.
// Also gives the floats the point will have (whole centimetres toward zero
// when `Whole`, through a 32-bit integer: right for |x| below 2^30).
template <bool Whole>
void fastProducts(const double* __restrict azimuths, const double* __restrict distances, double factor,
                  std::size_t n, double* __restrict xs, double* __restrict ys, float* __restrict xf,
                  float* __restrict yf) {
  constexpr double kTwoOverPi = 6.36619772367581382433e-01;
  constexpr double kPiOver2Part1 = 1.57079632673412561417e+00;  // the first 33 bits of pi/2
  constexpr double kPiOver2Part1Tail = 6.07710050650619224932e-11;
  // Adding 1.5 x 2^52 rounds to a whole number and leaves it in the low bits.
  constexpr double kRound = 6755399441055744.0;
  for (std::size_t j = 0; j < n; ++j) {
    const double d = distances[j] * factor;
    const double x = azimuths[j] * kPointPi / 180.0;
    const double t = x * kTwoOverPi + kRound;
    const double q = t - kRound;
    const std::uint64_t quadrant = bitsOf(t);
    const double y = (x - q * kPiOver2Part1) - q * kPiOver2Part1Tail;
    const double z = y * y;
    const double v = z * y;
    const double sr = 8.33333333332248946124e-03 +
                      z * (-1.98412698298579493134e-04 +
                           z * (2.75573137070700676789e-06 +
                                z * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10)));
    const double sk = y + v * (-1.66666666666666324348e-01 + z * sr);
    const double cr = z * (4.16666666666666019037e-02 +
                           z * (-1.38888888888741095749e-03 +
                                z * (2.48015872894767294178e-05 +
                                     z * (-2.75573143513906633035e-07 +
                                          z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11)))));
    const double hz = 0.5 * z;
    const double w = 1.0 - hz;
    const double ck = w + (((1.0 - w) - hz) + z * cr);
    // The quadrant: 0 (s, c), 1 (c, -s), 2 (-s, -c), 3 (-c, s).
    const std::uint64_t odd = 0 - (quadrant & 1);
    const std::uint64_t s = bitsOf(sk), c = bitsOf(ck);
    const std::uint64_t sine = ((c & odd) | (s & ~odd)) ^ ((quadrant & 2) << 62);
    const std::uint64_t cosine = ((s & odd) | (c & ~odd)) ^ (((quadrant + 1) & 2) << 62);
    const double xd = d * fromBits(sine) * 0.1;
    const double yd = d * fromBits(cosine) * 0.1;
    xs[j] = xd;
    ys[j] = yd;
    const float fx = static_cast<float>(xd);
    const float fy = static_cast<float>(yd);
    xf[j] = Whole ? static_cast<float>(static_cast<std::int32_t>(fx)) : fx;
    yf[j] = Whole ? static_cast<float>(static_cast<std::int32_t>(fy)) : fy;
  }
}

// Whether a double lies so near the middle between two floats that a
// difference of a few ulps in it could change the float it rounds to. The
// low 29 bits of its significand are what rounding to a float drops; the
// middle is 1 followed by 28 zeros.
inline bool nearFloatMidpoint(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const std::int64_t low = static_cast<std::int64_t>(bits & ((1ull << 29) - 1));
  const std::int64_t fromMiddle = low - (1ll << 28);
  return fromMiddle > -256 && fromMiddle < 256;
}

// Whether the fast products of a measurement may decide its point
// differently from the library's sine and cosine: an azimuth out of their
// range, a product next to the middle between two floats, or one too large
// for the 32-bit truncation.
inline bool needsLibrary(double xd, double yd, double azimuth) {
  return !(std::fabs(azimuth) < kFastAzimuthLimit) || nearFloatMidpoint(xd) || nearFloatMidpoint(yd) ||
         !(std::fabs(xd) < 1073741824.0) || !(std::fabs(yd) < 1073741824.0);
}

// The point as the library's sine and cosine make it.
inline ScenePoint libraryPoint(double d, double azimuth, int viewMode) {
  const double r = azimuth * kPointPi / 180.0;
  // The vertical angle of this single-line sensor is 0: cos 0 = 1, sin 0 = 0.
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

// Inside the box, tested without branches: the points of a scan fall on
// either side of its bounds at random, which a branch would mispredict.
inline bool insideBox(const SelectionBox& b, const ScenePoint& p) {
  return (p.x >= b.xMin) & (p.x <= b.xMax) & (p.y >= b.yMin) & (p.y <= b.yMax) & (p.z >= b.zMin) & (p.z <= b.zMax);
}

}  // namespace

ScenePoint scenePoint(double d, double azimuth, int viewMode) {
  double xd, yd;
  float xf, yf;
  if (viewMode == 0)
    fastProducts<true>(&azimuth, &d, 1.0, 1, &xd, &yd, &xf, &yf);
  else
    fastProducts<false>(&azimuth, &d, 1.0, 1, &xd, &yd, &xf, &yf);
  if (!(d > 0) || !std::isfinite(d) || needsLibrary(xd, yd, azimuth)) return libraryPoint(d, azimuth, viewMode);
  return ScenePoint{xf, yf, 0.0f};
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

// The intensity map as a table: scan intensities change from one
// measurement to the next, which the map's branches would mispredict.
struct IntensityColours {
  Rgb colour[256];
  IntensityColours() {
    for (int i = 0; i < 256; ++i) colour[i] = pointColour(kColourIntensity, i, 0, 0);
  }
};
const IntensityColours kIntensityColours;

template <int Mode>
inline Rgb colourOf(int intensity, float z, double azimuth) {
  if (Mode == kColourIntensity && intensity >= 0 && intensity < 256) return kIntensityColours.colour[intensity];
  return pointColour(Mode, intensity, z, azimuth);
}

// Mode kRegionOnly: only the measurements in the marked region are kept.
constexpr int kRegionOnly = -2;

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
  const bool wantRows = !s.areaPicked && Mode != kRegionOnly;
  const double limit = s.angleLimit;
  const double upper = 360.0 - s.angleLimit;
  // A box of all zeros (nothing marked) still takes points at exactly 0, 0, 0.
  const SelectionBox box = s.box;

  if (Mode != kRegionOnly) out.display.resize(n);
  ColouredPoint* display = out.display.data();
  std::size_t shown = 0;
  // In runs that stay in the first level cache: the products of a run, then
  // its points.
  constexpr std::size_t kRun = 512;
  double xs[kRun], ys[kRun];
  float xf[kRun], yf[kRun];
  for (std::size_t start = 0; start < n; start += kRun) {
    const std::size_t count = std::min(kRun, n - start);
    if (s.viewMode == 0)
      fastProducts<true>(azimuths + start, distances + start, factor, count, xs, ys, xf, yf);
    else
      fastProducts<false>(azimuths + start, distances + start, factor, count, xs, ys, xf, yf);
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t j = start + k;
      const double az = azimuths[j];
      const double d = distances[j] * factor;
      // No return, or outside the display angle: not shown. (A distance
      // that is not finite cannot come from the sensor: not shown either.)
      if (!(d > 0) || !(az <= limit || az >= upper) || !std::isfinite(d)) continue;
      // A positive finite distance in the scan plane: z is 0.
      const ScenePoint p =
          needsLibrary(xs[k], ys[k], az) ? libraryPoint(d, az, s.viewMode) : ScenePoint{xf[k], yf[k], 0.0f};
      const int intensity = intensities[j];
      if (wantRows && out.tableRows.size() < static_cast<std::size_t>(kFrameTableRows))
        out.tableRows.push_back(pointTableRow(static_cast<int>(out.tableRows.size()), p, az, d, intensity,
                                              timestamps[j]));
      if (insideBox(box, p)) {
        out.selection.push_back(RegionMeasurement{p, az, d, intensity, timestamps[j]});
      } else if constexpr (Mode != kRegionOnly) {
        display[shown].p = p;
        display[shown].colour = colourOf<Mode>(intensity, p.z, az);
        ++shown;
      }
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
