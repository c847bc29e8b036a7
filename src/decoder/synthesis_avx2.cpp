// The window product with AVX2 and FMA; this file alone is compiled for
// them, and runs only where the processor reports both.
#include "decoder/synthesis.h"

#if defined(KUV_X86_SIMD) && defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

namespace kuv {

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

}  // namespace kuv

#endif
