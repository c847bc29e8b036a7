// PLS and M3U files: the same bytes read as either kind.
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "fuzz_support.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"

namespace {

// A name that is a folder is added with everything below it, and a fuzzed
// "/" would walk the whole machine: every line that may be a name ends in
// ".mp3", which leaves the parsing whole and names no folder.
std::string withoutFolders(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    const bool cr = !line.empty() && line.back() == '\r';
    if (cr) line.pop_back();
    if (!line.empty() && line[0] != '[' && line[0] != '#') line += ".mp3";
    out += line;
    if (cr) out += '\r';
    if (end < text.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kuv::fuzz::silenceBoxes();
  kuv::settings.ReadFileInfo = 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = withoutFolders(data, size);
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  kuv::clearPlaylist();
  kuv::loadPls(kuv::fuzz::inputAsFile(bytes, text.size(), ".pls"));
  kuv::clearPlaylist();
  kuv::loadM3u(kuv::fuzz::inputAsFile(bytes, text.size(), ".m3u"));
  kuv::clearPlaylist();
  return 0;
}
