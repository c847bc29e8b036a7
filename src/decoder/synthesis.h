// The polyphase synthesis filterbank (full, half and quarter output rate)
// and the conversion of its output to 16- or 8-bit PCM.
#pragma once

#include <cstdint>

namespace kuv {

constexpr int32_t kSynthesisRingBlocks = 16;

// One variant's filter memory: the matrixed values of the last 16 blocks of
// each channel.
struct SynthesisRing {
  int32_t ringIndex = 1;
  alignas(64) double values[2][kSynthesisRingBlocks][64] = {};
};

// The filter memory of the full, half and quarter rate variants, each kept
// for the decoder's whole run, so a track starts on the tail of the one
// before, as a continuous stream would.
struct SynthesisState {
  SynthesisRing rings[3];
};

// Synthesises one channel's block of 32 sub-band samples and writes its PCM
// into every second sample of `out` (channel 0 at out, channel 1 one sample
// further), so calling it for channel 0 then 1 leaves interleaved stereo.
// Returns the number of samples that had to be clipped.
using StereoDriverFn = int32_t (*)(SynthesisState& state, const double* samples, int32_t channel, uint8_t* out);
// Synthesises the block as channel 0 and writes one channel, or the same
// samples to both channels of a stereo output.
using MonoHandlerFn = int32_t (*)(SynthesisState& state, const double* samples, uint8_t* out);

// All eighteen routines: stereo[DownSample + 3 * eightBit] and
// mono[3 * (eightBit + 2 * monoOut) + DownSample].
struct SynthesisRoutines {
  StereoDriverFn stereo[6];
  MonoHandlerFn mono[12];
};
extern const SynthesisRoutines synthesisRoutines;

// Output bytes of one 32-sample block: 128 >> (eightBit + monoOut + downSample).
inline int32_t blockBytesFor(int32_t eightBit, int32_t monoOut, int32_t downSample) {
  return 128 >> (eightBit + monoOut + downSample);
}

struct FrameContext;
// Sets the context's output routing: the channel choice, the rate division,
// the two synthesis routines and the bytes per block.
void routeOutput(FrameContext& ctx, int32_t channelSelect, int32_t downSample, int32_t eightBit);

// Rebuilds the window (from the standard's 257 integer coefficients) and
// the cosine tables for output scaled by `scale` (32768 for PCM).
void buildSynthesisWindow(double scale);
// Builds the 8-bit conversion table (allocated on first use).
void buildEightBitTable();

// The 8-bit sample for a 16-bit one: (s >> 9) + 128, by the table.
uint8_t eightBitSample(int16_t s);

// The 257 coefficients round(D[i] * 65536) of the standard's window.
extern const int32_t kSynthesisWindowCoefficients[257];

// Rounds to nearest (ties to even) and clips to 16 bits, counting clips.
inline int16_t roundAndClip(double sum, int32_t& clips) {
  // Adding 2^52 + 2^31 leaves the rounded value + 2^31 in the low 32 bits.
  if (sum > 40000.0) sum = 40000.0;
  if (sum < -40000.0) sum = -40000.0;
  union {
    double d;
    uint64_t u;
  } magic;
  magic.d = sum + 4503601774854144.0;
  const int32_t value = static_cast<int32_t>(static_cast<uint32_t>(magic.u) - 0x80000000u);
  if (value > 32767) {
    ++clips;
    return 32767;
  }
  if (value < -32768) {
    ++clips;
    return -32768;
  }
  return static_cast<int16_t>(value);
}

}  // namespace kuv
