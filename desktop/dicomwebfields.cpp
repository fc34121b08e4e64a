// The DICOM / DICOMweb choice and the DICOMweb fields of the settings dialog's PACS tab.
#include "dicomwebfields.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include "webpacs.h"

namespace {

QLineEdit* AddRow(QFormLayout* form, const char* objectName, const QString& caption,
                  QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(objectName);
  field->setAccessibleName(caption);
  form->addRow(caption, field);
  return field;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QLineEdit* field) {
  return field->text().toStdString();
}

}  // namespace

DicomWebFields::DicomWebFields(QWidget* tab, std::vector<QWidget*> dicomFields)
    : QWidget(tab), dicomWidgets_(std::move(dicomFields)) {
  setObjectName("DicomWebFields");
  // The labels of the DICOM fields go and come back with them.
  for (QLabel* label : tab->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    for (QWidget* field : std::vector<QWidget*>(dicomWidgets_)) {
      if (label->buddy() == field) dicomWidgets_.push_back(label);
    }
  }
  Protocol = new QComboBox(tab);
  Protocol->setObjectName("ComboProtocol");
  Protocol->setAccessibleName(tr("Protocol"));
  Protocol->setToolTip(tr("How the PACS is reached: DICOM (C-STORE, C-FIND) or DICOMweb"));
  Protocol->addItem("DICOM", "DICOM");
  Protocol->addItem(kDicomWebProtocol, kDicomWebProtocol);

  form_ = new QFormLayout(this);
  form_->setContentsMargins(0, 0, 0, 0);
  form_->setVerticalSpacing(3);
  Url = AddRow(form_, "EditWebUrl", tr("URL"), this);
  Url->setPlaceholderText("https://pacs.example/dicom-web");
  Login = new QComboBox(this);
  Login->setObjectName("ComboWebLogin");
  Login->setAccessibleName(tr("Login"));
  //: No login at the DICOMweb server.
  Login->addItem(tr("None"), "none");
  Login->addItem(tr("User and password"), "basic");
  Login->addItem(tr("Bearer token"), "bearer");
  form_->addRow(tr("Login"), Login);
  User = AddRow(form_, "EditWebUser", tr("User"), this);
  Password = AddRow(form_, "EditWebPassword", tr("Password"), this);
  Password->setEchoMode(QLineEdit::Password);
  PlainLogin = new QCheckBox(tr("Allow the password over http:// (unencrypted)"), this);
  PlainLogin->setObjectName("CheckWebPlainLogin");
  PlainLogin->setAccessibleName(PlainLogin->text());
  PlainLogin->setToolTip(
      tr("Over http:// anyone on the network can read the password; leave this off unless the "
         "server is on this computer or a closed network"));
  form_->addRow(PlainLogin);
  Token = AddRow(form_, "EditWebToken", tr("Token"), this);
  Token->setEchoMode(QLineEdit::Password);
  //: The file of the certificate authorities the server's certificate is checked against.
  CaFile = AddRow(form_, "EditWebCAFile", tr("CA file"), this);
  CaFile->setPlaceholderText(tr("the system's CA certificates"));
  Verify = new QCheckBox(tr("Verify the server's certificate"), this);
  Verify->setObjectName("CheckWebVerify");
  Verify->setAccessibleName(Verify->text());
  form_->addRow(Verify);
  //: Seconds without an answer before a request is given up.
  Timeout = AddRow(form_, "EditWebTimeout", tr("Time-out (s)"), this);
  // Captions as the DICOM fields have them.
  for (int row = 0; row < form_->rowCount(); ++row) {
    QLayoutItem* item = form_->itemAt(row, QFormLayout::LabelRole);
    if (auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr) {
      QFont bold = label->font();
      bold.setBold(true);
      bold.setPointSize(10);
      label->setFont(bold);
    }
  }

  connect(Protocol, &QComboBox::currentIndexChanged, this, &DicomWebFields::ShowChoice);
  connect(Login, &QComboBox::currentIndexChanged, this, &DicomWebFields::ShowChoice);
  ShowChoice();
}

void DicomWebFields::Load(const SetupConfig& settings) {
  Protocol->setCurrentIndex(UsesDicomWeb(settings) ? 1 : 0);
  Url->setText(Q(settings.webURL));
  const int login = Login->findData(QString::fromStdString(settings.webAuth).toLower());
  Login->setCurrentIndex(login < 0 ? 0 : login);
  User->setText(Q(settings.webUser));
  Password->setText(Q(settings.webPassword));
  Token->setText(Q(settings.webToken));
  CaFile->setText(Q(settings.webCAFile));
  Verify->setChecked(settings.webVerify);
  PlainLogin->setChecked(settings.webPlainLogin);
  Timeout->setText(Q(settings.webTimeout));
  ShowChoice();
}

void DicomWebFields::Store(SetupConfig& settings) const {
  settings.remoteProtocol = Protocol->currentData().toString().toStdString();
  settings.webURL = S(Url);
  settings.webAuth = Login->currentData().toString().toStdString();
  settings.webUser = S(User);
  settings.webPassword = S(Password);
  settings.webToken = S(Token);
  settings.webCAFile = S(CaFile);
  settings.webVerify = Verify->isChecked();
  settings.webPlainLogin = PlainLogin->isChecked();
  settings.webTimeout = S(Timeout);
}

bool DicomWebFields::UsesWeb() const {
  return Protocol->currentIndex() == 1;
}

void DicomWebFields::ShowChoice() {
  const bool web = UsesWeb();
  for (QWidget* widget : dicomWidgets_) widget->setVisible(!web);
  setVisible(web);
  const QString login = Login->currentData().toString();
  form_->setRowVisible(User, login == "basic");
  form_->setRowVisible(Password, login == "basic");
  form_->setRowVisible(PlainLogin, login == "basic");
  form_->setRowVisible(Token, login == "bearer");
}
