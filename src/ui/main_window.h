// The player's skinned main window: draws the skin, turns mouse, keys,
// menu and drops into the commands of player_commands, and carries out
// what they ask of a window.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "playlist/info_reader.h"
#include "ui/gui_backends.h"
#include "ui/led_display.h"
#include "ui/menu_marks.h"
#include "ui/mpris.h"
#include "ui/player_commands.h"
#include "ui/playlist_editor.h"
#include "ui/preferences_sheet.h"
#include "ui/skin_buttons.h"
#include "ui/tray.h"
#include "ui/x11_shm_panel.h"

class QMenu;
class QAction;

namespace kuv {

class MainWindow final : public QWidget, public WindowActions, public EditorHost, public PreferencesHost {
 public:
  MainWindow();
  ~MainWindow() override;

  // Loads the skin and builds the menu; false with the message to show.
  bool createSkin(std::string* error);
  // Starts the engine and plays the playlist's first entry; false when the
  // engine cannot start.
  bool startPlayback();

  PlayerWindow& player() { return player_; }
  // After the player's state changed: what other threads read follows.
  void afterEvent();
  // A command as the buttons and the menu send it, and what follows.
  void run(int32_t command);

  // WindowActions
  int32_t openFiles(bool clearFirst, int32_t filterSet) override;
  bool askLocation(std::string& text) override;
  void closeWindow() override;
  void minimiseWindow() override;
  void bringForward() override;
  void applyAlwaysOnTop(bool onTop) override;
  void applyShape(bool winShade) override;
  void signalNewTrack() override;
  void dialProgress(int32_t frame, int32_t totalFrames) override;
  void refreshEditor() override;
  void togglePlaylistEditor() override;
  void openPreferences() override;
  void showAbout() override;
  void trayPercent(int32_t percent) override;
  void seeked(int64_t positionMs) override;
  void currentEntryChanged() override;
  void publishCurrentFile(const std::string& path) override;
  void startVisPlugin(int32_t channels, int32_t sampleRate) override;

  // PreferencesHost
  void registerFileTypesFrom(QWidget* page) override;
  void preferencesClosed() override;
  PreferencesSheet* preferencesSheet() const { return preferences_.data(); }

  // EditorHost
  bool& refreshAllowed() override { return player_.state.refreshAllowed; }
  void listChanged() override;
  void playCurrentEntry() override;
  void editorClosing() override;

  PlaylistEditor* playlistEditor() const { return editor_.data(); }
  TrayIcon* trayIcon() const { return tray_; }
  void infoReaderForget();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildMenu();
  void addShortcuts();
  void apply(const MouseEffects& effects);
  void notification(uint32_t message, uintptr_t wParam, intptr_t lParam);
  void shutDown();
  void presentFrame(const LedFrame& frame);
  // The window was shown, hidden, minimised or restored, or shaded.
  void windowSeenChanged();
  // Wakes the display when something its picture depends on changed.
  void wakeDisplayOnChange();
  void paintDial(QPainter& p);
  void readNewEntries();
  OpenWindows openWindows() const { return OpenWindows{!editor_.isNull(), !preferences_.isNull()}; }
  void applyReadInfo();
  // The current entry's path and stream title for the tray's tip; "" without one.
  std::string currentEntryPath();
  std::string currentStreamTitle();

  PlayerWindow player_;
  MouseState mouse_;
  QPixmap background_, shadeBackground_, windowButtons_, transport_;
  QRegion normalShape_, shadeShape_;
  QMenu* menu_ = nullptr;
  TrayIcon* tray_ = nullptr;
  QAction* shuffleAction_ = nullptr;
  QAction* topAction_ = nullptr;
  NotificationReceiver receiver_;
  bool displayStarted_ = false;
  bool dialStarted_ = false;
  bool shutDown_ = false;

  // What the display and dial threads read of the window.
  std::atomic<int32_t> sharedState_{2};
  std::atomic<bool> minimised_{false};
  // The newest display frame in the screen's format, written by the
  // display thread, so a repaint is a plain copy; guarded by frameLock_.
  std::mutex frameLock_;
  uint32_t frameRgb_[kLedWidth * kLedHeight] = {};
  // On X11 the display thread puts the frame into the window itself; Qt
  // paints it only on an expose or a whole repaint. Made before the display
  // starts, closed after it ends.
  ShmPanel* shmPanel_ = nullptr;
  std::atomic<bool> shmUsable_{false};
  // What the display was last woken for: playback state, LEDVisual,
  // LEDOverlay, TimeMode.
  int32_t displayWokenFor_[4] = {-1, -1, -1, -1};
  QImage frameImage_;
  std::atomic<bool> frameQueued_{false};
  // The lit part of the dial as its worker last computed it.
  std::atomic<int32_t> dialLit_{0};
  std::atomic<int32_t> dialMode_{0};
  // The repeat and shuffle looks last painted, so a change from the menu
  // repaints those buttons.
  int32_t drawnRepeat_ = -1;
  int32_t drawnShuffle_ = -1;
  QTimer dialTimer_;
  QPointer<PlaylistEditor> editor_;
  QPointer<PreferencesSheet> preferences_;
  // Lengths and tags of new entries, read off the UI thread.
  std::unique_ptr<InfoReader> infoReader_;
  // The desktop's media controls; null until playback starts.
  std::unique_ptr<MprisService> mpris_;
};

// A QRegion from a mask image: the colour at (10, 10) is the inside.
QRegion regionFromMask(const QImage& mask);

}  // namespace kuv
