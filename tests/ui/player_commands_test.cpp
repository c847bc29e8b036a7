// The main window's command logic against a recording engine and window:
// playback state, release pause, advancing, drops, hand-overs and queries.
#include "ui/player_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "playlist/playlist.h"
#include "session/message_codes.h"
#include "session/recording_engine.h"
#include "support/test_support.h"
#include "ui/dial.h"

namespace kuv {
namespace {

using test::RecordingEngine;

struct RecordingWindow final : WindowActions {
  std::vector<std::string> calls;
  std::vector<std::string> toOpen;  // what the open dialog "chooses"
  std::string location;
  bool locationOk = false;
  int32_t openFiles(bool clearFirst, int32_t filterSet) override {
    calls.push_back("openFiles " + std::to_string(clearFirst) + " " + std::to_string(filterSet));
    if (toOpen.empty()) return 0;
    if (clearFirst) clearPlaylist();
    for (const std::string& name : toOpen) addEntry(name);
    return static_cast<int32_t>(toOpen.size());
  }
  bool askLocation(std::string& text) override {
    text = location;
    return locationOk;
  }
  void closeWindow() override { calls.push_back("close"); }
  void bringForward() override { calls.push_back("raise"); }
  void applyAlwaysOnTop(bool onTop) override { calls.push_back(onTop ? "top" : "not top"); }
  void applyShape(bool winShade) override { calls.push_back(winShade ? "shade" : "normal"); }
  void refreshEditor() override { calls.push_back("refresh"); }
  void signalNewTrack() override { calls.push_back("newTrack"); }
  void publishCurrentFile(const std::string& path) override { calls.push_back("publish " + path); }
  void trayPercent(int32_t percent) override { calls.push_back("tray " + std::to_string(percent)); }
  void currentEntryChanged() override { calls.push_back("entry"); }
};

class PlayerCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.ReadFileInfo = 0;
    settings.RepeatPlay = 0;
    settings.ShufflePlay = 0;
    settings.AddOnDragAndDrop = 0;
    clearPlaylist();
  }
  void TearDown() override { clearPlaylist(); }
  // Entries that need not exist: addEntry takes any name.
  static void fill(const std::vector<std::string>& names) {
    for (const std::string& n : names) addEntry(n);
  }
  std::vector<std::string> takeEngine() {
    std::vector<std::string> calls;
    calls.swap(engine_.calls);
    return calls;
  }
  using Calls = std::vector<std::string>;

  RecordingEngine engine_;
  RecordingWindow window_;
  PlayerWindow w_{PlaybackSession{engine_, kWindowAdvance}, PlayerState{}, window_};
  test::SavedSettings saved_;
};

TEST_F(PlayerCommandsTest, PlayPauseStopFollowTheState) {
  EXPECT_EQ(w_.session.state.playbackState, Stopped);
  handleCommand(w_, CMD_PAUSE);  // nothing while stopped
  EXPECT_EQ(takeEngine(), Calls{});
  handleCommand(w_, CMD_PLAY);
  EXPECT_EQ(takeEngine(), (Calls{"play"}));
  EXPECT_EQ(w_.session.state.playbackState, Playing);
  handleCommand(w_, CMD_PLAY);  // restarts the track
  EXPECT_EQ(takeEngine(), (Calls{"stop", "play"}));
  handleCommand(w_, CMD_PAUSE);
  EXPECT_EQ(w_.session.state.playbackState, Paused);
  handleCommand(w_, CMD_PAUSE);  // pause does not toggle
  EXPECT_EQ(takeEngine(), (Calls{"pause"}));
  handleCommand(w_, CMD_PLAY);  // resumes only
  EXPECT_EQ(takeEngine(), (Calls{"resume"}));
  EXPECT_EQ(w_.session.state.playbackState, Playing);
  handleCommand(w_, CMD_PAUSE);
  handleCommand(w_, CMD_STOP);  // the paused output runs again before the stop
  EXPECT_EQ(takeEngine(), (Calls{"pause", "resume", "flush", "stop", "close"}));
  EXPECT_EQ(w_.session.state.playbackState, Stopped);
}

// Once the playing file's frames are counted, its length is exact
// everywhere the window shows it; a count the window cannot use changes
// nothing.
TEST_F(PlayerCommandsTest, ACountedLengthReplacesTheEstimate) {
  fill({"/music/a.mp3"});
  handleCommand(w_, CMD_PLAY_CURRENT);
  engine_.info.sampleRate = 44100;
  engine_.info.layer = 3;
  onTrackStarted(w_, 400);
  w_.state.framesPlayed = 10;
  window_.calls.clear();
  onTrackLength(w_, 461);
  EXPECT_EQ(w_.state.totalFrames, 461);
  PlaylistEntry entry;
  ASSERT_TRUE(copyCurrentEntry(entry));
  EXPECT_EQ(entry.lengthMs, 12042);  // 461 frames of 1152 samples at 44.1 kHz
  EXPECT_EQ(window_.calls, (Calls{"entry"}));
  for (const intptr_t wrong : {intptr_t{0}, intptr_t{-5}, intptr_t{1} << 40}) {
    window_.calls.clear();
    onTrackLength(w_, wrong);
    EXPECT_EQ(w_.state.totalFrames, 461) << wrong;
    EXPECT_TRUE(window_.calls.empty()) << wrong;
  }
}

TEST_F(PlayerCommandsTest, NextAndPreviousReleaseAPause) {
  fill({"a", "b"});
  handleCommand(w_, CMD_PREVIOUS);  // at the first entry: nothing
  EXPECT_EQ(takeEngine(), Calls{});
  w_.session.state.playbackState = Paused;
  handleCommand(w_, CMD_NEXT);
  EXPECT_EQ(takeEngine(), (Calls{"resume", "flush", "stop", "play b"}));
  // The new track's start is taken: the window plays it, and Pause works.
  onTrackStarted(w_, 500);
  EXPECT_EQ(w_.state.totalFrames, 500);
  EXPECT_EQ(w_.session.state.playbackState, Playing);
  handleCommand(w_, CMD_PAUSE);
  EXPECT_EQ(takeEngine(), (Calls{"pause"}));
  handleCommand(w_, CMD_NEXT);  // at the last entry: nothing
  EXPECT_EQ(takeEngine(), Calls{});
}

TEST_F(PlayerCommandsTest, RepeatCyclesAndTogglesFlip) {
  settings.RepeatPlay = 1;
  handleCommand(w_, CMD_REPEAT);
  EXPECT_EQ(settings.RepeatPlay, 2);
  handleCommand(w_, CMD_REPEAT);
  EXPECT_EQ(settings.RepeatPlay, 0);
  handleCommand(w_, CMD_REPEAT);
  EXPECT_EQ(settings.RepeatPlay, 1);
  handleCommand(w_, CMD_SHUFFLE);
  EXPECT_EQ(settings.ShufflePlay, 1);
  settings.AlwaysOnTop = 0;
  settings.WinShade = 0;
  handleCommand(w_, CMD_ALWAYS_ON_TOP);
  handleCommand(w_, CMD_WINSHADE);
  handleCommand(w_, CMD_WINSHADE);
  handleCommand(w_, CMD_CLOSE);
  handleCommand(w_, CMD_TAG_EDITOR);
  EXPECT_EQ(window_.calls, (Calls{"top", "shade", "normal", "close"}));
}

TEST_F(PlayerCommandsTest, TrackEndAdvancesByRepeatPlay) {
  fill({"a", "b"});
  selectEntry(1);
  settings.RepeatPlay = 0;
  EXPECT_EQ(onTrackEnded(w_), 1);
  EXPECT_EQ(takeEngine(), (Calls{"close"}));
  EXPECT_EQ(w_.session.state.playbackState, Stopped);
  settings.RepeatPlay = 1;
  EXPECT_EQ(onTrackEnded(w_), 1);
  EXPECT_EQ(takeEngine(), (Calls{"play a"}));
  settings.RepeatPlay = 2;
  EXPECT_EQ(onTrackEnded(w_), 0);
  EXPECT_EQ(takeEngine(), (Calls{"play a"}));
  settings.RepeatPlay = 0;
  EXPECT_EQ(onTrackEnded(w_), 1);
  EXPECT_EQ(takeEngine(), (Calls{"play b"}));
  clearPlaylist();
  settings.RepeatPlay = 2;
  EXPECT_EQ(onTrackEnded(w_), 0);
  EXPECT_EQ(takeEngine(), (Calls{"close"}));
}

TEST_F(PlayerCommandsTest, TrackStartAndProgressUpdateTheWindow) {
  fill({"/m/a.mp3"});
  engine_.info.sampleRate = 44100;
  engine_.info.layer = 3;
  engine_.info.bitRate = 128;
  engine_.info.stereo = 1;
  onTrackStarted(w_, 200, 7);
  EXPECT_EQ(w_.session.state.playbackState, Playing);
  EXPECT_EQ(w_.state.totalFrames, 200);
  // The report of 0 came before the length was known: the start tells the
  // engine again, or the whole track would stay quiet.
  ASSERT_EQ(engine_.quiet.size(), 1u);
  EXPECT_EQ(engine_.quiet[0].to, 1u);
  onProgress(w_, 2, 7);
  onProgress(w_, 3, 7);  // 1.5 % is still 1 %
  onProgress(w_, 199, 7);
  EXPECT_EQ(window_.calls, (Calls{"newTrack", "publish /m/a.mp3", "tray 1", "tray 99"}));
  // Each report tells the engine which counters would change nothing shown.
  ASSERT_EQ(engine_.quiet.size(), 4u);
  EXPECT_EQ(engine_.quiet[3].ticket, 7u);
  EXPECT_EQ(engine_.quiet[3].from, 199u);
  EXPECT_EQ(engine_.quiet[3].to, 200u);
  // The counter asked for is the engine's, not the last report's.
  engine_.frames = 199 + 1;
  int32_t answer = 0;
  ASSERT_TRUE(answerQuery(w_, MW_GET_FRAMES_PLAYED, 0, answer));
  EXPECT_EQ(answer, 200);
  ASSERT_TRUE(answerQuery(w_, MW_GET_CHANNELS, 0, answer));
  EXPECT_EQ(answer, 2);
  ASSERT_TRUE(answerQuery(w_, MW_GET_BIT_RATE, 0, answer));
  EXPECT_EQ(answer, 128);
}

// The counters that show the same dial and percentage are exactly those
// the engine may leave unreported: one more either side shows a change.
TEST(ProgressViewTest, TheQuietSpanIsExactlyTheCountersThatShowTheSame) {
  struct Case {
    int32_t frame, total;
  };
  const Case cases[] = {{0, 0},         {5000, 0},         {0, 11486},     {1, 11486},
                        {11485, 11486}, {11486, 11486},    {20000, 11486}, {2, 200},
                        {57, 1},        {123456, 2000000}, {7, 3},         {INT32_MAX - 1, 11486}};
  auto view = [](int64_t f, int32_t total) {
    const auto g = static_cast<int32_t>(f);
    return std::pair{dialPositionLitCount(g, total), progressPercent(g, total)};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frame << " of " << c.total);
    const ProgressSpan span = sameProgressView(c.frame, c.total);
    ASSERT_LE(span.from, static_cast<uint32_t>(c.frame));
    ASSERT_GT(span.to, static_cast<uint32_t>(c.frame));
    const auto shown = view(c.frame, c.total);
    EXPECT_EQ(view(span.from, c.total), shown);
    if (span.from > 0) {
      EXPECT_NE(view(span.from - 1, c.total), shown);
    }
    if (span.to != UINT32_MAX) {
      EXPECT_EQ(view(span.to - 1, c.total), shown);
      EXPECT_NE(view(span.to, c.total), shown);
    } else {
      EXPECT_EQ(view(INT32_MAX, c.total), shown);
    }
    // Small spans are checked counter by counter.
    if (span.to - span.from < 100000u) {
      for (uint32_t f = span.from; f < span.to; ++f) ASSERT_EQ(view(f, c.total), shown) << f;
    }
  }
}

TEST_F(PlayerCommandsTest, QueriesBeforeAnyTrack) {
  int32_t answer = -5;
  ASSERT_TRUE(answerQuery(w_, MW_GET_STATE, 0, answer));
  EXPECT_EQ(answer, Stopped);
  ASSERT_TRUE(answerQuery(w_, MW_GET_CHANNELS, 0, answer));
  EXPECT_EQ(answer, 1);
  for (uint32_t m : {MW_GET_FRAMES_PLAYED, MW_GET_TOTAL_FRAMES, MW_GET_SAMPLE_RATE, MW_GET_LAYER, MW_GET_BIT_RATE}) {
    ASSERT_TRUE(answerQuery(w_, m, 0, answer));
    EXPECT_EQ(answer, 0) << m;
  }
  engine_.position = 1234;
  ASSERT_TRUE(answerQuery(w_, MW_GET_OUTPUT_POSITION, 0, answer));
  EXPECT_EQ(answer, 1234);
  ASSERT_TRUE(answerQuery(w_, MW_SET_VOLUME, 20, answer));
  EXPECT_EQ(settings.EqVolume, 20);
  ASSERT_TRUE(answerQuery(w_, MW_GET_VOLUME, 0, answer));
  EXPECT_EQ(answer, 20);
  answerQuery(w_, MW_SET_VOLUME, 64, answer);  // would wrap the gain to silence
  EXPECT_EQ(settings.EqVolume, 63);
  answerQuery(w_, MW_SET_VOLUME, -5, answer);
  EXPECT_EQ(settings.EqVolume, 0);
  ASSERT_TRUE(answerQuery(w_, MW_SEEK_FRAME, 77, answer));
  ASSERT_TRUE(answerQuery(w_, MW_SEEK_MS, 5000, answer));
  EXPECT_EQ(takeEngine(), (Calls{"seekFrame 77", "seekMs 5000"}));
  EXPECT_FALSE(answerQuery(w_, 0x870A, 0, answer));
  EXPECT_FALSE(answerQuery(w_, 0x8712, 0, answer));
}

TEST_F(PlayerCommandsTest, UnopenableEntriesAreSkippedAndAFailedRoundStops) {
  fill({"a", "b", "c"});
  onOpenFailed(w_, 0);
  EXPECT_EQ(takeEngine(), (Calls{"play b"}));
  onTrackStarted(w_, 10);  // b opened: the count starts again
  onOpenFailed(w_, 0);
  EXPECT_EQ(takeEngine(), (Calls{"play c"}));
  onOpenFailed(w_, 0);  // the end of the list, RepeatPlay 0
  EXPECT_EQ(takeEngine(), (Calls{"close"}));
  EXPECT_EQ(w_.session.state.playbackState, Stopped);

  // With RepeatPlay 1 the list wraps, and a whole round of failures stops.
  settings.RepeatPlay = 1;
  selectEntry(0);
  onOpenFailed(w_, 0);
  onOpenFailed(w_, 0);
  onOpenFailed(w_, 0);
  EXPECT_EQ(takeEngine(), (Calls{"play b", "play c", "close"}));
  EXPECT_EQ(w_.session.state.playbackState, Stopped);
}

TEST_F(PlayerCommandsTest, AnOpenFailureWithAnEmptyListOpensTheDialog) {
  handleCommand(w_, CMD_PLAY);  // nothing was played: the engine answers with a failure
  onOpenFailed(w_, 0);
  EXPECT_EQ(window_.calls, (Calls{"openFiles 1 0"}));
}

TEST_F(PlayerCommandsTest, OpenFileReplacesThePlaylistAndPlays) {
  fill({"old"});
  handleCommand(w_, CMD_OPEN_FILE);  // cancelled: nothing changes
  EXPECT_EQ(entryCount(), 1);
  EXPECT_EQ(takeEngine(), Calls{});
  window_.toOpen = {"x", "y"};
  w_.session.state.playbackState = Paused;
  handleCommand(w_, CMD_OPEN_FILE);
  EXPECT_EQ(entryCount(), 2);
  EXPECT_EQ(takeEngine(), (Calls{"resume", "flush", "stop", "play x"}));
}

TEST_F(PlayerCommandsTest, OpenLocationNeedsFourCharacters) {
  window_.locationOk = true;
  window_.location = "abc";
  handleCommand(w_, CMD_OPEN_LOCATION);
  EXPECT_EQ(takeEngine(), Calls{});
  window_.location = "http";
  handleCommand(w_, CMD_OPEN_LOCATION);
  EXPECT_EQ(takeEngine(), (Calls{"stop", "play http"}));
  window_.location = "http://radio.example/stream";
  window_.locationOk = false;
  handleCommand(w_, CMD_OPEN_LOCATION);
  EXPECT_EQ(takeEngine(), Calls{});
}

TEST_F(PlayerCommandsTest, DropsReplaceOrAppend) {
  const std::string dir = test::makeTempFolder();
  std::vector<std::string> names;
  for (const char* n : {"1.mp3", "2.mp3", "3.mp3"}) {
    names.push_back(dir + "/" + n);
    test::writeFile(names.back(), "x");
  }
  fill({"old"});
  handleDrop(w_, names);
  EXPECT_EQ(entryCount(), 3);
  EXPECT_EQ(takeEngine(), (Calls{"stop", "play " + names[0]}));
  EXPECT_TRUE(w_.state.refreshAllowed);

  settings.AddOnDragAndDrop = 1;
  handleDrop(w_, {names[2]});
  EXPECT_EQ(entryCount(), 4);
  EXPECT_EQ(takeEngine(), Calls{});  // appending never touches playback

  // Replace with ShufflePlay: the shuffled list's first entry plays.
  settings.AddOnDragAndDrop = 0;
  settings.ShufflePlay = 1;
  handleDrop(w_, names);
  const Calls calls = takeEngine();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], "play " + entryAt(0)->path);
  EXPECT_EQ(currentPosition(), 0);
  test::removeTree(dir);
}

TEST_F(PlayerCommandsTest, HandOverClearsAddsAndStarts) {
  const std::string dir = test::makeTempFolder();
  const std::string a = dir + "/a b.mp3", b = dir + "/b.mp3";
  test::writeFile(a, "x");
  test::writeFile(b, "x");
  fill({"old"});
  w_.session.state.playbackState = Paused;
  EXPECT_EQ(handleHandOver(w_, HANDOVER_CLEAR, 0, ""), 1);
  EXPECT_EQ(entryCount(), 0);
  EXPECT_EQ(handleHandOver(w_, HANDOVER_ADD, static_cast<int32_t>(a.size()), a), 1);
  EXPECT_EQ(handleHandOver(w_, HANDOVER_ADD, static_cast<int32_t>(b.size()), b), 1);
  EXPECT_EQ(handleHandOver(w_, HANDOVER_START, 0, ""), 1);
  // The pause is released once: the first step stops the paused track.
  EXPECT_EQ(takeEngine(), (Calls{"resume", "flush", "stop", "stop", "play " + a}));
  EXPECT_EQ(handleHandOver(w_, HANDOVER_SELECT, 1, ""), 1);
  EXPECT_EQ(handleHandOver(w_, HANDOVER_SELECT, -1, a), 1);
  w_.session.state.playbackState = Playing;
  EXPECT_EQ(handleHandOver(w_, HANDOVER_REPLACE_AND_PLAY, 0, b), 1);
  EXPECT_EQ(handleHandOver(w_, 99, 0, "ignored"), 1);
  const Calls calls = takeEngine();
  EXPECT_EQ(calls, (Calls{"stop", "play " + b, "stop", "play " + a, "stop", "play " + b}));
  EXPECT_EQ(entryCount(), 1);
  // The window comes forward once the names are in, or when asked alone.
  EXPECT_EQ(std::count(window_.calls.begin(), window_.calls.end(), "raise"), 1);
  EXPECT_EQ(handleHandOver(w_, HANDOVER_RAISE, 0, ""), 1);
  EXPECT_EQ(std::count(window_.calls.begin(), window_.calls.end(), "raise"), 2);
  EXPECT_EQ(takeEngine(), Calls{});
  EXPECT_EQ(entryCount(), 1);
  test::removeTree(dir);
}

TEST_F(PlayerCommandsTest, StartUpPlaysTheFirstNamedFile) {
  startPlaylist(w_);  // empty: nothing
  EXPECT_EQ(takeEngine(), Calls{});
  fill({"first", "second", "third"});
  settings.ShufflePlay = 1;
  startPlaylist(w_);
  EXPECT_EQ(takeEngine(), (Calls{"play first"}));
}

}  // namespace
}  // namespace kuv

namespace kuv {
namespace {

// Reports of a track the window has left (it stopped, or asked for another)
// must not move the playlist; an output failure stops instead of skipping on.
TEST_F(PlayerCommandsTest, LateReportsAreDroppedAndOutputFailuresStop) {
  struct Case {
    const char* name;
    int32_t command;  // given after "a" was asked for (ticket 1); 0: none
    uint32_t message;
    uintptr_t ticket;
    intptr_t lParam;
    Calls engineCalls;  // after the command's own calls
    int32_t state;
  };
  const Case cases[] = {
      {"end of the awaited track moves on", 0, ENGINE_TRACK_ENDED, 1, kTrackEndedNormally, {"play b"}, Playing},
      {"a track without audio moves on", 0, ENGINE_TRACK_ENDED, 1, kTrackNoAudio, {"play b"}, Playing},
      {"an input that cannot open is skipped", 0, ENGINE_OPEN_FAILED, 1, kOpenFailedInput, {"play b"}, Playing},
      {"a failed write stops", 0, ENGINE_TRACK_ENDED, 1, kTrackOutputFailed, {"close"}, Stopped},
      {"an output that cannot open stops", 0, ENGINE_OPEN_FAILED, 1, kOpenFailedOutput, {"close"}, Stopped},
      {"an end after Stop is late", CMD_STOP, ENGINE_TRACK_ENDED, 1, kTrackEndedNormally, {}, Stopped},
      {"an open failure after Stop is late", CMD_STOP, ENGINE_OPEN_FAILED, 1, kOpenFailedInput, {}, Stopped},
      {"an end after Next is late", CMD_NEXT, ENGINE_TRACK_ENDED, 1, kTrackEndedNormally, {}, Playing},
      {"an open failure after Next is late", CMD_NEXT, ENGINE_OPEN_FAILED, 1, kOpenFailedInput, {}, Playing},
      {"the track Next asked for moves on", CMD_NEXT, ENGINE_TRACK_ENDED, 2, kTrackEndedNormally, {"play c"}, Playing},
      {"a start after Next is late", CMD_NEXT, ENGINE_TRACK_STARTED, 1, 100, {}, Playing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearPlaylist();
    fill({"a", "b", "c"});
    engine_.tickets = 0;
    w_.state = PlayerState{};
    w_.session.state = SessionState{};
    startPlaylist(w_);  // "a", ticket 1
    w_.session.state.playbackState = Playing;
    if (c.command != 0) handleCommand(w_, c.command);
    takeEngine();
    const int32_t totalBefore = w_.state.totalFrames;
    onEngineNotification(w_, c.message, c.ticket, c.lParam);
    EXPECT_EQ(takeEngine(), c.engineCalls);
    EXPECT_EQ(w_.session.state.playbackState, c.state);
    if (c.message == ENGINE_TRACK_STARTED) {
      EXPECT_EQ(w_.state.totalFrames, totalBefore);
    }
  }
}

}  // namespace
}  // namespace kuv

namespace kuv {
namespace {

// A track that never started (it could not open, or held no audio) leaves
// the display naming the entry tried, not the track played before it.
TEST_F(PlayerCommandsTest, ATrackThatNeverStartedIsNamedOnTheDisplay) {
  struct Case {
    const char* name;
    uint32_t message;
    intptr_t lParam;
    bool retitled;
  };
  const Case cases[] = {
      {"a URL that cannot open", ENGINE_OPEN_FAILED, kOpenFailedInput, true},
      {"a file without audio", ENGINE_TRACK_ENDED, kTrackNoAudio, true},
      // These had started: the display names them already.
      {"an output that cannot open", ENGINE_OPEN_FAILED, kOpenFailedOutput, false},
      {"a track played to its end", ENGINE_TRACK_ENDED, kTrackEndedNormally, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearPlaylist();
    fill({"/music/before.mp3", "http://radio.example/missing.mp3"});
    w_.state = PlayerState{};
    w_.session.state = SessionState{};
    startPlaylist(w_);
    onTrackStarted(w_, 100);
    handleCommand(w_, CMD_NEXT);
    window_.calls.clear();
    onEngineNotification(w_, c.message, static_cast<uintptr_t>(w_.session.state.awaitedTicket), c.lParam);
    const bool retitled = std::find(window_.calls.begin(), window_.calls.end(), "newTrack") != window_.calls.end();
    EXPECT_EQ(retitled, c.retitled);
    EXPECT_EQ(w_.session.state.playbackState, Stopped);
  }
}

// Whatever starts a track from a pause leaves the window playing that track;
// nothing that plays nothing leaves it claiming to play.
TEST_F(PlayerCommandsTest, TheStateShownIsTheStatePlayed) {
  struct Case {
    const char* name;
    std::function<void(PlayerWindow&, RecordingWindow&)> act;
    bool trackStarts;  // the engine reports the new track's start
    int32_t state;
  };
  const std::string dir = test::makeTempFolder();
  const std::string x = dir + "/x.mp3";
  test::writeFile(x, "x");
  const Case cases[] = {
      {"Next from a pause", [](PlayerWindow& w, RecordingWindow&) { handleCommand(w, CMD_NEXT); }, true, Playing},
      {"Previous from a pause",
       [](PlayerWindow& w, RecordingWindow&) {
         nextEntry();
         handleCommand(w, CMD_PREVIOUS);
       },
       true, Playing},
      {"a drop from a pause", [&](PlayerWindow& w, RecordingWindow&) { handleDrop(w, {x}); }, true, Playing},
      {"a hand-over from a pause",
       [&](PlayerWindow& w, RecordingWindow&) { handleHandOver(w, HANDOVER_REPLACE_AND_PLAY, 0, x); }, true, Playing},
      {"a drop of names that all fail",
       [](PlayerWindow& w, RecordingWindow&) { handleDrop(w, {"/nonexistent/q.mp3"}); }, false, Stopped},
      {"Open from a pause",
       [](PlayerWindow& w, RecordingWindow& window) {
         window.toOpen = {"z"};
         handleCommand(w, CMD_OPEN_FILE);
       },
       true, Playing},
      {"Play on an empty list, then Cancel",
       [](PlayerWindow& w, RecordingWindow&) {
         w.session.state.playbackState = Stopped;
         clearPlaylist();
         handleCommand(w, CMD_PLAY);
         onEngineNotification(w, ENGINE_OPEN_FAILED, static_cast<uintptr_t>(w.session.state.awaitedTicket),
                              kOpenFailedInput);
       },
       false, Stopped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearPlaylist();
    fill({"a", "b"});
    w_.state = PlayerState{};
    w_.session.state = SessionState{};
    window_.toOpen.clear();
    startPlaylist(w_);
    onTrackStarted(w_, 100);
    handleCommand(w_, CMD_PAUSE);
    ASSERT_EQ(w_.session.state.playbackState, Paused);
    c.act(w_, window_);
    if (c.trackStarts)
      onEngineNotification(w_, ENGINE_TRACK_STARTED, static_cast<uintptr_t>(w_.session.state.awaitedTicket), 777);
    EXPECT_EQ(w_.session.state.playbackState, c.state);
    if (c.trackStarts) {
      EXPECT_EQ(w_.state.totalFrames, 777);
    }
  }
  test::removeTree(dir);
}

// The remote answers what is playing now: the current frame's bit rate, and
// one channel for a mono stream even through a stereo output.
TEST_F(PlayerCommandsTest, TheRemoteAnswersWhatIsPlayingNow) {
  struct Case {
    int32_t bitRate;
    int32_t streamChannels;
    int32_t outputStereo;
    int32_t channelsAnswer;
  };
  const Case cases[] = {{320, 2, 1, 2}, {112, 2, 1, 2}, {96, 1, 1, 1}, {128, 2, 0, 1}, {64, 1, 0, 1}};
  onTrackStarted(w_, 100);
  for (const Case& c : cases) {
    engine_.info.bitRate = static_cast<uint16_t>(c.bitRate);
    engine_.info.channels = c.streamChannels;
    engine_.info.stereo = c.outputStereo;
    int32_t answer = 0;
    ASSERT_TRUE(answerQuery(w_, MW_GET_BIT_RATE, 0, answer));
    EXPECT_EQ(answer, c.bitRate);
    ASSERT_TRUE(answerQuery(w_, MW_GET_CHANNELS, 0, answer));
    EXPECT_EQ(answer, c.channelsAnswer) << c.bitRate;
  }
}

}  // namespace
}  // namespace kuv
