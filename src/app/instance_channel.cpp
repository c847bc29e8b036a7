#include "app/instance_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <system_error>

// Only the hand-over sequence below reads a code.
#include "session/message_codes.h"

namespace kuv {

namespace {

using Clock = std::chrono::steady_clock;

bool makeAddress(const std::string& name, sockaddr_un& address, socklen_t& length) {
  if (name.empty() || name.size() > sizeof(address.sun_path) - 1) return false;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  address.sun_path[0] = '\0';  // abstract namespace
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return true;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void putU32(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
  at[2] = static_cast<unsigned char>(value >> 16);
  at[3] = static_cast<unsigned char>(value >> 24);
}

uint32_t getU32(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) | (static_cast<uint32_t>(at[2]) << 16) |
         (static_cast<uint32_t>(at[3]) << 24);
}

// Waits until fd is ready for `events`. False on timeout, on a poll error, or
// when stopFd (if >= 0) becomes readable.
bool waitReady(int fd, short events, int stopFd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    // In slices: a deadline may lie further off than poll can count.
    const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, static_cast<int>(std::min<int64_t>(left, 60000)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) continue;  // the loop re-checks the deadline
    if (stopFd >= 0 && fds[1].revents != 0) return false;
    // POLLHUP / POLLERR count as ready: the next recv or send reports them.
    if (fds[0].revents != 0) return true;
  }
}

enum class ReadResult { Complete, ClosedBeforeFirstByte, Failed };

ReadResult readExact(int fd, unsigned char* buffer, size_t size, int stopFd, Clock::time_point deadline) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::recv(fd, buffer + got, size - got, MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return got == 0 ? ReadResult::ClosedBeforeFirstByte : ReadResult::Failed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return ReadResult::Failed;
    if (!waitReady(fd, POLLIN, stopFd, deadline)) return ReadResult::Failed;
  }
  return ReadResult::Complete;
}

// MSG_NOSIGNAL: a peer that has gone must not raise SIGPIPE in our process.
bool writeAll(int fd, const unsigned char* data, size_t size, int stopFd, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!waitReady(fd, POLLOUT, stopFd, deadline)) return false;
  }
  return true;
}

Clock::time_point after(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

bool textAcceptable(const std::string& text) {
  return text.size() <= kMaxTextBytes && text.find('\0') == std::string::npos;
}

}  // namespace

std::string instanceSocketName() { return "KuvMainWindow." + std::to_string(getuid()); }

// ---------------------------------------------------------------------------
// Server

InstanceServer::~InstanceServer() { close(); }

void InstanceServer::setRequestTimeoutMs(int ms) { requestTimeoutMs_ = ms > 0 ? ms : kRequestTimeoutMs; }

bool InstanceServer::isListening() const { return thread_.joinable(); }

bool InstanceServer::listen(const std::string& name, InstanceHandler handler) {
  if (thread_.joinable() || !handler) return false;
  sockaddr_un address;
  socklen_t length = 0;
  if (!makeAddress(name, address, length)) return false;

  // Non-blocking, so a peer that vanishes between poll and accept cannot
  // stall the loop in accept.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 16) != 0) {
    closeFd(fd);
    return false;
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    closeFd(fd);
    return false;
  }
  listenFd_ = fd;
  wakeFds_[0] = wake[0];
  wakeFds_[1] = wake[1];
  ownUid_ = geteuid();
  stopping_.store(false);
  handler_ = std::move(handler);
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    closeFd(listenFd_);
    closeFd(wakeFds_[0]);
    closeFd(wakeFds_[1]);
    handler_ = nullptr;
    return false;
  }
  return true;
}

void InstanceServer::close() {
  if (thread_.joinable()) {
    stopping_.store(true);
    // The pipe stays readable from now on, so every wait in the server
    // thread ends at once.
    const char byte = 1;
    ssize_t ignored = ::write(wakeFds_[1], &byte, 1);
    (void)ignored;
    thread_.join();
  }
  closeFd(listenFd_);
  closeFd(wakeFds_[0]);
  closeFd(wakeFds_[1]);
  handler_ = nullptr;
}

namespace {

// One accepted peer. It is either reading its current request or, once the
// handler has answered, sending that answer; the deadline covers either.
struct Connection {
  int fd = -1;
  Clock::time_point deadline;
  size_t got = 0;                     // bytes of the current request so far
  size_t need = kRequestHeaderBytes;  // grows by the text length once the header is in
  size_t answerLeft = 0;              // answer bytes not yet sent
  unsigned char answer[4] = {};
  std::array<unsigned char, kRequestHeaderBytes + kMaxTextBytes> bytes{};
};

enum class Progress { Waiting, Complete, Drop };

// Reads what has arrived of the current request, never past its end: the
// next request stays in the socket until this one has been answered.
Progress readRequest(Connection& c) {
  while (c.got < c.need) {
    const ssize_t n = ::recv(c.fd, c.bytes.data() + c.got, c.need - c.got, MSG_DONTWAIT);
    if (n == 0) return Progress::Drop;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? Progress::Waiting : Progress::Drop;
    }
    c.got += static_cast<size_t>(n);
    if (c.got == kRequestHeaderBytes && c.need == kRequestHeaderBytes) {
      const uint32_t magic = getU32(c.bytes.data());
      const uint32_t kind = getU32(c.bytes.data() + 4);
      const uint32_t textBytes = getU32(c.bytes.data() + 16);
      if (magic != kInstanceMagic || kind > kKindQuery || textBytes > kMaxTextBytes) return Progress::Drop;
      c.need += textBytes;
    }
  }
  if (std::memchr(c.bytes.data() + kRequestHeaderBytes, 0, c.need - kRequestHeaderBytes)) return Progress::Drop;
  return Progress::Complete;
}

InstanceRequest decodeRequest(const Connection& c) {
  InstanceRequest request;
  request.kind = getU32(c.bytes.data() + 4);
  request.code = getU32(c.bytes.data() + 8);
  request.value = static_cast<int32_t>(getU32(c.bytes.data() + 12));
  const char* text = reinterpret_cast<const char*>(c.bytes.data()) + kRequestHeaderBytes;
  request.text.assign(text, c.need - kRequestHeaderBytes);
  return request;
}

// MSG_NOSIGNAL: a peer that has gone must not raise SIGPIPE in our process.
Progress sendAnswer(Connection& c) {
  while (c.answerLeft > 0) {
    const ssize_t n =
        ::send(c.fd, c.answer + sizeof c.answer - c.answerLeft, c.answerLeft, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.answerLeft -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Progress::Waiting;
    return Progress::Drop;
  }
  return Progress::Complete;
}

int msUntil(Clock::time_point when) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
  // Rounded up, so the wait does not end just short of the deadline and spin.
  return static_cast<int>(std::clamp<long long>(left + 1, 0, 24 * 3600 * 1000));
}

}  // namespace

// One thread serves every connection, so a silent or slow peer holds only
// its own place. Requests still run one at a time, each answered before
// its connection's next one is read.
void InstanceServer::run() {
  pthread_setname_np(pthread_self(), "kuv-instance");
  std::vector<Connection> connections;
  connections.reserve(kMaxInstanceConnections + 1);
  std::vector<pollfd> fds;
  const auto requestTime = std::chrono::milliseconds(requestTimeoutMs_);

  // Moves c on as far as its bytes allow; false when it is to be dropped.
  auto advance = [&](Connection& c) {
    if (c.answerLeft == 0) {
      const Progress read = readRequest(c);
      if (read != Progress::Complete) return read == Progress::Waiting;
      if (stopping_.load()) return false;
      putU32(c.answer, static_cast<uint32_t>(handler_(decodeRequest(c))));
      c.answerLeft = sizeof c.answer;
      c.got = 0;
      c.need = kRequestHeaderBytes;
      // A peer that does not read its answers is dropped like a silent one.
      c.deadline = Clock::now() + requestTime;
    }
    const Progress sent = sendAnswer(c);
    if (sent == Progress::Complete) c.deadline = Clock::now() + requestTime;
    return sent != Progress::Drop;
  };

  while (!stopping_.load()) {
    fds.clear();
    fds.push_back({wakeFds_[0], POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    Clock::time_point soonest = Clock::time_point::max();
    for (const Connection& c : connections) {
      fds.push_back({c.fd, static_cast<short>(c.answerLeft > 0 ? POLLOUT : POLLIN), 0});
      soonest = std::min(soonest, c.deadline);
    }
    const int n = ::poll(fds.data(), fds.size(), connections.empty() ? -1 : msUntil(soonest));
    if (n < 0 && errno != EINTR) {
      // Out of memory for the moment: pause rather than spin or give up.
      pollfd wake = {wakeFds_[0], POLLIN, 0};
      ::poll(&wake, 1, 100);
      continue;
    }
    if (n < 0) continue;
    if (fds[0].revents != 0 || stopping_.load()) break;

    // A peer past its deadline gets one last read first: its bytes may have
    // arrived in time while the handler held this thread for another peer.
    for (size_t i = 0; i < connections.size() && !stopping_.load(); ++i) {
      Connection& c = connections[i];
      const bool due = Clock::now() >= c.deadline;
      if (fds[i + 2].revents == 0 && !due) continue;
      if (!advance(c) || Clock::now() >= c.deadline) closeFd(c.fd);
    }
    connections.erase(
        std::remove_if(connections.begin(), connections.end(), [](const Connection& c) { return c.fd < 0; }),
        connections.end());
    if (stopping_.load()) break;

    if (fds[1].revents == 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The pending peer stays queued and keeps the socket readable; pause
        // rather than spin until descriptors or memory free up.
        pollfd wake = {wakeFds_[0], POLLIN, 0};
        ::poll(&wake, 1, 100);
      }
      continue;
    }
    if (!peerAllowed(fd)) {
      ::close(fd);
      continue;
    }
    if (connections.size() >= kMaxInstanceConnections) {
      // Full: the peer that has waited longest for its current request goes.
      auto oldest = std::min_element(connections.begin(), connections.end(),
                                     [](const Connection& a, const Connection& b) { return a.deadline < b.deadline; });
      ::close(oldest->fd);
      connections.erase(oldest);
    }
    Connection& added = connections.emplace_back();
    added.fd = fd;
    added.deadline = Clock::now() + requestTime;
  }
  for (Connection& c : connections) closeFd(c.fd);
}

bool InstanceServer::peerAllowed(int fd) const {
  ucred credentials;
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) return false;
  return credentials.uid == ownUid_ || credentials.uid == 0;
}

// ---------------------------------------------------------------------------
// Client

InstanceClient::~InstanceClient() { close(); }

void InstanceClient::setAnswerTimeoutMs(int ms) {
  answerTimeoutMs_ = ms > 0 || ms == kWaitWhileConnected ? ms : kAnswerTimeoutMs;
}

void InstanceClient::setSlowAnswerNote(int afterMs, std::function<void()> note) {
  slowAfterMs_ = afterMs;
  slowNote_ = std::move(note);
}

bool InstanceClient::isConnected() const { return fd_ >= 0; }

void InstanceClient::close() { closeFd(fd_); }

bool InstanceClient::connect(const std::string& name) {
  close();
  sockaddr_un address;
  socklen_t length = 0;
  if (!makeAddress(name, address, length)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  // A non-blocking connect on a Unix socket either completes at once or
  // reports EAGAIN while the server's backlog is full; retry for a while.
  const Clock::time_point deadline = after(kConnectTimeoutMs);
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) break;
    if (errno == EINTR) continue;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || Clock::now() >= deadline) {
      closeFd(fd);
      return false;
    }
    ::poll(nullptr, 0, 20);
  }
  fd_ = fd;
  return true;
}

bool InstanceClient::request(const InstanceRequest& r, int32_t& result) {
  if (fd_ < 0) return false;
  if (!textAcceptable(r.text)) return false;
  unsigned char message[kRequestHeaderBytes + kMaxTextBytes];
  putU32(message, kInstanceMagic);
  putU32(message + 4, r.kind);
  putU32(message + 8, r.code);
  putU32(message + 12, static_cast<uint32_t>(r.value));
  putU32(message + 16, static_cast<uint32_t>(r.text.size()));
  std::memcpy(message + kRequestHeaderBytes, r.text.data(), r.text.size());
  const Clock::time_point deadline =
      answerTimeoutMs_ == kWaitWhileConnected ? Clock::time_point::max() : after(answerTimeoutMs_);
  unsigned char answer[4];
  bool sent = writeAll(fd_, message, kRequestHeaderBytes + r.text.size(), -1, deadline);
  if (sent && slowNote_) {
    const Clock::time_point noteAt = std::min(deadline, after(slowAfterMs_));
    if (!waitReady(fd_, POLLIN, -1, noteAt) && noteAt < deadline) {
      slowNote_();
      slowNote_ = nullptr;
    }
  }
  if (!sent || readExact(fd_, answer, sizeof answer, -1, deadline) != ReadResult::Complete) {
    close();
    return false;
  }
  result = static_cast<int32_t>(getU32(answer));
  return true;
}

HandOverResult handOverArguments(const std::string& name, const std::vector<std::string>& args, std::string* error,
                                 const std::function<void()>& slowNote) {
  std::string notes;
  InstanceClient client;
  if (!client.connect(name)) {
    if (error) *error = "no running instance to take the arguments";
    return HandOverResult::kNoInstance;
  }
  client.setAnswerTimeoutMs(kWaitWhileConnected);
  if (slowNote) client.setSlowAnswerNote(kSlowAnswerNoteMs, slowNote);
  auto step = [&client](int32_t code, int32_t value, const std::string& text) {
    InstanceRequest request;
    request.kind = kKindHandOver;
    request.code = static_cast<uint32_t>(code);
    request.value = value;
    request.text = text;
    int32_t taken = 0;
    return client.request(request, taken) && taken != 0;
  };
  bool ok = args.empty() ? step(HANDOVER_RAISE, 0, std::string()) : step(HANDOVER_CLEAR, 0, std::string());
  for (size_t i = 0; ok && i < args.size(); ++i) {
    const std::string& argument = args[i];
    if (!textAcceptable(argument)) {
      const bool tooLong = argument.size() > kMaxTextBytes;
      const std::string shown = argument.substr(0, std::min<size_t>(argument.find('\0'), 60));
      if (!notes.empty()) notes += '\n';
      notes += "skipped an argument ";
      notes += tooLong ? "longer than 4095 bytes: " : "holding a NUL byte: ";
      notes += shown + (shown.size() < argument.size() ? "..." : "");
      continue;
    }
    ok = step(HANDOVER_ADD, static_cast<int32_t>(argument.size()), argument);
  }
  if (ok && !args.empty()) ok = step(HANDOVER_START, 0, std::string());
  if (!ok) {
    if (error) *error = notes + (notes.empty() ? "" : "\n") + "the running instance did not take the arguments";
    return HandOverResult::kNotTaken;
  }
  if (error) *error = notes;
  return HandOverResult::kTaken;
}

}  // namespace kuv
