#include "platform/dialogs.h"
#include "platform/paths.h"

#include <sys/stat.h>

#include <cctype>
#include <mutex>

namespace kuv::platform {

namespace {
std::mutex dialogLock;
SaveFileBackend currentBackend;
OpenFilesBackend openBackend;
std::string consoleName;
int consoleAsks = 0;

std::string consoleAnswer() {
  std::lock_guard<std::mutex> guard(dialogLock);
  if (consoleName.empty()) return {};
  struct stat st;
  const bool special = stat(consoleName.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
  if (++consoleAsks == 1 || special) return consoleName;
  const size_t slash = consoleName.rfind('/');
  size_t dot = consoleName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = consoleName.size();
  return consoleName.substr(0, dot) + "-" + std::to_string(consoleAsks) + consoleName.substr(dot);
}
}  // namespace

std::string withDefaultExtension(const std::string& path, const std::string& extension) {
  if (path.empty() || extension.empty()) return path;
  const std::string_view last = lastPathComponent(path);
  if (last.empty() || last.find('.') != std::string::npos) return path;
  std::string lower = extension;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return path + "." + lower;
}

std::string askSaveFileName(const SaveFileRequest& request) {
  SaveFileBackend backend;
  {
    std::lock_guard<std::mutex> guard(dialogLock);
    backend = currentBackend;
  }
  // A name typed on the command line is taken as it stands (it may be a
  // device or a pipe); a dialog's answer gets the default extension.
  return backend ? withDefaultExtension(backend(request), request.defaultExtension) : consoleAnswer();
}

SaveFileBackend setSaveFileBackend(SaveFileBackend backend) {
  std::lock_guard<std::mutex> guard(dialogLock);
  SaveFileBackend old = std::move(currentBackend);
  currentBackend = std::move(backend);
  return old;
}

void setConsoleSaveFileName(const std::string& name) {
  std::lock_guard<std::mutex> guard(dialogLock);
  consoleName = name;
  consoleAsks = 0;
}

OpenFilesAnswer answerForPaths(const std::vector<std::string>& paths) {
  OpenFilesAnswer answer;
  if (paths.empty()) return answer;
  std::string common = paths.front().substr(0, paths.front().rfind('/') + 1);
  for (const std::string& path : paths) {
    if (path.empty() || path.front() != '/') {
      answer.names = paths;
      return answer;
    }
    // Up one folder at a time until this path lies below it too; "/" is
    // below every absolute path.
    while (path.compare(0, common.size(), common) != 0) {
      common.pop_back();
      common.erase(common.rfind('/') + 1);
    }
  }
  answer.folder = common;
  for (const std::string& path : paths) answer.names.push_back(path.substr(common.size()));
  return answer;
}

std::vector<std::string> chosenPaths(const OpenFilesAnswer& answer) {
  std::vector<std::string> paths;
  for (const std::string& name : answer.names) {
    if (answer.folder.empty())
      paths.push_back(name);
    else
      paths.push_back(answer.folder.back() == '/' ? answer.folder + name : answer.folder + "/" + name);
  }
  return paths;
}

OpenFilesAnswer askOpenFileNames(const OpenFilesRequest& request) {
  OpenFilesBackend backend;
  {
    std::lock_guard<std::mutex> guard(dialogLock);
    backend = openBackend;
  }
  return backend ? backend(request) : OpenFilesAnswer{};
}

OpenFilesBackend setOpenFilesBackend(OpenFilesBackend backend) {
  std::lock_guard<std::mutex> guard(dialogLock);
  OpenFilesBackend old = std::move(openBackend);
  openBackend = std::move(backend);
  return old;
}

}  // namespace kuv::platform
