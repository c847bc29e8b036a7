// kuv-decode --info against ffprobe, run as the user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace kuv {
namespace {

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
}

// The number after `label` in `text`, or -1.
double numberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + label.size());
}

TEST(KuvDecodeInfo, AgreesWithFfprobeOnFramesAndDuration) {
  if (run("command -v ffprobe").empty()) GTEST_SKIP() << "ffprobe is not installed";
  const char* files[] = {"cbr.mp3", "cbr_notag.mp3", "vbr.mp3",  "vbr_notag.mp3", "mpeg2.mp3",
                         "mpeg25.mp3", "crc.mp3",   "mono.mp3", "id3v2.mp3",     "junk_front.mp3",
                         "truncated.mp3", "id3v1.mp3"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string path = test::fixturePath(name);
    const std::string ours = run(std::string(KUV_DECODE_BIN) + " --info '" + path + "' 2>&1");
    const std::string theirs =
        run("ffprobe -v error -count_frames -select_streams a:0 -show_entries "
            "stream=nb_read_frames,duration,sample_rate -of default=nw=1 '" + path + "'");
    const double frames = numberAfter(ours, "frames: ");
    const double rate = numberAfter(theirs, "sample_rate=");
    ASSERT_GT(frames, 0) << ours;
    ASSERT_GT(rate, 0) << theirs;
    const double frameSeconds = (rate < 32000 ? 576 : 1152) / rate;
    EXPECT_NEAR(frames, numberAfter(theirs, "nb_read_frames="), 1.0) << ours << theirs;
    const size_t open = ours.find('(', ours.find("duration: "));
    const double exact = std::atof(ours.c_str() + open + 1);
    // Without a tag ffprobe estimates a VBR file's length from its first
    // frame; compare with the frames it read instead.
    const double reference = std::string(name) == "vbr_notag.mp3"
                                 ? numberAfter(theirs, "nb_read_frames=") * frameSeconds
                                 : numberAfter(theirs, "duration=");
    EXPECT_NEAR(exact, reference, frameSeconds * 1.01) << ours << theirs;
    EXPECT_EQ(ours.find("error"), std::string::npos) << ours;
  }
}

TEST(KuvDecodeInfo, ReportsStreamErrorsAndUnopenableInputs) {
  const std::string random = run(std::string(KUV_DECODE_BIN) + " --info '" + test::fixturePath("random.bin") + "' 2>/dev/null");
  EXPECT_NE(random.find("error: Synchronization Error... This does not look like a valid MPEG Audio File"),
            std::string::npos)
      << random;
  const std::string missing = run(std::string(KUV_DECODE_BIN) + " --info /nonexistent.mp3 2>/dev/null");
  EXPECT_NE(missing.find("error: cannot open"), std::string::npos) << missing;
}

TEST(KuvDecodeInfo, DescribesTheSampleTrack) {
  const std::string out =
      run(std::string(KUV_DECODE_BIN) + " --info '" + KUV_SOURCE_DIR + "/resources/samples/kuv-sample.mp3'");
  EXPECT_NE(out.find("layer: III"), std::string::npos) << out;
  EXPECT_NE(out.find("sample rate: 44100 Hz"), std::string::npos) << out;
  EXPECT_GT(numberAfter(out, "frames: "), 300);
}

// --- Playlists on the command line ------------------------------------------

class KuvDecodePlaylist : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::makeTempFolder(); }
  void TearDown() override { test::removeTree(dir_); }
  std::string copyFixture(const std::string& fixture, const std::string& name) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(test::writeFile(path, test::readFile(test::fixturePath(fixture))));
    return path;
  }
  // kuv-decode with a settings file of its own (XDG_CONFIG_HOME in the folder).
  std::string kuvDecode(const std::string& arguments) {
    return run("cd '" + dir_ + "' && XDG_CONFIG_HOME='" + dir_ + "/config' " + KUV_DECODE_BIN + " " + arguments +
               " 2>&1");
  }
  std::string dir_;
};

TEST_F(KuvDecodePlaylist, ListShowsLinesLengthsAndTheTotal) {
  copyFixture("l2_44_joint.mp2", "b.mp2");
  copyFixture("id3v1.mp3", "a.mp3");
  test::writeFile(dir_ + "/list.m3u", "#EXTM3U\n#EXTINF:1,x\nb.mp2\nmissing.mp3\nhttp://radio.example/live\n");
  const std::string out = kuvDecode("--list '" + dir_ + "/a.mp3' '" + dir_ + "/list.m3u'");
  EXPECT_NE(out.find("1> "), std::string::npos) << out;
  EXPECT_NE(out.find("2> b.mp2  [00:00:"), std::string::npos) << out;
  EXPECT_NE(out.find("3> live  [--:--:--]"), std::string::npos) << out;
  EXPECT_NE(out.find("Error Adding Directory: " + dir_ + "/missing.mp3"), std::string::npos) << out;
  // The URL has no length, so neither has the whole.
  EXPECT_NE(out.find("Playtime: Unknown"), std::string::npos) << out;
}

TEST_F(KuvDecodePlaylist, PlaysAFolderAndRepeatsAsAsked) {
  constexpr size_t kHeader = 46;  // RIFF, an 18-byte format chunk, the data chunk header
  auto dataSize = [](const std::string& wave) {
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = size << 8 | static_cast<uint8_t>(wave[kHeader - 4 + static_cast<size_t>(i)]);
    return static_cast<size_t>(size);
  };
  copyFixture("l2_16k.mp2", "2.mp2");
  copyFixture("l2_16k.mp2", "1.mp2");
  const std::string wave = dir_ + "/out.wav";
  const std::string out = kuvDecode("-q -o '" + wave + "' '" + dir_ + "'");
  const std::string both = test::readFile(wave);
  ASSERT_GT(both.size(), kHeader) << out;
  // Two tracks of one rate go into one file.
  test::removeTree(wave);
  test::writeFile(dir_ + "/one.m3u", "1.mp2\n");
  const std::string single = kuvDecode("-q -o '" + wave + "' '" + dir_ + "/one.m3u'");
  const size_t oneTrack = dataSize(test::readFile(wave));
  EXPECT_EQ(dataSize(both), 2 * oneTrack) << single;
  // Repeat 1 starts over until interrupted; the wave file is still whole.
  test::removeTree(wave);
  // Interrupted once the file holds more than three rounds (or after 20 s).
  const std::string enough = std::to_string(kHeader + 3 * oneTrack + 1);
  kuvDecode("-q --repeat 1 -o '" + wave + "' '" + dir_ + "/one.m3u' & pid=$!; for i in $(seq 400); do "
            "[ \"$(stat -c %s '" + wave + "' 2>/dev/null || echo 0)\" -gt " + enough +
            " ] && break; sleep 0.05; done; kill -INT $pid; wait");
  const std::string repeated = test::readFile(wave);
  ASSERT_GT(repeated.size(), kHeader);
  EXPECT_GT(dataSize(repeated), 3 * oneTrack);
  EXPECT_EQ(dataSize(repeated), repeated.size() - kHeader - (repeated.size() - kHeader) % 2);
}

TEST_F(KuvDecodePlaylist, NothingToPlayIsAnError) {
  const std::string out = kuvDecode("-q -o /dev/null '" + dir_ + "/nothing.mp3' 2>&1; echo status=$?");
  EXPECT_NE(out.find("Error Adding Directory"), std::string::npos) << out;
  EXPECT_NE(out.find("status=1"), std::string::npos) << out;
}

}  // namespace
}  // namespace kuv
