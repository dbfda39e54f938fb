// What the hand-run benchmarks share: medians, the load average, elapsed
// time, and reading a file into the page cache before measuring.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace z540k::bench {

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "0.52 0.61 0.70 1/234 5678", as /proc/loadavg has it.
inline std::string loadAverage() {
  std::FILE* f = std::fopen("/proc/loadavg", "r");
  char text[128] = "?";
  if (f) {
    if (!std::fgets(text, sizeof text, f)) text[0] = 0;
    std::fclose(f);
  }
  std::string s = text;
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

inline double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Reads the whole file once so the figures are taken with it in the page cache.
inline void warmPageCache(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  std::vector<char> chunk(8 << 20);
  while (std::fread(chunk.data(), 1, chunk.size(), f) == chunk.size()) {
  }
  std::fclose(f);
}

}  // namespace z540k::bench
