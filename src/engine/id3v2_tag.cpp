#include "engine/id3v2_tag.h"

#include <cstring>
#include <functional>
#include <vector>

namespace kuv {

const char* const kGenreNames[kGenreCount] = {
    "Blues",      "Classic Rock", "Country", "Dance",      "Disco",       "Funk",       "Grunge",      "Hip-Hop",
    "Jazz",       "Metal",        "New Age", "Oldies",     "Other",       "Pop",        "R&B",         "Rap",
    "Reggae",     "Rock",         "Techno",  "Industrial", "Alternative", "Ska",        "Death Metal", "Pranks",
    "Soundtrack", "Euro-Techno",  "Ambient", "Trip-Hop",   "Vocal",       "Jazz+Funk",  "Fusion",      "Trance",
    "Classical",  "Instrumental", "Acid",    "House",      "Game",        "Sound Clip", "Gospel",      "Noise",
    "AlternRock", "Bass",         "Soul",    "Punk",       "Unknown",
};

}  // namespace kuv

namespace kuv::id3v2 {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// One character of UTF-8 input. Overlong forms, surrogates, values past
// U+10FFFF and cut sequences give U+FFFD and consume one byte, so the next
// byte is looked at afresh.
uint32_t nextUtf8(const uint8_t* p, size_t n, size_t& used) {
  used = 1;
  const uint8_t lead = p[0];
  if (lead < 0x80) return lead;
  size_t extra;
  uint32_t cp;
  uint32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07u, minimum = 0x10000;
  } else {
    return kReplacement;
  }
  if (extra >= n) return kReplacement;
  for (size_t i = 1; i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (p[i] & 0x3Fu);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  used = extra + 1;
  return cp;
}

size_t utf8SequenceLength(uint8_t lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

uint32_t syncsafe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0] & 0x7F) << 21) | (static_cast<uint32_t>(p[1] & 0x7F) << 14) |
         (static_cast<uint32_t>(p[2] & 0x7F) << 7) | (p[3] & 0x7Fu);
}

bool isSyncsafe(const uint8_t* p) { return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0; }

uint32_t plain32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

bool isFrameIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool isFrameId(const uint8_t* p) {
  return isFrameIdChar(p[0]) && isFrameIdChar(p[1]) && isFrameIdChar(p[2]) && isFrameIdChar(p[3]);
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Up to three digits and nothing else; -1 otherwise (longer numbers are no
// genre of ours either).
int32_t smallNumber(const std::string& text) {
  if (text.empty() || text.size() > 3) return -1;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

void setGenreIndex(int32_t index, TagInfo& tag) {
  tag.genreIndex = index;
  copyUtf8(tag.genreName, kTagGenreBytes, kGenreNames[index], kTagGenreBytes);
}

void setGenreText(const std::string& name, TagInfo& tag) {
  if (name.empty()) {
    setGenreIndex(kUnknownGenre, tag);
    return;
  }
  for (int32_t i = 0; i < kUnknownGenre; ++i) {
    if (equalsIgnoringCase(name, kGenreNames[i])) {
      setGenreIndex(i, tag);
      return;
    }
  }
  tag.genreIndex = kUnknownGenre;
  copyUtf8(tag.genreName, kTagGenreBytes, name, kTagGenreBytes);
}

enum Field : int32_t { kTitle, kArtist, kAlbum, kYear, kComment, kGenre, kFieldCount, kOtherFrame = -1 };

Field fieldOf(const uint8_t* id) {
  if (std::memcmp(id, "TIT2", 4) == 0) return kTitle;
  if (std::memcmp(id, "TPE1", 4) == 0) return kArtist;
  if (std::memcmp(id, "TALB", 4) == 0) return kAlbum;
  // Writers mix the two year frames across versions; either will do.
  if (std::memcmp(id, "TYER", 4) == 0 || std::memcmp(id, "TDRC", 4) == 0) return kYear;
  if (std::memcmp(id, "COMM", 4) == 0) return kComment;
  if (std::memcmp(id, "TCON", 4) == 0) return kGenre;
  return kOtherFrame;
}

// Enough characters of any field; the genre needs up to 32 bytes, and a
// numeric reference in front of its name.
constexpr size_t kDecodeChars = 64;

struct Collected {
  std::string text[kFieldCount];
  bool have[kFieldCount] = {};
  bool commentFinal = false;
};

void takeFrame(Field field, const uint8_t* data, size_t length, Collected& out) {
  if (length < 1) return;
  const int32_t encoding = data[0];
  if (field != kComment) {
    if (out.have[field]) return;
    std::string text = decodeText(data + 1, length - 1, encoding, kDecodeChars);
    if (text.empty()) return;
    out.text[field] = std::move(text);
    out.have[field] = true;
    return;
  }
  // Comment: language, short description, text. Players keep their own
  // data in described comments, so one without a description wins.
  if (out.commentFinal || length < 4) return;
  const size_t description = skipString(data + 4, length - 4, encoding);
  const bool plain = decodeText(data + 4, length - 4, encoding, 1).empty();
  if (out.have[kComment] && !plain) return;
  const size_t at = 4 + description;
  std::string text = decodeText(data + at, length - at, encoding, kDecodeChars);
  if (text.empty()) return;
  out.text[kComment] = std::move(text);
  out.have[kComment] = true;
  out.commentFinal = plain;
}

struct FrameWalk {
  const uint8_t* body;
  size_t length;  // bytes at hand
  bool complete;  // the whole declared tag is at hand
};

// Whether a frame size from `start` ends where the next frame, the padding
// or the tag's end begins. Past the bytes at hand nothing can be told.
bool landsOnFrameBoundary(const FrameWalk& walk, size_t at) {
  if (at == walk.length) return true;
  if (at > walk.length) return !walk.complete;
  if (walk.body[at] == 0) return true;
  if (at + 4 > walk.length) return !walk.complete;
  return isFrameId(walk.body + at);
}

}  // namespace

bool parseHeader(const uint8_t* bytes, size_t length, Header& header) {
  if (bytes == nullptr || length < kHeaderBytes || std::memcmp(bytes, "ID3", 3) != 0 || bytes[3] == 0xFF ||
      bytes[4] == 0xFF || !isSyncsafe(bytes + 6)) {
    return false;
  }
  header.major = bytes[3];
  header.flags = bytes[5];
  header.size = syncsafe32(bytes + 6);
  return true;
}

std::string decodeText(const uint8_t* bytes, size_t length, int32_t encoding, size_t maxChars) {
  std::string out;
  if (bytes == nullptr) return out;
  size_t chars = 0;
  switch (encoding) {
    case kLatin1:
      for (size_t i = 0; i < length && bytes[i] != 0 && chars < maxChars; ++i, ++chars) appendUtf8(out, bytes[i]);
      break;
    case kUtf8: {
      size_t i = 0;
      if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
      while (i < length && bytes[i] != 0 && chars < maxChars) {
        size_t used;
        appendUtf8(out, nextUtf8(bytes + i, length - i, used));
        i += used;
        ++chars;
      }
      break;
    }
    case kUtf16Bom:
    case kUtf16Be: {
      // A string without its byte order mark is taken as little-endian, the
      // order of the writers that leave the mark out.
      bool bigEndian = encoding == kUtf16Be;
      size_t i = 0;
      if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        bigEndian = true;
        i = 2;
      } else if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        bigEndian = false;
        i = 2;
      }
      auto unit = [&](size_t at) -> uint32_t {
        return bigEndian ? (static_cast<uint32_t>(bytes[at]) << 8) | bytes[at + 1]
                         : (static_cast<uint32_t>(bytes[at + 1]) << 8) | bytes[at];
      };
      while (i + 1 < length && chars < maxChars) {
        const uint32_t u = unit(i);
        if (u == 0) break;
        i += 2;
        ++chars;
        if (u >= 0xD800 && u <= 0xDBFF) {
          if (i + 1 < length) {
            const uint32_t low = unit(i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
              i += 2;
              appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
              continue;
            }
          }
          appendUtf8(out, kReplacement);
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
          appendUtf8(out, kReplacement);
        } else {
          appendUtf8(out, u);
        }
      }
      break;
    }
    default:
      break;
  }
  return out;
}

size_t skipString(const uint8_t* bytes, size_t length, int32_t encoding) {
  if (bytes == nullptr) return 0;
  if (encoding == kUtf16Bom || encoding == kUtf16Be) {
    for (size_t i = 0; i + 1 < length; i += 2) {
      if (bytes[i] == 0 && bytes[i + 1] == 0) return i + 2;
    }
    return length;
  }
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] == 0) return i + 1;
  }
  return length;
}

size_t removeUnsynchronisation(uint8_t* bytes, size_t length) {
  size_t written = 0;
  for (size_t read = 0; read < length; ++read) {
    bytes[written++] = bytes[read];
    if (bytes[read] == 0xFF && read + 1 < length && bytes[read + 1] == 0) ++read;
  }
  return written;
}

void copyUtf8(char* dest, size_t destBytes, const std::string& text, size_t maxChars) {
  if (dest == nullptr || destBytes == 0) return;
  size_t used = 0;
  size_t chars = 0;
  size_t i = 0;
  while (i < text.size() && chars < maxChars) {
    size_t n = utf8SequenceLength(static_cast<uint8_t>(text[i]));
    if (n > text.size() - i) n = text.size() - i;
    if (used + n + 1 > destBytes) break;
    std::memcpy(dest + used, text.data() + i, n);
    used += n;
    i += n;
    ++chars;
  }
  std::memset(dest + used, 0, destBytes - used);
}

void applyGenre(const std::string& text, TagInfo& tag) {
  // "((" stands for a name that itself begins with "(".
  if (text.size() >= 2 && text[0] == '(' && text[1] == '(') {
    setGenreText(text.substr(1), tag);
    return;
  }
  if (!text.empty() && text[0] == '(') {
    const size_t close = text.find(')');
    if (close != std::string::npos) {
      const std::string inside = text.substr(1, close - 1);
      const std::string rest = text.substr(close + 1);
      const int32_t number = smallNumber(inside);
      if (number >= 0 && number < kUnknownGenre) {
        setGenreIndex(number, tag);
      } else if (!rest.empty()) {
        setGenreText(rest, tag);
      } else if (inside == "RX") {
        setGenreText("Remix", tag);
      } else if (inside == "CR") {
        setGenreText("Cover", tag);
      } else if (number >= 0) {
        setGenreIndex(kUnknownGenre, tag);
      } else {
        setGenreText(text, tag);
      }
      return;
    }
  }
  const int32_t number = smallNumber(text);
  if (number >= 0) {
    setGenreIndex(number < kUnknownGenre ? number : kUnknownGenre, tag);
    return;
  }
  setGenreText(text, tag);
}

bool forEachFrame(const uint8_t* bytes, size_t length, const std::function<bool(const uint8_t* id)>& wanted,
                  const std::function<void(const uint8_t* id, const uint8_t* data, size_t length)>& take) {
  Header header;
  if (!parseHeader(bytes, length, header) || (header.major != 3 && header.major != 4)) return false;
  const bool v4 = header.major == 4;
  const size_t declared = header.size;
  size_t atHand = length - kHeaderBytes < declared ? length - kHeaderBytes : declared;
  if (atHand > kMaxTagBytes) atHand = kMaxTagBytes;
  std::vector<uint8_t> body(bytes + kHeaderBytes, bytes + kHeaderBytes + atHand);
  size_t bodyLength = body.size();
  const bool tagUnsynchronised = (header.flags & kUnsynchronised) != 0;
  // Version 3 unsynchronises the whole tag, sizes counting the restored
  // bytes; version 4 does it frame by frame.
  if (!v4 && tagUnsynchronised) bodyLength = removeUnsynchronisation(body.data(), bodyLength);
  const FrameWalk walk{body.data(), bodyLength, atHand == declared};

  size_t pos = 0;
  if (header.flags & kExtendedHeader) {
    if (bodyLength < 4) return false;
    uint64_t skip;
    if (v4) {
      if (!isSyncsafe(body.data())) return false;
      skip = syncsafe32(body.data());  // counts its own size field
      if (skip < 6) return false;
    } else {
      skip = 4 + static_cast<uint64_t>(plain32(body.data()));
    }
    if (skip > bodyLength) return false;
    pos = static_cast<size_t>(skip);
  }

  std::vector<uint8_t> restored;
  while (pos + kHeaderBytes <= bodyLength) {
    const uint8_t* frame = body.data() + pos;
    if (!isFrameId(frame)) break;  // padding, or damage: nothing sane follows
    const uint32_t plainSize = plain32(frame + 4);
    size_t size = plainSize;
    if (v4 && isSyncsafe(frame + 4)) {
      size = syncsafe32(frame + 4);
      // Early version 4 writers stored plain sizes; take one when only it
      // leads to the next frame.
      if (size != plainSize && !landsOnFrameBoundary(walk, pos + kHeaderBytes + size) &&
          landsOnFrameBoundary(walk, pos + kHeaderBytes + plainSize)) {
        size = plainSize;
      }
    }
    if (size > bodyLength - pos - kHeaderBytes) break;  // crosses the end of what was read
    const size_t next = pos + kHeaderBytes + size;
    const uint8_t format = frame[9];
    if (!wanted(frame)) {
      pos = next;
      continue;
    }
    size_t skip = 0;
    bool usable = true;
    bool frameUnsynchronised = false;
    if (v4) {
      usable = (format & 0x0C) == 0;  // compressed or encrypted
      if (format & 0x40) skip += 1;   // group identifier
      if (format & 0x01) skip += 4;   // data length indicator
      frameUnsynchronised = tagUnsynchronised || (format & 0x02) != 0;
    } else {
      usable = (format & 0xC0) == 0;  // compressed or encrypted
      if (format & 0x20) skip += 1;   // group identifier
    }
    if (usable && skip <= size) {
      const uint8_t* data = frame + kHeaderBytes + skip;
      size_t dataLength = size - skip;
      if (frameUnsynchronised) {
        restored.assign(data, data + dataLength);
        dataLength = removeUnsynchronisation(restored.data(), dataLength);
        data = restored.data();
      }
      take(frame, data, dataLength);
    }
    pos = next;
  }
  return true;
}

bool parseTag(const uint8_t* bytes, size_t length, TagInfo& tag) {
  Collected collected;
  const bool read = forEachFrame(
      bytes, length, [](const uint8_t* id) { return fieldOf(id) != kOtherFrame; },
      [&](const uint8_t* id, const uint8_t* data, size_t dataLength) {
        takeFrame(fieldOf(id), data, dataLength, collected);
      });
  if (!read) return false;
  bool found = false;
  for (bool have : collected.have) found = found || have;
  if (!found) return false;
  TagInfo out{};
  out.valid = 1;
  copyUtf8(out.title, kTagTextBytes, collected.text[kTitle], kTagTextChars);
  copyUtf8(out.artist, kTagTextBytes, collected.text[kArtist], kTagTextChars);
  copyUtf8(out.album, kTagTextBytes, collected.text[kAlbum], kTagTextChars);
  copyUtf8(out.year, kTagYearBytes, collected.text[kYear], kTagYearChars);
  copyUtf8(out.comment, kTagTextBytes, collected.text[kComment], kTagTextChars);
  applyGenre(collected.text[kGenre], out);
  tag = out;
  return true;
}

}  // namespace kuv::id3v2
