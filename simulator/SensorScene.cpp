#include "SensorScene.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace z540k::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Direction components smaller than this never reach a wall of the room.
constexpr double kParallel = 1e-12;

// How brightly each surface answers (raw 8-bit intensity).
constexpr double kWallBaseIntensity = 20.0;
constexpr double kWallIncidenceIntensity = 70.0;  // added at normal incidence
constexpr double kCorridorWallIntensity = 40.0;
constexpr std::uint8_t kPillarIntensity = 200;  // reflective tape
constexpr std::uint8_t kPersonIntensity = 25;   // dark clothes

struct Hit {
  double distance = 0.0;
  std::uint8_t intensity = 0;
};

std::uint64_t splitMix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// A noise sample in [-1, 1], triangular: most measurements land near the
// true distance, a few at the edge.
double triangularNoise(std::uint64_t key) {
  const std::uint64_t bits = splitMix64(key);
  const double u1 = static_cast<double>(bits & 0xFFFFFFFFULL) / 4294967296.0;
  const double u2 = static_cast<double>(bits >> 32) / 4294967296.0;
  return u1 + u2 - 1.0;
}

std::uint8_t wallIntensity(double incidenceCosine) {
  return static_cast<std::uint8_t>(kWallBaseIntensity + kWallIncidenceIntensity * std::fabs(incidenceCosine));
}

// The first crossing of the ray (origin, direction dx, dy) with a disc, if
// the disc lies ahead.
bool hitDisc(const SceneDisc& disc, double dx, double dy, double& distance) {
  const double along = disc.xMm * dx + disc.yMm * dy;
  if (along <= 0.0) return false;
  const double centreSquared = disc.xMm * disc.xMm + disc.yMm * disc.yMm;
  const double missSquared = centreSquared - along * along;
  const double radiusSquared = disc.radiusMm * disc.radiusMm;
  if (missSquared > radiusSquared) return false;
  distance = along - std::sqrt(radiusSquared - missSquared);
  return distance > 0.0;
}

// The room itself: the wall the ray meets, or the corridor wall through the
// door, or nothing through the window.
bool hitRoom(double dx, double dy, Hit& hit) {
  double toSideWall = INFINITY;
  double toEndWall = INFINITY;
  if (dx > kParallel) toSideWall = SensorScene::kRightWallX / dx;
  if (dx < -kParallel) toSideWall = SensorScene::kLeftWallX / dx;
  if (dy > kParallel) toEndWall = SensorScene::kFarWallY / dy;
  if (dy < -kParallel) toEndWall = SensorScene::kBackWallY / dy;

  if (toSideWall < toEndWall) {
    const double y = toSideWall * dy;
    if (dx > 0.0 && y > SensorScene::kWindowMinY && y < SensorScene::kWindowMaxY) return false;
    hit.distance = toSideWall;
    hit.intensity = wallIntensity(dx);
    return true;
  }
  const double x = toEndWall * dx;
  if (dy > 0.0 && x > SensorScene::kDoorMinX && x < SensorScene::kDoorMaxX) {
    hit.distance = SensorScene::kCorridorWallY / dy;
    hit.intensity = static_cast<std::uint8_t>(kCorridorWallIntensity);
    return true;
  }
  hit.distance = toEndWall;
  hit.intensity = wallIntensity(dy);
  return true;
}

}  // namespace

SceneDisc SensorScene::personAt(double seconds) {
  const double path = kPersonPathEndX - kPersonPathStartX;
  double along = std::fmod(std::max(0.0, seconds) * kPersonSpeedMmPerSecond, 2.0 * path);
  if (along > path) along = 2.0 * path - along;  // on the way back
  return SceneDisc{kPersonPathStartX + along, kPersonPathY, kPersonRadiusMm};
}

SceneReturns SensorScene::exactReturns(double azimuthDegrees, double seconds) {
  const double radians = azimuthDegrees * kPi / 180.0;
  const double dx = std::sin(radians);
  const double dy = std::cos(radians);

  std::array<Hit, 3> hits;
  std::size_t count = 0;
  if (hitRoom(dx, dy, hits[count])) ++count;
  double d = 0.0;
  if (hitDisc(kPillar, dx, dy, d)) hits[count++] = Hit{d, kPillarIntensity};
  if (hitDisc(personAt(seconds), dx, dy, d)) hits[count++] = Hit{d, kPersonIntensity};

  SceneReturns r;
  if (count == 0) return r;
  const auto byDistance = [](const Hit& a, const Hit& b) { return a.distance < b.distance; };
  const Hit nearest = *std::min_element(hits.begin(), hits.begin() + count, byDistance);
  const Hit farthest = *std::max_element(hits.begin(), hits.begin() + count, byDistance);
  r.first = SceneReturn{nearest.distance, nearest.intensity};
  r.last = SceneReturn{farthest.distance, farthest.intensity};
  return r;
}

SceneReturns SensorScene::returns(double azimuthDegrees, double seconds, std::uint64_t noiseKey, double rangeMm) {
  SceneReturns r = exactReturns(azimuthDegrees, seconds);
  const auto measure = [rangeMm](SceneReturn& ret, std::uint64_t key) {
    if (ret.distanceMm <= 0.0) return;
    ret.distanceMm += kNoiseMm * triangularNoise(key);
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
