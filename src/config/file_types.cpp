#include "config/file_types.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/file.h"
#include "platform/paths.h"

extern char** environ;

namespace kuv {

namespace {

constexpr const char* kAudioComment = "KUV MPEG Audio File";
constexpr const char* kPlaylistComment = "KUV Playlist File";
constexpr const char* kAudioIconName = "kuv-audio-file";
constexpr const char* kPlaylistIconName = "kuv-playlist-file";
constexpr const char* kProgramIconName = "kuv";

constexpr std::array<const char*, 3> kMimeTypes = {kAudioMimeType, kScplsMimeType, kMpegurlMimeType};

// Helper programs normally finish in well under a second; one that hangs
// must not hold the preferences sheet for ever.
constexpr auto kCommandLimit = std::chrono::seconds(20);
constexpr auto kCommandPoll = std::chrono::milliseconds(10);

// A mimeapps.list is a few kilobytes; a bigger one is not ours to rewrite.
constexpr size_t kMimeappsLimit = 4 * 1024 * 1024;
// Icon sizes an icon theme has folders for, and bytes a PNG icon may have.
constexpr int kMaxIconSize = 1024;
constexpr size_t kMaxIconBytes = 16 * 1024 * 1024;
constexpr size_t kMaxPathBytes = 4095;

std::string_view trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

bool isValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int more = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xc2 && c <= 0xdf) {
      more = 1, code = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
      more = 2, code = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      more = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (i + more >= s.size()) return false;
    for (int k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(s[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = (code << 6) | (next & 0x3f);
    }
    // Overlong forms, UTF-16 surrogates and values past U+10FFFF.
    if ((more == 2 && code < 0x800) || (more == 3 && code < 0x10000) || (code >= 0xd800 && code <= 0xdfff) ||
        code > 0x10ffff)
      return false;
    i += more + 1;
  }
  return true;
}

// Why a program path cannot go into a menu entry; "" when it can.
std::string executableProblem(const std::string& executable) {
  if (executable.empty() || executable[0] != '/') return "the program's path is not absolute";
  if (executable.size() > kMaxPathBytes) return "the program's path is too long";
  for (char c : executable) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return "the program's path contains a control character";
  }
  if (!isValidUtf8(executable)) return "the program's path is not valid UTF-8";
  return "";
}

// Quoted for the Exec key: the quoting rule escapes " ` $ \ with a backslash,
// then the string rule doubles every backslash, and % starts a field code.
std::string quotedExecArgument(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    switch (c) {
      case '"':
      case '`':
      case '$':
        out += "\\\\";
        out += c;
        break;
      case '\\':
        out += "\\\\\\\\";
        break;
      case '%':
        out += "%%";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

// ---------------------------------------------------------------- mimeapps.list

enum class Section { Other, Defaults, Added, Removed };

Section sectionOf(std::string_view header) {
  if (header == "[Default Applications]") return Section::Defaults;
  if (header == "[Added Associations]") return Section::Added;
  if (header == "[Removed Associations]") return Section::Removed;
  return Section::Other;
}

bool isHeader(std::string_view trimmed) {
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

// Index into kMimeTypes of the line's key; -1 for any other line.
int typeOfLine(std::string_view line) {
  const std::string_view trimmed = trim(line);
  if (trimmed.empty() || trimmed[0] == '#') return -1;
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return -1;
  const std::string_view key = trim(line.substr(0, equals));
  for (size_t i = 0; i < kMimeTypes.size(); ++i)
    if (key == kMimeTypes[i]) return static_cast<int>(i);
  return -1;
}

std::string_view valueOfLine(std::string_view line) { return trim(line.substr(line.find('=') + 1)); }

std::vector<std::string_view> listEntries(std::string_view value) {
  std::vector<std::string_view> entries;
  size_t at = 0;
  while (at <= value.size()) {
    size_t semicolon = value.find(';', at);
    if (semicolon == std::string_view::npos) semicolon = value.size();
    const std::string_view entry = trim(value.substr(at, semicolon - at));
    if (!entry.empty()) entries.push_back(entry);
    at = semicolon + 1;
  }
  return entries;
}

bool listHasUs(std::string_view value) {
  for (std::string_view entry : listEntries(value))
    if (entry == kDesktopEntryName) return true;
  return false;
}

}  // namespace

std::string withDefaultApplications(const std::string& mimeappsList) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < mimeappsList.size()) {
    size_t newline = mimeappsList.find('\n', at);
    if (newline == std::string::npos) newline = mimeappsList.size();
    lines.push_back(mimeappsList.substr(at, newline - at));
    at = newline + 1;
  }

  std::vector<std::string> out;
  Section current = Section::Other;
  // Where the first [Default Applications] and [Added Associations] groups
  // end (after their last non-blank line): missing keys go there.
  size_t defaultsEnd = std::string::npos, addedEnd = std::string::npos;
  bool inFirstDefaults = false, inFirstAdded = false;
  std::array<bool, kMimeTypes.size()> haveDefault{}, haveAdded{};

  for (const std::string& line : lines) {
    const std::string_view trimmed = trim(line);
    if (isHeader(trimmed)) {
      current = sectionOf(trimmed);
      inFirstDefaults = current == Section::Defaults && defaultsEnd == std::string::npos;
      inFirstAdded = current == Section::Added && addedEnd == std::string::npos;
      out.push_back(line);
      if (inFirstDefaults) defaultsEnd = out.size();
      if (inFirstAdded) addedEnd = out.size();
      continue;
    }
    const int type = current == Section::Other ? -1 : typeOfLine(line);
    if (type < 0) {
      out.push_back(line);
    } else if (current == Section::Defaults) {
      // A repeated key would override the first when read, so only one stays.
      if (haveDefault[type]) continue;
      haveDefault[type] = true;
      out.push_back(std::string(kMimeTypes[type]) + "=" + kDesktopEntryName);
    } else if (current == Section::Added) {
      haveAdded[type] = true;
      const std::string_view value = valueOfLine(line);
      if (listHasUs(value)) {
        out.push_back(line);
      } else {
        std::string joined(value);
        if (!joined.empty() && joined.back() != ';') joined += ';';
        out.push_back(std::string(kMimeTypes[type]) + "=" + joined + kDesktopEntryName + ";");
      }
    } else {  // Removed: a removed association would hide the default
      const std::string_view value = valueOfLine(line);
      if (!listHasUs(value)) {
        out.push_back(line);
        continue;
      }
      std::string kept;
      for (std::string_view entry : listEntries(value))
        if (entry != kDesktopEntryName) kept.append(entry).append(";");
      if (!kept.empty()) out.push_back(std::string(kMimeTypes[type]) + "=" + kept);
    }
    if (!trimmed.empty() && inFirstDefaults) defaultsEnd = out.size();
    if (!trimmed.empty() && inFirstAdded) addedEnd = out.size();
  }

  std::vector<std::string> missingDefaults, missingAdded;
  for (size_t i = 0; i < kMimeTypes.size(); ++i) {
    if (!haveDefault[i]) missingDefaults.push_back(std::string(kMimeTypes[i]) + "=" + kDesktopEntryName);
    if (!haveAdded[i]) missingAdded.push_back(std::string(kMimeTypes[i]) + "=" + kDesktopEntryName + ";");
  }
  // The later insertion first, so the earlier position still holds.
  auto insertAt = [&out](size_t position, const std::vector<std::string>& more) {
    if (position != std::string::npos)
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(position), more.begin(), more.end());
  };
  if (defaultsEnd != std::string::npos && addedEnd != std::string::npos && addedEnd > defaultsEnd) {
    insertAt(addedEnd, missingAdded);
    insertAt(defaultsEnd, missingDefaults);
  } else {
    insertAt(defaultsEnd, missingDefaults);
    insertAt(addedEnd, missingAdded);
  }
  auto appendGroup = [&out](const char* header, const std::vector<std::string>& more) {
    if (!out.empty() && !trim(out.back()).empty()) out.push_back("");
    out.push_back(header);
    out.insert(out.end(), more.begin(), more.end());
  };
  if (defaultsEnd == std::string::npos) appendGroup("[Default Applications]", missingDefaults);
  if (addedEnd == std::string::npos) appendGroup("[Added Associations]", missingAdded);

  std::string text;
  for (const std::string& line : out) text.append(line).append("\n");
  return text;
}

std::string desktopEntryText(const std::string& executable) {
  std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=KUV\n"
      "GenericName=MPEG Audio Player\n"
      "Comment=Small, fast, skinned player for MP3, MP2 and MP1 files and streams\n";
  text += "Exec=" + quotedExecArgument(executable) + " %F\n";
  text += "Icon=" + std::string(kProgramIconName) + "\n";
  text +=
      "Terminal=false\n"
      "Categories=AudioVideo;Audio;Player;\n";
  text += "MimeType=";
  for (const char* type : kMimeTypes) text.append(type).append(";");
  return text + "\n";
}

std::string mimePackageText() {
  struct TypeRow {
    const char* type;
    const char* comment;
    const char* icon;
    std::vector<const char*> globs;
  };
  const TypeRow rows[] = {
      {kAudioMimeType, kAudioComment, kAudioIconName, {"*.mp1", "*.mp2", "*.mp3"}},
      {kScplsMimeType, kPlaylistComment, kPlaylistIconName, {"*.pls"}},
      {kMpegurlMimeType, kPlaylistComment, kPlaylistIconName, {"*.m3u"}},
  };
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (const TypeRow& row : rows) {
    text += "  <mime-type type=\"" + std::string(row.type) + "\">\n";
    text += "    <comment>" + std::string(row.comment) + "</comment>\n";
    text += "    <icon name=\"" + std::string(row.icon) + "\"/>\n";
    // Above the usual weight of 50: .mp2 is also claimed for MPEG video and
    // .m3u for HLS playlists, and ours must win the tie.
    for (const char* glob : row.globs) text += "    <glob pattern=\"" + std::string(glob) + "\" weight=\"60\"/>\n";
    text += "  </mime-type>\n";
  }
  return text + "</mime-info>\n";
}

namespace {

// ---------------------------------------------------------------- files and commands

std::string errorText(int error) { return std::strerror(error); }

// Creates the folder and writes the file whole (temporary file, then a rename).
bool replaceFile(const std::string& path, const std::string& content, FileTypeReport& report) {
  const std::string folder = platform::folderOf(path);
  if (!platform::makeFolders(folder.substr(0, folder.size() - 1))) {
    report.problems.push_back("cannot create the folder " + folder + ": " + errorText(errno));
    return false;
  }
  if (platform::replaceFile(path, content, 0644)) return true;
  report.problems.push_back("cannot write " + path + ": " + errorText(errno));
  return false;
}

enum class ReadResult { Read, Absent, Failed };

// Reads a plain file of at most `limit` bytes; anything else is not read
// (a FIFO would wait for a writer).
ReadResult readSmallFile(const std::string& path, size_t limit, std::string& content, std::string& why) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return ReadResult::Absent;
    why = errorText(errno);
    return ReadResult::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    why = "not a plain file";
    return ReadResult::Failed;
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    why = "larger than " + std::to_string(limit) + " bytes";
    return ReadResult::Failed;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = errorText(errno);
    return ReadResult::Failed;
  }
  content.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) why = errorText(errno);
    if (got <= 0) break;
    content.append(buffer, static_cast<size_t>(got));
    if (content.size() > limit) {
      why = "larger than " + std::to_string(limit) + " bytes";
      break;
    }
  }
  ::close(fd);
  return why.empty() ? ReadResult::Read : ReadResult::Failed;
}

// The caller's environment with the XDG homes set to where we write, so the
// helpers look at the same folders.
std::vector<std::string> commandEnvironment(const FileTypePlaces& places) {
  std::vector<std::string> env;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("XDG_DATA_HOME=") || text.starts_with("XDG_CONFIG_HOME=")) continue;
    env.emplace_back(text);
  }
  env.push_back("XDG_DATA_HOME=" + places.dataHome);
  env.push_back("XDG_CONFIG_HOME=" + places.configHome);
  return env;
}

// Runs a helper program found on PATH, output discarded, and waits for it
// within kCommandLimit. A program that is not installed is no problem: the
// desktop without it has no cache of that kind to refresh.
void runHelper(const std::vector<std::string>& argv, const FileTypePlaces& places, FileTypeReport& report) {
  std::string shown;
  for (const std::string& arg : argv) shown += (shown.empty() ? "" : " ") + arg;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env = commandEnvironment(places);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  // Its own process group, so a hung script is stopped with its children;
  // default signals, as our ignored SIGPIPE would otherwise be inherited.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned == ENOENT) return;
  if (spawned != 0) {
    report.problems.push_back("cannot start " + shown + ": " + errorText(spawned));
    return;
  }

  const auto deadline = std::chrono::steady_clock::now() + kCommandLimit;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    // With SIGCHLD ignored the child is reaped for us: it has ended.
    if (done < 0 && errno != EINTR) return;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      report.problems.push_back(shown + " did not finish within " + std::to_string(kCommandLimit.count()) +
                                " seconds and was stopped");
      return;
    }
    std::this_thread::sleep_for(kCommandPoll);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    report.problems.push_back(shown + " failed with exit status " + std::to_string(WEXITSTATUS(status)));
  else if (WIFSIGNALED(status))
    report.problems.push_back(shown + " was ended by signal " + std::to_string(WTERMSIG(status)));
}

void installIcons(const std::vector<FileTypeIcon>& icons, const char* kind, const char* context, const char* name,
                  const std::string& dataHome, FileTypeReport& report) {
  static constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";
  for (const FileTypeIcon& icon : icons) {
    if (icon.size < 1 || icon.size > kMaxIconSize) {
      report.problems.push_back(std::string("the ") + kind + " icon's size " + std::to_string(icon.size) +
                                " is outside 1 to " + std::to_string(kMaxIconSize) + "; skipped");
      continue;
    }
    const std::string what = std::string("the ") + std::to_string(icon.size) + "-pixel " + kind + " icon";
    if (icon.png.size() > kMaxIconBytes || icon.png.compare(0, 8, kPngSignature, 8) != 0) {
      report.problems.push_back(what + " is not a PNG image; skipped");
      continue;
    }
    const std::string size = std::to_string(icon.size);
    replaceFile(dataHome + "/icons/hicolor/" + size + "x" + size + "/" + context + "/" + name + ".png", icon.png,
                report);
  }
}

}  // namespace

FileTypePlaces fileTypePlaces() {
  FileTypePlaces places;
  const std::string home = platform::homeFolder();
  const char* data = std::getenv("XDG_DATA_HOME");
  places.dataHome = data && *data == '/' ? std::string(data) : home + "/.local/share";
  places.configHome = platform::configHome();
  for (std::string* folder : {&places.dataHome, &places.configHome})
    while (folder->size() > 1 && folder->back() == '/') folder->pop_back();
  return places;
}

FileTypeReport registerFileTypes(const std::string& executable, const FileTypeIcons& icons,
                                 const FileTypePlaces& places) {
  FileTypeReport report;
  const std::string badPath = executableProblem(executable);
  if (!badPath.empty()) {
    report.problems.push_back("file types not registered: " + badPath + " (" + executable + ")");
    return report;
  }
  for (const std::string* folder : {&places.dataHome, &places.configHome}) {
    if (folder->empty() || (*folder)[0] != '/' || !executableProblem(*folder).empty()) {
      report.problems.push_back("file types not registered: unusable folder \"" + *folder + "\"");
      return report;
    }
  }

  const std::string applications = places.dataHome + "/applications";
  replaceFile(applications + "/" + kDesktopEntryName, desktopEntryText(executable), report);

  const std::string mime = places.dataHome + "/mime";
  if (replaceFile(mime + "/packages/kuv.xml", mimePackageText(), report))
    runHelper({"update-mime-database", mime}, places, report);

  installIcons(icons.audio, "audio file", "mimetypes", kAudioIconName, places.dataHome, report);
  installIcons(icons.playlist, "playlist file", "mimetypes", kPlaylistIconName, places.dataHome, report);
  installIcons(icons.program, "program", "apps", kProgramIconName, places.dataHome, report);

  // Our edit keeps the user's other lines; the desktop's own tool then
  // finds the defaults already in the form it writes, and may keep them in
  // a store of its own as well.
  const std::string mimeapps = places.configHome + "/mimeapps.list";
  std::string current, why;
  const ReadResult read = readSmallFile(mimeapps, kMimeappsLimit, current, why);
  if (read == ReadResult::Failed)
    report.problems.push_back("left " + mimeapps + " as it is: " + why);
  else if (replaceFile(mimeapps, withDefaultApplications(read == ReadResult::Read ? current : ""), report))
    runHelper({"xdg-mime", "default", kDesktopEntryName, kAudioMimeType, kScplsMimeType, kMpegurlMimeType}, places,
              report);

  runHelper({"update-desktop-database", applications}, places, report);
  return report;
}

}  // namespace kuv
