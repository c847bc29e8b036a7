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
#include "engine/stream_tags.h"
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

// The settings this run plays with: kuv.ini's, with the options over them
// (never saved).
void applyOptions(const ConsoleOptions& options) {
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
}

// The names become the playlist; the first named plays first, and with
// ShufflePlay the rest follow in shuffled order. A name that adds nothing
// has failed (the playlist has said why). False when any failed.
bool fillPlaylist(const std::vector<std::string>& inputs) {
  bool allAdded = true;
  clearPlaylist();
  for (const std::string& input : inputs) {
    const int32_t before = entryCount();
    addByName(kAddNormal, input);
    if (entryCount() > before) continue;
    struct stat info;
    reportInput(input, stat(input.c_str(), &info) != 0 ? "cannot open" : "nothing to play");
    allAdded = false;
  }
  selectEntry(0);
  if (settings.ShufflePlay == 1) shuffleEntries();
  return allAdded;
}

// Starts the engine and the first entry; on failure says why and closes the
// session.
bool startPlaying(PlaybackSession& session, NotificationQueue& notes) {
  openVisQueue(session);
  if (!openEngine(session, queueSink(notes))) {
    std::fprintf(stderr, "kuv-decode: cannot start the decoder\n");
    closeSession(session, SessionEnd::kNothingPlayed);
    return false;
  }
  if (!playCurrent(session)) {
    std::fprintf(stderr, entryCount() == 0 ? "kuv-decode: nothing to play\n"
                                           : "kuv-decode: the decoder does not take commands\n");
    closeSession(session, SessionEnd::kNothingPlayed);
    return false;
  }
  return true;
}

// Follows the engine's reports until playback is over or interrupted: the
// progress line, one line per failed input, and how the run ends.
class ConsoleRun {
 public:
  ConsoleRun(PlaybackSession& session, bool showProgress, bool quiet)
      : session_(session), showProgress_(showProgress), quiet_(quiet) {
    progress_.title = titleOf(session.state.path);
  }

  // False when playback is over.
  bool handle(const platform::ThreadMessage& message) {
    // A late report about a track already left changes nothing.
    const bool current = !isEngineNotification(message.message) || isAwaited(session_.state, message.wParam);
    switch (current ? message.message : 0) {
      case ENGINE_TRACK_STARTED:
        trackStartedShown(static_cast<uint32_t>(message.lParam));
        return true;
      case ENGINE_PROGRESS:
        progressShown(static_cast<uint32_t>(message.lParam));
        return true;
      case ENGINE_TRACK_ENDED:
        trackEndedShown(message.lParam);
        return movedOn(trackEnded(session_, message.lParam));
      case ENGINE_OPEN_FAILED:
        return openFailedShown(message.lParam);
      case ENGINE_STREAM_TAGS:
        streamTagsShown();
        return true;
      case kInterrupted:
        interrupted_ = true;
        return false;
      default:
        return true;
    }
  }

  void end() { endProgressLine(progress_); }
  bool interrupted() const { return interrupted_; }
  void inputFailed() { inputFailed_ = true; }

  int exitStatus() const {
    if (interrupted_) return kExitInterrupted;
    if (outputFailed_) return kExitOutputFailed;
    return inputFailed_ ? kExitInputFailed : kExitOk;
  }

 private:
  void trackStartedShown(uint32_t totalFrames) {
    trackStarted(session_);
    progress_.totalFrames = totalFrames;
    progress_.frame = 0;
    if (showProgress_) {
      progress_.shown = true;
      drawProgress(progress_, settings.DownSample);
    }
  }

  void progressShown(uint32_t frame) {
    progress_.frame = frame;
    if (showProgress_ && progress_.shown && std::chrono::steady_clock::now() - lastDraw_ > kRedrawEvery) {
      lastDraw_ = std::chrono::steady_clock::now();
      drawProgress(progress_, settings.DownSample);
    }
  }

  void trackEndedShown(intptr_t how) {
    const std::string& path = session_.state.path;
    if (how == kTrackOutputFailed) {
      // The engine has said why and closed the output.
      endProgressLine(progress_);
      std::fprintf(stderr, "kuv-decode: %s: the output failed; stopped\n", terminalText(path).c_str());
      outputFailed_ = true;
    } else if (how == kTrackNoAudio) {
      endProgressLine(progress_);
      reportInput(path, "no MPEG audio");
      inputFailed_ = true;
    } else if (progress_.shown) {
      progress_.frame = progress_.totalFrames;
      drawProgress(progress_, settings.DownSample);
    }
  }

  // False when playback is over.
  bool openFailedShown(intptr_t why) {
    endProgressLine(progress_);
    if (why == kOpenFailedPlaylist) {
      // A station's playlist: its entries play in its place, unless it had
      // none (the playlist has said so).
      const std::string path = session_.state.path;
      const SessionMove move = openFailed(session_, why);
      if (!session_.state.expandedPlaylist) {
        reportInput(path, "cannot open");
        inputFailed_ = true;
      }
      return movedOn(move);
    }
    if (why == kOpenFailedOutput) {
      // The output system has said why; no other input would fare better.
      std::fprintf(stderr, "kuv-decode: the output could not be opened; stopped\n");
      outputFailed_ = true;
    } else {
      reportInput(session_.state.path, "cannot open");
      inputFailed_ = true;
    }
    return movedOn(openFailed(session_, why));
  }

  // One line whenever the stream names a new station or title.
  void streamTagsShown() {
    if (quiet_) return;
    const StreamTags tags = currentStreamTags();
    std::string text = tags.station;
    if (!tags.station.empty() && !tags.title.empty()) text += " - ";
    text += tags.title;
    if (text.empty()) return;
    if (progress_.shown) std::fputc('\n', stderr);
    std::fprintf(stderr, "Stream: %s\n", terminalText(text).c_str());
    if (progress_.shown) drawProgress(progress_, settings.DownSample);
  }

  // After the session has moved on: false when playback is over.
  bool movedOn(SessionMove move) {
    endProgressLine(progress_);
    if (move == SessionMove::kPlaying) {
      progress_ = Progress{};
      progress_.title = titleOf(session_.state.path);
      return true;
    }
    if (move == SessionMove::kRefused) {
      std::fprintf(stderr, "kuv-decode: the decoder does not take commands\n");
      inputFailed_ = true;
    }
    return false;
  }

  static constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
  PlaybackSession& session_;
  const bool showProgress_;
  const bool quiet_;
  Progress progress_;
  std::chrono::steady_clock::time_point lastDraw_ = std::chrono::steady_clock::now();
  bool interrupted_ = false;
  bool outputFailed_ = false;
  bool inputFailed_ = false;
};

}  // namespace

int runConsolePlayer(const ConsoleOptions& options) {
  if (options.inputs.empty()) return kExitUsage;
  applyOptions(options);
  // The watcher is declared after the queue, so it ends before it.
  auto notes = std::make_unique<NotificationQueue>();
  notes->queue.open();
  const bool showProgress = !options.quiet && isatty(STDERR_FILENO);
  notes->wantsProgress = showProgress;
  SignalWatcher watcher(notes->queue);

  const bool allAdded = fillPlaylist(options.inputs);
  PlaybackSession session{realEngine(), kConsoleAdvance};
  if (!startPlaying(session, *notes)) return kExitInputFailed;

  ConsoleRun run(session, showProgress, options.quiet);
  if (!allAdded) run.inputFailed();
  platform::ThreadMessage message;
  bool running = true;
  while (running && notes->queue.get(&message)) {
    running = run.handle(message);
    messageHandled(*notes, message);
  }
  run.end();

  // Once playback has ended the output plays out what it holds; Ctrl-C
  // stops it at once.
  closeSession(session, run.interrupted() ? SessionEnd::kStopNow : SessionEnd::kPlayOut);
  watcher.finish();
  return run.exitStatus();
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
