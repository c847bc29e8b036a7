#include "output/device_ring.h"

#include <algorithm>

namespace kuv {
namespace {

int32_t at(const DeviceRing& ring, int32_t position) {
  return ring.queue[(ring.queueHead + position) % kSoundBufferCount];
}

int32_t popFront(DeviceRing* ring) {
  const int32_t index = at(*ring, 0);
  ring->queueHead = (ring->queueHead + 1) % kSoundBufferCount;
  --ring->queueCount;
  if (ring->sentCount > 0)
    --ring->sentCount;
  else
    ring->sendOffset = 0;
  return index;
}

void give(RingReturns* returns, int32_t length) { returns->length[returns->count++] = length; }

void completeUpTo(DeviceRing* ring, uint64_t played, RingReturns* returns) {
  while (ring->sentCount > 0 && ring->endFrame[at(*ring, 0)] <= played) give(returns, ring->length[popFront(ring)]);
}

void finishSending(DeviceRing* ring, int32_t index) {
  ring->endFrame[index] = ring->framesWritten;
  ++ring->sentCount;
  ring->sendOffset = 0;
}

}  // namespace

void ringReset(DeviceRing* ring, int32_t blockAlign) {
  *ring = DeviceRing{};
  ring->blockAlign = std::max(blockAlign, 1);
}

int32_t ringFreeCount(const DeviceRing& ring) { return kSoundBufferCount - ring.queueCount; }

bool ringQueued(const DeviceRing& ring, int32_t index) {
  for (int32_t i = 0; i < ring.queueCount; ++i) {
    if (at(ring, i) == index) return true;
  }
  return false;
}

int32_t ringPush(DeviceRing* ring, int32_t length) {
  if (ring->writeIndex >= kSoundBufferCount) ring->writeIndex = 0;
  const int32_t index = ring->writeIndex++;
  ring->length[index] = length;
  ring->queue[(ring->queueHead + ring->queueCount) % kSoundBufferCount] = index;
  ++ring->queueCount;
  return index;
}

RingChunk ringNextChunk(DeviceRing* ring, int32_t maxFrames) {
  while (ring->sentCount < ring->queueCount) {
    const int32_t index = at(*ring, ring->sentCount);
    if (ring->sendOffset == 0) ring->startFrame[index] = ring->framesWritten;
    if (ring->sendOffset + ring->blockAlign <= ring->length[index]) break;
    finishSending(ring, index);
  }
  RingChunk chunk;
  if (ring->sentCount < ring->queueCount) {
    chunk.index = at(*ring, ring->sentCount);
    chunk.offset = ring->sendOffset;
    chunk.frames = std::min((ring->length[chunk.index] - ring->sendOffset) / ring->blockAlign, maxFrames);
  }
  return chunk;
}

void ringSent(DeviceRing* ring, const RingChunk& chunk, int32_t frames) {
  if (frames <= 0 || chunk.index < 0) return;
  ring->sendOffset += frames * ring->blockAlign;
  ring->framesWritten += static_cast<uint64_t>(frames);
  if (ring->sendOffset + ring->blockAlign > ring->length[chunk.index]) finishSending(ring, chunk.index);
}

bool ringMoreToSend(const DeviceRing& ring) { return ring.sentCount < ring.queueCount; }

uint64_t ringFramesToFrontEnd(const DeviceRing& ring) {
  if (ring.sentCount == 0) return 0;
  const uint64_t end = ring.endFrame[at(ring, 0)];
  return end > ring.framesPlayed ? end - ring.framesPlayed : 0;
}

uint64_t ringLag(const DeviceRing& ring, int64_t delay) {
  return std::min<uint64_t>(delay > 0 ? static_cast<uint64_t>(delay) : 0, ring.framesWritten);
}

RingReturns ringHeard(DeviceRing* ring, uint64_t played) {
  ring->framesPlayed = std::max(ring->framesPlayed, std::min(played, ring->framesWritten));
  RingReturns returns;
  completeUpTo(ring, ring->framesPlayed, &returns);
  return returns;
}

RingReturns ringReturnAll(DeviceRing* ring) {
  RingReturns returns;
  while (ring->queueCount > 0) give(&returns, ring->length[popFront(ring)]);
  ring->sentCount = 0;
  ring->sendOffset = 0;
  ring->framesPlayed = ring->framesWritten;
  return returns;
}

RingReturns ringRewind(DeviceRing* ring, uint64_t played) {
  played = std::min(std::max(played, ring->framesPlayed), ring->framesWritten);
  RingReturns returns;
  completeUpTo(ring, played, &returns);
  if (ring->queueCount > 0 && (ring->sentCount > 0 || ring->sendOffset > 0)) {
    ring->sendOffset = static_cast<int32_t>((played - ring->startFrame[at(*ring, 0)]) * ring->blockAlign);
  }
  ring->sentCount = 0;
  ring->framesWritten = played;
  ring->framesPlayed = played;
  return returns;
}

}  // namespace kuv
