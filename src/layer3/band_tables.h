// Constant Layer III tables of the standards.
#pragma once

#include <cstdint>

namespace kuv {

// Scale factor band boundaries in lines (long: 0..576; short, per window:
// 0..192) by sampling-rate index 0..8.
extern const int16_t kLongBandBounds[9][23];
extern const int16_t kShortBandBounds[9][14];
extern const uint8_t kPretab[22];
// MPEG-1 scalefac_compress -> slen1, slen2.
extern const uint8_t kSlen[16][2];
// LSF scale factors per partition, by table row and block kind (long,
// short, mixed).
extern const uint8_t kLsfPartitionCounts[6][3][4];
// The alias reduction coefficients c[0..7].
extern const double kAliasCoefficients[8];

}  // namespace kuv
