#include "playlist/info_reader.h"

#include <unordered_map>
#include <utility>

#include "platform/paths.h"
#include "playlist/playlist.h"

namespace kuv {

namespace {

// Results are handed over in batches, so applying them (a walk over the
// list) stays rare while a long list is read.
constexpr size_t kBatch = 64;
constexpr int kReaders = 2;

}  // namespace

InfoReader::InfoReader(std::function<void()> ready) : ready_(std::move(ready)) {
  // Two readers: while one waits for the disk the other parses.
  for (int i = 0; i < kReaders; ++i) threads_.emplace_back(&InfoReader::run, this);
}

InfoReader::~InfoReader() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

int32_t InfoReader::queueUnknownEntries() {
  // Called after every event: nothing added since the last look costs no walk.
  if (newestEntryId() <= queuedUpTo_) return 0;
  std::vector<Job> fresh;
  uint64_t highest = queuedUpTo_;
  for (PlaylistEntry* e = playlist.first; e; e = e->next) {
    if (e->id > highest) highest = e->id;
    if (e->id <= queuedUpTo_ || e->infoKnown || platform::isUrlName(e->path)) continue;
    fresh.push_back({e->id, e->path, 0});
  }
  queuedUpTo_ = highest;
  if (fresh.empty()) return 0;
  // Read in list order, which is also the order the user sees them in.
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (Job& job : fresh) {
      job.generation = generation_;
      jobs_.push_back(std::move(job));
    }
    total_ += static_cast<int32_t>(fresh.size());
  }
  wake_.notify_all();
  return static_cast<int32_t>(fresh.size());
}

std::vector<int32_t> InfoReader::applyResults() {
  std::vector<EntryInfoResult> results;
  {
    std::lock_guard<std::mutex> guard(lock_);
    results.swap(results_);
    readySent_ = false;
    done_ += static_cast<int32_t>(results.size());
    if (jobs_.empty() && done_ >= total_) done_ = total_ = 0;
  }
  std::vector<int32_t> changed;
  if (results.empty()) return changed;
  std::unordered_map<uint64_t, const EntryInfoResult*> byId;
  for (const EntryInfoResult& r : results)
    if (r.known) byId.emplace(r.id, &r);
  if (byId.empty()) return changed;
  int32_t position = 0;
  std::lock_guard<std::mutex> guard(playlist.lock);
  for (PlaylistEntry* e = playlist.first; e && !byId.empty(); e = e->next, ++position) {
    const auto found = byId.find(e->id);
    if (found == byId.end()) continue;
    // Read on demand meanwhile (it became current): that reading stands.
    if (!e->infoKnown) {
      e->lengthMs = found->second->lengthMs;
      e->tag = found->second->tag;
      e->infoKnown = 1;
      changed.push_back(position);
    }
    byId.erase(found);
  }
  return changed;
}

void InfoReader::forget() {
  std::lock_guard<std::mutex> guard(lock_);
  jobs_.clear();
  results_.clear();
  done_ = total_ = 0;
  ++generation_;
}

InfoProgress InfoReader::progress() const {
  std::lock_guard<std::mutex> guard(lock_);
  return {done_, total_};
}

void InfoReader::run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    guard.unlock();
    PlaylistEntry scratch;
    scratch.path = job.path;
    readEntryInfo(scratch);
    guard.lock();
    if (stopping_) return;
    if (job.generation != generation_) continue;  // of a cleared list
    results_.push_back({job.id, scratch.lengthMs, scratch.tag, scratch.infoKnown != 0});
    // Tell the owner when a batch is full or nothing more is waiting; once
    // told, not again until it has taken them.
    if (!readySent_ && (results_.size() >= kBatch || jobs_.empty())) {
      readySent_ = true;
      guard.unlock();
      ready_();
      guard.lock();
    }
  }
}

}  // namespace kuv
