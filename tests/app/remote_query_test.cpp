#include "app/remote_query.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace kuv {
namespace {

std::string uniqueName() {
  static std::atomic<int> counter{0};
  return "KuvTest.query." + std::to_string(getpid()) + "." + std::to_string(counter++);
}

// What runQuery printed on its two streams.
struct Captured {
  std::string out;
  std::string err;
  int status = -1;
};

// Closes a memory stream and returns what was written to it.
std::string takeStream(FILE* stream, char*& buffer, size_t& size) {
  std::fclose(stream);  // updates buffer and size
  std::string text(buffer, size);
  std::free(buffer);
  buffer = nullptr;
  return text;
}

Captured run(const std::string& nameText, const std::string& socketName) {
  char* outBuffer = nullptr;
  size_t outSize = 0;
  char* errBuffer = nullptr;
  size_t errSize = 0;
  FILE* out = open_memstream(&outBuffer, &outSize);
  FILE* err = open_memstream(&errBuffer, &errSize);
  Captured captured;
  captured.status = runQuery(nameText, out, err, socketName);
  captured.out = takeStream(out, outBuffer, outSize);
  captured.err = takeStream(err, errBuffer, errSize);
  return captured;
}

TEST(QueryName, TakesEveryNameWithoutAValue) {
  const std::vector<std::pair<std::string, uint32_t>> names = {
      {"position", MW_GET_OUTPUT_POSITION},
      {"frames-played", MW_GET_FRAMES_PLAYED},
      {"total-frames", MW_GET_TOTAL_FRAMES},
      {"volume", MW_GET_VOLUME},
      {"state", MW_GET_STATE},
      {"sample-rate", MW_GET_SAMPLE_RATE},
      {"layer", MW_GET_LAYER},
      {"bit-rate", MW_GET_BIT_RATE},
      {"channels", MW_GET_CHANNELS},
  };
  for (const auto& [text, expected] : names) {
    uint32_t message = 0;
    int32_t value = 123;
    ASSERT_TRUE(parseQueryName(text, message, value)) << text;
    EXPECT_EQ(message, expected) << text;
    EXPECT_EQ(value, 0) << text;
    EXPECT_FALSE(parseQueryName(text + "=1", message, value)) << text << " takes no value";
    EXPECT_FALSE(parseQueryName(text + "=", message, value)) << text << " takes no value";
  }
}

TEST(QueryName, TakesTheNamesWithAValue) {
  const std::vector<std::pair<std::string, uint32_t>> names = {
      {"set-volume", MW_SET_VOLUME}, {"seek-frame", MW_SEEK_FRAME}, {"seek-ms", MW_SEEK_MS}};
  for (const auto& [text, expected] : names) {
    uint32_t message = 0;
    int32_t value = 0;
    ASSERT_TRUE(parseQueryName(text + "=255", message, value)) << text;
    EXPECT_EQ(message, expected);
    EXPECT_EQ(value, 255);
    ASSERT_TRUE(parseQueryName(text + "=-40", message, value));
    EXPECT_EQ(value, -40);
    ASSERT_TRUE(parseQueryName(text + "=2147483647", message, value));
    EXPECT_EQ(value, INT32_MAX);
    ASSERT_TRUE(parseQueryName(text + "=-2147483648", message, value));
    EXPECT_EQ(value, INT32_MIN);
    ASSERT_TRUE(parseQueryName(text + "=007", message, value));
    EXPECT_EQ(value, 7);
  }
}

TEST(QueryName, RefusesJunkAndLeavesTheOutputsAlone) {
  const char* refused[] = {
      "",
      "=5",
      "set-volume",
      "set-volume=",
      "set-volume=abc",
      "set-volume=+5",
      "set-volume=-",
      "set-volume=5x",
      "set-volume= 5",
      "set-volume=5 ",
      "set-volume=2147483648",
      "seek-ms=-2147483649",
      "seek-ms=--1",
      "seek-ms=1=2",
      "seek-ms=0x10",
      "Volume",
      " volume",
      "volume ",
      "positions",
      "bit_rate",
      "set-volume=99999999999999999999",
  };
  for (const char* text : refused) {
    uint32_t message = 0xABCD;
    int32_t value = -99;
    EXPECT_FALSE(parseQueryName(text, message, value)) << '"' << text << '"';
    EXPECT_EQ(message, 0xABCDu);
    EXPECT_EQ(value, -99);
  }
  uint32_t message = 0;
  int32_t value = 0;
  EXPECT_FALSE(parseQueryName(std::string("volume\0=1", 9), message, value));
}

TEST(QueryName, ListsEveryName) {
  EXPECT_EQ(queryNameList(),
            "position, frames-played, total-frames, volume, set-volume=N, seek-frame=N, state, sample-rate, "
            "layer, bit-rate, channels, seek-ms=N");
}

TEST(RunQuery, PrintsTheAnswerOfTheRunningInstance) {
  std::mutex lock;
  std::vector<InstanceRequest> seen;
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, [&](const InstanceRequest& r) {
    std::lock_guard<std::mutex> guard(lock);
    seen.push_back(r);
    if (r.code == MW_GET_VOLUME) return 73;
    if (r.code == MW_SET_VOLUME) return r.value;
    return -1;
  }));

  Captured volume = run("volume", name);
  EXPECT_EQ(volume.status, 0);
  EXPECT_EQ(volume.out, "73\n");
  EXPECT_EQ(volume.err, "");

  Captured set = run("set-volume=-5", name);
  EXPECT_EQ(set.status, 0);
  EXPECT_EQ(set.out, "-5\n");

  Captured big = run("set-volume=-2147483648", name);
  EXPECT_EQ(big.out, "-2147483648\n");

  Captured state = run("state", name);
  EXPECT_EQ(state.out, "-1\n");

  std::lock_guard<std::mutex> guard(lock);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].kind, kKindQuery);
  EXPECT_EQ(seen[0].code, MW_GET_VOLUME);
  EXPECT_EQ(seen[0].value, 0);
  EXPECT_EQ(seen[1].code, MW_SET_VOLUME);
  EXPECT_EQ(seen[1].value, -5);
  EXPECT_EQ(seen[1].text, "");
  EXPECT_EQ(seen[3].code, MW_GET_STATE);
}

TEST(RunQuery, ABadNameListsTheValidOnesAndAsksNobody) {
  std::atomic<int> calls{0};
  InstanceServer server;
  const std::string name = uniqueName();
  ASSERT_TRUE(server.listen(name, [&](const InstanceRequest&) {
    ++calls;
    return 0;
  }));
  for (const char* text : {"loudness", "set-volume", "volume=3"}) {
    Captured bad = run(text, name);
    EXPECT_EQ(bad.status, 2) << text;
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find(std::string("\"") + text + "\""), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find(queryNameList()), std::string::npos) << bad.err;
  }
  EXPECT_EQ(calls.load(), 0);
}

TEST(RunQuery, NoRunningInstance) {
  Captured none = run("position", uniqueName());
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "kuv: no running instance to ask\n");
}

TEST(RunQuery, AnInstanceThatHangsUpWithoutAnAnswer) {
  const std::string name = uniqueName();
  sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  std::thread receiver([listener] {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd >= 0) ::close(fd);
  });
  Captured dropped = run("layer", name);
  receiver.join();
  ::close(listener);
  EXPECT_EQ(dropped.status, 1);
  EXPECT_EQ(dropped.out, "");
  EXPECT_EQ(dropped.err, "kuv: the running instance did not answer the query\n");
}

}  // namespace
}  // namespace kuv
