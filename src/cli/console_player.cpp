#include "cli/console_player.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/terminal_text.h"
#include "config/settings.h"
#include "engine/decoder_thread.h"
#include "layer3/layer3.h"
#include "output/output_system.h"
#include "platform/dialogs.h"
#include "platform/message_box.h"
#include "platform/message_queue.h"
#include "platform/paths.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "session/notification_queue.h"
#include "session/playback_session.h"

namespace kuv {

namespace {

constexpr uint32_t kInterrupted = 0x9001;

std::string clock(double seconds) {
  if (seconds < 0) seconds = 0;
  const long whole = static_cast<long>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

// The name's last part, fit to print.
std::string titleOf(const std::string& name) { return terminalText(platform::lastPathComponent(name)); }

// Printable text cut or padded to `columns` characters, never inside one.
std::string fitColumns(const std::string& text, size_t columns) {
  size_t at = 0;
  size_t used = 0;
  while (at < text.size() && used < columns) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    ++used;
  }
  return text.substr(0, at) + std::string(columns - used, ' ');
}

struct Progress {
  bool shown = false;
  std::string title;
  uint32_t totalFrames = 0;
  uint32_t frame = 0;
};

void drawProgress(const Progress& progress, int downSample) {
  const PlaybackInfo info = getPlaybackInfo();
  const double perFrame = secondsPerFrame(info, downSample);
  double elapsed = progress.frame * perFrame;
  if (outputBufferCount() > 0) elapsed = outputPosition() / 1000.0;
  char bar[31];
  const int width = 30;
  const int filled =
      progress.totalFrames ? static_cast<int>(static_cast<double>(progress.frame) * width / progress.totalFrames) : 0;
  for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '-';
  bar[width] = 0;
  const std::string total = progress.totalFrames ? clock(progress.totalFrames * perFrame) : std::string("--:--");
  std::fprintf(stderr, "\r%s [%s] %s / %s ", fitColumns(progress.title, 32).c_str(), bar, clock(elapsed).c_str(),
               total.c_str());
  std::fflush(stderr);
}

void endProgressLine(Progress& progress) {
  if (progress.shown) std::fputc('\n', stderr);
  progress.shown = false;
}

// Turns Ctrl-C and SIGTERM into a message for the main loop. The thread is
// joined before the queue it posts into goes: finish() closes the queue (so
// a post in progress gives up) and wakes the thread with a signal of its own.
class SignalWatcher {
 public:
  static constexpr int kWakeSignal = SIGUSR1;

  // Blocks SIGINT and SIGTERM in this thread and every thread started after
  // it, so only the watcher takes them.
  explicit SignalWatcher(platform::MessageQueue& queue) : queue_(queue) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // The wake signal is blocked only while the watcher starts, so it
    // inherits the block and the signal can never reach another thread.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &wake, nullptr);
    sigaddset(&signals, kWakeSignal);
    thread_ = std::thread(&SignalWatcher::watch, this, signals);
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
  }
  ~SignalWatcher() { finish(); }
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // Ends the thread; the queue takes no more messages after this.
  void finish() {
    if (!thread_.joinable()) return;
    finishing_.store(true);
    queue_.close();
    pthread_kill(thread_.native_handle(), kWakeSignal);
    thread_.join();
  }

 private:
  void watch(sigset_t signals) {
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0 || finishing_.load()) return;
      if (signal != kWakeSignal) platform::postRetry(queue_, kInterrupted);
    }
  }

  platform::MessageQueue& queue_;
  std::atomic<bool> finishing_{false};
  std::thread thread_;
};

// One line on stderr for an input that produced no audio.
void reportInput(const std::string& name, const char* reason) {
  std::fprintf(stderr, "kuv-decode: %s: %s\n", terminalText(name).c_str(), reason);
}

}  // namespace

int runConsolePlayer(const ConsoleOptions& options) {
  if (options.inputs.empty()) return kExitUsage;
  loadSettings();
  settings.AudioOutputSystem = !options.waveFile.empty() ? kWaveFileOutput
                               : options.plugin          ? kPluginOutput
                                                         : kSoundDeviceOutput;
  if (options.deviceNumber >= -1) settings.WinMMOutputDev = options.deviceNumber;
  if (options.downSample >= 0) settings.DownSample = options.downSample;
  if (options.channels != -9) settings.Channels = options.channels;
  if (options.eightBit) settings.AudioOutput8Bit = 1;
  if (options.priority != -99) settings.DecoderPriority = options.priority;
  if (options.shuffle >= 0) settings.ShufflePlay = options.shuffle;
  if (options.repeat >= 0) settings.RepeatPlay = options.repeat;
  platform::setConsoleSaveFileName(options.waveFile);
  setupEqualiser(settings.EqBand);
  if (options.answerYes) {
    platform::setMessageBoxBackend([](const std::string& text, const std::string& title, unsigned style) {
      platform::consoleMessageBox(terminalText(text, true), terminalText(title), style);
      return (style & 0x0F) == platform::MB_YESNO ? static_cast<int>(platform::IDYES)
                                                  : static_cast<int>(platform::IDOK);
    });
  }

  // The watcher is declared after the queue, so it ends before it.
  auto notes = std::make_unique<NotificationQueue>();
  notes->queue.open();
  SignalWatcher watcher(notes->queue);

  bool inputFailed = false;
  // The names become the playlist; the first named plays first, and with
  // ShufflePlay the rest follow in shuffled order. A name that adds nothing
  // has failed (the playlist has said why).
  clearPlaylist();
  for (const std::string& input : options.inputs) {
    const int32_t before = entryCount();
    addByName(kAddNormal, input);
    if (entryCount() > before) continue;
    struct stat info;
    reportInput(input, stat(input.c_str(), &info) != 0 ? "cannot open" : "nothing to play");
    inputFailed = true;
  }
  selectEntry(0);
  if (settings.ShufflePlay == 1) shuffleEntries();

  PlaybackSession session{realEngine(), kConsoleAdvance};
  openVisQueue(session);
  if (!openEngine(session, queueSink(*notes))) {
    std::fprintf(stderr, "kuv-decode: cannot start the decoder\n");
    closeSession(session, SessionEnd::kNothingPlayed);
    return kExitInputFailed;
  }
  if (!playCurrent(session)) {
    std::fprintf(stderr, entryCount() == 0 ? "kuv-decode: nothing to play\n"
                                           : "kuv-decode: the decoder does not take commands\n");
    closeSession(session, SessionEnd::kNothingPlayed);
    return kExitInputFailed;
  }

  const bool showProgress = !options.quiet && isatty(STDERR_FILENO);
  bool interrupted = false;
  bool outputFailed = false;
  Progress progress;
  progress.title = titleOf(session.state.path);
  // After the session has moved on: false when playback is over.
  auto movedOn = [&](SessionMove move) -> bool {
    endProgressLine(progress);
    if (move == SessionMove::kPlaying) {
      progress = Progress{};
      progress.title = titleOf(session.state.path);
      return true;
    }
    if (move == SessionMove::kRefused) {
      std::fprintf(stderr, "kuv-decode: the decoder does not take commands\n");
      inputFailed = true;
    }
    return false;
  };

  auto lastDraw = std::chrono::steady_clock::now();
  platform::ThreadMessage message;
  bool running = true;
  while (running && notes->queue.get(&message)) {
    // A late report about a track already left changes nothing.
    const bool current = !isEngineNotification(message.message) || isAwaited(session.state, message.wParam);
    const std::string& path = session.state.path;
    switch (current ? message.message : 0) {
      case ENGINE_TRACK_STARTED:
        trackStarted(session);
        progress.totalFrames = static_cast<uint32_t>(message.lParam);
        progress.frame = 0;
        if (showProgress) {
          progress.shown = true;
          drawProgress(progress, settings.DownSample);
        }
        break;
      case ENGINE_PROGRESS:
        progress.frame = static_cast<uint32_t>(message.lParam);
        if (showProgress && progress.shown &&
            std::chrono::steady_clock::now() - lastDraw > std::chrono::milliseconds(200)) {
          lastDraw = std::chrono::steady_clock::now();
          drawProgress(progress, settings.DownSample);
        }
        break;
      case ENGINE_TRACK_ENDED:
        if (message.lParam == kTrackOutputFailed) {
          // The engine has said why and closed the output.
          endProgressLine(progress);
          std::fprintf(stderr, "kuv-decode: %s: the output failed; stopped\n", terminalText(path).c_str());
          outputFailed = true;
        } else if (message.lParam == kTrackNoAudio) {
          endProgressLine(progress);
          reportInput(path, "no MPEG audio");
          inputFailed = true;
        } else if (progress.shown) {
          progress.frame = progress.totalFrames;
          drawProgress(progress, settings.DownSample);
        }
        running = movedOn(trackEnded(session, message.lParam));
        break;
      case ENGINE_OPEN_FAILED:
        endProgressLine(progress);
        if (message.lParam == kOpenFailedOutput) {
          // The output system has said why; no other input would fare better.
          std::fprintf(stderr, "kuv-decode: the output could not be opened; stopped\n");
          outputFailed = true;
        } else {
          reportInput(path, "cannot open");
          inputFailed = true;
        }
        running = movedOn(openFailed(session, message.lParam));
        break;
      case kInterrupted:
        interrupted = true;
        running = false;
        break;
      default:
        break;
    }
    messageHandled(*notes, message);
  }
  endProgressLine(progress);

  // Once playback has ended the output plays out what it holds; Ctrl-C
  // stops it at once.
  closeSession(session, interrupted ? SessionEnd::kStopNow : SessionEnd::kPlayOut);
  watcher.finish();
  if (interrupted) return kExitInterrupted;
  if (outputFailed) return kExitOutputFailed;
  return inputFailed ? kExitInputFailed : kExitOk;
}

int listPlaylist(const std::vector<std::string>& names) {
  loadSettings();
  settings.ReadFileInfo = 1;  // the lengths and tags are what the listing is for
  clearPlaylist();
  for (const std::string& name : names) addByName(kAddNormal, name);
  PlayTimeTotal total;
  int32_t position = 0;
  for (PlaylistEntry* entry = entryAt(0); entry; entry = entry->next) {
    ++position;
    total.add(*entry);
    const std::string length =
        entry->infoKnown && entry->lengthMs >= 0 ? playTimeText(entry->lengthMs).substr(10) : std::string("--:--:--");
    std::printf("%s  [%s]\n", terminalText(entryLineText(position, *entry)).c_str(), length.c_str());
  }
  std::printf("%s\n", total.text().c_str());
  return position > 0 ? 0 : 1;
}

}  // namespace kuv
