// What waking alone costs on this machine: a thread that does nothing but
// sleep to an absolute schedule of one round every PERIOD_MS (default 20,
// the display's rounds while a visualisation moves), until SIGTERM or SIGINT.
// With --put, each round also writes 40 bytes (a shared-memory put request)
// to a socket that a child process waits on, as the display wakes the X
// server with each new picture. Measured like a player (the child is not
// counted, as the X server is not), it is the least any program drawing
// that often can cost here, whatever it draws.
//   kuv_wake_floor [--put] [PERIOD_MS]
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  bool put = false;
  long periodMs = 20;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--put") == 0) {
      put = true;
    } else {
      periodMs = std::atol(argv[i]);
      if (periodMs <= 0 || periodMs > 10000) {
        std::fprintf(stderr, "usage: kuv_wake_floor [--put] [PERIOD_MS]\n");
        return 2;
      }
    }
  }
  int ends[2] = {-1, -1};
  pid_t reader = -1;
  if (put) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
      std::perror("kuv_wake_floor: socketpair");
      return 1;
    }
    reader = fork();
    if (reader < 0) {
      std::perror("kuv_wake_floor: fork");
      return 1;
    }
    if (reader == 0) {
      // The stand-in for the X server: takes each request as it comes.
      close(ends[0]);
      char buffer[4096];
      while (read(ends[1], buffer, sizeof buffer) > 0) {
      }
      _exit(0);
    }
    close(ends[1]);
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  const char request[40] = {};
  timespec at{};
  clock_gettime(CLOCK_MONOTONIC, &at);
  int status = 0;
  while (!stopRequested) {
    at.tv_nsec += periodMs * 1000000L;
    while (at.tv_nsec >= 1000000000L) {
      at.tv_nsec -= 1000000000L;
      ++at.tv_sec;
    }
    // A signal ends the sleep with EINTR, and the loop then sees the stop.
    const int slept = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
    if (slept != 0 && slept != EINTR) {
      status = 1;
      break;
    }
    if (stopRequested) break;
    if (put && write(ends[0], request, sizeof request) != static_cast<ssize_t>(sizeof request) && errno != EINTR) {
      status = 1;
      break;
    }
  }
  if (put) {
    close(ends[0]);
    waitpid(reader, nullptr, 0);
  }
  return status;
}
