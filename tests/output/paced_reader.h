// Drains a FIFO at a fixed byte rate, the way a sound card takes samples, so
// an ALSA `file` PCM writing into it plays in real time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace kuv::test {

class PacedReader {
 public:
  // Makes the FIFO at path and starts reading. The reader holds the FIFO
  // open for writing as well, so ALSA's open never blocks and no early end
  // of file comes between two writers.
  PacedReader(const std::string& path, uint32_t bytesPerSecond);
  ~PacedReader();
  PacedReader(const PacedReader&) = delete;
  PacedReader& operator=(const PacedReader&) = delete;

  bool ok() const { return fd_ >= 0; }
  size_t bytes() const;
  std::string received() const;
  // Bytes the FIFO itself holds.
  int capacity() const { return capacity_; }
  // Closes the FIFO once this many bytes arrived: its writer then gets EPIPE.
  void hangUpAfter(size_t bytes);
  bool hungUp() const { return hungUp_.load(); }

 private:
  void run();

  int fd_ = -1;
  int capacity_ = 0;
  uint32_t rate_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<size_t> hangUpAt_{static_cast<size_t>(-1)};
  mutable std::mutex lock_;
  std::string received_;
  std::thread thread_;
};

}  // namespace kuv::test
