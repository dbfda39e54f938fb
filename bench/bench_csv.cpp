// CSV export speed: lines per second of the frame formatting against the
// same lines written through an output stream, in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <sstream>

#include "CsvExport.h"
#include "CsvFrameFile.h"

using namespace z540k;

namespace {

LidarDataSingleLine revolution(int points = 10800) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> raw(200, 20000), intensity(0, 255);
  LidarDataSingleLine r;
  for (int i = 0; i < points; ++i) {
    r.distance.push_back(raw(random));
    r.intensity.push_back(intensity(random));
    r.azimuth.push_back(i * 360.0 / points);
    r.timestamp.push_back(1000000 + i * 3);
  }
  return r;
}

void BM_CsvFrame(benchmark::State& state) {
  const LidarDataSingleLine r = revolution();
  CsvExportOptions o;
  o.layout = Layout::Protocol17;
  o.viewMode = state.range(0) == 0 ? ViewMode::WholeCentimetres : ViewMode::FractionsKept;
  std::string out;
  out.reserve(1 << 20);
  std::size_t lines = 0;
  CsvRowMemo memo;
  for (auto _ : state) {
    out.clear();
    lines += appendCsvFrame(out, r, 1, o, CsvFrameKind::Arriving, "\n", &memo);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(lines));
  state.SetLabel("lines");
}

// The reference: the same lines through std::ostream default formatting.
void BM_CsvFrameOstream(benchmark::State& state) {
  const LidarDataSingleLine r = revolution();
  const int viewMode = static_cast<int>(state.range(0));
  std::size_t lines = 0;
  for (auto _ : state) {
    std::ostringstream out;
    for (std::size_t j = 0; j < r.distance.size(); ++j) {
      const double d = r.distance[j] / 0.25;
      const double rad = r.azimuth[j] * 3.14159 / 180;
      float x = static_cast<float>(d * std::sin(rad) * 0.1), y = static_cast<float>(d * std::cos(rad) * 0.1), z = 0;
      if (viewMode == 0) {
        x = static_cast<float>(static_cast<int>(x));
        y = static_cast<float>(static_cast<int>(y));
      }
      out << 1 << ',' << x << ',' << y << ',' << z << ',' << r.intensity[j] << ',' << r.azimuth[j] << ',' << d / 10
          << ',' << r.timestamp[j] << '\n';
      ++lines;
    }
    benchmark::DoNotOptimize(out.str().size());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(lines));
  state.SetLabel("lines");
}

// The window's export of the frame frozen on screen: a 100,000-point frame
// into a file, from opening it to putting it in place.
void BM_FrozenFrameExport(benchmark::State& state) {
  const LidarDataSingleLine r = revolution(100000);
  CsvExportOptions o;
  o.layout = Layout::Protocol17;
  o.viewMode = state.range(0) == 0 ? ViewMode::WholeCentimetres : ViewMode::FractionsKept;
  const std::string path = "/tmp/z540k-bench-frozen.csv";
  for (auto _ : state) {
    CsvFrameFile file(o, 1);
    std::string error;
    if (!file.open(path, error)) state.SkipWithError(error.c_str());
    file.writeFrame(r, CsvFrameKind::Frozen);
    if (!file.close(error)) state.SkipWithError(error.c_str());
  }
  std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_FrozenFrameExport)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvFrame)->Arg(0)->Arg(1);
BENCHMARK(BM_CsvFrameOstream)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
