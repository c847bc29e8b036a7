// Times the playlist operations on a large list: load an M3U, sort both
// ways, shuffle, save as PLS and load that back. Prints one "name ms" line
// per step.
//   kuv_playlist_times FOLDER   (FOLDER holds list.m3u naming its files)
#include <chrono>
#include <cstdio>
#include <string>

#include "config/settings.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"

namespace {

template <typename F>
void timed(const char* name, F&& step) {
  const auto start = std::chrono::steady_clock::now();
  step();
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  std::printf("%s %.2f\n", name, took.count());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kuv_playlist_times FOLDER\n");
    return 2;
  }
  using namespace kuv;
  const std::string folder = argv[1];
  settings.ReadFileInfo = 0;
  timed("load_m3u", [&] { loadM3u(folder + "/list.m3u"); });
  std::printf("entries %d\n", entryCount());
  timed("sort_ascending", [] { sortEntries(0); });
  timed("sort_descending", [] { sortEntries(1); });
  timed("shuffle", [] { shuffleEntriesSeeded(1); });
  timed("save_pls", [&] { savePls(folder + "/list.pls"); });
  clearPlaylist();
  timed("load_pls", [&] { loadPls(folder + "/list.pls"); });
  clearPlaylist();
  settings.ReadFileInfo = 1;
  timed("load_m3u_with_info", [&] { loadM3u(folder + "/list.m3u"); });
  return entryCount() > 0 ? 0 : 1;
}
