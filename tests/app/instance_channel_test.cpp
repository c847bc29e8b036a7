#include "app/instance_channel.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <thread>

#include "session/message_codes.h"
#include "support/byte_patterns.h"

namespace kuv {
namespace {

using test::littleEndianBytes;

// Private names, so a test never talks to a real player.
std::string uniqueName() {
  static std::atomic<int> counter{0};
  return "KuvTest.channel." + std::to_string(getpid()) + "." + std::to_string(counter++);
}

// Keeps every request the server passes on; answers with `answer` or, by
// default, 1.
struct Recorder {
  std::mutex lock;
  std::vector<InstanceRequest> requests;
  std::function<int32_t(const InstanceRequest&)> answer;

  InstanceHandler handler() {
    return [this](const InstanceRequest& request) {
      {
        std::lock_guard<std::mutex> guard(lock);
        requests.push_back(request);
      }
      return answer ? answer(request) : 1;
    };
  }
  std::vector<InstanceRequest> seen() {
    std::lock_guard<std::mutex> guard(lock);
    return requests;
  }
};

std::string encode(uint32_t magic, uint32_t kind, uint32_t code, int32_t value, uint32_t textBytes,
                   const std::string& text) {
  std::string bytes;
  bytes += littleEndianBytes(magic);
  bytes += littleEndianBytes(kind);
  bytes += littleEndianBytes(code);
  bytes += littleEndianBytes(static_cast<uint32_t>(value));
  bytes += littleEndianBytes(textBytes);
  return bytes + text;
}

sockaddr_un addressOf(const std::string& name, socklen_t& length) {
  sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

// A peer that speaks raw bytes. Waits at most 20 seconds while the server's
// backlog is full, so a server that stops accepting fails a test rather
// than hanging it.
int rawConnect(const std::string& name) {
  socklen_t length = 0;
  const sockaddr_un address = addressOf(name, length);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    if ((errno != EAGAIN && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
      ::close(fd);
      return -1;
    }
    ::poll(nullptr, 0, 10);
  }
  ::fcntl(fd, F_SETFL, 0);
  return fd;
}

bool sendRaw(int fd, const std::string& bytes) {
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// True once the server has closed its side (EOF, or reset) with no answer
// bytes first. Gives up after a minute so a broken server fails the test
// rather than hanging it.
bool closedWithoutAnswer(int fd) {
  pollfd p = {fd, POLLIN, 0};
  if (::poll(&p, 1, 60000) != 1) return false;
  char byte;
  const ssize_t n = ::recv(fd, &byte, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

// A listening socket that is not an InstanceServer, for misbehaving receivers.
int rawListen(const std::string& name) {
  socklen_t length = 0;
  const sockaddr_un address = addressOf(name, length);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

InstanceRequest query(uint32_t message, int32_t lParam) {
  InstanceRequest r;
  r.kind = kKindQuery;
  r.code = message;
  r.value = lParam;
  return r;
}

InstanceRequest handOver(int32_t code, int32_t value, const std::string& text = std::string()) {
  InstanceRequest r;
  r.kind = kKindHandOver;
  r.code = static_cast<uint32_t>(code);
  r.value = value;
  r.text = text;
  return r;
}

TEST(InstanceChannel, SocketNameIsTheWindowClassAndTheUserId) {
  EXPECT_EQ(instanceSocketName(), "KuvMainWindow." + std::to_string(getuid()));
}

TEST(InstanceChannel, HandOverArrivesInOrderWithTextsIntact) {
  Recorder recorder;
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  const std::string longest(kMaxTextBytes, 'x');
  const std::vector<std::string> args = {"/music/with spaces/01 - intro.mp3", "/música/日本語/🎵.mp2", longest,
                                         "http://radio.example/stream?a=1&b=2"};
  std::string error = "stale";
  ASSERT_EQ(handOverArguments(name, args, &error), HandOverResult::kTaken);
  EXPECT_EQ(error, "");

  const std::vector<InstanceRequest> seen = recorder.seen();
  ASSERT_EQ(seen.size(), args.size() + 2);
  EXPECT_EQ(seen.front().code, static_cast<uint32_t>(HANDOVER_CLEAR));
  for (size_t i = 0; i < args.size(); ++i) {
    const InstanceRequest& add = seen[i + 1];
    EXPECT_EQ(add.kind, kKindHandOver);
    EXPECT_EQ(add.code, static_cast<uint32_t>(HANDOVER_ADD));
    EXPECT_EQ(add.text, args[i]);
    EXPECT_EQ(add.value, static_cast<int32_t>(args[i].size()));
  }
  EXPECT_EQ(seen.back().code, static_cast<uint32_t>(HANDOVER_START));
  EXPECT_EQ(seen.back().text, "");
}

// A second start that reached the running player never goes its own way:
// it waits for a busy receiver (telling the user once), stops at a step
// that is refused, and with nothing to hand over only asks for the window.
TEST(InstanceChannel, HandOverWaitsForABusyReceiverAndReportsARefusal) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    uint32_t refusedCode;  // answered 0; anything else answers 1
    bool busyAtFirst;      // the first step is held until the slow note
    HandOverResult expected;
    std::vector<uint32_t> codesSeen;
  };
  const std::vector<Case> cases = {
      {"nothing to play raises the window", {}, 99, false, HandOverResult::kTaken, {HANDOVER_RAISE}},
      {"all taken", {"/a.mp3"}, 99, false, HandOverResult::kTaken, {HANDOVER_CLEAR, HANDOVER_ADD, HANDOVER_START}},
      {"a refused name ends it",
       {"/a.mp3", "/b.mp3"},
       HANDOVER_ADD,
       false,
       HandOverResult::kNotTaken,
       {HANDOVER_CLEAR, HANDOVER_ADD}},
      {"a refused start",
       {"/a.mp3"},
       HANDOVER_START,
       false,
       HandOverResult::kNotTaken,
       {HANDOVER_CLEAR, HANDOVER_ADD, HANDOVER_START}},
      {"a busy receiver is waited for",
       {"/a.mp3"},
       99,
       true,
       HandOverResult::kTaken,
       {HANDOVER_CLEAR, HANDOVER_ADD, HANDOVER_START}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::mutex lock;
    std::condition_variable changed;
    bool released = !c.busyAtFirst;
    Recorder recorder;
    recorder.answer = [&](const InstanceRequest& request) {
      std::unique_lock<std::mutex> guard(lock);
      changed.wait(guard, [&] { return released; });
      return request.code == c.refusedCode ? 0 : 1;
    };
    InstanceServer server;
    const std::string name = uniqueName();
    ASSERT_TRUE(server.listen(name, recorder.handler()));
    int notes = 0;
    std::string error;
    const HandOverResult result = handOverArguments(name, c.args, &error, [&] {
      ++notes;
      std::lock_guard<std::mutex> guard(lock);
      released = true;
      changed.notify_all();
    });
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(notes, c.busyAtFirst ? 1 : 0);
    EXPECT_EQ(error, result == HandOverResult::kTaken ? "" : "the running instance did not take the arguments");
    std::vector<uint32_t> codes;
    for (const InstanceRequest& r : recorder.seen()) codes.push_back(r.code);
    EXPECT_EQ(codes, c.codesSeen);
  }
}

TEST(InstanceChannel, HandOverSkipsAnArgumentTooLongToSendAndSaysSo) {
  Recorder recorder;
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  const std::string tooLong = "/deep/" + std::string(kMaxTextBytes, 'y');
  std::string error;
  ASSERT_EQ(handOverArguments(name, {"/a.mp3", tooLong, std::string("nul\0byte", 8), "/b.mp3"}, &error),
            HandOverResult::kTaken);
  EXPECT_NE(error.find("longer than 4095 bytes: /deep/yyy"), std::string::npos) << error;
  EXPECT_NE(error.find("NUL byte: nul"), std::string::npos) << error;
  EXPECT_LT(error.size(), 300u) << "the note shows the start of the argument, not all of it";

  const std::vector<InstanceRequest> seen = recorder.seen();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[1].text, "/a.mp3");
  EXPECT_EQ(seen[2].text, "/b.mp3");
  EXPECT_EQ(seen[3].code, static_cast<uint32_t>(HANDOVER_START));
}

TEST(InstanceChannel, EachRequestGetsItsOwnAnswer) {
  Recorder recorder;
  recorder.answer = [](const InstanceRequest& r) {
    if (r.kind == kKindHandOver) return 1;
    return static_cast<int32_t>(r.code - 0x8700) * 1000 + r.value;
  };
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  InstanceClient client;
  ASSERT_TRUE(client.connect(name));
  int32_t result = 0;
  ASSERT_TRUE(client.request(query(MW_GET_VOLUME, 0), result));
  EXPECT_EQ(result, 3000);
  ASSERT_TRUE(client.request(query(MW_SET_VOLUME, -7), result));
  EXPECT_EQ(result, 4000 - 7);
  ASSERT_TRUE(client.request(query(MW_SEEK_MS, 2147480000), result));
  EXPECT_EQ(result, static_cast<int32_t>(0x11 * 1000 + 2147480000u));
  ASSERT_TRUE(client.request(handOver(HANDOVER_SELECT, -1, "/x/y.mp3"), result));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(client.request(handOver(HANDOVER_SELECT, 5), result));
  ASSERT_TRUE(client.request(handOver(HANDOVER_REPLACE_AND_PLAY, 4, "/z z"), result));
  ASSERT_TRUE(client.request(handOver(77, 0), result)) << "unknown codes still get an answer";
  EXPECT_EQ(result, 1);

  const std::vector<InstanceRequest> seen = recorder.seen();
  ASSERT_EQ(seen.size(), 7u);
  EXPECT_EQ(seen[1].value, -7);
  EXPECT_EQ(seen[3].value, -1);
  EXPECT_EQ(seen[3].text, "/x/y.mp3");
  EXPECT_EQ(seen[4].value, 5);
  EXPECT_EQ(seen[5].code, static_cast<uint32_t>(HANDOVER_REPLACE_AND_PLAY));
  EXPECT_EQ(seen[5].text, "/z z");
  EXPECT_EQ(seen[6].code, 77u);
}

TEST(InstanceChannel, ClientsAtTheSameTimeAreAllAnswered) {
  Recorder recorder;
  recorder.answer = [](const InstanceRequest& r) { return r.value * 2; };
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  constexpr int kClients = 6;
  constexpr int kRequests = 25;
  std::atomic<int> correct{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      InstanceClient client;
      if (!client.connect(name)) return;
      for (int i = 0; i < kRequests; ++i) {
        int32_t result = 0;
        const int32_t value = c * 1000 + i;
        if (client.request(query(MW_SEEK_FRAME, value), result) && result == value * 2) ++correct;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(correct.load(), kClients * kRequests);
  EXPECT_EQ(recorder.seen().size(), static_cast<size_t>(kClients * kRequests));
}

TEST(InstanceChannel, OnlyOneServerListensOnAName) {
  Recorder recorder;
  const std::string name = uniqueName();
  InstanceServer first;
  ASSERT_TRUE(first.listen(name, recorder.handler()));
  InstanceServer second;
  EXPECT_FALSE(second.listen(name, recorder.handler()));
  EXPECT_FALSE(second.isListening());
  EXPECT_FALSE(first.listen(uniqueName(), recorder.handler())) << "a listening server does not listen twice";

  first.close();
  EXPECT_FALSE(first.isListening());
  ASSERT_TRUE(second.listen(name, recorder.handler()));
  int32_t result = 0;
  InstanceClient client;
  ASSERT_TRUE(client.connect(name));
  EXPECT_TRUE(client.request(query(MW_GET_STATE, 0), result));

  second.close();
  second.close();  // idempotent
  ASSERT_TRUE(first.listen(name, recorder.handler())) << "a closed server listens again";
}

// The child listens, tells the parent, and dies without closing anything.
void nameIsFreedWhenTheListenerDies(bool abortInsteadOfExit) {
  const std::string name = uniqueName();
  int ready[2];
  int go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    static InstanceServer server;  // never destroyed: the process just ends
    const char status = server.listen(name, [](const InstanceRequest&) { return 1; }) ? 'y' : 'n';
    if (::write(ready[1], &status, 1) != 1) ::_exit(3);
    char byte;
    if (::read(go[0], &byte, 1) != 1) ::_exit(4);
    if (abortInsteadOfExit) ::abort();
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(go[0]);
  char status = 0;
  ASSERT_EQ(::read(ready[0], &status, 1), 1);
  ASSERT_EQ(status, 'y');

  Recorder recorder;
  InstanceServer server;
  EXPECT_FALSE(server.listen(name, recorder.handler())) << "the child's server still holds the name";
  InstanceClient probe;
  EXPECT_TRUE(probe.connect(name));
  probe.close();

  ASSERT_EQ(::write(go[1], "x", 1), 1);
  int childStatus = 0;
  ASSERT_EQ(::waitpid(child, &childStatus, 0), child);
  if (abortInsteadOfExit) {
    EXPECT_TRUE(WIFSIGNALED(childStatus));
  } else {
    EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0);
  }
  ::close(ready[0]);
  ::close(go[1]);

  EXPECT_FALSE(probe.connect(name)) << "nobody listens once the child is gone";
  ASSERT_TRUE(server.listen(name, recorder.handler()));
  InstanceClient client;
  ASSERT_TRUE(client.connect(name));
  int32_t result = 0;
  EXPECT_TRUE(client.request(query(MW_GET_STATE, 0), result));
}

TEST(InstanceChannel, TheNameIsFreeAfterTheListeningProcessExits) { nameIsFreedWhenTheListenerDies(false); }

TEST(InstanceChannel, TheNameIsFreeAfterTheListeningProcessCrashes) { nameIsFreedWhenTheListenerDies(true); }

TEST(InstanceChannel, MalformedRequestsNeverReachTheHandler) {
  Recorder recorder;
  recorder.answer = [](const InstanceRequest&) { return 42; };
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"bad magic", encode(0x3256554B, kKindQuery, MW_GET_VOLUME, 0, 0, "")},
      {"unknown kind", encode(kInstanceMagic, 2, MW_GET_VOLUME, 0, 0, "")},
      {"huge kind", encode(kInstanceMagic, 0xFFFFFFFF, 0, 0, 0, "")},
      {"text one byte too long",
       encode(kInstanceMagic, kKindHandOver, HANDOVER_ADD, 4096, 4096, std::string(4096, 'a'))},
      {"text length near 4 GiB", encode(kInstanceMagic, kKindHandOver, HANDOVER_ADD, 0, 0xFFFFFFF0, "abc")},
      {"NUL inside the text", encode(kInstanceMagic, kKindHandOver, HANDOVER_ADD, 3, 3, std::string("a\0b", 3))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = rawConnect(name);
    ASSERT_GE(fd, 0);
    // The server may close before it has read everything; only what it
    // does matters here.
    (void)sendRaw(fd, c.bytes);
    EXPECT_TRUE(closedWithoutAnswer(fd));
    ::close(fd);
  }

  // Peers that leave in the middle of a request.
  const std::string halfHeader = encode(kInstanceMagic, kKindQuery, MW_GET_VOLUME, 0, 0, "").substr(0, 9);
  const std::string truncatedText = encode(kInstanceMagic, kKindHandOver, HANDOVER_ADD, 10, 10, "/only");
  for (const std::string& bytes : {std::string(), halfHeader, truncatedText}) {
    const int fd = rawConnect(name);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(bytes.empty() || sendRaw(fd, bytes));
    ::close(fd);
  }

  // A good request after a bad one on the same connection is never read.
  {
    const int fd = rawConnect(name);
    ASSERT_GE(fd, 0);
    (void)sendRaw(fd, encode(1, kKindQuery, 0, 0, 0, "") + encode(kInstanceMagic, kKindQuery, MW_GET_STATE, 0, 0, ""));
    EXPECT_TRUE(closedWithoutAnswer(fd));
    ::close(fd);
  }

  EXPECT_TRUE(recorder.seen().empty());
  InstanceClient client;
  ASSERT_TRUE(client.connect(name));
  int32_t result = 0;
  ASSERT_TRUE(client.request(query(MW_GET_LAYER, 0), result));
  EXPECT_EQ(result, 42);
  const std::vector<InstanceRequest> seen = recorder.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, MW_GET_LAYER);
}

TEST(InstanceChannel, ASilentPeerIsDroppedAndTheNextOneServed) {
  Recorder recorder;
  InstanceServer server;  // the real two-second limit
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  const int silent = rawConnect(name);
  ASSERT_GE(silent, 0);
  const int stalled = rawConnect(name);
  ASSERT_GE(stalled, 0);
  ASSERT_TRUE(sendRaw(stalled, encode(kInstanceMagic, kKindQuery, MW_GET_VOLUME, 0, 0, "").substr(0, 7)));

  InstanceClient client;
  ASSERT_TRUE(client.connect(name));
  int32_t result = 0;
  ASSERT_TRUE(client.request(query(MW_GET_BIT_RATE, 0), result)) << "served once the stalled peers time out";
  EXPECT_TRUE(closedWithoutAnswer(silent));
  EXPECT_TRUE(closedWithoutAnswer(stalled));
  ::close(silent);
  ::close(stalled);
  ASSERT_EQ(recorder.seen().size(), 1u);
}

// True while the server keeps fd open and has sent nothing on it.
bool stillOpen(int fd) {
  pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 0;
}

// A peer that keeps one connection and asks every second, as a status
// display would.
struct ChattyPeer {
  std::mutex lock;
  std::condition_variable changed;
  bool stop = false;
  int answered = 0;
  int failed = 0;
  std::thread thread;

  void start(const std::string& name) {
    thread = std::thread([this, name] {
      InstanceClient client;
      const bool connected = client.connect(name);
      std::unique_lock<std::mutex> guard(lock);
      while (!stop) {
        guard.unlock();
        int32_t result = 0;
        const bool ok = connected && client.request(query(MW_GET_STATE, 0), result);
        guard.lock();
        ++(ok ? answered : failed);
        changed.notify_all();
        // The pace of this peer, not a wait for the server.
        changed.wait_for(guard, std::chrono::seconds(1), [this] { return stop; });
      }
    });
  }
  bool firstAnswered() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, std::chrono::seconds(60), [this] { return answered + failed > 0; });
    return answered > 0;
  }
  void finish() {
    {
      std::lock_guard<std::mutex> guard(lock);
      stop = true;
    }
    changed.notify_all();
    if (thread.joinable()) thread.join();
  }
  ~ChattyPeer() { finish(); }
};

// Whatever other peers do, `kuv --query` and a second start are answered at
// once. The bound is generous for a loaded machine; a server that serves
// one peer at a time waits out every stalled one, and never gets past one
// that keeps talking.
TEST(InstanceChannel, StalledAndLingeringPeersDoNotDelayOthers) {
  const std::string header = encode(kInstanceMagic, kKindQuery, MW_GET_VOLUME, 0, 0, "");
  const std::string shortText = encode(kInstanceMagic, kKindHandOver, HANDOVER_ADD, 10, 10, "/only");
  const std::vector<std::string> halves = {header.substr(0, 1), header.substr(0, 7), header.substr(0, 19), shortText};
  std::vector<std::string> everything(20);
  everything.insert(everything.end(), halves.begin(), halves.end());
  struct Case {
    const char* what;
    std::vector<std::string> stalled;  // a peer for each: it sends these bytes, then nothing
    bool chatty;
  };
  const std::vector<Case> cases = {
      {"20 silent peers", std::vector<std::string>(20), false},
      {"peers that stop halfway through a request", halves, false},
      {"a peer asking every second on one connection", {}, true},
      {"all of them at once", everything, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder recorder;
    InstanceServer server;  // the real two-second limit
    const std::string name = uniqueName();
    ASSERT_TRUE(server.listen(name, recorder.handler()));
    ChattyPeer chatty;
    if (c.chatty) {
      chatty.start(name);
      ASSERT_TRUE(chatty.firstAnswered());
    }
    std::vector<int> peers;
    for (const std::string& bytes : c.stalled) {
      const int fd = rawConnect(name);
      ASSERT_GE(fd, 0);
      peers.push_back(fd);
      ASSERT_TRUE(bytes.empty() || sendRaw(fd, bytes));
    }

    const auto start = std::chrono::steady_clock::now();
    InstanceClient client;
    client.setAnswerTimeoutMs(10000);
    int32_t result = 0;
    EXPECT_TRUE(client.connect(name) && client.request(query(MW_GET_LAYER, 0), result));
    const auto queried = std::chrono::steady_clock::now();
    EXPECT_LT(queried - start, std::chrono::seconds(5));
    std::string error;
    EXPECT_EQ(handOverArguments(name, {"/a.mp3"}, &error), HandOverResult::kTaken) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - queried, std::chrono::seconds(5));

    for (const int fd : peers) {
      EXPECT_TRUE(closedWithoutAnswer(fd)) << "a stalled peer is dropped in the end";
      ::close(fd);
    }
    chatty.finish();
    if (c.chatty) {
      EXPECT_EQ(chatty.failed, 0) << "a peer that keeps talking keeps its connection";
    }
    std::vector<uint32_t> codes;
    for (const InstanceRequest& r : recorder.seen())
      if (r.kind != kKindQuery || r.code != MW_GET_STATE) codes.push_back(r.code);
    EXPECT_EQ(codes, (std::vector<uint32_t>{MW_GET_LAYER, HANDOVER_CLEAR, HANDOVER_ADD, HANDOVER_START}))
        << "no stalled request reaches the handler";
  }
}

TEST(InstanceChannel, TheServerHoldsABoundedNumberOfConnections) {
  Recorder recorder;
  InstanceServer server;
  // Only the bound may drop a peer here, never the time limit.
  server.setRequestTimeoutMs(24 * 3600 * 1000);
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  constexpr size_t kExtra = 8;
  std::vector<int> peers;
  for (size_t i = 0; i < kMaxInstanceConnections + kExtra; ++i) {
    const int fd = rawConnect(name);
    ASSERT_GE(fd, 0) << "peer " << i;
    peers.push_back(fd);
  }
  const auto start = std::chrono::steady_clock::now();
  InstanceClient client;
  client.setAnswerTimeoutMs(10000);
  int32_t result = 0;
  ASSERT_TRUE(client.connect(name));
  ASSERT_TRUE(client.request(query(MW_GET_STATE, 0), result));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // Peers are taken in order of arrival; each one beyond the bound (the
  // query's own connection too) dropped the peer that had waited longest.
  for (size_t i = 0; i < peers.size(); ++i) {
    if (i <= kExtra) {
      EXPECT_TRUE(closedWithoutAnswer(peers[i])) << "peer " << i;
    } else {
      EXPECT_TRUE(stillOpen(peers[i])) << "peer " << i;
    }
    ::close(peers[i]);
  }
  EXPECT_TRUE(client.request(query(MW_GET_STATE, 0), result)) << "the newest connection is kept";
}

TEST(InstanceChannel, APeerThatLeavesBeforeItsAnswerDoesNotHurt) {
  std::mutex lock;
  std::condition_variable changed;
  bool peerGone = false;
  Recorder recorder;
  recorder.answer = [&](const InstanceRequest& r) {
    if (r.code == MW_GET_VOLUME) {
      // Answer only after the peer has gone, so the answer meets a closed
      // socket (EPIPE, never SIGPIPE).
      std::unique_lock<std::mutex> guard(lock);
      changed.wait(guard, [&] { return peerGone; });
    }
    return 5;
  };
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  const int fd = rawConnect(name);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendRaw(fd, encode(kInstanceMagic, kKindQuery, MW_GET_VOLUME, 0, 0, "") +
                              encode(kInstanceMagic, kKindQuery, MW_GET_STATE, 0, 0, "")));
  while (recorder.seen().empty()) std::this_thread::yield();
  ::close(fd);
  {
    std::lock_guard<std::mutex> guard(lock);
    peerGone = true;
  }
  changed.notify_all();

  InstanceClient client;
  ASSERT_TRUE(client.connect(name));
  int32_t result = 0;
  ASSERT_TRUE(client.request(query(MW_GET_CHANNELS, 0), result));
  EXPECT_EQ(result, 5);
  const std::vector<InstanceRequest> seen = recorder.seen();
  ASSERT_EQ(seen.size(), 2u) << "the request queued behind the lost answer is dropped with the connection";
  EXPECT_EQ(seen[1].code, MW_GET_CHANNELS);
}

TEST(InstanceChannel, CloseReturnsWhileClientsAreConnectedAndIdle) {
  Recorder recorder;
  InstanceServer server;
  // So long that only close() itself can end the wait: if it did not, this
  // test would hang.
  server.setRequestTimeoutMs(24 * 3600 * 1000);
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  InstanceClient client;
  ASSERT_TRUE(client.connect(name));
  int32_t result = 0;
  ASSERT_TRUE(client.request(query(MW_GET_STATE, 0), result));
  const int stalled = rawConnect(name);  // waits in the backlog
  ASSERT_GE(stalled, 0);

  server.close();
  EXPECT_FALSE(server.isListening());
  EXPECT_FALSE(client.request(query(MW_GET_STATE, 0), result));
  EXPECT_FALSE(client.isConnected());
  EXPECT_TRUE(closedWithoutAnswer(stalled));
  ::close(stalled);

  // And while a request is half sent.
  ASSERT_TRUE(server.listen(name, recorder.handler()));
  const int half = rawConnect(name);
  ASSERT_GE(half, 0);
  ASSERT_TRUE(sendRaw(half, encode(kInstanceMagic, kKindHandOver, HANDOVER_ADD, 9, 9, "/half")));
  server.close();
  EXPECT_TRUE(closedWithoutAnswer(half));
  ::close(half);
  EXPECT_EQ(recorder.seen().size(), 1u);
}

TEST(InstanceChannel, ClientAgainstNoServerFailsCleanly) {
  const std::string name = uniqueName();
  InstanceClient client;
  EXPECT_FALSE(client.connect(name));
  EXPECT_FALSE(client.isConnected());
  int32_t result = 77;
  EXPECT_FALSE(client.request(query(MW_GET_VOLUME, 0), result));
  EXPECT_EQ(result, 77);
  std::string error;
  EXPECT_EQ(handOverArguments(name, {"/a.mp3"}, &error), HandOverResult::kNoInstance);
  EXPECT_EQ(error, "no running instance to take the arguments");
  EXPECT_EQ(handOverArguments(name, {}, nullptr), HandOverResult::kNoInstance);
}

TEST(InstanceChannel, ClientRefusesTextItCannotSendAndStaysConnected) {
  Recorder recorder;
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));
  InstanceClient client;
  ASSERT_TRUE(client.connect(name));
  int32_t result = 0;
  EXPECT_FALSE(client.request(handOver(HANDOVER_ADD, 4096, std::string(kMaxTextBytes + 1, 'a')), result));
  EXPECT_FALSE(client.request(handOver(HANDOVER_ADD, 3, std::string("a\0b", 3)), result));
  EXPECT_TRUE(recorder.seen().empty());
  ASSERT_TRUE(client.isConnected());
  EXPECT_TRUE(client.request(handOver(HANDOVER_ADD, 1, "a"), result));
  EXPECT_EQ(recorder.seen().size(), 1u);
}

TEST(InstanceChannel, ClientGivesUpOnAReceiverThatNeverAnswers) {
  std::mutex lock;
  std::condition_variable changed;
  bool released = false;
  Recorder recorder;
  recorder.answer = [&](const InstanceRequest&) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return released; });
    return 1;
  };
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, recorder.handler()));

  InstanceClient client;
  client.setAnswerTimeoutMs(200);
  ASSERT_TRUE(client.connect(name));
  int32_t result = 0;
  EXPECT_FALSE(client.request(handOver(HANDOVER_CLEAR, 0), result));
  EXPECT_FALSE(client.isConnected()) << "a late answer must not be taken for the next request's";
  {
    std::lock_guard<std::mutex> guard(lock);
    released = true;
  }
  changed.notify_all();
}

TEST(InstanceChannel, ClientFailsOnAShortOrMissingAnswer) {
  const std::string name = uniqueName();
  const int listener = rawListen(name);
  ASSERT_GE(listener, 0);
  std::thread receiver([listener] {
    for (int round = 0; round < 2; ++round) {
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      char header[kRequestHeaderBytes];
      if (::recv(fd, header, sizeof header, MSG_WAITALL) == static_cast<ssize_t>(sizeof header) && round == 0)
        (void)::send(fd, "\x01\x00", 2, MSG_NOSIGNAL);  // half an answer
      ::close(fd);
    }
  });
  for (int round = 0; round < 2; ++round) {
    InstanceClient client;
    ASSERT_TRUE(client.connect(name));
    int32_t result = 99;
    EXPECT_FALSE(client.request(query(MW_GET_VOLUME, 0), result));
    EXPECT_EQ(result, 99);
  }
  receiver.join();
  ::close(listener);

  // A hand-over cut short reports it.
  const int again = rawListen(name);
  ASSERT_GE(again, 0);
  std::thread dropper([again] {
    const int fd = ::accept(again, nullptr, nullptr);
    if (fd >= 0) ::close(fd);
  });
  std::string error;
  EXPECT_EQ(handOverArguments(name, {"/a.mp3"}, &error), HandOverResult::kNotTaken);
  EXPECT_EQ(error, "the running instance did not take the arguments");
  dropper.join();
  ::close(again);
}

TEST(InstanceChannel, ListenRefusesBadNamesAndAMissingHandler) {
  Recorder recorder;
  InstanceServer server;
  EXPECT_FALSE(server.listen("", recorder.handler()));
  EXPECT_FALSE(server.listen(std::string(108, 'n'), recorder.handler()));
  EXPECT_FALSE(server.listen(uniqueName(), InstanceHandler()));
  EXPECT_FALSE(server.isListening());
  InstanceClient client;
  EXPECT_FALSE(client.connect(""));
  EXPECT_FALSE(client.connect(std::string(108, 'n')));

  const std::string longest = uniqueName() + std::string(107, 'n');
  ASSERT_TRUE(server.listen(longest.substr(0, 107), recorder.handler()));
  ASSERT_TRUE(client.connect(longest.substr(0, 107)));
  int32_t result = 0;
  EXPECT_TRUE(client.request(query(MW_GET_STATE, 0), result));
}

TEST(InstanceChannel, PeersOfAnotherUserAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a peer as another user";
  const std::string name = uniqueName();
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  // Forked before the server thread exists, so the child is a plain copy.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(go[1]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    char byte;
    if (::read(go[0], &byte, 1) != 1) ::_exit(4);
    InstanceClient client;
    if (!client.connect(name)) ::_exit(5);
    int32_t result = 0;
    ::_exit(client.request(query(MW_SET_VOLUME, 0), result) ? 1 : 0);
  }
  ::close(go[0]);
  Recorder recorder;
  InstanceServer server;
  ASSERT_TRUE(server.listen(name, recorder.handler()));
  ASSERT_EQ(::write(go[1], "x", 1), 1);
  ::close(go[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "0: refused; 1: answered; 3..5: the child could not try";
  EXPECT_TRUE(recorder.seen().empty());

  InstanceClient own;
  ASSERT_TRUE(own.connect(name));
  int32_t result = 0;
  EXPECT_TRUE(own.request(query(MW_GET_STATE, 0), result));
}

}  // namespace
}  // namespace kuv
