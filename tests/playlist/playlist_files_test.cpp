// Adding by name: single files, URLs, folders, PLS and M3U playlists, the
// value rule, saving PLS and the open dialog's logic.
#include "playlist/playlist_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/dialogs.h"
#include "platform/ini_file.h"
#include "playlist/playlist.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using test::MessageRecorder;

class PlaylistFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings.ReadFileInfo = 0;
    clearPlaylist();
    dir_ = test::makeTempFolder();
  }
  void TearDown() override {
    clearPlaylist();
    settings = saved_;
    test::removeTree(dir_);
  }
  std::string file(const std::string& name, const std::string& bytes = "x") {
    const std::string path = dir_ + "/" + name;
    const size_t slash = path.rfind('/');
    mkdir(path.substr(0, slash).c_str(), 0755);
    EXPECT_TRUE(test::writeFile(path, bytes));
    return path;
  }
  std::string folder(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    mkdir(path.c_str(), 0755);
    return path;
  }
  static std::vector<std::string> paths() {
    std::vector<std::string> out;
    for (int32_t i = 0; PlaylistEntry* e = entryAt(i); ++i) out.push_back(e->path);
    return out;
  }
  static std::vector<std::string> texts(const MessageRecorder& boxes) {
    std::vector<std::string> out;
    for (const auto& box : boxes.boxes()) {
      EXPECT_EQ(box.title, "Error...");
      out.push_back(box.text);
    }
    return out;
  }

  std::string dir_;
  Settings saved_;
};

// --- The value rule -------------------------------------------------------------

TEST(PlaylistValueTest, RelativeAbsoluteDriveLetterAndUrl) {
  int32_t mode = -1;
  EXPECT_EQ(resolvePlaylistValue("/music", "a.mp3", mode), "/music/a.mp3");
  EXPECT_EQ(mode, kAddNormal);
  EXPECT_EQ(resolvePlaylistValue("/music/", "a.mp3", mode), "/music/a.mp3");
  EXPECT_EQ(resolvePlaylistValue("/music", "/other/b.mp3", mode), "/other/b.mp3");
  // Written on Windows: backslashes are separators.
  EXPECT_EQ(resolvePlaylistValue("/music", "sub\\c.mp3", mode), "/music/sub/c.mp3");
  EXPECT_EQ(resolvePlaylistValue("/music", "\\x\\d.mp3", mode), "/x/d.mp3");
  // A drive letter stays as it is.
  EXPECT_EQ(resolvePlaylistValue("/music", "D:\\x.mp3", mode), "D:\\x.mp3");
  EXPECT_EQ(mode, kAddNormal);
  EXPECT_EQ(resolvePlaylistValue("/music", "HTTP://radio.example/live\\x", mode), "HTTP://radio.example/live\\x");
  EXPECT_EQ(mode, kAddAsEntry);
  // A playlist named without a folder: values stay relative to where we are.
  EXPECT_EQ(resolvePlaylistValue("", "a.mp3", mode), "a.mp3");
}

TEST(PlaylistValueTest, SavedValuesAreRelativeOnlyInsideTheFolder) {
  EXPECT_EQ(playlistValueFor("/music", "/music/a.mp3"), "a.mp3");
  EXPECT_EQ(playlistValueFor("/music", "/music/sub/b.mp3"), "sub/b.mp3");
  EXPECT_EQ(playlistValueFor("/music", "/musicals/c.mp3"), "/musicals/c.mp3");
  EXPECT_EQ(playlistValueFor("/music", "/other/c.mp3"), "/other/c.mp3");
  EXPECT_EQ(playlistValueFor("/music", "http://host/music/x"), "http://host/music/x");
  // Another case is another folder here, unless it is the same folder.
  EXPECT_EQ(playlistValueFor("/no-such-kuv-folder", "/No-Such-Kuv-Folder/b.mp3"), "/No-Such-Kuv-Folder/b.mp3");
  EXPECT_EQ(playlistValueFor("/", "/a.mp3"), "a.mp3");
}

// --- addByName ------------------------------------------------------------------------

TEST_F(PlaylistFilesTest, FilesUrlsAndMissingNames) {
  MessageRecorder boxes;
  const std::string a = file("a.mp3");
  addByName(kAddNormal, a);
  addByName(kAddNormal, "http://radio.example/stream");
  addByName(kAddAsEntry, dir_ + "/not-there.mp3");
  addByName(kAddNormal, dir_ + "/missing.mp3");
  EXPECT_EQ(paths(), (std::vector<std::string>{a, "http://radio.example/stream", dir_ + "/not-there.mp3"}));
  EXPECT_EQ(texts(boxes), (std::vector<std::string>{"Error Adding Directory: " + dir_ + "/missing.mp3"}));
}

TEST_F(PlaylistFilesTest, FolderScanIsSortedRecursiveAndLoadsPlaylists) {
  MessageRecorder boxes;
  const std::string music = folder("music");
  file("music/notes.txt");
  file("music/a.mp3");
  file("music/sub/b.mp2");
  file("music/list.m3u", "a.mp3\nsub/b.mp2\n");
  mkfifo((music + "/pipe.mp3").c_str(), 0644);
  addByName(kAddNormal, music);
  EXPECT_EQ(paths(), (std::vector<std::string>{music + "/a.mp3", music + "/a.mp3", music + "/sub/b.mp2",
                                               music + "/notes.txt", music + "/sub/b.mp2"}));
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(PlaylistFilesTest, FolderLinkedIntoItselfEnds) {
  const std::string music = folder("loop");
  file("loop/a.mp3");
  ASSERT_EQ(symlink(music.c_str(), (music + "/again").c_str()), 0);
  addByName(kAddNormal, music);
  EXPECT_EQ(paths(), (std::vector<std::string>{music + "/a.mp3"}));
}

TEST_F(PlaylistFilesTest, UnlistableFolderIsReported) {
  MessageRecorder boxes;
  EXPECT_EQ(addFolder(dir_ + "/nothing"), 0);
  addByName(kAddNormal, dir_ + "/nothing");
  EXPECT_EQ(texts(boxes), (std::vector<std::string>{"Error Adding Directory: " + dir_ + "/nothing"}));
}

// --- PLS --------------------------------------------------------------------------------

TEST_F(PlaylistFilesTest, PlsValuesAreResolvedByTheValueRule) {
  MessageRecorder boxes;
  file("music/a.mp3");
  const std::string list = file("music/list.pls",
                                "[playlist]\nFile1=a.mp3\nFile2=D:\\x.mp3\nFile3=http://radio.example/live\n"
                                "NumberOfEntries=3\n");
  addByName(kAddNormal, list);
  // D:\x.mp3 does not exist: like any missing name it is reported, not added.
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/music/a.mp3", "http://radio.example/live"}));
  EXPECT_EQ(texts(boxes), (std::vector<std::string>{"Error Adding Directory: D:\\x.mp3"}));
}

TEST_F(PlaylistFilesTest, PlsCountRules) {
  file("a.mp3");
  file("b.mp3");
  file("c.mp3");
  {
    MessageRecorder boxes;
    const std::string none = file("none.pls", "[playlist]\nFile1=a.mp3\n");
    addByName(kAddNormal, none);
    EXPECT_EQ(entryCount(), 0);
    EXPECT_EQ(texts(boxes), (std::vector<std::string>{"Error Loading Playlist: " + none}));
    EXPECT_EQ(loadPls(file("minus.pls", "[playlist]\nNumberOfEntries=-1\nFile1=a.mp3\n")), 0);
    EXPECT_EQ(loadPls(file("zero.pls", "[playlist]\nNumberOfEntries=0\nFile1=a.mp3\n")), 1);
    EXPECT_EQ(entryCount(), 0);
  }
  // Only up to the count, whatever else is there; names match without case;
  // a missing key within the count is skipped.
  EXPECT_EQ(loadPls(file("two.pls", "[Playlist]\nfile2=b.mp3\nFILE1=a.mp3\nFile3=c.mp3\nFile4=c.mp3\n"
                                    "NumberOfEntries=2\n")),
            1);
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3", dir_ + "/b.mp3"}));
  clearPlaylist();
  EXPECT_EQ(loadPls(file("gap.pls", "[playlist]\nFile1=a.mp3\nFile3=c.mp3\nNumberOfEntries=2000000000\n")), 1);
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3", dir_ + "/c.mp3"}));
}

TEST_F(PlaylistFilesTest, PlaylistNamingItselfStopsAtSixteenLevels) {
  file("a.mp3");
  const std::string self = file("self.pls", "[playlist]\nFile1=self.pls\nFile2=a.mp3\nNumberOfEntries=2\n");
  MessageRecorder boxes;
  addByName(kAddNormal, self);
  // a.mp3 once per level read.
  EXPECT_EQ(entryCount(), kMaxPlaylistDepth);
  EXPECT_TRUE(boxes.boxes().empty());

  // Two playlists naming each other, several times over: it still ends.
  clearPlaylist();
  file("x.m3u", "y.m3u\ny.m3u\ny.m3u\na.mp3\n");
  file("y.m3u", "x.m3u\nx.m3u\nx.m3u\n");
  addByName(kAddNormal, dir_ + "/x.m3u");
  EXPECT_GT(entryCount(), 0);
}

TEST_F(PlaylistFilesTest, SavePlsWritesRelativeValuesAndTheCountLast) {
  const std::string list = dir_ + "/list.pls";
  EXPECT_EQ(savePls(list), 0);  // empty playlist: nothing written
  EXPECT_FALSE(test::fileExists(list));
  addEntry(dir_ + "/a.mp3");
  addEntry(dir_ + "/sub/b.mp3");
  addEntry("/other/c.mp3");
  addEntry("http://radio.example/live");
  addEntry(dir_ + "/ spaced .mp3");
  EXPECT_EQ(savePls(list), 5);
  EXPECT_EQ(test::readFile(list),
            "[playlist]\nFile1=a.mp3\nFile2=sub/b.mp3\nFile3=/other/c.mp3\nFile4=http://radio.example/live\n"
            "File5=\" spaced .mp3\"\nNumberOfEntries=5\n");
  // Read back, every path is the same again (the one missing file is
  // reported, not added).
  file("a.mp3");
  file("sub/b.mp3");
  file(" spaced .mp3");
  std::vector<std::string> before = paths();
  before.erase(before.begin() + 2);
  clearPlaylist();
  MessageRecorder boxes;
  ASSERT_EQ(loadPls(list), 1);
  EXPECT_EQ(paths(), before);
  EXPECT_EQ(texts(boxes), (std::vector<std::string>{"Error Adding Directory: /other/c.mp3"}));
}

TEST_F(PlaylistFilesTest, SavePlsUpdatesAnExistingFileInPlace) {
  const std::string list = file("keep.pls",
                                "; made elsewhere\n[other]\nkey=1\n[playlist]\nFile1=old1\nFile2=old2\nFile3=old3\n"
                                "NumberOfEntries=3\nVersion=2\n");
  addEntry(dir_ + "/n1.mp3");
  addEntry(dir_ + "/n2.mp3");
  EXPECT_EQ(savePls(list), 2);
  EXPECT_EQ(test::readFile(list),
            "; made elsewhere\n[other]\nkey=1\n[playlist]\nFile1=n1.mp3\nFile2=n2.mp3\nFile3=old3\n"
            "NumberOfEntries=2\nVersion=2\n");
}

TEST_F(PlaylistFilesTest, SavePlsReportsAFailedWrite) {
  addEntry("/m/a.mp3");
  EXPECT_EQ(savePls(dir_ + "/no-folder/list.pls"), 0);
}

// --- M3U ----------------------------------------------------------------------------------

TEST_F(PlaylistFilesTest, M3uLinesCrLfCommentsAndBlankLines) {
  MessageRecorder boxes;
  file("a.mp3");
  file("b.mp3");
  const std::string list = file("list.m3u",
                                "#EXTM3U\r\n#EXTINF:123,Artist - Title\r\na.mp3\r\n\r\n   \r\nb.mp3\n"
                                "http://radio.example/x");
  EXPECT_EQ(loadM3u(list), 1);
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3", dir_ + "/b.mp3", "http://radio.example/x"}));
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(PlaylistFilesTest, M3u8IsReadTheSameWayWithItsByteOrderMark) {
  file("caf\xC3\xA9.mp3");
  const std::string list = file("list.M3U8", "\xEF\xBB\xBF#EXTM3U\ncaf\xC3\xA9.mp3\n");
  addByName(kAddNormal, list);
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/caf\xC3\xA9.mp3"}));
}

TEST_F(PlaylistFilesTest, UnreadableM3uIsReported) {
  MessageRecorder boxes;
  addByName(kAddNormal, dir_ + "/gone.M3U");
  folder("dir.m3u");
  addByName(kAddNormal, dir_ + "/dir.m3u");
  EXPECT_EQ(texts(boxes), (std::vector<std::string>{"Error Loading Playlist: " + dir_ + "/gone.M3U",
                                                    "Error Loading Playlist: " + dir_ + "/dir.m3u"}));
}

TEST_F(PlaylistFilesTest, OverlongLinesAreDroppedWhole) {
  file("a.mp3");
  const std::string list = file("long.m3u", std::string(9000, 'q') + "\na.mp3\n");
  EXPECT_EQ(loadM3u(list), 1);
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3"}));
}

TEST_F(PlaylistFilesTest, BinaryJunkAsAPlaylistNeverCrashes) {
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    std::string junk(4096, '\0');
    for (char& c : junk) c = static_cast<char>(random());
    if (round % 2) junk = "[playlist]\nNumberOfEntries=9\nFile1=" + junk;
    MessageRecorder boxes;
    addByName(kAddNormal, file("junk.m3u", junk));
    addByName(kAddNormal, file("junk.pls", junk));
  }
  SUCCEED();
}

// --- The open dialog -----------------------------------------------------------------

TEST_F(PlaylistFilesTest, ChosenFilesSetPreviousDirAndAreAdded) {
  file("a.mp3");
  file("b.mp3");
  addEntry("/old.mp3");
  EXPECT_EQ(addChosenFiles(dir_, {"a.mp3"}, true), 1);
  EXPECT_EQ(std::string(settings.PreviousDir), dir_ + "/");
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3"}));
  EXPECT_EQ(addChosenFiles(dir_ + "/", {"b.mp3", "a.mp3"}, false), 2);
  EXPECT_EQ(std::string(settings.PreviousDir), dir_);
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3", dir_ + "/b.mp3", dir_ + "/a.mp3"}));
  // Cancel: nothing changes, even when the list was to be cleared.
  EXPECT_EQ(addChosenFiles(dir_, {}, true), 0);
  EXPECT_EQ(entryCount(), 3);
}

TEST_F(PlaylistFilesTest, OpenDialogAsksWithTitleFiltersAndFolder) {
  file("a.mp3");
  std::strcpy(settings.PreviousDir, "/start/here");
  platform::OpenFilesRequest seen;
  auto previous = platform::setOpenFilesBackend([&](const platform::OpenFilesRequest& request) {
    seen = request;
    return platform::OpenFilesAnswer{dir_, {"a.mp3"}};
  });
  EXPECT_EQ(openFilesDialog(true, 2), 1);
  platform::setOpenFilesBackend(previous);
  EXPECT_EQ(seen.title, "Open a MP3 Or Playlist...");
  EXPECT_EQ(seen.initialFolder, "/start/here");
  ASSERT_EQ(seen.filters.size(), 1u);
  EXPECT_EQ(seen.filters[0].name, "Playlist Files");
  EXPECT_EQ(seen.filters[0].pattern, "*.PLS;*.M3U");
  EXPECT_EQ(openDialogFilters(0).size(), 4u);
  EXPECT_EQ(openDialogFilters(0)[0].second, "*.MP1;*.MP2;*.MP3;*.PLS;*.M3U");
  EXPECT_EQ(openDialogFilters(1)[0].first, "Mpeg Audio Files");
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3"}));
  // The console has no dialog: a cancel.
  EXPECT_EQ(openFilesDialog(true, 0), 0);
  EXPECT_EQ(entryCount(), 1);
}

}  // namespace
}  // namespace kuv
