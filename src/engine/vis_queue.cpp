#include "engine/vis_queue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "output/output_system.h"

namespace kuv {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(2);

struct VisQueue {
  std::mutex lock;
  std::deque<VisFrame> frames;  // guarded by lock
  // Changed only under lock; atomic so the timer and the pusher can glance
  // at it without taking the lock.
  std::atomic<int32_t> count{0};
  // Written only by the decoder thread.
  std::atomic<uint64_t> byteCounter{0};
  std::atomic<uint64_t> sinceLast{0};
};

VisQueue queue;

// The timer's thread object is only touched under timerControl, so start
// and stop may come from any thread.
std::mutex timerControl;
std::thread timerThread;
std::atomic<bool> timerRunning{false};
std::atomic<bool> stopRequested{false};
// An empty queue has nothing to release: the timer sleeps here instead of
// waking every 2 ms, until a record arrives or it is stopped.
std::mutex idleLock;
std::condition_variable idleWake;

std::atomic<uint32_t> stallWindowMs{200};
// The position at which the output was last seen standing still for a whole
// window; pushes keep dropping at once while it stays there, so a still
// output costs one window, not one per record.
std::atomic<bool> stallKnown{false};
std::atomic<uint32_t> stallPosition{0};

uint32_t heardPosition() {
  const int32_t ms = outputPosition();
  return ms < 0 ? 0u : static_cast<uint32_t>(ms);
}

void dropOldest() {
  std::lock_guard<std::mutex> hold(queue.lock);
  if (queue.frames.empty()) return;
  queue.frames.pop_front();
  queue.count.fetch_sub(1, std::memory_order_relaxed);
}

// The head changes when the record after it falls due: no tick before
// then has anything to do. Waking at that moment (2 to 10 ms ahead) saves
// most of the 2 ms wake-ups while a track plays; a record is never more
// than 10 ms late, less than half a display round.
std::chrono::milliseconds untilNextRelease(uint32_t heard) {
  constexpr uint32_t kMinMs = 2, kMaxMs = 10;
  uint32_t due;
  {
    std::lock_guard<std::mutex> hold(queue.lock);
    if (queue.frames.empty()) return std::chrono::milliseconds(kMinMs);
    due = queue.frames.size() > 1 ? queue.frames[1].position : queue.frames[0].position;
  }
  const uint32_t ms = due > heard ? due - heard : 0;
  return std::chrono::milliseconds(ms < kMinMs ? kMinMs : ms > kMaxMs ? kMaxMs : ms);
}

void timerLoop() {
  Clock::time_point next = Clock::now() + kTick;
  while (!stopRequested.load(std::memory_order_relaxed)) {
    if (queue.count.load(std::memory_order_relaxed) == 0) {
      std::unique_lock<std::mutex> idle(idleLock);
      idleWake.wait_for(idle, std::chrono::milliseconds(100), [] {
        return queue.count.load(std::memory_order_relaxed) > 0 || stopRequested.load(std::memory_order_relaxed);
      });
      next = Clock::now() + kTick;
      continue;
    }
    std::this_thread::sleep_until(next);
    if (stopRequested.load(std::memory_order_relaxed)) break;
    // An empty queue has nothing to release; leave the output alone.
    auto wait = kTick;
    if (queue.count.load(std::memory_order_relaxed) > 0) {
      const uint32_t heard = heardPosition();
      releaseVisFrames(heard);
      wait = untilNextRelease(heard);
    }
    next += wait;
    // Behind schedule (a busy machine): skip the missed ticks instead of
    // running them back to back.
    const Clock::time_point now = Clock::now();
    if (next <= now) next = now + kTick;
  }
}

}  // namespace

bool startVisQueue() {
  std::lock_guard<std::mutex> hold(timerControl);
  if (timerThread.joinable()) return true;
  stopRequested.store(false, std::memory_order_relaxed);
  try {
    timerThread = std::thread(timerLoop);
  } catch (const std::system_error&) {
    return false;
  }
  timerRunning.store(true, std::memory_order_relaxed);
  return true;
}

void stopVisQueue() {
  {
    std::lock_guard<std::mutex> hold(timerControl);
    if (timerThread.joinable()) {
      {
        std::lock_guard<std::mutex> idle(idleLock);
        stopRequested.store(true, std::memory_order_relaxed);
      }
      idleWake.notify_all();
      timerThread.join();
    }
    // A pusher waiting for the timer sees this and drops instead.
    timerRunning.store(false, std::memory_order_relaxed);
  }
  clearVisQueue();
}

void pushVisFrame(const VisFrame& frame) {
  bool watching = false;
  uint32_t watchedPosition = 0;
  Clock::time_point watchStart{};
  while (queue.count.load(std::memory_order_relaxed) > kVisQueueLimit) {
    // Without the timer nothing would ever make room.
    if (!timerRunning.load(std::memory_order_relaxed)) {
      dropOldest();
      continue;
    }
    const uint32_t position = heardPosition();
    if (stallKnown.load(std::memory_order_relaxed)) {
      if (position == stallPosition.load(std::memory_order_relaxed)) {
        dropOldest();
        continue;
      }
      stallKnown.store(false, std::memory_order_relaxed);
    }
    const Clock::time_point now = Clock::now();
    if (!watching || position != watchedPosition) {
      watching = true;
      watchedPosition = position;
      watchStart = now;
    } else if (now - watchStart >= std::chrono::milliseconds(stallWindowMs.load(std::memory_order_relaxed))) {
      stallPosition.store(position, std::memory_order_relaxed);
      stallKnown.store(true, std::memory_order_relaxed);
      dropOldest();
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int32_t before;
  {
    std::lock_guard<std::mutex> hold(queue.lock);
    queue.frames.push_back(frame);
    queue.frames.back().link = 0;
    before = queue.count.fetch_add(1, std::memory_order_relaxed);
  }
  if (before == 0) {
    // Taking the timer's lock orders this with its look at the count.
    { std::lock_guard<std::mutex> idle(idleLock); }
    idleWake.notify_one();
  }
}

bool peekVisFrame(VisFrame* out) {
  std::lock_guard<std::mutex> hold(queue.lock);
  if (queue.frames.empty()) return false;
  *out = queue.frames.front();
  return true;
}

void clearVisQueue() {
  {
    std::lock_guard<std::mutex> hold(queue.lock);
    queue.frames.clear();
    queue.count.store(0, std::memory_order_relaxed);
  }
  // A new track or output starts its clock afresh.
  stallKnown.store(false, std::memory_order_relaxed);
}

int32_t visQueueCount() { return queue.count.load(std::memory_order_relaxed); }

void setVisByteCounter(uint64_t bytes) {
  queue.byteCounter.store(bytes, std::memory_order_relaxed);
  queue.sinceLast.store(0, std::memory_order_relaxed);
}

uint64_t visByteCounter() { return queue.byteCounter.load(std::memory_order_relaxed); }

bool visCountBlock(int32_t blockBytes, int32_t writeThreshold, int32_t stagingFill) {
  const uint64_t bytes = blockBytes > 0 ? static_cast<uint64_t>(blockBytes) : 0u;
  queue.byteCounter.fetch_add(bytes, std::memory_order_relaxed);
  const uint64_t since = queue.sinceLast.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  const int32_t eighth = writeThreshold / 8;
  const uint64_t due = eighth > 0 ? static_cast<uint64_t>(eighth) : 0u;
  if (since >= due || stagingFill >= writeThreshold) {
    queue.sinceLast.store(0, std::memory_order_relaxed);
    return true;
  }
  return false;
}

uint32_t visPositionMs(int32_t outRate, int32_t outChannels, int32_t outBits) {
  if (outRate <= 0 || outChannels <= 0 || outBits <= 0) return 0;
  const uint64_t bytesPerSecond =
      static_cast<uint64_t>(outRate) * static_cast<uint64_t>(outChannels) * (static_cast<uint64_t>(outBits) / 8u);
  const uint64_t bytesPerMs = bytesPerSecond / 1000u;
  if (bytesPerMs == 0) return 0;
  // The record's field holds 49 days; past that the clock stands still
  // rather than wrap back to the start.
  const uint64_t ms = visByteCounter() / bytesPerMs;
  return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

void releaseVisFrames(uint32_t positionMs) {
  std::lock_guard<std::mutex> hold(queue.lock);
  while (!queue.frames.empty() && queue.frames.front().position < positionMs) {
    // The newest record already passed is the one on show now.
    if (queue.frames.size() > 1 && queue.frames[1].position > positionMs) break;
    queue.frames.pop_front();
    queue.count.fetch_sub(1, std::memory_order_relaxed);
  }
}

void setVisStallWindowMs(uint32_t ms) { stallWindowMs.store(ms, std::memory_order_relaxed); }

}  // namespace kuv
