// Layer I and II tables and requantisation.
#include "decoder/layer12.h"
#include "decoder/layer2_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/frame_context.h"
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

// Sub-band samples a decoded frame hands to synthesis, block by block.
std::vector<std::array<double, 64>>* capturedBlocks = nullptr;

int32_t capturePair(SynthesisState&, const double* left, const double* right, uint8_t*) {
  std::array<double, 64> both;
  std::memcpy(both.data(), left, 32 * sizeof(double));
  std::memcpy(both.data() + 32, right, 32 * sizeof(double));
  capturedBlocks->push_back(both);
  return 0;
}

int32_t takeEverything(void*, int32_t length, const uint8_t*) { return length; }

struct BitWriter {
  std::vector<uint8_t> bytes;
  uint32_t count = 0;
  void put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i, ++count) {
      if (count % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1u) bytes.back() |= static_cast<uint8_t>(0x80u >> (count % 8));
    }
  }
};

// One quantisation class: grouped classes pack three samples of 3, 5 or 9
// levels into one code, the others carry nb bits per sample for 2^nb - 1.
struct RequantCase {
  int32_t levels;
  bool grouped;
};

// The sample a code stands for: with nb bits per sample, the code as a
// fraction with its first bit inverted, plus D, times C, times the scale
// factor 2^((3 - index) / 3). C = 2^nb / levels; D = 2^(1 - nb) for
// ungrouped classes, 1/2 for grouped ones.
double requantised(const RequantCase& c, uint32_t sample, int32_t scaleIndex) {
  int nb = 0;
  while ((1 << nb) < c.levels) ++nb;
  const double fraction = static_cast<double>(sample) / (1 << (nb - 1)) - 1.0;
  const double d = c.grouped ? 0.5 : std::ldexp(1.0, 1 - nb);
  const double step = std::ldexp(1.0, nb) / c.levels;
  return step * (fraction + d) * std::pow(2.0, (3 - scaleIndex) / 3.0);
}

// Every code of every class, through decodeLayerII in joint stereo frames
// (sub-bands from 8 up shared by both channels, each with its own scale
// factors), against the defining formula; a grouped code past the last
// group decodes to silence.
TEST(Layer2Requantisation, EveryClassAndCodeFollowsTheFormula) {
  prepareDecoderTables();
  std::vector<RequantCase> cases = {{3, true}, {5, true}, {9, true}};
  for (int nb = 3; nb <= 16; ++nb) cases.push_back({(1 << nb) - 1, false});
  const Layer2AllocTable& table = kLayer2AllocTables[kAllocA];
  const int32_t limit = table.subbandLimit;
  const int32_t bound = 8;
  auto state = std::make_unique<DecoderState>();
  state->pcm.write = takeEverything;
  auto store = std::make_unique<FrameStore>();
  std::mt19937 random(5);
  for (const RequantCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.levels << " levels");
    // The allocation value of this class in each sub-band (0: none there).
    uint32_t alloc[32] = {};
    int32_t codeBits = 0;
    for (int sb = 0; sb < limit; ++sb) {
      for (uint32_t a = 1; a < (1u << table.allocBits[sb]); ++a) {
        const Layer2Entry e = table.entries[sb][a];
        const bool match = c.grouped ? e.d == c.levels : e.d < 0 && (1 << e.bits) - 1 == c.levels;
        if (match) {
          alloc[sb] = a;
          codeBits = e.bits;
        }
      }
    }
    ASSERT_GT(codeBits, 0);
    // Codes in stream order, counting up; ungrouped codes stop below the
    // all-ones code, which no encoder sends.
    const uint32_t codes = c.grouped ? 1u << codeBits : static_cast<uint32_t>(c.levels);
    uint32_t next = 0;
    bool wrapped = false;
    auto take = [&] {
      const uint32_t code = next;
      next = (next + 1) % codes;
      if (next == 0) wrapped = true;
      return code;
    };
    while (!wrapped) {
      BitWriter w;
      uint8_t scale[2][3][32] = {};
      for (int sb = 0; sb < limit; ++sb) {
        for (int ch = 0; ch < (sb < bound ? 2 : 1); ++ch) w.put(alloc[sb], table.allocBits[sb]);
      }
      uint32_t scfsi[2][32] = {};
      for (int sb = 0; sb < limit; ++sb) {
        for (int ch = 0; ch < 2; ++ch) {
          if (!alloc[sb]) continue;
          scfsi[ch][sb] = random() % 4;
          w.put(scfsi[ch][sb], 2);
        }
      }
      for (int sb = 0; sb < limit; ++sb) {
        for (int ch = 0; ch < 2; ++ch) {
          if (!alloc[sb]) continue;
          uint8_t s[3];
          for (uint8_t& v : s) v = static_cast<uint8_t>(random() % 63);
          const uint32_t pattern = scfsi[ch][sb];
          if (pattern == 1) s[1] = s[0];
          if (pattern == 2) s[1] = s[2] = s[0];
          if (pattern == 3) s[2] = s[1];
          const int sent = pattern == 0 ? 3 : pattern == 2 ? 1 : 2;
          w.put(s[0], 6);
          if (sent == 3) w.put(s[1], 6);
          if (sent >= 2) w.put(s[2], 6);
          for (int p = 0; p < 3; ++p) scale[ch][p][sb] = s[p];
        }
      }
      // expected[block][channel][sub-band]
      std::vector<std::array<std::array<double, 32>, 2>> expected(36);
      for (auto& block : expected) {
        for (auto& ch : block) ch.fill(0.0);
      }
      for (int granule = 0; granule < 12; ++granule) {
        for (int sb = 0; sb < limit; ++sb) {
          for (int ch = 0; ch < (sb < bound ? 2 : 1); ++ch) {
            if (!alloc[sb]) continue;
            uint32_t samples[3];
            bool silent = false;
            if (c.grouped) {
              const uint32_t code = take();
              w.put(code, codeBits);
              silent = code >= static_cast<uint32_t>(c.levels * c.levels * c.levels);
              for (int i = 0, rest = static_cast<int>(code); i < 3; ++i, rest /= c.levels) {
                samples[i] = static_cast<uint32_t>(rest % c.levels);
              }
            } else {
              for (uint32_t& sample : samples) {
                sample = take();
                w.put(sample, codeBits);
              }
            }
            const int first = sb < bound ? ch : 0;
            const int last = sb < bound ? ch : 1;
            for (int target = first; target <= last; ++target) {
              for (int i = 0; i < 3; ++i) {
                expected[3 * granule + i][target][sb] =
                    silent ? 0.0 : requantised(c, samples[i], scale[target][granule / 4][sb]);
              }
            }
          }
        }
      }
      ASSERT_LE(w.bytes.size(), static_cast<size_t>(kStoreBytes - slotStart(0)));
      clearFrameStore(*store);
      std::memcpy(store->bytes + slotStart(0), w.bytes.data(), w.bytes.size());
      BitReader reader;
      pointBitReader(reader, *store, slotStart(0));
      FrameContext ctx;
      ctx.channels = 2;
      ctx.mode = 1;
      ctx.jointBound = bound;
      ctx.allocTable = kAllocA;
      ctx.bits = &reader;
      ctx.store = store.get();
      ctx.state = state.get();
      ctx.stereoPair = capturePair;
      std::vector<std::array<double, 64>> blocks;
      capturedBlocks = &blocks;
      ASSERT_EQ(decodeLayerII(ctx), 1);
      capturedBlocks = nullptr;
      EXPECT_EQ(reader.pos * 8 + reader.bit - slotStart(0) * 8, w.count) << "the frame's bits, all read";
      ASSERT_EQ(blocks.size(), 36u);
      for (int b = 0; b < 36; ++b) {
        for (int ch = 0; ch < 2; ++ch) {
          for (int sb = 0; sb < 32; ++sb) {
            const double want = expected[b][ch][sb];
            ASSERT_NEAR(blocks[b][32 * ch + sb], want, 1e-14 * (1.0 + std::fabs(want)))
                << "block " << b << " channel " << ch << " sub-band " << sb;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace kuv
