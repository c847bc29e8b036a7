// Runs a test on one synthesis path: this process through
// forceSynthesisPath, any kuv-decode it starts through KUV_SIMD; both are
// put back when the scope ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "decoder/synthesis.h"

namespace kuv::test {

class SynthesisPathScope {
 public:
  SynthesisPathScope() = default;
  SynthesisPathScope(const SynthesisPathScope&) = delete;
  SynthesisPathScope& operator=(const SynthesisPathScope&) = delete;
  ~SynthesisPathScope() { leave(); }

  // False where this machine lacks the path (then nothing changed).
  bool enter(SynthesisPath path) {
    leave();
    previous_ = synthesisPath();
    if (!forceSynthesisPath(path)) return false;
    const char* env = std::getenv("KUV_SIMD");
    hadEnv_ = env != nullptr;
    if (env) previousEnv_ = env;
    setenv("KUV_SIMD", synthesisPathName(path), 1);
    entered_ = true;
    return true;
  }

  void leave() {
    if (!entered_) return;
    forceSynthesisPath(previous_);
    if (hadEnv_) {
      setenv("KUV_SIMD", previousEnv_.c_str(), 1);
    } else {
      unsetenv("KUV_SIMD");
    }
    entered_ = false;
  }

 private:
  bool entered_ = false;
  SynthesisPath previous_ = SynthesisPath::kScalar;
  bool hadEnv_ = false;
  std::string previousEnv_;
};

// The reason a path's case cannot run here, for GTEST_SKIP.
inline std::string missingPathReason(SynthesisPath path) {
  return std::string("this processor (or a build for another architecture) has no ") + synthesisPathName(path) +
         " synthesis path" + (path == SynthesisPath::kAvx2 ? " (AVX2 and FMA both needed)" : "");
}

inline std::string synthesisPathParamName(const testing::TestParamInfo<SynthesisPath>& info) {
  return synthesisPathName(info.param);
}

}  // namespace kuv::test
