// The Layer III stages on constructed granules, and whole-file decoding
// with the output options.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "config/settings.h"
#include "decoder/bit_reader.h"
#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"
#include "support/decode_support.h"
#include "support/test_support.h"

namespace kuv {
namespace {

GranuleInfo longGranule() {
  GranuleInfo gi{};
  gi.blockType = 0;
  gi.region1Start = 288;
  gi.region2Start = 288;
  return gi;
}

TEST(Layer3Intensity, PositionsZeroSixAndSevenInMpeg1) {
  initLayer3Tables();
  ScaleFactors sf{};
  for (int i = 0; i < kScaleFactorSlots; ++i) sf.intensityLimit[i] = 7;
  sf.values[0] = 0;  // band 0: all to the right
  sf.values[1] = 6;  // band 1: all to the left
  sf.values[2] = 7;  // band 2: not intensity coded
  sf.values[3] = 3;  // band 3: the middle
  GranuleInfo gi = longGranule();
  gi.maxBandLong = 0;
  std::vector<double> left(576, 1.0), right(576, 0.0);
  applyIntensityStereo(left.data(), right.data(), sf, gi, 0, false, 0, 0);
  // 44.1 kHz long bands: 0-3, 4-7, 8-11, 12-15.
  EXPECT_DOUBLE_EQ(left[0], 0.0);
  EXPECT_DOUBLE_EQ(right[0], 1.0);
  EXPECT_DOUBLE_EQ(left[5], 1.0);
  EXPECT_DOUBLE_EQ(right[5], 0.0);
  EXPECT_DOUBLE_EQ(left[9], 1.0);
  EXPECT_DOUBLE_EQ(right[9], 0.0) << "position 7 leaves the band as decoded";
  EXPECT_NEAR(left[13], 0.5, 1e-12);
  EXPECT_NEAR(right[13], 0.5, 1e-12);
}

TEST(Layer3Intensity, OnlyBandsAboveTheSecondChannelsDataAreSpread) {
  initLayer3Tables();
  ScaleFactors sf{};
  for (int i = 0; i < kScaleFactorSlots; ++i) sf.intensityLimit[i] = 7;
  GranuleInfo gi = longGranule();
  gi.maxBandLong = 10;  // bands 0..9 carry real right-channel data
  std::vector<double> left(576, 1.0), right(576, 0.25);
  applyIntensityStereo(left.data(), right.data(), sf, gi, 0, false, 0, 0);
  EXPECT_DOUBLE_EQ(right[50], 0.25);  // band 9 (44..51) untouched
  EXPECT_DOUBLE_EQ(left[52], 0.0);    // band 10 (52..61) at position 0
  EXPECT_DOUBLE_EQ(right[52], 1.0);
  // Band 21 follows band 20's position.
  EXPECT_DOUBLE_EQ(right[500], 1.0);
}

TEST(Layer3Intensity, MappingModesThreeAndFourAgree) {
  initLayer3Tables();
  const Settings saved = settings;
  ScaleFactors sf{};
  for (int i = 0; i < kScaleFactorSlots; ++i) {
    sf.intensityLimit[i] = 7;
    sf.values[i] = i % 6;
  }
  GranuleInfo gi{};
  gi.blockType = 2;
  std::vector<double> results[3];
  const int modes[3] = {3, 4, 2};
  for (int m = 0; m < 3; ++m) {
    settings.MappingMode = modes[m];
    std::vector<double> left(576), right(576, 0.0);
    for (int i = 0; i < 576; ++i) left[i] = 1.0 + i * 0.001;
    applyIntensityStereo(left.data(), right.data(), sf, gi, 0, false, 0, 0);
    results[m] = left;
    results[m].insert(results[m].end(), right.begin(), right.end());
  }
  settings = saved;
  EXPECT_EQ(results[0], results[1]);
  EXPECT_NE(results[0], results[2]);
}

TEST(Layer3Hybrid, SilenceAfterALoudGranuleRingsOutOnce) {
  initLayer3Tables();
  GranuleInfo gi = longGranule();
  gi.maxSubband = 32;
  double slots[18][32];
  std::vector<double> lines(576);
  Layer3State state;
  std::mt19937 random(2);
  std::uniform_real_distribution<double> value(-1000, 1000);
  for (double& l : lines) l = value(random);
  hybridFilterbank(lines.data(), slots, state.overlap[1], gi);
  std::fill(lines.begin(), lines.end(), 0.0);
  gi.maxSubband = 1;
  hybridFilterbank(lines.data(), slots, state.overlap[1], gi);
  double tail = 0;
  for (auto& row : slots)
    for (double s : row) tail += std::fabs(s);
  EXPECT_GT(tail, 1.0) << "the loud granule's second half comes out";
  hybridFilterbank(lines.data(), slots, state.overlap[1], gi);
  for (auto& row : slots)
    for (double s : row) ASSERT_EQ(s, 0.0) << "and nothing after it";
}

TEST(Layer3Huffman, AnEmptyGranuleDecodesToZeros) {
  initLayer3Tables();
  auto store = std::make_unique<FrameStore>();
  clearFrameStore(*store);
  BitReader bits;
  pointBitReader(bits, *store, slotStart(0));
  ScaleFactors sf{};
  GranuleInfo gi = longGranule();
  gi.gainBase = 100;
  std::vector<double> lines(576, 5.0);
  EXPECT_EQ(decodeGranuleLines(lines.data(), sf, gi, 0, 0, bits), 0);
  for (double l : lines) ASSERT_EQ(l, 0.0);
  EXPECT_EQ(gi.maxBandLong, 0);
  EXPECT_EQ(gi.maxSubband, layer3Tables.longLimit[0][0]);
}

// Lines are written as the values reach them and the rest afterwards, not
// cleared first: every line must come out written, wherever the values stop
// (inside a band, inside a short window, on a band edge), and the M/S side
// channel past the last value must equal the mid one.
TEST(Layer3Huffman, EveryLineIsWrittenWhereverTheValuesStop) {
  initLayer3Tables();
  auto store = std::make_unique<FrameStore>();
  clearFrameStore(*store);
  std::mt19937 random(9);
  for (int i = 0; i < kStoreBytes; ++i) store->bytes[i] = static_cast<uint8_t>(random());
  struct Case {
    int blockType, mixed, rate, bigValues, budget;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0},    {0, 0, 0, 3, 30}, {0, 0, 1, 17, 200}, {0, 0, 4, 100, 900},  {2, 0, 0, 5, 60},
      {2, 0, 3, 40, 400}, {2, 1, 0, 9, 90}, {2, 1, 8, 60, 700}, {0, 0, 0, 288, 6000},
  };
  for (const Case& c : cases) {
    for (int ms = 0; ms < 2; ++ms) {
      BitReader bits;
      pointBitReader(bits, *store, slotStart(0));
      ScaleFactors sf{};
      GranuleInfo gi = longGranule();
      gi.blockType = c.blockType;
      gi.windowSwitching = c.blockType == 2;
      gi.mixedBlock = c.mixed;
      gi.bigValues = c.bigValues;
      gi.gainBase = 200;
      gi.windowGain[0] = gi.windowGain[1] = gi.windowGain[2] = 200;
      gi.tableSelect[0] = gi.tableSelect[1] = gi.tableSelect[2] = 7;
      gi.part23Length = c.budget;
      std::vector<double> mid(576), side(576, -0.5);
      for (int i = 0; i < 576; ++i) mid[i] = 1.0 + i;
      const std::vector<double> before = mid;
      if (ms) {
        decodeGranuleLinesMS(mid.data(), side.data(), sf, gi, c.rate, 0, bits);
      } else {
        decodeGranuleLines(side.data(), sf, gi, c.rate, 0, bits);
      }
      int changed = 0;
      for (int i = 0; i < 576; ++i) {
        ASSERT_NE(side[i], -0.5) << "line " << i << " left unwritten, case " << c.bigValues << "/" << c.budget;
        if (ms) {
          // Mid and side are the mid value moved by one amount either way.
          ASSERT_DOUBLE_EQ(mid[i] + side[i], 2 * before[i]) << "line " << i;
          changed += mid[i] != before[i];
        }
      }
      if (ms && c.budget > 0) {
        EXPECT_GT(changed, 0) << "the values reach the lines";
      }
    }
  }
}

TEST(Layer3Huffman, DataRunningPastItsLengthIsReported) {
  initLayer3Tables();
  auto store = std::make_unique<FrameStore>();
  clearFrameStore(*store);
  std::mt19937 random(4);
  for (int i = 0; i < kStoreBytes; ++i) store->bytes[i] = static_cast<uint8_t>(random() | 0x11);
  BitReader bits;
  pointBitReader(bits, *store, slotStart(0));
  ScaleFactors sf{};
  GranuleInfo gi = longGranule();
  gi.bigValues = 200;
  gi.tableSelect[0] = gi.tableSelect[1] = gi.tableSelect[2] = 24;
  gi.part23Length = 40;  // far too short for 200 pairs
  std::vector<double> lines(576);
  EXPECT_EQ(decodeGranuleLines(lines.data(), sf, gi, 0, 0, bits), 1);
}

TEST(Layer3Huffman, LinesAndGainsStayInsideTheirTables) {
  initLayer3Tables();
  auto store = std::make_unique<FrameStore>();
  clearFrameStore(*store);
  std::mt19937 random(6);
  for (int round = 0; round < 300; ++round) {
    for (int i = 0; i < kStoreBytes; ++i) store->bytes[i] = static_cast<uint8_t>(random());
    BitReader bits;
    pointBitReader(bits, *store, static_cast<int32_t>(random() % kStoreBytes));
    ScaleFactors sf{};
    for (int& v : sf.values) v = static_cast<int>(random() % 64);
    GranuleInfo gi{};
    gi.blockType = static_cast<int>(random() % 4);
    gi.mixedBlock = static_cast<int>(random() % 2);
    gi.bigValues = static_cast<int>(random() % 289);
    gi.gainBase = static_cast<int>(random() % 600) - 100;  // past both ends of the gain table
    for (int& w : gi.windowGain) w = gi.gainBase + 8 * static_cast<int>(random() % 8);
    for (int& t : gi.tableSelect) t = static_cast<int>(random() % 32);
    gi.region1Start = static_cast<int>(random() % 300);
    gi.region2Start = static_cast<int>(random() % 300);
    gi.part23Length = static_cast<int>(random() % 4096);
    gi.scalefacScale = static_cast<int>(random() % 2);
    gi.preflag = static_cast<int>(random() % 2);
    gi.count1Table = static_cast<int>(random() % 2);
    std::vector<double> lines(576), other(576);
    const int rate = static_cast<int>(random() % 9);
    decodeGranuleLines(lines.data(), sf, gi, rate, static_cast<int>(random() % 100), bits);
    for (double l : lines) ASSERT_TRUE(std::isfinite(l));
    ASSERT_GE(gi.maxSubband, 1);
    ASSERT_LE(gi.maxSubband, 32);
    decodeGranuleLinesMS(lines.data(), other.data(), sf, gi, rate, 0, bits);
  }
}

// Whole files, in process: skip the first frames, where the filter memory
// still holds whatever was decoded before.
constexpr size_t kSettle = 2 * 1152 * 2;

TEST(Layer3Output, ChannelChoicesTakeTheirChannel) {
  const std::string file = test::fixturePath("l3_stereo.mp3");
  test::DecodeOptions options;
  const test::Decoded both = test::decodeInProcess(file, options);
  options.channelSelect = 0;
  const test::Decoded left = test::decodeInProcess(file, options);
  options.channelSelect = 1;
  const test::Decoded right = test::decodeInProcess(file, options);
  options.channelSelect = 3;
  const test::Decoded mix = test::decodeInProcess(file, options);
  ASSERT_EQ(left.samples.size() * 2, both.samples.size());
  ASSERT_EQ(mix.samples.size() * 2, both.samples.size());
  int worstMix = 0;
  for (size_t i = kSettle / 2; i < left.samples.size(); ++i) {
    ASSERT_EQ(left.samples[i], both.samples[2 * i]);
    ASSERT_EQ(right.samples[i], both.samples[2 * i + 1]);
    const double average = (both.samples[2 * i] + both.samples[2 * i + 1]) / 2.0;
    worstMix = std::max(worstMix, static_cast<int>(std::ceil(std::fabs(mix.samples[i] - average))));
  }
  EXPECT_LE(worstMix, 1);
}

TEST(Layer3Output, DownSamplingKeepsTheLowBand) {
  const std::string file = test::fixturePath("l3_stereo.mp3");
  test::DecodeOptions options;
  const test::Decoded full = test::decodeInProcess(file, options);
  options.downSample = 1;
  const test::Decoded half = test::decodeInProcess(file, options);
  options.downSample = 2;
  const test::Decoded quarter = test::decodeInProcess(file, options);
  EXPECT_EQ(half.samples.size() * 2, full.samples.size());
  EXPECT_EQ(quarter.samples.size() * 4, full.samples.size());
  // The tune lies below 5 kHz: most of its energy survives.
  auto energy = [](const std::vector<int16_t>& s, size_t step) {
    double e = 0;
    for (size_t i = 0; i < s.size(); i += step) e += static_cast<double>(s[i]) * s[i];
    return e;
  };
  EXPECT_GT(energy(half.samples, 1), 0.5 * energy(full.samples, 2));
  EXPECT_GT(energy(quarter.samples, 1), 0.3 * energy(full.samples, 4));
}

TEST(Layer3Output, TheEqualiserAtUnityChangesNothing) {
  const Settings saved = settings;
  const std::string file = test::fixturePath("vbr.mp3");
  const test::Decoded plain = test::decodeInProcess(file);
  int32_t bands[15];
  for (int b = 0; b < 15; ++b) bands[b] = 1000;
  setupEqualiser(bands);
  settings.EqActive = 1;
  const test::Decoded unity = test::decodeInProcess(file);
  bands[3] = 2500;
  setupEqualiser(bands);
  const test::Decoded boosted = test::decodeInProcess(file);
  for (int b = 0; b < 15; ++b) bands[b] = 1000;
  setupEqualiser(bands);
  settings = saved;
  ASSERT_EQ(plain.samples.size(), unity.samples.size());
  EXPECT_TRUE(std::equal(plain.samples.begin() + kSettle, plain.samples.end(), unity.samples.begin() + kSettle));
  EXPECT_FALSE(std::equal(plain.samples.begin() + kSettle, plain.samples.end(), boosted.samples.begin() + kSettle));
}

TEST(Layer3Output, AReservoirReachingBeforeTheStreamSkipsThoseFrames) {
  const std::string file = test::conformancePath("l3-sin1k0db.bit");
  KUV_REQUIRE_REFERENCE(test::fileExists(file), "compliance streams");
  const test::Decoded decoded = test::decodeInProcess(file);
  EXPECT_EQ(decoded.skipped, 2);
  EXPECT_EQ(decoded.frames, 316);
}

TEST(Layer3Output, DamagedStreamsNeverReadOutsideTheirBuffers) {
  std::mt19937 random(77);
  const char* sources[] = {"l3-si_block.bit", "M2L3_noise.bit", "l3-hecommon.bit"};
  const std::string folder = test::makeTempFolder();
  for (const char* source : sources) {
    std::string original = test::readFile(test::conformancePath(source));
    if (original.empty()) original = test::readFile(test::fixturePath("vbr.mp3"));
    for (int round = 0; round < 12; ++round) {
      std::string bytes = original;
      const int flips = 1 + static_cast<int>(random() % 2000);
      for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<char>(random());
      const std::string path = folder + "/damaged.mp3";
      test::writeFile(path, bytes);
      test::DecodeOptions options;
      options.channelSelect = static_cast<int>(random() % 5) - 1;
      options.downSample = static_cast<int>(random() % 3);
      options.answer = 7;  // No
      const test::Decoded decoded = test::decodeInProcess(path, options);
      EXPECT_TRUE(decoded.opened);
    }
  }
  test::removeTree(folder);
}

}  // namespace
}  // namespace kuv
