// kuv-decode: the console side of the player's engine.
//   kuv-decode --info FILE|URL ...   describe each input's frames
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_player.h"
#include "cli/terminal_text.h"
#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "engine/decoder_thread.h"
#include "engine/input_stream.h"
#include "engine/url_reader.h"
#include "output/sound_device.h"
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
  auto previous =
      kuv::platform::setMessageBoxBackend([&errors](const std::string& text, const std::string& title, unsigned style) {
        errors.push_back(title + " " + text);
        return kuv::platform::consoleMessageBox(kuv::terminalText(text, true), kuv::terminalText(title), style);
      });

  auto stream = std::make_unique<kuv::InputStream>();
  kuv::FrameContext ctx;
  std::printf("%s\n", kuv::terminalText(name).c_str());
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
    while (kuv::readFrameTellingUser(*stream, ctx)) {
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
  for (const std::string& error : errors) std::printf("  error: %s\n", kuv::terminalText(error, true).c_str());
  kuv::platform::setMessageBoxBackend(previous);
  return status;
}

// The sound devices as the Audio page lists them.
int listDevices() {
  std::string name;
  for (int32_t n = 0; kuv::soundDeviceName(n, &name); ++n) std::printf("%d: %s\n", n, kuv::terminalText(name).c_str());
  kuv::soundDeviceName(-1, &name);
  std::printf("-1: %s\n", kuv::terminalText(name).c_str());
  return 0;
}

const char kUsage[] =
    "usage: kuv-decode [OPTIONS] FILE|FOLDER|PLAYLIST|URL ...  play them in playlist order\n"
    "       kuv-decode --info FILE|URL ...         describe the inputs\n"
    "       kuv-decode --list FILE|FOLDER|PLAYLIST|URL ...  list the playlist they make\n"
    "       kuv-decode --list-devices              list the sound devices\n"
    "options:\n"
    "  -o FILE.wav        write a wave file instead of playing\n"
    "  --device [N]       play through sound device N (-1: the default device)\n"
    "  --plugin           play through the output plug-in default.kop\n"
    "  --downsample 0|1|2 full, half or quarter sample rate\n"
    "  --channels C       -1 stereo, 0 left, 1 right, 2 mono (left), 3 mix\n"
    "  --8bit             8-bit output\n"
    "  --shuffle          shuffle the playlist (the first name still plays first)\n"
    "  --repeat 0|1|2     at the end: stop, start over, or repeat the track\n"
    "  --priority N       decoder priority 0 (lowest) .. 5 (time-critical)\n"
    "  --yes              answer Yes to questions about damaged streams\n"
    "  -q, --quiet        no progress display\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "exit status when playing:\n"
    "  0    every input produced audio\n"
    "  1    an input could not be opened, held no MPEG audio or named nothing (one line each on stderr)\n"
    "  2    bad command line\n"
    "  3    the output could not be opened or written (disk full, no device); playback stopped\n"
    "  130  interrupted (Ctrl-C, SIGTERM)\n";

// Parses an integer option value within [low, high].
bool intValue(const char* text, int low, int high, int* out) {
  if (!text) return false;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  *out = static_cast<int>(value);
  return true;
}

int badUsage() {
  std::fputs(kUsage, stderr);
  return kuv::kExitUsage;
}

// Messages go to the terminal, made safe to print; a full disk is an error
// to report, not a signal.
void setUpConsole() {
  kuv::ignoreSigpipe();
  // Messages name files and playlist values, which may hold anything.
  kuv::platform::setMessageBoxBackend([](const std::string& text, const std::string& title, unsigned style) {
    return kuv::platform::consoleMessageBox(kuv::terminalText(text, true), kuv::terminalText(title), style);
  });
  // Past a file-size limit a write fails with EFBIG and is reported, rather
  // than the signal killing the process with a half-written wave file.
  signal(SIGXFSZ, SIG_IGN);
}

// --list-devices, --list and --info: the exit status when the first
// argument names one of them.
std::optional<int> runListing(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  if (std::strcmp(argv[1], "--list-devices") == 0) return listDevices();
  if (std::strcmp(argv[1], "--list") == 0) {
    if (argc < 3) return badUsage();
    return kuv::listPlaylist(std::vector<std::string>(argv + 2, argv + argc));
  }
  if (std::strcmp(argv[1], "--info") == 0) {
    if (argc < 3) return badUsage();
    int status = 0;
    for (int i = 2; i < argc; ++i) status |= describe(argv[i]);
    return status;
  }
  return std::nullopt;
}

// Reads the playing options and inputs; an exit status when the command
// line asks for help or the version, or is wrong.
std::optional<int> parseOptions(int argc, char** argv, kuv::ConsoleOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    auto bad = [&](const char* what) {
      std::fprintf(stderr, "kuv-decode: %s\n%s", what, kUsage);
      return kuv::kExitUsage;
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::puts("kuv-decode 0.94");
      return 0;
    } else if (arg == "-o") {
      if (!next || !*next) return bad("-o needs a file name");
      options.waveFile = next;
      ++i;
    } else if (arg == "--device") {
      options.deviceNumber = -1;
      if (next && intValue(next, -1, 1000, &options.deviceNumber)) ++i;
    } else if (arg == "--plugin") {
      options.plugin = true;
    } else if (arg == "--downsample") {
      if (!intValue(next, 0, 2, &options.downSample)) return bad("--downsample takes 0, 1 or 2");
      ++i;
    } else if (arg == "--channels") {
      if (!intValue(next, -1, 3, &options.channels)) return bad("--channels takes -1, 0, 1, 2 or 3");
      ++i;
    } else if (arg == "--8bit") {
      options.eightBit = true;
    } else if (arg == "--priority") {
      if (!intValue(next, 0, 5, &options.priority)) return bad("--priority takes 0 to 5");
      ++i;
    } else if (arg == "--shuffle") {
      options.shuffle = 1;
    } else if (arg == "--repeat") {
      if (!intValue(next, 0, 2, &options.repeat)) return bad("--repeat takes 0, 1 or 2");
      ++i;
    } else if (arg == "--yes") {
      options.answerYes = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--info" || arg == "--list-devices" || arg == "--list") {
      return bad("--info, --list and --list-devices come first");
    } else if (arg.size() > 1 && arg[0] == '-') {
      return bad(("unknown option " + arg).c_str());
    } else {
      options.inputs.push_back(arg);
    }
  }
  if (options.inputs.empty()) return badUsage();
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  setUpConsole();
  if (const std::optional<int> status = runListing(argc, argv)) return *status;
  kuv::ConsoleOptions options;
  if (const std::optional<int> status = parseOptions(argc, argv, options)) return *status;
  return kuv::runConsolePlayer(options);
}
