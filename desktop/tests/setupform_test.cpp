// The settings dialog: first-start defaults, OK and Cancel, the Debug rule, the two echo tests.
#include "setupform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "dcmtk_peer.h"
#include "dicomwebfields.h"
#include "formfixture.h"
#include "inifile.h"
#include "log.h"
#include "orthanc.h"

namespace {

class SetupFormTest : public FormTest {
 protected:
  std::string IniPath() const { return (app_ / "velloran.ini").string(); }
};

TEST_F(SetupFormTest, FirstStartShowsTheDefaultsAndOnlyOkWritesEveryKey) {
  TForm1& form = Form();
  TSetupFrm& setup = form.SetupForm();
  EXPECT_EQ(setup.windowTitle(), "Setup");
  EXPECT_EQ(setup.size(), QSize(446, 289));
  EXPECT_EQ(setup.PageControl1->currentIndex(), 0);
  EXPECT_EQ(setup.PageControl1->tabText(0), "Local");
  EXPECT_EQ(setup.PageControl1->tabText(1), "PACS");
  EXPECT_EQ(setup.PageControl1->tabText(2), "WL Server");
  const std::pair<QLineEdit*, const char*> fields[] = {
      {setup.Edit4, "VELLORAN"},  {setup.Edit7, "Brindlewick"}, {setup.Edit5, "PACSAET"},
      {setup.Edit2, "127.0.0.1"}, {setup.Edit3, "11112"},       {setup.Edit6, "WORKLIST"},
      {setup.Edit8, "127.0.0.1"}, {setup.Edit9, "11112"},       {setup.Edit10, "9100"},
  };
  for (const auto& [field, value] : fields) {
    EXPECT_EQ(field->text(), value) << field->objectName().toStdString();
  }
  EXPECT_FALSE(setup.CheckBox1->isChecked());
  EXPECT_FALSE(setup.CheckBox2->isChecked());
  EXPECT_EQ(setup.CheckBox2->text(), "Keep camera JPEGs as they are");
  EXPECT_TRUE(setup.CheckBox3->isChecked());
  EXPECT_EQ(setup.CheckBox3->text(), "Keep unsent objects in the outbox");
  EXPECT_EQ(setup.CheckBox3->parentWidget(), setup.TabSheet2);
  EXPECT_EQ(setup.Edit4->accessibleName(), "Local AET");
  // Print capture goes through the printer application; the printer port is the raw queue's.
  EXPECT_EQ(setup.ComboBox1->currentText(), "printer application (IPP Everywhere)");
  EXPECT_EQ(setup.ComboBox1->accessibleName(), "Print capture");
  EXPECT_FALSE(setup.Edit10->isEnabled());
  setup.ComboBox1->setCurrentIndex(1);
  EXPECT_EQ(setup.ComboBox1->currentText(), "raw queue on the printer port");
  EXPECT_TRUE(setup.Edit10->isEnabled());
  EXPECT_FALSE(std::filesystem::exists(IniPath()));

  // Cancel keeps the record and the file as they were, but the field keeps what was typed.
  setup.Edit5->setText("CHANGED");
  setup.BitBtn2Click();
  EXPECT_EQ(setupcfg.remoteAET, "PACSAET");
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
  EXPECT_EQ(setup.Edit5->text(), "CHANGED");

  setup.Edit7->setText("St. Anne");
  setup.CheckBox2->setChecked(true);
  setup.CheckBox3->setChecked(false);
  setup.BitBtn1Click();
  EXPECT_FALSE(setupcfg.keepUnsentInOutbox);
  EXPECT_EQ(setupcfg.remoteAET, "CHANGED");
  EXPECT_TRUE(setupcfg.KeepCameraJpegs);
  EXPECT_EQ(setupcfg.InstitutionName, "St. Anne");
  IniFile file(IniPath());
  ASSERT_TRUE(file.Load());
  const std::pair<const char*, const char*> keys[] = {
      {"LocalAET", "VELLORAN"},    {"InstitutionName", "St. Anne"},
      {"remoteAET", "CHANGED"},    {"remoteIP", "127.0.0.1"},
      {"remotePort", "11112"},     {"worklistAET", "WORKLIST"},
      {"worklistIP", "127.0.0.1"}, {"worklistPort", "11112"},
      {"PrinterPort", "9100"},     {"Debug", "0"},
      {"KeepCameraJpegs", "1"},    {"keepUnsentInOutbox", "0"},
      {"printCapture", "raw"},
  };
  for (const auto& [key, value] : keys) {
    EXPECT_EQ(file.ReadString("velloran", key, "missing"), value) << key;
  }
}

TEST_F(SetupFormTest, AnAeTitleThatCannotTravelAsEightBitTextIsRefused) {
  TForm1& form = Form();
  TSetupFrm& setup = form.SetupForm();
  setup.Edit5->setText(QString::fromUtf8("\xCE\xA0\xCE\x91\xCE\xA3"));  // Greek letters
  setup.BitBtn1Click();
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_EQ(dialogs_.messages[0].toStdString(),
            AeTitleProblem(setup.Edit5->text().toStdString()).English());
  EXPECT_EQ(setupcfg.remoteAET, "PACSAET");
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
  setup.Button1Click();
  EXPECT_EQ(dialogs_.messages.size(), 2);
  EXPECT_FALSE(dialogs_.messages[1].contains("up and running"));
}

TEST_F(SetupFormTest, ADebugValueThatIsNoNumberReadsAsFalse) {
  const int level = LogLevel;
  LogLevel = 0;
  TForm1& form = Form("[velloran]\nDebug=yes\nLocalAET=CLINIC\nKeepCameraJpegs=1\n");
  EXPECT_FALSE(form.SetupForm().CheckBox1->isChecked());
  EXPECT_FALSE(setupcfg.Debug);
  EXPECT_TRUE(form.SetupForm().CheckBox2->isChecked());
  EXPECT_EQ(form.SetupForm().Edit4->text(), "CLINIC");
  EXPECT_EQ(LogLevel, 0);
  LogLevel = level;
}

TEST_F(SetupFormTest, TheTestsEchoTheTypedServersWithTheSavedLocalTitle) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"));
  testsupport::TempDir received;
  dcmtkpeer::StoreSCP peer(received.path(), {}, {});
  ASSERT_TRUE(peer.Running());
  TForm1& form = Form();
  TSetupFrm& setup = form.SetupForm();
  setup.Edit5->setText("UNSAVED");
  setup.Edit3->setText(QString::fromStdString(peer.Port()));
  setup.Button1Click();
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_EQ(dialogs_.messages[0], "UNSAVED is up and running!");
  setup.Edit6->setText("NOBODY");
  setup.Edit9->setText(QString::number(testsupport::FreePort()));
  setup.Button2Click();
  EXPECT_EQ(dialogs_.messages[1], "ERROR, NOBODY does not answer!");
  EXPECT_FALSE(std::filesystem::exists(IniPath()));  // testing saves nothing
}

// The PACS tab: DICOMweb replaces the DICOM fields when chosen, the login shows only its own
// fields, unusable DICOMweb values are refused like an AE title, and OK writes every key, keeping
// the file from other users once it holds a password.
TEST_F(SetupFormTest, ThePacsTabSwitchesToDicomwebAndOkWritesItsKeys) {
  TForm1& form = Form();
  TSetupFrm& setup = form.SetupForm();
  DicomWebFields& web = *setup.WebFields;
  EXPECT_EQ(web.Protocol->currentText(), "DICOM");
  EXPECT_FALSE(setup.Edit5->isHidden());
  EXPECT_TRUE(web.isHidden());
  web.Protocol->setCurrentIndex(1);
  EXPECT_EQ(web.Protocol->currentText(), "DICOMweb");
  for (QWidget* dicom : {static_cast<QWidget*>(setup.Edit5), static_cast<QWidget*>(setup.Edit2),
                         static_cast<QWidget*>(setup.Edit3)}) {
    EXPECT_TRUE(dicom->isHidden()) << dicom->objectName().toStdString();
  }
  EXPECT_FALSE(web.isHidden());
  EXPECT_FALSE(setup.Button1->isHidden());  // Test serves both
  // The defaults: no login, the certificate checked.
  EXPECT_EQ(web.Url->text(), "http://127.0.0.1:8042/dicom-web");
  EXPECT_EQ(web.Login->currentData().toString(), "none");
  EXPECT_TRUE(web.Verify->isChecked());
  EXPECT_FALSE(web.PlainLogin->isChecked());
  EXPECT_EQ(web.Timeout->text(), "60");
  struct Visible {
    const char* login;
    bool user, token;
  };
  for (const Visible& row : {Visible{"basic", true, false}, Visible{"bearer", false, true},
                             Visible{"none", false, false}}) {
    web.Login->setCurrentIndex(web.Login->findData(row.login));
    EXPECT_EQ(!web.User->isHidden(), row.user) << row.login;
    EXPECT_EQ(!web.Password->isHidden(), row.user) << row.login;
    EXPECT_EQ(!web.PlainLogin->isHidden(), row.user) << row.login;
    EXPECT_EQ(!web.Token->isHidden(), row.token) << row.login;
  }

  web.Url->setText("ftp://pacs.example/dicom-web");
  setup.BitBtn1Click();
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(dialogs_.messages[0].contains("ftp://pacs.example"))
      << dialogs_.messages[0].toStdString();
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
  web.Url->setText("https://pacs.example/dicom-web");
  web.Timeout->setText("soon");
  setup.BitBtn1Click();
  ASSERT_EQ(dialogs_.messages.size(), 2);
  EXPECT_TRUE(dialogs_.messages[1].contains("time-out"));
  EXPECT_EQ(setupcfg.remoteProtocol, "DICOM");

  web.Timeout->setText("30");
  web.Login->setCurrentIndex(web.Login->findData("basic"));
  web.User->setText("clinic");
  web.Password->setText("s3cret");
  web.CaFile->setText("/etc/velloran/ca.pem");
  web.Verify->setChecked(false);
  setup.BitBtn1Click();
  EXPECT_EQ(dialogs_.messages.size(), 2);
  EXPECT_EQ(setupcfg.remoteProtocol, "DICOMweb");
  EXPECT_EQ(setupcfg.webAuth, "basic");
  IniFile file(IniPath());
  ASSERT_TRUE(file.Load());
  const std::pair<const char*, const char*> keys[] = {
      {"remoteProtocol", "DICOMweb"},
      {"webURL", "https://pacs.example/dicom-web"},
      {"webAuth", "basic"},
      {"webUser", "clinic"},
      {"webPassword", "s3cret"},
      {"webCAFile", "/etc/velloran/ca.pem"},
      {"webVerify", "0"},
      {"webTimeout", "30"},
  };
  for (const auto& [key, value] : keys) {
    EXPECT_EQ(file.ReadString("velloran", key, "missing"), value) << key;
  }
  EXPECT_EQ(std::filesystem::status(IniPath()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// Storage commitment on the PACS tab: the port is editable only while commitment is asked of a
// DICOM PACS, a port the listener could not open is refused before anything is stored, and the
// values come back from the ini into a dialog opened afresh.
TEST_F(SetupFormTest, TheCommitmentFieldsFollowTheChoicesAndRoundTripThroughTheIni) {
  TForm1& form = Form("[velloran]\nstorageCommitment=1\ncommitmentPort=11113\n");
  TSetupFrm& setup = form.SetupForm();
  DicomWebFields& web = *setup.WebFields;
  EXPECT_EQ(setup.CheckBox4->parentWidget(), setup.TabSheet2);
  EXPECT_EQ(setup.Edit11->accessibleName(), "Commitment port");
  EXPECT_TRUE(setup.CheckBox4->isChecked());
  EXPECT_EQ(setup.Edit11->text(), "11113");
  struct Enabled {
    int protocol;
    bool commitment;
    bool checkBox, port;
  };
  for (const Enabled& row : {Enabled{0, false, true, false}, Enabled{1, true, false, false},
                             Enabled{1, false, false, false}, Enabled{0, true, true, true}}) {
    web.Protocol->setCurrentIndex(row.protocol);
    setup.CheckBox4->setChecked(row.commitment);
    EXPECT_EQ(setup.CheckBox4->isEnabled(), row.checkBox) << row.protocol << row.commitment;
    EXPECT_EQ(setup.Edit11->isEnabled(), row.port) << row.protocol << row.commitment;
  }

  const char* const refused[] = {"abc", "0", "65536", "70000", "104x", " 104", "-1"};
  for (const char* port : refused) {
    setup.Edit11->setText(port);
    setup.BitBtn1Click();
    ASSERT_FALSE(dialogs_.messages.isEmpty()) << port;
    EXPECT_EQ(
        dialogs_.messages.last().toStdString(),
        std::string("The commitment port \"") + port + "\" is not a port number from 1 to 65535");
  }
  EXPECT_EQ(dialogs_.messages.size(), std::size(refused));
  EXPECT_EQ(setupcfg.commitmentPort, "11113");
  IniFile before(IniPath());
  ASSERT_TRUE(before.Load());
  EXPECT_EQ(before.ReadString("velloran", "commitmentPort", "missing"), "11113");

  // Without commitment the port is not used, and the field that cannot be edited then does not
  // hold the dialog up.
  setup.CheckBox4->setChecked(false);
  setup.BitBtn1Click();
  EXPECT_EQ(dialogs_.messages.size(), std::size(refused));
  EXPECT_FALSE(setupcfg.storageCommitment);

  for (const char* port : {"65535", ""}) {
    setup.CheckBox4->setChecked(true);
    setup.Edit11->setText(port);
    setup.BitBtn1Click();
    EXPECT_EQ(dialogs_.messages.size(), std::size(refused)) << port;
    IniFile file(IniPath());
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadString("velloran", "storageCommitment", "missing"), "1");
    EXPECT_EQ(file.ReadString("velloran", "commitmentPort", "missing"), port);
    SetupConfig reread;
    TSetupFrm again(IniPath(), reread, dialogs_);
    EXPECT_TRUE(again.CheckBox4->isChecked()) << port;
    EXPECT_EQ(again.Edit11->text(), port);
    EXPECT_TRUE(again.Edit11->isEnabled());
  }
}

TEST_F(SetupFormTest, DicomwebSettingsFromTheIniFillTheTab) {
  TForm1& form = Form(
      "[velloran]\nremoteProtocol=dicomweb\nwebURL=https://cloud.example/dw\nwebAuth=Bearer\n"
      "webToken=abc\nwebVerify=1\n");
  DicomWebFields& web = *form.SetupForm().WebFields;
  EXPECT_TRUE(web.UsesWeb());
  EXPECT_EQ(web.Url->text(), "https://cloud.example/dw");
  EXPECT_EQ(web.Login->currentData().toString(), "bearer");
  EXPECT_EQ(web.Token->text(), "abc");
  EXPECT_FALSE(web.Token->isHidden());
  EXPECT_TRUE(form.SetupForm().Edit5->isHidden());
}

// Test on the DICOMweb choice searches the typed server, before anything is saved, and says in
// plain words what it answered: up and running, or the refused login.
TEST_F(SetupFormTest, TheTestSearchesTheTypedDicomwebServer) {
  ASSERT_TRUE(testsupport::OrthancPacs::DicomWebAvailable()) << "Orthanc's DICOMweb plugin missing";
  testsupport::TempDir work;
  testsupport::OrthancPacs::Options options;
  options.dicomWeb = true;
  options.user = "clinic";
  options.password = "right";
  testsupport::OrthancPacs pacs(work, options);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  TForm1& form = Form();
  TSetupFrm& setup = form.SetupForm();
  DicomWebFields& web = *setup.WebFields;
  web.Protocol->setCurrentIndex(1);
  web.Url->setText(QString::fromStdString(pacs.WebUrl()));
  web.Login->setCurrentIndex(web.Login->findData("basic"));
  web.User->setText("clinic");
  web.Password->setText("right");
  // Over http:// the password would travel readable: refused until the user allows it, and then
  // the Test warns.
  setup.Button1Click();
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(dialogs_.messages[0].contains("would send the password to"))
      << dialogs_.messages[0].toStdString();
  web.PlainLogin->setChecked(true);
  setup.Button1Click();
  ASSERT_EQ(dialogs_.messages.size(), 2);
  EXPECT_TRUE(dialogs_.messages[1].contains("is up and running! (HTTP 200"))
      << dialogs_.messages[1].toStdString();
  EXPECT_TRUE(dialogs_.messages[1].contains("travels unencrypted"))
      << dialogs_.messages[1].toStdString();
  web.Password->setText("wrong");
  setup.Button1Click();
  ASSERT_EQ(dialogs_.messages.size(), 3);
  EXPECT_TRUE(dialogs_.messages[2].contains("refused the login"))
      << dialogs_.messages[2].toStdString();
  EXPECT_FALSE(std::filesystem::exists(IniPath()));  // testing saves nothing
  EXPECT_EQ(setupcfg.remoteProtocol, "DICOM");
}

}  // namespace
