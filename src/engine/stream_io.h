// Buffered reading of the input, shared by the stream and the frame reader.
// Reads end quietly at the end of the input or on an error (a short count);
// what that means for the track is the frame reader's to say.
#pragma once

#include <cstdint>

#include "engine/input_stream.h"

namespace kuv {

// Logical read position in the input.
int64_t streamPosition(const InputStream& s);

// Reads until n bytes or the end of the input; returns the count (0 at the
// end or on an error).
int32_t streamRead(InputStream& s, uint8_t* out, int32_t n);
// Copies up to n bytes found `ahead` bytes after the read position without
// consuming anything; returns how many there were before the end. ahead + n
// is at most kStreamPeekBytes.
constexpr int32_t kStreamPeekBytes = kStreamReadBufferBytes / 2;
int32_t streamPeek(InputStream& s, int32_t ahead, uint8_t* out, int32_t n);
// One byte, or -1 at the end.
int streamReadByte(InputStream& s);
// Skips n bytes forward (seeks in a file, reads and drops from a URL);
// false when the input ended first.
bool streamSkip(InputStream& s, int64_t n);
// Absolute position in a file; false for a URL or a failed seek.
bool streamSeek(InputStream& s, int64_t offset);

}  // namespace kuv
