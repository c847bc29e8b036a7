// The engine's protocol: commands in, notifications out, against a
// recording sink, with the wave-file output underneath.
#include "engine/decoder_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "output/output_system.h"
#include "output/sound_device.h"
#include "output/clock_pcm.h"
#include "platform/dialogs.h"
#include "support/http_test_server.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using Clock = std::chrono::steady_clock;

struct Note {
  uint32_t message;
  intptr_t lParam;
  bool sent;
};

// Records every notification; a test may react to one from inside send,
// as the main window does.
struct RecordingSink {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Note> notes;
  std::function<void(const Note&)> onNote;

  static void send(void* self, uint32_t message, uintptr_t, intptr_t lParam) {
    static_cast<RecordingSink*>(self)->add({message, lParam, true});
  }
  static void post(void* self, uint32_t message, uintptr_t, intptr_t lParam) {
    static_cast<RecordingSink*>(self)->add({message, lParam, false});
  }
  void add(const Note& note) {
    std::function<void(const Note&)> react;
    {
      std::lock_guard<std::mutex> guard(lock);
      notes.push_back(note);
      react = onNote;
    }
    changed.notify_all();
    if (react) react(note);
  }
  // Waits (up to 20 s) until a notification of this kind has arrived `count` times.
  bool waitFor(uint32_t message, size_t count = 1) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(20), [&] {
      size_t seen = 0;
      for (const Note& n : notes) seen += n.message == message;
      return seen >= count;
    });
  }
  std::vector<Note> all() {
    std::lock_guard<std::mutex> guard(lock);
    return notes;
  }
  NotificationSink sink() { return NotificationSink{send, post, nullptr, this}; }
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::makeTempFolder();
    saved_ = settings;
    settings.AudioOutputSystem = kWaveFileOutput;
    settings.DownSample = 0;
    settings.Channels = -1;
    settings.AudioOutput8Bit = 0;
    settings.DecoderPriority = 2;
    settings.EqVolume = 32;
    previousDialog_ = platform::setSaveFileBackend([this](const platform::SaveFileRequest&) {
      return folder_ + "/take" + std::to_string(++asks_) + ".wav";
    });
    ASSERT_GT(startEngine(sink_.sink()), 0);
  }
  void TearDown() override {
    const Clock::time_point start = Clock::now();
    shutdownEngine();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
    platform::setSaveFileBackend(previousDialog_);
    settings = saved_;
    test::removeTree(folder_);
  }
  std::vector<uint32_t> kinds() {
    std::vector<uint32_t> out;
    for (const Note& n : sink_.all()) out.push_back(n.message);
    return out;
  }
  // A long Layer II file: the fixture over and over.
  std::string longFile(int copies) {
    const std::string one = test::readFile(test::fixturePath("l2_44_joint.mp2"));
    std::string many;
    for (int i = 0; i < copies; ++i) many += one;
    const std::string path = folder_ + "/long.mp2";
    test::writeFile(path, many);
    return path;
  }

  RecordingSink sink_;
  std::string folder_;
  std::atomic<int> asks_{0};
  Settings saved_;
  platform::SaveFileBackend previousDialog_;
  test::MessageRecorder boxes_;
};

TEST_F(EngineTest, ATrackReportsStartProgressAndEnd) {
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  const std::vector<Note> notes = sink_.all();
  ASSERT_GE(notes.size(), 4u);
  EXPECT_EQ(notes[0].message, ENGINE_PROGRESS);
  EXPECT_EQ(notes[0].lParam, 0);
  EXPECT_TRUE(notes[0].sent);
  EXPECT_EQ(notes[1].message, ENGINE_TRACK_STARTED);
  EXPECT_TRUE(notes[1].sent);
  // Estimated from the size: this encoder pads no frame, so a little short.
  EXPECT_NEAR(static_cast<double>(notes[1].lParam), 460.0, 3.0);
  intptr_t last = 0;
  for (size_t i = 2; i + 1 < notes.size(); ++i) {
    ASSERT_EQ(notes[i].message, ENGINE_PROGRESS);
    EXPECT_FALSE(notes[i].sent);
    EXPECT_EQ(notes[i].lParam, last + 2);
    last = notes[i].lParam;
  }
  EXPECT_EQ(last, 460);
  EXPECT_EQ(notes.back().message, ENGINE_TRACK_ENDED);
  EXPECT_TRUE(notes.back().sent);
  const PlaybackInfo info = getPlaybackInfo();
  EXPECT_EQ(info.playing, 0);
  EXPECT_EQ(info.sampleRate, 44100);
  EXPECT_EQ(info.layer, 2);
  EXPECT_EQ(info.bitRate, 128);
  EXPECT_EQ(info.stereo, 1);
}

TEST_F(EngineTest, TheStartedTrackIsDescribedWhileItsNotificationIsHandled) {
  // The window takes its copy of the playback info inside the handler.
  std::vector<PlaybackInfo> seen;
  {
    std::lock_guard<std::mutex> guard(sink_.lock);
    sink_.onNote = [&seen](const Note& note) {
      if (note.message == ENGINE_TRACK_STARTED) seen.push_back(getPlaybackInfo());
    };
  }
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  play(test::fixturePath("mpeg2.mp3"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, 2));
  {
    std::lock_guard<std::mutex> guard(sink_.lock);
    sink_.onNote = nullptr;
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].sampleRate, 44100);
  EXPECT_EQ(seen[0].layer, 2);
  EXPECT_EQ(seen[1].sampleRate, 22050);
  EXPECT_EQ(seen[1].layer, 3);
}

TEST_F(EngineTest, AFileWithoutFramesStartsNothingAndEnds) {
  play(test::fixturePath("random.bin"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  EXPECT_EQ(kinds(), (std::vector<uint32_t>{ENGINE_PROGRESS, ENGINE_TRACK_ENDED}));
  EXPECT_EQ(asks_.load(), 0) << "no output is opened";
}

TEST_F(EngineTest, UnopenableNamesArePostedAsOpenFailures) {
  play("/nonexistent/track.mp2");
  ASSERT_TRUE(sink_.waitFor(ENGINE_OPEN_FAILED));
  play();  // the same name again
  ASSERT_TRUE(sink_.waitFor(ENGINE_OPEN_FAILED, 2));
  for (const Note& n : sink_.all()) {
    EXPECT_EQ(n.message, ENGINE_OPEN_FAILED);
    EXPECT_FALSE(n.sent);
  }
}

TEST_F(EngineTest, PlayWithoutAnyNameFailsToOpen) {
  play();
  ASSERT_TRUE(sink_.waitFor(ENGINE_OPEN_FAILED));
}

TEST_F(EngineTest, StopEndsTheTrackWithoutTrackEnded) {
  sink_.onNote = [](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED) stop();
  };
  play(longFile(20));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED));
  // The engine is idle again once it takes the next command.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  sink_.onNote = nullptr;
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  size_t started = 0, ended = 0;
  for (const Note& n : sink_.all()) {
    started += n.message == ENGINE_TRACK_STARTED;
    ended += n.message == ENGINE_TRACK_ENDED;
  }
  EXPECT_EQ(started, 2u);
  EXPECT_EQ(ended, 1u) << "only the second track ran to its end";
}

TEST_F(EngineTest, SeeksMoveTheFrameCounter) {
  std::atomic<int> seeks{0};
  sink_.onNote = [&seeks](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED && seeks++ == 0) seekFrame(5000);
  };
  play(longFile(20));  // 9200 frames
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  bool jumped = false;
  intptr_t previous = 0;
  size_t progress = 0;
  for (const Note& n : sink_.all()) {
    if (n.message != ENGINE_PROGRESS || n.lParam == 0) continue;
    ++progress;
    if (n.lParam >= 5000 && previous < 4000) jumped = true;
    previous = n.lParam;
  }
  EXPECT_TRUE(jumped);
  EXPECT_LT(progress, 9200u / 2) << "the frames skipped are not counted";

  // By time: 60 s into the file is frame 60000 / 26.122 = 2296.
  sink_.onNote = [](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED) seekMilliseconds(60000);
  };
  play(longFile(20));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, 2));
  bool landed = false;
  for (const Note& n : sink_.all()) landed |= n.message == ENGINE_PROGRESS && n.lParam >= 2296 && n.lParam <= 2302;
  EXPECT_TRUE(landed);
}

TEST_F(EngineTest, ClosingTheOutputMakesTheNextTrackReopenIt) {
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  play(test::fixturePath("l2_44_crc.mp2"));  // same rate: same file
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, 2));
  EXPECT_EQ(asks_.load(), 1);
  closeOutput();
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, 3));
  EXPECT_EQ(asks_.load(), 2);
  play(test::fixturePath("l2_48_stereo.mp2"));  // another rate: reopened
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, 4));
  EXPECT_EQ(asks_.load(), 3);
  closeOutput();
  // The closed file holds both tracks of the first take, whole.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string first = test::readFile(folder_ + "/take1.wav");
  EXPECT_EQ(first.size(), 46u + 2 * 460u * 1152u * 4u);
}

TEST_F(EngineTest, CommandsWhileIdleAreHarmless) {
  stop();
  seekFrame(10);
  seekMilliseconds(1000);
  settingsChanged();
  closeOutput();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(sink_.all().empty());
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
}

TEST_F(EngineTest, AUrlHasNoLengthAndIgnoresSeeks) {
  test::HttpTestServer server;
  test::HttpRoute route;
  route.body = test::readFile(test::fixturePath("l2_44_joint.mp2"));
  server.route("/radio.mp2", route);
  sink_.onNote = [](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED) seekFrame(100);
  };
  play(server.url("/radio.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  size_t progress = 0;
  for (const Note& n : sink_.all()) {
    if (n.message == ENGINE_TRACK_STARTED) {
      EXPECT_EQ(n.lParam, 0);
    }
    progress += n.message == ENGINE_PROGRESS && n.lParam > 0;
  }
  // Every frame played (a cut last one is missing from a URL), none skipped.
  EXPECT_GE(progress, 229u);
  EXPECT_LE(progress, 230u);
}

TEST_F(EngineTest, QuitWhilePlayingEndsPromptly) {
  play(longFile(40));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED));
  // TearDown shuts the engine down mid-track and checks the time.
}

TEST_F(EngineTest, QuitWhileAUrlStallsEndsPromptly) {
  test::HttpTestServer server;
  test::HttpRoute route;
  route.body = test::readFile(test::fixturePath("l2_44_joint.mp2"));
  route.stallAfter = 30000;
  server.route("/stall.mp2", route);
  play(server.url("/stall.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

TEST_F(EngineTest, QuitWhileAWriteWaitsOnAPausedDeviceEndsPromptly) {
  // The sound device on a clock PCM: once paused, its buffers never free, so
  // the decoder thread sits in write when the quit comes.
  test::setClockPcmOptions({});
  setSoundDevicePcmOpener(test::openClockPcm);
  shutdownEngine();  // settings change only while no engine reads them
  settings.AudioOutputSystem = kSoundDeviceOutput;
  ASSERT_GT(startEngine(sink_.sink()), 0);
  play(longFile(40));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  outputSystem.pause();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(outputSystem.getFreeBufferCount(), 0);
  const Clock::time_point start = Clock::now();
  shutdownEngine();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
  setSoundDevicePcmOpener(nullptr);
}

TEST_F(EngineTest, QuitWhileASendIsUnansweredEndsPromptly) {
  // A receiver that never answers a send: the engine must still end.
  static std::atomic<bool> stuck{false};
  stuck = false;
  NotificationSink blocking{
      [](void*, uint32_t message, uintptr_t, intptr_t) {
        if (message != ENGINE_TRACK_STARTED) return;
        while (!stuck.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      [](void*, uint32_t, uintptr_t, intptr_t) {}, [](void*) { stuck = true; }, nullptr};
  shutdownEngine();
  ASSERT_GT(startEngine(blocking), 0);
  play(test::fixturePath("l2_44_joint.mp2"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

}  // namespace
}  // namespace kuv
