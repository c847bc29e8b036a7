#include "ui/url_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kuv {

bool askUrl(QWidget* owner, std::string& text) {
  QDialog dialog(owner);
  dialog.setWindowTitle("Open URL...");
  auto* layout = new QVBoxLayout(&dialog);
  auto* edit = new QLineEdit(&dialog);
  edit->setMaxLength(kUrlTextLimit);
  edit->setMinimumWidth(360);
  layout->addWidget(edit);
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton("Open", QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return false;
  text = edit->text().toUtf8().toStdString();
  return true;
}

}  // namespace kuv
