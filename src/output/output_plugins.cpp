// Output plug-ins: listing the "*.kos" libraries of a folder and loading the
// one the player plays through. Everything a plug-in hands back is treated
// as untrusted: texts are read bounded, records are checked slot by slot.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "output/output_system.h"
#include "platform/message_box.h"

namespace kuv {

namespace {

struct OutputPluginEntry {
  char description[kOutputPluginTextMax + 1];
  char fileName[kOutputPluginTextMax + 1];
};

struct OutputPluginList {
  OutputPluginEntry entries[kMaxOutputPlugins];
  int32_t count;
};

// The list is filled and read by the preferences page; the lock keeps a
// reader from seeing a half-copied entry should another thread rescan.
std::mutex listLock;
OutputPluginList pluginList{};

// The one plug-in library in use and our copy of its record, so the checked
// slots are the ones the player gets even if the plug-in changes its own.
std::mutex loadedLock;
void* loadedLibrary = nullptr;
OutputSystem loadedRecord{};

bool endsWithKos(const char* name) {
  const size_t length = std::strlen(name);
  if (length < 4) return false;
  const char* tail = name + length - 4;
  return tail[0] == '.' && (tail[1] == 'k' || tail[1] == 'K') && (tail[2] == 'o' || tail[2] == 'O') &&
         (tail[3] == 's' || tail[3] == 'S');
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Bounded copy that always leaves a terminated buffer.
void copyText(char (&to)[kOutputPluginTextMax + 1], const char* from, size_t length) {
  length = std::min(length, kOutputPluginTextMax);
  std::memcpy(to, from, length);
  to[length] = '\0';
}

// dlsym hands back an object pointer; the entry points are functions.
template <typename Fn>
Fn lookUp(void* library, const char* symbol) {
  dlerror();  // clear a stale error so a null below means "missing"
  void* address = dlsym(library, symbol);
  if (address == nullptr) return nullptr;
  Fn function = nullptr;
  static_assert(sizeof(function) == sizeof(address));
  std::memcpy(&function, &address, sizeof(function));
  return function;
}

bool hasEverySlot(const OutputSystem& record) {
  return record.init && record.shutdown && record.open && record.close && record.isOpen && record.write &&
         record.flush && record.pause && record.resume && record.getPosition && record.setPosition &&
         record.getVolume && record.setVolume && record.getBufferCount && record.getFreeBufferCount;
}

void reportInvalid(const std::string& name) {
  platform::messageBox("Error: " + name + " Is an INVALID plugin", "Found...", platform::MB_OK);
}

// Loads one candidate just long enough to read its description.
void examinePlugin(const std::string& folder, const std::string& name, OutputPluginList& into) {
  void* library = dlopen(joinPath(folder, name).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    reportInvalid(name);
    return;
  }
  GetOutputDescFn getDesc = lookUp<GetOutputDescFn>(library, "GetOutputDesc");
  if (getDesc == nullptr) {
    reportInvalid(name);
  } else if (const OutputDescription* desc = getDesc()) {
    // A description with no text has nothing to list it by: left out like a
    // null answer.
    if (desc->description != nullptr) {
      OutputPluginEntry& entry = into.entries[into.count];
      copyText(entry.description, desc->description, strnlen(desc->description, kOutputPluginTextMax));
      copyText(entry.fileName, name.c_str(), name.size());
      ++into.count;
    }
  }
  dlclose(library);
}

}  // namespace

int32_t scanOutputPlugins(const std::string& folder) {
  std::lock_guard<std::mutex> guard(listLock);
  pluginList.count = 0;

  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    for (;;) {
      errno = 0;
      const dirent* item = readdir(dir);
      if (item == nullptr) {
        if (errno != 0) platform::messageBox("Couldn't find next file.", "Error..", platform::MB_OK);
        break;
      }
      if (endsWithKos(item->d_name) && isRegularFile(joinPath(folder, item->d_name))) names.emplace_back(item->d_name);
    }
    closedir(dir);
  }
  // Directory order is arbitrary; sorting keeps the list the same each time.
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    if (pluginList.count >= kMaxOutputPlugins) break;
    examinePlugin(folder, name, pluginList);
  }
  return 0;
}

int32_t outputPluginCount() {
  std::lock_guard<std::mutex> guard(listLock);
  return pluginList.count;
}

std::string outputPluginDescription(int32_t index) {
  std::lock_guard<std::mutex> guard(listLock);
  if (index < 0 || index >= pluginList.count) return "Invalid Output Plugin";
  return pluginList.entries[index].description;
}

std::string outputPluginFileName(int32_t index) {
  std::lock_guard<std::mutex> guard(listLock);
  if (index < 0 || index >= pluginList.count) return "default.kos";
  return pluginList.entries[index].fileName;
}

namespace {
void unloadLocked() {
  if (loadedLibrary != nullptr) dlclose(loadedLibrary);
  loadedLibrary = nullptr;
  loadedRecord = OutputSystem{};
}
}  // namespace

std::string pluginPath(const std::string& fileName) {
  // Without a '/' dlopen would only search the loader's paths.
  if (fileName.find('/') != std::string::npos) return fileName;
  const std::string folder(settings.OutputPluginDir, strnlen(settings.OutputPluginDir, kSettingsStringBytes));
  if (!folder.empty()) {
    const std::string candidate = joinPath(folder, fileName);
    if (isRegularFile(candidate)) return candidate;
  }
  return fileName;
}

const OutputSystem* loadOutputPlugin(const std::string& fileName) {
  std::lock_guard<std::mutex> guard(loadedLock);
  unloadLocked();
  if (fileName.empty()) return nullptr;

  void* library = dlopen(pluginPath(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;

  GetOutputSystemFn getSystem = lookUp<GetOutputSystemFn>(library, "GetOutputSystem");
  const OutputSystem* offered = getSystem ? getSystem() : nullptr;
  if (offered == nullptr) {
    dlclose(library);
    return nullptr;
  }
  const OutputSystem record = *offered;
  if (!hasEverySlot(record)) {
    dlclose(library);
    return nullptr;
  }
  loadedLibrary = library;
  loadedRecord = record;
  return &loadedRecord;
}

void unloadOutputPlugin() {
  std::lock_guard<std::mutex> guard(loadedLock);
  unloadLocked();
}

}  // namespace kuv
