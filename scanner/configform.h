// TConfigFrm: the "Scanner Configuration" dialog choosing colour or grey and the resolution.
#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

class TConfigFrm : public QDialog {
  Q_OBJECT

 public:
  explicit TConfigFrm(QWidget* parent = nullptr);

  // OK: stores the choice in ScanIntent and ScanResolution and closes with Accepted.
  void Button1Click();

  QComboBox* ComboBox1;  // "Color", "GrayScale"
  QComboBox* ComboBox2;  // "100", "150", "200", "300"
  QPushButton* Button1;  // "OK"
  QPushButton* Button2;  // "Cancel": closes without a change

 private:
  // Both boxes start on their first item; the dialog does not show the current settings.
  void FormCreate();
};
