// The preferences pages' rules without a window: Cancel's restore sets, the
// Output System and Output Device choices, the priority texts, and the
// values shown at opening.
#include "ui/preferences_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "output/output_system.h"
#include "support/test_support.h"

namespace kuv {
namespace {

// Three cards, two of them with the same name.
bool threeCards(int32_t device, std::string* name) {
  static const char* const kNames[] = {"USB Audio", "HDA Intel", "USB Audio"};
  if (device < 0 || device > 2) return false;
  *name = kNames[device];
  return true;
}

TEST(PreferencesLogic, ResetRestoresEachPagesOwnFieldsOnly) {
  Settings snapshot{};
  Settings now{};
  // Every field differs from the snapshot; a reset brings back its own set.
  std::memset(&now, 0, sizeof now);
  snapshot.MinimizeLocation = snapshot.TimeMode = snapshot.MultipleInstances = snapshot.AlwaysOnTop = 1;
  snapshot.AutoPlayOnOpen = snapshot.ShowSplashScreen = snapshot.EasyMove = 1;
  snapshot.ReadFileInfo = snapshot.AddOnDragAndDrop = 1;
  snapshot.DownSample = 2;
  snapshot.DecoderPriority = 4;
  snapshot.AudioOutputSystem = 1;
  snapshot.Channels = 3;
  snapshot.MappingMode = 3;
  snapshot.DownloadOption = 1;
  std::strcpy(snapshot.InternetDLDir, "/music/incoming");
  snapshot.LEDOverlay = 1;
  snapshot.LEDBrightness = 99;
  snapshot.LEDVisual = 5;

  const struct {
    const char* name;
    void (*reset)(const Settings&, Settings&);
    std::vector<int32_t Settings::*> restored;
    std::vector<int32_t Settings::*> kept;
  } cases[] = {
      {"General",
       resetGeneral,
       {&Settings::MinimizeLocation, &Settings::TimeMode, &Settings::MultipleInstances, &Settings::AlwaysOnTop,
        &Settings::AutoPlayOnOpen, &Settings::ShowSplashScreen, &Settings::EasyMove},
       {&Settings::ReadFileInfo, &Settings::AddOnDragAndDrop}},
      {"Decoder",
       resetDecoder,
       {&Settings::DownSample, &Settings::DecoderPriority, &Settings::AudioOutputSystem},
       {&Settings::Channels, &Settings::MappingMode}},
      {"Streaming", resetStreaming, {&Settings::DownloadOption}, {}},
      {"LED Options", resetLed, {&Settings::LEDOverlay, &Settings::LEDBrightness}, {&Settings::LEDVisual}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Settings s = now;
    c.reset(snapshot, s);
    for (auto field : c.restored) EXPECT_EQ(s.*field, snapshot.*field);
    for (auto field : c.kept) EXPECT_EQ(s.*field, now.*field);
  }
  Settings s = now;
  resetStreaming(snapshot, s);
  EXPECT_STREQ(s.InternetDLDir, "/music/incoming");
}

TEST(PreferencesLogic, ChoicesMapToTheirValues) {
  EXPECT_EQ(outputSystemNames(), (std::vector<std::string>{".wav file", "Output Plugin", "Windows Media"}));
  const struct {
    int32_t value;
    const char* shown;
    int32_t stored;  // what choosing the shown name stores
  } systems[] = {{0, "Windows Media", 0}, {1, ".wav file", 1}, {2, "Output Plugin", 2}, {7, "", 0}};
  for (const auto& c : systems) {
    EXPECT_EQ(outputSystemNameFor(c.value), c.shown);
    EXPECT_EQ(outputSystemValueFor(c.shown), c.stored);
  }

  EXPECT_EQ(outputDeviceNames(threeCards, 64),
            (std::vector<std::string>{"HDA Intel", "USB Audio", "USB Audio", "Wave Mapper"}));
  const struct {
    const char* name;
    std::string chosen;
    int32_t current;
    int32_t stored;
  } devices[] = {
      {"the first device of that name", "USB Audio", 1, 0},
      {"another device", "HDA Intel", -1, 1},
      {"the default device", "Wave Mapper", 2, -1},
      {"a name no device has keeps the value", "Gone", 2, 2},
  };
  for (const auto& c : devices) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outputDeviceFor(threeCards, 64, c.chosen, c.current), c.stored);
  }
  EXPECT_EQ(outputDeviceShown(threeCards, 64, -1), "Wave Mapper");
  EXPECT_EQ(outputDeviceShown(threeCards, 64, 1), "HDA Intel");
  EXPECT_EQ(outputDeviceShown(threeCards, 64, 9), "");
  EXPECT_EQ(outputDeviceNames(threeCards, 1), (std::vector<std::string>{"USB Audio", "Wave Mapper"}));

  EXPECT_STREQ(priorityText(0), "Lowest Priority");
  EXPECT_STREQ(priorityText(5), "RealTime Priority");
  EXPECT_EQ(priorityText(6), nullptr);
  EXPECT_EQ(priorityText(-1), nullptr);
  for (const auto& [mode, button] : std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {3, 3}, {0, 4}, {9, 4}})
    EXPECT_EQ(mappingButtonFor(mode), button);
}

TEST(PreferencesLogic, PagesOpenOnTheNearestValidPositionAndApplyStoresThem) {
  Settings s{};
  s.Channels = 2;
  s.DownSample = 7;
  s.DecoderPriority = -3;
  s.LEDVisual = 0;
  s.LEDBrightness = 500;
  DecoderMemory memory;
  const DecoderControls decoder = decoderAtOpen(s, memory);
  EXPECT_EQ(decoder.output, 3) << "Mono";
  EXPECT_EQ(decoder.quality, 2);
  EXPECT_EQ(decoder.priority, 0);
  EXPECT_FALSE(decoderSliderMarksChanged(memory, s));
  s.DecoderPriority = 1;
  EXPECT_TRUE(decoderSliderMarksChanged(memory, s));
  applyDecoder(decoder, s, memory);
  EXPECT_EQ(s.Channels, 2);
  EXPECT_FALSE(decoderSliderMarksChanged(memory, s)) << "Apply moves the remembered values";

  const LedControls led = ledAtOpen(s);
  EXPECT_EQ(led.visual, 1);
  EXPECT_EQ(led.brightness, 127);
  applyLed(led, s);
  EXPECT_EQ(s.LEDVisual, 1);

  StreamingControls streaming;
  streaming.folder = std::string(400, 'd');
  applyStreaming(streaming, s);
  EXPECT_EQ(std::strlen(s.InternetDLDir), kSettingsStringBytes - 1) << "cut to 259 characters";
}

}  // namespace
}  // namespace kuv
