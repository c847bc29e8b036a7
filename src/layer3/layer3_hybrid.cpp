// Alias reduction and the hybrid filterbank: IMDCT, windowing, overlap-add
// and frequency inversion, from 576 lines to 18 slots of 32 subbands.
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "layer3/imdct.h"
#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"

namespace kuv {

namespace {
// Both IMDCTs reduce to a DCT-IV of half their length,
//   y[m] = sum_{k<N} X[k] cos(pi / (4N) (2m + 1) (2k + 1)),  m = 0..N-1,
// because with n = 2N the IMDCT's angle is that of y at m = i + N/2. Past
// N, y follows from the cosine's symmetries: the angle at 2N - 1 - m is
// pi (2k + 1) minus the one at m, and the angle at m + 2N is the one at m
// plus pi (2k + 1), so y[2N - 1 - m] = -y[m] and y[m + 2N] = -y[m].
// The DCT-IV of N = 2M is one M-point complex DFT. Take the even inputs
// a_j = X[2j] and the odd ones in reverse, b_j = X[N - 1 - 2j]: for those
// 2k + 1 = 2N - (4j + 1), so their angle is pi (2m + 1) / 2 minus the
// even input's, which turns cos into (-1)^m sin. With psi = pi (4p + 1)
// (4j + 1) / (4N), the even outputs m = 2p and the odd ones m = N - 1 - 2p
// (taken in reverse as well) are
//   y[2p]         = sum_j a_j cos psi + b_j sin psi = Re Z[p]
//   y[N - 1 - 2p] = sum_j a_j sin psi - b_j cos psi = Im Z[p]
// where Z[p] = sum_j (a_j - i b_j) e^(i psi). As (4p + 1) (4j + 1) =
// 16 pj + 4p + 4j + 1, e^(i psi) = e^(2 pi i pj / M) e^(i pi (4j + 1) / (4N))
// e^(i pi p / N): a twiddle before the DFT, the DFT, a twiddle after it.

// The filterbank transforms subbands in pairs, and both subbands of a pair
// take the same transform and window: each value below holds the pair's
// two subbands in its lanes (SSE2 on x86-64, plain code elsewhere).
typedef double Lanes __attribute__((vector_size(16)));

// (r + i im) times e^(i angle), given its cosine and sine.
inline void rotate(Lanes& r, Lanes& im, double c, double s) {
  const Lanes t = r * c - im * s;
  im = r * s + im * c;
  r = t;
}

// In place, Y[p] = sum_{j<3} x[j] e^(2 pi i pj / 3). As e^(+-2 pi i / 3) =
// -1/2 +- i h (h = sin(2 pi / 3)), with s = x1 + x2 and d = x1 - x2:
// Y0 = x0 + s, Y1 = x0 - s/2 + i h d, Y2 = x0 - s/2 - i h d.
inline void dft3(Lanes& r0, Lanes& i0, Lanes& r1, Lanes& i1, Lanes& r2, Lanes& i2, double h) {
  const Lanes sr = r1 + r2, si = i1 + i2;
  const Lanes dr = h * (r1 - r2), di = h * (i1 - i2);
  const Lanes mr = r0 - 0.5 * sr, mi = i0 - 0.5 * si;
  r0 += sr;
  i0 += si;
  r1 = mr - di;  // i d = -Im d + i Re d
  i1 = mi + dr;
  r2 = mr + di;
  i2 = mi - dr;
}

// The DCT-IV of 18 values through a 9-point DFT.
inline void dct4of18(const Lanes* in, Lanes* y) {
  const Layer3Tables& t = layer3Tables;
  Lanes re[9], im[9];
  for (int j = 0; j < 9; ++j) {
    // (a - i b) e^(i phi) = (a cos + b sin) + i (a sin - b cos)
    const Lanes a = in[2 * j], b = in[17 - 2 * j];
    re[j] = a * t.longPreCos[j] + b * t.longPreSin[j];
    im[j] = a * t.longPreSin[j] - b * t.longPreCos[j];
  }
  // The DFT as 3 x 3: with j = 3 j1 + j2 and p = p1 + 3 p2, pj = 3 j1 p1 +
  // j2 p1 + 3 j2 p2 (mod 9), so e^(2 pi i pj / 9) = e^(2 pi i j1 p1 / 3)
  // e^(2 pi i j2 p1 / 9) e^(2 pi i j2 p2 / 3): 3-point DFTs over j1, a
  // twiddle, 3-point DFTs over j2.
  const double h = t.dft3Sin;
  for (int j2 = 0; j2 < 3; ++j2) dft3(re[j2], im[j2], re[j2 + 3], im[j2 + 3], re[j2 + 6], im[j2 + 6], h);
  // Now [j2 + 3 p1] holds the inner sum for (j2, p1); j2 p1 is 0 where
  // either is 0, else 1, 2, 2 and 4.
  rotate(re[4], im[4], t.dft9Cos[1], t.dft9Sin[1]);
  rotate(re[7], im[7], t.dft9Cos[2], t.dft9Sin[2]);
  rotate(re[5], im[5], t.dft9Cos[2], t.dft9Sin[2]);
  rotate(re[8], im[8], t.dft9Cos[4], t.dft9Sin[4]);
  for (int p1 = 0; p1 < 3; ++p1) {
    const int b = 3 * p1;
    dft3(re[b], im[b], re[b + 1], im[b + 1], re[b + 2], im[b + 2], h);
  }
  // Z[p1 + 3 p2] sits at [3 p1 + p2].
  for (int p = 0; p < 9; ++p) {
    const int at = 3 * (p % 3) + p / 3;
    const double c = t.longPostCos[p], s = t.longPostSin[p];
    y[2 * p] = re[at] * c - im[at] * s;
    y[17 - 2 * p] = re[at] * s + im[at] * c;
  }
}

// The DCT-IV of 6 values through a 3-point DFT.
inline void dct4of6(const Lanes* in, Lanes* y) {
  const Layer3Tables& t = layer3Tables;
  Lanes re[3], im[3];
  for (int j = 0; j < 3; ++j) {
    const Lanes a = in[2 * j], b = in[5 - 2 * j];
    re[j] = a * t.shortPreCos[j] + b * t.shortPreSin[j];
    im[j] = a * t.shortPreSin[j] - b * t.shortPreCos[j];
  }
  dft3(re[0], im[0], re[1], im[1], re[2], im[2], t.dft3Sin);
  for (int p = 0; p < 3; ++p) {
    const double c = t.shortPostCos[p], s = t.shortPostSin[p];
    y[2 * p] = re[p] * c - im[p] * s;
    y[5 - 2 * p] = re[p] * s + im[p] * c;
  }
}

// The 36-point IMDCT, windowed. x[i] = y[i + 9]: outputs 0..8 read
// y[9..17]; 9..26 read y[18..35] = -y[26 - i]; 27..35 read y[36..44] =
// -y[i - 27].
inline void longBlock(const Lanes* in, const double* window, Lanes* out) {
  Lanes y[18];
  dct4of18(in, y);
  for (int i = 0; i < 9; ++i) {
    out[i] = y[9 + i] * window[i];
    out[17 - i] = -y[9 + i] * window[17 - i];
    out[18 + i] = -y[8 - i] * window[18 + i];
    out[35 - i] = -y[8 - i] * window[35 - i];
  }
}

// The 12-point IMDCT, windowed: x[i] = y[i + 3], likewise with N = 6.
inline void shortWindow(const Lanes* in, const double* window, Lanes* out) {
  Lanes y[6];
  dct4of6(in, y);
  for (int i = 0; i < 3; ++i) {
    out[i] = y[3 + i] * window[i];
    out[5 - i] = -y[3 + i] * window[5 - i];
    out[6 + i] = -y[2 - i] * window[6 + i];
    out[11 - i] = -y[2 - i] * window[11 - i];
  }
}

// Three short windows, interleaved in the subband's lines (line 3k + w is
// value k of window w), overlapped at 6, 12 and 18 of a 36-sample block.
inline void shortBlock(const Lanes* in, Lanes* out) {
  const double* window = layer3Tables.window[2];
  Lanes x[3][12];
  for (int w = 0; w < 3; ++w) {
    Lanes v[6];
    for (int k = 0; k < 6; ++k) v[k] = in[3 * k + w];
    shortWindow(v, window, x[w]);
  }
  const Lanes zero = {0.0, 0.0};
  for (int i = 0; i < 6; ++i) {
    out[i] = zero;
    out[6 + i] = x[0][i];
    out[12 + i] = x[0][6 + i] + x[1][i];
    out[18 + i] = x[1][6 + i] + x[2][i];
    out[24 + i] = x[2][6 + i];
    out[30 + i] = zero;
  }
}

// Two subbands of n values into lanes, and back.
inline void toLanes(const double* in0, const double* in1, int n, Lanes* out) {
  for (int i = 0; i < n; ++i) out[i] = Lanes{in0[i], in1[i]};
}
inline void fromLanes(const Lanes* in, int n, double* out0, double* out1) {
  for (int i = 0; i < n; ++i) {
    out0[i] = in[i][0];
    out1[i] = in[i][1];
  }
}
}  // namespace

void imdct36Pair(const double* in0, const double* in1, const double* window, double* out0, double* out1) {
  Lanes in[18], out[36];
  toLanes(in0, in1, 18, in);
  longBlock(in, window, out);
  fromLanes(out, 36, out0, out1);
}

void imdct12Pair(const double* in0, const double* in1, const double* window, double* out0, double* out1) {
  Lanes in[6], out[12];
  toLanes(in0, in1, 6, in);
  shortWindow(in, window, out);
  fromLanes(out, 12, out0, out1);
}

void aliasReduction(double* lines, const GranuleInfo& gi) {
  int32_t last;
  if (gi.blockType == 2) {
    if (!gi.mixedBlock) return;
    last = 1;
  } else {
    last = gi.maxSubband - 1;
  }
  if (last > 31) last = 31;
#if defined(__SSE2__)
  // Two butterflies at a time: the lines below the boundary run downwards,
  // so their pair is swapped on the way in and out. The same products and
  // sums as one at a time, so the same results.
  __m128d cs[4], ca[4];
  for (int i = 0; i < 4; ++i) {
    cs[i] = _mm_loadu_pd(layer3Tables.cs + 2 * i);
    ca[i] = _mm_loadu_pd(layer3Tables.ca + 2 * i);
  }
  for (int32_t sb = 1; sb <= last; ++sb) {
    double* a = lines + 18 * sb - 1;
    double* b = lines + 18 * sb;
    for (int i = 0; i < 4; ++i) {
      const __m128d down = _mm_loadu_pd(a - 2 * i - 1);  // a[-2i-1], a[-2i]
      const __m128d lower = _mm_shuffle_pd(down, down, 1);
      const __m128d upper = _mm_loadu_pd(b + 2 * i);
      const __m128d newLower = _mm_sub_pd(_mm_mul_pd(lower, cs[i]), _mm_mul_pd(upper, ca[i]));
      const __m128d newUpper = _mm_add_pd(_mm_mul_pd(upper, cs[i]), _mm_mul_pd(lower, ca[i]));
      _mm_storeu_pd(a - 2 * i - 1, _mm_shuffle_pd(newLower, newLower, 1));
      _mm_storeu_pd(b + 2 * i, newUpper);
    }
  }
#else
  for (int32_t sb = 1; sb <= last; ++sb) {
    double* a = lines + 18 * sb - 1;
    double* b = lines + 18 * sb;
    for (int i = 0; i < 8; ++i) {
      const double lower = a[-i], upper = b[i];
      a[-i] = lower * layer3Tables.cs[i] - upper * layer3Tables.ca[i];
      b[i] = upper * layer3Tables.cs[i] + lower * layer3Tables.ca[i];
    }
  }
#endif
}

void hybridFilterbank(double* lines, double slots[18][32], double overlap[18][32], const GranuleInfo& gi) {
  int32_t transformed = (gi.maxSubband + 1) & ~1;  // subbands go in pairs
  if (transformed > 32) transformed = 32;
  if (transformed < 0) transformed = 0;
  // Odd subbands are frequency-inverted: every odd slot of the pair's
  // second subband changes sign, folded into the overlap-add.
  const Lanes invert = {1.0, -1.0};
  for (int32_t sb = 0; sb < transformed; sb += 2) {
    Lanes in[18], block[36];
    toLanes(lines + 18 * sb, lines + 18 * (sb + 1), 18, in);
    if (gi.blockType == 2 && !(gi.mixedBlock && sb < 2)) {
      shortBlock(in, block);
    } else {
      // The lowest two subbands of a mixed granule take the normal window,
      // whatever the block type.
      const int type = (gi.blockType == 2 || (gi.mixedBlock && sb < 2)) ? 0 : gi.blockType & 3;
      longBlock(in, layer3Tables.window[type], block);
    }
    // The overlap and the slots hold a pair's two subbands side by side.
    for (int t = 0; t < 18; ++t) {
      Lanes sum;
      std::memcpy(&sum, &overlap[t][sb], sizeof sum);
      sum += block[t];
      if (t & 1) sum *= invert;
      std::memcpy(&slots[t][sb], &sum, sizeof sum);
      std::memcpy(&overlap[t][sb], &block[18 + t], sizeof sum);
    }
  }
  // Subbands with no values: only the overlap comes out.
  if (transformed < 32) {
    for (int t = 0; t < 18; ++t) {
      for (int32_t sb = transformed; sb < 32; ++sb) {
        slots[t][sb] = (t & sb & 1) ? -overlap[t][sb] : overlap[t][sb];
        overlap[t][sb] = 0.0;
      }
    }
  }
}

}  // namespace kuv
