#include "ui/tray.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

#include "session/message_codes.h"
#include "ui/gui_backends.h"

namespace kuv {

namespace {

// A ring of ten dots, `lit` of them red from the top clockwise.
QIcon progressPicture(int32_t lit) {
  QPixmap picture(16, 16);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  constexpr double kPi = 3.14159265358979323846;
  for (int i = 0; i < 10; ++i) {
    const double angle = 2 * kPi * i / 10 - kPi / 2;
    p.setBrush(i < lit ? QColor(230, 20, 20) : QColor(90, 90, 90));
    p.drawEllipse(QPointF(8 + 6 * std::cos(angle), 8 + 6 * std::sin(angle)), 1.6, 1.6);
  }
  return QIcon(picture);
}

}  // namespace

// --- Mini controller ----------------------------------------------------------------------

MiniController::MiniController(QWidget* owner, std::function<void(int32_t)> command)
    : QDialog(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName("MiniController");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(2, 2, 2, 2);
  column->setSpacing(1);
  auto* row = new QHBoxLayout;
  row->setSpacing(1);
  const struct {
    const char* label;
    int32_t command;
  } buttons[] = {
      {"Prev", CMD_PREVIOUS}, {"Play", CMD_PLAY}, {"Pause", CMD_PAUSE}, {"Stop", CMD_STOP}, {"Next", CMD_NEXT}};
  for (const auto& b : buttons) {
    auto* button = new QPushButton(QString::fromLatin1(b.label), this);
    button->setObjectName(QString::fromLatin1(b.label));
    button->setFocusPolicy(Qt::NoFocus);
    // Small buttons, as wide as their words: the controller stays a strip.
    button->setFixedSize(button->fontMetrics().horizontalAdvance(button->text()) + 10,
                         button->fontMetrics().height() + 8);
    const int32_t id = b.command;
    connect(button, &QPushButton::clicked, this, [command, id] { command(id); });
    row->addWidget(button);
  }
  column->addLayout(row);
  // Across the whole width, and with nothing behind it.
  column->addWidget(new QSlider(Qt::Horizontal, this));
  adjustSize();
  const QPoint cursor = QCursor::pos();
  TrayScreen area;
  if (const QScreen* screen = QGuiApplication::screenAt(cursor)) {
    const QRect r = screen->geometry();
    area = {r.x(), r.y(), r.width(), r.height()};
  }
  const TrayPoint at = miniControllerPlace(cursor.x(), cursor.y(), width(), height(), area);
  move(at.x, at.y);
}

void MiniController::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // A click anywhere else closes it.
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) close();
}

// --- Tray icon ---------------------------------------------------------------------------

TrayIcon::TrayIcon(QWidget* window, QMenu* menu, std::function<void()> restore, std::function<void(int32_t)> command)
    : QObject(window), window_(window), menu_(menu), restore_(std::move(restore)), command_(std::move(command)) {
  holdTimer_.setSingleShot(true);
  holdTimer_.setInterval(TIMER_TRAY_HOLD);
  connect(&holdTimer_, &QTimer::timeout, this, [this] { apply(trayHoldTimerFired(hold_)); });
}

TrayIcon::~TrayIcon() {
  if (controller_) controller_->close();
  delete icon_;
}

bool TrayIcon::available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TrayIcon::addTrayIcon(int32_t percent, const std::string& currentPath, const std::string& streamTitle) {
  if (!icon_) {
    // Made the first time the window goes to the tray, not at start-up.
    for (int32_t step = 0; step + 1 < kTrayIconSteps; ++step)
      pictures_[static_cast<size_t>(step)] = progressPicture(step);
    pictures_[kTrayIconSteps - 1] = QIcon(QPixmap::fromImage(skinPng(":/skin/icon-16.png")));
    icon_ = new QSystemTrayIcon(this);
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::DoubleClick) {
        apply(trayLeftButtonUp(hold_));
        restore_();
        removeTrayIcon();
      } else if (reason == QSystemTrayIcon::MiddleClick && !iconWidget_) {
        // A tray that reports clicks only (no press, no release): the
        // middle button opens the controller at once.
        apply(TrayHoldStep::OpenController);
      }
    });
  }
  inTray_ = true;
  updateTrayIcon(percent, currentPath, streamTitle);
  icon_->show();
  window_->hide();
  watchIconWidget();
}

void TrayIcon::removeTrayIcon() {
  if (!inTray_) return;
  if (icon_) icon_->hide();
  inTray_ = false;
  hold_ = TrayHold{};
  holdTimer_.stop();
  window_->show();
}

void TrayIcon::updateTrayIcon(int32_t percent, const std::string& currentPath, const std::string& streamTitle) {
  if (!inTray_ || !icon_) return;
  icon_->setIcon(pictures_[static_cast<size_t>(trayIconStep(percent))]);
  icon_->setToolTip(QString::fromStdString(trayTipText(currentPath, percent, streamTitle)));
}

// On X11 the icon is a small window of Qt's own, which tells presses and
// releases apart: the hold is timed from them. Other trays report clicks.
void TrayIcon::watchIconWidget() {
  if (iconWidget_) return;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0) {
      iconWidget_ = w;
      w->installEventFilter(this);
      return;
    }
  }
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (watched == iconWidget_ &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton)
      apply(event->type() == QEvent::MouseButtonPress ? trayLeftButtonDown(hold_) : trayLeftButtonUp(hold_));
  }
  return QObject::eventFilter(watched, event);
}

void TrayIcon::apply(TrayHoldStep step) {
  switch (step) {
    case TrayHoldStep::StartTimer:
      holdTimer_.start();
      break;
    case TrayHoldStep::StopTimer:
      holdTimer_.stop();
      break;
    case TrayHoldStep::OpenController:
      openMiniController();
      break;
    case TrayHoldStep::None:
      break;
  }
}

void TrayIcon::openMiniController() {
  if (controller_) controller_->close();
  controller_ = new MiniController(window_, command_);
  controller_->show();
  controller_->raise();
  controller_->activateWindow();
}

// --- About -------------------------------------------------------------------------------

void showAboutSheet(QWidget* owner) {
  QDialog sheet(owner);
  sheet.setObjectName("AboutSheet");
  sheet.setWindowTitle(QString::fromLatin1(kAboutSheetTitle));
  auto* layout = new QVBoxLayout(&sheet);
  auto* tabs = new QTabWidget(&sheet);
  layout->addWidget(tabs);

  auto* about = new QWidget;
  auto* aboutLayout = new QVBoxLayout(about);
  auto* credits = new QPlainTextEdit(QString::fromUtf8(kCreditsText), about);
  credits->setObjectName("Credits");
  credits->setReadOnly(true);
  credits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  aboutLayout->addWidget(credits);
  auto* mark = new QLabel(about);
  mark->setPixmap(QPixmap::fromImage(skinPng(":/skin/icon-32.png")));
  aboutLayout->addWidget(mark);
  tabs->addTab(about, QString::fromLatin1(kAboutPageTitle));

  auto* links = new QWidget;
  auto* linksLayout = new QVBoxLayout(links);
  linksLayout->addWidget(new QLabel(QString::fromUtf8(kLinksIntro), links));
  auto* list = new QListWidget(links);
  list->setObjectName("Links");
  for (int32_t i = 0; i < kLinkCount; ++i) {
    auto* item = new QListWidgetItem(QString::fromUtf8(kLinkTable[i].title), list);
    item->setData(Qt::UserRole, i);
  }
  linksLayout->addWidget(list);
  auto* row = new QHBoxLayout;
  auto* address = new QLineEdit(links);
  address->setObjectName("Address");
  address->setMaxLength(kBrowseFieldCharacters);
  row->addWidget(address);
  auto* browse = new QPushButton(QString::fromLatin1(kBrowseToLabel), links);
  row->addWidget(browse);
  linksLayout->addLayout(row);
  tabs->addTab(links, QString::fromLatin1(kLinksPageTitle));
  QObject::connect(list, &QListWidget::currentItemChanged, address, [address](QListWidgetItem* item) {
    if (!item) return;  // no selection: the field stays as it is
    const int32_t i = item->data(Qt::UserRole).toInt();
    if (i >= 0 && i < kLinkCount) address->setText(QString::fromUtf8(kLinkTable[i].address));
  });
  QObject::connect(browse, &QPushButton::clicked, address, [address] {
    const std::string target = browseTarget(address->text().toStdString());
    // What cannot be opened the desktop reports, if at all.
    if (!target.empty()) QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(target)));
  });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &sheet);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &sheet, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &sheet, &QDialog::reject);
  layout->addWidget(buttons);
  tabs->setCurrentIndex(0);
  sheet.exec();
}

}  // namespace kuv
