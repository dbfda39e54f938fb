// The CSV rows of an exported frame: one line per measurement, with the
// point's x, y, z in centimetres, its intensity, azimuth, scaled distance and
// time stamp. Pure formatting over a record; the main window and the headless
// tool write what it produces.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "LidarRecords.h"
#include "PacketFormat.h"
#include "PointComputation.h"

namespace z540k {

constexpr const char* kCsvHeader = "FreamID,Points_X,Points_Y,Points_Z,intensity,azimuth,distance,timestamp";

struct CsvExportOptions {
  Layout layout = Layout::Protocol16;              // protocol 1.6: raw / 0.5, protocol 1.7: raw / 0.25
  ViewMode viewMode = ViewMode::WholeCentimetres;  // "View Mode 1"; FractionsKept is "View Mode 2"
  float angleMin = 0.0f;                           // degrees, inclusive
  float angleMax = 360.0f;                         // degrees, inclusive
};

// The angle range of a CSV export as the save-data options take it, in the
// window's dialog and the tool alike: both ends within 0..360 inclusive (a
// NaN is not), the lower not above the upper; equal ends are widened by half
// a degree on each side (so 0..0 becomes -0.5..0.5), so that a single angle
// still matches the measurements near it. Null when taken into `options`,
// else the refusal as the dialog words it ("Invalid angle", "Angle range
// invalid").
const char* takeCsvAngleRange(float angleMin, float angleMax, CsvExportOptions& options);

// The two exports round x, y and z differently in whole centimetres: a frame
// written as it arrives truncates toward zero, a frozen frame adds 0.5 first.
enum class CsvFrameKind { Arriving, Frozen };

// A measurement's point as an export computes it, in centimetres, from the
// scaled distance (millimetres) and the azimuth (degrees): whole centimetres
// in ViewMode::WholeCentimetres, rounded as `kind` says. The frozen frame's region listing
// uses the same rule.
struct CsvPoint {
  float x = 0, y = 0, z = 0;
};
CsvPoint csvPoint(double scaledDistance, double azimuth, ViewMode viewMode, CsvFrameKind kind);
// Whole centimetres through an integer, rounded half up: -0.7 becomes 0
// (not -0).
inline float wholeCentimetresHalfUp(float v) {
  return static_cast<float>(static_cast<long long>(static_cast<double>(v) + 0.5));
}

// A frame written as it arrives holds the points the view draws; the frozen
// frame divides by 10 where the view multiplies by 0.1, and rounds half up.
inline CsvPoint arrivingPoint(const ScenePoint& s) { return CsvPoint{s.x, s.y, s.z}; }

inline CsvPoint frozenPoint(double d, double sine, double cosine, ViewMode viewMode) {
  // The vertical angle 0 (cos 0 = 1, sin 0 = 0), as for the points on
  // screen.
  CsvPoint p;
  p.x = static_cast<float>(d * std::cos(0.0) * sine / 10);
  p.y = static_cast<float>(d * std::cos(0.0) * cosine / 10);
  p.z = static_cast<float>(d * std::sin(0.0) / 10);
  if (viewMode == ViewMode::WholeCentimetres) {
    p.x = wholeCentimetresHalfUp(p.x);
    p.y = wholeCentimetresHalfUp(p.y);
    p.z = wholeCentimetresHalfUp(p.z);
  }
  return p;
}

// The same from the azimuth's sine and cosine in the scene, as a CsvRowMemo
// keeps them (inline: exports call it for every measurement).
inline CsvPoint csvPoint(double scaledDistance, double sine, double cosine, ViewMode viewMode, CsvFrameKind kind) {
  if (kind == CsvFrameKind::Arriving) return arrivingPoint(placePoint(scaledDistance, sine, cosine, viewMode));
  return frozenPoint(scaledDistance, sine, cosine, viewMode);
}

// The measurements an export writes of `record`, in order: those paired up
// to the shortest of the record's lists whose azimuth lies in the options'
// range. Calls row(index, azimuth, scaled distance in millimetres) for each.
// The CSV rows and the point cloud files take the same measurements.
template <typename Row>
inline void forEachExportedMeasurement(const LidarDataSingleLine& record, const CsvExportOptions& options, Row&& row) {
  const std::size_t n = record.pairedSize();
  const double angleMin = options.angleMin;
  const double angleMax = options.angleMax;
  for (std::size_t j = 0; j < n; ++j) {
    const double a = record.azimuth[j];
    if (!(a >= angleMin && a <= angleMax)) continue;
    row(j, a, scaledDistance(record.distance[j], options.layout));
  }
}

// What a thread writing CSV rows keeps from frame to frame: for an azimuth
// the sine and cosine of its angle and its text. The sensor measures at much
// the same azimuths every revolution, so an export of many revolutions
// computes few of them. An entry is keyed by the azimuth's bits (so -0 and 0
// stay apart) and holds exactly what would be computed afresh: the rows are
// the same to the byte.
class CsvRowMemo {
 public:
  struct Azimuth {
    std::uint64_t bits;
    double sine, cosine;
    char text[15];  // the azimuth as its CSV field (%g: at most 13 bytes)
    std::uint8_t length;
  };
  CsvRowMemo();
  const Azimuth& of(double azimuth) {
    std::uint64_t bits;
    std::memcpy(&bits, &azimuth, sizeof bits);
    Set& set = sets_[(bits * 0x9E3779B97F4A7C15u) >> (64 - kSetBits)];
    if (set.way[0].bits == bits) return set.way[0];
    if (set.way[1].bits == bits) return set.way[1];
    return fill(set, bits, azimuth);
  }

 private:
  // Two azimuths per set, the newer first: a scan's azimuths fall into the
  // sets at random, and two ways keep most of them where one would lose
  // those that share a set.
  struct Set {
    Azimuth way[2];
  };
  static constexpr int kSetBits = 13;
  const Azimuth& fill(Set& set, std::uint64_t bits, double azimuth);
  std::vector<Set> sets_;  // 1 << kSetBits, every entry true for its azimuth
};

// Appends one line per measurement of `record` whose azimuth lies in the
// options' range to `out`, each ending in `lineEnd`, with FreamID `frameId`.
// Measurements are paired up to the shortest of the record's lists (a
// record from forward playback can lack the newest block's azimuths).
// Returns the number of lines appended. `memo`, when given, is kept from
// frame to frame.
std::size_t appendCsvFrame(std::string& out, const LidarDataSingleLine& record, int frameId,
                           const CsvExportOptions& options, CsvFrameKind kind, const char* lineEnd = "\n",
                           CsvRowMemo* memo = nullptr);

// A bound on the bytes of one CSV line, its line end not included.
constexpr std::size_t kCsvLineMax = 8 * 24 + 8;

// Memory the lines are written into without a std::string (whose growth
// fills with zeros first): the bytes [next, end), which makeRoom() renews.
class CsvLineSink {
 public:
  char* next = nullptr;
  char* end = nullptr;
  // Called when fewer than `bytes` (one line at most) are left at `next`;
  // afterwards at least `bytes` are.
  virtual void makeRoom(std::size_t bytes) = 0;

 protected:
  ~CsvLineSink() = default;
};

// The same lines as above into `out`, through the thread's `memo`.
std::size_t appendCsvFrame(CsvLineSink& out, const LidarDataSingleLine& record, int frameId,
                           const CsvExportOptions& options, CsvFrameKind kind, CsvRowMemo& memo,
                           const char* lineEnd = "\n");

}  // namespace z540k
