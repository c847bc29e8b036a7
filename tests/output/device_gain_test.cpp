#include "output/device_gain.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// The dial's 0..63 maps onto the top six bits of the 16-bit word; 64 wraps
// to silence as the word did, and samples shrink toward zero (toward the
// middle value for 8-bit), never past it.
TEST(DeviceGain, VolumeWordsAndScaledSamples) {
  struct Volume {
    int32_t volume;
    uint32_t word;
  };
  for (const Volume& v : std::vector<Volume>{{0, 0}, {1, 0x0400}, {32, 0x8000}, {63, 0xFC00}, {64, 0}}) {
    SCOPED_TRACE(v.volume);
    EXPECT_EQ(kuv::gainOfVolume(v.volume), v.word);
    EXPECT_EQ(kuv::volumeOfGain(v.word), v.volume % 64);
  }
  EXPECT_EQ(kuv::volumeOfGain(kuv::kUnityGain), 63);

  struct Case {
    const char* what;
    bool eightBit;
    uint32_t gain;
    std::vector<unsigned char> in;
    std::vector<unsigned char> out;
  };
  const std::vector<Case> cases = {
      {"unity keeps the extremes", false, kuv::kUnityGain, {0x00, 0x80, 0xFF, 0x7F}, {0x00, 0x80, 0xFF, 0x7F}},
      {"half of the most negative sample", false, 0x8000, {0x00, 0x80}, {0x00, 0xC0}},
      {"half of -1 is 0, not -1", false, 0x8000, {0xFF, 0xFF}, {0x00, 0x00}},
      {"half of the largest sample rounds down", false, 0x8000, {0xFF, 0x7F}, {0xFF, 0x3F}},
      {"an odd last byte of 16-bit data is kept", false, 0, {0x00, 0x40, 0x7B}, {0x00, 0x00, 0x7B}},
      {"8-bit silence is the middle value", true, 0, {0x00, 0x80, 0xFF}, {0x80, 0x80, 0x80}},
      {"8-bit samples shrink toward the middle", true, 0x8000, {0x00, 0x7F, 0x81, 0xFF}, {0x40, 0x80, 0x80, 0xBF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<unsigned char> out(c.in.size(), 0xEE);
    kuv::scaleByGain(out.data(), c.in.data(), static_cast<int32_t>(c.in.size()), c.eightBit, c.gain);
    EXPECT_EQ(out, c.out);
  }
}

}  // namespace
