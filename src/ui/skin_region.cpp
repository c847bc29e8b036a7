#include "ui/skin_region.h"

#include <algorithm>

namespace kuv {

bool SkinRegion::contains(int32_t x, int32_t y) const {
  for (const SkinRect& r : rects)
    if (r.contains(x, y)) return true;
  return false;
}

SkinRegion buildRegion(const MaskImage& mask, int32_t keyX, int32_t keyY) {
  SkinRegion region;
  if (mask.width <= 0 || mask.height <= 0 ||
      mask.pixels.size() < static_cast<size_t>(mask.width) * static_cast<size_t>(mask.height) || keyX < 0 || keyY < 0 ||
      keyX >= mask.width || keyY >= mask.height) {
    return region;
  }
  const uint32_t key = mask.at(keyX, keyY);
  bool first = true;
  auto store = [&](const SkinRect& r) {
    if (!region.rects.empty() && region.rects.back().left == r.left && region.rects.back().right == r.right) {
      region.rects.back().bottom = r.bottom;
    } else {
      region.rects.push_back(r);
    }
    if (first) {
      region.bounds = r;
      first = false;
    } else {
      region.bounds.left = std::min(region.bounds.left, r.left);
      region.bounds.top = std::min(region.bounds.top, r.top);
      region.bounds.right = std::max(region.bounds.right, r.right);
      region.bounds.bottom = std::max(region.bounds.bottom, r.bottom);
    }
  };
  for (int32_t y = 0; y < mask.height; ++y) {
    int32_t start = -1;
    for (int32_t x = 0; x < mask.width; ++x) {
      const bool inside = mask.at(x, y) == key;
      if (inside && start < 0) start = x;
      if (!inside && start >= 0) {
        store({start, y, x, y + 1});
        start = -1;
      }
    }
    if (start >= 0) store({start, y, mask.width, y + 1});
  }
  return region;
}

}  // namespace kuv
