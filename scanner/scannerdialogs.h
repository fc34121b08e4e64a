// How the scanner windows show message boxes and run their modal dialogs; tests replace it to
// answer them without blocking.
#pragma once

#include <QString>

class QDialog;
class QWidget;

class ScannerDialogs {
 public:
  virtual ~ScannerDialogs() = default;
  // A modal message box with an OK button.
  virtual void Message(QWidget* parent, const QString& text);
  // Runs a modal dialog to its end; QDialog::Accepted or QDialog::Rejected.
  virtual int Run(QDialog& dialog);
};
