#include "support/test_support.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

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
  previous_ = platform::setMessageBoxBackend([state](const std::string& text, const std::string& title,
                                                     unsigned style) {
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

}  // namespace kuv::test
