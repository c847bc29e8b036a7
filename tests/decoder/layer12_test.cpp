// Layer I and II tables and requantisation.
#include "decoder/layer12.h"
#include "decoder/layer2_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "decoder/frame_header.h"
#include "support/test_support.h"

namespace kuv {
namespace {

TEST(Layer2Tables, AgreeWithTheReferenceEntryForEntry) {
  std::ifstream in(test::referencePath("layer2_alloc.txt"));
  KUV_REQUIRE_REFERENCE(in.good(), "reference tables");
  const char* names[5] = {"B.2a", "B.2b", "B.2c", "B.2d", "LSF"};
  int table = -1, sb = -1, entries = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string first;
    if (!(fields >> first) || first[0] == '#') continue;
    if (first == "table") {
      std::string name;
      int limit;
      fields >> name >> limit;
      table = static_cast<int>(std::find(names, names + 5, name) - names);
      ASSERT_LT(table, 5) << name;
      EXPECT_EQ(kLayer2AllocTables[table].subbandLimit, limit);
      EXPECT_EQ(kLayer2SubbandLimits[table], limit);
    } else if (first == "sb") {
      int width;
      fields >> sb >> width;
      EXPECT_EQ(kLayer2AllocTables[table].allocBits[sb], width) << names[table] << " sb " << sb;
      EXPECT_EQ(kLayer2AllocTables[table].entries[sb][0].bits, 0);
    } else {
      int levels, grouped, bits;
      const int index = std::stoi(first);
      fields >> levels >> grouped >> bits;
      const Layer2Entry e = kLayer2AllocTables[table].entries[sb][index];
      EXPECT_EQ(e.bits, bits) << names[table] << " sb " << sb << " value " << index;
      if (grouped) {
        EXPECT_EQ(e.d, levels);
      } else {
        EXPECT_EQ(levels, (1 << bits) - 1);
        EXPECT_EQ(e.d, -((1 << (bits - 1)) - 1));
      }
      ++entries;
    }
  }
  EXPECT_GT(entries, 800);
}

TEST(Layer2Tables, SelectionFollowsRateAndBitRatePerChannel) {
  // 44.1 kHz stereo: 64 kbit/s (32 per channel) C, 128 (64) A, 192 (96) B.
  EXPECT_EQ(selectLayer2Table(0, 0, 4, 2), kAllocC);
  EXPECT_EQ(selectLayer2Table(0, 0, 8, 2), kAllocA);
  EXPECT_EQ(selectLayer2Table(0, 0, 10, 2), kAllocB);
  EXPECT_EQ(selectLayer2Table(0, 1, 10, 2), kAllocA);  // 48 kHz
  EXPECT_EQ(selectLayer2Table(0, 2, 4, 2), kAllocD);   // 32 kHz
  EXPECT_EQ(selectLayer2Table(0, 2, 4, 1), kAllocA);   // mono 64
  EXPECT_EQ(selectLayer2Table(1, 3, 8, 2), kAllocLsf);
  EXPECT_EQ(selectLayer2Table(0, 0, 0, 2), kAllocA);  // free format
}

TEST(LayerTables, MultipliersFoldScaleAndStep) {
  buildLayerTables();
  EXPECT_DOUBLE_EQ(layerMultiplier(0, 5), 0.0);
  EXPECT_DOUBLE_EQ(layerMultiplier(1, 3), -2.0 / 3.0);
  EXPECT_DOUBLE_EQ(layerMultiplier(16, 0), 2.0 / 65535.0 * 2.0);
  EXPECT_NEAR(layerMultiplier(3, 6), 2.0 / 7.0 * 0.5, 1e-15);
  for (int row = 0; row < 27; ++row) EXPECT_EQ(layerMultiplier(row, 63), 0.0) << "index 63 is silence";
}

TEST(LayerTables, GroupedCodesUnpackFirstSampleFirst) {
  buildLayerTables();
  int32_t rows[3];
  ASSERT_TRUE(layer2GroupRows(9, 364, rows));  // the middle code: three zeros
  EXPECT_EQ(rows[0], 0);
  EXPECT_EQ(rows[1], 0);
  EXPECT_EQ(rows[2], 0);
  ASSERT_TRUE(layer2GroupRows(3, 1 + 3 * (2 + 3 * 0), rows));  // levels 1, 2, 0
  EXPECT_DOUBLE_EQ(layerMultiplier(rows[0], 3), 0.0);
  EXPECT_DOUBLE_EQ(layerMultiplier(rows[1], 3), 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(layerMultiplier(rows[2], 3), -2.0 / 3.0);
  ASSERT_TRUE(layer2GroupRows(5, 124, rows));
  EXPECT_DOUBLE_EQ(layerMultiplier(rows[0], 3), 4.0 / 5.0);
  EXPECT_FALSE(layer2GroupRows(3, 27, rows)) << "a 5-bit code can exceed the 27 groups";
  EXPECT_FALSE(layer2GroupRows(9, 1023, rows));
  EXPECT_FALSE(layer2GroupRows(4, 0, rows));
}

}  // namespace
}  // namespace kuv
