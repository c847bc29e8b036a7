// The fast IMDCTs against their defining sums, alone and inside the hybrid
// filterbank for every block type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "layer3/imdct.h"
#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"

namespace kuv {
namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// x[i] = sum_k X[k] cos(pi / (2n) (2i + 1 + n/2) (2k + 1)), in long double.
long double directImdct(const double* in, int n, int i) {
  long double sum = 0;
  for (int k = 0; k < n / 2; ++k) sum += in[k] * std::cos(kPi / (2 * n) * (2 * i + 1 + n / 2) * (2 * k + 1));
  return sum;
}

// The four window shapes as the standard writes them.
long double standardWindow(int type, int i) {
  auto longSine = [](int j) { return std::sin(kPi / 36 * (j + 0.5L)); };
  auto shortSine = [](int j) { return std::sin(kPi / 12 * (j + 0.5L)); };
  switch (type) {
    case 0:
      return longSine(i);
    case 1:
      return i < 18 ? longSine(i) : i < 24 ? 1.0L : i < 30 ? shortSine(i - 18) : 0.0L;
    case 2:
      return i < 12 ? shortSine(i) : 0.0L;
    default:
      return i < 6 ? 0.0L : i < 12 ? shortSine(i - 6) : i < 18 ? 1.0L : longSine(i);
  }
}

enum InputKind { kImpulses, kUniform, kLarge, kWideRange };

struct TransformCase {
  const char* name;
  InputKind kind;
  int trials;
};

// Inputs of one kind for a transform of n / 2 values: each impulse, or
// random values of the kind.
std::vector<std::vector<double>> inputsOf(InputKind kind, int count, int trials, std::mt19937& random) {
  std::vector<std::vector<double>> inputs;
  std::uniform_real_distribution<double> unit(-1.0, 1.0), exponent(-6.0, 6.0);
  if (kind == kImpulses) {
    for (int k = 0; k < count; ++k) {
      inputs.emplace_back(count, 0.0);
      inputs.back()[k] = k & 1 ? -1.0 : 1.0;
    }
    return inputs;
  }
  for (int t = 0; t < trials; ++t) {
    std::vector<double> in(count);
    for (double& v : in) {
      v = unit(random);
      if (kind == kLarge) v *= 1e12;
      if (kind == kWideRange) v *= std::pow(10.0, exponent(random));
    }
    inputs.push_back(in);
  }
  return inputs;
}

TEST(Layer3Imdct, FastTransformsMatchTheirDefiningSums) {
  initLayer3Tables();
  const TransformCase cases[] = {
      {"impulses", kImpulses, 0},
      {"uniform", kUniform, 200},
      {"large", kLarge, 50},
      {"wide range", kWideRange, 200},
  };
  std::mt19937 random(18);
  std::uniform_real_distribution<double> windowValue(0.25, 1.5);
  for (const TransformCase& c : cases) {
    for (int n : {36, 12}) {
      const std::vector<std::vector<double>> inputs = inputsOf(c.kind, n / 2, c.trials, random);
      // The transforms run two subbands at once: pair each input with
      // another (the next, reversed for the last) so a lane mixed into the
      // other shows.
      for (size_t first = 0; first < inputs.size(); ++first) {
        const std::vector<double>& in0 = inputs[first];
        const std::vector<double>& in1 = inputs[first + 1 < inputs.size() ? first + 1 : 0];
        // A random window shows each output lands in its own place.
        std::vector<double> window(n), out0(n), out1(n);
        for (double& w : window) w = windowValue(random);
        if (n == 36) {
          imdct36Pair(in0.data(), in1.data(), window.data(), out0.data(), out1.data());
        } else {
          imdct12Pair(in0.data(), in1.data(), window.data(), out0.data(), out1.data());
        }
        for (int lane = 0; lane < 2; ++lane) {
          const std::vector<double>& in = lane ? in1 : in0;
          const std::vector<double>& out = lane ? out1 : out0;
          double scale = 0;
          for (double v : in) scale = std::max(scale, std::fabs(v));
          for (int i = 0; i < n; ++i) {
            const long double expected = window[i] * directImdct(in.data(), n, i);
            ASSERT_LE(std::fabs(static_cast<double>(out[i] - expected)), 1e-12 * scale)
                << c.name << ", " << n << " points, input " << first << ", lane " << lane << ", output " << i;
          }
        }
      }
    }
  }
}

struct FilterbankCase {
  const char* name;
  int32_t blockType;
  int32_t mixed;
  int32_t maxSubband;
};

TEST(Layer3Imdct, FilterbankMatchesTheDirectFormulaForEveryBlockType) {
  initLayer3Tables();
  const FilterbankCase cases[] = {
      {"normal", 0, 0, 32},
      {"start", 1, 0, 32},
      {"short", 2, 0, 32},
      {"stop", 3, 0, 32},
      {"mixed short", 2, 1, 32},
      {"mixed start", 1, 1, 32},
      {"mixed stop", 3, 1, 32},
      {"normal, 7 subbands", 0, 0, 7},
      {"short, 4 subbands", 2, 0, 4},
      {"mixed short, 3 subbands", 2, 1, 3},
  };
  std::mt19937 random(36);
  std::uniform_real_distribution<double> value(-3000.0, 3000.0);
  for (const FilterbankCase& c : cases) {
    GranuleInfo gi{};
    gi.blockType = c.blockType;
    gi.mixedBlock = c.mixed;
    gi.maxSubband = c.maxSubband;
    std::vector<double> lines(576);
    for (double& l : lines) l = value(random);
    double overlap[18][32], before[18][32], slots[18][32];
    for (auto& row : overlap)
      for (double& v : row) v = value(random);
    std::copy(&overlap[0][0], &overlap[0][0] + 18 * 32, &before[0][0]);
    const std::vector<double> input = lines;
    hybridFilterbank(lines.data(), slots, overlap, gi);

    for (int sb = 0; sb < 32; ++sb) {
      // Subbands go in pairs: a pair is transformed when its first subband
      // holds values.
      const bool transformed = (sb & ~1) < c.maxSubband;
      const bool shortWindows = c.blockType == 2 && !(c.mixed && sb < 2);
      const int type = c.blockType == 2 || (c.mixed && sb < 2) ? 0 : c.blockType;
      const double* in = input.data() + 18 * sb;
      long double block[36] = {};
      if (transformed && shortWindows) {
        for (int w = 0; w < 3; ++w) {
          double values[6];
          for (int k = 0; k < 6; ++k) values[k] = in[3 * k + w];
          for (int i = 0; i < 12; ++i) block[6 + 6 * w + i] += standardWindow(2, i) * directImdct(values, 12, i);
        }
      } else if (transformed) {
        for (int i = 0; i < 36; ++i) block[i] = standardWindow(type, i) * directImdct(in, 36, i);
      }
      for (int t = 0; t < 18; ++t) {
        long double expected = before[t][sb] + block[t];
        if ((sb & 1) && (t & 1)) expected = -expected;  // frequency inversion
        ASSERT_LE(std::fabs(static_cast<double>(slots[t][sb] - expected)), 1e-12 * 3000.0)
            << c.name << ", subband " << sb << ", slot " << t;
        ASSERT_LE(std::fabs(static_cast<double>(overlap[t][sb] - block[18 + t])), 1e-12 * 3000.0)
            << c.name << ", subband " << sb << ", overlap " << t;
      }
    }
  }
}

}  // namespace
}  // namespace kuv
