#include "window/operator_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace mirk3 {

void QtOperatorDialogs::Warn(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

bool QtOperatorDialogs::Ask(QWidget* parent, const QString& title, const QString& text) {
  return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

QString QtOperatorDialogs::OpenFile(QWidget* parent, const QString& caption,
                                    const QString& filter) {
  // A package is only read: the read-only box has no meaning here.
  return QFileDialog::getOpenFileName(parent, caption, QString(), filter, nullptr,
                                      QFileDialog::ReadOnly);
}

}  // namespace mirk3
