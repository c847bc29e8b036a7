#include "decoder/synthesis.h"

#include "decoder/frame_context.h"
#include "decoder/synthesis_dct.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kuv {

const int32_t kSynthesisWindowCoefficients[257] = {
    0,      -1,     -1,     -1,     -1,     -1,     -1,     -2,     -2,     -2,     -2,     -3,     -3,     -4,
    -4,     -5,     -5,     -6,     -7,     -7,     -8,     -9,     -10,    -11,    -13,    -14,    -16,    -17,
    -19,    -21,    -24,    -26,    -29,    -31,    -35,    -38,    -41,    -45,    -49,    -53,    -58,    -63,
    -68,    -73,    -79,    -85,    -91,    -97,    -104,   -111,   -117,   -125,   -132,   -139,   -147,   -154,
    -161,   -169,   -176,   -183,   -190,   -196,   -202,   -208,   213,    218,    222,    225,    227,    228,
    228,    227,    224,    221,    215,    208,    200,    189,    177,    163,    146,    127,    106,    83,
    57,     29,     -2,     -36,    -72,    -111,   -153,   -197,   -244,   -294,   -347,   -401,   -459,   -519,
    -581,   -645,   -711,   -779,   -848,   -919,   -991,   -1064,  -1137,  -1210,  -1283,  -1356,  -1428,  -1498,
    -1567,  -1634,  -1698,  -1759,  -1817,  -1870,  -1919,  -1962,  -2001,  -2032,  -2057,  -2075,  -2085,  -2087,
    -2080,  -2063,  2037,   2000,   1952,   1893,   1822,   1739,   1644,   1535,   1414,   1280,   1131,   970,
    794,    605,    402,    185,    -45,    -288,   -545,   -814,   -1095,  -1388,  -1692,  -2006,  -2330,  -2663,
    -3004,  -3351,  -3705,  -4063,  -4425,  -4788,  -5153,  -5517,  -5879,  -6237,  -6589,  -6935,  -7271,  -7597,
    -7910,  -8209,  -8491,  -8755,  -8998,  -9219,  -9416,  -9585,  -9727,  -9838,  -9916,  -9959,  -9966,  -9935,
    -9863,  -9750,  -9592,  -9389,  -9139,  -8840,  -8492,  -8092,  -7640,  -7134,  6574,   5959,   5288,   4561,
    3776,   2935,   2037,   1082,   70,     -998,   -2122,  -3300,  -4533,  -5818,  -7154,  -8540,  -9975,  -11455,
    -12980, -14548, -16155, -17799, -19478, -21189, -22929, -24694, -26482, -28289, -30112, -31947, -33791, -35640,
    -37489, -39336, -41176, -43006, -44821, -46617, -48390, -50137, -51853, -53534, -55178, -56778, -58333, -59838,
    -61289, -62684, -64019, -65290, -66494, -67629, -68692, -69679, -70590, -71420, -72169, -72835, -73415, -73908,
    -74313, -74630, -74856, -74992, 75038,
};

double synthesisCosines[5][16];

namespace {

constexpr int32_t kRingBlocks = kSynthesisRingBlocks;

// The window rearranged for the transform values: for block age a, 16
// weights for x[base + n] and 16 for x[base + 1 + n] (base 16 for even ages,
// 0 for odd ones). Even ages sum into out[n] and out[31 - n], odd ages into
// out[16 + n] and out[15 - n]; see buildSynthesisWindow.
alignas(64) double windowTaps[16 * 32];
std::unique_ptr<uint8_t[]> eightBitTable;  // indexed by (s >> 4) + 4096

void dct32Pair(const double* left, const double* right, double* outLeft, double* outRight) {
  dct32PairInline(left, right, outLeft, outRight);
}

// The portable window product, the same sums in the same order as the
// vector ones (without FMA).
int32_t synthesisWindowScalar(const double* ring, int32_t newest, const double* taps, int16_t* out) {
  double forward[2][16] = {};
  double backward[2][16] = {};
  for (int a = 0; a < 16; ++a) {
    const int parity = a & 1;
    const double* x = ring + 32 * ((newest + a) & (kRingBlocks - 1)) + (parity ? 0 : 16);
    const double* w = taps + 32 * a;
    for (int n = 0; n < 16; ++n) {
      forward[parity][n] += w[n] * x[n];
      backward[parity][n] += w[16 + n] * x[1 + n];
    }
  }
  uint32_t clipped = 0;
  for (int n = 0; n < 16; ++n) {
    int32_t clips = 0;
    out[n] = roundAndClip(forward[0][n] + backward[1][15 - n], clips);
    clipped |= static_cast<uint32_t>(clips) << n;
    clips = 0;
    out[16 + n] = roundAndClip(forward[1][n] + backward[0][15 - n], clips);
    clipped |= static_cast<uint32_t>(clips) << (16 + n);
  }
  return static_cast<int32_t>(clipped);
}

bool cpuHasAvx2() {
#if defined(KUV_X86_SIMD)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

uint64_t synthesisWindowPairScalar(const double* left, const double* right, int32_t newest, const double* taps,
                                   int16_t* outLeft, int16_t* outRight) {
  const auto l = static_cast<uint32_t>(synthesisWindowScalar(left, newest, taps, outLeft));
  const auto r = static_cast<uint32_t>(synthesisWindowScalar(right, newest, taps, outRight));
  return l | (static_cast<uint64_t>(r) << 32);
}

SynthesisWindowPairFn pairKernelFor(SynthesisPath path) {
#if defined(KUV_X86_SIMD)
  if (path == SynthesisPath::kAvx2) return synthesisWindowPairAvx2;
  if (path == SynthesisPath::kSse2) return synthesisWindowPairSse2;
#endif
  (void)path;
  return synthesisWindowPairScalar;
}

SynthesisWindowFn kernelFor(SynthesisPath path) {
#if defined(KUV_X86_SIMD)
  if (path == SynthesisPath::kAvx2) return synthesisWindowAvx2;
  if (path == SynthesisPath::kSse2) return synthesisWindowSse2;
#endif
  (void)path;
  return synthesisWindowScalar;
}

std::atomic<SynthesisWindowFn> windowKernel{synthesisWindowScalar};
std::atomic<SynthesisWindowPairFn> windowPairKernel{synthesisWindowPairScalar};
std::atomic<SynthesisDctPairFn> dctPair{dct32Pair};
std::atomic<SynthesisPath> currentPath{SynthesisPath::kScalar};

void usePath(SynthesisPath path) {
  windowKernel.store(kernelFor(path), std::memory_order_relaxed);
  windowPairKernel.store(pairKernelFor(path), std::memory_order_relaxed);
#if defined(KUV_X86_SIMD)
  dctPair.store(path == SynthesisPath::kAvx2 ? synthesisDct32PairAvx2 : dct32Pair, std::memory_order_relaxed);
#endif
  currentPath.store(path, std::memory_order_relaxed);
}

// Picks the fastest path the processor has, or the one KUV_SIMD names, once.
void chooseDefaultPath() {
  static std::once_flag chosen;
  std::call_once(chosen, [] {
    SynthesisPath best = SynthesisPath::kScalar;
    if (synthesisPathAvailable(SynthesisPath::kAvx2)) {
      best = SynthesisPath::kAvx2;
    } else if (synthesisPathAvailable(SynthesisPath::kSse2)) {
      best = SynthesisPath::kSse2;
    }
    const char* wanted = std::getenv("KUV_SIMD");
    if (wanted && *wanted) {
      bool known = false;
      for (SynthesisPath path : {SynthesisPath::kScalar, SynthesisPath::kSse2, SynthesisPath::kAvx2}) {
        if (std::strcmp(wanted, synthesisPathName(path)) != 0) continue;
        known = true;
        if (synthesisPathAvailable(path)) {
          best = path;
        } else {
          std::fprintf(stderr, "KUV_SIMD=%s: this processor or build lacks it; using %s\n", wanted,
                       synthesisPathName(best));
        }
      }
      if (!known) {
        std::fprintf(stderr, "KUV_SIMD=%s: not one of scalar, sse2, avx2; using %s\n", wanted, synthesisPathName(best));
      }
    }
    usePath(best);
  });
}

// Transforms the block into the ring and runs the window product: the 32
// full-rate samples into pcm, the clipped ones as a bit mask.
inline const double* tapsOf(const SynthesisState& state) { return state.scaled ? state.taps : windowTaps; }

inline uint32_t synthesizeBlock(SynthesisRing& st, const double* taps, const double* samples, int32_t channel,
                                int16_t* pcm) {
  channel &= 1;
  if (channel == 0) st.ringIndex = (st.ringIndex - 1) & (kRingBlocks - 1);
  const int32_t r = st.ringIndex;
  double* ring = st.values[channel];
  fastDct<double, 32, 0>(samples, ring + 32 * r);
  const SynthesisWindowFn kernel = windowKernel.load(std::memory_order_relaxed);
  return static_cast<uint32_t>(kernel(ring, r, taps, pcm));
}

// Both channels' blocks: one ring step, both transforms in one pass, then
// both channels' window products.
inline void synthesizePair(SynthesisRing& st, const double* taps, const double* left, const double* right,
                           int16_t* pcmLeft, int16_t* pcmRight, uint32_t clipped[2]) {
  st.ringIndex = (st.ringIndex - 1) & (kRingBlocks - 1);
  const int32_t r = st.ringIndex;
  dctPair.load(std::memory_order_relaxed)(left, right, st.values[0] + 32 * r, st.values[1] + 32 * r);
  const SynthesisWindowPairFn kernel = windowPairKernel.load(std::memory_order_relaxed);
  const uint64_t both = kernel(st.values[0], st.values[1], r, taps, pcmLeft, pcmRight);
  clipped[0] = static_cast<uint32_t>(both);
  clipped[1] = static_cast<uint32_t>(both >> 32);
}

// Clips are counted on the samples a rate keeps. They are rare, so the
// mask is tested first, and a bit loop counts them without a library call
// (the build targets processors without a popcount instruction).
template <int Step>
inline int32_t keptClips(uint32_t clipped) {
  constexpr uint32_t kKept = Step == 1 ? 0xFFFFFFFFu : Step == 2 ? 0x55555555u : 0x11111111u;
  uint32_t kept = clipped & kKept;
  if (kept == 0) return 0;
  int32_t count = 0;
  for (; kept != 0; kept &= kept - 1) ++count;
  return count;
}

template <int Step>
SynthesisRing& ringFor(SynthesisState& state) {
  if constexpr (Step == 1) return state.rings[0];
  if constexpr (Step == 2) return state.rings[1];
  return state.rings[2];
}

inline uint8_t toEightBit(int16_t s) { return eightBitTable[(s >> 4) + 4096]; }

template <int Step>
int32_t stereo16(SynthesisState& state, const double* samples, int32_t channel, uint8_t* out) {
  alignas(16) int16_t block[32];
  const uint32_t clipped = synthesizeBlock(ringFor<Step>(state), tapsOf(state), samples, channel, block);
  auto* pcm = reinterpret_cast<int16_t*>(out);
#if defined(__SSE2__)
  if constexpr (Step == 1) {
    // Each sample twice, then merged into this channel's half of each pair.
    const __m128i ours = (channel & 1) ? _mm_set1_epi32(static_cast<int32_t>(0xFFFF0000u)) : _mm_set1_epi32(0xFFFF);
    for (int g = 0; g < 4; ++g) {
      const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block + 8 * g));
      __m128i* at = reinterpret_cast<__m128i*>(pcm + 16 * g);
      const __m128i low = _mm_unpacklo_epi16(v, v);
      const __m128i high = _mm_unpackhi_epi16(v, v);
      _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(low, ours), _mm_andnot_si128(ours, _mm_loadu_si128(at))));
      _mm_storeu_si128(at + 1,
                       _mm_or_si128(_mm_and_si128(high, ours), _mm_andnot_si128(ours, _mm_loadu_si128(at + 1))));
    }
    return keptClips<Step>(clipped);
  }
#endif
  for (int n = 0; n < 32 / Step; ++n) pcm[(channel & 1) + 2 * n] = block[n * Step];
  return keptClips<Step>(clipped);
}

template <int Step>
int32_t stereo8(SynthesisState& state, const double* samples, int32_t channel, uint8_t* out) {
  int16_t block[32];
  const uint32_t clipped = synthesizeBlock(ringFor<Step>(state), tapsOf(state), samples, channel, block);
  for (int n = 0; n < 32 / Step; ++n) out[(channel & 1) + 2 * n] = toEightBit(block[n * Step]);
  return keptClips<Step>(clipped);
}

template <int Step>
int32_t pair16(SynthesisState& state, const double* left, const double* right, uint8_t* out) {
  alignas(16) int16_t block[2][32];
  uint32_t clipped[2];
  synthesizePair(ringFor<Step>(state), tapsOf(state), left, right, block[0], block[1], clipped);
  auto* pcm = reinterpret_cast<int16_t*>(out);
#if defined(__SSE2__)
  if constexpr (Step == 1) {
    for (int g = 0; g < 4; ++g) {
      const __m128i l = _mm_load_si128(reinterpret_cast<const __m128i*>(block[0] + 8 * g));
      const __m128i r = _mm_load_si128(reinterpret_cast<const __m128i*>(block[1] + 8 * g));
      __m128i* at = reinterpret_cast<__m128i*>(pcm + 16 * g);
      _mm_storeu_si128(at, _mm_unpacklo_epi16(l, r));
      _mm_storeu_si128(at + 1, _mm_unpackhi_epi16(l, r));
    }
    return keptClips<Step>(clipped[0]) + keptClips<Step>(clipped[1]);
  }
#endif
  for (int n = 0; n < 32 / Step; ++n) {
    pcm[2 * n] = block[0][n * Step];
    pcm[2 * n + 1] = block[1][n * Step];
  }
  return keptClips<Step>(clipped[0]) + keptClips<Step>(clipped[1]);
}

template <int Step>
int32_t pair8(SynthesisState& state, const double* left, const double* right, uint8_t* out) {
  int16_t block[2][32];
  uint32_t clipped[2];
  synthesizePair(ringFor<Step>(state), tapsOf(state), left, right, block[0], block[1], clipped);
  for (int n = 0; n < 32 / Step; ++n) {
    out[2 * n] = toEightBit(block[0][n * Step]);
    out[2 * n + 1] = toEightBit(block[1][n * Step]);
  }
  return keptClips<Step>(clipped[0]) + keptClips<Step>(clipped[1]);
}

template <int Step>
int32_t duplicated16(SynthesisState& state, const double* samples, uint8_t* out) {
  alignas(16) int16_t block[32];
  const uint32_t clipped = synthesizeBlock(ringFor<Step>(state), tapsOf(state), samples, 0, block);
  auto* pcm = reinterpret_cast<int16_t*>(out);
#if defined(__SSE2__)
  if constexpr (Step == 1) {
    for (int g = 0; g < 4; ++g) {
      const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block + 8 * g));
      __m128i* at = reinterpret_cast<__m128i*>(pcm + 16 * g);
      _mm_storeu_si128(at, _mm_unpacklo_epi16(v, v));
      _mm_storeu_si128(at + 1, _mm_unpackhi_epi16(v, v));
    }
    return keptClips<Step>(clipped);
  }
#endif
  for (int n = 0; n < 32 / Step; ++n) pcm[2 * n] = pcm[2 * n + 1] = block[n * Step];
  return keptClips<Step>(clipped);
}

template <int Step>
int32_t duplicated8(SynthesisState& state, const double* samples, uint8_t* out) {
  int16_t block[32];
  const uint32_t clipped = synthesizeBlock(ringFor<Step>(state), tapsOf(state), samples, 0, block);
  for (int n = 0; n < 32 / Step; ++n) out[2 * n] = out[2 * n + 1] = toEightBit(block[n * Step]);
  return keptClips<Step>(clipped);
}

template <int Step>
int32_t single16(SynthesisState& state, const double* samples, uint8_t* out) {
  if constexpr (Step == 1) {
    int16_t block[32];
    const uint32_t clipped = synthesizeBlock(ringFor<Step>(state), tapsOf(state), samples, 0, block);
    std::memcpy(out, block, sizeof block);
    return keptClips<Step>(clipped);
  } else {
    int16_t block[32];
    const uint32_t clipped = synthesizeBlock(ringFor<Step>(state), tapsOf(state), samples, 0, block);
    auto* pcm = reinterpret_cast<int16_t*>(out);
    for (int n = 0; n < 32 / Step; ++n) pcm[n] = block[n * Step];
    return keptClips<Step>(clipped);
  }
}

template <int Step>
int32_t single8(SynthesisState& state, const double* samples, uint8_t* out) {
  int16_t block[32];
  const uint32_t clipped = synthesizeBlock(ringFor<Step>(state), tapsOf(state), samples, 0, block);
  for (int n = 0; n < 32 / Step; ++n) out[n] = toEightBit(block[n * Step]);
  return keptClips<Step>(clipped);
}

}  // namespace

const SynthesisRoutines synthesisRoutines = {
    {stereo16<1>, stereo16<2>, stereo16<4>, stereo8<1>, stereo8<2>, stereo8<4>},
    {duplicated16<1>, duplicated16<2>, duplicated16<4>, duplicated8<1>, duplicated8<2>, duplicated8<4>, single16<1>,
     single16<2>, single16<4>, single8<1>, single8<2>, single8<4>},
    {pair16<1>, pair16<2>, pair16<4>, pair8<1>, pair8<2>, pair8<4>},
};

void routeOutput(FrameContext& ctx, int32_t channelSelect, int32_t downSample, int32_t eightBit) {
  if (downSample < 0 || downSample > 2) downSample = 0;
  // The layers pick a channel's samples by this, and a value set at run time
  // has not passed the settings loader's range check. Out of range it keeps
  // the output's channel count (the decoder opens one channel for any value
  // from 0 up) and takes the left channel.
  if (channelSelect < -1) channelSelect = -1;
  if (channelSelect > 3) channelSelect = 0;
  eightBit = eightBit ? 1 : 0;
  const int32_t monoOut = channelSelect >= 0 ? 1 : 0;
  ctx.channelSelect = channelSelect;
  ctx.downSample = downSample;
  ctx.stereoDriver = synthesisRoutines.stereo[downSample + 3 * eightBit];
  ctx.stereoPair = synthesisRoutines.pair[downSample + 3 * eightBit];
  ctx.monoHandler = synthesisRoutines.mono[3 * (eightBit + 2 * monoOut) + downSample];
  ctx.blockBytes = blockBytesFor(eightBit, monoOut, downSample);
}

void buildSynthesisWindow(double scale) {
  chooseDefaultPath();
  // D[0..256] from the coefficients; D[512 - i] = -D[i], except at
  // multiples of 64 where it is +D[i].
  double window[512];
  for (int i = 0; i <= 256; ++i) window[i] = kSynthesisWindowCoefficients[i] / 65536.0 * scale;
  for (int i = 257; i < 512; ++i) window[i] = (i % 64 == 0) ? window[512 - i] : -window[512 - i];
  // Output j takes D[64t + j] V_2t[j] + D[64t + 32 + j] V_2t+1[32 + j] over
  // t = 0..7, with V written through x as the ring keeps it.
  for (int t = 0; t < 8; ++t) {
    double* even = windowTaps + 32 * (2 * t);
    double* odd = windowTaps + 32 * (2 * t + 1);
    // Even ages read x[16 + n] (V[n], n < 16, into out[n]) and x[17 + k]
    // (-V[31 - k], into out[31 - k]; out[16] sees V[16] = 0).
    for (int n = 0; n < 16; ++n) even[n] = window[64 * t + n];
    for (int k = 0; k < 15; ++k) even[16 + k] = -window[64 * t + 31 - k];
    even[31] = 0.0;
    // Odd ages read x[n] (V[48 + n] = -x[n], into out[16 + n]) and x[1 + k]
    // (V[47 - k] = -x[1 + k], into out[15 - k]).
    for (int n = 0; n < 16; ++n) odd[n] = -window[64 * t + 48 + n];
    for (int k = 0; k < 16; ++k) odd[16 + k] = -window[64 * t + 32 + 15 - k];
  }
  for (int k = 0; k < 5; ++k) {
    for (int i = 0; i < (16 >> k); ++i) {
      synthesisCosines[k][i] = 1.0 / (2.0 * std::cos((2 * i + 1) * M_PI / (64 >> k)));
    }
  }
}

void setSynthesisGain(SynthesisState& state, double scale) {
  state.scaled = std::isfinite(scale) && scale > 0.0 && scale != 1.0;
  if (!state.scaled) return;
  for (int i = 0; i < 16 * 32; ++i) state.taps[i] = windowTaps[i] * scale;
}

void synthesisDct32(const double* in, double* out) { fastDct<double, 32, 0>(in, out); }

bool synthesisPathAvailable(SynthesisPath path) {
  switch (path) {
    case SynthesisPath::kScalar:
      return true;
    case SynthesisPath::kSse2:
#if defined(KUV_X86_SIMD)
      return true;
#else
      return false;
#endif
    case SynthesisPath::kAvx2:
      return cpuHasAvx2();
  }
  return false;
}

bool forceSynthesisPath(SynthesisPath path) {
  chooseDefaultPath();
  if (!synthesisPathAvailable(path)) return false;
  usePath(path);
  return true;
}

SynthesisPath synthesisPath() {
  chooseDefaultPath();
  return currentPath.load(std::memory_order_relaxed);
}

const char* synthesisPathName(SynthesisPath path) {
  switch (path) {
    case SynthesisPath::kScalar:
      return "scalar";
    case SynthesisPath::kSse2:
      return "sse2";
    case SynthesisPath::kAvx2:
      return "avx2";
  }
  return "?";
}

uint8_t eightBitSample(int16_t s) { return toEightBit(s); }

void buildEightBitTable() {
  if (!eightBitTable) eightBitTable = std::make_unique<uint8_t[]>(8192);
  for (int i = -4096; i < 4096; ++i) eightBitTable[i + 4096] = static_cast<uint8_t>(((i >> 5) + 128) & 0xFF);
}

}  // namespace kuv
