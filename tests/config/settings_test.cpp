#include "config/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "platform/paths.h"
#include "support/decode_support.h"
#include "support/test_support.h"

namespace {

using kuv::Settings;
using kuv::test::EnvOverride;

// The keys in the order a new kuv.ini must list them.
// clang-format off
const std::vector<std::string> kExpectedKeyOrder = {
    "AudioOutputSystem", "AudioOutput8Bit", "AudioBypassACM", "AudioAllowSyncDev", "WinMMCallback",
    "WinMMOutputDev", "EqVolume", "EqActive", "EqBand0", "EqBand1", "EqBand2", "EqBand3", "EqBand4",
    "EqBand5", "EqBand6", "EqBand7", "EqBand8", "EqBand9", "EqBand10", "EqBand11", "EqBand12", "EqBand13",
    "EqBand14", "DownSample", "Channels", "DecoderPriority", "MappingMode", "ShufflePlay", "RepeatPlay",
    "AutoPlayOnOpen", "MultipleInstances", "DownloadOption", "InternetDLDir", "DownloadPlayAfterSave",
    "PreviousDir", "ShowSplashScreen", "ReadFileInfo", "AddOnDragAndDrop", "TimeMode", "OutputPluginDir",
    "OutputPluginName", "LEDOverlay", "LEDBrightness", "LEDVisual", "MinimizeLocation", "StartupExpanded",
    "WinShade", "AlwaysOnTop", "EasyMove", "PlaylistX", "PlaylistY", "PlaylistW", "PlaylistH", "WindowX",
    "WindowY", "Gapless", "ReplayGain", "ReplayGainPreamp"};
// clang-format on

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kuv::test::makeTempFolder();
    ASSERT_FALSE(dir_.empty());
    dir_ += "/";
    exe_ = dir_ + "bin/";
    std::filesystem::create_directories(exe_);
    path_ = dir_ + "kuv.ini";
  }
  void TearDown() override {
    if (dir_.empty()) return;
    chmod(exe_.c_str(), 0755);
    chmod(path_.c_str(), 0644);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  static void put(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static std::string get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(get(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Garbage in every byte, so a key the loader skips shows up.
  static Settings garbage() {
    Settings s;
    std::memset(&s, 0x5A, sizeof s);
    return s;
  }

  std::string dir_;
  std::string exe_;
  std::string path_;
};

TEST_F(SettingsTest, EveryKeyTakesItsDefaultWithoutAFile) {
  put(exe_ + "kuv.ini", "");  // portable: the folders default to the program's
  Settings s = garbage();
  ASSERT_TRUE(kuv::loadSettingsFrom(s, dir_ + "missing.ini", exe_));
  EXPECT_EQ(s.AudioOutputSystem, 0);
  EXPECT_EQ(s.AudioOutput8Bit, 0);
  EXPECT_EQ(s.AudioBypassACM, 0);
  EXPECT_EQ(s.AudioAllowSyncDev, 0);
  EXPECT_EQ(s.WinMMCallback, 0);
  EXPECT_EQ(s.WinMMOutputDev, -1);
  EXPECT_EQ(s.EqVolume, 32);
  EXPECT_EQ(s.EqActive, 0);
  for (int band = 0; band < kuv::kEqBands; ++band) EXPECT_EQ(s.EqBand[band], 1000) << "band " << band;
  EXPECT_EQ(s.EqBand[15], 0);
  EXPECT_EQ(s.DownSample, 0);
  EXPECT_EQ(s.Channels, -1);
  EXPECT_EQ(s.DecoderPriority, 3);
  EXPECT_EQ(s.MappingMode, 2);
  EXPECT_EQ(s.ShufflePlay, 0);
  EXPECT_EQ(s.RepeatPlay, 0);
  EXPECT_EQ(s.AutoPlayOnOpen, 1);
  EXPECT_EQ(s.MultipleInstances, 0);
  EXPECT_EQ(s.DownloadOption, 0);
  EXPECT_STREQ(s.InternetDLDir, exe_.c_str());
  EXPECT_EQ(s.DownloadPlayAfterSave, 0);
  EXPECT_STREQ(s.PreviousDir, exe_.c_str());
  EXPECT_EQ(s.ShowSplashScreen, 1);
  EXPECT_EQ(s.ReadFileInfo, 1);
  EXPECT_EQ(s.AddOnDragAndDrop, 0);
  EXPECT_EQ(s.TimeMode, 0);
  EXPECT_STREQ(s.OutputPluginDir, exe_.c_str());
  EXPECT_STREQ(s.OutputPluginName, "default.kos");
  EXPECT_EQ(s.LEDOverlay, 1);
  EXPECT_EQ(s.LEDBrightness, 127);
  EXPECT_EQ(s.LEDVisual, 0);
  EXPECT_EQ(s.MinimizeLocation, 0);
  EXPECT_EQ(s.StartupExpanded, 0);
  EXPECT_EQ(s.WinShade, 0);
  EXPECT_EQ(s.AlwaysOnTop, 0);
  EXPECT_EQ(s.EasyMove, 0);
  EXPECT_EQ(s.PlaylistX, 100);
  EXPECT_EQ(s.PlaylistY, 100);
  EXPECT_EQ(s.PlaylistW, 150);
  EXPECT_EQ(s.PlaylistH, 150);
  EXPECT_EQ(s.WindowX, 100);
  EXPECT_EQ(s.WindowY, 100);
  EXPECT_EQ(s.Gapless, 1);
  EXPECT_EQ(s.ReplayGain, 0);
  EXPECT_EQ(s.ReplayGainPreamp, 0);
}

TEST_F(SettingsTest, NonDefaultValuesSurviveARoundTrip) {
  // Every field gets a value in its range and off its default; the wide
  // ranges get values of their own, so two swapped keys would show.
  Settings out{};
  out.AudioOutputSystem = 2;
  out.AudioOutput8Bit = 1;
  out.AudioBypassACM = 1;
  out.AudioAllowSyncDev = 0;
  out.WinMMCallback = 1;
  out.WinMMOutputDev = 3;
  out.EqActive = 1;
  out.EqVolume = 63;
  for (int band = 0; band < kuv::kEqBands; ++band) out.EqBand[band] = 2000 + band * 37;
  out.DownSample = 2;
  out.Channels = 1;
  out.DecoderPriority = 5;
  out.MappingMode = 4;
  out.RepeatPlay = 2;
  out.ShufflePlay = 1;
  out.AutoPlayOnOpen = 0;
  out.DownloadOption = 1;
  out.DownloadPlayAfterSave = 1;
  out.MultipleInstances = 1;
  out.ShowSplashScreen = 0;
  out.ReadFileInfo = 0;
  out.AddOnDragAndDrop = 1;
  out.TimeMode = 1;
  out.LEDOverlay = 0;
  out.LEDBrightness = 4;
  out.LEDVisual = 5;
  out.MinimizeLocation = 1;
  out.StartupExpanded = 1;
  out.WinShade = 1;
  out.AlwaysOnTop = 1;
  out.EasyMove = 1;
  out.PlaylistX = -32768;
  out.PlaylistY = 32767;
  out.PlaylistW = 1;
  out.PlaylistH = 640;
  out.WindowX = -7;
  out.WindowY = 1201;
  out.Gapless = 0;
  out.ReplayGain = 3;
  out.ReplayGainPreamp = -12;
  kuv::setSettingsString(out.InternetDLDir, "/home/user/My Downloads/");
  kuv::setSettingsString(out.PreviousDir, "/music/=odd [name]/");
  kuv::setSettingsString(out.OutputPluginDir, "/opt/kuv/plugins/");
  kuv::setSettingsString(out.OutputPluginName, "pulse.kos");

  ASSERT_TRUE(kuv::saveSettingsTo(out, path_));
  Settings in = garbage();
  ASSERT_TRUE(kuv::loadSettingsFrom(in, path_, exe_));
  // No padding in Settings (int32 fields and 260-byte buffers), so bytes compare.
  static_assert(sizeof(Settings) % 4 == 0);
  EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0);
  EXPECT_EQ(in.PlaylistX, -32768);
  EXPECT_STREQ(in.PreviousDir, "/music/=odd [name]/");
}

TEST_F(SettingsTest, NewFileListsTheKeysInTableOrder) {
  Settings s{};
  kuv::loadSettingsFrom(s, path_, exe_);
  ASSERT_TRUE(kuv::saveSettingsTo(s, path_));
  std::vector<std::string> lines = linesOf(path_);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "[kuv]");
  std::vector<std::string> keys;
  for (size_t i = 1; i < lines.size(); ++i) keys.push_back(lines[i].substr(0, lines[i].find('=')));
  EXPECT_EQ(keys, kExpectedKeyOrder);
}

TEST_F(SettingsTest, OutputDeviceMinusOneIsStoredUnsigned) {
  Settings s{};
  kuv::loadSettingsFrom(s, path_, exe_);
  s.WinMMOutputDev = -1;
  s.Channels = -1;
  ASSERT_TRUE(kuv::saveSettingsTo(s, path_));
  std::vector<std::string> lines = linesOf(path_);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "WinMMOutputDev=4294967295"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Channels=-1"), lines.end());
  Settings back = garbage();
  kuv::loadSettingsFrom(back, path_, exe_);
  EXPECT_EQ(back.WinMMOutputDev, -1);
}

// What one key's text in the file loads as.
struct RangeCase {
  const char* key;
  const char* text;
  int32_t expected;
};

TEST_F(SettingsTest, NumbersOutsideTheirRangeLoadAsTheDefault) {
  const RangeCase cases[] = {
      // Table indexes in the decoder: the first crashed it, the others read
      // past the sample blocks.
      {"Channels", "2147483647", -1},
      {"Channels", "99", -1},
      {"Channels", "4", -1},
      {"Channels", "-2", -1},
      {"Channels", "-1", -1},
      {"Channels", "0", 0},
      {"Channels", "3", 3},
      {"DownSample", "3", 0},
      {"DownSample", "-1", 0},
      {"DownSample", "2", 2},
      {"EqVolume", "64", 32},
      {"EqVolume", "-3", 32},
      {"EqVolume", "0", 0},
      {"EqVolume", "63", 63},
      {"DecoderPriority", "6", 3},
      {"DecoderPriority", "-1", 3},
      {"DecoderPriority", "0", 0},
      {"DecoderPriority", "5", 5},
      {"MappingMode", "0", 2},
      {"MappingMode", "5", 2},
      {"MappingMode", "1", 1},
      {"MappingMode", "4", 4},
      {"RepeatPlay", "3", 0},
      {"RepeatPlay", "-1", 0},
      {"RepeatPlay", "2", 2},
      {"LEDVisual", "6", 0},
      {"LEDVisual", "-1", 0},
      {"LEDVisual", "5", 5},
      {"TimeMode", "2", 0},
      {"TimeMode", "1", 1},
      {"AudioOutputSystem", "3", 0},
      {"AudioOutputSystem", "-1", 0},
      {"AudioOutputSystem", "2", 2},
      {"WinMMCallback", "2", 0},
      {"WinMMCallback", "1", 1},
      {"DownloadOption", "2", 0},
      {"DownloadOption", "1", 1},
      {"MinimizeLocation", "2", 0},
      {"MinimizeLocation", "1", 1},
      {"LEDBrightness", "128", 127},
      {"LEDBrightness", "9999", 127},
      {"LEDBrightness", "-1", 127},
      {"LEDBrightness", "0", 0},
      // -1 (the default device) is stored unsigned; -2 is no device.
      {"WinMMOutputDev", "4294967295", -1},
      {"WinMMOutputDev", "4294967294", -1},
      {"WinMMOutputDev", "2147483647", -1},
      {"WinMMOutputDev", "7", 7},
      {"WinMMOutputDev", "0", 0},
      {"EqBand0", "-1", 1000},
      {"EqBand7", "2147483647", 1000},
      {"EqBand14", "0", 0},
      {"EqBand3", "2500", 2500},
      {"WindowX", "2147483647", 100},
      {"WindowX", "-40000", 100},
      {"WindowX", "-1200", -1200},
      {"WindowY", "1080", 1080},
      {"PlaylistX", "99999", 100},
      {"PlaylistY", "-5", -5},
      {"PlaylistW", "0", 150},
      {"PlaylistW", "-150", 150},
      {"PlaylistW", "1900", 1900},
      {"PlaylistH", "40000", 150},
      {"PlaylistH", "300", 300},
      // Flags: 0 off, any other value on.
      {"ShufflePlay", "7", 1},
      {"ShufflePlay", "-1", 1},
      {"ShufflePlay", "0", 0},
      {"AutoPlayOnOpen", "0", 0},
      {"AudioBypassACM", "2", 1},
      {"EqActive", "4294967295", 1},
      {"WinShade", "1", 1},
      {"AlwaysOnTop", "3", 1},
      {"LEDOverlay", "0", 0},
      {"Gapless", "0", 0},
      {"Gapless", "5", 1},
      {"ReplayGain", "4", 0},
      {"ReplayGain", "-1", 0},
      {"ReplayGain", "2", 2},
      {"ReplayGain", "3", 3},
      {"ReplayGainPreamp", "16", 0},
      {"ReplayGainPreamp", "-16", 0},
      {"ReplayGainPreamp", "-15", -15},
      {"ReplayGainPreamp", "15", 15},
      {"ReplayGainPreamp", "6", 6},
  };
  const std::vector<std::pair<std::string, int32_t Settings::*>> fields = {
      {"Channels", &Settings::Channels},
      {"DownSample", &Settings::DownSample},
      {"EqVolume", &Settings::EqVolume},
      {"DecoderPriority", &Settings::DecoderPriority},
      {"MappingMode", &Settings::MappingMode},
      {"RepeatPlay", &Settings::RepeatPlay},
      {"LEDVisual", &Settings::LEDVisual},
      {"TimeMode", &Settings::TimeMode},
      {"AudioOutputSystem", &Settings::AudioOutputSystem},
      {"WinMMCallback", &Settings::WinMMCallback},
      {"DownloadOption", &Settings::DownloadOption},
      {"MinimizeLocation", &Settings::MinimizeLocation},
      {"LEDBrightness", &Settings::LEDBrightness},
      {"WinMMOutputDev", &Settings::WinMMOutputDev},
      {"WindowX", &Settings::WindowX},
      {"WindowY", &Settings::WindowY},
      {"PlaylistX", &Settings::PlaylistX},
      {"PlaylistY", &Settings::PlaylistY},
      {"PlaylistW", &Settings::PlaylistW},
      {"PlaylistH", &Settings::PlaylistH},
      {"ShufflePlay", &Settings::ShufflePlay},
      {"AutoPlayOnOpen", &Settings::AutoPlayOnOpen},
      {"AudioBypassACM", &Settings::AudioBypassACM},
      {"EqActive", &Settings::EqActive},
      {"WinShade", &Settings::WinShade},
      {"AlwaysOnTop", &Settings::AlwaysOnTop},
      {"LEDOverlay", &Settings::LEDOverlay},
      {"Gapless", &Settings::Gapless},
      {"ReplayGain", &Settings::ReplayGain},
      {"ReplayGainPreamp", &Settings::ReplayGainPreamp}};
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    put(path_, std::string("[kuv]\n") + c.key + "=" + c.text + "\n");
    Settings s = garbage();
    ASSERT_TRUE(kuv::loadSettingsFrom(s, path_, exe_));
    const std::string key = c.key;
    if (key.rfind("EqBand", 0) == 0) {
      EXPECT_EQ(s.EqBand[std::stoi(key.substr(6))], c.expected);
      continue;
    }
    auto field = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == key; });
    ASSERT_NE(field, fields.end());
    EXPECT_EQ(s.*(field->second), c.expected);
  }
}

TEST_F(SettingsTest, AFileBeginningWithAByteOrderMarkIsReadAndRewrittenInPlace) {
  const std::string mark = "\xEF\xBB\xBF";
  const std::string starts[] = {
      mark + "[kuv]\nEqVolume=5\nWindowX=-30\n",
      mark + "[KUV]\r\nEqVolume=5\r\nWindowX=-30\r\n",
      mark + "; kept\n[other]\nEqVolume=9\n[kuv]\nEqVolume=5\nWindowX=-30",
  };
  for (const std::string& start : starts) {
    SCOPED_TRACE(start);
    put(path_, start);
    Settings s = garbage();
    ASSERT_TRUE(kuv::loadSettingsFrom(s, path_, exe_));
    EXPECT_EQ(s.EqVolume, 5);
    EXPECT_EQ(s.WindowX, -30);
    ASSERT_TRUE(kuv::saveSettingsTo(s, path_));
    const std::string saved = get(path_);
    EXPECT_EQ(saved.compare(0, mark.size(), mark), 0);
    size_t sections = 0;
    for (std::string line : linesOf(path_)) {
      if (line.rfind(mark, 0) == 0) line.erase(0, mark.size());
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line == "[kuv]" || line == "[KUV]") ++sections;
    }
    EXPECT_EQ(sections, 1u);
    Settings back = garbage();
    ASSERT_TRUE(kuv::loadSettingsFrom(back, path_, exe_));
    EXPECT_EQ(std::memcmp(&back, &s, sizeof s), 0);
  }
}

TEST_F(SettingsTest, ALargeFileLoadsInOnePass) {
  // 4 MB of short junk lines, half of them in [kuv] itself: each key once
  // re-read and re-split the whole file (16 s for this one).
  std::string text = "[junk]\n";
  char line[32];
  for (int i = 0; text.size() < (2u << 20); ++i) text.append(line, std::snprintf(line, sizeof line, "j%d=x\n", i));
  text += "[kuv]\nEqVolume=17\n";
  for (int i = 0; text.size() < (4u << 20); ++i) text.append(line, std::snprintf(line, sizeof line, "k%d=y\n", i));
  text += "Channels=1\nEqVolume=18\nWindowY=-3\n";
  put(path_, text);
  Settings s = garbage();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(kuv::loadSettingsFrom(s, path_, exe_));
  const auto took = std::chrono::steady_clock::now() - start;
  // Generous for a loaded machine and a sanitizer build; the pass takes
  // milliseconds.
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(s.EqVolume, 17);  // the first of a name counts
  EXPECT_EQ(s.Channels, 1);
  EXPECT_EQ(s.WindowY, -3);
  EXPECT_EQ(s.DecoderPriority, 3);
}

// A channel choice set at run time (not through the loader) still reaches the
// decoder; out of range it plays the left channel and reads nothing past the
// two channels' sample blocks (the sanitizer build catches a stray read).
TEST(SettingsReachingTheDecoder, ChannelChoiceOutOfRangePlaysTheLeftChannel) {
  struct Case {
    const char* fixture;
    int channelSelect;
    int sameAs;
  };
  const Case cases[] = {
      {"l2_44_joint.mp2", 99, 0},  {"l2_44_joint.mp2", 4, 0},      {"l2_44_joint.mp2", INT_MAX, 0},
      {"l2_44_joint.mp2", -7, -1}, {"l2_48_stereo.mp2", 99, 0},    {"l2_32_mono.mp2", 99, 0},
      {"l3_stereo.mp3", 99, 0},    {"l3_stereo.mp3", INT_MIN, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " " + std::to_string(c.channelSelect));
    const std::string path = kuv::test::fixturePath(c.fixture);
    kuv::test::DecodeOptions odd;
    odd.channelSelect = c.channelSelect;
    kuv::test::DecodeOptions plain;
    plain.channelSelect = c.sameAs;
    // The filterbank keeps its history from one decode to the next: both
    // decodes start from the end of this file played the plain way.
    (void)kuv::test::decodeInProcess(path, plain);
    const kuv::test::Decoded want = kuv::test::decodeInProcess(path, plain);
    const kuv::test::Decoded got = kuv::test::decodeInProcess(path, odd);
    ASSERT_TRUE(got.opened);
    EXPECT_GT(got.frames, 0);
    EXPECT_EQ(got.bytes.size(), want.bytes.size());
    EXPECT_TRUE(got.bytes == want.bytes);
  }
}

TEST_F(SettingsTest, LongFolderIsCutTo259Characters) {
  const std::string longDir = "/" + std::string(299, 'd');
  ASSERT_TRUE(kuv::platform::writeProfileString("kuv", "InternetDLDir", longDir, path_));
  Settings s = garbage();
  kuv::loadSettingsFrom(s, path_, exe_);
  EXPECT_EQ(std::strlen(s.InternetDLDir), 259u);
  EXPECT_EQ(std::string(s.InternetDLDir), longDir.substr(0, 259));

  Settings direct = garbage();
  kuv::setSettingsString(direct.PreviousDir, longDir);
  EXPECT_EQ(direct.PreviousDir[259], '\0');
  EXPECT_EQ(std::string(direct.PreviousDir), longDir.substr(0, 259));
}

TEST_F(SettingsTest, SavingKeepsOtherSectionsAndUnknownKeys) {
  put(path_,
      "; kept comment\n"
      "[other]\n"
      "x=1\n"
      "[kuv]\n"
      "FutureOption=5\n"
      "EqVolume=3\n"
      "; note\n"
      "[third]\n"
      "EqVolume=8\n");
  Settings s{};
  kuv::loadSettingsFrom(s, path_, exe_);
  EXPECT_EQ(s.EqVolume, 3);
  s.EqVolume = 20;
  ASSERT_TRUE(kuv::saveSettingsTo(s, path_));

  std::vector<std::string> lines = linesOf(path_);
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ(lines[0], "; kept comment");
  EXPECT_EQ(lines[1], "[other]");
  EXPECT_EQ(lines[2], "x=1");
  EXPECT_EQ(lines[3], "[kuv]");
  EXPECT_EQ(lines[4], "FutureOption=5");
  EXPECT_EQ(lines[5], "EqVolume=20");
  EXPECT_EQ(lines[6], "; note");
  EXPECT_EQ(lines[lines.size() - 2], "[third]");
  EXPECT_EQ(lines.back(), "EqVolume=8");
  EXPECT_EQ(kuv::platform::getProfileInt("other", "x", 0, path_), 1);
  EXPECT_EQ(kuv::platform::getProfileInt("kuv", "FutureOption", 0, path_), 5);
  // The new keys went into [kuv], before [third].
  EXPECT_EQ(kuv::platform::getProfileInt("kuv", "WindowY", 0, path_), 100);
  EXPECT_EQ(kuv::platform::getProfileInt("third", "WindowY", -1, path_), -1);
}

TEST_F(SettingsTest, ReadOnlyFileIsLeftAlone) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file; the missing-folder case still runs";
  const std::string text = "[kuv]\nEqVolume=3\n";
  put(path_, text);
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  Settings s{};
  kuv::loadSettingsFrom(s, path_, exe_);
  s.EqVolume = 10;
  EXPECT_TRUE(kuv::saveSettingsTo(s, path_));
  EXPECT_EQ(get(path_), text);
}

TEST_F(SettingsTest, SavingIntoAMissingFolderDoesNothing) {
  Settings s{};
  kuv::loadSettingsFrom(s, path_, exe_);
  EXPECT_TRUE(kuv::saveSettingsTo(s, dir_ + "absent/kuv.ini"));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "absent"));
}

TEST_F(SettingsTest, FolderDefaultsAreTheProgramFolderOnlyInPortableUse) {
  const std::string downloads = dir_ + "Fetched";
  const std::string music = dir_ + "Tunes";
  std::filesystem::create_directories(downloads);
  std::filesystem::create_directories(music);
  std::filesystem::create_directories(dir_ + "config");
  put(dir_ + "config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
  EnvOverride home("HOME", dir_.c_str());
  EnvOverride config("XDG_CONFIG_HOME", (dir_ + "config").c_str());
  EnvOverride download("XDG_DOWNLOAD_DIR", nullptr);
  EnvOverride musicDir("XDG_MUSIC_DIR", nullptr);

  // Installed per user (--prefix ~/.local): the bin folder is writable, and
  // still no place to browse for music or to save streams in.
  ASSERT_TRUE(kuv::platform::isWritableFolder(exe_));
  Settings s = garbage();
  kuv::loadSettingsFrom(s, path_, exe_);
  EXPECT_EQ(std::string(s.InternetDLDir), downloads + "/");
  EXPECT_EQ(std::string(s.PreviousDir), music + "/");
  EXPECT_EQ(std::string(s.OutputPluginDir), exe_);  // plug-ins sit beside the program regardless

  // A file that an earlier run saved with those folders gets the right ones.
  put(path_, "[kuv]\nInternetDLDir=" + exe_ + "\nPreviousDir=" + exe_ + "\n");
  kuv::loadSettingsFrom(s, path_, exe_);
  EXPECT_EQ(std::string(s.InternetDLDir), downloads + "/");
  EXPECT_EQ(std::string(s.PreviousDir), music + "/");

  // Portable: a kuv.ini beside the program keeps everything there.
  put(exe_ + "kuv.ini", "");
  kuv::loadSettingsFrom(s, exe_ + "kuv.ini", exe_);
  EXPECT_EQ(std::string(s.InternetDLDir), exe_);
  EXPECT_EQ(std::string(s.PreviousDir), exe_);
  kuv::loadSettingsFrom(s, path_, exe_);
  EXPECT_EQ(std::string(s.PreviousDir), exe_);
}

TEST_F(SettingsTest, FileBesideTheProgramIsPreferred) {
  EnvOverride config("XDG_CONFIG_HOME", (dir_ + "config").c_str());
  EXPECT_EQ(kuv::chooseSettingsFile(exe_), dir_ + "config/kuv/kuv.ini");
  // A folder of that name is no settings file.
  std::filesystem::create_directory(exe_ + "kuv.ini");
  EXPECT_EQ(kuv::chooseSettingsFile(exe_), dir_ + "config/kuv/kuv.ini");
  std::filesystem::remove(exe_ + "kuv.ini");
  put(exe_ + "kuv.ini", "");
  EXPECT_EQ(kuv::chooseSettingsFile(exe_), exe_ + "kuv.ini");
}

TEST_F(SettingsTest, ProcessWideLoadCreatesTheUserFolderAndSaveWritesThere) {
  const std::string beside = kuv::platform::programFolder() + "kuv.ini";
  if (std::filesystem::exists(beside)) GTEST_SKIP() << "a kuv.ini sits beside the test program: " << beside;
  EnvOverride config("XDG_CONFIG_HOME", (dir_ + "config").c_str());
  const Settings saved = kuv::settings;
  const std::string savedPath = kuv::settingsFilePath;
  const std::string savedFolder = kuv::programFolder;

  ASSERT_TRUE(kuv::loadSettings());
  EXPECT_EQ(kuv::programFolder, kuv::platform::programFolder());
  EXPECT_EQ(kuv::settingsFilePath, dir_ + "config/kuv/kuv.ini");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ + "config/kuv"));
  EXPECT_EQ(kuv::settings.EqVolume, 32);
  kuv::settings.EqVolume = 17;
  ASSERT_TRUE(kuv::saveSettings());
  EXPECT_EQ(kuv::platform::getProfileInt("kuv", "EqVolume", 0, dir_ + "config/kuv/kuv.ini"), 17);

  kuv::settings = saved;
  kuv::settingsFilePath = savedPath;
  kuv::programFolder = savedFolder;
}

}  // namespace
