// The per-track record handed to every decoding stage: the fields of the
// current frame header and where its body lies.
#pragma once

#include <cstdint>

#include "decoder/synthesis.h"

namespace kuv {

struct BitReader;
struct DecoderState;
struct FrameStore;
struct FrameContext;

// A layer's frame routine: 1 for a decoded frame, -2 when the output refused
// the data, another negative value to skip the frame. It leaves its PCM in
// the decoder state's staging buffer.
using DecodeFrameFn = int (*)(FrameContext& ctx);
constexpr int kFrameWriteFailed = -2;
constexpr int kFrameSkipped = -1;

struct FrameContext {
  // Header fields.
  int32_t lsf = 0;              // 1 for MPEG-2 and MPEG 2.5
  int32_t mpeg25 = 0;           // 1 for MPEG 2.5
  int32_t layer = 0;            // 1, 2, 3 (4 for the reserved field value)
  int32_t crcPresent = 0;       // a 16-bit CRC word starts the body
  int32_t bitRateIndex = 0;     // 0..15
  int32_t sampleRateIndex = 0;  // 0..8 into kSampleRates
  int32_t padding = 0;
  int32_t privateBit = 0;
  int32_t mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int32_t modeExtension = 0;
  int32_t copyFlag = 0;
  int32_t original = 0;
  int32_t emphasis = 0;
  int32_t channels = 0;
  int32_t headerChanged = 0;  // this frame's header differs from the last one
  int32_t jointBound = 0;     // Layers I and II: first intensity-coded sub-band
  int32_t subbandLimit = 0;   // Layer II: coded sub-bands
  int32_t allocTable = 0;     // Layer II: Layer2Table
  // Free format (bitRateIndex 0): the stream's frame length in bytes without
  // the padding slot, header included, as measured between two of its
  // headers; 0 while unknown.
  int32_t freeFrameBytes = 0;

  // The body of the current frame (CRC word included when present).
  int32_t bodyLength = 0;
  int32_t sideInfoLength = 0;  // Layer III side information, CRC included
  BitReader* bits = nullptr;
  FrameStore* store = nullptr;

  // Routing, set by the decoder thread before each track (decodeFrame by
  // the header reader).
  DecodeFrameFn decodeFrame = nullptr;
  StereoDriverFn stereoDriver = nullptr;
  MonoHandlerFn monoHandler = nullptr;
  StereoPairFn stereoPair = nullptr;  // both channels of a stereo block at once
  int32_t channelSelect = -1;         // -1 both; 0 left; 1 right; 2 left; 3 mix (Layer III)
  int32_t downSample = 0;             // 0 full, 1 half, 2 quarter rate
  int32_t blockBytes = 128;           // output bytes per 32-sample block
  int32_t outRate = 0;
  int32_t outChannels = 0;
  int32_t outBits = 0;
  // What lasts between frames: filter memories and the staging buffer.
  DecoderState* state = nullptr;
};

}  // namespace kuv
