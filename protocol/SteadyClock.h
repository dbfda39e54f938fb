// The host's steady clock in nanoseconds: what the live receiver stamps a
// revolution with when its last datagram is read (LidarDataSingleLine::
// receivedAtNs), and what the window measures the delay to the screen by.
#pragma once

#include <chrono>
#include <cstdint>

namespace z540k {

inline std::int64_t steadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace z540k
