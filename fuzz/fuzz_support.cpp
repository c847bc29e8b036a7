#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>

#include "platform/message_box.h"

namespace kuv::fuzz {

std::string inputAsFile(const uint8_t* data, size_t size, const std::string& suffix) {
  const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  const std::string path = std::string(folder) + "/kuv-fuzz-" + std::to_string(getpid()) + suffix;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

void silenceBoxes() {
  platform::setMessageBoxBackend([](const std::string&, const std::string&, unsigned style) {
    return (style & 0x0F) == platform::MB_YESNO ? platform::IDNO : platform::IDOK;
  });
}

}  // namespace kuv::fuzz
