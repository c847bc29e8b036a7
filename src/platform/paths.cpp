#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace kuv::platform {

namespace {
std::string withSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}
}  // namespace

std::string executablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

std::string_view lastPathComponent(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool isUrlName(std::string_view name) {
  for (size_t i = 0; i + 4 <= name.size(); ++i) {
    if (name.compare(i, 3, "://") == 0) return true;
  }
  return false;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string programFolder() { return folderOf(executablePath()); }

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  const passwd* pw = getpwuid(getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "/";
}

std::string configHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  return homeFolder() + "/.config";
}

std::string userDirsValue(const std::string& text, const std::string& variable, const std::string& home) {
  std::string bareHome = home;
  while (bareHome.size() > 1 && bareHome.back() == '/') bareHome.pop_back();
  std::string found;
  size_t at = 0;
  while (at < text.size()) {
    size_t endOfLine = text.find('\n', at);
    if (endOfLine == std::string::npos) endOfLine = text.size();
    std::string line = text.substr(at, endOfLine - at);
    at = endOfLine + 1;
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    if (line.compare(first, variable.size() + 1, variable + "=") != 0) continue;
    // The file is shell text: XDG_MUSIC_DIR="$HOME/My Music", with '\'
    // escaping the next character; the last assignment wins.
    const std::string raw = line.substr(first + variable.size() + 1);
    std::string value;
    if (!raw.empty() && raw.front() == '"') {
      for (size_t i = 1; i < raw.size() && raw[i] != '"'; ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
        value += raw[i];
      }
    } else {
      value = raw.substr(0, raw.find_last_not_of(" \t\r") + 1);
    }
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) value = bareHome + value.substr(5);
    found = value;
  }
  if (found.empty() || found.front() != '/') return {};
  while (found.size() > 1 && found.back() == '/') found.pop_back();
  return found == bareHome ? std::string() : found;
}

FolderFacts folderFacts(const std::string& programFolder) {
  FolderFacts facts;
  facts.programFolder = programFolder;
  struct stat st;
  facts.portable = !programFolder.empty() && stat((programFolder + "kuv.ini").c_str(), &st) == 0 && S_ISREG(st.st_mode);
  facts.programWritable = isWritableFolder(programFolder);
  facts.home = homeFolder();
  // A few lines normally; a damaged or endless file is read no further,
  // and only a plain file is read (a pipe would wait for a writer).
  const std::string userDirsPath = configHome() + "/user-dirs.dirs";
  if (stat(userDirsPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    std::ifstream dirs(userDirsPath, std::ios::binary);
    constexpr std::streamsize kUserDirsLimit = 64 * 1024;
    facts.userDirs.resize(kUserDirsLimit);
    dirs.read(facts.userDirs.data(), kUserDirsLimit);
    facts.userDirs.resize(static_cast<size_t>(dirs.gcount()));
  }
  if (const char* env = std::getenv("XDG_MUSIC_DIR")) facts.musicVariable = env;
  if (const char* env = std::getenv("XDG_DOWNLOAD_DIR")) facts.downloadVariable = env;
  facts.isFolder = [](const std::string& folder) {
    struct stat info;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  };
  return facts;
}

std::string defaultFolder(UserFolderKind kind, const FolderFacts& facts) {
  const bool music = kind == UserFolderKind::Music;
  // Portable use carries its files along; a download folder must also take
  // the copies it is given.
  if (facts.portable && !facts.programFolder.empty() && (music || facts.programWritable))
    return withSlash(facts.programFolder);
  const std::string variable = music ? facts.musicVariable : facts.downloadVariable;
  const std::string candidates[] = {
      userDirsValue(facts.userDirs, music ? "XDG_MUSIC_DIR" : "XDG_DOWNLOAD_DIR", facts.home),
      !variable.empty() && variable.front() == '/' ? variable : std::string(),
      withSlash(facts.home) + (music ? "Music" : "Downloads"),
  };
  for (const std::string& folder : candidates)
    if (!folder.empty() && facts.isFolder && facts.isFolder(folder)) return withSlash(folder);
  return withSlash(facts.home.empty() ? std::string("/") : facts.home);
}

bool isWritableFolder(const std::string& folder) { return !folder.empty() && access(folder.c_str(), W_OK | X_OK) == 0; }

bool makeFolders(const std::string& folder) {
  if (folder.empty()) return false;
  std::string partial;
  size_t start = 0;
  while (start <= folder.size()) {
    size_t slash = folder.find('/', start);
    if (slash == std::string::npos) slash = folder.size();
    partial = folder.substr(0, slash);
    if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    start = slash + 1;
  }
  struct stat st;
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kuv::platform
