// Decoding a file in the test's own thread, through the same frame reader,
// layer routines and synthesis the engine uses, into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kuv::test {

struct DecodeOptions {
  int channelSelect = -1;
  int downSample = 0;
  bool eightBit = false;
  // Answer to stream questions (0: No).
  int answer = 0;
};

struct Decoded {
  bool opened = false;
  std::vector<int16_t> samples;  // 16-bit output
  std::vector<uint8_t> bytes;    // the raw output bytes
  int frames = 0;                // frames decoded
  int skipped = 0;               // frames that produced no PCM
};

// Each call decodes with a decoder state of its own, starting silent.
Decoded decodeInProcess(const std::string& path, const DecodeOptions& options = {});

// A staging buffer write function that appends to the std::vector<uint8_t>
// its context points at.
int32_t capturePcm(void* context, int32_t length, const uint8_t* data);

// The offset (in samples, 0..maxOffset) at which `ours` lines up best with
// `theirs` (ours[i + offset] ~ theirs[i]).
size_t bestOffset(const std::vector<int16_t>& ours, const std::vector<int16_t>& theirs, size_t maxOffset, size_t step);

}  // namespace kuv::test
