// The numbers in the configuration windows' fields: the sensor's signed
// 16-bit values, decimal texts read exactly (never through binary floating
// point, which would turn 1.15 into 114 hundredths), texts of hundredths, and
// the refusal of a text its field cannot hold.
//
// Pure functions, no Qt.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace z540k {

// A 16-bit status value the sensor stores in two's complement: values above
// 32767 have 65536 subtracted (0xFF6A is -150, 0xFFFF is -1).
int signed16(std::uint16_t raw);

// Hundredths as a decimal text, no trailing zeros: 12345 "123.45", -150
// "-1.5", -1 "-0.01", 0 "0".
std::string hundredthsText(long long hundredths);
// With exactly two decimals: 36000 "360.00", -5 "-0.05".
std::string hundredthsFixedText(long long hundredths);

// A decimal text (C locale: optional sign, digits with an optional point, an
// optional exponent; white space around it) as 10^shift times its value,
// truncated toward zero, computed from its digits exactly. Magnitudes beyond
// 2^40 stop there. False for anything else ("", "nan", "inf", "0x10", "1,5").
// `exact`, when given, says whether the truncation dropped nothing but zeros
// ("1.50" with shift 2: true; "0.005": false).
bool readScaledDecimal(const std::string& text, int shift, long long& value, bool* exact = nullptr);

// A whole number: optional sign, then decimal digits, white space around it.
// Magnitudes beyond 2^40 stop there. False for anything else ("1.5", "1e2").
bool readWholeNumber(const std::string& text, long long& value);

// What a field takes: a whole number, or a decimal number times 10^shift
// within [lowest, highest] after that scaling, with no more decimals than the
// field keeps (trailing zeros aside: "1.50" fits hundredths, "1.505" does not).
struct FieldRule {
  const char* name;  // as a message names the field: "Measuring range (m)"
  bool wholeNumber;  // only a whole number ("1.5" is refused)
  int shift;         // decimal places kept (2: hundredths)
  long long lowest, highest;
};

// The text's value by `rule`, or nothing when the field cannot hold it.
std::optional<long long> fieldValue(const FieldRule& rule, const std::string& text);

// Why the field cannot hold the text, one line naming the field, its range
// and the decimals it keeps ("Measuring range (m) \"700\" is not a number
// from 0 to 655.35 with at most 2 decimals"; a field of no decimals: "is not
// a whole number from 0 to 65535"), or nothing when it can.
std::optional<std::string> fieldRefusal(const FieldRule& rule, const std::string& text);

// The completion message's line for the fields that kept the sensor's own
// value ("The sensor keeps its own value for: Data Port, NTP IP."); empty
// when there are none.
std::string keptValuesText(const std::vector<std::string>& fields);

// A text as a message quotes it: printable ASCII and UTF-8 as they are,
// control characters as '?', at most 24 characters.
std::string quotedFieldText(const std::string& text);

// The motor speeds both settings windows offer, in their lists' order, as
// the lists name them, and the revolutions per minute each sends.
struct MotorSpeedChoice {
  const char* text;
  std::uint16_t rpm;
};
inline constexpr std::array<MotorSpeedChoice, 3> kMotorSpeedChoices{
    {{" 5 HZ", 300}, {" 10 HZ", 600}, {" 20 HZ", 1200}}};
// The revolutions per minute of a choice's text; `otherwise` for any other text.
std::uint16_t motorSpeedOf(const std::string& choice, std::uint16_t otherwise);

}  // namespace z540k
