// The polyphase synthesis filterbank (full, half and quarter output rate)
// and the conversion of its output to 16- or 8-bit PCM.
#pragma once

#include <cstdint>

namespace kuv {

constexpr int32_t kSynthesisRingBlocks = 16;
// Per channel: 32 transform values per block, block b at 32 * b, and four
// values past the last block that stay zero (the window reads one value past
// a block, with a zero weight).
constexpr int32_t kSynthesisRingValues = 32 * kSynthesisRingBlocks + 4;

// One variant's filter memory: the last 16 blocks of each channel as their
// 32-point transform x[0..31]; the 64 matrixed values follow from it
// (V[i] = x[16 + i] for i < 16, V[16] = 0, V[i] = -x[48 - i] up to 47,
// V[i] = -x[i - 48] from 48), so the window reads x with its signs folded in.
struct SynthesisRing {
  int32_t ringIndex = 1;
  alignas(64) double values[2][kSynthesisRingValues] = {};
};

// The filter memory of the full, half and quarter rate variants, each kept
// for the decoder's whole run, so a track starts on the tail of the one
// before, as a continuous stream would.
struct SynthesisState {
  SynthesisRing rings[3];
  // The window scaled by a loudness correction (ReplayGain), so the gain
  // costs nothing per sample and acts before rounding and clipping; the
  // shared window while `scaled` is false.
  bool scaled = false;
  alignas(64) double taps[16 * 32] = {};
};

// From the next block on, the output is `scale` times as loud; 1.0 (or
// anything not finite and positive) plays the stream as it is.
void setSynthesisGain(SynthesisState& state, double scale);

// Synthesises one channel's block of 32 sub-band samples and writes its PCM
// into every second sample of `out` (channel 0 at out, channel 1 one sample
// further), so calling it for channel 0 then 1 leaves interleaved stereo.
// Returns the number of samples that had to be clipped.
using StereoDriverFn = int32_t (*)(SynthesisState& state, const double* samples, int32_t channel, uint8_t* out);
// Synthesises both channels' blocks of a stereo output in one pass and
// writes them interleaved: the same samples as the stereo driver called for
// channel 0 then 1, at about half the transform's cost.
using StereoPairFn = int32_t (*)(SynthesisState& state, const double* left, const double* right, uint8_t* out);
// Synthesises the block as channel 0 and writes one channel, or the same
// samples to both channels of a stereo output.
using MonoHandlerFn = int32_t (*)(SynthesisState& state, const double* samples, uint8_t* out);

// All twenty-four routines: stereo[DownSample + 3 * eightBit],
// mono[3 * (eightBit + 2 * monoOut) + DownSample] and
// pair[DownSample + 3 * eightBit].
struct SynthesisRoutines {
  StereoDriverFn stereo[6];
  MonoHandlerFn mono[12];
  StereoPairFn pair[6];
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

// The code that runs the window product. Every machine has kScalar; x86-64
// has kSse2 and, where the processor has AVX2 and FMA, kAvx2 (the fastest
// available is chosen when the window is first built, unless KUV_SIMD names
// one of scalar, sse2, avx2). FMA rounds once per tap, so kAvx2 may differ
// from the others by one in rare samples.
enum class SynthesisPath { kScalar, kSse2, kAvx2 };
bool synthesisPathAvailable(SynthesisPath path);
// Uses `path` from now on; false (and no change) where the machine lacks it.
bool forceSynthesisPath(SynthesisPath path);
SynthesisPath synthesisPath();
const char* synthesisPathName(SynthesisPath path);

// The window product of one block: `ring` is one channel's values, `newest`
// its newest block, `taps` the rearranged window (16 ages x 2 x 16). Writes
// 32 samples rounded to nearest-even and clipped; returns the clip count.
using SynthesisWindowFn = int32_t (*)(const double* ring, int32_t newest, const double* taps, int16_t* out);
// Both channels' window products in one pass, each the same to the bit as
// the one-channel product of its path; returns the left channel's clip mask
// in the low 32 bits and the right one's above.
using SynthesisWindowPairFn = uint64_t (*)(const double* left, const double* right, int32_t newest, const double* taps,
                                           int16_t* outLeft, int16_t* outRight);
#if defined(KUV_X86_SIMD)
int32_t synthesisWindowSse2(const double* ring, int32_t newest, const double* taps, int16_t* out);
int32_t synthesisWindowAvx2(const double* ring, int32_t newest, const double* taps, int16_t* out);
uint64_t synthesisWindowPairSse2(const double* left, const double* right, int32_t newest, const double* taps,
                                 int16_t* outLeft, int16_t* outRight);
uint64_t synthesisWindowPairAvx2(const double* left, const double* right, int32_t newest, const double* taps,
                                 int16_t* outLeft, int16_t* outRight);
#endif

// The 32-point transform the filter runs on each block:
// out[m] = sum_k in[k] cos(pi (2k + 1) m / 64). Needs the built tables.
void synthesisDct32(const double* in, double* out);

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
