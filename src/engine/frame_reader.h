// The frame reader: finds the frames of an input, one after another, and
// hands each body to the decoding stages through the frame context.
#pragma once

#include <cstdint>

#include "decoder/frame_context.h"

namespace kuv {

struct InputStream;

// The frame routines by layer (index 1..3); an empty slot skips the frame.
extern const DecodeFrameFn frameDecoders[4];

// Why the reader stopped short of a frame. The reader shows nothing itself:
// the caller tells the user (see readFrameTellingUser).
enum class ReadError : int32_t {
  kNone = 0,          // the input ended
  kNotMpeg,           // no frame header within the search limit; the track ends
  kSyncLost,          // the known stream was not found again; the track ends
  kUnmeasurableFree,  // a free-format frame of no measurable length: recoverable
};

// A recoverable error waits for an answer: with answerResync the caller
// says whether the reader should search on for a usable header, then calls
// readFrame again. One answer holds for the rest of the track.
inline bool isRecoverable(ReadError error) { return error == ReadError::kUnmeasurableFree; }
void answerResync(InputStream& s, bool searchOn);

// Before the first frame of a track, resetFrameState; then readFrame for
// each frame: 1 when a body is ready, 0 when no further frame comes (then
// takeReadError says why, once).
void resetFrameState(InputStream& s);
int readFrame(InputStream& s, FrameContext& ctx);
ReadError takeReadError(InputStream& s);

}  // namespace kuv
