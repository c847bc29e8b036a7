// The converted PCM waiting to be handed to the output, and the write rule
// every layer applies after each synthesised block. The layers only fill the
// buffer; where full buffers go is the owner's choice (the engine: the
// output system's write).
#pragma once

#include <atomic>
#include <cstdint>

namespace kuv {

constexpr int32_t kPcmStagingBytes = 65536;

// Hands `length` bytes to the output; returns how many it took (it may take
// fewer, or none for now), or a negative value when the output failed.
using PcmWriteFn = int32_t (*)(void* context, int32_t length, const uint8_t* data);

struct PcmStagingBuffer {
  alignas(16) uint8_t data[kPcmStagingBytes] = {};
  int32_t fill = 0;
  int32_t writeThreshold = 16384;
  PcmWriteFn write = nullptr;  // no write function: every write fails
  void* writeContext = nullptr;
  // Set when the user stops or the thread must quit: a wait for room ends.
  const std::atomic<int>* abandon = nullptr;
};

// Bytes collected before a write, by sampling-rate index, shifted right by
// DownSample (about a tenth of a second of 16-bit stereo).
int32_t writeThresholdFor(int32_t sampleRateIndex, int32_t downSample);

// Before a block is synthesised: an output that keeps taking less than it is
// offered could make the fill pass the buffer, so wait (1 ms sleeps) until
// the block fits. False when the wait was abandoned.
bool pcmMakeRoom(PcmStagingBuffer& pcm, int32_t blockBytes);

// After a block: adds it to the fill and, at the threshold, writes the fill
// to the output, keeping what it did not take. False when the write failed.
bool pcmBlockDone(PcmStagingBuffer& pcm, int32_t blockBytes);
// The second half of that rule alone, for a caller that looks at the fill in
// between.
bool pcmWriteIfDue(PcmStagingBuffer& pcm);

}  // namespace kuv
