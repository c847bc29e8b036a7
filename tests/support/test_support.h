// Shared helpers for the core tests: paths of test data and a recorder for
// message boxes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/message_box.h"

namespace kuv::test {

inline std::string referencePath(const std::string& name) { return std::string(KUV_REFERENCE_DIR) + "/" + name; }
inline std::string conformancePath(const std::string& name) { return referencePath("conformance/" + name); }
inline std::string fixturePath(const std::string& name) { return std::string(KUV_FIXTURE_DIR) + "/" + name; }

bool fileExists(const std::string& path);
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
