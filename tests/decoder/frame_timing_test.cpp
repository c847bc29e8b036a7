// Frame timing: the one place samples, bytes and milliseconds per frame and
// the frame for a time are computed.
#include <gtest/gtest.h>

#include "decoder/frame_context.h"
#include "decoder/frame_timing.h"

namespace kuv {
namespace {

TEST(FrameTiming, SamplesPerFrameFollowTheLayerAndVersion) {
  const struct {
    int layer, lsf, samples;
  } cases[] = {{1, 0, 384}, {1, 1, 384}, {2, 0, 1152}, {2, 1, 1152}, {3, 0, 1152}, {3, 1, 576}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "layer " << c.layer << " lsf " << c.lsf);
    EXPECT_EQ(samplesPerFrameFor(c.layer, c.lsf), c.samples);
  }
}

TEST(FrameTiming, BytesAndMillisecondsFollowTheLayerVersionAndBitRate) {
  FrameContext ctx;
  ctx.layer = 3;
  ctx.lsf = 0;
  ctx.sampleRateIndex = 0;
  ctx.bitRateIndex = 9;  // 128 kbit/s
  EXPECT_NEAR(bytesPerFrame(ctx), 417.959, 0.001);
  EXPECT_NEAR(msPerFrame(ctx), 1152000.0 / 44100, 1e-9);
  ctx.lsf = 1;
  ctx.sampleRateIndex = 3;  // 22050
  ctx.bitRateIndex = 8;     // 64 kbit/s
  EXPECT_NEAR(bytesPerFrame(ctx), 208.98, 0.01);
  EXPECT_NEAR(msPerFrame(ctx), 576000.0 / 22050, 1e-9);
  // MPEG-2 Layer II frames hold 1152 samples, like MPEG-1's.
  ctx.layer = 2;
  ctx.sampleRateIndex = 4;  // 24000
  ctx.bitRateIndex = 12;    // 128 kbit/s
  EXPECT_NEAR(bytesPerFrame(ctx), 768.0, 1e-9);
  EXPECT_NEAR(msPerFrame(ctx), 48.0, 1e-9);
  ctx.layer = 1;
  ctx.lsf = 0;
  ctx.sampleRateIndex = 1;  // 48000
  ctx.bitRateIndex = 12;    // 384 kbit/s
  EXPECT_NEAR(bytesPerFrame(ctx), 384.0, 1e-9);
  EXPECT_NEAR(msPerFrame(ctx), 8.0, 1e-9);
  ctx.layer = 4;
  EXPECT_EQ(bytesPerFrame(ctx), 1.0);
}

// A time falls in the frame that is playing then; whole seconds are never
// rounded up.
TEST(FrameTiming, TimesMapToTheFramePlayingThen) {
  const struct {
    int layer, lsf, rateIndex;
    uint32_t ms, frame;
    uint32_t framesPlayed, seconds;
  } cases[] = {
      {3, 0, 0, 1000, 38, 39, 1},        // 26.12 ms frames: 38 end at 992.6 ms
      {3, 0, 0, 0, 0, 38, 0},            // and 38 frames are still under a second
      {3, 1, 3, 60000, 2296, 2297, 60},  // 26.12 ms at 22.05 kHz, 576 samples
      {1, 0, 1, 80, 10, 125, 1},         // 8 ms frames, exactly
      {2, 0, 2, 36000, 1000, 999, 35},   // 36 ms frames at 32 kHz
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "layer " << c.layer << " at " << c.ms << " ms");
    FrameContext ctx;
    ctx.layer = c.layer;
    ctx.lsf = c.lsf;
    ctx.sampleRateIndex = c.rateIndex;
    EXPECT_EQ(frameAtMilliseconds(ctx, c.ms), c.frame);
    EXPECT_EQ(secondsAfterFrames(ctx, c.framesPlayed), c.seconds);
  }
}

}  // namespace
}  // namespace kuv
