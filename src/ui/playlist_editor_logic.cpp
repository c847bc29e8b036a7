#include "ui/playlist_editor_logic.h"

#include <algorithm>

#include "playlist/file_info.h"
#include "playlist/playlist.h"

namespace kuv {

EditorLines editorLines() {
  EditorLines lines;
  lines.texts.reserve(static_cast<size_t>(entryCount()));
  int32_t position = 0;
  for (const PlaylistEntry* e = playlist.first; e; e = e->next, ++position) {
    lines.texts.push_back(entryLineText(position + 1, *e));
    if (e == playlist.current) lines.current = position;
  }
  return lines;
}

std::vector<std::string> editorLineTexts(const std::vector<int32_t>& positions) {
  std::vector<std::string> texts(positions.size());
  size_t next = 0;
  int32_t position = 0;
  for (const PlaylistEntry* e = playlist.first; e && next < positions.size(); e = e->next, ++position) {
    while (next < positions.size() && positions[next] < position) ++next;
    if (next < positions.size() && positions[next] == position) texts[next++] = entryLineText(position + 1, *e);
  }
  return texts;
}

std::vector<int32_t> selectedPositions(std::vector<int32_t> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(), [](int32_t row) { return row < 0; }), rows.end());
  if (rows.size() > kMaxSelectedLines) rows.resize(kMaxSelectedLines);
  return rows;
}

std::vector<int32_t> reselectAfterMove(bool down, const std::vector<int32_t>& positions, int32_t count) {
  std::vector<int32_t> lines;
  if (count <= 0) return lines;
  for (int32_t p : positions) lines.push_back(down ? std::min(p + 1, count - 1) : std::max(p - 1, 0));
  return selectedPositions(lines);
}

std::string selectionPlayTime(const std::vector<int32_t>& positions) {
  if (positions.empty()) return kUnknownPlayTimeText;
  PlayTimeTotal total;
  size_t next = 0;
  int32_t position = 0;
  for (const PlaylistEntry* e = playlist.first; e && next < positions.size(); e = e->next, ++position) {
    if (positions[next] != position) continue;
    total.add(*e);
    ++next;
  }
  // A position past the end names no entry: nothing known of it.
  if (next < positions.size()) return kUnknownPlayTimeText;
  return total.text();
}

std::string openingPlayTime() {
  const PlaylistEntry* current = playlist.current;
  if (!current || !current->infoKnown) return kUnknownPlayTimeText;
  PlayTimeTotal total;
  total.add(*current);
  return total.text();
}

EditorLayout layoutEditor(int32_t width, int32_t height, int32_t bw, int32_t bh,
                          const EditorBox (&sizes)[kEditorControlCount]) {
  EditorLayout layout;
  layout.list = {3, 3, std::max(0, width - bw - 10), std::max(0, height - 24)};
  const int32_t column = width - bw - 2;
  const int32_t bottom = height - bh + 2;
  const struct {
    EditorControl id;
    int32_t x, y;
  } places[] = {
      {kLoadList, column, 3},
      {kSaveList, column, bh + 3},
      {kAddItem, column, 2 * bh + 8},
      {kDelete, column, 3 * bh + 8},
      {kShuffle, column, 4 * bh + 13},
      {kSort, column, 5 * bh + 13},
      {kClear, column, 6 * bh + 13},
      {kDismiss, column, height - bh - 4},
      {kUp, 3, bottom},
      {kDown, 30, bottom},
      {kPlayTime, 60, bottom},
  };
  for (const auto& place : places) {
    layout.controls[place.id] = {place.x, place.y, sizes[place.id].width, sizes[place.id].height};
  }
  return layout;
}

}  // namespace kuv
