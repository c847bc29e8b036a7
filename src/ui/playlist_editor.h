// The playlist editor window: the list of entries with the buttons to load,
// save, add, delete, move, shuffle, sort and clear. Every change goes through
// the playlist's own operations; the window only mirrors the list.
#pragma once

#include <QAbstractListModel>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "playlist/info_reader.h"
#include "ui/playlist_editor_logic.h"

class QLabel;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;

namespace kuv {

// What the editor needs of the main window.
struct EditorHost {
  virtual ~EditorHost() = default;
  // Gates the refresh (cleared while the main window adds a drop's names).
  virtual bool& refreshAllowed() = 0;
  // After the editor changed the list: refresh it and read new entries'
  // information.
  virtual void listChanged() = 0;
  // Plays the current entry as the main window's Play Current command does.
  virtual void playCurrentEntry() = 0;
  virtual void editorClosing() = 0;
};

// The lines, one string each, built on a refresh; the current entry's line
// is drawn in the display's green.
class EditorModel final : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  void reset(EditorLines lines);
  void setLine(int32_t row, std::string text);
  void setCurrent(int32_t row);

 private:
  EditorLines lines_;
};

class PlaylistEditor final : public QWidget {
 public:
  explicit PlaylistEditor(EditorHost& host);

  // The refresh message: nothing while refreshAllowed is clear; else the
  // list is filled anew and the current line selected and scrolled to the top.
  void refresh();
  // Information read in the background: the changed lines, and how far the
  // reading is.
  void infoRead(const std::vector<int32_t>& positions, InfoProgress progress);
  // Another entry plays: its line turns green (the selection stays).
  void showCurrent(int32_t position);

  QListView* list() const { return list_; }
  QPushButton* button(EditorControl control) const { return buttons_[control]; }
  QString playTimeText() const;
  // The selected positions as the commands take them.
  std::vector<int32_t> selection() const;
  void selectRows(const std::vector<int32_t>& rows);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void fill();
  void layOut();
  void fitToFrame();
  void showSelectionPlayTime();
  void changed();
  void playRow(int row);
  void loadList();
  void saveList();
  void addFiles();
  void addUrl();
  void addDirectory();
  void deleteSelected();
  void shuffle();
  void sort(bool descending);
  void clear();
  void moveSelection(bool down);

  EditorHost& host_;
  EditorModel model_;
  QListView* list_ = nullptr;
  QPushButton* buttons_[kEditorControlCount] = {};
  QLabel* playTime_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QMenu* addMenu_ = nullptr;
  QMenu* sortMenu_ = nullptr;
  int32_t buttonWidth_ = 0;
  int32_t buttonHeight_ = 0;
  // The outer size asked for at opening; the frame's size is known only once
  // the window manager has framed the window.
  int32_t wantedWidth_ = 0;
  int32_t wantedHeight_ = 0;
  bool fittedToFrame_ = false;
};

}  // namespace kuv
