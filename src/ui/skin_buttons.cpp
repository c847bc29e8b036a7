#include "ui/skin_buttons.h"

#include "ui/player_commands.h"

namespace kuv {

namespace {

// Areas a left press tests, in order; every one containing the point acts.
constexpr SkinButtonId kPressOrder[] = {kButtonClose, kButtonMinimise, kButtonAlwaysOnTop};
constexpr SkinButtonId kTransportOrder[] = {kButtonOpen,     kButtonPlay, kButtonPause,  kButtonStop,
                                            kButtonPrevious, kButtonNext, kButtonRepeat, kButtonShuffle};

void set(SkinButton& b, SkinRect r, int32_t command, bool windowButton) {
  b.parts[0] = r;
  b.partCount = 1;
  b.command = command;
  b.windowButton = windowButton;
  b.captured = b.pressed = false;
}

void press(MouseState& m, SkinButtonId id, MouseEffects& e) {
  SkinButton& b = m.buttons[id];
  b.captured = b.pressed = true;
  e.capturing = true;
  e.redraw.push_back(id);
}

// Release of one captured button: fires when still pressed.
void release(MouseState& m, SkinButtonId id, MouseEffects& e) {
  SkinButton& b = m.buttons[id];
  if (!b.captured) return;
  if (b.pressed) {
    b.pressed = false;
    if (b.command)
      e.commands.push_back(b.command);
    else
      e.minimise = true;
  }
  e.redraw.push_back(id);
  b.captured = false;
}

}  // namespace

bool SkinButton::contains(int32_t x, int32_t y) const {
  for (int32_t i = 0; i < partCount; ++i)
    if (parts[i].contains(x, y)) return true;
  return false;
}

SkinRect SkinButton::bounds() const {
  SkinRect r = parts[0];
  for (int32_t i = 1; i < partCount; ++i) {
    if (parts[i].left < r.left) r.left = parts[i].left;
    if (parts[i].top < r.top) r.top = parts[i].top;
    if (parts[i].right > r.right) r.right = parts[i].right;
    if (parts[i].bottom > r.bottom) r.bottom = parts[i].bottom;
  }
  return r;
}

bool insideDial(int32_t x, int32_t y) {
  // The ellipse inscribed in the dial's box: a circle of diameter 54.
  const double cx = (kDialBox.left + kDialBox.right) / 2.0;
  const double cy = (kDialBox.top + kDialBox.bottom) / 2.0;
  const double rx = (kDialBox.right - kDialBox.left) / 2.0;
  const double ry = (kDialBox.bottom - kDialBox.top) / 2.0;
  const double dx = (x + 0.5 - cx) / rx;
  const double dy = (y + 0.5 - cy) / ry;
  return dx * dx + dy * dy <= 1.0;
}

void initSkinButtons(MouseState& m) {
  m = MouseState{};
  SkinButton& close = m.buttons[kButtonClose];
  set(close, kCloseDown, CMD_CLOSE, true);
  close.parts[1] = kCloseAcross;
  close.partCount = 2;
  set(m.buttons[kButtonMinimise], kMinimiseBox, 0, true);
  set(m.buttons[kButtonAlwaysOnTop], kAlwaysOnTopBox, CMD_ALWAYS_ON_TOP, true);
  set(m.buttons[kButtonOpen], kOpenBox, CMD_OPEN_FILE, false);
  set(m.buttons[kButtonPlay], kPlayBox, CMD_PLAY, false);
  set(m.buttons[kButtonPause], kPauseBox, CMD_PAUSE, false);
  set(m.buttons[kButtonStop], kStopBox, CMD_STOP, false);
  set(m.buttons[kButtonPrevious], kPreviousBox, CMD_PREVIOUS, false);
  set(m.buttons[kButtonNext], kNextBox, CMD_NEXT, false);
  set(m.buttons[kButtonRepeat], kRepeatBox, CMD_REPEAT, false);
  set(m.buttons[kButtonShuffle], kShuffleBox, CMD_SHUFFLE, false);
}

MouseEffects mousePress(MouseState& m, int32_t x, int32_t y, bool easyMove) {
  MouseEffects e;
  m.anchorX = x;
  m.anchorY = y;
  if (insideDial(x, y)) {
    m.dialDrag = true;
    e.capturing = true;
    e.dialPress = true;
  }
  for (SkinButtonId id : kPressOrder)
    if (m.buttons[id].contains(x, y)) press(m, id, e);
  if (kTitleStrip.contains(x, y)) {
    m.dragging = true;
    e.capturing = true;
  }
  for (SkinButtonId id : kTransportOrder)
    if (m.buttons[id].contains(x, y)) press(m, id, e);
  if (easyMove && !e.capturing) {
    m.dragging = true;
    e.capturing = true;
  }
  return e;
}

MouseEffects mouseMove(MouseState& m, int32_t x, int32_t y, int32_t screenX, int32_t screenY) {
  MouseEffects e;
  if (m.dialDrag && insideDial(x, y)) e.dialMove = true;
  for (SkinButtonId id : {kButtonAlwaysOnTop, kButtonMinimise, kButtonClose}) {
    SkinButton& b = m.buttons[id];
    if (!b.captured) continue;
    const bool inside = b.contains(x, y);
    if (inside != b.pressed) {
      b.pressed = inside;
      e.redraw.push_back(id);
    }
  }
  if (m.dragging) {
    e.moveWindow = true;
    e.windowX = screenX - m.anchorX;
    e.windowY = screenY - m.anchorY;
  }
  for (SkinButtonId id : kTransportOrder) {
    SkinButton& b = m.buttons[id];
    if (!b.captured) continue;
    b.pressed = b.contains(x, y);
    e.redraw.push_back(id);
  }
  return e;
}

MouseEffects mouseRelease(MouseState& m) {
  MouseEffects e;
  if (m.dialDrag) {
    e.dialRelease = true;
    m.dialDrag = false;
  }
  release(m, kButtonAlwaysOnTop, e);
  release(m, kButtonMinimise, e);
  release(m, kButtonClose, e);
  m.dragging = false;
  for (SkinButtonId id : kTransportOrder) release(m, id, e);
  return e;
}

bool rightPressOnDial(int32_t x, int32_t y) { return insideDial(x, y); }

LookSource buttonLook(const SkinButton& button, SkinButtonId id, bool alwaysOnTop, int32_t repeatPlay,
                      bool shufflePlay) {
  const int32_t pressed = button.pressed ? 1 : 0;
  const SkinRect box = button.bounds();
  switch (id) {
    case kButtonAlwaysOnTop:
      return {false, 15, 30 * (alwaysOnTop ? 1 : 0) + 15 * pressed};
    case kButtonMinimise:
      return {false, 0, 15 * pressed};
    case kButtonClose:
      return {false, 30, 30 * pressed};
    case kButtonShuffle:
      return {true, box.left - 25, 14 + 26 * pressed + (shufflePlay ? kLitLooksRow : 0)};
    case kButtonRepeat:
      if (repeatPlay == 0) return {true, box.left - 25, 26 * pressed};
      // Any other value repeats the track, as the player treats it.
      return {true, repeatPlay == 1 ? box.left - 25 : kRepeatTrackLookX, kLitLooksRow + 26 * pressed};
    default:
      return {true, box.left - 25, 26 * pressed};
  }
}

}  // namespace kuv
