// Time arithmetic of MPEG audio frames: samples, bytes and milliseconds per
// frame, and which frame a time falls in. Kept apart so the engine, the
// seek, the file scanner and the front ends count time the same way.
#pragma once

#include <cstdint>

namespace kuv {

struct FrameContext;

// Samples per channel in one frame: 384 in Layer I, 1152 in Layer II, 1152
// in Layer III (576 at the low sampling frequencies, lsf 1).
int32_t samplesPerFrameFor(int32_t layer, int32_t lsf);
int32_t samplesPerFrame(const FrameContext& ctx);

// Frame length in bytes by the header's bit rate (the measured length for
// free format); 1.0 when the header gives none.
double bytesPerFrame(const FrameContext& ctx);
// Playing time of one frame; 26 ms when the header gives no rate.
double msPerFrame(const FrameContext& ctx);

// The frame that plays at `milliseconds` from the start, and the whole
// seconds played after `frames` frames, with the measures of ctx.
uint32_t frameAtMilliseconds(const FrameContext& ctx, uint32_t milliseconds);
uint32_t secondsAfterFrames(const FrameContext& ctx, uint32_t frames);

}  // namespace kuv
