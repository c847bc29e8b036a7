#include "plugins/current_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace kuv {

namespace {

// Written by the UI thread only.
char* view = nullptr;
std::string mappedName;

}  // namespace

bool createCurrentFileMapping(const char* name) {
  if (view) return true;
  // The user's own: a path says what they listen to.
  const int fd = shm_open(name, O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  // A block left smaller by something else is grown; a new one reads zeros.
  if (ok && st.st_size < static_cast<off_t>(kCurrentFileBytes)) ok = ftruncate(fd, kCurrentFileBytes) == 0;
  void* memory = ok ? mmap(nullptr, kCurrentFileBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
  close(fd);
  if (memory == MAP_FAILED) {
    shm_unlink(name);
    return false;
  }
  view = static_cast<char*>(memory);
  mappedName = name;
  return true;
}

void publishCurrentFile(std::string_view path) {
  if (!view) return;
  size_t n = std::min(path.size(), kCurrentFileBytes - 1);
  // Readers get whole characters.
  if (n < path.size())
    while (n > 0 && (static_cast<unsigned char>(path[n]) & 0xC0) == 0x80) --n;
  std::memcpy(view, path.data(), n);
  view[n] = 0;
}

void closeCurrentFileMapping() {
  if (!view) return;
  munmap(view, kCurrentFileBytes);
  view = nullptr;
  shm_unlink(mappedName.c_str());
  mappedName.clear();
}

}  // namespace kuv
