#include "engine/stream_tags.h"

#include <atomic>
#include <mutex>

namespace kuv {

namespace {

std::mutex boardLock;
StreamTags board;
std::atomic<uint64_t> generation{0};

}  // namespace

void publishStreamTags(const StreamTags& tags) {
  std::lock_guard<std::mutex> guard(boardLock);
  if (tags.station == board.station && tags.title == board.title) return;
  board = tags;
  generation.fetch_add(1);
}

StreamTags currentStreamTags() {
  std::lock_guard<std::mutex> guard(boardLock);
  return board;
}

uint64_t streamTagsGeneration() { return generation.load(); }

void clearStreamTags() { publishStreamTags(StreamTags{}); }

}  // namespace kuv
