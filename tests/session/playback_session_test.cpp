// The playback session both front ends share: which entry plays after each
// engine notification, and the order in which the parts come and go.
#include "session/playback_session.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "playlist/playlist.h"
#include "session/notification_queue.h"
#include "session/recording_engine.h"

namespace kuv {
namespace {

using Calls = std::vector<std::string>;

class PlaybackSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.ReadFileInfo = 0;
    clearPlaylist();
  }
  void TearDown() override { clearPlaylist(); }
  test::SavedSettings saved_;
};

struct Note {
  uint32_t message;
  intptr_t lParam;
};

SessionMove deliver(PlaybackSession& s, const Note& note) {
  switch (note.message) {
    case ENGINE_TRACK_STARTED:
      trackStarted(s);
      return SessionMove::kNone;
    case ENGINE_TRACK_ENDED:
      return trackEnded(s, note.lParam);
    case ENGINE_OPEN_FAILED:
      return openFailed(s, note.lParam);
    default:
      return SessionMove::kNone;
  }
}

// State (rule, RepeatPlay, entry playing, failures so far, playing or
// paused) x notification -> what the session asks of the engine next.
TEST_F(PlaybackSessionTest, AdvanceRule) {
  constexpr AdvanceRule W = kWindowAdvance, C = kConsoleAdvance;
  constexpr auto kPlay = SessionMove::kPlaying, kEnd = SessionMove::kEnded, kOut = SessionMove::kOutputFailed,
                 kNone = SessionMove::kNone, kRefused = SessionMove::kRefused;
  constexpr Note kEnds{ENGINE_TRACK_ENDED, kTrackEndedNormally}, kNoAudio{ENGINE_TRACK_ENDED, kTrackNoAudio},
      kWriteFails{ENGINE_TRACK_ENDED, kTrackOutputFailed}, kCannotOpen{ENGINE_OPEN_FAILED, kOpenFailedInput},
      kNoOutput{ENGINE_OPEN_FAILED, kOpenFailedOutput}, kStarts{ENGINE_TRACK_STARTED, 100};
  struct Case {
    const char* name;
    AdvanceRule rule;
    int32_t repeat;
    int32_t at;      // entry of a, b, c playing
    int32_t failed;  // failures in a row before
    int32_t state;
    Note note;
    Calls calls;
    SessionMove move;
    int32_t stateAfter;
    int32_t failedAfter;
    bool refuse = false;
  };
  const Case cases[] = {
      {"an end moves to the next", W, 0, 1, 0, Playing, kEnds, {"play c"}, kPlay, Playing, 0},
      {"the last end stops", W, 0, 2, 0, Playing, kEnds, {"close"}, kEnd, Stopped, 0},
      {"RepeatPlay 1 wraps", C, 1, 2, 0, Playing, kEnds, {"play a"}, kPlay, Playing, 0},
      {"RepeatPlay 2 plays it again", W, 2, 1, 0, Playing, kEnds, {"play b"}, kPlay, Playing, 0},
      {"a failed write stops", C, 1, 1, 0, Playing, kWriteFails, {"close"}, kOut, Stopped, 0},
      {"an output that cannot open stops", W, 1, 1, 0, Playing, kNoOutput, {"close"}, kOut, Stopped, 0},
      {"window: no audio is a failure, never replayed", W, 2, 1, 0, Playing, kNoAudio, {"play c"}, kPlay, Playing, 1},
      {"window: a round without audio stops", W, 1, 1, 2, Playing, kNoAudio, {"close"}, kEnd, Stopped, 0},
      {"console: no audio is a failure", C, 2, 1, 0, Playing, kNoAudio, {"play c"}, kPlay, Playing, 1},
      {"an unopenable entry is passed over", C, 0, 0, 0, Playing, kCannotOpen, {"play b"}, kPlay, Playing, 1},
      {"window: RepeatPlay 2 wraps a failure", W, 2, 2, 0, Playing, kCannotOpen, {"play a"}, kPlay, Playing, 1},
      {"console: RepeatPlay 2 does not", C, 2, 2, 0, Playing, kCannotOpen, {"close"}, kEnd, Stopped, 0},
      {"a failed round stops", W, 1, 1, 2, Playing, kCannotOpen, {"close"}, kEnd, Stopped, 0},
      {"console: an end clears the failures", C, 0, 0, 2, Playing, kEnds, {"play b"}, kPlay, Playing, 0},
      {"window: an end keeps them", W, 0, 0, 2, Playing, kEnds, {"play b"}, kPlay, Playing, 2},
      {"window: a start clears them", W, 0, 0, 2, Stopped, kStarts, {}, kNone, Playing, 0},
      {"console: a start keeps them", C, 0, 0, 2, Stopped, kStarts, {}, kNone, Playing, 2},
      {"a start during a pause is not taken", W, 0, 0, 2, Paused, kStarts, {}, kNone, Paused, 2},
      {"an engine that takes no command", C, 0, 0, 0, Playing, kEnds, {"play b"}, kRefused, Playing, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearPlaylist();
    for (const char* name : {"a", "b", "c"}) addEntry(name);
    selectEntry(c.at);
    settings.RepeatPlay = c.repeat;
    test::RecordingEngine engine;
    engine.refusePlay = c.refuse;
    PlaybackSession s{engine, c.rule};
    s.state.playbackState = c.state;
    s.state.failedOpens = c.failed;
    EXPECT_EQ(deliver(s, c.note), c.move);
    EXPECT_EQ(engine.calls, c.calls);
    EXPECT_EQ(s.state.playbackState, c.stateAfter);
    EXPECT_EQ(s.state.failedOpens, c.failedAfter);
    if (c.move == kPlay) {
      EXPECT_EQ(s.state.awaitedTicket, 1);
      EXPECT_EQ("play " + s.state.path, c.calls.back());
    } else if (c.move != kNone) {
      EXPECT_EQ(s.state.awaitedTicket, 0);  // no report of the track left is awaited
    }
  }
}

// The engine goes before the visualisation queue it feeds; the output
// closes before the engine thread, once, and plays out only when asked to.
TEST_F(PlaybackSessionTest, TeardownOrder) {
  struct Case {
    const char* name;
    bool startRefused;
    bool listEnded;     // the session stopped playback itself first
    int32_t openPolls;  // the output still plays for this many polls
    SessionEnd how;
    Calls calls;  // after "startVis", "startEngine"
  };
  constexpr SessionEnd kNow = SessionEnd::kStopNow, kOut = SessionEnd::kPlayOut, kNone = SessionEnd::kNothingPlayed;
  const Case cases[] = {
      {"at once", false, false, 0, kNow, {"play a", "stop", "close", "shutdown", "stopVis"}},
      {"played out", false, false, 2, kOut, {"play a", "close", "isOpen", "isOpen", "isOpen", "shutdown", "stopVis"}},
      {"played out after the list ended", false, true, 0, kOut, {"play a", "close", "isOpen", "shutdown", "stopVis"}},
      {"nothing played", false, false, 0, kNone, {"shutdown", "stopVis"}},
      {"an engine that never started", true, false, 0, kNow, {"stopVis"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearPlaylist();
    addEntry("a");
    selectEntry(0);
    settings.RepeatPlay = 0;
    test::RecordingEngine engine;
    engine.refuseStart = c.startRefused;
    engine.openPolls = c.openPolls;
    PlaybackSession s{engine, kConsoleAdvance};
    ASSERT_TRUE(openVisQueue(s));
    EXPECT_EQ(openEngine(s, NotificationSink{}), !c.startRefused);
    if (c.how != SessionEnd::kNothingPlayed && !c.startRefused) playCurrent(s);
    if (c.listEnded) trackEnded(s, kTrackEndedNormally);
    closeSession(s, c.how);
    closeSession(s, c.how);  // a second end finds nothing left to end
    Calls expected{"startVis", "startEngine"};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(engine.calls, expected);
  }
}

// A sent notification holds the engine until the loop has handled it; a
// release lets a waiting sender go and later sends return at once.
TEST_F(PlaybackSessionTest, SentNotificationsWaitUntilHandled) {
  for (bool release : {false, true}) {
    SCOPED_TRACE(release ? "released" : "handled");
    NotificationQueue q;
    q.queue.open();
    const NotificationSink sink = queueSink(q);
    sink.post(sink.context, ENGINE_PROGRESS, 7, 2);  // posted: no wait
    std::atomic<bool> returned{false};
    std::thread engine([&] {
      sink.send(sink.context, ENGINE_TRACK_ENDED, 7, kTrackEndedNormally);
      returned.store(true);
    });
    platform::ThreadMessage m;
    ASSERT_TRUE(q.queue.get(&m));
    EXPECT_EQ(m.message, ENGINE_PROGRESS);
    messageHandled(q, m);  // a posted one lets no sender go
    ASSERT_TRUE(q.queue.get(&m));
    EXPECT_EQ(m.message, ENGINE_TRACK_ENDED);
    EXPECT_FALSE(returned.load());
    if (release)
      sink.release(sink.context);
    else
      messageHandled(q, m);
    engine.join();
    EXPECT_TRUE(returned.load());
    if (release) {
      sink.send(sink.context, ENGINE_TRACK_STARTED, 8, 100);
      EXPECT_FALSE(q.queue.peek(&m));
    }
  }
}

}  // namespace
}  // namespace kuv
