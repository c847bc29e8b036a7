// The pages change settings while a track plays: each change takes effect
// where it should (the output format at the next track, the priority at
// once) with no race, crash, hang or double-speed track. Runs under TSan in
// the sanitizer build.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "engine/decoder_thread.h"
#include "layer3/layer3.h"
#include "output/clock_pcm.h"
#include "output/output_system.h"
#include "output/sound_device.h"
#include "platform/dialogs.h"
#include "support/test_support.h"
#include "ui/preferences_logic.h"

namespace kuv {
namespace {

// Counts the tracks that started.
struct StartCounter {
  std::mutex lock;
  std::condition_variable changed;
  int started = 0;
  static void note(void* self, uint32_t message, uintptr_t, intptr_t) {
    auto* counter = static_cast<StartCounter*>(self);
    if (message != ENGINE_TRACK_STARTED) return;
    {
      std::lock_guard<std::mutex> guard(counter->lock);
      ++counter->started;
    }
    counter->changed.notify_all();
  }
  bool waitFor(int count) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(30), [&] { return started >= count; });
  }
};

// Puts back what the test changed, also when it stops early.
struct EngineFixture {
  ~EngineFixture() {
    shutdownEngine();
    setSoundDevicePcmOpener(nullptr);
    platform::setSaveFileBackend(previous);
    test::removeTree(folder);
  }
  test::SavedSettings saved;
  test::MessageRecorder boxes;
  std::string folder = test::makeTempFolder();
  platform::SaveFileBackend previous;
};

TEST(PreferencesDuringPlayback, PagesAppliedWhileTracksPlayTakeEffectSafely) {
  EngineFixture fixture;
  int takes = 0;
  fixture.previous = platform::setSaveFileBackend(
      [&](const platform::SaveFileRequest&) { return fixture.folder + "/take" + std::to_string(++takes) + ".wav"; });
  test::ClockPcmOptions fast;
  fast.speed = 8;
  test::setClockPcmOptions(fast);
  setSoundDevicePcmOpener(test::openClockPcm);
  settings.AudioOutputSystem = kSoundDeviceOutput;
  settings.DownSample = 0;
  settings.Channels = -1;
  settings.DecoderPriority = 2;
  settings.EqActive = 0;

  StartCounter counter;
  ASSERT_GT(startEngine(NotificationSink{StartCounter::note, StartCounter::note, nullptr, &counter}), 0);
  const std::string track = test::fixturePath("l3_stereo.mp3");

  const struct {
    const char* name;
    int32_t system;
    int32_t quality, output, priority;
    bool equaliser;
    int32_t rate;  // heard rate of the next track
    int32_t stereo;
  } steps[] = {
      {"full rate stereo on the sound device", kSoundDeviceOutput, 0, 0, 2, false, 44100, 1},
      {"half rate, left channel, higher priority", kSoundDeviceOutput, 1, 1, 4, true, 22050, 0},
      {"to the wave writer at quarter rate", kWaveFileOutput, 2, 3, 0, false, 11025, 0},
      {"back to the sound device, full stereo", kSoundDeviceOutput, 0, 0, 3, true, 44100, 1},
  };
  DecoderMemory memory;
  int played = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    // As the Decoder page stores them: the system at once, the sliders on Apply.
    setSharedSetting(settings.AudioOutputSystem, step.system);
    applyDecoder({step.quality, step.output, step.priority}, settings, memory);
    setSharedSetting(settings.EqActive, step.equaliser ? 1 : 0);
    settingsChanged();
    // As the window plays another entry: the track playing is stopped first.
    stop();
    ASSERT_GT(play(track), 0);
    ASSERT_TRUE(counter.waitFor(++played));
    const PlaybackInfo info = getPlaybackInfo();
    EXPECT_EQ(info.sampleRate, step.rate);
    EXPECT_EQ(info.stereo, step.stereo);
    // While it plays: the priority and the LED page change under it.
    applyDecoder({step.quality, step.output, 5 - step.priority}, settings, memory);
    applyLed({true, 10, 1 + played % 5}, settings);
    settingsChanged();
  }
  stop();
  const auto start = std::chrono::steady_clock::now();
  shutdownEngine();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(takes, 1) << "one wave file for the one track played through the writer";
}

}  // namespace
}  // namespace kuv
