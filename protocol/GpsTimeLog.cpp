#include "GpsTimeLog.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace z540k {

namespace {
// GBK bytes of the log's Chinese texts.
const char* const kLocalTime = "\xB1\xBE\xB5\xD8\xCA\xB1\xBC\xE4";                       // local time
const char* const kGpsTime = "GPS\xCA\xB1\xBC\xE4";                                      // GPS time
const char* const kGpsTimeJump = "GPS\xCA\xB1\xBC\xE4\xB7\xA2\xC9\xFA\xCC\xF8\xB1\xE4";  // GPS time jump occurred
}  // namespace

std::string gpsDateTimeText(const GpsDateTime& w) {
  char text[48];
  std::snprintf(text, sizeof text, "%d/%02d/%02d %02d:%02d:%02d", 2000 + w.year, w.month, w.day, w.hour, w.minute,
                w.second);
  return text;
}

namespace {

// Reads `digits` decimal digits at `pos`; false if any is not a digit.
bool readDigits(const std::string& text, std::size_t pos, int digits, int& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const char c = text[pos + i];
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

}  // namespace

std::uint32_t gpsEpochSeconds(const std::string& text) {
  constexpr std::uint32_t kInvalid = 4294967295u;
  // Exactly "yyyy/MM/dd hh:mm:ss": a byte above 99 gives a three-digit field
  // and the text does not parse.
  if (text.size() != 19 || text[4] != '/' || text[7] != '/' || text[10] != ' ' || text[13] != ':' || text[16] != ':')
    return kInvalid;
  int year, month, day, hour, minute, second;
  if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
      !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) || !readDigits(text, 17, 2, second))
    return kInvalid;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 || second > 59)
    return kInvalid;
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;  // the local rules decide whether summer time applies
  const std::tm asked = local;
  const std::time_t seconds = std::mktime(&local);
  // A local time that does not exist (skipped when summer time begins) comes
  // back moved: it is not a valid date and time.
  if (seconds == static_cast<std::time_t>(-1) && !(asked.tm_year == 69 && asked.tm_mon == 11 && asked.tm_mday == 31))
    return kInvalid;
  if (local.tm_hour != asked.tm_hour || local.tm_min != asked.tm_min || local.tm_mday != asked.tm_mday) return kInvalid;
  if (seconds < 0 || static_cast<long long>(seconds) >= 4294967295LL) return kInvalid;
  return static_cast<std::uint32_t>(seconds);
}

namespace gps_log {

std::string header() { return std::string("\t\t") + kLocalTime + "\t\t\t\t\t\t " + kGpsTime + "\n"; }

std::string reading(const std::string& localTime, const std::string& gpsText, std::uint32_t epochSeconds) {
  return localTime + "\t\t\t" + kGpsTime + " :" + gpsText + "\t\t" + std::to_string(epochSeconds) + "\n";
}

std::string jumpInGpsLog(const std::string& previousText, const std::string& gpsText) {
  return std::string("-------------- ") + kGpsTimeJump + " : " + previousText + " -> " + gpsText + "--------------\n";
}

std::string jumpInJumpLog(const std::string& localTime, const std::string& previousText, const std::string& gpsText) {
  return localTime + "\t\t\t" + kGpsTimeJump + " :" + previousText + " -> " + gpsText + "\n";
}

std::string packetSeparator() { return "------------------------------------------\n"; }

}  // namespace gps_log

}  // namespace z540k
