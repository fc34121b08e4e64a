// The real dialogs of the desktop.
#include "dialogprovider.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

void QtDialogs::ShowMessage(QWidget* owner, const QString& text) {
  QMessageBox::information(owner, QCoreApplication::applicationName(), text);
}

bool QtDialogs::Confirm(QWidget* owner, const QString& caption, const QString& text) {
  return QMessageBox::warning(owner, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                              QMessageBox::Ok) == QMessageBox::Ok;
}

QString QtDialogs::OpenFile(QWidget* owner, const QString& filter) {
  return QFileDialog::getOpenFileName(owner, QString(), QString(), filter);
}

QString QtDialogs::BrowseForFolder(QWidget* owner, const QString& title) {
  return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
}

void QtDialogs::OpenDocument(const QString& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
