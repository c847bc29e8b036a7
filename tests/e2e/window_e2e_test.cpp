// The player window end to end: kuv runs in a private Xvfb, plays into a
// FIFO drained at the pace of a sound card, and is driven with the mouse the
// way a person would, through xdotool; `kuv --query` reads what it does.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/desktop.h"
#include "output/paced_reader.h"
#include "platform/ini_file.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "support/http_test_server.h"
#include "support/test_support.h"
#include "ui/x11_shm_panel.h"

namespace {

using namespace std::chrono_literals;
using kuv::e2e::Child;
using kuv::e2e::Environment;
using kuv::e2e::Geometry;
using kuv::e2e::Pointer;
using kuv::e2e::Rgb;
using kuv::e2e::RunResult;
using kuv::e2e::Screenshot;
using kuv::e2e::waitFor;
using kuv::e2e::XServer;

constexpr char kTitlePattern[] = "^KUV 0\\.94$";
constexpr uint32_t kCdBytesPerSecond = 44100 * 4;

// Button centres in window coordinates.
constexpr int kCloseX = 8, kCloseY = 8;
constexpr int kPlayX = 57, kPauseX = 81, kStopX = 104, kNextX = 147, kTransportY = 94;

std::string samplePath() { return std::string(KUV_SOURCE_DIR) + "/resources/samples/kuv-sample.mp3"; }

std::string trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string describe(const RunResult& r) {
  return "status " + std::to_string(r.status) + (r.timedOut ? " (timed out)" : "") + ", stdout \"" + trim(r.out) +
         "\", stderr \"" + trim(r.err) + "\"";
}

std::string describe(const Rgb& c) {
  return "rgb(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

// Environment for kuv and its helpers: the test's own folders for settings
// and ALSA's configuration, nothing of the user's session.
Environment baseEnvironment(const std::string& folder) {
  const Environment outer = kuv::e2e::currentEnvironment();
  Environment env;
  env["PATH"] = outer.count("PATH") ? outer.at("PATH") : "/usr/bin:/bin";
  env["HOME"] = folder + "/home";
  env["XDG_CONFIG_HOME"] = folder + "/config";
  env["XDG_RUNTIME_DIR"] = folder + "/run";
  env["LANG"] = "C.UTF-8";
  // Without a session bus Qt would launch one per start, outliving the test.
  env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + folder + "/no-session-bus";
  return env;
}

// Everything that a freshly started kuv needs, and one kuv at a time.
class KuvSession {
 public:
  bool prepare(std::string* error) {
    folder_ = kuv::test::makeTempFolder();
    if (folder_.empty()) {
      *error = "no temporary folder";
      return false;
    }
    for (const char* sub : {"/home", "/config", "/config/kuv", "/run"}) {
      const std::string path = folder_ + sub;
      if (std::system(("mkdir -p -m 700 '" + path + "'").c_str()) != 0) {
        *error = "cannot make " + path;
        return false;
      }
    }
    // The `file` PCM writes into a FIFO that the test drains at 44.1 kHz
    // stereo, so kuv plays in real time without a sound card.
    const std::string asoundrc =
        "pcm.!default {\n"
        "  type plug\n"
        "  slave {\n"
        "    pcm { type file slave.pcm \"null\" file \"" +
        folder_ +
        "/paced.fifo\" format \"raw\" }\n"
        "    format S16_LE rate 44100 channels 2\n"
        "  }\n"
        "}\n";
    const std::string ini =
        "[kuv]\n"
        "ShowSplashScreen=0\n"
        "WindowX=100\n"
        "WindowY=100\n"
        "MultipleInstances=0\n"
        "EasyMove=0\n"
        "WinMMOutputDev=4294967295\n"
        "AudioOutputSystem=0\n";
    if (!kuv::test::writeFile(folder_ + "/home/.asoundrc", asoundrc) || !kuv::test::writeFile(iniPath(), ini)) {
      *error = "cannot write the settings";
      return false;
    }
    sink_ = std::make_unique<kuv::test::PacedReader>(folder_ + "/paced.fifo", kCdBytesPerSecond);
    if (!sink_->ok()) {
      *error = "cannot make the FIFO the sound goes into";
      return false;
    }
    return true;
  }

  ~KuvSession() {
    kuv_.stop();
    sink_.reset();
    kuv::test::removeTree(folder_);
  }

  Environment environment(const std::string& display) const {
    Environment env = baseEnvironment(folder_);
    env["DISPLAY"] = display;
    env["QT_QPA_PLATFORM"] = "xcb";
    return env;
  }

  std::string iniPath() const { return folder_ + "/config/kuv/kuv.ini"; }
  const std::string& folder() const { return folder_; }

  bool start(const Environment& env, const std::vector<std::string>& names) {
    std::vector<std::string> argv{KUV_BIN};
    argv.insert(argv.end(), names.begin(), names.end());
    const std::string log = folder_ + "/kuv-" + std::to_string(logs_.size() + 1) + ".stderr";
    logs_.push_back(log);
    return kuv_.start(argv, env, folder_ + "/kuv.stdout", log);
  }

  Child& process() { return kuv_; }

  // What every kuv started here printed on stderr.
  std::string logs() const {
    std::string text;
    for (const std::string& log : logs_) {
      const std::string body = kuv::test::readFile(log);
      text += "--- " + log + (body.empty() ? " (empty)\n" : ":\n" + body);
    }
    return text;
  }

 private:
  std::string folder_;
  std::unique_ptr<kuv::test::PacedReader> sink_;
  Child kuv_;
  std::vector<std::string> logs_;
};

// Asks the running kuv; the printed answer, or nothing when it did not answer.
std::string query(const Environment& env, const std::string& name) {
  const RunResult r = kuv::e2e::run({KUV_BIN, "--query", name}, env, 10s);
  return r.status == 0 ? trim(r.out) : std::string();
}

// Fails the calling test when another kuv of this user answers: the tests
// would talk to it instead of their own. Only possible where the test could
// not get a network namespace of its own.
::testing::AssertionResult noOtherKuvRuns(const Environment& env) {
  const RunResult r = kuv::e2e::run({KUV_BIN, "--query", "state"}, env, 10s);
  if (r.status == 1) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "a kuv of this user is already running (kuv --query state: " << describe(r)
                                       << "); close it before running these tests";
}

int framesOf(const std::string& path, const std::string& folder) {
  const RunResult r = kuv::e2e::run({KUV_DECODE_BIN, "--info", path}, baseEnvironment(folder), 60s);
  const size_t at = r.out.find("frames:");
  return at == std::string::npos ? -1 : std::atoi(r.out.c_str() + at + 7);
}

class KuvWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kuv::e2e::isolateAbstractSockets();
    server_ = new XServer;
    serverError_ = new std::string;
    if (!server_->start(serverError_)) {
      delete server_;
      server_ = nullptr;
    }
  }

  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    delete serverError_;
    serverError_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(server_, nullptr) << *serverError_;
    std::string error;
    ASSERT_TRUE(session_.prepare(&error)) << error;
    env_ = session_.environment(server_->display());
    pointer_ = std::make_unique<Pointer>(env_);
    ASSERT_TRUE(noOtherKuvRuns(env_));
  }

  void TearDown() override {
    if (HasFailure()) std::fprintf(stderr, "What kuv printed on stderr:\n%s", session_.logs().c_str());
  }

  // Starts kuv and waits for its window; the window id, or empty.
  std::string startWindow(const std::vector<std::string>& names) {
    if (!session_.start(env_, names)) {
      ADD_FAILURE() << "cannot start " << KUV_BIN;
      return {};
    }
    std::string id;
    const bool shown = waitFor(
        [&] {
          const std::vector<std::string> ids = pointer_->windowsNamed(kTitlePattern);
          if (!ids.empty()) id = ids.front();
          return !ids.empty() || !session_.process().running();
        },
        20s, 200ms);
    if (!shown || id.empty()) {
      ADD_FAILURE() << "no visible window titled \"KUV 0.94\" within 20 s"
                    << (session_.process().running() ? "" : "; kuv ended");
      return {};
    }
    return id;
  }

  // The first visible window whose title matches, once there is one; empty
  // after the timeout.
  std::string waitForWindowNamed(const std::string& pattern, std::chrono::milliseconds timeout = 10s) {
    std::string id;
    waitFor(
        [&] {
          const std::vector<std::string> ids = pointer_->windowsNamed(pattern);
          if (!ids.empty()) id = ids.front();
          return !ids.empty();
        },
        timeout);
    return id;
  }

  ::testing::AssertionResult queryBecomes(const std::string& name, const std::string& expected,
                                          std::chrono::milliseconds timeout = 10s) {
    std::string last;
    if (waitFor([&] { return (last = query(env_, name)) == expected; }, timeout)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "kuv --query " << name << " answered \"" << last << "\", not \"" << expected
                                         << "\" within " << timeout.count() << " ms";
  }

  ::testing::AssertionResult exitsWithZero(std::chrono::milliseconds timeout = 10s) {
    const std::optional<int> status = session_.process().wait(timeout);
    if (!status) return ::testing::AssertionFailure() << "kuv did not end within " << timeout.count() << " ms";
    if (*status != 0) return ::testing::AssertionFailure() << "kuv ended with status " << *status;
    return ::testing::AssertionSuccess();
  }

  Geometry geometryOf(const std::string& window) {
    const std::optional<Geometry> g = pointer_->geometry(window);
    EXPECT_TRUE(g.has_value()) << "xdotool getwindowgeometry " << window << " failed";
    return g.value_or(Geometry{});
  }

  // Waits until the window at (x, y) has been drawn, then checks that the
  // parts its shape leaves out show the white root and the skin does not.
  void expectShapeAt(int x, int y) {
    Screenshot shot;
    std::string error;
    const bool drawn = waitFor(
        [&] { return shot.take(env_, session_.folder(), &error) && !shot.at(x + 200, y + 50).white(); }, 10s, 200ms);
    ASSERT_TRUE(drawn) << "the window at " << x << "," << y << " was not drawn within 10 s " << error;
    struct Probe {
      int x, y;
      bool outside;
      const char* what;
    } probes[] = {
        {60, 3, true, "the notch in the top edge"},  {60, 15, true, "the closed slot"},
        {128, 114, true, "the rows below the skin"}, {10, 10, false, "the Close button"},
        {200, 50, false, "the skin's face"},
    };
    for (const Probe& probe : probes) {
      const Rgb colour = shot.at(x + probe.x, y + probe.y);
      if (probe.outside)
        EXPECT_TRUE(colour.white()) << probe.what << " at window (" << probe.x << "," << probe.y
                                    << ") should show the white root, reads " << describe(colour);
      else
        EXPECT_FALSE(colour.white()) << probe.what << " at window (" << probe.x << "," << probe.y
                                     << ") should be skin, reads white";
    }
  }

  static XServer* server_;
  static std::string* serverError_;
  KuvSession session_;
  Environment env_;
  std::unique_ptr<Pointer> pointer_;
};

XServer* KuvWindowTest::server_ = nullptr;
std::string* KuvWindowTest::serverError_ = nullptr;

TEST_F(KuvWindowTest, TransportButtonsDriveThePlayback) {
  const std::string window = startWindow({samplePath()});
  ASSERT_FALSE(window.empty());
  const Geometry g = geometryOf(window);
  EXPECT_EQ(g.width, 256);
  EXPECT_EQ(g.height, 116);

  ASSERT_TRUE(queryBecomes("state", "0", 20s));
  // The track lasts 11 s: pause before it can end, and look at it then.
  ASSERT_TRUE(pointer_->click(window, kPauseX, kTransportY));
  ASSERT_TRUE(queryBecomes("state", "1"));
  const std::string frames = query(env_, "total-frames");
  EXPECT_GT(std::atoi(frames.c_str()), 0) << "total-frames: \"" << frames << "\"";
  EXPECT_EQ(query(env_, "sample-rate"), "44100");

  ASSERT_TRUE(pointer_->click(window, kPlayX, kTransportY));
  ASSERT_TRUE(queryBecomes("state", "0"));
  ASSERT_TRUE(pointer_->click(window, kStopX, kTransportY));
  ASSERT_TRUE(queryBecomes("state", "2"));

  // A press on Play that is let go elsewhere does not play.
  ASSERT_TRUE(pointer_->xdotool({"mousemove", "--window", window, std::to_string(kPlayX), std::to_string(kTransportY),
                                 "mousedown", "1", "mousemove", "--window", window, "200", "100", "mouseup", "1"}));
  std::string seen;
  const bool changed = waitFor([&] { return (seen = query(env_, "state")) != "2"; }, 1s);
  EXPECT_FALSE(changed) << "a press on Play released outside it: kuv --query state answered \"" << seen << "\"";

  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

// The editor is wired to the player: opened from the context menu, a
// double-click plays its line, the Delete key and Save List act on the list.
TEST_F(KuvWindowTest, PlaylistEditorPlaysDeletesAndSaves) {
  const std::string window = startWindow(
      {kuv::test::fixturePath("cbr.mp3"), kuv::test::fixturePath("mono.mp3"), kuv::test::fixturePath("l2_16k.mp2")});
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(queryBecomes("sample-rate", "44100", 20s));
  // The context menu's third item, once the menu shows.
  const size_t before = pointer_->windowsNamed(".*").size();
  ASSERT_TRUE(pointer_->xdotool({"mousemove", "--window", window, "120", "100", "click", "3"}));
  ASSERT_TRUE(waitFor([&] { return pointer_->windowsNamed(".*").size() > before; }, 10s)) << "no menu showed";
  ASSERT_TRUE(pointer_->xdotool({"key", "Down", "Down", "Down", "Return"}));
  const std::string editor = waitForWindowNamed("^KUV Playlist Editor$");
  ASSERT_FALSE(editor.empty()) << "the editor did not open";
  // The last line moved up twice with the Up button (the tenth stop from
  // the list), then double-clicked where it landed: the first line.
  ASSERT_TRUE(pointer_->xdotool({"windowfocus", "--sync", editor, "key", "End", "Tab", "Tab", "Tab", "Tab", "Tab",
                                 "Tab", "Tab", "Tab", "Tab", "space", "space"}));
  ASSERT_TRUE(pointer_->xdotool({"mousemove", "--window", editor, "40", "12", "click", "--repeat", "2", "1"}));
  ASSERT_TRUE(queryBecomes("sample-rate", "16000", 20s));

  // Delete takes the clicked line away; Save List writes what is left.
  ASSERT_TRUE(pointer_->xdotool({"mousemove", "--window", editor, "40", "12", "click", "1", "key", "Delete"}));
  const std::string saved = session_.folder() + "/saved.pls";
  ASSERT_TRUE(
      pointer_->xdotool({"mousemove", "--window", editor, "40", "12", "click", "1", "key", "Tab", "Tab", "space"}));
  const std::string dialog = waitForWindowNamed("^Save As$");
  ASSERT_FALSE(dialog.empty()) << "Save List showed no save dialog";
  ASSERT_TRUE(pointer_->xdotool({"windowfocus", "--sync", dialog, "type", "--delay", "20", saved}));
  ASSERT_TRUE(pointer_->xdotool({"windowfocus", "--sync", dialog, "key", "Return"}));
  ASSERT_TRUE(waitFor([&] { return kuv::test::fileExists(saved); }, 10s)) << "Save List wrote no " << saved;
  kuv::clearPlaylist();
  EXPECT_EQ(kuv::loadPls(saved), 1);
  std::vector<std::string> paths;
  for (int32_t i = 0; kuv::PlaylistEntry* e = kuv::entryAt(i); ++i) paths.push_back(e->path);
  EXPECT_EQ(paths, (std::vector<std::string>{kuv::test::fixturePath("cbr.mp3"), kuv::test::fixturePath("mono.mp3")}));
  kuv::clearPlaylist();

  // Closing the player with the editor open ends both.
  ASSERT_TRUE(pointer_->xdotool({"windowraise", window}));
  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

TEST_F(KuvWindowTest, SecondStartHandsOverItsNames) {
  // Another rate than the sample's, so stale track details show.
  const std::string other = kuv::test::fixturePath("mpeg2.mp3");
  const int otherFrames = framesOf(other, session_.folder());
  ASSERT_GT(otherFrames, 0) << "kuv-decode --info " << other << " gave no frame count";

  const std::string window = startWindow({samplePath()});
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(queryBecomes("state", "0", 20s));

  const RunResult second = kuv::e2e::run({KUV_BIN, other}, env_, 10s);
  ASSERT_EQ(second.status, 0) << "the second kuv: " << describe(second);
  ASSERT_TRUE(queryBecomes("total-frames", std::to_string(otherFrames)));
  ASSERT_TRUE(queryBecomes("state", "0"));
  EXPECT_EQ(query(env_, "sample-rate"), "22050");
  EXPECT_EQ(query(env_, "layer"), "3");
  EXPECT_EQ(pointer_->windowsNamed(kTitlePattern).size(), 1u) << "the second kuv opened a window of its own";

  // Paused, nothing changes by itself while a start without names runs.
  ASSERT_TRUE(pointer_->click(window, kPauseX, kTransportY));
  ASSERT_TRUE(queryBecomes("state", "1"));
  const RunResult bare = kuv::e2e::run({KUV_BIN}, env_, 10s);
  EXPECT_EQ(bare.status, 0) << "kuv without names: " << describe(bare);
  EXPECT_EQ(query(env_, "state"), "1");
  EXPECT_EQ(query(env_, "total-frames"), std::to_string(otherFrames));
  EXPECT_EQ(pointer_->windowsNamed(kTitlePattern).size(), 1u);
  EXPECT_TRUE(session_.process().running());

  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

TEST_F(KuvWindowTest, SecondStartDuringAnErrorBoxKeepsItsFile) {
  const std::string other = kuv::test::fixturePath("mpeg2.mp3");
  const int otherFrames = framesOf(other, session_.folder());
  ASSERT_GT(otherFrames, 0) << "kuv-decode --info " << other << " gave no frame count";

  // The first start stops at a box about a missing name, before its window.
  ASSERT_TRUE(session_.start(env_, {session_.folder() + "/missing.mp3", samplePath()}));
  std::string box;
  ASSERT_TRUE(waitFor(
      [&] {
        const std::vector<std::string> ids = pointer_->windowsNamed("^Error\\.\\.\\.$");
        if (!ids.empty()) box = ids.front();
        return !box.empty();
      },
      20s, 200ms))
      << "no error box about the missing name";
  ASSERT_TRUE(pointer_->windowsNamed(kTitlePattern).empty());

  // The second start waits for it, however long the box stays open...
  Child second;
  const std::string secondErr = session_.folder() + "/second.stderr";
  ASSERT_TRUE(second.start({KUV_BIN, other}, env_, "", secondErr));
  ASSERT_TRUE(waitFor([&] { return kuv::test::readFile(secondErr).find("waiting") != std::string::npos; }, 20s))
      << "the second start did not say it waits: " << kuv::test::readFile(secondErr);
  EXPECT_TRUE(second.running());

  // ...and once the box is answered, its file is the one that plays.
  ASSERT_TRUE(pointer_->xdotool({"windowfocus", "--sync", box, "key", "Return"}));
  const std::optional<int> status = second.wait(20s);
  ASSERT_TRUE(status.has_value()) << "the second start did not end once the box was answered";
  EXPECT_EQ(*status, 0) << kuv::test::readFile(secondErr);
  ASSERT_TRUE(queryBecomes("total-frames", std::to_string(otherFrames), 20s));
  ASSERT_TRUE(queryBecomes("state", "0"));
  EXPECT_EQ(pointer_->windowsNamed(kTitlePattern).size(), 1u) << "the second kuv opened a window of its own";

  const std::vector<std::string> windows = pointer_->windowsNamed(kTitlePattern);
  ASSERT_FALSE(windows.empty());
  ASSERT_TRUE(pointer_->click(windows.front(), kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

TEST_F(KuvWindowTest, NextWhilePausedPlaysTheNextTrackAndPauseWorksOnIt) {
  const std::string other = kuv::test::fixturePath("mpeg2.mp3");
  const int otherFrames = framesOf(other, session_.folder());
  ASSERT_GT(otherFrames, 0) << "kuv-decode --info " << other << " gave no frame count";
  const std::string window = startWindow({samplePath(), other});
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(queryBecomes("state", "0", 20s));
  ASSERT_TRUE(pointer_->click(window, kPauseX, kTransportY));
  ASSERT_TRUE(queryBecomes("state", "1"));

  ASSERT_TRUE(pointer_->click(window, kNextX, kTransportY));
  ASSERT_TRUE(queryBecomes("total-frames", std::to_string(otherFrames)));
  ASSERT_TRUE(queryBecomes("state", "0"));
  EXPECT_EQ(query(env_, "sample-rate"), "22050");
  ASSERT_TRUE(pointer_->click(window, kPauseX, kTransportY));
  ASSERT_TRUE(queryBecomes("state", "1")) << "Pause does nothing on the track that Next started";

  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

// With a window manager: what only a managed desktop shows.
class KuvManagedWindowTest : public KuvWindowTest {
 protected:
  static void SetUpTestSuite() {
    KuvWindowTest::SetUpTestSuite();
    if (!server_) return;
    wmFolder_ = new std::string(kuv::test::makeTempFolder());
    Environment env = baseEnvironment(*wmFolder_);
    env["DISPLAY"] = server_->display();
    wm_ = new Child;
    if (!wm_->start({"openbox"}, env)) return;
    // The manager announces itself on the root window once it runs.
    waitFor(
        [&] {
          return kuv::e2e::run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, env).out.find("window id") !=
                 std::string::npos;
        },
        20s, 200ms);
  }
  static void TearDownTestSuite() {
    delete wm_;  // stops it
    wm_ = nullptr;
    if (wmFolder_) kuv::test::removeTree(*wmFolder_);
    delete wmFolder_;
    wmFolder_ = nullptr;
    KuvWindowTest::TearDownTestSuite();
  }
  void SetUp() override {
    KuvWindowTest::SetUp();
    ASSERT_TRUE(wm_ && wm_->running()) << "openbox did not start";
  }

  static Child* wm_;
  static std::string* wmFolder_;
};

Child* KuvManagedWindowTest::wm_ = nullptr;
std::string* KuvManagedWindowTest::wmFolder_ = nullptr;

TEST_F(KuvManagedWindowTest, APlaceOffScreenComesBackAndASecondStartRestoresTheWindow) {
  // Saved on a monitor that is gone: the window comes back onto the screen.
  std::string ini = kuv::test::readFile(session_.iniPath());
  ini.replace(ini.find("WindowX=100"), 11, "WindowX=9000");
  ini.replace(ini.find("WindowY=100"), 11, "WindowY=-900");
  ASSERT_TRUE(kuv::test::writeFile(session_.iniPath(), ini));
  const std::string window = startWindow({});
  ASSERT_FALSE(window.empty());
  const RunResult screen = kuv::e2e::run({"xdotool", "getdisplaygeometry"}, env_);
  int screenWidth = 0, screenHeight = 0;
  ASSERT_EQ(std::sscanf(screen.out.c_str(), "%d %d", &screenWidth, &screenHeight), 2) << describe(screen);
  const Geometry g = geometryOf(window);
  EXPECT_GE(g.x, 0);
  EXPECT_GE(g.y, 0);
  EXPECT_LE(g.x + g.width, screenWidth);
  EXPECT_LE(g.y + g.height, screenHeight);

  // Minimised, then started again with nothing to play: it comes back.
  ASSERT_TRUE(pointer_->xdotool({"windowminimize", "--sync", window}));
  ASSERT_TRUE(waitFor([&] { return pointer_->windowsNamed(kTitlePattern).empty(); }, 10s))
      << "the window did not minimise";
  const RunResult again = kuv::e2e::run({KUV_BIN}, env_, 20s);
  EXPECT_EQ(again.status, 0) << describe(again);
  EXPECT_TRUE(waitFor([&] { return !pointer_->windowsNamed(kTitlePattern).empty(); }, 10s))
      << "a second start left the window minimised";

  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

// Minimised with MinimizeLocation 1 and a tray there (trayer), the window
// hides and kuv's icon shows in the tray; a double click on the icon brings
// the window back and takes the icon away.
TEST_F(KuvManagedWindowTest, MinimisedToTheTrayADoubleClickRestores) {
  ASSERT_TRUE(kuv::platform::writeProfileString("kuv", "MinimizeLocation", "1", session_.iniPath()));
  Child tray;
  ASSERT_TRUE(tray.start({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "32",
                          "--transparent", "false"},
                         env_));
  // The tray takes the system-tray selection once it runs.
  ASSERT_TRUE(waitFor(
      [&] {
        return kuv::e2e::run({"xdotool", "search", "--onlyvisible", "--name", "^panel$"}, env_).status == 0;
      },
      20s, 200ms))
      << "trayer did not show";
  const std::string window = startWindow({});
  ASSERT_FALSE(window.empty());
  // kuv's visible windows other than the main one: the icon.
  const std::string pid = std::to_string(session_.process().pid());
  auto icons = [&] {
    std::vector<std::string> found;
    std::istringstream ids(kuv::e2e::run({"xdotool", "search", "--onlyvisible", "--pid", pid}, env_).out);
    for (std::string id; ids >> id;)
      if (id != window) found.push_back(id);
    return found;
  };
  EXPECT_TRUE(icons().empty()) << "an icon before minimising";

  ASSERT_TRUE(pointer_->xdotool({"windowminimize", "--sync", window}));
  EXPECT_TRUE(waitFor([&] { return pointer_->windowsNamed(kTitlePattern).empty(); }, 10s))
      << "minimised to the tray, the window still shows";
  std::vector<std::string> shown;
  ASSERT_TRUE(waitFor([&] { return !(shown = icons()).empty(); }, 10s)) << "no icon in the tray";

  const std::string icon = shown.front();
  // Held for longer than half a second, a press opens the controller.
  ASSERT_TRUE(
      pointer_->xdotool({"mousemove", "--window", icon, "4", "4", "mousedown", "1", "sleep", "0.8", "mouseup", "1"}));
  EXPECT_TRUE(waitFor([&] { return icons().size() == 2; }, 10s)) << "holding the icon opened no controller";
  // A click anywhere else closes it.
  ASSERT_TRUE(pointer_->xdotool({"mousemove", "300", "300", "click", "1"}));
  EXPECT_TRUE(waitFor([&] { return icons().size() == 1; }, 10s)) << "the controller stayed after a click elsewhere";

  ASSERT_TRUE(
      pointer_->xdotool({"mousemove", "--window", icon, "4", "4", "click", "--repeat", "2", "--delay", "60", "1"}));
  EXPECT_TRUE(waitFor([&] { return !pointer_->windowsNamed(kTitlePattern).empty(); }, 10s))
      << "a double click on the icon did not bring the window back";
  EXPECT_TRUE(waitFor([&] { return icons().empty(); }, 10s)) << "the icon stayed in the tray";

  const std::string back = waitForWindowNamed(kTitlePattern);
  ASSERT_FALSE(back.empty());
  ASSERT_TRUE(pointer_->click(back, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

TEST_F(KuvWindowTest, DraggedWindowKeepsItsShapeAndPlace) {
  std::string window = startWindow({});
  ASSERT_FALSE(window.empty());
  Geometry g = geometryOf(window);
  ASSERT_EQ(g.x, 100);
  ASSERT_EQ(g.y, 100);
  expectShapeAt(g.x, g.y);

  // Pressed on the title strip, the window follows the pointer.
  const int fromX = g.x + 150, fromY = g.y + 10;
  std::vector<std::string> drag{"mousemove", std::to_string(fromX), std::to_string(fromY), "mousedown", "1"};
  for (int step = 1; step <= 12; ++step) {
    drag.insert(drag.end(),
                {"sleep", "0.03", "mousemove", std::to_string(fromX + 10 * step), std::to_string(fromY + 5 * step)});
  }
  drag.insert(drag.end(), {"sleep", "0.1", "mouseup", "1"});
  ASSERT_TRUE(pointer_->xdotool(drag));
  const int wantX = g.x + 120, wantY = g.y + 60;
  waitFor(
      [&] {
        const std::optional<Geometry> now = pointer_->geometry(window);
        return now && std::abs(now->x - wantX) <= 2 && std::abs(now->y - wantY) <= 2;
      },
      5s);
  const Geometry moved = geometryOf(window);
  EXPECT_NEAR(moved.x, wantX, 2);
  EXPECT_NEAR(moved.y, wantY, 2);
  expectShapeAt(moved.x, moved.y);

  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  ASSERT_TRUE(exitsWithZero());
  EXPECT_EQ(kuv::platform::getProfileInt("kuv", "WindowX", -9999, session_.iniPath()), moved.x);
  EXPECT_EQ(kuv::platform::getProfileInt("kuv", "WindowY", -9999, session_.iniPath()), moved.y);

  // The next start opens where the last one was closed.
  window = startWindow({});
  ASSERT_FALSE(window.empty());
  g = geometryOf(window);
  EXPECT_EQ(g.x, moved.x);
  EXPECT_EQ(g.y, moved.y);
  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

// Always On Top changes the live window's stacking hint: the window is
// never unmapped or destroyed (a taskbar would see it vanish).
TEST_F(KuvWindowTest, AlwaysOnTopKeepsTheSameLiveWindow) {
  const std::string window = startWindow({});
  ASSERT_FALSE(window.empty());
  Geometry g = geometryOf(window);
  // The button's pixels, to see each toggle arrive.
  constexpr int kTopLeft = 5, kTopTop = 52, kTopRight = 19, kTopBottom = 65;
  Screenshot shot;
  std::string error;
  auto buttonLook = [&] {
    std::vector<int> look;
    for (int y = kTopTop; y < kTopBottom; ++y)
      for (int x = kTopLeft; x < kTopRight; ++x) {
        const Rgb c = shot.at(g.x + x, g.y + y);
        look.insert(look.end(), {c.r, c.g, c.b});
      }
    return look;
  };
  ASSERT_TRUE(waitFor(
      [&] { return shot.take(env_, session_.folder(), &error) && !shot.at(g.x + 200, g.y + 50).white(); }, 10s, 200ms))
      << error;
  std::vector<int> off = buttonLook();

  // xev reports the window's map, unmap and destroy events (line by line:
  // it is stopped by a signal); a move shows that it listens before the
  // button is pressed.
  // A second one on the root window sees the hint go to the window manager.
  const std::string events = session_.folder() + "/xev.txt";
  const std::string rootEvents = session_.folder() + "/xev-root.txt";
  Child xev, rootXev;
  ASSERT_TRUE(xev.start({"stdbuf", "-oL", "xev", "-id", window, "-event", "structure"}, env_, events));
  ASSERT_TRUE(rootXev.start({"stdbuf", "-oL", "xev", "-root", "-event", "structure", "-event", "substructure"}, env_,
                            rootEvents));
  int moves = 0;
  ASSERT_TRUE(waitFor(
      [&] {
        // To and fro: a move to where the window already is reports nothing.
        pointer_->xdotool({"windowmove", window, std::to_string(g.x + (++moves % 2)), std::to_string(g.y)});
        return kuv::test::readFile(events).find("ConfigureNotify") != std::string::npos &&
               kuv::test::readFile(rootEvents).find("ConfigureNotify") != std::string::npos;
      },
      10s, 300ms))
      << "xev saw no move of window " << window;
  const Geometry at = geometryOf(window);
  // The moves may have left it a pixel aside: the looks are read where it is.
  g = at;
  ASSERT_TRUE(shot.take(env_, session_.folder(), &error)) << error;
  off = buttonLook();

  const int x = (kTopLeft + kTopRight) / 2, y = (kTopTop + kTopBottom) / 2;
  ASSERT_TRUE(pointer_->click(window, x, y));
  EXPECT_TRUE(waitFor([&] { return shot.take(env_, session_.folder(), &error) && buttonLook() != off; }, 10s, 200ms))
      << "the Always On Top button did not light " << error;
  char hexId[32];
  std::snprintf(hexId, sizeof hexId, "window 0x%lx,", std::stoul(window));
  EXPECT_TRUE(waitFor(
      [&] {
        const std::string seen = kuv::test::readFile(rootEvents);
        for (size_t at = seen.find("ClientMessage"); at != std::string::npos; at = seen.find("ClientMessage", at + 1)) {
          const std::string event = seen.substr(at, seen.find("\n\n", at) - at);
          if (event.find(hexId) != std::string::npos && event.find("(_NET_WM_STATE)") != std::string::npos) return true;
        }
        return false;
      },
      5s))
      << "no _NET_WM_STATE request for " << hexId << " reached the root window";
  ASSERT_TRUE(pointer_->click(window, x, y)) << "window " << window << " is gone after one toggle";
  EXPECT_TRUE(waitFor([&] { return shot.take(env_, session_.folder(), &error) && buttonLook() == off; }, 10s, 200ms))
      << "the Always On Top button did not go dark again " << error;
  xev.stop();
  rootXev.stop();

  const std::string seen = kuv::test::readFile(events);
  EXPECT_EQ(seen.find("UnmapNotify"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("DestroyNotify"), std::string::npos) << seen;
  EXPECT_EQ(pointer_->windowsNamed(kTitlePattern), std::vector<std::string>{window});
  const Geometry after = geometryOf(window);
  EXPECT_EQ(after.x, at.x);
  EXPECT_EQ(after.y, at.y);

  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
  EXPECT_EQ(kuv::platform::getProfileInt("kuv", "AlwaysOnTop", -1, session_.iniPath()), 0);
}

// --- The LED panel and the dial -------------------------------------------------------------

// Where the panel sits in the window, and the overlay's lines on it: 7-row
// glyphs in 8-pixel cells from panel x 1.
constexpr int kPanelLeft = 28, kPanelTop = 28, kPanelWidth = 146, kPanelHeight = 52;
constexpr int kTitleRow = 1, kTimeRow = 10, kRatesRow = 44, kGlyphRows = 7, kCellWidth = 8, kLineCells = 18;

// The dial's centre.
constexpr int kDialX = 214, kDialY = 57;
// Three o'clock, six o'clock on the ring: a quarter and half of the way round.
constexpr int kDialQuarterX = 236, kDialQuarterY = 57, kDialHalfX = 213, kDialHalfY = 79;

bool isLettering(const Rgb& c) { return c.r <= 8 && c.b <= 8 && c.g >= 247; }
bool isScopeDot(const Rgb& c) { return c.r <= 8 && c.b <= 8 && std::abs(c.g - 148) <= 3; }

// The LED panel as a screenshot shows it.
class PanelView {
 public:
  PanelView(const Screenshot& shot, const Geometry& window) : shot_(shot), window_(window) {}

  Rgb at(int x, int y) const { return shot_.at(window_.x + kPanelLeft + x, window_.y + kPanelTop + y); }

  // Lettering dots in one cell of the line whose glyphs start at panel row `row`.
  int letteringInCell(int row, int cell) const {
    int lit = 0;
    for (int y = row; y < row + kGlyphRows; ++y)
      for (int x = 1 + cell * kCellWidth; x < 1 + (cell + 1) * kCellWidth && x < kPanelWidth; ++x)
        lit += isLettering(at(x, y)) ? 1 : 0;
    return lit;
  }

  int letteringOnLine(int row) const {
    int lit = 0;
    for (int cell = 0; cell < kLineCells; ++cell) lit += letteringInCell(row, cell);
    return lit;
  }

  // Which dots of cells [first, last] of a line are lettering, as text.
  std::string letteringPattern(int row, int first, int last) const {
    std::string pattern;
    for (int y = row; y < row + kGlyphRows; ++y)
      for (int x = 1 + first * kCellWidth; x < 1 + (last + 1) * kCellWidth; ++x)
        pattern += isLettering(at(x, y)) ? '#' : '.';
    return pattern;
  }

  int scopeDots(int* rows) const {
    int dots = 0;
    *rows = 0;
    for (int y = 0; y < kPanelHeight; ++y) {
      int inRow = 0;
      for (int x = 0; x < kPanelWidth; ++x) inRow += isScopeDot(at(x, y)) ? 1 : 0;
      dots += inRow;
      *rows += inRow > 0 ? 1 : 0;
    }
    return dots;
  }

 private:
  const Screenshot& shot_;
  Geometry window_;
};

// What the ring shows at one spot: its own grey, or the lit part's tint.
enum class RingLight { Unlit, Green, Amber };

const char* nameOf(RingLight light) {
  switch (light) {
    case RingLight::Green:
      return "green";
    case RingLight::Amber:
      return "amber";
    default:
      return "unlit";
  }
}

RingLight ringLightOf(const Rgb& c) {
  if (c.r - c.b > 60 && c.r > c.g) return RingLight::Amber;
  if (c.g - c.r > 50 && c.g > c.b) return RingLight::Green;
  return RingLight::Unlit;
}

// Looks at the ring from `fromDegrees` to `toDegrees` clockwise from twelve
// o'clock, every 10 degrees and at three radii across its width; describes
// the first spot whose light is `unwanted` (or, with `invert`, is not), and
// is empty when there is none.
std::string ringSpot(const Screenshot& shot, const Geometry& window, int fromDegrees, int toDegrees, RingLight light,
                     bool invert) {
  for (int degrees = fromDegrees; degrees <= toDegrees; degrees += 10) {
    for (const double radius : {19.0, 21.5, 24.0}) {
      const double a = degrees * 3.14159265358979 / 180.0;
      const int x = kDialX + static_cast<int>(std::lround(radius * std::sin(a)));
      const int y = kDialY - static_cast<int>(std::lround(radius * std::cos(a)));
      const Rgb c = shot.at(window.x + x, window.y + y);
      if ((ringLightOf(c) == light) != invert)
        return "at " + std::to_string(degrees) + " degrees, window (" + std::to_string(x) + "," + std::to_string(y) +
               "), the ring is " + nameOf(ringLightOf(c)) + " (" + describe(c) + ")" +
               (invert ? std::string(", not ") + nameOf(light) : std::string());
    }
  }
  return {};
}

// Empty when the ring shows `light` all the way from one angle to the other.
std::string ringShows(const Screenshot& shot, const Geometry& window, int fromDegrees, int toDegrees, RingLight light) {
  return ringSpot(shot, window, fromDegrees, toDegrees, light, true);
}

// Empty when `light` shows nowhere on the ring.
std::string ringShowsNo(const Screenshot& shot, const Geometry& window, RingLight light) {
  return ringSpot(shot, window, 0, 350, light, false);
}

// Plays a three-minute two-tone MP3 made once per test process: long enough
// that nothing ends while a test looks at it, and loud enough that the
// oscilloscope's dots leave its centre line. A quarter of it is 45 s in,
// far from where the playback is when a test seeks there.
class KuvPanelTest : public KuvWindowTest {
 protected:
  static void SetUpTestSuite() {
    KuvWindowTest::SetUpTestSuite();
    toneFolder_ = new std::string(kuv::test::makeTempFolder());
    const std::string command = "cd '" + *toneFolder_ +
                                "' && sox -n -r 44100 -c 2 -b 16 tone.wav synth 180 sine 440 sine 660 gain -3 2>&1 && "
                                "lame --quiet -b 128 tone.wav tone.mp3 2>&1 && rm tone.wav";
    std::string printed;
    if (toneFolder_->empty() || kuv::test::runCommand(command, &printed) != 0 ||
        !kuv::test::fileExists(*toneFolder_ + "/tone.mp3"))
      toneError_ = new std::string("cannot make the tone with sox and lame: " + printed);
  }

  static void TearDownTestSuite() {
    if (toneFolder_ && !toneFolder_->empty()) kuv::test::removeTree(*toneFolder_);
    delete toneFolder_;
    toneFolder_ = nullptr;
    delete toneError_;
    toneError_ = nullptr;
    KuvWindowTest::TearDownTestSuite();
  }

  void SetUp() override {
    KuvWindowTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(toneError_, nullptr) << *toneError_;
  }

  static std::string tonePath() { return *toneFolder_ + "/tone.mp3"; }

  void setSetting(const std::string& key, const std::string& value) {
    ASSERT_TRUE(kuv::platform::writeProfileString("kuv", key, value, session_.iniPath()));
  }

  // Takes screenshots until check holds for one, for at most timeout; the
  // last one taken stays in shot.
  bool screenUntil(Screenshot& shot, const std::function<bool()>& check, std::chrono::milliseconds timeout) {
    std::string error;
    const bool held = waitFor([&] { return shot.take(env_, session_.folder(), &error) && check(); }, timeout, 100ms);
    if (!error.empty()) ADD_FAILURE() << error;
    return held;
  }

  static std::string* toneFolder_;
  static std::string* toneError_;
};

std::string* KuvPanelTest::toneFolder_ = nullptr;
std::string* KuvPanelTest::toneError_ = nullptr;

TEST_F(KuvPanelTest, OverlayAndOscilloscopeWhilePlayingTitleOnlyWhenStopped) {
  setSetting("LEDVisual", "2");
  setSetting("LEDOverlay", "1");
  setSetting("TimeMode", "0");
  const std::string window = startWindow({tonePath()});
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(queryBecomes("state", "0", 20s));
  const Geometry g = geometryOf(window);

  // "TONE.MP3": a lit dot in each of its 8 cells and none past them; the
  // time "00:00:0S" and the rates line; the scope's dots spread over many
  // rows, since the tone swings far from the centre line.
  Screenshot shot;
  const PanelView panel(shot, g);
  int scopeRows = 0, scopeDots = 0;
  auto playingPanel = [&] {
    for (int cell = 0; cell < 8; ++cell)
      if (panel.letteringInCell(kTitleRow, cell) == 0) return false;
    for (int cell = 8; cell < kLineCells; ++cell)
      if (panel.letteringInCell(kTitleRow, cell) != 0) return false;
    scopeDots = panel.scopeDots(&scopeRows);
    return panel.letteringOnLine(kTimeRow) > 0 && panel.letteringOnLine(kRatesRow) > 0 && scopeDots >= 40 &&
           scopeRows >= 5;
  };
  EXPECT_TRUE(screenUntil(shot, playingPanel, 10s))
      << "while playing, within 10 s: title cells lit " <<
      [&] {
        std::string cells;
        for (int cell = 0; cell < kLineCells; ++cell) cells += panel.letteringInCell(kTitleRow, cell) ? '#' : '.';
        return cells;
      }()
      << " (want ########..........), time dots " << panel.letteringOnLine(kTimeRow) << ", rates dots "
      << panel.letteringOnLine(kRatesRow) << ", oscilloscope dots " << scopeDots << " on " << scopeRows
      << " rows (want at least 40 on 5)";

  // The display thread keeps redrawing: the seconds move on.
  const std::string seconds = panel.letteringPattern(kTimeRow, 6, 7);
  EXPECT_TRUE(screenUntil(
      shot, [&] { return panel.letteringPattern(kTimeRow, 6, 7) != seconds; }, 5s))
      << "the seconds shown did not change within 5 s";

  ASSERT_TRUE(pointer_->click(window, kStopX, kTransportY));
  ASSERT_TRUE(queryBecomes("state", "2"));
  EXPECT_TRUE(screenUntil(
      shot, [&] { return panel.letteringOnLine(kTimeRow) == 0 && panel.letteringOnLine(kRatesRow) == 0; }, 5s))
      << "stopped, the time and rates lines still show lettering after 5 s: " << panel.letteringOnLine(kTimeRow)
      << " and " << panel.letteringOnLine(kRatesRow) << " dots";
  EXPECT_GT(panel.letteringOnLine(kTitleRow), 0) << "stopped, the title is gone";

  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

TEST_F(KuvPanelTest, DialSetsTheVolumeAfterARightClickAndSeeksOtherwise) {
  setSetting("EqVolume", "50");
  const std::string window = startWindow({tonePath()});
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(queryBecomes("state", "0", 20s));
  ASSERT_EQ(query(env_, "volume"), "50");
  const Geometry g = geometryOf(window);

  // The left clicks follow the right one at once: volume mode lasts at least
  // 2 s from the last use.
  ASSERT_TRUE(pointer_->xdotool(
      {"mousemove", "--window", window, std::to_string(kDialQuarterX), std::to_string(kDialQuarterY), "click", "3"}));
  ASSERT_TRUE(pointer_->click(window, kDialQuarterX, kDialQuarterY));
  ASSERT_TRUE(queryBecomes("volume", "16", 5s));
  ASSERT_TRUE(pointer_->click(window, kDialHalfX, kDialHalfY));
  const auto lastUse = std::chrono::steady_clock::now();
  ASSERT_TRUE(queryBecomes("volume", "32", 5s));

  // Volume 32 of 63 lights the ring amber from twelve to six o'clock.
  Screenshot shot;
  std::string lit, unlit;
  EXPECT_TRUE(screenUntil(
      shot,
      [&] {
        lit = ringShows(shot, g, 20, 160, RingLight::Amber);
        unlit = ringShows(shot, g, 200, 340, RingLight::Unlit);
        return lit.empty() && unlit.empty();
      },
      5s))
      << "in volume mode at 32: " << lit << "; " << unlit;

  // Unused for over 4 s the dial is back to position mode (the amber goes);
  // then a left click at three o'clock seeks to a quarter of the track.
  std::string amber;
  EXPECT_TRUE(screenUntil(
      shot,
      [&] {
        amber = ringShowsNo(shot, g, RingLight::Amber);
        return amber.empty() && std::chrono::steady_clock::now() - lastUse > 4500ms;
      },
      15s))
      << "15 s after the last volume change the dial still shows amber: " << amber;
  const int total = std::atoi(query(env_, "total-frames").c_str());
  const int before = std::atoi(query(env_, "frames-played").c_str());
  ASSERT_GT(total, 0);
  ASSERT_LT(before, total * 15 / 100) << "the playback reached " << before << " of " << total
                                      << " frames before the seek; a seek to a quarter would not show";
  ASSERT_TRUE(pointer_->click(window, kDialQuarterX, kDialQuarterY));
  std::string frames;
  EXPECT_TRUE(waitFor(
      [&] {
        frames = query(env_, "frames-played");
        return std::abs(std::atoi(frames.c_str()) - total / 4) <= total / 20;
      },
      10s))
      << "after a click at three o'clock frames-played is \"" << frames << "\", not within 5 % of " << total / 4
      << " (a quarter of " << total << ")";
  EXPECT_EQ(query(env_, "volume"), "32") << "the seek changed the volume";

  // The position lights the ring green from twelve to past three o'clock.
  std::string green;
  EXPECT_TRUE(screenUntil(
      shot,
      [&] {
        green = ringShows(shot, g, 20, 70, RingLight::Green);
        unlit = ringShows(shot, g, 200, 340, RingLight::Unlit);
        return green.empty() && unlit.empty();
      },
      5s))
      << "in position mode at a quarter: " << green << "; " << unlit;

  // The volume set on the dial is kept for the next start.
  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  ASSERT_TRUE(exitsWithZero());
  EXPECT_EQ(kuv::platform::getProfileInt("kuv", "EqVolume", -1, session_.iniPath()), 32);
}

// --- Ending by signal ------------------------------------------------------------------------

TEST_F(KuvWindowTest, EndingSignalsCloseAsCloseDoesAndSigpipeIsIgnored) {
  struct Case {
    const char* what;
    int signo;
    int volume;
  };
  const Case cases[] = {
      {"SIGTERM", SIGTERM, 17},
      {"SIGHUP", SIGHUP, 29},
      {"SIGINT", SIGINT, 41},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(startWindow({}).empty());
    const std::string volume = std::to_string(c.volume);
    query(env_, "set-volume=" + volume);
    ASSERT_TRUE(queryBecomes("volume", volume));
    // A closed pipe's signal is no reason to end.
    ASSERT_EQ(::kill(session_.process().pid(), SIGPIPE), 0);
    ASSERT_EQ(::kill(session_.process().pid(), c.signo), 0);
    ASSERT_TRUE(exitsWithZero());
    EXPECT_EQ(kuv::platform::getProfileInt("kuv", "EqVolume", -1, session_.iniPath()), c.volume);
  }
}

// --- Without a window -----------------------------------------------------------------------

class KuvCommandLineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { kuv::e2e::isolateAbstractSockets(); }

  void SetUp() override {
    folder_ = kuv::test::makeTempFolder();
    ASSERT_FALSE(folder_.empty());
    env_ = baseEnvironment(folder_);
    ASSERT_TRUE(noOtherKuvRuns(env_));
  }
  void TearDown() override { kuv::test::removeTree(folder_); }

  std::string folder_;
  Environment env_;
};

TEST_F(KuvCommandLineTest, WithoutADisplayPointsToKuvDecode) {
  // baseEnvironment has no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM; the
  // others name displays nobody serves, which Qt would answer with an abort.
  const struct {
    const char* variable;
    const char* value;
    const char* reason;
  } cases[] = {
      {nullptr, nullptr, "There is no display here"},
      {"DISPLAY", ":987", "The display \":987\" cannot be reached"},
      {"WAYLAND_DISPLAY", "kuv-test-nowhere-0", "The Wayland display \"kuv-test-nowhere-0\" cannot be reached"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    Environment env = env_;
    if (c.variable) env[c.variable] = c.value;
    const RunResult r = kuv::e2e::run({KUV_BIN, samplePath()}, env, 20s);
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_NE(r.err.find("Could Not Create Window..."), std::string::npos) << describe(r);
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << describe(r);
    EXPECT_NE(r.err.find("kuv-decode"), std::string::npos) << describe(r);
  }
}

TEST_F(KuvCommandLineTest, VersionAndHelp) {
  const RunResult version = kuv::e2e::run({KUV_BIN, "--version"}, env_);
  EXPECT_EQ(version.status, 0) << describe(version);
  EXPECT_EQ(trim(version.out), "kuv 0.94");
  const RunResult help = kuv::e2e::run({KUV_BIN, "--help"}, env_);
  EXPECT_EQ(help.status, 0) << describe(help);
  EXPECT_NE(help.out.find("--query"), std::string::npos) << describe(help);
}

TEST_F(KuvCommandLineTest, QueriesWithoutAPlayer) {
  const RunResult bogus = kuv::e2e::run({KUV_BIN, "--query", "bogus"}, env_);
  EXPECT_EQ(bogus.status, 2) << describe(bogus);
  const RunResult state = kuv::e2e::run({KUV_BIN, "--query", "state"}, env_);
  EXPECT_EQ(state.status, 1) << describe(state);
  EXPECT_TRUE(state.out.empty()) << describe(state);
}

// --- The LED panel's own drawing --------------------------------------------------

// Shared memory segments the size of the LED panel (146 x 52 pixels of 4
// bytes, page-rounded) that the process has mapped: the panel's MIT-SHM path.
int ledSegmentsOf(pid_t pid) {
  const std::string maps = kuv::test::readFile("/proc/" + std::to_string(pid) + "/maps");
  int found = 0;
  size_t at = 0;
  while ((at = maps.find("/SYSV", at)) != std::string::npos) {
    const size_t line = maps.rfind('\n', at);
    const size_t start = line == std::string::npos ? 0 : line + 1;
    unsigned long long from = 0, to = 0;
    if (std::sscanf(maps.c_str() + start, "%llx-%llx", &from, &to) == 2 && to - from == 32768) ++found;
    ++at;
  }
  return found;
}

// Voluntary and involuntary context switches of the display thread so far,
// -1 when there is none.
long long displaySwitchesOf(pid_t pid) {
  const std::string task = "/proc/" + std::to_string(pid) + "/task/";
  DIR* dir = opendir(task.c_str());
  if (!dir) return -1;
  std::string status;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    if (trim(kuv::test::readFile(task + entry->d_name + "/comm")) == "kuv-display")
      status = kuv::test::readFile(task + entry->d_name + "/status");
  }
  closedir(dir);
  long long total = 0;
  int fields = 0;
  for (const char* key : {"\nvoluntary_ctxt_switches:", "\nnonvoluntary_ctxt_switches:"}) {
    const size_t at = status.find(key);
    if (at == std::string::npos) continue;
    total += std::atoll(status.c_str() + at + std::strlen(key));
    ++fields;
  }
  return fields == 2 ? total : -1;
}

// The panel as it is on the screen, once its title line shows lettering.
std::vector<Rgb> panelPixels(const std::function<bool(Screenshot&)>& take, const Geometry& g, bool* shown) {
  Screenshot shot;
  const PanelView panel(shot, g);
  *shown = waitFor([&] { return take(shot) && panel.letteringOnLine(1) > 0; }, 10s, 200ms);
  std::vector<Rgb> pixels;
  for (int y = 0; y < kPanelHeight; ++y)
    for (int x = 0; x < kPanelWidth; ++x) pixels.push_back(panel.at(x, y));
  return pixels;
}

// On X11 the panel is put into the window through shared memory; with that
// path switched off Qt paints it. Both show the same pixels.
TEST_F(KuvPanelTest, TheSharedMemoryPanelShowsWhatQtWouldPaint) {
  setSetting("LEDVisual", "2");  // stopped: the flat trace, still
  setSetting("LEDOverlay", "1");
  auto take = [this](Screenshot& shot) {
    std::string error;
    return shot.take(env_, session_.folder(), &error);
  };
  std::vector<Rgb> seen[2];
  for (int run = 0; run < 2; ++run) {
    const bool shm = run == 0;
    if (!shm) env_["KUV_X11_SHM"] = "0";
    const std::string window = startWindow({});
    ASSERT_FALSE(window.empty());
    const pid_t pid = session_.process().pid();
    if (shm)
      EXPECT_TRUE(waitFor([&] { return ledSegmentsOf(pid) == kuv::kShmPanelSegments; }, 10s))
          << "the panel's shared segments are not mapped: " << ledSegmentsOf(pid);
    else
      EXPECT_EQ(ledSegmentsOf(pid), 0);
    bool shown = false;
    seen[run] = panelPixels(take, geometryOf(window), &shown);
    EXPECT_TRUE(shown) << (shm ? "shared memory" : "Qt") << ": no title on the panel within 10 s";
    ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
    ASSERT_TRUE(exitsWithZero());
  }
  ASSERT_EQ(seen[0].size(), seen[1].size());
  int differ = 0;
  std::string first;
  for (size_t i = 0; i < seen[0].size(); ++i) {
    const Rgb a = seen[0][i], b = seen[1][i];
    if (a.r == b.r && a.g == b.g && a.b == b.b) continue;
    if (differ++ == 0)
      first = "(" + std::to_string(i % kPanelWidth) + "," + std::to_string(i / kPanelWidth) + ") " + describe(a) +
              " against " + describe(b);
  }
  EXPECT_EQ(differ, 0) << "pixels differ between the two paths, first at " << first;
}

// Minimised, the display thread sleeps: stars, which move even when
// stopped, keep it busy until then, and it draws again once restored.
TEST_F(KuvManagedWindowTest, MinimisedTheDisplayStopsDrawing) {
  ASSERT_TRUE(kuv::platform::writeProfileString("kuv", "LEDVisual", "4", session_.iniPath()));
  const std::string window = startWindow({});
  ASSERT_FALSE(window.empty());
  const pid_t pid = session_.process().pid();
  long long last = -1;
  // Drawing: the count moves between polls 0.5 s apart.
  auto moving = [&] {
    const long long now = displaySwitchesOf(pid);
    const bool moved = last >= 0 && now > last + 5;
    last = now;
    return moved;
  };
  // Asleep: the count stands for a whole 1.5 s, longer than the still
  // picture's longest wait.
  auto standing = [&] {
    const long long now = displaySwitchesOf(pid);
    const bool still = now >= 0 && now == last;
    last = now;
    return still;
  };
  ASSERT_TRUE(waitFor(moving, 10s, 500ms)) << "the stars do not move: display switches " << last;
  ASSERT_TRUE(pointer_->xdotool({"windowminimize", "--sync", window}));
  ASSERT_TRUE(waitFor([&] { return pointer_->windowsNamed(kTitlePattern).empty(); }, 10s))
      << "the window did not minimise";
  last = -1;
  EXPECT_TRUE(waitFor(standing, 20s, 1500ms)) << "minimised, the display thread still wakes: switches " << last;
  ASSERT_TRUE(pointer_->xdotool({"windowactivate", "--sync", window}));
  last = -1;
  EXPECT_TRUE(waitFor(moving, 10s, 500ms)) << "restored, the stars do not move again";
  ASSERT_TRUE(pointer_->click(window, kCloseX, kCloseY));
  EXPECT_TRUE(exitsWithZero());
}

}  // namespace

// --- The desktop's media controls ------------------------------------------------

// kuv with a session bus of its own, driven as the desktop and playerctl
// drive it.
class KuvMprisTest : public KuvWindowTest {
 protected:
  void SetUp() override {
    KuvWindowTest::SetUp();
    if (HasFatalFailure()) return;
    const std::string address = "unix:path=" + session_.folder() + "/bus";
    ASSERT_TRUE(bus_.start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address}, env_))
        << "cannot start dbus-daemon";
    env_["DBUS_SESSION_BUS_ADDRESS"] = address;
    ASSERT_TRUE(waitFor(
        [&] {
          return gdbus({"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                        "--method", "org.freedesktop.DBus.GetId"})
                     .status == 0;
        },
        10s))
        << "the private session bus did not come up";
  }

  void TearDown() override {
    monitor_.stop();
    KuvWindowTest::TearDown();
    session_.process().stop();
    bus_.stop();
  }

  RunResult gdbus(std::vector<std::string> args) {
    args.insert(args.begin(), "gdbus");
    return kuv::e2e::run(args, env_, 20s);
  }

  RunResult call(const std::string& method, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv{"call",     "--session", "--dest", kDest, "--object-path", "/org/mpris/MediaPlayer2",
                                  "--method", method};
    argv.insert(argv.end(), args.begin(), args.end());
    return gdbus(argv);
  }

  std::string property(const std::string& interface, const std::string& name) {
    const RunResult r = call("org.freedesktop.DBus.Properties.Get", {interface, name});
    return r.status == 0 ? trim(r.out) : "(failed: " + trim(r.err) + ")";
  }

  ::testing::AssertionResult propertyBecomes(const std::string& name, const std::string& expected) {
    std::string last;
    if (waitFor([&] { return (last = property(kPlayer, name)) == expected; }, 10s))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << name << " is " << last << ", not " << expected;
  }

  ::testing::AssertionResult monitorShows(const std::string& text) {
    if (waitFor([&] { return kuv::test::readFile(monitorLog()).find(text) != std::string::npos; }, 10s))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << text << "\" among the signals:\n"
                                         << kuv::test::readFile(monitorLog());
  }

  std::string monitorLog() const { return session_.folder() + "/monitor.log"; }

  static constexpr const char* kDest = "org.mpris.MediaPlayer2.kuv";
  static constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";
  Child bus_;
  Child monitor_;
};

TEST_F(KuvMprisTest, MethodsAndPropertiesDriveThePlayer) {
  ASSERT_TRUE(monitor_.start({"gdbus", "monitor", "--session", "--dest", kDest}, env_, monitorLog()));
  const std::string window = startWindow({samplePath(), samplePath()});
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(queryBecomes("state", "0", 20s));
  ASSERT_TRUE(propertyBecomes("PlaybackStatus", "(<'Playing'>,)"));

  // The root: who we are.
  EXPECT_EQ(property("org.mpris.MediaPlayer2", "Identity"), "(<'KUV'>,)");
  EXPECT_EQ(property("org.mpris.MediaPlayer2", "SupportedUriSchemes"), "(<['file', 'http', 'https']>,)");
  EXPECT_EQ(property("org.mpris.MediaPlayer2", "HasTrackList"), "(<false>,)");

  // Each method as the buttons: kuv --query sees what it did.
  ASSERT_EQ(call(std::string(kPlayer) + ".Pause").status, 0);
  EXPECT_TRUE(queryBecomes("state", "1"));
  ASSERT_EQ(call(std::string(kPlayer) + ".PlayPause").status, 0);
  EXPECT_TRUE(queryBecomes("state", "0"));
  EXPECT_TRUE(monitorShows("'PlaybackStatus': <'Paused'>"));

  const std::string metadata = property(kPlayer, "Metadata");
  EXPECT_NE(metadata.find("'xesam:title': <'KUV Sample'>"), std::string::npos) << metadata;
  EXPECT_NE(metadata.find("'xesam:artist': <['KUV']>"), std::string::npos) << metadata;
  EXPECT_NE(metadata.find("'mpris:trackid': <objectpath '/org/kuv/track/"), std::string::npos) << metadata;
  EXPECT_NE(metadata.find("'mpris:length': <int64 112"), std::string::npos) << metadata;  // 11.2 s
  EXPECT_NE(metadata.find("'xesam:url': <'file://"), std::string::npos) << metadata;

  // Volume: EqVolume / 63 both ways.
  ASSERT_EQ(call("org.freedesktop.DBus.Properties.Set", {kPlayer, "Volume", "<0.5>"}).status, 0);
  EXPECT_TRUE(queryBecomes("volume", "32"));
  ASSERT_EQ(call("org.freedesktop.DBus.Properties.Set", {kPlayer, "LoopStatus", "<'Track'>"}).status, 0);
  EXPECT_TRUE(propertyBecomes("LoopStatus", "(<'Track'>,)"));
  EXPECT_NE(call("org.freedesktop.DBus.Properties.Set", {kPlayer, "LoopStatus", "<'Sometimes'>"}).status, 0);
  EXPECT_TRUE(propertyBecomes("LoopStatus", "(<'Track'>,)"));
  ASSERT_EQ(call("org.freedesktop.DBus.Properties.Set", {kPlayer, "LoopStatus", "<'None'>"}).status, 0);

  // Seeks land where asked, and say so.
  const std::string track = metadata.substr(metadata.find("/org/kuv/track/"));
  const std::string trackId = track.substr(0, track.find('\''));
  ASSERT_EQ(call(std::string(kPlayer) + ".SetPosition", {trackId, "8000000"}).status, 0);
  EXPECT_TRUE(monitorShows("Player.Seeked (int64 8000000,)"));
  EXPECT_TRUE(waitFor([&] { return std::atoi(query(env_, "position").c_str()) >= 8000; }, 10s))
      << "position " << query(env_, "position");
  ASSERT_EQ(call(std::string(kPlayer) + ".Seek", {"--", "-7000000"}).status, 0);
  EXPECT_TRUE(waitFor([&] { return std::atoi(query(env_, "position").c_str()) < 7000; }, 10s))
      << "position " << query(env_, "position");

  // The second entry: another track id.
  ASSERT_EQ(call(std::string(kPlayer) + ".Next").status, 0);
  EXPECT_TRUE(waitFor([&] { return property(kPlayer, "Metadata").find(trackId + "'") == std::string::npos; }, 10s));
  EXPECT_EQ(property(kPlayer, "CanGoNext"), "(<false>,)");
  ASSERT_EQ(call(std::string(kPlayer) + ".Stop").status, 0);
  EXPECT_TRUE(queryBecomes("state", "2"));

  // playerctl, as the README shows it.
  const RunResult play = kuv::e2e::run({"playerctl", "--player=kuv", "open", "file://" + samplePath()}, env_, 20s);
  EXPECT_EQ(play.status, 0) << describe(play);
  EXPECT_TRUE(queryBecomes("state", "0"));
  const RunResult status = kuv::e2e::run({"playerctl", "--player=kuv", "status"}, env_, 20s);
  EXPECT_EQ(trim(status.out), "Playing") << describe(status);
  EXPECT_NE(call(std::string(kPlayer) + ".OpenUri", {"ftp://example/x.mp3"}).status, 0);

  // Position is read, never announced.
  EXPECT_EQ(kuv::test::readFile(monitorLog()).find("'Position'"), std::string::npos);

  ASSERT_EQ(call("org.mpris.MediaPlayer2.Quit").status, 0);
  EXPECT_TRUE(exitsWithZero());
}

// The sample's audio frames alone: without its tags it can be sent over and
// over as one stream.
std::string sampleFrames() {
  std::string bytes = kuv::test::readFile(samplePath());
  if (bytes.size() > 10 && bytes.compare(0, 3, "ID3") == 0) {
    const auto b = [&](size_t i) { return static_cast<size_t>(static_cast<unsigned char>(bytes[i]) & 0x7F); };
    bytes.erase(0, 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)));
  }
  if (bytes.size() > 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0) bytes.resize(bytes.size() - 128);
  return bytes;
}

// A station as people meet it: a PLS whose first entry is dead and whose
// second is a Shoutcast stream; its titles reach the desktop as they change.
TEST_F(KuvMprisTest, ARadioStationsPlaylistPlaysAndItsTitlesFollowTheStream) {
  kuv::test::HttpTestServer server;
  ASSERT_TRUE(server.ok());
  kuv::test::HttpRoute stream;
  stream.kind = kuv::test::HttpRoute::Kind::Icy;
  stream.icyName = "Radio KUV";
  stream.body = sampleFrames() + sampleFrames();
  stream.metaInterval = 8192;
  stream.titles = {"First Song", "Second Song"};
  // The second title halfway through, about eleven seconds in. Sent a
  // little faster than it plays, as a live station sends: all at once, the
  // second title would arrive before the first could be seen.
  stream.titleEvery = stream.body.size() / 8192 / 2;
  stream.chunkBytes = 24000;
  stream.chunkDelayMs = 1000;
  server.route("/live", stream);
  kuv::test::HttpRoute dead;
  dead.kind = kuv::test::HttpRoute::Kind::NotFound;
  server.route("/gone", dead);
  kuv::test::HttpRoute station;
  station.contentType = "audio/x-scpls";
  station.body = "[playlist]\nNumberOfEntries=2\nFile1=" + server.url("/gone") +
                 "\nTitle1=Old\nFile2=" + server.url("/live") + "\nTitle2=Radio KUV\nVersion=2\n";
  server.route("/station", station);

  ASSERT_TRUE(monitor_.start({"gdbus", "monitor", "--session", "--dest", kDest}, env_, monitorLog()));
  const std::string window = startWindow({server.url("/station")});
  ASSERT_FALSE(window.empty());
  EXPECT_TRUE(queryBecomes("state", "0", 30s));
  std::string metadata;
  EXPECT_TRUE(waitFor(
      [&] {
        metadata = property(kPlayer, "Metadata");
        return metadata.find("'xesam:title': <'First Song'>") != std::string::npos;
      },
      30s))
      << metadata;
  EXPECT_NE(metadata.find("'xesam:artist': <['Radio KUV']>"), std::string::npos) << metadata;
  EXPECT_NE(metadata.find("'xesam:url': <'" + server.url("/live") + "'>"), std::string::npos) << metadata;
  EXPECT_EQ(metadata.find("mpris:length"), std::string::npos) << "a stream has no length: " << metadata;
  EXPECT_TRUE(monitorShows("'xesam:title': <'Second Song'>"));
  EXPECT_EQ(property(kPlayer, "CanSeek"), "(<false>,)");
  ASSERT_EQ(call("org.mpris.MediaPlayer2.Quit").status, 0);
  EXPECT_TRUE(exitsWithZero());
}
