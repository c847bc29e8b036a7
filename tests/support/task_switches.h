// The threads of this process and how often each has slept of its own
// accord: tests that a thread sleeps instead of polling count these.
#pragma once

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace kuv::test {

inline std::set<int> taskIds() {
  std::set<int> ids;
  DIR* dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return ids;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ids.insert(std::atoi(entry->d_name));
  }
  ::closedir(dir);
  return ids;
}

// -1 when the thread has gone.
inline long voluntarySwitches(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
  const std::string key = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  }
  return -1;
}

}  // namespace kuv::test
