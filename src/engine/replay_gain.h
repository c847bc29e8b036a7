// Loudness of a file as its tags state it (ReplayGain), and the output scale
// a playback mode makes of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "decoder/vbr_tag.h"

namespace kuv {

struct ReplayGainInfo {
  bool hasTrackGain = false;
  bool hasAlbumGain = false;
  double trackGainDb = 0;
  double albumGainDb = 0;
  double trackPeak = 0;  // 1.0 = full scale; 0 unknown
  double albumPeak = 0;
};

// The values of the ReplayGain setting.
enum ReplayGainMode : int32_t {
  kReplayGainOff = 0,
  kReplayGainTrack = 1,
  kReplayGainAlbum = 2,
  kReplayGainAlbumInOrder = 3,  // album gain while an album plays in order
};

// Gains beyond this are no loudness correction but damage.
constexpr double kMaxReplayGainDb = 60.0;
constexpr double kMaxReplayGainPeak = 10.0;

// Reads the ReplayGain values of an ID3v2.3/2.4 tag (`bytes` starts with its
// header and may end early): TXXX frames REPLAYGAIN_TRACK_GAIN, _TRACK_PEAK,
// _ALBUM_GAIN, _ALBUM_PEAK and RVA2 frames "track" and "album" (master
// channel). TXXX wins over RVA2. Garbage values are left out. True when any
// value was found; `info` is overwritten whole either way.
bool readId3v2ReplayGain(const uint8_t* bytes, size_t length, ReplayGainInfo& info);

// The ReplayGain values of the ID3v2 tag at the start of a local file (at
// most kMaxReplayGainTagBytes of it are read); false without one.
constexpr size_t kMaxReplayGainTagBytes = 16u << 20;
bool readFileReplayGain(const std::string& path, ReplayGainInfo& info);

// A gain text such as "-6.54 dB" ("dB" optional, any case): true and the
// value when it is a number within kMaxReplayGainDb.
bool parseReplayGainDb(const std::string& text, double& db);
// A peak text such as "0.988547": true and the value when within
// 0..kMaxReplayGainPeak.
bool parseReplayGainPeak(const std::string& text, double& peak);

// The tag's values with what they lack taken from the LAME tag.
ReplayGainInfo mergeLameReplayGain(const ReplayGainInfo& tagged, const LameTag& lame);

// The factor for the output samples: 1.0 when the mode is off or the file
// states no gain for it (the preamp is not applied to untagged files).
// Album mode falls back to the track gain; mode 3 uses the album gain only
// when albumInOrder. The result never lifts the stated peak above full scale.
double replayGainScale(const ReplayGainInfo& info, int32_t mode, double preampDb, bool albumInOrder);

}  // namespace kuv
