#include "Trails.h"

#include <algorithm>

namespace z540k {

void Trails::setLength(int revolutions) {
  length_ = std::clamp(revolutions, kMinLength, kMaxLength);
  if (length_ == 1) {
    clear();
    return;
  }
  while (ring_.size() > static_cast<std::size_t>(length_)) ring_.pop_front();
  compose();
}

const std::vector<ColouredPoint>& Trails::add(const std::vector<ColouredPoint>& newest) {
  if (ring_.size() >= static_cast<std::size_t>(length_)) {
    // The oldest revolution's storage takes the newest: no allocation once
    // the ring is full.
    std::vector<ColouredPoint> reused = std::move(ring_.front());
    ring_.pop_front();
    reused.assign(newest.begin(), newest.end());
    ring_.push_back(std::move(reused));
  } else {
    ring_.push_back(newest);
  }
  compose();
  return drawn_;
}

void Trails::compose() {
  std::size_t total = 0;
  for (const auto& revolution : ring_) total += revolution.size();
  drawn_.clear();
  drawn_.reserve(total);
  const int n = static_cast<int>(ring_.size());
  for (int i = 0; i < n; ++i) {
    const int age = n - 1 - i;
    const int share = length_ - age;  // of length_
    for (ColouredPoint c : ring_[i]) {
      if (age > 0) {
        c.colour.r = static_cast<std::uint8_t>(c.colour.r * share / length_);
        c.colour.g = static_cast<std::uint8_t>(c.colour.g * share / length_);
        c.colour.b = static_cast<std::uint8_t>(c.colour.b * share / length_);
      }
      drawn_.push_back(c);
    }
  }
}

void Trails::clear() {
  ring_.clear();
  drawn_.clear();
}

}  // namespace z540k
