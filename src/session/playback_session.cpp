#include "session/playback_session.h"

#include <chrono>
#include <thread>

#include "config/settings.h"
#include "decoder/frame_timing.h"
#include "engine/url_reader.h"
#include "engine/vis_queue.h"
#include "output/output_system.h"
#include "platform/message_box.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"

namespace kuv {

namespace {

struct RealEngine final : EngineControl {
  bool startVisQueue() override { return kuv::startVisQueue(); }
  void stopVisQueue() override { kuv::stopVisQueue(); }
  bool startEngine(const NotificationSink& sink) override { return kuv::startEngine(sink) >= 0; }
  void shutdownEngine() override { kuv::shutdownEngine(); }
  int32_t play(const std::string& path) override { return kuv::play(path); }
  int32_t playQuietly(const std::string& path) override { return kuv::playQuietly(path); }
  int32_t playLast() override { return kuv::play(); }
  void stop() override { kuv::stop(); }
  void closeOutput() override { kuv::closeOutput(); }
  bool outputIsOpen() override { return kuv::outputIsOpen() != 0; }
  void seekFrame(int32_t frame) override { kuv::seekFrame(static_cast<uint32_t>(frame)); }
  void seekMilliseconds(int32_t ms) override { kuv::seekMilliseconds(static_cast<uint32_t>(ms)); }
  void pauseOutput() override { outputPause(); }
  void resumeOutput() override { outputResume(); }
  void flushOutput() override { outputFlush(); }
  int32_t outputPosition() override { return kuv::outputPosition(); }
  PlaybackInfo playbackInfo() override { return getPlaybackInfo(); }
  int32_t framesDecoded() override { return static_cast<int32_t>(kuv::framesDecoded()); }
  void setProgressQuiet(uint32_t ticket, uint32_t from, uint32_t to) override {
    kuv::setProgressQuiet(ticket, from, to);
  }
};

// A station playlist that only names playlists, deeper than any real one.
void showPlaylistError(const std::string& url) {
  const std::string format = kLoadPlaylistErrorText;
  const size_t at = format.find("%s");
  platform::messageBox(format.substr(0, at) + url + format.substr(at + 2), kPlaylistErrorTitle,
                       platform::MB_OK | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND);
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The entry the playlist has just moved to.
SessionMove playMovedTo(PlaybackSession& s) {
  std::string path;
  if (!currentPath(path)) {
    stopPlayback(s);
    return SessionMove::kEnded;
  }
  return playPath(s, path) ? SessionMove::kPlaying : SessionMove::kRefused;
}

// An entry that failed is passed over as if it had ended, but never played
// again at once, and not once a whole round of the list has failed.
SessionMove passOver(PlaybackSession& s) {
  if (++s.state.failedOpens >= entryCount()) {
    s.state.failedOpens = 0;
    stopPlayback(s);
    return SessionMove::kEnded;
  }
  const int32_t repeat = settings.RepeatPlay;
  const bool wrap = repeat == 1 || (s.rule.repeatTrackWrapsFailures && repeat >= 1);
  if (nextEntry() || (wrap && selectEntry(0))) return playMovedTo(s);
  s.state.failedOpens = 0;
  stopPlayback(s);
  return SessionMove::kEnded;
}

}  // namespace

EngineControl& realEngine() {
  static RealEngine engine;
  return engine;
}

bool openVisQueue(PlaybackSession& s) {
  if (!s.visQueueStarted) s.visQueueStarted = s.engine.startVisQueue();
  return s.visQueueStarted;
}

bool openEngine(PlaybackSession& s, const NotificationSink& sink) {
  if (!s.engineStarted) s.engineStarted = s.engine.startEngine(sink);
  return s.engineStarted;
}

void closeEngine(PlaybackSession& s, SessionEnd how) {
  if (!s.engineStarted) return;
  s.engineStarted = false;
  if (how == SessionEnd::kStopNow) {
    s.engine.stop();
    s.engine.closeOutput();
  } else if (how == SessionEnd::kPlayOut) {
    if (!s.state.outputClosed) s.engine.closeOutput();
    // The output plays out what it holds; only then may the engine go.
    while (s.engine.outputIsOpen()) sleepMs(10);
  }
  // The decoder thread takes the commands before it is told to quit.
  if (how != SessionEnd::kNothingPlayed) sleepMs(40);
  s.engine.shutdownEngine();
}

void closeSession(PlaybackSession& s, SessionEnd how) {
  closeEngine(s, how);
  if (!s.visQueueStarted) return;
  s.visQueueStarted = false;
  s.engine.stopVisQueue();
}

bool playPath(PlaybackSession& s, const std::string& path) {
  const bool quiet = s.state.quietEntries > 0;
  if (quiet) --s.state.quietEntries;
  s.state.awaitedTicket = quiet ? s.engine.playQuietly(path) : s.engine.play(path);
  s.state.path = path;
  s.state.outputClosed = false;
  return s.state.awaitedTicket > 0;
}

bool playCurrent(PlaybackSession& s) {
  // The user's own choice starts a new count, and is told why it fails.
  s.state.playlistExpansions = 0;
  s.state.quietEntries = 0;
  std::string path;
  return currentPath(path) && playPath(s, path);
}

void stopTrack(PlaybackSession& s) {
  s.engine.stop();
  s.state.awaitedTicket = 0;
}

void stopPlayback(PlaybackSession& s) {
  s.engine.closeOutput();
  s.state.outputClosed = true;
  s.state.playbackState = Stopped;
  s.state.awaitedTicket = 0;
}

// The paused track is over once released: the session is Stopped until the
// next track reports its start, so that start is taken (title, length,
// rates) and Pause works on it.
void releasePause(PlaybackSession& s) {
  if (s.state.playbackState != Paused) return;
  s.engine.resumeOutput();
  s.engine.flushOutput();
  s.state.playbackState = Stopped;
}

void pressPlay(PlaybackSession& s) {
  SessionState& st = s.state;
  if (st.playbackState == Paused) {
    s.engine.resumeOutput();
  } else {
    if (st.playbackState != Stopped) s.engine.stop();
    st.playlistExpansions = 0;
    st.quietEntries = 0;
    st.awaitedTicket = s.engine.playLast();
    st.outputClosed = false;
  }
  st.playbackState = Playing;
}

void pressPause(PlaybackSession& s) {
  if (s.state.playbackState != Playing) return;
  s.engine.pauseOutput();
  s.state.playbackState = Paused;
}

void pressStop(PlaybackSession& s) {
  releasePause(s);
  stopTrack(s);
  stopPlayback(s);
}

bool isAwaited(const SessionState& state, uintptr_t ticket) {
  return ticket != 0 && static_cast<int64_t>(ticket) == state.awaitedTicket;
}

bool trackStarted(PlaybackSession& s) {
  if (s.state.playbackState == Paused) return false;
  s.state.playbackState = Playing;
  s.state.playlistExpansions = 0;
  s.state.quietEntries = 0;
  if (s.rule.startClearsFailures) s.state.failedOpens = 0;
  return true;
}

SessionMove trackEnded(PlaybackSession& s, intptr_t how) {
  // An output that refused data has been closed: the next track would fail
  // the same way, so playback stops until the user plays again.
  if (how == kTrackOutputFailed) {
    stopPlayback(s);
    return SessionMove::kOutputFailed;
  }
  if (how == kTrackNoAudio && s.rule.noAudioFails) return passOver(s);
  if (!s.rule.startClearsFailures) s.state.failedOpens = 0;
  if (settings.RepeatPlay == 2) return playMovedTo(s);
  if (nextEntry() || (settings.RepeatPlay == 1 && selectEntry(0))) return playMovedTo(s);
  stopPlayback(s);
  return SessionMove::kEnded;
}

SessionMove openFailed(PlaybackSession& s, intptr_t what) {
  // The output could not open (it has said why): stop, not try every entry.
  if (what == kOpenFailedOutput) {
    stopPlayback(s);
    return SessionMove::kOutputFailed;
  }
  s.state.expandedPlaylist = false;
  if (what == kOpenFailedPlaylist) {
    std::string url, text;
    // Taken in every case, so a stale one is never expanded later.
    const bool fetched = takeFetchedPlaylist(url, text);
    // Not reset here: a playlist naming itself twice would otherwise grow
    // the list faster than its failures count.
    if (fetched && ++s.state.playlistExpansions > kMaxPlaylistDepth) {
      if (s.state.playlistExpansions == kMaxPlaylistDepth + 1) showPlaylistError(url);
    } else if (const int32_t added = fetched ? expandFetchedPlaylist(url, text) : 0; added > 0) {
      s.state.expandedPlaylist = true;
      // All but the last alternative fail quietly.
      s.state.quietEntries = added - 1;
      return playMovedTo(s);
    }
  }
  return passOver(s);
}

double secondsPerFrame(const PlaybackInfo& info, int32_t downSample) {
  const double rate = static_cast<double>(info.sampleRate) * (1 << downSample);
  if (rate <= 0) return 0;
  // The stream's rate tells the half-rate extension (no lsf bit here).
  return samplesPerFrameFor(info.layer, rate < 32000 ? 1 : 0) / rate;
}

}  // namespace kuv
