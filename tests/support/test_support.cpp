#include "support/test_support.h"

#include <stdlib.h>

#include <sys/wait.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <thread>

namespace kuv::test {

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string makeTempFolder() {
  char name[] = "/tmp/kuv-test-XXXXXX";
  const char* made = mkdtemp(name);
  return made ? std::string(made) : std::string();
}

void removeTree(const std::string& path) {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

struct MessageRecorder::State {
  std::mutex lock;
  std::vector<RecordedBox> boxes;
  int answer;
};

MessageRecorder::MessageRecorder(int answer) : state_(new State) {
  state_->answer = answer;
  State* state = state_;
  previous_ =
      platform::setMessageBoxBackend([state](const std::string& text, const std::string& title, unsigned style) {
        std::lock_guard<std::mutex> guard(state->lock);
        state->boxes.push_back(RecordedBox{text, title, style});
        if (state->answer != 0) return state->answer;
        return (style & 0x0F) == platform::MB_YESNO ? static_cast<int>(platform::IDNO)
                                                    : static_cast<int>(platform::IDOK);
      });
}

MessageRecorder::~MessageRecorder() {
  platform::setMessageBoxBackend(previous_);
  delete state_;
}

std::vector<RecordedBox> MessageRecorder::boxes() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->boxes;
}

void MessageRecorder::setAnswer(int answer) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->answer = answer;
}

int runCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output) output->append(buffer, got);
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<int16_t> readSamples(const std::string& path, size_t skip) {
  const std::string bytes = readFile(path);
  std::vector<int16_t> samples;
  for (size_t i = skip; i + 1 < bytes.size(); i += 2) {
    samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return samples;
}

std::vector<int16_t> decodeToWave(const std::string& folder, const std::string& input, const std::string& options,
                                  std::string* printed) {
  const std::string wav = folder + "/out.wav";
  std::remove(wav.c_str());
  const std::string command =
      "HOME='" + folder + "' '" + KUV_DECODE_BIN + "' -q " + options + " -o '" + wav + "' '" + input + "' 2>&1";
  std::string output;
  runCommand(command, &output);
  if (printed) *printed = output;
  return readSamples(wav, 46);
}

Comparison compareSamples(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  Comparison c;
  c.compared = std::min(a.size(), b.size());
  double squares = 0;
  for (size_t i = 0; i < c.compared; ++i) {
    const int d = a[i] - b[i];
    c.maxDifference = std::max(c.maxDifference, std::abs(d));
    squares += static_cast<double>(d) * d;
  }
  const double rms = c.compared ? std::sqrt(squares / static_cast<double>(c.compared)) : 0;
  c.psnr = rms > 0 ? 20 * std::log10(32768.0 / rms) : std::numeric_limits<double>::infinity();
  return c;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace kuv::test
