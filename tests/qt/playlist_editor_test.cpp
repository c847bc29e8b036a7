// The playlist editor window, offscreen: what it shows, its buttons, keys,
// drops and pop-up menus, and where it keeps its place.
#include "ui/playlist_editor.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/settings.h"
#include "playlist/playlist.h"
#include "support/test_support.h"

namespace kuv {
namespace {

struct RecordingHost final : EditorHost {
  bool allowed = true;
  PlaylistEditor* editor = nullptr;
  std::vector<int32_t> played;  // the current position each time Play was asked for
  int closings = 0;
  bool& refreshAllowed() override { return allowed; }
  void listChanged() override {
    allowed = true;
    if (editor) editor->refresh();
  }
  void playCurrentEntry() override { played.push_back(currentPosition()); }
  void editorClosing() override { ++closings; }
};

class PlaylistEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.ReadFileInfo = 0;
    settings.PlaylistX = 40;
    settings.PlaylistY = 50;
    settings.PlaylistW = 420;
    settings.PlaylistH = 330;
    clearPlaylist();
  }
  void TearDown() override {
    delete editor_;
    clearPlaylist();
  }
  void open(const std::vector<std::string>& names, int32_t current = 0) {
    for (const std::string& name : names) ASSERT_TRUE(addEntry(name));
    if (!names.empty()) selectEntry(current);
    editor_ = new PlaylistEditor(host_);
    editor_->setAttribute(Qt::WA_DeleteOnClose, false);
    host_.editor = editor_;
    editor_->show();
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    QAbstractItemModel* model = editor_->list()->model();
    for (int row = 0; row < model->rowCount(); ++row)
      out.push_back(model->data(model->index(row, 0)).toString().toStdString());
    return out;
  }
  static std::vector<std::string> paths() {
    std::vector<std::string> out;
    for (int32_t i = 0; PlaylistEntry* e = entryAt(i); ++i) out.push_back(e->path);
    return out;
  }
  QAction* action(const char* text) const {
    for (QAction* a : editor_->findChildren<QAction*>())
      if (a->text() == text) return a;
    return nullptr;
  }
  void key(int key) { QTest::keyClick(editor_->list(), static_cast<Qt::Key>(key)); }

  test::SavedSettings saved_;
  RecordingHost host_;
  PlaylistEditor* editor_ = nullptr;
};

const std::vector<std::string> kFive = {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/d.mp3", "/m/e.mp3"};

TEST_F(PlaylistEditorTest, OpensOnTheListWithTheCurrentLineSelected) {
  open({});
  EXPECT_TRUE(lines().empty());
  EXPECT_EQ(editor_->playTimeText().toStdString(), "Playtime: Unknown");
  EXPECT_EQ(editor_->windowTitle().toStdString(), "KUV Playlist Editor");
  delete editor_;
  editor_ = nullptr;

  clearPlaylist();
  open({"/m/one.mp3", "/m/two.mp3", "/m/three.mp3"}, 1);
  EXPECT_EQ(lines(), (std::vector<std::string>{"1> one.mp3", "2> two.mp3", "3> three.mp3"}));
  EXPECT_EQ(editor_->selection(), std::vector<int32_t>{1});
  // The playing line is told apart; it follows the track, not the selection.
  QAbstractItemModel* model = editor_->list()->model();
  auto marked = [&](int row) { return model->data(model->index(row, 0), Qt::ForegroundRole).isValid(); };
  EXPECT_TRUE(marked(1));
  editor_->showCurrent(2);
  EXPECT_FALSE(marked(1));
  EXPECT_TRUE(marked(2));
  EXPECT_EQ(editor_->selection(), std::vector<int32_t>{1});
}

TEST_F(PlaylistEditorTest, ButtonsAndKeysChangeTheListAndTheSelection) {
  const struct {
    const char* name;
    std::vector<int32_t> select;
    int key;  // a key in the list, or 0
    EditorControl button;
    std::vector<std::string> order;  // last path components after the command
    std::vector<int32_t> selected;
  } cases[] = {
      {"two lines up", {1, 2}, 0, kUp, {"b", "c", "a", "d", "e"}, {0, 1}},
      {"the first line up stays", {0}, 0, kUp, {"a", "b", "c", "d", "e"}, {0}},
      {"the last two down", {3, 4}, 0, kDown, {"a", "b", "c", "e", "d"}, {4}},
      {"Delete button", {0, 4}, 0, kDelete, {"b", "c", "d"}, {}},
      {"Delete key", {2}, Qt::Key_Delete, kEditorControlCount, {"a", "b", "d", "e"}, {}},
      {"Insert key does nothing", {2}, Qt::Key_Insert, kEditorControlCount, {"a", "b", "c", "d", "e"}, {2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clearPlaylist();
    delete editor_;
    editor_ = nullptr;
    open(kFive);
    editor_->selectRows(c.select);
    if (c.key) key(c.key);
    if (c.button != kEditorControlCount) editor_->button(c.button)->click();
    std::vector<std::string> order;
    for (const std::string& p : paths()) order.push_back(p.substr(3, 1));
    EXPECT_EQ(order, c.order);
    if (!c.selected.empty()) {
      EXPECT_EQ(editor_->selection(), c.selected);
    }
    EXPECT_EQ(lines().size(), c.order.size()) << "the list shows what the playlist holds";
  }
}

TEST_F(PlaylistEditorTest, EnterAndDoubleClickPlayTheCaretLine) {
  open(kFive);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(editor_));
  editor_->list()->setCurrentIndex(editor_->list()->model()->index(3, 0));
  key(Qt::Key_Return);
  const QRect line = editor_->list()->visualRect(editor_->list()->model()->index(1, 0));
  // A double click is a click and then the second press.
  QTest::mouseClick(editor_->list()->viewport(), Qt::LeftButton, Qt::NoModifier, line.center());
  QTest::mouseDClick(editor_->list()->viewport(), Qt::LeftButton, Qt::NoModifier, line.center());
  EXPECT_EQ(host_.played, (std::vector<int32_t>{3, 1}));
}

TEST_F(PlaylistEditorTest, RefreshFollowsTheGateAndShuffleSortAndClearUpdate) {
  open(kFive);
  ASSERT_TRUE(addEntry("/m/f.mp3"));
  host_.allowed = false;
  editor_->refresh();
  EXPECT_EQ(lines().size(), 5u) << "no refresh while the main window adds";
  host_.allowed = true;
  editor_->refresh();
  EXPECT_EQ(lines().size(), 6u);

  action("Decending")->trigger();
  EXPECT_EQ(lines().front(), "1> f.mp3");
  editor_->button(kShuffle)->click();
  std::vector<std::string> expected;
  for (int32_t i = 0; PlaylistEntry* e = entryAt(i); ++i) expected.push_back(entryLineText(i + 1, *e));
  EXPECT_EQ(lines(), expected);
  editor_->button(kClear)->click();
  EXPECT_TRUE(lines().empty());
  EXPECT_EQ(entryCount(), 0);
  EXPECT_FALSE(action("Add Event...")->isEnabled());
}

TEST_F(PlaylistEditorTest, PlayTimeFollowsTheSelectionAndTheInformationRead) {
  open({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"});
  for (int32_t i = 0; i < 2; ++i) {
    entryAt(i)->lengthMs = 90000;
    entryAt(i)->infoKnown = 1;
  }
  editor_->selectRows({0, 1});
  EXPECT_EQ(editor_->playTimeText().toStdString(), "Playtime: 00:03:00");
  editor_->selectRows({0, 1, 2});
  EXPECT_EQ(editor_->playTimeText().toStdString(), "Playtime: Unknown");
  // The third entry's information arrives: its line and the total follow.
  PlaylistEntry* third = entryAt(2);
  third->lengthMs = 30000;
  third->infoKnown = 1;
  third->tag.valid = 1;
  std::snprintf(third->tag.title, sizeof third->tag.title, "Song");
  std::snprintf(third->tag.artist, sizeof third->tag.artist, "Band");
  editor_->infoRead({2}, InfoProgress{});
  EXPECT_EQ(lines()[2], "3> Song / Band");
  EXPECT_EQ(editor_->playTimeText().toStdString(), "Playtime: 00:03:30");
}

TEST_F(PlaylistEditorTest, DropsAddInOrderAndRefresh) {
  open({"/m/a.mp3"});
  const std::string folder = test::makeTempFolder();
  for (const char* name : {"x.mp3", "y.mp3"}) test::writeFile(folder + "/" + name, "data");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder + "/y.mp3")),
                QUrl::fromLocalFile(QString::fromStdString(folder + "/x.mp3"))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(editor_, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(editor_, &drop);
  EXPECT_EQ(lines(), (std::vector<std::string>{"1> a.mp3", "2> y.mp3", "3> x.mp3"}));
  EXPECT_TRUE(host_.allowed);
  test::removeTree(folder);
}

TEST_F(PlaylistEditorTest, KeepsItsSmallestSizeAndItsPlace) {
  open({"/m/a.mp3"});
  editor_->resize(100, 100);
  EXPECT_GE(editor_->width(), kEditorMinWidth - 20);
  EXPECT_GE(editor_->height(), kEditorMinHeight - 40);
  editor_->resize(500, 360);
  editor_->move(70, 80);
  editor_->close();
  EXPECT_EQ(host_.closings, 1);
  const QRect outer = editor_->frameGeometry();
  EXPECT_EQ(settings.PlaylistX, outer.x());
  EXPECT_EQ(settings.PlaylistY, outer.y());
  EXPECT_EQ(settings.PlaylistW, outer.width());
  EXPECT_EQ(settings.PlaylistH, outer.height());
  delete editor_;
  editor_ = new PlaylistEditor(host_);
  editor_->setAttribute(Qt::WA_DeleteOnClose, false);
  editor_->show();
  EXPECT_EQ(editor_->frameGeometry(), outer) << "reopened where it was closed";
}

}  // namespace
}  // namespace kuv
