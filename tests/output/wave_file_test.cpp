#include "output/wave_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "output/output_system.h"
#include "platform/dialogs.h"
#include "support/byte_patterns.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using test::readLittleEndian;

class WaveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::makeTempFolder();
    previous_ = platform::setSaveFileBackend([this](const platform::SaveFileRequest& request) {
      lastRequest_ = request;
      return answer_;
    });
  }
  void TearDown() override {
    waveFileClose(0);
    platform::setSaveFileBackend(previous_);
    test::removeTree(folder_);
  }
  std::string folder_;
  std::string answer_;
  platform::SaveFileRequest lastRequest_;
  platform::SaveFileBackend previous_;
  test::MessageRecorder recorder_;
};

TEST_F(WaveFileTest, StereoSixteenBitHeaderAndData) {
  answer_ = folder_ + "/out.wav";
  ASSERT_EQ(waveFileOpen(44100, 2, 0), 1);
  EXPECT_EQ(lastRequest_.title, "Save a WaveForm Audio File...");
  EXPECT_EQ(lastRequest_.filterName, "Waveform Audio");
  EXPECT_EQ(lastRequest_.filterPattern, "*.wav");
  EXPECT_EQ(lastRequest_.defaultExtension, "WAV");
  EXPECT_EQ(waveFileIsOpen(), 1);
  std::string pcm;
  for (int i = 0; i < 100000; ++i) pcm.push_back(static_cast<char>(i * 7));
  EXPECT_EQ(waveFileWrite(static_cast<int32_t>(pcm.size() / 2), pcm.data()), static_cast<int32_t>(pcm.size() / 2));
  EXPECT_EQ(waveFileWrite(static_cast<int32_t>(pcm.size() / 2), pcm.data() + pcm.size() / 2),
            static_cast<int32_t>(pcm.size() / 2));
  EXPECT_EQ(waveFileWrite(0, pcm.data()), 0);
  EXPECT_EQ(waveFileClose(0), 0);
  EXPECT_EQ(waveFileIsOpen(), 0);

  const std::string file = test::readFile(answer_);
  ASSERT_EQ(file.size(), 46 + pcm.size());
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(readLittleEndian(file, 4, 4), file.size() - 8);
  EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(readLittleEndian(file, 16, 4), 18u);
  EXPECT_EQ(readLittleEndian(file, 20, 2), 1u);
  EXPECT_EQ(readLittleEndian(file, 22, 2), 2u);
  EXPECT_EQ(readLittleEndian(file, 24, 4), 44100u);
  EXPECT_EQ(readLittleEndian(file, 28, 4), 176400u);
  EXPECT_EQ(readLittleEndian(file, 32, 2), 4u);
  EXPECT_EQ(readLittleEndian(file, 34, 2), 16u);
  EXPECT_EQ(readLittleEndian(file, 36, 2), 0u);
  EXPECT_EQ(file.substr(38, 4), "data");
  EXPECT_EQ(readLittleEndian(file, 42, 4), pcm.size());
  EXPECT_EQ(file.substr(46), pcm);
  EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(WaveFileTest, MonoEightBitWithAnOddCountGetsItsPadByte) {
  answer_ = folder_ + "/mono";  // no extension: ".wav" is added
  ASSERT_EQ(waveFileOpen(22050, 1, 1), 1);
  const std::string pcm = "\x80\x81\x7f\x10\xf0";
  EXPECT_EQ(waveFileWrite(5, pcm.data()), 5);
  waveFileClose(1);
  const std::string file = test::readFile(folder_ + "/mono.wav");
  ASSERT_EQ(file.size(), 46u + 5 + 1);
  EXPECT_EQ(readLittleEndian(file, 22, 2), 1u);
  EXPECT_EQ(readLittleEndian(file, 24, 4), 22050u);
  EXPECT_EQ(readLittleEndian(file, 28, 4), 22050u);
  EXPECT_EQ(readLittleEndian(file, 32, 2), 1u);
  EXPECT_EQ(readLittleEndian(file, 34, 2), 8u);
  EXPECT_EQ(readLittleEndian(file, 42, 4), 5u);
  EXPECT_EQ(readLittleEndian(file, 4, 4), 38u + 5 + 1);
  EXPECT_EQ(file.substr(46, 5), pcm);
  EXPECT_EQ(file[51], '\0');
}

TEST_F(WaveFileTest, NothingWrittenStillMakesAValidFile) {
  answer_ = folder_ + "/empty.wav";
  ASSERT_EQ(waveFileOpen(48000, 2, 0), 1);
  waveFileClose(0);
  const std::string file = test::readFile(answer_);
  ASSERT_EQ(file.size(), 46u);
  EXPECT_EQ(readLittleEndian(file, 4, 4), 38u);
  EXPECT_EQ(readLittleEndian(file, 42, 4), 0u);
}

TEST_F(WaveFileTest, CancelledDialogOpensNothingAndSaysNothing) {
  answer_ = "";
  EXPECT_EQ(waveFileOpen(44100, 2, 0), 0);
  EXPECT_EQ(waveFileIsOpen(), 0);
  EXPECT_TRUE(recorder_.boxes().empty());
  EXPECT_EQ(waveFileWrite(4, "abcd"), -1);
}

TEST_F(WaveFileTest, AnOpenFileIsNotOpenedTwice) {
  answer_ = folder_ + "/a.wav";
  ASSERT_EQ(waveFileOpen(44100, 2, 0), 1);
  answer_ = folder_ + "/b.wav";
  EXPECT_EQ(waveFileOpen(44100, 2, 0), 0);
  EXPECT_FALSE(test::fileExists(folder_ + "/b.wav"));
}

TEST_F(WaveFileTest, AFileThatCannotBeCreatedIsReported) {
  answer_ = folder_ + "/missing/folder/out.wav";
  EXPECT_EQ(waveFileOpen(44100, 2, 0), 0);
  const auto boxes = recorder_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Could not open file.");
  EXPECT_EQ(boxes[0].title, "Wave file output error");
  EXPECT_EQ(boxes[0].style & 0xF0, platform::MB_ICONWARNING);
}

TEST_F(WaveFileTest, AFullDiskRefusingTheHeaderIsReported) {
  if (!test::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  answer_ = folder_ + "/full.wav";
  ASSERT_EQ(symlink("/dev/full", answer_.c_str()), 0);
  EXPECT_EQ(waveFileOpen(44100, 2, 0), 0);
  const auto boxes = recorder_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Could not write to file");
  EXPECT_TRUE(test::fileExists(answer_)) << "a device is never removed";
}

// A file-size limit stands in for a full disk (no root needed): the header
// fits, the audio does not. The write fails, and the file keeps the audio
// the disk took under a header that says how much that is.
TEST_F(WaveFileTest, ADiskFillingUpMidwayKeepsWhatWasWrittenPlayable) {
  struct Case {
    const char* what;
    rlim_t room;
    int32_t channels;
    int32_t eightBit;
    size_t piece;
  };
  const Case cases[] = {
      {"stereo, even room", 100000, 2, 0, 16384},
      {"stereo, odd room: no place for the pad byte", 100001, 2, 0, 16384},
      {"8-bit mono, odd room", 70001, 1, 1, 4099},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    answer_ = folder_ + "/limited" + std::to_string(++n) + ".wav";
    std::string pcm;
    for (size_t i = 0; i < 40 * c.piece; ++i) pcm.push_back(static_cast<char>((i * 131 + i / 7) & 0xFF));
    // The limit is the process's own: only a child may have it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = c.room;
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
      if (waveFileOpen(44100, c.channels, c.eightBit) != 1) _exit(11);
      int32_t result = 0;
      for (size_t at = 0; result >= 0 && at < pcm.size(); at += c.piece) {
        result = waveFileWrite(static_cast<int32_t>(c.piece), pcm.data() + at);
      }
      if (result != -1) _exit(12);
      if (waveFileWrite(static_cast<int32_t>(c.piece), pcm.data()) != -1) _exit(13);
      waveFileClose(0);
      if (waveFileIsOpen() != 0) _exit(14);
      _exit(recorder_.boxes().empty() ? 0 : 15);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 limit, 11 open, 12 no failure, 13 wrote after it, 14 open, 15 boxes";

    const std::string file = test::readFile(answer_);
    ASSERT_GE(file.size(), 46u);
    EXPECT_LE(file.size(), c.room);
    EXPECT_GE(file.size() + 1, c.room) << "bytes the disk took were thrown away";
    EXPECT_EQ(file.size() % 2, 0u);
    EXPECT_EQ(readLittleEndian(file, 4, 4), file.size() - 8);
    EXPECT_EQ(readLittleEndian(file, 42, 4), file.size() - 46);
    EXPECT_EQ(readLittleEndian(file, 22, 2), static_cast<uint32_t>(c.channels));
    EXPECT_TRUE(file.compare(46, std::string::npos, pcm, 0, file.size() - 46) == 0)
        << "the audio is not what was written";
  }
}

TEST(WaveFileRecord, HasNoQueuePositionOrVolume) {
  const OutputSystem& record = waveFileOutputSystem();
  EXPECT_EQ(record.init(), 1);
  EXPECT_EQ(record.shutdown(), 1);
  EXPECT_EQ(record.getBufferCount(), 0);
  EXPECT_EQ(record.getFreeBufferCount(), 0);
  EXPECT_EQ(record.getPosition(), 0);
  EXPECT_EQ(record.getVolume(), 0);
  EXPECT_EQ(record.setPosition(12), 0);
  EXPECT_EQ(record.flush(), 0);
  EXPECT_EQ(record.open, &waveFileOpen);
  EXPECT_EQ(record.write, &waveFileWrite);
}

TEST(SaveFileNames, ConsoleAnswersNeverOverwriteAnEarlierFile) {
  platform::setConsoleSaveFileName("/tmp/take.wav");
  const platform::SaveFileRequest request{"t", "f", "*.wav", "WAV"};
  EXPECT_EQ(platform::askSaveFileName(request), "/tmp/take.wav");
  EXPECT_EQ(platform::askSaveFileName(request), "/tmp/take-2.wav");
  EXPECT_EQ(platform::askSaveFileName(request), "/tmp/take-3.wav");
  platform::setConsoleSaveFileName("/tmp/dir.v1/take");
  EXPECT_EQ(platform::askSaveFileName(request), "/tmp/dir.v1/take");
  EXPECT_EQ(platform::askSaveFileName(request), "/tmp/dir.v1/take-2");
  platform::setConsoleSaveFileName("/dev/null");
  EXPECT_EQ(platform::askSaveFileName(request), "/dev/null");
  EXPECT_EQ(platform::askSaveFileName(request), "/dev/null");
  platform::setConsoleSaveFileName("");
  EXPECT_EQ(platform::askSaveFileName(request), "");
  EXPECT_EQ(platform::withDefaultExtension("/a/b.mp3", "WAV"), "/a/b.mp3");
  EXPECT_EQ(platform::withDefaultExtension("/a.d/b", "WAV"), "/a.d/b.wav");
}

}  // namespace
}  // namespace kuv
