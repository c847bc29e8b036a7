// Layer I and Layer II frame decoding.
#pragma once

#include <cstdint>

namespace kuv {

struct FrameContext;

// One allocation value of a Layer II sub-band: an ungrouped code of `bits`
// bits with offset d (d < 0), or a grouped code of `bits` bits packing three
// samples of d = 3, 5 or 9 levels. bits 0: not transmitted.
struct Layer2Entry {
  int16_t bits;
  int16_t d;
};

struct Layer2AllocTable {
  int32_t subbandLimit;
  uint8_t allocBits[32];         // width of each sub-band's allocation field
  Layer2Entry entries[32][16];  // by sub-band and allocation value
};

// B.2a, B.2b, B.2c, B.2d and the low-sampling-frequency table, in the order
// of Layer2Table.
extern const Layer2AllocTable kLayer2AllocTables[5];

// Rebuilds the requantisation multipliers and grouping tables.
void buildLayerTables();

int decodeLayerI(FrameContext& ctx);
int decodeLayerII(FrameContext& ctx);

// multiplier[row][scale index]: row 0 zero, rows 1-2 +-2/3, rows 3-16
// 2/(2^b - 1), rows 17-26 the 5- and 9-level values; column 63 is silence.
double layerMultiplier(int32_t row, int32_t scaleIndex);
// The multiplier rows of the three samples a grouped code of 3, 5 or 9
// levels packs; false for a code past the last group.
bool layer2GroupRows(int32_t levels, uint32_t code, int32_t rows[3]);

}  // namespace kuv
