#include "playlist/playlist.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "engine/id3v2_tag.h"
#include "platform/paths.h"

namespace kuv {

Playlist playlist;

namespace {

std::atomic<PlaylistChangedHook> changedHook{nullptr};
std::atomic<bool> infoDeferred{false};
std::atomic<uint64_t> lastEntryId{0};

using Guard = std::lock_guard<std::mutex>;

// The content of an entry, everything but the links.
void swapContent(PlaylistEntry& a, PlaylistEntry& b) {
  std::swap(a.path, b.path);
  std::swap(a.lengthMs, b.lengthMs);
  std::swap(a.tag, b.tag);
  std::swap(a.infoKnown, b.infoKnown);
  std::swap(a.id, b.id);
}

// Swaps two entries' contents; the current position goes with its content.
void swapFollowingCurrent(PlaylistEntry* a, PlaylistEntry* b) {
  if (a == b) return;
  swapContent(*a, *b);
  if (playlist.current == a)
    playlist.current = b;
  else if (playlist.current == b)
    playlist.current = a;
}

PlaylistEntry* entryAtLocked(int32_t position) {
  if (position < 0) return nullptr;
  PlaylistEntry* e = playlist.first;
  for (int32_t i = 0; e && i < position; ++i) e = e->next;
  return e;
}

int32_t countLocked() {
  int32_t n = 0;
  for (PlaylistEntry* e = playlist.first; e; e = e->next) ++n;
  return n;
}

std::vector<PlaylistEntry*> entriesLocked() {
  std::vector<PlaylistEntry*> all;
  for (PlaylistEntry* e = playlist.first; e; e = e->next) all.push_back(e);
  return all;
}

void unlinkLocked(PlaylistEntry* e) {
  if (e->previous)
    e->previous->next = e->next;
  else
    playlist.first = e->next;
  if (e->next)
    e->next->previous = e->previous;
  else
    playlist.last = e->previous;
  // The following entry takes over as current; after the last there is none.
  if (playlist.current == e) playlist.current = e->next;
  delete e;
}

bool byteLess(const std::string& a, const std::string& b) {
  // std::string compares char_traits<char>, which orders as unsigned bytes.
  return a.compare(b) < 0;
}

}  // namespace

void setPlaylistChangedHook(PlaylistChangedHook hook) { changedHook.store(hook); }

void setInfoReadingDeferred(bool deferred) { infoDeferred.store(deferred); }

uint64_t newestEntryId() { return lastEntryId.load(); }

bool addEntry(const std::string& path) {
  if (path.empty() || path.size() > kMaxPathBytes || path.find('\0') != std::string::npos) return false;
  auto* entry = new PlaylistEntry;
  entry->path = path;
  entry->id = lastEntryId.fetch_add(1) + 1;
  // Reading the file happens before the entry is linked, outside the lock.
  if (settings.ReadFileInfo == 1 && !infoDeferred.load()) readEntryInfo(*entry);
  Guard guard(playlist.lock);
  entry->previous = playlist.last;
  if (playlist.last)
    playlist.last->next = entry;
  else
    playlist.first = entry;
  playlist.last = entry;
  if (playlist.first == entry && !playlist.current) playlist.current = entry;
  return true;
}

int32_t replaceCurrentEntry(const std::vector<std::string>& paths) {
  std::vector<PlaylistEntry*> made;
  for (const std::string& path : paths) {
    if (path.empty() || path.size() > kMaxPathBytes || path.find('\0') != std::string::npos) continue;
    auto* entry = new PlaylistEntry;
    entry->path = path;
    entry->id = lastEntryId.fetch_add(1) + 1;
    if (settings.ReadFileInfo == 1 && !infoDeferred.load()) readEntryInfo(*entry);
    made.push_back(entry);
  }
  if (made.empty()) return 0;
  {
    Guard guard(playlist.lock);
    PlaylistEntry* old = playlist.current;
    if (!old) {
      for (PlaylistEntry* e : made) delete e;
      return 0;
    }
    for (size_t i = 0; i < made.size(); ++i) {
      made[i]->previous = i == 0 ? old->previous : made[i - 1];
      made[i]->next = i + 1 < made.size() ? made[i + 1] : old->next;
    }
    if (old->previous)
      old->previous->next = made.front();
    else
      playlist.first = made.front();
    if (old->next)
      old->next->previous = made.back();
    else
      playlist.last = made.back();
    playlist.current = made.front();
    delete old;
  }
  if (PlaylistChangedHook hook = changedHook.load()) hook();
  return static_cast<int32_t>(made.size());
}

int32_t clearPlaylist() {
  {
    Guard guard(playlist.lock);
    PlaylistEntry* e = playlist.first;
    while (e) {
      PlaylistEntry* next = e->next;
      delete e;
      e = next;
    }
    playlist.first = playlist.last = playlist.current = nullptr;
  }
  if (PlaylistChangedHook hook = changedHook.load()) hook();
  return 1;
}

int32_t entryCount() {
  Guard guard(playlist.lock);
  return countLocked();
}

int32_t selectEntry(int32_t position, const std::string& path) {
  Guard guard(playlist.lock);
  if (!playlist.first) {
    playlist.current = nullptr;
    return 0;
  }
  if (position >= 0) {
    playlist.current = playlist.first;
    for (int32_t i = 0; i < position; ++i) {
      if (!playlist.current->next) return 0;
      playlist.current = playlist.current->next;
    }
    return 1;
  }
  playlist.current = playlist.first;
  for (PlaylistEntry* e = playlist.first; e; e = e->next) {
    if (e->path == path) {
      playlist.current = e;
      break;
    }
  }
  return 1;
}

int32_t nextEntry() {
  Guard guard(playlist.lock);
  if (!playlist.current || !playlist.current->next) return 0;
  playlist.current = playlist.current->next;
  return 1;
}

int32_t previousEntry() {
  Guard guard(playlist.lock);
  if (!playlist.current || !playlist.current->previous) return 0;
  playlist.current = playlist.current->previous;
  return 1;
}

int32_t currentPath(std::string& path) {
  PlaylistEntry probe;
  {
    Guard guard(playlist.lock);
    if (!playlist.current) return 0;
    path = playlist.current->path;
    if (playlist.current->infoKnown) return 1;
    probe.path = path;
  }
  // The file is read without the lock; the result goes to the entry that
  // still holds this path at the current position.
  readEntryInfo(probe);
  if (!probe.infoKnown) return 1;
  Guard guard(playlist.lock);
  PlaylistEntry* e = playlist.current;
  if (e && e->path == probe.path && !e->infoKnown) {
    e->lengthMs = probe.lengthMs;
    e->tag = probe.tag;
    e->infoKnown = 1;
  }
  return 1;
}

int32_t copyCurrentEntry(PlaylistEntry& out) {
  Guard guard(playlist.lock);
  if (!playlist.current) return 0;
  out.path = playlist.current->path;
  out.lengthMs = playlist.current->lengthMs;
  out.tag = playlist.current->tag;
  out.infoKnown = playlist.current->infoKnown;
  out.id = playlist.current->id;
  out.previous = out.next = nullptr;
  return 1;
}

int32_t sortEntries(int32_t descending) {
  Guard guard(playlist.lock);
  std::vector<PlaylistEntry*> all = entriesLocked();
  if (all.size() < 2) return 0;
  // A stable sort gives the order repeated neighbour swaps would give (equal
  // paths never trade places), without their quadratic time.
  std::vector<size_t> order(all.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return descending ? byteLess(all[b]->path, all[a]->path) : byteLess(all[a]->path, all[b]->path);
  });
  std::vector<PlaylistEntry> contents(all.size());
  for (size_t i = 0; i < all.size(); ++i) swapContent(contents[i], *all[order[i]]);
  PlaylistEntry* newCurrent = playlist.current;
  for (size_t i = 0; i < all.size(); ++i) {
    swapContent(*all[i], contents[i]);
    if (playlist.current == all[order[i]]) newCurrent = all[i];
  }
  playlist.current = newCurrent;
  return 1;
}

int32_t shuffleEntriesSeeded(uint32_t seed) {
  Guard guard(playlist.lock);
  std::vector<PlaylistEntry*> all = entriesLocked();
  const int64_t n = static_cast<int64_t>(all.size());
  if (n < 3) return 0;
  ShuffleRandom random{seed};
  for (int64_t i = 0; i < n; ++i) {
    const int64_t r = random.next();
    const int64_t j = (r % (4 * (n - 1))) / 4;
    swapFollowingCurrent(all[static_cast<size_t>(i)], all[static_cast<size_t>(j)]);
  }
  return 1;
}

int32_t shuffleEntries() { return shuffleEntriesSeeded(static_cast<uint32_t>(std::time(nullptr))); }

int32_t moveEntries(int32_t down, int32_t count, const int32_t* positions) {
  if (count <= 0 || !positions) return count > 0 ? count : 0;
  Guard guard(playlist.lock);
  std::vector<PlaylistEntry*> all = entriesLocked();
  const auto n = static_cast<int64_t>(all.size());
  for (int32_t k = 0; k < count; ++k) {
    const int64_t p = positions[k];
    if (p < 0 || p >= n) continue;
    const int64_t q = down ? p + 1 : p - 1;
    if (q < 0 || q >= n) continue;
    swapFollowingCurrent(all[static_cast<size_t>(p)], all[static_cast<size_t>(q)]);
  }
  return count;
}

int32_t deleteEntries(int32_t count, const int32_t* positions) {
  if (count <= 0 || !positions) return count > 0 ? count : 0;
  Guard guard(playlist.lock);
  std::vector<PlaylistEntry*> all = entriesLocked();
  // The k-th position addresses the entry now at p - k, where the entry
  // meant has moved after k earlier deletions.
  for (int32_t k = 0; k < count; ++k) {
    const int64_t at = static_cast<int64_t>(positions[k]) - k;
    if (at < 0 || at >= static_cast<int64_t>(all.size())) continue;
    PlaylistEntry* e = all[static_cast<size_t>(at)];
    all.erase(all.begin() + at);
    unlinkLocked(e);
  }
  return count;
}

PlaylistEntry* entryAt(int32_t position) {
  Guard guard(playlist.lock);
  return entryAtLocked(position);
}

int32_t currentPosition() {
  Guard guard(playlist.lock);
  int32_t i = 0;
  for (PlaylistEntry* e = playlist.first; e; e = e->next, ++i)
    if (e == playlist.current) return i;
  return -1;
}

std::string entryLineText(int32_t position, const PlaylistEntry& entry) {
  std::string text;
  if (entry.tag.valid && platform::isUrlName(entry.path)) {
    // A stream: its title, and its station when it has both.
    text = entry.tag.title;
    if (entry.tag.artist[0] != 0) text += std::string(" / ") + entry.tag.artist;
  } else if (entry.tag.valid) {
    text = std::string(entry.tag.title) + " / " + entry.tag.artist;
  } else {
    text = platform::lastPathComponent(entry.path);
    if (text.empty()) text = entry.path;  // a URL ending in '/'
  }
  return std::to_string(position) + "> " + text;
}

bool advanceAtTrackEnd(int32_t repeatPlay, std::string& path) {
  if (repeatPlay == 2) return currentPath(path) != 0;
  if (nextEntry()) return currentPath(path) != 0;
  if (repeatPlay == 1 && selectEntry(0)) return currentPath(path) != 0;
  return false;
}

int32_t setCurrentStreamTags(const std::string& title, const std::string& station) {
  Guard guard(playlist.lock);
  PlaylistEntry* entry = playlist.current;
  if (!entry || !platform::isUrlName(entry->path)) return 0;
  TagInfo tag{};
  // Longer than a tag's 30 characters: a stream's title is often
  // "Artist - Title" and the field holds it in bytes. Without a title the
  // station names the stream.
  const bool titled = !title.empty();
  id3v2::copyUtf8(tag.title, sizeof tag.title, titled ? title : station, sizeof tag.title - 1);
  id3v2::copyUtf8(tag.artist, sizeof tag.artist, titled ? station : std::string(), sizeof tag.artist - 1);
  tag.valid = tag.title[0] != 0 || tag.artist[0] != 0 ? 1 : 0;
  entry->tag = tag;
  return 1;
}

std::string streamTitleOf(const PlaylistEntry& entry) {
  if (!entry.tag.valid || !platform::isUrlName(entry.path)) return {};
  return entry.tag.title;
}

int32_t setCurrentEntryLength(int32_t lengthMs) {
  Guard guard(playlist.lock);
  if (!playlist.current) return 0;
  playlist.current->lengthMs = lengthMs;
  return 1;
}

}  // namespace kuv
