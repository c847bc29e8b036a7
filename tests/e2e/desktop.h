// What the window tests need of a desktop: child processes with an
// environment of their own, a private X server, and xdotool and ImageMagick
// to move the mouse and read the screen.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kuv::e2e {

using Environment = std::map<std::string, std::string>;

// Moves this process (and so every child it starts from now on) into a
// network namespace of its own where it may: kuv's instance socket is an
// abstract one, which is private to a network namespace, so a kuv the user
// runs or another test run cannot answer in place of the one under test.
// False where it may not (not root); call it before any thread starts.
bool isolateAbstractSockets();

// The test process's own environment.
Environment currentEnvironment();

// A process started in the background; its stdout and stderr go to files.
class Child {
 public:
  Child() = default;
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Starts argv[0] (a path, or a name looked up in PATH) with exactly env.
  // stdout and stderr go to the files named (or /dev/null when empty).
  bool start(const std::vector<std::string>& argv, const Environment& env, const std::string& stdoutPath = {},
             const std::string& stderrPath = {});
  pid_t pid() const { return pid_; }
  bool running();
  // Waits for the end; the exit status (or 128 + signal), nullopt on timeout.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  // SIGTERM, then SIGKILL when it does not end within a few seconds.
  void stop();
  std::optional<int> exitStatus() const { return status_; }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct RunResult {
  int status = -1;  // exit status, 128 + signal, or -1 when it did not run or timed out
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Runs a program to its end (killed after timeout) and collects what it printed.
RunResult run(const std::vector<std::string>& argv, const Environment& env,
              std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Calls condition every interval until it holds or timeout passes.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
             std::chrono::milliseconds interval = std::chrono::milliseconds(100));

// A private Xvfb with a white root window, so screen pixels outside a shaped
// window read white.
class XServer {
 public:
  XServer() = default;
  ~XServer() { stop(); }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // Starts it and waits until it takes connections; false with a message.
  bool start(std::string* error);
  void stop();
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool white() const { return r == 255 && g == 255 && b == 255; }
};

// A screenshot of the whole screen.
class Screenshot {
 public:
  // Takes it with `import -window root`; false with a message.
  bool take(const Environment& env, const std::string& folder, std::string* error);
  Rgb at(int x, int y) const;
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_ = 0, height_ = 0;
  std::vector<uint8_t> rgb_;
};

// xdotool, run with env (which names the display).
class Pointer {
 public:
  explicit Pointer(Environment env) : env_(std::move(env)) {}

  // Ids of the visible windows whose title matches the regular expression.
  std::vector<std::string> windowsNamed(const std::string& pattern) const;
  std::optional<Geometry> geometry(const std::string& window) const;
  // Runs one xdotool command line (several chained commands are fine);
  // true when it exited 0.
  bool xdotool(const std::vector<std::string>& args) const;
  // Left click at window coordinates.
  bool click(const std::string& window, int x, int y) const;

 private:
  Environment env_;
};

}  // namespace kuv::e2e
