// MPEG audio over HTTP: the frame reader behind the URL pipe.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "support/http_test_server.h"
#include "support/test_support.h"

namespace kuv {
namespace {

size_t countFrames(InputStream& s, FrameContext& ctx) {
  size_t frames = 0;
  while (readFrame(s, ctx)) ++frames;
  return frames;
}

class StreamOverHttp : public ::testing::Test {
 protected:
  void serveFile(const std::string& path, const std::string& fixture, bool icy = false) {
    test::HttpRoute route;
    route.kind = icy ? test::HttpRoute::Kind::Icy : test::HttpRoute::Kind::Body;
    route.body = test::readFile(test::fixturePath(fixture));
    server_.route(path, route);
  }
  test::HttpTestServer server_;
  test::MessageRecorder recorder_;
};

TEST_F(StreamOverHttp, ReadsEveryFrameAndHasNoLengthOrSeek) {
  ASSERT_TRUE(server_.ok());
  struct Case {
    const char* fixture;
    size_t frames;
    bool icy;
  };
  const Case cases[] = {{"vbr.mp3", 461, false},
                        {"id3v2.mp3", 461, false},
                        {"cbr.mp3", 461, true},
                        {"mpeg25.mp3", 232, false},
                        {"truncated.mp3", 460, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const std::string path = std::string("/") + c.fixture;
    serveFile(path, c.fixture, c.icy);
    auto s = std::make_unique<InputStream>();
    FrameContext ctx;
    ASSERT_TRUE(openStream(*s, server_.url(path)));
    EXPECT_TRUE(s->isUrl);
    resetFrameState(*s);
    ASSERT_EQ(readFrame(*s, ctx), 1);
    EXPECT_EQ(totalFrames(*s, ctx), 0u);
    EXPECT_EQ(currentFrame(*s, ctx), 0u);
    EXPECT_EQ(currentSeconds(*s, ctx), 0u);
    EXPECT_FALSE(seekToFrame(*s, ctx, 10));
    EXPECT_FALSE(seekToMilliseconds(*s, ctx, 1000));
    // A cut last frame from a URL counts as missing.
    EXPECT_EQ(1 + countFrames(*s, ctx), c.frames);
    closeStream(*s);
  }
  EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(StreamOverHttp, AMissingUrlFailsTheOpenWithItsMessage) {
  auto s = std::make_unique<InputStream>();
  EXPECT_FALSE(openStream(*s, server_.url("/nothing-here.mp3")));
  const auto boxes = recorder_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Internet Error Message...");
  EXPECT_NE(boxes[0].text.find("404"), std::string::npos);
}

TEST_F(StreamOverHttp, KuvDecodeDescribesAUrl) {
  serveFile("/vbr.mp3", "vbr.mp3");
  std::string output;
  FILE* pipe = popen((std::string(KUV_DECODE_BIN) + " --info " + server_.url("/vbr.mp3") + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[1024];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  EXPECT_EQ(pclose(pipe), 0) << output;
  EXPECT_NE(output.find("frames: 461"), std::string::npos) << output;
  EXPECT_NE(output.find("bit rate: VBR"), std::string::npos) << output;
  EXPECT_NE(output.find("duration: 0:12.042"), std::string::npos) << output;
}

}  // namespace
}  // namespace kuv
