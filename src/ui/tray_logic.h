// The tray icon's picture and tip, the half-second hold on it that opens the
// mini controller, where the controller goes, and the About sheet's texts and
// links. No Qt: the window carries these out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kuv {

constexpr int32_t kTrayIconSteps = 11;  // 0 % .. 100 % in tens; step 10 is the program's mark
constexpr int32_t kTrayTipCharacters = 63;
// The hold timer: how long a press must last.
constexpr int32_t TIMER_TRAY_HOLD = 500;

// The icon for a percentage: its tens, the last step from 100 % on (an
// estimated length that was too short), the first before any progress (-1).
int32_t trayIconStep(int32_t percent);

// "Kuv - %s - %03d%%" with the current entry's title (a stream's title when
// one is known, else its path's last part; empty without one) and the
// percentage as it stands (-1 before the first progress report gives
// "-01"), cut to 63 characters, never within one.
std::string trayTipText(std::string_view currentPath, int32_t percent, std::string_view streamTitle = {});

// A press held on the icon for TIMER_TRAY_HOLD ms opens the controller; a click,
// released sooner, cancels it.
struct TrayHold {
  bool pending = false;
};
enum class TrayHoldStep { None, StartTimer, StopTimer, OpenController };
TrayHoldStep trayLeftButtonDown(TrayHold& hold);
TrayHoldStep trayLeftButtonUp(TrayHold& hold);
// The timer has fired (and is stopped).
TrayHoldStep trayHoldTimerFired(TrayHold& hold);

// The controller's top-left corner for a cursor at (x, y): 80 pixels left
// of and 33 above it, kept on the screen's top-left corner, and moved in as
// far as it takes to show whole on the screen (width by height at screenX,
// screenY): by a tray at the screen's right edge it would hang off it.
struct TrayPoint {
  int32_t x = 0, y = 0;
};
struct TrayScreen {
  int32_t x = 0, y = 0, width = 0, height = 0;
};
TrayPoint miniControllerPlace(int32_t cursorX, int32_t cursorY, int32_t width, int32_t height,
                              const TrayScreen& screen);

// --- The About sheet ---
constexpr const char* kAboutSheetTitle = "About KUV...";
constexpr const char* kAboutPageTitle = "About Page";
constexpr const char* kLinksPageTitle = "Cool Links";
constexpr const char* kBrowseToLabel = "Browse To";
extern const char* const kCreditsText;
extern const char* const kLinksIntro;
struct LinkEntry {
  const char* title;
  const char* address;
};
constexpr int32_t kLinkCount = 9;
extern const LinkEntry kLinkTable[kLinkCount];
constexpr int32_t kBrowseFieldCharacters = 1023;

// What "Browse To" opens for the field's text: at most 1023 characters of
// it; nothing ("") when it holds 2 characters or fewer.
std::string browseTarget(std::string_view fieldText);

}  // namespace kuv
