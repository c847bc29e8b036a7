// What the main window does with commands, drops, hand-overs, engine
// notifications and queries, without a window: the Qt window forwards its
// events here and carries out the window-side effects it is asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/instance_channel.h"
#include "engine/decoder_thread.h"

namespace kuv {

enum PlaybackStateValue : int32_t { Playing = 0, Paused = 1, Stopped = 2 };

enum Command : int32_t {
  CMD_OPEN_FILE = 40001,
  CMD_CLOSE = 40003,
  CMD_OPEN_LOCATION = 40004,
  CMD_PLAYLIST_EDITOR = 40006,
  CMD_TAG_EDITOR = 40008,
  CMD_PREFERENCES = 40009,
  CMD_PLAY = 40010,
  CMD_STOP = 40011,
  CMD_PAUSE = 40012,
  CMD_NEXT = 40013,
  CMD_PREVIOUS = 40014,
  CMD_SHUFFLE = 40015,
  CMD_REPEAT = 40016,
  CMD_ABOUT = 40018,
  CMD_ALWAYS_ON_TOP = 40042,
  CMD_VIS_PLUGIN = 40045,
  CMD_WINSHADE = 40046,
  CMD_PLAY_CURRENT = 40102,
};

// Query messages (MW_*) and hand-over codes (HANDOVER_*) come from the
// instance channel.

// The engine and the output as the window drives them; tests record.
struct EngineControl {
  virtual ~EngineControl() = default;
  // The play commands return the command's ticket (0: not posted).
  virtual int32_t play(const std::string& path) = 0;
  virtual int32_t playLast() = 0;  // ENGINE_PLAY: the name played last
  virtual void stop() = 0;
  virtual void closeOutput() = 0;
  virtual void seekFrame(int32_t frame) = 0;
  virtual void seekMilliseconds(int32_t ms) = 0;
  virtual void pauseOutput() = 0;
  virtual void resumeOutput() = 0;
  virtual void flushOutput() = 0;
  virtual int32_t outputPosition() = 0;
  virtual PlaybackInfo playbackInfo() = 0;
};

// Channels heard: the stream's, or fewer when the output takes only one.
int32_t heardChannels(const PlaybackInfo& info);

// The real engine and the current output system.
EngineControl& realEngine();

// Window-side effects; the defaults do nothing so that later windows
// (editor, preferences, tray, display) plug in one by one.
struct WindowActions {
  virtual ~WindowActions() = default;
  // The open dialog; returns the number of names added.
  virtual int32_t openFiles(bool clearFirst, int32_t filterSet) = 0;
  // The "Open URL..." dialog: false on Cancel.
  virtual bool askLocation(std::string& text) = 0;
  virtual void closeWindow() = 0;
  virtual void minimiseWindow() {}
  // Shows the window in front of the others, restored when minimised.
  virtual void bringForward() {}
  virtual void applyAlwaysOnTop(bool onTop) { (void)onTop; }
  virtual void applyShape(bool winShade) { (void)winShade; }
  virtual void refreshEditor() {}
  virtual void togglePlaylistEditor() {}
  virtual void openPreferences() {}
  virtual void showAbout() {}
  virtual void startVisPlugin(int32_t channels, int32_t sampleRate) {
    (void)channels;
    (void)sampleRate;
  }
  virtual void signalNewTrack() {}
  virtual void publishCurrentFile(const std::string& path) { (void)path; }
  virtual void dialProgress(int32_t frame, int32_t totalFrames) {
    (void)frame;
    (void)totalFrames;
  }
  virtual void trayPercent(int32_t percent) { (void)percent; }
};

struct PlayerState {
  int32_t playbackState = Stopped;
  int32_t totalFrames = 0;
  int32_t framesPlayed = 0;
  int32_t lastPercent = -1;
  PlaybackInfo info{};
  // The editor may refresh itself (cleared while a drop adds names).
  bool refreshAllowed = true;
  // Entries that failed to open since a track last started.
  int32_t failedOpens = 0;
  // Ticket of the play command whose track the window waits for or plays;
  // 0 after a stop. Notifications about any other track are late reports.
  int32_t awaitedTicket = 0;
};

struct PlayerWindow {
  PlayerState state;
  EngineControl& engine;
  WindowActions& window;
};

void handleCommand(PlayerWindow& w, int32_t command);

// An engine notification as it arrives: those about a track the window no
// longer waits for (it stopped, or asked for another) are dropped; the rest
// go to the handlers below.
void onEngineNotification(PlayerWindow& w, uint32_t message, uintptr_t ticket, intptr_t lParam);

// Engine notifications. onTrackEnded returns the window's result (0 or 1).
void onTrackStarted(PlayerWindow& w, intptr_t totalFrames);
void onProgress(PlayerWindow& w, intptr_t frame);
int32_t onTrackEnded(PlayerWindow& w, intptr_t lParam = kTrackEndedNormally);
void onOpenFailed(PlayerWindow& w, intptr_t lParam);

// Names dropped on the window, in drop order.
void handleDrop(PlayerWindow& w, const std::vector<std::string>& names);

// A step of a second instance's hand-over; always 1. The start step and
// HANDOVER_RAISE bring the window forward.
int32_t handleHandOver(PlayerWindow& w, int32_t code, int32_t value, const std::string& text);

// A query message: true with the answer, false for a message that is no
// query (the caller answers 0).
bool answerQuery(PlayerWindow& w, uint32_t message, int32_t lParam, int32_t& result);

// The end of window creation: the playlist's first entry plays (after a
// shuffle with ShufflePlay, which leaves the first named where it landed).
void startPlaylist(PlayerWindow& w);

}  // namespace kuv
