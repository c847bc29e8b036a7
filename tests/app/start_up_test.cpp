// The start's decisions: display probing, and requests
// that arrive before the window exists.
#include "app/start_up.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace kuv {
namespace {

// A listening Unix socket at a file path or abstract name; -1 on failure.
int listenAt(const std::string& path, bool abstractName) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t offset = abstractName ? 1 : 0;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstractName ? 0 : 1));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(StartUp, DisplayValuesAreParsedOrRefused) {
  const struct {
    const char* value;
    bool ok;
    const char* host;
    const char* socketPath;
    int32_t number;
  } cases[] = {
      {":0", true, "", "", 0},
      {":12.1", true, "", "", 12},
      {"unix:3", true, "unix", "", 3},
      {"remote.example:10.0", true, "remote.example", "", 10},
      {"[::1]:1", true, "[::1]", "", 1},
      {"/tmp/launch-x/org.xquartz:0", true, "", "/tmp/launch-x/org.xquartz", 0},
      {"", false, "", "", 0},
      {"0", false, "", "", 0},
      {":", false, "", "", 0},
      {":x", false, "", "", 0},
      {":.1", false, "", "", 0},
      {"host::0", false, "", "", 0},
      {":99999", false, "", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    XDisplayAddress a;
    ASSERT_EQ(parseXDisplay(c.value, a), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.socketPath, c.socketPath);
    EXPECT_EQ(a.number, c.number);
  }
}

TEST(StartUp, DisplayIsChosenOnlyWhereItAnswers) {
  const struct {
    const char* what;
    DisplayEnvironment env;
    bool xAnswers, waylandAnswers;
    bool usable;
    const char* platform;
    const char* reason;
  } cases[] = {
      {"nothing named", {}, true, true, false, "", "There is no display here"},
      {"X answers", {":1", "", "", ""}, true, false, true, "", ""},
      {"X silent", {":1", "", "", ""}, false, false, false, "", "The display \":1\" cannot be reached"},
      {"both answer: X preferred", {":1", "wayland-0", "/run", ""}, true, true, true, "xcb", ""},
      {"X silent under Wayland", {":1", "wayland-0", "/run", ""}, false, true, true, "wayland", ""},
      {"Wayland alone", {"", "wayland-0", "/run", ""}, false, true, true, "wayland", ""},
      {"Wayland silent",
       {"", "wayland-0", "/run", ""},
       true,
       false,
       false,
       "",
       "The Wayland display \"wayland-0\" cannot be reached"},
      {"both silent", {":1", "wayland-0", "/run", ""}, false, false, false, "", "The display \":1\" cannot be reached"},
      {"user's xcb is probed",
       {":1", "wayland-0", "/run", "xcb"},
       false,
       true,
       false,
       "",
       "The display \":1\" cannot be reached"},
      {"user's wayland is probed",
       {":1", "wayland-0", "/run", "wayland"},
       true,
       false,
       false,
       "",
       "The Wayland display \"wayland-0\" cannot be reached"},
      {"user's wayland kept", {":1", "wayland-0", "/run", "wayland"}, true, true, true, "", ""},
      {"offscreen needs no server", {"", "", "", "offscreen"}, false, false, true, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const DisplayChoice choice = chooseDisplay(
        c.env, [&](const std::string&) { return c.xAnswers; },
        [&](const DisplayEnvironment&) { return c.waylandAnswers; });
    EXPECT_EQ(choice.usable, c.usable);
    EXPECT_EQ(choice.platform, c.platform);
    EXPECT_EQ(choice.reason, c.reason);
  }
}

TEST(StartUp, ProbesConnectToTheServersSockets) {
  const int number = 4000 + static_cast<int>(getpid() % 1000);
  const std::string display = ":" + std::to_string(number);
  const std::string xPath = "/tmp/.X11-unix/X" + std::to_string(number);
  EXPECT_FALSE(xDisplayReachable(display));
  int fd = listenAt(xPath, true);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(xDisplayReachable(display));
  EXPECT_TRUE(xDisplayReachable("unix" + display + ".0"));
  ::close(fd);
  EXPECT_FALSE(xDisplayReachable(display));

  const std::string dir = test::makeTempFolder();
  const std::string socket = dir + "/org.x";
  fd = listenAt(socket, false);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(xDisplayReachable(socket + ":0"));
  EXPECT_FALSE(xDisplayReachable(dir + "/none:0"));
  EXPECT_TRUE(waylandReachable({"", "org.x", dir, ""}));
  EXPECT_TRUE(waylandReachable({"", socket, "", ""}));
  EXPECT_FALSE(waylandReachable({"", "wayland-9", dir, ""}));
  EXPECT_FALSE(waylandReachable({"", "org.x", "", ""}));
  ::close(fd);
  test::removeTree(dir);
}

TEST(StartUp, RequestsWaitForTheWindowOrAreTurnedAway) {
  {
    StartGate gate;
    auto waiter = std::async(std::launch::async, [&] { return gate.wait(); });
    gate.open();
    EXPECT_TRUE(waiter.get());
    EXPECT_TRUE(gate.wait());  // later requests pass at once
    gate.close();              // the window has gone
    EXPECT_FALSE(gate.wait());
    gate.open();  // nothing opens a closed gate again
    EXPECT_FALSE(gate.wait());
  }
  {
    StartGate gate;
    auto waiter = std::async(std::launch::async, [&] { return gate.wait(); });
    gate.close();  // the start gave up before its window
    EXPECT_FALSE(waiter.get());
  }
}

}  // namespace
}  // namespace kuv
