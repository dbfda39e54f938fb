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

struct Hit {
  double distance = 0.0;
  std::uint8_t intensity = 0;
};

std::uint8_t wallIntensity(double incidenceCosine) {
  return static_cast<std::uint8_t>(kWallBaseIntensity + kWallIncidenceIntensity * std::fabs(incidenceCosine));
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

SceneFiring SensorScene::firing(double azimuthDegrees) {
  const double radians = azimuthDegrees * kPi / 180.0;
  SceneFiring f;
  f.dx = std::sin(radians);
  f.dy = std::cos(radians);
  std::array<Hit, 2> hits;
  std::size_t count = 0;
  if (hitRoom(f.dx, f.dy, hits[count])) ++count;
  double d = 0.0;
  if (scene_detail::hitDisc(kPillar, f.dx, f.dy, d)) hits[count++] = Hit{d, scene_detail::kPillarIntensity};
  if (count == 0) return f;
  // The first of equal distances, as for every surface.
  const auto byDistance = [](const Hit& a, const Hit& b) { return a.distance < b.distance; };
  const Hit nearest = *std::min_element(hits.begin(), hits.begin() + count, byDistance);
  const Hit farthest = *std::max_element(hits.begin(), hits.begin() + count, byDistance);
  f.hits = true;
  f.still.first = SceneReturn{nearest.distance, nearest.intensity};
  f.still.last = SceneReturn{farthest.distance, farthest.intensity};
  return f;
}

SceneReturns SensorScene::exactReturns(double azimuthDegrees, double seconds) {
  return exactReturns(firing(azimuthDegrees), personAt(seconds));
}

SceneReturns SensorScene::returns(double azimuthDegrees, double seconds, std::uint64_t noiseKey, double rangeMm) {
  return returns(firing(azimuthDegrees), personAt(seconds), noiseKey, rangeMm);
}

}  // namespace z540k::sim
