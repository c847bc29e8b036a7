// Opening inputs, frame and time arithmetic, and seeking.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "engine/stream_io.h"
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
      {"cbr.mp3", 461, 461 * 1152 / 44100.0},        {"cbr_notag.mp3", 461, 461 * 1152 / 44100.0},
      {"vbr.mp3", 461, 461 * 1152 / 44100.0},        {"id3v2.mp3", 461, 461 * 1152 / 44100.0},
      {"junk_front.mp3", 461, 461 * 1152 / 44100.0}, {"id3v1.mp3", 461, 461 * 1152 / 44100.0},
      {"mpeg2.mp3", 462, 462 * 576 / 22050.0},       {"mpeg25.mp3", 232, 232 * 576 / 11025.0},
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

TEST(StreamSeek, VariableBitRateWithXingLandsNearTheTimeAskedFor) {
  const std::vector<int64_t> offsets = frameOffsets(test::fixturePath("vbr.mp3"));
  ASSERT_EQ(offsets.size(), 461u);
  for (uint32_t ms : {0u, 1000u, 2500u, 6000u, 11000u}) {
    SCOPED_TRACE(ms);
    Track track(test::fixturePath("vbr.mp3"));
    const double perFrame = msPerFrame(track.ctx);
    ASSERT_TRUE(seekToMilliseconds(*track.s, track.ctx, ms));
    const uint32_t target = static_cast<uint32_t>(ms / perFrame);
    // The table has a step of 1% of the time: within a few frames.
    const int64_t next = track.nextFrameOffset();
    size_t landed = 0;
    while (landed < offsets.size() && offsets[landed] < next) ++landed;
    ASSERT_LT(landed, offsets.size());
    EXPECT_EQ(offsets[landed], next);
    EXPECT_NEAR(static_cast<double>(landed), target + 2.0, 3.0);
    // The time shown counts on from the frame asked for.
    EXPECT_EQ(currentFrame(*track.s, track.ctx), target + 3);
    EXPECT_EQ(currentSeconds(*track.s, track.ctx), static_cast<uint32_t>((target + 3) * perFrame / 1000.0));
  }
  Track track(test::fixturePath("vbr.mp3"));
  EXPECT_FALSE(seekToMilliseconds(*track.s, track.ctx, 11990));
}

// Byte share (0 to 1) that a Xing table gives for a share of the time in
// percent: entry i at i percent, linear in between, 256 after the last.
double tableShare(const uint8_t (&table)[100], double percent) {
  const int entry = static_cast<int>(percent);
  const double upper = entry < 99 ? table[entry + 1] : 256.0;
  return (table[entry] + (upper - table[entry]) * (percent - entry)) / 256.0;
}

TEST(StreamSeek, AXingFileSeeksByItsTable) {
  // The VBR file with its table replaced by a skewed one that puts the first
  // half of the time into the first tenth of the bytes: the seek lands where
  // the table says, not on the frame a walk through the headers would find.
  std::string bytes = test::readFile(test::fixturePath("vbr.mp3"));
  const size_t xing = bytes.find("Xing");
  ASSERT_NE(xing, std::string::npos);
  const uint8_t flags = static_cast<uint8_t>(bytes[xing + 7]);
  ASSERT_TRUE(flags & 4);
  const size_t at = xing + 8 + (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0);
  uint8_t table[100];
  for (int i = 0; i < 100; ++i) {
    table[i] = static_cast<uint8_t>(i < 50 ? i / 2 : 25 + (i - 50) * 230 / 50);
    bytes[at + static_cast<size_t>(i)] = static_cast<char>(table[i]);
  }
  const std::string folder = test::makeTempFolder();
  const std::string path = folder + "/skewed.mp3";
  ASSERT_TRUE(test::writeFile(path, bytes));
  const std::vector<int64_t> offsets = frameOffsets(path);
  ASSERT_EQ(offsets.size(), 461u);
  const double audioStart = static_cast<double>(offsets.front());
  const double audioBytes = static_cast<double>(bytes.size()) - audioStart;

  for (uint32_t n : {0u, 50u, 185u, 230u, 346u, 450u}) {
    SCOPED_TRACE(n);
    Track track(path);
    ASSERT_TRUE(track.started);
    ASSERT_EQ(track.s->tag.frames, 461u);
    ASSERT_TRUE(seekToFrame(*track.s, track.ctx, n));
    // The first frame at or after the table's position, then two frames read.
    const double wanted = audioStart + tableShare(table, 100.0 * n / 461) * audioBytes;
    size_t landed = 0;
    while (landed < offsets.size() && static_cast<double>(offsets[landed]) < std::floor(wanted)) ++landed;
    ASSERT_LT(landed + 2, offsets.size());
    EXPECT_EQ(currentFrame(*track.s, track.ctx), n + 2);
    EXPECT_EQ(track.nextFrameOffset(), offsets[landed + 2]);
  }
  Track track(path);
  EXPECT_FALSE(seekToFrame(*track.s, track.ctx, 458)) << "the last four frames";
  test::removeTree(folder);
}

// 128 kbit/s audio followed by 320 kbit/s audio of the same sampling rate,
// with no tag to map frames to bytes.
std::string joinedFile(const std::string& folder) {
  const std::string high = test::readFile(test::fixturePath("l3_320.mp3"));
  // Its Info frame left out: it describes only its own file.
  const int64_t audio = frameOffsets(test::fixturePath("l3_320.mp3")).front();
  const std::string path = folder + "/joined.mp3";
  test::writeFile(path, test::readFile(test::fixturePath("cbr_notag.mp3")) + high.substr(static_cast<size_t>(audio)));
  return path;
}

TEST(StreamSeek, WithoutATagATargetLandsOnOneOffsetWhateverIsPlaying) {
  const std::string folder = test::makeTempFolder();
  const std::string path = joinedFile(folder);
  enum Start { kAtFirstFrame, kHighRatePlaying, kAfterAFarSeek };
  for (uint32_t n : {100u, 400u, 600u, 1200u}) {
    SCOPED_TRACE(n);
    int64_t landing = -1;
    uint32_t shown = 0;
    for (Start start : {kAtFirstFrame, kHighRatePlaying, kAfterAFarSeek}) {
      SCOPED_TRACE(start);
      Track track(path);
      ASSERT_TRUE(track.started);
      if (start == kHighRatePlaying) {
        for (int i = 0; i < 600; ++i) ASSERT_EQ(readFrame(*track.s, track.ctx), 1);
        ASSERT_EQ(bitRateKbps(track.ctx.lsf, track.ctx.layer, track.ctx.bitRateIndex), 320);
      } else if (start == kAfterAFarSeek) {
        ASSERT_TRUE(seekToFrame(*track.s, track.ctx, 1500));
      }
      ASSERT_TRUE(seekToFrame(*track.s, track.ctx, n));
      const uint32_t frame = currentFrame(*track.s, track.ctx);
      const int64_t next = track.nextFrameOffset();
      if (start == kAtFirstFrame) {
        landing = next;
        shown = frame;
        // The frame shown is the one asked for plus the two read past it,
        // each counted by its size in first-frame units (truncated).
        EXPECT_GE(frame, n + 1);
        EXPECT_LE(frame, n + 8);
      } else {
        EXPECT_EQ(next, landing);
        EXPECT_EQ(frame, shown);
      }
    }
  }
  test::removeTree(folder);
}

TEST(StreamFifo, APipeIsReadAsItComesWithoutLengthOrSeeks) {
  // A FIFO opens without a writer and reads as ended; fed by a writer, it
  // plays through, an ID3v2 tag in front skipped by reading.
  test::MessageRecorder recorder;
  const std::string folder = test::makeTempFolder();
  const std::string fifo = folder + "/fifo.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  {
    auto s = std::make_unique<InputStream>();
    ASSERT_TRUE(openStream(*s, fifo));
    resetFrameState(*s);
    FrameContext ctx;
    EXPECT_EQ(readFrame(*s, ctx), 0);
    closeStream(*s);
  }
  const std::string bytes = test::readFile(test::fixturePath("id3v2.mp3"));
  auto s = std::make_unique<InputStream>();
  // Held open for reading here, so the writer can open before the stream.
  const int keep = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(keep, 0);
  const int writer = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  std::thread feed([&] {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t put = ::write(writer, bytes.data() + done, bytes.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    ::close(writer);
  });
  ASSERT_TRUE(openStream(*s, fifo));
  ::close(keep);
  resetFrameState(*s);
  FrameContext ctx;
  uint32_t frames = 0;
  while (readFrame(*s, ctx)) {
    ++frames;
    if (frames == 100) {
      EXPECT_EQ(totalFrames(*s, ctx), 0u);
      EXPECT_EQ(currentFrame(*s, ctx), 0u);
      EXPECT_EQ(currentSeconds(*s, ctx), 0u);
      EXPECT_FALSE(seekToFrame(*s, ctx, 10));
      EXPECT_FALSE(seekToMilliseconds(*s, ctx, 100));
    }
  }
  feed.join();
  closeStream(*s);
  EXPECT_EQ(frames, 461u);
  EXPECT_TRUE(recorder.boxes().empty());
  test::removeTree(folder);
}

TEST(StreamSeek, ASeekStartsTheStoreClean) {
  Track track(test::fixturePath("cbr_notag.mp3"));
  ASSERT_TRUE(seekToFrame(*track.s, track.ctx, 100));
  for (int32_t i = 0; i < kStoreBytes; ++i) ASSERT_EQ(track.s->store.bytes[i], 0) << i;
  EXPECT_EQ(track.s->bits.pos, static_cast<uint32_t>(slotStart(track.s->store.currentSlot)));
}

}  // namespace
}  // namespace kuv
