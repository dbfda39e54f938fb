// Trails: the drawn points of the last N revolutions on screen at once, the
// older ones fading toward the black background, for watching movement. One
// revolution (N = 1) is the plain view and costs nothing. Pure.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "PointComputation.h"

namespace z540k {

class Trails {
 public:
  static constexpr int kMinLength = 1, kMaxLength = 50;

  // Revolutions kept on screen, 1..50 (clamped); fewer drop the oldest.
  void setLength(int revolutions);
  int length() const { return length_; }
  // The newest revolution's points in; the points to draw out: the oldest
  // first (the newest drawn over them), a revolution of age k (0 the
  // newest) at (N - k) / N of its colour. Not to be called with N = 1.
  const std::vector<ColouredPoint>& add(const std::vector<ColouredPoint>& newest);
  // The points to draw as last made.
  const std::vector<ColouredPoint>& points() const { return drawn_; }
  std::size_t revolutions() const { return ring_.size(); }
  void clear();

 private:
  void compose();
  int length_ = 1;
  std::deque<std::vector<ColouredPoint>> ring_;  // the oldest first
  std::vector<ColouredPoint> drawn_;
};

}  // namespace z540k
