// Layer III end to end: the ISO compliance streams through kuv-decode and
// the real engine, and lame-encoded files against ffmpeg's decoder.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "decoder/synthesis_path_scope.h"
#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "support/decode_support.h"
#include "support/test_support.h"

namespace kuv {
namespace {

// Every case runs on the SSE2 and on the AVX2 synthesis path.
class Layer3Conformance : public ::testing::TestWithParam<SynthesisPath> {
 protected:
  void SetUp() override {
    folder_ = test::makeTempFolder();
    if (!path_.enter(GetParam())) GTEST_SKIP() << test::missingPathReason(GetParam());
  }
  void TearDown() override { test::removeTree(folder_); }
  std::vector<int16_t> decodeWithTool(const std::string& input, const std::string& extra,
                                      std::string* output = nullptr) {
    return test::decodeToWave(folder_, input, extra, output);
  }
  std::string folder_;
  test::SynthesisPathScope path_;
};

TEST_P(Layer3Conformance, ComplianceStreamsMatchTheirReferences) {
  KUV_REQUIRE_REFERENCE(test::fileExists(test::conformancePath("l3-compl.bit")), "compliance streams");
  const struct {
    const char* name;
    bool mono;
  } streams[] = {{"l3-compl", true},
                 {"l3-he_32khz", true},
                 {"l3-he_44khz", true},
                 {"l3-he_48khz", true},
                 {"l3-hecommon", false},
                 {"l3-si", true},
                 {"l3-si_block", true},
                 {"l3-si_huff", true},
                 {"l3-sin1k0db", false},
                 {"M2L3_compl24", true},
                 {"M2L3_noise", false},
                 {"M2L3_bitrate_16_all", true},
                 {"M2L3_bitrate_22_all", true},
                 {"M2L3_bitrate_24_all", true},
                 {"l3-he_free", false}};  // free format: 391 and 392-byte frames, no bit rate
  for (const auto& stream : streams) {
    SCOPED_TRACE(stream.name);
    const std::vector<int16_t> ours =
        decodeWithTool(test::conformancePath(std::string(stream.name) + ".bit"), stream.mono ? "--channels 0" : "");
    const std::vector<int16_t> reference = test::readSamples(test::conformancePath(std::string(stream.name) + ".pcm"));
    // The references of the MPEG-1 streams leave out the last frame.
    EXPECT_GE(ours.size(), reference.size());
    const test::Comparison c = test::compareSamples(ours, reference);
    EXPECT_EQ(c.compared, reference.size());
    EXPECT_LE(c.maxDifference, 1);
    EXPECT_GE(c.psnr, 96.0);
    std::printf("[ conformance ] %-20s PSNR %6.1f dB, largest difference %d, %zu samples\n", stream.name, c.psnr,
                c.maxDifference, c.compared);
  }
}

TEST_P(Layer3Conformance, ModeChangingStreamMatchesFrameByFrame) {
  const std::string bit = test::conformancePath("l3-he_mode.bit");
  KUV_REQUIRE_REFERENCE(test::fileExists(bit), "compliance streams");
  // Channel count of every frame.
  std::vector<int> channels;
  {
    auto s = std::make_unique<InputStream>();
    FrameContext ctx;
    ASSERT_TRUE(openStream(*s, bit));
    resetFrameState(*s);
    while (readFrame(*s, ctx)) channels.push_back(ctx.channels);
    closeStream(*s);
  }
  ASSERT_EQ(channels.size(), 128u);
  // One-channel frames come out on both channels of the stereo output.
  const std::vector<int16_t> reference = test::readSamples(test::conformancePath("l3-he_mode.pcm"));
  std::vector<int16_t> expected;
  size_t at = 0;
  for (int n : channels) {
    for (int i = 0; i < 1152; ++i) {
      if (n == 1) {
        expected.push_back(reference[at + i]);
        expected.push_back(reference[at + i]);
      } else {
        expected.push_back(reference[at + 2 * i]);
        expected.push_back(reference[at + 2 * i + 1]);
      }
    }
    at += 1152 * n;
  }
  const std::vector<int16_t> ours = decodeWithTool(bit, "");
  const test::Comparison c = test::compareSamples(ours, expected);
  EXPECT_EQ(c.compared, expected.size());
  EXPECT_LE(c.maxDifference, 1);
  EXPECT_GE(c.psnr, 96.0);
  std::printf("[ conformance ] %-20s PSNR %6.1f dB, largest difference %d\n", "l3-he_mode", c.psnr, c.maxDifference);
}

TEST_P(Layer3Conformance, EncodedFilesMatchFfmpeg) {
  std::string found;
  KUV_REQUIRE_REFERENCE(test::runCommand("command -v ffmpeg", &found) == 0 && !found.empty(), "ffmpeg");
  const struct {
    const char* name;
    int channels;
  } files[] = {{"cbr.mp3", 2},       {"l3_320.mp3", 2}, {"vbr.mp3", 2},    {"l3_v6.mp3", 2},        {"mpeg2.mp3", 2},
               {"l3_24k.mp3", 2},    {"l3_16k.mp3", 2}, {"mpeg25.mp3", 2}, {"l3_12k.mp3", 2},       {"l3_8k.mp3", 2},
               {"l3_stereo.mp3", 2}, {"mono.mp3", 1},   {"crc.mp3", 2},    {"l3_transients.mp3", 2}};
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    const std::string input = test::fixturePath(file.name);
    test::DecodeOptions options;
    options.channelSelect = file.channels == 1 ? 0 : -1;
    const test::Decoded ours = test::decodeInProcess(input, options);
    const std::string raw = folder_ + "/ffmpeg.raw";
    ASSERT_EQ(test::runCommand("ffmpeg -v error -y -c:a mp3float -i '" + input + "' -f s16le -acodec pcm_s16le '" +
                               raw + "'"),
              0);
    const std::vector<int16_t> theirs = test::readSamples(raw);
    // ffmpeg drops the encoder's delay where a LAME tag gives it.
    const size_t offset = test::bestOffset(ours.samples, theirs, 2400 * file.channels, file.channels);
    const std::vector<int16_t> aligned(ours.samples.begin() + static_cast<long>(offset), ours.samples.end());
    const test::Comparison c = test::compareSamples(aligned, theirs);
    EXPECT_GT(c.compared, theirs.size() * 9 / 10);
    EXPECT_GE(c.psnr, 90.0);
    std::printf("[ vs ffmpeg ] %-18s offset %5zu, PSNR %6.1f dB, largest difference %d\n", file.name,
                offset / file.channels, c.psnr, c.maxDifference);
  }
}

TEST_P(Layer3Conformance, AnyTestFileBecomesAWaveFile) {
  for (const char* name : {"vbr.mp3", "mpeg25.mp3", "l3_transients.mp3"}) {
    SCOPED_TRACE(name);
    const std::vector<int16_t> ours = decodeWithTool(test::fixturePath(name), "");
    EXPECT_GT(ours.size(), 100000u);
  }
}

INSTANTIATE_TEST_SUITE_P(, Layer3Conformance, testing::Values(SynthesisPath::kSse2, SynthesisPath::kAvx2),
                         test::synthesisPathParamName);

}  // namespace
}  // namespace kuv
