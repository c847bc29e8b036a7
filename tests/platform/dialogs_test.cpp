// The open dialog's answer: every chosen file keeps its own folder.
#include "platform/dialogs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "support/test_support.h"

namespace kuv {
namespace {

TEST(OpenDialogAnswer, PathsFromSeveralFoldersSurviveWhole) {
  struct Case {
    const char* what;
    std::vector<std::string> paths;
    std::string folder;
  };
  const std::vector<Case> cases = {
      {"one file", {"/music/a.mp3"}, "/music/"},
      {"one folder", {"/music/b.mp3", "/music/a.mp3"}, "/music/"},
      // A "Recent" view: the files lie in different folders.
      {"sibling folders", {"/music/x/a.mp3", "/music/y/b.mp3"}, "/music/"},
      {"deeper, then shallower", {"/m/x/y/a.mp3", "/m/x/b.mp3", "/m/c.mp3"}, "/m/"},
      {"a name that starts like the folder", {"/ab/a.mp3", "/a/b.mp3"}, "/"},
      {"nothing shared but the root", {"/home/u/a.mp3", "/srv/b.mp3"}, "/"},
      {"a file in the root", {"/a.mp3", "/x/b.mp3"}, "/"},
      {"not absolute: kept whole", {"/x/a.mp3", "b.mp3"}, ""},
      {"cancelled", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const platform::OpenFilesAnswer answer = platform::answerForPaths(c.paths);
    EXPECT_EQ(answer.folder, c.folder);
    EXPECT_EQ(answer.names.size(), c.paths.size());
    EXPECT_EQ(platform::chosenPaths(answer), c.paths);
  }
}

// The whole way from the dialog into the playlist.
TEST(OpenDialogAnswer, FilesFromTwoFoldersAreAddedWithTheirOwnPaths) {
  const Settings saved = settings;
  const std::string dir = test::makeTempFolder();
  ASSERT_FALSE(dir.empty());
  const std::string sample = test::readFile(std::string(KUV_SOURCE_DIR) + "/resources/samples/kuv-sample.mp3");
  ASSERT_FALSE(sample.empty());
  ASSERT_EQ(mkdir((dir + "/one").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/two").c_str(), 0755), 0);
  const std::vector<std::string> chosen = {dir + "/two/b.mp3", dir + "/one/a.mp3"};
  for (const std::string& path : chosen) ASSERT_TRUE(test::writeFile(path, sample));

  settings.ReadFileInfo = 0;
  clearPlaylist();
  auto previous = platform::setOpenFilesBackend(
      [&](const platform::OpenFilesRequest&) { return platform::answerForPaths(chosen); });
  test::MessageRecorder boxes;
  EXPECT_EQ(openFilesDialog(true, 0), 2);
  platform::setOpenFilesBackend(previous);

  std::vector<std::string> added;
  for (int32_t i = 0; PlaylistEntry* e = entryAt(i); ++i) added.push_back(e->path);
  EXPECT_EQ(added, chosen);
  EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes().front().text;
  clearPlaylist();
  settings = saved;
  test::removeTree(dir);
}

}  // namespace
}  // namespace kuv
