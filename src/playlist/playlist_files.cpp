#include "playlist/playlist_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

#include "config/settings.h"
#include "engine/input_stream.h"
#include "platform/dialogs.h"
#include "platform/file.h"
#include "platform/ini_file.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "playlist/playlist.h"

namespace kuv {

namespace {

constexpr const char* kPlsSection = "playlist";
constexpr const char* kCountKey = "NumberOfEntries";
// Playlists that name one another several times over (each a different
// file, so no cycle) would multiply their loads at every level; past this
// many loads in one add, nested playlists are skipped as if too deep.
constexpr int32_t kMaxPlaylistLoads = 4096;

// A file or folder by device and inode, so links and other spellings of a
// name are the same one; {0, 0} when it could not be asked.
using FileId = std::pair<dev_t, ino_t>;

// Names a playlist holds that are not there, by the playlist holding them.
// Only the names the box will show are kept.
struct MissingGroup {
  std::string playlist;
  int64_t count = 0;
  std::vector<std::string> names;
};

// The add under way on this thread: its nesting and what it has created.
struct AddNesting {
  int32_t calls = 0;                       // addByName, loader and folder calls under way
  int32_t playlistLoads = 0;               // in this add
  int32_t entriesAdded = 0;                // in this add
  bool full = false;                       // kMaxEntriesPerAdd was reached; the rest is dropped
  std::vector<FileId> playlists;           // being read, outermost first
  std::vector<std::string> playlistNames;  // the same, as named
  std::vector<FileId> folders;             // being scanned, outermost first
  std::vector<MissingGroup> missing;       // in this add, in the order met
  int64_t missingTotal = 0;
  int32_t missingShown = 0;
};
thread_local AddNesting nesting;

void showMissingEntries();

// One call that adds: the outermost starts a new add, and tells the user
// when it ends which playlist entries were missing and if entries were
// dropped.
struct AddScope {
  AddScope() {
    if (nesting.calls++ > 0) return;
    nesting.playlistLoads = 0;
    nesting.entriesAdded = 0;
    nesting.full = false;
    nesting.missing.clear();
    nesting.missingTotal = 0;
    nesting.missingShown = 0;
  }
  ~AddScope() {
    if (--nesting.calls > 0) return;
    if (nesting.missingTotal > 0) showMissingEntries();
    if (!nesting.full) return;
    nesting.full = false;
    platform::messageBox(kTooManyEntriesText, kPlaylistNoteTitle,
                         platform::MB_OK | platform::MB_ICONINFORMATION | platform::MB_SETFOREGROUND);
  }
  AddScope(const AddScope&) = delete;
  AddScope& operator=(const AddScope&) = delete;
};

bool onPath(const std::vector<FileId>& path, const FileId& id) {
  return id != FileId{0, 0} && std::find(path.begin(), path.end(), id) != path.end();
}

// One playlist being read: on the current path while it lasts.
struct PlaylistLevel {
  PlaylistLevel(const FileId& id, const std::string& name) {
    nesting.playlists.push_back(id);
    nesting.playlistNames.push_back(name);
    ++nesting.playlistLoads;
  }
  ~PlaylistLevel() {
    nesting.playlists.pop_back();
    nesting.playlistNames.pop_back();
  }
  PlaylistLevel(const PlaylistLevel&) = delete;
  PlaylistLevel& operator=(const PlaylistLevel&) = delete;
};

FileId idOf(const struct stat& info) { return {info.st_dev, info.st_ino}; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool endsWithNoCase(const std::string& name, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (name.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (lowerAscii(name[name.size() - n + i]) != lowerAscii(suffix[i])) return false;
  return true;
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (lowerAscii(text[i]) != lowerAscii(prefix[i])) return false;
  return true;
}

bool containsNoCase(const std::string& text, const char* part) {
  const size_t n = std::strlen(part);
  for (size_t at = 0; at + n <= text.size(); ++at) {
    size_t i = 0;
    while (i < n && lowerAscii(text[at + i]) == lowerAscii(part[i])) ++i;
    if (i == n) return true;
  }
  return false;
}

std::string formatted(const char* format, const std::string& name) {
  std::string text = format;
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

std::string formatted(const char* format, int64_t count) {
  std::string text = format;
  const size_t at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(count));
  return text;
}

void showError(const char* format, const std::string& name) {
  platform::messageBox(formatted(format, name), kPlaylistErrorTitle,
                       platform::MB_OK | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND);
}

// An entry for a file or URL, counted against the add's limit.
void addFileEntry(const std::string& name) {
  if (nesting.full) return;
  if (nesting.entriesAdded >= kMaxEntriesPerAdd) {
    nesting.full = true;
    return;
  }
  if (addEntry(name)) ++nesting.entriesAdded;
}

// A playlist naming a hundred moved files gets one box, not a hundred.
void noteMissingEntry(const std::string& path) {
  const std::string& holder = nesting.playlistNames.back();
  ++nesting.missingTotal;
  const bool room = nesting.missingShown < kMaxMissingNamesShown;
  for (MissingGroup& group : nesting.missing) {
    if (group.playlist != holder) continue;
    ++group.count;
    if (room) {
      group.names.push_back(path);
      ++nesting.missingShown;
    }
    return;
  }
  if (!room) return;
  nesting.missing.push_back(MissingGroup{holder, 1, {path}});
  ++nesting.missingShown;
}

void showMissingEntries() {
  std::string text;
  for (const MissingGroup& group : nesting.missing) {
    if (!text.empty()) text += '\n';
    text += group.count == 1 ? formatted(kMissingEntryText, group.playlist)
                             : formatted(formatted(kMissingEntriesText, group.count).c_str(), group.playlist);
    for (const std::string& name : group.names) text += '\n' + name;
  }
  if (nesting.missingTotal > nesting.missingShown)
    text += '\n' + formatted(kMoreMissingText, nesting.missingTotal - nesting.missingShown);
  nesting.missing.clear();
  nesting.missingTotal = 0;
  nesting.missingShown = 0;
  platform::messageBox(text, kPlaylistErrorTitle,
                       platform::MB_OK | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The folder a playlist's relative values are taken from: its name up to
// the last '/', or "" when it has none (the current folder).
std::string playlistFolder(const std::string& file) {
  const size_t slash = file.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : file.substr(0, slash);
}

bool isPlsName(const std::string& name) { return endsWithNoCase(name, ".pls"); }
// The Open dialog's MPEG file types: what a folder contributes of its files.
bool isMpegAudioName(const std::string& name) {
  return endsWithNoCase(name, ".mp1") || endsWithNoCase(name, ".mp2") || endsWithNoCase(name, ".mp3");
}
bool isM3uName(const std::string& name) { return endsWithNoCase(name, ".m3u") || endsWithNoCase(name, ".m3u8"); }

// "file12" -> 12; 0 for anything else (File0 and leading zeros are never asked for).
uint32_t fileKeyIndex(const std::string& key) {
  if (key.size() < 5 || key.size() > 14 || !startsWithNoCase(key, "file") || key[4] == '0') return 0;
  uint64_t n = 0;
  for (size_t i = 4; i < key.size(); ++i) {
    if (key[i] < '0' || key[i] > '9') return 0;
    n = n * 10 + static_cast<uint64_t>(key[i] - '0');
  }
  return n > 0x7FFFFFFF ? 0 : static_cast<uint32_t>(n);
}

// Adds a value read from a playlist in `folder`.
void addPlaylistValue(const std::string& folder, const std::string& value) {
  int32_t mode = kAddNormal;
  const std::string path = resolvePlaylistValue(folder, value, mode);
  if (mode == kAddNormal && !isUrlName(path)) {
    struct stat info;
    // Told with the playlist that names it, once the whole add is done.
    if (stat(path.c_str(), &info) != 0) {
      noteMissingEntry(path);
      return;
    }
    // Known to be a file now: no second look at it.
    if (!S_ISDIR(info.st_mode) && !isPlsName(path) && !isM3uName(path)) {
      addFileEntry(path);
      return;
    }
  }
  addByName(mode, path);
}

// A line of M3U text is a name unless it is empty, a comment or directive
// ('#'), or holds control characters (binary junk read as text).
bool isNameLine(const std::string& line) {
  if (line.empty() || line[0] == '#') return false;
  bool blank = true;
  for (char c : line) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\t') return false;
    if (c != ' ' && c != '\t') blank = false;
  }
  return !blank;
}

// The values of a PLS [playlist] section in index order: only the keys that
// are there are kept (the count is the file's word, not a size to allocate);
// of two keys of one index the first counts; empty keys within the count
// name nothing. False when NumberOfEntries is missing.
bool plsValues(const std::vector<std::pair<std::string, std::string>>& keys, std::vector<std::string>& out) {
  int32_t count = -1;
  for (const auto& [key, value] : keys) {
    if (startsWithNoCase(key, kCountKey) && key.size() == std::strlen(kCountKey)) {
      count = platform::parseProfileInt(value, -1);
      break;
    }
  }
  if (count == -1) return false;
  if (count <= 0) return true;
  std::vector<std::pair<uint32_t, const std::string*>> values;
  for (const auto& [key, value] : keys) {
    const uint32_t index = fileKeyIndex(key);
    if (index != 0 && index <= static_cast<uint32_t>(count)) values.emplace_back(index, &value);
  }
  std::stable_sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  uint32_t previous = 0;
  for (const auto& [index, value] : values) {
    if (index == previous) continue;
    previous = index;
    if (value->empty() || value->size() > kMaxPathBytes) continue;
    out.push_back(*value);
  }
  return true;
}

// M3U text taken in pieces as it is read: every name line goes to take,
// which returns false to stop.
struct M3uLines {
  std::string line;
  bool overlong = false;  // the rest of a line too long to be a path is dropped
  bool firstLine = true;
};

bool finishM3uLine(M3uLines& m, const std::function<bool(const std::string&)>& take) {
  std::string& line = m.line;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (m.firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  m.firstLine = false;
  const bool name = !m.overlong && isNameLine(line);
  const bool more = !name || take(line);
  line.clear();
  m.overlong = false;
  return more;
}

bool feedM3u(M3uLines& m, const char* data, size_t n, const std::function<bool(const std::string&)>& take) {
  for (size_t i = 0; i < n; ++i) {
    if (data[i] == '\n') {
      if (!finishM3uLine(m, take)) return false;
    } else if (!m.overlong) {
      m.line += data[i];
      if (m.line.size() > kMaxPathBytes + 1) {
        m.overlong = true;
        m.line.clear();
      }
    }
  }
  return true;
}

void finishM3u(M3uLines& m, const std::function<bool(const std::string&)>& take) {
  if (!m.line.empty() || m.overlong) finishM3uLine(m, take);
}

// A value of a playlist fetched from `url`: absolute URLs as they are,
// others against the server ("/x") or the playlist's folder ("x").
std::string resolveUrlValue(const std::string& url, const std::string& value) {
  if (containsNoCase(value, "://")) return value;
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return value;
  if (value.compare(0, 2, "//") == 0) return url.substr(0, scheme + 1) + value;
  const std::string path = url.substr(0, url.find_first_of("?#"));
  const size_t authority = path.find('/', scheme + 3);
  if (!value.empty() && value[0] == '/') return path.substr(0, authority) + value;
  if (authority == std::string::npos) return path + "/" + value;
  return path.substr(0, path.rfind('/') + 1) + value;
}

std::string trimmedValue(const std::string& value) {
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

// A value the INI reader would change (outer blanks trimmed, outer quotes
// taken off) is written in quotes.
std::string quotedIfNeeded(const std::string& value) {
  if (value.empty()) return value;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
  const bool needs =
      blank(value.front()) || blank(value.back()) || (value.size() >= 2 && value.front() == '"' && value.back() == '"');
  return needs ? "\"" + value + "\"" : value;
}

bool sameFolder(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::string resolvePlaylistValue(const std::string& folder, const std::string& value, int32_t& mode) {
  mode = kAddNormal;
  if (containsNoCase(value, "://")) {
    mode = kAddAsEntry;
    return value;
  }
  // A drive letter means nothing here; the name stays as written and later
  // fails to open like any missing file.
  if (value.size() >= 3 && value[1] == ':' && (value[2] == '\\' || value[2] == '/')) return value;
  // Playlists made on Windows separate with '\'.
  std::string v = value;
  std::replace(v.begin(), v.end(), '\\', '/');
  if (!v.empty() && v[0] == '/') return v;
  return joinPath(folder, v);
}

std::string playlistValueFor(const std::string& folder, const std::string& path) {
  if (folder.empty() || containsNoCase(path, "://")) return path;
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  if (path.size() <= prefix.size()) return path;
  if (path.compare(0, prefix.size(), prefix) == 0) return path.substr(prefix.size());
  // Folder names that differ only in case are one folder on a filesystem
  // that ignores case; elsewhere they are two, and a relative value would
  // point at the wrong one.
  if (startsWithNoCase(path, prefix) && sameFolder(path.substr(0, prefix.size()), prefix))
    return path.substr(prefix.size());
  return path;
}

int32_t addByName(int32_t mode, const std::string& name) {
  AddScope scope;
  if (nesting.full) return 1;
  // A station's playlist is fetched when it is played, not read as a file.
  if ((isPlsName(name) || isM3uName(name)) && !isUrlName(name)) {
    const int32_t depth = static_cast<int32_t>(nesting.playlists.size());
    const bool nested = depth > 0 || !nesting.folders.empty();
    if (depth >= kMaxPlaylistDepth || (nested && nesting.playlistLoads >= kMaxPlaylistLoads)) return 1;
    const int32_t loaded = isPlsName(name) ? loadPls(name) : loadM3u(name);
    if (!loaded) showError(kLoadPlaylistErrorText, name);
    return 1;
  }
  struct stat info;
  // A URL is an entry whichever way it came in (a command line gives it as
  // a plain name).
  if (mode == kAddAsEntry || isUrlName(name) || (stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))) {
    addFileEntry(name);
    return 1;
  }
  if (!addFolder(name)) showError(kAddDirectoryErrorText, name);
  return 1;
}

int32_t loadPls(const std::string& file) {
  AddScope scope;
  struct stat info;
  const FileId id = stat(file.c_str(), &info) == 0 ? idOf(info) : FileId{0, 0};
  // Already being read further up: reading it again would never end.
  if (onPath(nesting.playlists, id)) return 1;
  PlaylistLevel level(id, file);
  // One read of the section; values as long as a path may be, so a longer
  // one can be told apart and refused rather than cut.
  std::vector<std::string> values;
  if (!plsValues(platform::readProfileSection(kPlsSection, file, kMaxPathBytes + 1), values)) return 0;
  const std::string folder = playlistFolder(file);
  for (const std::string& value : values) {
    if (nesting.full) break;
    addPlaylistValue(folder, value);
  }
  return 1;
}

int32_t loadM3u(const std::string& file) {
  AddScope scope;
  const int handle = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (handle < 0) return 0;
  struct stat info;
  if (fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(handle);
    return 0;
  }
  // Already being read further up: reading it again would never end.
  if (onPath(nesting.playlists, idOf(info))) {
    ::close(handle);
    return 1;
  }
  PlaylistLevel level(idOf(info), file);
  const std::string folder = playlistFolder(file);
  const auto take = [&folder](const std::string& line) {
    addPlaylistValue(folder, line);
    return !nesting.full;
  };
  M3uLines lines;
  char buffer[16384];
  bool more = !nesting.full;
  while (more) {
    const long got = platform::readSome(handle, buffer, sizeof buffer);
    if (got <= 0) break;
    more = feedM3u(lines, buffer, static_cast<size_t>(got), take);
  }
  if (more) finishM3u(lines, take);
  ::close(handle);
  return 1;
}

int32_t expandFetchedPlaylist(const std::string& url, const std::string& text) {
  std::vector<std::string> values;
  bool read = true;
  size_t first = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  first = text.find_first_not_of(" \t\r\n", first);
  if (first != std::string::npos && startsWithNoCase(text.substr(first, 10), "[playlist]")) {
    read = plsValues(platform::readProfileSectionText(kPlsSection, text, kMaxPathBytes + 1), values);
  } else {
    M3uLines lines;
    const auto take = [&values](const std::string& line) {
      values.push_back(line);
      return values.size() < static_cast<size_t>(kMaxEntriesPerAdd);
    };
    if (feedM3u(lines, text.data(), text.size(), take)) finishM3u(lines, take);
  }
  std::vector<std::string> entries;
  for (const std::string& value : values) {
    const std::string entry = trimmedValue(value);
    if (!entry.empty() && entries.size() < static_cast<size_t>(kMaxEntriesPerAdd))
      entries.push_back(resolveUrlValue(url, entry));
  }
  const int32_t added = read ? replaceCurrentEntry(entries) : 0;
  if (added == 0) showError(kLoadPlaylistErrorText, url);
  return added;
}

int32_t savePls(const std::string& file) {
  std::vector<std::string> paths;
  {
    std::lock_guard<std::mutex> guard(playlist.lock);
    for (PlaylistEntry* e = playlist.first; e; e = e->next) paths.push_back(e->path);
  }
  if (paths.empty()) return 0;
  const std::string folder = playlistFolder(file);
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(paths.size() + 1);
  for (size_t i = 0; i < paths.size(); ++i)
    pairs.emplace_back("File" + std::to_string(i + 1), quotedIfNeeded(playlistValueFor(folder, paths[i])));
  pairs.emplace_back(kCountKey, std::to_string(paths.size()));
  if (!platform::writeProfileStrings(kPlsSection, pairs, file)) return 0;
  return static_cast<int32_t>(paths.size());
}

int32_t addFolder(const std::string& folder) {
  AddScope scope;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  struct stat self;
  const FileId id = fstat(dirfd(dir), &self) == 0 ? idOf(self) : FileId{0, 0};
  // A link back to a folder being scanned would never end.
  if (onPath(nesting.folders, id)) {
    closedir(dir);
    return 1;
  }
  nesting.folders.push_back(id);
  std::vector<std::string> names;
  while (const dirent* item = readdir(dir)) {
    if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
    names.emplace_back(item->d_name);
  }
  closedir(dir);
  // A listing has no order of its own here; names sort as bytes.
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (nesting.full) break;
    const std::string path = joinPath(folder, name);
    struct stat info;
    const bool known = stat(path.c_str(), &info) == 0;
    if (known && S_ISDIR(info.st_mode)) {
      // Straight to the scan: a folder named like a playlist is still a folder.
      if (!addFolder(path)) showError(kAddDirectoryErrorText, path);
      continue;
    }
    // Only the audio files: a folder's own playlists name its tracks again,
    // and pictures or notes beside them are nothing to play. Pipes, sockets
    // and devices are no media files, and opening a pipe would wait for a
    // writer. A broken link named as audio is reported as a missing name is.
    if (!isMpegAudioName(name) || (known && !S_ISREG(info.st_mode))) continue;
    addByName(kAddNormal, path);
  }
  nesting.folders.pop_back();
  return 1;
}

std::vector<std::pair<std::string, std::string>> openDialogFilters(int32_t filterSet) {
  const std::pair<std::string, std::string> audio{"Mpeg Audio Files", "*.MP1;*.MP2;*.MP3"};
  const std::pair<std::string, std::string> lists{"Playlist Files", "*.PLS;*.M3U"};
  if (filterSet == 1) return {audio};
  if (filterSet == 2) return {lists};
  return {{"All Supported Files", "*.MP1;*.MP2;*.MP3;*.PLS;*.M3U"}, audio, lists, {"All FileTypes", "*.*"}};
}

int32_t addChosenFiles(const std::string& folder, const std::vector<std::string>& names, bool clearFirst) {
  if (names.empty()) return 0;
  if (clearFirst) clearPlaylist();
  // One file leaves the folder with its trailing separator, several without,
  // as the dialog hands them over.
  std::string previous = folder;
  if (names.size() == 1 && (previous.empty() || previous.back() != '/')) previous += '/';
  if (names.size() > 1)
    while (previous.size() > 1 && previous.back() == '/') previous.pop_back();
  if (!previous.empty() && previous.size() < kSettingsStringBytes) {
    std::memset(settings.PreviousDir, 0, sizeof settings.PreviousDir);
    std::memcpy(settings.PreviousDir, previous.data(), previous.size());
  }
  for (const std::string& name : names) addByName(kAddNormal, joinPath(folder, name));
  return static_cast<int32_t>(names.size());
}

int32_t openFilesDialog(bool clearFirst, int32_t filterSet) {
  platform::OpenFilesRequest request;
  request.title = kOpenDialogTitle;
  for (const auto& [name, pattern] : openDialogFilters(filterSet)) request.filters.push_back({name, pattern});
  request.initialFolder = settings.PreviousDir;
  const platform::OpenFilesAnswer answer = platform::askOpenFileNames(request);
  return addChosenFiles(answer.folder, answer.names, clearFirst);
}

}  // namespace kuv
