// The LAME extension of Xing/Info tags, read from files lame itself wrote:
// encoder delay and padding, ReplayGain and peak, the tag's CRC, and tags
// that are cut short, damaged or lie.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/frame_context.h"
#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "decoder/vbr_tag.h"
#include "support/byte_patterns.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using test::B;

// A 16-bit PCM wave file of a two-tone signal at `amplitude` of full scale.
std::string waveFile(int rate, int channels, int samples, double amplitude) {
  std::string data;
  for (int i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) / rate;
    const auto v = static_cast<int16_t>(
        std::lround(32767 * amplitude * (0.7 * std::sin(2 * M_PI * 440 * t) + 0.3 * std::sin(2 * M_PI * 1234 * t))));
    for (int c = 0; c < channels; ++c) data += {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
  }
  const auto blockAlign = static_cast<uint32_t>(2 * channels);
  return "RIFF" + test::littleEndianBytes(36 + static_cast<uint32_t>(data.size())) + "WAVEfmt " +
         test::littleEndianBytes(16) + std::string{1, 0} + std::string{static_cast<char>(channels), 0} +
         test::littleEndianBytes(static_cast<uint32_t>(rate)) +
         test::littleEndianBytes(static_cast<uint32_t>(rate) * blockAlign) +
         std::string{static_cast<char>(blockAlign), 0, 16, 0} + "data" +
         test::littleEndianBytes(static_cast<uint32_t>(data.size())) + data;
}

// CRC-16/ARC, as the encoder computes the tag's own CRC.
uint16_t arc16(const std::string& bytes, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>(crc ^ static_cast<uint8_t>(bytes[i]));
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

struct FirstFrame {
  std::string bytes;  // header and body
  FrameContext ctx;
};

FirstFrame firstFrame(const std::string& file) {
  FirstFrame f;
  if (file.size() < 4) return f;
  const uint32_t word = bigEndian32(reinterpret_cast<const uint8_t*>(file.data()));
  if (!hasSyncBits(word)) return f;
  decodeHeaderFields(word, f.ctx);
  const int32_t body =
      frameBodyLength(f.ctx.layer, f.ctx.lsf, f.ctx.sampleRateIndex, f.ctx.bitRateIndex, f.ctx.padding);
  f.bytes = file.substr(0, 4 + static_cast<size_t>(body));
  return f;
}

// Parses the body from a buffer of exactly its size, so a read past it is
// one the address sanitizer sees.
bool parse(const FirstFrame& f, VbrTag& tag, size_t bodyLength) {
  const std::vector<uint8_t> body(f.bytes.begin() + 4, f.bytes.begin() + 4 + static_cast<long>(bodyLength));
  return parseVbrTag(body.data(), static_cast<int32_t>(body.size()), f.ctx, tag);
}

VbrTag parsed(const FirstFrame& f) {
  VbrTag tag;
  parse(f, tag, f.bytes.size() - 4);
  return tag;
}

class LameTagFile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::makeTempFolder();
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override { test::removeTree(folder_); }

  // Encodes `samples` samples with lame and the options given; what lame
  // printed goes to `printed`.
  std::string encode(const std::string& options, int rate, int channels, int samples, double amplitude,
                     std::string* printed = nullptr) {
    const std::string wave = folder_ + "/in.wav";
    const std::string mp3 = folder_ + "/out.mp3";
    EXPECT_TRUE(test::writeFile(wave, waveFile(rate, channels, samples, amplitude)));
    std::string output;
    EXPECT_EQ(test::runCommand("lame " + options + " '" + wave + "' '" + mp3 + "' 2>&1", &output), 0) << output;
    if (printed) *printed = output;
    return test::readFile(mp3);
  }

  // Samples ffmpeg decodes from the file (per channel).
  size_t ffmpegSamples(const std::string& mp3, int channels, double* peak) {
    const std::string in = folder_ + "/out.mp3";
    const std::string raw = folder_ + "/ffmpeg.raw";
    EXPECT_TRUE(test::writeFile(in, mp3));
    EXPECT_EQ(test::runCommand("ffmpeg -v error -y -i '" + in + "' -f s16le -acodec pcm_s16le '" + raw + "'"), 0);
    const std::vector<int16_t> pcm = test::readSamples(raw);
    int largest = 0;
    for (int16_t s : pcm) largest = std::max(largest, std::abs(static_cast<int>(s)));
    *peak = largest / 32767.0;
    return pcm.size() / static_cast<size_t>(channels);
  }

  std::string folder_;
};

TEST_F(LameTagFile, DelayPaddingAndGainAccountForWhatLameWrote) {
  std::string found;
  KUV_REQUIRE_REFERENCE(test::runCommand("command -v lame && command -v ffmpeg", &found) == 0, "lame and ffmpeg");
  const struct {
    const char* options;
    int rate;
    int channels;
    VbrTagKind kind;
    bool gain;  // lame works out the track gain unless told not to
    bool peak;  // and the peak only when it decodes what it encoded
  } cases[] = {
      {"-b 128", 44100, 2, kInfoTag, true, false},
      {"-V 2", 44100, 2, kXingTag, true, false},
      {"-V 2 --noreplaygain", 44100, 2, kXingTag, false, false},
      {"-b 192 --replaygain-accurate", 44100, 2, kInfoTag, true, true},
      {"-V 2 --replaygain-accurate", 48000, 2, kXingTag, true, true},
      {"-b 128 -p", 44100, 2, kInfoTag, true, false},   // CRC words: the tag sits where they would be
      {"-b 64 -m m", 22050, 1, kInfoTag, true, false},  // MPEG-2, 576 samples a frame
      {"-V 6", 16000, 1, kXingTag, true, false},
  };
  const int samples[] = {100001, 33333};
  for (const auto& c : cases) {
    for (int count : samples) {
      SCOPED_TRACE(std::string(c.options) + ", " + std::to_string(count) + " samples at " + std::to_string(c.rate));
      std::string printed;
      const std::string mp3 = encode(c.options, c.rate, c.channels, count, 0.5, &printed);
      const FirstFrame frame = firstFrame(mp3);
      ASSERT_FALSE(frame.bytes.empty());
      const VbrTag tag = parsed(frame);
      ASSERT_EQ(tag.kind, c.kind);
      const LameTag& lame = tag.lame;
      ASSERT_TRUE(lame.present);
      EXPECT_EQ(std::string(lame.encoder).rfind("LAME", 0), 0u);
      EXPECT_TRUE(lame.crcValid);
      EXPECT_TRUE(lame.delayUsable);
      EXPECT_EQ(static_cast<int64_t>(tag.frames) * samplesPerFrame(frame.ctx),
                lame.encoderDelay + count + lame.encoderPadding);
      double peak = 0;
      EXPECT_EQ(ffmpegSamples(mp3, c.channels, &peak), static_cast<size_t>(count));
      ASSERT_EQ(lame.hasTrackGain, c.gain);
      EXPECT_FALSE(lame.hasAlbumGain);
      if (c.gain) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "ReplayGain: %+.1fdB", lame.trackGainDb);
        EXPECT_NE(printed.find(expected), std::string::npos) << printed;
      }
      if (c.peak) {
        EXPECT_NEAR(lame.peak, peak, 0.002);
      } else {
        EXPECT_EQ(lame.peak, 0.0f);
      }
    }
  }
  const VbrTag none = parsed(firstFrame(encode("-b 128 -t", 44100, 2, 44100, 0.5)));
  EXPECT_EQ(none.kind, kNoTag);
  EXPECT_FALSE(none.lame.present);
}

// Offsets in the first frame of a "lame -b 128" stereo file.
constexpr size_t kLameAt = 4 + 32 + 120;
constexpr size_t kCrcAt = kLameAt + 34;

TEST_F(LameTagFile, FieldsAsWrittenAndTheCrcThatGuardsThem) {
  std::string found;
  KUV_REQUIRE_REFERENCE(test::runCommand("command -v lame", &found) == 0, "lame");
  const FirstFrame original = firstFrame(encode("-b 128 --noreplaygain", 44100, 2, 44100, 0.5));
  ASSERT_EQ(original.bytes.substr(kLameAt, 4), "LAME");
  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
    bool fixCrc;
    bool present, crcValid, usable, track, album;
    float peak;
    double trackDb, albumDb;
  };
  const Case cases[] = {
      {"as written", 0, "", false, true, true, true, false, false, 0, 0, 0},
      {"lowpass changed", kLameAt + 10, "\x01", false, true, false, true, false, false, 0, 0, 0},
      {"header bit changed", 3, "\x65", false, true, false, true, false, false, 0, 0, 0},
      {"CRC changed", kCrcAt, B("\x00\x01"), false, true, false, true, false, false, 0, 0, 0},
      // Radio -6.5 dB, audiophile +2.1 dB, peak 0.5 in 9.23 fixed point.
      {"gains", kLameAt + 11, B("\x00\x40\x00\x00\x2E\x41\x40\x15"), true, true, true, true, true, true, 0.5f, -6.5,
       2.1},
      {"peak as a float", kLameAt + 11, B("\x3F\x40\x00\x00"), true, true, true, true, false, false, 0.75f, 0, 0},
      // A name code that does not belong in its field is no gain.
      {"names swapped", kLameAt + 15, B("\x4E\x41\x20\x15"), true, true, true, true, false, false, 0, 0, 0},
      {"padding past the frames", 44, B("\x00\x00\x00\x01"), true, true, true, false, false, false, 0, 0, 0},
      {"an old LAME's version text", kLameAt, "LAME3.88 (beta)", false, false, false, false, false, false, 0, 0, 0},
      {"another encoder, CRC right", kLameAt, "XYZ12.345", true, true, true, true, false, false, 0, 0, 0},
      {"another encoder, CRC wrong", kLameAt, "XYZ12.345", false, false, false, false, false, false, 0, 0, 0},
      {"no name", kLameAt, B("\x00\x00\x00\x00\x00\x00\x00\x00\x00"), true, false, true, false, false, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FirstFrame f = original;
    f.bytes.replace(c.at, c.bytes.size(), c.bytes);
    if (c.fixCrc) {
      const uint16_t crc = arc16(f.bytes, kCrcAt);
      f.bytes[kCrcAt] = static_cast<char>(crc >> 8);
      f.bytes[kCrcAt + 1] = static_cast<char>(crc);
    }
    if (c.at < 4) decodeHeaderFields(bigEndian32(reinterpret_cast<const uint8_t*>(f.bytes.data())), f.ctx);
    const VbrTag tag = parsed(f);
    ASSERT_EQ(tag.kind, kInfoTag);
    const LameTag& lame = tag.lame;
    EXPECT_EQ(lame.present, c.present);
    if (!c.present) continue;
    EXPECT_EQ(lame.crcValid, c.crcValid);
    EXPECT_EQ(lame.delayUsable, c.usable);
    EXPECT_EQ(lame.hasTrackGain, c.track);
    EXPECT_EQ(lame.hasAlbumGain, c.album);
    EXPECT_FLOAT_EQ(lame.peak, c.peak);
    EXPECT_DOUBLE_EQ(lame.trackGainDb, c.trackDb);
    EXPECT_DOUBLE_EQ(lame.albumGainDb, c.albumDb);
  }
}

TEST_F(LameTagFile, ACutBodyNeverReadsPastItsEnd) {
  std::string found;
  KUV_REQUIRE_REFERENCE(test::runCommand("command -v lame", &found) == 0, "lame");
  for (const char* options : {"-b 128", "-V 2 -p", "-b 64 -m m --resample 22.05"}) {
    SCOPED_TRACE(options);
    const FirstFrame f = firstFrame(encode(options, 44100, 2, 44100, 0.5));
    ASSERT_FALSE(f.bytes.empty());
    const VbrTag whole = parsed(f);
    ASSERT_TRUE(whole.lame.present);
    for (size_t length = 0; length + 4 <= f.bytes.size(); ++length) {
      VbrTag tag;
      parse(f, tag, length);
      // The extension is all there or not at all.
      if (tag.lame.present) {
        EXPECT_EQ(tag.lame.encoderDelay, whole.lame.encoderDelay) << length;
        EXPECT_TRUE(tag.lame.crcValid) << length;
      }
    }
  }
}

}  // namespace
}  // namespace kuv
