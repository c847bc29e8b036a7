#include "ui/player_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "config/settings.h"
#include "engine/stream_tags.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "ui/dial.h"

namespace kuv {

namespace {

void refresh(PlayerWindow& w) {
  w.state.refreshAllowed = true;
  w.window.refreshEditor();
}

// Reports of counters that show the same dial and percentage would change
// nothing on screen: the engine need not wake the window for them.
void quietenProgress(PlayerWindow& w, uintptr_t ticket) {
  if (ticket == 0) return;
  const ProgressSpan span = sameProgressView(w.state.framesPlayed, w.state.totalFrames);
  w.session.engine.setProgressQuiet(static_cast<uint32_t>(ticket), span.from, span.to);
}

// Another name replaces what plays: a pause is released, the track stopped.
void leaveTrack(PlayerWindow& w) {
  releasePause(w.session);
  stopTrack(w.session);
}

}  // namespace

int32_t heardChannels(const PlaybackInfo& info) {
  const int32_t output = info.stereo ? 2 : 1;
  return info.channels > 0 && info.channels < output ? info.channels : output;
}

void handleCommand(PlayerWindow& w, int32_t command) {
  PlayerState& s = w.state;
  switch (command) {
    case CMD_OPEN_FILE: {
      if (w.window.openFiles(true, 0) <= 0) return;
      if (settings.ShufflePlay) {
        shuffleEntries();
        selectEntry(0);
      }
      if (!selectEntry(0)) return;
      refresh(w);
      std::string path;
      if (currentPath(path)) {
        leaveTrack(w);
        playPath(w.session, path);
      }
      return;
    }
    case CMD_OPEN_LOCATION: {
      std::string text;
      if (!w.window.askLocation(text)) return;
      if (text.size() > 259) text.resize(259);
      if (text.size() < 4) return;
      leaveTrack(w);
      clearPlaylist();
      addEntry(text);
      refresh(w);
      playCurrent(w.session);
      return;
    }
    case CMD_PLAYLIST_EDITOR:
      w.window.togglePlaylistEditor();
      return;
    case CMD_PREFERENCES:
      w.window.openPreferences();
      return;
    case CMD_PLAY:
      pressPlay(w.session);
      return;
    case CMD_PAUSE:
      pressPause(w.session);
      return;
    case CMD_STOP:
      pressStop(w.session);
      return;
    case CMD_NEXT:
    case CMD_PREVIOUS:
      if (!(command == CMD_NEXT ? nextEntry() : previousEntry())) return;
      leaveTrack(w);
      playCurrent(w.session);
      return;
    case CMD_PLAY_CURRENT:
      leaveTrack(w);
      playCurrent(w.session);
      return;
    case CMD_SHUFFLE:
      settings.ShufflePlay = settings.ShufflePlay ? 0 : 1;
      return;
    case CMD_REPEAT:
      settings.RepeatPlay = settings.RepeatPlay + 1 > 2 ? 0 : settings.RepeatPlay + 1;
      return;
    case CMD_ALWAYS_ON_TOP:
      settings.AlwaysOnTop = settings.AlwaysOnTop ? 0 : 1;
      w.window.applyAlwaysOnTop(settings.AlwaysOnTop != 0);
      return;
    case CMD_WINSHADE:
      settings.WinShade = settings.WinShade ? 0 : 1;
      w.window.applyShape(settings.WinShade != 0);
      return;
    case CMD_VIS_PLUGIN:
      w.window.startVisPlugin(s.info.stereo ? 2 : 1, s.info.sampleRate);
      return;
    case CMD_ABOUT:
      w.window.showAbout();
      return;
    case CMD_CLOSE:
      w.window.closeWindow();
      return;
    default:  // CMD_TAG_EDITOR and anything unknown
      return;
  }
}

void onTrackStarted(PlayerWindow& w, intptr_t totalFrames, uintptr_t ticket) {
  PlayerState& s = w.state;
  if (!trackStarted(w.session)) return;
  s.totalFrames = static_cast<int32_t>(totalFrames);
  s.framesPlayed = 0;
  // The report of 0 came before the length: what is quiet changes with it.
  quietenProgress(w, ticket);
  w.window.signalNewTrack();
  s.info = w.session.engine.playbackInfo();
  std::string path;
  if (currentPath(path)) w.window.publishCurrentFile(path);
}

int32_t progressPercent(int32_t frame, int32_t totalFrames) {
  return totalFrames < 1 ? 0 : static_cast<int32_t>(static_cast<double>(frame) / totalFrames * 100.0);
}

ProgressSpan sameProgressView(int32_t frame, int32_t totalFrames) {
  // Both the dial's lit count and the percentage grow with the counter, so
  // the counters that show the same are one run around `frame`.
  frame = std::max(frame, 0);
  const int32_t lit = dialPositionLitCount(frame, totalFrames), percent = progressPercent(frame, totalFrames);
  auto differs = [&](int64_t f) {
    const auto g = static_cast<int32_t>(f);
    return dialPositionLitCount(g, totalFrames) != lit || progressPercent(g, totalFrames) != percent;
  };
  // The first counter in [lo, hi) where `wanted` holds (hi if none); it holds
  // from there on.
  auto firstWhere = [](int64_t lo, int64_t hi, auto wanted) {
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo) / 2;
      if (wanted(mid))
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  };
  const int64_t from = firstWhere(0, frame, [&](int64_t f) { return !differs(f); });
  const int64_t to = firstWhere(int64_t{frame} + 1, int64_t{INT32_MAX} + 1, differs);
  return {static_cast<uint32_t>(from), to > INT32_MAX ? UINT32_MAX : static_cast<uint32_t>(to)};
}

void onProgress(PlayerWindow& w, intptr_t frame, uintptr_t ticket) {
  PlayerState& s = w.state;
  s.framesPlayed = static_cast<int32_t>(frame);
  w.window.dialProgress(s.framesPlayed, s.totalFrames);
  const int32_t percent = progressPercent(s.framesPlayed, s.totalFrames);
  if (percent != s.lastPercent) {
    s.lastPercent = percent;
    w.window.trayPercent(percent);
  }
  quietenProgress(w, ticket);
}

void onEngineNotification(PlayerWindow& w, uint32_t message, uintptr_t ticket, intptr_t lParam) {
  if (!isAwaited(w.session.state, ticket)) return;
  switch (message) {
    case ENGINE_TRACK_STARTED:
      onTrackStarted(w, lParam, ticket);
      break;
    case ENGINE_PROGRESS:
      onProgress(w, lParam, ticket);
      break;
    case ENGINE_TRACK_ENDED:
      onTrackEnded(w, lParam);
      break;
    case ENGINE_OPEN_FAILED:
      onOpenFailed(w, lParam);
      break;
    case ENGINE_STREAM_TAGS:
      onStreamTags(w);
      break;
    case ENGINE_TRACK_LENGTH:
      onTrackLength(w, lParam, ticket);
      break;
    default:
      break;
  }
}

int32_t onTrackEnded(PlayerWindow& w, intptr_t lParam) {
  // No start was reported for it: the display still names the track before.
  if (lParam == kTrackNoAudio) w.window.signalNewTrack();
  trackEnded(w.session, lParam);
  return lParam != kTrackOutputFailed && settings.RepeatPlay == 2 ? 0 : 1;
}

void onStreamTags(PlayerWindow& w) {
  const StreamTags tags = currentStreamTags();
  if (setCurrentStreamTags(tags.title, tags.station)) w.window.currentEntryChanged();
}

void onTrackLength(PlayerWindow& w, intptr_t totalFrames, uintptr_t ticket) {
  if (totalFrames <= 0 || totalFrames > INT32_MAX) return;
  w.state.totalFrames = static_cast<int32_t>(totalFrames);
  const double ms = static_cast<double>(totalFrames) * secondsPerFrame(w.state.info, settings.DownSample) * 1000.0;
  if (ms > 0 && ms < INT32_MAX && setCurrentEntryLength(static_cast<int32_t>(ms))) w.window.currentEntryChanged();
  // The last report may be a step old by now.
  w.state.framesPlayed = w.session.engine.framesDecoded();
  w.window.dialProgress(w.state.framesPlayed, w.state.totalFrames);
  quietenProgress(w, ticket);
}

void onOpenFailed(PlayerWindow& w, intptr_t lParam) {
  if (lParam != kOpenFailedOutput) {
    if (entryCount() == 0) {
      handleCommand(w, CMD_OPEN_FILE);
      // Nothing chosen: nothing plays, and the window says so.
      if (entryCount() == 0) stopPlayback(w.session);
      return;
    }
    // Nothing of it started, so the display would go on naming the track
    // before; it names the entry tried instead.
    w.window.signalNewTrack();
  }
  openFailed(w.session, lParam);
}

void handleDrop(PlayerWindow& w, const std::vector<std::string>& names) {
  const bool replace = settings.AddOnDragAndDrop == 0;
  if (replace) {
    leaveTrack(w);
    clearPlaylist();
  }
  w.state.refreshAllowed = false;
  for (const std::string& name : names) addByName(kAddNormal, name);
  // A replacing drop of names that all failed leaves nothing to play.
  if (replace && entryCount() == 0) stopPlayback(w.session);
  if (replace && selectEntry(0)) {
    if (settings.ShufflePlay) {
      shuffleEntries();
      selectEntry(0);
    }
    playCurrent(w.session);
  }
  refresh(w);
}

int32_t handleHandOver(PlayerWindow& w, int32_t code, int32_t value, const std::string& text) {
  w.state.refreshAllowed = true;
  switch (code) {
    case HANDOVER_CLEAR:
      leaveTrack(w);
      clearPlaylist();
      w.window.refreshEditor();
      break;
    case HANDOVER_ADD:
      addByName(kAddNormal, text);
      w.window.refreshEditor();
      break;
    case HANDOVER_REPLACE_AND_PLAY:
      leaveTrack(w);
      clearPlaylist();
      addByName(kAddNormal, text);
      playCurrent(w.session);
      w.window.refreshEditor();
      break;
    case HANDOVER_SELECT:
      if (value == -1)
        selectEntry(-1, text);
      else
        selectEntry(value);
      handleCommand(w, CMD_PLAY_CURRENT);
      break;
    case HANDOVER_START:
      selectEntry(0);
      handleCommand(w, CMD_PLAY_CURRENT);
      w.window.bringForward();
      break;
    case HANDOVER_RAISE:
      w.window.bringForward();
      break;
    default:
      break;
  }
  return 1;
}

bool answerQuery(PlayerWindow& w, uint32_t message, int32_t lParam, int32_t& result) {
  const PlayerState& s = w.state;
  EngineControl& engine = w.session.engine;
  result = 0;
  switch (message) {
    case MW_GET_OUTPUT_POSITION:
      result = engine.outputPosition();
      return true;
    case MW_GET_FRAMES_PLAYED:
      // Reports come only when the dial or percentage would move; the engine
      // knows the counter of now.
      result = w.session.state.playbackState == Stopped ? s.framesPlayed : w.session.engine.framesDecoded();
      return true;
    case MW_GET_TOTAL_FRAMES:
      result = s.totalFrames;
      return true;
    case MW_GET_VOLUME:
      result = sharedSetting(settings.EqVolume);
      return true;
    case MW_SET_VOLUME:
      // Another program's number: the output's gain only means 0..63.
      setSharedSetting(settings.EqVolume, lParam < 0 ? 0 : lParam > 63 ? 63 : lParam);
      return true;
    case MW_SEEK_FRAME:
      engine.seekFrame(lParam);
      w.window.seeked(static_cast<int64_t>(lParam * secondsPerFrame(s.info, settings.DownSample) * 1000.0));
      return true;
    case MW_GET_STATE:
      result = w.session.state.playbackState;
      return true;
    // What is playing now (a VBR file's rate changes frame by frame), not
    // the copy taken when the track started.
    case MW_GET_SAMPLE_RATE:
      result = engine.playbackInfo().sampleRate;
      return true;
    case MW_GET_LAYER:
      result = engine.playbackInfo().layer;
      return true;
    case MW_GET_BIT_RATE:
      result = engine.playbackInfo().bitRate;
      return true;
    case MW_GET_CHANNELS:
      result = heardChannels(engine.playbackInfo());
      return true;
    case MW_SEEK_MS:
      engine.seekMilliseconds(lParam);
      w.window.seeked(lParam);
      return true;
    default:
      return false;
  }
}

void startPlaylist(PlayerWindow& w) {
  if (!selectEntry(0)) return;
  if (settings.ShufflePlay) shuffleEntries();
  std::string path;
  if (!currentPath(path)) return;
  // The engine thread has just started; give it a moment as the first
  // command arrives.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  playPath(w.session, path);
}

}  // namespace kuv
