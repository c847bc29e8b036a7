#include "output/sound_device.h"

#include <alsa/asoundlib.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "config/settings.h"
#include "output/clock_pcm.h"
#include "output/paced_reader.h"
#include "support/byte_patterns.h"
#include "support/task_switches.h"
#include "support/test_support.h"

namespace {

using kuv::test::noiseBytes;

using namespace std::chrono_literals;
using kuv::test::ClockPcmCounts;
using kuv::test::MessageRecorder;

constexpr unsigned kWarningStyle =
    kuv::platform::MB_OK | kuv::platform::MB_ICONWARNING | kuv::platform::MB_SETFOREGROUND;
constexpr size_t kBuffer = kuv::kSoundBufferBytes;
constexpr uint32_t kCdBytesPerSecond = 44100 * 4;

// Polls until ready; the limit only keeps a broken device from hanging the run.
bool eventually(const std::function<bool()>& ready, std::chrono::milliseconds limit = 30s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return ready();
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

bool allReturned() {
  return eventually([] { return kuv::soundDeviceGetFreeBufferCount() == kuv::kSoundBufferCount; });
}

using kuv::test::taskIds;
using kuv::test::voluntarySwitches;

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void restoreEnvironment(const char* name, const std::optional<std::string>& value) {
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
}

// Each test gets an ALSA configuration of its own through HOME: the default
// PCM is a `file` PCM over `null`, so the bytes played land in played.raw.
class SoundDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = kuv::test::makeTempFolder();
    ASSERT_FALSE(folder_.empty());
    home_ = environment("HOME");
    xdgConfig_ = environment("XDG_CONFIG_HOME");
    setenv("HOME", folder_.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");  // ALSA reads $XDG_CONFIG_HOME/alsa/asoundrc too
    writeConfig(standardConfig());
    savedSettings_ = kuv::settings;
    kuv::settings.WinMMOutputDev = -1;
    kuv::settings.WinMMCallback = 0;
    kuv::settings.AudioBypassACM = 0;
    kuv::settings.AudioAllowSyncDev = 0;
    kuv::resetSoundDeviceVolume();
    ASSERT_EQ(kuv::soundDeviceInit(), 1);
  }

  void TearDown() override {
    kuv::soundDeviceClose(1);
    EXPECT_EQ(kuv::soundDeviceShutdown(), 1);
    kuv::setSoundDevicePcmOpener(nullptr);
    kuv::resetSoundDeviceVolume();
    kuv::settings = savedSettings_;
    restoreEnvironment("HOME", home_);
    restoreEnvironment("XDG_CONFIG_HOME", xdgConfig_);
    snd_config_update_free_global();
    kuv::test::removeTree(folder_);
  }

  std::string standardConfig() const {
    return "pcm.!default {\n"
           "  type file\n"
           "  slave.pcm \"null\"\n"
           "  file \"" +
           folder_ +
           "/played.raw\"\n"
           "  format \"raw\"\n"
           "}\n"
           "pcm.kuvpaced {\n"
           "  type plug\n"
           "  slave.pcm {\n"
           "    type file\n"
           "    slave.pcm \"null\"\n"
           "    file \"" +
           folder_ +
           "/paced.fifo\"\n"
           "    format \"raw\"\n"
           "  }\n"
           "}\n"
           "pcm.kuvs16 {\n"
           "  type plug\n"
           "  slave { pcm \"null\" format S16_LE rate 44100 channels 2 }\n"
           "}\n"
           "pcm.kuvdesc {\n"
           "  type null\n"
           "  hint { show on description \"Two\nLines\" }\n"
           "}\n";
  }

  // ALSA keeps its configuration once loaded: drop it so the next call reads
  // this one.
  void writeConfig(const std::string& text) const {
    ASSERT_TRUE(kuv::test::writeFile(folder_ + "/.asoundrc", text));
    snd_config_update_free_global();
  }

  std::string played() const { return kuv::test::readFile(folder_ + "/played.raw"); }
  std::string fifoPath() const { return folder_ + "/paced.fifo"; }

  static int32_t deviceNumberOf(const std::string& pcm) {
    for (int32_t n = 0; n < 1000; ++n) {
      const std::string name = kuv::soundDevicePcmName(n);
      if (name.empty()) break;
      if (name == pcm) return n;
    }
    return -2;
  }

  static void writeAll(const std::string& bytes, std::vector<size_t> pieces = {kBuffer}) {
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); ++i) {
      const auto length = static_cast<int32_t>(std::min(pieces[i % pieces.size()], bytes.size() - at));
      ASSERT_EQ(kuv::soundDeviceWrite(length, bytes.data() + at), length) << "at byte " << at;
      at += static_cast<size_t>(length);
    }
  }

  static void useClock(bool canPause = true) {
    kuv::test::ClockPcmOptions options;
    options.canPause = canPause;
    useClock(options);
  }
  static void useClock(const kuv::test::ClockPcmOptions& options) {
    kuv::test::setClockPcmOptions(options);
    kuv::setSoundDevicePcmOpener(kuv::test::openClockPcm);
  }

  static size_t heard() { return kuv::test::clockPcmCounts().playedBytes; }

  std::string folder_;
  kuv::Settings savedSettings_{};
  std::optional<std::string> home_;
  std::optional<std::string> xdgConfig_;
};

// --- Opening, closing and the device list ------------------------------------

TEST_F(SoundDeviceTest, OpenAndCloseReportWhetherTheyDidAnything) {
  EXPECT_EQ(kuv::soundDeviceIsOpen(), 0);
  EXPECT_EQ(kuv::soundDeviceClose(0), 0);
  EXPECT_EQ(kuv::soundDeviceClose(1), 0);
  EXPECT_EQ(kuv::soundDeviceGetBufferCount(), 10);
  EXPECT_EQ(kuv::soundDeviceAlsaBufferBytes(), 0);
  MessageRecorder boxes;
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  EXPECT_EQ(kuv::soundDeviceIsOpen(), 1);
  EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 10);
  EXPECT_EQ(kuv::soundDeviceGetPosition(), 0);
  EXPECT_GT(kuv::soundDeviceAlsaBufferBytes(), 0);
  EXPECT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 0);
  EXPECT_EQ(kuv::soundDeviceOpen(22050, 1, 1), 0);
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(kuv::soundDeviceIsOpen(), 0);
  EXPECT_EQ(kuv::soundDeviceClose(0), 0);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SoundDeviceTest, SecondInitKeepsTheBuffers) {
  EXPECT_EQ(kuv::soundDeviceInit(), 1);
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(4 * kBuffer, 1);
  ASSERT_NO_FATAL_FAILURE(writeAll(data.substr(0, 2 * kBuffer)));
  EXPECT_EQ(kuv::soundDeviceInit(), 1);
  ASSERT_NO_FATAL_FAILURE(writeAll(data.substr(2 * kBuffer)));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), data);
}

TEST_F(SoundDeviceTest, OpenFailuresShowOneWarning) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
  };
  const std::vector<Case> cases = {
      {"no such device number", [] { kuv::settings.WinMMOutputDev = 100000; }},
      {"no such device, callback thread",
       [] {
         kuv::settings.WinMMOutputDev = 100000;
         kuv::settings.WinMMCallback = 1;
       }},
      {"unknown callback mode", [] { kuv::settings.WinMMCallback = 2; }},
      {"no such card", [this] { writeConfig("pcm.!default { type hw card 99 device 0 }\n"); }},
      {"unknown PCM type", [this] { writeConfig("pcm.!default { type kuv_no_such_type }\n"); }},
      {"unreadable configuration", [this] { writeConfig("pcm.!default { type file\n"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    {
      MessageRecorder boxes;
      EXPECT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 0);
      EXPECT_EQ(kuv::soundDeviceIsOpen(), 0);
      const auto shown = boxes.boxes();
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].title, "waveOutOpen");
      EXPECT_FALSE(shown[0].text.empty());
      EXPECT_EQ(shown[0].style, kWarningStyle);
      // A device that fails names itself and what to check, not only the reason.
      if (std::string(c.what) != "unknown callback mode") {
        EXPECT_NE(shown[0].text.find("Sound device: "), std::string::npos) << shown[0].text;
        EXPECT_NE(shown[0].text.find("Check that"), std::string::npos) << shown[0].text;
      }
    }
    // Nothing is left behind: the next open works.
    kuv::settings.WinMMOutputDev = -1;
    kuv::settings.WinMMCallback = 0;
    writeConfig(standardConfig());
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    ASSERT_EQ(kuv::soundDeviceClose(1), 1);
  }
}

// Without any sound card no device choice helps: the box says so and names
// the output that still works. With a card the text stays as it was.
TEST(SoundDeviceText, NoSoundCardPointsToTheWaveFileOutput) {
  struct Case {
    const char* what;
    int32_t device;
    const char* pcm;
    bool noCard;
  };
  const Case cases[] = {
      {"default device, no card", -1, "default", true},
      {"numbered device, no card", 3, "", true},
      {"default device, a card", -1, "default", false},
      {"numbered device, a card", 3, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = kuv::openFailureText("No such file or directory", c.device, c.pcm, c.noCard);
    const std::string plain = kuv::openFailureText("No such file or directory", c.device, c.pcm);
    EXPECT_EQ(text.rfind(plain, 0), 0u) << text;  // the reason, the device and what to check stay
    const bool hinted = text.find("No sound card was found") != std::string::npos;
    EXPECT_EQ(hinted, c.noCard) << text;
    EXPECT_EQ(text.find("AudioOutputSystem=1") != std::string::npos, c.noCard) << text;
  }
}

TEST_F(SoundDeviceTest, BypassAcmRefusesFormatsTheDeviceLacks) {
  const int32_t s16Only = deviceNumberOf("kuvs16");
  ASSERT_GE(s16Only, 0);
  kuv::settings.WinMMOutputDev = s16Only;
  kuv::settings.AudioBypassACM = 1;
  {
    MessageRecorder boxes;
    EXPECT_EQ(kuv::soundDeviceOpen(22050, 2, 0), 0);
    EXPECT_EQ(kuv::soundDeviceOpen(44100, 2, 1), 0);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& box : shown) {
      EXPECT_EQ(box.title, "waveOutOpen");
      EXPECT_FALSE(box.text.empty());
    }
  }
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  ASSERT_EQ(kuv::soundDeviceClose(1), 1);
  // Without the bypass ALSA converts.
  kuv::settings.AudioBypassACM = 0;
  ASSERT_EQ(kuv::soundDeviceOpen(22050, 2, 0), 1);
  ASSERT_EQ(kuv::soundDeviceClose(1), 1);
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 1), 1);
  ASSERT_EQ(kuv::soundDeviceClose(1), 1);
}

TEST_F(SoundDeviceTest, BypassAcmAsksAlsaNotToConvert) {
  useClock();
  constexpr int kNoConversion = SND_PCM_NO_AUTO_RESAMPLE | SND_PCM_NO_AUTO_CHANNELS | SND_PCM_NO_AUTO_FORMAT;
  kuv::settings.AudioBypassACM = 1;
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  EXPECT_EQ(kuv::test::clockPcmCounts().lastMode & kNoConversion, kNoConversion);
  ASSERT_EQ(kuv::soundDeviceClose(1), 1);
  kuv::settings.AudioBypassACM = 0;
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  EXPECT_EQ(kuv::test::clockPcmCounts().lastMode & kNoConversion, 0);
  ASSERT_EQ(kuv::soundDeviceClose(1), 1);
}

TEST_F(SoundDeviceTest, ListsPlaybackDevices) {
  std::string text;
  EXPECT_EQ(kuv::soundDeviceName(-1, &text), 1);
  EXPECT_EQ(text, "Wave Mapper");
  EXPECT_EQ(kuv::soundDeviceName(100000, &text), 0);
  EXPECT_EQ(text, "Bad Device");
  EXPECT_EQ(kuv::soundDevicePcmName(-1), "default");
  EXPECT_EQ(kuv::soundDevicePcmName(100000), "");

  EXPECT_EQ(kuv::soundDeviceName(0, &text), 1);
  EXPECT_FALSE(text.empty());
  const int32_t described = deviceNumberOf("kuvdesc");
  ASSERT_GE(described, 0);
  EXPECT_EQ(kuv::soundDeviceName(described, &text), 1);
  EXPECT_EQ(text, "Two - Lines");

  // The list ends, as the Audio page expects.
  int32_t end = 0;
  while (kuv::soundDeviceName(end, &text) == 1 && end < 1000) ++end;
  EXPECT_LT(end, 1000);
  EXPECT_EQ(kuv::soundDevicePcmName(end), "");
}

TEST_F(SoundDeviceTest, PlaysThroughADeviceChosenByNumber) {
  const int32_t number = deviceNumberOf("default");
  ASSERT_GE(number, 0);
  kuv::settings.WinMMOutputDev = number;
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(5 * kBuffer, 2);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), data);
}

// --- What is played -------------------------------------------------------------

TEST_F(SoundDeviceTest, Plays16BitStereoExactlyAsWritten) {
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(12 * kBuffer + 1236, 3);
  ASSERT_NO_FATAL_FAILURE(writeAll(data, {kBuffer, 4000, 17640, kBuffer, 8}));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), data);
}

TEST_F(SoundDeviceTest, Plays8BitMonoExactlyAsWritten) {
  ASSERT_EQ(kuv::soundDeviceOpen(22050, 1, 1), 1);
  const std::string data = noiseBytes(11 * kBuffer + 777, 4);
  ASSERT_NO_FATAL_FAILURE(writeAll(data, {kBuffer, 1, 22050, kBuffer}));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), data);
}

TEST_F(SoundDeviceTest, BothCallbackModesPlayTheSame) {
  const std::string data = noiseBytes(13 * kBuffer + 400, 5);
  for (int32_t mode : {0, 1}) {
    SCOPED_TRACE(mode);
    kuv::settings.WinMMCallback = mode;
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    ASSERT_NO_FATAL_FAILURE(writeAll(data));
    ASSERT_TRUE(allReturned());
    EXPECT_EQ(kuv::soundDeviceGetPosition(), static_cast<int32_t>(data.size() / 176));
    ASSERT_EQ(kuv::soundDeviceClose(0), 1);
    EXPECT_EQ(played(), data);
  }
}

TEST_F(SoundDeviceTest, NothingPlaysBeforeTheFourthWrite) {
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(4 * kBuffer, 6);
  ASSERT_NO_FATAL_FAILURE(writeAll(data.substr(0, 3 * kBuffer)));
  std::this_thread::sleep_for(150ms);
  // `null` takes data at once: anything sent would have come back already.
  EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 7);
  EXPECT_EQ(kuv::soundDeviceGetPosition(), 0);
  EXPECT_EQ(played().size(), 0u);
  ASSERT_NO_FATAL_FAILURE(writeAll(data.substr(3 * kBuffer)));
  ASSERT_TRUE(allReturned());
  EXPECT_GT(played().size(), 0u);
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), data);
}

TEST_F(SoundDeviceTest, NothingReachesTheCardBeforeTheFourthWrite) {
  useClock();
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(4 * kBuffer, 7);
  ASSERT_NO_FATAL_FAILURE(writeAll(data.substr(0, 3 * kBuffer)));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(kuv::test::clockPcmCounts().receivedBytes, 0u);
  ASSERT_NO_FATAL_FAILURE(writeAll(data.substr(3 * kBuffer)));
  EXPECT_TRUE(eventually([] { return heard() > 0; }));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(kuv::test::clockPcmPlayed(), data);
}

TEST_F(SoundDeviceTest, WritesTakeAtMostOneBuffer) {
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  EXPECT_EQ(kuv::soundDeviceWrite(0, "x"), 0);
  EXPECT_EQ(kuv::soundDeviceWrite(-7, "x"), -7);
  EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 10);
  const std::string data = noiseBytes(40000 + 3 * kBuffer, 8);
  ASSERT_EQ(kuv::soundDeviceWrite(40000, data.data()), static_cast<int32_t>(kBuffer));
  ASSERT_NO_FATAL_FAILURE(writeAll(data.substr(kBuffer)));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), data);
}

TEST_F(SoundDeviceTest, WriteWithoutDeviceFails) {
  const std::string data = noiseBytes(100, 9);
  EXPECT_EQ(kuv::soundDeviceWrite(100, data.data()), -1);
}

// --- Flush -------------------------------------------------------------------------

TEST_F(SoundDeviceTest, FlushDropsQueuedAudioAndWaitsForFourWrites) {
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(3 * kBuffer, 10)));
  EXPECT_EQ(kuv::soundDeviceFlush(), 1);
  EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 10);
  // Dropped buffers come back through the notice that counts them played.
  EXPECT_EQ(kuv::soundDeviceGetPosition(), static_cast<int32_t>(3 * kBuffer / 176));
  EXPECT_EQ(kuv::soundDeviceSetPosition(0), 1);

  const std::string next = noiseBytes(4 * kBuffer, 11);
  ASSERT_NO_FATAL_FAILURE(writeAll(next.substr(0, 3 * kBuffer)));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 7);
  EXPECT_EQ(played().size(), 0u);
  ASSERT_NO_FATAL_FAILURE(writeAll(next.substr(3 * kBuffer)));
  ASSERT_TRUE(allReturned());
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), next);
}

TEST_F(SoundDeviceTest, FlushWhilePlayingStopsTheSoundAtOnce) {
  for (int32_t mode : {0, 1}) {
    SCOPED_TRACE(mode);
    kuv::settings.WinMMCallback = mode;
    useClock();
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    const std::string first = noiseBytes(6 * kBuffer, 12);
    ASSERT_NO_FATAL_FAILURE(writeAll(first));
    ASSERT_TRUE(eventually([] { return heard() > 0; }));
    EXPECT_EQ(kuv::soundDeviceFlush(), 1);
    EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 10);
    const std::string before = kuv::test::clockPcmPlayed();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(heard(), before.size());

    const std::string second = noiseBytes(4 * kBuffer, 13);
    ASSERT_NO_FATAL_FAILURE(writeAll(second));
    ASSERT_EQ(kuv::soundDeviceClose(0), 1);
    const std::string all = kuv::test::clockPcmPlayed();
    EXPECT_EQ(all.substr(0, before.size()), first.substr(0, before.size()));
    EXPECT_EQ(all.substr(before.size()), second);
  }
}

TEST_F(SoundDeviceTest, FlushReleasesAWriterWaitingForABuffer) {
  useClock();
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  ASSERT_EQ(kuv::soundDevicePause(), 1);  // nothing is heard, so no buffer comes back
  ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(10 * kBuffer, 14)));
  EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 0);
  const std::string extra = noiseBytes(kBuffer, 15);
  std::atomic<int32_t> result{INT32_MIN};
  std::thread writer([&] { result.store(kuv::soundDeviceWrite(static_cast<int32_t>(kBuffer), extra.data())); });
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(result.load(), INT32_MIN) << "write did not wait for a free buffer";
  EXPECT_EQ(kuv::soundDeviceFlush(), 1);
  writer.join();
  EXPECT_EQ(result.load(), static_cast<int32_t>(kBuffer));
  EXPECT_EQ(kuv::soundDeviceFlush(), 1);
  EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 10);
  EXPECT_EQ(heard(), 0u);
  ASSERT_EQ(kuv::soundDeviceResume(), 1);
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(heard(), 0u);
}

// --- Waiting for free buffers -----------------------------------------------------

// The decoder sleeps on a full ring until half of it is free again; each of
// these ends the sleep at once, and a pause alone does not.
TEST_F(SoundDeviceTest, AWaitForFreeBuffersEndsOnlyForItsCauses) {
  struct WaitCase {
    const char* name;
    bool playing;                 // else paused: nothing comes back by itself
    std::function<void()> cause;  // from another thread, while the wait runs
    int32_t timeoutMs;
    int32_t result;
    int32_t freeAtLeast;
  };
  const WaitCase cases[] = {
      {"half the buffers heard", true, [] {}, 30000, 1, 5},
      {"a wake for a command", false, [] { kuv::soundDeviceWakeWaiter(); }, 30000, 1, 0},
      {"a flush", false, [] { kuv::soundDeviceFlush(); }, 30000, 1, 10},
      {"nothing while paused", false, [] {}, 300, 0, 0},
  };
  useClock();
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    if (!c.playing) {
      ASSERT_EQ(kuv::soundDevicePause(), 1);
    }
    ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(10 * kBuffer, 40)));
    if (!c.playing) {
      ASSERT_EQ(kuv::soundDeviceGetFreeBufferCount(), 0);
    }
    std::atomic<int32_t> result{-1};
    std::thread waiter([&] { result.store(kuv::soundDeviceWaitForFreeBuffers(5, c.timeoutMs)); });
    c.cause();
    waiter.join();
    EXPECT_EQ(result.load(), c.result);
    EXPECT_GE(kuv::soundDeviceGetFreeBufferCount(), c.freeAtLeast);
    if (c.freeAtLeast == 0) {
      EXPECT_LT(kuv::soundDeviceGetFreeBufferCount(), 5);
    }
    ASSERT_EQ(kuv::soundDeviceResume(), 1);
    ASSERT_EQ(kuv::soundDeviceClose(1), 1);
  }
}

TEST_F(SoundDeviceTest, AWaitEndsWhenTheDeviceFails) {
  kuv::test::ClockPcmOptions options;
  options.failAfterFrames = 3 * static_cast<long>(kBuffer) / 4;
  useClock(options);
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(10 * kBuffer, 41)));
  // Only the first three buffers ever reach the card: then it is gone.
  EXPECT_EQ(kuv::soundDeviceWaitForFreeBuffers(kuv::kSoundBufferCount + 1, 30000), 1);
  EXPECT_EQ(kuv::soundDeviceWrite(4, "abcd"), -1);
  kuv::soundDeviceClose(1);
}

// ALSA is given at most a quarter second however large its own ring, so a
// volume change is heard soon; the feeder tops it up when a buffer is heard
// out or half of that has played, rather than every 20 ms.
TEST_F(SoundDeviceTest, TheFeederKeepsAlsaAQuarterSecondAndWakesRarely) {
  useClock();
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const int32_t limit = kuv::soundDeviceAlsaBufferBytes();
  EXPECT_GT(limit, 0);
  EXPECT_LE(limit, static_cast<int32_t>(kCdBytesPerSecond / 4));
  // The feeder is the one thread the open started (callback mode 0).
  ASSERT_EQ(kuv::soundDeviceClose(1), 1);
  const std::set<int> without = taskIds();
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  int feeder = -1;
  for (int id : taskIds()) {
    if (without.count(id) == 0) feeder = id;
  }
  ASSERT_GT(feeder, 0);
  const std::string data = noiseBytes(10 * kBuffer, 42);
  std::atomic<bool> wroteAll{false};
  std::thread writer([&] {
    writeAll(data);
    wroteAll.store(true);
  });
  ASSERT_TRUE(eventually([] { return heard() >= kCdBytesPerSecond / 4; }));
  const long before = voluntarySwitches(feeder);
  size_t most = 0;
  ASSERT_TRUE(eventually([&] {
    const ClockPcmCounts counts = kuv::test::clockPcmCounts();
    most = std::max(most, counts.receivedBytes - counts.playedBytes);
    return counts.playedBytes >= kCdBytesPerSecond * 5 / 4;
  }));
  const long woke = voluntarySwitches(feeder) - before;
  writer.join();
  ASSERT_TRUE(wroteAll.load());
  EXPECT_LE(most, static_cast<size_t>(limit));
  // A second of sound: ten 32768-byte buffers heard, a wake for each, and
  // a few top-ups; 20 ms naps made fifty.
  EXPECT_LE(woke, 30) << "the feeder woke " << woke << " times in a second of sound";
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(kuv::test::clockPcmPlayed(), data);
}

// --- Close ---------------------------------------------------------------------------

TEST_F(SoundDeviceTest, CloseDiscardingDropsWhatIsQueued) {
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(3 * kBuffer, 16)));
  ASSERT_EQ(kuv::soundDeviceClose(1), 1);
  EXPECT_EQ(played().size(), 0u);

  useClock();
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  ASSERT_EQ(kuv::soundDevicePause(), 1);
  ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(5 * kBuffer, 17)));
  ASSERT_EQ(kuv::soundDeviceClose(1), 1);
  EXPECT_EQ(kuv::test::clockPcmCounts().receivedBytes, 0u);
  EXPECT_FALSE(kuv::test::clockPcmCounts().open);
}

TEST_F(SoundDeviceTest, CloseWaitsUntilEverythingIsHeard) {
  for (int32_t mode : {0, 1}) {
    SCOPED_TRACE(mode);
    kuv::settings.WinMMCallback = mode;
    useClock();
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    const std::string data = noiseBytes(5 * kBuffer + 4 * 1000, 18);
    ASSERT_NO_FATAL_FAILURE(writeAll(data));
    ASSERT_EQ(kuv::soundDeviceClose(0), 1);
    EXPECT_EQ(kuv::test::clockPcmPlayed(), data);
  }
}

TEST_F(SoundDeviceTest, CloseEndsOnAPcmWhoseDelayNeverReachesZero) {
  kuv::test::ClockPcmOptions options;
  options.reportsUnderrun = false;
  options.extraDelayFrames = 4410;
  useClock(options);
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(4 * kBuffer, 31);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(kuv::test::clockPcmPlayed(), data);
}

TEST_F(SoundDeviceTest, CloseStartsAHeldDevice) {
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string few = noiseBytes(2 * kBuffer, 19);
  ASSERT_NO_FATAL_FAILURE(writeAll(few));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), few);

  useClock();
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(5 * kBuffer, 20);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  ASSERT_EQ(kuv::soundDevicePause(), 1);
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(kuv::test::clockPcmPlayed(), data);
}

// --- Position --------------------------------------------------------------------------

TEST_F(SoundDeviceTest, PositionCountsCompletedBytesInWholeMilliseconds) {
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(176400, 21)));
  ASSERT_TRUE(allReturned());
  EXPECT_EQ(kuv::soundDeviceGetPosition(), 1002);  // 176400 / (176400 / 1000)
  EXPECT_EQ(kuv::soundDeviceSetPosition(7), 1);
  EXPECT_EQ(kuv::soundDeviceGetPosition(), 7015);  // 7 * 176400 / 176
  ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(4 * 17640, 22), {17640}));
  ASSERT_TRUE(allReturned());
  EXPECT_EQ(kuv::soundDeviceGetPosition(), (7 * 176400 + 4 * 17640) / 176);
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);

  // A new open starts from zero.
  ASSERT_EQ(kuv::soundDeviceOpen(8000, 1, 1), 1);
  EXPECT_EQ(kuv::soundDeviceGetPosition(), 0);
  ASSERT_NO_FATAL_FAILURE(writeAll(noiseBytes(4 * 4000, 23), {4000}));
  ASSERT_TRUE(allReturned());
  EXPECT_EQ(kuv::soundDeviceGetPosition(), 2000);
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
}

TEST_F(SoundDeviceTest, PositionNeverRunsAheadOfWhatIsHeard) {
  useClock();
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  // The ring is short, so pause and position act within a fraction of a second.
  EXPECT_LE(kuv::soundDeviceAlsaBufferBytes(), static_cast<int32_t>(kCdBytesPerSecond / 4));
  const std::string data = noiseBytes(6 * kBuffer, 24);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  int ahead = 0;
  const bool done = eventually([&] {
    const int64_t position = kuv::soundDeviceGetPosition();
    const size_t heardNow = heard();
    if (static_cast<size_t>(position) * 176 > heardNow) ++ahead;
    return kuv::soundDeviceGetFreeBufferCount() == 10;
  });
  ASSERT_TRUE(done);
  EXPECT_EQ(ahead, 0);
  EXPECT_EQ(kuv::soundDeviceGetPosition(), static_cast<int32_t>(data.size() / 176));
  EXPECT_EQ(heard(), data.size());
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
}

TEST(SoundDeviceFreshProcess, PositionIsZeroBeforeTheFirstOpen) {
  // A process of its own: other tests here open the device first.
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        bool zero = kuv::soundDeviceGetPosition() == 0;
        kuv::soundDeviceSetPosition(5);
        zero = zero && kuv::soundDeviceGetPosition() == 0;
        std::exit(zero ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  GTEST_FLAG_SET(death_test_style, style);
}

// --- Pause -----------------------------------------------------------------------------

// True when played is data with at most maxRepeat bytes heard twice at one
// place: emulated pause reads the delay just before dropping ALSA's ring, so
// what plays in between comes again.
bool playedWithShortRepeat(const std::string& played, const std::string& data, size_t maxRepeat) {
  if (played == data) return true;
  if (played.size() < data.size() || played.size() - data.size() > maxRepeat) return false;
  const size_t extra = played.size() - data.size();
  size_t first = 0;
  while (first < data.size() && played[first] == data[first]) ++first;
  return first >= extra && played.compare(first, std::string::npos, data, first - extra) == 0;
}

// canPause false makes the device emulate pause by dropping and re-sending.
class SoundDevicePauseTest : public SoundDeviceTest, public ::testing::WithParamInterface<std::tuple<bool, int32_t>> {};

TEST_P(SoundDevicePauseTest, PauseHaltsAndResumeLosesNothing) {
  const bool canPause = std::get<0>(GetParam());
  kuv::settings.WinMMCallback = std::get<1>(GetParam());
  useClock(canPause);
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(8 * kBuffer, 25);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  ASSERT_TRUE(eventually([] { return heard() > kBuffer / 2; }));
  ASSERT_EQ(kuv::soundDevicePause(), 1);
  const size_t heardAtPause = heard();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(heard(), heardAtPause);
  ASSERT_EQ(kuv::soundDevicePause(), 1);  // twice is harmless
  ASSERT_EQ(kuv::soundDeviceResume(), 1);
  ASSERT_EQ(kuv::soundDeviceResume(), 1);
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  const std::string played = kuv::test::clockPcmPlayed();
  const ClockPcmCounts counts = kuv::test::clockPcmCounts();
  if (canPause) {
    EXPECT_EQ(played, data);
    EXPECT_GE(counts.pauses, 1);
  } else {
    EXPECT_TRUE(playedWithShortRepeat(played, data, kCdBytesPerSecond / 20))
        << played.size() << " bytes heard of " << data.size();
    EXPECT_EQ(counts.pauses, 0);
  }
}

TEST_P(SoundDevicePauseTest, PauseBeforeTheFourthWriteHoldsUntilResume) {
  kuv::settings.WinMMCallback = std::get<1>(GetParam());
  useClock(std::get<0>(GetParam()));
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  ASSERT_EQ(kuv::soundDevicePause(), 1);
  const std::string data = noiseBytes(5 * kBuffer, 26);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(kuv::test::clockPcmCounts().receivedBytes, 0u);
  EXPECT_EQ(kuv::soundDeviceGetFreeBufferCount(), 5);
  ASSERT_EQ(kuv::soundDeviceResume(), 1);
  EXPECT_TRUE(eventually([] { return heard() > 0; }));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(kuv::test::clockPcmPlayed(), data);
}

INSTANTIATE_TEST_SUITE_P(PauseKinds, SoundDevicePauseTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(0, 1)),
                         [](const ::testing::TestParamInfo<std::tuple<bool, int32_t>>& info) {
                           return std::string(std::get<0>(info.param) ? "AlsaPause" : "Emulated") + "Mode" +
                                  std::to_string(std::get<1>(info.param));
                         });

TEST_F(SoundDeviceTest, PauseAndResumeWithoutDeviceAreHarmless) {
  EXPECT_EQ(kuv::soundDevicePause(), 1);
  EXPECT_EQ(kuv::soundDeviceResume(), 1);
  EXPECT_EQ(kuv::soundDeviceFlush(), 1);
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  EXPECT_EQ(kuv::soundDeviceResume(), 1);  // not paused
  const std::string data = noiseBytes(4 * kBuffer, 27);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), data);
}

// A `file` PCM writing into a FIFO drained at the real-time rate.
TEST_F(SoundDeviceTest, PauseHaltsAPacedFileDevice) {
  kuv::test::PacedReader reader(fifoPath(), kCdBytesPerSecond);
  ASSERT_TRUE(reader.ok());
  const int32_t paced = deviceNumberOf("kuvpaced");
  ASSERT_GE(paced, 0);
  kuv::settings.WinMMOutputDev = paced;
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const size_t slack = static_cast<size_t>(kuv::soundDeviceAlsaBufferBytes() + reader.capacity());
  const std::string data = noiseBytes(8 * kBuffer, 28);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  ASSERT_TRUE(eventually([&] { return reader.bytes() > 20000; }));
  ASSERT_EQ(kuv::soundDevicePause(), 1);
  const size_t atPause = reader.bytes();
  std::this_thread::sleep_for(300ms);
  EXPECT_LE(reader.bytes() - atPause, slack);
  ASSERT_EQ(kuv::soundDeviceResume(), 1);
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  // Played out: at most what the FIFO itself holds is still on its way.
  EXPECT_GE(reader.bytes() + static_cast<size_t>(reader.capacity()), data.size());
  EXPECT_TRUE(eventually([&] { return reader.bytes() >= data.size(); }));
  EXPECT_EQ(reader.received(), data);
}

// --- Volume ----------------------------------------------------------------------------

std::string ramp16() {
  std::string out;
  for (int32_t v = -32768; v <= 32767; v += 7) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
  }
  out.resize(out.size() / 4 * 4);  // whole stereo frames
  return out;
}

std::string scaled16(const std::string& in, int64_t w) {
  std::string out = in;
  for (size_t i = 0; i + 1 < in.size(); i += 2) {
    const auto sample = static_cast<int16_t>(static_cast<uint8_t>(in[i]) | (static_cast<uint8_t>(in[i + 1]) << 8));
    const auto v = static_cast<uint16_t>(static_cast<int64_t>(sample) * w / 0xFFFF);
    out[i] = static_cast<char>(v & 0xFF);
    out[i + 1] = static_cast<char>(v >> 8);
  }
  return out;
}

TEST_F(SoundDeviceTest, VolumeScales16BitSamples) {
  const std::string ramp = ramp16();
  // Unity first: the gain outlives a close, as the volume setting does.
  const std::vector<std::pair<int32_t, int64_t>> steps = {
      {-1, 0xFFFF}, {32, 0x8000}, {63, 0xFC00}, {64, 0}, {1, 0x0400}};
  for (const auto& [volume, word] : steps) {
    SCOPED_TRACE(volume);
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    if (volume >= 0) {
      EXPECT_EQ(kuv::soundDeviceSetVolume(volume), 1);
    }
    EXPECT_EQ(kuv::soundDeviceGetVolume(), static_cast<int32_t>(word >> 10));
    ASSERT_NO_FATAL_FAILURE(writeAll(ramp));
    ASSERT_EQ(kuv::soundDeviceClose(0), 1);
    EXPECT_EQ(played(), scaled16(ramp, word));
  }
  EXPECT_NE(scaled16(ramp, 0x8000), ramp);
}

TEST_F(SoundDeviceTest, VolumeScales8BitSamplesAroundTheMiddle) {
  std::string ramp;
  for (int i = 0; i < 4096; ++i) ramp.push_back(static_cast<char>(i & 0xFF));
  for (const auto& [volume, word] : std::vector<std::pair<int32_t, int64_t>>{{32, 0x8000}, {64, 0}, {63, 0xFC00}}) {
    SCOPED_TRACE(volume);
    ASSERT_EQ(kuv::soundDeviceOpen(22050, 1, 1), 1);
    EXPECT_EQ(kuv::soundDeviceSetVolume(volume), 1);
    ASSERT_NO_FATAL_FAILURE(writeAll(ramp));
    ASSERT_EQ(kuv::soundDeviceClose(0), 1);
    std::string expected;
    for (char c : ramp) {
      expected.push_back(
          static_cast<char>(128 + (static_cast<int64_t>(static_cast<uint8_t>(c)) - 128) * word / 0xFFFF));
    }
    EXPECT_EQ(played(), expected);
    // Silence is the middle value.
    if (word == 0) {
      EXPECT_EQ(played(), std::string(4096, static_cast<char>(128)));
    }
  }
}

// The dial must feel immediate: a change is heard once ALSA's own short
// ring has played, not after the ten queued buffers.
TEST_F(SoundDeviceTest, VolumeChangeIsHeardWithinAQuarterSecond) {
  kuv::test::PacedReader reader(fifoPath(), kCdBytesPerSecond);
  ASSERT_TRUE(reader.ok());
  const int32_t paced = deviceNumberOf("kuvpaced");
  ASSERT_GE(paced, 0);
  kuv::settings.WinMMOutputDev = paced;
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  // Four seconds at one level, written as the decoder writes (16384 bytes,
  // the threshold at 44100 Hz), so the position moves in small steps.
  constexpr int16_t kLevel = 0x2000;
  constexpr int16_t kHalfLevel = 0x1000;  // 0x2000 * 0x8000 / 0xFFFF, truncated
  constexpr size_t kPiece = 16384;
  std::string data;
  for (size_t i = 0; i < 4 * kCdBytesPerSecond / 2; ++i) {
    data.push_back(static_cast<char>(kLevel & 0xFF));
    data.push_back(static_cast<char>(kLevel >> 8));
  }
  data.resize(data.size() / kPiece * kPiece);
  std::atomic<bool> wroteAll{false};
  std::thread writer([&] {
    bool ok = true;
    for (size_t at = 0; ok && at < data.size(); at += kPiece) {
      ok = kuv::soundDeviceWrite(static_cast<int32_t>(kPiece), data.data() + at) == static_cast<int32_t>(kPiece);
    }
    wroteAll.store(ok);
  });
  const bool playing = eventually([] { return kuv::soundDeviceGetPosition() >= 1000; });
  const int32_t before = kuv::soundDeviceGetPosition();
  EXPECT_EQ(kuv::soundDeviceSetVolume(32), 1);
  const int32_t after = kuv::soundDeviceGetPosition();
  writer.join();
  ASSERT_TRUE(playing);
  ASSERT_TRUE(wroteAll.load());
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  ASSERT_TRUE(eventually([&] { return reader.bytes() >= data.size(); }));

  const std::string heardBytes = reader.received();
  ASSERT_EQ(heardBytes.size(), data.size());
  auto sampleAt = [&](size_t at) {
    return static_cast<int16_t>(static_cast<uint8_t>(heardBytes[at]) | (static_cast<uint8_t>(heardBytes[at + 1]) << 8));
  };
  size_t change = 0;
  while (change < heardBytes.size() && sampleAt(change) == kLevel) change += 2;
  ASSERT_LT(change, heardBytes.size()) << "the level never changed";
  const int64_t changeMs = static_cast<int64_t>(change / 176);
  EXPECT_GE(changeMs, before) << "audio already heard was changed";
  EXPECT_LE(changeMs - after, 250) << "heard at " << changeMs << " ms, set at " << after << " ms";
  size_t wrong = 0;
  for (size_t at = change; at < heardBytes.size(); at += 2) wrong += sampleAt(at) != kHalfLevel;
  EXPECT_EQ(wrong, 0u);
}

TEST_F(SoundDeviceTest, VolumeNeedsAnOpenDevice) {
  EXPECT_EQ(kuv::soundDeviceGetVolume(), -1);
  kuv::soundDeviceSetVolume(10);
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  EXPECT_EQ(kuv::soundDeviceGetVolume(), 63);
  EXPECT_EQ(kuv::soundDeviceSetVolume(20), 1);
  EXPECT_EQ(kuv::soundDeviceGetVolume(), 20);
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(kuv::soundDeviceGetVolume(), -1);
}

// --- A device that goes away -------------------------------------------------------------

TEST_F(SoundDeviceTest, WriteFailsInsteadOfHangingWhenTheDeviceGoesAway) {
  // The FIFO's reader leaves: ALSA's writes meet EPIPE, which must not kill us.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &previous), 0);
  {
    kuv::test::PacedReader reader(fifoPath(), kCdBytesPerSecond);
    ASSERT_TRUE(reader.ok());
    reader.hangUpAfter(30000);
    const int32_t paced = deviceNumberOf("kuvpaced");
    ASSERT_GE(paced, 0);
    kuv::settings.WinMMOutputDev = paced;
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    const std::string data = noiseBytes(kBuffer, 29);
    int32_t result = 0;
    int writes = 0;
    for (; writes < 1000; ++writes) {
      result = kuv::soundDeviceWrite(static_cast<int32_t>(kBuffer), data.data());
      if (result < 0) break;
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(eventually([&] { return reader.hungUp(); }));
    EXPECT_EQ(kuv::soundDeviceWrite(static_cast<int32_t>(kBuffer), data.data()), -1);
    EXPECT_TRUE(allReturned());
    MessageRecorder boxes;
    EXPECT_EQ(kuv::soundDeviceClose(0), 1);
    for (const auto& box : boxes.boxes()) EXPECT_EQ(box.title, "waveOutClose");
  }
  sigaction(SIGPIPE, &previous, nullptr);

  // The next open starts afresh.
  kuv::settings.WinMMOutputDev = -1;
  ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
  const std::string data = noiseBytes(4 * kBuffer, 30);
  ASSERT_NO_FATAL_FAILURE(writeAll(data));
  ASSERT_EQ(kuv::soundDeviceClose(0), 1);
  EXPECT_EQ(played(), data);
}

// A card that goes away mid-track (unplugged, sound server restarted): the
// write fails at once, close lets go of the dead device without asking the
// user anything, and the next open plays through the device found afresh.
TEST_F(SoundDeviceTest, ADeviceThatGoesAwayIsLetGoAndOpenedAfresh) {
  struct Case {
    const char* what;
    int32_t callbackMode;
    int32_t discard;  // -1: nobody closes it, the next open must
  };
  const std::vector<Case> cases = {
      {"closed discarding", 0, 1},
      {"closed playing out", 0, 0},
      {"callback thread", 1, 1},
      {"never closed", 0, -1},
      {"never closed, callback thread", 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kuv::settings.WinMMCallback = c.callbackMode;
    kuv::test::ClockPcmOptions dying;
    dying.failAfterFrames = 3 * static_cast<long>(kBuffer) / 4 + 1000;  // a little into the fourth buffer
    useClock(dying);
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    const std::string data = noiseBytes(kBuffer, 32);
    int32_t result = 0;
    for (int writes = 0; writes < 1000 && result >= 0; ++writes) {
      result = kuv::soundDeviceWrite(static_cast<int32_t>(kBuffer), data.data());
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(kuv::test::clockPcmCounts().gone);
    EXPECT_EQ(kuv::soundDeviceWrite(static_cast<int32_t>(kBuffer), data.data()), -1);

    MessageRecorder boxes;
    if (c.discard >= 0) {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(kuv::soundDeviceClose(c.discard), 1);
      // Well inside the five seconds a stalled device is given.
      EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
      EXPECT_EQ(kuv::soundDeviceIsOpen(), 0);
      EXPECT_FALSE(kuv::test::clockPcmCounts().open) << "the dead PCM is still held";
    }
    EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].title << ": " << boxes.boxes()[0].text;

    // The card is back.
    useClock();
    ASSERT_EQ(kuv::soundDeviceOpen(44100, 2, 0), 1);
    const std::string again = noiseBytes(4 * kBuffer + 4000, 33);
    ASSERT_NO_FATAL_FAILURE(writeAll(again));
    ASSERT_EQ(kuv::soundDeviceClose(0), 1);
    EXPECT_EQ(kuv::test::clockPcmPlayed(), again);
    EXPECT_TRUE(boxes.boxes().empty());
  }
}

}  // namespace
