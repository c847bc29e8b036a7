// The engine's protocol: commands in, notifications out, against a
// recording sink, with the wave-file output underneath.
#include "engine/decoder_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "engine/input_stream.h"
#include "output/clock_pcm.h"
#include "output/output_system.h"
#include "output/sound_device.h"
#include "platform/dialogs.h"
#include "support/http_test_server.h"
#include "support/task_switches.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using Clock = std::chrono::steady_clock;

struct Note {
  uint32_t message;
  intptr_t lParam;
  bool sent;
  uintptr_t ticket = 0;
};

// Records every notification; a test may react to one from inside send,
// as the main window does.
struct RecordingSink {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Note> notes;

  static void send(void* self, uint32_t message, uintptr_t ticket, intptr_t lParam) {
    static_cast<RecordingSink*>(self)->add({message, lParam, true, ticket});
  }
  static void post(void* self, uint32_t message, uintptr_t ticket, intptr_t lParam) {
    static_cast<RecordingSink*>(self)->add({message, lParam, false, ticket});
  }
  // Returns once no earlier reaction still runs on another thread: a
  // reaction must never outlive the test's locals it captured.
  void setOnNote(std::function<void(const Note&)> react) {
    std::unique_lock<std::mutex> guard(lock);
    if (reactingOn != std::this_thread::get_id()) changed.wait(guard, [&] { return reacting == 0; });
    onNote = std::move(react);
  }
  void add(const Note& note) {
    std::function<void(const Note&)> react;
    {
      std::lock_guard<std::mutex> guard(lock);
      notes.push_back(note);
      react = onNote;
      if (react) {
        ++reacting;
        reactingOn = std::this_thread::get_id();
      }
    }
    changed.notify_all();
    if (!react) return;
    react(note);
    {
      std::lock_guard<std::mutex> guard(lock);
      if (--reacting == 0) reactingOn = std::thread::id();
    }
    changed.notify_all();
  }
  // Waits until a notification of this kind has arrived `count` times; up
  // to 60 s, as a 20 s file decodes slowly under ThreadSanitizer on two
  // loaded cores.
  bool waitFor(uint32_t message, size_t count = 1) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(60), [&] {
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

 private:
  std::function<void(const Note&)> onNote;
  int reacting = 0;
  std::thread::id reactingOn;
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
    previousDialog_ = platform::setSaveFileBackend(
        [this](const platform::SaveFileRequest&) { return folder_ + "/take" + std::to_string(++asks_) + ".wav"; });
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
    // Once the frames are counted (when that is done before the end): 460.
    if (notes[i].message == ENGINE_TRACK_LENGTH) {
      EXPECT_EQ(notes[i].lParam, 460);
      continue;
    }
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
  sink_.setOnNote([&seen](const Note& note) {
    if (note.message == ENGINE_TRACK_STARTED) seen.push_back(getPlaybackInfo());
  });
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  play(test::fixturePath("mpeg2.mp3"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, 2));
  sink_.setOnNote(nullptr);
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

// A track without audio is told once, naming the input; a track the frame
// reader has already spoken about gets no second box.
TEST_F(EngineTest, ATrackWithoutAudioIsToldOnce) {
  std::string longText;
  while (longText.size() < 40000) longText += "Just some words, no audio in them at all.\n";
  struct Case {
    const char* what;
    std::string bytes;
    std::string title;  // of the one box; "" for none
    std::string text;   // {f} stands for the file
  };
  const Case cases[] = {
      {"a short text file", "Shopping list\n\neggs\nflour\n", kStreamErrorTitle, "{f} holds no MPEG audio."},
      {"an empty file", "", kStreamErrorTitle, "{f} is empty: it holds no MPEG audio."},
      {"a long text file: the frame reader's box only", longText, kSyncErrorTitle, kNotMpegText},
      {"a file with audio", test::readFile(test::fixturePath("l2_44_joint.mp2")), "", ""},
  };
  size_t ended = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder_ + "/track.mp3";
    ASSERT_TRUE(test::writeFile(path, c.bytes));
    const size_t before = boxes_.boxes().size();
    play(path);
    ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, ++ended));
    std::vector<test::RecordedBox> shown = boxes_.boxes();
    shown.erase(shown.begin(), shown.begin() + static_cast<std::ptrdiff_t>(before));
    if (c.title.empty()) {
      EXPECT_TRUE(shown.empty());
      continue;
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, c.title);
    std::string text = c.text;
    if (const size_t at = text.find("{f}"); at != std::string::npos) text.replace(at, 3, path);
    EXPECT_EQ(shown[0].text, text);
  }
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
  sink_.setOnNote([](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED) stop();
  });
  play(longFile(20));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED));
  // The engine is idle again once it takes the next command.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  sink_.setOnNote(nullptr);
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
  sink_.setOnNote([&seeks](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED && seeks++ == 0) seekFrame(5000);
  });
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
  sink_.setOnNote([](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED) seekMilliseconds(60000);
  });
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
  sink_.setOnNote([](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED) seekFrame(100);
  });
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
  outputSystem.pause();
  // Paused, the buffers fill and none comes free: the decoder then waits in write.
  ASSERT_TRUE(test::waitUntil([] { return outputSystem.getFreeBufferCount() == 0; }, std::chrono::seconds(20)));
  const Clock::time_point start = Clock::now();
  shutdownEngine();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
  setSoundDevicePcmOpener(nullptr);
}

TEST_F(EngineTest, QuitWhileASendIsUnansweredEndsPromptly) {
  // A receiver that never answers a send: the engine must still end.
  static std::atomic<bool> stuck{false};
  stuck = false;
  NotificationSink blocking{[](void*, uint32_t message, uintptr_t, intptr_t) {
                              if (message != ENGINE_TRACK_STARTED) return;
                              while (!stuck.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                            },
                            [](void*, uint32_t, uintptr_t, intptr_t) {}, [](void*) { stuck = true; }, nullptr};
  shutdownEngine();
  ASSERT_GT(startEngine(blocking), 0);
  play(test::fixturePath("l2_44_joint.mp2"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// Every notification names the play command it belongs to, and a command
// that was stopped before it could open reports nothing: a receiver never
// mistakes a late report for one about the track it asked for.
TEST_F(EngineTest, NotificationsCarryTheirPlayTicketAndAbandonedOpensPostNothing) {
  test::HttpTestServer server;
  test::HttpRoute silent;
  silent.kind = test::HttpRoute::Kind::NoAnswer;
  server.route("/connecting.mp2", silent);
  const int32_t first = play(server.url("/connecting.mp2"));
  ASSERT_GT(first, 0);
  for (int i = 0; i < 2000 && server.requests().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(server.requests().size(), 1u);
  stop();
  const int32_t second = play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_GT(second, first);
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  for (const Note& n : sink_.all()) {
    EXPECT_NE(n.message, ENGINE_OPEN_FAILED) << "the abandoned open reports nothing";
    EXPECT_EQ(n.ticket, static_cast<uintptr_t>(second));
  }
  EXPECT_EQ(sink_.all().back().lParam, kTrackEndedNormally);

  // A stop posted right behind a play makes that play give up at once.
  const int32_t third = play(server.url("/connecting.mp2"));
  stop();
  const int32_t fourth = play();  // the same URL again, not stopped
  stop();
  play(test::fixturePath("random.bin"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, 2));
  for (const Note& n : sink_.all()) {
    EXPECT_NE(n.ticket, static_cast<uintptr_t>(third));
    EXPECT_NE(n.ticket, static_cast<uintptr_t>(fourth));
  }
  EXPECT_EQ(sink_.all().back().lParam, kTrackNoAudio) << "a file without frames plays no audio";
}

// A server that keeps the connection open and sends nothing must not hold
// the engine: stop cuts the download, and the next play starts.
TEST_F(EngineTest, StopDuringAStalledStreamFreesTheEngine) {
  test::HttpTestServer server;
  test::HttpRoute route;
  route.body = test::readFile(test::fixturePath("l2_44_joint.mp2"));
  route.stallAfter = 20000;
  server.route("/stall.mp2", route);
  play(server.url("/stall.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED));
  // The decoder is waiting on the pipe by now (or will be soon).
  for (int i = 0; i < 2000 && server.bodyBytesSent() < 20000u; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stop();
  const int32_t next = play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  const Note last = sink_.all().back();
  EXPECT_EQ(last.ticket, static_cast<uintptr_t>(next)) << "the stalled track ended as stopped, silently";
}

// An output that cannot open ends the track with the open failure, marked as
// the output's, instead of leaving the receiver waiting.
TEST_F(EngineTest, AnOutputThatCannotOpenIsReported) {
  platform::setSaveFileBackend(
      [this](const platform::SaveFileRequest&) { return folder_ + "/missing/folder/take.wav"; });
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_OPEN_FAILED));
  EXPECT_EQ(sink_.all().back().lParam, kOpenFailedOutput);
  EXPECT_EQ(kinds(), (std::vector<uint32_t>{ENGINE_PROGRESS, ENGINE_TRACK_STARTED, ENGINE_OPEN_FAILED}));
}

// A track of another sample rate or channel count opens the device anew,
// and only after the one before has been heard to its last frame.
TEST_F(EngineTest, ANewFormatReopensTheDeviceAfterTheLastTrackPlayedOut) {
  const size_t kFrameSamples = 1152, kFrames = 460;  // l2_44_joint.mp2; l2_48_stereo.mp2 has 500
  struct Case {
    const char* name;
    const char* second;
    int32_t secondChannels;
    size_t secondBytes;
  };
  const Case cases[] = {
      {"another rate", "l2_48_stereo.mp2", -1, 500 * kFrameSamples * 4},
      {"mono after stereo at the same rate", "l2_44_joint.mp2", 2, kFrames * kFrameSamples * 2},
  };
  shutdownEngine();
  settings.AudioOutputSystem = kSoundDeviceOutput;
  setSoundDevicePcmOpener(test::openClockPcm);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ClockPcmOptions fast;
    fast.speed = 10;
    test::setClockPcmOptions(fast);
    setSharedSetting(settings.Channels, -1);
    RecordingSink sink;
    const std::string second = test::fixturePath(c.second);
    const int32_t channels = c.secondChannels;
    sink.setOnNote([&sink, second, channels](const Note& n) {
      if (n.message != ENGINE_TRACK_ENDED) return;
      sink.setOnNote(nullptr);
      setSharedSetting(settings.Channels, channels);
      play(second);
    });
    ASSERT_GT(startEngine(sink.sink()), 0);
    play(test::fixturePath("l2_44_joint.mp2"));
    ASSERT_TRUE(sink.waitFor(ENGINE_TRACK_ENDED, 2));
    closeOutput();  // plays the second track out
    bool closed = false;
    for (int i = 0; i < 4000 && !closed; ++i) {
      closed = !test::clockPcmCounts().open && outputSystem.isOpen() == 0;
      if (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(closed);
    EXPECT_EQ(test::clockPcmEarlierPlayedBytes(), std::vector<size_t>{kFrames * kFrameSamples * 4})
        << "reopened once, the first track heard whole";
    EXPECT_EQ(test::clockPcmCounts().playedBytes, c.secondBytes);
    shutdownEngine();
  }
  setSoundDevicePcmOpener(nullptr);
  ASSERT_GT(startEngine(sink_.sink()), 0);  // for TearDown
}

// A device that stops taking audio fails the track once: one box, the
// output closed, the receiver told to stop; the next play opens the device
// afresh and plays.
TEST_F(EngineTest, AFailedDeviceStopsWithOneBoxAndTheNextPlayReopensIt) {
  shutdownEngine();
  settings.AudioOutputSystem = kSoundDeviceOutput;
  setSoundDevicePcmOpener(test::openClockPcm);
  test::ClockPcmOptions dying;  // at real speed, so no underrun restarts its count
  dying.failAfterFrames = 22050;
  test::setClockPcmOptions(dying);
  ASSERT_GT(startEngine(sink_.sink()), 0);
  play(longFile(10));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED));
  EXPECT_EQ(sink_.all().back().lParam, kTrackOutputFailed);
  size_t writeBoxes = 0;
  for (const test::RecordedBox& box : boxes_.boxes()) {
    writeBoxes += box.text.find("Could not write audio data") != std::string::npos;
  }
  EXPECT_EQ(writeBoxes, 1u);
  EXPECT_EQ(boxes_.boxes().size(), 1u) << "closing the dead device asks nothing";
  EXPECT_EQ(outputSystem.isOpen(), 0) << "the output was closed";

  test::ClockPcmOptions back;
  back.speed = 10;
  test::setClockPcmOptions(back);
  play(test::fixturePath("l2_44_joint.mp2"));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, 2));
  EXPECT_EQ(sink_.all().back().lParam, kTrackEndedNormally);
  EXPECT_TRUE(test::clockPcmCounts().open) << "opened afresh";
  EXPECT_FALSE(test::clockPcmCounts().gone);
  shutdownEngine();
  setSoundDevicePcmOpener(nullptr);
  ASSERT_GT(startEngine(sink_.sink()), 0);  // for TearDown
}

// The volume is a shared word: another thread may change it at any time
// during playback (the dial, a query), and the output follows.
TEST_F(EngineTest, VolumeChangesFromAnotherThreadReachTheOutput) {
  test::setClockPcmOptions({});
  setSoundDevicePcmOpener(test::openClockPcm);
  shutdownEngine();
  settings.AudioOutputSystem = kSoundDeviceOutput;
  ASSERT_GT(startEngine(sink_.sink()), 0);
  play(longFile(10));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED));
  std::thread dial([] {
    for (int32_t i = 0; i < 2000; ++i) setSharedSetting(settings.EqVolume, i % 64);
    setSharedSetting(settings.EqVolume, 17);
  });
  dial.join();
  bool followed = false;
  for (int i = 0; i < 2000 && !followed; ++i) {
    followed = outputSystem.getVolume() == 17;
    if (!followed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(followed);
  stop();
  shutdownEngine();
  setSoundDevicePcmOpener(nullptr);
}

}  // namespace
}  // namespace kuv

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kuv {
namespace {

// Should the engine hang on a FIFO all the same, this ends the silence after
// a while (the silent writer closes, a writer comes and goes for an open
// that waits for one), so that the test fails instead of hanging.
class FifoWatchdog {
 public:
  explicit FifoWatchdog(const std::string& fifo) : fifo_(fifo), thread_([this] { watch(); }) {}
  ~FifoWatchdog() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      finished_ = true;
    }
    changed_.notify_all();
    thread_.join();
    const int silent = writer.exchange(-1);
    if (silent >= 0) ::close(silent);
  }
  std::atomic<int> writer{-1};

 private:
  void watch() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!changed_.wait_for(guard, std::chrono::seconds(15), [this] { return finished_; })) {
      const int silent = writer.exchange(-1);
      if (silent >= 0) ::close(silent);
      const int passing = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
      if (passing >= 0) ::close(passing);
    }
  }
  std::string fifo_;
  std::mutex lock_;
  std::condition_variable changed_;
  bool finished_ = false;
  std::thread thread_;
};

TEST_F(EngineTest, AFifoInputAnswersStopAndQuit) {
  // Waits up to the quit limit for the count-th notification of a kind
  // (with at least this lParam).
  const auto within = [this](uint32_t message, size_t count, intptr_t least = 0) {
    std::unique_lock<std::mutex> guard(sink_.lock);
    return sink_.changed.wait_for(guard, std::chrono::seconds(3), [&] {
      size_t seen = 0;
      for (const Note& n : sink_.notes) seen += n.message == message && n.lParam >= least;
      return seen >= count;
    });
  };
  const std::string fifo = folder_ + "/fifo.mp2";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // 47 whole frames and the start of one more; the last progress reported
  // before the wait is for frame 46.
  const std::string start = test::readFile(test::fixturePath("l2_44_joint.mp2")).substr(0, 20000);
  constexpr intptr_t kLastProgress = 46;
  FifoWatchdog watchdog(fifo);

  // Nobody writes: the open does not wait for a writer, the track just ends.
  play(fifo);
  EXPECT_TRUE(within(ENGINE_TRACK_ENDED, 1));

  // The writer sends the start of a track, then keeps silent: once the
  // engine has played what came, a stop is answered (the engine takes the
  // next command), and so is a quit.
  watchdog.writer = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(watchdog.writer.load(), 0);
  ASSERT_EQ(::write(watchdog.writer, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  play(fifo);
  ASSERT_TRUE(within(ENGINE_PROGRESS, 1, kLastProgress));
  stop();
  play("/nonexistent/after-the-fifo.mp2");
  EXPECT_TRUE(within(ENGINE_OPEN_FAILED, 1));

  ASSERT_EQ(::write(watchdog.writer, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  play(fifo);
  ASSERT_TRUE(within(ENGINE_PROGRESS, 2, kLastProgress));
  const Clock::time_point quit = Clock::now();
  shutdownEngine();
  EXPECT_LT(Clock::now() - quit, std::chrono::milliseconds(3000));
}

}  // namespace
}  // namespace kuv

#include <dirent.h>

#include <fstream>
#include <set>

#include "engine/vis_queue.h"

namespace kuv {
namespace {

using namespace std::chrono_literals;

using test::taskIds;
using test::voluntarySwitches;

// The sound device on a clock PCM playing at a quarter of real time, with
// the engine started afresh so its thread can be told from the others.
class PacedEngineTest : public EngineTest {
 protected:
  void startPaced() {
    test::ClockPcmOptions options;
    options.speed = 0.25;
    test::setClockPcmOptions(options);
    setSoundDevicePcmOpener(test::openClockPcm);
    shutdownEngine();
    settings.AudioOutputSystem = kSoundDeviceOutput;
    const std::set<int> before = taskIds();
    ASSERT_GT(startEngine(sink_.sink()), 0);
    for (int id : taskIds()) {
      if (before.count(id) == 0) decoderTid_ = id;
    }
    ASSERT_GT(decoderTid_, 0);
  }
  void TearDown() override {
    shutdownEngine();
    setSoundDevicePcmOpener(nullptr);
    EngineTest::TearDown();
  }
  int decoderTid_ = -1;
};

TEST_F(PacedEngineTest, TheDecoderSleepsUntilHalfTheBuffersCameBack) {
  ASSERT_NO_FATAL_FAILURE(startPaced());
  play(longFile(20));
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED));
  ASSERT_TRUE(test::waitUntil([] { return outputPosition() >= 300; }, 30s));
  const long before = voluntarySwitches(decoderTid_);
  const int32_t from = outputPosition();
  // Half a second of sound: five 16384-byte buffers come back. Napping per
  // frame once half full, the decoder slept some 25 times in that; filling
  // in bursts, about once.
  ASSERT_TRUE(test::waitUntil([from] { return outputPosition() >= from + 500; }, 30s));
  const long slept = voluntarySwitches(decoderTid_) - before;
  ASSERT_GE(before, 0);
  EXPECT_LE(slept, 8) << "the decoder woke " << slept << " times";
}

// A command posted while the decoder sleeps on a full output acts at once:
// at a quarter of real time the next half of the buffers takes seconds.
struct CommandCase {
  const char* name;
  std::function<void()> command;
  uint32_t answer;  // the notification that shows it was taken
  intptr_t least;   // with at least this lParam
};

TEST_F(PacedEngineTest, CommandsEndTheWaitForFreeBuffers) {
  const CommandCase cases[] = {
      {"seek", [] { seekFrame(5000); }, ENGINE_PROGRESS, 5000},
      {"stop",
       [] {
         stop();
         play("/nonexistent/after-the-stop.mp2");
       },
       ENGINE_OPEN_FAILED, 0},
      {"paused seek",
       [] {
         outputPause();
         seekFrame(7000);
       },
       ENGINE_PROGRESS, 7000},
  };
  ASSERT_NO_FATAL_FAILURE(startPaced());
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.name);
    outputResume();
    play(longFile(20));
    ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_STARTED, &c - cases + 1));
    // Every buffer is queued: the decoder sleeps until half come back.
    ASSERT_TRUE(test::waitUntil([] { return outputFreeBufferCount() == 0; }, 30s));
    const Clock::time_point asked = Clock::now();
    c.command();
    std::unique_lock<std::mutex> guard(sink_.lock);
    const bool answered = sink_.changed.wait_for(guard, 800ms, [&] {
      for (const Note& n : sink_.notes) {
        if (n.message == c.answer && n.lParam >= c.least && (c.answer != ENGINE_OPEN_FAILED || n.ticket != 0))
          return true;
      }
      return false;
    });
    guard.unlock();
    EXPECT_TRUE(answered) << "no answer after "
                          << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count()
                          << " ms";
    stop();
  }
  outputResume();
}

// A sink that acknowledges progress and takes it the way the row says.
struct AckSink : RecordingSink {
  bool takeAtOnce = false;
  static void postAndTake(void* self, uint32_t message, uintptr_t ticket, intptr_t lParam) {
    auto* me = static_cast<AckSink*>(self);
    me->add({message, lParam, false, ticket});
    if (me->takeAtOnce && message == ENGINE_PROGRESS) progressTaken();
  }
};

struct ProgressCase {
  const char* name;
  bool acknowledges;
  bool takeAtOnce;
  bool everySecondFrame;  // else: one post for the whole track
};

TEST_F(EngineTest, ProgressIsNotPostedAgainWhileUnread) {
  const ProgressCase cases[] = {
      {"never taken", true, false, false},
      {"taken at once", true, true, true},
      {"receiver without acknowledgement", false, false, true},
  };
  const std::string file = longFile(4);
  for (const ProgressCase& c : cases) {
    SCOPED_TRACE(c.name);
    shutdownEngine();
    AckSink sink;
    sink.takeAtOnce = c.takeAtOnce;
    NotificationSink hooks{RecordingSink::send, AckSink::postAndTake, nullptr, &sink, c.acknowledges};
    ASSERT_GT(startEngine(hooks), 0);
    play(file);
    ASSERT_TRUE(sink.waitFor(ENGINE_TRACK_ENDED));
    std::vector<intptr_t> posted;
    for (const Note& n : sink.all()) {
      if (n.message == ENGINE_PROGRESS && !n.sent) posted.push_back(n.lParam);
    }
    if (c.everySecondFrame) {
      ASSERT_GE(posted.size(), 900u);
      for (size_t i = 0; i < posted.size(); ++i) EXPECT_EQ(posted[i], static_cast<intptr_t>(2 * (i + 1)));
    } else {
      EXPECT_EQ(posted, std::vector<intptr_t>{2});
    }
    shutdownEngine();
  }
  ASSERT_GT(startEngine(sink_.sink()), 0);  // for TearDown
}

// A receiver that says which counters would show it nothing new hears of
// no others: the span belongs to one track, and counters outside it are
// reported as before.
TEST_F(EngineTest, ProgressInsideAQuietSpanIsNotPosted) {
  struct QuietCase {
    const char* name;
    uint32_t from, to;
    bool otherTrack;  // the span is set for another ticket
  };
  const QuietCase cases[] = {
      {"a span mid-track", 10, 100, false},
      {"the whole track", 0, UINT32_MAX, false},
      {"another track's span", 0, UINT32_MAX, true},
  };
  const std::string file = longFile(4);
  for (const QuietCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Set as the track opens (its report of 0 is sent, not posted, before
    // the first frame), so no frame is counted before it.
    sink_.setOnNote([&c](const Note& n) {
      if (n.message == ENGINE_PROGRESS && n.sent)
        setProgressQuiet(static_cast<uint32_t>(n.ticket) + (c.otherTrack ? 1u : 0u), c.from, c.to);
    });
    const size_t before = sink_.all().size();
    play(file);
    ASSERT_TRUE(test::waitUntil(
        [&] {
          const std::vector<Note> all = sink_.all();
          return std::any_of(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(),
                             [](const Note& n) { return n.message == ENGINE_TRACK_ENDED; });
        },
        60s));
    sink_.setOnNote(nullptr);
    // The other track's span would quieten whatever plays next.
    setProgressQuiet(0, 0, 0);
    const std::vector<Note> all = sink_.all();
    std::vector<intptr_t> posted;
    for (size_t i = before; i < all.size(); ++i)
      if (all[i].message == ENGINE_PROGRESS && !all[i].sent) posted.push_back(all[i].lParam);
    const bool wholeTrack = !c.otherTrack && c.from == 0 && c.to == UINT32_MAX;
    if (wholeTrack) {
      EXPECT_TRUE(posted.empty()) << posted.size() << " reports";
      continue;
    }
    ASSERT_GE(posted.size(), 50u);
    // Every second frame, but for those in the span.
    intptr_t expected = 2;
    for (intptr_t frame : posted) {
      while (!c.otherTrack && expected >= c.from && expected < c.to) expected += 2;
      ASSERT_EQ(frame, expected);
      expected += 2;
    }
  }
}

// Records are made only while wanted; switched on mid-track they carry the
// positions of their frames, not of the time since the switch.
TEST_F(EngineTest, VisualisationRecordsOnlyWhileWanted) {
  const std::string one = test::readFile(test::fixturePath("cbr_notag.mp3"));
  const std::string path = folder_ + "/long.mp3";
  ASSERT_TRUE(test::writeFile(path, one + one + one));
  struct VisCase {
    const char* name;
    bool wantedAtStart;
    intptr_t switchOnAtFrame;  // 0: never switched
  };
  const VisCase cases[] = {
      {"never wanted", false, 0},
      {"wanted throughout", true, 0},
      {"wanted from mid-track", false, 400},
  };
  uint32_t throughout = 0;
  for (const VisCase& c : cases) {
    SCOPED_TRACE(c.name);
    setVisualisationWanted(c.wantedAtStart);
    clearVisQueue();
    intptr_t lastProgress = 0;
    sink_.setOnNote([&c, &lastProgress](const Note& n) {
      if (n.message == ENGINE_PROGRESS) lastProgress = n.lParam;
      if (c.switchOnAtFrame > 0 && n.message == ENGINE_PROGRESS && n.lParam >= c.switchOnAtFrame)
        setVisualisationWanted(true);
    });
    const size_t endedBefore = [&] {
      size_t count = 0;
      for (const Note& n : sink_.all()) count += n.message == ENGINE_TRACK_ENDED;
      return count;
    }();
    play(path);
    ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, endedBefore + 1));
    sink_.setOnNote(nullptr);
    const bool wanted = c.wantedAtStart || c.switchOnAtFrame > 0;
    if (!wanted) {
      EXPECT_EQ(visQueueCount(), 0);
      continue;
    }
    ASSERT_GT(visQueueCount(), 0);
    // The queue keeps the newest records: the last one, of the track's last
    // frames, has the same time whenever the records were switched on.
    VisFrame record{};
    uint32_t last = 0;
    for (int32_t left = visQueueCount(); left > 0 && peekVisFrame(&record); --left) {
      last = record.position;
      releaseVisFrames(record.position + 1);
    }
    if (c.wantedAtStart) {
      throughout = last;
    } else {
      EXPECT_GT(lastProgress, c.switchOnAtFrame);
      // Records fall due every 2048 bytes (11.6 ms), counted from the switch.
      EXPECT_NEAR(static_cast<double>(last), static_cast<double>(throughout), 12.0);
    }
  }
  setVisualisationWanted(false);
}

}  // namespace
}  // namespace kuv

namespace kuv {
namespace {

// --- Exact lengths and seeks ---------------------------------------------------------

// Frames of a file as kuv-decode --info counts them.
size_t countedFrames(const std::string& path) {
  std::string info;
  test::runCommand("'" + std::string(KUV_DECODE_BIN) + "' --info '" + path + "'", &info);
  const size_t at = info.find("frames: ");
  return at == std::string::npos ? 0 : std::stoul(info.substr(at + 8));
}

// Files whose length the first frame or the tag would get wrong: once their
// frames are counted the length is told exactly, and a seek lands on the
// frame asked for with nothing of the seek to hear.
TEST_F(EngineTest, CountedFramesGiveExactLengthsAndSeeks) {
  const std::string& f = folder_;
  ASSERT_EQ(test::runCommand("sox -n -r 44100 -c 2 -b 16 '" + f + "/tone.wav' synth 20 sine 300-900 sine 500 gain -9"),
            0);
  ASSERT_EQ(test::runCommand("lame --quiet -V2 -t '" + f + "/tone.wav' '" + f + "/vbr.mp3'"), 0);
  ASSERT_EQ(test::runCommand("lame --quiet -V2 '" + f + "/tone.wav' '" + f + "/tagged.mp3'"), 0);
  ASSERT_EQ(test::runCommand("sox '" + f + "/tone.wav' '" + f + "/head.wav' trim 0 5"), 0);
  ASSERT_EQ(test::runCommand("lame --quiet -t -b 32 '" + f + "/head.wav' '" + f +
                             "/low.mp3' && lame --quiet -t -b 320 '" + f + "/tone.wav' '" + f + "/high.mp3' && cat '" +
                             f + "/low.mp3' '" + f + "/high.mp3' > '" + f + "/joined.mp3'"),
            0);
  // The tag says half the frames it has.
  std::string lying = test::readFile(f + "/tagged.mp3");
  const size_t xing = lying.find("Xing");
  ASSERT_NE(xing, std::string::npos);
  const uint32_t frames = static_cast<uint32_t>(countedFrames(f + "/tagged.mp3"));
  const uint32_t half = frames / 2;
  for (int i = 0; i < 4; ++i) lying[xing + 8 + i] = static_cast<char>(half >> (24 - 8 * i));
  ASSERT_TRUE(test::writeFile(f + "/lying.mp3", lying));

  // A closed wave file says its own size in its header.
  auto closedTake = [&](int take) {
    const std::string path = f + "/take" + std::to_string(take) + ".wav";
    closeOutput();
    std::string bytes;
    EXPECT_TRUE(test::waitUntil(
        [&] {
          bytes = test::readFile(path);
          if (bytes.size() < 46) return false;
          uint32_t riff = 0;
          for (int i = 3; i >= 0; --i) riff = riff << 8 | static_cast<uint8_t>(bytes[4 + static_cast<size_t>(i)]);
          return riff + 8 == bytes.size();
        },
        std::chrono::seconds(20)))
        << path << " was not closed";
    return test::readSamples(path, 46);
  };

  int ended = 0;
  const std::string vbr = f + "/vbr.mp3";
  const size_t total = countedFrames(vbr);
  play(vbr);
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, ++ended));
  const std::vector<int16_t> whole = closedTake(1);
  ASSERT_EQ(whole.size(), total * 1152 * 2);

  // A seek by the counted frames (a seek waits for the count): what follows
  // it is the file from that frame on, sample for sample, as the decode
  // from the start gave it.
  constexpr uint32_t kTarget = 500;
  sink_.setOnNote([](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED) seekFrame(kTarget);
  });
  play(vbr);
  ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, ++ended));
  sink_.setOnNote(nullptr);
  const std::vector<int16_t> sought = closedTake(2);
  const size_t tail = (total - kTarget) * 1152 * 2;
  ASSERT_GE(sought.size(), tail);
  const std::vector<int16_t> ours(sought.end() - static_cast<long>(tail), sought.end());
  const std::vector<int16_t> reference(whole.end() - static_cast<long>(tail), whole.end());
  const test::Comparison c = test::compareSamples(ours, reference);
  EXPECT_EQ(c.maxDifference, 0) << "PSNR " << c.psnr << " dB after the seek";

  // The count is told however fast the track decodes: a seek waits for it.
  sink_.setOnNote([](const Note& n) {
    if (n.message == ENGINE_TRACK_STARTED) seekFrame(10);
  });
  for (const char* name : {"vbr.mp3", "joined.mp3", "lying.mp3"}) {
    SCOPED_TRACE(name);
    const std::string path = f + "/" + name;
    const size_t exact = countedFrames(name == std::string("lying.mp3") ? f + "/tagged.mp3" : path);
    ASSERT_GT(exact, 100u);
    const size_t before = sink_.all().size();
    play(path);
    ASSERT_TRUE(sink_.waitFor(ENGINE_TRACK_ENDED, ++ended));
    intptr_t started = 0, told = 0;
    const std::vector<Note> notes = sink_.all();
    for (size_t i = before; i < notes.size(); ++i) {
      if (notes[i].message == ENGINE_TRACK_STARTED) started = notes[i].lParam;
      if (notes[i].message == ENGINE_TRACK_LENGTH) told = notes[i].lParam;
    }
    EXPECT_NE(static_cast<size_t>(started), exact) << "the estimate was right: nothing to show";
    EXPECT_EQ(static_cast<size_t>(told), exact);
  }
  sink_.setOnNote(nullptr);
}

}  // namespace
}  // namespace kuv
