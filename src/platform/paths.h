// Where the program lives, and the desktop folders a user expects files in.
#pragma once

#include <string>

namespace kuv::platform {

// Full path of the running executable ("" if it cannot be read).
std::string executablePath();
// The executable's folder with a trailing '/'.
std::string programFolder();
// Folder part of a path, trailing '/' kept ("" when the path has no '/').
std::string folderOf(const std::string& path);

std::string homeFolder();
// $XDG_CONFIG_HOME, else ~/.config.
std::string configHome();
// An XDG user folder ("DOWNLOAD", "MUSIC") from user-dirs.dirs or its
// variable, else the home folder. Always ends in '/'.
std::string userFolder(const char* kind);

bool isWritableFolder(const std::string& folder);
// Creates a folder and its parents; true when it exists afterwards.
bool makeFolders(const std::string& folder);

}  // namespace kuv::platform
