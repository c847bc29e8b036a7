// The synthesis filterbank against the standard's definition, its rate
// variants, PCM conversion and the routine table.
#include "decoder/synthesis.h"
#include "decoder/synthesis_dct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "decoder/synthesis_path_scope.h"
#include "support/test_support.h"

namespace kuv {
namespace {

// The window D[0..511] as the reference file prints it.
std::vector<double> referenceWindow() {
  std::vector<double> d(512, 0.0);
  std::ifstream in(test::referencePath("synth_window.txt"));
  std::string line;
  int found = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key;
    int i;
    double value;
    if (fields >> key >> i >> value && key == "D" && i >= 0 && i < 512) {
      d[i] = value;
      ++found;
    }
  }
  if (found != 512) d.clear();
  return d;
}

// The standard's synthesis, written out as it defines it.
struct ReferenceFilter {
  std::vector<double> v = std::vector<double>(1024, 0.0);
  std::vector<double> window;
  void block(const double* s, double* out) {
    for (int i = 1023; i >= 64; --i) v[i] = v[i - 64];
    for (int i = 0; i < 64; ++i) {
      double sum = 0;
      for (int k = 0; k < 32; ++k) sum += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) * s[k];
      v[i] = sum;
    }
    for (int j = 0; j < 32; ++j) {
      double sum = 0;
      for (int i = 0; i < 8; ++i) {
        sum += v[128 * i + j] * window[64 * i + j] + v[128 * i + 96 + j] * window[64 * i + 32 + j];
      }
      out[j] = sum * 32768.0;
    }
  }
};

std::vector<double> randomBlock(std::mt19937& random, int bands, double scale) {
  std::uniform_real_distribution<double> value(-scale, scale);
  std::vector<double> block(32, 0.0);
  for (int i = 0; i < bands; ++i) block[i] = value(random);
  return block;
}

TEST(Synthesis, WindowCoefficientsMatchTheReference) {
  const std::vector<double> d = referenceWindow();
  KUV_REQUIRE_REFERENCE(!d.empty(), "reference window");
  for (int i = 0; i <= 256; ++i) EXPECT_NEAR(kSynthesisWindowCoefficients[i] / 65536.0, d[i], 5e-10) << i;
}

TEST(Synthesis, MatchesTheStandardsFilterBlockAfterBlock) {
  ReferenceFilter reference;
  reference.window = referenceWindow();
  KUV_REQUIRE_REFERENCE(!reference.window.empty(), "reference window");
  buildSynthesisWindow(32768.0);
  std::mt19937 random(5);
  // Mono, one channel: the full-rate single-channel routine.
  const MonoHandlerFn single = synthesisRoutines.mono[6];
  SynthesisState state;
  int worst = 0;
  for (int n = 0; n < 200; ++n) {
    const std::vector<double> block = randomBlock(random, 32, 0.3);
    double expected[32];
    reference.block(block.data(), expected);
    int16_t got[32];
    single(state, block.data(), reinterpret_cast<uint8_t*>(got));
    if (n < 16) continue;
    for (int j = 0; j < 32; ++j) {
      const double clipped = std::max(-32768.0, std::min(32767.0, std::nearbyint(expected[j])));
      worst = std::max(worst, static_cast<int>(std::fabs(got[j] - clipped)));
    }
  }
  EXPECT_LE(worst, 1);
}

TEST(Synthesis, HalfAndQuarterRateKeepEverySecondAndFourthSample) {
  buildSynthesisWindow(32768.0);
  std::mt19937 random(9);
  for (int step : {2, 4}) {
    SCOPED_TRACE(step);
    const int bands = 32 / step;
    // Each variant keeps its own memory; run both on the same blocks.
    SynthesisState state;
    const MonoHandlerFn full = synthesisRoutines.mono[6];
    const MonoHandlerFn reduced = synthesisRoutines.mono[6 + (step == 2 ? 1 : 2)];
    for (int n = 0; n < 64; ++n) {
      const std::vector<double> block = randomBlock(random, bands, 0.4);
      int16_t wide[32];
      int16_t narrow[32];
      full(state, block.data(), reinterpret_cast<uint8_t*>(wide));
      reduced(state, block.data(), reinterpret_cast<uint8_t*>(narrow));
      if (n < 16) continue;
      for (int i = 0; i < 32 / step; ++i) ASSERT_EQ(narrow[i], wide[i * step]) << "block " << n << " sample " << i;
    }
  }
}

TEST(Synthesis, FullScaleClipsInsteadOfWrapping) {
  buildSynthesisWindow(32768.0);
  std::vector<double> loud(32, 0.0);
  int16_t out[32];
  int32_t clips = 0;
  SynthesisState state;
  for (int n = 0; n < 40; ++n) {
    loud[0] = (n % 2) ? 50.0 : -50.0;
    clips += synthesisRoutines.mono[6](state, loud.data(), reinterpret_cast<uint8_t*>(out));
    for (int16_t s : out) ASSERT_TRUE(s == 32767 || s == -32768 || std::abs(s) < 32767);
  }
  EXPECT_GT(clips, 0);
  int32_t count = 0;
  EXPECT_EQ(roundAndClip(1e12, count), 32767);
  EXPECT_EQ(roundAndClip(-1e12, count), -32768);
  EXPECT_EQ(roundAndClip(2.5, count), 2);  // ties to even
  EXPECT_EQ(roundAndClip(3.5, count), 4);
  EXPECT_EQ(roundAndClip(-2.5, count), -2);
  EXPECT_EQ(roundAndClip(32767.4, count), 32767);
  EXPECT_EQ(count, 2);
}

TEST(Synthesis, EightBitSamplesSpanHalfTheRange) {
  buildEightBitTable();
  EXPECT_EQ(eightBitSample(32767), 191);
  EXPECT_EQ(eightBitSample(-32768), 64);
  EXPECT_EQ(eightBitSample(0), 128);
  EXPECT_EQ(eightBitSample(-1), 127);
}

TEST(Synthesis, EveryRoutineWritesExactlyItsBlock) {
  buildSynthesisWindow(32768.0);
  buildEightBitTable();
  std::mt19937 random(3);
  SynthesisState state;
  for (int eightBit = 0; eightBit < 2; ++eightBit) {
    for (int monoOut = 0; monoOut < 2; ++monoOut) {
      for (int downSample = 0; downSample < 3; ++downSample) {
        SCOPED_TRACE(testing::Message() << "8bit " << eightBit << " mono " << monoOut << " ds " << downSample);
        const int32_t bytes = blockBytesFor(eightBit, monoOut, downSample);
        EXPECT_EQ(bytes, (32 >> downSample) * (monoOut ? 1 : 2) * (eightBit ? 1 : 2));
        const std::vector<double> block = randomBlock(random, 32 >> downSample, 0.2);
        std::vector<uint8_t> out(bytes + 64, 0xA5);
        synthesisRoutines.mono[3 * (eightBit + 2 * monoOut) + downSample](state, block.data(), out.data());
        for (size_t i = bytes; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << "wrote past the block at " << i;
        if (!monoOut) {
          // One source to two channels: both equal.
          const int width = eightBit ? 1 : 2;
          for (int n = 0; n < bytes / (2 * width); ++n) {
            ASSERT_EQ(std::memcmp(&out[2 * n * width], &out[(2 * n + 1) * width], width), 0);
          }
          std::vector<uint8_t> stereo(bytes + 64, 0xA5);
          synthesisRoutines.stereo[downSample + 3 * eightBit](state, block.data(), 0, stereo.data());
          synthesisRoutines.stereo[downSample + 3 * eightBit](state, block.data(), 1, stereo.data());
          for (size_t i = bytes; i < stereo.size(); ++i) ASSERT_EQ(stereo[i], 0xA5);
          std::vector<uint8_t> pair(bytes + 64, 0xA5);
          synthesisRoutines.pair[downSample + 3 * eightBit](state, block.data(), block.data(), pair.data());
          for (size_t i = bytes; i < pair.size(); ++i) ASSERT_EQ(pair[i], 0xA5);
        }
      }
    }
  }
}

TEST(Synthesis, AStereoPairInterleavesLeftAndRight) {
  buildSynthesisWindow(32768.0);
  std::vector<double> silent(32, 0.0);
  std::vector<double> loud(32, 0.0);
  int16_t out[64];
  SynthesisState state;
  for (int n = 0; n < 20; ++n) {
    loud[1] = 0.5;
    synthesisRoutines.stereo[0](state, silent.data(), 0, reinterpret_cast<uint8_t*>(out));
    synthesisRoutines.stereo[0](state, loud.data(), 1, reinterpret_cast<uint8_t*>(out));
  }
  int leftEnergy = 0, rightEnergy = 0;
  for (int i = 0; i < 32; ++i) {
    leftEnergy += std::abs(out[2 * i]);
    rightEnergy += std::abs(out[2 * i + 1]);
  }
  EXPECT_EQ(leftEnergy, 0);
  EXPECT_GT(rightEnergy, 1000);
}

TEST(SynthesisDct, MatchesItsDefinition) {
  buildSynthesisWindow(32768.0);
  std::mt19937 random(11);
  std::vector<std::vector<double>> inputs;
  for (int k = 0; k < 32; ++k) {
    inputs.emplace_back(32, 0.0);
    inputs.back()[k] = 1.0;  // each basis vector alone
  }
  inputs.emplace_back(32, 1.0);
  inputs.emplace_back(32, 0.0);
  for (int k = 0; k < 32; ++k) inputs.back()[k] = (k & 1) ? -1.0 : 1.0;
  for (double scale : {1e-6, 0.5, 1000.0}) {
    for (int n = 0; n < 8; ++n) inputs.push_back(randomBlock(random, 32, scale));
  }
  for (size_t c = 0; c < inputs.size(); ++c) {
    const std::vector<double>& x = inputs[c];
    double got[32];
    synthesisDct32(x.data(), got);
    double magnitude = 0;
    for (double v : x) magnitude += std::fabs(v);
    for (int m = 0; m < 32; ++m) {
      double expected = 0;
      for (int k = 0; k < 32; ++k) expected += x[k] * std::cos(M_PI * (2 * k + 1) * m / 64.0);
      ASSERT_NEAR(got[m], expected, 1e-13 * magnitude) << "input " << c << " output " << m;
    }
  }
}

// Each window product: the forced path against the standard's filter.
class SynthesisPaths : public testing::TestWithParam<SynthesisPath> {
 protected:
  void SetUp() override {
    if (!scope_.enter(GetParam())) GTEST_SKIP() << test::missingPathReason(GetParam());
    window_ = referenceWindow();
    buildSynthesisWindow(32768.0);
    buildEightBitTable();
  }
  test::SynthesisPathScope scope_;
  std::vector<double> window_;
};

// One of the twenty-four routines, and where its channels' samples lie.
struct RoutineCase {
  bool stereoDriver;  // two channels in, by the stereo driver or the pair routine
  int eightBit;
  int monoOut;  // one output channel (mono routines only)
  int downSample;
  bool pair = false;  // both channels in one call
};

const char* routineName(const RoutineCase& rc) {
  if (rc.pair) return "pair";
  if (rc.stereoDriver) return "stereo";
  return rc.monoOut ? "single" : "duplicated";
}

std::vector<RoutineCase> allRoutines() {
  std::vector<RoutineCase> cases;
  for (int eightBit = 0; eightBit < 2; ++eightBit) {
    for (int downSample = 0; downSample < 3; ++downSample) {
      cases.push_back({true, eightBit, 0, downSample});
      cases.push_back({false, eightBit, 0, downSample});
      cases.push_back({false, eightBit, 1, downSample});
      cases.push_back({true, eightBit, 0, downSample, true});
    }
  }
  return cases;
}

// Runs `blocks` pairs of blocks through a routine and through the standard's
// filter; returns the largest difference in 16-bit steps (8-bit samples are
// compared with those of the reference and its neighbours).
int worstDifference(const RoutineCase& rc, const std::vector<double>& window, double scale, int blocks, int seed,
                    int32_t* clips, int32_t* expectedClips, int32_t* doubtfulClips) {
  std::mt19937 random(seed);
  ReferenceFilter reference[2];
  reference[0].window = reference[1].window = window;
  SynthesisState state;
  const int step = 1 << rc.downSample;
  const int perChannel = 32 / step;
  const int channels = rc.stereoDriver ? 2 : 1;
  const int outChannels = rc.monoOut ? 1 : 2;
  const int width = rc.eightBit ? 1 : 2;
  int worst = 0;
  for (int n = 0; n < blocks; ++n) {
    std::vector<double> in[2] = {randomBlock(random, 32, scale), randomBlock(random, 32, scale)};
    std::vector<uint8_t> out(perChannel * outChannels * width + 16, 0xA5);
    if (rc.pair) {
      *clips += synthesisRoutines.pair[rc.downSample + 3 * rc.eightBit](state, in[0].data(), in[1].data(), out.data());
    } else if (rc.stereoDriver) {
      for (int c = 0; c < 2; ++c) {
        *clips += synthesisRoutines.stereo[rc.downSample + 3 * rc.eightBit](state, in[c].data(), c, out.data());
      }
    } else {
      *clips +=
          synthesisRoutines.mono[3 * (rc.eightBit + 2 * rc.monoOut) + rc.downSample](state, in[0].data(), out.data());
    }
    for (size_t i = perChannel * outChannels * width; i < out.size(); ++i) EXPECT_EQ(out[i], 0xA5) << "past the block";
    double expected[2][32];
    for (int c = 0; c < channels; ++c) reference[c].block(in[c].data(), expected[c]);
    for (int c = 0; c < outChannels; ++c) {
      const int source = rc.stereoDriver ? c : 0;
      for (int i = 0; i < perChannel; ++i) {
        const double e = expected[source][i * step];
        const double rounded = std::nearbyint(e);
        const int target = static_cast<int>(std::max(-32768.0, std::min(32767.0, rounded)));
        if (c != source) {
          // The same sample again: counted once.
        } else if (std::fabs(std::fabs(e - rounded) - 0.5) < 1e-6 && std::fabs(rounded) >= 32767.0) {
          ++*doubtfulClips;  // so near a rounding tie at the limits that either way is right
        } else if (rounded > 32767.0 || rounded < -32768.0) {
          ++*expectedClips;
        }
        const int at = (outChannels * i + c) * width;
        int difference;
        if (rc.eightBit) {
          difference = 1 << 9;
          for (int v = std::max(-32768, target - 1); v <= std::min(32767, target + 1); ++v) {
            if (out[at] == static_cast<uint8_t>((v >> 9) + 128)) difference = std::abs(v - target);
          }
        } else {
          int16_t got;
          std::memcpy(&got, &out[at], 2);
          difference = std::abs(got - target);
        }
        worst = std::max(worst, difference);
      }
    }
    if (!rc.stereoDriver && !rc.monoOut) {
      // The one channel is written to both.
      for (int i = 0; i < perChannel; ++i) {
        EXPECT_EQ(std::memcmp(&out[2 * i * width], &out[(2 * i + 1) * width], width), 0) << "sample " << i;
      }
    }
  }
  return worst;
}

TEST_P(SynthesisPaths, EveryRoutineFollowsTheStandardsFilter) {
  KUV_REQUIRE_REFERENCE(!window_.empty(), "reference window");
  for (const RoutineCase& rc : allRoutines()) {
    SCOPED_TRACE(testing::Message() << routineName(rc) << " 8bit " << rc.eightBit << " ds " << rc.downSample);
    int32_t clips = 0, expectedClips = 0, doubtful = 0;
    EXPECT_LE(worstDifference(rc, window_, 0.05, 60, 17 + rc.downSample, &clips, &expectedClips, &doubtful), 1);
    EXPECT_EQ(expectedClips + doubtful, 0);  // within range: nothing to clip
    EXPECT_EQ(clips, 0);
  }
}

TEST_P(SynthesisPaths, OverdrivenInputSaturatesAndCountsItsClips) {
  KUV_REQUIRE_REFERENCE(!window_.empty(), "reference window");
  for (const RoutineCase& rc : allRoutines()) {
    if (rc.eightBit) continue;  // the clip count does not depend on the sample width
    SCOPED_TRACE(testing::Message() << routineName(rc) << " ds " << rc.downSample);
    int32_t clips = 0, expectedClips = 0, doubtful = 0;
    EXPECT_LE(worstDifference(rc, window_, 6.0, 40, 23, &clips, &expectedClips, &doubtful), 1);
    EXPECT_GT(expectedClips, 40);  // the input does overdrive the filter
    EXPECT_GE(clips, expectedClips);
    EXPECT_LE(clips, expectedClips + doubtful);
  }
}

// The pair routine is the stereo driver for channel 0 then 1, to the bit:
// the same samples, clip counts and filter memory, in and out of range.
TEST_P(SynthesisPaths, APairIsTheStereoDriverTwiceToTheBit) {
  struct Case {
    int eightBit;
    int downSample;
    double scale;
  };
  const Case cases[] = {{0, 0, 0.05}, {0, 1, 0.05}, {0, 2, 0.05}, {1, 0, 0.05},
                        {1, 1, 0.05}, {1, 2, 0.05}, {0, 0, 6.0},  {0, 2, 6.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "8bit " << c.eightBit << " ds " << c.downSample << " scale " << c.scale);
    std::mt19937 random(41 + c.downSample);
    SynthesisState byDriver, byPair;
    const int32_t bytes = blockBytesFor(c.eightBit, 0, c.downSample);
    int32_t driverClips = 0, pairClips = 0;
    for (int n = 0; n < 50; ++n) {
      const std::vector<double> left = randomBlock(random, 32, c.scale);
      const std::vector<double> right = randomBlock(random, 32, c.scale);
      std::vector<uint8_t> expected(bytes, 0), got(bytes, 0);
      driverClips += synthesisRoutines.stereo[c.downSample + 3 * c.eightBit](byDriver, left.data(), 0, expected.data());
      driverClips +=
          synthesisRoutines.stereo[c.downSample + 3 * c.eightBit](byDriver, right.data(), 1, expected.data());
      pairClips += synthesisRoutines.pair[c.downSample + 3 * c.eightBit](byPair, left.data(), right.data(), got.data());
      ASSERT_EQ(got, expected) << "block " << n;
    }
    EXPECT_EQ(pairClips, driverClips);
    if (c.scale > 1.0) {
      EXPECT_GT(pairClips, 0);  // the overdriven rows do clip
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, SynthesisPaths,
                         testing::Values(SynthesisPath::kScalar, SynthesisPath::kSse2, SynthesisPath::kAvx2),
                         test::synthesisPathParamName);

#if defined(KUV_X86_SIMD)
// The two-channel window products against their path's one-channel product,
// to the bit: samples and clip masks, at every ring position, in range and
// overdriven.
TEST(SynthesisWindow, PairKernelsMatchTheirOneChannelKernelsToTheBit) {
  struct Case {
    SynthesisPath path;
    SynthesisWindowFn single;
    SynthesisWindowPairFn pair;
  };
  std::vector<Case> cases = {{SynthesisPath::kSse2, synthesisWindowSse2, synthesisWindowPairSse2}};
  if (synthesisPathAvailable(SynthesisPath::kAvx2)) {
    cases.push_back({SynthesisPath::kAvx2, synthesisWindowAvx2, synthesisWindowPairAvx2});
  }
  std::mt19937 random(29);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  alignas(64) double taps[16 * 32];
  alignas(64) double rings[2][kSynthesisRingValues] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(synthesisPathName(c.path));
    for (double scale : {300.0, 40000.0}) {
      for (int trial = 0; trial < 4; ++trial) {
        for (double& t : taps) t = unit(random);
        for (auto& ring : rings) {
          for (int i = 0; i < 32 * kSynthesisRingBlocks; ++i) ring[i] = scale * unit(random);
        }
        for (int newest = 0; newest < kSynthesisRingBlocks; ++newest) {
          alignas(16) int16_t expected[2][32], got[2][32];
          uint64_t expectedClips = 0;
          for (int ch = 0; ch < 2; ++ch) {
            const auto mask = static_cast<uint32_t>(c.single(rings[ch], newest, taps, expected[ch]));
            expectedClips |= static_cast<uint64_t>(mask) << (32 * ch);
          }
          const uint64_t clips = c.pair(rings[0], rings[1], newest, taps, got[0], got[1]);
          ASSERT_EQ(std::memcmp(got, expected, sizeof got), 0) << "scale " << scale << " newest " << newest;
          ASSERT_EQ(clips, expectedClips) << "scale " << scale << " newest " << newest;
          if (scale > 1000.0) {
            EXPECT_NE(clips, 0u);  // the overdriven rings do clip
          }
        }
      }
    }
  }
}
// The four-lane pair transform runs the portable transform's operations on
// each lane: both channels' outputs are the same to the bit, at every size.
TEST(SynthesisDct, TheAvx2PairIsTheScalarTransformToTheBit) {
  if (!synthesisPathAvailable(SynthesisPath::kAvx2)) GTEST_SKIP() << test::missingPathReason(SynthesisPath::kAvx2);
  buildSynthesisWindow(32768.0);
  std::mt19937 random(13);
  for (double scale : {1e-9, 1.0, 3e4}) {
    for (int n = 0; n < 50; ++n) {
      const std::vector<double> left = randomBlock(random, 32, scale);
      const std::vector<double> right = randomBlock(random, 32, scale);
      double expected[2][32], got[2][32];
      synthesisDct32(left.data(), expected[0]);
      synthesisDct32(right.data(), expected[1]);
      synthesisDct32PairAvx2(left.data(), right.data(), got[0], got[1]);
      ASSERT_EQ(std::memcmp(got, expected, sizeof got), 0) << "scale " << scale << " block " << n;
    }
  }
}
#endif

TEST(SynthesisPathChoice, ForcingTakesOnlyWhatTheMachineHas) {
  test::SynthesisPathScope scope;
  const SynthesisPath before = synthesisPath();
  for (SynthesisPath path : {SynthesisPath::kScalar, SynthesisPath::kSse2, SynthesisPath::kAvx2}) {
    SCOPED_TRACE(synthesisPathName(path));
    const bool available = synthesisPathAvailable(path);
    if (path == SynthesisPath::kScalar) {
      EXPECT_TRUE(available);
    }
#if defined(__x86_64__)
    if (path == SynthesisPath::kSse2) {
      EXPECT_TRUE(available);
    }
#endif
    const SynthesisPath current = synthesisPath();
    EXPECT_EQ(forceSynthesisPath(path), available);
    EXPECT_EQ(synthesisPath(), available ? path : current);
  }
  EXPECT_TRUE(forceSynthesisPath(before));
}

TEST(SynthesisPathChoice, KuvSimdPicksThePathOfAChildDecoder) {
  const std::string folder = test::makeTempFolder();
  const std::string input = test::fixturePath("cbr.mp3");
  const struct {
    const char* value;
    const char* message;  // expected on the console, or nullptr for none
  } cases[] = {{"scalar", nullptr}, {"sse2", nullptr}, {"avx2", nullptr}, {"neon", "not one of scalar, sse2, avx2"}};
  std::vector<std::vector<int16_t>> decoded;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const bool avx2 = std::string(c.value) == "avx2";
    if (avx2 && !synthesisPathAvailable(SynthesisPath::kAvx2)) continue;  // its message is checked below
    setenv("KUV_SIMD", c.value, 1);
    std::string printed;
    decoded.push_back(test::decodeToWave(folder, input, "", &printed));
    unsetenv("KUV_SIMD");
    EXPECT_GT(decoded.back().size(), 100000u) << printed;
    if (c.message) {
      EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    } else {
      EXPECT_EQ(printed.find("KUV_SIMD"), std::string::npos) << printed;
    }
  }
  if (!synthesisPathAvailable(SynthesisPath::kAvx2)) {
    setenv("KUV_SIMD", "avx2", 1);
    std::string printed;
    test::decodeToWave(folder, input, "", &printed);
    unsetenv("KUV_SIMD");
    EXPECT_NE(printed.find("lacks it"), std::string::npos) << printed;
  }
  // Scalar and SSE2 make the same sums in the same order; FMA may round
  // one sample in many the other way.
  ASSERT_GE(decoded.size(), 2u);
  EXPECT_EQ(decoded[0], decoded[1]);
  for (const auto& other : decoded) {
    ASSERT_EQ(other.size(), decoded[0].size());
    const test::Comparison c = test::compareSamples(other, decoded[0]);
    EXPECT_LE(c.maxDifference, 1);
  }
  test::removeTree(folder);
}

}  // namespace
}  // namespace kuv
