// kuv: the player. One window per user unless MultipleInstances is set; a
// second start hands its names to the running one and ends.
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSocketNotifier>
#include <QSplashScreen>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/instance_channel.h"
#include "app/remote_query.h"
#include "app/start_up.h"
#include "config/settings.h"
#include "engine/input_stream.h"
#include "engine/url_reader.h"
#include "platform/message_box.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "session/message_codes.h"
#include "ui/dial.h"
#include "ui/gui_backends.h"
#include "ui/main_window.h"

namespace {

const char kUsage[] =
    "usage: kuv [FILE|FOLDER|PLAYLIST|URL ...]   play them (a running kuv takes them over)\n"
    "       kuv --query NAME                      ask the running kuv; NAME is one of\n"
    "           position frames-played total-frames volume set-volume=N seek-frame=N\n"
    "           state sample-rate layer bit-rate channels seek-ms=N\n"
    "       kuv --help | --version\n"
    "Without a display, play with kuv-decode instead.\n";

std::atomic<kuv::MainWindow*> liveWindow{nullptr};
// Requests wait here while the start goes on (an error box may be open
// before the window exists), so none is answered before it has run.
kuv::StartGate startGate;

// Relative names mean the folder kuv was started in, which a running
// instance does not share.
std::string absoluteName(const std::string& name) {
  if (name.empty() || name[0] == '/' || kuv::isUrlName(name)) return name;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return name;
  return std::string(cwd) + "/" + name;
}

// Requests from a second instance or another program, answered on the UI
// thread once the window exists. A hand-over that cannot run (the start
// gave up, the window has gone) answers 0: not taken, and the second start
// says so.
int32_t answerRequest(const kuv::InstanceRequest& request) {
  auto result = std::make_shared<int32_t>(0);
  if (!startGate.wait()) return 0;
  kuv::callOnUiThread([result, request] {
    kuv::MainWindow* window = liveWindow.load();
    if (!window) return;
    if (request.kind == 0) {
      *result = kuv::handleHandOver(window->player(), static_cast<int32_t>(request.code), request.value, request.text);
    } else {
      int32_t answer = 0;
      if (kuv::answerQuery(window->player(), request.code, request.value, answer)) *result = answer;
    }
    window->afterEvent();
    if (request.kind == 1 && request.code == kuv::MW_SET_VOLUME) kuv::dialRedraw();
  });
  return *result;
}

// SIGTERM, SIGHUP and SIGINT end kuv the way Close does, so the session's
// settings are saved: the handler only writes to a pipe, and the UI thread
// reads it and closes the window.
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t endRequested = 0;

void onEndingSignal(int signo) {
  const int saved = errno;
  endRequested = 1;
  const char byte = static_cast<char>(signo);
  ssize_t ignored = write(signalPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

// False when the pipe cannot be made; the signals then keep ending kuv at once.
bool catchEndingSignals() {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = onEndingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signo : kEndingSignals) sigaction(signo, &action, nullptr);
  return true;
}

// A second signal while the first is being served ends kuv at once: a
// shutdown that hangs can still be stopped.
void restoreEndingSignals() {
  for (int signo : kEndingSignals) std::signal(signo, SIG_DFL);
}

kuv::DisplayEnvironment displayEnvironment() {
  auto value = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  return {value("DISPLAY"), value("WAYLAND_DISPLAY"), value("XDG_RUNTIME_DIR"), value("QT_QPA_PLATFORM")};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("kuv 0.94");
      return 0;
    }
    if (arg == "--query") {
      if (i + 1 >= argc) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      return kuv::runQuery(argv[i + 1], stdout, stderr);
    }
    // Other switches are for other versions; they are passed over.
    if (!arg.empty() && arg[0] != '-') names.push_back(absoluteName(arg));
  }

  // A reader that goes away (a closed output pipe) is an error to report,
  // not a reason to die.
  kuv::ignoreSigpipe();
  kuv::loadSettings();
  kuv::clearPlaylist();

  // The socket decides who runs: a second listener is refused while the
  // first lives, and nothing of a crashed one is left over.
  kuv::InstanceServer server;
  const bool primary = server.listen(kuv::instanceSocketName(), answerRequest);
  // Leaving main by any path: a request that arrives once the UI loop is
  // gone must not wait for it, or closing the server would wait forever.
  struct ReleaseOnExit {
    ~ReleaseOnExit() {
      startGate.close();
      kuv::releaseUiCalls();
    }
  } releaseOnExit;
  if (!primary && kuv::settings.MultipleInstances == 0) {
    std::string error;
    const kuv::HandOverResult handed = kuv::handOverArguments(kuv::instanceSocketName(), names, &error, [] {
      std::fputs("kuv: waiting for the running kuv to take over (is a message box open there?)\n", stderr);
    });
    if (!error.empty()) std::fprintf(stderr, "kuv: %s\n", error.c_str());
    // Once the running instance was reached it alone plays: a second
    // window would only fight it for the list.
    if (handed == kuv::HandOverResult::kTaken) return 0;
    if (handed == kuv::HandOverResult::kNotTaken) return 1;
    // Nobody answered (the first was just ending): go on as a window of our own.
  }

  const kuv::DisplayChoice display =
      kuv::chooseDisplay(displayEnvironment(), kuv::xDisplayReachable, kuv::waylandReachable);
  if (!display.usable) {
    std::fprintf(stderr,
                 "Could Not Create Window...\n%s; play with kuv-decode instead:\n"
                 "    kuv-decode FILE|FOLDER|PLAYLIST|URL ...\n",
                 display.reason.c_str());
    return 0;
  }
  if (!display.platform.empty()) setenv("QT_QPA_PLATFORM", display.platform.c_str(), 1);

  QApplication app(argc, argv);
  QApplication::setApplicationName("kuv");
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(kuv::skinPng(":/skin/icon-256.png"))));
  QApplication::setQuitOnLastWindowClosed(false);

  std::unique_ptr<QSocketNotifier> endNotifier;
  if (catchEndingSignals()) {
    endNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(endNotifier.get(), &QSocketNotifier::activated, [&endNotifier] {
      char bytes[16];
      while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
      }
      endNotifier->setEnabled(false);
      restoreEndingSignals();
      // As the Close command once the window exists. Before it, an error
      // box of the start is dismissed and the start stops at its next step
      // (below).
      if (kuv::MainWindow* window = liveWindow.load())
        window->closeWindow();
      else
        QApplication::closeAllWindows();
    });
  }

  std::unique_ptr<QSplashScreen> splash;
  if (primary && kuv::settings.ShowSplashScreen) {
    splash = std::make_unique<QSplashScreen>(QPixmap::fromImage(kuv::skinPng(":/skin/splash.png")));
    splash->show();
    QTimer::singleShot(3000, splash.get(), &QSplashScreen::close);
  }

  kuv::MainWindow window;
  kuv::installGuiBackends(&window);
  for (const std::string& name : names) {
    if (endRequested) return 0;
    kuv::addByName(kuv::kAddNormal, name);
  }
  if (endRequested) return 0;

  std::string error;
  if (!window.createSkin(&error)) {
    kuv::platform::messageBox(error, "Error...", kuv::platform::MB_OK | kuv::platform::MB_ICONWARNING);
    kuv::platform::messageBox("Could Not Create Window...", "Error...", kuv::platform::MB_OK);
    return 0;
  }
  if (endRequested) return 0;
  window.show();
  liveWindow.store(&window);
  startGate.open();
  if (!window.startPlayback()) {
    kuv::platform::messageBox("Could Not Create Window...", "Error...", kuv::platform::MB_OK);
    return 0;
  }
  // A signal served inside an error box of the start has already closed the
  // window, and its quit ended only that box's loop.
  int status = 0;
  if (endRequested)
    window.closeWindow();
  else
    status = app.exec();
  startGate.close();
  liveWindow.store(nullptr);
  kuv::removeGuiBackends();
  return status;
}
