// The settings dialog.
#include "setupform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogprovider.h"
#include "dicomwebfields.h"
#include "guiwork.h"
#include "messagewording.h"
#include "send.h"
#include "storage.h"
#include "webpacs.h"
#include "windowlanguage.h"

namespace {

// A row of a tab: the bold label and its field.
void AddLabelled(QGridLayout* rows, const QString& caption, QWidget* field) {
  auto* label = new QLabel(caption, rows->parentWidget());
  QFont bold = label->font();
  bold.setBold(true);
  bold.setPointSize(std::max(bold.pointSize() + 1, 10));
  label->setFont(bold);
  field->setAccessibleName(label->text());
  label->setBuddy(field);
  const int row = rows->rowCount();
  rows->addWidget(label, row, 0);
  rows->addWidget(field, row, 1);
}

// A row of a tab: the bold label and a text field of the given width.
QLineEdit* AddField(QGridLayout* rows, const char* objectName, const QString& caption, int width) {
  auto* field = new QLineEdit(rows->parentWidget());
  field->setObjectName(objectName);
  field->setMinimumWidth(width);
  AddLabelled(rows, caption, field);
  return field;
}

// The rows of a tab: label, field and a column for a button beside a field; what follows the rows
// (added with AddBelow) takes the room that is left.
QGridLayout* TabRows(QWidget* tab) {
  auto* rows = new QGridLayout(tab);
  rows->setContentsMargins(16, 18, 16, 12);
  rows->setHorizontalSpacing(4);
  rows->setVerticalSpacing(12);
  rows->setColumnMinimumWidth(0, 110);
  rows->setColumnStretch(3, 1);
  return rows;
}

void AddBelow(QGridLayout* rows, QWidget* widget) {
  rows->addWidget(widget, rows->rowCount(), 0, 1, 4);
}

void EndRows(QGridLayout* rows) {
  rows->setRowStretch(rows->rowCount(), 1);
}

QPushButton* AddButton(QWidget* parent, const char* objectName, const QString& caption, int width,
                       int height) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(objectName);
  button->setMinimumSize(width, height);
  button->setAccessibleName(button->text());
  return button;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QLineEdit* field) {
  return field->text().toStdString();
}

// Empty when `port` is empty (the report comes on the association that asked for it) or a TCP
// port number the listener can open; otherwise the message for the user. Only plain decimal
// numbers are taken: the socket layer would read "70000" as 4464 and "104x" as 104.
bool CommitmentPortUsable(const std::string& port) {
  if (port.empty()) return true;
  const bool digits = port.size() <= 5 && std::all_of(port.begin(), port.end(),
                                                      [](char c) { return c >= '0' && c <= '9'; });
  if (!digits) return false;
  const int number = std::stoi(port);
  return number >= 1 && number <= 65535;
}

}  // namespace

TSetupFrm::TSetupFrm(std::string settingsPath, SetupConfig& config, DialogProvider& dialogs,
                     QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)), config_(config), dialogs_(dialogs) {
  setObjectName("SetupFrm");
  //: The settings dialog's title.
  setWindowTitle(tr("Setup"));
  setModal(true);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName("TabSheet1");
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName("TabSheet2");
  TabSheet3 = new QWidget;
  TabSheet3->setObjectName("TabSheet3");
  //: The tab of this workstation's own settings.
  PageControl1->addTab(TabSheet1, tr("Local"));
  PageControl1->addTab(TabSheet2, tr("PACS"));
  //: The tab of the worklist server.
  PageControl1->addTab(TabSheet3, tr("WL Server"));

  LocalRows = TabRows(TabSheet1);
  // Seven rows, closer together than on the other tabs, so the dialog keeps its height.
  LocalRows->setVerticalSpacing(4);
  //: This workstation's own AE title.
  Edit4 = AddField(LocalRows, "Edit4", tr("Local AET"), 150);
  //: The institution's name written into every object.
  Edit7 = AddField(LocalRows, "Edit7", tr("Inst. Name:"), 250);
  // How printed jobs arrive; the printer port serves the raw queue alone.
  ComboBox1 = new QComboBox(TabSheet1);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->addItem(tr("printer application (IPP Everywhere)"), "application");
  ComboBox1->addItem(tr("raw queue on the printer port"), "raw");
  AddLabelled(LocalRows, tr("Print capture"), ComboBox1);
  Edit10 = AddField(LocalRows, "Edit10", tr("Printer Port"), 150);
  ComboLanguage = new QComboBox(TabSheet1);
  ComboLanguage->setObjectName("ComboLanguage");
  //: The first choice of the window's language: whatever the desktop speaks.
  ComboLanguage->addItem(tr("The desktop's"), QString());
  for (const WindowLanguageChoice& language : kWindowLanguages) {
    ComboLanguage->addItem(QString::fromUtf8(language.name), QString::fromUtf8(language.code));
  }
  ComboLanguage->setToolTip(tr("The window's language, from the next start of the program"));
  //: The window's language.
  AddLabelled(LocalRows, tr("Language"), ComboLanguage);
  CheckBox1 = new QCheckBox(tr("Debug logging"), TabSheet1);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setAccessibleName(CheckBox1->text());
  AddBelow(LocalRows, CheckBox1);
  CheckBox2 = new QCheckBox(tr("Keep camera JPEGs as they are"), TabSheet1);
  CheckBox2->setObjectName("CheckBox2");
  CheckBox2->setAccessibleName(CheckBox2->text());
  AddBelow(LocalRows, CheckBox2);

  PacsRows = TabRows(TabSheet2);
  // Six rows where the other tabs have four or five: a little closer together, so the dialog keeps
  // its designed height.
  PacsRows->setVerticalSpacing(9);
  //: The PACS's AE title.
  Edit5 = AddField(PacsRows, "Edit5", tr("AET"), 150);
  Edit2 = AddField(PacsRows, "Edit2", tr("IP Address"), 150);
  Edit3 = AddField(PacsRows, "Edit3", tr("Port"), 150);
  //: Tests the connection to the server.
  Button1 = AddButton(TabSheet2, "Button1", tr("Test"), 90, 28);
  // The fields' rows are 1 to 3 (an empty grid counts one row). Test goes beside IP Address, as
  // on the worklist tab, the protocol choice beside the first row, and the DICOMweb fields take
  // the place of the DICOM rows while DICOMweb is chosen.
  PacsRows->addWidget(Button1, 2, 2);
  WebFields = new DicomWebFields(TabSheet2, {Edit5, Edit2, Edit3});
  PacsRows->addWidget(WebFields, 1, 0, 3, 2);
  PacsRows->addWidget(WebFields->Protocol, 1, 2);
  // Below the DICOM or DICOMweb rows, whichever protocol is chosen: both deliver through it.
  CheckBox3 = new QCheckBox(tr("Keep unsent objects in the outbox"), TabSheet2);
  CheckBox3->setObjectName("CheckBox3");
  CheckBox3->setAccessibleName(CheckBox3->text());
  AddBelow(PacsRows, CheckBox3);
  CheckBox4 =
      new QCheckBox(tr("Ask the PACS to commit stored objects (storage commitment)"), TabSheet2);
  CheckBox4->setObjectName("CheckBox4");
  CheckBox4->setAccessibleName(CheckBox4->text());
  AddBelow(PacsRows, CheckBox4);
  //: The port the PACS's storage commitment report comes to.
  Edit11 = AddField(PacsRows, "Edit11", tr("Commitment port"), 150);
  Edit11->setToolTip(
      tr("The port on which this program takes the PACS's commitment report; empty: the report "
         "must come on the association that asked for it"));

  WorklistRows = TabRows(TabSheet3);
  Edit6 = AddField(WorklistRows, "Edit6", tr("AET"), 150);
  Edit8 = AddField(WorklistRows, "Edit8", tr("IP Address"), 150);
  Edit9 = AddField(WorklistRows, "Edit9", tr("Port"), 150);
  Button2 = AddButton(TabSheet3, "Button2", tr("Test"), 90, 28);
  WorklistRows->addWidget(Button2, 2, 2);

  BitBtn1 = AddButton(this, "BitBtn1", tr("OK"), 90, 30);
  BitBtn2 = AddButton(this, "BitBtn2", tr("Cancel"), 90, 30);
  BitBtn1->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BitBtn1);
  buttons->addSpacing(26);
  buttons->addWidget(BitBtn2);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 9);
  layout->setSpacing(9);
  layout->addWidget(PageControl1, 1);
  layout->addLayout(buttons);
  // The rows end after what a tab holds when the dialog is built; rows added later go before the
  // stretch (FinishTabs is called again).
  FinishTabs();
  resize(QSize(kDesignedWidth, kDesignedHeight).expandedTo(minimumSizeHint()));

  connect(BitBtn1, &QPushButton::clicked, this, &TSetupFrm::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TSetupFrm::BitBtn2Click);
  connect(Button1, &QPushButton::clicked, this, &TSetupFrm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TSetupFrm::Button2Click);
  connect(CheckBox4, &QCheckBox::toggled, this, &TSetupFrm::EnableCommitmentFields);
  connect(ComboBox1, &QComboBox::currentIndexChanged, this,
          [this] { Edit10->setEnabled(ComboBox1->currentData() == "raw"); });
  connect(WebFields->Protocol, &QComboBox::currentIndexChanged, this,
          &TSetupFrm::EnableCommitmentFields);
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
  ComboBox1->setCurrentIndex(config_.printCapture == "raw" ? 1 : 0);
  Edit10->setEnabled(ComboBox1->currentIndex() == 1);
  CheckBox1->setChecked(config_.Debug);
  CheckBox2->setChecked(config_.KeepCameraJpegs);
  WebFields->Load(config_);
  CheckBox3->setChecked(config_.keepUnsentInOutbox);
  CheckBox4->setChecked(config_.storageCommitment);
  Edit11->setText(Q(config_.commitmentPort));
  const int language = ComboLanguage->findData(Q(config_.Language));
  ComboLanguage->setCurrentIndex(std::max(language, 0));
  EnableCommitmentFields();
}

void TSetupFrm::EnableCommitmentFields() {
  const bool dicom = !WebFields->UsesWeb();
  CheckBox4->setEnabled(dicom);
  const bool port = dicom && CheckBox4->isChecked();
  Edit11->setEnabled(port);
  // The label greys with its field, as the check box's text does.
  for (QLabel* label : TabSheet2->findChildren<QLabel*>()) {
    if (label->buddy() == Edit11) label->setEnabled(port);
  }
}

void TSetupFrm::BitBtn1Click() {
  // An AE title travels as 8-bit text: one that cannot is refused before anything is stored.
  for (const QLineEdit* title : {Edit4, Edit5, Edit6}) {
    const UserMessage problem = AeTitleProblem(S(title));
    if (!problem.Empty()) {
      dialogs_.ShowMessage(this, Worded(problem));
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
  // The listener for the commitment report needs a port it can open; a port that will not be used
  // (no commitment, or DICOMweb) is kept as typed, as its field cannot be edited then.
  if (Edit11->isEnabled() && !CommitmentPortUsable(S(Edit11))) {
    dialogs_.ShowMessage(
        this,
        tr("The commitment port \"%1\" is not a port number from 1 to 65535").arg(Edit11->text()));
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
  config_.printCapture = ComboBox1->currentData().toString().toStdString();
  config_.Debug = CheckBox1->isChecked();
  config_.KeepCameraJpegs = CheckBox2->isChecked();
  config_.keepUnsentInOutbox = CheckBox3->isChecked();
  config_.storageCommitment = CheckBox4->isChecked();
  config_.commitmentPort = S(Edit11);
  const std::string language = ComboLanguage->currentData().toString().toStdString();
  const bool languageChanged = language != config_.Language;
  config_.Language = language;
  if (!SaveSettings(settingsPath_, config_)) {
    // The values hold for this run; the user learns that they will not survive a restart.
    dialogs_.ShowMessage(
        this, tr("ERROR, the settings could not be written to %1").arg(Q(settingsPath_)));
  } else if (languageChanged) {
    dialogs_.ShowMessage(this, tr("The window speaks the chosen language from the next start."));
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
  // As for DICOM, the values are tested as typed, before they are saved. Cancel and Esc stop
  // waiting for the answer; the test owns its copy of the settings, as it runs on to its time-out.
  SetupConfig typed = config_;
  WebFields->Store(typed);
  SetTesting(true);
  const std::optional<std::string> message = RunStoppableBesideEventLoop([typed] {
    std::string text;
    TestWebPacs(typed, text);
    return text;
  });
  SetTesting(false);
  if (!message) return;
  dialogs_.ShowMessage(this, Q(*message));
}

void TSetupFrm::Button2Click() {
  TestNode(Edit6->text(), Edit8->text(), Edit9->text());
}

void TSetupFrm::TestNode(const QString& calledAet, const QString& host, const QString& port) {
  // The saved local AE title calls; the remote values are tested as typed, before they are saved.
  const UserMessage problem = AeTitleProblem(calledAet.toStdString());
  if (!problem.Empty()) {
    dialogs_.ShowMessage(this, Worded(problem));
    return;
  }
  RemoteNode node;
  node.callingAet = config_.LocalAET;
  node.calledAet = calledAet.toStdString();
  node.host = host.toStdString();
  node.port = port.toStdString();
  // Cancel and Esc stop the test; nothing else may be pressed meanwhile.
  SetTesting(true);
  const std::optional<bool> answered =
      RunStoppableBesideEventLoop([node] { return EchoSCU(node, kEchoTimeoutSeconds); });
  SetTesting(false);
  if (!answered) return;
  //: %1 is the AE title of the PACS or worklist server tested.
  dialogs_.ShowMessage(this, *answered ? tr("%1 is up and running!").arg(calledAet)
                                       : tr("ERROR, %1 does not answer!").arg(calledAet));
}

void TSetupFrm::SetTesting(bool testing) {
  testing_ = testing;
  for (QWidget* control : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2),
                           static_cast<QWidget*>(BitBtn1), static_cast<QWidget*>(PageControl1)}) {
    control->setEnabled(!testing);
  }
}

void TSetupFrm::reject() {
  // During a test, Cancel and Esc stop the test and leave the dialog open.
  if (testing_ && CancelWorkBesideEventLoop()) return;
  QDialog::reject();
}

void TSetupFrm::FinishTabs() {
  for (QGridLayout* rows : {LocalRows, PacsRows, WorklistRows}) {
    for (int row = 0; row < rows->rowCount(); ++row) rows->setRowStretch(row, 0);
    EndRows(rows);
  }
}
