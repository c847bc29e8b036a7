// What the main window does with commands, drops, hand-overs, engine
// notifications and queries, without a window: the Qt window forwards its
// events here and carries out the window-side effects it is asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/decoder_thread.h"
#include "session/message_codes.h"
#include "session/playback_session.h"

namespace kuv {

// Channels heard: the stream's, or fewer when the output takes only one.
int32_t heardChannels(const PlaybackInfo& info);

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
  // The current entry's stream title, station or length changed.
  virtual void currentEntryChanged() {}
  // Playback was sent to positionMs (a seek asked of the window).
  virtual void seeked(int64_t positionMs) { (void)positionMs; }
};

// What the window shows of the session.
struct PlayerState {
  int32_t totalFrames = 0;
  int32_t framesPlayed = 0;
  int32_t lastPercent = -1;
  PlaybackInfo info{};
  // The editor may refresh itself (cleared while a drop adds names).
  bool refreshAllowed = true;
};

struct PlayerWindow {
  PlaybackSession session;  // with kWindowAdvance
  PlayerState state;
  WindowActions& window;
};

void handleCommand(PlayerWindow& w, int32_t command);

// An engine notification as it arrives: those about a track the window no
// longer waits for (it stopped, or asked for another) are dropped; the rest
// go to the handlers below.
void onEngineNotification(PlayerWindow& w, uint32_t message, uintptr_t ticket, intptr_t lParam);

// Engine notifications. onTrackEnded returns the window's result (0 or 1).
void onTrackStarted(PlayerWindow& w, intptr_t totalFrames, uintptr_t ticket = 0);
// ticket: the notification's; the engine is told which counters of that
// track would change nothing the window shows.
void onProgress(PlayerWindow& w, intptr_t frame, uintptr_t ticket = 0);
int32_t onTrackEnded(PlayerWindow& w, intptr_t lParam = kTrackEndedNormally);
void onOpenFailed(PlayerWindow& w, intptr_t lParam);
// What the stream calls itself now becomes its entry's title.
void onStreamTags(PlayerWindow& w);
// The playing file's frames were counted: its length is now exact.
void onTrackLength(PlayerWindow& w, intptr_t totalFrames, uintptr_t ticket = 0);

// The tray's percentage of a frame counter.
int32_t progressPercent(int32_t frame, int32_t totalFrames);
// The frame counters around `frame` (>= 0) that show the same dial and
// percentage: [from, to), to = UINT32_MAX when nothing later changes them.
struct ProgressSpan {
  uint32_t from, to;
};
ProgressSpan sameProgressView(int32_t frame, int32_t totalFrames);

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
