// The shape from a mask, and the skin's buttons under the mouse.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/menu_marks.h"
#include "ui/player_commands.h"
#include "ui/skin_buttons.h"
#include "ui/skin_region.h"

namespace kuv {
namespace {

// A mask from rows of text: '#' inside (colour 1), '.' outside (colour 0).
MaskImage maskOf(const std::vector<std::string>& rows) {
  MaskImage m;
  m.height = static_cast<int32_t>(rows.size());
  m.width = static_cast<int32_t>(rows[0].size());
  for (const std::string& row : rows)
    for (char c : row) m.pixels.push_back(c == '#' ? 1u : 0u);
  return m;
}

TEST(SkinRegion, RunsBecomeRectanglesAndEqualRowsMerge) {
  const MaskImage m = maskOf({
      "..####..",
      ".######.",
      ".######.",
      "##.##.##",
      "########",
  });
  const SkinRegion r = buildRegion(m, 3, 1);
  EXPECT_EQ(r.rects, (std::vector<SkinRect>{
                         {2, 0, 6, 1}, {1, 1, 7, 3}, {0, 3, 2, 4}, {3, 3, 5, 4}, {6, 3, 8, 4}, {0, 4, 8, 5}}));
  EXPECT_EQ(r.bounds, (SkinRect{0, 0, 8, 5}));
  EXPECT_TRUE(r.contains(2, 0));
  EXPECT_FALSE(r.contains(2, 3));  // the hole
  EXPECT_FALSE(r.contains(0, 0));
}

TEST(SkinRegion, MergeBridgesEmptyRowsAndOnlyTouchesTheLastRectangle) {
  // Same edges after an empty row: the stored rectangle grows over the gap.
  const MaskImage gap = maskOf({".##.", "....", ".##."});
  EXPECT_EQ(buildRegion(gap, 1, 0).rects, (std::vector<SkinRect>{{1, 0, 3, 3}}));
  // Two runs a row: each compares with the one stored just before it, so
  // nothing merges though the rows repeat.
  const MaskImage two = maskOf({"#.#", "#.#"});
  EXPECT_EQ(buildRegion(two, 0, 0).rects.size(), 4u);
}

TEST(SkinRegion, KeyColourOutsideGivesTheInverseShape) {
  const MaskImage m = maskOf({"##..", "##.."});
  const SkinRegion inverse = buildRegion(m, 3, 0);
  EXPECT_EQ(inverse.rects, (std::vector<SkinRect>{{2, 0, 4, 2}}));
  EXPECT_TRUE(buildRegion(m, 9, 9).rects.empty());
  EXPECT_TRUE(buildRegion(MaskImage{}, 0, 0).rects.empty());
}

class SkinMouseTest : public ::testing::Test {
 protected:
  void SetUp() override { initSkinButtons(m_); }
  MouseState m_;
};

TEST_F(SkinMouseTest, ButtonAreasAreWhereTheSkinDrawsThem) {
  const struct {
    SkinButtonId id;
    int32_t x, y;
    int32_t command;
  } hits[] = {
      {kButtonClose, 25, 5, CMD_CLOSE},
      {kButtonClose, 5, 25, CMD_CLOSE},
      {kButtonMinimise, 10, 40, 0},
      {kButtonAlwaysOnTop, 10, 60, CMD_ALWAYS_ON_TOP},
      {kButtonOpen, 28, 84, CMD_OPEN_FILE},
      {kButtonPlay, 65, 104, CMD_PLAY},
      {kButtonPause, 80, 90, CMD_PAUSE},
      {kButtonStop, 100, 90, CMD_STOP},
      {kButtonPrevious, 120, 90, CMD_PREVIOUS},
      {kButtonNext, 150, 90, CMD_NEXT},
      {kButtonRepeat, 170, 95, CMD_REPEAT},
      {kButtonShuffle, 170, 96, CMD_SHUFFLE},
  };
  for (const auto& h : hits) {
    EXPECT_TRUE(m_.buttons[h.id].contains(h.x, h.y)) << h.id;
    EXPECT_EQ(m_.buttons[h.id].command, h.command) << h.id;
  }
  // The corner of the L-shaped close button is not part of it; the gaps
  // between transport buttons belong to none.
  EXPECT_FALSE(m_.buttons[kButtonClose].contains(25, 25));
  for (int32_t id = 0; id < kSkinButtonCount; ++id) {
    EXPECT_FALSE(m_.buttons[id].contains(47, 90));
    EXPECT_FALSE(m_.buttons[id].contains(66, 90));
  }
  EXPECT_TRUE(insideDial(214, 57));
  EXPECT_TRUE(insideDial(214, 31));
  EXPECT_FALSE(insideDial(188, 31));  // the box corner lies outside the circle
  EXPECT_TRUE(rightPressOnDial(200, 57));
  EXPECT_FALSE(rightPressOnDial(100, 57));
}

TEST_F(SkinMouseTest, AButtonFiresOnlyWhenPressAndReleaseAreInside) {
  MouseEffects e = mousePress(m_, 55, 90, false);
  EXPECT_TRUE(e.capturing);
  EXPECT_TRUE(m_.buttons[kButtonPlay].pressed);
  mouseMove(m_, 100, 30, 0, 0);
  EXPECT_FALSE(m_.buttons[kButtonPlay].pressed);
  e = mouseRelease(m_);
  EXPECT_TRUE(e.commands.empty());
  EXPECT_FALSE(m_.buttons[kButtonPlay].captured);

  mousePress(m_, 55, 90, false);
  mouseMove(m_, 100, 30, 0, 0);
  mouseMove(m_, 56, 91, 0, 0);
  e = mouseRelease(m_);
  EXPECT_EQ(e.commands, (std::vector<int32_t>{CMD_PLAY}));

  // A release over another button fires neither.
  mousePress(m_, 55, 90, false);
  mouseMove(m_, 80, 90, 0, 0);
  EXPECT_TRUE(mouseRelease(m_).commands.empty());
}

TEST_F(SkinMouseTest, WindowButtonsRedrawOnlyWhenTheirLookChanges) {
  mousePress(m_, 10, 40, false);
  EXPECT_TRUE(mouseMove(m_, 11, 41, 0, 0).redraw.empty());
  EXPECT_EQ(mouseMove(m_, 100, 100, 0, 0).redraw, (std::vector<SkinButtonId>{kButtonMinimise}));
  EXPECT_EQ(mouseMove(m_, 10, 40, 0, 0).redraw, (std::vector<SkinButtonId>{kButtonMinimise}));
  const MouseEffects e = mouseRelease(m_);
  EXPECT_TRUE(e.minimise);
  EXPECT_TRUE(e.commands.empty());
}

TEST_F(SkinMouseTest, TitleStripDragKeepsThePressedPixelUnderTheCursor) {
  MouseEffects e = mousePress(m_, 150, 10, false);
  EXPECT_TRUE(e.capturing);
  // The anchor is signed: a window on a monitor left of the origin.
  e = mouseMove(m_, 150, 10, -500, 300);
  EXPECT_TRUE(e.moveWindow);
  EXPECT_EQ(e.windowX, -650);
  EXPECT_EQ(e.windowY, 290);
  mouseRelease(m_);
  EXPECT_FALSE(mouseMove(m_, 150, 10, 0, 0).moveWindow);
}

TEST_F(SkinMouseTest, EasyMoveDragsFromAnyFreePlace) {
  MouseEffects e = mousePress(m_, 100, 60, false);
  EXPECT_FALSE(e.capturing);
  EXPECT_FALSE(mouseMove(m_, 101, 61, 10, 10).moveWindow);
  mouseRelease(m_);
  e = mousePress(m_, 100, 60, true);
  EXPECT_TRUE(e.capturing);
  EXPECT_TRUE(mouseMove(m_, 101, 61, 10, 10).moveWindow);
  mouseRelease(m_);
  // Not from a button.
  mousePress(m_, 55, 90, true);
  EXPECT_FALSE(mouseMove(m_, 55, 90, 10, 10).moveWindow);
  mouseRelease(m_);
}

TEST_F(SkinMouseTest, DialPressesGoToTheDial) {
  MouseEffects e = mousePress(m_, 214, 57, true);
  EXPECT_TRUE(e.dialPress);
  EXPECT_TRUE(mouseMove(m_, 215, 58, 0, 0).dialMove);
  EXPECT_FALSE(mouseMove(m_, 100, 100, 0, 0).dialMove);
  EXPECT_FALSE(mouseMove(m_, 100, 100, 0, 0).moveWindow);  // EasyMove does not drag from the dial
  EXPECT_TRUE(mouseRelease(m_).dialRelease);
}

TEST_F(SkinMouseTest, LooksComeFromTheirBitmapPlaces) {
  SkinButton& top = m_.buttons[kButtonAlwaysOnTop];
  EXPECT_EQ(buttonLook(top, kButtonAlwaysOnTop, false, 0, false).y, 0);
  top.pressed = true;
  EXPECT_EQ(buttonLook(top, kButtonAlwaysOnTop, false, 0, false).y, 15);
  EXPECT_EQ(buttonLook(top, kButtonAlwaysOnTop, true, 0, false).y, 45);
  const LookSource shuffle = buttonLook(m_.buttons[kButtonShuffle], kButtonShuffle, false, 0, false);
  EXPECT_TRUE(shuffle.transport);
  EXPECT_EQ(shuffle.x, 133);
  EXPECT_EQ(shuffle.y, 14);
  m_.buttons[kButtonStop].pressed = true;
  const LookSource stop = buttonLook(m_.buttons[kButtonStop], kButtonStop, false, 2, true);
  EXPECT_EQ(stop.x, 70);
  EXPECT_EQ(stop.y, 26);
  EXPECT_EQ(m_.buttons[kButtonClose].bounds(), (SkinRect{4, 4, 29, 29}));
}

// Repeat and Shuffle show whether they are on, and Repeat which of its three
// modes it is in: every state has a look of its own, pressed or not.
TEST_F(SkinMouseTest, RepeatAndShuffleLooksShowTheirMode) {
  const struct {
    SkinButtonId id;
    int32_t repeat;
    bool shuffle, pressed;
    int32_t x, y;
  } table[] = {
      {kButtonRepeat, 0, true, false, 133, 0},    {kButtonRepeat, 0, false, true, 133, 26},
      {kButtonRepeat, 1, false, false, 133, 52},  {kButtonRepeat, 1, true, true, 133, 78},
      {kButtonRepeat, 2, false, false, 168, 52},  {kButtonRepeat, 2, false, true, 168, 78},
      {kButtonShuffle, 2, false, false, 133, 14}, {kButtonShuffle, 0, false, true, 133, 40},
      {kButtonShuffle, 0, true, false, 133, 66},  {kButtonShuffle, 1, true, true, 133, 92},
  };
  std::set<std::pair<int32_t, int32_t>> places;
  for (const auto& row : table) {
    SkinButton button = m_.buttons[row.id];
    button.pressed = row.pressed;
    const LookSource look = buttonLook(button, row.id, false, row.repeat, row.shuffle);
    EXPECT_TRUE(look.transport);
    EXPECT_EQ(look.x, row.x) << row.id << " " << row.repeat << row.shuffle << row.pressed;
    EXPECT_EQ(look.y, row.y) << row.id << " " << row.repeat << row.shuffle << row.pressed;
    places.insert({look.x, look.y});
    // Inside the 226 x 104 bitmap.
    const SkinRect box = button.bounds();
    EXPECT_LE(look.x + box.right - box.left, 226);
    EXPECT_LE(look.y + box.bottom - box.top, 104);
  }
  EXPECT_EQ(places.size(), 10u);
}

// The menu's marks show states, never clicks: the editor and preferences
// windows do not exist, so their items carry no mark however often they are
// chosen; the switches follow their settings whichever way those changed.
TEST(MenuMarks, OnlyRealStatesCarryAMark) {
  struct Row {
    int32_t command;
    int32_t shuffle, onTop, shade, repeat;
    bool editorShown, preferencesOpen;
    bool checkable, checked;
  };
  const Row table[] = {
      {CMD_PLAYLIST_EDITOR, 1, 1, 1, 2, false, false, false, false},
      {CMD_PLAYLIST_EDITOR, 0, 0, 0, 0, true, false, true, true},
      {CMD_PREFERENCES, 1, 1, 1, 2, false, false, false, false},
      {CMD_PREFERENCES, 0, 0, 0, 0, false, true, true, true},
      {CMD_SHUFFLE, 1, 0, 0, 0, false, false, true, true},
      {CMD_SHUFFLE, 0, 1, 1, 1, true, true, true, false},
      {CMD_ALWAYS_ON_TOP, 0, 1, 0, 0, false, false, true, true},
      {CMD_ALWAYS_ON_TOP, 1, 0, 1, 1, true, true, true, false},
      {CMD_WINSHADE, 0, 0, 1, 0, false, false, false, false},
      {CMD_WINSHADE, 1, 1, 0, 2, false, false, false, false},
      {CMD_REPEAT, 0, 0, 0, 1, false, false, false, false},
      {CMD_REPEAT, 0, 0, 0, 2, false, false, false, false},
      {CMD_PLAY, 1, 1, 1, 1, true, true, false, false},
      {CMD_TAG_EDITOR, 1, 1, 1, 1, true, true, false, false},
  };
  for (const Row& row : table) {
    Settings s{};
    s.ShufflePlay = row.shuffle;
    s.AlwaysOnTop = row.onTop;
    s.WinShade = row.shade;
    s.RepeatPlay = row.repeat;
    OpenWindows open;
    open.playlistEditor = row.editorShown;
    open.preferences = row.preferencesOpen;
    const MenuMark mark = menuMark(row.command, s, open);
    EXPECT_EQ(mark.checkable, row.checkable) << row.command;
    EXPECT_EQ(mark.checked, row.checked) << row.command;
  }
}

}  // namespace
}  // namespace kuv
