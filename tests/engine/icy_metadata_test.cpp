// The ICY metadata demultiplexer and title parsing, without a network.
#include "engine/icy_metadata.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_patterns.h"

namespace kuv {
namespace {

// A body as a server sends it: after every `interval` audio bytes one
// length byte and that many 16-byte units of `blocks[i]` (zero-padded).
std::string interleave(const std::string& audio, uint32_t interval, const std::vector<std::string>& blocks) {
  std::string out;
  size_t block = 0;
  for (size_t at = 0; at < audio.size(); at += interval) {
    const size_t n = std::min<size_t>(interval, audio.size() - at);
    out.append(audio, at, n);
    if (n < interval) break;
    std::string meta = block < blocks.size() ? blocks[block] : std::string();
    ++block;
    const size_t units = (meta.size() + 15) / 16;
    meta.resize(units * 16, '\0');
    out += static_cast<char>(units);
    out += meta;
  }
  return out;
}

struct Fed {
  std::string audio;
  std::vector<std::string> titles;
};

Fed feedInPieces(const std::string& body, uint32_t interval, const std::vector<size_t>& cuts) {
  IcyDemuxer d;
  startIcyDemuxer(d, interval);
  Fed fed;
  std::string title = "before";
  size_t from = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(body.size());
  for (size_t end : ends) {
    std::vector<std::string> blocks;
    feedIcyDemuxer(d, body.data() + from, end - from, fed.audio, blocks);
    for (const std::string& block : blocks)
      if (applyIcyMetadata(block, title)) fed.titles.push_back(title);
    from = end;
  }
  return fed;
}

TEST(IcyDemuxer, AudioAndTitlesSurviveEverySplit) {
  const std::string audio = test::noiseBytes(700, 21);
  const std::string longTitle(4000, 'L');
  struct Case {
    const char* what;
    uint32_t interval;
    std::vector<std::string> blocks;
    std::vector<std::string> titles;
  };
  const Case cases[] = {
      {"titles with empty blocks between",
       64,
       {"StreamTitle='One';", "", "", "StreamTitle='Two';StreamUrl='';", "", "StreamTitle='Two';"},
       {"One", "Two"}},
      {"apostrophes inside a title", 100, {"StreamTitle='Don't Stop';"}, {"Don't Stop"}},
      {"an explicit empty title clears, a block without one leaves",
       50,
       {"StreamTitle='A';", "StreamUrl='x';", "StreamTitle='';", "StreamTitle='B';"},
       {"A", "", "B"}},
      {"the largest block", 300, {"StreamTitle='" + longTitle + "';"}, {std::string(kIcyMaxTextBytes, 'L')}},
      {"interval of one byte", 1, {"StreamTitle='tiny';"}, {"tiny"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string body = interleave(audio, c.interval, c.blocks);
    Fed whole = feedInPieces(body, c.interval, {});
    EXPECT_EQ(whole.audio, audio);
    EXPECT_EQ(whole.titles, c.titles);
    for (size_t cut = 0; cut <= body.size(); ++cut) {
      Fed two = feedInPieces(body, c.interval, {cut});
      ASSERT_EQ(two.audio, audio) << "cut at " << cut;
      ASSERT_EQ(two.titles, c.titles) << "cut at " << cut;
    }
    std::vector<size_t> bytes;
    for (size_t i = 1; i < body.size(); ++i) bytes.push_back(i);
    Fed single = feedInPieces(body, c.interval, bytes);
    EXPECT_EQ(single.audio, audio);
    EXPECT_EQ(single.titles, c.titles);
  }
}

TEST(IcyDemuxer, NoIntervalPassesEverything) {
  const std::string body = "StreamTitle='no';" + test::noiseBytes(300, 22);
  Fed fed = feedInPieces(body, 0, {5, 77});
  EXPECT_EQ(fed.audio, body);
  EXPECT_TRUE(fed.titles.empty());
}

TEST(IcyMetaInt, OnlyPlausibleIntervalsCount) {
  const struct {
    const char* value;
    uint32_t interval;
  } cases[] = {{"16000", 16000}, {" 8192\r", 8192}, {"1048576", 1048576}, {"1048577", 0}, {"99999999999", 0},
               {"0", 0},         {"", 0},           {"abc", 0},           {"-5", 0},      {"12ab", 0}};
  for (const auto& c : cases) EXPECT_EQ(parseIcyMetaInt(c.value), c.interval) << c.value;
}

TEST(IcyTitle, TextIsMadeSafe) {
  const std::string twoByte = "\xC3\xA9";  // é
  const struct {
    const char* what;
    std::string block;
    std::string title;
  } cases[] = {
      {"plain", "StreamTitle='Artist - Song';", "Artist - Song"},
      {"UTF-8 kept", "StreamTitle='Caf" + twoByte + "';", "Caf" + twoByte},
      {"Latin-1 converted", "StreamTitle='Caf\xE9 M\xFCller';", "Caf" + twoByte + " M\xC3\xBCller"},
      {"controls dropped", "StreamTitle='a\x1B[2Jb\x07\tc';", "a[2Jbc"},
      {"C1 controls dropped", "StreamTitle='x\xC2\x85y';", "xy"},
      {"cut short without the closing quote", "StreamTitle='Half", "Half"},
      {"padding ends the block", std::string("StreamTitle='Pad';\0\0\0StreamTitle='no';", 38), "Pad"},
      {"never cut inside a character", "StreamTitle='" + std::string(254, 'a') + twoByte + "';", std::string(254, 'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string title = "old";
    applyIcyMetadata(c.block, title);
    EXPECT_EQ(title, c.title);
    EXPECT_LE(title.size(), kIcyMaxTextBytes);
  }
}

}  // namespace
}  // namespace kuv
