// What a playlist shows of a file without decoding it: the estimated play
// length and the title, artist, album, year, comment and genre of its tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/tag_info.h"

namespace kuv {

// Length of a file whose play time cannot be estimated (no usable header).
constexpr int32_t kUnknownLength = -1;

struct PlaylistEntry;

// Reads the length and tag of the entry's file and sets infoKnown. A name
// that cannot be opened (a URL, a missing file) leaves the entry untouched.
void readEntryInfo(PlaylistEntry& entry);

// The ID3v1 tag at the end of an open file: 1 and valid set when there is
// one, else 0 with valid 0 and empty fields.
int32_t readId3v1(int handle, TagInfo& tag);

// Tag fields from an ID3v2.3 or 2.4 tag at the start of an open file: 1 when
// one was found and read, else 0 (the tag is left as it was).
int32_t readId3v2(int handle, TagInfo& tag);

// Estimated play length in milliseconds of an open file of the given size,
// or kUnknownLength.
// counted (optional): set when a Xing/VBRI frame count gave the length.
int32_t estimateLengthMs(int handle, int64_t fileSize, bool* counted = nullptr);

// "Playtime: %02d:%02d:%02d" of a length in milliseconds (whole seconds).
std::string playTimeText(int64_t milliseconds);
constexpr const char* kUnknownPlayTimeText = "Playtime: Unknown";

// Accumulates the play time of a set of entries: whole seconds of each,
// unknown as soon as one entry's length is unknown.
struct PlayTimeTotal {
  int64_t seconds = 0;
  bool unknown = false;
  void add(const PlaylistEntry& entry);
  std::string text() const;
};

}  // namespace kuv
