// The single-instance channel. The running player listens on an abstract
// Unix socket named after its window class and the user id; a second start
// hands its command line over and other programs ask it questions.
//
// Abstract names need no file: the name vanishes with the process, so a
// crashed player never blocks the next start, and a second bind fails with
// EADDRINUSE, so two players can never both listen. Abstract names have no
// file permissions either, so the server only talks to peers running under
// its own user id (or root).
//
// Wire format (every integer little-endian):
//   request:  u32 magic      0x3156554B (the bytes "KUV1")
//             u32 kind       0 = hand-over, 1 = query
//             u32 code       hand-over step or query message (the channel does
//                            not read it; the codes are in session/message_codes.h)
//             i32 value      hand-over: text length, or entry index for
//                            HANDOVER_SELECT (-1 = select by path);
//                            query: the lParam
//             u32 textBytes  0..4095
//             then textBytes bytes of text (a path, no NUL, not terminated)
//   answer:   i32 result
// One connection carries any number of requests, each answered before the
// next is read; the server reads until the peer closes. A request must
// arrive complete within 2 seconds. A bad magic, an unknown kind, a text
// longer than 4095 bytes or containing a NUL, or a request that stops short
// closes the connection without an answer. Unknown codes of a known kind
// reach the handler (hand-overs answer 1, unused queries 0).
// The server holds up to 32 connections at once and reads them side by
// side, so a silent or slow peer delays nobody else; a 33rd drops the one
// that has waited longest for its current request. Requests still reach
// the handler one at a time.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kuv {

constexpr uint32_t kInstanceMagic = 0x3156554B;  // "KUV1"
constexpr uint32_t kKindHandOver = 0;
constexpr uint32_t kKindQuery = 1;
constexpr uint32_t kMaxTextBytes = 4095;
constexpr size_t kRequestHeaderBytes = 20;

// A request must arrive within this time; a silent peer is dropped after it.
constexpr int kRequestTimeoutMs = 2000;
// Connections the server holds at once; one more drops the one that has
// waited longest for its current request.
constexpr size_t kMaxInstanceConnections = 32;
// The receiver may show a message box while it takes a name, so a client
// waits long for an answer, but not forever.
constexpr int kAnswerTimeoutMs = 30000;
// As an answer time: wait as long as the receiver keeps the connection.
constexpr int kWaitWhileConnected = -1;
// A hand-over answer slower than this tells the user why nothing happens.
constexpr int kSlowAnswerNoteMs = 3000;
// Connecting waits this long while the server's backlog is full.
constexpr int kConnectTimeoutMs = 5000;

struct InstanceRequest {
  uint32_t kind = kKindHandOver;
  uint32_t code = 0;
  int32_t value = 0;
  std::string text;
};

// Answers one request. Called on the server thread, one request at a time
// whichever connection it came on; must return, must not throw, and must
// not call InstanceServer::close (which waits for the server thread). The
// peer gets its answer once the handler has returned.
using InstanceHandler = std::function<int32_t(const InstanceRequest&)>;

// "KuvMainWindow." + the decimal user id: the abstract name without its
// leading NUL.
std::string instanceSocketName();

class InstanceServer {
 public:
  InstanceServer() = default;
  ~InstanceServer();
  InstanceServer(const InstanceServer&) = delete;
  InstanceServer& operator=(const InstanceServer&) = delete;

  // Time a request may take to arrive; takes effect at the next listen.
  void setRequestTimeoutMs(int ms);

  // Binds the abstract name and starts the server thread. False when the
  // name is taken (another instance runs), the name is empty or longer than
  // 107 bytes, the handler is empty, this server already listens, or the
  // system refuses.
  bool listen(const std::string& name, InstanceHandler handler);
  bool isListening() const;

  // Stops the server thread and frees the name. Returns promptly unless the
  // handler is busy, whose return it waits for. Idempotent.
  void close();

 private:
  void run();
  bool peerAllowed(int fd) const;

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int requestTimeoutMs_ = kRequestTimeoutMs;
  uid_t ownUid_ = 0;
  std::atomic<bool> stopping_{false};
  InstanceHandler handler_;
  std::thread thread_;
};

class InstanceClient {
 public:
  InstanceClient() = default;
  ~InstanceClient();
  InstanceClient(const InstanceClient&) = delete;
  InstanceClient& operator=(const InstanceClient&) = delete;

  // Time to wait for each answer (kAnswerTimeoutMs by default), or
  // kWaitWhileConnected.
  void setAnswerTimeoutMs(int ms);
  // Called once, on the calling thread, when an answer takes longer than
  // afterMs.
  void setSlowAnswerNote(int afterMs, std::function<void()> note);

  // False when nobody listens on the name (or the system refuses).
  bool connect(const std::string& name);
  bool isConnected() const;

  // Sends one request and waits for its answer. False when not connected,
  // when the text is longer than kMaxTextBytes or holds a NUL (nothing is
  // sent then), or when the exchange fails; a failed exchange closes the
  // connection, since the stream can no longer be trusted to be in step.
  bool request(const InstanceRequest& r, int32_t& result);
  void close();

 private:
  int fd_ = -1;
  int answerTimeoutMs_ = kAnswerTimeoutMs;
  int slowAfterMs_ = 0;
  std::function<void()> slowNote_;
};

enum class HandOverResult {
  kTaken,       // every step was answered as taken
  kNoInstance,  // nobody listens: the caller may run on its own
  kNotTaken,    // the running instance could not take them, or went away
};

// What a second start does: on one connection HANDOVER_CLEAR, HANDOVER_ADD
// per argument (value = its length), HANDOVER_START, each answered before
// the next; with no arguments, HANDOVER_RAISE alone. Arguments are sent as
// given, so the caller makes relative paths absolute first. An argument
// longer than kMaxTextBytes (or holding a NUL) is skipped, not cut: the
// result is still kTaken, and *error holds a line naming it. Once connected
// it waits as long as the receiver keeps the connection (an error box may
// hold it up; slowNote, when set, is called once after kSlowAnswerNoteMs),
// and never reports kNoInstance: a second start that reached the running
// instance must not open a window of its own. An answer of 0 means not
// taken. Otherwise *error says why. Lines in *error carry no program-name
// prefix and are joined by '\n' without a final one; it is empty when all
// went well.
HandOverResult handOverArguments(const std::string& name, const std::vector<std::string>& args, std::string* error,
                                 const std::function<void()>& slowNote = {});

}  // namespace kuv
