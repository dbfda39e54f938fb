// Readable and JSON renderings of a decoded status packet, for the headless
// tool's status command.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "LidarRecords.h"
#include "StatusPacket.h"

namespace z540k::cli {

// Names of the 19 status values, in list order (the MAC bytes first).
extern const char* const kStatusValueNames[kStatusValueCount];

// Every SettingData field on its own line ("name  value"), then the value list.
std::string statusAsText(const SettingData& status, const std::vector<int>& values);

// One JSON object on one line: the sender (when given), the SettingData
// fields in record order by name (numbers as numbers, two-byte fields
// big-endian, characters as text without their trailing zeros, the address
// and the UTC time as text, other byte runs as arrays of numbers), the
// decoded "versions" as the About dialog shows them, and the named "values"
// (the MAC as text).
std::string statusAsJson(const SettingData& status, const std::vector<int>& values, const std::string& sourceIp = "",
                         std::uint16_t sourcePort = 0);

// A status packet in the short layout, which carries only these fields:
// readable, one "name  value" line each after a line naming the layout, and
// as one JSON object {"layout":"short","sensorIp":"A.B.C.D","dataPort":N,
// "destIp":"A.B.C.D","devicePort":N,"motorSpeed":N}, after the sender when
// given.
std::string shortStatusAsText(const ShortStatus& status);
std::string shortStatusAsJson(const ShortStatus& status, const std::string& sourceIp = "",
                              std::uint16_t sourcePort = 0);

// What the windows show for one status packet (1206 bytes), as (name, text)
// pairs, by the same functions the windows call: the settings window's live
// values, the texts its Refresh fills, and the advanced window's Refresh. A
// packet in the short layout gives the settings window's Refresh of that
// layout only. An empty text is a choice the status leaves unchanged.
using NamedTexts = std::vector<std::pair<std::string, std::string>>;
NamedTexts windowValues(const std::uint8_t* packet);

// "name  text" lines (characters outside printable ASCII as \xNN, an
// unchanged choice as "(unchanged)"), or one JSON object: numbers as
// numbers, an unchanged choice null, other texts as strings.
std::string namedTextsAsText(const NamedTexts& values);
std::string namedTextsAsJson(const NamedTexts& values);

// The network settings a status packet or a network settings packet (long,
// or the 36-byte short one) holds, as a Refresh reads them; the short forms
// only the fields they carry.
NamedTexts networkSettingsTexts(const std::uint8_t* packet, std::size_t size);
// The factory values a status packet or an advanced settings packet holds.
NamedTexts advancedSettingsTexts(const std::uint8_t* packet);
// What a packet changes, as one JSON object: {"destination":"IP:PORT",
// "fields":[{"name":..,"before":..,"after":..,"changed":true|false},...]},
// the values typed as namedTextsAsJson types them.
std::string settingsChangeJson(const NamedTexts& before, const NamedTexts& after, const std::string& destination);

}  // namespace z540k::cli
