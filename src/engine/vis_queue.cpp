#include "engine/vis_queue.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "output/output_system.h"

namespace kuv {
namespace {

using Clock = std::chrono::steady_clock;

struct VisQueue {
  std::mutex lock;
  std::deque<VisFrame> frames;  // guarded by lock
  // Changed only under lock; atomic so the pusher and the display can
  // glance at it without taking the lock.
  std::atomic<int32_t> count{0};
  // Written only by the decoder thread.
  std::atomic<uint64_t> byteCounter{0};
  std::atomic<uint64_t> sinceLast{0};
};

VisQueue queue;

// There is no timer: whoever looks at the queue (the display's peek) or
// adds to it past its limit (the decoder's push) releases what the output
// has played. Started means the output's clock may be asked; stopped, a push
// over the limit drops the oldest at once.
std::atomic<bool> started{false};

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

}  // namespace

bool startVisQueue() {
  // Nothing to create any more: the queue is released by its readers.
  started.store(true, std::memory_order_relaxed);
  return true;
}

void stopVisQueue() {
  // A pusher waiting for the output sees this and drops instead.
  started.store(false, std::memory_order_relaxed);
  clearVisQueue();
}

void pushVisFrame(const VisFrame& frame) {
  bool watching = false;
  uint32_t watchedPosition = 0;
  Clock::time_point watchStart{};
  while (queue.count.load(std::memory_order_relaxed) > kVisQueueLimit) {
    // Stopped, nothing may ask the output: only dropping makes room.
    if (!started.load(std::memory_order_relaxed)) {
      dropOldest();
      continue;
    }
    const uint32_t position = heardPosition();
    // A queue nobody reads does not grow: what has been heard goes first.
    releaseVisFrames(position);
    if (queue.count.load(std::memory_order_relaxed) <= kVisQueueLimit) break;
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
    // The output is playing towards the records: wait for it to reach them.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard<std::mutex> hold(queue.lock);
  queue.frames.push_back(frame);
  queue.frames.back().link = 0;
  queue.count.fetch_add(1, std::memory_order_relaxed);
}

bool peekVisFrame(VisFrame* out) {
  // An empty queue leaves the output alone; a started one is first brought
  // up to what is heard now, so the head is the record on show.
  if (queue.count.load(std::memory_order_relaxed) == 0) return false;
  if (started.load(std::memory_order_relaxed)) releaseVisFrames(heardPosition());
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
