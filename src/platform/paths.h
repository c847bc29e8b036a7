// Where the program lives, and the desktop folders a user expects files in.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kuv::platform {

// Full path of the running executable ("" if it cannot be read).
std::string executablePath();
// The executable's folder with a trailing '/'.
std::string programFolder();
// Folder part of a path, trailing '/' kept ("" when the path has no '/').
std::string folderOf(const std::string& path);
// What follows the last '/' (the whole path when it has none; "" for a
// path ending in '/').
std::string_view lastPathComponent(std::string_view path);
// A name containing "://" before its last three characters is a URL.
bool isUrlName(std::string_view name);

std::string homeFolder();
// $XDG_CONFIG_HOME, else ~/.config.
std::string configHome();

enum class UserFolderKind { Music, Download };

// What the default of a folder setting depends on, gathered apart from the
// choice so that the choice is a plain function.
struct FolderFacts {
  bool portable = false;         // a kuv.ini sits beside the program
  bool programWritable = false;  // the program folder takes new files
  std::string programFolder;     // trailing '/'
  std::string home;
  std::string userDirs;          // the text of user-dirs.dirs; "" when there is none
  std::string musicVariable;     // $XDG_MUSIC_DIR, "" when unset
  std::string downloadVariable;  // $XDG_DOWNLOAD_DIR, "" when unset
  std::function<bool(const std::string& folder)> isFolder;
};

// The facts for a program in programFolder, from the environment and the disk.
FolderFacts folderFacts(const std::string& programFolder);

// Where the open dialog starts (Music) or saved streams go (Download) by
// default. Portable use keeps both beside the program (downloads only while
// that folder takes files); otherwise the first that exists of: the XDG
// user folder (user-dirs.dirs, then its variable), ~/Music or ~/Downloads,
// the home folder. Ends in '/'.
std::string defaultFolder(UserFolderKind kind, const FolderFacts& facts);

// The folder user-dirs.dirs names for `variable` ("XDG_MUSIC_DIR"), "$HOME"
// expanded; "" when the text names none, or names the home folder itself
// (which is how that file turns a folder off).
std::string userDirsValue(const std::string& text, const std::string& variable, const std::string& home);

bool isWritableFolder(const std::string& folder);
// Creates a folder and its parents; true when it exists afterwards.
bool makeFolders(const std::string& folder);

}  // namespace kuv::platform
