// Internet radio through the real engine and session, as kuv-decode plays
// it: a station's playlist expands in place, a dead first entry falls
// through to the next, the stream's titles are printed and stripped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/http_test_server.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using test::HttpRoute;

class RadioDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    folder_ = test::makeTempFolder();
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override { test::removeTree(folder_); }

  // kuv-decode -o of url, bounded in time; returns the samples written.
  std::vector<int16_t> decode(const std::string& url, std::string& printed, int& status) {
    const std::string wav = folder_ + "/out.wav";
    std::remove(wav.c_str());
    status = test::runCommand(
        "HOME='" + folder_ + "' timeout 120 '" + KUV_DECODE_BIN + "' -o '" + wav + "' '" + url + "' 2>&1", &printed);
    return test::readSamples(wav, 46);
  }

  void serveText(const std::string& path, const std::string& contentType, const std::string& text) {
    HttpRoute r;
    r.contentType = contentType;
    r.body = text;
    server_.route(path, r);
  }

  test::HttpTestServer server_;
  std::string folder_;
};

TEST_F(RadioDecodeTest, AStationPlaylistPlaysItsFirstLiveEntry) {
  HttpRoute live;
  live.kind = HttpRoute::Kind::Icy;
  live.icyName = "Test Radio";
  live.body = test::readFile(test::fixturePath("cbr.mp3"));
  live.metaInterval = 8192;
  live.titles = {"Artist - Song"};
  server_.route("/live", live);
  const std::string dead = server_.url("/dead.mp3");
  const std::string pls = "[playlist]\nNumberOfEntries=2\nFile1=" + dead + "\nFile2=" + server_.url("/live") + "\n";
  serveText("/station.pls", "text/plain", "[playlist]\nNumberOfEntries=2\nFile1=dead.mp3\nFile2=live\n");
  serveText("/listen", "audio/x-scpls", pls);
  serveText("/radio.m3u", "", "#EXTM3U\n#EXTINF:-1,Dead\n" + dead + "\n/live\n");

  std::string printed;
  int status = 0;
  const std::vector<int16_t> plain = decode(test::fixturePath("cbr.mp3"), printed, status);
  ASSERT_FALSE(plain.empty()) << printed;
  for (const char* path : {"/station.pls", "/listen", "/radio.m3u"}) {
    SCOPED_TRACE(path);
    const std::vector<int16_t> got = decode(server_.url(path), printed, status);
    EXPECT_EQ(got.size(), plain.size()) << printed;
    EXPECT_TRUE(got == plain) << "the samples differ";
    // A dead alternative is passed over without its box.
    EXPECT_EQ(printed.find("Could not open " + dead), std::string::npos) << printed;
    EXPECT_NE(printed.find("Stream: Test Radio - Artist - Song\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("Error Loading Playlist"), std::string::npos) << printed;
  }
  // When every alternative is dead, the last one says why.
  const std::string gone = server_.url("/gone.mp3");
  serveText("/alldead.pls", "audio/x-scpls", "[playlist]\nNumberOfEntries=2\nFile1=" + dead + "\nFile2=" + gone + "\n");
  decode(server_.url("/alldead.pls"), printed, status);
  EXPECT_EQ(printed.find("Could not open " + dead), std::string::npos) << printed;
  EXPECT_NE(printed.find("Could not open " + gone + "\nThe server answered 404"), std::string::npos) << printed;
}

TEST_F(RadioDecodeTest, PlaylistsThatNeverReachAudioEndWithTheirReason) {
  serveText("/live.m3u8", "application/vnd.apple.mpegurl",
            "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=128000\nlow/index.m3u8\n");
  serveText("/self.pls", "audio/x-scpls", "[playlist]\nNumberOfEntries=1\nFile1=self.pls\n");
  serveText("/twice.pls", "audio/x-scpls", "[playlist]\nNumberOfEntries=2\nFile1=twice.pls\nFile2=twice.pls\n");
  serveText("/empty.m3u", "audio/x-mpegurl", "#EXTM3U\n");
  struct Case {
    const char* path;
    std::string message;
  } cases[] = {
      {"/live.m3u8", "Could not open " + server_.url("/live.m3u8") + "\nHLS streams are not supported."},
      {"/self.pls", "Error Loading Playlist: " + server_.url("/self.pls")},
      {"/twice.pls", "Error Loading Playlist: " + server_.url("/twice.pls")},
      {"/empty.m3u", "Error Loading Playlist: " + server_.url("/empty.m3u")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string printed;
    int status = 0;
    EXPECT_TRUE(decode(server_.url(c.path), printed, status).empty());
    EXPECT_NE(status, 0) << printed;
    EXPECT_NE(status, 124) << "did not end: " << printed;
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
  }
}

}  // namespace
}  // namespace kuv
