#include "GarbageDatagrams.h"

#include <algorithm>
#include <cstring>

namespace z540k::sim {

namespace {

// A run of garbage between two real datagrams is cut here, so that a share
// close to 1 still lets the real stream through now and then.
constexpr int kLongestRun = 1000;
constexpr int kKinds = 4;

bool isPacketSize(int n) {
  return n == static_cast<int>(kDataPacketSize) || n == static_cast<int>(kStatusPacketSize) ||
         n == static_cast<int>(kCompactScanPacketSize);
}

}  // namespace

GarbageDatagrams::GarbageDatagrams(double share, std::uint64_t seed)
    : share_(std::clamp(share, 0.0, 1.0)), random_(seed) {}

int GarbageDatagrams::countBeforeNext() {
  if (share_ <= 0.0) return 0;
  if (replacesEverything()) return 1;
  // Each further garbage datagram with probability `share`: the run length
  // is geometric with mean share / (1 - share), which makes `share` the
  // garbage part of all datagrams.
  std::bernoulli_distribution another(share_);
  int n = 0;
  while (n < kLongestRun && another(random_)) ++n;
  return n;
}

int GarbageDatagrams::lengthExcludingPacketSizes(int low, int high) {
  std::uniform_int_distribution<int> length(low, high);
  int n;
  do n = length(random_);
  while (isPacketSize(n));
  return n;
}

void GarbageDatagrams::make(const Datagram& real, Datagram& out) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> kind(0, kKinds - 1);
  out.kind = SentKind::Garbage;
  out.timeUs = real.timeUs;
  const int realSize = static_cast<int>(real.size);
  int k = kind(random_);
  if (realSize < 2 && (k == 1 || k == 2)) k = 0;  // nothing to cut short

  if (k == 3) {  // an empty datagram
    out.size = 0;
  } else if (k == 0) {  // random bytes
    out.size = static_cast<std::size_t>(lengthExcludingPacketSizes(1, static_cast<int>(kMaxDatagramSize)));
    for (std::size_t i = 0; i < out.size; ++i) out.bytes[i] = static_cast<std::uint8_t>(byte(random_));
  } else if (k == 1) {  // the real packet cut short
    out.size = static_cast<std::size_t>(lengthExcludingPacketSizes(1, realSize - 1));
    std::memcpy(out.bytes.data(), real.data(), out.size);
  } else {  // the real packet with bytes appended
    if (realSize >= static_cast<int>(kMaxDatagramSize)) {
      make(Datagram{}, out);
      return;
    }
    out.size = static_cast<std::size_t>(lengthExcludingPacketSizes(realSize + 1, static_cast<int>(kMaxDatagramSize)));
    std::memcpy(out.bytes.data(), real.data(), real.size);
    for (std::size_t i = real.size; i < out.size; ++i) out.bytes[i] = static_cast<std::uint8_t>(byte(random_));
  }
}

DatagramDrop::DatagramDrop(double share, std::uint64_t seed) : share_(std::clamp(share, 0.0, 1.0)), random_(seed) {}

bool DatagramDrop::leaveOut() {
  if (share_ <= 0.0) return false;
  // 53 random bits as a number in [0, 1): the same on every platform, unlike
  // the standard distributions.
  const double u = static_cast<double>(random_() >> 11) * 0x1.0p-53;
  return u < share_;
}

}  // namespace z540k::sim
