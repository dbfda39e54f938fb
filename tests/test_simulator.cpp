// The simulated sensor: its scene, the pace and contents of its stream
// (decoded with the program's own decoder), the configuration packets it
// takes, its status, its command line, its capture-file modes, and the
// sensor on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "CaptureFile.h"
#include "CaptureModes.h"
#include "ConfigurationPackets.h"
#include "DataPacketDecoder.h"
#include "GarbageDatagrams.h"
#include "LoopbackTestSupport.h"
#include "SensorScene.h"
#include "SensorStream.h"
#include "SimulatedSensor.h"
#include "SimulatorOptions.h"
#include "StatusPacket.h"

using namespace z540k;
using namespace z540k::sim;

namespace {

// 2024-03-09 08:05:58 UTC: two seconds before a new minute.
constexpr std::int64_t kClockStartSeconds = 1709971558;
constexpr std::int64_t kClockStartUs = kClockStartSeconds * 1000000;

constexpr double kHostPi = 3.14159;  // the host's constant

double degreesOf(double y, double x) {
  double a = std::atan2(y, x) * 180.0 / M_PI;
  return a < 0 ? a + 360.0 : a;
}
// Azimuth of a point as the sensor sees it: 0 along +y, 90 along +x.
double azimuthTo(double x, double y) { return degreesOf(x, y); }

// The host's point computation, in centimetres.
struct HostPoint {
  double x;
  double y;
};
HostPoint hostPoint(double raw, double azimuth, Layout layout) {
  const double d = layout == Layout::Protocol17 ? raw / 0.25 : raw / 0.5;
  return {d * std::sin(azimuth * kHostPi / 180) * 0.1, d * std::cos(azimuth * kHostPi / 180) * 0.1};
}

std::vector<Datagram> streamFor(SensorStream& stream, double seconds) {
  std::vector<Datagram> out;
  while (static_cast<double>(stream.nextTimeUs()) < seconds * 1e6) {
    out.emplace_back();
    stream.next(out.back());
  }
  return out;
}

StreamSettings settingsFor(Layout layout, bool compact = false) {
  StreamSettings s;
  s.layout = layout;
  s.compactScan = compact;
  s.clockStartUs = kClockStartUs;
  return s;
}

SensorState stateFor(unsigned rpm, bool dual) {
  SensorState s;
  s.motorSpeed = static_cast<std::uint16_t>(rpm);
  s.echoMode = dual ? kEchoModeDual : kEchoModeSingle;
  return s;
}

struct Decoded {
  SettingData record;
  std::vector<int> values;
};
Decoded decodeStatus(const std::uint8_t* data, std::size_t size) {
  Decoded d;
  EXPECT_TRUE(decodeStatusPacket(data, size, d.record, d.values));
  return d;
}

// ---- Configuration packets as the host builds them -------------------------

using Bytes = std::vector<std::uint8_t>;

void putBE16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}
void putBytes(Bytes& b, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

// The sensor's status packet as the host last received it.
Bytes statusSnapshot(const SensorState& state = SensorState{}) {
  const auto status = encodeStatusPacket(statusOf(state, GpsDateTime{24, 3, 9, 8, 5, 30}));
  return Bytes(status.begin(), status.end());
}

// The long network settings packet: a copy of the status packet with every
// field written over it, the way the host's settings window builds it.
Bytes longNetworkPacket(const Bytes& snapshot = statusSnapshot()) {
  Bytes b = snapshot;
  putBytes(b, 0, {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA});
  putBE16(b, 8, 1200);              // " 20 HZ"
  putBytes(b, 10, {127, 0, 0, 2});  // sensor
  putBytes(b, 14, {127, 0, 0, 1});  // destination
  putBytes(b, 18, {0x60, 0x76, 0x88, 0x00, 0x00, 0x07});
  putBE16(b, 24, 2370);                   // data port
  putBE16(b, 26, 2371);                   // status port
  putBytes(b, 28, {10, 0, 0, 9});         // NTP
  putBytes(b, 32, {127, 0, 0, 1});        // gateway
  putBytes(b, 36, {255, 255, 255, 0});    // mask
  putBE16(b, 40, 0);                      // "Run"
  putBE16(b, 42, 1);                      // interval
  putBE16(b, 44, 0);                      // "Running"
  putBE16(b, 48, 36000);                  // PPS 360 degrees
  putBytes(b, 52, {24, 3, 9, 8, 5, 31});  // the host's local time
  putBytes(b, 1204, {0x0F, 0xF0});
  return b;
}

Bytes shortNetworkPacket() {
  Bytes b(36, 0);
  putBytes(b, 0, {0xFF, 0x00, 0x00, 0xA2, 0xFF, 0xFF, 0x00, 0x00, 0xA3});
  putBytes(b, 9, {127, 0, 0, 5});
  putBE16(b, 17, 3000);
  putBytes(b, 19, {127, 0, 0, 9});
  putBE16(b, 23, 3001);
  putBE16(b, 29, 300);
  putBytes(b, 32, {0xA5, 0x5A, 0x0F, 0xF0});
  return b;
}

// The advanced settings packet: the captured status payload with the
// factory fields written over it.
Bytes advancedPacket(const Bytes& snapshot = statusSnapshot()) {
  Bytes b = snapshot;
  putBytes(b, 0, {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xBB, 0xBB});
  putBE16(b, 8, 1200);
  putBytes(b, 10, {127, 0, 0, 2});
  putBytes(b, 14, {127, 0, 0, 1});
  putBytes(b, 40, {0x00, 0x01});  // stopped
  putBytes(b, 52, {24, 3, 9, 8, 5, 31});
  putBE16(b, 104, 100);  // high reflection, mm
  putBytes(b, 160, {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11});
  putBE16(b, 178, 15000);  // 150 m
  putBE16(b, 180, 7);
  putBE16(b, 182, 40);
  b[184] = 1;                      // straight ahead
  b[185] = 1;                      // dual
  putBytes(b, 186, {0xFF, 0x6A});  // -1.50 degrees
  putBytes(b, 194, {0xFF, 0xFE});  // -1 degree as the host writes it
  putBytes(b, 1204, {0x0F, 0xF0});
  return b;
}

Bytes restorePacket() {
  Bytes b(1206, 0);
  putBytes(b, 0, {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA});
  putBytes(b, 8, {0x01, 0x2C});
  putBytes(b, 10, {0xC0, 0xA8, 0x01, 0xDE});
  putBytes(b, 14, {0xC0, 0xA8, 0x01, 0x7D});
  putBytes(b, 24, {0x09, 0x40});
  putBytes(b, 26, {0x09, 0x41});
  putBytes(b, 52, {24, 3, 9, 8, 5, 31});
  putBytes(b, 1204, {0x0F, 0xF0});
  return b;
}

ParsedConfiguration parse(const Bytes& b) { return parseConfigurationPacket(b.data(), b.size()); }

// ---- Sockets of the tests ---------------------------------------------------

struct Received {
  Bytes bytes;
  Ipv4Address from{};
  std::uint16_t fromPort = 0;
};

// A UDP socket of the test on 127.0.0.1, on a port of its own.
class TestSocket {
 public:
  TestSocket() { fd_ = test::boundUdpSocket(port_); }
  ~TestSocket() { ::close(fd_); }
  std::uint16_t port() const { return port_; }

  std::optional<Received> receive(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    Received r;
    r.bytes.resize(2048);
    sockaddr_in a{};
    socklen_t length = sizeof a;
    const ssize_t n = ::recvfrom(fd_, r.bytes.data(), r.bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), &length);
    if (n < 0) return std::nullopt;
    r.bytes.resize(static_cast<std::size_t>(n));
    std::memcpy(r.from.data(), &a.sin_addr.s_addr, 4);
    r.fromPort = ntohs(a.sin_port);
    return r;
  }

  // The first datagram accepted by `wanted` within the time given.
  template <typename Wanted>
  std::optional<Received> receiveUntil(int timeoutMs, Wanted wanted) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      const int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
      auto r = receive(std::max(1, left));
      if (r && wanted(*r)) return r;
    }
    return std::nullopt;
  }

  void sendTo(const char* address, std::uint16_t port, const Bytes& bytes) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

bool isStatus(const Received& r) { return isStatusPacket(r.bytes.data(), r.bytes.size()); }

// A simulated sensor running on its own thread, stopped at the end of the
// scope whatever happens in between.
class RunningSensor {
 public:
  explicit RunningSensor(const SimulatorOptions& options)
      : sensor_(
            options,
            [this](const std::string& line) {
              std::lock_guard<std::mutex> lock(mutex_);
              log_.push_back(line);
            },
            kClockStartUs) {}
  ~RunningSensor() { stop(); }

  bool open(std::string& error) { return sensor_.open(error); }
  void start() {
    thread_ = std::thread([this] { ok_ = sensor_.run(stop_, error_); });
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return ok_; }
  const SimulatedSensor& sensor() const { return sensor_; }
  // The log lines containing `text`.
  std::vector<std::string> logLines(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> found;
    for (const auto& line : log_)
      if (line.find(text) != std::string::npos) found.push_back(line);
    return found;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
  SimulatedSensor sensor_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  bool ok_ = false;
  std::string error_;
};

SimulatorOptions loopbackOptions(const TestSocket& data, const TestSocket& status) {
  SimulatorOptions o;
  o.sensorPort = test::freeUdpPort("127.0.0.2");
  o.dataPort = data.port();
  o.statusPort = status.port();
  o.seconds = 8;  // a bound, should a test hang
  return o;
}

// Virtual time for the sensor's pace and the replay's: a wait moves the time
// on to its end at once. The sender sends what is due, then waits, so each
// wait first notes the time at which what was sent since the last one went
// out.
class VirtualClock : public PaceClock {
 public:
  explicit VirtualClock(const RunSummary& sent) : sent_(sent) {}
  std::int64_t nowUs() override { return now_; }
  int waitUntil(std::int64_t untilUs, int fd) override {
    noteSent();
    ++waits;
    now_ = std::max(now_, untilUs);
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) ? 1 : 0;
  }
  // Called after the run too, for what its last batch sent.
  void noteSent() {
    data.resize(sent_.data, now_);
    status.resize(sent_.status, now_);
  }

  std::vector<std::int64_t> data;    // the virtual time each data datagram went out at
  std::vector<std::int64_t> status;  // and each status datagram
  int waits = 0;

 private:
  const RunSummary& sent_;
  std::int64_t now_ = 0;
};

// A sensor run to its end on the virtual clock.
struct VirtualRun {
  explicit VirtualRun(const SimulatorOptions& options) : sensor(options, {}, kClockStartUs), clock(sensor.summary()) {
    sensor.setPaceClock(clock);
    std::string error;
    std::atomic<bool> stop{false};
    ok = sensor.open(error) && sensor.run(stop, error);
    EXPECT_TRUE(ok) << error;
    clock.noteSent();
  }
  SimulatedSensor sensor;
  VirtualClock clock;
  bool ok = false;
};

std::filesystem::path tempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() / ("z540k_simulator_test_" + std::to_string(::getpid()) + "_" + name);
}

}  // namespace

// ============================================================================
// The scene
// ============================================================================

TEST(SensorSceneTest, WallsPillarDoorAndWindowWhereTheRoomHasThem) {
  const double t = 0.0;  // the person stands at the left end of the path, out of these rays
  EXPECT_NEAR(SensorScene::exactReturns(0.0, t).first.distanceMm, 4500.0, 0.01);
  EXPECT_NEAR(SensorScene::exactReturns(90.0, t).first.distanceMm, 5000.0, 0.01);
  EXPECT_NEAR(SensorScene::exactReturns(180.0, t).first.distanceMm, 2500.0, 0.01);
  EXPECT_NEAR(SensorScene::exactReturns(270.0, t).first.distanceMm, 3000.0, 0.01);

  // The pillar: centre (2200, 2600), radius 300, seen through its centre.
  const SceneReturns pillar = SensorScene::exactReturns(azimuthTo(2200, 2600), t);
  EXPECT_NEAR(pillar.first.distanceMm, std::hypot(2200.0, 2600.0) - 300.0, 0.01);
  EXPECT_GT(pillar.first.intensity, SensorScene::exactReturns(0.0, t).first.intensity);

  // Through the door (x -2000..-1100 in the far wall) the corridor wall at
  // y = 7500 answers.
  const double doorAzimuth = azimuthTo(-1550, 4500);
  EXPECT_NEAR(SensorScene::exactReturns(doorAzimuth, t).first.distanceMm, std::hypot(-1550.0 * 7500 / 4500, 7500.0),
              0.01);
  // Through the window (y 500..2000 in the right wall) nothing answers.
  const SceneReturns window = SensorScene::exactReturns(azimuthTo(5000, 1250), t);
  EXPECT_EQ(window.first.distanceMm, 0.0);
  EXPECT_EQ(window.last.distanceMm, 0.0);
}

TEST(SensorSceneTest, ThePersonWalksAndHidesTheWallBehind) {
  const SceneDisc start = SensorScene::personAt(0.0);
  EXPECT_DOUBLE_EQ(start.xMm, -2200.0);
  EXPECT_DOUBLE_EQ(start.yMm, 1400.0);
  EXPECT_NEAR(SensorScene::personAt(1.0).xMm, -2200.0 + 1200.0, 1e-9);
  // 5.7 m at 1.2 m/s: at the far end after 4.75 s, then back.
  EXPECT_NEAR(SensorScene::personAt(4.75).xMm, 3500.0, 1e-9);
  EXPECT_NEAR(SensorScene::personAt(5.75).xMm, 3500.0 - 1200.0, 1e-9);

  // Looking at where the person stands at 0 s: first the person, last the
  // left wall behind; three seconds later only the wall.
  const double azimuth = azimuthTo(-2200, 1400);
  const double wall = 3000.0 / std::sin(azimuthTo(2200, 1400) * M_PI / 180.0);
  const SceneReturns now = SensorScene::exactReturns(azimuth, 0.0);
  EXPECT_NEAR(now.first.distanceMm, std::hypot(2200.0, 1400.0) - 220.0, 0.01);
  EXPECT_NEAR(now.last.distanceMm, wall, 0.01);
  const SceneReturns later = SensorScene::exactReturns(azimuth, 3.0);
  EXPECT_NEAR(later.first.distanceMm, wall, 0.01);
  EXPECT_EQ(later.first.distanceMm, later.last.distanceMm);
}

TEST(SensorSceneTest, NoiseIsSmallRepeatableAndGivesASpread) {
  double sum = 0;
  double sumSquares = 0;
  const int n = 2000;
  for (int key = 0; key < n; ++key) {
    const double d = SensorScene::returns(0.0, 0.0, static_cast<std::uint64_t>(key), 50000.0).first.distanceMm;
    ASSERT_NEAR(d, 4500.0, SensorScene::kNoiseMm);
    sum += d;
    sumSquares += d * d;
  }
  const double mean = sum / n;
  const double spread = std::sqrt(sumSquares / n - mean * mean);
  EXPECT_NEAR(mean, 4500.0, 0.5);
  EXPECT_GT(spread, 1.5);  // a marked region has something to show
  EXPECT_EQ(SensorScene::returns(10.0, 1.0, 77, 50000.0).first.distanceMm,
            SensorScene::returns(10.0, 1.0, 77, 50000.0).first.distanceMm);
}

TEST(SensorSceneTest, TheMeasuringRangeDropsFartherReturns) {
  EXPECT_EQ(SensorScene::returns(0.0, 0.0, 1, 4000.0).first.distanceMm, 0.0);  // wall at 4.5 m
  EXPECT_NEAR(SensorScene::returns(180.0, 0.0, 1, 4000.0).first.distanceMm, 2500.0, SensorScene::kNoiseMm);
  // Person in range, the wall behind beyond it: the last return is lost.
  const SceneReturns r = SensorScene::returns(azimuthTo(-2200, 1400), 0.0, 1, 3000.0);
  EXPECT_GT(r.first.distanceMm, 0.0);
  EXPECT_EQ(r.last.distanceMm, 0.0);
}

// ============================================================================
// The stream
// ============================================================================

struct PaceCase {
  Layout layout;
  bool dual;
  bool compact;
  unsigned rpm;
  int packetsPerSecond;
  int blockStep;  // hundredths of a degree
};

void PrintTo(const PaceCase& c, std::ostream* os) {
  *os << "protocol " << (c.layout == Layout::Protocol17 ? "1.7" : "1.6") << (c.dual ? " dual" : "")
      << (c.compact ? " compact" : "") << " " << c.rpm << " rpm";
}

class StreamPaceTest : public ::testing::TestWithParam<PaceCase> {};

// Packets per second, time stamps and block azimuths follow the motor: 6 x
// rpm degrees per second.
TEST_P(StreamPaceTest, PacketRateTimeStampsAndAzimuthsFollowTheMotor) {
  const PaceCase c = GetParam();
  SensorStream stream(settingsFor(c.layout, c.compact), stateFor(c.rpm, c.dual));
  const std::vector<Datagram> all = streamFor(stream, 2.0);

  std::vector<const Datagram*> data;
  for (const Datagram& d : all)
    if (d.isMeasurement()) data.push_back(&d);
  ASSERT_EQ(static_cast<int>(data.size()), 2 * c.packetsPerSecond);
  const std::uint64_t periodUs = 1000000 / static_cast<std::uint64_t>(c.packetsPerSecond);
  EXPECT_EQ(stream.packetPeriodUs(), periodUs);

  double degreesTurned = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const Datagram& d = *data[i];
    EXPECT_EQ(d.timeUs, i * periodUs);
    if (c.compact) {
      ASSERT_TRUE(isCompactScanPacket(d.data(), d.size));
      EXPECT_EQ(loadBE32(d.data() + kCompactStartAngleOffset), (i % 4) * 900000u) << "packet " << i;
      degreesTurned += 90;
      continue;
    }
    ASSERT_TRUE(isDataPacket(d.data(), d.size));
    // µs since the top of the hour; the clock starts at 08:05:58.
    EXPECT_EQ(loadLE32(d.data() + kPacketTimestampOffset), 358000000u + i * periodUs);
    const int firings = c.dual ? 6 : 12;
    for (int f = 0; f < firings; ++f) {
      const int block = c.dual ? 2 * f : f;
      const int azimuth = loadLE16(d.data() + kBlockSize * block + kBlockAzimuthOffset);
      if (c.dual) {
        EXPECT_EQ(loadLE16(d.data() + kBlockSize * (block + 1) + kBlockAzimuthOffset), azimuth);
      }
      const std::size_t firing = i * static_cast<std::size_t>(firings) + static_cast<std::size_t>(f);
      ASSERT_EQ(azimuth, static_cast<int>(firing * static_cast<std::size_t>(c.blockStep) % 36000))
          << "packet " << i << " firing " << f;
      degreesTurned += c.blockStep / 100.0;
    }
  }
  EXPECT_NEAR(degreesTurned, 2 * 6.0 * c.rpm, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(EveryLayoutAndSpeed, StreamPaceTest,
                         ::testing::Values(PaceCase{Layout::Protocol17, false, false, 300, 50, 300},
                                           PaceCase{Layout::Protocol17, false, false, 600, 100, 300},
                                           PaceCase{Layout::Protocol17, false, false, 1200, 200, 300},
                                           PaceCase{Layout::Protocol16, false, false, 300, 500, 30},
                                           PaceCase{Layout::Protocol16, false, false, 600, 1000, 30},
                                           PaceCase{Layout::Protocol16, false, false, 1200, 2000, 30},
                                           PaceCase{Layout::Protocol17, true, false, 600, 200, 300},
                                           PaceCase{Layout::Protocol16, true, false, 1200, 400, 300},
                                           PaceCase{Layout::Protocol17, false, true, 600, 40, 0},
                                           PaceCase{Layout::Protocol16, false, true, 1200, 80, 0}));

struct RevolutionCase {
  Layout layout;
  bool dual;
  ReturnMode returnMode;
  std::size_t pointsPerRevolution;
};

void PrintTo(const RevolutionCase& c, std::ostream* os) {
  *os << "protocol " << (c.layout == Layout::Protocol17 ? "1.7" : "1.6") << (c.dual ? " dual" : "") << " return mode "
      << static_cast<int>(c.returnMode);
}

class StreamRevolutionTest : public ::testing::TestWithParam<RevolutionCase> {};

// Whole revolutions through the program's decoder: the expected number of
// measurements per revolution, and the walls where the room has them once the
// host has scaled the raw distances by the layout.
TEST_P(StreamRevolutionTest, RevolutionsDecodeWithTheirPointCountAndTheRoom) {
  const RevolutionCase c = GetParam();
  SensorStream stream(settingsFor(c.layout), stateFor(600, c.dual));
  std::vector<LidarDataSingleLine> records;
  DataPacketDecoder decoder([&](const LidarDataSingleLine& r) { records.push_back(r); });
  decoder.setLayout(c.layout);
  decoder.setReturnMode(c.returnMode);
  for (const Datagram& d : streamFor(stream, 0.55))
    if (d.kind == SentKind::Data) {
      ASSERT_TRUE(decoder.decodeDataPacket(d.data(), d.size));
    }

  // 10 revolutions per second; the first record starts with the stream.
  ASSERT_EQ(records.size(), 5u);
  for (std::size_t r = 1; r < records.size(); ++r) {
    const LidarDataSingleLine& rec = records[r];
    std::size_t measurements = 0;
    for (std::size_t i = 0; i < rec.pairedSize(); ++i) {
      const bool placeholder = rec.distance[i] == 0 && rec.azimuth[i] == 0 && rec.intensity[i] == 0;
      if (!placeholder) ++measurements;
    }
    EXPECT_EQ(measurements, c.pointsPerRevolution) << "revolution " << r;
  }

  // The measurement nearest each axis lies on its wall, in centimetres.
  const LidarDataSingleLine& rec = records[2];
  const auto nearest = [&](double azimuth) {
    std::size_t best = 0;
    double bestGap = 1e9;
    for (std::size_t i = 0; i < rec.pairedSize(); ++i) {
      const double gap = std::fabs(rec.azimuth[i] - azimuth);
      if (rec.distance[i] > 0 && gap < bestGap) {
        bestGap = gap;
        best = i;
      }
    }
    EXPECT_LT(bestGap, 0.2);
    return hostPoint(rec.distance[best], rec.azimuth[best], c.layout);
  };
  const double tolerance = 2.0;  // cm: noise, raw unit and angle step
  EXPECT_NEAR(nearest(0.1).y, 450.0, tolerance);
  EXPECT_NEAR(nearest(90.0).x, 500.0, tolerance);
  EXPECT_NEAR(nearest(180.0).y, -250.0, tolerance);
  EXPECT_NEAR(nearest(270.0).x, -300.0, tolerance);
}

INSTANTIATE_TEST_SUITE_P(LayoutsAndReturns, StreamRevolutionTest,
                         ::testing::Values(RevolutionCase{Layout::Protocol17, false, ReturnMode::Strongest, 3600},
                                           RevolutionCase{Layout::Protocol16, false, ReturnMode::Strongest, 2400},
                                           RevolutionCase{Layout::Protocol17, true, ReturnMode::Dual, 7200},
                                           RevolutionCase{Layout::Protocol17, true, ReturnMode::DualFirst, 3600},
                                           RevolutionCase{Layout::Protocol16, true, ReturnMode::DualSecond, 3600}));

TEST(SensorStreamTest, CompactScanRevolutionsHoldAThousandMeasurements) {
  SensorStream stream(settingsFor(Layout::Protocol17, true), stateFor(1200, false));
  std::vector<LidarDataSingleLine> records;
  DataPacketDecoder decoder([&](const LidarDataSingleLine& r) { records.push_back(r); });
  for (const Datagram& d : streamFor(stream, 0.5))
    if (d.kind == SentKind::CompactScan) {
      ASSERT_TRUE(decoder.decodeCompactScanPacket(d.data(), d.size));
    }
  ASSERT_EQ(records.size(), 10u);  // 20 revolutions per second
  for (const auto& r : records) {
    ASSERT_EQ(r.distance.size(), 1000u);
    // Measurement 250 is at 90 degrees: the right wall, 5 m, 4 mm counts.
    EXPECT_NEAR(r.azimuth[250], 90.0, 1e-6);
    EXPECT_NEAR(r.distance[250] * 4.0, 5000.0, 12.0);
  }
}

TEST(SensorStreamTest, StatusOnceASecondWithTheGpsTime) {
  SensorStream stream(settingsFor(Layout::Protocol17), SensorState{});
  std::vector<const Datagram*> status;
  const std::vector<Datagram> all = streamFor(stream, 3.5);
  for (const Datagram& d : all)
    if (d.kind == SentKind::Status) status.push_back(&d);
  ASSERT_EQ(status.size(), 4u);
  const std::uint8_t expectedSeconds[] = {58, 59, 0, 1};
  for (std::size_t i = 0; i < status.size(); ++i) {
    EXPECT_EQ(status[i]->timeUs, i * 1000000);
    const Decoded s = decodeStatus(status[i]->data(), status[i]->size);
    EXPECT_EQ(s.record.utcTime[5], expectedSeconds[i]);
    EXPECT_EQ(s.record.utcTime[4], i < 2 ? 5 : 6);
    EXPECT_EQ(int{s.record.motorSpeed}, 600);
  }
}

TEST(SensorStreamTest, GpsDateTimeOfCountsLeapYearsAndMonths) {
  const auto expect = [](std::int64_t seconds, GpsDateTime want) {
    const GpsDateTime got = gpsDateTimeOf(seconds);
    EXPECT_TRUE(got == want) << seconds << ": " << int(got.year) << "/" << int(got.month) << "/" << int(got.day) << " "
                             << int(got.hour) << ":" << int(got.minute) << ":" << int(got.second);
  };
  expect(kClockStartSeconds, GpsDateTime{24, 3, 9, 8, 5, 58});
  expect(951868799, GpsDateTime{0, 2, 29, 23, 59, 59});  // 2000 is a leap year
  expect(951868800, GpsDateTime{0, 3, 1, 0, 0, 0});
  expect(1709974799 + 86400 * 297, GpsDateTime{24, 12, 31, 8, 59, 59});
}

class GpsJumpTest : public ::testing::TestWithParam<Layout> {};

// Every block carries the GPS time; read as the host's time-stamp test reads
// it, the second advances by one at most, and the injected jump shows once.
TEST_P(GpsJumpTest, GpsBytesAdvancePerSecondAndTheJumpShowsOnce) {
  const Layout layout = GetParam();
  for (const bool jump : {false, true}) {
    StreamSettings settings = settingsFor(layout);
    if (jump) settings.gpsJumpAtSeconds = 1.5;
    SensorStream stream(settings, SensorState{});
    std::vector<GpsReading> readings;
    DataPacketDecoder decoder;
    decoder.setLayout(layout);
    decoder.setGpsReadingsEnabled(true);
    decoder.setGpsSink([&](const GpsReading& r) { readings.push_back(r); });
    for (const Datagram& d : streamFor(stream, 3.999))
      if (d.kind == SentKind::Data) decoder.decodeDataPacket(d.data(), d.size);
    ASSERT_GT(readings.size(), 100u);

    int jumps = 0;
    std::map<int, int> seconds;
    for (std::size_t i = 1; i < readings.size(); ++i) {
      const int s = readings[i].current.second;
      const int p = readings[i].previous.second;
      ++seconds[s];
      if (!(s - p == 1 || s == p || (p == 59 && s == 0))) ++jumps;
    }
    EXPECT_EQ(jumps, jump ? 1 : 0);
    // 08:05:58 to 08:06:01; with the jump the first whole second after
    // 1.5 s, 08:06:00, is skipped: 59 is followed by 1.
    const std::vector<int> expected = jump ? std::vector<int>{1, 2, 58, 59} : std::vector<int>{0, 1, 58, 59};
    std::vector<int> seen;
    for (const auto& entry : seconds) seen.push_back(entry.first);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(readings.back().current.minute, 6);
    EXPECT_EQ(readings.back().current.day, 9);
  }
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, GpsJumpTest, ::testing::Values(Layout::Protocol16, Layout::Protocol17));

TEST(SensorStreamTest, PacketTimeStampRestartsAtTheTopOfTheHour) {
  StreamSettings settings = settingsFor(Layout::Protocol17);
  settings.clockStartUs = 1709974799LL * 1000000;  // 08:59:59
  SensorStream stream(settings, SensorState{});
  std::vector<std::uint32_t> stamps;
  for (const Datagram& d : streamFor(stream, 2.0))
    if (d.kind == SentKind::Data) stamps.push_back(loadLE32(d.data() + kPacketTimestampOffset));
  ASSERT_EQ(stamps.size(), 200u);
  EXPECT_EQ(stamps[0], 3599000000u);
  EXPECT_EQ(stamps[99], 3599990000u);
  EXPECT_EQ(stamps[100], 0u);
  EXPECT_EQ(stamps[199], 990000u);
}

TEST(SensorStreamTest, FollowsMotorStopResumeSpeedAndRange) {
  SensorStream stream(settingsFor(Layout::Protocol17), SensorState{});
  streamFor(stream, 0.5);
  SensorState state;
  state.runState = kRunStateStopped;
  stream.setState(state, 500000);
  for (const Datagram& d : streamFor(stream, 2.0)) EXPECT_EQ(d.kind, SentKind::Status) << d.timeUs;

  // Running again at 2.05 s, twice as fast, with a 3 m range.
  state.runState = kRunStateRunning;
  state.motorSpeed = 1200;
  state.measuringRange = 300;
  stream.setState(state, 2050000);
  std::vector<Datagram> data;
  for (Datagram& d : streamFor(stream, 3.0))
    if (d.kind == SentKind::Data) data.push_back(d);
  ASSERT_EQ(data.size(), 190u);  // 200 per second from 2.05 s
  EXPECT_EQ(data.front().timeUs, 2050000u);
  EXPECT_EQ(data[1].timeUs - data[0].timeUs, 5000u);
  std::size_t dropped = 0;
  for (const Datagram& d : data)
    for (int b = 0; b < kBlocksPerPacket; ++b)
      for (int k = 0; k < kProtocol17MeasurementsPerBlock; ++k) {
        const std::uint16_t raw =
            loadLE16(d.data() + kBlockSize * b + kBlockSlotsOffset + kSlotSize * kProtocol17Slots[k]);
        ASSERT_LE(raw * 4.0, 3000.0 + SensorScene::kNoiseMm);
        if (raw == 0) ++dropped;
      }
  EXPECT_GT(dropped, 0u);  // the far walls are gone
}

// The bytes of the stream are the sensor's: a faster way of making them must
// not change one. Digests of the first datagrams of each kind of stream (a
// change of echo mode between firings included), as the stream made them
// when every firing was worked out afresh.
TEST(SensorStreamTest, StreamBytesStayTheSame) {
  const auto digest = [](SensorStream& stream, int count, std::uint64_t h = 1469598103934665603ULL) {
    const auto mix = [&h](const std::uint8_t* p, std::size_t n) {
      for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ULL;
    };
    Datagram d;
    for (int i = 0; i < count; ++i) {
      stream.next(d);
      const std::uint64_t head[] = {static_cast<std::uint64_t>(d.kind), d.timeUs, d.size};
      mix(reinterpret_cast<const std::uint8_t*>(head), sizeof head);
      mix(d.data(), d.size);
    }
    return h;
  };
  struct Case {
    Layout layout;
    bool dual, compact;
    std::uint64_t expected;
  };
  const Case cases[] = {{Layout::Protocol17, false, false, 6709166516566993605ULL},
                        {Layout::Protocol16, false, false, 15659808388887477721ULL},
                        {Layout::Protocol17, true, false, 9225019674373073415ULL},
                        {Layout::Protocol16, true, false, 804725880788707040ULL},
                        {Layout::Protocol17, false, true, 7506436796026921910ULL}};
  for (const Case& c : cases) {
    SensorStream stream(settingsFor(c.layout, c.compact), stateFor(600, c.dual));
    EXPECT_EQ(digest(stream, 2500), c.expected) << static_cast<int>(c.layout) << c.dual << c.compact;
  }
  // Protocol 1.6 switched to dual return after 7 data packets: the firings
  // then lie 1.2 degrees off the grid of 3-degree steps.
  SensorStream stream(settingsFor(Layout::Protocol16), stateFor(600, false));
  const std::uint64_t before = digest(stream, 8);
  stream.setState(stateFor(1200, true), stream.nextTimeUs());
  EXPECT_EQ(digest(stream, 2500, before), 14747484654761265040ULL);
}

// ============================================================================
// Garbage
// ============================================================================

TEST(GarbageDatagramsTest, TakesItsShareAndIsNeverASensorPacket) {
  SensorStream stream(settingsFor(Layout::Protocol17), SensorState{});
  Datagram real;
  do stream.next(real);
  while (real.kind != SentKind::Data);

  GarbageDatagrams garbage(0.25, 1);
  std::size_t junk = 0;
  std::size_t oversizedDataPrefix = 0;
  std::size_t truncated = 0;
  std::size_t empty = 0, longerThanReceiveBuffers = 0;
  const std::size_t reals = 20000;
  Datagram g;
  for (std::size_t i = 0; i < reals; ++i)
    for (int n = garbage.countBeforeNext(); n > 0; --n) {
      garbage.make(real, g);
      ++junk;
      ASSERT_LE(g.size, kMaxDatagramSize);
      empty += g.size == 0;
      longerThanReceiveBuffers += g.size > 2048;
      ASSERT_EQ(classifyDatagram(g.data(), g.size), z540k::DatagramKind::Other) << g.size;
      const bool prefix = std::memcmp(g.data(), real.data(), std::min(g.size, real.size)) == 0;
      if (prefix && g.size > real.size) ++oversizedDataPrefix;
      if (prefix && g.size > 0 && g.size < real.size) ++truncated;
    }
  const double share = static_cast<double>(junk) / static_cast<double>(junk + reals);
  EXPECT_NEAR(share, 0.25, 0.02);
  EXPECT_GT(oversizedDataPrefix, junk / 5);
  EXPECT_GT(truncated, junk / 5);
  EXPECT_GT(empty, junk / 5);
  EXPECT_GT(longerThanReceiveBuffers, junk / 10);

  GarbageDatagrams none(0.0, 1);
  GarbageDatagrams all(1.0, 1);
  EXPECT_EQ(none.countBeforeNext(), 0);
  EXPECT_TRUE(all.replacesEverything());
  EXPECT_FALSE(GarbageDatagrams(0.99, 1).replacesEverything());
}

// ============================================================================
// Configuration packets
// ============================================================================

TEST(ConfigurationPacketsTest, LongNetworkSettingsAreAppliedField_by_field) {
  const ParsedConfiguration p = parse(longNetworkPacket());
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.request.kind, ConfigurationKind::NetworkSettings);

  SensorState s;
  const std::string changes = applyConfiguration(p.request, s);
  EXPECT_EQ(int{s.motorSpeed}, 1200);
  EXPECT_EQ(s.sensorIp, (Ipv4Address{127, 0, 0, 2}));
  EXPECT_EQ(s.destIp, (Ipv4Address{127, 0, 0, 1}));
  EXPECT_EQ(s.mac, (MacAddress{0x60, 0x76, 0x88, 0x00, 0x00, 0x07}));
  EXPECT_EQ(s.dataPort, 2370);
  EXPECT_EQ(s.statusPort, 2371);
  EXPECT_EQ(s.ntpIp, (Ipv4Address{10, 0, 0, 9}));
  EXPECT_EQ(s.subnetMask, (Ipv4Address{255, 255, 255, 0}));
  EXPECT_EQ(int{s.interval}, 1);
  EXPECT_EQ(s.ppsSetAngle, 36000);
  EXPECT_TRUE(s.scanning());
  EXPECT_NE(changes.find("motor speed (rpm) 600 -> 1200"), std::string::npos) << changes;
  EXPECT_NE(changes.find("data port 2368 -> 2370"), std::string::npos) << changes;
  EXPECT_EQ(applyConfiguration(p.request, s), "nothing changed");

  // "Stop" and "Sleep": the sensor stops scanning.
  Bytes stop = longNetworkPacket();
  putBE16(stop, 40, 1);
  putBE16(stop, 44, 1);
  ASSERT_TRUE(parse(stop).ok);
  applyConfiguration(parse(stop).request, s);
  EXPECT_EQ(int{s.runState}, kRunStateStopped);
  EXPECT_EQ(s.sensorState, kSensorStateSleep);
  EXPECT_FALSE(s.scanning());

  // A host without the MAC text sends zeros: the sensor keeps its own.
  Bytes noMac = longNetworkPacket();
  putBytes(noMac, 18, {0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(parse(noMac).ok);
  applyConfiguration(parse(noMac).request, s);
  EXPECT_EQ(s.mac, (MacAddress{0x60, 0x76, 0x88, 0x00, 0x00, 0x07}));
}

struct Refusal {
  const char* what;
  Bytes (*make)();
  const char* reason;  // part of the refusal's text
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.what; }

class RefusedConfigurationTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedConfigurationTest, IsRefusedWithItsReason) {
  const Refusal r = GetParam();
  const ParsedConfiguration p = parse(r.make());
  ASSERT_FALSE(p.ok) << r.what;
  EXPECT_NE(p.error.find(r.reason), std::string::npos) << r.what << ": " << p.error;
}

Bytes withByte(Bytes b, std::size_t at, std::uint8_t v) {
  b[at] = v;
  return b;
}
Bytes with16(Bytes b, std::size_t at, std::uint16_t v) {
  putBE16(b, at, v);
  return b;
}
Bytes resized(Bytes b, std::size_t n) {
  b.resize(n, 0);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    MalformedPackets, RefusedConfigurationTest,
    ::testing::Values(
        Refusal{"wrong header", [] { return withByte(longNetworkPacket(), 2, 0xFE); }, "not a configuration packet"},
        Refusal{"status packet", [] { return statusSnapshot(); }, "not a configuration packet"},
        Refusal{"unknown kind", [] { return withByte(withByte(longNetworkPacket(), 6, 0xCC), 7, 0xCC); },
                "packet kind CC CC"},
        Refusal{"wrong tail", [] { return withByte(longNetworkPacket(), 1205, 0x00); }, "tail at 1204 is 0F 00"},
        Refusal{"short by one", [] { return resized(longNetworkPacket(), 1205); }, "1205 bytes, expected 1206"},
        Refusal{"long by one", [] { return resized(longNetworkPacket(), 1207); }, "1207 bytes, expected 1206"},
        Refusal{"data port 0", [] { return with16(longNetworkPacket(), 24, 0); }, "data port 0"},
        Refusal{"status port 0", [] { return with16(longNetworkPacket(), 26, 0); }, "status port 0"},
        Refusal{"motor speed", [] { return with16(longNetworkPacket(), 8, 700); }, "motor speed 700"},
        Refusal{"run state", [] { return with16(longNetworkPacket(), 40, 2); }, "run state 2"},
        Refusal{"sensor state", [] { return with16(longNetworkPacket(), 44, 3); }, "sensor state 3"},
        Refusal{"PPS angle", [] { return with16(longNetworkPacket(), 48, 36001); }, "PPS angle 36001"},
        Refusal{"mask", [] { return withByte(longNetworkPacket(), 37, 0); }, "not contiguous"},
        Refusal{"sensor address", [] { return withByte(longNetworkPacket(), 10, 0); }, "sensor address 0.0.0.2"},
        Refusal{"destination", [] { return withByte(longNetworkPacket(), 14, 240); }, "destination address 240.0.0.1"},
        Refusal{"same addresses", [] { return withByte(longNetworkPacket(), 17, 2); }, "both 127.0.0.2"},
        Refusal{"group MAC", [] { return withByte(longNetworkPacket(), 18, 0x01); }, "group address"},
        Refusal{"time", [] { return withByte(longNetworkPacket(), 53, 13); }, "not a date and time"},
        Refusal{"short: tail", [] { return withByte(shortNetworkPacket(), 35, 0); }, "tail at 32"},
        Refusal{"short: length", [] { return resized(shortNetworkPacket(), 35); }, "35 bytes, expected 36"},
        Refusal{"short: port", [] { return with16(shortNetworkPacket(), 23, 0); }, "status port 0"},
        Refusal{"short: speed", [] { return with16(shortNetworkPacket(), 29, 0); }, "motor speed 0"},
        Refusal{"short: address", [] { return withByte(shortNetworkPacket(), 9, 230); }, "sensor address"},
        Refusal{"advanced: marker", [] { return withByte(advancedPacket(), 167, 0x12); }, "marker at 160"},
        Refusal{"advanced: range 0", [] { return with16(advancedPacket(), 178, 0); }, "measuring range 0"},
        Refusal{"advanced: echo", [] { return withByte(advancedPacket(), 185, 2); }, "echo mode 2"},
        Refusal{"advanced: zero position", [] { return withByte(advancedPacket(), 184, 3); }, "zero-degree position 3"},
        Refusal{"advanced: run state", [] { return with16(advancedPacket(), 40, 3); }, "run state 3"},
        Refusal{"advanced: speed", [] { return with16(advancedPacket(), 8, 100); }, "motor speed 100"},
        Refusal{"advanced: tail", [] { return withByte(advancedPacket(), 1204, 0xF0); }, "tail"},
        Refusal{"empty", [] { return Bytes{}; }, "empty"}));

TEST(ConfigurationPacketsTest, ShortNetworkSettingsSetAddressesPortsAndSpeed) {
  const ParsedConfiguration p = parse(shortNetworkPacket());
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.request.kind, ConfigurationKind::ShortNetworkSettings);
  SensorState s;
  const SensorState before = s;
  applyConfiguration(p.request, s);
  EXPECT_EQ(s.sensorIp, (Ipv4Address{127, 0, 0, 5}));
  EXPECT_EQ(s.destIp, (Ipv4Address{127, 0, 0, 9}));
  EXPECT_EQ(s.dataPort, 3000);
  EXPECT_EQ(s.statusPort, 3001);
  EXPECT_EQ(int{s.motorSpeed}, 300);
  // The short form carries nothing else.
  EXPECT_EQ(s.subnetMask, before.subnetMask);
  EXPECT_EQ(s.mac, before.mac);
  EXPECT_EQ(s.ppsSetAngle, before.ppsSetAngle);
}

TEST(ConfigurationPacketsTest, AdvancedSettingsSetTheFactoryValuesAndShowInTheStatus) {
  const ParsedConfiguration p = parse(advancedPacket());
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.request.kind, ConfigurationKind::AdvancedSettings);
  SensorState s;
  applyConfiguration(p.request, s);
  EXPECT_EQ(int{s.motorSpeed}, 1200);
  EXPECT_EQ(int{s.runState}, kRunStateStopped);
  EXPECT_EQ(s.highReflection, 100);
  EXPECT_EQ(s.measuringRange, 15000);
  EXPECT_EQ(s.trailingThreshold, 7);
  EXPECT_EQ(s.trailingDistance, 40);
  EXPECT_EQ(s.zeroDegreePosition, 1);
  EXPECT_TRUE(s.dualReturn());
  EXPECT_EQ(s.horizontalOffset, -150);
  // The advanced packet does not move the sensor.
  EXPECT_EQ(s.sensorIp, SensorState{}.sensorIp);

  // The next status packet reports it, bytes as the host wrote them.
  const Bytes status = statusSnapshot(s);
  const Decoded d = decodeStatus(status.data(), status.size());
  EXPECT_EQ(d.values[9], 15000);
  EXPECT_EQ(d.values[10], 7);
  EXPECT_EQ(d.values[11], 40);
  EXPECT_EQ(d.values[12], 1);
  EXPECT_EQ(d.values[13], 1);
  EXPECT_EQ(d.values[14], 0xFF6A);
  EXPECT_EQ(d.values[15], 0xFFFE);
  EXPECT_EQ(status[104], 0x00);
  EXPECT_EQ(status[105], 100);
  EXPECT_EQ(int{d.record.runState}, 1);
  EXPECT_EQ(int{d.record.motorSpeed}, 0);  // a stopped motor reads 0

  // Run state 2: the host did not know it; the sensor keeps its own.
  SensorState running;
  const ParsedConfiguration unknown = parse(with16(advancedPacket(), 40, 2));
  ASSERT_TRUE(unknown.ok) << unknown.error;
  applyConfiguration(unknown.request, running);
  EXPECT_EQ(int{running.runState}, kRunStateRunning);
  EXPECT_EQ(running.measuringRange, 15000);
}

TEST(ConfigurationPacketsTest, DefaultRestoreIsRecognisedAndApplied) {
  const ParsedConfiguration p = parse(restorePacket());
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.request.kind, ConfigurationKind::DefaultRestore);
  SensorState s;
  s.motorSpeed = 1200;
  s.dataPort = 5000;
  s.ppsSetAngle = 100;
  applyConfiguration(p.request, s);
  EXPECT_EQ(int{s.motorSpeed}, 300);
  EXPECT_EQ(s.sensorIp, (Ipv4Address{192, 168, 1, 222}));
  EXPECT_EQ(s.destIp, (Ipv4Address{192, 168, 1, 125}));
  EXPECT_EQ(s.dataPort, 2368);
  EXPECT_EQ(s.statusPort, 2369);
  EXPECT_EQ(s.ppsSetAngle, 0);
  EXPECT_EQ(s.mac, SensorState{}.mac);  // zeros in the packet: kept

  // The same header with other contents is a network settings packet.
  const ParsedConfiguration other = parse(withByte(restorePacket(), 1000, 1));
  ASSERT_TRUE(other.ok);
  EXPECT_EQ(other.request.kind, ConfigurationKind::NetworkSettings);
}

TEST(SensorStatusTest, ReportsTheStateInTheLongAndTheShortLayout) {
  SensorState s;
  s.sensorIp = {127, 0, 0, 3};
  s.destIp = {127, 0, 0, 4};
  s.dataPort = 4000;
  s.statusPort = 4001;
  s.motorSpeed = 300;
  s.ppsSetAngle = 9000;
  s.sensorState = kSensorStateSleep;

  const Bytes longStatus = statusSnapshot(s);
  const Decoded d = decodeStatus(longStatus.data(), longStatus.size());
  EXPECT_EQ(int{d.record.motorSpeed}, 0);  // asleep: the motor stands
  EXPECT_EQ(longStatus[44] * 256 + longStatus[45], 1);
  EXPECT_EQ(d.values[7], 4000);
  EXPECT_EQ(d.values[8], 4001);
  EXPECT_EQ(d.record.ppsSetAngle[0] * 256 + d.record.ppsSetAngle[1], 9000);
  EXPECT_EQ(std::vector<int>(longStatus.begin() + 10, longStatus.begin() + 18),
            (std::vector<int>{127, 0, 0, 3, 127, 0, 0, 4}));
  EXPECT_NE(longStatus[1202], 3);

  s.sensorState = kSensorStateRunning;
  StreamSettings settings = settingsFor(Layout::Protocol17);
  settings.statusLayout = StatusLayout::Short;
  SensorStream stream(settings, s);
  Datagram first;
  stream.next(first);
  ASSERT_EQ(first.kind, SentKind::Status);
  const std::uint8_t* b = first.data();
  EXPECT_EQ(b[1202], 3);
  EXPECT_EQ(std::vector<int>(b + 8, b + 12), (std::vector<int>{127, 0, 0, 3}));
  EXPECT_EQ(loadBE16(b + 12), 4000);
  EXPECT_EQ(std::vector<int>(b + 14, b + 18), (std::vector<int>{127, 0, 0, 4}));
  EXPECT_EQ(loadBE16(b + 18), 4001);
  EXPECT_EQ(loadBE16(b + 20), 300);
}

// ============================================================================
// The command line
// ============================================================================

ParsedOptions parseArgs(std::vector<std::string> args) { return parseSimulatorOptions(args); }

TEST(SimulatorOptionsTest, DefaultsAndValues) {
  const ParsedOptions none = parseArgs({});
  ASSERT_EQ(none.outcome, ParsedOptions::Outcome::Run) << none.error;
  const SimulatorOptions& d = none.options;
  EXPECT_EQ(d.bindAddress, "127.0.0.2");
  EXPECT_EQ(d.target, "127.0.0.1");
  EXPECT_EQ(d.sensorPort, 2368);
  EXPECT_EQ(d.dataPort, 2368);
  EXPECT_EQ(d.statusPort, 2369);
  EXPECT_EQ(d.layout, Layout::Protocol17);
  EXPECT_EQ(d.rpm, 600);
  EXPECT_FALSE(d.dualReturn || d.compactScan || d.shortStatus || d.statusToDataPort || d.quiet);
  EXPECT_FALSE(d.seconds || d.count || d.rate || d.gpsJumpAt);

  const ParsedOptions some = parseArgs({"--layout=1.6",
                                        "--rpm",
                                        "1200",
                                        "--dual-return",
                                        "--seconds",
                                        "2.5",
                                        "--gps-jump-at",
                                        "3",
                                        "--garbage",
                                        "0.1",
                                        "--count",
                                        "500",
                                        "--status-to-data-port",
                                        "--short-status",
                                        "--rate",
                                        "2000",
                                        "--quiet",
                                        "--data-port",
                                        "5000",
                                        "--status-port",
                                        "5001",
                                        "--bind",
                                        "127.0.0.3",
                                        "--drop",
                                        "0.05",
                                        "--drop-seed",
                                        "7"});
  ASSERT_EQ(some.outcome, ParsedOptions::Outcome::Run) << some.error;
  const SimulatorOptions& o = some.options;
  EXPECT_EQ(o.layout, Layout::Protocol16);
  EXPECT_EQ(o.rpm, 1200);
  EXPECT_TRUE(o.dualReturn && o.statusToDataPort && o.shortStatus && o.quiet);
  EXPECT_DOUBLE_EQ(*o.seconds, 2.5);
  EXPECT_DOUBLE_EQ(*o.gpsJumpAt, 3.0);
  EXPECT_DOUBLE_EQ(o.garbage, 0.1);
  EXPECT_EQ(*o.count, 500u);
  EXPECT_DOUBLE_EQ(*o.rate, 2000.0);
  EXPECT_EQ(o.dataPort, 5000);
  EXPECT_EQ(o.statusPort, 5001);
  EXPECT_EQ(o.bindAddress, "127.0.0.3");
  EXPECT_DOUBLE_EQ(o.drop, 0.05);
  EXPECT_EQ(*o.dropSeed, 7u);

  EXPECT_EQ(parseArgs({"--rpm", "600", "--help"}).outcome, ParsedOptions::Outcome::Help);
  const std::string usage = simulatorUsage();
  for (const char* option :
       {"--bind",         "--sensor-port", "--target",      "--data-port", "--status-port", "--status-to-data-port",
        "--short-status", "--layout",      "--dual-return", "--rpm",       "--compact",     "--gps-jump-at",
        "--seconds",      "--write-pcap",  "--replay",      "--speed",     "--fast",        "--rate",
        "--garbage",      "--count",       "--quiet",       "--drop",      "--drop-seed"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
    EXPECT_EQ(parseArgs({option}).error.find("unknown option"), std::string::npos) << option;
  }
}

TEST(SimulatorOptionsTest, BadValuesAndCombinationsAreRefusedWithAReason) {
  const std::vector<std::pair<std::vector<std::string>, const char*>> cases = {
      {{"--rpm", "700"}, "300, 600 or 1200"},
      {{"--layout", "1.8"}, "1.6 or 1.7"},
      {{"--data-port", "0"}, "1..65535"},
      {{"--status-port", "65536"}, "1..65535"},
      {{"--sensor-port", "x"}, "1..65535"},
      {{"--garbage", "1.5"}, "0..1"},
      {{"--drop", "-0.1"}, "0..1"},
      {{"--drop-seed", "x"}, "a whole number"},
      {{"--replay", "a", "--drop", "0.1"}, "--drop does not apply to --replay"},
      {{"--count", "0"}, "at least 1"},
      {{"--seconds", "-1"}, "above 0"},
      {{"--rate", "fast"}, "above 0"},
      {{"--gps-jump-at", "-2"}, "0 or more"},
      {{"--bind", "300.1.1.1"}, "--bind"},
      {{"--target", "224.1.1.1"}, "--target"},
      {{"--target", "192.168.1.5"}, "cannot be reached from the loopback"},
      {{"--target", "127.0.0.2", "--data-port", "2368"}, "the sensor itself"},
      {{"--bogus"}, "unknown option --bogus"},
      {{"--rpm"}, "--rpm needs a value"},
      {{"--quiet=1"}, "takes no value"},
      {{"--speed", "2"}, "needs --replay"},
      {{"--fast"}, "needs --replay"},
      {{"--write-pcap", "out.pcap"}, "needs --seconds or --count"},
      {{"--write-pcap", "a", "--replay", "b"}, "exclude each other"},
      {{"--replay", "a", "--speed", "2", "--fast"}, "exclude each other"},
      {{"--replay", "a", "--rpm", "600"}, "--rpm does not apply to --replay"},
      {{"--compact", "--dual-return"}, "exclude each other"},
  };
  for (const auto& c : cases) {
    const ParsedOptions p = parseArgs(c.first);
    EXPECT_EQ(p.outcome, ParsedOptions::Outcome::Error) << c.first[0];
    EXPECT_NE(p.error.find(c.second), std::string::npos) << c.first[0] << ": " << p.error;
  }
}

// ============================================================================
// On loopback
// ============================================================================

// The sensor at 127.0.0.2 sends data and status to 127.0.0.1; a network
// settings packet built from its status, as the host builds it, changes what
// its next status packet reports and where it goes; a malformed one is
// refused and changes nothing.
TEST(SimulatedSensorLoopbackTest, SendsDataAndStatusAndTakesANetworkSettingsPacket) {
  TestSocket data;
  TestSocket status;
  TestSocket newStatus;
  TestSocket host;
  const SimulatorOptions o = loopbackOptions(data, status);
  RunningSensor sensor(o);
  std::string error;
  ASSERT_TRUE(sensor.open(error)) << error;
  sensor.start();

  const auto firstStatus = status.receiveUntil(2000, isStatus);
  ASSERT_TRUE(firstStatus);
  EXPECT_EQ(firstStatus->from, (Ipv4Address{127, 0, 0, 2}));
  EXPECT_EQ(firstStatus->fromPort, o.sensorPort);
  const Decoded before = decodeStatus(firstStatus->bytes.data(), firstStatus->bytes.size());
  EXPECT_EQ(int{before.record.motorSpeed}, 600);
  EXPECT_EQ(before.values[7], data.port());
  EXPECT_EQ(before.values[8], status.port());

  // Data packets of whole revolutions, from the sensor's address and port.
  std::vector<LidarDataSingleLine> records;
  DataPacketDecoder decoder([&](const LidarDataSingleLine& r) { records.push_back(r); });
  decoder.setLayout(Layout::Protocol17);
  for (int i = 0; i < 25; ++i) {
    const auto packet = data.receive(1000);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->fromPort, o.sensorPort);
    ASSERT_TRUE(decoder.decodeDataPacket(packet->bytes.data(), packet->bytes.size()));
  }
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records[1].pairedSize(), 3630u);  // 3600 and the 30 carried into the next

  // Malformed: refused, logged, nothing changes.
  host.sendTo("127.0.0.2", o.sensorPort, resized(longNetworkPacket(), 1000));

  // Motor to 1200 rpm, status to another port, PPS angle 90 degrees.
  Bytes settings = longNetworkPacket(firstStatus->bytes);
  putBE16(settings, 24, data.port());
  putBE16(settings, 26, newStatus.port());
  putBE16(settings, 48, 9000);
  host.sendTo("127.0.0.2", o.sensorPort, settings);

  const auto after = newStatus.receiveUntil(2500, isStatus);
  ASSERT_TRUE(after);
  const Decoded changed = decodeStatus(after->bytes.data(), after->bytes.size());
  EXPECT_EQ(int{changed.record.motorSpeed}, 1200);
  EXPECT_EQ(changed.values[8], newStatus.port());
  EXPECT_EQ(changed.record.ppsSetAngle[0] * 256 + changed.record.ppsSetAngle[1], 9000);
  EXPECT_EQ(changed.values[5], 0x07);  // the MAC the packet carried

  const auto refused = sensor.logLines("refused");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_NE(refused[0].find("1000 bytes, expected 1206"), std::string::npos) << refused[0];
  const auto applied = sensor.logLines("applied network settings");
  ASSERT_EQ(applied.size(), 1u);
  EXPECT_NE(applied[0].find("motor speed (rpm) 600 -> 1200"), std::string::npos) << applied[0];
  sensor.stop();
  EXPECT_TRUE(sensor.ok());
  EXPECT_EQ(sensor.sensor().summary().configurationsApplied, 1u);
  EXPECT_EQ(sensor.sensor().summary().configurationsRefused, 1u);
}

// A new sensor address moves the socket; a destination it cannot reach from
// loopback is kept as it was, and the status says so.
TEST(SimulatedSensorLoopbackTest, MovesToANewAddressAndKeepsAReachableDestination) {
  TestSocket data;
  TestSocket status;
  TestSocket host;
  const SimulatorOptions o = loopbackOptions(data, status);
  RunningSensor sensor(o);
  std::string error;
  ASSERT_TRUE(sensor.open(error)) << error;
  sensor.start();
  const auto first = status.receiveUntil(2000, isStatus);
  ASSERT_TRUE(first);

  Bytes move = longNetworkPacket(first->bytes);
  putBytes(move, 10, {127, 0, 0, 3});
  putBytes(move, 14, {192, 168, 1, 125});
  putBE16(move, 24, data.port());
  putBE16(move, 26, status.port());
  host.sendTo("127.0.0.2", o.sensorPort, move);

  const auto moved = status.receiveUntil(2500, [](const Received& r) {
    return isStatus(r) && r.from == Ipv4Address{127, 0, 0, 3};
  });
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->fromPort, o.sensorPort);
  EXPECT_EQ(std::vector<int>(moved->bytes.begin() + 10, moved->bytes.begin() + 18),
            (std::vector<int>{127, 0, 0, 3, 127, 0, 0, 1}));
  const auto line = sensor.logLines("cannot be reached from a loopback address");
  EXPECT_EQ(line.size(), 1u);
  // Data keeps coming, from the new address.
  const auto packet = data.receiveUntil(1000, [](const Received& r) { return r.from == Ipv4Address{127, 0, 0, 3}; });
  EXPECT_TRUE(packet);
}

TEST(SimulatedSensorLoopbackTest, ASecondSensorOnTheSameAddressAndPortIsRefused) {
  TestSocket data;
  TestSocket status;
  const SimulatorOptions o = loopbackOptions(data, status);
  SimulatedSensor first(o, {});
  SimulatedSensor second(o, {});
  std::string error;
  ASSERT_TRUE(first.open(error)) << error;
  EXPECT_FALSE(second.open(error));
  EXPECT_NE(error.find("127.0.0.2:" + std::to_string(o.sensorPort) + " is in use"), std::string::npos) << error;

  // An address that is not this machine's.
  SimulatorOptions away = o;
  away.bindAddress = "192.0.2.1";
  SimulatedSensor third(away, {});
  EXPECT_FALSE(third.open(error));
  EXPECT_NE(error.find("not an address of this machine"), std::string::npos) << error;
}

// --count ends the run by itself; the garbage mixed in leaves every real
// data packet whole and in order.
TEST(SimulatedSensorLoopbackTest, StopsAfterItsCountWithGarbageMixedIn) {
  TestSocket data;
  TestSocket status;
  SimulatorOptions o = loopbackOptions(data, status);
  o.count = 40;
  o.garbage = 0.3;
  o.rate = 400;
  RunningSensor sensor(o);
  std::string error;
  ASSERT_TRUE(sensor.open(error)) << error;
  sensor.start();

  std::vector<Received> real;
  std::size_t junk = 0;
  while (real.size() < 40) {
    const auto r = data.receive(1000);
    if (!r) break;
    if (isDataPacket(r->bytes.data(), r->bytes.size()))
      real.push_back(*r);
    else
      ++junk;
  }
  sensor.join();
  EXPECT_TRUE(sensor.ok());
  EXPECT_EQ(sensor.sensor().summary().data, 40u);  // the count ended it, not --seconds
  ASSERT_EQ(real.size(), 40u);
  for (std::size_t i = 0; i < real.size(); ++i)
    EXPECT_EQ(loadLE16(real[i].bytes.data() + kBlockAzimuthOffset), (i * 12 * 300) % 36000) << i;
  EXPECT_EQ(junk, sensor.sensor().summary().garbage);
  EXPECT_GT(junk, 0u);
}

// --drop leaves out its share of the data datagrams, at random but the same
// ones for the same seed; the summary counts them.
TEST(SimulatedSensorLoopbackTest, LeavesOutItsShareOfDataDatagrams) {
  std::vector<std::size_t> received;
  for (int run = 0; run < 2; ++run) {
    TestSocket data;
    TestSocket status;
    SimulatorOptions o = loopbackOptions(data, status);
    o.count = 80;  // what the test socket's receive buffer holds
    o.drop = 0.25;
    o.rate = 4000;
    RunningSensor sensor(o);
    std::string error;
    ASSERT_TRUE(sensor.open(error)) << error;
    sensor.start();
    sensor.join();
    ASSERT_TRUE(sensor.ok());
    std::size_t n = 0;
    while (const auto r = data.receive(0)) n += isDataPacket(r->bytes.data(), r->bytes.size());
    const RunSummary& summary = sensor.sensor().summary();
    EXPECT_EQ(n + summary.leftOut, 80u);
    EXPECT_EQ(summary.data, n);
    EXPECT_GT(summary.leftOut, 8u);
    EXPECT_LT(summary.leftOut, 32u);
    received.push_back(n);
  }
  EXPECT_EQ(received[0], received[1]);
}

// On the virtual clock at 600 rpm: a data datagram every 10 ms and a status
// packet every second, each at its stream time; --seconds ends the run then.
TEST(SimulatedSensorPaceTest, SendsEachDatagramAtItsStreamTime) {
  TestSocket data;
  TestSocket status;
  SimulatorOptions o = loopbackOptions(data, status);
  o.seconds = 2;
  const VirtualRun run(o);
  ASSERT_EQ(run.clock.data.size(), 200u);
  for (std::size_t i = 0; i < run.clock.data.size(); ++i) ASSERT_EQ(run.clock.data[i], std::int64_t(i) * 10000) << i;
  EXPECT_EQ(run.clock.status, (std::vector<std::int64_t>{0, 1000000}));
  EXPECT_EQ(run.sensor.summary().seconds, 2.0);
}

// With --rate every datagram, data or status, takes the next slot of the
// rate: datagram n goes out at n / rate.
TEST(SimulatedSensorPaceTest, HoldsAFixedRate) {
  TestSocket data;
  TestSocket status;
  SimulatorOptions o = loopbackOptions(data, status);
  o.rate = 2000;
  o.seconds = 0.5;
  const VirtualRun run(o);
  std::vector<std::int64_t> sent = run.clock.data;
  sent.insert(sent.end(), run.clock.status.begin(), run.clock.status.end());
  std::sort(sent.begin(), sent.end());
  ASSERT_EQ(sent.size(), 1000u);
  for (std::size_t n = 0; n < sent.size(); ++n) ASSERT_EQ(sent[n], std::int64_t(n) * 500) << n;
  EXPECT_FALSE(run.clock.status.empty());
}

// ============================================================================
// Capture files
// ============================================================================

TEST(CaptureModesTest, WritesTheStreamWithItsCaptureTimesAndAddresses) {
  SimulatorOptions o;
  o.writePcap = tempPath("write.pcap").string();
  o.seconds = 2;
  RunSummary summary;
  std::string error;
  ASSERT_TRUE(writeCapture(o, kClockStartUs, summary, error)) << error;
  EXPECT_EQ(summary.data, 200u);
  EXPECT_EQ(summary.status, 2u);

  CaptureReader reader;
  ASSERT_TRUE(reader.open(o.writePcap)) << reader.error();
  CapturedDatagram c;
  std::size_t data = 0;
  std::size_t status = 0;
  while (reader.next(c)) {
    EXPECT_EQ(c.sourceIp, 0x7F000002u);
    EXPECT_EQ(c.destIp, 0x7F000001u);
    EXPECT_EQ(c.sourcePort, 2368);
    const std::int64_t us = (c.seconds - kClockStartSeconds) * 1000000 + c.microseconds;
    if (isDataPacket(c.payload, c.size)) {
      EXPECT_EQ(c.destPort, 2368);
      EXPECT_EQ(us, static_cast<std::int64_t>(data) * 10000);
      ++data;
    } else {
      ASSERT_TRUE(isStatusPacket(c.payload, c.size));
      EXPECT_EQ(c.destPort, 2369);
      EXPECT_EQ(us, static_cast<std::int64_t>(status) * 1000000);
      ++status;
    }
  }
  EXPECT_TRUE(reader.damage().empty()) << reader.damage();
  EXPECT_EQ(data, 200u);
  EXPECT_EQ(status, 2u);
  std::filesystem::remove(o.writePcap);
}

// A replay sends each record at its capture time divided by --speed, on the
// virtual clock; --seconds ends it at its time.
TEST(CaptureModesTest, ReplaysACaptureAtItsPaceScaled) {
  SimulatorOptions w;
  w.writePcap = tempPath("replay.pcap").string();
  w.seconds = 1;
  RunSummary written;
  std::string error;
  ASSERT_TRUE(writeCapture(w, kClockStartUs, written, error)) << error;

  TestSocket data;
  TestSocket status;
  SimulatorOptions o = loopbackOptions(data, status);
  o.replay = w.writePcap;
  o.seconds.reset();
  std::atomic<bool> stop{false};
  const auto replay = [&](std::optional<double> speed, std::optional<double> seconds, RunSummary& summary,
                          VirtualClock& clock) {
    SimulatorOptions r = o;
    r.speed = speed;
    r.seconds = seconds;
    EXPECT_TRUE(replayCapture(r, stop, {}, summary, error, &clock)) << error;
    clock.noteSent();
  };

  RunSummary quadruple;
  VirtualClock fourTimes(quadruple);
  replay(4, std::nullopt, quadruple, fourTimes);
  ASSERT_EQ(fourTimes.data.size(), 100u);
  for (std::size_t k = 0; k < 100; ++k) ASSERT_EQ(fourTimes.data[k], std::int64_t(k) * 2500) << k;
  EXPECT_EQ(fourTimes.status, (std::vector<std::int64_t>{0}));
  EXPECT_EQ(quadruple.seconds, 0.2475);

  RunSummary half;
  VirtualClock halfSpeed(half);
  replay(0.5, 0.1, half, halfSpeed);
  EXPECT_EQ(halfSpeed.data, (std::vector<std::int64_t>{0, 20000, 40000, 60000, 80000}));
  EXPECT_EQ(half.seconds, 0.1);
  std::filesystem::remove(w.writePcap);
}

// --fast sends without waiting; recorded data goes to the data port, status
// to the status port.
TEST(CaptureModesTest, ReplaysFastWithoutWaiting) {
  SimulatorOptions w;
  w.writePcap = tempPath("fast.pcap").string();
  w.seconds = 1;
  RunSummary written;
  std::string error;
  ASSERT_TRUE(writeCapture(w, kClockStartUs, written, error)) << error;

  TestSocket data;
  TestSocket status;
  SimulatorOptions o = loopbackOptions(data, status);
  o.replay = w.writePcap;
  o.fast = true;
  o.count = 20;
  std::atomic<bool> stop{false};
  RunSummary quick;
  VirtualClock clock(quick);
  ASSERT_TRUE(replayCapture(o, stop, {}, quick, error, &clock)) << error;
  EXPECT_EQ(clock.waits, 0);
  EXPECT_EQ(quick.data, 20u);
  EXPECT_EQ(quick.status, 1u);
  for (int i = 0; i < 20; ++i) {
    const auto r = data.receive(2000);
    ASSERT_TRUE(r) << i;
    EXPECT_TRUE(isDataPacket(r->bytes.data(), r->bytes.size())) << i;
  }
  EXPECT_FALSE(data.receive(0));
  const auto s = status.receive(2000);
  ASSERT_TRUE(s);
  EXPECT_TRUE(isStatus(*s));
  std::filesystem::remove(w.writePcap);
}

TEST(CaptureModesTest, BadFilesGiveAOneLineReason) {
  TestSocket data;
  TestSocket status;
  SimulatorOptions o = loopbackOptions(data, status);
  std::atomic<bool> stop{false};
  RunSummary summary;
  std::string error;

  o.replay = tempPath("missing.pcap").string();
  EXPECT_FALSE(replayCapture(o, stop, {}, summary, error));
  EXPECT_EQ(error.rfind(o.replay + ": ", 0), 0u) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  SimulatorOptions w;
  w.writePcap = (tempPath("no-such-dir") / "out.pcap").string();
  w.seconds = 1;
  EXPECT_FALSE(writeCapture(w, kClockStartUs, summary, error));
  EXPECT_EQ(error.rfind(w.writePcap + ": ", 0), 0u) << error;

  // Cut short in its last record: what came before is sent, and the damage
  // is reported.
  w.writePcap = tempPath("cut.pcap").string();
  w.seconds = 0.1;
  ASSERT_TRUE(writeCapture(w, kClockStartUs, summary, error)) << error;
  std::filesystem::resize_file(w.writePcap, std::filesystem::file_size(w.writePcap) - 100);
  o.replay = w.writePcap;
  o.fast = true;
  RunSummary cut;
  EXPECT_FALSE(replayCapture(o, stop, {}, cut, error));
  EXPECT_NE(error.find("damaged"), std::string::npos) << error;
  EXPECT_EQ(cut.data, 9u);
  EXPECT_EQ(cut.status, 1u);
  std::filesystem::remove(w.writePcap);
}
