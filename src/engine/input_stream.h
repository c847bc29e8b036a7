// The one input the engine reads: a local file or a URL behind a pipe, with
// the frame-reading state of the track and the arithmetic that turns file
// positions into frames and seconds and back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "decoder/bit_reader.h"
#include "decoder/frame_context.h"
#include "decoder/vbr_tag.h"
#include "engine/frame_index.h"
#include "engine/frame_reader.h"
#include "engine/url_reader.h"
#include "platform/paths.h"

namespace kuv {

constexpr int32_t kStreamReadBufferBytes = 16384;

struct InputStream {
  int handle = -1;  // the file, or the pipe's read end for a URL
  bool isUrl = false;
  int64_t size = 0;  // file size in bytes; 1 for a URL
  // A regular file: positions can be sought and reads block plainly. Any
  // other input (URL pipe, FIFO, device, socket) is read as it comes, in
  // waits that end when url.abandon turns nonzero, and cannot seek.
  bool regular = false;
  UrlReader url;

  // Reads go through this buffer; position = bufferBase + bufferPos.
  uint8_t buffer[kStreamReadBufferBytes];
  int32_t bufferFill = 0;
  int32_t bufferPos = 0;
  int64_t bufferBase = 0;

  // Header words of the track (0: none yet).
  uint32_t current = 0;
  uint32_t previous = 0;
  uint32_t reference = 0;
  int32_t bodyLength = 0;  // of the last accepted header
  int32_t sideInfoLength = 0;
  FrameStore store;
  BitReader bits;

  // Where the audio frames lie: from the first frame after any ID3v2 tag,
  // junk and Xing/VBRI frame, to the end of the file less an ID3v1 tag.
  int64_t dataStart = 0;
  int64_t dataEnd = 0;
  bool atStreamStart = true;
  bool tagChecked = false;
  VbrTag tag;
  uint32_t framesRead = 0;  // audio frames delivered since the start (or the seek)
  // Where each frame begins, once a scan of the file has found them all:
  // the frame count and seeks are then exact. Null until then.
  std::shared_ptr<const FrameIndex> index;
  // A seek by the index lands this many frames before the one asked for,
  // so the bit reservoir and the filter memories are filled again; the
  // caller does not play their sound.
  uint32_t primeFrames = 0;

  // Free format: the unpadded frame length measured for the track (header
  // included; 0 until measured).
  int32_t freeFrameBytes = 0;
  // Why the last readFrame found no frame, until taken. A frame of no
  // measurable length waits for the answer (resync: 0 not asked yet, 1
  // search on, -1 end the track; asked once per track) with its header.
  ReadError error = ReadError::kNone;
  int32_t resync = 0;
  bool asking = false;
  uint32_t askedWord = 0;
  // The user has been shown a box about this track, so a track that ends
  // without audio needs no second one.
  bool userTold = false;
};

using platform::isUrlName;

bool openStream(InputStream& s, const std::string& name);
void closeStream(InputStream& s);

// Exact with an index or a tag's frame count; otherwise estimated from the
// size and the first frame.
uint32_t totalFrames(const InputStream& s, const FrameContext& ctx);
// Frames a seek by the index primes from before the one asked for.
constexpr uint32_t kSeekPrimeFrames = 4;
uint32_t currentFrame(const InputStream& s, const FrameContext& ctx);
uint32_t currentSeconds(const InputStream& s, const FrameContext& ctx);
bool seekToMilliseconds(InputStream& s, FrameContext& ctx, uint32_t milliseconds);
bool seekToFrame(InputStream& s, FrameContext& ctx, uint32_t frame);

}  // namespace kuv
