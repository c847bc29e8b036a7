// Xing/Info and VBRI tags: a first frame that describes the stream (frame
// count, byte count, seek table) instead of carrying audio.
#pragma once

#include <cstdint>

namespace kuv {

enum VbrTagKind : int32_t { kNoTag = 0, kXingTag = 1, kInfoTag = 2, kVbriTag = 3 };

// The extension LAME and compatible encoders write after the Xing/Info
// fields: what the encoder padded the stream with, and its loudness.
struct LameTag {
  bool present = false;
  char encoder[10] = {};       // e.g. "LAME3.100", zero-terminated
  int32_t encoderDelay = 0;    // samples the encoder put before the audio
  int32_t encoderPadding = 0;  // samples it put after the audio
  // Delay and padding fit in the frames the tag counts; a tag that says
  // otherwise lies and must not trim anything.
  bool delayUsable = false;
  float peak = 0;  // peak amplitude, 1.0 = full scale; 0 unknown
  bool hasTrackGain = false;
  bool hasAlbumGain = false;
  double trackGainDb = 0;
  double albumGainDb = 0;
  bool crcValid = false;  // the extension's own CRC matches the frame
};

struct VbrTag {
  VbrTagKind kind = kNoTag;
  uint32_t frames = 0;  // audio frames after the tag frame; 0 when not given
  uint32_t bytes = 0;   // stream bytes, tag frame included; 0 when not given
  bool hasToc = false;
  uint8_t toc[100] = {};  // Xing: byte position of each percent of the time, in 1/256
  LameTag lame;           // Xing and Info only
};

struct FrameContext;

// Looks for a tag in a Layer III frame body (the bytes after the header).
// Every offset is checked against bodyLength.
bool parseVbrTag(const uint8_t* body, int32_t bodyLength, const FrameContext& ctx, VbrTag& tag);

// A tag that marks a stream of varying bit rate (Xing or VBRI; "Info" is the
// same layout written for constant bit rate).
inline bool isVbrTag(const VbrTag& tag) { return tag.kind == kXingTag || tag.kind == kVbriTag; }

}  // namespace kuv
