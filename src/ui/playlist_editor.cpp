#include "ui/playlist_editor.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QWindow>

#include <algorithm>

#include "config/settings.h"
#include "platform/dialogs.h"
#include "platform/message_box.h"
#include "playlist/playlist.h"
#include "playlist/playlist_files.h"
#include "ui/dropped_names.h"
#include "ui/url_dialog.h"

namespace kuv {

namespace {

// The display's lettering green, for the line that plays.
const QColor kLedGreen(60, 255, 122);

// The skin's dark look for the window, its list and its buttons.
constexpr const char* kEditorStyle =
    "QWidget { background: #0b120d; color: #c8d8cc; }"
    "QListView { background: #050a06; border: 1px solid #2a3a2e; selection-background-color: #1f5a34;"
    "  selection-color: #ffffff; outline: 0; }"
    "QListView:focus { border: 1px solid #3cff7a; }"
    "QPushButton { background: #16241a; border: 1px solid #2f4a36; border-radius: 2px; padding: 3px 8px;"
    "  min-width: 56px; }"
    "QPushButton:hover { background: #1e3324; }"
    "QPushButton:pressed { background: #0e1a11; }"
    "QPushButton:focus { border: 1px solid #3cff7a; }"
    "QPushButton:default { border: 1px solid #4d7a58; }"
    "QMenu { background: #101a13; border: 1px solid #2f4a36; }"
    "QMenu::item:selected { background: #1f5a34; }"
    "QMenu::item:disabled { color: #56665a; }"
    "QProgressBar { background: #050a06; border: 0; }"
    "QProgressBar::chunk { background: #3cff7a; }";

struct ButtonText {
  EditorControl control;
  const char* text;
};
// In tab order: the list first, then the column, then Up and Dn.
constexpr ButtonText kButtons[] = {
    {kLoadList, "Load List"},
    {kSaveList, "Save List"},
    {kAddItem, "Add Item"},
    {kDelete, "Delete"},
    {kShuffle, "Shuffle"},
    {kSort, "Sort"},
    {kClear, "Clear"},
    {kDismiss, "Dismiss"},
    {kUp, "Up"},
    {kDown, "Dn"},
};

// The editor carries the playlist file type's icon.
QIcon playlistIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256}) icon.addFile(QString(":/skin/type-playlist-%1.png").arg(size));
  return icon;
}

QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// --- The model ------------------------------------------------------------------------------

int EditorModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.texts.size());
}

QVariant EditorModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(lines_.texts.size())) return {};
  if (role == Qt::DisplayRole) return fromUtf8(lines_.texts[static_cast<size_t>(index.row())]);
  if (role == Qt::ForegroundRole && index.row() == lines_.current) return kLedGreen;
  return {};
}

void EditorModel::reset(EditorLines lines) {
  beginResetModel();
  lines_ = std::move(lines);
  endResetModel();
}

void EditorModel::setLine(int32_t row, std::string text) {
  if (row < 0 || row >= static_cast<int32_t>(lines_.texts.size())) return;
  lines_.texts[static_cast<size_t>(row)] = std::move(text);
  const QModelIndex at = index(row);
  emit dataChanged(at, at, {Qt::DisplayRole});
}

void EditorModel::setCurrent(int32_t row) {
  const int32_t old = lines_.current;
  lines_.current = row;
  for (int32_t changed : {old, row}) {
    if (changed < 0 || changed >= static_cast<int32_t>(lines_.texts.size())) continue;
    const QModelIndex at = index(changed);
    emit dataChanged(at, at, {Qt::ForegroundRole});
  }
}

// --- The window -----------------------------------------------------------------------------

PlaylistEditor::PlaylistEditor(EditorHost& host) : QWidget(nullptr, Qt::Window), host_(host) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(kEditorTitle);
  setWindowIcon(playlistIcon());
  setStyleSheet(kEditorStyle);
  setAcceptDrops(true);

  list_ = new QListView(this);
  list_->setModel(&model_);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setUniformItemSizes(true);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->installEventFilter(this);
  // Drops on the list are the window's drops.
  list_->setAcceptDrops(false);
  connect(list_, &QListView::doubleClicked, this, [this](const QModelIndex& index) { playRow(index.row()); });
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { showSelectionPlayTime(); });

  for (const ButtonText& b : kButtons) {
    buttons_[b.control] = new QPushButton(b.text, this);
    // Enter presses the button that has the focus, as Space does.
    buttons_[b.control]->setAutoDefault(true);
  }
  buttons_[kDismiss]->setDefault(true);
  playTime_ = new QLabel(kUnknownPlayTimeText, this);
  progress_ = new QProgressBar(this);
  progress_->setTextVisible(false);
  progress_->hide();

  addMenu_ = new QMenu(this);
  connect(addMenu_->addAction("Add File(s)..."), &QAction::triggered, this, [this] { addFiles(); });
  connect(addMenu_->addAction("Add URL..."), &QAction::triggered, this, [this] { addUrl(); });
  connect(addMenu_->addAction("Add Directory..."), &QAction::triggered, this, [this] { addDirectory(); });
  addMenu_->addAction("Add Event...")->setEnabled(false);
  sortMenu_ = new QMenu(this);
  connect(sortMenu_->addAction("Ascending"), &QAction::triggered, this, [this] { sort(false); });
  connect(sortMenu_->addAction("Decending"), &QAction::triggered, this, [this] { sort(true); });

  const struct {
    EditorControl control;
    void (PlaylistEditor::*run)();
  } commands[] = {
      {kLoadList, &PlaylistEditor::loadList},     {kSaveList, &PlaylistEditor::saveList},
      {kDelete, &PlaylistEditor::deleteSelected}, {kShuffle, &PlaylistEditor::shuffle},
      {kClear, &PlaylistEditor::clear},
  };
  for (const auto& c : commands) connect(buttons_[c.control], &QPushButton::clicked, this, c.run);
  connect(buttons_[kAddItem], &QPushButton::clicked, this, [this] { addMenu_->popup(QCursor::pos()); });
  connect(buttons_[kSort], &QPushButton::clicked, this, [this] { sortMenu_->popup(QCursor::pos()); });
  connect(buttons_[kDismiss], &QPushButton::clicked, this, [this] { close(); });
  connect(buttons_[kUp], &QPushButton::clicked, this, [this] { moveSelection(false); });
  connect(buttons_[kDown], &QPushButton::clicked, this, [this] { moveSelection(true); });

  // Every button takes the measured size of "Load List"; Up and Dn are
  // narrow, to fit before the play-time text.
  ensurePolished();
  const QSize measured = buttons_[kLoadList]->sizeHint();
  buttonWidth_ = measured.width();
  buttonHeight_ = measured.height();
  for (const ButtonText& b : kButtons) buttons_[b.control]->setFixedSize(buttonWidth_, buttonHeight_);
  for (EditorControl narrow : {kUp, kDown}) {
    buttons_[narrow]->setStyleSheet("QPushButton { min-width: 0; padding: 0; }");
    buttons_[narrow]->setFixedSize(25, buttonHeight_ - 4);
  }
  playTime_->setFixedSize(playTime_->fontMetrics().horizontalAdvance("Playtime: 000:00:00") + 8, buttonHeight_ - 4);

  setMinimumSize(kEditorMinWidth, kEditorMinHeight);
  wantedWidth_ = settings.PlaylistW;
  wantedHeight_ = settings.PlaylistH;
  move(settings.PlaylistX, settings.PlaylistY);
  resize(wantedWidth_, wantedHeight_);
  layOut();

  playTime_->setText(QString::fromUtf8(openingPlayTime().c_str()));
  if (entryCount() > 0) fill();
  list_->setFocus();
}

void PlaylistEditor::refresh() {
  if (!host_.refreshAllowed()) return;
  fill();
}

void PlaylistEditor::fill() {
  model_.reset(editorLines());
  const int32_t current = currentPosition();
  if (current < 0 || current >= model_.rowCount()) return;
  const QModelIndex at = model_.index(current);
  list_->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
  list_->scrollTo(at, QAbstractItemView::PositionAtTop);
}

void PlaylistEditor::infoRead(const std::vector<int32_t>& positions, InfoProgress progress) {
  std::vector<std::string> texts = editorLineTexts(positions);
  for (size_t i = 0; i < positions.size(); ++i) model_.setLine(positions[i], std::move(texts[i]));
  if (!positions.empty()) showSelectionPlayTime();
  if (progress.total > 0) {
    progress_->setRange(0, progress.total);
    progress_->setValue(progress.done);
    progress_->setToolTip(QString("Reading file information: %1 of %2").arg(progress.done).arg(progress.total));
    progress_->show();
  } else {
    progress_->hide();
  }
}

void PlaylistEditor::showCurrent(int32_t position) { model_.setCurrent(position); }

QString PlaylistEditor::playTimeText() const { return playTime_->text(); }

std::vector<int32_t> PlaylistEditor::selection() const {
  std::vector<int32_t> rows;
  for (const QModelIndex& index : list_->selectionModel()->selectedIndexes()) rows.push_back(index.row());
  return selectedPositions(std::move(rows));
}

void PlaylistEditor::selectRows(const std::vector<int32_t>& rows) {
  QItemSelection chosen;
  for (int32_t row : rows) chosen.select(model_.index(row), model_.index(row));
  list_->selectionModel()->select(chosen, QItemSelectionModel::ClearAndSelect);
  if (!rows.empty()) list_->selectionModel()->setCurrentIndex(model_.index(rows.back()), QItemSelectionModel::NoUpdate);
}

void PlaylistEditor::showSelectionPlayTime() {
  playTime_->setText(QString::fromUtf8(selectionPlayTime(selection()).c_str()));
}

// --- Layout, place and size -------------------------------------------------------------------

void PlaylistEditor::layOut() {
  EditorBox sizes[kEditorControlCount];
  for (int32_t c = 0; c < kEditorControlCount; ++c) {
    const QWidget* control = c == kPlayTime ? static_cast<QWidget*>(playTime_) : buttons_[c];
    sizes[c] = {0, 0, control->width(), control->height()};
  }
  const EditorLayout layout = layoutEditor(width(), height(), buttonWidth_, buttonHeight_, sizes);
  list_->setGeometry(layout.list.x, layout.list.y, layout.list.width, layout.list.height);
  for (int32_t c = 0; c < kEditorControlCount; ++c) {
    QWidget* control = c == kPlayTime ? static_cast<QWidget*>(playTime_) : buttons_[c];
    control->move(layout.controls[c].x, layout.controls[c].y);
  }
  // The reading progress: a thin bar along the list's foot.
  progress_->setGeometry(layout.list.x + 1, layout.list.y + layout.list.height - 5, layout.list.width - 2, 4);
}

// The stored size is the outer one: once the frame is known, the inside
// gives up what the frame takes, and so does the smallest size.
void PlaylistEditor::fitToFrame() {
  if (fittedToFrame_ || !windowHandle()) return;
  const QMargins frame = windowHandle()->frameMargins();
  if (frame.isNull()) return;
  fittedToFrame_ = true;
  const int32_t dw = frame.left() + frame.right(), dh = frame.top() + frame.bottom();
  setMinimumSize(std::max(1, kEditorMinWidth - dw), std::max(1, kEditorMinHeight - dh));
  resize(std::max(wantedWidth_, kEditorMinWidth) - dw, std::max(wantedHeight_, kEditorMinHeight) - dh);
}

void PlaylistEditor::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  fitToFrame();
  layOut();
}

void PlaylistEditor::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  fitToFrame();
}

void PlaylistEditor::closeEvent(QCloseEvent* event) {
  if (!isMinimized()) {
    const QRect outer = frameGeometry();
    settings.PlaylistX = outer.x();
    settings.PlaylistY = outer.y();
    settings.PlaylistW = outer.width();
    settings.PlaylistH = outer.height();
  }
  host_.editorClosing();
  event->accept();
}

// --- Input ----------------------------------------------------------------------------------

bool PlaylistEditor::eventFilter(QObject* watched, QEvent* event) {
  if (watched != list_ || event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      playRow(list_->currentIndex().row());
      return true;
    case Qt::Key_Delete:
      deleteSelected();
      return true;
    case Qt::Key_Insert:
      return true;
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void PlaylistEditor::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void PlaylistEditor::dropEvent(QDropEvent* event) {
  const std::vector<std::string> names = droppedNames(*event->mimeData());
  event->acceptProposedAction();
  host_.refreshAllowed() = false;
  for (const std::string& name : names) addByName(kAddNormal, name);
  changed();
}

// --- Commands -------------------------------------------------------------------------------

// After a change: refresh (allowed again) and have new entries read.
void PlaylistEditor::changed() {
  host_.refreshAllowed() = true;
  host_.listChanged();
}

void PlaylistEditor::playRow(int row) {
  if (row < 0 || row >= model_.rowCount()) return;
  if (!selectEntry(row)) return;
  host_.playCurrentEntry();
}

void PlaylistEditor::loadList() {
  if (openFilesDialog(true, 2) > 0) changed();
}

void PlaylistEditor::saveList() {
  const QString chosen = QFileDialog::getSaveFileName(this, QString(), QString(), "Playlist Files (*.pls)");
  if (chosen.isEmpty()) return;
  const std::string path = platform::withDefaultExtension(QFile::encodeName(chosen).toStdString(), "PLS");
  // An empty list writes nothing and is no failure; a list that could not
  // be written is told, not lost without a word.
  if (entryCount() > 0 && savePls(path) == 0) {
    platform::messageBox("Error Saving Playlist: " + path, kPlaylistErrorTitle,
                         platform::MB_OK | platform::MB_ICONWARNING);
  }
}

void PlaylistEditor::addFiles() {
  if (openFilesDialog(false, 0) > 0) changed();
}

void PlaylistEditor::addUrl() {
  std::string text;
  if (!askUrl(this, text)) return;
  if (text.size() >= 4) addEntry(text);
  changed();
}

void PlaylistEditor::addDirectory() {
  const QString folder = QFileDialog::getExistingDirectory(this, kAddDirectoryTitle);
  if (!folder.isEmpty()) addByName(kAddNormal, QFile::encodeName(folder).toStdString());
  changed();
}

void PlaylistEditor::deleteSelected() {
  const std::vector<int32_t> positions = selection();
  deleteEntries(static_cast<int32_t>(positions.size()), positions.data());
  changed();
}

void PlaylistEditor::shuffle() {
  if (shuffleEntries() == 1) changed();
}

void PlaylistEditor::sort(bool descending) {
  if (sortEntries(descending ? 1 : 0) == 1) changed();
}

void PlaylistEditor::clear() {
  host_.refreshAllowed() = true;
  clearPlaylist();
  model_.reset(EditorLines{});
}

void PlaylistEditor::moveSelection(bool down) {
  const std::vector<int32_t> positions = selection();
  moveEntries(down ? 1 : 0, static_cast<int32_t>(positions.size()), positions.data());
  changed();
  selectRows(reselectAfterMove(down, positions, model_.rowCount()));
}

}  // namespace kuv
