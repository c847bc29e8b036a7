// Tables the Layer III stages share, computed by initLayer3Tables.
#pragma once

#include <cstdint>

namespace kuv {

constexpr int32_t kGainTableSize = 378;
constexpr int32_t kPowTableSize = 8207;

// One entry of a band list: `width` values go to lines first, first + step,
// ... (step 1 for a long band, 3 for a window of a short band).
struct BandEntry {
  int16_t width;
  int16_t first;
  int8_t window;  // 0..2, or 3 for a long band
  int8_t band;
  int8_t slot;  // scale factor slot
  int8_t step;
};

// A granule's band list in transmission order; its entries cover the 576
// lines.
struct BandList {
  BandEntry entries[40];
  int32_t count;
};

enum BandKind { kLongBands = 0, kShortBands = 1, kMixedBands = 2 };

struct Layer3Tables {
  double gain[kGainTableSize];  // 2^(-(k - 46) / 4)
  double pow43[kPowTableSize];  // n^(4/3)
  BandList bands[9][3];         // by rate index and kind
  // Long bands and the first short band of a mixed granule, by rate index.
  int32_t mixedLongBands[9];
  int32_t mixedFirstShort[9];
  // Subbands needed to hold the lines up to each band boundary (at most
  // 32; a down-sampling stream caps them further per granule).
  int32_t longLimit[9][23];
  int32_t shortLimit[9][14];
  // LSF scale factor lengths: slen1..4 in 3-bit fields, table row in bits
  // 12-14, preflag in bit 15.
  uint16_t lsfSlen[512];
  uint16_t lsfIntensitySlen[256];
  // Intensity ratios by position.
  double intensityLeft[2][64];  // [msOn][position], MPEG-1
  double intensityRight[2][64];
  double lsfIntensityLeft[2][2][64];  // [intensity scale][msOn][position]
  double lsfIntensityRight[2][2][64];
  // Alias reduction.
  double cs[8];
  double ca[8];
  // IMDCT windows by block type.
  double window[4][36];
  // Twiddles of the fast IMDCT (layer3_hybrid.cpp), as cosine and sine of
  // the angle. The 18-point cosine transform: before its 9-point DFT
  // pi (4n + 1) / 72, after it pi p / 18; the DFT's own: 2 pi k / 9
  // (k = 0..4). The 6-point one: pi (4n + 1) / 24 and pi p / 6. The 3-point
  // DFTs: sin(2 pi / 3).
  double longPreCos[9], longPreSin[9];
  double longPostCos[9], longPostSin[9];
  double dft9Cos[5], dft9Sin[5];
  double shortPreCos[3], shortPreSin[3];
  double shortPostCos[3], shortPostSin[3];
  double dft3Sin;
};

extern Layer3Tables layer3Tables;
// 576 gains, unity until setupEqualiser runs.
extern float equaliserTable[576];

// Scale factor slot of short band b, window w, in a short or mixed granule.
inline int32_t shortSlot(bool mixed, int32_t rateIndex, int32_t band, int32_t window) {
  if (!mixed) return 3 * band + window;
  return layer3Tables.mixedLongBands[rateIndex] + 3 * (band - layer3Tables.mixedFirstShort[rateIndex]) + window;
}

}  // namespace kuv
