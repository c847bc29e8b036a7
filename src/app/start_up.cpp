#include "app/start_up.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kuv {

namespace {

// A server that does not take the connection within this time is as good
// as absent.
constexpr int kProbeTimeoutMs = 3000;

// Connects a non-blocking socket within the probe time.
bool connectWithin(int fd, const sockaddr* address, socklen_t length) {
  if (::connect(fd, address, length) == 0) return true;
  if (errno != EINPROGRESS && errno != EAGAIN) return false;
  pollfd p{fd, POLLOUT, 0};
  int n;
  do {
    n = ::poll(&p, 1, kProbeTimeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  int error = 0;
  socklen_t size = sizeof error;
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// abstractName: the path is an abstract name (leading NUL), as X servers
// on Linux offer beside the file.
bool unixReachable(const std::string& path, bool abstractName) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t offset = abstractName ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstractName ? 0 : 1));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const bool ok = connectWithin(fd, reinterpret_cast<const sockaddr*>(&address), length);
  ::close(fd);
  return ok;
}

bool tcpReachable(const std::string& host, int32_t port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a && !ok; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    ok = connectWithin(fd, a->ai_addr, a->ai_addrlen);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return ok;
}

}  // namespace

bool parseXDisplay(const std::string& display, XDisplayAddress& address) {
  address = XDisplayAddress{};
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos || colon + 1 >= display.size()) return false;
  int64_t number = 0;
  size_t i = colon + 1;
  for (; i < display.size() && display[i] != '.'; ++i) {
    if (display[i] < '0' || display[i] > '9') return false;
    number = number * 10 + (display[i] - '0');
    if (number > 65535 - 6000) return false;
  }
  if (i == colon + 1) return false;
  // "host::N" is DECnet, which nobody runs any more.
  if (colon > 0 && display[colon - 1] == ':') return false;
  address.number = static_cast<int32_t>(number);
  const std::string host = display.substr(0, colon);
  if (!host.empty() && host[0] == '/')
    address.socketPath = host;
  else
    address.host = host;
  return true;
}

bool xDisplayReachable(const std::string& display) {
  XDisplayAddress address;
  if (!parseXDisplay(display, address)) return false;
  if (!address.socketPath.empty()) return unixReachable(address.socketPath, false);
  if (address.host.empty() || address.host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(address.number);
    return unixReachable(path, true) || unixReachable(path, false);
  }
  return tcpReachable(address.host, 6000 + address.number);
}

bool waylandReachable(const DisplayEnvironment& env) {
  const std::string name = env.waylandDisplay.empty() ? std::string("wayland-0") : env.waylandDisplay;
  if (name[0] == '/') return unixReachable(name, false);
  if (env.runtimeDir.empty()) return false;
  return unixReachable(env.runtimeDir + "/" + name, false);
}

DisplayChoice chooseDisplay(const DisplayEnvironment& env, const std::function<bool(const std::string&)>& reachX,
                            const std::function<bool(const DisplayEnvironment&)>& reachWayland) {
  DisplayChoice choice;
  const std::string& qpa = env.qtPlatform;
  const bool wantsX = qpa == "xcb" || qpa.rfind("xcb:", 0) == 0;
  const bool wantsWayland = qpa.rfind("wayland", 0) == 0;
  if (!qpa.empty() && !wantsX && !wantsWayland) {
    // offscreen, vnc, eglfs...: the user knows what the platform needs.
    choice.usable = true;
    return choice;
  }
  const bool xNamed = !env.display.empty();
  const bool waylandNamed = !env.waylandDisplay.empty();
  if (!wantsWayland && xNamed && reachX(env.display)) {
    choice.usable = true;
    if (qpa.empty() && waylandNamed) choice.platform = "xcb";
    return choice;
  }
  if (!wantsX && waylandNamed && reachWayland(env)) {
    choice.usable = true;
    if (qpa.empty()) choice.platform = "wayland";
    return choice;
  }
  if (!xNamed && !waylandNamed)
    choice.reason = "There is no display here";
  else if (xNamed && !wantsWayland)
    choice.reason = "The display \"" + env.display + "\" cannot be reached";
  else
    choice.reason = "The Wayland display \"" + env.waylandDisplay + "\" cannot be reached";
  return choice;
}

bool StartGate::wait() {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return phase_ != Phase::Starting; });
  return phase_ == Phase::Open;
}

void StartGate::open() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (phase_ == Phase::Starting) phase_ = Phase::Open;
  }
  changed_.notify_all();
}

void StartGate::close() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    phase_ = Phase::Closed;
  }
  changed_.notify_all();
}

}  // namespace kuv
