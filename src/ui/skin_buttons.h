// The clickable areas of the skin and what the left and right mouse buttons
// do there: presses are captured by an area, tracked, and turned into a
// command only by a release inside the area that was pressed.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/skin_layout.h"
#include "ui/skin_region.h"

namespace kuv {

enum SkinButtonId : int32_t {
  kButtonClose,
  kButtonMinimise,
  kButtonAlwaysOnTop,
  kButtonOpen,
  kButtonPlay,
  kButtonPause,
  kButtonStop,
  kButtonPrevious,
  kButtonNext,
  kButtonRepeat,
  kButtonShuffle,
  kSkinButtonCount
};

struct SkinButton {
  SkinRect parts[2];
  int32_t partCount = 1;
  int32_t command = 0;        // sent on a release inside; 0: minimise
  bool windowButton = false;  // one of the three at the left
  bool captured = false;
  bool pressed = false;
  bool contains(int32_t x, int32_t y) const;
  SkinRect bounds() const;
};

// Inside the ellipse inscribed in kDialBox.
bool insideDial(int32_t x, int32_t y);

struct MouseState {
  SkinButton buttons[kSkinButtonCount];
  int32_t anchorX = 0;  // client point of the last left press
  int32_t anchorY = 0;
  bool dragging = false;
  bool dialDrag = false;
};

// What the window must do after a mouse event.
struct MouseEffects {
  std::vector<int32_t> commands;     // in order
  std::vector<SkinButtonId> redraw;  // buttons whose look changed
  bool minimise = false;
  bool dialPress = false;  // pass the point to the dial
  bool dialMove = false;
  bool dialRelease = false;
  bool moveWindow = false;  // top-left to (windowX, windowY)
  int32_t windowX = 0;
  int32_t windowY = 0;
  bool capturing = false;  // something holds the mouse after a press
};

void initSkinButtons(MouseState& m);
MouseEffects mousePress(MouseState& m, int32_t x, int32_t y, bool easyMove);
// (x, y) client point, (screenX, screenY) the cursor on the screen.
MouseEffects mouseMove(MouseState& m, int32_t x, int32_t y, int32_t screenX, int32_t screenY);
MouseEffects mouseRelease(MouseState& m);

// A right press: true when it belongs to the dial (volume mode), false when
// the context menu opens.
bool rightPressOnDial(int32_t x, int32_t y);

// Where a button's looks are taken from in the window-button bitmap (108)
// and the transport bitmap (121), for its current state.
struct LookSource {
  bool transport;  // from the transport bitmap, else the window-button one
  int32_t x, y;    // top-left of the look in that bitmap
};
// Repeat and Shuffle have lit looks in the transport bitmap's spare rows:
// repeat-list and shuffle-on 52 rows below their plain looks, repeat-track
// beside repeat-list at x 168 (its word lit and a "1" after it).
constexpr int32_t kLitLooksRow = 52;
constexpr int32_t kRepeatTrackLookX = 168;
// repeatPlay as in the settings: 0 off, 1 the list, 2 the track.
LookSource buttonLook(const SkinButton& button, SkinButtonId id, bool alwaysOnTop, int32_t repeatPlay,
                      bool shufflePlay);

}  // namespace kuv
