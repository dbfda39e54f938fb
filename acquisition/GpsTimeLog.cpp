#include "GpsTimeLog.h"

#include <QDateTime>
#include <QString>
#include <cstdio>

namespace z540k {

namespace {
// GBK bytes of the log's Chinese texts.
const char* const kLocalTime = "\xB1\xBE\xB5\xD8\xCA\xB1\xBC\xE4";                          // local time
const char* const kGpsTime = "GPS\xCA\xB1\xBC\xE4";                                        // GPS time
const char* const kGpsTimeJump = "GPS\xCA\xB1\xBC\xE4\xB7\xA2\xC9\xFA\xCC\xF8\xB1\xE4";    // GPS time jump occurred
}  // namespace

std::string gpsDateTimeText(const GpsDateTime& w) {
  char text[48];
  std::snprintf(text, sizeof text, "%d/%02d/%02d %02d:%02d:%02d", 2000 + w.year, w.month, w.day, w.hour, w.minute,
                w.second);
  return text;
}

std::uint32_t gpsEpochSeconds(const std::string& text) {
  const QDateTime t = QDateTime::fromString(QString::fromLatin1(text.c_str()), QStringLiteral("yyyy/MM/dd hh:mm:ss"));
  if (!t.isValid()) return 4294967295u;
  const qint64 seconds = t.toSecsSinceEpoch();
  if (seconds < 0 || seconds >= 4294967295LL) return 4294967295u;
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
