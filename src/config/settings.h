// The player's settings: one record, one field per key of kuv.ini.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kuv {

constexpr int kEqBands = 15;
constexpr size_t kSettingsStringBytes = 260;

// Fields in declaration order. Strings are zero-terminated 260-byte buffers,
// as the INI file stores them (259 characters at most). Other threads read
// single fields without a lock; a torn read of a string is accepted.
struct Settings {
  int32_t AudioOutputSystem;
  int32_t AudioOutput8Bit;
  int32_t AudioBypassACM;
  int32_t AudioAllowSyncDev;
  int32_t WinMMCallback;
  int32_t WinMMOutputDev;
  int32_t EqActive;
  int32_t EqVolume;
  int32_t EqBand[16];  // 15 keys; the 16th element has none and stays 0
  int32_t DownSample;
  int32_t Channels;
  int32_t DecoderPriority;
  int32_t MappingMode;
  int32_t RepeatPlay;
  int32_t ShufflePlay;
  int32_t AutoPlayOnOpen;
  int32_t DownloadOption;
  char InternetDLDir[kSettingsStringBytes];
  int32_t DownloadPlayAfterSave;
  int32_t MultipleInstances;
  char PreviousDir[kSettingsStringBytes];
  int32_t ShowSplashScreen;
  int32_t ReadFileInfo;
  int32_t AddOnDragAndDrop;
  int32_t TimeMode;
  char OutputPluginDir[kSettingsStringBytes];
  char OutputPluginName[kSettingsStringBytes];
  int32_t LEDOverlay;
  int32_t LEDBrightness;
  int32_t LEDVisual;
  int32_t MinimizeLocation;
  int32_t StartupExpanded;
  int32_t WinShade;
  int32_t AlwaysOnTop;
  int32_t EasyMove;
  int32_t PlaylistX;
  int32_t PlaylistY;
  int32_t PlaylistW;
  int32_t PlaylistH;
  int32_t WindowX;
  int32_t WindowY;
  int32_t Gapless;           // trim the encoder's delay and padding
  int32_t ReplayGain;        // 0 off, 1 track, 2 album, 3 album when played in order
  int32_t ReplayGainPreamp;  // dB added to a stated gain, -15..15
};

// The process-wide settings and the copy the preferences sheet restores on
// Cancel.
extern Settings settings;
extern Settings SettingsSnapshot;

// The file in use: kuv.ini beside the executable when it exists there,
// otherwise $XDG_CONFIG_HOME/kuv/kuv.ini. Decided by loadSettings.
extern std::string settingsFilePath;
// The executable's folder with a trailing '/'.
extern std::string programFolder;

// Decides the file location for an executable in exeFolder (trailing '/'):
// exeFolder + "kuv.ini" if that file exists, else the per-user file.
std::string chooseSettingsFile(const std::string& exeFolder);

// Reads every key into `into` from `path` in one read of the file; missing
// keys, and numbers outside their key's range, take their defaults; a flag
// reads as exactly 0 or 1. The folder defaults come from exeFolder (see
// below). Returns true.
bool loadSettingsFrom(Settings& into, const std::string& path, const std::string& exeFolder);
// Writes every key from `from`, in table order, one profile write per key.
// Returns true (a read-only file makes the writes fail silently).
bool saveSettingsTo(const Settings& from, const std::string& path);

// Default of InternetDLDir / PreviousDir / OutputPluginDir for a program in
// exeFolder. OutputPluginDir is always the program folder; the other two are
// the program folder only in portable use (a kuv.ini beside the program),
// else the XDG download folder and the XDG music folder (platform::defaultFolder).
std::string defaultDownloadFolder(const std::string& exeFolder);
std::string defaultPreviousFolder(const std::string& exeFolder);

// The process-wide pair: locates the file beside the executable or in the
// user's configuration folder (creating that folder), fills `settings`.
bool loadSettings();
bool saveSettings();

// Numbers that cross threads (the user-interface thread writes them while the
// decoder, download, display or dial thread reads them) are loaded and stored
// through these on every side, never plainly: relaxed atomics, as cheap as a
// plain word. Texts that cross threads are copied under one lock.
inline int32_t sharedSetting(const int32_t& field) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(field)).load(std::memory_order_relaxed);
}
inline void setSharedSetting(int32_t& field, int32_t value) {
  std::atomic_ref<int32_t>(field).store(value, std::memory_order_relaxed);
}
std::string sharedSettingText(const char (&field)[kSettingsStringBytes]);
void setSharedSettingText(char (&field)[kSettingsStringBytes], const std::string& value);

// Copies a string into a settings buffer, cut to 259 characters.
void setSettingsString(char (&field)[kSettingsStringBytes], const std::string& value);

}  // namespace kuv
