// What the desktop's media controls (MPRIS 2 on the session bus) see of the
// player and what they may ask of it, without D-Bus: the window's state as
// the interface's values, which of them changed, and what a seek or an
// opened URI means. The adaptor in mpris.cpp only marshals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kuv {

constexpr const char* kMprisBusName = "org.mpris.MediaPlayer2.kuv";
constexpr const char* kMprisObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kMprisRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kMprisPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kMprisIdentity = "KUV";
constexpr const char* kMprisDesktopEntry = "kuv";
constexpr const char* kMprisNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

// The bus name: the plain one, or with MultipleInstances a second player's
// "org.mpris.MediaPlayer2.kuv.instance<pid>" once the plain one is taken.
std::string mprisBusName(bool plainNameTaken, int64_t pid);

// The player as the Player interface shows it.
struct MprisView {
  int32_t playbackState = 2;  // PlaybackStateValue
  int32_t repeatPlay = 0;
  int32_t shufflePlay = 0;
  int32_t eqVolume = 0;
  int32_t entryCount = 0;
  int32_t entryPosition = -1;  // of the current entry; -1 without one
  // The current entry (id 0: none).
  uint64_t entryId = 0;
  std::string path;
  std::string title, artist, album;  // "" where unknown
  int64_t lengthUs = 0;              // 0 where unknown (a stream)
};

// One bit per property of the Player interface that PropertiesChanged can
// name (never Position, which clients extrapolate).
enum MprisProperty : uint32_t {
  kMprisPlaybackStatus = 1u << 0,
  kMprisLoopStatus = 1u << 1,
  kMprisShuffle = 1u << 2,
  kMprisMetadata = 1u << 3,
  kMprisVolume = 1u << 4,
  kMprisCanGoNext = 1u << 5,
  kMprisCanGoPrevious = 1u << 6,
  kMprisCanPlay = 1u << 7,
  kMprisCanPause = 1u << 8,
  kMprisCanSeek = 1u << 9,
};
struct PlayerWindow;
// The window's state as the view: the session, the settings, the playlist's
// current entry (its tag, or what a stream calls itself), the length of the
// track playing or else the entry's.
MprisView mprisViewOf(const PlayerWindow& w);

// The properties' names in bit order.
const std::vector<std::string>& mprisPropertyNames();
// The properties whose values differ between two views.
uint32_t mprisChanged(const MprisView& before, const MprisView& after);

const char* mprisPlaybackStatus(int32_t playbackState);
const char* mprisLoopStatus(int32_t repeatPlay);
// RepeatPlay for "None", "Track" or "Playlist"; false for anything else.
bool repeatForLoopStatus(const std::string& status, int32_t& repeatPlay);
// EqVolume (0..63) as 0.0..1.0 and back, rounded and clamped (a NaN is 0).
double mprisVolume(int32_t eqVolume);
int32_t eqVolumeFor(double volume);

bool mprisCanGoNext(const MprisView& v);
bool mprisCanGoPrevious(const MprisView& v);
bool mprisCanPlay(const MprisView& v);
bool mprisCanPause(const MprisView& v);
bool mprisCanSeek(const MprisView& v);

// "/org/kuv/track/<id>", or the NoTrack path without an entry.
std::string mprisTrackId(const MprisView& v);
// A local path as a file:// URL (bytes outside the unreserved set and '/'
// percent-encoded); a URL as it is.
std::string mprisUrl(const std::string& path);
// What xesam:title shows: the tag's title, else the last part of the name.
std::string mprisTitle(const MprisView& v);

// What a Seek or SetPosition asks for.
struct MprisSeek {
  enum class Kind { kNone, kSeekTo, kNext } kind = Kind::kNone;
  int64_t ms = 0;  // for kSeekTo
};
// Seek(offset) from positionUs: before the start seeks to 0, past the end
// goes to the next track; nothing while the track cannot seek.
MprisSeek mprisSeekBy(const MprisView& v, int64_t positionUs, int64_t offsetUs);
// SetPosition(trackId, position): only for the current track, and only to
// a position within it.
MprisSeek mprisSetPosition(const MprisView& v, const std::string& trackId, int64_t positionUs);

// OpenUri's argument as a name for the playlist: a file:// URL decoded to
// its path, an http(s) URL as it is; false for other schemes, a file URL on
// another host, or a name that decodes to a NUL or is too long to play.
bool nameForUri(const std::string& uri, std::string& name);

}  // namespace kuv
