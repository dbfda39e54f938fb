#include "SettingsFieldValues.h"

#include <algorithm>
#include <cstdlib>

namespace z540k {

std::uint16_t motorSpeedOf(const std::string& choice, std::uint16_t otherwise) {
  for (const MotorSpeedChoice& c : kMotorSpeedChoices)
    if (choice == c.text) return c.rpm;
  return otherwise;
}

namespace {

// Far beyond any 16-bit field, small enough never to overflow.
constexpr long long kLargest = 1LL << 40;

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string trimmed(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && isSpace(text[b])) ++b;
  while (e > b && isSpace(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// An optional sign at t[i]: true for "-".
bool readSign(const std::string& t, std::size_t& i) {
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) return t[i++] == '-';
  return false;
}

std::string limitText(const FieldRule& rule, long long v) {
  return rule.shift == 2 ? hundredthsText(v) : std::to_string(v);
}

}  // namespace

int signed16(std::uint16_t raw) { return raw > 32767 ? static_cast<int>(raw) - 65536 : raw; }

std::string hundredthsFixedText(long long hundredths) {
  const unsigned long long magnitude =
      hundredths < 0 ? 0ULL - static_cast<unsigned long long>(hundredths) : static_cast<unsigned long long>(hundredths);
  const unsigned fraction = static_cast<unsigned>(magnitude % 100);
  return (hundredths < 0 ? "-" : "") + std::to_string(magnitude / 100) + "." + static_cast<char>('0' + fraction / 10) +
         static_cast<char>('0' + fraction % 10);
}

std::string hundredthsText(long long hundredths) {
  std::string text = hundredthsFixedText(hundredths);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

bool readScaledDecimal(const std::string& raw, int shift, long long& out, bool* exact) {
  const std::string t = trimmed(raw);
  std::size_t i = 0;
  const bool negative = readSign(t, i);
  std::string digits;
  long long intDigits = 0;
  while (i < t.size() && isDigit(t[i])) digits += t[i++], ++intDigits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && isDigit(t[i])) digits += t[i++];
  }
  if (digits.empty()) return false;
  long long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    const bool negativeExponent = readSign(t, i);
    if (i == t.size() || !isDigit(t[i])) return false;
    while (i < t.size() && isDigit(t[i])) exponent = std::min(exponent * 10 + (t[i++] - '0'), 100000LL);
    if (negativeExponent) exponent = -exponent;
  }
  if (i != t.size()) return false;
  // The integer part of the scaled value ends this many digits into `digits`.
  const long long end = intDigits + exponent + shift;
  long long v = 0;
  for (long long k = 0; k < end && v < kLargest; ++k)
    v = std::min(v * 10 + (k < static_cast<long long>(digits.size()) ? digits[static_cast<std::size_t>(k)] - '0' : 0),
                 kLargest);
  if (exact) {
    const auto kept = static_cast<std::size_t>(std::clamp(end, 0LL, static_cast<long long>(digits.size())));
    *exact = digits.find_first_not_of('0', kept) == std::string::npos;
  }
  out = negative ? -v : v;
  return true;
}

bool readWholeNumber(const std::string& raw, long long& out) {
  const std::string t = trimmed(raw);
  std::size_t i = 0;
  const bool negative = readSign(t, i);
  if (i == t.size()) return false;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (!isDigit(t[i])) return false;
    v = std::min(v * 10 + (t[i] - '0'), kLargest);
  }
  out = negative ? -v : v;
  return true;
}

std::optional<long long> fieldValue(const FieldRule& rule, const std::string& text) {
  long long v = 0;
  bool exact = true;
  const bool number = rule.wholeNumber ? readWholeNumber(text, v) : readScaledDecimal(text, rule.shift, v, &exact);
  // A digit the field cannot keep would be lost on the way: "0.005" metres
  // is not 0, so it is refused rather than sent as 0.
  if (!number || !exact || v < rule.lowest || v > rule.highest) return std::nullopt;
  return v;
}

std::optional<std::string> fieldRefusal(const FieldRule& rule, const std::string& text) {
  if (fieldValue(rule, text)) return std::nullopt;
  const bool whole = rule.wholeNumber || rule.shift == 0;
  return std::string(rule.name) + " \"" + quotedFieldText(text) + "\" is not " +
         (whole ? "a whole number" : "a number") + " from " + limitText(rule, rule.lowest) + " to " +
         limitText(rule, rule.highest) + (whole ? "" : " with at most " + std::to_string(rule.shift) + " decimals");
}

std::string keptValuesText(const std::vector<std::string>& fields) {
  if (fields.empty()) return {};
  std::string text = "The sensor keeps its own value for: ";
  for (std::size_t i = 0; i < fields.size(); ++i) text += (i ? ", " : "") + fields[i];
  return text + ".";
}

std::string quotedFieldText(const std::string& text) {
  constexpr std::size_t kShown = 24;
  std::size_t end = std::min(text.size(), kShown);
  // Never cut a UTF-8 character in two.
  while (end < text.size() && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  std::string s;
  for (std::size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    s += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  }
  return end < text.size() ? s + "..." : s;
}

}  // namespace z540k
