// The message boxes and dialogs of a running program.
#include "scannerdialogs.h"

#include <QDialog>
#include <QMessageBox>

void ScannerDialogs::Message(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QStringLiteral("Velloran"), text);
}

int ScannerDialogs::Run(QDialog& dialog) {
  return dialog.exec();
}
