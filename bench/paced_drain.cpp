// A sound card stand-in for the benchmarks: makes a FIFO and reads it at a
// fixed byte rate until SIGTERM or SIGINT, throwing the bytes away, and then
// prints how many it read. An ALSA `file` PCM writing into the FIFO then
// plays in real time. With CAPTURE, every byte read is also appended to that
// file, so what a player played can be compared with what it was given.
//   kuv_paced_drain FIFO [BYTES_PER_SECOND [CAPTURE]]   (default 176400: 44.1 kHz, 16-bit stereo)
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: kuv_paced_drain FIFO [BYTES_PER_SECOND [CAPTURE]]\n");
    return 2;
  }
  const char* path = argv[1];
  const double rate = argc >= 3 ? std::atof(argv[2]) : 176400.0;
  if (rate <= 0) {
    std::fprintf(stderr, "kuv_paced_drain: bad rate %s\n", argv[2]);
    return 2;
  }
  int capture = -1;
  if (argc == 4) {
    capture = open(argv[3], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (capture < 0) {
      std::perror("kuv_paced_drain: capture");
      return 1;
    }
  }
  unlink(path);
  if (mkfifo(path, 0600) != 0) {
    std::perror("kuv_paced_drain: mkfifo");
    return 1;
  }
  // Open for reading and writing: ALSA's open never blocks, and a player
  // closing its end gives no end of file.
  const int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::perror("kuv_paced_drain: open");
    return 1;
  }
  // A small FIFO, like a card's small hardware buffer.
  fcntl(fd, F_SETPIPE_SZ, 4096);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  std::vector<char> chunk(65536);
  // At most this much is caught up after a late tick: a card does not play
  // faster to make up for lost time.
  const double maxBurst = rate * 0.05;
  double budget = 0;
  unsigned long long total = 0;
  bool captureFailed = false;
  auto last = std::chrono::steady_clock::now();
  while (!stopRequested) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto now = std::chrono::steady_clock::now();
    budget = std::min(budget + std::chrono::duration<double>(now - last).count() * rate, maxBurst);
    last = now;
    while (budget >= 1) {
      const size_t want = std::min(chunk.size(), static_cast<size_t>(budget));
      const ssize_t got = read(fd, chunk.data(), want);
      if (got <= 0) break;
      budget -= static_cast<double>(got);
      total += static_cast<unsigned long long>(got);
      if (capture >= 0 && !writeAll(capture, chunk.data(), static_cast<size_t>(got))) {
        // A short capture would read as samples the player lost: stop
        // capturing and say so rather than keep a file that lies.
        std::perror("kuv_paced_drain: capture write");
        close(capture);
        capture = -1;
        captureFailed = true;
      }
    }
  }
  if (capture >= 0) close(capture);
  close(fd);
  unlink(path);
  std::printf("%llu\n", total);
  return captureFailed ? 1 : 0;
}
