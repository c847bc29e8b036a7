// Adding by name: single files, URLs, folders, PLS and M3U playlists, the
// value rule, saving PLS and the open dialog's logic.
#include "playlist/playlist_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
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
    settings.ReadFileInfo = 0;
    clearPlaylist();
    dir_ = test::makeTempFolder();
  }
  void TearDown() override {
    clearPlaylist();
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
  test::SavedSettings saved_;
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

TEST_F(PlaylistFilesTest, FolderScanAddsOnlyItsAudioFilesSortedAndRecursive) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // name in the folder, bytes
    std::vector<std::string> added;                          // in order
  };
  const std::string lists = "a.mp3\nB.MP2\nc.mp1\nsub/d.mp3\n";
  const std::string pls = "[playlist]\nFile1=a.mp3\nFile2=B.MP2\nNumberOfEntries=2\n";
  const Case cases[] = {
      {"its own playlists and other files beside the tracks",
       {{"a.mp3", "x"},
        {"B.MP2", "x"},
        {"c.mp1", "x"},
        {"list.m3u", lists},
        {"list.pls", pls},
        {"cover.jpg", "x"},
        {"readme.txt", "x"},
        {"sub/d.mp3", "x"}},
       {"B.MP2", "a.mp3", "c.mp1", "sub/d.mp3"}},
      {"extensions in any case, and only at the end",
       {{"e.Mp3", "x"}, {"f.mP1", "x"}, {"g.mp3.txt", "x"}, {"mp3", "x"}, {"h.mp4", "x"}, {"i.M3U8", lists}},
       {"e.Mp3", "f.mP1"}},
      {"a subfolder named like a playlist is a folder", {{"x.m3u/j.mp2", "x"}, {"x.m3u/k.pls", pls}}, {"x.m3u/j.mp2"}},
      {"nothing but playlists", {{"only.m3u", lists}, {"only.pls", pls}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearPlaylist();
    const std::string music = folder("music");
    for (const auto& [name, bytes] : c.files) file("music/" + name, bytes);
    MessageRecorder boxes;
    addByName(kAddNormal, music);
    std::vector<std::string> expected;
    for (const std::string& name : c.added) expected.push_back(music + "/" + name);
    EXPECT_EQ(paths(), expected);
    EXPECT_TRUE(boxes.boxes().empty());
    test::removeTree(music);
  }
  // A pipe named as audio is no file to play (opening it would wait).
  clearPlaylist();
  const std::string music = folder("music");
  file("music/a.mp3");
  mkfifo((music + "/pipe.mp3").c_str(), 0644);
  addByName(kAddNormal, music);
  EXPECT_EQ(paths(), (std::vector<std::string>{music + "/a.mp3"}));
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
  EXPECT_EQ(texts(boxes), (std::vector<std::string>{"1 entry of " + list + " could not be found:\nD:\\x.mp3"}));
}

// Entries a playlist names that are not there: one box for the whole add,
// naming each playlist and what it is missing, however many there are.
TEST_F(PlaylistFilesTest, MissingEntriesAreToldOnceWithTheirPlaylist) {
  file("a.mp3");
  std::string thirteen;
  for (int i = 1; i <= 13; ++i) thirteen += "gone" + std::to_string(i) + ".mp3\n";
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> lists;  // name, text; the first is added
    std::vector<std::string> added;
    std::string box;  // "" for none; {d} stands for the folder
  };
  const Case cases[] = {
      {"three in an M3U",
       {{"list.m3u", "x.mp3\na.mp3\nsub/y.mp3\nz.mp3\n"}},
       {"a.mp3"},
       "3 entries of {d}/list.m3u could not be found:\n{d}/x.mp3\n{d}/sub/y.mp3\n{d}/z.mp3"},
      {"one in a PLS",
       {{"list.pls", "[playlist]\nFile1=a.mp3\nFile2=x.mp3\nNumberOfEntries=2\n"}},
       {"a.mp3"},
       "1 entry of {d}/list.pls could not be found:\n{d}/x.mp3"},
      {"thirteen: ten names and the rest counted",
       {{"many.m3u", thirteen}},
       {},
       "13 entries of {d}/many.m3u could not be found:\n{d}/gone1.mp3\n{d}/gone2.mp3\n{d}/gone3.mp3\n"
       "{d}/gone4.mp3\n{d}/gone5.mp3\n{d}/gone6.mp3\n{d}/gone7.mp3\n{d}/gone8.mp3\n{d}/gone9.mp3\n"
       "{d}/gone10.mp3\nand 3 more"},
      {"nested playlists, each named with its own",
       {{"top.m3u", "inner.pls\np.mp3\ngone.m3u\n"},
        {"inner.pls", "[playlist]\nFile1=q.mp3\nFile2=a.mp3\nNumberOfEntries=2\n"}},
       {"a.mp3"},
       "1 entry of {d}/inner.pls could not be found:\n{d}/q.mp3\n"
       "2 entries of {d}/top.m3u could not be found:\n{d}/p.mp3\n{d}/gone.m3u"},
      {"nothing missing",
       {{"fine.m3u", "a.mp3\nhttp://radio.example/live\n"}},
       {"a.mp3", "http://radio.example/live"},
       ""},
  };
  const auto expand = [this](std::string text) {
    for (size_t at; (at = text.find("{d}")) != std::string::npos;) text.replace(at, 3, dir_);
    return text;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearPlaylist();
    for (const auto& [name, text] : c.lists) file(name, text);
    MessageRecorder boxes;
    addByName(kAddNormal, dir_ + "/" + c.lists.front().first);
    std::vector<std::string> expected;
    for (const std::string& name : c.added)
      expected.push_back(name.find("://") == std::string::npos ? dir_ + "/" + name : name);
    EXPECT_EQ(paths(), expected);
    EXPECT_EQ(texts(boxes), c.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{expand(c.box)});
  }
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
  EXPECT_EQ(loadPls(file("two.pls",
                         "[Playlist]\nfile2=b.mp3\nFILE1=a.mp3\nFile3=c.mp3\nFile4=c.mp3\n"
                         "NumberOfEntries=2\n")),
            1);
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3", dir_ + "/b.mp3"}));
  clearPlaylist();
  EXPECT_EQ(loadPls(file("gap.pls", "[playlist]\nFile1=a.mp3\nFile3=c.mp3\nNumberOfEntries=2000000000\n")), 1);
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3", dir_ + "/c.mp3"}));
}

TEST_F(PlaylistFilesTest, PlsCountIsNeverASizeToAllocate) {
  file("a.mp3");
  file("b.mp3");
  struct Case {
    const char* what;
    std::string text;
    int32_t loaded;
    std::vector<std::string> names;  // added, in order
  };
  const Case cases[] = {
      {"the largest count, the last key",
       "[playlist]\nFile1=a.mp3\nFile2147483647=b.mp3\nNumberOfEntries=2147483647\n",
       1,
       {"a.mp3", "b.mp3"}},
      {"a hundred million",
       "[playlist]\nFile99999999=b.mp3\nFile1=a.mp3\nNumberOfEntries=100000000\n",
       1,
       {"a.mp3", "b.mp3"}},
      {"a key past the count",
       "[playlist]\nFile1=a.mp3\nFile2000000000=b.mp3\nNumberOfEntries=1999999999\n",
       1,
       {"a.mp3"}},
      {"one index twice: the first counts",
       "[playlist]\nFile7=b.mp3\nfile7=a.mp3\nNumberOfEntries=2000000000\n",
       1,
       {"b.mp3"}},
      {"negative", "[playlist]\nFile1=a.mp3\nFile2147483647=b.mp3\nNumberOfEntries=-2147483647\n", 1, {}},
      {"garbage", "[playlist]\nFile1=a.mp3\nFile2147483647=b.mp3\nNumberOfEntries=lots\n", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearPlaylist();
    MessageRecorder boxes;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(loadPls(file("count.pls", c.text)), c.loaded);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    // Memory for what is there, not for what the count says.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kB more at the peak";
    std::vector<std::string> expected;
    for (const std::string& name : c.names) expected.push_back(dir_ + "/" + name);
    EXPECT_EQ(paths(), expected);
    EXPECT_TRUE(boxes.boxes().empty());
  }
}

TEST_F(PlaylistFilesTest, PlaylistsOnTheCurrentPathAreNotReadAgain) {
  file("a.mp3");
  file("b.mp3");
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> lists;  // name, text; the first is added
    std::vector<std::string> names;                          // added, in order
  };
  const Case cases[] = {
      {"a PLS naming itself twice",
       {{"self.pls",
         "[playlist]\nFile1=self.pls\nFile2=./self.pls\nFile3=a.mp3\n"
         "NumberOfEntries=3\n"}},
       {"a.mp3"}},
      {"an M3U naming itself twice", {{"self.m3u", "self.m3u\nself.m3u\na.mp3\n"}}, {"a.mp3"}},
      {"A names B, B names A",
       {{"A.m3u", "b.pls\na.mp3\n"},
        {"b.pls",
         "[playlist]\nFile1=A.m3u\nFile2=b.mp3\n"
         "NumberOfEntries=2\n"}},
       {"b.mp3", "a.mp3"}},
      {"each naming the other three times",
       {{"x.m3u", "y.m3u\ny.m3u\ny.m3u\na.mp3\n"}, {"y.m3u", "x.m3u\nx.m3u\nx.m3u\nb.mp3\n"}},
       {"b.mp3", "b.mp3", "b.mp3", "a.mp3"}},
      {"itself under other names", {{"twice.m3u", "sub/../twice.m3u\n./twice.m3u\na.mp3\n"}}, {"a.mp3"}},
      // Not a cycle: a playlist named twice is read twice.
      {"one playlist named twice",
       {{"top.m3u", "sub.m3u\nsub.m3u\n"}, {"sub.m3u", "a.mp3\nb.mp3\n"}},
       {"a.mp3", "b.mp3", "a.mp3", "b.mp3"}},
  };
  folder("sub");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearPlaylist();
    for (const auto& [name, text] : c.lists) file(name, text);
    MessageRecorder boxes;
    addByName(kAddNormal, dir_ + "/" + c.lists.front().first);
    std::vector<std::string> expected;
    for (const std::string& name : c.names) expected.push_back(dir_ + "/" + name);
    EXPECT_EQ(paths(), expected);
    EXPECT_TRUE(boxes.boxes().empty());
  }
  // A link to the playlist is the playlist.
  clearPlaylist();
  file("real.m3u", "link.m3u\nreal.m3u\na.mp3\n");
  ASSERT_EQ(symlink((dir_ + "/real.m3u").c_str(), (dir_ + "/link.m3u").c_str()), 0);
  addByName(kAddNormal, dir_ + "/link.m3u");
  EXPECT_EQ(paths(), (std::vector<std::string>{dir_ + "/a.mp3"}));
  // A chain of distinct playlists ends at the depth limit.
  clearPlaylist();
  for (int i = 0; i < kMaxPlaylistDepth + 4; ++i)
    file("chain" + std::to_string(i) + ".m3u", "chain" + std::to_string(i + 1) + ".m3u\na.mp3\n");
  addByName(kAddNormal, dir_ + "/chain0.m3u");
  EXPECT_EQ(entryCount(), kMaxPlaylistDepth);
}

TEST_F(PlaylistFilesTest, OneAddCreatesAtMostTheBoundAndSaysSoOnce) {
  file("a.mp3");
  std::string thousand;
  for (int i = 0; i < 1000; ++i) thousand += "a.mp3\n";
  file("sub.m3u", thousand);
  // Distinct mentions, no cycle: 101 times 1000 entries.
  std::string top;
  for (int i = 0; i < 101; ++i) top += "sub.m3u\n";
  file("top.m3u", top);
  // The bound is reached exactly: nothing is said.
  std::string exact;
  for (int i = 0; i < kMaxEntriesPerAdd / 1000; ++i) exact += "sub.m3u\n";
  file("exact.m3u", exact);
  struct Case {
    const char* what;
    std::string name;
    int32_t entries;
    size_t notes;
  };
  const Case cases[] = {
      {"playlists", dir_ + "/top.m3u", kMaxEntriesPerAdd, 1},
      {"exactly the bound", dir_ + "/exact.m3u", kMaxEntriesPerAdd, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearPlaylist();
    MessageRecorder boxes;
    addByName(kAddNormal, c.name);
    EXPECT_EQ(entryCount(), c.entries);
    ASSERT_EQ(boxes.boxes().size(), c.notes);
    for (const auto& box : boxes.boxes()) {
      EXPECT_EQ(box.title, "Note...");
      EXPECT_EQ(box.text, kTooManyEntriesText);
    }
    // The next add is an add of its own.
    addByName(kAddNormal, dir_ + "/a.mp3");
    EXPECT_EQ(entryCount(), c.entries + 1);
    EXPECT_EQ(boxes.boxes().size(), c.notes);
  }
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
  EXPECT_EQ(texts(boxes), (std::vector<std::string>{"1 entry of " + list + " could not be found:\n/other/c.mp3"}));
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
