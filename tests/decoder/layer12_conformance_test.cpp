// Layer I and II decoding end to end: kuv-decode writes a wave file through
// the real engine, compared with the ISO reference output and with ffmpeg.
#include <gtest/gtest.h>

#include <string>

#include "decoder/synthesis_path_scope.h"
#include "support/test_support.h"

namespace kuv {
namespace {

// Every case runs on the SSE2 and on the AVX2 synthesis path.
class Layer12Conformance : public ::testing::TestWithParam<SynthesisPath> {
 protected:
  void SetUp() override {
    folder_ = test::makeTempFolder();
    if (!path_.enter(GetParam())) GTEST_SKIP() << test::missingPathReason(GetParam());
  }
  void TearDown() override { test::removeTree(folder_); }

  std::vector<int16_t> decode(const std::string& input, const std::string& extra = "") {
    std::string printed;
    std::vector<int16_t> samples = test::decodeToWave(folder_, input, extra, &printed);
    EXPECT_FALSE(samples.empty()) << printed;
    return samples;
  }
  std::string folder_;
  test::SynthesisPathScope path_;
};

TEST_P(Layer12Conformance, ComplianceStreamsMatchTheirReferences) {
  KUV_REQUIRE_REFERENCE(test::fileExists(test::conformancePath("l1-fl1.bit")), "compliance streams");
  const struct {
    const char* name;
    bool mono;
  } streams[] = {{"l1-fl1", false},  {"l1-fl2", false},  {"l1-fl3", false},  {"l1-fl4", true},
                 {"l1-fl5", false},  {"l1-fl6", false},  {"l1-fl7", false},  {"l1-fl8", false},
                 {"l2-fl10", false}, {"l2-fl11", false}, {"l2-fl12", false}, {"l2-fl13", true},
                 {"l2-fl14", false}, {"l2-fl15", false}, {"l2-fl16", false}, {"l2-test32", false}};
  for (const auto& stream : streams) {
    SCOPED_TRACE(stream.name);
    const std::vector<int16_t> ours =
        decode(test::conformancePath(std::string(stream.name) + ".bit"), stream.mono ? "--channels 0" : "");
    const std::vector<int16_t> reference = test::readSamples(test::conformancePath(std::string(stream.name) + ".pcm"));
    const test::Comparison c = test::compareSamples(ours, reference);
    // The references run on past the last frame; every frame must be there.
    EXPECT_GE(ours.size() * 2, reference.size() * 1) << "frames missing";
    EXPECT_GT(c.compared, 10000u);
    EXPECT_LE(c.maxDifference, 1);
    EXPECT_GE(c.psnr, 96.0);
    std::printf("[ conformance ] %-10s PSNR %6.1f dB, largest difference %d, %zu samples\n", stream.name, c.psnr,
                c.maxDifference, c.compared);
  }
}

TEST_P(Layer12Conformance, EncodedLayerTwoFilesMatchFfmpeg) {
  std::string found;
  KUV_REQUIRE_REFERENCE(test::runCommand("command -v ffmpeg", &found) == 0 && !found.empty(), "ffmpeg");
  const struct {
    const char* name;
    bool mono;
  } files[] = {{"l2_48_stereo.mp2", false}, {"l2_44_joint.mp2", false},   {"l2_32_mono.mp2", true},
               {"l2_44_crc.mp2", false},    {"l2_44_lowrate.mp2", false}, {"l2_22k.mp2", false},
               {"l2_24k.mp2", false},       {"l2_16k.mp2", false}};
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    const std::string input = test::fixturePath(file.name);
    const std::vector<int16_t> ours = decode(input, file.mono ? "--channels 0" : "");
    const std::string raw = folder_ + "/ffmpeg.raw";
    ASSERT_EQ(test::runCommand("ffmpeg -v error -y -i '" + input + "' -f s16le -acodec pcm_s16le '" + raw + "'"), 0);
    const std::vector<int16_t> theirs = test::readSamples(raw);
    ASSERT_EQ(ours.size(), theirs.size());
    const test::Comparison c = test::compareSamples(ours, theirs);
    EXPECT_GE(c.psnr, 90.0);
    std::printf("[ vs ffmpeg ] %-18s PSNR %6.1f dB, largest difference %d\n", file.name, c.psnr, c.maxDifference);
  }
}

TEST_P(Layer12Conformance, OutputOptionsShapeTheWaveFile) {
  const std::string input = test::fixturePath("l2_44_joint.mp2");
  const std::vector<int16_t> full = decode(input);
  const std::vector<int16_t> half = decode(input, "--downsample 1");
  const std::vector<int16_t> quarter = decode(input, "--downsample 2");
  const std::vector<int16_t> left = decode(input, "--channels 0");
  const std::vector<int16_t> right = decode(input, "--channels 1");
  EXPECT_EQ(half.size() * 2, full.size());
  EXPECT_EQ(quarter.size() * 4, full.size());
  ASSERT_EQ(left.size() * 2, full.size());
  ASSERT_EQ(right.size() * 2, full.size());
  for (size_t i = 0; i < left.size(); ++i) {
    ASSERT_EQ(left[i], full[2 * i]);
    ASSERT_EQ(right[i], full[2 * i + 1]);
  }
  const std::string bytes8 = folder_ + "/eight.wav";
  ASSERT_EQ(
      test::runCommand("HOME='" + folder_ + "' '" + KUV_DECODE_BIN + "' -q --8bit -o '" + bytes8 + "' '" + input + "'"),
      0);
  const std::string eight = test::readFile(bytes8);
  ASSERT_EQ(eight.size() - 46, full.size());
  for (size_t i = 0; i < full.size(); i += 97) {
    ASSERT_EQ(static_cast<uint8_t>(eight[46 + i]), static_cast<uint8_t>((full[i] >> 9) + 128)) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(, Layer12Conformance, testing::Values(SynthesisPath::kSse2, SynthesisPath::kAvx2),
                         test::synthesisPathParamName);

}  // namespace
}  // namespace kuv
