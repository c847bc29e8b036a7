// Frame headers, synchronisation and stream errors on the ISO compliance
// streams and on files encoded by lame.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "engine/decoder_thread.h"
#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "engine/stream_io.h"
#include "support/byte_patterns.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using test::bigEndianBytes;

using test::MessageRecorder;

struct Scan {
  bool opened = false;
  std::vector<int64_t> offsets;  // of each frame's header
  std::vector<FrameContext> frames;
  uint32_t totalAfterFirst = 0;
  std::vector<ReadError> errors;  // in the order the reader gave them
};

// Reads every frame as the decoder thread does, answering the reader's
// question with `searchOn`. The reader itself never shows a box.
Scan scanFile(const std::string& path, bool searchOn = false) {
  Scan scan;
  MessageRecorder recorder;
  auto s = std::make_unique<InputStream>();
  FrameContext ctx;
  scan.opened = openStream(*s, path);
  if (scan.opened) {
    resetFrameState(*s);
    for (;;) {
      if (readFrame(*s, ctx)) {
        scan.offsets.push_back(streamPosition(*s) - ctx.bodyLength - 4);
        scan.frames.push_back(ctx);
        if (scan.frames.size() == 1) scan.totalAfterFirst = totalFrames(*s, ctx);
        continue;
      }
      const ReadError error = takeReadError(*s);
      if (error == ReadError::kNone) break;
      scan.errors.push_back(error);
      if (!isRecoverable(error)) break;
      answerResync(*s, searchOn);
    }
    closeStream(*s);
  }
  EXPECT_TRUE(recorder.boxes().empty()) << "the frame reader showed a box itself";
  return scan;
}

struct ConformanceCase {
  const char* name;
  size_t frames;
  int layer;
  int rate;
};

// Frame counts as the compliance streams hold them, every header counted.
const ConformanceCase kConformance[] = {
    {"l1-fl1.bit", 49, 1, 32000},
    {"l1-fl2.bit", 49, 1, 44100},
    {"l1-fl3.bit", 49, 1, 48000},
    {"l1-fl4.bit", 49, 1, 32000},
    {"l1-fl5.bit", 49, 1, 48000},
    {"l1-fl6.bit", 49, 1, 44100},
    {"l1-fl7.bit", 63, 1, 44100},
    {"l1-fl8.bit", 49, 1, 44100},
    {"l2-fl10.bit", 49, 2, 32000},
    {"l2-fl11.bit", 49, 2, 44100},
    {"l2-fl12.bit", 49, 2, 48000},
    {"l2-fl13.bit", 49, 2, 32000},
    {"l2-fl14.bit", 16, 2, 48000},
    {"l2-fl15.bit", 16, 2, 48000},
    {"l2-fl16.bit", 63, 2, 48000},
    {"l2-test32.bit", 63, 2, 24000},
    {"l3-compl.bit", 217, 3, 48000},
    {"l3-he_32khz.bit", 150, 3, 32000},
    {"l3-he_44khz.bit", 410, 3, 44100},
    {"l3-he_48khz.bit", 150, 3, 48000},
    {"l3-he_mode.bit", 128, 3, 44100},
    {"l3-he_free.bit", 68, 3, 44100},  // free format: the length is measured
    {"l3-hecommon.bit", 30, 3, 44100},
    {"l3-si.bit", 118, 3, 44100},
    {"l3-si_block.bit", 64, 3, 44100},
    {"l3-si_huff.bit", 75, 3, 44100},
    {"l3-sin1k0db.bit", 318, 3, 44100},
    {"M2L3_compl24.bit", 212, 3, 24000},
    {"M2L3_noise.bit", 386, 3, 22050},
    {"M2L3_bitrate_16_all.bit", 476, 3, 16000},
    {"M2L3_bitrate_22_all.bit", 476, 3, 22050},
    {"M2L3_bitrate_24_all.bit", 476, 3, 24000},
};

TEST(FrameReader, ReadsEveryFrameOfTheComplianceStreamsWithoutAMessage) {
  KUV_REQUIRE_REFERENCE(test::fileExists(test::conformancePath("l1-fl1.bit")), "compliance streams");
  for (const ConformanceCase& c : kConformance) {
    SCOPED_TRACE(c.name);
    const std::string path = test::conformancePath(c.name);
    const Scan scan = scanFile(path);
    ASSERT_TRUE(scan.opened);
    EXPECT_EQ(scan.frames.size(), c.frames);
    EXPECT_TRUE(scan.errors.empty());
    ASSERT_FALSE(scan.frames.empty());
    EXPECT_EQ(scan.frames[0].layer, c.layer);
    EXPECT_EQ(kSampleRates[scan.frames[0].sampleRateIndex], c.rate);
    // Consecutive frames: each body ends where the next header starts,
    // whatever the bit rate of each frame.
    // The last frame may be cut short, so its length is not checked.
    for (size_t i = 1; i + 1 < scan.offsets.size(); ++i) {
      if (scan.offsets[i] != scan.offsets[i - 1] + scan.frames[i - 1].bodyLength + 4) {
        ADD_FAILURE() << "gap before frame " << i;
        break;
      }
    }
  }
}

TEST(FrameReader, VariableBitRateStreamsKeepEveryFrame) {
  KUV_REQUIRE_REFERENCE(test::fileExists(test::conformancePath("l3-he_44khz.bit")), "compliance streams");
  const Scan scan = scanFile(test::conformancePath("l3-he_44khz.bit"));
  std::vector<int> rates;
  for (const FrameContext& f : scan.frames) rates.push_back(f.bitRateIndex);
  std::sort(rates.begin(), rates.end());
  rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
  EXPECT_GE(rates.size(), 10u) << "every bit rate is used in this stream";
  EXPECT_EQ(scan.frames.size(), 410u);
}

TEST(FrameReader, ProtectionAndPrivateBitsMayChangeBetweenFrames) {
  // This compliance stream switches on CRC words and the private bit midway.
  KUV_REQUIRE_REFERENCE(test::fileExists(test::conformancePath("l3-hecommon.bit")), "compliance streams");
  const Scan scan = scanFile(test::conformancePath("l3-hecommon.bit"));
  ASSERT_EQ(scan.frames.size(), 30u);
  EXPECT_EQ(scan.frames.front().crcPresent, 0);
  EXPECT_EQ(scan.frames.back().crcPresent, 1);
  EXPECT_EQ(scan.frames[5].sideInfoLength, 34);  // 32 bytes + the CRC word
}

struct FixtureCase {
  const char* name;
  size_t frames;
  int lsf;
  int mpeg25;
};

const FixtureCase kFixtures[] = {
    {"cbr.mp3", 461, 0, 0},   {"cbr_notag.mp3", 461, 0, 0},  {"vbr.mp3", 461, 0, 0},       {"vbr_notag.mp3", 461, 0, 0},
    {"mpeg2.mp3", 462, 1, 0}, {"mpeg25.mp3", 232, 1, 1},     {"crc.mp3", 461, 0, 0},       {"mono.mp3", 461, 0, 0},
    {"id3v2.mp3", 461, 0, 0}, {"junk_front.mp3", 461, 0, 0}, {"truncated.mp3", 461, 0, 0}, {"id3v1.mp3", 461, 0, 0},
};

TEST(FrameReader, ReadsEncodedFilesFrameForFrame) {
  for (const FixtureCase& c : kFixtures) {
    SCOPED_TRACE(c.name);
    const Scan scan = scanFile(test::fixturePath(c.name));
    ASSERT_TRUE(scan.opened);
    EXPECT_EQ(scan.frames.size(), c.frames);
    EXPECT_TRUE(scan.errors.empty());
    ASSERT_FALSE(scan.frames.empty());
    EXPECT_EQ(scan.frames[0].layer, 3);
    EXPECT_EQ(scan.frames[0].lsf, c.lsf);
    EXPECT_EQ(scan.frames[0].mpeg25, c.mpeg25);
    if (std::string(c.name) != "vbr_notag.mp3") {
      // Without a tag a VBR file can only be estimated from its first frame.
      EXPECT_NEAR(static_cast<double>(scan.totalAfterFirst), static_cast<double>(c.frames), 1.0);
    }
  }
}

TEST(FrameReader, SkipsTagsAndJunkAroundTheAudio) {
  const Scan plain = scanFile(test::fixturePath("cbr_notag.mp3"));
  const Scan tagged = scanFile(test::fixturePath("id3v2.mp3"));
  const Scan junk = scanFile(test::fixturePath("junk_front.mp3"));
  ASSERT_FALSE(plain.offsets.empty());
  ASSERT_EQ(tagged.offsets.size(), plain.offsets.size());
  ASSERT_EQ(junk.offsets.size(), plain.offsets.size());
  // The tag is 10 + 307224 bytes; the junk 3000.
  EXPECT_EQ(tagged.offsets[0], 307234);
  EXPECT_EQ(junk.offsets[0], 3000);
  EXPECT_EQ(tagged.offsets.back() - tagged.offsets[0], plain.offsets.back() - plain.offsets[0]);
}

TEST(FrameReader, XingAndInfoFramesAreNotAudio) {
  const Scan vbr = scanFile(test::fixturePath("vbr.mp3"));
  const Scan vbrNoTag = scanFile(test::fixturePath("vbr_notag.mp3"));
  ASSERT_EQ(vbr.frames.size(), vbrNoTag.frames.size());
  // The first audio frame follows the tag frame.
  EXPECT_GT(vbr.offsets[0], 0);
  EXPECT_EQ(vbr.offsets[1] - vbr.offsets[0], vbrNoTag.offsets[1] - vbrNoTag.offsets[0]);
}

TEST(FrameReader, CrcFramesKeepTheirLengthAndFlag) {
  const Scan crc = scanFile(test::fixturePath("crc.mp3"));
  const Scan plain = scanFile(test::fixturePath("cbr_notag.mp3"));
  ASSERT_EQ(crc.frames.size(), plain.frames.size());
  for (size_t i = 0; i < crc.frames.size(); ++i) {
    ASSERT_EQ(crc.frames[i].crcPresent, 1);
    ASSERT_EQ(crc.frames[i].bodyLength, plain.frames[i].bodyLength);
  }
  EXPECT_EQ(crc.frames[0].sideInfoLength, 34);
}

TEST(FrameReader, ACutLastFrameIsCompletedWithSilence) {
  MessageRecorder recorder;
  auto s = std::make_unique<InputStream>();
  FrameContext ctx;
  ASSERT_TRUE(openStream(*s, test::fixturePath("truncated.mp3")));
  resetFrameState(*s);
  size_t frames = 0;
  while (readFrame(*s, ctx)) ++frames;
  EXPECT_EQ(frames, 461u);
  const uint8_t* body = s->store.bytes + slotStart(s->store.currentSlot);
  for (int i = ctx.bodyLength - 150; i < ctx.bodyLength; ++i) ASSERT_EQ(body[i], 0) << i;
  closeStream(*s);
  EXPECT_TRUE(recorder.boxes().empty());
}

TEST(FrameReader, RandomBytesAreNotMpegAudio) {
  const Scan scan = scanFile(test::fixturePath("random.bin"));
  EXPECT_TRUE(scan.frames.empty());
  EXPECT_EQ(scan.errors, std::vector<ReadError>{ReadError::kNotMpeg});
}

// Frames built by hand: a header word and a body of the right length.
std::string frameBytes(uint32_t header, int32_t bodyLength, uint8_t fill = 0x11) {
  std::string bytes = bigEndianBytes(header);
  bytes.append(static_cast<size_t>(bodyLength), static_cast<char>(fill));
  return bytes;
}

class SyntheticStream : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = test::makeTempFolder(); }
  void TearDown() override { test::removeTree(folder_); }
  std::string write(const std::string& bytes) {
    const std::string path = folder_ + "/stream.mp3";
    test::writeFile(path, bytes);
    return path;
  }
  std::string folder_;
};

// MPEG-1 Layer III, 44.1 kHz, no CRC, joint stereo.
uint32_t l3Header(int bitRateIndex, int padding = 0) {
  return 0xFFFB0040u | (static_cast<uint32_t>(bitRateIndex) << 12) | (static_cast<uint32_t>(padding) << 9);
}

TEST_F(SyntheticStream, LostSyncIsFoundAgainAgainstTheKnownHeaders) {
  std::string bytes;
  for (int i = 0; i < 5; ++i) bytes += frameBytes(l3Header(9), 413);
  bytes += std::string(700, '\x22');  // damage between frames
  for (int i = 0; i < 5; ++i) bytes += frameBytes(l3Header(9), 413);
  const Scan scan = scanFile(write(bytes));
  EXPECT_EQ(scan.frames.size(), 10u);
  EXPECT_TRUE(scan.errors.empty());
  EXPECT_EQ(scan.offsets[5], 5 * 417 + 700);
}

TEST_F(SyntheticStream, GivesUpAfterTooMuchDamage) {
  std::string bytes = frameBytes(l3Header(9), 413) + frameBytes(l3Header(9), 413);
  bytes += std::string(40000, '\x22');
  bytes += frameBytes(l3Header(9), 413);
  const Scan scan = scanFile(write(bytes));
  EXPECT_EQ(scan.frames.size(), 2u);
  EXPECT_EQ(scan.errors, std::vector<ReadError>{ReadError::kSyncLost});
}

TEST_F(SyntheticStream, IdenticalHeadersReuseTheLengthAndPaddingChangesIt) {
  std::string bytes = frameBytes(l3Header(9), 413) + frameBytes(l3Header(9), 413) + frameBytes(l3Header(9, 1), 414) +
                      frameBytes(l3Header(9, 1), 414);
  const Scan scan = scanFile(write(bytes));
  ASSERT_EQ(scan.frames.size(), 4u);
  EXPECT_EQ(scan.frames[0].headerChanged, 1);
  EXPECT_EQ(scan.frames[1].headerChanged, 0);
  EXPECT_EQ(scan.frames[2].headerChanged, 1);
  EXPECT_EQ(scan.frames[2].bodyLength, 414);
  EXPECT_EQ(scan.frames[3].headerChanged, 0);
}

TEST_F(SyntheticStream, ABodyLargerThanASlotIsRejected) {
  // MPEG 2.5 Layer II at 8 kHz: 32 kbit/s fits a slot, 160 kbit/s (2880
  // bytes) does not.
  const uint32_t small = 0xFFE50800u | (4u << 12);   // index 4 = 32 kbit/s
  const uint32_t large = 0xFFE50800u | (14u << 12);  // index 14 = 160 kbit/s
  ASSERT_EQ(frameBodyLength(2, 1, 8, 4, 0), 572);
  ASSERT_GT(frameBodyLength(2, 1, 8, 14, 0), kSlotBytes);
  std::string bytes =
      frameBytes(small, 572) + frameBytes(small, 572) + frameBytes(large, 2876) + frameBytes(small, 572);
  const Scan scan = scanFile(write(bytes));
  EXPECT_EQ(scan.frames.size(), 2u);
}

TEST_F(SyntheticStream, ALayerOneHeaderWithoutCrcIsOnlyTakenWhereAFrameStarts) {
  // 0xFFFF.... is MPEG-1 Layer I without CRC: taken as the very first word,
  // never by the search.
  const uint32_t l1 = 0xFFFFC000u | (12u << 12);  // 384 kbit/s, 44.1 kHz... index 12
  const int32_t body = frameBodyLength(1, 0, 0, 12, 0);
  const std::string frames = frameBytes(l1, body) + frameBytes(l1, body) + frameBytes(l1, body);
  EXPECT_EQ(scanFile(write(frames)).frames.size(), 3u);
  EXPECT_EQ(scanFile(write("\x01\x02" + frames)).frames.size(), 0u);
}

// Free-format headers (bit-rate index 0), no CRC, stereo.
constexpr uint32_t kFreeL1 = 0xFFFF0000u;     // MPEG-1 Layer I, 44.1 kHz
constexpr uint32_t kFreeL2 = 0xFFFD0000u;     // MPEG-1 Layer II, 44.1 kHz
constexpr uint32_t kFreeL3 = 0xFFFB0040u;     // MPEG-1 Layer III, 44.1 kHz, joint stereo
constexpr uint32_t kFreeL3Lsf = 0xFFF30040u;  // MPEG-2 Layer III, 22.05 kHz

// Free-format frames of `length` bytes (header included), every odd one
// padded by a slot.
std::string freeFrames(uint32_t header, int32_t length, int32_t slot, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    const int padding = i % 2;
    bytes += frameBytes(header | (static_cast<uint32_t>(padding) << 9), length - 4 + padding * slot);
  }
  return bytes;
}

TEST_F(SyntheticStream, FreeFormatFramesTakeTheirMeasuredLength) {
  const struct {
    const char* name;
    uint32_t header;
    int32_t length;
    int32_t slot;
    size_t junk;  // bytes in front of the first frame
  } cases[] = {
      {"layer III", kFreeL3, 392, 1, 0},
      {"layer III after junk", kFreeL3, 392, 1, 1000},
      {"layer III, MPEG-2", kFreeL3Lsf, 300, 1, 0},
      {"layer II", kFreeL2, 600, 1, 0},
      {"layer I", kFreeL1, 400, 4, 0},
      {"longest that fits a slot", kFreeL3, kSlotBytes + 3, 1, 0},
  };
  constexpr int kFrames = 8;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write(std::string(c.junk, '\x22') + freeFrames(c.header, c.length, c.slot, kFrames));
    const Scan scan = scanFile(path, false);
    EXPECT_TRUE(scan.errors.empty());
    ASSERT_EQ(scan.frames.size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
      EXPECT_EQ(scan.frames[i].bitRateIndex, 0);
      EXPECT_EQ(scan.frames[i].bodyLength, c.length - 4 + (i % 2) * c.slot) << i;
      EXPECT_EQ(scan.offsets[i], static_cast<int64_t>(c.junk) + i * c.length + (i / 2) * c.slot) << i;
    }
    if (c.header == kFreeL2) {
      EXPECT_EQ(scan.frames[0].allocTable, kAllocB);  // 184 kbit/s, 92 per channel
    }
    // Length, progress and seeking count in frames of the measured length.
    EXPECT_EQ(scan.totalAfterFirst, static_cast<uint32_t>(kFrames));
    MessageRecorder recorder;
    auto s = std::make_unique<InputStream>();
    FrameContext ctx;
    ASSERT_TRUE(openStream(*s, path));
    resetFrameState(*s);
    ASSERT_EQ(readFrame(*s, ctx), 1);
    EXPECT_DOUBLE_EQ(bytesPerFrame(ctx), c.length);
    ASSERT_TRUE(seekToFrame(*s, ctx, 3));
    // The seek lands on frame 3 and reads two frames past it.
    EXPECT_EQ(currentFrame(*s, ctx), 5u);
    ASSERT_EQ(readFrame(*s, ctx), 1);
    EXPECT_EQ(streamPosition(*s) - ctx.bodyLength - 4, scan.offsets[5]);
    closeStream(*s);
  }
}

TEST_F(SyntheticStream, UnmeasurableFreeFormatAsksOncePerTrack) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"a single frame", freeFrames(kFreeL3, 392, 1, 1)},
      {"frames longer than a slot", freeFrames(kFreeL3, kSlotBytes + 10, 1, 6)},
      {"no third header to confirm", freeFrames(kFreeL3, 392, 1, 2) + std::string(5000, '\x22')},
  };
  for (const auto& c : cases) {
    for (const bool searchOn : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (searchOn ? ", yes" : ", no"));
      const Scan scan = scanFile(write(c.bytes), searchOn);
      EXPECT_TRUE(scan.frames.empty());
      EXPECT_EQ(scan.errors, std::vector<ReadError>{ReadError::kUnmeasurableFree});
    }
  }
}

TEST_F(SyntheticStream, AYesToTheQuestionFindsTheFramesAfterIt) {
  const std::string path = write(freeFrames(kFreeL3, 392, 1, 1) + freeFrames(l3Header(9), 417, 1, 5));
  const Scan yes = scanFile(path, true);
  EXPECT_EQ(yes.frames.size(), 5u);
  EXPECT_EQ(yes.errors, std::vector<ReadError>{ReadError::kUnmeasurableFree});
  const Scan no = scanFile(path, false);
  EXPECT_TRUE(no.frames.empty());
}

// What the user sees: the decoder thread's reading turns each error into
// its box, asks the question once per track and passes the answer on.
TEST_F(SyntheticStream, TheUserIsToldEachReaderErrorOnce) {
  const std::string fine = frameBytes(l3Header(9), 413) + frameBytes(l3Header(9), 413);
  const std::string cut = fine + std::string(40000, '\x22') + frameBytes(l3Header(9), 413);
  const std::string freeThenFrames = freeFrames(kFreeL3, 392, 1, 1) + freeFrames(l3Header(9), 417, 1, 5);
  const std::string longFree = freeFrames(kFreeL3, kSlotBytes + 10, 1, 6);
  const unsigned kOk = platform::MB_OK | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND;
  const unsigned kYesNo = platform::MB_YESNO | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND;
  const struct {
    const char* name;
    std::string bytes;
    int answer;
    size_t frames;
    std::vector<test::RecordedBox> boxes;
  } cases[] = {
      {"a clean stream", fine, 0, 2, {}},
      {"random bytes", test::readFile(test::fixturePath("random.bin")), 0, 0, {{kNotMpegText, kSyncErrorTitle, kOk}}},
      {"too much damage", cut, 0, 2, {{kNoSyncText, kSyncErrorTitle, kOk}}},
      {"free format, yes", freeThenFrames, platform::IDYES, 5, {{kInvalidBitrateText, kStreamErrorTitle, kYesNo}}},
      {"free format, no", freeThenFrames, platform::IDNO, 0, {{kInvalidBitrateText, kStreamErrorTitle, kYesNo}}},
      {"unmeasurable frames, yes", longFree, platform::IDYES, 0, {{kInvalidBitrateText, kStreamErrorTitle, kYesNo}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.bytes.empty());
    MessageRecorder recorder(c.answer);
    auto s = std::make_unique<InputStream>();
    FrameContext ctx;
    ASSERT_TRUE(openStream(*s, write(c.bytes)));
    resetFrameState(*s);
    size_t frames = 0;
    while (readFrameTellingUser(*s, ctx)) ++frames;
    closeStream(*s);
    EXPECT_EQ(frames, c.frames);
    const std::vector<test::RecordedBox> boxes = recorder.boxes();
    ASSERT_EQ(boxes.size(), c.boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(boxes[i].text, c.boxes[i].text);
      EXPECT_EQ(boxes[i].title, c.boxes[i].title);
      EXPECT_EQ(boxes[i].style, c.boxes[i].style);
    }
    EXPECT_EQ(s->userTold, !c.boxes.empty());
  }
}

TEST_F(SyntheticStream, DamagedFilesNeverCrashTheReader) {
  const std::string original = test::readFile(test::fixturePath("vbr.mp3"));
  ASSERT_FALSE(original.empty());
  std::mt19937 random(1234);
  for (int round = 0; round < 60; ++round) {
    std::string bytes = original;
    const int flips = 1 + static_cast<int>(random() % 400);
    for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<char>(random());
    if (round % 3 == 0) bytes.resize(random() % bytes.size());
    if (round % 5 == 0) bytes.insert(0, "ID3\x04\x00\x10\x7f\x7f\x7f\x7f");  // tag claiming 256 MB
    const Scan scan = scanFile(write(bytes), round % 2 == 1);
    EXPECT_LE(scan.frames.size(), 2000u);
  }
}

}  // namespace
}  // namespace kuv
