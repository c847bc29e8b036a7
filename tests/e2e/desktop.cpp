#include "e2e/desktop.h"
#include "support/test_support.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kuv::e2e {

namespace {

using Clock = std::chrono::steady_clock;

// A name for a scratch file that nobody else uses.
std::string scratchFile() {
  char name[] = "/tmp/kuv-e2e-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return {};
  close(fd);
  return name;
}

int decodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

bool isolateAbstractSockets() {
  static const bool isolated = [] {
    if (unshare(CLONE_NEWNET) != 0) return false;
    // A new namespace's loopback starts down; the local HTTP server of the
    // stream tests needs it.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
      ifreq request{};
      std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
      if (ioctl(fd, SIOCGIFFLAGS, &request) == 0) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        ioctl(fd, SIOCSIFFLAGS, &request);
      }
      close(fd);
    }
    return true;
  }();
  return isolated;
}

Environment currentEnvironment() {
  Environment env;
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals) env[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
  }
  return env;
}

// --- Child ------------------------------------------------------------------------------

Child::~Child() { stop(); }

bool Child::start(const std::vector<std::string>& argv, const Environment& env, const std::string& stdoutPath,
                  const std::string& stderrPath) {
  if (argv.empty() || pid_ > 0) return false;
  std::vector<std::string> envText;
  for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // A child of its own process group, so a stray signal to ours spares it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return false;
  pid_ = pid;
  status_.reset();
  return true;
}

bool Child::running() {
  if (pid_ <= 0) return false;
  int raw = 0;
  const pid_t done = waitpid(pid_, &raw, WNOHANG);
  if (done == pid_) {
    status_ = decodeStatus(raw);
    pid_ = -1;
    return false;
  }
  return done == 0;
}

std::optional<int> Child::wait(std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  while (running()) {
    if (Clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

void Child::stop() {
  if (!running()) return;
  kill(pid_, SIGTERM);
  if (wait(std::chrono::seconds(5))) return;
  kill(pid_, SIGKILL);
  int raw = 0;
  if (waitpid(pid_, &raw, 0) == pid_) status_ = decodeStatus(raw);
  pid_ = -1;
}

// --- Running to the end ------------------------------------------------------------------

RunResult run(const std::vector<std::string>& argv, const Environment& env, std::chrono::milliseconds timeout) {
  RunResult result;
  const std::string outPath = scratchFile(), errPath = scratchFile();
  Child child;
  if (!outPath.empty() && !errPath.empty() && child.start(argv, env, outPath, errPath)) {
    if (const std::optional<int> status = child.wait(timeout)) {
      result.status = *status;
    } else {
      result.timedOut = true;
      child.stop();
    }
  }
  result.out = test::readFile(outPath);
  result.err = test::readFile(errPath);
  if (!outPath.empty()) unlink(outPath.c_str());
  if (!errPath.empty()) unlink(errPath.c_str());
  return result;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
             std::chrono::milliseconds interval) {
  const auto end = Clock::now() + timeout;
  while (true) {
    if (condition()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(interval);
  }
}

// --- Xvfb ----------------------------------------------------------------------------------

bool XServer::start(std::string* error) {
  // Xvfb writes the display number it took into fd 3 once it takes
  // connections, so neither a free number nor readiness needs guessing.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *error = "pipe: " + std::string(std::strerror(errno));
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // fds[1] may itself be 3; a copy above it keeps dup2 meaningful.
  const int writeEnd = fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
  close(fds[1]);
  posix_spawn_file_actions_adddup2(&actions, writeEnd, 3);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const std::string logPath = scratchFile();
  posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_TRUNC, 0);
  const char* argv[] = {"Xvfb",      "-displayfd", "3",   "-screen",  "0",    "1280x800x24",
                        "-nolisten", "tcp",        "-wr", "-noreset", nullptr};
  std::vector<std::string> envText;
  for (const auto& [name, value] : currentEnvironment()) envText.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int spawnError = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(writeEnd);
  if (spawnError != 0) {
    close(fds[0]);
    *error = "could not start Xvfb (is the xvfb package installed?): " + std::string(std::strerror(spawnError));
    return false;
  }
  std::string text;
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (text.find('\n') == std::string::npos && Clock::now() < end) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 200) > 0) {
      char buffer[64];
      const ssize_t got = read(fds[0], buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
  }
  close(fds[0]);
  pid_ = pid;
  if (text.find('\n') == std::string::npos) {
    *error = "Xvfb did not report a display within 30 s; its log:\n" + test::readFile(logPath);
    unlink(logPath.c_str());
    stop();
    return false;
  }
  unlink(logPath.c_str());
  display_ = ":" + text.substr(0, text.find('\n'));
  return true;
}

void XServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int raw = 0;
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (waitpid(pid_, &raw, WNOHANG) == 0) {
    if (Clock::now() >= end) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &raw, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
  display_.clear();
}

// --- Screen --------------------------------------------------------------------------------

namespace {

// The next header token of a PPM file, past blanks and comments.
bool ppmToken(const std::string& data, size_t& at, int& value) {
  while (at < data.size()) {
    if (data[at] == '#') {
      while (at < data.size() && data[at] != '\n') ++at;
    } else if (std::isspace(static_cast<unsigned char>(data[at]))) {
      ++at;
    } else {
      break;
    }
  }
  if (at >= data.size() || !std::isdigit(static_cast<unsigned char>(data[at]))) return false;
  value = 0;
  while (at < data.size() && std::isdigit(static_cast<unsigned char>(data[at])))
    value = value * 10 + (data[at++] - '0');
  return true;
}

}  // namespace

bool Screenshot::take(const Environment& env, const std::string& folder, std::string* error) {
  const std::string path = folder + "/screen.ppm";
  const RunResult shot = run({"import", "-window", "root", "-depth", "8", "ppm:" + path}, env);
  if (shot.status != 0) {
    *error = "import -window root failed (status " + std::to_string(shot.status) + "): " + shot.err;
    return false;
  }
  const std::string data = test::readFile(path);
  size_t at = 2;
  int maxValue = 0;
  if (data.compare(0, 2, "P6") != 0 || !ppmToken(data, at, width_) || !ppmToken(data, at, height_) ||
      !ppmToken(data, at, maxValue) || maxValue != 255) {
    *error = "the screenshot is not an 8-bit PPM file";
    return false;
  }
  ++at;  // the one blank before the samples
  const size_t bytes = static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3;
  if (data.size() < at + bytes) {
    *error = "the screenshot is cut short";
    return false;
  }
  rgb_.assign(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + bytes));
  return true;
}

Rgb Screenshot::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return Rgb{-1, -1, -1};
  const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3;
  return Rgb{rgb_[i], rgb_[i + 1], rgb_[i + 2]};
}

// --- Pointer and windows ---------------------------------------------------------------------

std::vector<std::string> Pointer::windowsNamed(const std::string& pattern) const {
  const RunResult found =
      run({"xdotool", "search", "--onlyvisible", "--name", pattern}, env_, std::chrono::seconds(10));
  std::vector<std::string> ids;
  std::istringstream lines(found.out);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty()) ids.push_back(line);
  return ids;
}

std::optional<Geometry> Pointer::geometry(const std::string& window) const {
  const RunResult shown = run({"xdotool", "getwindowgeometry", "--shell", window}, env_, std::chrono::seconds(10));
  if (shown.status != 0) return std::nullopt;
  Geometry g;
  int seen = 0;
  std::istringstream lines(shown.out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const int value = std::atoi(line.c_str() + equals + 1);
    if (key == "X") g.x = value, ++seen;
    if (key == "Y") g.y = value, ++seen;
    if (key == "WIDTH") g.width = value, ++seen;
    if (key == "HEIGHT") g.height = value, ++seen;
  }
  if (seen != 4) return std::nullopt;
  return g;
}

bool Pointer::xdotool(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, env_, std::chrono::seconds(20)).status == 0;
}

bool Pointer::click(const std::string& window, int x, int y) const {
  // No --sync: it waits for a motion that never comes when the pointer is
  // already there, and the server delivers the fake events in order anyway.
  return xdotool({"mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "1"});
}

}  // namespace kuv::e2e
