// Where every audio frame of a local file begins, found by reading the file
// as playback reads it: the exact frame count (a VBR file without a frame
// count, or one whose tag lies) and seeks that land on the frame asked for.
// Built on a thread of its own while the file plays.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kuv {

struct FrameIndex {
  std::vector<int64_t> offsets;  // of each audio frame's header, in order
  // Of the first frame: the stream's rate (Hz) and samples per frame.
  int32_t sampleRate = 0;
  int32_t samplesPerFrame = 0;
};

// The index's play time in milliseconds (0 without frames).
int64_t frameIndexMs(const FrameIndex& index);

// Reads every frame of the file (a tag frame is none); false when it cannot
// be read, holds no frame, or abandon turned nonzero.
bool scanFrameIndex(const std::string& path, FrameIndex& index, const std::atomic<int>* abandon);

// The scan of the playing file on a thread of its own. start() begins it;
// take() hands over the finished index once (nullptr until then); stop()
// ends it and waits. One at a time.
struct FrameIndexWorker;
class FrameIndexScan {
 public:
  FrameIndexScan();
  ~FrameIndexScan();
  FrameIndexScan(const FrameIndexScan&) = delete;
  FrameIndexScan& operator=(const FrameIndexScan&) = delete;
  void start(const std::string& path);
  std::shared_ptr<const FrameIndex> take();
  // Waits for the scan to end, then as take().
  std::shared_ptr<const FrameIndex> finish();
  void stop();

 private:
  std::unique_ptr<FrameIndexWorker> worker_;
};

}  // namespace kuv
