// Where the open dialog starts and saved streams go when the settings name
// no folder: beside the program only in portable use.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using kuv::platform::FolderFacts;
using kuv::platform::UserFolderKind;

constexpr char kUserDirs[] =
    "# This file is written by xdg-user-dirs-update\n"
    "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
    "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n"
    "XDG_MUSIC_DIR=\"$HOME/My Music\"\n";

TEST(DefaultFolders, ProgramFolderOnlyInPortableUseThenUserDirsThenHome) {
  struct Case {
    const char* what;
    bool portable;
    bool programWritable;
    std::string userDirs;
    std::string musicVariable;
    std::set<std::string> folders;  // the folders that exist
    std::string music;
    std::string download;
  };
  const std::set<std::string> all = {"/home/u/My Music",  "/home/u/Fetched", "/home/u/Music",
                                     "/home/u/Downloads", "/opt/kuv/bin/",   "/srv/tunes"};
  const std::vector<Case> cases = {
      // A per-user install: the bin folder is writable but is no place for music.
      {"installed, user-dirs", false, true, kUserDirs, "", all, "/home/u/My Music/", "/home/u/Fetched/"},
      {"portable", true, true, kUserDirs, "", all, "/opt/kuv/bin/", "/opt/kuv/bin/"},
      {"portable on a read-only medium", true, false, kUserDirs, "", all, "/opt/kuv/bin/", "/home/u/Fetched/"},
      {"no user-dirs file", false, true, "", "", all, "/home/u/Music/", "/home/u/Downloads/"},
      {"user-dirs folders missing", false, true, kUserDirs, "", {"/home/u/Music"}, "/home/u/Music/", "/home/u/"},
      {"nothing exists", false, false, kUserDirs, "", {}, "/home/u/", "/home/u/"},
      {"absolute values, unquoted and escaped",
       false,
       true,
       "XDG_MUSIC_DIR=/srv/tunes\nXDG_DOWNLOAD_DIR=\"/home/u/\\\"Fetched\\\"\"\n",
       "",
       {"/srv/tunes", "/home/u/\"Fetched\"", "/home/u/Downloads"},
       "/srv/tunes/",
       "/home/u/\"Fetched\"/"},
      {"the last assignment wins, comments do not count", false, true,
       "XDG_MUSIC_DIR=\"$HOME/Music\"\n  # XDG_MUSIC_DIR=\"/srv/tunes\"\n XDG_MUSIC_DIR=\"$HOME/My Music\"\n", "", all,
       "/home/u/My Music/", "/home/u/Downloads/"},
      {"$HOME alone turns the folder off", false, true, "XDG_MUSIC_DIR=\"$HOME/\"\n", "", all, "/home/u/Music/",
       "/home/u/Downloads/"},
      {"a relative value is ignored", false, true, "XDG_MUSIC_DIR=\"Music2\"\n", "", all, "/home/u/Music/",
       "/home/u/Downloads/"},
      {"$HOMEWORK is no $HOME", false, true, "XDG_MUSIC_DIR=\"$HOMEWORK\"\n", "", all, "/home/u/Music/",
       "/home/u/Downloads/"},
      {"the variable after the file", false, true, "", "/srv/tunes", all, "/srv/tunes/", "/home/u/Downloads/"},
      {"the file before the variable", false, true, kUserDirs, "/srv/tunes", all, "/home/u/My Music/",
       "/home/u/Fetched/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FolderFacts facts;
    facts.portable = c.portable;
    facts.programWritable = c.programWritable;
    facts.programFolder = "/opt/kuv/bin/";
    facts.home = "/home/u";
    facts.userDirs = c.userDirs;
    facts.musicVariable = c.musicVariable;
    facts.isFolder = [&c](const std::string& folder) { return c.folders.count(folder) != 0; };
    EXPECT_EQ(kuv::platform::defaultFolder(UserFolderKind::Music, facts), c.music);
    EXPECT_EQ(kuv::platform::defaultFolder(UserFolderKind::Download, facts), c.download);
  }
}

}  // namespace
