#include "engine/frame_index.h"

#include <pthread.h>

#include <thread>

#include "decoder/frame_context.h"
#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "engine/stream_io.h"

namespace kuv {

bool scanFrameIndex(const std::string& path, FrameIndex& index, const std::atomic<int>* abandon) {
  index.offsets.clear();
  auto stream = std::make_unique<InputStream>();
  InputStream& s = *stream;
  // A name that is no local file has no frames to count ahead of playback.
  if (isUrlName(path) || !openStream(s, path)) return false;
  bool whole = s.regular;
  if (whole) {
    resetFrameState(s);
    FrameContext ctx;
    for (;;) {
      if (abandon && abandon->load(std::memory_order_relaxed)) {
        whole = false;
        break;
      }
      if (readFrame(s, ctx)) {
        if (index.offsets.empty()) {
          index.sampleRate = kSampleRates[ctx.sampleRateIndex];
          index.samplesPerFrame = samplesPerFrame(ctx);
        }
        index.offsets.push_back(streamPosition(s) - (static_cast<int64_t>(ctx.bodyLength) + 4));
        continue;
      }
      // As playback answers nobody: a free-format frame of no length ends it.
      if (isRecoverable(takeReadError(s))) answerResync(s, false);
      break;
    }
  }
  closeStream(s);
  return whole && !index.offsets.empty();
}

int64_t frameIndexMs(const FrameIndex& index) {
  if (index.sampleRate <= 0) return 0;
  return static_cast<int64_t>(index.offsets.size()) * index.samplesPerFrame * 1000 / index.sampleRate;
}

struct FrameIndexWorker {
  std::thread thread;
  std::atomic<int> abandon{0};
  std::atomic<bool> done{false};
  std::shared_ptr<const FrameIndex> index;  // written before done
  bool taken = false;
};

FrameIndexScan::FrameIndexScan() = default;

FrameIndexScan::~FrameIndexScan() { stop(); }

void FrameIndexScan::start(const std::string& path) {
  stop();
  auto worker = std::make_unique<FrameIndexWorker>();
  FrameIndexWorker* w = worker.get();
  try {
    w->thread = std::thread([w, path] {
      pthread_setname_np(pthread_self(), "kuv-scan");
      auto index = std::make_shared<FrameIndex>();
      if (scanFrameIndex(path, *index, &w->abandon)) w->index = std::move(index);
      w->done.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    return;  // no scan: the estimates stay
  }
  worker_ = std::move(worker);
}

std::shared_ptr<const FrameIndex> FrameIndexScan::take() {
  if (!worker_ || worker_->taken || !worker_->done.load(std::memory_order_acquire)) return nullptr;
  worker_->taken = true;
  return worker_->index;
}

std::shared_ptr<const FrameIndex> FrameIndexScan::finish() {
  if (worker_ && worker_->thread.joinable()) worker_->thread.join();
  return take();
}

void FrameIndexScan::stop() {
  if (!worker_) return;
  worker_->abandon.store(1);
  if (worker_->thread.joinable()) worker_->thread.join();
  worker_.reset();
}

}  // namespace kuv
