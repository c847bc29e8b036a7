// Where everything sits on the skin, in window pixels: the one place the
// window, its buttons, the dial, the display and the artwork generator take
// their geometry from. No Qt.
#pragma once

#include <cstdint>

#include "ui/skin_region.h"

namespace kuv {

constexpr int32_t kWindowWidth = 256, kWindowHeight = 116;
// The shaded bar (its mask and background bitmaps are this size).
constexpr int32_t kShadeWidth = 246, kShadeHeight = 17;

// The LED panel: 146 x 52 pixels whose top left is (28, 28).
constexpr SkinRect kLedPanel{28, 28, 28 + 146, 28 + 52};

// The dial: tick ring around (214, 57) from the hole's radius outwards,
// inscribed in kDialBox; the lit arc is drawn out to kDialLitRadius.
constexpr int32_t kDialCentreX = 214, kDialCentreY = 57;
constexpr int32_t kDialHoleRadius = 16, kDialRingWidth = 11, kDialLitRadius = 27;
constexpr SkinRect kDialBox{kDialCentreX - kDialLitRadius, kDialCentreY - kDialLitRadius, kDialCentreX + kDialLitRadius,
                            kDialCentreY + kDialLitRadius};

// Areas that are no buttons: the strip that drags the window.
constexpr SkinRect kTitleStrip{105, 5, 256, 20};

// The buttons' areas. Close is an L of two parts.
constexpr SkinRect kCloseDown{4, 4, 20, 29}, kCloseAcross{4, 4, 29, 20};
constexpr SkinRect kMinimiseBox{4, 33, 20, 47};
constexpr SkinRect kAlwaysOnTopBox{4, 51, 20, 66};
constexpr SkinRect kOpenBox{28, 84, 46, 105};
constexpr SkinRect kPlayBox{48, 84, 66, 105};
constexpr SkinRect kPauseBox{72, 84, 90, 105};
constexpr SkinRect kStopBox{95, 84, 113, 105};
constexpr SkinRect kPreviousBox{118, 84, 136, 105};
constexpr SkinRect kNextBox{138, 84, 156, 105};
constexpr SkinRect kRepeatBox{158, 84, 187, 96};
constexpr SkinRect kShuffleBox{158, 96, 187, 105};

// In the shaded bar Close is drawn this many rows higher, so its cross shows
// whole in the 17 rows.
constexpr int32_t kShadeCloseRaise = 4;

}  // namespace kuv
