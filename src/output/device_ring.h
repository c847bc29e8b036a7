// The sound device's account of its ten buffers: which are queued in what
// order, how far the oldest unsent one has gone to ALSA, and which frames of
// the stream each spans, so a buffer comes back only once its last frame was
// heard. Plain bookkeeping without ALSA or clocks; the device calls it with
// its lock held.
#pragma once

#include <cstdint>

#include "output/sound_device.h"

namespace kuv {

struct DeviceRing {
  int32_t blockAlign = 1;
  int32_t length[kSoundBufferCount] = {};
  uint64_t startFrame[kSoundBufferCount] = {};
  uint64_t endFrame[kSoundBufferCount] = {};

  // Buffers handed to the device, oldest first, until they are returned. The
  // first sentCount of them are all in ALSA; of the next, sendOffset bytes.
  int32_t queue[kSoundBufferCount] = {};
  int32_t queueHead = 0;
  int32_t queueCount = 0;
  int32_t sentCount = 0;
  int32_t sendOffset = 0;
  // The buffer the next write fills: buffers come back in the order they
  // went, so the oldest returned one is always next.
  int32_t writeIndex = 0;

  // Frames count on across drops and rewinds, so buffer ends stay
  // comparable with what was heard.
  uint64_t framesWritten = 0;
  uint64_t framesPlayed = 0;
};

// Buffers given back, oldest first, with the bytes each held.
struct RingReturns {
  int32_t count = 0;
  int32_t length[kSoundBufferCount] = {};
};

// Frames of one buffer to send next, from byte offset on.
struct RingChunk {
  int32_t index = -1;  // -1: nothing to send
  int32_t offset = 0;
  int32_t frames = 0;
};

// Empty, for frames of blockAlign bytes.
void ringReset(DeviceRing* ring, int32_t blockAlign);

int32_t ringFreeCount(const DeviceRing& ring);
bool ringQueued(const DeviceRing& ring, int32_t index);
// Queues the next buffer holding length bytes and returns its index, which
// the caller fills. Needs a free buffer.
int32_t ringPush(DeviceRing* ring, int32_t length);

// The next frames to send, at most maxFrames. A buffer without a whole frame
// left counts as sent: a stray partial frame at its end is never played.
RingChunk ringNextChunk(DeviceRing* ring, int32_t maxFrames);
// frames of chunk reached ALSA.
void ringSent(DeviceRing* ring, const RingChunk& chunk, int32_t frames);
bool ringMoreToSend(const DeviceRing& ring);
// Frames until the oldest sent buffer is heard out; 0 when none is sent.
uint64_t ringFramesToFrontEnd(const DeviceRing& ring);

// Frames still on their way for a PCM delay (negative counts as none).
uint64_t ringLag(const DeviceRing& ring, int64_t delay);
// Heard up to frame played (never backwards), and what that returns.
RingReturns ringHeard(DeviceRing* ring, uint64_t played);
// Dropped, failed or reset: every queued buffer comes back, as waveOutReset
// returns them, and all that was written counts as over.
RingReturns ringReturnAll(DeviceRing* ring);
// After ALSA's ring was dropped: everything up to played was heard, the rest
// is sent again from there.
RingReturns ringRewind(DeviceRing* ring, uint64_t played);

}  // namespace kuv
