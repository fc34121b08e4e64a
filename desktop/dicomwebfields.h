// The settings dialog's choice of how the PACS is reached, DICOM or DICOMweb, and the DICOMweb
// fields: base URL, login (none, user and password, bearer token, and whether a password may go
// over http://), CA file, certificate check and time-out.
#pragma once

#include <QWidget>
#include <vector>

#include "settings.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;

class DicomWebFields : public QWidget {
  Q_OBJECT

 public:
  // Built on the PACS tab, whose layout places the protocol choice and these fields (in the place
  // of `dicomFields`, which with their labels are hidden while DICOMweb is chosen).
  DicomWebFields(QWidget* tab, std::vector<QWidget*> dicomFields);

  void Load(const SetupConfig& settings);
  // Writes the protocol and every DICOMweb key, whichever protocol is chosen.
  void Store(SetupConfig& settings) const;
  bool UsesWeb() const;

  QComboBox* Protocol;
  QLineEdit* Url;
  QComboBox* Login;
  QLineEdit* User;
  QLineEdit* Password;
  QLineEdit* Token;
  QCheckBox* PlainLogin;  // a basic login over http:// is refused unless this is checked
  QLineEdit* CaFile;
  QCheckBox* Verify;
  QLineEdit* Timeout;

 private:
  // Shows the fields of the chosen protocol, and of the chosen login among the DICOMweb ones.
  void ShowChoice();

  std::vector<QWidget*> dicomWidgets_;
  QFormLayout* form_;
};
