// The notification-area icon with the track's progress, the mini controller
// a held press on it opens, and the About sheet. The rules are tray_logic's.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
#include <string>

#include "ui/tray_logic.h"

class QMenu;
class QSystemTrayIcon;

namespace kuv {

// Five transport buttons and a slider with no behaviour, placed by the
// cursor; gone as soon as it loses activation.
class MiniController final : public QDialog {
 public:
  MiniController(QWidget* owner, std::function<void(int32_t)> command);

 protected:
  void changeEvent(QEvent* event) override;
};

class TrayIcon final : public QObject {
 public:
  // `restore` brings the main window back; `command` runs a command as the
  // main window's buttons do; `menu` is the context menu.
  TrayIcon(QWidget* window, QMenu* menu, std::function<void()> restore, std::function<void(int32_t)> command);
  ~TrayIcon() override;

  // Whether the desktop has a notification area at all.
  static bool available();
  // Shows the icon for `percent` and hides the window.
  void addTrayIcon(int32_t percent, const std::string& currentPath, const std::string& streamTitle = {});
  // Only while the icon shows: removes it and shows the window.
  void removeTrayIcon();
  // Only while the icon shows: the picture and tip for `percent`.
  void updateTrayIcon(int32_t percent, const std::string& currentPath, const std::string& streamTitle = {});
  bool inTray() const { return inTray_; }
  MiniController* controller() const { return controller_.data(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void apply(TrayHoldStep step);
  void openMiniController();
  void watchIconWidget();

  QWidget* window_;
  QMenu* menu_;
  std::function<void()> restore_;
  std::function<void(int32_t)> command_;
  QSystemTrayIcon* icon_ = nullptr;
  std::array<QIcon, kTrayIconSteps> pictures_;
  bool inTray_ = false;
  TrayHold hold_;
  QTimer holdTimer_;
  QPointer<QWidget> iconWidget_;
  QPointer<MiniController> controller_;
};

// The modal "About KUV..." sheet.
void showAboutSheet(QWidget* owner);

}  // namespace kuv
