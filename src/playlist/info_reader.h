// Reads the length and tag of playlist entries on a thread of its own, so a
// long list fills in while the user goes on working with it. Entries are
// named by id (their content moves when the list is reordered); what was
// read is applied by the thread that owns the playlist.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playlist/file_info.h"

namespace kuv {

struct EntryInfoResult {
  uint64_t id = 0;
  int32_t lengthMs = 0;
  TagInfo tag{};
  bool known = false;  // false: the file could not be read (the entry stays as it is)
};

struct InfoProgress {
  int32_t done = 0;   // applied since the reader was last idle
  int32_t total = 0;  // queued since then; 0 when idle
};

class InfoReader {
 public:
  // `ready` runs on the reader's thread when results wait to be applied; it
  // runs again only after applyResults has taken them.
  explicit InfoReader(std::function<void()> ready);
  ~InfoReader();
  InfoReader(const InfoReader&) = delete;
  InfoReader& operator=(const InfoReader&) = delete;

  // Queues every entry whose information is not known and that was added
  // after the entries queued before (URLs are left out). Returns how many.
  int32_t queueUnknownEntries();
  // Applies what was read to the entries still there; returns the positions
  // whose lines changed, ascending.
  std::vector<int32_t> applyResults();
  // Drops what is queued and read but not applied (the list was cleared).
  void forget();
  InfoProgress progress() const;

 private:
  struct Job {
    uint64_t id;
    std::string path;
    uint64_t generation;  // of the list it was queued from
  };
  void run();

  std::function<void()> ready_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  std::vector<EntryInfoResult> results_;
  bool readySent_ = false;
  bool stopping_ = false;
  uint64_t queuedUpTo_ = 0;  // highest id queued so far (UI thread only)
  // Counts forget()s: a read in progress when the list was cleared yields
  // no result, so it can neither be applied nor counted as done.
  uint64_t generation_ = 0;
  int32_t done_ = 0;
  int32_t total_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace kuv
