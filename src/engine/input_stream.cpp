#include "engine/input_stream.h"

#include <cctype>
#include <cstring>

#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "engine/stream_io.h"
#include "platform/file.h"

namespace kuv {

// ---- opening and closing --------------------------------------------------

namespace {
// A 128-byte ID3v1 tag at the end of a file is no audio.
int64_t audioEndOf(int handle, int64_t size) {
  if (size < 128) return size;
  char tag[3];
  if (platform::seekTo(handle, size - 128) != size - 128) return size;
  const long got = platform::readFully(handle, tag, 3);
  platform::seekTo(handle, 0);
  return got == 3 && std::memcmp(tag, "TAG", 3) == 0 ? size - 128 : size;
}
}  // namespace

bool openStream(InputStream& s, const std::string& name) {
  closeStream(s);
  s.isUrl = isUrlName(name);
  s.bufferBase = 0;
  s.bufferFill = 0;
  s.bufferPos = 0;
  s.atStreamStart = true;
  s.regular = false;
  if (s.isUrl) {
    const int fd = openUrl(s.url, name);
    if (fd < 0) return false;
    s.handle = fd;
    // Should this fail, reads of the pipe still work, only without the
    // slices that let a stop end a wait on a stalled server.
    (void)platform::setNonBlocking(fd);
    s.size = 1;
    s.dataEnd = 1;
    return true;
  }
  s.handle = platform::openForRead(name);
  if (s.handle < 0) return false;
  s.regular = platform::isRegularFile(s.handle);
  if (!s.regular) {
    // A FIFO, device or socket: no size, no positions, like a URL.
    s.size = 1;
    s.dataEnd = 1;
    return true;
  }
  s.size = platform::fileSize(s.handle);
  if (s.size < 0) s.size = 0;
  s.dataEnd = audioEndOf(s.handle, s.size);
  return true;
}

void closeStream(InputStream& s) {
  if (s.handle >= 0) {
    platform::closeHandle(s.handle);
    s.handle = -1;
  }
  if (s.isUrl) {
    s.url.pipeRead = -1;  // closed above, before the download is told to stop
    closeUrl(s.url);
  }
  s.regular = false;
  s.bufferFill = 0;
  s.bufferPos = 0;
  s.index.reset();
  s.primeFrames = 0;
}

// ---- positions and times ---------------------------------------------------

namespace {
// VBR streams whose tag gives the frame count are measured in frames read;
// everything else by the file position.
bool countsFrames(const InputStream& s) { return isVbrTag(s.tag) && s.tag.frames > 0; }

// A Xing table maps the playing time to byte positions without a walk.
bool seeksByToc(const InputStream& s) { return countsFrames(s) && s.tag.kind == kXingTag && s.tag.hasToc; }

uint32_t clampFrames(double frames) {
  if (!(frames > 0)) return 0;
  return frames >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(frames);
}

// Frames and positions convert with the measures of the track's first audio
// frame, never those of the frame playing: in a stream of varying bit rate a
// frame number then maps to one offset, and that offset back to the same
// frame, whatever played before.
FrameContext firstFrameMeasures(const InputStream& s, const FrameContext& ctx) {
  if (s.reference == 0) return ctx;
  FrameContext first;
  decodeHeaderFields(s.reference, first);
  first.freeFrameBytes = s.freeFrameBytes;
  return first;
}
}  // namespace

uint32_t totalFrames(const InputStream& s, const FrameContext& ctx) {
  if (!s.regular) return 0;
  if (s.index) return clampFrames(static_cast<double>(s.index->offsets.size()));
  if (s.tag.kind != kNoTag && s.tag.frames > 0) return s.tag.frames;
  return clampFrames(static_cast<double>(s.dataEnd - s.dataStart) / bytesPerFrame(firstFrameMeasures(s, ctx)));
}

uint32_t currentFrame(const InputStream& s, const FrameContext& ctx) {
  if (!s.regular) return 0;
  if (s.index || countsFrames(s)) return s.framesRead;
  return clampFrames(static_cast<double>(streamPosition(s) - s.dataStart) / bytesPerFrame(firstFrameMeasures(s, ctx)));
}

uint32_t currentSeconds(const InputStream& s, const FrameContext& ctx) {
  if (!s.regular) return 0;
  return secondsAfterFrames(firstFrameMeasures(s, ctx), currentFrame(s, ctx));
}

// ---- seeking ----------------------------------------------------------------

bool seekToMilliseconds(InputStream& s, FrameContext& ctx, uint32_t milliseconds) {
  if (!s.regular) return false;
  return seekToFrame(s, ctx, frameAtMilliseconds(firstFrameMeasures(s, ctx), milliseconds));
}

namespace {
constexpr int32_t kSeekSearchLimit = 32767;

bool matchesReference(const InputStream& s, uint32_t word) {
  return ((word ^ s.reference) & kResyncMask) == 0 && usableBitRate(word, s.reference);
}

// A seek lands anywhere, frame bodies included, and bodies hold words that
// look like headers: a header counts only when the frame it announces ends
// where another header of the stream begins, or where the input ends.
bool confirmedByNextHeader(InputStream& s, uint32_t word) {
  const int32_t body = announcedBodyLength(word);
  if (body <= 0) return body == 0;
  uint8_t next[4];
  if (streamPeek(s, body, next, 4) < 4) return true;
  return matchesReference(s, bigEndian32(next));
}

// From the current position, finds the next header that matches the
// reference and leaves the position on it.
bool findReferenceHeader(InputStream& s) {
  uint8_t bytes[4];
  if (streamRead(s, bytes, 4) != 4) return false;
  uint32_t word = bigEndian32(bytes);
  for (int32_t shifted = 0; !matchesReference(s, word) || !confirmedByNextHeader(s, word); ++shifted) {
    const int byte = streamReadByte(s);
    if (byte < 0 || shifted >= kSeekSearchLimit) return false;
    word = (word << 8) | static_cast<uint32_t>(byte);
  }
  return streamSeek(s, streamPosition(s) - 4);
}

// Walks frame headers from the first audio frame to frame n, so that a
// stream of varying bit rate lands on exactly the frame asked for.
bool walkToFrame(InputStream& s, const FrameContext& ctx, uint32_t n) {
  if (!streamSeek(s, s.dataStart)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    if (!findReferenceHeader(s)) return false;
    uint8_t bytes[4];
    if (streamRead(s, bytes, 4) != 4) return false;
    const uint32_t word = bigEndian32(bytes);
    const int32_t body =
        frameBodyLength(ctx.layer, ctx.lsf, ctx.sampleRateIndex, headerBitRateIndex(word), headerPadding(word));
    if (body <= 0 || !streamSkip(s, body)) return false;
  }
  return findReferenceHeader(s);
}

// Where frame n lies by the Xing table: entry i holds the byte position of
// i percent of the playing time in 256ths of the stream, linear in between.
// The positions are spread over the audio frames actually present, not over
// the tag's byte count, which may not match the file.
int64_t tocOffset(const InputStream& s, uint32_t n) {
  const double percent = 100.0 * n / s.tag.frames;
  int32_t entry = static_cast<int32_t>(percent);
  if (entry > 99) entry = 99;
  const double lower = s.tag.toc[entry];
  const double upper = entry < 99 ? s.tag.toc[entry + 1] : 256.0;
  const double share = (lower + (upper - lower) * (percent - entry)) / 256.0;
  return s.dataStart + static_cast<int64_t>(share * static_cast<double>(s.dataEnd - s.dataStart));
}
}  // namespace

bool seekToFrame(InputStream& s, FrameContext& ctx, uint32_t n) {
  if (!s.regular || s.handle < 0 || s.reference == 0) return false;
  s.primeFrames = 0;
  if (s.index) {
    // Straight to a frame's header, a few frames early: the frames before
    // fill the bit reservoir the asked one may reach back into.
    const std::vector<int64_t>& at = s.index->offsets;
    if (n >= at.size()) return false;
    const uint32_t first = n > kSeekPrimeFrames ? n - kSeekPrimeFrames : 0;
    if (!streamSeek(s, at[first])) return false;
    clearFrameStore(s.store);
    pointBitReader(s.bits, s.store, slotStart(s.store.currentSlot));
    s.framesRead = first;
    s.primeFrames = n - first;
    return true;
  }
  const int64_t resume = streamPosition(s);
  const double bpf = bytesPerFrame(firstFrameMeasures(s, ctx));
  bool found;
  if (countsFrames(s)) {
    // No seek into the last four frames.
    if (static_cast<uint64_t>(n) + 4 > s.tag.frames) return false;
    found = seeksByToc(s) ? streamSeek(s, tocOffset(s, n)) && findReferenceHeader(s) : walkToFrame(s, ctx, n);
  } else {
    const int64_t offset = s.dataStart + static_cast<int64_t>(bpf * n);
    if (static_cast<double>(s.dataEnd) - 4 * bpf < static_cast<double>(offset)) return false;
    found = streamSeek(s, offset) && findReferenceHeader(s);
  }
  if (!found) {
    streamSeek(s, resume);
    return false;
  }
  const int64_t landing = streamPosition(s);
  // Two frames are read and dropped; the store then starts clean, so the
  // next frame decodes without a reservoir from before the seek.
  for (int i = 0; i < 2; ++i) {
    if (!readFrame(s, ctx)) break;
  }
  clearFrameStore(s.store);
  pointBitReader(s.bits, s.store, slotStart(s.store.currentSlot));
  // A tagged stream counts on from the frame asked for; the others take
  // their frame from the position, by the same rule as the seek.
  s.framesRead = countsFrames(s) ? n + 2 : clampFrames(static_cast<double>(landing - s.dataStart) / bpf) + 2;
  return true;
}

}  // namespace kuv
