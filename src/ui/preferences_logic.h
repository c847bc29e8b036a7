// The preferences sheet's rules without a window: what each page shows when
// it opens, what Apply stores and Cancel restores, when a change enables
// Apply, and the texts and lists its controls carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"

namespace kuv {

constexpr const char* kPreferencesTitle = "KUV Preferences";
enum PreferencesPage : int32_t { kGeneralPage, kDecoderPage, kAudioPage, kStreamingPage, kLedPage, kPageCount };
extern const char* const kPageTitles[kPageCount];
constexpr const char* kPluginChosenTitle = "You selected plugin...";
constexpr const char* kNoPluginsLine = "[NONE]";
constexpr const char* kWaveMapperName = "Wave Mapper";
constexpr const char* kDownloadFolderTitle = "Please Select a directory for downloads...";

// --- General ---
struct GeneralControls {
  int32_t minimizeLocation = 0;  // slider 0 taskbar, 1 systray
  int32_t timeMode = 0;          // slider 0 elapsed, 1 remaining
  bool readFileInfo = false;
  bool multipleInstances = false;
  bool autoPlayOnOpen = false;  // shown, disabled
  bool showSplashScreen = false;
  bool easyMove = false;
  bool addOnDragAndDrop = false;
};
GeneralControls generalAtOpen(const Settings& s);
void applyGeneral(const GeneralControls& c, Settings& s);
// ReadFileInfo and AddOnDragAndDrop keep what the last Apply stored.
void resetGeneral(const Settings& snapshot, Settings& s);

// --- Decoder ---
struct DecoderControls {
  int32_t quality = 0;   // DownSample
  int32_t output = 0;    // Channels + 1
  int32_t priority = 0;  // DecoderPriority
};
// The page's memory: the values at opening or at the last Apply.
struct DecoderMemory {
  int32_t downSample = 0;
  int32_t priority = 0;
  std::string selectedPlugin;
};
DecoderControls decoderAtOpen(const Settings& s, DecoderMemory& memory);
// A horizontal slider moved (DownSample and DecoderPriority already stored
// at once): true when it marks the sheet changed.
bool decoderSliderMarksChanged(const DecoderMemory& memory, const Settings& s);
void applyDecoder(const DecoderControls& c, Settings& s, DecoderMemory& memory);
// Channels and MappingMode keep their values.
void resetDecoder(const Settings& snapshot, Settings& s);
// "Lowest Priority" .. "RealTime Priority"; nullptr for another value (the
// text stays as it was).
const char* priorityText(int32_t priority);
// The "Mapping Mode" button (1..4) that shows a value.
int32_t mappingButtonFor(int32_t mappingMode);
// The Output System combo: its sorted names, the one that shows a value and
// the value a chosen name stores.
std::vector<std::string> outputSystemNames();
std::string outputSystemNameFor(int32_t audioOutputSystem);
int32_t outputSystemValueFor(const std::string& name);
// The Output Plugins list: one line per plug-in, the line of OutputPluginName
// selected (-1 when none); "[NONE]" and disabled without plug-ins.
struct PluginList {
  std::vector<std::string> lines;
  std::vector<std::string> fileNames;  // by line
  int32_t selected = -1;
  bool enabled = false;
};
PluginList pluginList(const std::string& outputPluginName);

// --- Audio Output ---
struct AudioControls {
  bool eightBit = false;
  bool bypassAcm = false;
  bool allowSyncDev = false;
};
AudioControls audioAtOpen(const Settings& s);
void applyAudio(const AudioControls& c, Settings& s);
// The Output Device combo: the names of devices 0, 1, ... (until the first
// that has none, at most `limit`) and "Wave Mapper", sorted.
using DeviceNameFn = bool (*)(int32_t device, std::string* name);
std::vector<std::string> outputDeviceNames(DeviceNameFn name, int32_t limit);
// The entry that shows WinMMOutputDev ("Wave Mapper" for -1; "" when no
// device has that number).
std::string outputDeviceShown(DeviceNameFn name, int32_t limit, int32_t device);
// The number a chosen entry stores: the first device in number order with
// that name, -1 for "Wave Mapper", else `current` unchanged.
int32_t outputDeviceFor(DeviceNameFn name, int32_t limit, const std::string& chosen, int32_t current);

// --- Streaming ---
struct StreamingControls {
  int32_t downloadOption = 0;  // 0 play only, 1 play and save
  std::string folder;
};
StreamingControls streamingAtOpen(const Settings& s);
void applyStreaming(const StreamingControls& c, Settings& s);
void resetStreaming(const Settings& snapshot, Settings& s);

// --- LED Options ---
struct LedControls {
  bool overlay = false;
  int32_t brightness = 0;  // 0..127
  int32_t visual = 1;      // 1..5
};
LedControls ledAtOpen(const Settings& s);
void applyLed(const LedControls& c, Settings& s);
// LEDVisual keeps what the last Apply stored.
void resetLed(const Settings& snapshot, Settings& s);

}  // namespace kuv
