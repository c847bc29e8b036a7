// Layer I and Layer II frame decoding.
#pragma once

#include <cstdint>

namespace kuv {

struct FrameContext;

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
