#include "output/paced_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace kuv::test {

namespace {
constexpr auto kTick = std::chrono::milliseconds(5);
// Catch up at most this much after a late tick or a pause: a card does not
// play faster to make up for silence.
constexpr double kMaxBurstSeconds = 0.05;
}  // namespace

PacedReader::PacedReader(const std::string& path, uint32_t bytesPerSecond) : rate_(bytesPerSecond) {
  unlink(path.c_str());
  if (mkfifo(path.c_str(), 0600) != 0) return;
  fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  // The smallest FIFO, so little sits between the device and the "speaker".
  capacity_ = fcntl(fd_, F_SETPIPE_SZ, 4096);
  if (capacity_ < 0) capacity_ = fcntl(fd_, F_GETPIPE_SZ);
  thread_ = std::thread([this] { run(); });
}

PacedReader::~PacedReader() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0 && !hungUp_.load()) close(fd_);
}

size_t PacedReader::bytes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return received_.size();
}

std::string PacedReader::received() const {
  std::lock_guard<std::mutex> guard(lock_);
  return received_;
}

void PacedReader::hangUpAfter(size_t bytes) { hangUpAt_.store(bytes); }

void PacedReader::run() {
  std::vector<char> chunk(65536);
  double budget = 0;
  auto last = std::chrono::steady_clock::now();
  while (!stop_.load()) {
    std::this_thread::sleep_for(kTick);
    if (hungUp_.load()) continue;
    const auto now = std::chrono::steady_clock::now();
    budget = std::min(budget + std::chrono::duration<double>(now - last).count() * rate_, rate_ * kMaxBurstSeconds);
    last = now;
    while (budget >= 1) {
      const size_t want = std::min(chunk.size(), static_cast<size_t>(budget));
      // Read and count in one step: bytes taken from the FIFO but not yet
      // counted would look lost to a test that checks the FIFO holds the
      // rest (the read never blocks, so holding the lock costs nothing).
      std::lock_guard<std::mutex> guard(lock_);
      const ssize_t got = read(fd_, chunk.data(), want);
      if (got <= 0) break;
      budget -= static_cast<double>(got);
      received_.append(chunk.data(), static_cast<size_t>(got));
    }
    if (bytes() >= hangUpAt_.load()) {
      hungUp_.store(true);
      close(fd_);
    }
  }
}

}  // namespace kuv::test
