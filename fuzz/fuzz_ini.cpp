// kuv.ini and playlist files as the INI reader and writer see them.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = kuv::fuzz::inputAsFile(data, size, ".ini");
  using namespace kuv::platform;
  getProfileStrings("kuv", {"EqVolume", "WindowX", "OutputPluginDir", "playlist"}, path);
  readProfileSection("playlist", path);
  getProfileInt("kuv", "RepeatPlay", 0, path);
  // Writes keep every other line: they must survive whatever the file holds.
  writeProfileString("kuv", "EqVolume", "40", path);
  writeProfileStrings("playlist", {{"File1", "/a.mp3"}, {"NumberOfEntries", "1"}}, path);
  getProfileString("kuv", "EqVolume", "", path);
  return 0;
}
