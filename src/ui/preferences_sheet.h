// The modeless "KUV Preferences" sheet: five pages of settings, OK, Cancel
// and Apply. Some controls store their setting at once, others on Apply;
// Cancel restores what each shown page restores from the snapshot taken by
// the Preferences command.
#pragma once

#include <QDialog>

#include <array>

#include "ui/preferences_logic.h"

class QDialogButtonBox;
class QTabWidget;

namespace kuv {

// What the sheet needs of the main window.
struct PreferencesHost {
  virtual ~PreferencesHost() = default;
  // "Register Filetypes" on the General page.
  virtual void registerFileTypesFrom(QWidget* page) = 0;
  // OK or Cancel closed the sheet: the settings are saved and the engine told.
  virtual void preferencesClosed() = 0;
};

class PreferencesPageWidget;

class PreferencesSheet final : public QDialog {
 public:
  explicit PreferencesSheet(PreferencesHost& host, QWidget* owner);

  // Enables Apply: a page has changes.
  void markChanged();
  bool applyEnabled() const;
  PreferencesPageWidget* page(PreferencesPage which) const { return pages_[which]; }
  QTabWidget* tabs() const { return tabs_; }
  PreferencesHost& host() { return host_; }

  void pressOk();
  void pressApply();
  void pressCancel();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape is Cancel.
  void reject() override { pressCancel(); }

 private:
  void showPage(int index);
  void finish();

  PreferencesHost& host_;
  QTabWidget* tabs_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  std::array<PreferencesPageWidget*, kPageCount> pages_{};
  bool finished_ = false;
};

// A page: reads its controls from the settings when first shown, and takes
// part in Apply and Cancel only after that.
class PreferencesPageWidget : public QWidget {
 public:
  explicit PreferencesPageWidget(PreferencesSheet& sheet) : sheet_(sheet) {}
  void showFirstTime() {
    if (shown_) return;
    shown_ = true;
    load();
  }
  bool shown() const { return shown_; }
  virtual void apply() = 0;
  virtual void reset() = 0;

 protected:
  virtual void load() = 0;
  void markChanged() { sheet_.markChanged(); }
  PreferencesSheet& sheet_;

 private:
  bool shown_ = false;
};

}  // namespace kuv
