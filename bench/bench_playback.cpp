// Playback's decoding speed against the sensor's heaviest real-time stream
// (both returns, 1200 rpm): a capture of that stream written by the
// simulator is loaded, then every frame is decoded forwards as playing does
// (CaptureFrames, reading each packet from the file), and every frame
// backwards as stepping back does, in alternating rounds (forwards,
// backwards, forwards ...). Reported: medians of each, as multiples of the
// capture's own duration (how many times faster than the sensor sends it),
// and the load average.
//
// Run by hand: build/bench/bench_playback [seconds of capture, default 60]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CaptureFrames.h"
#include "DataPacketLoad.h"

using namespace z540k;
using namespace z540k::bench;

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const std::string path = "/tmp/z540k-bench-playback-dual-1200.pcap";
  const std::string command = std::string(Z540K_SIM_PATH) + " --quiet --dual-return --rpm 1200 --seconds " +
                              std::to_string(seconds) + " --write-pcap " + path;
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "the simulator could not write %s\n", path.c_str());
    return 1;
  }
  DataPacketList list;
  std::string error, damage;
  if (!loadDataPackets(path, list, error, damage)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const auto packets = std::make_shared<const DataPacketList>(list);
  CaptureFrames probe(packets);
  probe.setReturnMode(ReturnMode::Dual);
  const std::size_t frames = probe.frameTotal();
  std::printf("capture: %d s of the sensor at 1200 rpm with both returns, %zu data packets, %zu revolutions\n", seconds,
              packets->count(), frames);

  using Clock = std::chrono::steady_clock;
  std::vector<double> forward, backward;
  std::size_t measurements = 0;
  for (int round = 0; round < 5; ++round) {
    for (const bool backwards : {false, true}) {
      CaptureFrames playing(packets);
      playing.setLayout(Layout::Protocol17);
      playing.setReturnMode(ReturnMode::Dual);
      LidarDataSingleLine frame;
      measurements = 0;
      const auto start = Clock::now();
      for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t k = backwards ? frames - 1 - i : i;
        if (playing.frame(k, frame, {}) != CaptureFrames::Result::Frame) {
          std::fprintf(stderr, "frame %zu: %s\n", k, playing.error().c_str());
          return 1;
        }
        measurements += frame.distance.size();
      }
      const double s = std::chrono::duration<double>(Clock::now() - start).count();
      (backwards ? backward : forward).push_back(s);
    }
  }
  const double f = median(forward), b = median(backward);
  std::printf(
      "forwards : median %.3f s for %zu revolutions (%.0f revolutions/s, %.1f M measurements/s): %.0fx real time\n", f,
      frames, frames / f, measurements / f / 1e6, seconds / f);
  std::printf("backwards: median %.3f s (%.0f revolutions/s): %.0fx real time\n", b, frames / b, seconds / b);
  std::printf("load average: %s\n", loadAverage().c_str());
  return 0;
}
