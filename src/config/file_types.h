// Associating the player with MPEG audio files and playlists for the current
// user on a freedesktop system: a menu entry carrying the MIME types, a
// shared-mime-info package with the type names and icons, and the user's
// default applications.
#pragma once

#include <string>
#include <vector>

namespace kuv {

constexpr const char* kFileTypesRegisteredText =
    "Filetypes are now registered,\nYou may start a supported file by double clicking.\nIcons may not be updated "
    "untill windows is restarted";
constexpr const char* kFileTypesRegisteredTitle = "FileType Registration...";

// The menu entry's file name: what the default associations point at.
constexpr const char* kDesktopEntryName = "kuv.desktop";
constexpr const char* kAudioMimeType = "audio/mpeg";
constexpr const char* kScplsMimeType = "audio/x-scpls";
constexpr const char* kMpegurlMimeType = "audio/x-mpegurl";

struct FileTypeIcon {
  int size;         // pixels across
  std::string png;  // the file's bytes
};
struct FileTypeIcons {
  std::vector<FileTypeIcon> audio, playlist, program;
};

// Resolved XDG base folders, absolute, without a trailing '/'.
struct FileTypePlaces {
  std::string dataHome, configHome;
};

// $XDG_DATA_HOME and $XDG_CONFIG_HOME when they hold absolute paths, else
// ~/.local/share and ~/.config.
FileTypePlaces fileTypePlaces();

struct FileTypeReport {
  std::vector<std::string> problems;  // one line each; empty when all went well
};

// Installs the menu entry, the MIME package, the icons and the default
// applications under `places`, then lets the desktop's helper programs
// rebuild their caches. Goes on past a failing step; every failure becomes a
// line of the report. Pressing again leaves the same files.
FileTypeReport registerFileTypes(const std::string& executable, const FileTypeIcons& icons,
                                 const FileTypePlaces& places);

// The kuv.desktop text for a program at `executable`.
std::string desktopEntryText(const std::string& executable);
// The shared-mime-info package text.
std::string mimePackageText();
// A mimeapps.list text with kuv.desktop made the default for the three
// types; every other line is kept as it was.
std::string withDefaultApplications(const std::string& mimeappsList);

}  // namespace kuv
