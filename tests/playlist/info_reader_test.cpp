// Reading entries' information in the background: results reach the entry
// whose content they belong to, wherever it has moved, and nothing of a
// cleared list is applied.
#include "playlist/info_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "config/settings.h"
#include "playlist/playlist.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using namespace std::chrono_literals;

class InfoReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.ReadFileInfo = 1;
    setInfoReadingDeferred(true);
    clearPlaylist();
  }
  void TearDown() override {
    setInfoReadingDeferred(false);
    clearPlaylist();
  }
  // Applies results as they are announced until every entry that can be
  // read has been, or the time runs out.
  static bool applyUntilIdle(InfoReader& reader, std::atomic<int>& announced, std::vector<int32_t>* changed) {
    return test::waitUntil(
        [&] {
          if (announced.load() > 0) {
            announced.store(0);
            for (int32_t p : reader.applyResults()) changed->push_back(p);
          }
          return reader.progress().total == 0;
        },
        30s);
  }
  test::SavedSettings saved_;
};

TEST_F(InfoReaderTest, ResultsFollowTheirContentAndSkipWhatCannotBeRead) {
  std::atomic<int> announced{0};
  InfoReader reader([&] { announced.fetch_add(1); });
  const std::vector<std::string> names = {"cbr.mp3", "id3v2.mp3", "mono.mp3"};
  for (const std::string& name : names) ASSERT_TRUE(addEntry(test::fixturePath(name)));
  ASSERT_TRUE(addEntry("http://example.invalid/stream.mp3"));
  ASSERT_TRUE(addEntry("/nonexistent/folder/missing.mp3"));
  for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(entryAt(i)->infoKnown, 0) << "deferred: nothing read while adding";
  EXPECT_EQ(reader.queueUnknownEntries(), 4) << "the URL is not read";
  EXPECT_EQ(reader.queueUnknownEntries(), 0) << "nothing added since";
  // The list is reordered while the reader works: results go by content.
  sortEntries(1);
  std::vector<int32_t> changed;
  ASSERT_TRUE(applyUntilIdle(reader, announced, &changed));
  for (int32_t i = 0; PlaylistEntry* e = entryAt(i); ++i) {
    SCOPED_TRACE(e->path);
    const bool readable = e->path.find("fixtures") != std::string::npos;
    EXPECT_EQ(e->infoKnown, readable ? 1 : 0);
    if (!readable) continue;
    PlaylistEntry direct;
    direct.path = e->path;
    readEntryInfo(direct);
    EXPECT_EQ(e->lengthMs, direct.lengthMs);
    EXPECT_STREQ(e->tag.title, direct.tag.title);
  }
  EXPECT_EQ(changed.size(), 3u);
}

TEST_F(InfoReaderTest, AClearedListGetsNothingAndLaterEntriesAreRead) {
  std::atomic<int> announced{0};
  InfoReader reader([&] { announced.fetch_add(1); });
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(addEntry(test::fixturePath("cbr.mp3")));
  reader.queueUnknownEntries();
  clearPlaylist();
  reader.forget();
  ASSERT_TRUE(addEntry(test::fixturePath("mono.mp3")));
  EXPECT_EQ(reader.queueUnknownEntries(), 1);
  std::vector<int32_t> changed;
  ASSERT_TRUE(applyUntilIdle(reader, announced, &changed));
  EXPECT_EQ(entryCount(), 1);
  EXPECT_EQ(entryAt(0)->infoKnown, 1);
  EXPECT_EQ(changed, std::vector<int32_t>{0});
}

}  // namespace
}  // namespace kuv
