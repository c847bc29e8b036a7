#include "decoder/synthesis.h"

#include "decoder/frame_context.h"

#include <cmath>
#include <cstring>
#include <memory>

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

namespace {

constexpr int32_t kRingBlocks = kSynthesisRingBlocks;

// The window rearranged for the summation: tap a (0..15) of output sample j
// multiplies block age a, value j (even ages) or 32 + j (odd ages).
alignas(64) double windowTaps[16][32];
// 1 / (2 cos((2i + 1) pi / (64 >> k))) for the five stages of the transform.
double cosineTables[5][16];

std::unique_ptr<uint8_t[]> eightBitTable;  // indexed by (s >> 4) + 4096

// Fast DCT-II by recursive halving: X[m] = sum x[k] cos(pi (2k + 1) m / 2N).
template <int N, int Stage>
inline void fastDct(const double* x, double* out) {
  if constexpr (N == 1) {
    out[0] = x[0];
  } else {
    constexpr int H = N / 2;
    double sums[H], diffs[H], even[H], odd[H];
    for (int k = 0; k < H; ++k) {
      sums[k] = x[k] + x[N - 1 - k];
      diffs[k] = (x[k] - x[N - 1 - k]) * cosineTables[Stage][k];
    }
    fastDct<H, Stage + 1>(sums, even);
    fastDct<H, Stage + 1>(diffs, odd);
    for (int m = 0; m < H - 1; ++m) {
      out[2 * m] = even[m];
      out[2 * m + 1] = odd[m] + odd[m + 1];
    }
    out[N - 2] = even[H - 1];
    out[N - 1] = odd[H - 1];
  }
}

// The 64 matrixed values V[i] = sum cos((16 + i)(2k + 1) pi / 64) S[k],
// from the 32-point transform and its symmetries.
inline void matrix(const double* samples, double* v) {
  double x[32];
  fastDct<32, 0>(samples, x);
  for (int i = 0; i < 16; ++i) v[i] = x[16 + i];
  v[16] = 0.0;
  for (int i = 17; i < 48; ++i) v[i] = -x[48 - i];
  for (int i = 48; i < 64; ++i) v[i] = -x[i - 48];
}

// Synthesises one block of channel `channel` and writes every Step-th output
// sample (32 / Step of them) at out[0], out[stride], ...
template <int Step>
int32_t synthesize(SynthesisRing& st, const double* samples, int32_t channel, int16_t* out, int stride) {
  channel &= 1;
  if (channel == 0) st.ringIndex = (st.ringIndex - 1) & (kRingBlocks - 1);
  const int32_t r = st.ringIndex;
  matrix(samples, st.values[channel][r]);

  constexpr int kOut = 32 / Step;
  constexpr int kChunk = kOut < 8 ? kOut : 8;
  const double* values[16];
  for (int a = 0; a < 16; ++a) values[a] = st.values[channel][(r + a) & (kRingBlocks - 1)] + ((a & 1) ? 32 : 0);
  double acc[kOut];
  // Eight outputs at a time, so their sums stay in registers over the 16 taps.
  for (int n0 = 0; n0 < kOut; n0 += kChunk) {
    double sum[kChunk] = {};
    for (int a = 0; a < 16; ++a) {
      const double* taps = windowTaps[a] + n0 * Step;
      const double* v = values[a] + n0 * Step;
      for (int n = 0; n < kChunk; ++n) sum[n] += taps[n * Step] * v[n * Step];
    }
    for (int n = 0; n < kChunk; ++n) acc[n0 + n] = sum[n];
  }
  int32_t clips = 0;
  for (int n = 0; n < kOut; ++n) out[n * stride] = roundAndClip(acc[n], clips);
  return clips;
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
  return synthesize<Step>(ringFor<Step>(state), samples, channel, reinterpret_cast<int16_t*>(out) + (channel & 1), 2);
}

template <int Step>
int32_t stereo8(SynthesisState& state, const double* samples, int32_t channel, uint8_t* out) {
  int16_t block[32];
  const int32_t clips = synthesize<Step>(ringFor<Step>(state), samples, channel, block, 1);
  for (int n = 0; n < 32 / Step; ++n) out[(channel & 1) + 2 * n] = toEightBit(block[n]);
  return clips;
}

template <int Step>
int32_t duplicated16(SynthesisState& state, const double* samples, uint8_t* out) {
  auto* pcm = reinterpret_cast<int16_t*>(out);
  const int32_t clips = synthesize<Step>(ringFor<Step>(state), samples, 0, pcm, 2);
  for (int n = 0; n < 32 / Step; ++n) pcm[2 * n + 1] = pcm[2 * n];
  return clips;
}

template <int Step>
int32_t duplicated8(SynthesisState& state, const double* samples, uint8_t* out) {
  int16_t block[32];
  const int32_t clips = synthesize<Step>(ringFor<Step>(state), samples, 0, block, 1);
  for (int n = 0; n < 32 / Step; ++n) out[2 * n] = out[2 * n + 1] = toEightBit(block[n]);
  return clips;
}

template <int Step>
int32_t single16(SynthesisState& state, const double* samples, uint8_t* out) {
  return synthesize<Step>(ringFor<Step>(state), samples, 0, reinterpret_cast<int16_t*>(out), 1);
}

template <int Step>
int32_t single8(SynthesisState& state, const double* samples, uint8_t* out) {
  int16_t block[32];
  const int32_t clips = synthesize<Step>(ringFor<Step>(state), samples, 0, block, 1);
  for (int n = 0; n < 32 / Step; ++n) out[n] = toEightBit(block[n]);
  return clips;
}

}  // namespace

const SynthesisRoutines synthesisRoutines = {
    {stereo16<1>, stereo16<2>, stereo16<4>, stereo8<1>, stereo8<2>, stereo8<4>},
    {duplicated16<1>, duplicated16<2>, duplicated16<4>, duplicated8<1>, duplicated8<2>, duplicated8<4>, single16<1>,
     single16<2>, single16<4>, single8<1>, single8<2>, single8<4>},
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
  ctx.monoHandler = synthesisRoutines.mono[3 * (eightBit + 2 * monoOut) + downSample];
  ctx.blockBytes = blockBytesFor(eightBit, monoOut, downSample);
}

void buildSynthesisWindow(double scale) {
  // D[0..256] from the coefficients; D[512 - i] = -D[i], except at
  // multiples of 64 where it is +D[i].
  double window[512];
  for (int i = 0; i <= 256; ++i) window[i] = kSynthesisWindowCoefficients[i] / 65536.0 * scale;
  for (int i = 257; i < 512; ++i) window[i] = (i % 64 == 0) ? window[512 - i] : -window[512 - i];
  for (int t = 0; t < 8; ++t) {
    for (int j = 0; j < 32; ++j) {
      windowTaps[2 * t][j] = window[64 * t + j];
      windowTaps[2 * t + 1][j] = window[64 * t + 32 + j];
    }
  }
  for (int k = 0; k < 5; ++k) {
    for (int i = 0; i < (16 >> k); ++i) {
      cosineTables[k][i] = 1.0 / (2.0 * std::cos((2 * i + 1) * M_PI / (64 >> k)));
    }
  }
}

uint8_t eightBitSample(int16_t s) { return toEightBit(s); }

void buildEightBitTable() {
  if (!eightBitTable) eightBitTable = std::make_unique<uint8_t[]>(8192);
  for (int i = -4096; i < 4096; ++i) eightBitTable[i + 4096] = static_cast<uint8_t>(((i >> 5) + 128) & 0xFF);
}

}  // namespace kuv
