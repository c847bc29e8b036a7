// The context menu's check marks: a mark shows a state the player is in,
// never merely that the item was clicked.
#pragma once

#include <cstdint>

#include "config/settings.h"
#include "ui/player_commands.h"

namespace kuv {

// The windows that menu items open, as they stand now.
struct OpenWindows {
  bool playlistEditor = false;  // the editor is shown
  bool preferences = false;     // the preferences sheet exists
};

struct MenuMark {
  bool checkable = false;  // the item carries a mark at all
  bool checked = false;
};

// Shuffle and Always On Top switch a setting on and off and show it. The
// editor and the preferences carry a mark only while their window is there:
// an empty box would claim a state too. Repeat Mode (three values, shown on
// its button) and WinShade (the window's shape shows it) carry none.
inline MenuMark menuMark(int32_t command, const Settings& s, const OpenWindows& open) {
  switch (command) {
    case CMD_SHUFFLE:
      return {true, s.ShufflePlay != 0};
    case CMD_ALWAYS_ON_TOP:
      return {true, s.AlwaysOnTop != 0};
    case CMD_PLAYLIST_EDITOR:
      return {open.playlistEditor, open.playlistEditor};
    case CMD_PREFERENCES:
      return {open.preferences, open.preferences};
    default:
      return {};
  }
}

}  // namespace kuv
