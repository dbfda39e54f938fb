#include "CsvExport.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "PointComputation.h"

namespace z540k {

namespace {

// The eight decimal digits of v < 10^8 (leading zeros included) as text,
// the first digit in the lowest byte, without a branch or a table: v split
// into two lanes of four digits, each into two of two, each into digits.
inline std::uint64_t eightDigits(std::uint32_t v) {
  std::uint64_t x = v / 10000 | std::uint64_t{v % 10000} << 32;
  std::uint64_t y = ((x * 5243) >> 19) & 0x0000007F0000007Fu;  // each 32-bit lane / 100
  x = y | (x - y * 100) << 16;
  y = ((x * 103) >> 10) & 0x000F000F000F000Fu;  // each 16-bit lane / 10
  x = y | (x - y * 10) << 8;
  return x | 0x3030303030303030u;
}

// For v of a bit length, its least count of digits in the high half, and in
// the low half what carries v into the next count when it has one more.
struct DigitCounts {
  std::uint64_t byBits[32];
  constexpr DigitCounts() : byBits() {
    std::uint64_t power = 10;  // the first power of ten above 2^(bits - 1)
    int digits = 1;
    for (int bits = 1; bits <= 32; ++bits) {
      const std::uint64_t least = std::uint64_t{1} << (bits - 1);
      while (power <= least) {
        power *= 10;
        ++digits;
      }
      const bool more = power < (std::uint64_t{1} << bits);  // some v of this length have one more digit
      byBits[bits - 1] = std::uint64_t(digits) << 32 | (more ? (std::uint64_t{1} << 32) - power : 0);
    }
  }
};
constexpr DigitCounts kDigitCounts;

// The digits of v, without a branch.
inline int digitCount(std::uint32_t v) {
  return static_cast<int>((v + kDigitCounts.byBits[31 - __builtin_clz(v | 1)]) >> 32);
}

// %g with six significant digits of 1 <= v < 1e6, as std::to_chars writes
// it: v scaled to six digits before the point is off from the exact product
// by less than 1e-9, so unless it lies that close to half way between two
// integers, rounding it to the nearest integer gives the six digits that
// exact rounding gives; those then print with the point put back and the
// trailing zeros dropped. Null when it cannot tell (near half way, or six
// digits that round up to seven). Writes up to 8 bytes at p. The digits of
// the values of a scan vary at random, so nothing here branches on them.
inline char* putSixDigits(char* p, double v) {
  static constexpr double kScale[6] = {1e5, 1e4, 1e3, 1e2, 1e1, 1};
  const int whole = 1 + (v >= 10) + (v >= 1e2) + (v >= 1e3) + (v >= 1e4) + (v >= 1e5);
  const double scaled = v * kScale[whole - 1];
  const std::uint32_t below = static_cast<std::uint32_t>(scaled);  // at least 1e5: toward zero is down
  const double fraction = scaled - below;
  if (fraction > 0.5 - 1e-6 && fraction < 0.5 + 1e-6) return nullptr;
  const std::uint32_t n = below + (fraction > 0.5);
  if (n > 999999) return nullptr;
  // The six digits in the low six bytes, the first one lowest; n >= 100000,
  // so the first is not 0.
  const std::uint64_t digits = eightDigits(n) >> 16;
  // Digits after the last one that is not 0: the top bytes holding '0'.
  const std::uint64_t values = (digits - 0x303030303030u) << 16;
  const int last = 6 - __builtin_clzll(values) / 8;
  const int at = 8 * whole;
  const std::uint64_t pointed =
      (digits & ((std::uint64_t{1} << at) - 1)) | std::uint64_t{'.'} << at | (digits >> at) << (at + 8);
  const bool fractional = last > whole;
  const std::uint64_t text = fractional ? pointed : digits;
  std::memcpy(p, &text, 8);
  return p + (fractional ? last + 1 : whole);
}

// A whole number as std::to_chars writes it; writes up to 8 bytes past the
// digits' start.
inline char* putDecimal(char* p, std::uint64_t v) {
  if (v >= 100000000) {
    p = putDecimal(p, v / 100000000);
    const std::uint64_t low = eightDigits(static_cast<std::uint32_t>(v % 100000000));
    std::memcpy(p, &low, 8);
    return p + 8;
  }
  const std::uint32_t small = static_cast<std::uint32_t>(v);
  const int length = digitCount(small);
  const std::uint64_t text = eightDigits(small) >> (8 * (8 - length));
  std::memcpy(p, &text, 8);
  return p + length;
}

// A whole number with its sign, the sign not branched on.
inline char* putSigned(char* p, long long v) {
  *p = '-';
  const bool negative = v < 0;
  return putDecimal(p + negative, negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v));
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
  if (v == 0 && !std::signbit(v)) {  // z of every point of this single-line sensor
    *p = '0';
    return p + 1;
  }
  if (v > -1e6 && v < 1e6) {
    const double wide = v;
    const long long whole = static_cast<long long>(v);
    if (static_cast<F>(whole) == v && !(whole == 0 && std::signbit(v))) return putSigned(p, whole);
    if (wide >= 1) {
      if (char* q = putSixDigits(p, wide)) return q;
    } else if (wide <= -1) {
      *p = '-';
      if (char* q = putSixDigits(p + 1, -wide)) return q;
    }
  }
  return std::to_chars(p, end, v, std::chars_format::general, 6).ptr;
}

// The text of 0..999 and its length in the top byte.
struct SmallNumbers {
  std::uint32_t of[1000];
  constexpr SmallNumbers() : of() {
    for (std::uint32_t i = 0; i < 1000; ++i) {
      const std::uint32_t digits = i < 10 ? 1 : i < 100 ? 2 : 3;
      std::uint32_t text = 0;
      for (std::uint32_t k = 0, rest = i; k < digits; ++k, rest /= 10)
        text |= ('0' + rest % 10) << 8 * (digits - 1 - k);
      of[i] = text | digits << 24;
    }
  }
};
constexpr SmallNumbers kSmallNumbers;

// An integer as std::to_chars writes it; an intensity (0..255) from a table.
template <typename Int>
inline char* putInteger(char* p, char* end, Int v) {
  if constexpr (std::is_signed_v<Int>) {
    if (v < 0) return std::to_chars(p, end, v).ptr;
  }
  if (v < 1000) {
    const std::uint32_t text = kSmallNumbers.of[v];
    std::memcpy(p, &text, 4);
    return p + (text >> 24);
  }
  return putDecimal(p, static_cast<std::uint64_t>(v));
}

// d / 10 as putGeneral writes it. The scaled distances are whole numbers of
// millimetres (the sensor's counts times 2 or 4): below 1e6, d / 10 then has
// at most six significant digits, which %g writes as they are: d's digits
// with a point before the last unless that is 0.
inline char* putTenth(char* p, char* end, double d) {
  if (d >= 0 && d < 1e6 && !std::signbit(d)) {
    const auto whole = static_cast<std::uint32_t>(d);
    if (whole == d) {
      const std::uint32_t tenths = whole % 10;
      p = putDecimal(p, whole / 10);
      p[0] = '.';
      p[1] = static_cast<char>('0' + tenths);
      return p + (tenths != 0 ? 2 : 0);
    }
  }
  return putGeneral(p, end, d / 10);
}

}  // namespace

CsvPoint csvPoint(double scaledDistance, double azimuth, ViewMode viewMode, CsvFrameKind kind) {
  const double r = sceneAngle(azimuth);
  return csvPoint(scaledDistance, std::sin(r), std::cos(r), viewMode, kind);
}

CsvRowMemo::CsvRowMemo() : sets_(std::size_t{1} << kSetBits) {
  // Every entry true from the start: all hold azimuth 0.
  fill(sets_[0], 0, 0.0);
  const Azimuth zero = sets_[0].way[0];
  for (Set& set : sets_) set.way[0] = set.way[1] = zero;
}

const CsvRowMemo::Azimuth& CsvRowMemo::fill(Set& set, std::uint64_t bits, double azimuth) {
  set.way[1] = set.way[0];
  Azimuth& e = set.way[0];
  const double r = sceneAngle(azimuth);
  e.bits = bits;
  e.sine = std::sin(r);
  e.cosine = std::cos(r);
  char text[32];
  const char* end = putGeneral(text, text + sizeof text, azimuth);
  e.length = static_cast<std::uint8_t>(end - text);
  std::memcpy(e.text, text, sizeof e.text);
  return e;
}

std::size_t appendCsvFrame(CsvLineSink& out, const LidarDataSingleLine& record, int frameId,
                           const CsvExportOptions& options, CsvFrameKind kind, CsvRowMemo& memo, const char* lineEnd) {
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
    const CsvRowMemo::Azimuth& azimuth = memo.of(a);
    const CsvPoint point = csvPoint(d, azimuth.sine, azimuth.cosine, options.viewMode, kind);
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
    std::memcpy(p, azimuth.text, 16);  // the text and the length after it
    p += azimuth.length;
    *p++ = ',';
    p = putTenth(p, end, d);
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
                           const CsvExportOptions& options, CsvFrameKind kind, const char* lineEnd, CsvRowMemo* memo) {
  StringSink sink(out);
  if (memo) return appendCsvFrame(sink, record, frameId, options, kind, *memo, lineEnd);
  CsvRowMemo own;
  return appendCsvFrame(sink, record, frameId, options, kind, own, lineEnd);
}

const char* takeCsvAngleRange(float angleMin, float angleMax, CsvExportOptions& options) {
  // Written as "not inside" so that a NaN is refused like any other angle
  // out of range instead of passing every comparison.
  const auto outOfRange = [](double a) { return !(a >= 0.0 && a <= 360.0); };
  if (outOfRange(angleMin) || outOfRange(angleMax)) return "Invalid angle";
  if (angleMin > angleMax) return "Angle range invalid";
  if (angleMin == angleMax) {
    angleMin -= 0.5f;
    angleMax += 0.5f;
  }
  options.angleMin = angleMin;
  options.angleMax = angleMax;
  return nullptr;
}

}  // namespace z540k
