// Where the window goes when its saved place is off the screens.
#include "ui/window_placement.h"

#include <gtest/gtest.h>

#include <vector>

namespace kuv {
namespace {

TEST(WindowPlacement, WindowIsBroughtOntoTheNearestScreen) {
  const std::vector<ScreenArea> two = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
  const struct {
    const char* what;
    std::vector<ScreenArea> screens;
    int32_t x, y;
    int32_t wantX, wantY;
  } cases[] = {
      {"wholly on the first", two, 100, 100, 100, 100},
      {"wholly on the second", two, 2000, 500, 2000, 500},
      {"across the seam goes to the one it overlaps most", two, 1800, 10, 1920, 10},
      {"a corner showing", two, -250, -110, 0, 0},
      {"past the right edge of all", two, 5000, 300, 2944, 300},
      {"below a shorter screen", two, 3000, 1050, 2944, 908},
      {"off every screen, nearest is the second", two, 3300, 2000, 2944, 908},
      {"left of everything", two, -3000, 500, 0, 500},
      {"no screens known", {}, -5000, -5000, -5000, -5000},
      {"a screen smaller than the window", {{0, 0, 200, 100}}, 50, 50, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t x = c.x, y = c.y;
    placeOnScreens(x, y, 256, 116, c.screens);
    EXPECT_EQ(x, c.wantX);
    EXPECT_EQ(y, c.wantY);
  }
}

}  // namespace
}  // namespace kuv
