// Times the playlist editor on a playlist file, offscreen: loading the list
// (load_ms, part of open_ms) and opening the editor on it until it has
// painted, a refresh, and reading
// every entry's length and tags in the background (from the start of the
// load until the last entry's information is applied).
//   QT_QPA_PLATFORM=offscreen kuv_editor_times LIST.m3u
#include <QApplication>
#include <QListView>

#include <chrono>
#include <cstdio>
#include <memory>

#include "config/settings.h"
#include "playlist/info_reader.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "ui/playlist_editor.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct BenchHost final : kuv::EditorHost {
  bool allowed = true;
  kuv::PlaylistEditor* editor = nullptr;
  bool& refreshAllowed() override { return allowed; }
  void listChanged() override {
    allowed = true;
    if (editor) editor->refresh();
  }
  void playCurrentEntry() override {}
  void editorClosing() override { editor = nullptr; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kuv_editor_times LIST.m3u\n");
    return 2;
  }
  QApplication app(argc, argv);
  kuv::loadSettings();
  kuv::settings.ReadFileInfo = 1;
  kuv::setInfoReadingDeferred(true);
  bool announced = false;
  kuv::InfoReader reader([&announced, &app] {
    QMetaObject::invokeMethod(
        &app, [&announced] { announced = true; }, Qt::QueuedConnection);
  });
  BenchHost host;

  const Clock::time_point start = Clock::now();
  kuv::addByName(kuv::kAddNormal, argv[1]);
  const double loadMs = msSince(start);
  reader.queueUnknownEntries();
  auto* editor = new kuv::PlaylistEditor(host);
  host.editor = editor;
  editor->show();
  // Painted once the event queue has run dry after the show.
  app.processEvents();
  editor->list()->viewport()->repaint();
  const double openMs = msSince(start);

  const Clock::time_point refreshStart = Clock::now();
  editor->refresh();
  editor->list()->viewport()->repaint();
  const double refreshMs = msSince(refreshStart);

  while (reader.progress().total > 0) {
    app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!announced) continue;
    announced = false;
    editor->infoRead(reader.applyResults(), reader.progress());
  }
  const double infoMs = msSince(start);

  std::printf("entries %d\nload_ms %.1f\nopen_ms %.1f\nrefresh_ms %.1f\ninfo_ms %.1f\n", kuv::entryCount(), loadMs,
              openMs, refreshMs, infoMs);
  delete editor;
  return 0;
}
