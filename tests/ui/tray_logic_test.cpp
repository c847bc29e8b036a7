// The tray's picture, tip and hold, the controller's place, and what
// "Browse To" opens.
#include "ui/tray_logic.h"

#include <gtest/gtest.h>

#include <string>

namespace kuv {
namespace {

TEST(TrayIcon, StepsAndTipsFollowThePercentage) {
  const struct {
    const char* path;
    int32_t percent;
    int32_t step;
    const char* tip;
  } table[] = {
      {"", -1, 0, "Kuv -  - -01%"},  // before any progress
      {"/music/a.mp3", 0, 0, "Kuv - a.mp3 - 000%"},
      {"/music/a.mp3", 9, 0, "Kuv - a.mp3 - 009%"},
      {"/music/a.mp3", 10, 1, "Kuv - a.mp3 - 010%"},
      {"/music/a.mp3", 95, 9, "Kuv - a.mp3 - 095%"},
      {"/music/a.mp3", 100, 10, "Kuv - a.mp3 - 100%"},
      {"/music/a.mp3", 250, 10, "Kuv - a.mp3 - 250%"},  // an estimated length that was too short
      {"http://radio.example/live", 0, 0, "Kuv - live - 000%"},
      // Cut at 63 characters, the percentage counted in.
      {"/m/Very Long Title Of A Live Recording In Some Hall Somewhere.mp3", 42, 4,
       "Kuv - Very Long Title Of A Live Recording In Some Hall Somewher"},
      {"/m/Long title with umlauts \xC3\xA4\xC3\xB6\xC3\xBC and more text to be cut.mp3", 1, 0,
       "Kuv - Long title with umlauts \xC3\xA4\xC3\xB6\xC3\xBC and more text to be cut.mp3 -"},
  };
  for (const auto& row : table) {
    EXPECT_EQ(trayIconStep(row.percent), row.step) << row.percent;
    EXPECT_EQ(trayTipText(row.path, row.percent), row.tip) << row.path;
  }
  // A stream's title, when known, names it whole (a '/' is no folder there).
  EXPECT_EQ(trayTipText("http://radio.example/live", 7, "AC/DC - Thunderstruck"), "Kuv - AC/DC - Thunderstruck - 007%");
  // Never cut within a character: 63 two-byte letters after the prefix.
  std::string wide = "/";
  for (int i = 0; i < 80; ++i) wide += "\xC3\xA9";
  const std::string tip = trayTipText(wide, 50);
  EXPECT_EQ(tip.size(), 6u + 2u * 57u);
  EXPECT_EQ(tip.substr(0, 6), "Kuv - ");
}

// A press held for the timer opens the controller; released sooner it is a
// click and does nothing; a release after the controller opened, or a
// timer that fires after the release, does nothing either.
TEST(TrayIcon, OnlyAHeldPressOpensTheController) {
  TrayHold hold;
  EXPECT_EQ(trayLeftButtonDown(hold), TrayHoldStep::StartTimer);
  EXPECT_EQ(trayLeftButtonUp(hold), TrayHoldStep::StopTimer);
  EXPECT_EQ(trayHoldTimerFired(hold), TrayHoldStep::None) << "a click opened the controller";

  EXPECT_EQ(trayLeftButtonDown(hold), TrayHoldStep::StartTimer);
  EXPECT_EQ(trayHoldTimerFired(hold), TrayHoldStep::OpenController);
  EXPECT_EQ(trayLeftButtonUp(hold), TrayHoldStep::None);
  EXPECT_EQ(trayHoldTimerFired(hold), TrayHoldStep::None) << "opened twice for one hold";

  // A 200 x 40 controller on an 800 x 600 screen.
  const TrayScreen screen{0, 0, 800, 600};
  const struct {
    int32_t x, y, left, top;
  } places[] = {
      {500, 400, 420, 367}, {10, 400, 0, 367},    {500, 5, 420, 0},
      {80, 33, 0, 0},       {790, 590, 600, 557},  // by a tray in the bottom right corner: whole on the screen
      {790, 20, 600, 0},
  };
  for (const auto& p : places) {
    const TrayPoint at = miniControllerPlace(p.x, p.y, 200, 40, screen);
    EXPECT_EQ(at.x, p.left) << p.x;
    EXPECT_EQ(at.y, p.top) << p.y;
  }
  // With no screen known, the place as it stands.
  EXPECT_EQ(miniControllerPlace(790, 590, 200, 40, TrayScreen{}).x, 710);
}

TEST(AboutLinks, BrowseToOpensTextLongerThanTwoCharacters) {
  const std::string long1100(1100, 'a');
  const struct {
    std::string field;
    std::string opened;
  } table[] = {
      {"", ""},
      {"ab", ""},
      {"\xC3\xA4\xC3\xB6", ""},  // two characters, four bytes
      {"abc", "abc"},
      {"example.org", "example.org"},
      {long1100, std::string(1023, 'a')},
  };
  for (const auto& row : table) EXPECT_EQ(browseTarget(row.field), row.opened) << row.field.size();
  for (const LinkEntry& link : kLinkTable) {
    EXPECT_GT(std::string(link.title).size(), 0u);
    EXPECT_FALSE(browseTarget(link.address).empty()) << link.title;
  }
}

}  // namespace
}  // namespace kuv
