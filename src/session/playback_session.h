// One playback session, whatever front end drives it (the window,
// kuv-decode, later the desktop integration): the order in which the
// visualisation queue, the engine thread and the output come and go, which
// entry plays after a track ends or fails to open, and the transport
// commands. No Qt here; what a front end shows stays with it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/decoder_thread.h"

namespace kuv {

enum PlaybackStateValue : int32_t { Playing = 0, Paused = 1, Stopped = 2 };

// The engine, the output and the visualisation queue as a session drives
// them; tests record.
struct EngineControl {
  virtual ~EngineControl() = default;
  virtual bool startVisQueue() = 0;
  virtual void stopVisQueue() = 0;
  virtual bool startEngine(const NotificationSink& sink) = 0;
  virtual void shutdownEngine() = 0;
  // The play commands return the command's ticket (0: not posted).
  virtual int32_t play(const std::string& path) = 0;
  // One of a station's alternatives: its failure is not shown.
  virtual int32_t playQuietly(const std::string& path) { return play(path); }
  virtual int32_t playLast() = 0;  // ENGINE_PLAY: the name played last
  virtual void stop() = 0;
  virtual void closeOutput() = 0;
  virtual bool outputIsOpen() = 0;
  virtual void seekFrame(int32_t frame) = 0;
  virtual void seekMilliseconds(int32_t ms) = 0;
  virtual void pauseOutput() = 0;
  virtual void resumeOutput() = 0;
  virtual void flushOutput() = 0;
  virtual int32_t outputPosition() = 0;
  virtual PlaybackInfo playbackInfo() = 0;
  // The frame counter as it is now, and the counters of a track whose
  // progress would show nothing new (decoder_thread.h).
  virtual int32_t framesDecoded() = 0;
  virtual void setProgressQuiet(uint32_t ticket, uint32_t from, uint32_t to) = 0;
};

// The real engine and the current output system.
EngineControl& realEngine();

// Where the front ends part on purpose when an entry fails.
struct AdvanceRule {
  // A track that held no audio counts as an entry that failed to open
  // (kuv-decode reports it); otherwise it ends like any other track.
  bool noAudioFails;
  // With RepeatPlay 2 a failed entry wraps round to the first, as with
  // RepeatPlay 1; otherwise only RepeatPlay 1 wraps.
  bool repeatTrackWrapsFailures;
  // The count of failed entries starts again when a track starts;
  // otherwise when one plays to its end.
  bool startClearsFailures;
};
// A file without audio counts as a failure in the window too: ended like a
// track, RepeatPlay 2 would replay it (and its message) for ever, and a list
// of such files would go round for ever.
constexpr AdvanceRule kWindowAdvance{true, true, true};
constexpr AdvanceRule kConsoleAdvance{true, false, false};

struct SessionState {
  int32_t playbackState = Stopped;
  // Ticket of the play command whose track the session waits for or plays;
  // 0 after a stop. Notifications about any other track are late reports.
  int32_t awaitedTicket = 0;
  // Entries that failed in a row (see AdvanceRule::startClearsFailures).
  int32_t failedOpens = 0;
  // The session has closed the output since it last asked for a track.
  bool outputClosed = false;
  // The name last asked for.
  std::string path;
  // Station playlists expanded in a row without a track starting; past
  // kMaxPlaylistDepth the next one counts as a failed entry, so a playlist
  // naming itself ends instead of going round for ever.
  int32_t playlistExpansions = 0;
  // The last openFailed put a fetched playlist's entries in the entry's
  // place (no failure to report).
  bool expandedPlaylist = false;
  // A station's alternative streams still to be tried quietly, so only the
  // last one's failure is shown.
  int32_t quietEntries = 0;
};

struct PlaybackSession {
  EngineControl& engine;
  AdvanceRule rule;
  SessionState state{};
  bool visQueueStarted = false;
  bool engineStarted = false;
};

// --- Coming and going ---------------------------------------------------------------
// The visualisation queue starts first and ends last: the engine's output
// feeds it until the engine thread has gone.
bool openVisQueue(PlaybackSession& s);
bool openEngine(PlaybackSession& s, const NotificationSink& sink);

enum class SessionEnd : int32_t {
  kStopNow,        // stop the track, close the output at once
  kPlayOut,        // let the output play out what it holds first
  kNothingPlayed,  // no track was asked for: the output was never opened
};
// Ends the engine thread (once): the output closes, then the thread goes.
void closeEngine(PlaybackSession& s, SessionEnd how);
// Ends what is still running: the engine (as closeEngine), then the queue.
void closeSession(PlaybackSession& s, SessionEnd how);

// --- Transport ------------------------------------------------------------------------
// Every play and stop goes through these, so the session always knows which
// track's reports it waits for.
// Returns whether the engine took the command.
bool playPath(PlaybackSession& s, const std::string& path);
// The playlist's current entry; false when there is none or the engine
// took no command.
bool playCurrent(PlaybackSession& s);
// Stops the track; the output stays open for the next.
void stopTrack(PlaybackSession& s);
// Playback is over: the output closes and the state is Stopped.
void stopPlayback(PlaybackSession& s);
// A paused output holds the decoder thread inside write; it runs again
// (and the paused track is over) before a track is stopped or another
// started.
void releasePause(PlaybackSession& s);

// Play, Pause and Stop as the buttons mean them.
void pressPlay(PlaybackSession& s);
void pressPause(PlaybackSession& s);
void pressStop(PlaybackSession& s);

// --- Engine notifications ----------------------------------------------------------
// A notification about the track the session waits for (false: a late
// report about a track already left, to be dropped).
bool isAwaited(const SessionState& state, uintptr_t ticket);

// What the session did about a notification.
enum class SessionMove : int32_t {
  kNone,          // nothing changes
  kPlaying,       // another track was asked for (or the same again)
  kRefused,       // a track was due but the engine took no command
  kEnded,         // the list is done, or a round of it failed: Stopped
  kOutputFailed,  // the output could not open or write: Stopped
};

// The awaited track started; false when a pause holds the session (the
// start is not taken).
bool trackStarted(PlaybackSession& s);
// ENGINE_TRACK_ENDED with its lParam, by RepeatPlay and the rule.
SessionMove trackEnded(PlaybackSession& s, intptr_t how);
// ENGINE_OPEN_FAILED with its lParam: an entry that cannot be opened is
// passed over to the next (never the same again); once a whole round of
// the list has failed, playback stops. With kOpenFailedPlaylist the fetched
// playlist's entries take the entry's place and the first plays (a front
// end that shows the list refreshes it through the playlist's changed
// hook); a playlist with no entries, or one too many in a row, fails.
SessionMove openFailed(PlaybackSession& s, intptr_t what);

// --- Frame timing ---------------------------------------------------------------------
// Seconds of audio in one frame of the playing track (0 before one plays).
double secondsPerFrame(const PlaybackInfo& info, int32_t downSample);

}  // namespace kuv
