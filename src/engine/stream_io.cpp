#include "engine/stream_io.h"

#include <cstring>

#include "platform/file.h"

namespace kuv {

namespace {
// A regular file is read plainly. Anything else may keep a read waiting for
// ever (a FIFO whose writer stalls), so it waits in slices that end when
// the owner gives up.
long readInput(InputStream& s, uint8_t* out, size_t n) {
  if (s.regular) return platform::readSome(s.handle, out, n);
  return platform::readPolled(s.handle, out, n, s.url.abandon);
}

bool refill(InputStream& s) {
  s.bufferBase += s.bufferFill;
  s.bufferPos = 0;
  s.bufferFill = 0;
  if (s.handle < 0) return false;
  const long got = readInput(s, s.buffer, sizeof s.buffer);
  if (got <= 0) return false;
  s.bufferFill = static_cast<int32_t>(got);
  return true;
}
}  // namespace

int32_t streamRead(InputStream& s, uint8_t* out, int32_t n) {
  int32_t total = 0;
  while (total < n) {
    if (s.bufferPos == s.bufferFill && !refill(s)) break;
    int32_t take = s.bufferFill - s.bufferPos;
    if (take > n - total) take = n - total;
    std::memcpy(out + total, s.buffer + s.bufferPos, static_cast<size_t>(take));
    s.bufferPos += take;
    total += take;
  }
  return total;
}

int32_t streamPeek(InputStream& s, int32_t ahead, uint8_t* out, int32_t n) {
  if (ahead < 0 || n < 0 || ahead + n > kStreamPeekBytes) return 0;
  const int32_t want = ahead + n;
  if (s.bufferFill - s.bufferPos < want) {
    // Move what is left to the front and top the buffer up behind it.
    const int32_t left = s.bufferFill - s.bufferPos;
    std::memmove(s.buffer, s.buffer + s.bufferPos, static_cast<size_t>(left));
    s.bufferBase += s.bufferPos;
    s.bufferPos = 0;
    s.bufferFill = left;
    while (s.bufferFill < want && s.handle >= 0) {
      const long got = readInput(s, s.buffer + s.bufferFill, sizeof s.buffer - static_cast<size_t>(s.bufferFill));
      if (got <= 0) break;
      s.bufferFill += static_cast<int32_t>(got);
    }
  }
  int32_t have = s.bufferFill - s.bufferPos - ahead;
  if (have <= 0) return 0;
  if (have > n) have = n;
  std::memcpy(out, s.buffer + s.bufferPos + ahead, static_cast<size_t>(have));
  return have;
}

int streamReadByte(InputStream& s) {
  if (s.bufferPos == s.bufferFill && !refill(s)) return -1;
  return s.buffer[s.bufferPos++];
}

bool streamSeek(InputStream& s, int64_t offset) {
  if (!s.regular || s.handle < 0 || offset < 0) return false;
  if (offset >= s.bufferBase && offset <= s.bufferBase + s.bufferFill) {
    s.bufferPos = static_cast<int32_t>(offset - s.bufferBase);
    return true;
  }
  if (platform::seekTo(s.handle, offset) != offset) return false;
  s.bufferBase = offset;
  s.bufferFill = 0;
  s.bufferPos = 0;
  return true;
}

bool streamSkip(InputStream& s, int64_t n) {
  if (n <= 0) return true;
  if (s.regular) {
    const int64_t target = streamPosition(s) + n;
    return target <= s.size && streamSeek(s, target);
  }
  while (n > 0) {
    if (s.bufferPos == s.bufferFill && !refill(s)) return false;
    int64_t take = s.bufferFill - s.bufferPos;
    if (take > n) take = n;
    s.bufferPos += static_cast<int32_t>(take);
    n -= take;
  }
  return true;
}

int64_t streamPosition(const InputStream& s) { return s.bufferBase + s.bufferPos; }

}  // namespace kuv
