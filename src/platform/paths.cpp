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

std::string userFolder(const char* kind) {
  const std::string home = homeFolder();
  const std::string variable = std::string("XDG_") + kind + "_DIR";
  if (const char* env = std::getenv(variable.c_str()); env && *env == '/') return withSlash(env);
  // user-dirs.dirs lines look like XDG_MUSIC_DIR="$HOME/Music".
  std::ifstream dirs(configHome() + "/user-dirs.dirs");
  std::string line;
  while (std::getline(dirs, line)) {
    if (line.compare(0, variable.size() + 1, variable + "=") != 0) continue;
    std::string value = line.substr(variable.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
    if (!value.empty() && value.front() == '/' && value != home && value != home + "/") {
      struct stat st;
      if (stat(value.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return withSlash(value);
    }
  }
  return withSlash(home);
}

bool isWritableFolder(const std::string& folder) {
  return !folder.empty() && access(folder.c_str(), W_OK | X_OK) == 0;
}

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
