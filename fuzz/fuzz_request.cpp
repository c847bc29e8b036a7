// The instance channel's server as a peer sees it: any bytes on one
// connection, read to the end. Every request the handler receives must be
// one the wire format allows.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/instance_channel.h"

namespace {

std::string serverName() { return "KuvFuzz.request." + std::to_string(getpid()); }

kuv::InstanceServer& server() {
  static kuv::InstanceServer* s = [] {
    auto* made = new kuv::InstanceServer;
    made->setRequestTimeoutMs(200);
    const bool listening = made->listen(serverName(), [](const kuv::InstanceRequest& r) {
      if (r.kind > kuv::kKindQuery || r.text.size() > kuv::kMaxTextBytes || r.text.find('\0') != std::string::npos)
        std::abort();
      return static_cast<int32_t>(r.code);
    });
    if (!listening) std::abort();
    return made;
  }();
  return *s;
}

int connectToServer() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = serverName();
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  server();
  const int fd = connectToServer();
  if (fd < 0) std::abort();
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  // Answers come back four bytes each until the server drops or finishes.
  // A server that leaves the peer hanging is caught by libFuzzer's timeout.
  char buffer[4096];
  while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
  ::close(fd);
  return 0;
}
