// The simulated sensor's pace on the real clock, on loopback: for a few
// streams and fixed rates, the datagrams per second it sent and a receiver
// got against the target, and how late they arrived against their schedule;
// then a capture replayed at its pace, at four times it, and with --fast:
// how long each took against the capture's own time, and how late its
// datagrams arrived. With the load average, since a busy machine shows here.
//
// Run by hand: build/bench/bench_simulator [seconds per case, default 2]
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "CaptureFile.h"
#include "CaptureModes.h"
#include "LoopbackTestSupport.h"
#include "SensorStream.h"
#include "SimulatedSensor.h"

using namespace z540k;
using namespace z540k::sim;
using Clock = std::chrono::steady_clock;

namespace {

// A receiver on 127.0.0.1 that notes the arrival time of every datagram on
// its own thread until stopped.
class Receiver {
 public:
  Receiver() {
    fd_ = test::boundUdpSocket(port_);
    const int size = 32 << 20;
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    thread_ = std::thread([this] {
      std::vector<std::uint8_t> buffer(65536);
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        while (::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) arrivals_.push_back(Clock::now());
      }
    });
  }
  ~Receiver() {
    finish();
    ::close(fd_);
  }
  std::uint16_t port() const { return port_; }
  // Stops after what is still on its way (0.2 s) and returns the arrivals.
  const std::vector<Clock::time_point>& finish() {
    if (thread_.joinable()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      stop_ = true;
      thread_.join();
    }
    return arrivals_;
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<Clock::time_point> arrivals_;
};

// Lateness of each arrival against its due time (µs after `start`, when the
// sending began): "p50 0.05 ms, p99 0.40 ms, max 2.10 ms".
std::string lateness(Clock::time_point start, const std::vector<Clock::time_point>& arrivals,
                     const std::vector<double>& dueUs) {
  if (arrivals.empty() || arrivals.size() != dueUs.size()) return "not measured (datagrams lost)";
  std::vector<double> lateMs;
  for (std::size_t n = 0; n < arrivals.size(); ++n)
    lateMs.push_back(std::chrono::duration<double, std::milli>(arrivals[n] - start).count() - dueUs[n] / 1000);
  std::sort(lateMs.begin(), lateMs.end());
  const auto at = [&](double q) { return lateMs[std::min(lateMs.size() - 1, std::size_t(q * lateMs.size()))]; };
  char text[96];
  std::snprintf(text, sizeof text, "p50 %.2f ms, p99 %.2f ms, max %.2f ms", at(0.5), at(0.99), lateMs.back());
  return text;
}

// The times the sensor schedules its first `n` datagrams at, as run() does.
std::vector<double> schedule(const SimulatorOptions& o, std::size_t n) {
  std::vector<double> due;
  SensorStream stream(streamSettingsFor(o, 0), initialSensorState(o));
  Datagram d;
  for (std::size_t k = 0; k < n; ++k) {
    due.push_back(o.rate ? static_cast<double>(k) * 1e6 / *o.rate : static_cast<double>(stream.nextTimeUs()));
    stream.next(d);
  }
  return due;
}

void liveCase(const char* name, SimulatorOptions o, double seconds) {
  Receiver receiver;
  o.dataPort = o.statusPort = receiver.port();  // one socket sees the whole schedule
  o.seconds = seconds;
  SimulatedSensor sensor(o, [](const std::string& line) { std::fprintf(stderr, "  %s\n", line.c_str()); });
  std::string error;
  std::atomic<bool> stop{false};
  if (!sensor.open(error)) {
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    std::exit(1);
  }
  const auto start = Clock::now();
  if (!sensor.run(stop, error)) {
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    std::exit(1);
  }
  const auto& arrivals = receiver.finish();
  const RunSummary& s = sensor.summary();
  const double target =
      o.rate ? *o.rate : 1e6 / static_cast<double>(sensor.stream().packetPeriodUs()) + 1.0;  // + status
  const std::uint64_t sent = s.data + s.status;
  std::printf("%-34s target %7.0f/s  sent %7.0f/s (%5.1f%%)  received %7.0f/s  socket full %llu\n", name, target,
              static_cast<double>(sent) / s.seconds, 100.0 * static_cast<double>(sent) / (target * s.seconds),
              static_cast<double>(arrivals.size()) / s.seconds, static_cast<unsigned long long>(s.dropped));
  std::printf("%-34s lateness %s\n", "", lateness(start, arrivals, schedule(o, sent)).c_str());
}

void replayCase(const char* name, const std::string& path, std::optional<double> speed, bool fast) {
  Receiver receiver;
  SimulatorOptions o;
  o.replay = path;
  o.sensorPort = 0;
  o.dataPort = o.statusPort = receiver.port();
  o.speed = speed;
  o.fast = fast;
  RunSummary s;
  std::string error;
  std::atomic<bool> stop{false};
  const auto start = Clock::now();
  if (!replayCapture(o, stop, {}, s, error)) {
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    std::exit(1);
  }
  const double tookMs = bench::msSince(start);
  const auto& arrivals = receiver.finish();

  std::vector<double> due;  // µs after the start, as the replay schedules them
  CaptureReader reader;
  CapturedDatagram c;
  if (reader.open(path)) {
    std::int64_t first = -1;
    while (reader.next(c)) {
      const std::int64_t us = c.seconds * 1000000 + c.microseconds;
      if (first < 0) first = us;
      due.push_back(fast ? 0.0 : static_cast<double>(us - first) / speed.value_or(1.0));
    }
  }
  std::printf("%-34s %zu datagrams in %8.1f ms (the last one due at %7.1f ms), received %zu\n", name,
              static_cast<std::size_t>(s.data + s.status), tookMs, due.empty() ? 0.0 : due.back() / 1000,
              arrivals.size());
  if (!fast) std::printf("%-34s lateness %s\n", "", lateness(start, arrivals, due).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  if (!(seconds > 0 && seconds <= 60)) {
    std::fprintf(stderr, "usage: bench_simulator [seconds per case, above 0, at most 60]\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // in order with the sensor's notes on stderr
  std::printf("load average before: %s\n", bench::loadAverage().c_str());

  SimulatorOptions o;
  o.sensorPort = 0;  // a free port of 127.0.0.2: beside a running z540k-sim
  liveCase("600 rpm, protocol 1.7", o, seconds);
  SimulatorOptions heavy = o;
  heavy.layout = Layout::Protocol16;
  heavy.rpm = 1200;
  liveCase("1200 rpm, protocol 1.6", heavy, seconds);
  heavy.dualReturn = true;
  heavy.layout = Layout::Protocol17;
  liveCase("1200 rpm, protocol 1.7, dual", heavy, seconds);
  for (const double rate : {2000.0, 10000.0, 50000.0, 100000.0}) {
    SimulatorOptions fixed = o;
    fixed.rate = rate;
    const std::string name = "--rate " + std::to_string(static_cast<int>(rate));
    liveCase(name.c_str(), fixed, seconds);
  }

  const std::string path =
      (std::filesystem::temp_directory_path() / ("z540k-bench-simulator-" + std::to_string(::getpid()) + ".pcap"))
          .string();
  SimulatorOptions w;
  w.writePcap = path;
  w.seconds = seconds;
  RunSummary written;
  std::string error;
  if (!writeCapture(w, utcNowMicroseconds(), written, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  replayCase("replay at its pace", path, std::nullopt, false);
  replayCase("replay --speed 4", path, 4.0, false);
  replayCase("replay --fast", path, std::nullopt, true);
  std::filesystem::remove(path);
  std::printf("load average after: %s\n", bench::loadAverage().c_str());
  return 0;
}
