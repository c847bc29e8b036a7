#include "engine/url_reader.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "support/byte_patterns.h"
#include "support/http_test_server.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using test::noiseBytes;

using test::HttpRoute;
using test::HttpTestServer;
using Clock = std::chrono::steady_clock;

struct Box {
  std::string title;
  std::string text;
  unsigned style;
};

// Reads until end of stream; false when nothing arrives for stallMs.
bool readToEnd(int fd, std::string* out, int stallMs = 10000) {
  char buffer[8192];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, stallMs) <= 0) return false;
    long got = platform::readSome(fd, buffer, sizeof buffer);
    if (got < 0) return false;
    if (got == 0) return true;
    out->append(buffer, static_cast<size_t>(got));
  }
}

// Reads exactly n bytes; false on end of stream or a stall.
bool readExactly(int fd, size_t n, std::string* out, int stallMs = 10000) {
  char buffer[8192];
  while (out->size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, stallMs) <= 0) return false;
    long got = platform::readSome(fd, buffer, std::min(sizeof buffer, n - out->size()));
    if (got <= 0) return false;
    out->append(buffer, static_cast<size_t>(got));
  }
  return true;
}

// Compares streams without dumping megabytes of binary on a mismatch.
::testing::AssertionResult sameBytes(const std::string& got, const std::string& want) {
  size_t n = std::min(got.size(), want.size());
  size_t at = 0;
  while (at < n && got[at] == want[at]) ++at;
  if (at == n && got.size() == want.size()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << ", first difference at " << at;
}

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class UrlReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ignoreSigpipe();
    savedDownloadOption_ = settings.DownloadOption;
    std::memcpy(savedDir_, settings.InternetDLDir, sizeof savedDir_);
    settings.DownloadOption = 0;
    oldBackend_ =
        platform::setMessageBoxBackend([this](const std::string& text, const std::string& title, unsigned style) {
          std::lock_guard<std::mutex> guard(boxLock_);
          boxes_.push_back(Box{title, text, style});
          return static_cast<int>(platform::IDOK);
        });
    ASSERT_TRUE(server_.ok());
  }

  void TearDown() override {
    closeUrl(reader_);
    platform::setMessageBoxBackend(std::move(oldBackend_));
    settings.DownloadOption = savedDownloadOption_;
    std::memcpy(settings.InternetDLDir, savedDir_, sizeof savedDir_);
    if (!tempDir_.empty()) std::filesystem::remove_all(tempDir_);
  }

  std::vector<Box> boxes() {
    std::lock_guard<std::mutex> guard(boxLock_);
    return boxes_;
  }

  void serve(const std::string& path, const std::string& body, bool sendLength = true) {
    HttpRoute r;
    r.body = body;
    r.sendLength = sendLength;
    server_.route(path, r);
  }

  // Opens url, reads it to the end and closes; returns what the pipe held.
  std::string playAll(const std::string& url) {
    std::string got;
    int fd = openUrl(reader_, url);
    EXPECT_GE(fd, 0);
    if (fd < 0) return got;
    EXPECT_TRUE(readToEnd(fd, &got)) << "stream did not end";
    platform::closeHandle(fd);
    reader_.pipeRead = -1;
    closeUrl(reader_);
    return got;
  }

  void useSaveFolder() {
    tempDir_ = test::makeTempFolder();
    ASSERT_FALSE(tempDir_.empty());
    settings.DownloadOption = 1;
    std::snprintf(settings.InternetDLDir, sizeof settings.InternetDLDir, "%s", tempDir_.c_str());
  }

  HttpTestServer server_;
  UrlReader reader_;
  std::string tempDir_;

 private:
  std::mutex boxLock_;
  std::vector<Box> boxes_;
  platform::MessageBoxBackend oldBackend_;
  int savedDownloadOption_ = 0;
  char savedDir_[kSettingsStringBytes] = {};
};

// --- Streams that play -------------------------------------------------

TEST_F(UrlReaderTest, GoodStreamArrivesExactly) {
  const std::string body = noiseBytes(300 * 1024, 1);
  serve("/song.mp3", body);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/song.mp3")), body));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UrlReaderTest, StreamWithoutLengthEndsWhenServerCloses) {
  const std::string body = noiseBytes(100 * 1024, 2);
  serve("/live", body, false);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/live")), body));
}

TEST_F(UrlReaderTest, SlowStreamArrivesExactly) {
  HttpRoute r;
  r.body = noiseBytes(64 * 1024, 3);
  r.sendLength = false;
  r.chunkBytes = 3000;  // not a multiple of the pipe pieces
  r.chunkDelayMs = 2;
  server_.route("/slow", r);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/slow")), r.body));
}

TEST_F(UrlReaderTest, RequestCarriesAgentAndAccept) {
  serve("/a.mp3", noiseBytes(1000, 4));
  playAll(server_.url("/a.mp3"));
  std::vector<std::string> requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /a.mp3 ", 0), 0u) << requests[0];
  EXPECT_NE(requests[0].find("\r\nUser-Agent: KUV 0.94\r\n"), std::string::npos) << requests[0];
  EXPECT_NE(requests[0].find("\r\nAccept: audio/x-mpeg, audio/x-mpegurl, Audio/Mpeg-Url, */*\r\n"), std::string::npos)
      << requests[0];
}

TEST_F(UrlReaderTest, SmallBodyEndsPrebufferAndArrivesWhole) {
  const std::string body = noiseBytes(1000, 5);
  serve("/short", body);
  int fd = openUrl(reader_, server_.url("/short"));
  ASSERT_GE(fd, 0);
  // Fewer than 8192 bytes exist, so only the end of the download lets openUrl return.
  EXPECT_EQ(reader_.done.load(), 1);
  EXPECT_EQ(reader_.bytesReceived.load(), body.size());
  std::string got;
  EXPECT_TRUE(readToEnd(fd, &got));
  EXPECT_TRUE(sameBytes(got, body));
}

TEST_F(UrlReaderTest, EmptyAndTinyBodies) {
  serve("/empty", "");
  EXPECT_TRUE(sameBytes(playAll(server_.url("/empty")), ""));
  serve("/two", "ab");
  EXPECT_TRUE(sameBytes(playAll(server_.url("/two")), "ab"));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UrlReaderTest, RedirectIsFollowed) {
  const std::string body = noiseBytes(20000, 6);
  serve("/new.mp3", body);
  HttpRoute r;
  r.kind = HttpRoute::Kind::Redirect;
  r.location = server_.url("/new.mp3");
  server_.route("/old.mp3", r);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/old.mp3")), body));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UrlReaderTest, ReaderIsReusable) {
  const std::string one = noiseBytes(30000, 7);
  const std::string two = noiseBytes(50000, 8);
  serve("/1", one);
  serve("/2", two);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/1")), one));
  EXPECT_TRUE(sameBytes(playAll(server_.url("/2")), two));
  EXPECT_EQ(reader_.transfer, nullptr);
  EXPECT_FALSE(reader_.thread.joinable());
}

TEST_F(UrlReaderTest, CloseWithoutOpenIsHarmless) {
  UrlReader unused;
  closeUrl(unused);
  closeUrl(unused);
  EXPECT_EQ(unused.pipeRead, -1);
  EXPECT_EQ(unused.pipeWrite, -1);
}

// --- Shoutcast answers -------------------------------------------------

TEST_F(UrlReaderTest, IcyHeaderLinesNeverReachThePipe) {
  HttpRoute r;
  r.kind = HttpRoute::Kind::Icy;
  r.body = noiseBytes(100 * 1024, 9);
  server_.route("/;stream.mp3", r);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/;stream.mp3")), r.body));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UrlReaderTest, IcyHeaderArrivingSlowlyIsStillStripped) {
  HttpRoute r;
  r.kind = HttpRoute::Kind::Icy;
  r.body = noiseBytes(20000, 10);
  r.chunkBytes = 7;  // the blank line may straddle pieces; the first bytes come late
  r.chunkDelayMs = 0;
  server_.route("/icy", r);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/icy")), r.body));
}

TEST_F(UrlReaderTest, SmallIcyBody) {
  HttpRoute r;
  r.kind = HttpRoute::Kind::Icy;
  r.body = "just a little audio";
  server_.route("/icy", r);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/icy")), r.body));
}

// --- Failures while opening ----------------------------------------------

TEST_F(UrlReaderTest, NotFoundIsReportedByOpen) {
  EXPECT_EQ(openUrl(reader_, server_.url("/missing.mp3")), -1);
  std::vector<Box> shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, kInternetErrorTitle);
  EXPECT_EQ(shown[0].style, static_cast<unsigned>(platform::MB_OK));
  EXPECT_NE(shown[0].text.find("404"), std::string::npos) << shown[0].text;
  EXPECT_EQ(reader_.pipeRead, -1);
  EXPECT_EQ(reader_.session, nullptr);
  EXPECT_EQ(reader_.transfer, nullptr);
  EXPECT_FALSE(reader_.thread.joinable());
}

// The one box of a failed URL names the URL and says why, in the server's
// words where it answered.
TEST_F(UrlReaderTest, AFailureNamesTheUrlAndTheReason) {
  HttpRoute redirect;
  redirect.kind = HttpRoute::Kind::Redirect;
  redirect.location = server_.url("/gone.mp3");
  server_.route("/moved.mp3", redirect);
  HttpRoute icy;
  icy.kind = HttpRoute::Kind::Icy;
  icy.statusLine = "ICY 404 Resource Not Available";
  icy.body = "x";
  server_.route("/icy", icy);
  HttpRoute quiet;
  quiet.kind = HttpRoute::Kind::NoAnswer;
  server_.route("/quiet", quiet);
  const uint16_t port = HttpTestServer::unusedPort();
  ASSERT_NE(port, 0);
  struct Case {
    const char* what;
    std::string url;
    std::string reason;  // the whole second line, or a part of it when `part`
    bool part;
    int responseTimeoutMs = 15000;
  };
  const Case cases[] = {
      {"a missing file", server_.url("/missing.mp3"), "The server answered 404 Not Found", false},
      {"a redirect to a missing file", server_.url("/moved.mp3"), "The server answered 404 Not Found", false},
      {"a Shoutcast refusal", server_.url("/icy"), "The server answered 404 Resource Not Available", false},
      {"a silent server", server_.url("/quiet"), "No answer from the server within 0.3 seconds.", false, 300},
      {"a refused connection", "http://127.0.0.1:" + std::to_string(port) + "/a.mp3", "onnect", true},
  };
  size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reader_.responseTimeoutMs = c.responseTimeoutMs;
    EXPECT_EQ(openUrl(reader_, c.url), -1);
    const std::vector<Box> shown = boxes();
    ASSERT_EQ(shown.size(), ++seen);
    EXPECT_EQ(shown.back().title, kInternetErrorTitle);
    const std::string head = "Could not open " + c.url + "\n";
    ASSERT_EQ(shown.back().text.compare(0, head.size(), head), 0) << shown.back().text;
    const std::string reason = shown.back().text.substr(head.size());
    if (c.part) {
      EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    } else {
      EXPECT_EQ(reason, c.reason);
    }
  }
}

TEST_F(UrlReaderTest, OtherSchemesAreRefused) {
  EXPECT_EQ(openUrl(reader_, "file:///etc/passwd"), -1);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].title, kInternetErrorTitle);
}

TEST_F(UrlReaderTest, SilentServerTimesOut) {
  HttpRoute r;
  r.kind = HttpRoute::Kind::NoAnswer;
  server_.route("/quiet", r);
  reader_.responseTimeoutMs = 300;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(openUrl(reader_, server_.url("/quiet")), -1);
  EXPECT_LT(msSince(start), 2000);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].title, kInternetErrorTitle);
}

// --- Ends and stops --------------------------------------------------------

TEST_F(UrlReaderTest, ServerClosingMidStreamGivesBytesThenEnd) {
  HttpRoute r;
  r.body = noiseBytes(100 * 1024, 11);
  r.closeAfter = 50000;
  server_.route("/cut", r);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/cut")), r.body.substr(0, 50000)));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UrlReaderTest, StalledServerStopsWithinLimit) {
  HttpRoute r;
  r.body = noiseBytes(100 * 1024, 12);
  r.stallAfter = 20000;
  server_.route("/stall", r);
  int fd = openUrl(reader_, server_.url("/stall"));
  ASSERT_GE(fd, 0);
  std::string got;
  ASSERT_TRUE(readExactly(fd, 20000, &got));
  EXPECT_TRUE(sameBytes(got, r.body.substr(0, 20000)));
  platform::closeHandle(fd);
  reader_.pipeRead = -1;
  Clock::time_point start = Clock::now();
  closeUrl(reader_);
  EXPECT_LT(msSince(start), kUrlStopWaitMs);
  EXPECT_FALSE(reader_.thread.joinable());
}

// A server that keeps the connection but sends nothing more: after the
// stall limit the stream ends as after a read error, so the reader is not
// held forever; a reader that is merely slow (a full pipe) is no stall.
TEST_F(UrlReaderTest, ADeadStreamEndsAfterTheStallLimit) {
  HttpRoute r;
  r.body = noiseBytes(200 * 1024, 14);
  r.stallAfter = 20000;
  server_.route("/dead", r);
  r.stallAfter = -1;
  server_.route("/alive", r);
  reader_.stallTimeoutMs = 300;
  int fd = openUrl(reader_, server_.url("/dead"));
  ASSERT_GE(fd, 0);
  std::string got;
  ASSERT_TRUE(readToEnd(fd, &got)) << "the stream ends by itself";
  EXPECT_TRUE(sameBytes(got, r.body.substr(0, 20000)));
  closeUrl(reader_);

  fd = openUrl(reader_, server_.url("/alive"));
  ASSERT_GE(fd, 0);
  // Nothing is read for longer than the limit: the pipe fills and the
  // download waits on it, which must not count as a dead stream.
  for (int i = 0; i < 2000 && server_.bodyBytesSent() < 65536u; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * reader_.stallTimeoutMs));
  got.clear();
  ASSERT_TRUE(readToEnd(fd, &got));
  EXPECT_TRUE(sameBytes(got, r.body));
  closeUrl(reader_);
}

TEST_F(UrlReaderTest, AnOwnerGivingUpEndsThePrebufferWait) {
  // The server answers, sends a little and goes quiet before the pre-buffer
  // is full: only the owner's flag can end the wait.
  HttpRoute r;
  r.body = noiseBytes(50 * 1024, 13);
  r.stallAfter = 1000;
  server_.route("/quiet", r);
  std::atomic<int> giveUp{0};
  reader_.abandon = &giveUp;
  std::thread owner([&giveUp] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    giveUp.store(1);
  });
  Clock::time_point start = Clock::now();
  EXPECT_EQ(openUrl(reader_, server_.url("/quiet")), -1);
  EXPECT_LT(msSince(start), kUrlStopWaitMs);
  owner.join();
  EXPECT_FALSE(reader_.thread.joinable());
  EXPECT_TRUE(boxes().empty());
  reader_.abandon = nullptr;
}

class FullPipeTest : public UrlReaderTest, public ::testing::WithParamInterface<bool> {};

// The download thread sits on a full pipe; closeUrl must still get it out,
// whether the caller closed its read end first or left it to closeUrl.
TEST_P(FullPipeTest, StopsWithinLimit) {
  const bool callerCloses = GetParam();
  HttpRoute r;
  r.body = noiseBytes(4 * 1024 * 1024, 13);
  server_.route("/big", r);
  int fd = openUrl(reader_, server_.url("/big"));
  ASSERT_GE(fd, 0);
  // Wait until the pipe is full: bytesReceived stops moving.
  uint32_t last = 0;
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint32_t now = reader_.bytesReceived.load();
    if (now == last && now > 0) break;
    last = now;
  }
  EXPECT_LT(reader_.bytesReceived.load(), r.body.size());
  EXPECT_EQ(reader_.done.load(), 0);
  // A second reader keeps the pipe alive, so only the stop event can end
  // the blocked write (no EPIPE shortcut).
  int keep = ::dup(fd);
  ASSERT_GE(keep, 0);
  if (callerCloses) {
    platform::closeHandle(fd);
    reader_.pipeRead = -1;
  }
  Clock::time_point start = Clock::now();
  closeUrl(reader_);
  EXPECT_LT(msSince(start), kUrlStopWaitMs);
  EXPECT_EQ(reader_.pipeRead, -1);
  // What was written is intact, and with the write end closed the pipe ends.
  std::string got;
  EXPECT_TRUE(readToEnd(keep, &got, 2000));
  EXPECT_TRUE(sameBytes(got, r.body.substr(0, got.size())));
  EXPECT_GE(got.size(), kUrlPrebufferBytes);
  ::close(keep);
}

INSTANTIATE_TEST_SUITE_P(UrlReader, FullPipeTest, ::testing::Bool());

TEST_F(UrlReaderTest, ReaderGoingAwayEndsTheDownload) {
  HttpRoute r;
  r.body = noiseBytes(4 * 1024 * 1024, 14);
  server_.route("/big", r);
  int fd = openUrl(reader_, server_.url("/big"));
  ASSERT_GE(fd, 0);
  platform::closeHandle(fd);
  reader_.pipeRead = -1;
  // EPIPE alone ends the thread, with no closeUrl yet.
  for (int i = 0; i < 400 && !reader_.done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(reader_.done.load(), 1);
  EXPECT_EQ(reader_.writeEndClosed.load(), 1);
}

// --- Save copies -----------------------------------------------------------

TEST_F(UrlReaderTest, SaveCopyMatchesTheBody) {
  useSaveFolder();
  HttpRoute r;
  r.kind = HttpRoute::Kind::Icy;  // the copy is the audio, without ICY lines
  r.body = noiseBytes(200 * 1024, 15);
  server_.route("/music/song.mp3", r);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/music/song.mp3")), r.body));
  std::ifstream saved(tempDir_ + "/song.mp3", std::ios::binary);
  ASSERT_TRUE(saved.good());
  std::string copy((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(sameBytes(copy, r.body));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UrlReaderTest, UnsavableNameWarnsAndStillPlays) {
  useSaveFolder();
  const std::string body = noiseBytes(40000, 16);
  serve("/music/", body);
  EXPECT_TRUE(sameBytes(playAll(server_.url("/music/")), body));
  std::vector<Box> shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "ERROR!");
  EXPECT_EQ(shown[0].text, "URL Save file could NOT be created,\nData will NOT be saved...");
  EXPECT_EQ(shown[0].style, static_cast<unsigned>(platform::MB_OK | platform::MB_ICONWARNING));
}

TEST_F(UrlReaderTest, NoCopyWhenSavingIsOff) {
  useSaveFolder();
  settings.DownloadOption = 0;
  serve("/music/song.mp3", noiseBytes(10000, 17));
  playAll(server_.url("/music/song.mp3"));
  EXPECT_FALSE(std::filesystem::exists(tempDir_ + "/song.mp3"));
}

TEST(UrlSavePath, JoinsFolderAndLastUrlPart) {
  EXPECT_EQ(urlSavePath("/home/u/dl", "http://host/a/b/song.mp3"), "/home/u/dl/song.mp3");
  EXPECT_EQ(urlSavePath("/home/u/dl/", "http://host/a/b/song.mp3"), "/home/u/dl/song.mp3");
  EXPECT_EQ(urlSavePath("/home/u/dl", "http://host/a/b/"), "/home/u/dl/");
  EXPECT_EQ(urlSavePath("/home/u/dl/", "http://host:8000/;stream.nsv"), "/home/u/dl/;stream.nsv");
}

}  // namespace
}  // namespace kuv
