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
};

}  // namespace z540k::sim
