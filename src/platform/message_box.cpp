#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace kuv::platform {

namespace {
std::mutex backendLock;
MessageBoxBackend currentBackend;
}  // namespace

int consoleMessageBox(const std::string& text, const std::string& title, unsigned style) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  std::fflush(stderr);
  return (style & 0x000F) == MB_YESNO ? IDNO : IDOK;
}

MessageBoxBackend setMessageBoxBackend(MessageBoxBackend backend) {
  std::lock_guard<std::mutex> guard(backendLock);
  MessageBoxBackend old = std::move(currentBackend);
  currentBackend = std::move(backend);
  return old;
}

int messageBox(const std::string& text, const std::string& title, unsigned style) {
  MessageBoxBackend backend;
  {
    std::lock_guard<std::mutex> guard(backendLock);
    backend = currentBackend;
  }
  // Called outside the lock: a GUI backend blocks until the user answers.
  return backend ? backend(text, title, style) : consoleMessageBox(text, title, style);
}

}  // namespace kuv::platform
