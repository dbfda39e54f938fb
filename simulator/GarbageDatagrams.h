// Datagrams no receiver may take for sensor packets, mixed into the stream to
// test that receivers drop and count them: random bytes, real packets cut
// short, real packets with bytes appended (a receiver that reads at most 1206
// bytes without noticing the truncation would take those for real packets;
// the longest exceed the receivers' buffers), and empty datagrams (which a
// receiver might take for "nothing arrived").
//
// None has the length of a data, status or compact scan packet, so the
// stream of real packets around them stays whole.
#pragma once

#include <cstdint>
#include <random>

#include "SensorStream.h"

namespace z540k::sim {

// The seed the simulator uses: the same options give the same garbage.
constexpr std::uint64_t kGarbageSeed = 0x5A540C0FFEEULL;

class GarbageDatagrams {
 public:
  // `share` in 0..1: the part of all datagrams sent that is garbage.
  GarbageDatagrams(double share, std::uint64_t seed);

  double share() const { return share_; }
  // Every real datagram is replaced: nothing but garbage goes out.
  bool replacesEverything() const { return share_ >= 1.0; }
  // How many garbage datagrams go out before the next real one. Over many
  // draws, garbage / (garbage + real) tends to the share.
  int countBeforeNext();
  // A garbage datagram derived from (or in place of) `real`.
  void make(const Datagram& real, Datagram& out);

 private:
  int lengthExcludingPacketSizes(int low, int high);

  double share_;
  std::mt19937_64 random_;
};

// Data datagrams left out of the stream, as a flaky cable loses them: each
// one independently with probability `share`, from a seeded generator (the
// same options give the same losses). Status packets are never left out.
class DatagramDrop {
 public:
  static constexpr std::uint64_t kDefaultSeed = 0x10575EEDULL;
  DatagramDrop(double share, std::uint64_t seed);
  // True when the next data datagram is to be left out.
  bool leaveOut();

 private:
  double share_;
  std::mt19937_64 random_;
};

}  // namespace z540k::sim
