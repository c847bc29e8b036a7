// The preferences sheet, offscreen: what each page stores at once, on Apply
// and on Cancel, when Apply is enabled, and the snapshot the Preferences
// command takes.
#include "ui/preferences_sheet.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QSlider>
#include <QTabWidget>

#include <string>

#include "config/settings.h"
#include "output/output_system.h"
#include "support/test_support.h"
#include "ui/main_window.h"

namespace kuv {
namespace {

struct RecordingPrefsHost final : PreferencesHost {
  int closed = 0;
  int registered = 0;
  void registerFileTypesFrom(QWidget*) override { ++registered; }
  void preferencesClosed() override { ++closed; }
};

class PreferencesSheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.DecoderPriority = 2;
    settings.DownSample = 0;
    settings.Channels = -1;
    settings.ReadFileInfo = 1;
    settings.EasyMove = 0;
    settings.LEDVisual = 0;
    settings.WinMMOutputDev = 0;
    settings.MappingMode = 2;
    folder_ = test::makeTempFolder();
    scanOutputPlugins(folder_);  // none there
    SettingsSnapshot = settings;
    sheet_ = new PreferencesSheet(host_, nullptr);
    sheet_->show();
  }
  void TearDown() override {
    delete sheet_;
    test::removeTree(folder_);
  }
  void showPage(PreferencesPage page) { sheet_->tabs()->setCurrentIndex(page); }
  QSlider* slider(const char* group) const {
    for (QGroupBox* box : sheet_->findChildren<QGroupBox*>())
      if (box->title() == group) return box->findChild<QSlider*>();
    return nullptr;
  }
  QCheckBox* checkBox(const char* text) const {
    for (QCheckBox* box : sheet_->findChildren<QCheckBox*>())
      if (box->text() == text) return box;
    return nullptr;
  }
  QComboBox* combo(const char* name) const { return sheet_->findChild<QComboBox*>(name); }

  test::SavedSettings saved_;
  std::string folder_;
  RecordingPrefsHost host_;
  PreferencesSheet* sheet_ = nullptr;
};

TEST_F(PreferencesSheetTest, CancelRestoresWhatEachPageRestores) {
  showPage(kDecoderPage);
  slider("Priority")->setValue(0);
  EXPECT_EQ(settings.DecoderPriority, 0) << "stored at once";
  EXPECT_TRUE(sheet_->applyEnabled());
  showPage(kAudioPage);
  combo("Output Device")->setCurrentText("Wave Mapper");
  EXPECT_EQ(settings.WinMMOutputDev, -1);
  showPage(kGeneralPage);
  checkBox("Read File Info on Open")->setChecked(false);
  checkBox("Easy Move")->setChecked(true);
  sheet_->pressApply();
  EXPECT_FALSE(sheet_->applyEnabled());
  EXPECT_EQ(settings.ReadFileInfo, 0);
  EXPECT_EQ(settings.EasyMove, 1);
  sheet_->pressCancel();
  EXPECT_EQ(host_.closed, 1);
  EXPECT_EQ(settings.DecoderPriority, 2) << "the priority comes back";
  EXPECT_EQ(settings.WinMMOutputDev, -1) << "a device chosen stays chosen";
  EXPECT_EQ(settings.ReadFileInfo, 0) << "what Apply stored stays";
  EXPECT_EQ(settings.EasyMove, 0) << "Easy Move returns to its value at opening";
}

TEST_F(PreferencesSheetTest, OnlyTheDecoderValuesThatMatterEnableApply) {
  showPage(kDecoderPage);
  slider("Output")->setValue(3);
  EXPECT_FALSE(sheet_->applyEnabled()) << "the Output slider alone";
  EXPECT_EQ(settings.Channels, -1) << "stored on Apply only";
  QListWidget* plugins = sheet_->findChild<QListWidget*>();
  ASSERT_NE(plugins, nullptr);
  ASSERT_EQ(plugins->count(), 1);
  EXPECT_EQ(plugins->item(0)->text().toStdString(), "[NONE]");
  EXPECT_FALSE(plugins->isEnabled());
  combo("Output System")->setCurrentText(".wav file");
  EXPECT_EQ(settings.AudioOutputSystem, kWaveFileOutput);
  EXPECT_EQ(settings.MappingMode, 2) << "a command only shows the mapping mode again";
  sheet_->pressOk();
  EXPECT_EQ(settings.Channels, 2) << "Mono";
  EXPECT_EQ(settings.LEDVisual, 0) << "the LED page was never shown";
}

TEST_F(PreferencesSheetTest, PagesShownOnlyApplyAndOpenAtTheNearestValue) {
  const Settings before = settings;
  showPage(kLedPage);
  sheet_->pressOk();
  EXPECT_EQ(settings.LEDVisual, 1) << "a value outside 1..5 shows at the nearest end and is stored";
  Settings expected = before;
  expected.LEDVisual = 1;
  EXPECT_EQ(std::memcmp(&settings, &expected, sizeof(Settings)), 0) << "nothing but the shown pages' fields";
}

// The Preferences command of the window: a snapshot every time, one sheet.
TEST(PreferencesCommand, EveryCommandTakesANewSnapshot) {
  test::SavedSettings saved;
  const std::string folder = test::makeTempFolder();
  settingsFilePath = folder + "/kuv.ini";
  settings.DecoderPriority = 2;
  {
    MainWindow window;
    window.openPreferences();
    PreferencesSheet* sheet = window.preferencesSheet();
    ASSERT_NE(sheet, nullptr);
    settings.DecoderPriority = 4;
    window.openPreferences();
    EXPECT_EQ(window.preferencesSheet(), sheet) << "the open sheet comes forward";
    EXPECT_EQ(SettingsSnapshot.DecoderPriority, 4);
    sheet->tabs()->setCurrentIndex(kDecoderPage);
    sheet->pressCancel();
    EXPECT_EQ(settings.DecoderPriority, 4) << "Cancel restores the newer snapshot";
    EXPECT_EQ(window.preferencesSheet(), nullptr);
    EXPECT_NE(test::readFile(settingsFilePath).find("DecoderPriority=4"), std::string::npos)
        << "the file is written when the sheet closes";
  }
  settingsFilePath.clear();
  test::removeTree(folder);
}

}  // namespace
}  // namespace kuv
