// What the simulated sensor sees: a furnished room, in millimetres.
//
// The sensor stands at the origin and scans the horizontal plane. Azimuth 0
// looks along +y, 90 degrees along +x, as the host computes its points
// (x = d sin az, y = d cos az). The room is a rectangle a few metres across
// with a door in the far wall (through which the corridor wall shows), a
// window in the right wall (glass: the beam passes and finds nothing within
// range, so those measurements carry no return), a round pillar with
// reflective tape, and a person walking to and fro in front of the sensor.
//
// Pure geometry: no packets, no time but the one handed in. Distances carry a
// small deterministic noise so that a region of points has a real spread.
#pragma once

#include <cmath>
#include <cstdint>

namespace z540k::sim {

// One return of a laser firing. distanceMm == 0 means no return.
struct SceneReturn {
  double distanceMm = 0.0;
  std::uint8_t intensity = 0;
};

// The nearest and the farthest surface along one firing: a sensor in dual
// return mode reports both; in single return mode it reports the nearest.
// Where the beam meets only one surface both are the same.
struct SceneReturns {
  SceneReturn first;
  SceneReturn last;
};

// A circle in the scan plane (the pillar, the person's body at scan height).
struct SceneDisc {
  double xMm = 0.0;
  double yMm = 0.0;
  double radiusMm = 0.0;
};

// The part of a firing that never moves: its direction and what the room and
// the pillar answer along it. The stream works it out once per firing angle
// and reuses it every revolution; the returns are the same to the bit.
struct SceneFiring {
  double dx = 0.0;  // sin and cos of the azimuth
  double dy = 0.0;
  bool hits = false;   // the room (but through the window) or the pillar answers
  SceneReturns still;  // their nearest and farthest
};

class SensorScene {
 public:
  // Room walls (inner faces), mm from the sensor.
  static constexpr double kLeftWallX = -3000.0;
  static constexpr double kRightWallX = 5000.0;
  static constexpr double kBackWallY = -2500.0;
  static constexpr double kFarWallY = 4500.0;
  // The door in the far wall and the corridor wall seen through it.
  static constexpr double kDoorMinX = -2000.0;
  static constexpr double kDoorMaxX = -1100.0;
  static constexpr double kCorridorWallY = 7500.0;
  // The window in the right wall: nothing answers behind it.
  static constexpr double kWindowMinY = 500.0;
  static constexpr double kWindowMaxY = 2000.0;
  // The pillar.
  static constexpr SceneDisc kPillar{2200.0, 2600.0, 300.0};
  // The person: a disc walking along y = kPersonPathY between the two ends,
  // at a steady pace, turning round at each end.
  static constexpr double kPersonRadiusMm = 220.0;
  static constexpr double kPersonPathY = 1400.0;
  static constexpr double kPersonPathStartX = -2200.0;
  static constexpr double kPersonPathEndX = 3500.0;
  static constexpr double kPersonSpeedMmPerSecond = 1200.0;
  // Peak of the distance noise (a triangular distribution), mm.
  static constexpr double kNoiseMm = 8.0;

  // Where the person is `seconds` after the scene started.
  static SceneDisc personAt(double seconds);

  // What a firing at `azimuthDegrees` sees at `seconds`. `noiseKey` picks
  // the noise sample (the same key gives the same distances); returns beyond
  // `rangeMm` are dropped as the sensor's measuring range drops them.
  static SceneReturns returns(double azimuthDegrees, double seconds, std::uint64_t noiseKey, double rangeMm);

  // The same without noise and without a range limit: the true geometry.
  static SceneReturns exactReturns(double azimuthDegrees, double seconds);

  // The same two from a firing worked out before and the person where it is.
  static SceneFiring firing(double azimuthDegrees);
  static SceneReturns returns(const SceneFiring& firing, const SceneDisc& person, std::uint64_t noiseKey,
                              double rangeMm);
  static SceneReturns exactReturns(const SceneFiring& firing, const SceneDisc& person);
};

// What the stream works out for every measurement, here so that it is
// compiled into the stream's loops.
namespace scene_detail {

constexpr std::uint8_t kPillarIntensity = 200;  // reflective tape
constexpr std::uint8_t kPersonIntensity = 25;   // dark clothes

inline std::uint64_t splitMix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// A noise sample in [-1, 1], triangular: most measurements land near the
// true distance, a few at the edge.
inline double triangularNoise(std::uint64_t key) {
  const std::uint64_t bits = splitMix64(key);
  // Through a signed integer: the same value (below 2^32), converted in one
  // instruction.
  const double u1 = static_cast<double>(static_cast<std::int64_t>(bits & 0xFFFFFFFFULL)) / 4294967296.0;
  const double u2 = static_cast<double>(static_cast<std::int64_t>(bits >> 32)) / 4294967296.0;
  return u1 + u2 - 1.0;
}

// The first crossing of the ray (origin, direction dx, dy) with a disc, if
// the disc lies ahead.
inline bool hitDisc(const SceneDisc& disc, double dx, double dy, double& distance) {
  const double along = disc.xMm * dx + disc.yMm * dy;
  if (along <= 0.0) return false;
  const double centreSquared = disc.xMm * disc.xMm + disc.yMm * disc.yMm;
  const double missSquared = centreSquared - along * along;
  const double radiusSquared = disc.radiusMm * disc.radiusMm;
  if (missSquared > radiusSquared) return false;
  distance = along - std::sqrt(radiusSquared - missSquared);
  return distance > 0.0;
}

}  // namespace scene_detail

// The person comes last among the surfaces: it is the nearest or the
// farthest only when strictly so.
inline SceneReturns SensorScene::exactReturns(const SceneFiring& firing, const SceneDisc& person) {
  SceneReturns r = firing.still;
  double d = 0.0;
  if (!scene_detail::hitDisc(person, firing.dx, firing.dy, d)) return r;
  const SceneReturn seen{d, scene_detail::kPersonIntensity};
  if (!firing.hits || d < r.first.distanceMm) r.first = seen;
  if (!firing.hits || d > r.last.distanceMm) r.last = seen;
  return r;
}

inline SceneReturns SensorScene::returns(const SceneFiring& firing, const SceneDisc& person, std::uint64_t noiseKey,
                                         double rangeMm) {
  SceneReturns r = exactReturns(firing, person);
  const auto measure = [rangeMm](SceneReturn& ret, std::uint64_t key) {
    if (ret.distanceMm <= 0.0) return;
    ret.distanceMm += kNoiseMm * scene_detail::triangularNoise(key);
    if (ret.distanceMm > rangeMm || ret.distanceMm <= 0.0) ret = SceneReturn{};
  };
  const bool oneSurface = r.first.distanceMm == r.last.distanceMm;
  measure(r.first, noiseKey * 2);
  if (oneSurface)
    r.last = r.first;  // one echo: both returns report the same measurement
  else
    measure(r.last, noiseKey * 2 + 1);
  return r;
}

}  // namespace z540k::sim
