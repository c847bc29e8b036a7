// Shared helpers for the core tests: paths of test data and a recorder for
// message boxes.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "platform/message_box.h"

// The ISO reference data and the outside decoders are what the conformance
// tests exist to check against: when they are missing the test fails, so a
// run can never pass without checking. A machine that cannot have them
// configures with -DKUV_REQUIRE_REFERENCE=OFF and the tests skip instead.
#ifdef KUV_REFERENCE_OPTIONAL
#define KUV_REQUIRE_REFERENCE(present, what)              \
  do {                                                    \
    if (!(present)) GTEST_SKIP() << "missing " << (what); \
  } while (0)
#else
#define KUV_REQUIRE_REFERENCE(present, what)                                                                   \
  do {                                                                                                         \
    if (!(present)) FAIL() << "missing " << (what) << " (configure with -DKUV_REQUIRE_REFERENCE=OFF to skip)"; \
  } while (0)
#endif

namespace kuv::test {

// Sets or clears an environment variable for one test and puts it back.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvOverride() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline std::string referencePath(const std::string& name) { return std::string(KUV_REFERENCE_DIR) + "/" + name; }
inline std::string conformancePath(const std::string& name) { return referencePath("conformance/" + name); }
inline std::string fixturePath(const std::string& name) { return std::string(KUV_FIXTURE_DIR) + "/" + name; }

bool fileExists(const std::string& path);

// The process-wide settings as the test found them, put back when it ends.
class SavedSettings {
 public:
  SavedSettings() : saved_(settings) {}
  ~SavedSettings() { settings = saved_; }
  SavedSettings(const SavedSettings&) = delete;
  SavedSettings& operator=(const SavedSettings&) = delete;

 private:
  Settings saved_;
};

// Calls condition every few milliseconds until it holds (true) or the
// timeout passes (false): tests wait for what they expect, never for a time.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);
// A fresh folder under /tmp, removed with its contents by removeTree.
std::string makeTempFolder();
void removeTree(const std::string& path);

struct RecordedBox {
  std::string text;
  std::string title;
  unsigned style;
};

// Captures every message box while alive and answers it with `answer`
// (or the console default when answer is 0).
class MessageRecorder {
 public:
  explicit MessageRecorder(int answer = 0);
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  std::vector<RecordedBox> boxes() const;
  void setAnswer(int answer);

 private:
  struct State;
  State* state_;
  platform::MessageBoxBackend previous_;
};

}  // namespace kuv::test

namespace kuv::test {

// Runs a shell command; returns its exit status (-1 when it could not run)
// and, when output is given, what it printed on stdout.
int runCommand(const std::string& command, std::string* output = nullptr);

// 16-bit little-endian samples of a file (from byte `skip` on).
std::vector<int16_t> readSamples(const std::string& path, size_t skip = 0);

// Runs kuv-decode -o into folder/out.wav (HOME set to folder, so no user
// settings are read) and returns the samples of the wave file. `printed`
// receives what the tool wrote.
std::vector<int16_t> decodeToWave(const std::string& folder, const std::string& input, const std::string& options,
                                  std::string* printed = nullptr);

struct Comparison {
  size_t compared = 0;
  int maxDifference = 0;
  double psnr = 0;  // dB; infinity when identical
};
// Compares the overlap of two sample sequences.
Comparison compareSamples(const std::vector<int16_t>& a, const std::vector<int16_t>& b);

}  // namespace kuv::test
