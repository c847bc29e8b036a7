#include "ui/dial.h"

#include <pthread.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <system_error>
#include <thread>

#include "config/settings.h"
#include "platform/message_queue.h"

namespace kuv {
namespace {

constexpr int32_t kMaxEqVolume = 63;

struct DialRing {
  std::array<DialWedge, kDialSlots> wedges{};
  // Bounding boxes, so a hit test skips most wedges with four compares.
  std::array<int32_t, kDialSlots> left{}, top{}, right{}, bottom{};
  bool built = false;
};

// Written by the UI thread, read by the worker: atomics, relaxed, since
// each field stands alone and the queue orders the redraw after the write.
struct DialState {
  std::atomic<int32_t> mode{kDialPositionMode};
  std::atomic<int32_t> activity{0};
  std::atomic<int32_t> positionLit{0};
  std::atomic<int32_t> framesPlayed{0};
  std::atomic<int32_t> totalFrames{0};
  std::atomic<bool> stopped{false};
  int32_t wheelRest = 0;  // UI thread only: eighths short of a notch
};

struct DialWorker {
  DialHooks hooks;
  platform::MessageQueue queue;
  std::thread thread;
  std::atomic<bool> running{false};
};

DialRing ring;
DialState state;
DialWorker worker;
const DialWedge kNoWedge{};

int32_t eqVolume() { return sharedSetting(settings.EqVolume); }

void setEqVolume(int32_t v) { setSharedSetting(settings.EqVolume, v); }

int32_t litCountOf(int32_t mode) {
  const int32_t n =
      mode == kDialVolumeMode ? dialVolumeLitCount(eqVolume()) : state.positionLit.load(std::memory_order_relaxed);
  return std::clamp(n, 0, kDialSlots);
}

// Before startDial the queue was never opened and a post would wait for it
// forever, so nothing is posted while no worker runs.
void postRedraw() {
  if (!worker.running.load(std::memory_order_relaxed)) return;
  platform::postRetry(worker.queue, DIAL_REDRAW);
}

void paint() {
  const int32_t mode = state.mode.load(std::memory_order_relaxed);
  const int32_t n = litCountOf(mode);
  if (worker.hooks.redraw) worker.hooks.redraw(n, mode);
}

// Redraws queued while the last one was painted say the same thing: drain
// them and paint once. Redraws queued before WM_QUIT are still delivered.
void dialWorkerLoop() {
  pthread_setname_np(pthread_self(), "kuv-dial");
  platform::ThreadMessage msg;
  while (worker.queue.get(&msg)) {
    if (msg.message != DIAL_REDRAW) continue;
    bool quit = false;
    while (!quit && worker.queue.peek(&msg)) quit = msg.message == platform::WM_QUIT;
    paint();
    if (quit) break;
  }
}

void buildRing(int32_t cx, int32_t cy, int32_t r, int32_t ringWidth) {
  const double step = std::numbers::pi / 180.0;
  const double inner = r;
  const double outer = r + ringWidth;
  // Boundary k lies at -pi + k degrees; neighbouring wedges share the
  // truncated corners of their common boundary, so the ring has no gaps.
  std::array<int32_t, kDialSlots + 1> ix{}, iy{}, ox{}, oy{};
  for (int32_t k = 0; k <= kDialSlots; ++k) {
    const double theta = -std::numbers::pi + k * step;
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    ix[k] = static_cast<int32_t>(cx + inner * s);
    iy[k] = static_cast<int32_t>(cy + inner * c);
    ox[k] = static_cast<int32_t>(cx + outer * s);
    oy[k] = static_cast<int32_t>(cy + outer * c);
  }
  // Increasing angle runs counter-clockwise from the top, hence slot 359 - k.
  for (int32_t k = 0; k < kDialSlots; ++k) {
    const int32_t slot = kDialSlots - 1 - k;
    DialWedge& w = ring.wedges[slot];
    w = DialWedge{{ix[k], ox[k], ox[k + 1], ix[k + 1]}, {iy[k], oy[k], oy[k + 1], iy[k + 1]}};
    ring.left[slot] = *std::min_element(w.x, w.x + 4);
    ring.right[slot] = *std::max_element(w.x, w.x + 4);
    ring.top[slot] = *std::min_element(w.y, w.y + 4);
    ring.bottom[slot] = *std::max_element(w.y, w.y + 4);
  }
  ring.built = true;
}

}  // namespace

// Even-odd crossing count on the integer point (x, y), in exact integer
// arithmetic: an edge counts when it spans y half-open (one end above y,
// the other at or below) and crosses the row right of x. Points on a top or
// left boundary are inside, on a bottom or right boundary outside, so wedges
// sharing an edge never both claim a point, and a wedge truncated to no
// area claims none.
bool dialWedgeContains(const DialWedge& w, int32_t x, int32_t y) {
  bool inside = false;
  for (int i = 0, j = 3; i < 4; j = i++) {
    const int64_t xi = w.x[i], yi = w.y[i], xj = w.x[j], yj = w.y[j];
    if ((yi > y) == (yj > y)) continue;
    // x < xi + (y - yi) * (xj - xi) / (yj - yi), without the division.
    const int64_t lhs = (x - xi) * (yj - yi);
    const int64_t rhs = (y - yi) * (xj - xi);
    if (yj > yi ? lhs < rhs : lhs > rhs) inside = !inside;
  }
  return inside;
}

uint32_t dialSeekFrameForSlot(int32_t slot, int32_t totalFrames) {
  if (totalFrames < 1) return 0;
  return static_cast<uint32_t>(slot * (1.0 / 360.0) * totalFrames);
}

int32_t dialVolumeForSlot(int32_t slot) { return static_cast<int32_t>(slot * (1.0 / 360.0) * 64.0); }

int32_t dialPositionLitCount(int32_t framesPlayed, int32_t totalFrames) {
  if (totalFrames < 1) return 0;
  return static_cast<int32_t>(static_cast<double>(framesPlayed) / totalFrames * 360.0);
}

int32_t dialWheelVolume(int32_t volume, int32_t steps) {
  const int64_t v = static_cast<int64_t>(std::clamp(volume, 0, kMaxEqVolume)) + steps;
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, kMaxEqVolume));
}

int32_t dialVolumeLitCount(int32_t volume) {
  return std::clamp(static_cast<int32_t>(volume * (1.0 / kMaxEqVolume) * 360.0), 0, kDialSlots);
}

bool startDial(const DialHooks& hooks, int32_t cx, int32_t cy, int32_t r, int32_t ringWidth) {
  if (worker.running.load(std::memory_order_relaxed)) return false;
  buildRing(cx, cy, r, ringWidth);
  state.mode.store(kDialPositionMode, std::memory_order_relaxed);
  state.activity.store(0, std::memory_order_relaxed);
  state.positionLit.store(0, std::memory_order_relaxed);
  state.framesPlayed.store(0, std::memory_order_relaxed);
  state.totalFrames.store(0, std::memory_order_relaxed);
  state.stopped.store(false, std::memory_order_relaxed);
  state.wheelRest = 0;
  worker.hooks = hooks;
  // Opened here rather than by the thread, so redraws posted before it
  // reaches its loop wait in the queue instead of being refused.
  worker.queue.open();
  try {
    worker.thread = std::thread(dialWorkerLoop);
  } catch (const std::system_error&) {
    worker.queue.close();
    worker.hooks = DialHooks{};
    return false;
  }
  worker.running.store(true, std::memory_order_relaxed);
  return true;
}

void stopDial() {
  if (!worker.running.load(std::memory_order_relaxed)) return;
  worker.running.store(false, std::memory_order_relaxed);
  platform::postRetry(worker.queue, platform::WM_QUIT);
  worker.thread.join();
  worker.queue.close();
  // The window behind the hooks is going away.
  worker.hooks = DialHooks{};
}

void dialProgress(int32_t framesPlayed, int32_t totalFrames) {
  // A report still on its way when the track stopped must not light it again.
  if (state.stopped.load(std::memory_order_relaxed)) return;
  state.framesPlayed.store(framesPlayed, std::memory_order_relaxed);
  state.totalFrames.store(totalFrames, std::memory_order_relaxed);
  const int32_t n = dialPositionLitCount(framesPlayed, totalFrames);
  if (n == state.positionLit.load(std::memory_order_relaxed)) return;
  state.positionLit.store(n, std::memory_order_relaxed);
  postRedraw();
}

void dialRedraw() { postRedraw(); }

void dialPlaybackState(int32_t playbackState) {
  const bool stopped = playbackState == 2;
  state.stopped.store(stopped, std::memory_order_relaxed);
  if (!stopped) return;
  state.framesPlayed.store(0, std::memory_order_relaxed);
  state.totalFrames.store(0, std::memory_order_relaxed);
  if (state.positionLit.exchange(0, std::memory_order_relaxed) != 0) postRedraw();
}

void dialPress(int32_t x, int32_t y) { dialMove(x, y); }

void dialMove(int32_t x, int32_t y) {
  const int32_t slot = dialSlotAt(x, y);
  if (slot < 0) return;
  if (state.mode.load(std::memory_order_relaxed) == kDialVolumeMode) {
    state.activity.store(1, std::memory_order_relaxed);
    setEqVolume(dialVolumeForSlot(slot));
  } else if (worker.hooks.seekFrame) {
    worker.hooks.seekFrame(dialSeekFrameForSlot(slot, state.totalFrames.load(std::memory_order_relaxed)));
  }
  postRedraw();
}

void dialRelease() {}

void dialVolumeMode() {
  if (state.mode.load(std::memory_order_relaxed) == kDialVolumeMode) return;
  state.mode.store(kDialVolumeMode, std::memory_order_relaxed);
  // A moment for a position redraw already under way to land before the
  // volume picture replaces it.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  postRedraw();
  if (worker.hooks.startVolumeTimer) worker.hooks.startVolumeTimer();
}

int32_t dialWheel(int32_t steps) {
  dialVolumeMode();
  state.activity.store(1, std::memory_order_relaxed);
  const int32_t volume = dialWheelVolume(eqVolume(), steps);
  setEqVolume(volume);
  postRedraw();
  return volume;
}

int32_t dialWheelAngle(int32_t eighths) {
  constexpr int32_t kNotch = 120;
  // Reversing direction drops what was gathered the other way.
  if ((eighths > 0 && state.wheelRest < 0) || (eighths < 0 && state.wheelRest > 0)) state.wheelRest = 0;
  const int64_t total = static_cast<int64_t>(state.wheelRest) + eighths;
  const int64_t steps = total / kNotch;
  state.wheelRest = static_cast<int32_t>(total - steps * kNotch);
  if (steps == 0) return eqVolume();
  return dialWheel(static_cast<int32_t>(std::clamp<int64_t>(steps, -kMaxEqVolume - 1, kMaxEqVolume + 1)));
}

// Two ticks without use at the most, one at the least: the dial returns to
// position mode 2 to 4 seconds after the volume was last set.
bool dialTimerTick() {
  if (state.activity.exchange(0, std::memory_order_relaxed) != 0) return true;
  if (worker.hooks.stopVolumeTimer) worker.hooks.stopVolumeTimer();
  state.mode.store(kDialPositionMode, std::memory_order_relaxed);
  postRedraw();
  return false;
}

int32_t dialSlotAt(int32_t x, int32_t y) {
  if (!ring.built) return -1;
  for (int32_t s = 0; s < kDialSlots; ++s) {
    if (x < ring.left[s] || x > ring.right[s] || y < ring.top[s] || y > ring.bottom[s]) continue;
    if (dialWedgeContains(ring.wedges[s], x, y)) return s;
  }
  return -1;
}

int32_t dialLitCount() { return litCountOf(state.mode.load(std::memory_order_relaxed)); }

int32_t dialMode() { return state.mode.load(std::memory_order_relaxed); }

const DialWedge& dialWedge(int32_t slot) {
  if (slot < 0 || slot >= kDialSlots) return kNoWedge;
  return ring.wedges[slot];
}

}  // namespace kuv
