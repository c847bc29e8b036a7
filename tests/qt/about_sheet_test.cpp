// The About sheet, offscreen: its pages, and a listed entry filling the
// address field that "Browse To" opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTimer>

#include "ui/tray.h"

namespace kuv {
namespace {

TEST(AboutSheet, TwoPagesAndAListedEntryFillsTheAddress) {
  QString title, firstTab, secondTab, filled, kept;
  int listed = 0;
  QTimer::singleShot(0, [&] {
    auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(sheet, nullptr) << "the sheet is not modal";
    title = sheet->windowTitle();
    auto* tabs = sheet->findChild<QTabWidget*>();
    auto* list = sheet->findChild<QListWidget*>("Links");
    auto* address = sheet->findChild<QLineEdit*>("Address");
    if (tabs && list && address) {
      firstTab = tabs->tabText(0);
      secondTab = tabs->tabText(1);
      listed = list->count();
      list->setCurrentRow(3);
      filled = address->text();
      address->setText("typed.example");
      list->setCurrentRow(-1);  // no selection: the field stays as it is
      kept = address->text();
    }
    sheet->reject();
  });
  showAboutSheet(nullptr);
  EXPECT_EQ(title, "About KUV...");
  EXPECT_EQ(firstTab, "About Page");
  EXPECT_EQ(secondTab, "Cool Links");
  EXPECT_EQ(listed, kLinkCount);
  EXPECT_EQ(filled.toStdString(), kLinkTable[3].address);
  EXPECT_EQ(kept, "typed.example");
}

}  // namespace
}  // namespace kuv
