// The fields a file's tag gives a playlist: title, artist, album, year,
// comment and genre. Read by the tag parsers of the engine (ID3v2) and of
// the playlist (ID3v1).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kuv {

// Tag texts are UTF-8. A field holds at most 30 characters (the year 4), and
// its buffer has room for them at four bytes each; longer texts (ID3v2) are
// cut at a character boundary.
constexpr size_t kTagTextChars = 30;
constexpr size_t kTagYearChars = 4;
constexpr size_t kTagTextBytes = kTagTextChars * 4 + 1;
constexpr size_t kTagYearBytes = kTagYearChars * 4 + 1;
constexpr size_t kTagGenreBytes = 33;

// ID3v1 genres 0..43, then "Unknown" for every higher number.
constexpr int32_t kGenreCount = 45;
constexpr int32_t kUnknownGenre = 44;
extern const char* const kGenreNames[kGenreCount];

struct TagInfo {
  int32_t valid;  // 1 when the file has a tag and the fields were filled
  char title[kTagTextBytes];
  char artist[kTagTextBytes];
  char album[kTagTextBytes];
  char year[kTagYearBytes];
  char comment[kTagTextBytes];
  char genreName[kTagGenreBytes];
  int32_t genreIndex;  // 0..44
};

}  // namespace kuv
