// Huffman decoding and requantisation of one channel of one granule.
#include <bit>
#include <cstring>

#include "decoder/bit_reader.h"
#include "layer3/band_tables.h"
#include "layer3/huffman_lookup.h"
#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"

namespace kuv {

namespace {

inline int32_t clampGain(int32_t index) {
  if (index < 0) return 0;
  return index >= kGainTableSize ? kGainTableSize - 1 : index;
}

inline void noteNonZero(GranuleInfo& gi, const BandEntry& e) {
  if (e.window == 3) {
    if (e.band + 1 > gi.maxBandLong) gi.maxBandLong = e.band + 1;
  } else if (e.band + 1 > gi.maxBand[e.window]) {
    gi.maxBand[e.window] = e.band + 1;
  }
}

// Follows the granule's band list as values are written.
struct BandCursor {
  const BandList* list;
  int32_t entry = -1;
  int32_t left = 0;  // values left in the current entry
  int32_t line = 0;  // next line
  int32_t step = 1;
  double gain = 0.0;
  bool exhausted = false;
  // Whether the current entry got a non-zero value: noted once per entry
  // rather than tested per value.
  bool nonZero = false;

  void noteEntry(GranuleInfo& gi) {
    if (nonZero) noteNonZero(gi, list->entries[entry]);
    nonZero = false;
  }
  // Moves to the next entry when the current one is used up.
  void advance(const ScaleFactors& sf, GranuleInfo& gi) {
    while (left == 0) {
      noteEntry(gi);
      if (++entry >= list->count) {
        exhausted = true;
        return;
      }
      const BandEntry& e = list->entries[entry];
      left = e.width;
      line = e.first;
      step = e.step;
      const int32_t shift = 1 + gi.scalefacScale;
      int32_t index;
      if (e.window == 3) {
        const int32_t pre = gi.preflag ? kPretab[e.band < 22 ? e.band : 21] : 0;
        index = gi.gainBase + ((sf.values[e.slot] + pre) << shift);
      } else {
        index = gi.windowGain[e.window] + (sf.values[e.slot] << shift);
      }
      gain = layer3Tables.gain[clampGain(index)];
    }
  }
};

// Lines of one channel.
struct PlainSink {
  double* lines;
  void put(int32_t line, double value) { lines[line] = value; }
  void rest(int32_t first, int32_t count, int32_t step) {
    if (step == 1) {
      std::memset(lines + first, 0, static_cast<size_t>(count) * sizeof(double));
      return;
    }
    for (int32_t j = 0; j < count; ++j) lines[first + j * step] = 0.0;
  }
};

// Side values against mid lines already decoded. A zero side value leaves
// both channels the mid value: m + 0 and m - 0 are m, as the mid lines are
// never -0.
struct MidSideSink {
  double* mid;
  double* side;
  void put(int32_t line, double s) {
    const double m = mid[line];
    mid[line] = m + s;
    side[line] = m - s;
  }
  void rest(int32_t first, int32_t count, int32_t step) {
    if (step == 1) {
      std::memcpy(side + first, mid + first, static_cast<size_t>(count) * sizeof(double));
      return;
    }
    for (int32_t j = 0; j < count; ++j) side[first + j * step] = mid[first + j * step];
  }
};

// A value with its sign put straight into the sign bit; a zero never has one.
inline double signedValue(const double* pow43, uint32_t magnitude, uint32_t sign) {
  return std::bit_cast<double>(std::bit_cast<uint64_t>(pow43[magnitude]) ^ (static_cast<uint64_t>(sign) << 63));
}

// Decodes the granule's values into `sink`: put(line, value) for every line
// a value reaches, rest(first, count, step) for the lines after the last
// one, so every line is written once.
template <typename Sink>
int32_t decodeValues(const ScaleFactors& sf, GranuleInfo& gi, int32_t rate, int32_t part2Length, BitReader& bits,
                     Sink sink) {
  const int kind = gi.blockType != 2 ? kLongBands : (gi.mixedBlock ? kMixedBands : kShortBands);
  BandCursor cursor;
  cursor.list = &layer3Tables.bands[rate][kind];
  gi.maxBandLong = 0;
  const int32_t firstWindowBand = kind == kMixedBands ? layer3Tables.mixedFirstShort[rate] : 0;
  for (int w = 0; w < 3; ++w) gi.maxBand[w] = firstWindowBand;

  BudgetReader in(bits, gi.part23Length - part2Length);
  const double* pow43 = layer3Tables.pow43;
  int32_t pairs = gi.bigValues;
  const int32_t region0 = pairs < gi.region1Start ? pairs : gi.region1Start;
  const int32_t region1End = pairs < gi.region2Start ? pairs : gi.region2Start;

  // One value at a time: for a band boundary inside a pair or quadruple,
  // and for values past the last line.
  auto put = [&](double value) {
    cursor.advance(sf, gi);
    if (cursor.exhausted) return;
    cursor.nonZero |= value != 0.0;
    sink.put(cursor.line, value * cursor.gain);
    cursor.line += cursor.step;
    --cursor.left;
  };

  // One loop per region, its table fixed; inside it, runs of whole pairs
  // within one band, its gain and step fixed. The band lists hold only
  // lines 0..575, so a run's lines need no check.
  const int32_t regionEnd[3] = {region0, region1End, pairs};
  int32_t pair = 0;
  bool overrun = false;
  for (int region = 0; region < 3 && !overrun; ++region) {
    const HuffmanLookupTable& table = huffmanLookup.tables[gi.tableSelect[region] & 31];
    while (pair < regionEnd[region]) {
      if (cursor.left == 0) cursor.advance(sf, gi);
      uint32_t magnitude[2], sign[2];
      if (cursor.left >= 2) {
        int32_t run = cursor.left >> 1;
        if (run > regionEnd[region] - pair) run = regionEnd[region] - pair;
        const double gain = cursor.gain;
        const int32_t step = cursor.step;
        int32_t line = cursor.line;
        uint32_t any = 0;
        for (int32_t k = 0; k < run; ++k) {
          decodePair(table, in, magnitude, sign);
          any |= magnitude[0] | magnitude[1];
          sink.put(line, signedValue(pow43, magnitude[0], sign[0]) * gain);
          sink.put(line + step, signedValue(pow43, magnitude[1], sign[1]) * gain);
          line += 2 * step;
        }
        cursor.line = line;
        cursor.left -= 2 * run;
        cursor.nonZero |= any != 0;
        pair += run;
      } else {
        decodePair(table, in, magnitude, sign);
        put(signedValue(pow43, magnitude[0], sign[0]));
        put(signedValue(pow43, magnitude[1], sign[1]));
        ++pair;
      }
      // An overrun spoils the granule whatever the lines hold, so it is
      // looked at once per run.
      if (in.remaining < 0) {
        overrun = true;
        break;
      }
    }
  }

  // Quadruples, while the budget lasts and lines are left.
  const int32_t tableB = gi.count1Table & 1;
  while (!overrun && in.remaining > 0 && !cursor.exhausted) {
    int32_t values[4];
    const int32_t count = decodeQuad(tableB, in, values);
    if (count == 4 && cursor.left >= 4) {
      const double gain = cursor.gain;
      const int32_t step = cursor.step;
      for (int i = 0; i < 4; ++i) sink.put(cursor.line + i * step, static_cast<double>(values[i]) * gain);
      cursor.nonZero |= (values[0] | values[1] | values[2] | values[3]) != 0;
      cursor.line += 4 * step;
      cursor.left -= 4;
    } else {
      for (int i = 0; i < count; ++i) put(static_cast<double>(values[i]));
    }
    if (in.remaining < 0) break;
    cursor.advance(sf, gi);
  }
  if (kind == kMixedBands) {
    // Where the long part ends below the first short band (8 kHz), lines
    // lie in no band: no value reaches them.
    const int32_t gapFirst = kLongBandBounds[rate][layer3Tables.mixedLongBands[rate]];
    const int32_t gapEnd = 3 * kShortBandBounds[rate][layer3Tables.mixedFirstShort[rate]];
    if (gapFirst >= 0 && gapEnd <= 576 && gapEnd > gapFirst) sink.rest(gapFirst, gapEnd - gapFirst, 1);
  }
  if (!cursor.exhausted) {
    cursor.noteEntry(gi);
    // The lines no value reached: the rest of this entry and the entries
    // after it.
    if (cursor.left > 0) sink.rest(cursor.line, cursor.left, cursor.step);
    for (int32_t e = cursor.entry + 1; e < cursor.list->count; ++e) {
      const BandEntry& entry = cursor.list->entries[e];
      sink.rest(entry.first, entry.width, entry.step);
    }
  }
  // What is left of the budget is stuffing, skipped by the caller.
  return in.remaining < 0 ? 1 : 0;
}

void setLimits(GranuleInfo& gi, int32_t rate) {
  if (gi.blockType == 2) {
    int32_t widest = gi.maxBand[0];
    if (gi.maxBand[1] > widest) widest = gi.maxBand[1];
    if (gi.maxBand[2] > widest) widest = gi.maxBand[2];
    gi.maxSubband = widest ? layer3Tables.shortLimit[rate][widest] : layer3Tables.longLimit[rate][gi.maxBandLong];
    if (gi.mixedBlock) {
      const int32_t longPart = layer3Tables.longLimit[rate][gi.maxBandLong];
      if (longPart > gi.maxSubband) gi.maxSubband = longPart;
    }
  } else {
    gi.maxSubband = layer3Tables.longLimit[rate][gi.maxBandLong];
  }
}

}  // namespace

int32_t decodeGranuleLines(double* lines, const ScaleFactors& sf, GranuleInfo& gi, int32_t rate, int32_t part2Length,
                           BitReader& bits) {
  const int32_t result = decodeValues(sf, gi, rate, part2Length, bits, PlainSink{lines});
  setLimits(gi, rate);
  return result;
}

int32_t decodeGranuleLinesMS(double* mid, double* side, const ScaleFactors& sf, GranuleInfo& gi, int32_t rate,
                             int32_t part2Length, BitReader& bits) {
  const int32_t result = decodeValues(sf, gi, rate, part2Length, bits, MidSideSink{mid, side});
  setLimits(gi, rate);
  return result;
}

}  // namespace kuv
