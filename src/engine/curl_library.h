// libcurl is loaded when the first URL is opened, not at start-up: it and
// the thirty-odd libraries it pulls in cost start-up time and memory that
// a player of local files never needs. Every libcurl function the program
// calls is reached through one table of pointers.
#pragma once

#include <curl/curl.h>

#include <string>

namespace kuv {

constexpr const char* kCurlLibraryName = "libcurl.so.4";
// Names another file to load in its place (a test's missing library, or a
// libcurl built elsewhere); read once, on the first URL.
constexpr const char* kCurlLibraryEnv = "KUV_LIBCURL";

struct CurlLibrary {
  void* handle = nullptr;  // from dlopen; kept for the life of the process
  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&::curl_easy_strerror) easy_strerror = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&::curl_multi_init) multi_init = nullptr;
  decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
  decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
  decltype(&::curl_multi_perform) multi_perform = nullptr;
  decltype(&::curl_multi_poll) multi_poll = nullptr;
  decltype(&::curl_multi_wakeup) multi_wakeup = nullptr;
  decltype(&::curl_multi_info_read) multi_info_read = nullptr;
  decltype(&::curl_multi_strerror) multi_strerror = nullptr;
  decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
  decltype(&::curl_slist_append) slist_append = nullptr;
  decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

// Opens the library file `name` and resolves every entry of the table.
// False when the file cannot be loaded or lacks a function; `error` then
// says which, the table is left empty and nothing stays loaded.
bool openCurlLibrary(const char* name, CurlLibrary& lib, std::string& error);

// The process's libcurl, loaded (KUV_LIBCURL's file, else libcurl.so.4)
// and initialised by the first call from any thread; later calls give the
// same answer. False, with the reason in `error`, when it is unusable.
bool loadCurlLibrary(std::string& error);

// The table loadCurlLibrary filled; its entries are null until it succeeded.
const CurlLibrary& curlApi();

}  // namespace kuv
