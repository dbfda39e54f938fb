// The view's ruler: two points of a frame chosen by clicks, the distance
// between them and each one's distance and azimuth from the sensor. Pure.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PointComputation.h"

namespace z540k {

// A point's distance from the sensor in metres (scene points are in
// centimetres) and its azimuth in degrees, [0, 360): 0 ahead (+y), 90 to
// the right (+x), as the sensor counts.
double rulerRangeMetres(const ScenePoint& p);
double rulerAzimuthDegrees(const ScenePoint& p);

// The point of `points` nearest to (x, y) in the scan plane, within `reach`
// centimetres; none when no point is that near.
std::optional<ScenePoint> nearestPoint(const std::vector<ColouredPoint>& points, float x, float y, float reach);

class Ruler {
 public:
  // The first click sets one end, the second the other; a third starts a
  // new measurement from itself.
  void click(const ScenePoint& p);
  void clear() { ends_.clear(); }
  const std::vector<ScenePoint>& ends() const { return ends_; }
  // The distance between the two ends in metres (0 with fewer).
  double lengthMetres() const;
  // "A 4.500 m at 0.0°", then "A 4.500 m at 0.0°, B 3.000 m at 270.0°:
  // A-B 5.408 m"; empty without ends.
  std::string text() const;

 private:
  std::vector<ScenePoint> ends_;
};

}  // namespace z540k
