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

}  // namespace
}  // namespace kuv
