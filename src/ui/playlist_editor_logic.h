// The playlist editor's rules without a window: its lines, the positions a
// selection names, the reselection after Up and Dn, the play time of a
// selection and the layout built from the "Load List" button's size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kuv {

// At most this many selected lines are taken at a time (the first ones).
constexpr size_t kMaxSelectedLines = 1024;
// The smallest outer window.
constexpr int32_t kEditorMinWidth = 240;
constexpr int32_t kEditorMinHeight = 226;
constexpr const char* kEditorTitle = "KUV Playlist Editor";
constexpr const char* kAddDirectoryTitle = "Please Select a directory to add...";

// Every line of the list, in list order, and the current entry's line (-1
// when none).
struct EditorLines {
  std::vector<std::string> texts;
  int32_t current = -1;
};
EditorLines editorLines();
// The texts of the lines at (ascending) positions, after their entries'
// information was read: one walk over the list for all of them. A position
// past the end gets an empty text.
std::vector<std::string> editorLineTexts(const std::vector<int32_t>& positions);

// The selected rows as the list reports them (any order): ascending, without
// repeats, at most kMaxSelectedLines.
std::vector<int32_t> selectedPositions(std::vector<int32_t> rows);

// The lines selected after moving `positions` up or down in a list of
// `count` lines: each one step on, kept inside the list.
std::vector<int32_t> reselectAfterMove(bool down, const std::vector<int32_t>& positions, int32_t count);

// "Playtime: hh:mm:ss" for the entries at the (ascending) positions, or
// "Playtime: Unknown" when one of their lengths is not known or nothing is
// selected.
std::string selectionPlayTime(const std::vector<int32_t>& positions);
// What the play-time text shows when the editor opens: the current entry's
// length when its information is known, else "Playtime: Unknown".
std::string openingPlayTime();

struct EditorBox {
  int32_t x = 0, y = 0, width = 0, height = 0;
};
enum EditorControl : int32_t {
  kLoadList,
  kSaveList,
  kAddItem,
  kDelete,
  kShuffle,
  kSort,
  kClear,
  kDismiss,
  kUp,
  kDown,
  kPlayTime,
  kEditorControlCount
};
// Where the list and the controls go in a client area of width x height,
// from the "Load List" button's measured width and height. Only the list
// changes size; the controls keep theirs (given in `sizes`, by control).
struct EditorLayout {
  EditorBox list;
  EditorBox controls[kEditorControlCount];
};
EditorLayout layoutEditor(int32_t width, int32_t height, int32_t buttonWidth, int32_t buttonHeight,
                          const EditorBox (&sizes)[kEditorControlCount]);

}  // namespace kuv
