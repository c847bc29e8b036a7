// The position and volume dial: the ring's wedges, the values a click sets,
// the lit counts, the volume-mode timer and the redraw worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <set>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "ui/dial.h"

namespace kuv {
namespace {

constexpr double kPi = std::numbers::pi;

// Records what the dial does outside itself. While `gateClosed`, a redraw
// holds the worker inside the hook, so a test knows the queue is empty.
struct FakeWindow {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::pair<int32_t, int32_t>> redraws;  // (lit count, mode)
  std::vector<uint32_t> seeks;
  int timerStarts = 0, timerStops = 0;
  bool gateClosed = false;

  DialHooks hooks() {
    return DialHooks{[this](uint32_t f) { seeks.push_back(f); },
                     [this](int32_t n, int32_t mode) {
                       std::unique_lock<std::mutex> guard(lock);
                       redraws.emplace_back(n, mode);
                       changed.notify_all();
                       changed.wait(guard, [this] { return !gateClosed; });
                     },
                     [this] { ++timerStarts; }, [this] { ++timerStops; }};
  }
  bool waitForRedraws(size_t n) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(20), [&] { return redraws.size() >= n; });
  }
  void setGate(bool closed) {
    std::lock_guard<std::mutex> guard(lock);
    gateClosed = closed;
    changed.notify_all();
  }
  size_t redrawCount() {
    std::lock_guard<std::mutex> guard(lock);
    return redraws.size();
  }
};

class DialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedVolume_ = settings.EqVolume;
    ASSERT_TRUE(startDial(window_.hooks(), 214, 57, 16, 11));
  }
  void TearDown() override {
    window_.setGate(false);
    stopDial();
    settings.EqVolume = savedVolume_;
  }
  // Blocks the worker in a redraw, so that afterwards it has nothing queued.
  void holdWorker() {
    window_.setGate(true);
    const size_t before = window_.redrawCount();
    dialRedraw();
    ASSERT_TRUE(window_.waitForRedraws(before + 1));
  }
  // Lets it go and ends it: every redraw posted so far has been delivered.
  size_t releaseAndStop() {
    window_.setGate(false);
    stopDial();
    return window_.redrawCount();
  }
  FakeWindow window_;
  int32_t savedVolume_ = 0;
};

int32_t slotDistance(int32_t a, int32_t b) {
  const int32_t d = std::abs(a - b) % kDialSlots;
  return std::min(d, kDialSlots - d);
}

TEST_F(DialTest, ClockPointsOnTheRing) {
  EXPECT_EQ(dialSlotAt(213, 35), 359);  // just left of the top
  // Slots 0 and 1 truncate to the line x = 214 and own no pixel, so just
  // right of the top is the first wedge with area.
  EXPECT_EQ(dialSlotAt(214, 35), 2);
  EXPECT_EQ(dialSlotAt(215, 35), 4);
  EXPECT_EQ(dialSlotAt(236, 57), 92);   // three o'clock
  EXPECT_EQ(dialSlotAt(213, 79), 180);  // six o'clock, a pixel clockwise
  EXPECT_EQ(dialSlotAt(214, 79), 177);  // on the axis: the last wedge before it
  EXPECT_EQ(dialSlotAt(192, 56), 270);  // nine o'clock, a pixel clockwise
  EXPECT_EQ(dialSlotAt(192, 57), 267);
  for (auto [x, y] : {std::pair{214, 57}, {214, 45}, {224, 60}, {214, 29}, {214, 85}, {243, 57}, {0, 0}})
    EXPECT_EQ(dialSlotAt(x, y), -1) << x << "," << y;
  EXPECT_EQ(dialSlotAt(-100000, 2000000), -1);
}

TEST_F(DialTest, WedgeCornersAndPixelOwnership) {
  // Slot s is the wedge of k = 359 - s, corners truncated from the angles
  // of boundaries k and k + 1. (Boundary k + 1 taken as the angle of k plus
  // a degree differs in the last bit at three o'clock and truncates to 56.)
  for (int32_t s = 0; s < kDialSlots; ++s) {
    const double a = -kPi + (359 - s) * (kPi / 180.0), b = -kPi + (360 - s) * (kPi / 180.0);
    const DialWedge& w = dialWedge(s);
    const double rad[4] = {16, 27, 27, 16}, ang[4] = {a, a, b, b};
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(w.x[i], static_cast<int32_t>(214 + rad[i] * std::sin(ang[i]))) << s << " " << i;
      ASSERT_EQ(w.y[i], static_cast<int32_t>(57 + rad[i] * std::cos(ang[i]))) << s << " " << i;
    }
  }
  // Wedges share their edges: no pixel belongs to two, every pixel well
  // inside the band belongs to one, and nothing in the hole or beyond.
  for (int32_t y = 20; y < 95; ++y) {
    for (int32_t x = 180; x < 250; ++x) {
      int owners = 0, owner = -1;
      for (int32_t s = 0; s < kDialSlots; ++s)
        if (dialWedgeContains(dialWedge(s), x, y)) ++owners, owner = s;
      const double d = std::hypot(x - 214.0, y - 57.0);
      ASSERT_LE(owners, 1) << x << "," << y;
      if (d >= 17.5 && d <= 25.5) {
        ASSERT_EQ(owners, 1) << x << "," << y;
      }
      if (d < 14.5 || d > 28.5) {  // truncation moves corners up to a diagonal pixel
        ASSERT_EQ(owners, 0) << x << "," << y;
      }
      ASSERT_EQ(dialSlotAt(x, y), owner);
    }
  }
}

TEST_F(DialTest, SlotsRunClockwiseAndReachEveryVolume) {
  std::set<int32_t> volumes;
  for (double rho = 18.0; rho <= 25.0; rho += 0.5) {
    for (int32_t tenth = 0; tenth < 3600; ++tenth) {
      // The middle of slot s lies at angle pi - (s + 0.5) degrees.
      const double deg = tenth / 10.0, theta = kPi - deg * kPi / 180.0;
      const int32_t slot = dialSlotAt(static_cast<int32_t>(214 + rho * std::sin(theta)),
                                      static_cast<int32_t>(57 + rho * std::cos(theta)));
      ASSERT_GE(slot, 0) << rho << " " << deg;
      // Truncation moves a point up to about three wedges.
      ASSERT_LE(slotDistance(slot, static_cast<int32_t>(deg)), 4) << rho << " " << deg;
      volumes.insert(dialVolumeForSlot(slot));
    }
  }
  EXPECT_EQ(volumes.size(), 64u);
  EXPECT_EQ(*volumes.begin(), 0);
  EXPECT_EQ(*volumes.rbegin(), 63);
}

TEST(DialArithmetic, SeekFramesVolumesAndLitCounts) {
  EXPECT_EQ(dialSeekFrameForSlot(0, 1000), 0u);
  EXPECT_EQ(dialSeekFrameForSlot(180, 1000), 500u);
  EXPECT_EQ(dialSeekFrameForSlot(359, 1000), 997u);
  EXPECT_EQ(dialSeekFrameForSlot(359, 0), 0u);  // a stream without a length
  EXPECT_EQ(dialSeekFrameForSlot(359, -1000), 0u);
  EXPECT_EQ(dialSeekFrameForSlot(359, 2000000000), 1994444444u);
  EXPECT_EQ(dialVolumeForSlot(90), 16);
  EXPECT_EQ(dialVolumeForSlot(180), 32);
  EXPECT_EQ(dialVolumeForSlot(270), 48);
  for (int32_t s = 1; s < kDialSlots; ++s) ASSERT_GE(dialVolumeForSlot(s), dialVolumeForSlot(s - 1));
  EXPECT_EQ(dialVolumeForSlot(0), 0);
  EXPECT_EQ(dialVolumeForSlot(359), 63);
  EXPECT_EQ(dialVolumeLitCount(63), 360);
  EXPECT_EQ(dialVolumeLitCount(0), 0);
  EXPECT_EQ(dialVolumeLitCount(200), 360);
  EXPECT_EQ(dialVolumeLitCount(-4), 0);
  EXPECT_EQ(dialPositionLitCount(500, 1000), 180);
  EXPECT_EQ(dialPositionLitCount(999, 1000), 359);
  EXPECT_EQ(dialPositionLitCount(500, 0), 0);
}

TEST_F(DialTest, PositionModeSeeksInTheTrack) {
  dialProgress(0, 1000);
  dialPress(213, 35);
  dialMove(214, 57);  // the hole: no seek
  dialMove(213, 79);
  dialRelease();
  dialProgress(0, 0);  // a URL
  dialPress(213, 35);
  EXPECT_EQ(window_.seeks, (std::vector<uint32_t>{997, 500, 0}));
  EXPECT_EQ(settings.EqVolume, savedVolume_);
}

TEST_F(DialTest, VolumeModeSetsTheVolumeAndLightsIt) {
  dialProgress(500, 1000);
  EXPECT_EQ(dialLitCount(), 180);
  dialProgress(5000, 1000);
  EXPECT_EQ(dialLitCount(), 360);  // past the end stays a full ring
  dialVolumeMode();
  EXPECT_EQ(dialMode(), kDialVolumeMode);
  dialPress(236, 57);
  EXPECT_EQ(settings.EqVolume, 16);
  dialMove(213, 79);
  EXPECT_EQ(settings.EqVolume, 32);
  dialMove(192, 56);
  EXPECT_EQ(settings.EqVolume, 48);
  EXPECT_EQ(dialLitCount(), 274);
  dialMove(213, 35);
  EXPECT_EQ(settings.EqVolume, 63);
  EXPECT_EQ(dialLitCount(), 360);
  EXPECT_TRUE(window_.seeks.empty());
  // The worker paints the volume with the mode it was drawn in.
  ASSERT_TRUE(releaseAndStop() >= 1);
  EXPECT_EQ(window_.redraws.back(), std::make_pair(360, kDialVolumeMode));
}

TEST_F(DialTest, TimerKeepsVolumeModeOnlyWhileUsed) {
  dialVolumeMode();
  dialVolumeMode();  // already there: the timer is not started again
  EXPECT_EQ(window_.timerStarts, 1);
  dialMove(236, 57);
  EXPECT_TRUE(dialTimerTick());  // used since the last tick
  EXPECT_EQ(dialMode(), kDialVolumeMode);
  EXPECT_FALSE(dialTimerTick());  // idle for a whole tick
  EXPECT_EQ(dialMode(), kDialPositionMode);
  EXPECT_EQ(window_.timerStops, 1);
  dialProgress(0, 1000);
  dialPress(213, 35);
  EXPECT_EQ(window_.seeks, (std::vector<uint32_t>{997}));
  dialVolumeMode();
  EXPECT_EQ(window_.timerStarts, 2);
  EXPECT_FALSE(dialTimerTick());  // a right click alone is not use
}

TEST_F(DialTest, ProgressRedrawsOnlyWhenTheCountChanges) {
  dialProgress(500, 1000);
  ASSERT_TRUE(window_.waitForRedraws(1));
  holdWorker();
  dialProgress(501, 1000);  // still 180
  dialProgress(500, 1000);
  EXPECT_EQ(releaseAndStop(), 2u);
  EXPECT_EQ(window_.redraws[0], std::make_pair(180, kDialPositionMode));

  ASSERT_TRUE(startDial(window_.hooks(), 214, 57, 16, 11));  // back to nothing lit
  holdWorker();
  dialProgress(0, 0);
  dialProgress(7, 0);
  dialProgress(1, 1000);  // 0.36 of a wedge: nothing lit yet
  EXPECT_EQ(releaseAndStop(), 3u);
}

TEST_F(DialTest, QueuedRedrawsArePaintedOnce) {
  holdWorker();
  for (int i = 0; i < 50; ++i) dialRedraw();
  EXPECT_EQ(releaseAndStop(), 2u);
}

TEST_F(DialTest, StartAndStop) {
  EXPECT_FALSE(startDial(window_.hooks(), 214, 57, 16, 11));  // running already
  dialRedraw();
  ASSERT_TRUE(window_.waitForRedraws(1));
  stopDial();
  stopDial();
  // Stopped: nothing is posted (nor waited for) and the hooks are gone.
  dialRedraw();
  dialProgress(900, 1000);
  dialPress(213, 35);
  EXPECT_TRUE(window_.seeks.empty());
  EXPECT_EQ(dialSlotAt(213, 35), 359);  // the ring stays for hit tests
  ASSERT_TRUE(startDial(window_.hooks(), 214, 57, 16, 11));
  dialProgress(900, 1000);
  ASSERT_TRUE(window_.waitForRedraws(2));
  EXPECT_EQ(window_.redraws.size(), 2u);
}

// Stop or the end of the list: the arc goes out and is repainted so; a
// progress report that was still on its way does not light it again.
TEST_F(DialTest, StoppedPlaybackLeavesNothingLit) {
  const struct {
    int32_t state;
    int32_t litAfter;  // of a track at 3/4 whose progress arrives after the state
  } table[] = {{0, 270}, {1, 270}, {2, 0}};
  for (const auto& row : table) {
    dialPlaybackState(0);
    dialProgress(250, 1000);
    dialPlaybackState(row.state);
    dialProgress(750, 1000);
    EXPECT_EQ(dialLitCount(), row.litAfter) << row.state;
  }
  dialPlaybackState(0);  // the next track lights from its own progress
  dialProgress(500, 1000);
  EXPECT_EQ(dialLitCount(), 180);
  dialPlaybackState(2);
  EXPECT_EQ(dialLitCount(), 0);
  dialPress(213, 35);  // a stopped dial has no track to seek in
  EXPECT_EQ(window_.seeks, (std::vector<uint32_t>{0}));
  releaseAndStop();
  EXPECT_EQ(window_.redraws.back(), std::make_pair(0, kDialPositionMode));
}

// Each wheel notch moves the volume by one within 0..63 and shows it in
// volume mode, which the timer ends as after a right click.
TEST_F(DialTest, WheelTurnsTheVolumeInVolumeMode) {
  const struct {
    int32_t from, eighths, to;
  } table[] = {{20, 120, 21}, {20, -240, 18}, {62, 360, 63}, {1, -600, 0}, {0, 60, 0}, {63, -2000000000, 0}};
  for (const auto& row : table) {
    // The worker reads the volume as it paints: written as the window does.
    setSharedSetting(settings.EqVolume, row.from);
    EXPECT_EQ(dialWheelAngle(row.eighths), row.to) << row.from << " " << row.eighths;
    EXPECT_EQ(sharedSetting(settings.EqVolume), row.to);
  }
  EXPECT_EQ(dialMode(), kDialVolumeMode);
  EXPECT_EQ(window_.timerStarts, 1);
  setSharedSetting(settings.EqVolume, 30);
  dialTimerTick();
  dialWheelAngle(40);  // a touchpad: a third of a notch at a time
  dialWheelAngle(40);
  EXPECT_EQ(sharedSetting(settings.EqVolume), 30);
  EXPECT_EQ(dialWheelAngle(40), 31);
  EXPECT_TRUE(dialTimerTick());  // the wheel counts as use
  EXPECT_FALSE(dialTimerTick());
  EXPECT_EQ(dialMode(), kDialPositionMode);
  EXPECT_EQ(dialWheel(-5), 26);
  EXPECT_EQ(dialLitCount(), dialVolumeLitCount(26));
  EXPECT_TRUE(window_.seeks.empty());
}

}  // namespace
}  // namespace kuv
