#include "Ruler.h"

#include <cmath>
#include <cstdio>

namespace z540k {

double rulerRangeMetres(const ScenePoint& p) { return std::hypot(double(p.x), double(p.y), double(p.z)) / 100.0; }

double rulerAzimuthDegrees(const ScenePoint& p) {
  if (p.x == 0 && p.y == 0) return 0.0;
  const double degrees = std::atan2(double(p.x), double(p.y)) * 180.0 / M_PI;
  return degrees < 0 ? degrees + 360.0 : degrees;
}

std::optional<ScenePoint> nearestPoint(const std::vector<ColouredPoint>& points, float x, float y, float reach) {
  std::optional<ScenePoint> nearest;
  float best = reach * reach;
  for (const ColouredPoint& c : points) {
    const float dx = c.p.x - x, dy = c.p.y - y, d = dx * dx + dy * dy;
    if (d <= best) {
      best = d;
      nearest = c.p;
    }
  }
  return nearest;
}

void Ruler::click(const ScenePoint& p) {
  if (ends_.size() == 2) ends_.clear();
  ends_.push_back(p);
}

double Ruler::lengthMetres() const {
  if (ends_.size() < 2) return 0.0;
  const ScenePoint &a = ends_[0], &b = ends_[1];
  return std::hypot(double(a.x) - b.x, double(a.y) - b.y, double(a.z) - b.z) / 100.0;
}

std::string Ruler::text() const {
  std::string text;
  const char* names[] = {"A", "B"};
  char part[96];
  for (std::size_t i = 0; i < ends_.size(); ++i) {
    std::snprintf(part, sizeof part, "%s%s %.3f m at %.1f\u00B0", i ? ", " : "", names[i], rulerRangeMetres(ends_[i]),
                  rulerAzimuthDegrees(ends_[i]));
    text += part;
  }
  if (ends_.size() == 2) {
    std::snprintf(part, sizeof part, ": A-B %.3f m", lengthMetres());
    text += part;
  }
  return text;
}

}  // namespace z540k
