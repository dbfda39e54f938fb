#include "CsvExport.h"

#include "PointComputation.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace z540k {

namespace {

// Default output-stream formatting of floating-point numbers: at most six
// significant digits, fixed or exponent notation as the value needs, no
// trailing zeros ("%g"). std::to_chars with precision 6 gives the same bytes.
// A whole number below a million prints as that integer under this rule,
// which the integer conversion writes several times faster (the whole
// centimetres of view mode 1); -0 keeps its sign through the general path.
// A float prints as its value widened to double, with the same rule.
template <typename F>
inline char* putGeneral(char* p, char* end, F v) {
  if (v > -1e6 && v < 1e6) {
    const long long whole = static_cast<long long>(v);
    if (static_cast<F>(whole) == v && !(whole == 0 && std::signbit(v))) return std::to_chars(p, end, whole).ptr;
  }
  return std::to_chars(p, end, v, std::chars_format::general, 6).ptr;
}

template <typename Int>
inline char* putInteger(char* p, char* end, Int v) {
  return std::to_chars(p, end, v).ptr;
}

// Whole centimetres through an integer, as the points on screen get them:
// -0.7 becomes 0 (not -0), and the frozen frame rounds half up first.
inline float wholeCentimetres(float v, CsvFrameKind kind) {
  const double shifted = kind == CsvFrameKind::Arriving ? v : static_cast<double>(v) + 0.5;
  return static_cast<float>(static_cast<long long>(shifted));
}

// A frame written as it arrives holds the points the view draws; the frozen
// frame divides by 10 where the view multiplies by 0.1, and rounds half up.
inline CsvPoint pointOf(double d, double a, int viewMode, CsvFrameKind kind) {
  if (kind == CsvFrameKind::Arriving) {
    const ScenePoint s = scenePoint(d, a, viewMode);
    return CsvPoint{s.x, s.y, s.z};
  }
  // The angle constant 3.14159 and the vertical angle 0 (cos 0 = 1,
  // sin 0 = 0), as for the points on screen.
  const double r = a * kPointPi / 180.0;
  CsvPoint p;
  p.x = static_cast<float>(d * std::cos(0.0) * std::sin(r) / 10);
  p.y = static_cast<float>(d * std::cos(0.0) * std::cos(r) / 10);
  p.z = static_cast<float>(d * std::sin(0.0) / 10);
  if (viewMode == 0) {
    p.x = wholeCentimetres(p.x, kind);
    p.y = wholeCentimetres(p.y, kind);
    p.z = wholeCentimetres(p.z, kind);
  }
  return p;
}

}  // namespace

CsvPoint csvPoint(double scaledDistance, double azimuth, int viewMode, CsvFrameKind kind) {
  return pointOf(scaledDistance, azimuth, viewMode, kind);
}

std::size_t appendCsvFrame(std::string& out, const LidarDataSingleLine& record, int frameId,
                           const CsvExportOptions& options, CsvFrameKind kind, const char* lineEnd) {
  const std::size_t lineEndLength = std::strlen(lineEnd);
  // A line is at most 8 fields of at most 24 characters.
  constexpr std::size_t kMaxLine = 8 * 24 + 8;

  char idText[16];
  const std::size_t idLength = static_cast<std::size_t>(putInteger(idText, idText + sizeof idText, frameId) - idText);

  std::size_t lines = 0;
  std::size_t used = out.size();
  forEachExportedMeasurement(record, options, [&](std::size_t j, double a, double d) {
    const CsvPoint point = pointOf(d, a, options.viewMode, kind);
    const float x = point.x, y = point.y, z = point.z;

    if (out.size() < used + kMaxLine + lineEndLength) out.resize(std::max(out.size() * 2, used + 64 * kMaxLine));
    char* p = out.data() + used;
    char* const end = out.data() + out.size();
    std::memcpy(p, idText, idLength);
    p += idLength;
    *p++ = ',';
    p = putGeneral(p, end, x);
    *p++ = ',';
    p = putGeneral(p, end, y);
    *p++ = ',';
    p = putGeneral(p, end, z);
    *p++ = ',';
    p = putInteger(p, end, record.intensity[j]);
    *p++ = ',';
    p = putGeneral(p, end, a);
    *p++ = ',';
    p = putGeneral(p, end, d / 10);
    *p++ = ',';
    p = putInteger(p, end, record.timestamp[j]);
    std::memcpy(p, lineEnd, lineEndLength);
    p += lineEndLength;
    used = static_cast<std::size_t>(p - out.data());
    ++lines;
  });
  out.resize(used);
  return lines;
}

}  // namespace z540k
