// The ring of tick marks at the right of the main window: a dial that seeks
// in the playing track, and after a right click sets the volume for a while.
// No Qt here: the window forwards mouse events and timer ticks, and paints
// the lit part when the dial's worker thread asks it to.
#pragma once

#include <cstdint>
#include <functional>

namespace kuv {

constexpr uint32_t DIAL_REDRAW = 0x6400;

constexpr int32_t kDialSlots = 360;  // one-degree wedges
constexpr int32_t kDialPositionMode = 0;
constexpr int32_t kDialVolumeMode = 1;
constexpr int32_t kDialVolumeTimerMs = 2000;

// A wedge of the ring: four integer corners, filled even-odd.
struct DialWedge {
  int32_t x[4];
  int32_t y[4];
};

// What the dial does outside itself; tests fake it. redraw runs on the
// dial's worker thread and must not wait for the UI thread, which joins the
// worker in stopDial; the others run on the thread calling into the dial.
struct DialHooks {
  std::function<void(uint32_t frame)> seekFrame;               // the engine's seek
  std::function<void(int32_t litCount, int32_t mode)> redraw;  // the window repaints the ring
  std::function<void()> startVolumeTimer;                      // a 2000 ms periodic timer calling dialTimerTick
  std::function<void()> stopVolumeTimer;
};

// Builds the ring around (cx, cy) from radius r to r + ringWidth, resets the
// dial to position mode with nothing lit and starts its worker thread.
// False when the dial is running already or the thread cannot start.
bool startDial(const DialHooks& hooks, int32_t cx, int32_t cy, int32_t r, int32_t ringWidth);
// Ends the worker (WM_QUIT, then join). The ring stays for hit tests.
void stopDial();

// The engine's progress: recomputes the position-mode lit count and asks
// for a redraw when it changed.
void dialProgress(int32_t framesPlayed, int32_t totalFrames);
// Asks for a redraw (the volume changed elsewhere, the window was exposed).
void dialRedraw();
// The window's playback state (0 Playing, 1 Paused, 2 Stopped). Stopped
// puts nothing lit in position mode and holds off progress until play
// resumes, so a finished or stopped track leaves no lit arc behind.
void dialPlaybackState(int32_t playbackState);

// Mouse on the ring, UI thread. A press acts like a move; the release does
// nothing. Volume mode sets EqVolume 0..63, position mode seeks.
void dialPress(int32_t x, int32_t y);
void dialMove(int32_t x, int32_t y);
void dialRelease();
// The right click: volume mode until the timer finds it unused.
void dialVolumeMode();
// One tick of the volume timer: true to keep it running.
bool dialTimerTick();
// The mouse wheel over the dial, in notches (positive: up, louder): volume
// mode as after a right click, EqVolume moved by one per notch within
// 0..63. Returns the new volume.
int32_t dialWheel(int32_t steps);
// The same from a raw wheel angle in eighths of a degree (120 a notch);
// the part of a notch that fine-grained wheels and touchpads send is kept
// for the next call. Returns the volume.
int32_t dialWheelAngle(int32_t eighths);

// The slot 0..359 under (x, y), counted clockwise from twelve o'clock; -1 in
// the hole, outside the ring, or before the ring is built. The pixel (x, y)
// is the integer point: it is in a wedge by the even-odd rule, counting top
// and left boundaries in and bottom and right ones out. Wedges truncated to
// no area own no pixel (slots 0 and 1 among them).
int32_t dialSlotAt(int32_t x, int32_t y);
// What the worker would light now in the current mode, 0..360.
int32_t dialLitCount();
int32_t dialMode();
// Slot 0..359; for drawing the lit part.
const DialWedge& dialWedge(int32_t slot);

// The arithmetic behind the above, for the window and the tests.
bool dialWedgeContains(const DialWedge& wedge, int32_t x, int32_t y);
uint32_t dialSeekFrameForSlot(int32_t slot, int32_t totalFrames);
int32_t dialVolumeForSlot(int32_t slot);
int32_t dialPositionLitCount(int32_t framesPlayed, int32_t totalFrames);
int32_t dialVolumeLitCount(int32_t eqVolume);
int32_t dialWheelVolume(int32_t eqVolume, int32_t steps);

}  // namespace kuv
