// The status packets the configuration tests build on: a long-layout and a
// short-layout sensor status with known addresses, ports and speed, every
// other byte a filler that shows a byte copied from the wrong place.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "NetworkSettingsPacket.h"

namespace z540k::test {

// A long-layout status packet: the sensor at 192.168.1.200 sending to
// 192.168.1.102, ports 2368/2369, 600 rpm, PPS angle 46.60; every byte the
// packet does not overwrite holds (i * 7) & 0xFF, so a byte copied from the
// wrong place shows.
inline StatusSnapshot longSnapshot() {
  StatusSnapshot s;
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i * 7);
  const std::vector<std::uint8_t> head = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55,  // header
                                          0x02, 0x58,                                      // 600 rpm
                                          0xC0, 0xA8, 0x01, 0xC8, 0xC0, 0xA8, 0x01, 0x66,  // sensor, destination
                                          0x60, 0x76, 0x88, 0x00, 0x00, 0x01,              // MAC
                                          0x09, 0x40, 0x09, 0x41,                          // ports
                                          0xC0, 0xA8, 0x01, 0x01, 0xC0, 0xA8, 0x01, 0x01,  // NTP, gateway
                                          0xFF, 0xFF, 0xFF, 0x00,                          // subnet mask
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00};  // run state, interval, sensor state
  std::copy(head.begin(), head.end(), s.begin());
  s[48] = 0x12;
  s[49] = 0x34;
  s[1202] = 1;
  return s;
}

// A short-layout status packet (byte 1202 = 3): sensor 192.168.1.200 at 8-11,
// data port 2368 at 12-13, destination 192.168.1.102 at 14-17, device port
// 2369 at 18-19, 1200 rpm at 20-21.
inline StatusSnapshot shortSnapshot() {
  StatusSnapshot s;
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i * 7);
  const std::vector<std::uint8_t> head = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55, 0xC0, 0xA8, 0x01,
                                          0xC8, 0x09, 0x40, 0xC0, 0xA8, 0x01, 0x66, 0x09, 0x41, 0x04, 0xB0};
  std::copy(head.begin(), head.end(), s.begin());
  s[1202] = 3;
  return s;
}

}  // namespace z540k::test
