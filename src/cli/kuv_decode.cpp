// kuv-decode: the console side of the player's engine.
//   kuv-decode --info FILE|URL ...   describe each input's frames
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/frame_header.h"
#include "engine/input_stream.h"
#include "engine/url_reader.h"
#include "platform/message_box.h"

namespace {

const char* modeName(int mode) {
  static const char* const names[4] = {"stereo", "joint stereo", "dual channel", "single channel"};
  return names[mode & 3];
}

const char* versionName(const kuv::FrameContext& ctx) {
  if (ctx.mpeg25) return "MPEG 2.5";
  return ctx.lsf ? "MPEG-2" : "MPEG-1";
}

std::string formatDuration(double seconds) {
  const long whole = static_cast<long>(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%ld:%02ld.%03ld", whole / 60, whole % 60,
                static_cast<long>(std::lround((seconds - static_cast<double>(whole)) * 1000.0)) % 1000);
  return text;
}

// Describes one input; returns 0 when it held at least one frame.
int describe(const std::string& name) {
  std::vector<std::string> errors;
  auto previous = kuv::platform::setMessageBoxBackend(
      [&errors](const std::string& text, const std::string& title, unsigned style) {
        errors.push_back(title + " " + text);
        return kuv::platform::consoleMessageBox(text, title, style);
      });

  auto stream = std::make_unique<kuv::InputStream>();
  kuv::FrameContext ctx;
  std::printf("%s\n", name.c_str());
  int status = 1;
  if (!kuv::openStream(*stream, name)) {
    std::printf("  error: cannot open\n");
  } else {
    kuv::resetFrameState(*stream);
    uint64_t frames = 0;
    uint64_t bytes = 0;
    int firstBitRate = -1;
    bool variable = false;
    kuv::FrameContext first;
    while (kuv::readFrame(*stream, ctx)) {
      if (frames == 0) first = ctx;
      ++frames;
      bytes += static_cast<uint64_t>(ctx.bodyLength) + 4;
      if (firstBitRate < 0) firstBitRate = ctx.bitRateIndex;
      if (ctx.bitRateIndex != firstBitRate) variable = true;
    }
    if (frames > 0) {
      const int rate = kuv::kSampleRates[first.sampleRateIndex];
      const double seconds = static_cast<double>(frames) * kuv::samplesPerFrame(first) / rate;
      static const char* const layers[4] = {"", "I", "II", "III"};
      std::printf("  layer: %s\n", layers[first.layer]);
      std::printf("  version: %s\n", versionName(first));
      std::printf("  sample rate: %d Hz\n", rate);
      if (variable) {
        std::printf("  bit rate: VBR (average %.0f kbit/s)\n", bytes * 8.0 / seconds / 1000.0);
      } else {
        std::printf("  bit rate: %d kbit/s\n", kuv::bitRateKbps(first.lsf, first.layer, first.bitRateIndex));
      }
      std::printf("  mode: %s\n", modeName(first.mode));
      std::printf("  frames: %llu\n", static_cast<unsigned long long>(frames));
      std::printf("  duration: %s (%.3f s)\n", formatDuration(seconds).c_str(), seconds);
      status = 0;
    } else if (errors.empty()) {
      std::printf("  error: no MPEG audio frames\n");
    }
    kuv::closeStream(*stream);
  }
  for (const std::string& error : errors) std::printf("  error: %s\n", error.c_str());
  kuv::platform::setMessageBoxBackend(previous);
  return status;
}

void usage() { std::fprintf(stderr, "usage: kuv-decode --info FILE|URL ...\n"); }

}  // namespace

int main(int argc, char** argv) {
  kuv::ignoreSigpipe();
  if (argc < 3 || std::strcmp(argv[1], "--info") != 0) {
    usage();
    return 2;
  }
  int status = 0;
  for (int i = 2; i < argc; ++i) status |= describe(argv[i]);
  return status;
}
