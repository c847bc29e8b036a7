#include "ui/player_commands.h"

#include <chrono>
#include <thread>

#include "app/instance_channel.h"
#include "config/settings.h"
#include "output/output_system.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"

namespace kuv {

namespace {

struct RealEngine final : EngineControl {
  int32_t play(const std::string& path) override { return kuv::play(path); }
  int32_t playLast() override { return kuv::play(); }
  void stop() override { kuv::stop(); }
  void closeOutput() override { kuv::closeOutput(); }
  void seekFrame(int32_t frame) override { kuv::seekFrame(static_cast<uint32_t>(frame)); }
  void seekMilliseconds(int32_t ms) override { kuv::seekMilliseconds(static_cast<uint32_t>(ms)); }
  void pauseOutput() override { outputPause(); }
  void resumeOutput() override { outputResume(); }
  void flushOutput() override { outputFlush(); }
  int32_t outputPosition() override { return kuv::outputPosition(); }
  PlaybackInfo playbackInfo() override { return getPlaybackInfo(); }
};

// A paused output holds the decoder thread inside write; it must run again
// before a track is stopped or another started.
// The paused track is over once released: the window is Stopped until the
// next track reports its start, so that start is taken (title, length,
// rates) and Pause works on it.
void releasePause(PlayerWindow& w) {
  if (w.state.playbackState != Paused) return;
  w.engine.resumeOutput();
  w.engine.flushOutput();
  w.state.playbackState = Stopped;
}

// Every play and stop goes through these two, so the window always knows
// which track's reports it waits for.
void playPath(PlayerWindow& w, const std::string& path) { w.state.awaitedTicket = w.engine.play(path); }

void stopEngine(PlayerWindow& w) {
  w.engine.stop();
  w.state.awaitedTicket = 0;
}

void playCurrent(PlayerWindow& w) {
  std::string path;
  if (currentPath(path)) playPath(w, path);
}

void refresh(PlayerWindow& w) {
  w.state.refreshAllowed = true;
  w.window.refreshEditor();
}

void stopPlayback(PlayerWindow& w) {
  w.engine.closeOutput();
  w.state.playbackState = Stopped;
  w.state.awaitedTicket = 0;
}

}  // namespace

int32_t heardChannels(const PlaybackInfo& info) {
  const int32_t output = info.stereo ? 2 : 1;
  return info.channels > 0 && info.channels < output ? info.channels : output;
}

EngineControl& realEngine() {
  static RealEngine engine;
  return engine;
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
        releasePause(w);
        stopEngine(w);
        playPath(w, path);
      }
      return;
    }
    case CMD_OPEN_LOCATION: {
      std::string text;
      if (!w.window.askLocation(text)) return;
      if (text.size() > 259) text.resize(259);
      if (text.size() < 4) return;
      releasePause(w);
      stopEngine(w);
      clearPlaylist();
      addEntry(text);
      refresh(w);
      playCurrent(w);
      return;
    }
    case CMD_PLAYLIST_EDITOR:
      w.window.togglePlaylistEditor();
      return;
    case CMD_PREFERENCES:
      w.window.openPreferences();
      return;
    case CMD_PLAY:
      if (s.playbackState == Stopped) {
        s.awaitedTicket = w.engine.playLast();
      } else if (s.playbackState == Paused) {
        w.engine.resumeOutput();
      } else {
        stopEngine(w);
        s.awaitedTicket = w.engine.playLast();
      }
      s.playbackState = Playing;
      return;
    case CMD_PAUSE:
      if (s.playbackState != Playing) return;
      w.engine.pauseOutput();
      s.playbackState = Paused;
      return;
    case CMD_STOP:
      releasePause(w);
      stopEngine(w);
      w.engine.closeOutput();
      s.playbackState = Stopped;
      return;
    case CMD_NEXT:
    case CMD_PREVIOUS:
      if (!(command == CMD_NEXT ? nextEntry() : previousEntry())) return;
      releasePause(w);
      stopEngine(w);
      playCurrent(w);
      return;
    case CMD_PLAY_CURRENT:
      releasePause(w);
      stopEngine(w);
      playCurrent(w);
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

void onTrackStarted(PlayerWindow& w, intptr_t totalFrames) {
  PlayerState& s = w.state;
  if (s.playbackState == Paused) return;
  s.totalFrames = static_cast<int32_t>(totalFrames);
  s.playbackState = Playing;
  s.framesPlayed = 0;
  s.failedOpens = 0;
  w.window.signalNewTrack();
  s.info = w.engine.playbackInfo();
  std::string path;
  if (currentPath(path)) w.window.publishCurrentFile(path);
}

void onProgress(PlayerWindow& w, intptr_t frame) {
  PlayerState& s = w.state;
  s.framesPlayed = static_cast<int32_t>(frame);
  w.window.dialProgress(s.framesPlayed, s.totalFrames);
  const int32_t percent =
      s.totalFrames < 1 ? 0 : static_cast<int32_t>(static_cast<double>(frame) / s.totalFrames * 100.0);
  if (percent != s.lastPercent) {
    s.lastPercent = percent;
    w.window.trayPercent(percent);
  }
}

void onEngineNotification(PlayerWindow& w, uint32_t message, uintptr_t ticket, intptr_t lParam) {
  if (ticket == 0 || static_cast<int64_t>(ticket) != w.state.awaitedTicket) return;
  switch (message) {
    case ENGINE_TRACK_STARTED:
      onTrackStarted(w, lParam);
      break;
    case ENGINE_PROGRESS:
      onProgress(w, lParam);
      break;
    case ENGINE_TRACK_ENDED:
      onTrackEnded(w, lParam);
      break;
    case ENGINE_OPEN_FAILED:
      onOpenFailed(w, lParam);
      break;
    default:
      break;
  }
}

int32_t onTrackEnded(PlayerWindow& w, intptr_t lParam) {
  // An output that refused data has been closed: the next track would fail
  // the same way, so playback stops until the user plays again.
  if (lParam == kTrackOutputFailed) {
    stopPlayback(w);
    return 1;
  }
  // No start was reported for it: the display still names the track before.
  if (lParam == kTrackNoAudio) w.window.signalNewTrack();
  if (settings.RepeatPlay == 2) {
    std::string path;
    if (currentPath(path)) {
      playPath(w, path);
    } else {
      stopPlayback(w);
    }
    return 0;
  }
  if (nextEntry() || (settings.RepeatPlay == 1 && selectEntry(0))) {
    playCurrent(w);
    return 1;
  }
  stopPlayback(w);
  return 1;
}

void onOpenFailed(PlayerWindow& w, intptr_t lParam) {
  // The output could not open (it has said why): stop, not try every entry.
  if (lParam == kOpenFailedOutput) {
    stopPlayback(w);
    return;
  }
  if (lParam != kOpenFailedInput) return;
  if (entryCount() == 0) {
    handleCommand(w, CMD_OPEN_FILE);
    // Nothing chosen: nothing plays, and the window says so.
    if (entryCount() == 0) stopPlayback(w);
    return;
  }
  // Nothing of it started, so the display would go on naming the track
  // before; it names the entry tried instead.
  w.window.signalNewTrack();
  // An entry that cannot be opened is passed over as if it had ended; once
  // a whole round of the list has failed, playback stops.
  if (++w.state.failedOpens >= entryCount()) {
    w.state.failedOpens = 0;
    stopPlayback(w);
    return;
  }
  if (nextEntry() || (settings.RepeatPlay >= 1 && selectEntry(0))) {
    playCurrent(w);
    return;
  }
  w.state.failedOpens = 0;
  stopPlayback(w);
}

void handleDrop(PlayerWindow& w, const std::vector<std::string>& names) {
  const bool replace = settings.AddOnDragAndDrop == 0;
  if (replace) {
    releasePause(w);
    stopEngine(w);
    clearPlaylist();
  }
  w.state.refreshAllowed = false;
  for (const std::string& name : names) addByName(kAddNormal, name);
  // A replacing drop of names that all failed leaves nothing to play.
  if (replace && entryCount() == 0) stopPlayback(w);
  if (replace && selectEntry(0)) {
    if (settings.ShufflePlay) {
      shuffleEntries();
      selectEntry(0);
    }
    playCurrent(w);
  }
  refresh(w);
}

int32_t handleHandOver(PlayerWindow& w, int32_t code, int32_t value, const std::string& text) {
  w.state.refreshAllowed = true;
  switch (code) {
    case HANDOVER_CLEAR:
      releasePause(w);
      stopEngine(w);
      clearPlaylist();
      w.window.refreshEditor();
      break;
    case HANDOVER_ADD:
      addByName(kAddNormal, text);
      w.window.refreshEditor();
      break;
    case HANDOVER_REPLACE_AND_PLAY:
      releasePause(w);
      stopEngine(w);
      clearPlaylist();
      addByName(kAddNormal, text);
      playCurrent(w);
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
  result = 0;
  switch (message) {
    case MW_GET_OUTPUT_POSITION:
      result = w.engine.outputPosition();
      return true;
    case MW_GET_FRAMES_PLAYED:
      result = s.framesPlayed;
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
      w.engine.seekFrame(lParam);
      return true;
    case MW_GET_STATE:
      result = s.playbackState;
      return true;
    // What is playing now (a VBR file's rate changes frame by frame), not
    // the copy taken when the track started.
    case MW_GET_SAMPLE_RATE:
      result = w.engine.playbackInfo().sampleRate;
      return true;
    case MW_GET_LAYER:
      result = w.engine.playbackInfo().layer;
      return true;
    case MW_GET_BIT_RATE:
      result = w.engine.playbackInfo().bitRate;
      return true;
    case MW_GET_CHANNELS:
      result = heardChannels(w.engine.playbackInfo());
      return true;
    case MW_SEEK_MS:
      w.engine.seekMilliseconds(lParam);
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
  playPath(w, path);
}

}  // namespace kuv
