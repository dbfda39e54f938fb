// Which sensor a datagram comes from, and which one is decoded.
//
// A sensor is named by the source address and port of its datagrams: its
// data and compact scan packets name it on the data port, its status
// packets on the status port (from another port of the same address). Two
// sensors sending to one port, or recorded in one capture, are two sources;
// decoding them as one stream mixes their revolutions. The chosen sensor is
// the one pinned by the operator, else the first one seen; the datagrams of
// the others are counted, never decoded, unless all are accepted on request.
//
// Plain class; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace z540k {

// An IPv4 address (host byte order, 127.0.0.2 = 0x7F000002) and a UDP port.
// In a pin, port 0 stands for every port of the address.
struct SensorAddress {
  std::uint32_t ip = 0;
  std::uint16_t port = 0;
};
inline bool operator==(const SensorAddress& a, const SensorAddress& b) { return a.ip == b.ip && a.port == b.port; }
inline bool operator!=(const SensorAddress& a, const SensorAddress& b) { return !(a == b); }

// "127.0.0.2:2368", or "127.0.0.2" for port 0.
std::string sensorAddressText(const SensorAddress& address);

// "IP" or "IP:PORT": four decimal numbers 0-255 and a port 1-65535. False with
// a one-line reason naming the text otherwise.
bool parseSensorAddress(const std::string& text, SensorAddress& address, std::string& error);

struct SourceCount {
  SensorAddress address;
  std::uint64_t datagrams = 0;
};

class SensorSources {
 public:
  // From now on only datagrams of `address` (every port of its IP when its
  // port is 0) are the chosen sensor's.
  void pin(const SensorAddress& address);
  // Every source is accepted (the operator asked to decode them together);
  // they are still noted and counted.
  void acceptAll() { acceptAll_ = true; }

  // Notes a datagram of `from`; true when it is the chosen sensor's (with no
  // pin, the first source noted becomes the chosen one).
  bool note(const SensorAddress& from);
  // Whether a datagram from `ip` may be the chosen sensor's, without noting
  // it: true while none is chosen yet or all are accepted (status packets,
  // which come from another port of the sensor's address).
  bool fromChosenHost(std::uint32_t ip) const;

  std::optional<SensorAddress> chosen() const { return chosen_; }
  bool pinned() const { return pinned_; }
  // The sources in the order they were first seen, with their datagrams.
  const std::vector<SourceCount>& sources() const { return sources_; }
  // The same, most datagrams first (equal counts in the order first seen).
  std::vector<SourceCount> byFrequency() const;
  // Datagrams noted that were not the chosen sensor's.
  std::uint64_t others() const { return others_; }

  // Sources listed at most: the datagrams of further ones (a flood of forged
  // addresses) are counted in others() without a place in the list.
  static constexpr std::size_t kMaxListed = 64;

 private:
  bool matchesChosen(const SensorAddress& from) const;

  std::vector<SourceCount> sources_;
  std::optional<SensorAddress> chosen_;
  bool pinned_ = false;
  bool acceptAll_ = false;
  std::uint64_t others_ = 0;
  std::size_t last_ = 0;  // the source of the previous datagram: a stream rarely changes source
};

// The sources as a list for messages: "127.0.0.2:2368 (105270 packets),
// 127.0.0.3:2368 (52050 packets)", most first, `unit` after each count.
std::string sourceListText(const std::vector<SourceCount>& sources, const std::string& unit);

}  // namespace z540k
