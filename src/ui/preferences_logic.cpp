#include "ui/preferences_logic.h"

#include <algorithm>

#include "output/output_system.h"

namespace kuv {

const char* const kPageTitles[kPageCount] = {"General", "Decoder", "Audio Output", "Streaming", "LED Options"};

namespace {

// Fields other threads read are written through the shared accessors.
void store(int32_t& field, int32_t value) { setSharedSetting(field, value); }
void restore(int32_t& field, const int32_t& from) { setSharedSetting(field, sharedSetting(from)); }
int32_t flag(bool on) { return on ? 1 : 0; }

}  // namespace

// --- General --------------------------------------------------------------------------------

GeneralControls generalAtOpen(const Settings& s) {
  GeneralControls c;
  c.minimizeLocation = std::clamp(s.MinimizeLocation, 0, 1);
  c.timeMode = std::clamp(s.TimeMode, 0, 1);
  c.readFileInfo = s.ReadFileInfo != 0;
  c.multipleInstances = s.MultipleInstances != 0;
  c.autoPlayOnOpen = s.AutoPlayOnOpen != 0;
  c.showSplashScreen = s.ShowSplashScreen != 0;
  c.easyMove = s.EasyMove != 0;
  c.addOnDragAndDrop = s.AddOnDragAndDrop != 0;
  return c;
}

void applyGeneral(const GeneralControls& c, Settings& s) {
  store(s.MinimizeLocation, c.minimizeLocation);
  store(s.TimeMode, c.timeMode);
  store(s.ReadFileInfo, flag(c.readFileInfo));
  store(s.MultipleInstances, flag(c.multipleInstances));
  store(s.AutoPlayOnOpen, flag(c.autoPlayOnOpen));
  store(s.ShowSplashScreen, flag(c.showSplashScreen));
  store(s.EasyMove, flag(c.easyMove));
  store(s.AddOnDragAndDrop, flag(c.addOnDragAndDrop));
}

void resetGeneral(const Settings& snapshot, Settings& s) {
  restore(s.MinimizeLocation, snapshot.MinimizeLocation);
  restore(s.TimeMode, snapshot.TimeMode);
  restore(s.MultipleInstances, snapshot.MultipleInstances);
  restore(s.AlwaysOnTop, snapshot.AlwaysOnTop);
  restore(s.AutoPlayOnOpen, snapshot.AutoPlayOnOpen);
  restore(s.ShowSplashScreen, snapshot.ShowSplashScreen);
  restore(s.EasyMove, snapshot.EasyMove);
}

// --- Decoder --------------------------------------------------------------------------------

DecoderControls decoderAtOpen(const Settings& s, DecoderMemory& memory) {
  DecoderControls c;
  c.quality = std::clamp(s.DownSample, 0, 2);
  c.output = std::clamp(s.Channels + 1, 0, 3);
  c.priority = std::clamp(s.DecoderPriority, 0, 5);
  memory.downSample = s.DownSample;
  memory.priority = s.DecoderPriority;
  return c;
}

bool decoderSliderMarksChanged(const DecoderMemory& memory, const Settings& s) {
  return s.DownSample != memory.downSample || s.DecoderPriority != memory.priority;
}

void applyDecoder(const DecoderControls& c, Settings& s, DecoderMemory& memory) {
  store(s.DownSample, c.quality);
  store(s.DecoderPriority, c.priority);
  store(s.Channels, c.output - 1);
  memory.downSample = c.quality;
  memory.priority = c.priority;
}

void resetDecoder(const Settings& snapshot, Settings& s) {
  restore(s.DownSample, snapshot.DownSample);
  restore(s.DecoderPriority, snapshot.DecoderPriority);
  restore(s.AudioOutputSystem, snapshot.AudioOutputSystem);
}

const char* priorityText(int32_t priority) {
  static const char* const kTexts[] = {"Lowest Priority", "Below Normal",     "Normal Priority",
                                       "Above Normal",    "Highest Priority", "RealTime Priority"};
  return priority >= 0 && priority <= 5 ? kTexts[priority] : nullptr;
}

int32_t mappingButtonFor(int32_t mappingMode) { return mappingMode >= 1 && mappingMode <= 3 ? mappingMode : 4; }

std::vector<std::string> outputSystemNames() {
  std::vector<std::string> names = {".wav file", "Windows Media", "Output Plugin"};
  std::sort(names.begin(), names.end());
  return names;
}

std::string outputSystemNameFor(int32_t value) {
  if (value == kWaveFileOutput) return ".wav file";
  if (value == kPluginOutput) return "Output Plugin";
  if (value == kSoundDeviceOutput) return "Windows Media";
  return std::string();
}

int32_t outputSystemValueFor(const std::string& name) {
  if (name == ".wav file") return kWaveFileOutput;
  if (name == "Output Plugin") return kPluginOutput;
  return kSoundDeviceOutput;
}

PluginList pluginList(const std::string& outputPluginName) {
  PluginList list;
  const int32_t count = outputPluginCount();
  if (count < 1) {
    list.lines.push_back(kNoPluginsLine);
    return list;
  }
  list.enabled = true;
  for (int32_t i = 0; i < count; ++i) {
    list.lines.push_back(outputPluginDescription(i));
    list.fileNames.push_back(outputPluginFileName(i));
    if (list.selected < 0 && list.fileNames.back() == outputPluginName) list.selected = i;
  }
  return list;
}

// --- Audio Output ---------------------------------------------------------------------------

AudioControls audioAtOpen(const Settings& s) {
  return {s.AudioOutput8Bit != 0, s.AudioBypassACM != 0, s.AudioAllowSyncDev != 0};
}

void applyAudio(const AudioControls& c, Settings& s) {
  store(s.AudioOutput8Bit, flag(c.eightBit));
  store(s.AudioBypassACM, flag(c.bypassAcm));
  store(s.AudioAllowSyncDev, flag(c.allowSyncDev));
}

std::vector<std::string> outputDeviceNames(DeviceNameFn name, int32_t limit) {
  std::vector<std::string> names;
  std::string text;
  for (int32_t device = 0; device < limit && name(device, &text); ++device) names.push_back(text);
  names.push_back(kWaveMapperName);
  std::sort(names.begin(), names.end());
  return names;
}

std::string outputDeviceShown(DeviceNameFn name, int32_t limit, int32_t device) {
  if (device == -1) return kWaveMapperName;
  std::string text;
  if (device < 0 || device >= limit || !name(device, &text)) return std::string();
  return text;
}

int32_t outputDeviceFor(DeviceNameFn name, int32_t limit, const std::string& chosen, int32_t current) {
  std::string text;
  for (int32_t device = 0; device < limit && name(device, &text); ++device) {
    if (text == chosen) return device;
  }
  if (chosen == kWaveMapperName) return -1;
  return current;
}

// --- Streaming ------------------------------------------------------------------------------

StreamingControls streamingAtOpen(const Settings& s) {
  return {s.DownloadOption != 0 ? 1 : 0, sharedSettingText(s.InternetDLDir)};
}

void applyStreaming(const StreamingControls& c, Settings& s) {
  setSharedSettingText(s.InternetDLDir, c.folder.substr(0, kSettingsStringBytes - 1));
}

void resetStreaming(const Settings& snapshot, Settings& s) {
  setSharedSettingText(s.InternetDLDir, sharedSettingText(snapshot.InternetDLDir));
  restore(s.DownloadOption, snapshot.DownloadOption);
}

// --- LED Options ----------------------------------------------------------------------------

LedControls ledAtOpen(const Settings& s) {
  return {s.LEDOverlay != 0, std::clamp(s.LEDBrightness, 0, 127), std::clamp(s.LEDVisual, 1, 5)};
}

void applyLed(const LedControls& c, Settings& s) {
  store(s.LEDOverlay, flag(c.overlay));
  store(s.LEDBrightness, c.brightness);
  store(s.LEDVisual, c.visual);
}

void resetLed(const Settings& snapshot, Settings& s) {
  restore(s.LEDOverlay, snapshot.LEDOverlay);
  restore(s.LEDBrightness, snapshot.LEDBrightness);
}

}  // namespace kuv
