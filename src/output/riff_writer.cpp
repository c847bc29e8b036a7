#include "output/riff_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"

namespace kuv {

namespace {
void putLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
}  // namespace

bool riffCreate(RiffWriter& w, const std::string& path) {
  w.fd = platform::createForWrite(path);
  w.fill = 0;
  w.flushed = 0;
  w.failed = false;
  return w.fd >= 0;
}

bool riffFlush(RiffWriter& w) {
  if (w.fd < 0) return false;
  size_t done = 0;
  while (done < w.fill) {
    const ssize_t put = ::write(w.fd, w.buffer + done, w.fill - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      // Keep the account to what reached the disk; the rest is lost anyway.
      w.flushed += static_cast<int64_t>(done);
      w.fill = 0;
      w.failed = true;
      return false;
    }
    done += static_cast<size_t>(put);
  }
  w.flushed += static_cast<int64_t>(w.fill);
  w.fill = 0;
  return true;
}

bool riffWrite(RiffWriter& w, const void* data, size_t n) {
  if (w.failed) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (n > 0) {
    if (w.fill == kRiffBufferBytes && !riffFlush(w)) return false;
    size_t take = kRiffBufferBytes - w.fill;
    if (take > n) take = n;
    std::memcpy(w.buffer + w.fill, bytes, take);
    w.fill += take;
    bytes += take;
    n -= take;
  }
  return true;
}

bool riffCreateChunk(RiffWriter& w, RiffChunk& chunk, const char id[4], uint32_t size, const char* formType) {
  chunk.start = riffPosition(w);
  chunk.riff = formType != nullptr;
  uint8_t head[12];
  std::memcpy(head, id, 4);
  putLe32(head + 4, size);
  if (formType) std::memcpy(head + 8, formType, 4);
  return riffWrite(w, head, formType ? 12 : 8);
}

bool riffAscend(RiffWriter& w, const RiffChunk& chunk) {
  if (w.fd < 0 || chunk.start < 0) return false;
  // Buffered bytes go out first. Whether or not the disk takes them, the
  // position is then what the file holds.
  riffFlush(w);
  int64_t size = riffPosition(w) - chunk.start - 8;
  if (size < 0 || size > 0xFFFFFFFFll) return false;
  if (size & 1) {
    const uint8_t pad = 0;
    if (!riffWrite(w, &pad, 1) || !riffFlush(w)) {
      // No room for the pad byte: the odd last byte of a cut-off write is
      // no whole sample anyway, so the chunk loses it instead.
      if (::ftruncate(w.fd, riffPosition(w) - 1) != 0) return false;
      w.flushed = riffPosition(w) - 1;
      --size;
    }
  }
  uint8_t field[4];
  putLe32(field, static_cast<uint32_t>(size));
  for (size_t done = 0; done < 4;) {
    const ssize_t put = ::pwrite(w.fd, field + done, 4 - done, chunk.start + 4 + static_cast<int64_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

bool riffClose(RiffWriter& w) {
  if (w.fd < 0) return false;
  const bool flushed = riffFlush(w);
  const bool closed = ::close(w.fd) == 0;
  w.fd = -1;
  w.fill = 0;
  return flushed && closed;
}

}  // namespace kuv
