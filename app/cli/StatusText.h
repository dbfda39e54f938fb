// Readable and JSON renderings of a decoded status packet, for the headless
// tool's status command.
#pragma once

#include <string>
#include <vector>

#include "LidarRecords.h"
#include "StatusPacket.h"

namespace z540k::cli {

// Names of the 19 status values, in list order (the MAC bytes first).
extern const char* const kStatusValueNames[kStatusValueCount];

// Every SettingData field on its own line ("name  value"), then the value list.
std::string statusAsText(const SettingData& status, const std::vector<int>& values);

// One JSON object on one line: the SettingData fields in record order (byte
// and character arrays as arrays of numbers, the 32-bit fields as numbers)
// and "values", the 19-entry list.
std::string statusAsJson(const SettingData& status, const std::vector<int>& values);

// A status packet in the short layout, which carries only these fields:
// readable, one "name  value" line each after a line naming the layout, and
// as one JSON object {"layout":"short","sensorIp":[..],"dataPort":N,
// "destIp":[..],"devicePort":N,"motorSpeed":N}.
std::string shortStatusAsText(const ShortStatus& status);
std::string shortStatusAsJson(const ShortStatus& status);

}  // namespace z540k::cli
