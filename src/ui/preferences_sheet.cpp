#include "ui/preferences_sheet.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "output/output_system.h"
#include "output/sound_device.h"

namespace kuv {

namespace {

// A slider with its end labels under it ("Taskbar" ... "Systray").
QSlider* labelledSlider(QWidget* parent, QBoxLayout* into, const QString& title, int low, int high,
                        const QStringList& labels) {
  auto* box = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(box);
  auto* slider = new QSlider(Qt::Horizontal, box);
  slider->setRange(low, high);
  slider->setPageStep(1);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setTickInterval(1);
  layout->addWidget(slider);
  auto* row = new QHBoxLayout;
  for (int i = 0; i < labels.size(); ++i) {
    auto* label = new QLabel(labels[i], box);
    label->setAlignment(i == 0 ? Qt::AlignLeft : (i == labels.size() - 1 ? Qt::AlignRight : Qt::AlignHCenter));
    row->addWidget(label);
  }
  layout->addLayout(row);
  into->addWidget(box);
  return slider;
}

QCheckBox* check(QWidget* parent, QLayout* into, const char* text, bool enabled = true) {
  auto* box = new QCheckBox(text, parent);
  box->setEnabled(enabled);
  into->addWidget(box);
  return box;
}

QPushButton* disabledButton(QWidget* parent, QLayout* into, const char* text) {
  auto* button = new QPushButton(text, parent);
  button->setEnabled(false);
  into->addWidget(button);
  return button;
}

bool soundDeviceNameOf(int32_t device, std::string* name) { return soundDeviceName(device, name) != 0; }
// Device numbers asked for at most (ALSA cards and their devices).
constexpr int32_t kDeviceLimit = 64;

// --- General ---------------------------------------------------------------------------------

class GeneralPage final : public PreferencesPageWidget {
 public:
  explicit GeneralPage(PreferencesSheet& sheet) : PreferencesPageWidget(sheet) {
    auto* layout = new QVBoxLayout(this);
    minimize_ = labelledSlider(this, layout, "Minimize to", 0, 1, {"Taskbar", "Systray"});
    time_ = labelledSlider(this, layout, "Time Display", 0, 1, {"Elapsed", "Remaining"});
    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    grid->addLayout(left, 0, 0);
    grid->addLayout(right, 0, 1);
    readInfo_ = check(this, left, "Read File Info on Open");
    multiple_ = check(this, left, "Multiple Instances");
    autoPlay_ = check(this, left, "Auto Play on Open", false);
    splash_ = check(this, left, "Show Splashscreen");
    easyMove_ = check(this, right, "Easy Move");
    addOnDrop_ = check(this, right, "Add on Drag && Drop");
    check(this, right, "Add to Start menu", false);
    check(this, right, "AutoScroll Songname", false);
    auto* scroll = new QSlider(Qt::Horizontal, this);
    scroll->setEnabled(false);
    right->addWidget(scroll);
    auto* registerButton = new QPushButton("Register Filetypes", this);
    layout->addWidget(registerButton);
    layout->addStretch();
    connect(registerButton, &QPushButton::clicked, this, [this] { sheet_.host().registerFileTypesFrom(this); });
    for (QSlider* slider : {minimize_, time_}) connect(slider, &QSlider::valueChanged, this, [this] { changed(); });
    for (QCheckBox* box : {readInfo_, multiple_, autoPlay_, splash_, easyMove_, addOnDrop_})
      connect(box, &QCheckBox::toggled, this, [this] { changed(); });
  }
  void apply() override {
    GeneralControls c;
    c.minimizeLocation = minimize_->value();
    c.timeMode = time_->value();
    c.readFileInfo = readInfo_->isChecked();
    c.multipleInstances = multiple_->isChecked();
    c.autoPlayOnOpen = autoPlay_->isChecked();
    c.showSplashScreen = splash_->isChecked();
    c.easyMove = easyMove_->isChecked();
    c.addOnDragAndDrop = addOnDrop_->isChecked();
    applyGeneral(c, settings);
  }
  void reset() override { resetGeneral(SettingsSnapshot, settings); }

 protected:
  void load() override {
    loading_ = true;
    const GeneralControls c = generalAtOpen(settings);
    minimize_->setValue(c.minimizeLocation);
    time_->setValue(c.timeMode);
    readInfo_->setChecked(c.readFileInfo);
    multiple_->setChecked(c.multipleInstances);
    autoPlay_->setChecked(c.autoPlayOnOpen);
    splash_->setChecked(c.showSplashScreen);
    easyMove_->setChecked(c.easyMove);
    addOnDrop_->setChecked(c.addOnDragAndDrop);
    loading_ = false;
  }

 private:
  void changed() {
    if (!loading_) markChanged();
  }
  QSlider *minimize_, *time_;
  QCheckBox *readInfo_, *multiple_, *autoPlay_, *splash_, *easyMove_, *addOnDrop_;
  bool loading_ = false;
};

// --- Decoder ---------------------------------------------------------------------------------

class DecoderPage final : public PreferencesPageWidget {
 public:
  explicit DecoderPage(PreferencesSheet& sheet) : PreferencesPageWidget(sheet) {
    auto* layout = new QVBoxLayout(this);
    auto* sliders = new QHBoxLayout;
    layout->addLayout(sliders);
    quality_ = labelledSlider(this, sliders, "Quality", 0, 2, {"Full", "Half", "Quarter"});
    output_ = labelledSlider(this, sliders, "Output", 0, 3, {"Stereo", "Left", "Right", "Mono"});
    priority_ = labelledSlider(this, layout, "Priority", 0, 5, {});
    priorityText_ = new QLabel(this);
    priorityText_->setAlignment(Qt::AlignHCenter);
    layout->addWidget(priorityText_);

    auto* modeRow = new QHBoxLayout;
    layout->addLayout(modeRow);
    auto* mapping = new QGroupBox("Mapping Mode", this);
    auto* mappingRow = new QHBoxLayout(mapping);
    mapping_ = new QButtonGroup(this);
    for (int n = 1; n <= 4; ++n) {
      auto* button = new QRadioButton(QString::number(n), mapping);
      mapping_->addButton(button, n);
      mappingRow->addWidget(button);
    }
    modeRow->addWidget(mapping);

    auto* systemBox = new QGroupBox("Output System", this);
    auto* systemRow = new QHBoxLayout(systemBox);
    system_ = new QComboBox(systemBox);
    system_->setObjectName("Output System");
    for (const std::string& name : outputSystemNames()) system_->addItem(QString::fromStdString(name));
    systemRow->addWidget(system_, 1);
    modeRow->addWidget(systemBox, 1);

    auto* plugins = new QGroupBox("Output Plugins", this);
    auto* pluginLayout = new QVBoxLayout(plugins);
    plugins_ = new QListWidget(plugins);
    pluginLayout->addWidget(plugins_);
    auto* pluginButtons = new QHBoxLayout;
    disabledButton(plugins, pluginButtons, "Configure");
    disabledButton(plugins, pluginButtons, "About");
    disabledButton(plugins, pluginButtons, "Reload Plugin List");
    pluginLayout->addLayout(pluginButtons);
    layout->addWidget(plugins);

    connect(quality_, &QSlider::valueChanged, this, [this](int value) {
      if (loading_) return;
      setSharedSetting(settings.DownSample, value);
      sliderMoved();
    });
    connect(priority_, &QSlider::valueChanged, this, [this](int value) {
      if (loading_) return;
      setSharedSetting(settings.DecoderPriority, value);
      showPriority(value);
      sliderMoved();
    });
    connect(output_, &QSlider::valueChanged, this, [this] {
      if (!loading_) sliderMoved();
    });
    connect(mapping_, &QButtonGroup::idClicked, this, [this](int n) {
      setSharedSetting(settings.MappingMode, n);
      command();
    });
    connect(system_, &QComboBox::currentTextChanged, this, [this](const QString& name) {
      if (loading_) return;
      setSharedSetting(settings.AudioOutputSystem, outputSystemValueFor(name.toStdString()));
      command();
    });
    connect(plugins_, &QListWidget::currentRowChanged, this, [this](int row) {
      if (loading_ || row < 0 || row >= static_cast<int>(list_.fileNames.size())) return;
      memory_.selectedPlugin = list_.fileNames[static_cast<size_t>(row)];
      QMessageBox::information(this, kPluginChosenTitle, QString::fromStdString(memory_.selectedPlugin));
      command();
    });
  }
  void apply() override { applyDecoder({quality_->value(), output_->value(), priority_->value()}, settings, memory_); }
  void reset() override { resetDecoder(SettingsSnapshot, settings); }
  const DecoderMemory& memory() const { return memory_; }

 protected:
  void load() override {
    loading_ = true;
    const DecoderControls c = decoderAtOpen(settings, memory_);
    quality_->setValue(c.quality);
    output_->setValue(c.output);
    priority_->setValue(c.priority);
    showPriority(c.priority);
    checkMappingButton();
    system_->setCurrentText(QString::fromStdString(outputSystemNameFor(settings.AudioOutputSystem)));
    list_ = pluginList(settings.OutputPluginName);
    for (const std::string& line : list_.lines) plugins_->addItem(QString::fromStdString(line));
    plugins_->setEnabled(list_.enabled);
    if (list_.selected >= 0) {
      plugins_->setCurrentRow(list_.selected);
      memory_.selectedPlugin = list_.fileNames[static_cast<size_t>(list_.selected)];
    }
    loading_ = false;
  }

 private:
  void showPriority(int value) {
    if (const char* text = priorityText(value)) priorityText_->setText(text);
  }
  void checkMappingButton() {
    if (QAbstractButton* button = mapping_->button(mappingButtonFor(settings.MappingMode))) button->setChecked(true);
  }
  void sliderMoved() {
    if (decoderSliderMarksChanged(memory_, settings)) markChanged();
  }
  void command() {
    checkMappingButton();
    markChanged();
  }
  QSlider *quality_, *output_, *priority_;
  QLabel* priorityText_;
  QButtonGroup* mapping_;
  QComboBox* system_;
  QListWidget* plugins_;
  PluginList list_;
  DecoderMemory memory_;
  bool loading_ = false;
};

// --- Audio Output ----------------------------------------------------------------------------

class AudioPage final : public PreferencesPageWidget {
 public:
  explicit AudioPage(PreferencesSheet& sheet) : PreferencesPageWidget(sheet) {
    auto* layout = new QVBoxLayout(this);
    auto* deviceRow = new QHBoxLayout;
    deviceRow->addWidget(new QLabel("Output Device", this));
    device_ = new QComboBox(this);
    device_->setObjectName("Output Device");
    deviceRow->addWidget(device_, 1);
    layout->addLayout(deviceRow);

    auto* callback = new QGroupBox("Callback", this);
    auto* callbackRow = new QHBoxLayout(callback);
    callback_ = new QButtonGroup(this);
    auto* function = new QRadioButton("Function", callback);
    auto* thread = new QRadioButton("Thread", callback);
    auto* window = new QRadioButton("Window", callback);
    window->setEnabled(false);
    callback_->addButton(function, 0);
    callback_->addButton(thread, 1);
    for (QRadioButton* b : {function, thread, window}) callbackRow->addWidget(b);
    layout->addWidget(callback);

    eightBit_ = check(this, layout, "Force 8-Bit Output");
    bypass_ = check(this, layout, "Bypass Audio Compression  Manager");
    allowSync_ = check(this, layout, "Allow Synchronous Devices");

    auto* performance = new QGroupBox("Audio Performance", this);
    auto* perfLayout = new QVBoxLayout(performance);
    bar_ = new QProgressBar(performance);
    bar_->setTextVisible(false);
    perfLayout->addWidget(bar_);
    auto* labels = new QHBoxLayout;
    labels->addWidget(new QLabel("Poor", performance));
    auto* middle = new QLabel("Acceptable", performance);
    middle->setAlignment(Qt::AlignHCenter);
    labels->addWidget(middle);
    auto* best = new QLabel("Very Good", performance);
    best->setAlignment(Qt::AlignRight);
    labels->addWidget(best);
    perfLayout->addLayout(labels);
    layout->addWidget(performance);
    layout->addStretch();

    connect(device_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
      if (loading_) return;
      setSharedSetting(settings.WinMMOutputDev,
                       outputDeviceFor(soundDeviceNameOf, kDeviceLimit, text.toStdString(), settings.WinMMOutputDev));
      markChanged();
    });
    connect(callback_, &QButtonGroup::idClicked, this, [this](int id) {
      setSharedSetting(settings.WinMMCallback, id);
      markChanged();
    });
    for (QCheckBox* box : {eightBit_, bypass_, allowSync_})
      connect(box, &QCheckBox::toggled, this, [this] {
        if (!loading_) markChanged();
      });
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (count_ > 0) bar_->setValue(count_ - outputFreeBufferCount());
    });
  }
  void apply() override {
    applyAudio({eightBit_->isChecked(), bypass_->isChecked(), allowSync_->isChecked()}, settings);
  }
  void reset() override {}

 protected:
  void load() override {
    loading_ = true;
    for (const std::string& name : outputDeviceNames(soundDeviceNameOf, kDeviceLimit))
      device_->addItem(QString::fromStdString(name));
    const std::string shown = outputDeviceShown(soundDeviceNameOf, kDeviceLimit, settings.WinMMOutputDev);
    device_->setCurrentIndex(device_->findText(QString::fromStdString(shown)));
    if (QAbstractButton* b = callback_->button(settings.WinMMCallback == 0 ? 0 : 1)) b->setChecked(true);
    const AudioControls c = audioAtOpen(settings);
    eightBit_->setChecked(c.eightBit);
    bypass_->setChecked(c.bypassAcm);
    allowSync_->setChecked(c.allowSyncDev);
    count_ = outputBufferCount();
    bar_->setRange(0, count_ > 0 ? count_ : 1);
    bar_->setValue(0);
    timer_.start(250);
    loading_ = false;
  }

 private:
  QComboBox* device_;
  QButtonGroup* callback_;
  QCheckBox *eightBit_, *bypass_, *allowSync_;
  QProgressBar* bar_;
  QTimer timer_;
  int32_t count_ = 0;
  bool loading_ = false;
};

// --- Streaming -------------------------------------------------------------------------------

class StreamingPage final : public PreferencesPageWidget {
 public:
  explicit StreamingPage(PreferencesSheet& sheet) : PreferencesPageWidget(sheet) {
    auto* layout = new QVBoxLayout(this);
    auto* download = new QGroupBox("Download", this);
    auto* downloadLayout = new QVBoxLayout(download);
    option_ = new QButtonGroup(this);
    auto* playOnly = new QRadioButton("Play Only", download);
    auto* playAndSave = new QRadioButton("Play and Save", download);
    auto* saveOnly = new QRadioButton("Save Only", download);
    saveOnly->setEnabled(false);
    option_->addButton(playOnly, 0);
    option_->addButton(playAndSave, 1);
    for (QRadioButton* b : {playOnly, playAndSave, saveOnly}) downloadLayout->addWidget(b);
    check(download, downloadLayout, "Play after download", false);
    layout->addWidget(download);

    auto* location = new QGroupBox("Download Location", this);
    auto* locationRow = new QHBoxLayout(location);
    folder_ = new QLineEdit(location);
    folder_->setMaxLength(static_cast<int>(kSettingsStringBytes - 1));
    locationRow->addWidget(folder_, 1);
    auto* browse = new QPushButton("Browse", location);
    locationRow->addWidget(browse);
    layout->addWidget(location);

    auto* connection = new QComboBox(this);
    connection->setEnabled(false);
    layout->addWidget(connection);
    check(this, layout, "Check for server TAG File", false);
    check(this, layout, "Download status window", false);
    layout->addStretch();

    connect(option_, &QButtonGroup::idClicked, this, [this](int id) {
      setSharedSetting(settings.DownloadOption, id);
      markChanged();
    });
    connect(browse, &QPushButton::clicked, this, [this] {
      const QString chosen = QFileDialog::getExistingDirectory(this, kDownloadFolderTitle);
      if (!chosen.isEmpty()) folder_->setText(chosen);
    });
  }
  void apply() override {
    applyStreaming({option_->checkedId() == 1 ? 1 : 0, QFile::encodeName(folder_->text()).toStdString()}, settings);
  }
  void reset() override { resetStreaming(SettingsSnapshot, settings); }

 protected:
  void load() override {
    const StreamingControls c = streamingAtOpen(settings);
    if (QAbstractButton* b = option_->button(c.downloadOption)) b->setChecked(true);
    folder_->setText(QFile::decodeName(c.folder.c_str()));
  }

 private:
  QButtonGroup* option_;
  QLineEdit* folder_;
};

// --- LED Options -----------------------------------------------------------------------------

class LedPage final : public PreferencesPageWidget {
 public:
  explicit LedPage(PreferencesSheet& sheet) : PreferencesPageWidget(sheet) {
    auto* layout = new QVBoxLayout(this);
    overlay_ = check(this, layout, "LED Info Overlay");
    brightness_ = labelledSlider(this, layout, "Brightness", 0, 127, {});
    brightness_->setEnabled(false);
    auto* visuals = new QGroupBox("Visualisation", this);
    auto* row = new QHBoxLayout(visuals);
    visual_ = new QSlider(Qt::Vertical, visuals);
    visual_->setRange(1, 5);
    visual_->setPageStep(1);
    visual_->setInvertedAppearance(true);  // 1 at the top, as the labels go
    visual_->setTickPosition(QSlider::TicksRight);
    row->addWidget(visual_);
    auto* labels = new QVBoxLayout;
    const char* const names[] = {"Plasma", "Oscilliscope", "Spectrum Analyser", "Star Field", "Detuned TV"};
    for (const char* name : names) labels->addWidget(new QLabel(name, visuals));
    labels->itemAt(2)->widget()->setEnabled(false);
    row->addLayout(labels);
    layout->addWidget(visuals);
    auto* rate = labelledSlider(this, layout, "Update Rate", 0, 10, {});
    rate->setEnabled(false);
    layout->addStretch();
    connect(overlay_, &QCheckBox::toggled, this, [this] { changed(); });
    for (QSlider* slider : {brightness_, visual_}) connect(slider, &QSlider::valueChanged, this, [this] { changed(); });
  }
  void apply() override { applyLed({overlay_->isChecked(), brightness_->value(), visual_->value()}, settings); }
  void reset() override { resetLed(SettingsSnapshot, settings); }

 protected:
  void load() override {
    loading_ = true;
    const LedControls c = ledAtOpen(settings);
    overlay_->setChecked(c.overlay);
    brightness_->setValue(c.brightness);
    visual_->setValue(c.visual);
    loading_ = false;
  }

 private:
  void changed() {
    if (!loading_) markChanged();
  }
  QCheckBox* overlay_;
  QSlider *brightness_, *visual_;
  bool loading_ = false;
};

}  // namespace

// --- The sheet -------------------------------------------------------------------------------

namespace {

// The skin's dark greens rather than a grey default dialog.
QPalette sheetPalette() {
  QPalette p;
  const QColor ground(11, 18, 13), field(5, 10, 6), button(22, 36, 26), text(200, 216, 204), green(60, 255, 122);
  p.setColor(QPalette::Window, ground);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, field);
  p.setColor(QPalette::AlternateBase, button);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, button);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::Highlight, QColor(31, 90, 52));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Light, QColor(47, 74, 54));
  p.setColor(QPalette::Midlight, QColor(35, 56, 41));
  p.setColor(QPalette::Mid, QColor(28, 44, 32));
  p.setColor(QPalette::Dark, QColor(8, 14, 10));
  p.setColor(QPalette::Shadow, Qt::black);
  p.setColor(QPalette::Link, green);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, QColor(86, 102, 90));
  return p;
}

}  // namespace

PreferencesSheet::PreferencesSheet(PreferencesHost& host, QWidget* owner) : QDialog(owner), host_(host) {
  setWindowTitle(kPreferencesTitle);
  setPalette(sheetPalette());
  setMinimumWidth(540);
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  pages_ = {new GeneralPage(*this), new DecoderPage(*this), new AudioPage(*this), new StreamingPage(*this),
            new LedPage(*this)};
  for (int32_t i = 0; i < kPageCount; ++i) tabs_->addTab(pages_[static_cast<size_t>(i)], kPageTitles[i]);
  layout->addWidget(tabs_);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
  layout->addWidget(buttons_);
  connect(buttons_->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] { pressOk(); });
  connect(buttons_->button(QDialogButtonBox::Cancel), &QPushButton::clicked, this, [this] { pressCancel(); });
  connect(buttons_->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { pressApply(); });
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { showPage(index); });
  showPage(0);
}

void PreferencesSheet::showPage(int index) {
  if (index >= 0 && index < kPageCount) pages_[static_cast<size_t>(index)]->showFirstTime();
}

void PreferencesSheet::markChanged() { buttons_->button(QDialogButtonBox::Apply)->setEnabled(true); }

bool PreferencesSheet::applyEnabled() const { return buttons_->button(QDialogButtonBox::Apply)->isEnabled(); }

void PreferencesSheet::pressApply() {
  for (PreferencesPageWidget* page : pages_)
    if (page->shown()) page->apply();
  buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
}

void PreferencesSheet::pressOk() {
  pressApply();
  finish();
}

void PreferencesSheet::pressCancel() {
  for (PreferencesPageWidget* page : pages_)
    if (page->shown()) page->reset();
  finish();
}

// The close box is Cancel.
void PreferencesSheet::closeEvent(QCloseEvent* event) {
  if (!finished_) pressCancel();
  event->accept();
}

void PreferencesSheet::finish() {
  if (finished_) return;
  finished_ = true;
  hide();
  host_.preferencesClosed();
}

}  // namespace kuv
