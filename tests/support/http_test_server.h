// A small local HTTP server for the URL tests: 127.0.0.1 on an ephemeral
// port, one thread per connection, canned answers per path. Every wait is
// tied to the server's stop event so the destructor returns promptly even
// while a client stalls or stops reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kuv::test {

struct HttpRoute {
  enum class Kind {
    Body,      // "HTTP/1.0 200 OK" and the body
    NotFound,  // "HTTP/1.0 404 Not Found"
    Redirect,  // "HTTP/1.0 302 Found" to `location`
    Icy,       // `statusLine` + icy-* header lines + blank line + body
    NoAnswer,  // reads the request and never answers
  };
  Kind kind = Kind::Body;
  std::string body;
  bool sendLength = true;  // Content-Length header (Body only)
  // Body bytes sent before the connection is closed early; -1 sends all.
  long closeAfter = -1;
  // Body bytes sent before the server goes quiet until it stops; -1 never.
  long stallAfter = -1;
  std::string statusLine = "ICY 200 OK";
  std::string location;
  // Slow delivery: the body in pieces of chunkBytes with a pause between.
  size_t chunkBytes = 0;
  int chunkDelayMs = 0;
  std::string contentType = "audio/mpeg";  // Body; empty: no Content-Type line
  std::string icyName = "x";               // Icy
  // Icy: with metaInterval > 0 an icy-metaint header, and after every
  // metaInterval bytes of the body a metadata block: every titleEvery-th
  // block names the next of `titles` (StreamTitle='...';), the others are
  // empty, as servers send them between changes.
  uint32_t metaInterval = 0;
  std::vector<std::string> titles;
  size_t titleEvery = 1;
};

class HttpTestServer {
 public:
  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // False when the socket or the threads could not be set up.
  bool ok() const { return listen_fd_ >= 0; }
  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + path (path starts with '/').
  std::string url(const std::string& path) const;

  void route(const std::string& path, const HttpRoute& answer);

  // Request header blocks received so far (request line included).
  std::vector<std::string> requests() const;
  // Bytes of body the server has handed to the kernel for all connections.
  size_t bodyBytesSent() const;

  // Ends all connections and joins every thread. Idempotent.
  void stop();

  // The body as an Icy route sends it: its metadata blocks interleaved.
  static std::string interleavedBody(const HttpRoute& r);

  // A port on 127.0.0.1 that nothing listens on.
  static uint16_t unusedPort();

 private:
  void acceptLoop();
  void serve(int fd);
  bool readRequest(int fd, std::string* head);
  bool sendAll(int fd, const char* data, size_t n);
  bool sendBody(int fd, const HttpRoute& r);
  // Waits until the server stops or the client goes away; timeoutMs < 0 is
  // forever. True when the wait ran out normally.
  bool pause(int fd, int timeoutMs);

  int listen_fd_ = -1;
  int stop_fd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  mutable std::mutex lock_;
  std::map<std::string, HttpRoute> routes_;
  std::vector<std::string> requests_;
  std::vector<std::thread> workers_;
  size_t body_sent_ = 0;
  bool stopped_ = false;
};

}  // namespace kuv::test
