#include "CsvExport.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "PointComputation.h"

namespace z540k {

namespace {

// The three digits of 0..999 in the low bytes, first digit lowest.
struct ThreeDigits {
  std::uint32_t of[1000];
  constexpr ThreeDigits() : of() {
    for (std::uint32_t i = 0; i < 1000; ++i) of[i] = ('0' + i / 100) | ('0' + i / 10 % 10) << 8 | ('0' + i % 10) << 16;
  }
};
constexpr ThreeDigits kThreeDigits;

// %g with six significant digits of 1 <= v < 1e6, as std::to_chars writes
// it: v scaled to six digits before the point is off from the exact product
// by less than 1e-9, so unless it lies that close to half way between two
// integers, rounding it to the nearest integer gives the six digits that
// exact rounding gives; those then print with the point put back and the
// trailing zeros dropped. Null when it cannot tell (near half way, or six
// digits that round up to seven). Writes up to 8 bytes at p.
inline char* putSixDigits(char* p, double v) {
  static constexpr double kScale[6] = {1e5, 1e4, 1e3, 1e2, 1e1, 1};
  const int whole = v < 10 ? 1 : v < 1e2 ? 2 : v < 1e3 ? 3 : v < 1e4 ? 4 : v < 1e5 ? 5 : 6;
  const double scaled = v * kScale[whole - 1];
  const double below = std::floor(scaled);
  const double fraction = scaled - below;
  if (fraction > 0.5 - 1e-6 && fraction < 0.5 + 1e-6) return nullptr;
  const std::uint32_t n = static_cast<std::uint32_t>(below) + (fraction > 0.5 ? 1u : 0u);
  if (n > 999999) return nullptr;
  // The six digits in the low six bytes, the first one lowest; n >= 100000,
  // so the first is not 0.
  const std::uint64_t digits = kThreeDigits.of[n / 1000] | std::uint64_t{kThreeDigits.of[n % 1000]} << 24;
  // Digits after the last one that is not 0: the top bytes holding '0'.
  const std::uint64_t values = (digits - 0x303030303030u) << 16;
  const int last = 6 - __builtin_clzll(values) / 8;
  std::uint64_t text = digits;
  int length = whole;
  if (last > whole) {
    const int at = 8 * whole;
    text = (digits & ((std::uint64_t{1} << at) - 1)) | std::uint64_t{'.'} << at | (digits >> at) << (at + 8);
    length = last + 1;
  }
  std::memcpy(p, &text, 8);
  return p + length;
}

// A whole number as std::to_chars writes it, three digits at a time; writes
// up to 3 bytes past its end.
inline char* putDecimal(char* p, std::uint64_t v) {
  std::uint32_t groups[7];
  int count = 0;
  for (; v >= 1000; v /= 1000) groups[count++] = static_cast<std::uint32_t>(v % 1000);
  const int length = v < 10 ? 1 : v < 100 ? 2 : 3;
  const std::uint32_t first = kThreeDigits.of[v] >> (8 * (3 - length));
  std::memcpy(p, &first, 4);
  p += length;
  while (count > 0) {
    std::memcpy(p, &kThreeDigits.of[groups[--count]], 4);
    p += 3;
  }
  return p;
}

// Default output-stream formatting of floating-point numbers: at most six
// significant digits, fixed or exponent notation as the value needs, no
// trailing zeros ("%g"). std::to_chars with precision 6 gives the same bytes.
// A whole number below a million prints as that integer under this rule,
// which the integer conversion writes several times faster (the whole
// centimetres of "View Mode 1"); -0 keeps its sign through the general path.
// A float prints as its value widened to double, with the same rule.
// Most other values (1 <= |v| < 1e6) take the shortcut of putSixDigits.
template <typename F>
inline char* putGeneral(char* p, char* end, F v) {
  if (v > -1e6 && v < 1e6) {
    const long long whole = static_cast<long long>(v);
    if (static_cast<F>(whole) == v && !(whole == 0 && std::signbit(v))) {
      if (whole >= 0) return putDecimal(p, static_cast<std::uint64_t>(whole));
      *p = '-';
      return putDecimal(p + 1, static_cast<std::uint64_t>(-whole));
    }
    const double wide = v;
    if (wide >= 1) {
      if (char* q = putSixDigits(p, wide)) return q;
    } else if (wide <= -1) {
      *p = '-';
      if (char* q = putSixDigits(p + 1, -wide)) return q;
    }
  }
  return std::to_chars(p, end, v, std::chars_format::general, 6).ptr;
}

template <typename Int>
inline char* putInteger(char* p, char* end, Int v) {
  if constexpr (std::is_signed_v<Int>) {
    if (v < 0) return std::to_chars(p, end, v).ptr;
  }
  return putDecimal(p, static_cast<std::uint64_t>(v));
}

// Whole centimetres through an integer, as the points on screen get them:
// -0.7 becomes 0 (not -0), and the frozen frame rounds half up first.
inline float wholeCentimetres(float v, CsvFrameKind kind) {
  const double shifted = kind == CsvFrameKind::Arriving ? v : static_cast<double>(v) + 0.5;
  return static_cast<float>(static_cast<long long>(shifted));
}

// A frame written as it arrives holds the points the view draws; the frozen
// frame divides by 10 where the view multiplies by 0.1, and rounds half up.
inline CsvPoint pointOf(double d, double a, ViewMode viewMode, CsvFrameKind kind) {
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
  if (viewMode == ViewMode::WholeCentimetres) {
    p.x = wholeCentimetres(p.x, kind);
    p.y = wholeCentimetres(p.y, kind);
    p.z = wholeCentimetres(p.z, kind);
  }
  return p;
}

}  // namespace

CsvPoint csvPoint(double scaledDistance, double azimuth, ViewMode viewMode, CsvFrameKind kind) {
  return pointOf(scaledDistance, azimuth, viewMode, kind);
}

std::size_t appendCsvFrame(CsvLineSink& out, const LidarDataSingleLine& record, int frameId,
                           const CsvExportOptions& options, CsvFrameKind kind, const char* lineEnd) {
  const std::size_t lineEndLength = std::strlen(lineEnd);
  // A line and the few bytes its fields may write past their end.
  const std::size_t room = kCsvLineMax + lineEndLength + 8;

  // "ID," and the line end copied whole, the pointer moved by their length.
  char prefix[32] = {};
  char* const prefixEnd = std::to_chars(prefix, prefix + 16, frameId).ptr;
  *prefixEnd = ',';
  const std::size_t prefixLength = static_cast<std::size_t>(prefixEnd + 1 - prefix);
  char ending[8] = {};
  const bool shortEnding = lineEndLength <= sizeof ending;
  if (shortEnding) std::memcpy(ending, lineEnd, lineEndLength);

  std::size_t lines = 0;
  forEachExportedMeasurement(record, options, [&](std::size_t j, double a, double d) {
    const CsvPoint point = pointOf(d, a, options.viewMode, kind);
    const float x = point.x, y = point.y, z = point.z;

    if (static_cast<std::size_t>(out.end - out.next) < room) out.makeRoom(room);
    char* p = out.next;
    char* const end = out.end;
    std::memcpy(p, prefix, 16);
    p += prefixLength;
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
    if (shortEnding)
      std::memcpy(p, ending, sizeof ending);
    else
      std::memcpy(p, lineEnd, lineEndLength);
    out.next = p + lineEndLength;
    ++lines;
  });
  return lines;
}

namespace {

// A string grown a few dozen lines at a time: what a resize fills with zeros
// stays in proportion to the lines written.
class StringSink final : public CsvLineSink {
 public:
  explicit StringSink(std::string& s) : s_(s) { next = end = s_.data() + s_.size(); }
  void makeRoom(std::size_t bytes) override {
    const std::size_t used = static_cast<std::size_t>(next - s_.data());
    s_.resize(used + 64 * bytes);
    next = s_.data() + used;
    end = s_.data() + s_.size();
  }
  ~StringSink() { s_.resize(static_cast<std::size_t>(next - s_.data())); }

 private:
  std::string& s_;
};

}  // namespace

std::size_t appendCsvFrame(std::string& out, const LidarDataSingleLine& record, int frameId,
                           const CsvExportOptions& options, CsvFrameKind kind, const char* lineEnd) {
  StringSink sink(out);
  return appendCsvFrame(sink, record, frameId, options, kind, lineEnd);
}

}  // namespace z540k
