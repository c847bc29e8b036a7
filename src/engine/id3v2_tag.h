// ID3v2.3/2.4 tag reading and the text conversions the tag readers share,
// as pure functions over byte buffers. Every size in a tag is untrusted:
// nothing here reads outside the buffer it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/tag_info.h"

namespace kuv::id3v2 {

constexpr size_t kHeaderBytes = 10;
// Text frames sit near the start of a tag; a larger tag (pictures) is read
// only this far.
constexpr size_t kMaxTagBytes = 1u << 20;

// Tag header flags.
constexpr uint8_t kUnsynchronised = 0x80;
constexpr uint8_t kExtendedHeader = 0x40;
constexpr uint8_t kFooterPresent = 0x10;

struct Header {
  int32_t major = 0;  // 3 or 4 for the tags we read
  uint8_t flags = 0;
  uint32_t size = 0;  // bytes after the header, footer excluded
};

// "ID3", version bytes other than 0xFF and a syncsafe size: true and the
// fields, whatever the major version.
bool parseHeader(const uint8_t* bytes, size_t length, Header& header);

// Reads the fields of a version 3 or 4 tag; `bytes` starts with the header
// and may end early (a tag cut at kMaxTagBytes or a damaged file). True when
// at least one field has a text; `tag` is then overwritten whole (genre
// "Unknown" unless the tag names one), else left as it was.
bool parseTag(const uint8_t* bytes, size_t length, TagInfo& tag);

// Walks the frames of a version 3 or 4 tag (`bytes` as for parseTag): for
// each frame whose four-character id `wanted` accepts, `take` gets its data
// with unsynchronisation undone and the group and length fields skipped.
// Compressed and encrypted frames are passed over. False when the bytes
// hold no such tag.
bool forEachFrame(const uint8_t* bytes, size_t length, const std::function<bool(const uint8_t* id)>& wanted,
                  const std::function<void(const uint8_t* id, const uint8_t* data, size_t length)>& take);

// Text encodings of ID3v2 frames.
enum TextEncoding : int32_t { kLatin1 = 0, kUtf16Bom = 1, kUtf16Be = 2, kUtf8 = 3 };

// Decodes one string up to its terminator (or the end of the bytes) into
// UTF-8, at most maxChars characters. Broken sequences become U+FFFD; an
// unknown encoding gives an empty text.
std::string decodeText(const uint8_t* bytes, size_t length, int32_t encoding, size_t maxChars);

// Offset just past the terminator of the string at the start of `bytes`
// (the length when there is none). UTF-16 terminators are two zero bytes at
// an even offset.
size_t skipString(const uint8_t* bytes, size_t length, int32_t encoding);

// Removes the zero byte of every 0xFF 0x00 pair in place; the new length.
size_t removeUnsynchronisation(uint8_t* bytes, size_t length);

// Copies whole characters of a UTF-8 text while they fit both maxChars and
// destBytes (terminator included); the rest of dest is zero-filled.
void copyUtf8(char* dest, size_t destBytes, const std::string& text, size_t maxChars);

// Sets genreIndex and genreName from a TCON text ("(17)", "17", "(17)Rock",
// "Rock", any other name).
void applyGenre(const std::string& text, TagInfo& tag);

}  // namespace kuv::id3v2
