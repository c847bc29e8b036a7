#include "layer3/layer3_tables.h"

#include <cmath>

#include "layer3/band_tables.h"
#include "layer3/huffman_lookup.h"
#include "layer3/layer3.h"

namespace kuv {

Layer3Tables layer3Tables;
float equaliserTable[576] = {
#define KUV_ONE8 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f
#define KUV_ONE64 KUV_ONE8, KUV_ONE8, KUV_ONE8, KUV_ONE8, KUV_ONE8, KUV_ONE8, KUV_ONE8, KUV_ONE8
    KUV_ONE64, KUV_ONE64, KUV_ONE64, KUV_ONE64, KUV_ONE64, KUV_ONE64, KUV_ONE64, KUV_ONE64, KUV_ONE64,
#undef KUV_ONE64
#undef KUV_ONE8
};

namespace {

void addEntry(BandList& list, int width, int first, int window, int band, int slot, int step) {
  if (list.count >= 40 || width <= 0) return;
  list.entries[list.count++] =
      BandEntry{static_cast<int16_t>(width), static_cast<int16_t>(first), static_cast<int8_t>(window),
                static_cast<int8_t>(band),   static_cast<int8_t>(slot),   static_cast<int8_t>(step)};
}

void buildBandLists(int rate) {
  const int16_t* longBounds = kLongBandBounds[rate];
  const int16_t* shortBounds = kShortBandBounds[rate];
  // A mixed granule keeps long windows for its first 36 lines (two
  // subbands): the long bands below line 36, then the short bands from the
  // first that starts at or above it.
  int longCount = 0;
  while (longCount < 22 && longBounds[longCount + 1] <= 36) ++longCount;
  int firstShort = 0;
  while (firstShort < 13 && 3 * shortBounds[firstShort] < 36) ++firstShort;
  layer3Tables.mixedLongBands[rate] = longCount;
  layer3Tables.mixedFirstShort[rate] = firstShort;

  BandList& longList = layer3Tables.bands[rate][kLongBands];
  longList.count = 0;
  for (int b = 0; b < 22; ++b) addEntry(longList, longBounds[b + 1] - longBounds[b], longBounds[b], 3, b, b, 1);

  BandList& shortList = layer3Tables.bands[rate][kShortBands];
  shortList.count = 0;
  for (int b = 0; b < 13; ++b) {
    for (int w = 0; w < 3; ++w) {
      addEntry(shortList, shortBounds[b + 1] - shortBounds[b], 3 * shortBounds[b] + w, w, b,
               shortSlot(false, rate, b, w), 3);
    }
  }

  BandList& mixedList = layer3Tables.bands[rate][kMixedBands];
  mixedList.count = 0;
  for (int b = 0; b < longCount; ++b) addEntry(mixedList, longBounds[b + 1] - longBounds[b], longBounds[b], 3, b, b, 1);
  for (int b = firstShort; b < 13; ++b) {
    for (int w = 0; w < 3; ++w) {
      addEntry(mixedList, shortBounds[b + 1] - shortBounds[b], 3 * shortBounds[b] + w, w, b,
               shortSlot(true, rate, b, w), 3);
    }
  }
}

uint16_t packSlen(int s1, int s2, int s3, int s4, int row, int preflag) {
  return static_cast<uint16_t>(s1 | (s2 << 3) | (s3 << 6) | (s4 << 9) | (row << 12) | (preflag << 15));
}

void buildLsfSlenTables() {
  for (int a = 0; a < 5; ++a)
    for (int b = 0; b < 5; ++b)
      for (int c = 0; c < 4; ++c)
        for (int d = 0; d < 4; ++d) layer3Tables.lsfSlen[a * 80 + b * 16 + c * 4 + d] = packSlen(a, b, c, d, 0, 0);
  for (int a = 0; a < 5; ++a)
    for (int b = 0; b < 5; ++b)
      for (int c = 0; c < 4; ++c) layer3Tables.lsfSlen[400 + a * 20 + b * 4 + c] = packSlen(a, b, c, 0, 1, 0);
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 3; ++b) layer3Tables.lsfSlen[500 + a * 3 + b] = packSlen(a, b, 0, 0, 2, 1);
  for (int a = 0; a < 5; ++a)
    for (int b = 0; b < 6; ++b)
      for (int c = 0; c < 6; ++c) layer3Tables.lsfIntensitySlen[a * 36 + b * 6 + c] = packSlen(a, b, c, 0, 3, 0);
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b)
      for (int c = 0; c < 4; ++c) layer3Tables.lsfIntensitySlen[180 + a * 16 + b * 4 + c] = packSlen(a, b, c, 0, 4, 0);
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 3; ++b) layer3Tables.lsfIntensitySlen[244 + a * 3 + b] = packSlen(a, b, 0, 0, 5, 0);
}

void buildIntensityTables() {
  for (int p = 0; p < 64; ++p) {
    double left = 0, right = 0;
    if (p < 7) {
      const double t = std::tan(p * M_PI / 12.0);
      // Position 6 is a right angle: all of the signal goes left.
      left = p == 6 ? 1.0 : t / (1.0 + t);
      right = p == 6 ? 0.0 : 1.0 / (1.0 + t);
    }
    layer3Tables.intensityLeft[0][p] = left;
    layer3Tables.intensityRight[0][p] = right;
    layer3Tables.intensityLeft[1][p] = std::sqrt(2.0) * left;
    layer3Tables.intensityRight[1][p] = std::sqrt(2.0) * right;
    for (int s = 0; s < 2; ++s) {
      const double k = std::pow(2.0, -(s + 1) / 4.0);
      double l = 1.0, r = 1.0;
      if (p > 0 && (p & 1)) l = std::pow(k, (p + 1) / 2);
      if (p > 0 && !(p & 1)) r = std::pow(k, p / 2);
      layer3Tables.lsfIntensityLeft[s][0][p] = l;
      layer3Tables.lsfIntensityRight[s][0][p] = r;
      layer3Tables.lsfIntensityLeft[s][1][p] = std::sqrt(2.0) * l;
      layer3Tables.lsfIntensityRight[s][1][p] = std::sqrt(2.0) * r;
    }
  }
}

void buildImdct() {
  double(*w)[36] = layer3Tables.window;
  for (int i = 0; i < 36; ++i) w[0][i] = std::sin(M_PI / 36 * (i + 0.5));
  for (int i = 0; i < 18; ++i) w[1][i] = std::sin(M_PI / 36 * (i + 0.5));
  for (int i = 18; i < 24; ++i) w[1][i] = 1.0;
  for (int i = 24; i < 30; ++i) w[1][i] = std::sin(M_PI / 12 * (i - 18 + 0.5));
  for (int i = 30; i < 36; ++i) w[1][i] = 0.0;
  for (int i = 0; i < 36; ++i) w[2][i] = i < 12 ? std::sin(M_PI / 12 * (i + 0.5)) : 0.0;
  for (int i = 0; i < 6; ++i) w[3][i] = 0.0;
  for (int i = 6; i < 12; ++i) w[3][i] = std::sin(M_PI / 12 * (i - 6 + 0.5));
  for (int i = 12; i < 18; ++i) w[3][i] = 1.0;
  for (int i = 18; i < 36; ++i) w[3][i] = std::sin(M_PI / 36 * (i + 0.5));
  Layer3Tables& t = layer3Tables;
  for (int n = 0; n < 9; ++n) {
    t.longPreCos[n] = std::cos(M_PI * (4 * n + 1) / 72);
    t.longPreSin[n] = std::sin(M_PI * (4 * n + 1) / 72);
    t.longPostCos[n] = std::cos(M_PI * n / 18);
    t.longPostSin[n] = std::sin(M_PI * n / 18);
  }
  for (int k = 0; k < 5; ++k) {
    t.dft9Cos[k] = std::cos(2 * M_PI * k / 9);
    t.dft9Sin[k] = std::sin(2 * M_PI * k / 9);
  }
  for (int n = 0; n < 3; ++n) {
    t.shortPreCos[n] = std::cos(M_PI * (4 * n + 1) / 24);
    t.shortPreSin[n] = std::sin(M_PI * (4 * n + 1) / 24);
    t.shortPostCos[n] = std::cos(M_PI * n / 6);
    t.shortPostSin[n] = std::sin(M_PI * n / 6);
  }
  t.dft3Sin = std::sqrt(3.0) / 2;
}

}  // namespace

void initLayer3Tables() {
  for (int k = 0; k < kGainTableSize; ++k) layer3Tables.gain[k] = std::pow(2.0, -(k - 46) / 4.0);
  for (int n = 0; n < kPowTableSize; ++n) layer3Tables.pow43[n] = std::pow(static_cast<double>(n), 4.0 / 3.0);
  for (int rate = 0; rate < 9; ++rate) {
    buildBandLists(rate);
    for (int b = 0; b < 23; ++b) {
      const int32_t n = (kLongBandBounds[rate][b] + 7) / 18 + 1;
      layer3Tables.longLimit[rate][b] = n < 32 ? n : 32;
    }
    for (int b = 0; b < 14; ++b) {
      const int32_t n = (3 * kShortBandBounds[rate][b] - 1) / 18 + 1;
      layer3Tables.shortLimit[rate][b] = n < 1 ? 1 : (n < 32 ? n : 32);
    }
  }
  buildLsfSlenTables();
  buildIntensityTables();
  for (int i = 0; i < 8; ++i) {
    const double c = kAliasCoefficients[i];
    layer3Tables.cs[i] = 1.0 / std::sqrt(1.0 + c * c);
    layer3Tables.ca[i] = c / std::sqrt(1.0 + c * c);
  }
  buildImdct();
  buildHuffmanLookup();
}

void setupEqualiser(const int32_t bands[15]) {
  static const int kPins[15] = {0, 2, 4, 7, 10, 15, 20, 30, 50, 100, 150, 200, 300, 400, 576};
  double gains[15];
  for (int b = 0; b < 15; ++b) gains[b] = bands[b] * 0.001;
  for (int b = 0; b < 14; ++b) {
    const int from = kPins[b], to = kPins[b + 1];
    for (int i = from; i < to && i < 576; ++i) {
      equaliserTable[i] = static_cast<float>(gains[b] + (i - from) * (gains[b + 1] - gains[b]) / (to - from));
    }
  }
}

}  // namespace kuv
