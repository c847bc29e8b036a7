#include "engine/curl_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

namespace kuv {

namespace {

CurlLibrary loaded;
std::string loadError;
std::once_flag loadOnce;

template <typename Function>
bool resolve(void* handle, const char* name, Function& slot, const char* file, std::string& error) {
  dlerror();
  void* address = dlsym(handle, name);
  if (!address) {
    const char* why = dlerror();
    error = std::string(file) + " lacks " + name + (why ? std::string(": ") + why : std::string());
    return false;
  }
  slot = reinterpret_cast<Function>(address);
  return true;
}

}  // namespace

bool openCurlLibrary(const char* name, CurlLibrary& lib, std::string& error) {
  lib = CurlLibrary{};
  void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = std::string(name) + " could not be loaded: " + (why ? why : "no reason given");
    return false;
  }
  CurlLibrary table;
  table.handle = handle;
  bool ok = resolve(handle, "curl_global_init", table.global_init, name, error) &&
            resolve(handle, "curl_easy_init", table.easy_init, name, error) &&
            resolve(handle, "curl_easy_setopt", table.easy_setopt, name, error) &&
            resolve(handle, "curl_easy_getinfo", table.easy_getinfo, name, error) &&
            resolve(handle, "curl_easy_strerror", table.easy_strerror, name, error) &&
            resolve(handle, "curl_easy_cleanup", table.easy_cleanup, name, error) &&
            resolve(handle, "curl_multi_init", table.multi_init, name, error) &&
            resolve(handle, "curl_multi_add_handle", table.multi_add_handle, name, error) &&
            resolve(handle, "curl_multi_remove_handle", table.multi_remove_handle, name, error) &&
            resolve(handle, "curl_multi_perform", table.multi_perform, name, error) &&
            resolve(handle, "curl_multi_poll", table.multi_poll, name, error) &&
            resolve(handle, "curl_multi_wakeup", table.multi_wakeup, name, error) &&
            resolve(handle, "curl_multi_info_read", table.multi_info_read, name, error) &&
            resolve(handle, "curl_multi_strerror", table.multi_strerror, name, error) &&
            resolve(handle, "curl_multi_cleanup", table.multi_cleanup, name, error) &&
            resolve(handle, "curl_slist_append", table.slist_append, name, error) &&
            resolve(handle, "curl_slist_free_all", table.slist_free_all, name, error);
  if (!ok) {
    dlclose(handle);
    return false;
  }
  lib = table;
  return true;
}

bool loadCurlLibrary(std::string& error) {
  std::call_once(loadOnce, [] {
    const char* chosen = std::getenv(kCurlLibraryEnv);
    const char* name = chosen && *chosen ? chosen : kCurlLibraryName;
    CurlLibrary table;
    if (!openCurlLibrary(name, table, loadError)) return;
    const CURLcode code = table.global_init(CURL_GLOBAL_DEFAULT);
    if (code != CURLE_OK) {
      // Still loaded (libcurl may have started threads of its own), unused.
      loadError = std::string(name) + " could not be initialised: " + table.easy_strerror(code);
      return;
    }
    loaded = table;
  });
  if (!loaded.handle) error = loadError;
  return loaded.handle != nullptr;
}

const CurlLibrary& curlApi() { return loaded; }

}  // namespace kuv
