// The window product with SSE2, which every x86-64 processor has.
#include "decoder/synthesis.h"

#if defined(KUV_X86_SIMD) && defined(__SSE2__)
#include <emmintrin.h>

namespace kuv {

namespace {

// Rounds eight sums to nearest-even, clips them to 16 bits and returns
// which of them had to be clipped (one bit per sample).
inline uint32_t roundEight(const __m128d* sums, int16_t* out) {
  const __m128d low = _mm_set1_pd(-40000.0);
  const __m128d high = _mm_set1_pd(40000.0);
  __m128i rounded[4];
  for (int k = 0; k < 4; ++k) rounded[k] = _mm_cvtpd_epi32(_mm_min_pd(_mm_max_pd(sums[k], low), high));
  const __m128i first = _mm_unpacklo_epi64(rounded[0], rounded[1]);
  const __m128i second = _mm_unpacklo_epi64(rounded[2], rounded[3]);
  const __m128i top = _mm_set1_epi32(32767);
  const __m128i bottom = _mm_set1_epi32(-32768);
  const __m128i outsideFirst = _mm_or_si128(_mm_cmpgt_epi32(first, top), _mm_cmplt_epi32(first, bottom));
  const __m128i outsideSecond = _mm_or_si128(_mm_cmpgt_epi32(second, top), _mm_cmplt_epi32(second, bottom));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(first, second));
  return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(outsideFirst)) |
                               (_mm_movemask_ps(_mm_castsi128_ps(outsideSecond)) << 4));
}

}  // namespace

int32_t synthesisWindowSse2(const double* ring, int32_t newest, const double* taps, int16_t* out) {
  // [parity][lane]: forward sums (x[base + n]) and backward ones (x[base + 1 + n]).
  alignas(16) double forward[2][16];
  alignas(16) double backward[2][16];
  for (int parity = 0; parity < 2; ++parity) {
    const int base = parity ? 0 : 16;
    // Eight lanes at a time keeps the eight sums and their operands within
    // the sixteen registers.
    for (int half = 0; half < 16; half += 8) {
      __m128d f[4], b[4];
      for (int k = 0; k < 4; ++k) f[k] = b[k] = _mm_setzero_pd();
      for (int a = parity; a < 16; a += 2) {
        const double* x = ring + 32 * ((newest + a) & (kSynthesisRingBlocks - 1)) + base + half;
        const double* w = taps + 32 * a + half;
        for (int k = 0; k < 4; ++k) {
          f[k] = _mm_add_pd(f[k], _mm_mul_pd(_mm_load_pd(w + 2 * k), _mm_load_pd(x + 2 * k)));
          b[k] = _mm_add_pd(b[k], _mm_mul_pd(_mm_load_pd(w + 16 + 2 * k), _mm_loadu_pd(x + 1 + 2 * k)));
        }
      }
      for (int k = 0; k < 4; ++k) {
        _mm_store_pd(&forward[parity][half + 2 * k], f[k]);
        _mm_store_pd(&backward[parity][half + 2 * k], b[k]);
      }
    }
  }
  // out[n] = even forward[n] + odd backward[15 - n]; out[16 + n] = odd
  // forward[n] + even backward[15 - n].
  uint32_t clipped = 0;
  for (int group = 0; group < 4; ++group) {
    const int parity = group >= 2 ? 1 : 0;
    const int first = 8 * (group & 1);
    __m128d sums[4];
    for (int k = 0; k < 4; ++k) {
      const int n = first + 2 * k;
      const __m128d reversed = _mm_load_pd(&backward[1 - parity][14 - n]);
      sums[k] = _mm_add_pd(_mm_load_pd(&forward[parity][n]), _mm_shuffle_pd(reversed, reversed, 1));
    }
    clipped |= roundEight(sums, out + 8 * group) << (8 * group);
  }
  return static_cast<int32_t>(clipped);
}

// Both channels in one pass, four outputs of each at a time: the window
// weights are loaded once for the two rings, and each sum adds the same
// products in the same order as synthesisWindowSse2, so each channel's
// samples are the same to the bit.
uint64_t synthesisWindowPairSse2(const double* left, const double* right, int32_t newest, const double* taps,
                                 int16_t* outLeft, int16_t* outRight) {
  const double* rings[2] = {left, right};
  int16_t* outs[2] = {outLeft, outRight};
  uint64_t clipped = 0;
  for (int group = 0; group < 4; ++group) {
    const int parity = group >> 1;
    __m128d sums[2][4];  // [channel][pair of outputs]
    for (int quarter = 0; quarter < 2; ++quarter) {
      // out[16 * parity + n0 + j] = forward lane n0 + j + backward lane 15 - n0 - j.
      const int n0 = 8 * (group & 1) + 4 * quarter;
      const int m0 = 12 - n0;
      __m128d f[2][2], b[2][2];  // [channel][pair of lanes]
      for (int c = 0; c < 2; ++c) f[c][0] = f[c][1] = b[c][0] = b[c][1] = _mm_setzero_pd();
      // One loop runs the forward and backward chains so their latencies overlap.
      const int forwardBase = (parity ? 0 : 16) + n0;
      const int backwardBase = (parity ? 16 : 0) + 1 + m0;
      for (int step = 0; step < 8; ++step) {
        const int af = parity + 2 * step;
        const int ab = 1 - parity + 2 * step;
        const int atF = 32 * ((newest + af) & (kSynthesisRingBlocks - 1)) + forwardBase;
        const int atB = 32 * ((newest + ab) & (kSynthesisRingBlocks - 1)) + backwardBase;
        const __m128d wf0 = _mm_load_pd(taps + 32 * af + n0);
        const __m128d wf1 = _mm_load_pd(taps + 32 * af + n0 + 2);
        const __m128d wb0 = _mm_load_pd(taps + 32 * ab + 16 + m0);
        const __m128d wb1 = _mm_load_pd(taps + 32 * ab + 16 + m0 + 2);
        for (int c = 0; c < 2; ++c) {
          f[c][0] = _mm_add_pd(f[c][0], _mm_mul_pd(wf0, _mm_load_pd(rings[c] + atF)));
          f[c][1] = _mm_add_pd(f[c][1], _mm_mul_pd(wf1, _mm_load_pd(rings[c] + atF + 2)));
          b[c][0] = _mm_add_pd(b[c][0], _mm_mul_pd(wb0, _mm_loadu_pd(rings[c] + atB)));
          b[c][1] = _mm_add_pd(b[c][1], _mm_mul_pd(wb1, _mm_loadu_pd(rings[c] + atB + 2)));
        }
      }
      for (int c = 0; c < 2; ++c) {
        sums[c][2 * quarter] = _mm_add_pd(f[c][0], _mm_shuffle_pd(b[c][1], b[c][1], 1));
        sums[c][2 * quarter + 1] = _mm_add_pd(f[c][1], _mm_shuffle_pd(b[c][0], b[c][0], 1));
      }
    }
    for (int c = 0; c < 2; ++c) {
      clipped |= static_cast<uint64_t>(roundEight(sums[c], outs[c] + 8 * group)) << (8 * group + 32 * c);
    }
  }
  return clipped;
}

}  // namespace kuv

#endif
