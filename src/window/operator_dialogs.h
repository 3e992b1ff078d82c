// The dialogs the window puts before the operator: message boxes (a warning to acknowledge, a
// question to answer) and the file-open dialog of the package pickers. The window reaches them
// only through this interface, so that tests answer them; QtOperatorDialogs shows the real ones.
#pragma once

#include <QString>

class QWidget;

namespace mirk3 {

class OperatorDialogs {
 public:
  virtual ~OperatorDialogs() = default;
  // A box with an OK button and the exclamation icon.
  virtual void Warn(QWidget* parent, const QString& title, const QString& text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool Ask(QWidget* parent, const QString& title, const QString& text) = 0;
  // A file-open dialog with a Qt name filter; empty when the operator cancels.
  virtual QString OpenFile(QWidget* parent, const QString& caption, const QString& filter) = 0;
};

class QtOperatorDialogs : public OperatorDialogs {
 public:
  void Warn(QWidget* parent, const QString& title, const QString& text) override;
  bool Ask(QWidget* parent, const QString& title, const QString& text) override;
  QString OpenFile(QWidget* parent, const QString& caption, const QString& filter) override;
};

}  // namespace mirk3
