#include "ui/window_placement.h"

#include <algorithm>
#include <limits>

namespace kuv {

namespace {

int64_t gapBetween(int64_t start, int64_t length, int64_t otherStart, int64_t otherLength) {
  if (start + length <= otherStart) return otherStart - (start + length);
  if (otherStart + otherLength <= start) return start - (otherStart + otherLength);
  return 0;
}

int64_t overlapOf(int64_t start, int64_t length, int64_t otherStart, int64_t otherLength) {
  return std::max<int64_t>(0, std::min(start + length, otherStart + otherLength) - std::max(start, otherStart));
}

// The smallest move that puts [start, start + length) inside the other
// span; a window longer than the span keeps its start at the span's.
int32_t clampInto(int32_t start, int32_t length, int32_t otherStart, int32_t otherLength) {
  const int64_t last = static_cast<int64_t>(otherStart) + otherLength - length;
  if (start > last) start = static_cast<int32_t>(std::max<int64_t>(last, otherStart));
  if (start < otherStart) start = otherStart;
  return start;
}

}  // namespace

void placeOnScreens(int32_t& x, int32_t& y, int32_t width, int32_t height, const std::vector<ScreenArea>& screens) {
  const ScreenArea* best = nullptr;
  int64_t bestOverlap = -1;
  int64_t bestGap = std::numeric_limits<int64_t>::max();
  for (const ScreenArea& s : screens) {
    if (s.width <= 0 || s.height <= 0) continue;
    const int64_t across = overlapOf(x, width, s.x, s.width);
    const int64_t down = overlapOf(y, height, s.y, s.height);
    if (across == width && down == height) return;  // wholly on this one
    const int64_t overlap = across * down;
    const int64_t gapX = gapBetween(x, width, s.x, s.width);
    const int64_t gapY = gapBetween(y, height, s.y, s.height);
    const int64_t gap = gapX * gapX + gapY * gapY;
    if (overlap > bestOverlap || (overlap == bestOverlap && overlap == 0 && gap < bestGap)) {
      best = &s;
      bestOverlap = overlap;
      bestGap = gap;
    }
  }
  if (!best) return;
  x = clampInto(x, width, best->x, best->width);
  y = clampInto(y, height, best->y, best->height);
}

}  // namespace kuv
