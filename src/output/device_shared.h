// What the sound device's callers (decoder, window, Audio page) and its
// feeder thread share, by the rule that keeps them apart: the fields in
// DeviceShared are reached only through the lock (Locked), the counters are
// atomic and read by anyone, and everything only the feeder touches lives in
// the feeder's own record (device_feeder.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>

#include "output/device_gain.h"
#include "output/device_ring.h"
#include "output/locked.h"
#include "platform/message_queue.h"

namespace kuv {

// The buffer-done message of waveOut callbacks, reused for our notices.
constexpr uint32_t kBufferDone = 0x3BD;

struct DeviceShared {
  DeviceRing ring;
  // The ten buffers, from init to shutdown. A queued one is read by the
  // feeder without the lock; only a free one is written.
  std::unique_ptr<unsigned char[]> data[kSoundBufferCount];
  int32_t callbackMode = 0;     // WinMMCallback of the open device
  int32_t alsaBufferBytes = 0;  // the most the open PCM is given to hold

  bool running = false;  // a device is open
  bool threadAlive = false;
  bool primed = false;  // held until the fourth write since open or flush
  bool paused = false;
  bool closing = false;
  bool quit = false;
  int32_t primeCount = 0;
  // Requests to the feeder and how far it has served them.
  uint64_t dropAsked = 0;
  uint64_t dropDone = 0;
  uint64_t syncAsked = 0;
  uint64_t syncDone = 0;
  // Ends the writer's wait for free buffers (a command came for it); kept
  // until a wait takes it, so a wake just before the wait is not lost.
  bool wakeWaiter = false;
  // Free buffers the waiting writer needs; 0 while none waits. Returns wake
  // it only once there are enough, not at every buffer.
  int32_t roomWanted = 0;
};

struct DeviceCounters {
  std::atomic<int32_t> isOpen{0};
  std::atomic<int32_t> failed{0};
  std::atomic<int32_t> freeCount{kSoundBufferCount};
  std::atomic<int32_t> busy{0};  // a writer waits for a buffer
  std::atomic<int32_t> pollMs{46};
  std::atomic<uint32_t> avgBytesPerSec{0};
  std::atomic<uint64_t> bytesPlayed{0};
  std::atomic<uint32_t> gain{kUnityGain};
  std::atomic<uint64_t> noticesPosted{0};
  std::atomic<uint64_t> noticesDone{0};
};

struct DeviceCommon {
  Locked<DeviceShared> shared;
  std::condition_variable wake;     // to the feeder
  std::condition_variable changed;  // to callers: served requests, returned buffers, an idle writer
  std::condition_variable room;     // to the writer waiting for roomWanted buffers, a wake or a failure
  DeviceCounters counters;
  // WinMMCallback 1: returned buffers reach the counters through the
  // callback thread that reads this queue.
  platform::MessageQueue noticeQueue;
};

// Wakes the writer waiting for free buffers once it has them or the device
// failed; called with the lock held wherever buffers come back.
template <typename Guard>
void tellRoomLocked(DeviceCommon* common, Guard& guard) {
  const int32_t wanted = guard->roomWanted;
  if (wanted > 0 && (common->counters.freeCount.load() >= wanted || common->counters.failed.load() != 0))
    common->room.notify_all();
}

}  // namespace kuv
