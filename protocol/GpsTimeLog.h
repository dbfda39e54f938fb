// The GPS time-stamp test's texts: the GPS date-time as text and as epoch
// seconds, the jump rule, and the lines of the two logs. The Chinese texts
// are written in the GBK code page, so the logs are GBK text.
#pragma once

#include <cstdint>
#include <string>

#include "PacketFormat.h"

namespace z540k {

// "yyyy/MM/dd hh:mm:ss" from the sensor's bytes: 2000 + the year byte, the
// other five with at least two digits. The bytes are not range-checked.
std::string gpsDateTimeText(const GpsDateTime& when);

// The text read as a local date and time, in seconds since 1970-01-01 UTC;
// 4294967295 when it is not a valid date and time in that range.
std::uint32_t gpsEpochSeconds(const std::string& text);

// Only the seconds are compared: an unchanged second, an advance by exactly
// one, or 59 followed by 0 is no jump; anything else is.
inline bool isGpsSecondJump(int previousSecond, int second) {
  return !(second - previousSecond == 1 || second == previousSecond || (previousSecond == 59 && second == 0));
}

namespace gps_log {
// First line of a new GPS log.
std::string header();
// One reading in the GPS log: local time, GPS text and its epoch seconds.
std::string reading(const std::string& localTime, const std::string& gpsText, std::uint32_t epochSeconds);
// A jump, in the GPS log and in the jump log.
std::string jumpInGpsLog(const std::string& previousText, const std::string& gpsText);
std::string jumpInJumpLog(const std::string& localTime, const std::string& previousText, const std::string& gpsText);
// After the reading of a packet's last block.
std::string packetSeparator();
}  // namespace gps_log

}  // namespace z540k
