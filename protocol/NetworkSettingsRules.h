// The rules the network settings window and `z540k-tool configure` share, so
// that the two cannot disagree: how the live status values read, what
// "Refresh state" puts into the editable fields, the address rules (subnet
// mask fill, contiguous mask, gateway in the subnet, first octet), the checks
// of the fields before Set, and when the sensor and destination addresses
// count as equal (by the bytes sent, so 10.0.0.1 equals 10.0.0.01).
//
// A Refresh followed by an unedited Set writes back the status bytes of every
// field: each text here reads back to the bytes it came from.
//
// Pure functions, no Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LidarRecords.h"
#include "NetworkSettingsPacket.h"

namespace z540k {

// ---- The live status, as the window shows every decoded status -------------

struct NetworkStatusDisplay {
  int motorSpeed = 0;               // bytes 8-9; 100 rpm or less reads 0
  std::string utcTime;              // bytes 52-57: "2024/3/9 8:5:30"
  std::string ppsSetAngle;          // bytes 48-49 in hundredths, two decimals: "360.00"
  std::string longitude, latitude;  // the ten characters and the hemisphere letter, one Latin-1 byte each
  std::string mac;                  // status values 0-5: "60-76-88-0a-0b-ff"
  std::string ppsAngleLocked;       // "0" while the PPS deviation is within +-15 degrees, else "1"
  std::string ppsDeviation;         // status value 6, two's complement hundredths: "-0.01"
  std::string plate2Temperature;    // bytes 80-81 less 50, signed 16-bit, two decimals
  int lvdsIndex = 0;                // 1 when byte 83 is odd
  std::string gpsState, ppsState, highTemperaturePause;  // bytes 84, 85, 86
  std::string machineStopTemperature;  // v = bytes 87-88: v / 4096 x 330 - 50, two decimals; 0 reads "0.00"
  std::string plate3Voltage;           // bytes 89-98, each in decimal, run together
  bool shortFormat = false;            // byte 1202 is 3: short status layout, short packet
  // The About dialog's version texts, in its order; index 2 is the 20 bytes
  // of the version text as they are (Latin-1).
  std::vector<std::string> versions;
};
NetworkStatusDisplay networkStatusDisplay(const SettingData& status, const std::vector<int>& values);

// ---- Refresh ------------------------------------------------------------------

// What a Refresh fills from the last raw status packet, in the layout the
// sensor reports (the short one carries only addresses, ports and speed).
struct NetworkSettingsRefresh {
  bool shortFormat = false;
  std::string sensorIp, destIp;
  bool hasServerAddresses = false;  // long layout: the NTP, gateway and subnet texts below are filled
  std::string ntp, gateway, subnet;
  std::string dataPort, devicePort;
  std::string interval;          // long layout only
  std::string mac;               // long layout only (the window shows it with every status)
  int motorSpeed = 0;            // long: bytes 8-9, 100 rpm or less as 0; short: bytes 20-21
  std::string motorSpeedChoice;  // " 5 HZ", " 10 HZ", " 20 HZ"; empty: the choice stays
  std::string motorState;        // "Run" (0), "Stop" (1); empty: the choice stays
  int sensorState = -1;          // 0 "Running", 1 "Sleep"; -1: the choice stays
};
NetworkSettingsRefresh refreshedSettings(const StatusSnapshot& snapshot, bool shortFormat);

// A Refresh applied to the fields: what it fills replaces their texts, the
// choices it cannot set keep theirs.
void applyRefresh(const NetworkSettingsRefresh& refresh, NetworkSettingsInput& fields);

// ---- Address rules ------------------------------------------------------------

// Each address part is read as the window reads it: a decimal number, 0 for
// anything else.
enum class AddressCheck {
  Unknown,  // not judged (empty or not four parts): no message
  Valid,
  Invalid,
};

// The subnet mask filled when the focus enters its field: nothing when the
// destination IP is empty (the field stays as it is); else the class mask of
// a four-part destination (first part 1-126 "255.0.0.0", 128-191
// "255.255.0.0", 192-223 "255.255.255.0"), or "" (the field is cleared).
std::optional<std::string> subnetMaskFill(const std::string& destIp);

// The gateway filled when the focus enters its field: the destination IP's
// first three parts ANDed with the mask's, then ".1"; nothing (the field
// stays) unless both have four parts.
std::optional<std::string> gatewayFill(const std::string& destIp, const std::string& subnet);

// A contiguous mask (0.0.0.0 and 255.255.255.255 included) is Valid.
AddressCheck subnetMaskCheck(const std::string& mask);

// Valid when the gateway lies in the destination IP's subnet; Unknown when any
// of the three is empty or has fewer than four non-empty parts.
AddressCheck gatewayCheck(const std::string& gateway, const std::string& destIp, const std::string& subnet);

// The first part of an address must be 1-223. Invalid comes with the part's
// value and the text the field gets instead ("223." and parts 1-3).
struct FirstOctet {
  AddressCheck check = AddressCheck::Unknown;
  int value = 0;
  std::string replacement;
};
FirstOctet firstOctetCheck(const std::string& address);

// ---- Set ----------------------------------------------------------------------

enum class NetworkField { SensorIp, DestIp, Subnet, Gateway, Ntp, Mac, DataPort, DevicePort, Interval, PpsAngle };

// Why a field's text cannot be sent, one line naming the field (by its label)
// and what it takes; nothing when it can. Empty texts pass (the packet then
// keeps or defaults that value). Addresses: four numbers 0-255, and the
// sensor's and destination IP a host's (first number 1-223: never 0.0.0.0
// nor 255.255.255.255); a 17-character MAC: six hexadecimal pairs; ports:
// whole numbers 0-65535 (one of 1024 or below keeps the sensor's port);
// interval 0-65535; PPS angle whole degrees 0-360. The whole text is judged:
// nothing is cut, rounded or read past.
std::optional<std::string> networkFieldRefusal(NetworkField field, const std::string& text);

// The first refusal among the fields the format sends, in the form's order.
std::optional<std::string> networkSettingsRefusal(const NetworkSettingsInput& input, bool shortFormat);

// The fields (named as the refusals name them, in the form's order) for which
// the packet keeps the sensor's own value: an empty address, PPS angle or
// port, a port of 1024 or below. The window's completion message lists them.
std::vector<std::string> keptSensorValues(const NetworkSettingsInput& input, bool shortFormat);

// True when the sensor and destination IP texts are equal, or both are
// addresses (typed, or kept from the snapshot when empty) whose bytes are.
bool sameSensorAndDestination(const NetworkSettingsInput& input, const StatusSnapshot& snapshot, bool shortFormat);
extern const char* const kSameAddressMessage;

}  // namespace z540k
