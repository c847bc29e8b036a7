// The window product with AVX2 and FMA; this file alone is compiled for
// them, and runs only where the processor reports both.
#include "decoder/synthesis.h"
#include "decoder/synthesis_dct.h"

#if defined(KUV_X86_SIMD) && defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

namespace kuv {

// The pair transform with four lanes: after the first halving, the sums
// and the differences each go through the same 16-point transform, so one
// vector carries {left sum, right sum, left difference, right difference}
// and runs both halves at once. Every lane does the portable transform's
// operations in its order, with no contraction into fused multiply-adds, so
// the result is the same to the bit.
#pragma GCC push_options
#pragma GCC optimize("fp-contract=off")
void synthesisDct32PairAvx2(const double* left, const double* right, double* outLeft, double* outRight) {
  typedef double Quad __attribute__((vector_size(32)));
  Quad halves[16], out[16];
  for (int k = 0; k < 16; k += 2) {
    // {L[k], R[k]}, {L[k + 1], R[k + 1]} and their mirrors at 31 - k, 30 - k.
    const __m128d l = _mm_loadu_pd(left + k), r = _mm_loadu_pd(right + k);
    const __m128d lm = _mm_loadu_pd(left + 30 - k), rm = _mm_loadu_pd(right + 30 - k);
    const __m128d x0 = _mm_unpacklo_pd(l, r), x1 = _mm_unpackhi_pd(l, r);
    const __m128d y0 = _mm_unpackhi_pd(lm, rm), y1 = _mm_unpacklo_pd(lm, rm);
    const __m128d s0 = _mm_add_pd(x0, y0), s1 = _mm_add_pd(x1, y1);
    const __m128d d0 = _mm_mul_pd(_mm_sub_pd(x0, y0), _mm_set1_pd(synthesisCosines[0][k]));
    const __m128d d1 = _mm_mul_pd(_mm_sub_pd(x1, y1), _mm_set1_pd(synthesisCosines[0][k + 1]));
    halves[k] = Quad(_mm256_insertf128_pd(_mm256_castpd128_pd256(s0), d0, 1));
    halves[k + 1] = Quad(_mm256_insertf128_pd(_mm256_castpd128_pd256(s1), d1, 1));
  }
  fastDct<Quad, 16, 1>(halves, out);
  // out[m] = {even L, even R, odd L, odd R}: X[2m] = even[m] and
  // X[2m + 1] = odd[m] + odd[m + 1] (odd[15] alone).
  for (int m = 0; m < 16; ++m) {
    __m256d v = __m256d(out[m]);
    if (m < 15) v = _mm256_blend_pd(v, _mm256_add_pd(v, __m256d(out[m + 1])), 0xC);
    // {even L, odd L, even R, odd R}
    const __m256d byChannel = _mm256_permute4x64_pd(v, 0xD8);
    _mm_storeu_pd(outLeft + 2 * m, _mm256_castpd256_pd128(byChannel));
    _mm_storeu_pd(outRight + 2 * m, _mm256_extractf128_pd(byChannel, 1));
  }
}
#pragma GCC pop_options

int32_t synthesisWindowAvx2(const double* ring, int32_t newest, const double* taps, int16_t* out) {
  // [parity][lane]: forward sums (x[base + n]) and backward ones (x[base + 1 + n]).
  alignas(32) double forward[2][16];
  alignas(32) double backward[2][16];
  for (int parity = 0; parity < 2; ++parity) {
    const int base = parity ? 0 : 16;
    __m256d f[4], b[4];
    for (int k = 0; k < 4; ++k) f[k] = b[k] = _mm256_setzero_pd();
    for (int a = parity; a < 16; a += 2) {
      const double* x = ring + 32 * ((newest + a) & (kSynthesisRingBlocks - 1)) + base;
      const double* w = taps + 32 * a;
      for (int k = 0; k < 4; ++k) {
        f[k] = _mm256_fmadd_pd(_mm256_load_pd(w + 4 * k), _mm256_load_pd(x + 4 * k), f[k]);
        b[k] = _mm256_fmadd_pd(_mm256_load_pd(w + 16 + 4 * k), _mm256_loadu_pd(x + 1 + 4 * k), b[k]);
      }
    }
    for (int k = 0; k < 4; ++k) {
      _mm256_store_pd(&forward[parity][4 * k], f[k]);
      _mm256_store_pd(&backward[parity][4 * k], b[k]);
    }
  }
  const __m256d low = _mm256_set1_pd(-40000.0);
  const __m256d high = _mm256_set1_pd(40000.0);
  const __m128i top = _mm_set1_epi32(32767);
  const __m128i bottom = _mm_set1_epi32(-32768);
  uint32_t clipped = 0;
  // out[n] = even forward[n] + odd backward[15 - n]; out[16 + n] = odd
  // forward[n] + even backward[15 - n]; eight samples per step.
  for (int group = 0; group < 4; ++group) {
    const int parity = group >= 2 ? 1 : 0;
    __m128i rounded[2];
    for (int k = 0; k < 2; ++k) {
      const int n = 8 * (group & 1) + 4 * k;
      const __m256d reversed = _mm256_permute4x64_pd(_mm256_load_pd(&backward[1 - parity][12 - n]), 0x1B);
      const __m256d sum = _mm256_add_pd(_mm256_load_pd(&forward[parity][n]), reversed);
      rounded[k] = _mm256_cvtpd_epi32(_mm256_min_pd(_mm256_max_pd(sum, low), high));
    }
    const __m128i outside0 = _mm_or_si128(_mm_cmpgt_epi32(rounded[0], top), _mm_cmplt_epi32(rounded[0], bottom));
    const __m128i outside1 = _mm_or_si128(_mm_cmpgt_epi32(rounded[1], top), _mm_cmplt_epi32(rounded[1], bottom));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * group), _mm_packs_epi32(rounded[0], rounded[1]));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(outside0)) |
                                                (_mm_movemask_ps(_mm_castsi128_ps(outside1)) << 4));
    clipped |= mask << (8 * group);
  }
  return static_cast<int32_t>(clipped);
}

// Both channels in one pass, eight outputs at a time: the window weights are
// loaded once for the two rings, and each sum adds the same products in the
// same order as synthesisWindowAvx2, so each channel's samples are the same
// to the bit.
uint64_t synthesisWindowPairAvx2(const double* left, const double* right, int32_t newest, const double* taps,
                                 int16_t* outLeft, int16_t* outRight) {
  const __m256d low = _mm256_set1_pd(-40000.0);
  const __m256d high = _mm256_set1_pd(40000.0);
  const __m128i top = _mm_set1_epi32(32767);
  const __m128i bottom = _mm_set1_epi32(-32768);
  uint64_t clipped = 0;
  for (int group = 0; group < 4; ++group) {
    // out[16 * parity + n0 + j] = forward sum of lane n0 + j over this
    // parity's ages + backward sum of lane 15 - n0 - j over the others'.
    const int parity = group >> 1;
    const int n0 = 8 * (group & 1);
    const int m0 = 8 - n0;
    __m256d f[2][2], b[2][2];  // [channel][half]
    for (int c = 0; c < 2; ++c) f[c][0] = f[c][1] = b[c][0] = b[c][1] = _mm256_setzero_pd();
    // The forward sums take this parity's ages, the backward ones the
    // other's; one loop runs all eight chains so their latencies overlap.
    const int forwardBase = (parity ? 0 : 16) + n0;
    const int backwardBase = (parity ? 16 : 0) + 1 + m0;
    for (int step = 0; step < 8; ++step) {
      const int af = parity + 2 * step;
      const int ab = 1 - parity + 2 * step;
      const int atF = 32 * ((newest + af) & (kSynthesisRingBlocks - 1)) + forwardBase;
      const int atB = 32 * ((newest + ab) & (kSynthesisRingBlocks - 1)) + backwardBase;
      const __m256d wf0 = _mm256_load_pd(taps + 32 * af + n0);
      const __m256d wf1 = _mm256_load_pd(taps + 32 * af + n0 + 4);
      const __m256d wb0 = _mm256_load_pd(taps + 32 * ab + 16 + m0);
      const __m256d wb1 = _mm256_load_pd(taps + 32 * ab + 16 + m0 + 4);
      f[0][0] = _mm256_fmadd_pd(wf0, _mm256_load_pd(left + atF), f[0][0]);
      f[0][1] = _mm256_fmadd_pd(wf1, _mm256_load_pd(left + atF + 4), f[0][1]);
      f[1][0] = _mm256_fmadd_pd(wf0, _mm256_load_pd(right + atF), f[1][0]);
      f[1][1] = _mm256_fmadd_pd(wf1, _mm256_load_pd(right + atF + 4), f[1][1]);
      b[0][0] = _mm256_fmadd_pd(wb0, _mm256_loadu_pd(left + atB), b[0][0]);
      b[0][1] = _mm256_fmadd_pd(wb1, _mm256_loadu_pd(left + atB + 4), b[0][1]);
      b[1][0] = _mm256_fmadd_pd(wb0, _mm256_loadu_pd(right + atB), b[1][0]);
      b[1][1] = _mm256_fmadd_pd(wb1, _mm256_loadu_pd(right + atB + 4), b[1][1]);
    }
    int16_t* outs[2] = {outLeft, outRight};
    for (int c = 0; c < 2; ++c) {
      __m128i rounded[2];
      for (int k = 0; k < 2; ++k) {
        const __m256d sum = _mm256_add_pd(f[c][k], _mm256_permute4x64_pd(b[c][1 - k], 0x1B));
        rounded[k] = _mm256_cvtpd_epi32(_mm256_min_pd(_mm256_max_pd(sum, low), high));
      }
      const __m128i outside0 = _mm_or_si128(_mm_cmpgt_epi32(rounded[0], top), _mm_cmplt_epi32(rounded[0], bottom));
      const __m128i outside1 = _mm_or_si128(_mm_cmpgt_epi32(rounded[1], top), _mm_cmplt_epi32(rounded[1], bottom));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[c] + 8 * group), _mm_packs_epi32(rounded[0], rounded[1]));
      const uint64_t mask = static_cast<uint64_t>(_mm_movemask_ps(_mm_castsi128_ps(outside0)) |
                                                  (_mm_movemask_ps(_mm_castsi128_ps(outside1)) << 4));
      clipped |= mask << (8 * group + 32 * c);
    }
  }
  return clipped;
}

}  // namespace kuv

#endif
