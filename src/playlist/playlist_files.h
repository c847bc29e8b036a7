// Everything that enters the playlist by name: single files and URLs,
// folders, PLS and M3U playlists; and saving the playlist as PLS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kuv {

enum AddMode : int32_t {
  kAddNormal = 0,   // a name: playlist, folder or media file
  kAddAsEntry = 2,  // a media entry taken as it is (URLs from playlists)
};

constexpr const char* kPlaylistErrorTitle = "Error...";
constexpr const char* kLoadPlaylistErrorText = "Error Loading Playlist: %s";
constexpr const char* kAddDirectoryErrorText = "Error Adding Directory: %s";
// Names in playlists that are not there are told in one box per add, by the
// playlist holding them; past kMaxMissingNamesShown names only counted.
constexpr const char* kMissingEntriesText = "%d entries of %s could not be found:";
constexpr const char* kMissingEntryText = "1 entry of %s could not be found:";
constexpr const char* kMoreMissingText = "and %d more";
constexpr int32_t kMaxMissingNamesShown = 10;

// Playlists inside playlists are followed this deep; deeper names are
// skipped. (A playlist already being read further up is never read again.)
constexpr int32_t kMaxPlaylistDepth = 16;

// One add (an outside call of addByName, a loader or addFolder) creates at
// most this many entries; past it the rest is dropped and the user told once.
constexpr int32_t kMaxEntriesPerAdd = 100000;
constexpr const char* kPlaylistNoteTitle = "Note...";
constexpr const char* kTooManyEntriesText = "Too Many Entries: Only The First 100000 Were Added...";

// Dispatches a name by its form; problems are shown to the user, and the
// result is always 1.
int32_t addByName(int32_t mode, const std::string& name);
// 0 when NumberOfEntries is missing.
int32_t loadPls(const std::string& file);
// 0 when the file cannot be read.
int32_t loadM3u(const std::string& file);
// A station's playlist fetched from `url` (takeFetchedPlaylist): PLS when
// its first non-blank line is "[playlist]", else M3U. Its entries, resolved
// against the URL, take the current entry's place, and the first becomes
// current; nested playlists stay entries. Returns the entries put in; 0
// after telling the user "Error Loading Playlist" (the list untouched).
int32_t expandFetchedPlaylist(const std::string& url, const std::string& text);
// Entries written, 0 for an empty playlist or a failed write.
int32_t savePls(const std::string& file);
// 0 when the folder cannot be listed.
int32_t addFolder(const std::string& folder);

// The path a playlist value names, for a playlist in `folder` ("" when the
// playlist's name has no folder part); sets the add mode for it.
std::string resolvePlaylistValue(const std::string& folder, const std::string& value, int32_t& mode);
// The value saved for a path in a playlist in `folder`.
std::string playlistValueFor(const std::string& folder, const std::string& path);

// The open dialog's filter sets: 0 all supported files, 1 MPEG audio,
// 2 playlists.
std::vector<std::pair<std::string, std::string>> openDialogFilters(int32_t filterSet);
constexpr const char* kOpenDialogTitle = "Open a MP3 Or Playlist...";

// What follows the user's choice in the open dialog: clear the list when
// asked, remember the folder in PreviousDir, add each name. Returns the
// number of names (0, list untouched, when there are none).
int32_t addChosenFiles(const std::string& folder, const std::vector<std::string>& names, bool clearFirst);
// Shows the open dialog and adds what was chosen.
int32_t openFilesDialog(bool clearFirst, int32_t filterSet);

}  // namespace kuv
