// The settings dialog: first-start defaults, OK and Cancel, the Debug rule, the two echo tests.
#include "setupform.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTabWidget>

#include "dcmtk_peer.h"
#include "formfixture.h"
#include "inifile.h"
#include "log.h"

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
  EXPECT_EQ(dialogs_.messages[0].toStdString(), AeTitleProblem(setup.Edit5->text().toStdString()));
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

}  // namespace
