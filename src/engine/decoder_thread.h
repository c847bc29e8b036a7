// The decoder thread: plays one input at a time through the output system,
// taking commands as posted messages and reporting through notifications.
#pragma once

#include <cstdint>
#include <string>

namespace kuv {

// Commands (posted to the decoder thread).
constexpr uint32_t ENGINE_PLAY = 0x8100;
constexpr uint32_t ENGINE_PLAY_FILE = 0x8101;
constexpr uint32_t ENGINE_STOP = 0x8102;
constexpr uint32_t ENGINE_CLOSE_OUTPUT = 0x8103;
constexpr uint32_t ENGINE_SEEK = 0x8104;
constexpr uint32_t ENGINE_SETTINGS_CHANGED = 0x8105;
// As ENGINE_PLAY_FILE, for one of several alternatives (a station's
// streams): a failure to open it, or a stream without MPEG audio, is
// reported as usual but not shown.
constexpr uint32_t ENGINE_PLAY_FILE_QUIETLY = 0x8106;

// Notifications (to the notification sink).
constexpr uint32_t ENGINE_TRACK_ENDED = 0x8200;    // sent
constexpr uint32_t ENGINE_TRACK_STARTED = 0x8201;  // sent; lParam = total frames
constexpr uint32_t ENGINE_PROGRESS = 0x8202;       // sent once with 0, then posted; lParam = frame counter
constexpr uint32_t ENGINE_OPEN_FAILED = 0x8203;    // posted
// Posted when the stream tags board (stream_tags.h: station and title) has
// changed since the last one posted: looked at right after the open (the
// board is emptied before each open, so a track after a stream with tags
// reports that there are none) and once a decoded frame. lParam 0.
// Receivers that show no stream titles ignore it.
constexpr uint32_t ENGINE_STREAM_TAGS = 0x8204;
// Posted when the frames of the playing file have been counted and their
// number differs from the total ENGINE_TRACK_STARTED gave (a VBR file
// without a frame count, a tag that lies). lParam = the exact total.
constexpr uint32_t ENGINE_TRACK_LENGTH = 0x8205;

// Every notification carries in wParam the ticket of the play command it
// belongs to (what play() returned), so a receiver can tell a late report of
// a track it has already left from one about the track it asked for.
//
// lParam of ENGINE_OPEN_FAILED: what could not be opened.
constexpr intptr_t kOpenFailedInput = 0;   // the file or URL
constexpr intptr_t kOpenFailedOutput = 1;  // the output (it has said why); stop
// The URL's answer was a playlist: fetched and left for takeFetchedPlaylist
// (url_reader.h) to be put in the entry's place; no failure.
constexpr intptr_t kOpenFailedPlaylist = 2;
// lParam of ENGINE_TRACK_ENDED: how the track ended.
constexpr intptr_t kTrackEndedNormally = 0;  // end of stream after audio
constexpr intptr_t kTrackOutputFailed = 1;   // a write failed; the output is closed; stop
constexpr intptr_t kTrackNoAudio = 2;        // not one frame could be decoded

// Where notifications go. `send` must not return before the receiver has
// handled the message; `post` must not wait for it. `release` (optional)
// makes a send in progress return at once: the engine calls it when it shuts
// down, so a receiver busy shutting the engine down cannot deadlock with it.
//
// A receiver that sets acknowledgesProgress calls progressTaken() whenever
// it takes a posted ENGINE_PROGRESS from its queue (handled or not); the
// engine then posts no further one while the last is unread. Each carries
// the current counter, so a report not posted loses nothing; a receiver that
// does not acknowledge gets every one.
struct NotificationSink {
  void (*send)(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam) = nullptr;
  void (*post)(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam) = nullptr;
  void (*release)(void* context) = nullptr;
  void* context = nullptr;
  bool acknowledgesProgress = false;
};

// The receiver has taken the posted ENGINE_PROGRESS; any thread.
void progressTaken();

// A receiver that shows progress only in steps (a dial, a percentage) says
// which counters would show nothing new: while the counter of the track with
// this ticket stays in [from, to), no ENGINE_PROGRESS is posted. A seek out
// of it, or the next track, is reported as before. Ticket 0: none. Any
// thread.
void setProgressQuiet(uint32_t ticket, uint32_t from, uint32_t to);
// The frame counter ENGINE_PROGRESS reports, as it is now; any thread.
uint32_t framesDecoded();

// Whether something shows visualisation records (the display with a
// visualisation, a vis plug-in). Without it Layer III builds none; the clock
// the records are stamped with runs on, so records made after a switch
// mid-track carry the right positions. Off until set; any thread, read by
// the decoder before each frame.
void setVisualisationWanted(bool wanted);
bool visualisationWanted();

// Called on the decoder thread when a frame changes the published bit rate
// or sample rate (a VBR stream: at most once a frame) and after a seek, so a
// display of the rates and the time need not poll for them; it must return
// at once. nullptr: none.
void setPlaybackInfoWatcher(void (*watcher)());

struct PlaybackInfo {
  int32_t playing;     // 1 from a track's first frame until its loop ends
  int32_t sampleRate;  // output rate: the stream's rate >> DownSample
  uint8_t layer;
  uint16_t bitRate;  // kbit/s of the current frame
  int32_t stereo;    // two output channels
  int32_t channels;  // channels of the current frame (1 or 2)
};

// Starts the thread; returns its identifier (> 0), or -1.
int32_t startEngine(const NotificationSink& sink);
// Ends the thread within 3000 ms whatever it is doing (a blocked write, a
// stalled URL, a notification being sent).
void shutdownEngine();

// The play commands return the command's ticket (> 0), or 0 when it could
// not be posted.
int32_t play(const std::string& name);         // ENGINE_PLAY_FILE
int32_t playQuietly(const std::string& name);  // ENGINE_PLAY_FILE_QUIETLY
int32_t play();                                // ENGINE_PLAY: the last name again
int32_t stop();
int32_t closeOutput();
int32_t seekFrame(uint32_t frame);
int32_t seekMilliseconds(uint32_t milliseconds);
int32_t settingsChanged();
PlaybackInfo getPlaybackInfo();

// nice value for a DecoderPriority setting (0 lowest .. 5 time-critical;
// anything else normal).
int32_t niceForPriority(int32_t decoderPriority);

// readFrame as the player reads: the reader's errors become the boxes and
// the question the user sees, the answer goes back to the reader, and the
// input remembers it has told the user (InputStream::userTold). Also for
// kuv-decode, so the console tells the same.
struct FrameContext;
struct InputStream;
int readFrameTellingUser(InputStream& s, FrameContext& ctx);

// What the user is told about a stream.
constexpr const char* kSyncErrorTitle = "Synchronization Error...";
constexpr const char* kStreamErrorTitle = "Error In Stream...";
constexpr const char* kNoSyncText = "Could not locate a VALID sync in the stream.";
constexpr const char* kNotMpegText = "This does not look like a valid MPEG Audio File";
constexpr const char* kInvalidBitrateText = "Invalid Bitrate in stream, Try Resync?";
// A track that ended without one frame of audio, unless the user has been
// told why; %s is the file or URL.
constexpr const char* kNoAudioText = "%s holds no MPEG audio.";
constexpr const char* kEmptyFileText = "%s is empty: it holds no MPEG audio.";

}  // namespace kuv
