#include "ui/mpris_logic.h"

#include <algorithm>
#include <cmath>

#include "config/settings.h"
#include "platform/paths.h"
#include "playlist/playlist.h"
#include "ui/player_commands.h"

namespace kuv {

namespace {

constexpr int32_t kMaxEqVolume = 63;
constexpr int32_t kPlaying = 0;
constexpr int32_t kPaused = 1;

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool startsWithNoCase(const std::string& text, const char* prefix) {
  const size_t n = std::char_traits<char>::length(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != prefix[i]) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string mprisBusName(bool plainNameTaken, int64_t pid) {
  std::string name = kMprisBusName;
  if (plainNameTaken) name += ".instance" + std::to_string(pid);
  return name;
}

const std::vector<std::string>& mprisPropertyNames() {
  static const std::vector<std::string> names = {"PlaybackStatus", "LoopStatus",    "Shuffle", "Metadata", "Volume",
                                                 "CanGoNext",      "CanGoPrevious", "CanPlay", "CanPause", "CanSeek"};
  return names;
}

MprisView mprisViewOf(const PlayerWindow& w) {
  MprisView v;
  v.playbackState = w.session.state.playbackState;
  v.repeatPlay = settings.RepeatPlay;
  v.shufflePlay = settings.ShufflePlay;
  v.eqVolume = sharedSetting(settings.EqVolume);
  v.entryCount = entryCount();
  v.entryPosition = currentPosition();
  PlaylistEntry entry;
  if (!copyCurrentEntry(entry)) return v;
  v.entryId = entry.id;
  v.path = entry.path;
  if (entry.tag.valid) {
    v.title = entry.tag.title;
    v.artist = entry.tag.artist;
    v.album = entry.tag.album;
  }
  // The entry's length where it is known (the audio heard, without what a
  // gapless track trims), else the playing track's frames, in whole
  // milliseconds either way.
  const bool inTrack = v.playbackState != Stopped && w.state.totalFrames > 0;
  if (entry.infoKnown && entry.lengthMs > 0) {
    v.lengthUs = static_cast<int64_t>(entry.lengthMs) * 1000;
  } else if (inTrack) {
    const double seconds = w.state.totalFrames * secondsPerFrame(w.state.info, settings.DownSample);
    v.lengthUs = static_cast<int64_t>(seconds * 1000.0) * 1000;
  }
  return v;
}

uint32_t mprisChanged(const MprisView& a, const MprisView& b) {
  uint32_t changed = 0;
  auto mark = [&changed](bool differs, uint32_t bit) {
    if (differs) changed |= bit;
  };
  mark(std::string(mprisPlaybackStatus(a.playbackState)) != mprisPlaybackStatus(b.playbackState), kMprisPlaybackStatus);
  mark(std::string(mprisLoopStatus(a.repeatPlay)) != mprisLoopStatus(b.repeatPlay), kMprisLoopStatus);
  mark((a.shufflePlay != 0) != (b.shufflePlay != 0), kMprisShuffle);
  mark(a.entryId != b.entryId || a.path != b.path || a.title != b.title || a.artist != b.artist || a.album != b.album ||
           a.lengthUs != b.lengthUs,
       kMprisMetadata);
  mark(eqVolumeFor(mprisVolume(a.eqVolume)) != eqVolumeFor(mprisVolume(b.eqVolume)), kMprisVolume);
  mark(mprisCanGoNext(a) != mprisCanGoNext(b), kMprisCanGoNext);
  mark(mprisCanGoPrevious(a) != mprisCanGoPrevious(b), kMprisCanGoPrevious);
  mark(mprisCanPlay(a) != mprisCanPlay(b), kMprisCanPlay);
  mark(mprisCanPause(a) != mprisCanPause(b), kMprisCanPause);
  mark(mprisCanSeek(a) != mprisCanSeek(b), kMprisCanSeek);
  return changed;
}

const char* mprisPlaybackStatus(int32_t playbackState) {
  if (playbackState == kPlaying) return "Playing";
  if (playbackState == kPaused) return "Paused";
  return "Stopped";
}

const char* mprisLoopStatus(int32_t repeatPlay) {
  if (repeatPlay == 1) return "Playlist";
  if (repeatPlay == 2) return "Track";
  return "None";
}

bool repeatForLoopStatus(const std::string& status, int32_t& repeatPlay) {
  if (status == "None") {
    repeatPlay = 0;
  } else if (status == "Playlist") {
    repeatPlay = 1;
  } else if (status == "Track") {
    repeatPlay = 2;
  } else {
    return false;
  }
  return true;
}

double mprisVolume(int32_t eqVolume) {
  return static_cast<double>(std::clamp(eqVolume, 0, kMaxEqVolume)) / kMaxEqVolume;
}

int32_t eqVolumeFor(double volume) {
  if (!(volume > 0.0)) return 0;  // also NaN
  if (volume >= 1.0) return kMaxEqVolume;
  return static_cast<int32_t>(std::lround(volume * kMaxEqVolume));
}

bool mprisCanGoNext(const MprisView& v) {
  return v.entryCount > 0 && (v.entryPosition + 1 < v.entryCount || v.repeatPlay == 1);
}

bool mprisCanGoPrevious(const MprisView& v) { return v.entryCount > 0 && v.entryPosition > 0; }

bool mprisCanPlay(const MprisView& v) { return v.entryCount > 0; }

bool mprisCanPause(const MprisView& v) { return v.playbackState == kPlaying || v.playbackState == kPaused; }

bool mprisCanSeek(const MprisView& v) { return mprisCanPause(v) && v.lengthUs > 0; }

std::string mprisTrackId(const MprisView& v) {
  if (v.entryId == 0) return kMprisNoTrack;
  return "/org/kuv/track/" + std::to_string(v.entryId);
}

std::string mprisUrl(const std::string& path) {
  if (platform::isUrlName(path)) return path;
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
                       u == '.' || u == '_' || u == '~' || u == '/';
    if (plain) {
      url += c;
    } else {
      url += '%';
      url += kHex[u >> 4];
      url += kHex[u & 15];
    }
  }
  return url;
}

std::string mprisTitle(const MprisView& v) {
  if (!v.title.empty()) return v.title;
  std::string name(platform::lastPathComponent(v.path));
  return name.empty() ? v.path : name;
}

MprisSeek mprisSeekBy(const MprisView& v, int64_t positionUs, int64_t offsetUs) {
  MprisSeek seek;
  if (!mprisCanSeek(v)) return seek;
  // Saturating: a client may send any 64-bit offset.
  int64_t target = 0;
  if (__builtin_add_overflow(positionUs, offsetUs, &target)) target = offsetUs < 0 ? INT64_MIN : INT64_MAX;
  if (target >= v.lengthUs) {
    seek.kind = MprisSeek::Kind::kNext;
    return seek;
  }
  seek.kind = MprisSeek::Kind::kSeekTo;
  seek.ms = std::max<int64_t>(target, 0) / 1000;
  return seek;
}

MprisSeek mprisSetPosition(const MprisView& v, const std::string& trackId, int64_t positionUs) {
  MprisSeek seek;
  if (!mprisCanSeek(v) || trackId != mprisTrackId(v) || positionUs < 0 || positionUs > v.lengthUs) return seek;
  seek.kind = MprisSeek::Kind::kSeekTo;
  seek.ms = positionUs / 1000;
  return seek;
}

bool nameForUri(const std::string& uri, std::string& name) {
  if (startsWithNoCase(uri, "http://") || startsWithNoCase(uri, "https://")) {
    if (uri.size() > kMaxPathBytes) return false;
    name = uri;
    return true;
  }
  if (!startsWithNoCase(uri, "file://")) return false;
  std::string rest = uri.substr(7);
  // file:///path or file://localhost/path; another host is not ours to read.
  if (startsWithNoCase(rest, "localhost/")) rest.erase(0, 9);
  if (!startsWith(rest, "/")) return false;
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '?' || rest[i] == '#') break;
    if (rest[i] == '%') {
      const int high = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
      const int low = high >= 0 ? hexValue(rest[i + 2]) : -1;
      if (low < 0) return false;
      const char c = static_cast<char>(high * 16 + low);
      if (c == '\0') return false;
      path += c;
      i += 2;
    } else {
      path += rest[i];
    }
  }
  if (path.size() > kMaxPathBytes) return false;
  name = path;
  return true;
}

}  // namespace kuv
