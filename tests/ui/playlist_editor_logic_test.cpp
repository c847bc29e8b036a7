// The playlist editor's rules without a window: lines, selections, the
// reselection after a move, play times and the layout.
#include "ui/playlist_editor_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "playlist/playlist.h"
#include "support/test_support.h"

namespace kuv {
namespace {

class EditorLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.ReadFileInfo = 0;
    clearPlaylist();
  }
  void TearDown() override { clearPlaylist(); }

  // Entries whose lengths (ms) are known; a negative one stays unknown.
  static void fill(const std::vector<int32_t>& lengths) {
    for (size_t i = 0; i < lengths.size(); ++i) {
      ASSERT_TRUE(addEntry("/music/track" + std::to_string(i + 1) + ".mp3"));
      if (lengths[i] < 0) continue;
      PlaylistEntry* e = entryAt(static_cast<int32_t>(i));
      e->lengthMs = lengths[i];
      e->infoKnown = 1;
    }
  }
  test::SavedSettings saved_;
};

TEST_F(EditorLogicTest, LinesNumberEveryEntryAndNameTheCurrentOne) {
  EXPECT_TRUE(editorLines().texts.empty());
  EXPECT_EQ(editorLines().current, -1);
  fill({-1, -1, -1});
  PlaylistEntry* tagged = entryAt(2);
  tagged->tag.valid = 1;
  std::strcpy(tagged->tag.title, "Title");
  std::strcpy(tagged->tag.artist, "Artist");
  selectEntry(1);
  const EditorLines lines = editorLines();
  EXPECT_EQ(lines.texts, (std::vector<std::string>{"1> track1.mp3", "2> track2.mp3", "3> Title / Artist"}));
  EXPECT_EQ(lines.current, 1);
  EXPECT_EQ(editorLineTexts({0, 2, 3}), (std::vector<std::string>{"1> track1.mp3", "3> Title / Artist", ""}));
}

TEST_F(EditorLogicTest, SelectionsAndTheReselectionAfterAMove) {
  std::vector<int32_t> many;
  for (int32_t i = 2000; i >= 0; --i) many.push_back(i);
  const std::vector<int32_t> taken = selectedPositions(many);
  ASSERT_EQ(taken.size(), kMaxSelectedLines);
  EXPECT_EQ(taken.front(), 0);
  EXPECT_EQ(taken.back(), 1023);
  EXPECT_EQ(selectedPositions({3, 1, 3, -1}), (std::vector<int32_t>{1, 3}));

  const struct {
    const char* name;
    bool down;
    std::vector<int32_t> positions;
    int32_t count;
    std::vector<int32_t> selected;
  } cases[] = {
      {"two lines up", false, {1, 2}, 5, {0, 1}},
      {"the first line up stays", false, {0}, 5, {0}},
      {"the last two down end on the last", true, {3, 4}, 5, {4}},
      {"a line down", true, {0}, 5, {1}},
      {"an empty list", true, {0}, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(reselectAfterMove(c.down, c.positions, c.count), c.selected);
  }
}

TEST_F(EditorLogicTest, PlayTimeOfASelection) {
  fill({61000, 3599999, -1, kUnknownLength});
  const struct {
    const char* name;
    std::vector<int32_t> positions;
    const char* text;
  } cases[] = {
      {"one entry", {0}, "Playtime: 00:01:01"},
      {"whole seconds of each, summed", {0, 1}, "Playtime: 01:01:00"},
      {"information not read", {0, 2}, "Playtime: Unknown"},
      {"a length that cannot be estimated", {3}, "Playtime: Unknown"},
      {"nothing selected", {}, "Playtime: Unknown"},
      {"past the end", {0, 9}, "Playtime: Unknown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(selectionPlayTime(c.positions), c.text);
  }
  EXPECT_EQ(openingPlayTime(), "Playtime: 00:01:01");
  selectEntry(2);
  EXPECT_EQ(openingPlayTime(), "Playtime: Unknown");
}

TEST_F(EditorLogicTest, TheLayoutFollowsTheMeasuredButton) {
  EditorBox sizes[kEditorControlCount];
  for (EditorBox& box : sizes) box = {0, 0, 75, 23};
  sizes[kPlayTime] = {0, 0, 120, 19};
  const EditorLayout layout = layoutEditor(400, 300, 75, 23, sizes);
  EXPECT_EQ(layout.list.x, 3);
  EXPECT_EQ(layout.list.width, 400 - 75 - 10);
  EXPECT_EQ(layout.list.height, 300 - 24);
  const struct {
    EditorControl control;
    int32_t x, y;
  } places[] = {
      {kLoadList, 323, 3},  {kSaveList, 323, 26}, {kAddItem, 323, 54},  {kDelete, 323, 77},
      {kShuffle, 323, 105}, {kSort, 323, 128},    {kClear, 323, 151},   {kDismiss, 323, 273},
      {kUp, 3, 279},        {kDown, 30, 279},     {kPlayTime, 60, 279},
  };
  for (const auto& p : places) {
    SCOPED_TRACE(p.control);
    EXPECT_EQ(layout.controls[p.control].x, p.x);
    EXPECT_EQ(layout.controls[p.control].y, p.y);
  }
  EXPECT_EQ(layout.controls[kPlayTime].width, 120);
  // Smaller than the buttons need: the list never gets a negative size.
  const EditorLayout tiny = layoutEditor(50, 10, 75, 23, sizes);
  EXPECT_EQ(tiny.list.width, 0);
  EXPECT_EQ(tiny.list.height, 0);
}

}  // namespace
}  // namespace kuv
