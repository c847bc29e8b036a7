// Internet radio as the download side meets it: interleaved titles taken
// out of the audio onto the stream tags board, and station playlists
// fetched whole instead of played.
#include <gtest/gtest.h>
#include <poll.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "engine/stream_tags.h"
#include "engine/url_reader.h"
#include "platform/file.h"
#include "support/byte_patterns.h"
#include "support/http_test_server.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using test::HttpRoute;

class RadioStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ignoreSigpipe();
    settings.DownloadOption = 0;
    ASSERT_TRUE(server_.ok());
    std::string url, text;
    takeFetchedPlaylist(url, text);
  }
  void TearDown() override { closeUrl(reader_); }

  // Opens url and reads it to the end, noting every title the board shows
  // on the way; the reader checks the board after every read.
  std::string readNotingTitles(const std::string& url, std::vector<std::string>& titles) {
    std::string got;
    clearStreamTags();
    const int fd = openUrl(reader_, url);
    EXPECT_GE(fd, 0);
    if (fd < 0) return got;
    char buffer[4096];
    for (;;) {
      const std::string title = currentStreamTags().title;
      if (!title.empty() && (titles.empty() || titles.back() != title)) titles.push_back(title);
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) break;
      const long n = platform::readSome(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    const std::string title = currentStreamTags().title;
    if (!title.empty() && (titles.empty() || titles.back() != title)) titles.push_back(title);
    platform::closeHandle(fd);
    reader_.pipeRead = -1;
    closeUrl(reader_);
    return got;
  }

  test::SavedSettings saved_;
  test::HttpTestServer server_;
  test::MessageRecorder boxes_;
  UrlReader reader_;
};

TEST_F(RadioStreamTest, TitlesLeaveTheAudioAndReachTheBoardInTurn) {
  // Titles change every 240 KiB: further apart than the pipe and libcurl
  // hold, so the reader sees each one.
  const std::string audio = test::noiseBytes(800 * 1024, 31);
  struct Case {
    const char* what;
    const char* statusLine;
    uint32_t interval;
    size_t titleEvery;
  };
  const Case cases[] = {{"ICY answer", "ICY 200 OK", 16000, 15},
                        {"HTTP answer", "HTTP/1.0 200 OK", 8192, 30},
                        {"odd interval", "ICY 200 OK", 4099, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HttpRoute r;
    r.kind = HttpRoute::Kind::Icy;
    r.statusLine = c.statusLine;
    r.icyName = "Test Radio";
    r.body = audio;
    r.metaInterval = c.interval;
    r.titles = {"First Song", "Guns N' Roses - Don't Cry", "Third"};
    r.titleEvery = c.titleEvery;
    // Sent in pieces, as a station sends in real time: otherwise the whole
    // body could arrive (and its titles be read) before the pipe exists.
    r.chunkBytes = 16384;
    r.chunkDelayMs = 1;
    server_.route("/stream", r);
    std::vector<std::string> titles;
    const std::string got = readNotingTitles(server_.url("/stream"), titles);
    EXPECT_EQ(got.size(), audio.size());
    EXPECT_TRUE(got == audio) << "the audio differs";
    EXPECT_EQ(titles, r.titles);
    EXPECT_EQ(currentStreamTags().station, "Test Radio");
  }
  const std::vector<std::string> requests = server_.requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_NE(requests.back().find("\r\nIcy-MetaData: 1\r\n"), std::string::npos) << requests.back();
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(RadioStreamTest, PlaylistAnswersAreFetchedNotPlayed) {
  const std::string pls = "[playlist]\nFile1=http://a/1\nNumberOfEntries=1\n";
  struct Case {
    const char* path;
    const char* contentType;
    bool playlist;
  } cases[] = {
      {"/station.pls", "text/plain", true},
      {"/listen", "audio/x-scpls", true},
      {"/listen2", "audio/x-mpegurl; charset=utf-8", true},
      {"/live", "application/vnd.apple.mpegurl", true},
      {"/tune.m3u8?sid=1", "", true},
      {"/radio.M3U", "application/octet-stream", true},
      {"/song.mp3", "audio/mpeg", false},
      {"/not-a-list.pls", "audio/mpeg", false},
      {"/play?x=a.pls", "text/plain", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    HttpRoute r;
    r.body = pls + std::string(9000, '\n');
    r.contentType = c.contentType;
    server_.route(c.path, r);
    const int fd = openUrl(reader_, server_.url(c.path));
    std::string url, text;
    const bool fetched = takeFetchedPlaylist(url, text);
    EXPECT_EQ(fetched, c.playlist);
    EXPECT_EQ(reader_.playlistFetched, c.playlist);
    if (c.playlist) {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(url, server_.url(c.path));
      EXPECT_EQ(text, r.body);
    } else {
      EXPECT_GE(fd, 0);
    }
    closeUrl(reader_);
  }
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(RadioStreamTest, PlaylistsThatCannotBePlayedSayWhy) {
  HttpRoute hls;
  hls.contentType = "application/vnd.apple.mpegurl";
  hls.body = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXT-X-MEDIA-SEQUENCE:1\n#EXTINF:10,\nseg1.ts\n";
  server_.route("/live.m3u8", hls);
  HttpRoute huge;
  huge.contentType = "audio/x-scpls";
  huge.body = "[playlist]\n" + std::string(kUrlPlaylistMaxBytes, '\n');
  server_.route("/huge", huge);
  HttpRoute slow;
  slow.contentType = "audio/x-mpegurl";
  slow.body = std::string(4000, '#');
  slow.chunkBytes = 1000;
  slow.chunkDelayMs = 2000;
  server_.route("/slow.m3u", slow);
  struct Case {
    const char* path;
    const char* reason;
  } cases[] = {
      {"/live.m3u8", "HLS streams are not supported."},
      {"/huge", "The playlist is larger than 1 MiB."},
      {"/slow.m3u", "The playlist did not arrive within 1 seconds."},
  };
  reader_.playlistTimeoutMs = 500;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const size_t before = boxes_.boxes().size();
    EXPECT_EQ(openUrl(reader_, server_.url(c.path)), -1);
    std::string url, text;
    EXPECT_FALSE(takeFetchedPlaylist(url, text));
    const auto shown = boxes_.boxes();
    ASSERT_EQ(shown.size(), before + 1);
    EXPECT_EQ(shown.back().title, kInternetErrorTitle);
    EXPECT_EQ(shown.back().text, "Could not open " + server_.url(c.path) + "\n" + c.reason);
    closeUrl(reader_);
  }
}

}  // namespace
}  // namespace kuv
