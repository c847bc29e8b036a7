// The decoder state record: everything that lasts between frames is in it,
// so streams decoded side by side in one process do not meet.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/frame_context.h"
#include "decoder/synthesis.h"
#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "support/decode_support.h"
#include "support/test_support.h"

namespace kuv {
namespace {

// One stream's decode, a frame at a time, with a decoder state of its own.
struct Decoding {
  std::unique_ptr<InputStream> stream = std::make_unique<InputStream>();
  std::unique_ptr<DecoderState> state = std::make_unique<DecoderState>();
  FrameContext ctx;
  std::vector<uint8_t> pcm;
  int decoded = 0;
  int downSample = 0;
};

bool start(Decoding& d, const std::string& path, int downSample = 0) {
  d.downSample = downSample;
  d.state->pcm.write = test::capturePcm;
  d.state->pcm.writeContext = &d.pcm;
  d.ctx.state = d.state.get();
  routeOutput(d.ctx, -1, downSample, 0);
  if (!openStream(*d.stream, path)) return false;
  resetFrameState(*d.stream);
  return true;
}

// Decodes the next frame; false at the end, with the staging buffer emptied.
bool step(Decoding& d) {
  if (!readFrame(*d.stream, d.ctx)) {
    test::capturePcm(&d.pcm, d.state->pcm.fill, d.state->pcm.data);
    d.state->pcm.fill = 0;
    closeStream(*d.stream);
    return false;
  }
  if (d.ctx.headerChanged) d.state->pcm.writeThreshold = writeThresholdFor(d.ctx.sampleRateIndex, d.downSample);
  d.ctx.outRate = 44100 >> d.downSample;
  d.ctx.outChannels = 2;
  d.ctx.outBits = 16;
  if (d.ctx.crcPresent) getBits(*d.ctx.bits, 16);
  if (d.ctx.decodeFrame && d.ctx.decodeFrame(d.ctx) == 1) ++d.decoded;
  return true;
}

std::vector<uint8_t> decodeAlone(const std::string& path, int downSample) {
  Decoding d;
  EXPECT_TRUE(start(d, path, downSample));
  while (step(d)) {
  }
  return d.pcm;
}

TEST(DecoderState, StreamsDecodedFrameByFrameSideBySideMatchEachDecodedAlone) {
  prepareDecoderTables();
  const struct {
    const char* name;
    const char* first;
    const char* second;
    int firstDownSample = 0;
    int secondDownSample = 0;
  } cases[] = {
      {"two Layer III streams", "l3_stereo.mp3", "l3_transients.mp3"},
      {"Layer III beside Layer II", "vbr.mp3", "l2_44_joint.mp2"},
      {"mono beside stereo", "mono.mp3", "l2_48_stereo.mp2"},
      // Down-sampling is the stream's own: it caps that stream's subbands only.
      {"quarter rate beside full rate", "l3_stereo.mp3", "l3_transients.mp3", 2, 0},
      {"half rate beside quarter rate", "l3_transients.mp3", "vbr.mp3", 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> firstAlone = decodeAlone(test::fixturePath(c.first), c.firstDownSample);
    const std::vector<uint8_t> secondAlone = decodeAlone(test::fixturePath(c.second), c.secondDownSample);
    ASSERT_GT(firstAlone.size(), 50000u);
    ASSERT_GT(secondAlone.size(), 50000u);

    Decoding a, b;
    ASSERT_TRUE(start(a, test::fixturePath(c.first), c.firstDownSample));
    ASSERT_TRUE(start(b, test::fixturePath(c.second), c.secondDownSample));
    bool moreA = true, moreB = true;
    while (moreA || moreB) {
      if (moreA) moreA = step(a);
      if (moreB) moreB = step(b);
    }
    EXPECT_GT(a.decoded, 100);
    EXPECT_GT(b.decoded, 100);
    EXPECT_TRUE(a.pcm == firstAlone) << "the first stream's PCM changed beside the second";
    EXPECT_TRUE(b.pcm == secondAlone) << "the second stream's PCM changed beside the first";
  }
}

int32_t refuse(void*, int32_t, const uint8_t*) { return -1; }

// The layers hand their PCM to the staging buffer's write function alone.
TEST(DecoderState, AWriteFunctionThatRefusesFailsTheFrameOfEveryLayer) {
  prepareDecoderTables();
  for (const char* name : {"cbr.mp3", "l2_44_joint.mp2"}) {
    SCOPED_TRACE(name);
    Decoding d;
    ASSERT_TRUE(start(d, test::fixturePath(name)));
    d.state->pcm.write = refuse;
    int result = 0;
    for (int frame = 0; frame < 200 && result != kFrameWriteFailed; ++frame) {
      ASSERT_EQ(readFrame(*d.stream, d.ctx), 1);
      if (d.ctx.headerChanged) d.state->pcm.writeThreshold = writeThresholdFor(d.ctx.sampleRateIndex, 0);
      if (d.ctx.crcPresent) getBits(*d.ctx.bits, 16);
      result = d.ctx.decodeFrame(d.ctx);
    }
    EXPECT_EQ(result, kFrameWriteFailed);
    EXPECT_TRUE(d.pcm.empty());
    closeStream(*d.stream);
  }
}

}  // namespace
}  // namespace kuv
