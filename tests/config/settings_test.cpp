#include "config/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
#include "support/test_support.h"

namespace {

using kuv::Settings;
using kuv::test::EnvOverride;


// The keys in the order a new kuv.ini must list them.
const std::vector<std::string> kExpectedKeyOrder = {
    "AudioOutputSystem", "AudioOutput8Bit", "AudioBypassACM", "AudioAllowSyncDev", "WinMMCallback",
    "WinMMOutputDev", "EqVolume", "EqActive", "EqBand0", "EqBand1", "EqBand2", "EqBand3", "EqBand4",
    "EqBand5", "EqBand6", "EqBand7", "EqBand8", "EqBand9", "EqBand10", "EqBand11", "EqBand12", "EqBand13",
    "EqBand14", "DownSample", "Channels", "DecoderPriority", "MappingMode", "ShufflePlay", "RepeatPlay",
    "AutoPlayOnOpen", "MultipleInstances", "DownloadOption", "InternetDLDir", "DownloadPlayAfterSave",
    "PreviousDir", "ShowSplashScreen", "ReadFileInfo", "AddOnDragAndDrop", "TimeMode", "OutputPluginDir",
    "OutputPluginName", "LEDOverlay", "LEDBrightness", "LEDVisual", "MinimizeLocation", "StartupExpanded",
    "WinShade", "AlwaysOnTop", "EasyMove", "PlaylistX", "PlaylistY", "PlaylistW", "PlaylistH", "WindowX",
    "WindowY"};

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kuv-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
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
  EXPECT_STREQ(s.InternetDLDir, exe_.c_str());  // the program folder is writable here
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
}

TEST_F(SettingsTest, NonDefaultValuesSurviveARoundTrip) {
  // Every int field gets its own value, so two swapped keys would show.
  Settings out{};
  int32_t next = -40;
  for (int32_t* field : {&out.AudioOutputSystem, &out.AudioOutput8Bit, &out.AudioBypassACM,
                         &out.AudioAllowSyncDev, &out.WinMMCallback, &out.WinMMOutputDev, &out.EqActive,
                         &out.EqVolume, &out.DownSample, &out.Channels, &out.DecoderPriority, &out.MappingMode,
                         &out.RepeatPlay, &out.ShufflePlay, &out.AutoPlayOnOpen, &out.DownloadOption,
                         &out.DownloadPlayAfterSave, &out.MultipleInstances, &out.ShowSplashScreen,
                         &out.ReadFileInfo, &out.AddOnDragAndDrop, &out.TimeMode, &out.LEDOverlay,
                         &out.LEDBrightness, &out.LEDVisual, &out.MinimizeLocation, &out.StartupExpanded,
                         &out.WinShade, &out.AlwaysOnTop, &out.EasyMove, &out.PlaylistX, &out.PlaylistY,
                         &out.PlaylistW, &out.PlaylistH, &out.WindowX, &out.WindowY})
    *field = next++;
  for (int band = 0; band < kuv::kEqBands; ++band) out.EqBand[band] = 2000 + band * 37;
  out.WindowX = INT32_MIN;
  out.WindowY = INT32_MAX;
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
  EXPECT_EQ(in.WindowX, INT32_MIN);
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

TEST_F(SettingsTest, ValuesAreReadWithoutClamping) {
  put(path_, "[KUV]\nledbrightness=9999\nEqVolume=-3\nWinMMOutputDev=7\n");
  Settings s = garbage();
  kuv::loadSettingsFrom(s, path_, exe_);
  EXPECT_EQ(s.LEDBrightness, 9999);
  EXPECT_EQ(s.EqVolume, -3);
  EXPECT_EQ(s.WinMMOutputDev, 7);
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

TEST_F(SettingsTest, FolderDefaultsFallBackToXdgFoldersWhenProgramFolderIsNotWritable) {
  const std::string downloads = dir_ + "dl";
  const std::string music = dir_ + "music";
  EnvOverride home("HOME", dir_.c_str());
  EnvOverride config("XDG_CONFIG_HOME", (dir_ + "config").c_str());
  EnvOverride download("XDG_DOWNLOAD_DIR", downloads.c_str());
  EnvOverride musicDir("XDG_MUSIC_DIR", music.c_str());

  EXPECT_EQ(kuv::defaultDownloadFolder(exe_), exe_);
  EXPECT_EQ(kuv::defaultPreviousFolder(exe_), exe_);

  // A folder that does not exist is not writable, even for root.
  const std::string gone = dir_ + "gone/";
  EXPECT_EQ(kuv::defaultDownloadFolder(gone), downloads + "/");
  EXPECT_EQ(kuv::defaultPreviousFolder(gone), music + "/");
  Settings s = garbage();
  kuv::loadSettingsFrom(s, path_, gone);
  EXPECT_EQ(std::string(s.InternetDLDir), downloads + "/");
  EXPECT_EQ(std::string(s.PreviousDir), music + "/");
  EXPECT_EQ(std::string(s.OutputPluginDir), gone);  // plug-ins sit beside the program regardless

  {
    // No XDG folder configured: the home folder.
    EnvOverride noDownload("XDG_DOWNLOAD_DIR", nullptr);
    EXPECT_EQ(kuv::defaultDownloadFolder(gone), dir_);
  }

  if (geteuid() == 0) GTEST_SKIP() << "root may write a read-only folder";
  ASSERT_EQ(chmod(exe_.c_str(), 0555), 0);
  EXPECT_EQ(kuv::defaultDownloadFolder(exe_), downloads + "/");
  EXPECT_EQ(kuv::defaultPreviousFolder(exe_), music + "/");
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
