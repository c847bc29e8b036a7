// A buffered writer for RIFF files: chunks are created with a provisional
// size and patched when they are closed ("ascended"), with the pad byte an
// odd-sized chunk needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kuv {

constexpr size_t kRiffBufferBytes = 65536;

struct RiffChunk {
  int64_t start = -1;  // file offset of the chunk's id
  bool riff = false;   // a RIFF chunk: size covers the form type and subchunks
};

struct RiffWriter {
  int fd = -1;
  uint8_t buffer[kRiffBufferBytes];
  size_t fill = 0;
  int64_t flushed = 0;  // bytes of the file already written out
  // The disk refused bytes (full, or over a size limit): what it took is
  // counted in `flushed`, the rest is dropped, and no more is appended, so
  // the chunk sizes ascend writes describe the file as it is on disk.
  bool failed = false;
};

// Creates (or truncates) the file. False when it cannot be created.
bool riffCreate(RiffWriter& w, const std::string& path);
// Starts a chunk: id and size (and the form type for a RIFF chunk).
bool riffCreateChunk(RiffWriter& w, RiffChunk& chunk, const char id[4], uint32_t size, const char* formType = nullptr);
// Appends bytes; false when the disk refuses them.
bool riffWrite(RiffWriter& w, const void* data, size_t n);
// Writes the buffered bytes out.
bool riffFlush(RiffWriter& w);
// Ends a chunk: adds the pad byte of an odd size and patches its size field.
// After a failed write a pad byte the disk will not take is made by
// dropping the chunk's odd last byte instead.
bool riffAscend(RiffWriter& w, const RiffChunk& chunk);
// Closes the file; false when the last bytes could not be written.
bool riffClose(RiffWriter& w);

inline int64_t riffPosition(const RiffWriter& w) { return w.flushed + static_cast<int64_t>(w.fill); }

}  // namespace kuv
