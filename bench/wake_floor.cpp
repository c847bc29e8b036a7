// What waking alone costs on this machine: a thread that does nothing but
// sleep to an absolute schedule of one round every PERIOD_MS (default 20,
// the display's rounds while a visualisation moves), until SIGTERM or SIGINT.
// Measured like a player, it is the least any program drawing that often
// can cost here, whatever it draws.
//   kuv_wake_floor [PERIOD_MS]
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  const long periodMs = argc >= 2 ? std::atol(argv[1]) : 20;
  if (argc > 2 || periodMs <= 0 || periodMs > 10000) {
    std::fprintf(stderr, "usage: kuv_wake_floor [PERIOD_MS]\n");
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  timespec at{};
  clock_gettime(CLOCK_MONOTONIC, &at);
  while (!stopRequested) {
    at.tv_nsec += periodMs * 1000000L;
    while (at.tv_nsec >= 1000000000L) {
      at.tv_nsec -= 1000000000L;
      ++at.tv_sec;
    }
    // A signal ends the sleep with EINTR, and the loop then sees the stop.
    if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0 && errno != EINTR) return 1;
  }
  return 0;
}
