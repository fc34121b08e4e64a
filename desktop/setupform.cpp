// The settings dialog.
#include "setupform.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "dialogprovider.h"
#include "dicomwebfields.h"
#include "guiwork.h"
#include "send.h"
#include "storage.h"
#include "webpacs.h"

namespace {

QLineEdit* AddField(QWidget* tab, const char* objectName, const char* caption, int y, int width) {
  auto* label = new QLabel(QString::fromUtf8(caption), tab);
  QFont bold = label->font();
  bold.setBold(true);
  bold.setPointSize(10);
  label->setFont(bold);
  label->setGeometry(16, y, 110, 22);
  auto* field = new QLineEdit(tab);
  field->setObjectName(objectName);
  field->setGeometry(130, y, width, 22);
  field->setAccessibleName(label->text());
  label->setBuddy(field);
  return field;
}

QPushButton* AddButton(QWidget* parent, const char* objectName, const char* caption, int x, int y,
                       int width, int height) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(objectName);
  button->setGeometry(x, y, width, height);
  button->setAccessibleName(button->text());
  return button;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QLineEdit* field) {
  return field->text().toStdString();
}

}  // namespace

TSetupFrm::TSetupFrm(std::string settingsPath, SetupConfig& config, DialogProvider& dialogs,
                     QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)), config_(config), dialogs_(dialogs) {
  setObjectName("SetupFrm");
  setWindowTitle("Setup");
  setFixedSize(446, 289);
  setModal(true);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  PageControl1->setGeometry(0, 0, 446, 241);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName("TabSheet1");
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName("TabSheet2");
  TabSheet3 = new QWidget;
  TabSheet3->setObjectName("TabSheet3");
  PageControl1->addTab(TabSheet1, "Local");
  PageControl1->addTab(TabSheet2, "PACS");
  PageControl1->addTab(TabSheet3, "WL Server");

  Edit4 = AddField(TabSheet1, "Edit4", "Local AET", 20, 150);
  Edit7 = AddField(TabSheet1, "Edit7", "Inst. Name:", 55, 250);
  Edit10 = AddField(TabSheet1, "Edit10", "Printer Port", 90, 150);
  CheckBox1 = new QCheckBox("Debug logging", TabSheet1);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setAccessibleName(CheckBox1->text());
  CheckBox1->setGeometry(16, 130, 200, 22);
  CheckBox2 = new QCheckBox("Keep camera JPEGs as they are", TabSheet1);
  CheckBox2->setObjectName("CheckBox2");
  CheckBox2->setAccessibleName(CheckBox2->text());
  CheckBox2->setGeometry(16, 160, 300, 22);

  Edit5 = AddField(TabSheet2, "Edit5", "AET", 20, 150);
  Edit2 = AddField(TabSheet2, "Edit2", "IP Address", 55, 150);
  Edit3 = AddField(TabSheet2, "Edit3", "Port", 90, 150);
  Button1 = AddButton(TabSheet2, "Button1", "Test", 300, 52, 90, 28);
  WebFields = new DicomWebFields(TabSheet2, {Edit5, Edit2, Edit3});
  CheckBox3 = new QCheckBox("Keep unsent objects in the outbox", TabSheet2);
  CheckBox3->setObjectName("CheckBox3");
  CheckBox3->setAccessibleName(CheckBox3->text());
  CheckBox3->setGeometry(16, 190, 300, 22);

  Edit6 = AddField(TabSheet3, "Edit6", "AET", 20, 150);
  Edit8 = AddField(TabSheet3, "Edit8", "IP Address", 55, 150);
  Edit9 = AddField(TabSheet3, "Edit9", "Port", 90, 150);
  Button2 = AddButton(TabSheet3, "Button2", "Test", 300, 52, 90, 28);

  BitBtn1 = AddButton(this, "BitBtn1", "OK", 120, 250, 90, 30);
  BitBtn2 = AddButton(this, "BitBtn2", "Cancel", 236, 250, 90, 30);
  BitBtn1->setDefault(true);

  connect(BitBtn1, &QPushButton::clicked, this, &TSetupFrm::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TSetupFrm::BitBtn2Click);
  connect(Button1, &QPushButton::clicked, this, &TSetupFrm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TSetupFrm::Button2Click);
  PageControl1->setCurrentIndex(0);
  FormCreate();
}

void TSetupFrm::FormCreate() {
  LoadSettings(settingsPath_, config_);
  Edit4->setText(Q(config_.LocalAET));
  Edit7->setText(Q(config_.InstitutionName));
  Edit5->setText(Q(config_.remoteAET));
  Edit2->setText(Q(config_.remoteIP));
  Edit3->setText(Q(config_.remotePort));
  Edit6->setText(Q(config_.worklistAET));
  Edit8->setText(Q(config_.worklistIP));
  Edit9->setText(Q(config_.worklistPort));
  Edit10->setText(Q(config_.PrinterPort));
  CheckBox1->setChecked(config_.Debug);
  CheckBox2->setChecked(config_.KeepCameraJpegs);
  WebFields->Load(config_);
  CheckBox3->setChecked(config_.keepUnsentInOutbox);
}

void TSetupFrm::BitBtn1Click() {
  // An AE title travels as 8-bit text: one that cannot is refused before anything is stored.
  for (const QLineEdit* title : {Edit4, Edit5, Edit6}) {
    const std::string problem = AeTitleProblem(S(title));
    if (!problem.empty()) {
      dialogs_.ShowMessage(this, Q(problem));
      return;
    }
  }
  // DICOMweb settings that could not be used are refused the same way.
  SetupConfig web = config_;
  WebFields->Store(web);
  std::string webProblem;
  DicomWebServer unused;
  if (UsesDicomWeb(web) && !WebPacs(web, unused, webProblem)) {
    dialogs_.ShowMessage(this, Q(webProblem));
    return;
  }
  WebFields->Store(config_);
  config_.LocalAET = S(Edit4);
  config_.InstitutionName = S(Edit7);
  config_.remoteAET = S(Edit5);
  config_.remoteIP = S(Edit2);
  config_.remotePort = S(Edit3);
  config_.worklistAET = S(Edit6);
  config_.worklistIP = S(Edit8);
  config_.worklistPort = S(Edit9);
  config_.PrinterPort = S(Edit10);
  config_.Debug = CheckBox1->isChecked();
  config_.KeepCameraJpegs = CheckBox2->isChecked();
  config_.keepUnsentInOutbox = CheckBox3->isChecked();
  if (!SaveSettings(settingsPath_, config_)) {
    // The values hold for this run; the user learns that they will not survive a restart.
    dialogs_.ShowMessage(this, "ERROR, the settings could not be written to " + Q(settingsPath_));
  }
  accept();
}

void TSetupFrm::BitBtn2Click() {
  reject();
}

void TSetupFrm::Button1Click() {
  if (WebFields->UsesWeb()) {
    TestWebNode();
    return;
  }
  TestNode(Edit5->text(), Edit2->text(), Edit3->text());
}

void TSetupFrm::TestWebNode() {
  // As for DICOM, the values are tested as typed, before they are saved.
  SetupConfig typed = config_;
  WebFields->Store(typed);
  std::string message;
  setEnabled(false);
  RunBesideEventLoop([&typed, &message] { return TestWebPacs(typed, message); });
  setEnabled(true);
  dialogs_.ShowMessage(this, Q(message));
}

void TSetupFrm::Button2Click() {
  TestNode(Edit6->text(), Edit8->text(), Edit9->text());
}

void TSetupFrm::TestNode(const QString& calledAet, const QString& host, const QString& port) {
  // The saved local AE title calls; the remote values are tested as typed, before they are saved.
  const std::string problem = AeTitleProblem(calledAet.toStdString());
  if (!problem.empty()) {
    dialogs_.ShowMessage(this, Q(problem));
    return;
  }
  RemoteNode node;
  node.callingAet = config_.LocalAET;
  node.calledAet = calledAet.toStdString();
  node.host = host.toStdString();
  node.port = port.toStdString();
  setEnabled(false);
  const bool answered = RunBesideEventLoop([&node] { return EchoSCU(node, kEchoTimeoutSeconds); });
  setEnabled(true);
  dialogs_.ShowMessage(this, answered ? calledAet + " is up and running!"
                                      : "ERROR, " + calledAet + " does not answer!");
}
