// Opening inputs, frame and time arithmetic, and seeking.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/frame_header.h"
#include "engine/input_stream.h"
#include "support/test_support.h"

namespace kuv {
namespace {

TEST(StreamNames, AUrlIsANameWithColonSlashSlashBeforeItsEnd) {
  EXPECT_TRUE(isUrlName("http://example.com/a.mp3"));
  EXPECT_TRUE(isUrlName("HTTPS://EXAMPLE.COM/"));
  EXPECT_TRUE(isUrlName("x://y"));
  EXPECT_FALSE(isUrlName("/music/a.mp3"));
  EXPECT_FALSE(isUrlName("odd name://"));  // only as the last three characters
  EXPECT_FALSE(isUrlName(""));
  EXPECT_FALSE(isUrlName("://"));
}

TEST(StreamOpen, MissingFilesAndFoldersFailQuietly) {
  test::MessageRecorder recorder;
  auto s = std::make_unique<InputStream>();
  EXPECT_FALSE(openStream(*s, "/nonexistent/kuv/track.mp3"));
  EXPECT_FALSE(openStream(*s, "/tmp"));
  EXPECT_FALSE(openStream(*s, ""));
  closeStream(*s);
  closeStream(*s);
  EXPECT_TRUE(recorder.boxes().empty());
}

TEST(FrameMeasures, FollowTheLayerVersionAndBitRate) {
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

// Opens a file and reads its first frame, as a track starts.
struct Track {
  explicit Track(const std::string& path) : s(std::make_unique<InputStream>()) {
    opened = openStream(*s, path);
    if (opened) {
      resetFrameState(*s);
      started = readFrame(*s, ctx) == 1;
    }
  }
  ~Track() { closeStream(*s); }
  // Header offset of the frame that the next readFrame returns.
  int64_t nextFrameOffset() {
    const int64_t before = streamPosition(*s);
    FrameContext copy = ctx;
    if (!readFrame(*s, copy)) return -1;
    ctx = copy;
    return streamPosition(*s) - copy.bodyLength - 4 >= before ? streamPosition(*s) - copy.bodyLength - 4 : -1;
  }
  std::unique_ptr<InputStream> s;
  FrameContext ctx;
  bool opened = false;
  bool started = false;
};

std::vector<int64_t> frameOffsets(const std::string& path) {
  Track track(path);
  std::vector<int64_t> offsets;
  if (!track.started) return offsets;
  offsets.push_back(streamPosition(*track.s) - track.ctx.bodyLength - 4);
  for (int64_t at; (at = track.nextFrameOffset()) >= 0;) offsets.push_back(at);
  return offsets;
}

TEST(StreamLength, TotalsAndTimesOfEncodedFiles) {
  struct Case {
    const char* name;
    uint32_t frames;
    double seconds;
  };
  const Case cases[] = {
      {"cbr.mp3", 461, 461 * 1152 / 44100.0},   {"cbr_notag.mp3", 461, 461 * 1152 / 44100.0},
      {"vbr.mp3", 461, 461 * 1152 / 44100.0},   {"id3v2.mp3", 461, 461 * 1152 / 44100.0},
      {"junk_front.mp3", 461, 461 * 1152 / 44100.0}, {"id3v1.mp3", 461, 461 * 1152 / 44100.0},
      {"mpeg2.mp3", 462, 462 * 576 / 22050.0},  {"mpeg25.mp3", 232, 232 * 576 / 11025.0},
  };
  test::MessageRecorder recorder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Track track(test::fixturePath(c.name));
    ASSERT_TRUE(track.started);
    EXPECT_NEAR(totalFrames(*track.s, track.ctx), c.frames, 1.0);
    EXPECT_NEAR(totalFrames(*track.s, track.ctx) * msPerFrame(track.ctx) / 1000.0, c.seconds,
                msPerFrame(track.ctx) / 1000.0 + 1e-9);
    EXPECT_LE(currentFrame(*track.s, track.ctx), 1u);
    EXPECT_EQ(currentSeconds(*track.s, track.ctx), 0u);
    FrameContext ctx = track.ctx;
    while (readFrame(*track.s, ctx)) {
    }
    EXPECT_NEAR(currentFrame(*track.s, ctx), c.frames, 1.0);
    EXPECT_EQ(currentSeconds(*track.s, ctx), static_cast<uint32_t>(c.seconds));
  }
  EXPECT_TRUE(recorder.boxes().empty());
}

TEST(StreamSeek, ConstantBitRateLandsOnTheFrameAskedFor) {
  for (const char* name : {"cbr_notag.mp3", "cbr.mp3", "id3v2.mp3", "junk_front.mp3"}) {
    SCOPED_TRACE(name);
    const std::vector<int64_t> offsets = frameOffsets(test::fixturePath(name));
    ASSERT_EQ(offsets.size(), 461u);
    for (uint32_t n : {0u, 1u, 2u, 77u, 230u, 400u, 456u}) {
      SCOPED_TRACE(n);
      Track track(test::fixturePath(name));
      ASSERT_TRUE(seekToFrame(*track.s, track.ctx, n));
      // The seek positions on frame n and reads two frames past it.
      EXPECT_EQ(track.nextFrameOffset(), offsets[n + 2]);
      EXPECT_NEAR(currentFrame(*track.s, track.ctx), n + 3, 1.0);
    }
  }
}

TEST(StreamSeek, TheLastFourFramesAreOutOfReachAndPlaybackGoesOn) {
  Track track(test::fixturePath("cbr_notag.mp3"));
  const std::vector<int64_t> offsets = frameOffsets(test::fixturePath("cbr_notag.mp3"));
  ASSERT_TRUE(track.started);
  EXPECT_FALSE(seekToFrame(*track.s, track.ctx, 459));
  EXPECT_FALSE(seekToFrame(*track.s, track.ctx, 100000));
  EXPECT_EQ(track.nextFrameOffset(), offsets[1]);
}

TEST(StreamSeek, VariableBitRateWithXingLandsOnTheTimeAskedFor) {
  const std::vector<int64_t> offsets = frameOffsets(test::fixturePath("vbr.mp3"));
  ASSERT_EQ(offsets.size(), 461u);
  for (uint32_t ms : {0u, 1000u, 2500u, 6000u, 11000u}) {
    SCOPED_TRACE(ms);
    Track track(test::fixturePath("vbr.mp3"));
    const double perFrame = msPerFrame(track.ctx);
    ASSERT_TRUE(seekToMilliseconds(*track.s, track.ctx, ms));
    const uint32_t target = static_cast<uint32_t>(ms / perFrame);
    const int64_t next = track.nextFrameOffset();
    EXPECT_EQ(next, offsets[target + 2]);
    EXPECT_NEAR(currentSeconds(*track.s, track.ctx), (target + 3) * perFrame / 1000.0, 1.0);
  }
  Track track(test::fixturePath("vbr.mp3"));
  EXPECT_FALSE(seekToMilliseconds(*track.s, track.ctx, 11990));
}

TEST(StreamSeek, ASeekStartsTheStoreClean) {
  Track track(test::fixturePath("cbr_notag.mp3"));
  ASSERT_TRUE(seekToFrame(*track.s, track.ctx, 100));
  for (int32_t i = 0; i < kStoreBytes; ++i) ASSERT_EQ(track.s->store.bytes[i], 0) << i;
  EXPECT_EQ(track.s->bits.pos, static_cast<uint32_t>(slotStart(track.s->store.currentSlot)));
}

}  // namespace
}  // namespace kuv
