#include "config/settings.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ini_file.h"
#include "platform/paths.h"

namespace kuv {

Settings settings{};
Settings SettingsSnapshot{};
std::string settingsFilePath;
std::string programFolder;

namespace {

constexpr const char* kSection = "kuv";

enum class Kind { Int, UInt, Text };
enum class TextDefault { Literal, ProgramFolder, DownloadFolder, PreviousFolder };

using NumberField = int32_t Settings::*;
using TextField = char (Settings::*)[kSettingsStringBytes];

// One key of kuv.ini and the field it fills. A number outside [low, high]
// takes the default when loaded: consumers index tables with some of them,
// and a hand-edited or damaged file must not reach past those.
struct KeyInfo {
  const char* name;  // nullptr for an equalizer band: "EqBand%d"
  Kind kind;
  NumberField number;
  int band;  // >= 0: element of EqBand
  TextField text;
  int32_t numberDefault;
  TextDefault textDefault;
  const char* literal;
  int32_t low;
  int32_t high;
  bool flag;  // 0 off, any other value on: loaded as exactly 0 or 1
};

// Windows sit within what an X screen can address (16-bit coordinates).
constexpr int32_t kScreenLow = -32768;
constexpr int32_t kScreenHigh = 32767;
// Device numbers past any real machine's count; -1 is the default device.
constexpr int32_t kMaxSoundDevice = 255;
// Equaliser gains in thousandths: silence up to ten times (+20 dB); more
// would only clip.
constexpr int32_t kMaxEqGain = 10000;

constexpr KeyInfo number(const char* name, NumberField field, int32_t def, int32_t low, int32_t high) {
  return {name, Kind::Int, field, -1, nullptr, def, TextDefault::Literal, "", low, high, false};
}
constexpr KeyInfo flag(const char* name, NumberField field, int32_t def) {
  return {name, Kind::Int, field, -1, nullptr, def, TextDefault::Literal, "", 0, 1, true};
}
// Stored with "%u": -1 sits in the file as 4294967295.
constexpr KeyInfo unsignedNumber(const char* name, NumberField field, int32_t def, int32_t low, int32_t high) {
  return {name, Kind::UInt, field, -1, nullptr, def, TextDefault::Literal, "", low, high, false};
}
constexpr KeyInfo band(int n) {
  return {nullptr, Kind::Int, nullptr, n, nullptr, 1000, TextDefault::Literal, "", 0, kMaxEqGain, false};
}
constexpr KeyInfo text(const char* name, TextField field, TextDefault def, const char* literal = "") {
  return {name, Kind::Text, nullptr, -1, field, 0, def, literal, 0, 0, false};
}

// Read and write order; a new file lists the keys this way.
constexpr KeyInfo kKeys[] = {
    number("AudioOutputSystem", &Settings::AudioOutputSystem, 0, 0, 2),
    flag("AudioOutput8Bit", &Settings::AudioOutput8Bit, 0),
    flag("AudioBypassACM", &Settings::AudioBypassACM, 0),
    flag("AudioAllowSyncDev", &Settings::AudioAllowSyncDev, 0),
    number("WinMMCallback", &Settings::WinMMCallback, 0, 0, 1),
    unsignedNumber("WinMMOutputDev", &Settings::WinMMOutputDev, -1, -1, kMaxSoundDevice),
    number("EqVolume", &Settings::EqVolume, 32, 0, 63),
    flag("EqActive", &Settings::EqActive, 0),
    band(0),
    band(1),
    band(2),
    band(3),
    band(4),
    band(5),
    band(6),
    band(7),
    band(8),
    band(9),
    band(10),
    band(11),
    band(12),
    band(13),
    band(14),
    number("DownSample", &Settings::DownSample, 0, 0, 2),
    number("Channels", &Settings::Channels, -1, -1, 3),
    number("DecoderPriority", &Settings::DecoderPriority, 3, 0, 5),
    number("MappingMode", &Settings::MappingMode, 2, 1, 4),
    flag("ShufflePlay", &Settings::ShufflePlay, 0),
    number("RepeatPlay", &Settings::RepeatPlay, 0, 0, 2),
    flag("AutoPlayOnOpen", &Settings::AutoPlayOnOpen, 1),
    flag("MultipleInstances", &Settings::MultipleInstances, 0),
    number("DownloadOption", &Settings::DownloadOption, 0, 0, 1),
    text("InternetDLDir", &Settings::InternetDLDir, TextDefault::DownloadFolder),
    flag("DownloadPlayAfterSave", &Settings::DownloadPlayAfterSave, 0),
    text("PreviousDir", &Settings::PreviousDir, TextDefault::PreviousFolder),
    flag("ShowSplashScreen", &Settings::ShowSplashScreen, 1),
    flag("ReadFileInfo", &Settings::ReadFileInfo, 1),
    flag("AddOnDragAndDrop", &Settings::AddOnDragAndDrop, 0),
    number("TimeMode", &Settings::TimeMode, 0, 0, 1),
    text("OutputPluginDir", &Settings::OutputPluginDir, TextDefault::ProgramFolder),
    text("OutputPluginName", &Settings::OutputPluginName, TextDefault::Literal, "default.kos"),
    flag("LEDOverlay", &Settings::LEDOverlay, 1),
    number("LEDBrightness", &Settings::LEDBrightness, 127, 0, 127),
    number("LEDVisual", &Settings::LEDVisual, 0, 0, 5),
    number("MinimizeLocation", &Settings::MinimizeLocation, 0, 0, 1),
    flag("StartupExpanded", &Settings::StartupExpanded, 0),
    flag("WinShade", &Settings::WinShade, 0),
    flag("AlwaysOnTop", &Settings::AlwaysOnTop, 0),
    flag("EasyMove", &Settings::EasyMove, 0),
    number("PlaylistX", &Settings::PlaylistX, 100, kScreenLow, kScreenHigh),
    number("PlaylistY", &Settings::PlaylistY, 100, kScreenLow, kScreenHigh),
    number("PlaylistW", &Settings::PlaylistW, 150, 1, kScreenHigh),
    number("PlaylistH", &Settings::PlaylistH, 150, 1, kScreenHigh),
    number("WindowX", &Settings::WindowX, 100, kScreenLow, kScreenHigh),
    number("WindowY", &Settings::WindowY, 100, kScreenLow, kScreenHigh),
    flag("Gapless", &Settings::Gapless, 1),
    number("ReplayGain", &Settings::ReplayGain, 0, 0, 3),
    number("ReplayGainPreamp", &Settings::ReplayGainPreamp, 0, -15, 15),
};

// Every default lies in its own range.
constexpr bool defaultsInRange() {
  for (const KeyInfo& key : kKeys)
    if (key.kind != Kind::Text && (key.numberDefault < key.low || key.numberDefault > key.high)) return false;
  return true;
}
static_assert(defaultsInRange());

// A field added to Settings without a key here trips this.
constexpr size_t kTextKeys = 4;
static_assert(sizeof(Settings) == (std::size(kKeys) - kTextKeys - kEqBands) * sizeof(int32_t) +
                                      sizeof(Settings::EqBand) + kTextKeys * kSettingsStringBytes,
              "every Settings field but EqBand[15] has one key");

std::string keyName(const KeyInfo& key) {
  if (key.name) return key.name;
  char name[32];
  std::snprintf(name, sizeof name, "EqBand%d", key.band);
  return name;
}

int32_t& numberIn(Settings& s, const KeyInfo& key) { return key.band >= 0 ? s.EqBand[key.band] : s.*key.number; }
int32_t numberIn(const Settings& s, const KeyInfo& key) { return key.band >= 0 ? s.EqBand[key.band] : s.*key.number; }

int32_t inRange(const KeyInfo& key, int32_t value) {
  if (key.flag) return value != 0 ? 1 : 0;
  return value < key.low || value > key.high ? key.numberDefault : value;
}

}  // namespace

void setSettingsString(char (&field)[kSettingsStringBytes], const std::string& value) {
  size_t n = value.size() < kSettingsStringBytes - 1 ? value.size() : kSettingsStringBytes - 1;
  std::memcpy(field, value.data(), n);
  // Clearing the tail after the copy means a reader on another thread never
  // sees an emptied buffer mid-update.
  std::memset(field + n, 0, kSettingsStringBytes - n);
}

namespace {
std::mutex settingsTextLock;
}  // namespace

std::string sharedSettingText(const char (&field)[kSettingsStringBytes]) {
  std::lock_guard<std::mutex> guard(settingsTextLock);
  return std::string(field, strnlen(field, kSettingsStringBytes));
}

void setSharedSettingText(char (&field)[kSettingsStringBytes], const std::string& value) {
  std::lock_guard<std::mutex> guard(settingsTextLock);
  setSettingsString(field, value);
}

std::string chooseSettingsFile(const std::string& exeFolder) {
  if (!exeFolder.empty()) {
    std::string beside = exeFolder + "kuv.ini";
    struct stat st;
    if (stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return beside;
  }
  return platform::configHome() + "/kuv/kuv.ini";
}

std::string defaultDownloadFolder(const std::string& exeFolder) {
  return platform::defaultFolder(platform::UserFolderKind::Download, platform::folderFacts(exeFolder));
}

std::string defaultPreviousFolder(const std::string& exeFolder) {
  return platform::defaultFolder(platform::UserFolderKind::Music, platform::folderFacts(exeFolder));
}

bool loadSettingsFrom(Settings& into, const std::string& path, const std::string& exeFolder) {
  // One read of the file for all keys: a large file must not cost its size
  // once per key.
  std::vector<std::string> names;
  names.reserve(std::size(kKeys));
  for (const KeyInfo& key : kKeys) names.push_back(keyName(key));
  const std::vector<std::optional<std::string>> values = platform::getProfileStrings(kSection, names, path);
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    const KeyInfo& key = kKeys[i];
    const std::optional<std::string>& value = values[i];
    if (key.kind != Kind::Text) {
      const int32_t number = value ? platform::parseProfileInt(*value, key.numberDefault) : key.numberDefault;
      numberIn(into, key) = inRange(key, number);
      continue;
    }
    // Earlier runs of an installed program saved its own folder as these
    // defaults; outside portable use that folder is no place for either.
    const bool folderKey =
        key.textDefault == TextDefault::DownloadFolder || key.textDefault == TextDefault::PreviousFolder;
    const bool stale =
        value && folderKey && exeFolder.size() > 1 && *value == exeFolder && !platform::folderFacts(exeFolder).portable;
    if (value && !stale) {
      setSettingsString(into.*key.text, *value);
      continue;
    }
    std::string def;
    switch (key.textDefault) {
      case TextDefault::Literal:
        def = key.literal;
        break;
      case TextDefault::ProgramFolder:
        def = exeFolder;
        break;
      case TextDefault::DownloadFolder:
        def = defaultDownloadFolder(exeFolder);
        break;
      case TextDefault::PreviousFolder:
        def = defaultPreviousFolder(exeFolder);
        break;
    }
    setSettingsString(into.*key.text, def);
  }
  into.EqBand[kEqBands] = 0;
  return true;
}

bool saveSettingsTo(const Settings& from, const std::string& path) {
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(std::size(kKeys));
  for (const KeyInfo& key : kKeys) {
    char number[16];
    std::string value;
    switch (key.kind) {
      case Kind::Int:
        std::snprintf(number, sizeof number, "%d", numberIn(from, key));
        value = number;
        break;
      case Kind::UInt:
        std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(static_cast<uint32_t>(numberIn(from, key))));
        value = number;
        break;
      case Kind::Text: {
        const char* field = from.*key.text;
        value.assign(field, strnlen(field, kSettingsStringBytes - 1));
        break;
      }
    }
    pairs.emplace_back(keyName(key), std::move(value));
  }
  // One rewrite of the file for all keys (each a rewrite and a sync would
  // make closing the window wait on the disk); same result in the file. A
  // read-only file is left as it was.
  (void)platform::writeProfileStrings(kSection, pairs, path);
  return true;
}

bool loadSettings() {
  programFolder = platform::programFolder();
  settingsFilePath = chooseSettingsFile(programFolder);
  // The per-user folder must exist before the first save can create the file.
  if (settingsFilePath != programFolder + "kuv.ini") platform::makeFolders(platform::folderOf(settingsFilePath));
  return loadSettingsFrom(settings, settingsFilePath, programFolder);
}

bool saveSettings() { return saveSettingsTo(settings, settingsFilePath); }

}  // namespace kuv
