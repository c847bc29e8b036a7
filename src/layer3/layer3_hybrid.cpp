// Alias reduction and the hybrid filterbank: IMDCT, windowing, overlap-add
// and frequency inversion, from 576 lines to 18 slots of 32 subbands.
#include <cstring>

#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"

namespace kuv {

namespace {
inline void longTransform(const double* in, const double* window, double* out36) {
  // The 36 outputs come in mirrored pairs: x[17 - i] = -x[i] and
  // x[35 - i] = x[18 + i], so 18 sums (outputs 0..8 and 18..26) give all.
  double sums[18] = {};
  for (int k = 0; k < 18; ++k) {
    const double v = in[k];
    const double* c = layer3Tables.longCosByInput[k];
    for (int j = 0; j < 18; ++j) sums[j] += v * c[j];
  }
  double x[36];
  for (int i = 0; i < 9; ++i) {
    x[i] = sums[i];
    x[17 - i] = -sums[i];
    x[18 + i] = sums[9 + i];
    x[35 - i] = sums[9 + i];
  }
  for (int i = 0; i < 36; ++i) out36[i] = x[i] * window[i];
}

inline void shortTransform(const double* in, double* out36) {
  const double* window = layer3Tables.window[2];
  for (int i = 0; i < 36; ++i) out36[i] = 0.0;
  for (int w = 0; w < 3; ++w) {
    for (int i = 0; i < 12; ++i) {
      const double* c = layer3Tables.shortCos[i];
      double sum = 0.0;
      for (int k = 0; k < 6; ++k) sum += in[3 * k + w] * c[k];
      out36[6 + 6 * w + i] += sum * window[i];
    }
  }
}
}  // namespace

void aliasReduction(double* lines, const GranuleInfo& gi) {
  int32_t last;
  if (gi.blockType == 2) {
    if (!gi.mixedBlock) return;
    last = 1;
  } else {
    last = gi.maxSubband - 1;
  }
  for (int32_t sb = 1; sb <= last && sb < 32; ++sb) {
    double* a = lines + 18 * sb - 1;
    double* b = lines + 18 * sb;
    for (int i = 0; i < 8; ++i) {
      const double lower = a[-i], upper = b[i];
      a[-i] = lower * layer3Tables.cs[i] - upper * layer3Tables.ca[i];
      b[i] = upper * layer3Tables.cs[i] + lower * layer3Tables.ca[i];
    }
  }
}

void hybridFilterbank(double* lines, double slots[18][32], double overlap[32][18], const GranuleInfo& gi) {
  int32_t transformed = (gi.maxSubband + 1) & ~1;  // subbands go in pairs
  if (transformed > 32) transformed = 32;
  double block[36];
  for (int32_t sb = 0; sb < 32; ++sb) {
    if (sb < transformed) {
      const double* in = lines + 18 * sb;
      if (gi.blockType == 2 && !(gi.mixedBlock && sb < 2)) {
        shortTransform(in, block);
      } else {
        // The lowest two subbands of a mixed granule take the normal window,
        // whatever the block type.
        const int type = (gi.blockType == 2 || (gi.mixedBlock && sb < 2)) ? 0 : gi.blockType & 3;
        longTransform(in, layer3Tables.window[type], block);
      }
      for (int t = 0; t < 18; ++t) {
        slots[t][sb] = overlap[sb][t] + block[t];
        overlap[sb][t] = block[18 + t];
      }
    } else {
      for (int t = 0; t < 18; ++t) {
        slots[t][sb] = overlap[sb][t];
        overlap[sb][t] = 0.0;
      }
    }
    // Odd subbands are frequency-inverted: every odd slot changes sign.
    if (sb & 1) {
      for (int t = 1; t < 18; t += 2) slots[t][sb] = -slots[t][sb];
    }
  }
}

}  // namespace kuv
