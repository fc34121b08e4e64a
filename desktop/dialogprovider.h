// The window's dialogs behind one interface, so tests can answer them without a person.
#pragma once

#include <QString>

class QWidget;

class DialogProvider {
 public:
  virtual ~DialogProvider() = default;
  // A plain message box with an OK button.
  virtual void ShowMessage(QWidget* owner, const QString& text) = 0;
  // A message box with OK and Cancel; true for OK.
  virtual bool Confirm(QWidget* owner, const QString& caption, const QString& text) = 0;
  // The open dialog for one file; empty when cancelled.
  virtual QString OpenFile(QWidget* owner, const QString& filter) = 0;
  // The folder browser; empty when cancelled.
  virtual QString BrowseForFolder(QWidget* owner, const QString& title) = 0;
  // Hands a document (a PDF) to the desktop's default viewer.
  virtual void OpenDocument(const QString& path) = 0;
};

// The real dialogs of the desktop.
class QtDialogs final : public DialogProvider {
 public:
  void ShowMessage(QWidget* owner, const QString& text) override;
  bool Confirm(QWidget* owner, const QString& caption, const QString& text) override;
  QString OpenFile(QWidget* owner, const QString& filter) override;
  QString BrowseForFolder(QWidget* owner, const QString& title) override;
  void OpenDocument(const QString& path) override;
};
