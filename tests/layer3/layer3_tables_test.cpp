// The Layer III constants against the reference data, and the computed
// tables.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "layer3/band_tables.h"
#include "layer3/huffman_tables.h"
#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"
#include "support/test_support.h"

namespace kuv {
namespace {

std::vector<std::vector<std::string>> referenceLines(const std::string& file) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(test::referencePath(file));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    std::string word;
    while (fields >> word) f.push_back(word);
    if (!f.empty() && f[0][0] != '#') lines.push_back(f);
  }
  return lines;
}

// Walks a tree with the given code; returns the leaf, or -1 when the code
// ends early or runs on.
int walkCode(const HuffmanTable& table, const std::string& code) {
  int i = 0;
  size_t used = 0;
  while (table.tree[i] < 0) {
    if (used >= code.size()) return -1;
    if (code[used++] == '1') i += -table.tree[i];
    ++i;
  }
  return used == code.size() ? table.tree[i] : -1;
}

TEST(Layer3Tables, HuffmanTreesDecodeEveryReferenceCodeword) {
  const auto lines = referenceLines("huffman.txt");
  KUV_REQUIRE_REFERENCE(!lines.empty(), "reference tables");
  int table = -1, codetab = -1, checked = 0;
  std::map<int, int> leaves;
  for (const auto& f : lines) {
    if (f[0] == "table") {
      table = std::stoi(f[1]);
      codetab = std::stoi(f[3]);
      const int linbits = std::stoi(f[2]);
      if (table < 32) {
        EXPECT_EQ(kHuffmanTables[table].linbits, linbits) << table;
        if (codetab < 0) {
          EXPECT_EQ(kHuffmanTables[table].tree[0], 0) << "table " << table << " reads nothing";
        }
        if (codetab >= 0 && codetab != table) {
          EXPECT_EQ(kHuffmanTables[table].tree, kHuffmanTables[codetab].tree);
        }
      }
      continue;
    }
    const HuffmanTable& t = table < 32 ? kHuffmanTables[table] : kCount1Tables[table - 32];
    if (f.size() == 4) {
      const int value = (std::stoi(f[0]) << 4) | std::stoi(f[1]);
      ASSERT_EQ(walkCode(t, f[3]), value) << "table " << table << " code " << f[3];
    } else {
      const int value = (std::stoi(f[0]) << 3) | (std::stoi(f[1]) << 2) | (std::stoi(f[2]) << 1) | std::stoi(f[3]);
      ASSERT_EQ(walkCode(t, f[5]), value) << "count1 table " << table << " code " << f[5];
    }
    ++leaves[table];
    ++checked;
  }
  EXPECT_GT(checked, 1000);
  // Every tree has exactly as many leaves as its table has codewords.
  for (const auto& [n, count] : leaves) {
    const HuffmanTable& t = n < 32 ? kHuffmanTables[n] : kCount1Tables[n - 32];
    int treeLeaves = 0;
    for (int i = 0; i < t.size; ++i) treeLeaves += t.tree[i] >= 0;
    EXPECT_EQ(treeLeaves, count) << n;
  }
}

TEST(Layer3Tables, BandsPretabSlenAndPartitionsMatchTheReference) {
  const auto bands = referenceLines("sfb_bands.txt");
  const auto misc = referenceLines("misc.txt");
  KUV_REQUIRE_REFERENCE(!bands.empty() && !misc.empty(), "reference tables");
  const int rates[9] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};
  int checked = 0;
  for (const auto& f : bands) {
    const int rate = static_cast<int>(std::find(rates, rates + 9, std::stoi(f[0])) - rates);
    ASSERT_LT(rate, 9);
    const bool isLong = f[1] == "long";
    for (size_t i = 2; i < f.size(); ++i) {
      EXPECT_EQ(isLong ? kLongBandBounds[rate][i - 2] : kShortBandBounds[rate][i - 2], std::stoi(f[i]));
      ++checked;
    }
  }
  EXPECT_EQ(checked, 9 * (23 + 14));
  for (const auto& f : misc) {
    if (f[0] == "pretab") {
      for (int i = 0; i < 22; ++i) EXPECT_EQ(kPretab[i], std::stoi(f[1 + i]));
    } else if (f[0] == "slen") {
      const int sc = std::stoi(f[1]);
      EXPECT_EQ(kSlen[sc][0], std::stoi(f[2]));
      EXPECT_EQ(kSlen[sc][1], std::stoi(f[3]));
    } else if (f[0] == "nr_of_sfb") {
      const int row = std::stoi(f[1]);
      const int kind = f[2] == "long" ? 0 : f[2] == "short" ? 1 : 2;
      for (int p = 0; p < 4; ++p) EXPECT_EQ(kLsfPartitionCounts[row][kind][p], std::stoi(f[3 + p]));
    } else if (f[0] == "alias_cs" || f[0] == "alias_ca") {
      initLayer3Tables();
      const double* mine = f[0] == "alias_cs" ? layer3Tables.cs : layer3Tables.ca;
      for (int i = 0; i < 8; ++i) EXPECT_NEAR(mine[i], std::stod(f[1 + i]), 1e-12);
    }
  }
}

TEST(Layer3Tables, ComputedTablesHoldTheirDefiningValues) {
  initLayer3Tables();
  EXPECT_DOUBLE_EQ(layer3Tables.gain[46], 1.0);
  EXPECT_DOUBLE_EQ(layer3Tables.gain[50], 0.5);
  EXPECT_NEAR(layer3Tables.pow43[8206], std::pow(8206.0, 4.0 / 3.0), 1e-6);
  EXPECT_DOUBLE_EQ(layer3Tables.pow43[8], 16.0);
  // MPEG-1 intensity: position 0 all right, 6 all left.
  EXPECT_DOUBLE_EQ(layer3Tables.intensityLeft[0][0], 0.0);
  EXPECT_DOUBLE_EQ(layer3Tables.intensityRight[0][0], 1.0);
  EXPECT_DOUBLE_EQ(layer3Tables.intensityLeft[0][6], 1.0);
  EXPECT_DOUBLE_EQ(layer3Tables.intensityRight[0][6], 0.0);
  EXPECT_NEAR(layer3Tables.intensityLeft[0][3], 0.5, 1e-12);
  // LSF: position 0 is unity on both sides; odd positions lower the left.
  EXPECT_DOUBLE_EQ(layer3Tables.lsfIntensityLeft[0][0][0], 1.0);
  EXPECT_DOUBLE_EQ(layer3Tables.lsfIntensityRight[0][0][0], 1.0);
  EXPECT_NEAR(layer3Tables.lsfIntensityLeft[1][0][3], 0.5, 1e-12);  // (2^-1/2)^2
  EXPECT_DOUBLE_EQ(layer3Tables.lsfIntensityRight[1][0][3], 1.0);
  // LSF scale factor lengths: the standard's decompositions.
  const uint16_t e = layer3Tables.lsfSlen[3 * 80 + 2 * 16 + 1 * 4 + 3];
  EXPECT_EQ(e & 7, 3);
  EXPECT_EQ((e >> 3) & 7, 2);
  EXPECT_EQ((e >> 6) & 7, 1);
  EXPECT_EQ((e >> 9) & 7, 3);
  EXPECT_EQ((e >> 12) & 7, 0);
  const uint16_t pre = layer3Tables.lsfSlen[500 + 2 * 3 + 1];
  EXPECT_EQ(pre & 7, 2);
  EXPECT_EQ((pre >> 12) & 7, 2);
  EXPECT_EQ(pre >> 15, 1);
  EXPECT_EQ((layer3Tables.lsfIntensitySlen[255] >> 12) & 7, 5);
  // Band lists cover the spectrum exactly once.
  for (int rate = 0; rate < 9; ++rate) {
    for (int kind = 0; kind < 3; ++kind) {
      std::vector<int> hits(576, 0);
      const BandList& list = layer3Tables.bands[rate][kind];
      for (int i = 0; i < list.count; ++i) {
        const BandEntry& e = list.entries[i];
        for (int j = 0; j < e.width; ++j) {
          const int line = e.first + j * e.step;
          ASSERT_GE(line, 0);
          ASSERT_LT(line, 576);
          ++hits[line];
        }
      }
      int covered = 0;
      for (int h : hits) {
        ASSERT_LE(h, 1) << "rate " << rate << " kind " << kind;
        covered += h;
      }
      if (kind != 2 || rate != 8) {
        EXPECT_EQ(covered, 576) << "rate " << rate << " kind " << kind;
      }
    }
  }
  // Never past the 32 subbands there are.
  initLayer3Tables();
  EXPECT_EQ(layer3Tables.longLimit[0][22], 32);
  EXPECT_EQ(layer3Tables.longLimit[0][0], 1);
}

TEST(Layer3Tables, TheEqualiserInterpolatesBetweenItsPins) {
  int32_t bands[15];
  for (int b = 0; b < 15; ++b) bands[b] = 1000;
  setupEqualiser(bands);
  for (int i = 0; i < 576; ++i) ASSERT_EQ(equaliserTable[i], 1.0f) << i;
  bands[9] = 2000;  // pinned at line 100
  setupEqualiser(bands);
  EXPECT_FLOAT_EQ(equaliserTable[100], 2.0f);
  EXPECT_FLOAT_EQ(equaliserTable[75], 1.5f);
  EXPECT_FLOAT_EQ(equaliserTable[125], 1.5f);
  EXPECT_FLOAT_EQ(equaliserTable[150], 1.0f);
  for (int b = 0; b < 15; ++b) bands[b] = 1000;
  setupEqualiser(bands);
}

}  // namespace
}  // namespace kuv
