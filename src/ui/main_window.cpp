#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "config/file_types.h"
#include "config/settings.h"
#include "engine/vis_queue.h"
#include "layer3/layer3.h"
#include "output/output_system.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "plugins/current_file.h"
#include "plugins/vis_host.h"
#include "ui/dial.h"
#include "ui/dropped_names.h"
#include "ui/menu_marks.h"
#include "ui/skin_region.h"
#include "ui/url_dialog.h"
#include "ui/window_placement.h"

namespace kuv {

namespace {

QRect toQRect(const SkinRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

bool isWayland() { return QGuiApplication::platformName().startsWith("wayland"); }

// The window the playlist's cleared hook refreshes the editor of.
MainWindow* hookedWindow = nullptr;

// Sets every item's mark from the state (Qt ticks a checkable item on each
// click by itself; this puts back what is true).
void markMenu(QMenu* menu, const OpenWindows& open) {
  for (QAction* action : menu->actions()) {
    if (QMenu* sub = action->menu()) {
      markMenu(sub, open);
      continue;
    }
    if (action->isSeparator()) continue;
    const MenuMark mark = menuMark(action->data().toInt(), settings, open);
    action->setCheckable(mark.checkable);
    action->setChecked(mark.checked);
  }
}

}  // namespace

QRegion regionFromMask(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  MaskImage mask;
  mask.width = rgb.width();
  mask.height = rgb.height();
  mask.pixels.reserve(static_cast<size_t>(mask.width) * static_cast<size_t>(mask.height));
  for (int y = 0; y < mask.height; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < mask.width; ++x) mask.pixels.push_back(line[x] & 0xFFFFFFu);
  }
  const SkinRegion region = buildRegion(mask, 10, 10);
  QRegion out;
  for (const SkinRect& r : region.rects) out += toQRect(r);
  return out;
}

MainWindow::MainWindow()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      player_{PlaybackSession{realEngine(), kWindowAdvance}, PlayerState{}, *this} {
  setWindowTitle("KUV 0.94");
  setFixedSize(kWindowWidth, kWindowHeight);
  setAcceptDrops(true);
  setMouseTracking(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
  initSkinButtons(mouse_);
  receiver_ = [this](uint32_t message, uintptr_t wParam, intptr_t lParam) { notification(message, wParam, lParam); };
  // The display's frame is shown straight from its buffer: one copy per
  // round (from the display thread into it), no allocation.
  frameImage_ = QImage(reinterpret_cast<uchar*>(frameRgb_), kLedWidth, kLedHeight, kLedWidth * 4, QImage::Format_RGB32);
  for (uint32_t& pixel : frameRgb_) pixel = qRgb(0, kLedBackground, 0);
  dialTimer_.setInterval(kDialVolumeTimerMs);
  connect(&dialTimer_, &QTimer::timeout, this, [] { dialTimerTick(); });
  // A long list is read in the background rather than while it is added.
  setInfoReadingDeferred(true);
  infoReader_ = std::make_unique<InfoReader>([this] {
    QMetaObject::invokeMethod(
        this, [this] { applyReadInfo(); }, Qt::QueuedConnection);
  });
  hookedWindow = this;
  setPlaylistChangedHook([] {
    if (!hookedWindow) return;
    hookedWindow->infoReaderForget();
    hookedWindow->refreshEditor();
  });
}

MainWindow::~MainWindow() {
  shutDown();
  setPlaylistChangedHook(nullptr);
  hookedWindow = nullptr;
}

bool MainWindow::createSkin(std::string* error) {
  scanOutputPlugins(settings.OutputPluginDir);
  setupEqualiser(settings.EqBand);
  if (!openVisQueue(player_.session)) {
    *error = "Could Not Create Visualisation Timer...";
    return false;
  }
  // A null pixmap is what a failed load gives.
  const auto load = [](QPixmap& pixmap, const char* path) {
    pixmap = QPixmap::fromImage(skinPng(path));
    return !pixmap.isNull();
  };
  if (!load(background_, ":/skin/background.png") || !load(shadeBackground_, ":/skin/winshade.png")) {
    *error = "Error Loading Background";
    return false;
  }
  if (!load(windowButtons_, ":/skin/window_buttons.png")) {
    *error = "Error Loading window buttons";
    return false;
  }
  if (!load(transport_, ":/skin/transport.png")) {
    *error = "Error Loading Buttons";
    return false;
  }
  buildMenu();
  addShortcuts();
  // Other programs find the playing track's path here; the player works on
  // without it.
  if (!createCurrentFileMapping())
    platform::messageBox(kSharedMemoryErrorText, kSharedMemoryErrorTitle, platform::MB_OK | platform::MB_ICONWARNING);
  tray_ = new TrayIcon(
      this, menu_, [this] { bringForward(); }, [this](int32_t command) { run(command); });
  if (settings.AlwaysOnTop) setWindowFlag(Qt::WindowStaysOnTopHint, true);
  normalShape_ = regionFromMask(skinPng(":/skin/mask_normal.png"));
  shadeShape_ = regionFromMask(skinPng(":/skin/mask_winshade.png"));
  setMask(settings.WinShade ? shadeShape_ : normalShape_);
  // A saved place off every screen (a monitor unplugged since) is brought
  // back onto the nearest one.
  std::vector<ScreenArea> screens;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect r = screen->availableGeometry();
    screens.push_back({r.x(), r.y(), r.width(), r.height()});
  }
  int32_t x = settings.WindowX, y = settings.WindowY;
  placeOnScreens(x, y, kWindowWidth, kWindowHeight, screens);
  move(x, y);
  return true;
}

bool MainWindow::startPlayback() {
  if (!openEngine(player_.session, makeUiNotificationSink(&receiver_))) return false;

  DialHooks hooks;
  hooks.seekFrame = [this](uint32_t frame) {
    kuv::seekFrame(frame);
    QMetaObject::invokeMethod(
        this,
        [this, frame] {
          seeked(static_cast<int64_t>(frame * secondsPerFrame(player_.state.info, settings.DownSample) * 1000.0));
        },
        Qt::QueuedConnection);
  };
  hooks.redraw = [this](int32_t lit, int32_t mode) {
    dialLit_.store(lit);
    dialMode_.store(mode);
    QMetaObject::invokeMethod(
        this,
        [this] {
          update(toQRect(kDialBox));
          // The volume may have been turned.
          if (mpris_) mpris_->refresh();
        },
        Qt::QueuedConnection);
  };
  hooks.startVolumeTimer = [this] { dialTimer_.start(); };
  hooks.stopVolumeTimer = [this] { dialTimer_.stop(); };
  dialStarted_ = startDial(hooks, kDialCentreX, kDialCentreY, kDialHoleRadius, kDialRingWidth);

  DisplaySources sources;
  sources.playbackState = [this] { return sharedState_.load(); };
  sources.positionMs = [] { return static_cast<uint32_t>(outputPosition()); };
  sources.playbackInfo = [] { return getPlaybackInfo(); };
  sources.currentEntry = [](PlaylistEntry& entry) { return copyCurrentEntry(entry) != 0; };
  sources.visPluginRunning = [] { return isVisPluginRunning(); };
  sources.windowMinimised = [this] { return minimised_.load(); };
  sources.newestVisFrame = [](VisFrame& frame) { return peekVisFrame(&frame); };
  sources.present = [this](const LedFrame& frame) { presentFrame(frame); };
  // The engine makes visualisation records only while the display shows them.
  sources.visualisationWanted = [](bool wanted) { setVisualisationWanted(wanted); };
  // A scaled window would need the panel scaled too: Qt paints it there.
  if (QGuiApplication::platformName() == "xcb" && devicePixelRatioF() == 1.0 && qgetenv("KUV_X11_SHM") != "0") {
    std::string why;
    shmPanel_ = openShmPanel(qgetenv("DISPLAY").constData(), static_cast<uint32_t>(winId()), kLedLeft, kLedTop,
                             kLedWidth, kLedHeight, &why);
    // An expose shows Qt's copy, which the puts leave behind: repaint it.
    if (shmPanel_ && windowHandle()) windowHandle()->installEventFilter(this);
  }
  windowSeenChanged();
  if (!startDisplay(sources, kLedLeft, kLedTop, kLedWidth, kLedHeight)) return false;
  displayStarted_ = true;
  // New rates and seeks show at once although the overlay waits for its
  // time text to change.
  setPlaybackInfoWatcher(&kuv::wakeDisplay);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kuv::signalNewTrack();

  startPlaylist(player_);
  mpris_ = std::make_unique<MprisService>(*this);
  if (!mpris_->start()) mpris_.reset();
  afterEvent();
  return true;
}

void MainWindow::buildMenu() {
  menu_ = new QMenu(this);
  auto add = [this](QMenu* into, const char* text, int32_t command) {
    QAction* action = into->addAction(QString::fromUtf8(text));
    action->setData(command);
    connect(action, &QAction::triggered, this, [this, command] { run(command); });
    return action;
  };
  add(menu_, "Open File\tAlt+o", CMD_OPEN_FILE);
  add(menu_, "Open Location\tAlt+l", CMD_OPEN_LOCATION);
  menu_->addSeparator();
  add(menu_, "Playlist Editor", CMD_PLAYLIST_EDITOR);
  add(menu_, "ID3-TAG Editor", CMD_TAG_EDITOR)->setEnabled(false);
  add(menu_, "Preferences", CMD_PREFERENCES);
  add(menu_, "ShitTest", CMD_VIS_PLUGIN);
  add(menu_, "WinShade", CMD_WINSHADE);
  menu_->addSeparator();
  QMenu* playback = menu_->addMenu("Playback");
  add(playback, "Previous Track\tCtrl+z", CMD_PREVIOUS);
  add(playback, "Play\tCtrl+x", CMD_PLAY);
  add(playback, "Pause\tCtrl+c", CMD_PAUSE);
  add(playback, "Stop\tCtrl+v", CMD_STOP);
  add(playback, "Next Track\tCtrl+b", CMD_NEXT);
  playback->addSeparator();
  shuffleAction_ = add(playback, "Shuffle", CMD_SHUFFLE);
  add(playback, "Repeat Mode", CMD_REPEAT);
  menu_->addSeparator();
  topAction_ = add(menu_, "Always On Top", CMD_ALWAYS_ON_TOP);
  add(menu_, "About...\tCtrl+h", CMD_ABOUT);
  add(menu_, "Close\tAlt+f4", CMD_CLOSE);
  // Marks are read from the state each time the menu opens, so a setting
  // changed by a hand-over, the remote or a skin button shows as it is.
  connect(menu_, &QMenu::aboutToShow, this, [this] { markMenu(menu_, openWindows()); });
  markMenu(menu_, openWindows());
}

void MainWindow::addShortcuts() {
  const struct {
    QKeySequence keys;
    int32_t command;
  } table[] = {
      {QKeySequence(Qt::CTRL | Qt::Key_X), CMD_PLAY},     {QKeySequence(Qt::CTRL | Qt::Key_C), CMD_PAUSE},
      {QKeySequence(Qt::CTRL | Qt::Key_V), CMD_STOP},     {QKeySequence(Qt::CTRL | Qt::Key_B), CMD_NEXT},
      {QKeySequence(Qt::CTRL | Qt::Key_Z), CMD_PREVIOUS}, {QKeySequence(Qt::ALT | Qt::Key_O), CMD_OPEN_FILE},
      {QKeySequence(Qt::Key_Escape), CMD_OPEN_FILE},      {QKeySequence(Qt::ALT | Qt::Key_L), CMD_OPEN_LOCATION},
  };
  for (const auto& entry : table) {
    auto* shortcut = new QShortcut(entry.keys, this);
    const int32_t command = entry.command;
    connect(shortcut, &QShortcut::activated, this, [this, command] { run(command); });
  }
}

// --- Drawing -------------------------------------------------------------------------

void MainWindow::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const QRect dirty = event->rect();
  const QRect led = toQRect(kLedPanel);
  // The display's own repaints (fifty a second) cover nothing else.
  if (!settings.WinShade && led.contains(dirty)) {
    std::lock_guard<std::mutex> guard(frameLock_);
    p.drawImage(led.topLeft(), frameImage_);
    return;
  }
  if (settings.WinShade) {
    p.fillRect(rect(), Qt::black);
    p.drawPixmap(0, 0, shadeBackground_);
  } else {
    p.drawPixmap(0, 0, background_);
  }
  if (!settings.WinShade && led.intersects(dirty)) {
    std::lock_guard<std::mutex> guard(frameLock_);
    p.drawImage(led.topLeft(), frameImage_);
  }
  if (!settings.WinShade && toQRect(kDialBox).intersects(dirty)) paintDial(p);
  for (int32_t id = 0; id < kSkinButtonCount; ++id) {
    const SkinButton& button = mouse_.buttons[id];
    const QRect box = toQRect(button.bounds());
    if (!box.intersects(dirty)) continue;
    const LookSource look = buttonLook(button, static_cast<SkinButtonId>(id), settings.AlwaysOnTop != 0,
                                       settings.RepeatPlay, settings.ShufflePlay != 0);
    if (id == kButtonRepeat) drawnRepeat_ = settings.RepeatPlay;
    if (id == kButtonShuffle) drawnShuffle_ = settings.ShufflePlay;
    const QPixmap& from = look.transport ? transport_ : windowButtons_;
    // The shaded bar is 17 rows high: Close is drawn raised into its seat
    // there, so its cross shows whole rather than cut by the bar's edge.
    const int raise = settings.WinShade && id == kButtonClose ? kShadeCloseRaise : 0;
    if (button.partCount > 1) {
      QRegion clip;
      for (int32_t i = 0; i < button.partCount; ++i) clip += toQRect(button.parts[i]).translated(0, -raise);
      p.setClipRegion(clip);
    }
    p.drawPixmap(box.topLeft() - QPoint(0, raise), from, QRect(look.x, look.y, box.width(), box.height()));
    p.setClipping(false);
  }
}

// The lit part of the ring over the tick marks: green for the position,
// amber for the volume, translucent so the ticks show through.
void MainWindow::paintDial(QPainter& p) {
  const int32_t lit = dialLit_.load();
  if (lit <= 0) return;
  const QRectF outer(toQRect(kDialBox));
  const QRectF inner(kDialCentreX - kDialHoleRadius, kDialCentreY - kDialHoleRadius, 2 * kDialHoleRadius,
                     2 * kDialHoleRadius);
  QPainterPath ring;
  // Qt counts degrees anticlockwise from three o'clock; the dial clockwise
  // from twelve.
  ring.arcMoveTo(outer, 90);
  ring.arcTo(outer, 90, -lit);
  ring.arcTo(inner, 90 - lit, lit);
  ring.closeSubpath();
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(dialMode_.load() == kDialVolumeMode ? QColor(255, 176, 32, 130) : QColor(60, 255, 122, 110));
  p.drawPath(ring);
  p.restore();
}

void MainWindow::presentFrame(const LedFrame& frame) {
  {
    std::lock_guard<std::mutex> guard(frameLock_);
    // Intensity i is the colour (0, i, 0). The display hands over changed
    // frames only.
    for (int y = 0; y < kLedHeight; ++y)
      for (int x = 0; x < kLedWidth; ++x)
        frameRgb_[y * kLedWidth + x] = 0xFF000000u | (static_cast<uint32_t>(frame.pixels[y * kLedStride + x]) << 8);
    // Straight into the window; when the server still reads both segments
    // (or the panel failed) Qt paints this frame instead.
    if (shmUsable_.load() && putShmPanel(shmPanel_, frameRgb_)) return;
  }
  // One repaint queued at a time: a busy UI thread skips frames instead of
  // piling them up.
  if (frameQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        frameQueued_.store(false);
        update(toQRect(kLedPanel));
      },
      Qt::QueuedConnection);
}

// --- Mouse and drops -------------------------------------------------------------------

void MainWindow::apply(const MouseEffects& e) {
  for (SkinButtonId id : e.redraw) {
    const QRect box = toQRect(mouse_.buttons[id].bounds());
    update(settings.WinShade && id == kButtonClose ? box.adjusted(0, -kShadeCloseRaise, 0, 0) : box);
  }
  if (e.moveWindow) move(e.windowX, e.windowY);
  if (e.dialPress) dialPress(mouse_.anchorX, mouse_.anchorY);
  if (e.minimise) minimiseWindow();
  for (int32_t command : e.commands) run(command);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::RightButton) {
    if (rightPressOnDial(p.x(), p.y()))
      dialVolumeMode();
    else
      menu_->popup(event->globalPosition().toPoint());
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  const MouseEffects e = mousePress(mouse_, p.x(), p.y(), settings.EasyMove != 0);
  apply(e);
  // A Wayland window cannot place itself; the compositor moves it.
  if (mouse_.dragging && isWayland() && windowHandle()) {
    mouse_.dragging = false;
    windowHandle()->startSystemMove();
  }
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const QPoint g = event->globalPosition().toPoint();
  const MouseEffects e = mouseMove(mouse_, p.x(), p.y(), g.x(), g.y());
  if (e.dialMove) dialMove(p.x(), p.y());
  apply(e);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const MouseEffects e = mouseRelease(mouse_);
  if (e.dialRelease) dialRelease();
  apply(e);
}

// The wheel over the dial turns the volume, as on a volume knob.
void MainWindow::wheelEvent(QWheelEvent* event) {
  const QPoint p = event->position().toPoint();
  if (settings.WinShade || !insideDial(p.x(), p.y())) {
    event->ignore();
    return;
  }
  dialWheelAngle(event->angleDelta().y());
  event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::string> names = droppedNames(*event->mimeData());
  event->acceptProposedAction();
  handleDrop(player_, names);
  afterEvent();
}

// --- What the commands ask of the window -----------------------------------------------

int32_t MainWindow::openFiles(bool clearFirst, int32_t filterSet) { return openFilesDialog(clearFirst, filterSet); }

bool MainWindow::askLocation(std::string& text) { return askUrl(this, text); }

void MainWindow::closeWindow() { close(); }

void MainWindow::minimiseWindow() { showMinimized(); }

void MainWindow::bringForward() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void MainWindow::applyAlwaysOnTop(bool onTop) {
  // QWidget::setWindowFlag would destroy and re-create the native window
  // (taskbars see it vanish and come back): the widget only records the
  // flag, and the live window changes its stacking hint in place.
  overrideWindowFlags(onTop ? windowFlags() | Qt::WindowStaysOnTopHint : windowFlags() & ~Qt::WindowStaysOnTopHint);
  if (QWindow* window = windowHandle()) window->setFlag(Qt::WindowStaysOnTopHint, onTop);
  update(toQRect(mouse_.buttons[kButtonAlwaysOnTop].bounds()));
}

void MainWindow::applyShape(bool winShade) {
  setMask(winShade ? shadeShape_ : normalShape_);
  windowSeenChanged();
  update();
}

// --- Engine notifications and the end ---------------------------------------------------

void MainWindow::notification(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  onEngineNotification(player_, message, wParam, lParam);
  afterEvent();
}

void MainWindow::run(int32_t command) {
  handleCommand(player_, command);
  afterEvent();
}

// The display thread reads the playback state without the UI thread's help.
void MainWindow::afterEvent() {
  sharedState_.store(player_.session.state.playbackState);
  wakeDisplayOnChange();
  // An open menu follows a change that arrives meanwhile (a hand-over).
  if (menu_ && menu_->isVisible()) markMenu(menu_, openWindows());
  readNewEntries();
  if (dialStarted_) dialPlaybackState(player_.session.state.playbackState);
  // Repeat and Shuffle also change from the menu, which repaints nothing.
  if (settings.RepeatPlay != drawnRepeat_ || settings.ShufflePlay != drawnShuffle_) {
    update(toQRect(mouse_.buttons[kButtonRepeat].bounds()));
    update(toQRect(mouse_.buttons[kButtonShuffle].bounds()));
  }
  if (mpris_) mpris_->refresh();
}

void MainWindow::seeked(int64_t positionMs) {
  if (mpris_) mpris_->seeked(positionMs);
}

// --- The playlist editor and the information reader ------------------------------------------

void MainWindow::refreshEditor() {
  if (editor_) editor_->refresh();
  readNewEntries();
}

void MainWindow::togglePlaylistEditor() {
  if (editor_) {
    editor_->close();
    return;
  }
  editor_ = new PlaylistEditor(*this);
  editor_->show();
  readNewEntries();
}

// The snapshot Cancel restores from is taken on every Preferences command.
void MainWindow::openPreferences() {
  SettingsSnapshot = settings;
  if (preferences_) {
    preferences_->show();
    preferences_->raise();
    preferences_->activateWindow();
    return;
  }
  preferences_ = new PreferencesSheet(*this, this);
  // Apply changes the LED settings with the sheet still open; queued, so
  // the wake comes after the sheet has stored them.
  for (QDialogButtonBox* box : preferences_->findChildren<QDialogButtonBox*>())
    connect(
        box, &QDialogButtonBox::clicked, this, [this] { wakeDisplayOnChange(); }, Qt::QueuedConnection);
  preferences_->show();
}

void MainWindow::preferencesClosed() {
  if (preferences_) preferences_->deleteLater();
  preferences_ = nullptr;
  // What the sheet changed on the window itself, then saved whichever way
  // it closed, and the engine told.
  const bool onTop = settings.AlwaysOnTop != 0;
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) applyAlwaysOnTop(onTop);
  saveSettings();
  if (player_.session.engineStarted) settingsChanged();
  readNewEntries();
  wakeDisplayOnChange();
}

// The associations for the program as it runs now, with the type icons
// from the resources; the confirmation is shown whatever happened, and what
// went wrong is written to stderr.
void MainWindow::registerFileTypesFrom(QWidget* page) {
  FileTypeIcons icons;
  const struct {
    const char* name;
    std::vector<FileTypeIcon>* into;
  } sets[] = {{"type-audio", &icons.audio}, {"type-playlist", &icons.playlist}, {"icon", &icons.program}};
  for (const auto& set : sets) {
    for (int size : {16, 32, 48, 64, 128, 256}) {
      QFile file(QString(":/skin/%1-%2.png").arg(set.name).arg(size));
      if (file.open(QIODevice::ReadOnly)) set.into->push_back({size, file.readAll().toStdString()});
    }
  }
  const FileTypeReport report = registerFileTypes(platform::executablePath(), icons, fileTypePlaces());
  for (const std::string& problem : report.problems) std::fprintf(stderr, "kuv: %s\n", problem.c_str());
  (void)page;
  platform::messageBox(kFileTypesRegisteredText, kFileTypesRegisteredTitle,
                       platform::MB_OK | platform::MB_ICONINFORMATION | platform::MB_SETFOREGROUND);
}

void MainWindow::listChanged() {
  player_.state.refreshAllowed = true;
  refreshEditor();
}

void MainWindow::playCurrentEntry() { run(CMD_PLAY_CURRENT); }

void MainWindow::editorClosing() { editor_ = nullptr; }

void MainWindow::infoReaderForget() {
  if (infoReader_) infoReader_->forget();
}

void MainWindow::readNewEntries() {
  if (!infoReader_ || settings.ReadFileInfo != 1) return;
  if (infoReader_->queueUnknownEntries() > 0 && editor_) editor_->infoRead({}, infoReader_->progress());
}

void MainWindow::applyReadInfo() {
  if (!infoReader_) return;
  const std::vector<int32_t> changed = infoReader_->applyResults();
  if (editor_) editor_->infoRead(changed, infoReader_->progress());
  // The current entry's tag and length may be among them.
  if (mpris_) mpris_->refresh();
}

void MainWindow::signalNewTrack() {
  if (editor_) editor_->showCurrent(currentPosition());
  if (displayStarted_) kuv::signalNewTrack();
}

void MainWindow::dialProgress(int32_t frame, int32_t totalFrames) {
  if (dialStarted_) kuv::dialProgress(frame, totalFrames);
}

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) {
    // Minimised to the tray when asked for and there is one; restored, the
    // icon goes and the window shows.
    if (tray_ && isMinimized()) {
      if (settings.MinimizeLocation == 1 && !tray_->inTray() && TrayIcon::available())
        tray_->addTrayIcon(player_.state.lastPercent, currentEntryPath(), currentStreamTitle());
    } else if (tray_) {
      tray_->removeTrayIcon();
    }
    windowSeenChanged();
  }
  QWidget::changeEvent(event);
}

std::string MainWindow::currentEntryPath() {
  std::string path;
  if (!currentPath(path)) path.clear();
  return path;
}

std::string MainWindow::currentStreamTitle() {
  PlaylistEntry entry;
  return copyCurrentEntry(entry) ? streamTitleOf(entry) : std::string();
}

void MainWindow::trayPercent(int32_t percent) {
  if (tray_ && tray_->inTray()) tray_->updateTrayIcon(percent, currentEntryPath(), currentStreamTitle());
}

void MainWindow::currentEntryChanged() {
  if (editor_) editor_->refresh();
  if (displayStarted_) signalTitleChanged();
  trayPercent(player_.state.lastPercent);
}

void MainWindow::showAbout() { showAboutSheet(this); }

void MainWindow::publishCurrentFile(const std::string& path) { kuv::publishCurrentFile(path); }

void MainWindow::startVisPlugin(int32_t channels, int32_t sampleRate) {
  // The module gets the X11 window to place itself by; elsewhere none.
  const unsigned long parent = QGuiApplication::platformName() == "xcb" ? static_cast<unsigned long>(winId()) : 0;
  startVisPluginHost(kVisPluginFile, kVisPluginModule, parent, channels, sampleRate);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  windowSeenChanged();
}

void MainWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  windowSeenChanged();
}

// Minimised or hidden, the display sleeps until this wakes it again.
void MainWindow::windowSeenChanged() {
  const bool unseen = isMinimized() || !isVisible();
  minimised_.store(unseen);
  shmUsable_.store(shmPanel_ != nullptr && !unseen && !settings.WinShade);
  if (displayStarted_) kuv::wakeDisplay();
}

void MainWindow::wakeDisplayOnChange() {
  const int32_t now[4] = {player_.session.state.playbackState, settings.LEDVisual, settings.LEDOverlay,
                          settings.TimeMode};
  if (std::memcmp(now, displayWokenFor_, sizeof now) == 0) return;
  std::memcpy(displayWokenFor_, now, sizeof now);
  if (displayStarted_) kuv::wakeDisplay();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && watched == windowHandle() && !settings.WinShade) update(toQRect(kLedPanel));
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  shutDown();
  event->accept();
  QApplication::quit();
}

void MainWindow::shutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  mpris_.reset();  // off the bus before the player goes
  delete tray_;    // takes the icon out of the tray
  tray_ = nullptr;
  setPlaybackInfoWatcher(nullptr);
  // The module's quit runs and its library goes while the queue it reads
  // still stands.
  stopVisPluginHost();
  if (displayStarted_) stopDisplay();
  shmUsable_.store(false);
  closeShmPanel(shmPanel_);
  shmPanel_ = nullptr;
  dialTimer_.stop();
  if (dialStarted_) stopDial();
  closeEngine(player_.session, SessionEnd::kStopNow);
  // The editor stores its place before the settings are saved.
  if (editor_) {
    editor_->close();
    delete editor_.data();
  }
  infoReader_.reset();
  if (!isMinimized()) {
    settings.WindowX = pos().x();
    settings.WindowY = pos().y();
  }
  saveSettings();
  closeCurrentFileMapping();
  closeSession(player_.session, SessionEnd::kStopNow);
}

}  // namespace kuv
