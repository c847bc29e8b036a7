#include "playlist/file_info.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config/settings.h"
#include "decoder/bit_reader.h"
#include "decoder/frame_context.h"
#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "decoder/vbr_tag.h"
#include "engine/frame_index.h"
#include "engine/id3v2_tag.h"
#include "engine/input_stream.h"
#include "platform/file.h"
#include "playlist/playlist.h"

namespace kuv {

namespace {

constexpr int64_t kId3v1Bytes = 128;
// How far past the tags the first frame header is looked for.
constexpr int64_t kHeaderWindow = 65536;

bool readAt(int handle, int64_t offset, void* buffer, size_t n) {
  return platform::seekTo(handle, offset) == offset && platform::readFully(handle, buffer, n) == static_cast<long>(n);
}

// "TAG", in any case: some writers used lower case.
bool isId3v1Marker(const uint8_t* p) {
  return (p[0] == 'T' || p[0] == 't') && (p[1] == 'A' || p[1] == 'a') && (p[2] == 'G' || p[2] == 'g');
}

bool hasId3v1(int handle, int64_t fileSize) {
  uint8_t marker[3];
  return fileSize >= kId3v1Bytes && readAt(handle, fileSize - kId3v1Bytes, marker, 3) && isId3v1Marker(marker);
}

// A fixed-width ID3v1 text: trailing spaces of the whole field go, the text
// ends at the first zero byte, and the bytes are Latin-1.
void copyId3v1Field(const uint8_t* raw, size_t width, char* dest, size_t destBytes) {
  uint8_t field[30];
  std::memcpy(field, raw, width);
  for (size_t i = width; i-- > 0 && field[i] == ' ';) field[i] = 0;
  id3v2::copyUtf8(dest, destBytes, id3v2::decodeText(field, width, id3v2::kLatin1, width), width);
}

int32_t clampMs(uint64_t ms) { return ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms); }

// Real files carry one tag, rarely a few; a file of nothing but empty tag
// headers would otherwise be read ten bytes at a time.
constexpr int32_t kMaxLeadingTags = 1024;

// Offset of the first byte after the ID3v2 tags at the start of the file;
// -1 when a tag claims more than the file holds, or there are too many.
int64_t skipId3v2Tags(int handle, int64_t fileSize) {
  int64_t start = 0;
  for (int32_t count = 0; start + static_cast<int64_t>(id3v2::kHeaderBytes) <= fileSize; ++count) {
    uint8_t head[id3v2::kHeaderBytes];
    id3v2::Header header;
    if (!readAt(handle, start, head, sizeof head) || !id3v2::parseHeader(head, sizeof head, header)) break;
    int64_t total = static_cast<int64_t>(id3v2::kHeaderBytes) + header.size;
    if (header.flags & id3v2::kFooterPresent) total += static_cast<int64_t>(id3v2::kHeaderBytes);
    if (start + total > fileSize || count == kMaxLeadingTags) return -1;
    start += total;
  }
  return start;
}

// The frame reader's rule for a first header. `at` is the header's offset
// in `window`, which starts at file offset `base`.
bool confirmedByNextHeader(int handle, int64_t fileSize, const std::vector<uint8_t>& window, int64_t base, int64_t at,
                           uint32_t word) {
  const int32_t body = announcedBodyLength(word);
  if (body <= 0) return body == 0;
  const int64_t next = at + 4 + body;
  if (base + next + 4 > fileSize) return true;
  uint8_t bytes[4];
  if (next + 4 <= static_cast<int64_t>(window.size())) {
    std::memcpy(bytes, window.data() + next, 4);
  } else if (!readAt(handle, base + next, bytes, 4)) {
    return true;
  }
  return confirmsFirstHeader(word, bigEndian32(bytes));
}

std::string formatSeconds(int64_t seconds) {
  char text[80];
  std::snprintf(text, sizeof text, "Playtime: %02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace

int32_t readId3v1(int handle, TagInfo& tag) {
  TagInfo out{};
  tag = out;
  const int64_t size = platform::fileSize(handle);
  uint8_t raw[kId3v1Bytes];
  if (size < kId3v1Bytes || !readAt(handle, size - kId3v1Bytes, raw, sizeof raw) || !isId3v1Marker(raw)) return 0;
  copyId3v1Field(raw + 3, 30, out.title, sizeof out.title);
  copyId3v1Field(raw + 33, 30, out.artist, sizeof out.artist);
  copyId3v1Field(raw + 63, 30, out.album, sizeof out.album);
  copyId3v1Field(raw + 93, 4, out.year, sizeof out.year);
  copyId3v1Field(raw + 97, 30, out.comment, sizeof out.comment);
  const int32_t genre = raw[127] >= kUnknownGenre ? kUnknownGenre : raw[127];
  out.genreIndex = genre;
  id3v2::copyUtf8(out.genreName, sizeof out.genreName, kGenreNames[genre], sizeof out.genreName);
  out.valid = 1;
  tag = out;
  return 1;
}

int32_t readId3v2(int handle, TagInfo& tag) {
  uint8_t head[id3v2::kHeaderBytes];
  id3v2::Header header;
  if (!readAt(handle, 0, head, sizeof head) || !id3v2::parseHeader(head, sizeof head, header) ||
      (header.major != 3 && header.major != 4)) {
    return 0;
  }
  const size_t want = header.size < id3v2::kMaxTagBytes ? header.size : id3v2::kMaxTagBytes;
  std::vector<uint8_t> bytes(id3v2::kHeaderBytes + want);
  std::memcpy(bytes.data(), head, sizeof head);
  const long got = platform::readFully(handle, bytes.data() + id3v2::kHeaderBytes, want);
  if (got < 0) return 0;
  bytes.resize(id3v2::kHeaderBytes + static_cast<size_t>(got));
  return id3v2::parseTag(bytes.data(), bytes.size(), tag) ? 1 : 0;
}

int32_t estimateLengthMs(int handle, int64_t fileSize, bool* counted) {
  if (counted) *counted = false;
  if (fileSize < 4) return kUnknownLength;
  const int64_t start = skipId3v2Tags(handle, fileSize);
  if (start < 0) return kUnknownLength;

  // The window holds a whole frame past its last search position, so the
  // confirming header and a Xing frame's body are usually at hand.
  int64_t want = fileSize - start;
  if (want > kHeaderWindow + kSlotBytes + 8) want = kHeaderWindow + kSlotBytes + 8;
  std::vector<uint8_t> window(static_cast<size_t>(want));
  if (platform::seekTo(handle, start) != start) return kUnknownLength;
  const long got = platform::readFully(handle, window.data(), window.size());
  if (got < 4) return kUnknownLength;
  window.resize(static_cast<size_t>(got));

  int64_t at = -1;
  uint32_t word = 0;
  for (int64_t i = 0; i + 4 <= got && i <= kHeaderWindow; ++i) {
    const uint32_t candidate = bigEndian32(window.data() + i);
    // Like the frame reader, the search passes over runs of 0xFF bytes; only
    // the very first word may start with them.
    if (i > 0 && (candidate & 0xFFFF0000u) == 0xFFFF0000u) continue;
    if (isPlausibleHeader(candidate) && confirmedByNextHeader(handle, fileSize, window, start, i, candidate)) {
      at = i;
      word = candidate;
      break;
    }
  }
  if (at < 0) return kUnknownLength;

  FrameContext ctx;
  decodeHeaderFields(word, ctx);
  const int32_t kbps = bitRateKbps(ctx.lsf, ctx.layer, ctx.bitRateIndex);
  if (kbps <= 0 || ctx.sampleRateIndex < 0 || ctx.sampleRateIndex > 8) return kUnknownLength;  // free format

  const int32_t body = frameBodyLength(ctx.layer, ctx.lsf, ctx.sampleRateIndex, ctx.bitRateIndex, ctx.padding);
  const int64_t bodyAtHand = got - (at + 4);
  VbrTag vbr;
  if (body > 0 &&
      parseVbrTag(window.data() + at + 4, static_cast<int32_t>(body < bodyAtHand ? body : bodyAtHand), ctx, vbr) &&
      vbr.frames > 0) {
    uint64_t samples = static_cast<uint64_t>(vbr.frames) * static_cast<uint64_t>(samplesPerFrame(ctx));
    // Played gaplessly, the encoder's delay and padding are not heard.
    const LameTag& lame = vbr.lame;
    if (ctx.layer == 3 && lame.present && lame.delayUsable && sharedSetting(settings.Gapless) != 0)
      samples -= std::min<uint64_t>(samples, static_cast<uint64_t>(lame.encoderDelay) + lame.encoderPadding);
    if (counted) *counted = true;
    return clampMs(samples * 1000u / static_cast<uint64_t>(kSampleRates[ctx.sampleRateIndex]));
  }

  int64_t audioBytes = fileSize - (start + at);
  if (hasId3v1(handle, fileSize)) audioBytes -= kId3v1Bytes;
  if (audioBytes < 0) audioBytes = 0;
  const uint64_t seconds = static_cast<uint64_t>(audioBytes) / (static_cast<uint64_t>(kbps) * 125u);
  return clampMs(seconds * 1000u);
}

void readEntryInfo(PlaylistEntry& entry) {
  if (entry.path.find("://") != std::string::npos) return;
  // Only regular files: opening a FIFO or a device could block or have
  // side effects.
  struct stat status;
  if (::stat(entry.path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return;
  const int handle = platform::openForRead(entry.path);
  if (handle == platform::kInvalidHandle) return;
  const int64_t size = platform::fileSize(handle);
  bool counted = false;
  entry.lengthMs = estimateLengthMs(handle, size, &counted);
  // Without a frame count the first frame only guesses (a VBR file, or
  // files joined at other bit rates): the frames are counted, as playback
  // counts them.
  FrameIndex index;
  if (!counted && entry.lengthMs != kUnknownLength && scanFrameIndex(entry.path, index, nullptr))
    entry.lengthMs = static_cast<int32_t>(std::min<int64_t>(frameIndexMs(index), INT32_MAX));
  TagInfo tag{};
  if (readId3v1(handle, tag) == 0) readId3v2(handle, tag);
  entry.tag = tag;
  entry.infoKnown = 1;
  platform::closeHandle(handle);
}

std::string playTimeText(int64_t milliseconds) {
  if (milliseconds < 0) return kUnknownPlayTimeText;
  return formatSeconds(milliseconds / 1000);
}

void PlayTimeTotal::add(const PlaylistEntry& entry) {
  if (!entry.infoKnown || entry.lengthMs < 0) {
    unknown = true;
    return;
  }
  seconds += entry.lengthMs / 1000;
}

std::string PlayTimeTotal::text() const { return unknown ? kUnknownPlayTimeText : formatSeconds(seconds); }

}  // namespace kuv
