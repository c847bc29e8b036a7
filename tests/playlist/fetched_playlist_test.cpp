// A station's playlist fetched over the network takes its entry's place;
// a URL named like a playlist is an entry until it plays.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "support/test_support.h"

namespace kuv {
namespace {

std::vector<std::string> paths() {
  std::vector<std::string> out;
  for (int32_t i = 0; PlaylistEntry* e = entryAt(i); ++i) out.push_back(e->path);
  return out;
}

std::string currentName() {
  std::string path;
  return currentPath(path) ? path : std::string("(none)");
}

class FetchedPlaylistTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.ReadFileInfo = 0;
    clearPlaylist();
  }
  void TearDown() override { clearPlaylist(); }
  test::SavedSettings saved_;
  test::MessageRecorder boxes_;
};

TEST_F(FetchedPlaylistTest, EntriesTakeTheStationsPlaceInOrder) {
  const std::string base = "http://radio.example:8000/lists/station.pls?sid=2";
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> entries;
  };
  const Case cases[] = {
      {"PLS in index order, empty and out-of-count keys skipped",
       "\n[playlist]\r\nFile2=http://b.example/live\r\nFile1=http://a.example/live\r\nFile3=\r\nFile9=http://x/\r\n"
       "Title1=A\r\nNumberOfEntries=3\r\n",
       {"http://a.example/live", "http://b.example/live"}},
      {"PLS with relative, rooted and nested values",
       "[Playlist]\nNumberOfEntries=3\nFile1=stream.mp3\nFile2=/root.mp3\nFile3=http://c.example/more.pls\n",
       {"http://radio.example:8000/lists/stream.mp3", "http://radio.example:8000/root.mp3",
        "http://c.example/more.pls"}},
      {"M3U with a byte-order mark, comments and blanks",
       "\xEF\xBB\xBF#EXTM3U\n#EXTINF:-1,Station\nhttp://a.example/live\n\n  \nhttps://b.example/x.m3u\r\n"
       "relative/path.mp3",
       {"http://a.example/live", "https://b.example/x.m3u", "http://radio.example:8000/lists/relative/path.mp3"}},
      {"a protocol-relative value", "//d.example/live\n", {"http://d.example/live"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearPlaylist();
    addEntry("/music/before.mp3");
    addEntry(base);
    addEntry("/music/after.mp3");
    selectEntry(1);
    EXPECT_EQ(expandFetchedPlaylist(base, c.text), static_cast<int32_t>(c.entries.size()));
    std::vector<std::string> want = {"/music/before.mp3"};
    want.insert(want.end(), c.entries.begin(), c.entries.end());
    want.push_back("/music/after.mp3");
    EXPECT_EQ(paths(), want);
    EXPECT_EQ(currentName(), c.entries.front());
    // The list is walked both ways after the splice.
    EXPECT_EQ(entryAt(static_cast<int32_t>(want.size()) - 1)->previous->path, want[want.size() - 2]);
  }
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(FetchedPlaylistTest, AListWithoutEntriesIsAnErrorAndLeavesTheEntry) {
  const std::string url = "http://radio.example/empty.pls";
  const char* texts[] = {"", "[playlist]\nFile1=http://a/\n", "[playlist]\nNumberOfEntries=0\n", "#EXTM3U\n# only\n"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    clearPlaylist();
    addEntry(url);
    EXPECT_EQ(expandFetchedPlaylist(url, text), 0);
    EXPECT_EQ(paths(), std::vector<std::string>{url});
    EXPECT_EQ(currentName(), url);
  }
  const auto shown = boxes_.boxes();
  ASSERT_EQ(shown.size(), std::size(texts));
  EXPECT_EQ(shown.back().text, "Error Loading Playlist: " + url);
}

TEST_F(FetchedPlaylistTest, AUrlNamedLikeAPlaylistIsAnEntry) {
  const char* urls[] = {"http://radio.example/station.pls", "http://radio.example/a.m3u",
                        "https://radio.example/b.M3U8?x=1"};
  for (const char* url : urls) addByName(kAddNormal, url);
  EXPECT_EQ(paths(), std::vector<std::string>(std::begin(urls), std::end(urls)));
  EXPECT_TRUE(boxes_.boxes().empty());
}

}  // namespace
}  // namespace kuv
