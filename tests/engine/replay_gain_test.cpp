// ReplayGain as tags state it (ID3v2 TXXX and RVA2, the LAME tag) and the
// output scale each playback mode makes of it.
#include "engine/replay_gain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/byte_patterns.h"

namespace kuv {
namespace {

using test::B;
using test::bigEndianBytes;
using test::syncsafe32;

std::string frame3(const std::string& id, const std::string& data) {
  return id + bigEndianBytes(static_cast<uint32_t>(data.size())) + B("\0\0") + data;
}
std::string frame4(const std::string& id, const std::string& data) {
  return id + syncsafe32(static_cast<uint32_t>(data.size())) + B("\0\0") + data;
}
std::string tagOf(int major, const std::string& body) {
  return std::string("ID3") + static_cast<char>(major) + B("\0\0") + syncsafe32(static_cast<uint32_t>(body.size())) +
         body;
}

// TXXX in Latin-1 or UTF-8: encoding, description, zero, value.
std::string txxx(int encoding, const std::string& description, const std::string& value) {
  return static_cast<char>(encoding) + description + '\0' + value;
}
// The same in UTF-16 with a byte order mark (little-endian).
std::string utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += {c, '\0'};
  return out;
}
std::string txxx16(const std::string& description, const std::string& value) {
  return '\x01' + utf16(description) + B("\0\0") + utf16(value);
}
// RVA2: identification, then channel, adjustment in 1/512 dB, peak bits, peak.
std::string rva2(const std::string& id, const std::string& channels) { return id + '\0' + channels; }
std::string channel(int type, int16_t adjustment, const std::string& peakBitsAndPeak) {
  return std::string{static_cast<char>(type), static_cast<char>(static_cast<uint16_t>(adjustment) >> 8),
                     static_cast<char>(adjustment & 0xFF)} +
         peakBitsAndPeak;
}

constexpr double kUnset = 1000;  // a gain the case expects absent

struct TagCase {
  const char* what;
  std::string tag;
  double trackDb, albumDb, trackPeak, albumPeak;
};

TEST(Id3v2ReplayGain, ReadsTextAndRva2FramesAndLeavesGarbageOut) {
  const TagCase cases[] = {
      {"v2.3 Latin-1 texts",
       tagOf(3, frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_GAIN", "-6.54 dB")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_PEAK", "0.988547")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_ALBUM_GAIN", "+1.20 dB")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_ALBUM_PEAK", "1.05"))),
       -6.54, 1.2, 0.988547, 1.05},
      {"v2.4 UTF-8, any case, no unit, comma",
       tagOf(4, frame4("TXXX", txxx(3, "replaygain_track_gain", " -3,5")) +
                    frame4("TXXX", txxx(3, "ReplayGain_Album_Gain", "2 DB"))),
       -3.5, 2.0, 0, 0},
      {"v2.3 UTF-16", tagOf(3, frame3("TXXX", txxx16("REPLAYGAIN_TRACK_GAIN", "-7.25 dB"))), -7.25, kUnset, 0, 0},
      {"other descriptions", tagOf(3, frame3("TXXX", txxx(0, "REPLAYGAIN_REFERENCE_LOUDNESS", "89.0 dB"))), kUnset,
       kUnset, 0, 0},
      {"RVA2 track, 16-bit peak", tagOf(4, frame4("RVA2", rva2("track", channel(1, -1536, B("\x10\x40\x00"))))), -3.0,
       kUnset, 0.5, 0},
      {"RVA2 album after another channel",
       tagOf(4, frame4("RVA2", rva2("Album", channel(2, 512, B("\x00")) + channel(1, 1024, B("\x08\x20"))))), kUnset,
       2.0, 0, 0.25},
      {"RVA2 of another kind", tagOf(4, frame4("RVA2", rva2("normalize", channel(1, -1536, B("\x00"))))), kUnset,
       kUnset, 0, 0},
      {"TXXX wins over RVA2",
       tagOf(4, frame4("RVA2", rva2("track", channel(1, -1536, B("\x00")))) +
                    frame4("TXXX", txxx(3, "REPLAYGAIN_TRACK_GAIN", "-1.00 dB"))),
       -1.0, kUnset, 0, 0},
      {"garbage",
       tagOf(3, frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_GAIN", "nan dB")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_GAIN", "-70 dB")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_GAIN", "1e3")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_GAIN", "-6.5 dB loud")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_ALBUM_GAIN", "")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_PEAK", "-0.5")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_ALBUM_PEAK", "11"))),
       kUnset, kUnset, 0, 0},
      {"the first good value counts",
       tagOf(3, frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_GAIN", "junk")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_GAIN", "-2 dB")) +
                    frame3("TXXX", txxx(0, "REPLAYGAIN_TRACK_GAIN", "-4 dB"))),
       -2.0, kUnset, 0, 0},
      {"RVA2 cut in its peak", tagOf(4, frame4("RVA2", rva2("track", channel(1, -1536, B("\x20\x7F\xFF"))))), kUnset,
       kUnset, 0, 0},
      {"RVA2 cut in its channel", tagOf(4, frame4("RVA2", rva2("track", B("\x01\xFA")))), kUnset, kUnset, 0, 0},
      {"TXXX without its value", tagOf(3, frame3("TXXX", B("\0REPLAYGAIN_TRACK_GAIN"))), kUnset, kUnset, 0, 0},
      // The frame claims more than the tag holds: nothing of it is read.
      {"frame crossing the tag's end",
       tagOf(3, "TXXX" + bigEndianBytes(200) + B("\0\0") + txxx(0, "REPLAYGAIN_TRACK_GAIN", "-6 dB")), kUnset, kUnset,
       0, 0},
      {"no tag", "not a tag at all", kUnset, kUnset, 0, 0},
  };
  for (const TagCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (size_t cut : {c.tag.size(), c.tag.size() / 2, size_t{0}}) {
      // A copy of exactly the length given: reading past it is a fault.
      const std::vector<uint8_t> bytes(c.tag.begin(), c.tag.begin() + static_cast<long>(cut));
      ReplayGainInfo info;
      info.trackGainDb = 99;  // overwritten whole
      const bool found = readId3v2ReplayGain(bytes.data(), bytes.size(), info);
      if (cut != c.tag.size()) continue;
      EXPECT_EQ(info.hasTrackGain, c.trackDb != kUnset);
      EXPECT_EQ(info.hasAlbumGain, c.albumDb != kUnset);
      // An absent gain reads 0: the record was overwritten whole.
      EXPECT_NEAR(info.trackGainDb, c.trackDb == kUnset ? 0 : c.trackDb, 1e-9);
      EXPECT_NEAR(info.albumGainDb, c.albumDb == kUnset ? 0 : c.albumDb, 1e-9);
      EXPECT_NEAR(info.trackPeak, c.trackPeak, 1e-6);
      EXPECT_NEAR(info.albumPeak, c.albumPeak, 1e-6);
      EXPECT_EQ(found, info.hasTrackGain || info.hasAlbumGain || info.trackPeak > 0 || info.albumPeak > 0);
    }
  }
}

TEST(ReplayGainMerge, TagValuesWinAndTheLameTagFillsTheGaps) {
  LameTag lame;
  lame.present = true;
  lame.hasTrackGain = true;
  lame.trackGainDb = -8.1;
  lame.peak = 0.9f;
  ReplayGainInfo tagged;
  tagged.hasAlbumGain = true;
  tagged.albumGainDb = -5;
  ReplayGainInfo merged = mergeLameReplayGain(tagged, lame);
  EXPECT_TRUE(merged.hasTrackGain);
  EXPECT_DOUBLE_EQ(merged.trackGainDb, -8.1);
  EXPECT_DOUBLE_EQ(merged.albumGainDb, -5);
  EXPECT_NEAR(merged.trackPeak, 0.9, 1e-6);
  tagged.hasTrackGain = true;
  tagged.trackGainDb = -3;
  tagged.trackPeak = 0.7;
  merged = mergeLameReplayGain(tagged, lame);
  EXPECT_DOUBLE_EQ(merged.trackGainDb, -3);
  EXPECT_DOUBLE_EQ(merged.trackPeak, 0.7);
  lame.present = false;
  merged = mergeLameReplayGain(ReplayGainInfo{}, lame);
  EXPECT_FALSE(merged.hasTrackGain);
  EXPECT_EQ(merged.trackPeak, 0);
}

double db(double scale) { return 20 * std::log10(scale); }

TEST(ReplayGainScale, EachModePicksItsGainAndNeverClips) {
  ReplayGainInfo both;
  both.hasTrackGain = both.hasAlbumGain = true;
  both.trackGainDb = -6;
  both.albumGainDb = -3;
  both.trackPeak = 0.5;
  both.albumPeak = 0.6;
  ReplayGainInfo trackOnly = both;
  trackOnly.hasAlbumGain = false;
  trackOnly.albumPeak = 0;
  ReplayGainInfo quietLoudPeak = both;  // +9 dB would lift the 0.5 peak over full scale
  quietLoudPeak.trackGainDb = 9;
  const ReplayGainInfo none;
  ReplayGainInfo noPeak = quietLoudPeak;
  noPeak.trackPeak = noPeak.albumPeak = 0;
  const struct {
    const char* what;
    const ReplayGainInfo& info;
    int32_t mode;
    double preamp;
    bool inOrder;
    double expectedDb;
  } cases[] = {
      {"off", both, kReplayGainOff, 6, true, 0},
      {"unknown mode", both, 7, 0, true, 0},
      {"track", both, kReplayGainTrack, 0, true, -6},
      {"album", both, kReplayGainAlbum, 0, false, -3},
      {"album, falls back to track", trackOnly, kReplayGainAlbum, 0, true, -6},
      {"album in order", both, kReplayGainAlbumInOrder, 0, true, -3},
      {"album mode, shuffled", both, kReplayGainAlbumInOrder, 0, false, -6},
      {"preamp", both, kReplayGainTrack, 4, true, -2},
      {"preamp up to the peak", both, kReplayGainAlbum, 9, true, db(1 / 0.6)},
      {"clipping prevented", quietLoudPeak, kReplayGainTrack, 0, true, db(1 / 0.5)},
      {"no peak known", noPeak, kReplayGainTrack, 0, true, 9},
      {"no tags: no preamp either", none, kReplayGainTrack, 10, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_NEAR(db(replayGainScale(c.info, c.mode, c.preamp, c.inOrder)), c.expectedDb, 1e-9);
  }
}

}  // namespace
}  // namespace kuv
