// The lookup decoder of Huffman pairs and quadruples against a walk of the
// decision trees one bit at a time, including data cut short by the budget.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decoder/bit_reader.h"
#include "layer3/huffman_lookup.h"
#include "layer3/huffman_tables.h"
#include "layer3/layer3.h"

namespace kuv {
namespace {

struct Decoded {
  int32_t count = 0;  // values that hold
  int32_t values[4] = {};
  uint32_t magnitude[2] = {};
  uint32_t sign[2] = {};
  int32_t remaining = 0;
};

// Walks the tree one bit at a time. With a guard the walk stops when the
// budget is used up and yields the all-zero leaf.
int32_t walkTree(const HuffmanTable& table, BitReader& bits, int32_t& remaining, bool guard) {
  int32_t i = 0;
  while (table.tree[i] < 0) {
    if (guard && remaining <= 0) return 0;
    --remaining;
    if (getBit(bits)) i += -table.tree[i];
    ++i;
  }
  return table.tree[i];
}

void treePair(const HuffmanTable& table, BitReader& bits, Decoded& out) {
  const int32_t leaf = walkTree(table, bits, out.remaining, false);
  const uint32_t xy[2] = {static_cast<uint32_t>(leaf >> 4) & 15, static_cast<uint32_t>(leaf) & 15};
  for (int i = 0; i < 2; ++i) {
    uint32_t value = xy[i];
    out.sign[i] = 0;
    if (value != 0) {
      if (value == 15 && table.linbits) {
        value += getBits(bits, static_cast<uint32_t>(table.linbits));
        out.remaining -= table.linbits;
      }
      out.sign[i] = getBit(bits);
      --out.remaining;
    }
    out.magnitude[i] = value;
  }
}

void treeQuad(const HuffmanTable& table, BitReader& bits, Decoded& out) {
  const int32_t leaf = walkTree(table, bits, out.remaining, true);
  out.count = 4;
  for (int i = 0; i < 4; ++i) {
    out.values[i] = 0;
    if ((leaf >> (3 - i)) & 1) {
      if (out.remaining <= 0) {
        out.remaining = -1;
        out.count = i;
        return;
      }
      --out.remaining;
      out.values[i] = getBit(bits) ? -1 : 1;
    }
  }
}

// Both decoders read the same stream step by step and must agree on every
// value, sign and bit count. Tables 32 and 33 are count1 A and B.
struct Comparison {
  const std::vector<uint8_t>& store;
  int32_t table;
  BitReader bits;
  BudgetReader fast;
  Decoded tree;

  Comparison(const std::vector<uint8_t>& s, int32_t t, uint32_t pos, uint32_t bit, int32_t budget)
      : store(s), table(t), bits{s.data(), pos, bit}, fast(bits, budget) {
    tree.remaining = budget;
  }
  void step(const std::string& where) {
    Decoded got;
    if (table < 32) {
      treePair(kHuffmanTables[table], bits, tree);
      decodePair(huffmanLookup.tables[table], fast, got.magnitude, got.sign);
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(got.magnitude[i], tree.magnitude[i]) << where << " value " << i;
        EXPECT_EQ(got.sign[i], tree.sign[i]) << where << " sign " << i;
      }
    } else {
      treeQuad(kCount1Tables[table - 32], bits, tree);
      got.count = decodeQuad(table - 32, fast, got.values);
      EXPECT_EQ(got.count, tree.count) << where;
      for (int i = 0; i < tree.count && i < got.count; ++i)
        EXPECT_EQ(got.values[i], tree.values[i]) << where << " " << i;
    }
    EXPECT_EQ(fast.remaining, tree.remaining) << where << ": bits used";
  }
};

const HuffmanTable& treeOf(int32_t table) { return table < 32 ? kHuffmanTables[table] : kCount1Tables[table - 32]; }

// Every codeword of a tree with its leaf, as a string of 0 and 1.
void codewords(const int16_t* tree, int32_t node, const std::string& prefix,
               std::vector<std::pair<std::string, int32_t>>& out) {
  if (tree[node] >= 0) {
    out.emplace_back(prefix, tree[node]);
    return;
  }
  codewords(tree, node + 1, prefix + "0", out);
  codewords(tree, node + 1 - tree[node], prefix + "1", out);
}

// Writes bits at a bit position of the store.
void putBits(std::vector<uint8_t>& store, uint32_t at, const std::string& bits) {
  for (char c : bits) {
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (at & 7));
    if (c == '1')
      store[at >> 3] |= mask;
    else
      store[at >> 3] &= static_cast<uint8_t>(~mask);
    ++at;
  }
}

class HuffmanLookupTest : public testing::Test {
 protected:
  void SetUp() override { initLayer3Tables(); }
};

TEST_F(HuffmanLookupTest, TablesFitTheirStoreAndLinbitsFollowTheTrees) {
  ASSERT_GT(huffmanLookup.used, 0);
  EXPECT_LE(huffmanLookup.used, kLookupEntries);
  for (int t = 0; t < 34; ++t) {
    const HuffmanLookupTable& table = t < 32 ? huffmanLookup.tables[t] : huffmanLookup.count1[t - 32];
    EXPECT_GE(table.first, 0) << t;
    EXPECT_LE(table.first + (1 << table.rootBits), huffmanLookup.used) << t;
    EXPECT_LE(table.rootBits, kLookupLevelBits) << t;
    EXPECT_EQ(table.linbits, treeOf(t).linbits) << t;
  }
  EXPECT_EQ(huffmanLookup.count1[0].rootBits, 6) << "table A is one 6-bit lookup";
}

// Each codeword followed by tails of zeros, ones and noise (its linbits and
// sign bits), at every bit offset in a byte. Count1 codewords also under
// every budget that ends inside the codeword or its signs.
TEST_F(HuffmanLookupTest, EveryCodewordDecodesAsTheTreeDoes) {
  std::mt19937 random(18);
  std::vector<uint8_t> store(kStoreBytes + kStoreGuardBytes, 0);
  for (int t = 0; t < 34; ++t) {
    std::vector<std::pair<std::string, int32_t>> codes;
    codewords(treeOf(t).tree, 0, "", codes);
    ASSERT_FALSE(codes.empty());
    int checked = 0;
    for (const auto& [code, leaf] : codes) {
      for (int tail = 0; tail < 4; ++tail) {
        std::string bits = code;
        for (int i = 0; i < 40; ++i) bits += tail == 0 ? '0' : tail == 1 ? '1' : (random() & 1 ? '1' : '0');
        const uint32_t bit = static_cast<uint32_t>(checked % 8);
        const uint32_t pos = 600 + static_cast<uint32_t>(random() % 64);
        putBits(store, pos * 8 + bit, bits);
        const std::string where = "table " + std::to_string(t) + " code " + code + " tail " + std::to_string(tail);
        Comparison whole(store, t, pos, bit, 1000);
        whole.step(where);
        if (t >= 32) {
          for (int32_t budget = 0; budget <= static_cast<int32_t>(code.size()) + 4; ++budget) {
            Comparison cut(store, t, pos, bit, budget);
            cut.step(where + " budget " + std::to_string(budget));
          }
        }
        ASSERT_FALSE(HasFailure()) << where;
        ++checked;
      }
    }
    EXPECT_EQ(checked, 4 * static_cast<int>(codes.size()));
  }
}

// Random streams decoded pair by pair (or quadruple by quadruple) until the
// budget is overrun, anywhere in the store including its last bytes, past
// which the stream reads as zeros.
TEST_F(HuffmanLookupTest, RandomStreamsDecodeAsTheTreeDoes) {
  std::mt19937 random(7);
  std::vector<uint8_t> store(kStoreBytes + kStoreGuardBytes, 0);
  for (int t = 0; t < 34; ++t) {
    for (int round = 0; round < 150; ++round) {
      for (int i = 0; i < kStoreBytes; ++i) store[i] = static_cast<uint8_t>(random());
      if (round % 5 == 0) {
        // Runs of ones reach the longest codewords and linbits fields.
        for (int i = 0; i < kStoreBytes; ++i) store[i] |= static_cast<uint8_t>(random() | random());
      }
      const uint32_t pos = round % 3 == 0 ? kStoreBytes - 1 - static_cast<uint32_t>(random() % 40)
                                          : static_cast<uint32_t>(random() % (kStoreBytes - 400));
      const uint32_t bit = static_cast<uint32_t>(random() % 8);
      const int32_t budget = static_cast<int32_t>(random() % 700);
      Comparison c(store, t, pos, bit, budget);
      const std::string where = "table " + std::to_string(t) + " round " + std::to_string(round);
      int steps = 0;
      // Count1 stops with the budget, as the granule decoder does; pairs go
      // on past it for a few steps, reading what follows.
      while (steps < 600 && (t < 32 ? c.tree.remaining > -60 : c.tree.remaining > 0)) {
        c.step(where + " step " + std::to_string(steps));
        ++steps;
        if (HasFailure()) break;
      }
      ASSERT_FALSE(HasFailure()) << where;
      ASSERT_GT(steps, 0) << where;
    }
  }
}

}  // namespace
}  // namespace kuv
