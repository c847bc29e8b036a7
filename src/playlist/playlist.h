// The one playlist: a doubly linked list of entries with a current position.
// Reordering swaps entry contents, never links, and the current position
// follows the content it pointed at.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "playlist/file_info.h"

namespace kuv {

// Longest path an entry holds (PATH_MAX less the terminator); longer names
// are refused, never cut.
constexpr size_t kMaxPathBytes = 4095;

struct PlaylistEntry {
  PlaylistEntry* previous = nullptr;
  PlaylistEntry* next = nullptr;
  std::string path;
  int32_t lengthMs = 0;  // valid when infoKnown; kUnknownLength when it cannot be estimated
  TagInfo tag{};
  int32_t infoKnown = 0;
  // Names the content (it moves with it when the list is reordered); never
  // reused, and higher for later additions.
  uint64_t id = 0;
};

struct Playlist {
  PlaylistEntry* first = nullptr;
  PlaylistEntry* last = nullptr;
  PlaylistEntry* current = nullptr;
  // Held by every change and by copyCurrentEntry, which the display thread
  // calls while the UI thread may be editing the list.
  std::mutex lock;
};

extern Playlist playlist;

// Called after the list was cleared or an entry was replaced by others
// (the editor refreshes itself).
using PlaylistChangedHook = void (*)();
void setPlaylistChangedHook(PlaylistChangedHook hook);

// With deferred reading (the window sets it) addEntry leaves the information
// to a background reader (info_reader.h) instead of reading it at once.
void setInfoReadingDeferred(bool deferred);
// The id of the entry added last (0 before any): a reader that has seen it
// has nothing new to look at.
uint64_t newestEntryId();

// Appends an entry; reads its information at once when ReadFileInfo is 1
// and reading is not deferred.
// False (nothing added) for an empty name or one longer than kMaxPathBytes.
bool addEntry(const std::string& path);
int32_t clearPlaylist();
// The entries for `paths` take the current entry's place, in order, and the
// first of them becomes current (a station's playlist expanding in place).
// Names addEntry would refuse are skipped. Returns the entries put in; 0
// (list untouched) when there is no current entry or no usable name.
int32_t replaceCurrentEntry(const std::vector<std::string>& paths);
int32_t entryCount();
// position >= 0: that entry becomes current (failure past the end, leaving
// the last one current). position -1: the first entry whose path equals
// `path` byte for byte, else the first entry.
int32_t selectEntry(int32_t position, const std::string& path = std::string());
int32_t nextEntry();
int32_t previousEntry();
// The current entry's path, reading its information first when not known.
int32_t currentPath(std::string& path);
// A copy of the whole current entry (links cleared); safe from any thread.
int32_t copyCurrentEntry(PlaylistEntry& out);
int32_t sortEntries(int32_t descending);
// Shuffles with the generator seeded from the clock in whole seconds.
int32_t shuffleEntries();
int32_t shuffleEntriesSeeded(uint32_t seed);
int32_t moveEntries(int32_t down, int32_t count, const int32_t* positions);
// Positions in ascending order.
int32_t deleteEntries(int32_t count, const int32_t* positions);

// For the editor and the console: the entry at a position (nullptr past the
// end) and the current position (-1 when none).
PlaylistEntry* entryAt(int32_t position);
int32_t currentPosition();

// The editor's line for an entry: "%d> %s" with the 1-based position and
// "title / artist" when the tag is valid, else the last part of the path.
std::string entryLineText(int32_t position, const PlaylistEntry& entry);

// What a stream calls itself (its title and station) becomes the current
// entry's tag, so its line, the tray and the desktop show it; 0 without a
// current entry or when it is no URL.
int32_t setCurrentStreamTags(const std::string& title, const std::string& station);
// The current entry's exact length, once its frames were counted; 0
// without a current entry.
int32_t setCurrentEntryLength(int32_t lengthMs);
// A URL entry's stream title (or station) once one is known, else "".
std::string streamTitleOf(const PlaylistEntry& entry);

// What plays when a track ends, by RepeatPlay: true with the path to play
// next (the current entry moved as the rule says), false to stop.
bool advanceAtTrackEnd(int32_t repeatPlay, std::string& path);

// The shuffle generator: state = state * 214013 + 2531011, output bits 16..30.
struct ShuffleRandom {
  uint32_t state;
  int32_t next() {
    state = state * 214013u + 2531011u;
    return static_cast<int32_t>((state >> 16) & 0x7FFF);
  }
};

}  // namespace kuv
