// The one input the engine reads: a local file or a URL behind a pipe, with
// the frame-reading state of the track and the arithmetic that turns file
// positions into frames and seconds and back.
#pragma once

#include <cstdint>
#include <string>

#include "engine/bit_reader.h"
#include "engine/frame_context.h"
#include "engine/url_reader.h"
#include "engine/vbr_tag.h"

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

  // Free format: the unpadded frame length measured for the track (header
  // included; 0 until measured), and the user's answer to the question for
  // a frame that could not be measured (0 until asked, which is done once).
  int32_t freeFrameBytes = 0;
  int freeFormatAnswer = 0;
  // The frame reader has shown the user a box about this track, so a track
  // that ends without audio needs no second one.
  bool userTold = false;
};

// A name containing "://" (case-insensitive) before its last three
// characters is a URL.
bool isUrlName(const std::string& name);

bool openStream(InputStream& s, const std::string& name);
void closeStream(InputStream& s);

// Logical read position in the input.
int64_t streamPosition(const InputStream& s);

// Frame measures of the current header.
double bytesPerFrame(const FrameContext& ctx);
double msPerFrame(const FrameContext& ctx);
int32_t samplesPerFrame(const FrameContext& ctx);

uint32_t totalFrames(const InputStream& s, const FrameContext& ctx);
uint32_t currentFrame(const InputStream& s, const FrameContext& ctx);
uint32_t currentSeconds(const InputStream& s, const FrameContext& ctx);
bool seekToMilliseconds(InputStream& s, FrameContext& ctx, uint32_t milliseconds);
bool seekToFrame(InputStream& s, FrameContext& ctx, uint32_t frame);

// Frame reading: before the first frame of a track, resetFrameState; then
// readFrame for each frame (1: a body is ready, 0: no further frame).
void resetFrameState(InputStream& s);
int readFrame(InputStream& s, FrameContext& ctx);

// Messages of the frame reader.
constexpr const char* kSyncErrorTitle = "Synchronization Error...";
constexpr const char* kStreamErrorTitle = "Error In Stream...";
constexpr const char* kNoSyncText = "Could not locate a VALID sync in the stream.";
constexpr const char* kNotMpegText = "This does not look like a valid MPEG Audio File";
constexpr const char* kInvalidBitrateText = "Invalid Bitrate in stream, Try Resync?";
// A track that ended without one frame of audio, unless the frame reader
// has said why; %s is the file or URL.
constexpr const char* kNoAudioText = "%s holds no MPEG audio.";
constexpr const char* kEmptyFileText = "%s is empty: it holds no MPEG audio.";

}  // namespace kuv
