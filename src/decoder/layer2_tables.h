// The Layer II bit allocation tables (generated into layer2_tables.cpp).
#pragma once

#include <cstdint>

namespace kuv {

// One allocation value of a Layer II sub-band: an ungrouped code of `bits`
// bits with offset d (d < 0), or a grouped code of `bits` bits packing three
// samples of d = 3, 5 or 9 levels. bits 0: not transmitted.
struct Layer2Entry {
  int16_t bits;
  int16_t d;
};

struct Layer2AllocTable {
  int32_t subbandLimit;
  uint8_t allocBits[32];        // width of each sub-band's allocation field
  Layer2Entry entries[32][16];  // by sub-band and allocation value
};

// B.2a, B.2b, B.2c, B.2d and the low-sampling-frequency table, in the order
// of Layer2Table.
extern const Layer2AllocTable kLayer2AllocTables[5];

}  // namespace kuv
