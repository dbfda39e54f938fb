#include "RegionPicking.h"

namespace z540k {

std::vector<ScenePoint> RegionPicking::pick(const std::vector<int>& indices, const std::vector<ColouredPoint>& shown) {
  std::vector<ScenePoint> points;
  points.reserve(indices.size());
  for (int i : indices)
    if (i >= 0 && static_cast<std::size_t>(i) < shown.size()) points.push_back(shown[i].p);
  const auto box = selectionBoxOf(points);
  if (!box) return {};
  box_ = *box;
  pickedCount_ = static_cast<int>(points.size());
  picked_ = true;
  selecting_ = false;
  return points;
}

void RegionPicking::clear() {
  box_ = SelectionBox{};
  picked_ = false;
  pickedCount_ = 0;
  statistics_.reset();
}

}  // namespace z540k
