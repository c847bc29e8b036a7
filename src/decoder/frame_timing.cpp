#include "decoder/frame_timing.h"

#include <cmath>

#include "decoder/frame_context.h"
#include "decoder/frame_header.h"

namespace kuv {

int32_t samplesPerFrameFor(int32_t layer, int32_t lsf) {
  switch (layer) {
    case 1:
      return 384;
    case 2:
      return 1152;
    case 3:
      return lsf ? 576 : 1152;
    default:
      return 1152;
  }
}

int32_t samplesPerFrame(const FrameContext& ctx) { return samplesPerFrameFor(ctx.layer, ctx.lsf); }

namespace {
double sampleRateOf(const FrameContext& ctx) {
  return ctx.sampleRateIndex >= 0 && ctx.sampleRateIndex <= 8 ? kSampleRates[ctx.sampleRateIndex] : 0.0;
}
}  // namespace

double bytesPerFrame(const FrameContext& ctx) {
  // Free format has no bit rate: its frames are as long as measured.
  if (ctx.bitRateIndex == 0 && ctx.freeFrameBytes > 0 && ctx.layer >= 1 && ctx.layer <= 3) return ctx.freeFrameBytes;
  const double rate = sampleRateOf(ctx);
  const double kbps = bitRateKbps(ctx.lsf, ctx.layer, ctx.bitRateIndex);
  if (rate <= 0 || kbps <= 0) return 1.0;
  switch (ctx.layer) {
    case 1:
      return kbps * 48000.0 / rate;
    case 2:
      return kbps * 144000.0 / rate;
    case 3:
      return kbps * 144000.0 / (rate * (ctx.lsf ? 2 : 1));
    default:
      return 1.0;
  }
}

double msPerFrame(const FrameContext& ctx) {
  const double rate = sampleRateOf(ctx);
  if (rate <= 0) return 26.0;
  return samplesPerFrame(ctx) * 1000.0 / rate;
}

uint32_t frameAtMilliseconds(const FrameContext& ctx, uint32_t milliseconds) {
  return static_cast<uint32_t>(milliseconds / msPerFrame(ctx));
}

uint32_t secondsAfterFrames(const FrameContext& ctx, uint32_t frames) {
  const double seconds = std::trunc(frames * msPerFrame(ctx) * 0.001);
  return seconds > 0 ? static_cast<uint32_t>(seconds) : 0;
}

}  // namespace kuv
