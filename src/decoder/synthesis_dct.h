// The synthesis filter's 32-point transform, shared by the portable code and
// the AVX2 file (which compiles the same operations with its wider encoding).
#pragma once

#include <cstdint>

namespace kuv {

// 1 / (2 cos((2i + 1) pi / (64 >> k))) for the five stages of the transform.
extern double synthesisCosines[5][16];

// Both channels of a stereo block in one pass: lane 0 is channel 0, lane 1
// channel 1. Each lane runs exactly the scalar transform's operations (no
// contraction, no reordering), so the result is the same to the bit; two
// lanes per instruction halve the transform's cost where the processor has
// vectors, and the compiler splits them elsewhere.
typedef double DoublePair __attribute__((vector_size(16)));

// Fast DCT-II by recursive halving: X[m] = sum x[k] cos(pi (2k + 1) m / 2N),
// on doubles or on channel pairs. Every loop is unrolled and every call
// inlined, so the whole transform is straight-line code whose temporaries
// the compiler keeps in registers.
template <typename T, int N, int Stage>
[[gnu::always_inline]] inline void fastDct(const T* x, T* out) {
  if constexpr (N == 1) {
    out[0] = x[0];
  } else {
    constexpr int H = N / 2;
    T sums[H], diffs[H], even[H], odd[H];
#pragma GCC unroll 16
    for (int k = 0; k < H; ++k) {
      sums[k] = x[k] + x[N - 1 - k];
      diffs[k] = (x[k] - x[N - 1 - k]) * synthesisCosines[Stage][k];
    }
    fastDct<T, H, Stage + 1>(sums, even);
    fastDct<T, H, Stage + 1>(diffs, odd);
#pragma GCC unroll 16
    for (int m = 0; m < H - 1; ++m) {
      out[2 * m] = even[m];
      out[2 * m + 1] = odd[m] + odd[m + 1];
    }
    out[N - 2] = even[H - 1];
    out[N - 1] = odd[H - 1];
  }
}

// Both channels' transforms into their rings.
[[gnu::always_inline]] inline void dct32PairInline(const double* left, const double* right, double* outLeft,
                                                   double* outRight) {
  DoublePair in[32], out[32];
#pragma GCC unroll 32
  for (int k = 0; k < 32; ++k) in[k] = DoublePair{left[k], right[k]};
  fastDct<DoublePair, 32, 0>(in, out);
#pragma GCC unroll 32
  for (int k = 0; k < 32; ++k) {
    outLeft[k] = out[k][0];
    outRight[k] = out[k][1];
  }
}

using SynthesisDctPairFn = void (*)(const double* left, const double* right, double* outLeft, double* outRight);
#if defined(KUV_X86_SIMD)
void synthesisDct32PairAvx2(const double* left, const double* right, double* outLeft, double* outRight);
#endif

}  // namespace kuv
