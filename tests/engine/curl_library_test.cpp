#include "engine/curl_library.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/http_test_server.h"
#include "support/test_support.h"

namespace kuv {
namespace {

std::vector<const void*> entriesOf(const CurlLibrary& lib) {
  return {reinterpret_cast<const void*>(lib.global_init),         reinterpret_cast<const void*>(lib.easy_init),
          reinterpret_cast<const void*>(lib.easy_setopt),         reinterpret_cast<const void*>(lib.easy_getinfo),
          reinterpret_cast<const void*>(lib.easy_strerror),       reinterpret_cast<const void*>(lib.easy_cleanup),
          reinterpret_cast<const void*>(lib.multi_init),          reinterpret_cast<const void*>(lib.multi_add_handle),
          reinterpret_cast<const void*>(lib.multi_remove_handle), reinterpret_cast<const void*>(lib.multi_perform),
          reinterpret_cast<const void*>(lib.multi_poll),          reinterpret_cast<const void*>(lib.multi_wakeup),
          reinterpret_cast<const void*>(lib.multi_info_read),     reinterpret_cast<const void*>(lib.multi_strerror),
          reinterpret_cast<const void*>(lib.multi_cleanup),       reinterpret_cast<const void*>(lib.slist_append),
          reinterpret_cast<const void*>(lib.slist_free_all)};
}

// A library that is there fills every entry; one that is missing, or is
// not libcurl, fills none and names the file and what failed.
TEST(CurlLibrary, OpensLibcurlAndNamesWhatIsMissingOtherwise) {
  struct Case {
    const char* file;
    bool opens;
    const char* reason;  // start of the error text when it does not open
  };
  const Case cases[] = {
      {kCurlLibraryName, true, ""},
      {"libkuv-no-such-curl.so.4", false, "libkuv-no-such-curl.so.4 could not be loaded: "},
      {"libm.so.6", false, "libm.so.6 lacks curl_global_init"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CurlLibrary lib;
    std::string error;
    ASSERT_EQ(openCurlLibrary(c.file, lib, error), c.opens) << error;
    EXPECT_EQ(lib.handle != nullptr, c.opens);
    for (const void* entry : entriesOf(lib)) EXPECT_EQ(entry != nullptr, c.opens);
    if (c.opens) {
      EXPECT_STREQ(lib.easy_strerror(CURLE_OK), "No error");
    } else {
      EXPECT_EQ(error.rfind(c.reason, 0), 0u) << error;
    }
  }
}

// What the user sees when libcurl cannot be had: the URL fails with the
// Internet error and the reason, the program ends normally, and local files
// are not affected. Run as a separate process, as the library is loaded
// once per process.
TEST(CurlLibrary, AnUnusableLibraryFailsOnlyTheUrlWithItsReason) {
  test::HttpTestServer server;
  ASSERT_TRUE(server.ok());
  test::HttpRoute route;
  route.body = test::readFile(test::fixturePath("vbr.mp3"));
  server.route("/vbr.mp3", route);
  const std::string url = server.url("/vbr.mp3");
  struct Case {
    const char* library;  // KUV_LIBCURL; empty: the real one
    int status;
    std::string expected;
  };
  const Case cases[] = {
      {"", 0, "frames: 461"},
      {"libkuv-no-such-curl.so.4", 1,
       "Internet Error Message...: Could not open " + url + "\nlibkuv-no-such-curl.so.4 could not be loaded: "},
      {"libm.so.6", 1, "Internet Error Message...: Could not open " + url + "\nlibm.so.6 lacks curl_global_init"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    const std::string command = std::string(kCurlLibraryEnv) + "='" + c.library + "' " + KUV_DECODE_BIN + " --info " +
                                url + " '" + test::fixturePath("cbr.mp3") + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[1024];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << output;
    EXPECT_NE(output.find(c.expected), std::string::npos) << output;
    // The local file after the URL is described all the same.
    EXPECT_NE(output.find("cbr.mp3"), std::string::npos) << output;
  }
}

}  // namespace
}  // namespace kuv
