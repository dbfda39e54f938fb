// Explicit little- and big-endian loads and stores of bytes in a buffer: the
// sensor's packets and the capture files' headers are read through them,
// never cast to structs.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace z540k {

// ---- Loads -----------------------------------------------------------------
inline std::uint16_t loadLE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t loadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t loadBE16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline std::uint32_t loadBE32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// ---- Stores ----------------------------------------------------------------
inline void storeLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void storeLE32(std::uint8_t* p, std::uint32_t v) {
  storeLE16(p, static_cast<std::uint16_t>(v));
  storeLE16(p + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void storeBE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void storeBE32(std::uint8_t* p, std::uint32_t v) {
  storeBE16(p, static_cast<std::uint16_t>(v >> 16));
  storeBE16(p + 2, static_cast<std::uint16_t>(v));
}
// A fixed run of bytes (a header, a marker, an address) at `p`.
template <std::size_t N>
void storeBytes(std::uint8_t* p, const std::array<std::uint8_t, N>& bytes) {
  std::copy(bytes.begin(), bytes.end(), p);
}

}  // namespace z540k
