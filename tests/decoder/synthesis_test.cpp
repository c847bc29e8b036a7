// The synthesis filterbank against the standard's definition, its rate
// variants, PCM conversion and the routine table.
#include "decoder/synthesis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

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

}  // namespace
}  // namespace kuv
