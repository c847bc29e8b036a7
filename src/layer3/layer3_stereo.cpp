// Intensity stereo: one signal in channel 0 spread over both channels by a
// position per band carried in the second channel's scale factors.
#include "config/settings.h"
#include "layer3/band_tables.h"
#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"

namespace kuv {

namespace {

struct Ratios {
  const double* left;
  const double* right;
};

inline void spread(double* ch0, double* ch1, int32_t first, int32_t count, int32_t step, int32_t position,
                   const Ratios& r) {
  if (position < 0 || position >= 64) return;
  const double l = r.left[position], rr = r.right[position];
  for (int32_t j = 0, line = first; j < count && line < 576; ++j, line += step) {
    if (line < 0) continue;
    const double v = ch0[line];
    ch0[line] = v * l;
    ch1[line] = v * rr;
  }
}

// A band takes part when its position is not the "not intensity coded" one.
inline bool coded(const ScaleFactors& sf, int32_t slot) {
  return slot >= 0 && slot < kScaleFactorSlots && sf.values[slot] < sf.intensityLimit[slot];
}

}  // namespace

void applyIntensityStereo(double* ch0, double* ch1, const ScaleFactors& sf, const GranuleInfo& gi, int32_t rate,
                          bool msStereo, int32_t lsf, int32_t intensityScale) {
  const int ms = msStereo ? 1 : 0;
  Ratios r;
  if (lsf) {
    const int s = intensityScale & 1;
    r = {layer3Tables.lsfIntensityLeft[s][ms], layer3Tables.lsfIntensityRight[s][ms]};
  } else {
    r = {layer3Tables.intensityLeft[ms], layer3Tables.intensityRight[ms]};
  }
  const int16_t* longBounds = kLongBandBounds[rate];
  const int16_t* shortBounds = kShortBandBounds[rate];

  auto longBands = [&](int32_t from, int32_t to) {
    for (int32_t b = from; b <= to && b < 22; ++b) {
      // Band 21 has no scale factor of its own: it follows band 20.
      const int32_t slot = b == 21 ? 20 : b;
      if (!coded(sf, slot)) continue;
      spread(ch0, ch1, longBounds[b], longBounds[b + 1] - longBounds[b], 1, sf.values[slot], r);
    }
  };

  if (gi.blockType != 2) {
    longBands(gi.maxBandLong, 21);
    return;
  }

  const bool mixed = gi.mixedBlock != 0;
  const int32_t firstShort = mixed ? layer3Tables.mixedFirstShort[rate] : 0;
  for (int w = 0; w < 3; ++w) {
    const int32_t from = gi.maxBand[w] > firstShort ? gi.maxBand[w] : firstShort;
    for (int32_t b = from; b < 12; ++b) {
      const int32_t slot = shortSlot(mixed, rate, b, w);
      if (!coded(sf, slot)) continue;
      spread(ch0, ch1, 3 * shortBounds[b] + w, shortBounds[b + 1] - shortBounds[b], 3, sf.values[slot], r);
    }
    // The top of the window has no position of its own. Only when the
    // second channel carries nothing there.
    if (gi.maxBand[w] > 12) continue;
    const int32_t mode = sharedSetting(settings.MappingMode);
    if (mode == 1) {
      const int32_t slot = shortSlot(mixed, rate, 10, w);
      if (gi.maxBand[w] <= 11 && coded(sf, slot)) {
        spread(ch0, ch1, 3 * shortBounds[11] + w, shortBounds[12] - shortBounds[11], 3, sf.values[slot], r);
      }
    } else if (mode == 2) {
      const int32_t slot = shortSlot(mixed, rate, 11, w);
      if (coded(sf, slot)) {
        spread(ch0, ch1, 3 * shortBounds[12] + w, shortBounds[13] - shortBounds[12], 3, sf.values[slot], r);
      }
    } else {
      // An average of the upper bands' positions over an averaged stretch.
      int32_t sum = 0;
      for (int b = 9; b <= 12; ++b) {
        const int32_t slot = shortSlot(mixed, rate, b, w);
        sum += slot >= 0 && slot < kScaleFactorSlots ? sf.values[slot] : 0;
      }
      const int32_t position = sum / 4;
      const int32_t first = (3 * (shortBounds[10] + shortBounds[11] + shortBounds[12]) + 576 + 4 * w) / 4;
      const int32_t count = (shortBounds[13] - shortBounds[10]) / 4;
      const int32_t limit = sf.intensityLimit[shortSlot(mixed, rate, 11, w)];
      if (position < limit) spread(ch0, ch1, first, count, 3, position, r);
    }
  }
  if (mixed && gi.maxBand[0] <= firstShort && gi.maxBand[1] <= firstShort && gi.maxBand[2] <= firstShort) {
    longBands(gi.maxBandLong, layer3Tables.mixedLongBands[rate] - 1);
  }
}

}  // namespace kuv
