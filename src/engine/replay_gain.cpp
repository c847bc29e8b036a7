#include "engine/replay_gain.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/id3v2_tag.h"
#include "platform/file.h"

namespace kuv {

namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (x != b[i]) return false;
  }
  return true;
}

bool isSpace(char c) { return c == ' ' || c == '\t'; }

// A decimal number with optional sign and fraction, then optional `unit`
// (any case); spaces around. Written out by hand: strtod would follow the
// locale's decimal point, and tags are written in every locale.
bool parseNumber(const std::string& text, const char* unit, double& value) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  double number = 0;
  int digits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    number = number * 10 + (text[i++] - '0');
    ++digits;
  }
  if (i < n && (text[i] == '.' || text[i] == ',')) {
    ++i;
    double place = 0.1;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
      number += (text[i++] - '0') * place;
      place /= 10;
      ++digits;
    }
  }
  // More digits than any real value has: a long run would only be noise.
  if (digits == 0 || digits > 20) return false;
  while (i < n && isSpace(text[i])) ++i;
  if (unit != nullptr && n - i >= std::strlen(unit) && equalsIgnoringCase(text.substr(i, std::strlen(unit)), unit)) {
    i += std::strlen(unit);
  }
  while (i < n && isSpace(text[i])) ++i;
  if (i != n) return false;
  value = negative ? -number : number;
  return true;
}

bool usableGain(double db) { return std::isfinite(db) && std::fabs(db) <= kMaxReplayGainDb; }
bool usablePeak(double peak) { return std::isfinite(peak) && peak >= 0 && peak <= kMaxReplayGainPeak; }

// A description or value decodes to at most this many characters; the
// longest of ours has 21.
constexpr size_t kTextChars = 64;

void takeTxxx(const uint8_t* data, size_t length, ReplayGainInfo& info) {
  if (length < 1) return;
  const int32_t encoding = data[0];
  const std::string description = id3v2::decodeText(data + 1, length - 1, encoding, kTextChars);
  const size_t at = 1 + id3v2::skipString(data + 1, length - 1, encoding);
  const std::string value = id3v2::decodeText(data + at, length - at, encoding, kTextChars);
  double number;
  if (equalsIgnoringCase(description, "REPLAYGAIN_TRACK_GAIN")) {
    if (!info.hasTrackGain && parseReplayGainDb(value, number)) info.trackGainDb = number, info.hasTrackGain = true;
  } else if (equalsIgnoringCase(description, "REPLAYGAIN_ALBUM_GAIN")) {
    if (!info.hasAlbumGain && parseReplayGainDb(value, number)) info.albumGainDb = number, info.hasAlbumGain = true;
  } else if (equalsIgnoringCase(description, "REPLAYGAIN_TRACK_PEAK")) {
    if (info.trackPeak == 0 && parseReplayGainPeak(value, number)) info.trackPeak = number;
  } else if (equalsIgnoringCase(description, "REPLAYGAIN_ALBUM_PEAK")) {
    if (info.albumPeak == 0 && parseReplayGainPeak(value, number)) info.albumPeak = number;
  }
}

// RVA2: identification, then per channel its type, a signed 16-bit
// adjustment in 1/512 dB, the bits of the peak and the peak in that many
// bits (rounded up to bytes). Only the master channel (1) counts.
void takeRva2(const uint8_t* data, size_t length, ReplayGainInfo& info) {
  const std::string id = id3v2::decodeText(data, length, id3v2::kLatin1, kTextChars);
  const bool track = equalsIgnoringCase(id, "TRACK");
  if (!track && !equalsIgnoringCase(id, "ALBUM")) return;
  size_t at = id3v2::skipString(data, length, id3v2::kLatin1);
  while (at + 4 <= length) {
    const uint8_t channel = data[at];
    const auto raw = static_cast<int16_t>((static_cast<uint16_t>(data[at + 1]) << 8) | data[at + 2]);
    const uint32_t bits = data[at + 3];
    const size_t peakBytes = (bits + 7) / 8;
    at += 4;
    if (peakBytes > length - at) return;
    if (channel != 1) {
      at += peakBytes;
      continue;
    }
    double peak = 0;
    for (size_t i = 0; i < peakBytes; ++i) peak = peak * 256 + data[at + i];
    // A fraction of full scale with its sign bit first, the bits it has
    // filled from the top of its bytes (16 bits: 0x7FFF is full scale).
    if (peakBytes > 0) peak = std::ldexp(peak, 1 - static_cast<int>(peakBytes * 8));
    const double db = raw / 512.0;
    if (!usablePeak(peak)) peak = 0;
    if (track && !info.hasTrackGain) {
      info.trackGainDb = db, info.hasTrackGain = true;
      if (info.trackPeak == 0) info.trackPeak = peak;
    } else if (!track && !info.hasAlbumGain) {
      info.albumGainDb = db, info.hasAlbumGain = true;
      if (info.albumPeak == 0) info.albumPeak = peak;
    }
    return;
  }
}

}  // namespace

bool parseReplayGainDb(const std::string& text, double& db) {
  double value;
  if (!parseNumber(text, "DB", value) || !usableGain(value)) return false;
  db = value;
  return true;
}

bool parseReplayGainPeak(const std::string& text, double& peak) {
  double value;
  if (!parseNumber(text, nullptr, value) || !usablePeak(value)) return false;
  peak = value;
  return true;
}

bool readId3v2ReplayGain(const uint8_t* bytes, size_t length, ReplayGainInfo& info) {
  ReplayGainInfo fromText;
  ReplayGainInfo fromRva2;
  id3v2::forEachFrame(
      bytes, length,
      [](const uint8_t* id) { return std::memcmp(id, "TXXX", 4) == 0 || std::memcmp(id, "RVA2", 4) == 0; },
      [&](const uint8_t* id, const uint8_t* data, size_t dataLength) {
        if (std::memcmp(id, "TXXX", 4) == 0)
          takeTxxx(data, dataLength, fromText);
        else
          takeRva2(data, dataLength, fromRva2);
      });
  // The texts are what ReplayGain tools write; RVA2 fills their gaps.
  info = fromText;
  if (!info.hasTrackGain && fromRva2.hasTrackGain) info.trackGainDb = fromRva2.trackGainDb, info.hasTrackGain = true;
  if (!info.hasAlbumGain && fromRva2.hasAlbumGain) info.albumGainDb = fromRva2.albumGainDb, info.hasAlbumGain = true;
  if (info.trackPeak == 0) info.trackPeak = fromRva2.trackPeak;
  if (info.albumPeak == 0) info.albumPeak = fromRva2.albumPeak;
  return info.hasTrackGain || info.hasAlbumGain || info.trackPeak > 0 || info.albumPeak > 0;
}

ReplayGainInfo mergeLameReplayGain(const ReplayGainInfo& tagged, const LameTag& lame) {
  ReplayGainInfo out = tagged;
  if (!lame.present) return out;
  if (!out.hasTrackGain && lame.hasTrackGain && usableGain(lame.trackGainDb)) {
    out.trackGainDb = lame.trackGainDb, out.hasTrackGain = true;
  }
  if (!out.hasAlbumGain && lame.hasAlbumGain && usableGain(lame.albumGainDb)) {
    out.albumGainDb = lame.albumGainDb, out.hasAlbumGain = true;
  }
  // The encoder saw every sample of this track: its peak is the track's.
  if (out.trackPeak == 0 && usablePeak(lame.peak)) out.trackPeak = lame.peak;
  return out;
}

double replayGainScale(const ReplayGainInfo& info, int32_t mode, double preampDb, bool albumInOrder) {
  if (mode != kReplayGainTrack && mode != kReplayGainAlbum && mode != kReplayGainAlbumInOrder) return 1.0;
  const bool wantAlbum = mode == kReplayGainAlbum || (mode == kReplayGainAlbumInOrder && albumInOrder);
  double gain;
  double peak;
  if (wantAlbum && info.hasAlbumGain) {
    gain = info.albumGainDb;
    peak = info.albumPeak > 0 ? info.albumPeak : info.trackPeak;
  } else if (info.hasTrackGain) {
    gain = info.trackGainDb;
    peak = info.trackPeak > 0 ? info.trackPeak : info.albumPeak;
  } else {
    return 1.0;
  }
  double scale = std::pow(10.0, (gain + preampDb) / 20.0);
  if (peak > 0 && scale * peak > 1.0) scale = 1.0 / peak;
  return scale;
}

bool readFileReplayGain(const std::string& path, ReplayGainInfo& info) {
  info = ReplayGainInfo{};
  const int handle = platform::openForRead(path);
  if (handle < 0) return false;
  uint8_t header[10];
  bool found = false;
  id3v2::Header parsed;
  if (platform::isRegularFile(handle) && platform::readFully(handle, header, sizeof header) == sizeof header &&
      id3v2::parseHeader(header, sizeof header, parsed)) {
    const size_t length = std::min(sizeof header + parsed.size, kMaxReplayGainTagBytes);
    std::vector<uint8_t> tag(length);
    std::memcpy(tag.data(), header, sizeof header);
    const long got = platform::readFully(handle, tag.data() + sizeof header, length - sizeof header);
    if (got >= 0) found = readId3v2ReplayGain(tag.data(), sizeof header + static_cast<size_t>(got), info);
  }
  platform::closeHandle(handle);
  return found;
}

}  // namespace kuv
