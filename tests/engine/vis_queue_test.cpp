#include "engine/vis_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "output/output_system.h"

namespace kuv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The fake output's clock: what it reports as heard, and how often it was asked.
std::atomic<int32_t> gHeard{0};
std::atomic<int32_t> gPositionCalls{0};

int32_t fakeGetPosition() {
  gPositionCalls.fetch_add(1, std::memory_order_relaxed);
  return gHeard.load(std::memory_order_relaxed);
}

// Every byte of the payload tells which record it came from, so a torn or
// misplaced copy shows.
VisFrame makeFrame(uint32_t position) {
  VisFrame f;
  std::memset(&f, 0, sizeof f);
  f.position = position;
  std::memset(f.spectrumLeft, static_cast<int>(position & 0xFF), sizeof f.spectrumLeft);
  std::memset(f.spectrumRight, static_cast<int>((position + 1) & 0xFF), sizeof f.spectrumRight);
  std::memset(f.waveformLeft, static_cast<int>((position + 2) & 0xFF), sizeof f.waveformLeft);
  std::memset(f.waveformRight, static_cast<int>((position + 3) & 0xFF), sizeof f.waveformRight);
  return f;
}

bool payloadMatchesPosition(const VisFrame& f) {
  const VisFrame want = makeFrame(f.position);
  return std::memcmp(reinterpret_cast<const char*>(&f) + 4, reinterpret_cast<const char*>(&want) + 4, sizeof f - 4) ==
         0;
}

uint32_t headPosition() {
  VisFrame f;
  if (!peekVisFrame(&f)) return 0xFFFFFFFFu;
  return f.position;
}

// Polls until done() holds or the generous deadline passes.
template <typename Pred>
bool waitFor(Pred done, seconds limit = seconds(20)) {
  const Clock::time_point end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

// Lets a test thread go and joins it on every way out of a test, so a failed
// assertion cannot leave a joinable thread behind.
class Joined {
 public:
  Joined(std::thread& t, std::function<void()> release) : t_(t), release_(std::move(release)) {}
  ~Joined() {
    if (!t_.joinable()) return;
    release_();
    t_.join();
  }
  Joined(const Joined&) = delete;
  Joined& operator=(const Joined&) = delete;

 private:
  std::thread& t_;
  std::function<void()> release_;
};

class VisQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stopVisQueue();
    saved_ = outputSystem;
    OutputSystem fake{};
    fake.getPosition = fakeGetPosition;
    outputSystem = fake;
    gHeard.store(0);
    gPositionCalls.store(0);
    setVisStallWindowMs(200);
    setVisByteCounter(0);
  }
  void TearDown() override {
    stopVisQueue();
    outputSystem = saved_;
    setVisStallWindowMs(200);
    setVisByteCounter(0);
  }
  OutputSystem saved_{};
};

// --- The release rule -------------------------------------------------------

TEST_F(VisQueueTest, HeadStaysWhileItsSuccessorIsStillAhead) {
  pushVisFrame(makeFrame(100));
  pushVisFrame(makeFrame(200));
  releaseVisFrames(150);
  EXPECT_EQ(visQueueCount(), 2);
  EXPECT_EQ(headPosition(), 100u);
  // Reaching the successor exactly makes it the one on show.
  releaseVisFrames(200);
  EXPECT_EQ(visQueueCount(), 1);
  EXPECT_EQ(headPosition(), 200u);
  releaseVisFrames(200);
  EXPECT_EQ(headPosition(), 200u);
  // Past the last record with nothing after it: gone.
  releaseVisFrames(201);
  EXPECT_EQ(visQueueCount(), 0);
}

TEST_F(VisQueueTest, ARecordAtOrAheadOfThePositionIsKept) {
  pushVisFrame(makeFrame(100));
  releaseVisFrames(0);
  releaseVisFrames(99);
  releaseVisFrames(100);
  EXPECT_EQ(visQueueCount(), 1);
  EXPECT_EQ(headPosition(), 100u);
}

TEST_F(VisQueueTest, ReleasesEverythingPassedUpToTheCurrentSnapshot) {
  for (uint32_t p : {10u, 20u, 30u, 40u}) pushVisFrame(makeFrame(p));
  releaseVisFrames(35);
  EXPECT_EQ(visQueueCount(), 2);
  EXPECT_EQ(headPosition(), 30u);
  // A successor equal to the position is no longer ahead of it.
  pushVisFrame(makeFrame(50));
  releaseVisFrames(40);
  EXPECT_EQ(visQueueCount(), 2);
  EXPECT_EQ(headPosition(), 40u);
  releaseVisFrames(1000000);
  EXPECT_EQ(visQueueCount(), 0);
}

TEST_F(VisQueueTest, ALoneRecordBehindIsFreedAndPeekLeavesTheDestinationAlone) {
  pushVisFrame(makeFrame(50));
  releaseVisFrames(51);
  EXPECT_EQ(visQueueCount(), 0);
  VisFrame out;
  std::memset(&out, 0xAB, sizeof out);
  VisFrame before;
  std::memcpy(&before, &out, sizeof out);
  EXPECT_FALSE(peekVisFrame(&out));
  EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
}

// --- Copies and housekeeping --------------------------------------------------

TEST_F(VisQueueTest, PeekCopiesTheWholeRecordAndKeepsIt) {
  VisFrame in;
  auto* bytes = reinterpret_cast<uint8_t*>(&in);
  for (size_t i = 0; i < sizeof in; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  in.link = 0;
  in.position = 1234;
  pushVisFrame(in);
  pushVisFrame(makeFrame(5000));
  VisFrame out;
  std::memset(&out, 0, sizeof out);
  ASSERT_TRUE(peekVisFrame(&out));
  EXPECT_EQ(std::memcmp(&out, &in, sizeof out), 0);
  EXPECT_EQ(visQueueCount(), 2);
  // The queue's own link never leaks the caller's value back.
  in.link = 0xDEADBEEF;
  clearVisQueue();
  pushVisFrame(in);
  ASSERT_TRUE(peekVisFrame(&out));
  EXPECT_EQ(out.link, 0u);
  EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(&out) + 4, bytes + 4, sizeof out - 4), 0);
}

TEST_F(VisQueueTest, ClearEmptiesAndTheQueueWorksAfterwards) {
  for (uint32_t p = 0; p < 20; ++p) pushVisFrame(makeFrame(p));
  EXPECT_EQ(visQueueCount(), 20);
  clearVisQueue();
  EXPECT_EQ(visQueueCount(), 0);
  VisFrame out;
  EXPECT_FALSE(peekVisFrame(&out));
  pushVisFrame(makeFrame(77));
  EXPECT_EQ(visQueueCount(), 1);
  EXPECT_EQ(headPosition(), 77u);
}

TEST_F(VisQueueTest, StartAndStopAreIdempotentAndStopFreesTheRecords) {
  stopVisQueue();
  EXPECT_TRUE(startVisQueue());
  EXPECT_TRUE(startVisQueue());
  pushVisFrame(makeFrame(1000));
  stopVisQueue();
  EXPECT_EQ(visQueueCount(), 0);
  stopVisQueue();
  EXPECT_TRUE(startVisQueue());
  stopVisQueue();
}

// --- Release by the readers, no timer ----------------------------------------

TEST_F(VisQueueTest, PeekShowsTheRecordHeardNowAndFreesThePassedOnes) {
  for (uint32_t p = 10; p <= 100; p += 10) pushVisFrame(makeFrame(p));
  ASSERT_TRUE(startVisQueue());
  // Heard position, then the record on show and how many are left.
  const struct {
    int32_t heard;
    uint32_t shown;
    int32_t left;
  } steps[] = {
      {0, 10, 10}, {9, 10, 10}, {10, 10, 10}, {19, 10, 10},  {20, 20, 9},
      {55, 50, 6}, {55, 50, 6}, {99, 90, 2},  {100, 100, 1}, {100, 100, 1},
  };
  for (const auto& step : steps) {
    gHeard.store(step.heard);
    VisFrame f;
    ASSERT_TRUE(peekVisFrame(&f)) << "heard " << step.heard;
    EXPECT_EQ(f.position, step.shown) << "heard " << step.heard;
    EXPECT_TRUE(payloadMatchesPosition(f));
    EXPECT_EQ(visQueueCount(), step.left) << "heard " << step.heard;
  }
  // Past the last record: nothing left, and the caller keeps its old copy.
  gHeard.store(1000);
  VisFrame kept = makeFrame(4242);
  EXPECT_FALSE(peekVisFrame(&kept));
  EXPECT_EQ(kept.position, 4242u);
  EXPECT_EQ(visQueueCount(), 0);
  // An empty queue does not ask the output.
  const int32_t calls = gPositionCalls.load();
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(peekVisFrame(&kept));
  EXPECT_EQ(gPositionCalls.load(), calls);
}

TEST_F(VisQueueTest, AStoppedQueueNeitherAsksTheOutputNorReleasesOnPeek) {
  gHeard.store(30);
  for (uint32_t p = 10; p <= 30; p += 10) pushVisFrame(makeFrame(p));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(headPosition(), 10u);
  EXPECT_EQ(visQueueCount(), 3);
  EXPECT_EQ(gPositionCalls.load(), 0);
  ASSERT_TRUE(startVisQueue());
  EXPECT_EQ(headPosition(), 30u);
  EXPECT_EQ(visQueueCount(), 1);
}

TEST_F(VisQueueTest, APushOverTheLimitReleasesWhatWasHeardFirst) {
  // Nobody peeks: the records from 1 to limit + 1 fill the queue, then the
  // output plays on to `heard` and one more record comes.
  const struct {
    int32_t heard;
    int32_t left;   // after the push
    uint32_t head;  // the record on show then
  } cases[] = {
      {2, kVisQueueLimit + 1, 2},  // one passed: released, room for the new one
      {300, kVisQueueLimit + 2 - 299, 300},
      {kVisQueueLimit + 1, 2, kVisQueueLimit + 1},
      {100000, 1, 100000},  // everything heard: only the new record stays
  };
  for (const auto& c : cases) {
    clearVisQueue();
    ASSERT_TRUE(startVisQueue());
    gHeard.store(0);
    for (uint32_t p = 1; p <= kVisQueueLimit + 1; ++p) pushVisFrame(makeFrame(p));
    ASSERT_EQ(visQueueCount(), kVisQueueLimit + 1);
    gHeard.store(c.heard);
    const uint32_t next = c.heard >= 100000 ? 100000u : kVisQueueLimit + 2;
    pushVisFrame(makeFrame(next));
    EXPECT_EQ(visQueueCount(), c.left) << "heard " << c.heard;
    EXPECT_EQ(headPosition(), c.head) << "heard " << c.heard;
  }
}

TEST_F(VisQueueTest, AMissingGetPositionCountsAsZeroAndIsNeverCalled) {
  outputSystem.getPosition = nullptr;
  setVisStallWindowMs(20);
  for (uint32_t p = 1; p <= 3; ++p) pushVisFrame(makeFrame(p));
  ASSERT_TRUE(startVisQueue());
  EXPECT_EQ(headPosition(), 1u);
  EXPECT_EQ(visQueueCount(), 3);
  // Over the limit a missing clock is a still clock: the push drops.
  for (uint32_t p = 4; p <= 600; ++p) pushVisFrame(makeFrame(p));
  EXPECT_EQ(visQueueCount(), kVisQueueLimit + 1);
  EXPECT_EQ(headPosition(), 600u - kVisQueueLimit);
}

// --- Pushing over the limit -----------------------------------------------------

TEST_F(VisQueueTest, AStoppedQueuePushedOverTheLimitDropsTheOldest) {
  const Clock::time_point start = Clock::now();
  for (uint32_t p = 0; p < 2000; ++p) pushVisFrame(makeFrame(p));
  EXPECT_LT(Clock::now() - start, seconds(30));
  EXPECT_EQ(visQueueCount(), kVisQueueLimit + 1);
  EXPECT_EQ(headPosition(), 2000u - (kVisQueueLimit + 1));
  EXPECT_EQ(gPositionCalls.load(), 0);
}

std::atomic<bool> gPusherDone{false};
std::atomic<int32_t> gPushed{0};

TEST_F(VisQueueTest, AStillOutputCostsOneWindowNotOnePerRecord) {
  // Heard position stays 0, as with the wave file; the queue is started.
  ASSERT_TRUE(startVisQueue());
  gPusherDone.store(false);
  std::thread pusher([] {
    for (uint32_t p = 0; p < 2000; ++p) pushVisFrame(makeFrame(p));
    gPusherDone.store(true);
  });
  Joined joined(pusher, [] { stopVisQueue(); });
  ASSERT_TRUE(waitFor([] { return gPusherDone.load(); }, seconds(30))) << "1500 drops took more than 30 s";
  pusher.join();
  EXPECT_EQ(visQueueCount(), kVisQueueLimit + 1);
  EXPECT_EQ(headPosition(), 2000u - (kVisQueueLimit + 1));
}

TEST_F(VisQueueTest, AMovingClockMakesThePushWaitForTheOutput) {
  // A wide window: only a real stall may drop here, never a slow machine.
  setVisStallWindowMs(5000);
  ASSERT_TRUE(startVisQueue());
  constexpr uint32_t kRecords = 700;
  gPushed.store(0);
  gPusherDone.store(false);
  std::thread pusher([] {
    for (uint32_t p = 1; p <= kRecords; ++p) {
      pushVisFrame(makeFrame(p));
      gPushed.fetch_add(1);
    }
    gPusherDone.store(true);
  });
  Joined joined(pusher, [] { stopVisQueue(); });
  // The queue fills and the pusher holds back.
  ASSERT_TRUE(waitFor([] { return gPushed.load() >= kVisQueueLimit + 1; }));
  std::this_thread::sleep_for(milliseconds(30));
  ASSERT_EQ(gPushed.load(), kVisQueueLimit + 1) << "pushed past the limit without waiting";
  EXPECT_EQ(visQueueCount(), kVisQueueLimit + 1);
  // Play one record at a time: each head seen moves the clock just past it.
  std::vector<uint32_t> seen;
  const Clock::time_point end = Clock::now() + seconds(60);
  while (Clock::now() < end) {
    VisFrame f;
    if (peekVisFrame(&f) && (seen.empty() || f.position != seen.back())) {
      EXPECT_TRUE(payloadMatchesPosition(f));
      seen.push_back(f.position);
      gHeard.store(static_cast<int32_t>(f.position) + 1);
      if (f.position == kRecords) break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  stopVisQueue();
  pusher.join();
  ASSERT_EQ(seen.size(), kRecords);
  for (uint32_t i = 0; i < kRecords; ++i) ASSERT_EQ(seen[i], i + 1) << "record dropped or out of order";
}

std::atomic<bool> gAdvancing{false};

TEST_F(VisQueueTest, StopWhileAPusherWaitsLetsItGo) {
  setVisStallWindowMs(5000);
  ASSERT_TRUE(startVisQueue());
  // The clock keeps moving but never reaches the records, so only stop can
  // end the pusher's wait.
  gAdvancing.store(true);
  std::thread advancer([] {
    while (gAdvancing.load()) {
      gHeard.fetch_add(1);
      std::this_thread::sleep_for(milliseconds(1));
    }
  });
  Joined advancerJoined(advancer, [] { gAdvancing.store(false); });
  gPushed.store(0);
  gPusherDone.store(false);
  std::thread pusher([] {
    for (int32_t i = 0; i <= kVisQueueLimit + 1; ++i) {
      pushVisFrame(makeFrame(1000000000u + static_cast<uint32_t>(i)));
      gPushed.fetch_add(1);
    }
    gPusherDone.store(true);
  });
  // A pusher that stop did not free would hang the join; let it go loose
  // (it touches only globals) and let the failure show.
  Joined pusherJoined(pusher, [&pusher] { pusher.detach(); });
  ASSERT_TRUE(waitFor([] { return gPushed.load() >= kVisQueueLimit + 1; }));
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_FALSE(gPusherDone.load());
  stopVisQueue();
  ASSERT_TRUE(waitFor([] { return gPusherDone.load(); }, seconds(10))) << "stop left the pusher waiting";
  pusher.join();
  EXPECT_LE(visQueueCount(), 1);
}

std::atomic<bool> gStressDone{false};
std::atomic<bool> gStressBad{false};

TEST_F(VisQueueTest, PushPeekAndReleaseRunTogether) {
  ASSERT_TRUE(startVisQueue());
  gStressDone.store(false);
  gStressBad.store(false);
  // Several records to a millisecond, so the releaser sometimes lags and
  // the pusher meets the limit.
  std::thread pusher([] {
    for (uint32_t i = 8; i < 8 * 5000; ++i) pushVisFrame(makeFrame(i / 8));
    gStressDone.store(true);
  });
  Joined pusherJoined(pusher, [] { stopVisQueue(); });
  std::thread peeker([] {
    uint32_t last = 0;
    while (!gStressDone.load()) {
      VisFrame f;
      if (peekVisFrame(&f)) {
        if (f.position < last || !payloadMatchesPosition(f)) gStressBad.store(true);
        last = f.position;
      }
      if (visQueueCount() > kVisQueueLimit + 1) gStressBad.store(true);
      std::this_thread::yield();
    }
  });
  Joined peekerJoined(peeker, [] { gStressDone.store(true); });
  std::thread releaser([] {
    uint32_t p = 0;
    while (!gStressDone.load()) {
      ++p;
      gHeard.store(static_cast<int32_t>(p & 0x3FFFFFFF));
      releaseVisFrames(p);
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });
  Joined releaserJoined(releaser, [] { gStressDone.store(true); });
  ASSERT_TRUE(waitFor([] { return gStressDone.load(); }, seconds(60)));
  pusher.join();
  peeker.join();
  releaser.join();
  EXPECT_FALSE(gStressBad.load());
  releaseVisFrames(0xFFFFFFFFu);
  EXPECT_EQ(visQueueCount(), 0);
  VisFrame out;
  EXPECT_FALSE(peekVisFrame(&out));
}

// --- The byte clock ---------------------------------------------------------------

TEST_F(VisQueueTest, ARecordIsDueEveryEighthOfTheWriteThreshold) {
  // 16384 / 8 = 2048 bytes: 16 blocks of 128.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 15; ++i) EXPECT_FALSE(visCountBlock(128, 16384, 0)) << round << " " << i;
    EXPECT_TRUE(visCountBlock(128, 16384, 0)) << round;
  }
  EXPECT_EQ(visByteCounter(), 32u * 128u);
  // A block larger than the eighth is due at once.
  EXPECT_TRUE(visCountBlock(4608, 16384, 0));
  EXPECT_EQ(visByteCounter(), 32u * 128u + 4608u);
}

TEST_F(VisQueueTest, AFullStagingBufferMakesARecordDue) {
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(visCountBlock(128, 16384, 0));
  EXPECT_FALSE(visCountBlock(128, 16384, 16383));
  EXPECT_TRUE(visCountBlock(128, 16384, 16384));
  // That restarted the since-last count.
  for (int i = 0; i < 15; ++i) EXPECT_FALSE(visCountBlock(128, 16384, 0)) << i;
  EXPECT_TRUE(visCountBlock(128, 16384, 0));
}

TEST_F(VisQueueTest, SettingTheByteCounterRestartsTheSinceLastCount) {
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(visCountBlock(128, 16384, 0));
  setVisByteCounter(1000);
  EXPECT_EQ(visByteCounter(), 1000u);
  for (int i = 0; i < 15; ++i) EXPECT_FALSE(visCountBlock(128, 16384, 0)) << i;
  EXPECT_TRUE(visCountBlock(128, 16384, 0));
  EXPECT_EQ(visByteCounter(), 1000u + 16u * 128u);
}

TEST_F(VisQueueTest, PositionFollowsTheByteCounter) {
  EXPECT_EQ(visPositionMs(44100, 2, 16), 0u);
  setVisByteCounter(176400);  // divisor 176400 / 1000 = 176
  EXPECT_EQ(visPositionMs(44100, 2, 16), 1002u);
  setVisByteCounter(22050);  // mono 8-bit: divisor 22
  EXPECT_EQ(visPositionMs(22050, 1, 8), 1002u);
  setVisByteCounter(48000 * 4);
  EXPECT_EQ(visPositionMs(48000, 2, 16), 1000u);
  setVisByteCounter(12345);
  EXPECT_EQ(visPositionMs(1000, 1, 8), 12345u);
  // Past 4 GiB of output (6.8 hours of 44.1 kHz stereo) the clock goes on.
  setVisByteCounter(5ull << 32);
  EXPECT_EQ(visByteCounter(), 5ull << 32);
  EXPECT_EQ(visPositionMs(44100, 2, 16), static_cast<uint32_t>((5ull << 32) / 176));
  // Zero divisors give 0.
  EXPECT_EQ(visPositionMs(999, 1, 8), 0u);
  EXPECT_EQ(visPositionMs(0, 2, 16), 0u);
  EXPECT_EQ(visPositionMs(44100, 0, 16), 0u);
  EXPECT_EQ(visPositionMs(44100, 2, 4), 0u);
}

TEST_F(VisQueueTest, RecordsPastFourGibibytesKeepTheirOrder) {
  // A seek to 6.8 hours, just short of 2^32 output bytes; the records made
  // while the count crosses it must follow each other and leave in order.
  setVisByteCounter((1ull << 32) - 20 * 2048);
  std::vector<uint32_t> made;
  while (made.size() < 40) {
    if (visCountBlock(128, 16384, 0)) {
      made.push_back(visPositionMs(44100, 2, 16));
      pushVisFrame(makeFrame(made.back()));
    }
  }
  EXPECT_GT(visByteCounter(), 1ull << 32);
  for (size_t i = 1; i < made.size(); ++i) ASSERT_GT(made[i], made[i - 1]) << i;
  for (size_t i = 0; i < made.size(); ++i) {
    releaseVisFrames(made[i]);
    ASSERT_EQ(headPosition(), made[i]) << i;
    ASSERT_EQ(visQueueCount(), static_cast<int32_t>(made.size() - i)) << i;
  }
}

}  // namespace
}  // namespace kuv
