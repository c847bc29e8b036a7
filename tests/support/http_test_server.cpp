#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace kuv::test {

namespace {

constexpr size_t kMaxRequestBytes = 65536;

int makeLoopbackSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int yes = 1;
  (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint16_t boundPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool stopSignalled(const pollfd& stop) { return (stop.revents & POLLIN) != 0; }

}  // namespace

HttpTestServer::HttpTestServer() {
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  int fd = makeLoopbackSocket();
  if (stop_fd_ < 0 || fd < 0 || ::listen(fd, 16) != 0) {
    if (fd >= 0) ::close(fd);
    return;
  }
  port_ = boundPort(fd);
  listen_fd_ = fd;
  try {
    acceptor_ = std::thread(&HttpTestServer::acceptLoop, this);
  } catch (const std::system_error&) {
    ::close(listen_fd_);
    listen_fd_ = -1;
  }
}

HttpTestServer::~HttpTestServer() {
  stop();
  if (stop_fd_ >= 0) ::close(stop_fd_);
}

std::string HttpTestServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpTestServer::route(const std::string& path, const HttpRoute& answer) {
  std::lock_guard<std::mutex> guard(lock_);
  routes_[path] = answer;
}

std::vector<std::string> HttpTestServer::requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

size_t HttpTestServer::bodyBytesSent() const {
  std::lock_guard<std::mutex> guard(lock_);
  return body_sent_;
}

void HttpTestServer::stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopped_) return;
    stopped_ = true;
  }
  if (stop_fd_ >= 0) {
    uint64_t one = 1;
    // The event stays readable for good, so every later wait ends at once.
    (void)!::write(stop_fd_, &one, sizeof one);
  }
  if (acceptor_.joinable()) acceptor_.join();
  // The acceptor has ended, so no worker is added from here on.
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    listen_fd_ = -1;
  }
}

std::string HttpTestServer::interleavedBody(const HttpRoute& r) {
  if (r.metaInterval == 0) return r.body;
  std::string out;
  size_t next = 0;  // the next title to send
  size_t block = 0;
  for (size_t at = 0; at < r.body.size(); at += r.metaInterval, ++block) {
    const size_t n = std::min<size_t>(r.metaInterval, r.body.size() - at);
    out.append(r.body, at, n);
    if (n < r.metaInterval) break;
    std::string meta;
    if (block % std::max<size_t>(r.titleEvery, 1) == 0 && next < r.titles.size())
      meta = "StreamTitle='" + r.titles[next++] + "';StreamUrl='';";
    const size_t blocks16 = std::min<size_t>((meta.size() + 15) / 16, 255);
    meta.resize(blocks16 * 16, '\0');
    out += static_cast<char>(blocks16);
    out += meta;
  }
  return out;
}

uint16_t HttpTestServer::unusedPort() {
  int fd = makeLoopbackSocket();
  if (fd < 0) return 0;
  uint16_t port = boundPort(fd);
  ::close(fd);
  return port;
}

void HttpTestServer::acceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (stopSignalled(fds[1])) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) continue;
    std::lock_guard<std::mutex> guard(lock_);
    try {
      workers_.emplace_back(&HttpTestServer::serve, this, client);
    } catch (const std::system_error&) {
      ::close(client);
    }
  }
}

bool HttpTestServer::pause(int fd, int timeoutMs) {
  pollfd fds[2] = {{fd, POLLRDHUP, 0}, {stop_fd_, POLLIN, 0}};
  for (;;) {
    int n = ::poll(fds, 2, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return true;
    return false;  // stopping, the client has gone, or poll failed
  }
}

bool HttpTestServer::readRequest(int fd, std::string* head) {
  char buffer[4096];
  while (head->find("\r\n\r\n") == std::string::npos) {
    if (head->size() > kMaxRequestBytes) return false;
    ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got > 0) {
      head->append(buffer, static_cast<size_t>(got));
      continue;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (stopSignalled(fds[1])) return false;
  }
  head->resize(head->find("\r\n\r\n") + 4);
  return true;
}

bool HttpTestServer::sendAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t put = ::send(fd, data, n, MSG_NOSIGNAL);
    if (put > 0) {
      data += put;
      n -= static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {stop_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (stopSignalled(fds[1])) return false;
  }
  return true;
}

bool HttpTestServer::sendBody(int fd, const HttpRoute& r) {
  size_t total = r.body.size();
  if (r.closeAfter >= 0) total = std::min(total, static_cast<size_t>(r.closeAfter));
  if (r.stallAfter >= 0) total = std::min(total, static_cast<size_t>(r.stallAfter));
  size_t piece = r.chunkBytes > 0 ? r.chunkBytes : total;
  for (size_t at = 0; at < total;) {
    size_t n = std::min(piece, total - at);
    if (!sendAll(fd, r.body.data() + at, n)) return false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      body_sent_ += n;
    }
    at += n;
    if (at < total && r.chunkDelayMs > 0 && !pause(fd, r.chunkDelayMs)) return false;
  }
  if (r.stallAfter >= 0 && r.closeAfter < 0) pause(fd, -1);
  return true;
}

void HttpTestServer::serve(int fd) {
  std::string head;
  if (!readRequest(fd, &head)) {
    ::close(fd);
    return;
  }
  std::string path;
  size_t start = head.find(' ');
  if (start != std::string::npos) {
    size_t end = head.find(' ', start + 1);
    if (end != std::string::npos) path = head.substr(start + 1, end - start - 1);
  }
  HttpRoute answer;
  answer.kind = HttpRoute::Kind::NotFound;
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(head);
    auto found = routes_.find(path);
    if (found != routes_.end()) answer = found->second;
  }

  std::string reply;
  bool withBody = false;
  switch (answer.kind) {
    case HttpRoute::Kind::Body:
      reply = "HTTP/1.0 200 OK\r\n";
      if (!answer.contentType.empty()) reply += "Content-Type: " + answer.contentType + "\r\n";
      if (answer.sendLength) reply += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
      reply += "\r\n";
      withBody = true;
      break;
    case HttpRoute::Kind::NotFound:
      reply =
          "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 22\r\n\r\n<h1>Not Found</h1>\r\n\r\n";
      break;
    case HttpRoute::Kind::Redirect:
      reply = "HTTP/1.0 302 Found\r\nLocation: " + answer.location + "\r\nContent-Length: 0\r\n\r\n";
      break;
    case HttpRoute::Kind::Icy:
      reply = answer.statusLine + "\r\nicy-notice1: This stream is for tests\r\nicy-name: " + answer.icyName +
              "\r\nicy-genre: Test\r\nicy-pub: 0\r\nicy-br: 128\r\ncontent-type: audio/mpeg\r\n";
      if (answer.metaInterval > 0) {
        reply += "Icy-MetaInt: " + std::to_string(answer.metaInterval) + "\r\n";
        answer.body = interleavedBody(answer);
      }
      reply += "\r\n";
      withBody = true;
      break;
    case HttpRoute::Kind::NoAnswer:
      pause(fd, -1);
      ::close(fd);
      return;
  }
  if (sendAll(fd, reply.data(), reply.size()) && withBody) sendBody(fd, answer);
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
}

}  // namespace kuv::test
