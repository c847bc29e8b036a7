// Huffman decoding and requantisation of one channel of one granule.
#include <cstring>

#include "decoder/bit_reader.h"
#include "layer3/band_tables.h"
#include "layer3/huffman_tables.h"
#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"

namespace kuv {

namespace {

// Reads the bits of the granule's Huffman data from a 64-bit cache,
// counting them against its budget. The caller puts the bit reader at the
// granule's end afterwards, so this reader never hands its position back.
struct BudgetReader {
  const uint8_t* data;
  uint32_t nextByte;  // next byte to load into the cache
  uint64_t cache = 0;
  int32_t cached = 0;  // valid bits, from the top of the cache
  int32_t remaining;

  BudgetReader(BitReader& bits, int32_t budget) : data(bits.data), nextByte(bits.pos), remaining(budget) {
    refill();
    if (bits.bit) {
      cache <<= bits.bit;
      cached -= static_cast<int32_t>(bits.bit);
    }
  }
  void refill() {
    while (cached <= 56) {
      // Past the store the stream reads as zeros, as the bit reader does.
      const uint64_t byte = nextByte < static_cast<uint32_t>(kStoreBytes) ? data[nextByte] : 0;
      ++nextByte;
      cache |= byte << (56 - cached);
      cached += 8;
    }
  }
  uint32_t bit() {
    --remaining;
    if (cached <= 0) refill();
    const uint32_t value = static_cast<uint32_t>(cache >> 63);
    cache <<= 1;
    --cached;
    return value;
  }
  uint32_t field(uint32_t n) {
    if (n == 0) return 0;
    remaining -= static_cast<int32_t>(n);
    if (cached < static_cast<int32_t>(n)) refill();
    const uint32_t value = static_cast<uint32_t>(cache >> (64 - n));
    cache <<= n;
    cached -= static_cast<int32_t>(n);
    return value;
  }
};

// Walks a tree to its leaf. With a budget guard the walk stops when the bits
// run out and yields the all-zero leaf.
inline int32_t walk(const HuffmanTable& table, BudgetReader& in, bool guard) {
  const int16_t* tree = table.tree;
  if (!guard || in.remaining >= 32) {
    // No codeword is longer than 19 bits: walk straight through the cache.
    if (in.cached < 32) in.refill();
    uint64_t bits = in.cache;
    int32_t i = 0, used = 0;
    while (tree[i] < 0) {
      if (bits >> 63) i += -tree[i];
      ++i;
      bits <<= 1;
      ++used;
    }
    in.cache = bits;
    in.cached -= used;
    in.remaining -= used;
    return tree[i];
  }
  int32_t i = 0;
  while (tree[i] < 0) {
    if (in.remaining <= 0) return 0;
    if (in.bit()) i += -tree[i];
    ++i;
  }
  return tree[i];
}

inline int32_t clampGain(int32_t index) {
  if (index < 0) return 0;
  return index >= kGainTableSize ? kGainTableSize - 1 : index;
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

  // Moves to the next entry when the current one is used up.
  void advance(const ScaleFactors& sf, const GranuleInfo& gi) {
    while (left == 0) {
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
  const BandEntry& current() const { return list->entries[entry]; }
};

inline void noteNonZero(GranuleInfo& gi, const BandEntry& e) {
  if (e.window == 3) {
    if (e.band + 1 > gi.maxBandLong) gi.maxBandLong = e.band + 1;
  } else if (e.band + 1 > gi.maxBand[e.window]) {
    gi.maxBand[e.window] = e.band + 1;
  }
}

// Decodes the granule's values; `store` receives each value and its line.
template <typename Store>
int32_t decodeValues(const ScaleFactors& sf, GranuleInfo& gi, int32_t rate, int32_t part2Length, BitReader& bits,
                     Store store) {
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

  auto put = [&](double value) {
    cursor.advance(sf, gi);
    if (cursor.exhausted) return;
    if (value != 0.0) noteNonZero(gi, cursor.current());
    store(cursor.line, value * cursor.gain);
    cursor.line += cursor.step;
    --cursor.left;
  };

  for (int32_t pair = 0; pair < pairs; ++pair) {
    const int region = pair < region0 ? 0 : (pair < region1End ? 1 : 2);
    const HuffmanTable& table = kHuffmanTables[gi.tableSelect[region] & 31];
    const int32_t leaf = walk(table, in, false);
    int32_t xy[2] = {(leaf >> 4) & 15, leaf & 15};
    for (int32_t v : xy) {
      double value = 0.0;
      if (v != 0) {
        int32_t magnitude = v;
        if (v == 15 && table.linbits) magnitude += static_cast<int32_t>(in.field(static_cast<uint32_t>(table.linbits)));
        value = in.bit() ? -pow43[magnitude] : pow43[magnitude];
      }
      put(value);
    }
    if (in.remaining < 0) return 1;
  }

  // Quadruples, while the budget lasts and lines are left.
  const HuffmanTable& quads = kCount1Tables[gi.count1Table & 1];
  while (in.remaining > 0 && !cursor.exhausted) {
    const int32_t leaf = walk(quads, in, true);
    for (int q = 3; q >= 0; --q) {
      double value = 0.0;
      if ((leaf >> q) & 1) {
        if (in.remaining <= 0) {
          in.remaining = -1;
          break;
        }
        value = in.bit() ? -1.0 : 1.0;
      }
      put(value);
    }
    if (in.remaining < 0) break;
    cursor.advance(sf, gi);
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
  std::memset(lines, 0, 576 * sizeof(double));
  const int32_t result = decodeValues(sf, gi, rate, part2Length, bits, [lines](int32_t line, double value) {
    if (line >= 0 && line < 576) lines[line] = value;
  });
  setLimits(gi, rate);
  return result;
}

int32_t decodeGranuleLinesMS(double* mid, double* side, const ScaleFactors& sf, GranuleInfo& gi, int32_t rate,
                             int32_t part2Length, BitReader& bits) {
  // Where the side signal is zero, both channels are the mid signal.
  std::memcpy(side, mid, 576 * sizeof(double));
  const int32_t result = decodeValues(sf, gi, rate, part2Length, bits, [mid, side](int32_t line, double s) {
    if (line < 0 || line >= 576 || s == 0.0) return;
    const double m = mid[line];
    mid[line] = m + s;
    side[line] = m - s;
  });
  setLimits(gi, rate);
  return result;
}

}  // namespace kuv
