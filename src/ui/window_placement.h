// Where the main window may go on the screens there are. No Qt: the window
// hands over the screens' areas.
#pragma once

#include <cstdint>
#include <vector>

namespace kuv {

struct ScreenArea {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// A saved place is kept while the whole window lies on one screen.
// Otherwise (a screen was unplugged, the resolution shrank) the window moves
// onto the screen it overlaps most, or the nearest one when it overlaps
// none, as little as it takes to lie wholly on it. With no screens known
// the place stays.
void placeOnScreens(int32_t& x, int32_t& y, int32_t width, int32_t height, const std::vector<ScreenArea>& screens);

}  // namespace kuv
