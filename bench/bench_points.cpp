// The main window's point computation alone (scale, x/y/z, colour, angle
// limit, the first 30 table rows): points per second on one core, for a
// revolution of 100,000 measurements in each colour mode; and, as the
// yardstick, a plain loop that only places the points with the C library's
// sine and cosine.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "PointComputation.h"

using namespace z540k;

namespace {

LidarDataSingleLine revolution(std::size_t n) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> raw(200, 20000), intensity(0, 255);
  LidarDataSingleLine r;
  for (std::size_t i = 0; i < n; ++i) {
    r.distance.push_back(raw(random));
    r.intensity.push_back(intensity(random));
    r.azimuth.push_back(static_cast<double>(i) * 360.0 / static_cast<double>(n));
    r.timestamp.push_back(1000000 + i * 3);
  }
  return r;
}

void BM_FramePoints(benchmark::State& state) {
  const LidarDataSingleLine r = revolution(100000);
  FrameSettings s;
  s.layout = Layout::Protocol17;
  s.colourMode = static_cast<ColourMode>(state.range(0));
  s.viewMode = state.range(1) == 0 ? ViewMode::WholeCentimetres : ViewMode::FractionsKept;
  FramePoints out;
  for (auto _ : state) {
    computeFramePoints(r, s, out);
    benchmark::DoNotOptimize(out.display.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 100000);
}
BENCHMARK(BM_FramePoints)->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}})->Unit(benchmark::kMillisecond);

// The same revolution's points in a plain loop over std::sin and std::cos:
// scale, angle, x and y as floats (whole centimetres in view mode 0), and
// nothing else.
void BM_PlainLibraryLoop(benchmark::State& state) {
  const LidarDataSingleLine r = revolution(100000);
  const bool whole = state.range(0) == 0;
  std::vector<ScenePoint> out(r.distance.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < r.distance.size(); ++i) {
      const double d = r.distance[i] * 4.0;
      const double a = r.azimuth[i] * kPointPi / 180.0;
      float x = static_cast<float>(d * std::sin(a) * 0.1);
      float y = static_cast<float>(d * std::cos(a) * 0.1);
      if (whole) {
        x = static_cast<float>(static_cast<long long>(x));
        y = static_cast<float>(static_cast<long long>(y));
      }
      out[i] = ScenePoint{x, y, 0.0f};
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 100000);
}
BENCHMARK(BM_PlainLibraryLoop)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
