// Albums without gaps and at an even loudness, through kuv-decode: the
// encoder's delay and padding are not played, so tracks cut from one
// recording join sample for sample, and a file's ReplayGain sets its level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"
#include "playlist/file_info.h"
#include "playlist/playlist.h"
#include "support/test_support.h"

namespace kuv {
namespace {

constexpr size_t kPartFrames = 441000;  // ten seconds at 44.1 kHz
constexpr size_t kParts = 3;

class GaplessDecode : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new std::string(test::makeTempFolder());
    // Two tones, one a channel, cut into three ten-second parts.
    const std::string& f = *folder_;
    ok_ = test::runCommand("sox -n -r 44100 -c 2 -b 16 '" + f + "/tone.wav' synth 30 sine 440 sine 660 gain -8") == 0;
    for (size_t i = 0; i < kParts && ok_; ++i) {
      const std::string part = f + "/part" + std::to_string(i) + ".wav";
      ok_ =
          test::runCommand("sox '" + f + "/tone.wav' '" + part + "' trim " + std::to_string(i * kPartFrames) + "s " +
                           std::to_string(kPartFrames) + "s") == 0 &&
          test::runCommand("lame --quiet -b 192 '" + part + "' '" + f + "/cbr" + std::to_string(i) + ".mp3'") == 0 &&
          test::runCommand("lame --quiet -V2 '" + part + "' '" + f + "/vbr" + std::to_string(i) + ".mp3'") == 0 &&
          test::runCommand("lame --quiet -t -b 192 '" + part + "' '" + f + "/bare" + std::to_string(i) + ".mp3'") == 0;
    }
  }
  static void TearDownTestSuite() {
    test::removeTree(*folder_);
    delete folder_;
  }

  void SetUp() override { ASSERT_TRUE(ok_) << "sox or lame could not make the album"; }

  // kuv-decode -o with these settings lines, playing the names in turn.
  std::vector<int16_t> decode(const std::vector<std::string>& names, const std::string& settingsLines) {
    const std::string& f = *folder_;
    EXPECT_EQ(test::runCommand("mkdir -p '" + f + "/home/.config/kuv'"), 0);
    EXPECT_TRUE(test::writeFile(f + "/home/.config/kuv/kuv.ini", "[kuv]\n" + settingsLines));
    std::string command = "HOME='" + f + "/home' '" + std::string(KUV_DECODE_BIN) + "' -q -o '" + f + "/out.wav'";
    for (const std::string& name : names) command += " '" + f + "/" + name + "'";
    std::string printed;
    EXPECT_EQ(test::runCommand(command + " 2>&1", &printed), 0) << printed;
    return test::readSamples(f + "/out.wav", 46);
  }

  // ffmpeg's decode, which honours the same tag, of each name in turn.
  std::vector<int16_t> ffmpeg(const std::vector<std::string>& names) {
    std::vector<int16_t> all;
    for (const std::string& name : names) {
      const std::string raw = *folder_ + "/ffmpeg.raw";
      EXPECT_EQ(test::runCommand("ffmpeg -v error -y -i '" + *folder_ + "/" + name + "' -f s16le '" + raw + "'"), 0);
      const std::vector<int16_t> part = test::readSamples(raw);
      all.insert(all.end(), part.begin(), part.end());
    }
    return all;
  }

  static std::vector<std::string> album(const std::string& kind) {
    std::vector<std::string> names;
    for (size_t i = 0; i < kParts; ++i) names.push_back(kind + std::to_string(i) + ".mp3");
    return names;
  }

  static std::string* folder_;
  static bool ok_;
};

std::string* GaplessDecode::folder_ = nullptr;
bool GaplessDecode::ok_ = false;

TEST_F(GaplessDecode, AnAlbumCutFromOneRecordingPlaysBackWhole) {
  for (const char* kind : {"cbr", "vbr"}) {
    SCOPED_TRACE(kind);
    const std::vector<int16_t> ours = decode(album(kind), "");
    EXPECT_EQ(ours.size(), 2 * kParts * kPartFrames) << "not the recording's length to the sample";
    // Sample for sample what ffmpeg makes of the same files: a join that
    // lost, repeated or shifted samples would differ by hundreds.
    const std::vector<int16_t> theirs = ffmpeg(album(kind));
    ASSERT_EQ(theirs.size(), ours.size());
    const test::Comparison c = test::compareSamples(ours, theirs);
    EXPECT_LE(c.maxDifference, 4);
    EXPECT_GE(c.psnr, 96.0);
    // And the joins are as smooth as the tone itself: no step larger than a
    // 660 Hz sine's at this level (about 1230).
    int largestStep = 0;
    for (size_t i = 2; i < ours.size(); ++i) largestStep = std::max(largestStep, std::abs(ours[i] - ours[i - 2]));
    EXPECT_LT(largestStep, 1500);
  }
}

TEST_F(GaplessDecode, WithoutTheTagOrTheSettingEverySampleStays) {
  const std::vector<int16_t> whole = decode(album("cbr"), "Gapless=0\n");
  const std::vector<int16_t> bare = decode(album("bare"), "");
  // 383 frames of 1152 samples a part, the tag's frame not among them.
  std::string info;
  test::runCommand("'" + std::string(KUV_DECODE_BIN) + "' --info '" + *folder_ + "/bare0.mp3'", &info);
  const size_t frames = std::stoul(info.substr(info.find("frames: ") + 8));
  EXPECT_EQ(bare.size(), 2 * kParts * frames * 1152);
  EXPECT_EQ(whole.size(), bare.size()) << "Gapless=0 trimmed something";
}

// The level a tagged file plays at: its gain, within 0.1 dB, and never a
// clipped sample even when the gain would lift it past full scale.
TEST_F(GaplessDecode, ReplayGainSetsTheLevelAndNeverClips) {
  const std::string& f = *folder_;
  auto rmsDb = [](const std::vector<int16_t>& s) {
    double sum = 0;
    for (int16_t v : s) sum += static_cast<double>(v) * v;
    return 10 * std::log10(sum / static_cast<double>(s.empty() ? 1 : s.size()));
  };
  // An ID3v2.4 tag with a TXXX frame of the gain, in front of a tagless file.
  auto tagged = [&](const std::string& name, const std::string& gain, const std::string& peak) {
    std::string frames;
    for (const auto& [key, value] : {std::pair{std::string("REPLAYGAIN_TRACK_GAIN"), gain},
                                     std::pair{std::string("REPLAYGAIN_TRACK_PEAK"), peak}}) {
      const std::string body = std::string(1, '\3') + key + std::string(1, '\0') + value;
      frames += "TXXX" + std::string{0, 0, 0, static_cast<char>(body.size()), 0, 0} + body;
    }
    const std::string header = "ID3" + std::string{4, 0, 0, 0, 0, 0, static_cast<char>(frames.size())};
    EXPECT_LT(frames.size(), 128u);
    EXPECT_TRUE(test::writeFile(f + "/" + name, header + frames + test::readFile(f + "/bare0.mp3")));
    return name;
  };
  const std::vector<int16_t> plain = decode({"bare0.mp3"}, "ReplayGain=1\n");
  const std::vector<int16_t> quieter = decode({tagged("minus6.mp3", "-6.00 dB", "0.42")}, "ReplayGain=1\n");
  EXPECT_NEAR(rmsDb(quieter) - rmsDb(plain), -6.0, 0.1);
  const std::vector<int16_t> off = decode({"minus6.mp3"}, "ReplayGain=0\n");
  EXPECT_NEAR(rmsDb(off) - rmsDb(plain), 0.0, 0.01) << "ReplayGain=0 changed the level";
  const std::vector<int16_t> preamp = decode({"minus6.mp3"}, "ReplayGain=1\nReplayGainPreamp=2\n");
  EXPECT_NEAR(rmsDb(preamp) - rmsDb(plain), -4.0, 0.1);

  // +12 dB on a tone peaking at 0.40 would pass full scale: held at 1/0.42,
  // the peak the tag states.
  const std::vector<int16_t> louder = decode({tagged("plus12.mp3", "+12.00 dB", "0.42")}, "ReplayGain=1\n");
  EXPECT_NEAR(rmsDb(louder) - rmsDb(plain), 20 * std::log10(1 / 0.42), 0.1);
  int peak = 0;
  for (int16_t v : louder) peak = std::max(peak, std::abs(static_cast<int>(v)));
  EXPECT_LT(peak, 32767) << "clipped";
}

}  // namespace
}  // namespace kuv

namespace kuv {
namespace {

// The length a playlist shows is what is heard: ten seconds a part when the
// trim is on, the whole frames when it is off.
TEST_F(GaplessDecode, ThePlaylistLengthCountsTheTrimmedAudio) {
  test::SavedSettings saved;
  for (const char* kind : {"cbr", "vbr"}) {
    SCOPED_TRACE(kind);
    PlaylistEntry entry;
    entry.path = *folder_ + "/" + kind + "1.mp3";
    settings.Gapless = 1;
    readEntryInfo(entry);
    EXPECT_EQ(entry.lengthMs, 10000);
    settings.Gapless = 0;
    readEntryInfo(entry);
    EXPECT_GT(entry.lengthMs, 10020);
  }
}

}  // namespace
}  // namespace kuv
