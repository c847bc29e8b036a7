#include "ui/tray_logic.h"

#include <algorithm>
#include <cstdio>

#include "platform/paths.h"

// Where cmake --install puts the guide.
#ifndef KUV_DOC_DIR
#define KUV_DOC_DIR "/usr/local/share/doc/kuv"
#endif

namespace kuv {

namespace {

// The bytes of at most `characters` UTF-8 characters from the start; a
// stray byte counts as one.
size_t utf8Prefix(std::string_view text, size_t characters) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (count == characters) return i;
    ++count;
  }
  return text.size();
}

}  // namespace

int32_t trayIconStep(int32_t percent) { return std::clamp(percent / 10, 0, kTrayIconSteps - 1); }

std::string trayTipText(std::string_view currentPath, int32_t percent, std::string_view streamTitle) {
  char number[16];
  std::snprintf(number, sizeof number, "%03d", percent);
  std::string tip = "Kuv - ";
  tip += streamTitle.empty() ? platform::lastPathComponent(currentPath) : streamTitle;
  tip += " - ";
  tip += number;
  tip += '%';
  tip.resize(utf8Prefix(tip, kTrayTipCharacters));
  return tip;
}

TrayHoldStep trayLeftButtonDown(TrayHold& hold) {
  hold.pending = true;
  return TrayHoldStep::StartTimer;
}

TrayHoldStep trayLeftButtonUp(TrayHold& hold) {
  if (!hold.pending) return TrayHoldStep::None;
  hold.pending = false;
  return TrayHoldStep::StopTimer;
}

TrayHoldStep trayHoldTimerFired(TrayHold& hold) {
  if (!hold.pending) return TrayHoldStep::None;
  hold.pending = false;
  return TrayHoldStep::OpenController;
}

TrayPoint miniControllerPlace(int32_t cursorX, int32_t cursorY, int32_t width, int32_t height,
                              const TrayScreen& screen) {
  TrayPoint at{std::max(0, cursorX - 80), std::max(0, cursorY - 33)};
  if (screen.width > 0 && screen.height > 0) {
    at.x = std::max(std::min(at.x, screen.x + screen.width - width), screen.x);
    at.y = std::max(std::min(at.y, screen.y + screen.height - height), screen.y);
  }
  return at;
}

const char* const kCreditsText =
    "KUV 0.94\n"
    "\n"
    "A small, fast MPEG audio player: MPEG-1, MPEG-2 and MPEG 2.5, "
    "Layers I, II and III, from files and from the Internet.\n"
    "\n"
    "Written by the KUV developers.\n"
    "Decoder, skin, LED display and visualisations, playlist and "
    "preferences: the KUV team.\n"
    "\n"
    "MPEG audio is described in ISO/IEC 11172-3 and ISO/IEC 13818-3.\n"
    "\n"
    "Thanks to everyone who tried the player and told us what was wrong.";

const char* const kLinksIntro = "Some places on the web worth a visit:";

const LinkEntry kLinkTable[kLinkCount] = {
    {"KUV's guide", "file://" KUV_DOC_DIR "/README.md"},
    {"MPEG audio (ISO/IEC 11172-3)", "https://www.iso.org/standard/22412.html"},
    {"The story of MP3 (Fraunhofer IIS)", "https://www.iis.fraunhofer.de/en/ff/amm/consumer-electronics/mp3.html"},
    {"LAME MP3 encoder", "https://lame.sourceforge.io/"},
    {"Hydrogenaudio knowledge base", "https://wiki.hydrogenaud.io/"},
    {"ID3 tags", "https://id3.org/"},
    {"MusicBrainz", "https://musicbrainz.org/"},
    {"Internet radio stations (radio-browser)", "https://www.radio-browser.info/"},
    {"Free Music Archive", "https://freemusicarchive.org/"},
};

std::string browseTarget(std::string_view fieldText) {
  const std::string_view text = fieldText.substr(0, utf8Prefix(fieldText, kBrowseFieldCharacters));
  size_t characters = 0;
  for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return characters > 2 ? std::string(text) : std::string();
}

}  // namespace kuv
