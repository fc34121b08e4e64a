// Tests of the settings: defaults, reading, the Debug rule, writing all keys, the ini file.
#include "settings.h"

#include <gtest/gtest.h>

#include "inifile.h"
#include "log.h"
#include "testsupport.h"

namespace {

TEST(SettingsTest, MissingFileGivesTheDefaultsAndIsNotCreated) {
  testsupport::TempDir dir;
  const std::string path = (dir / "velloran.ini").string();
  SetupConfig config;
  config.LocalAET = "changed";
  ASSERT_TRUE(LoadSettings(path, config));
  EXPECT_EQ(config.LocalAET, "VELLORAN");
  EXPECT_EQ(config.InstitutionName, "Brindlewick");
  EXPECT_EQ(config.remoteAET, "PACSAET");
  EXPECT_EQ(config.remoteIP, "127.0.0.1");
  EXPECT_EQ(config.remotePort, "11112");
  EXPECT_EQ(config.worklistAET, "WORKLIST");
  EXPECT_EQ(config.worklistIP, "127.0.0.1");
  EXPECT_EQ(config.worklistPort, "11112");
  EXPECT_EQ(config.PrinterPort, "9100");
  EXPECT_FALSE(config.Debug);
  EXPECT_FALSE(config.KeepCameraJpegs);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SettingsTest, ValuesAreReadAsWrittenWithCaseInsensitiveNames) {
  testsupport::TempDir dir;
  const auto path = dir / "velloran.ini";
  testsupport::WriteFile(
      path,
      "[MainForm]\r\nCaption=Clinic\r\n\r\n[VELLORAN]\r\n"
      "localaet = CLINIC1 \r\nInstitutionName=St. Mary's  Clinic\r\n"
      "remotePort=not a number\r\nPrinterPort=\r\n; a comment\r\nKeepCameraJpegs=1\r\n");
  SetupConfig config;
  ASSERT_TRUE(LoadSettings(path.string(), config));
  EXPECT_EQ(config.LocalAET, "CLINIC1");
  EXPECT_EQ(config.InstitutionName, "St. Mary's  Clinic");
  EXPECT_EQ(config.remotePort, "not a number");  // ports stay text, unchecked
  EXPECT_EQ(config.PrinterPort, "");             // present but empty is not missing
  EXPECT_EQ(config.remoteAET, "PACSAET");
  EXPECT_TRUE(config.KeepCameraJpegs);
}

TEST(SettingsTest, DebugIsAnyNonZeroInteger) {
  const struct {
    const char* value;
    bool debug;
  } rows[] = {{"1", true},    {"0", false},    {"-3", true}, {"42", true},
              {"yes", false}, {"true", false}, {"", false},  {" 2 ", true}};
  for (const auto& row : rows) {
    testsupport::TempDir dir;
    const auto path = dir / "v.ini";
    testsupport::WriteFile(path, std::string("[velloran]\nDebug=") + row.value + "\n");
    SetupConfig config;
    LogLevel = 0;
    ASSERT_TRUE(LoadSettings(path.string(), config));
    EXPECT_EQ(config.Debug, row.debug) << "Debug=" << row.value;
    EXPECT_EQ(LogLevel.load(), row.debug ? 2 : 0) << "Debug=" << row.value;
  }
  LogLevel = 0;
}

TEST(SettingsTest, SavingWritesEveryKeyAndKeepsTheRestOfTheFile) {
  testsupport::TempDir dir;
  const auto path = dir / "velloran.ini";
  testsupport::WriteFile(path, "[MainForm]\nCaption=Clinic\n\n[velloran]\nremoteIP=10.0.0.9\n");
  SetupConfig config;
  ASSERT_TRUE(LoadSettings(path.string(), config));
  config.InstitutionName = "New\nName";  // a line break must not create a new key
  ASSERT_TRUE(SaveSettings(path.string(), config));

  IniFile file(path.string());
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.ReadString("MainForm", "Caption", ""), "Clinic");
  for (const char* key :
       {"LocalAET", "InstitutionName", "remoteAET", "remoteIP", "remotePort", "worklistAET",
        "worklistIP", "worklistPort", "PrinterPort", "Debug", "KeepCameraJpegs"}) {
    EXPECT_NE(file.ReadString("velloran", key, "<missing>"), "<missing>") << key;
  }
  EXPECT_EQ(file.ReadString("velloran", "Debug", ""), "0");
  EXPECT_EQ(file.ReadString("velloran", "KeepCameraJpegs", ""), "0");
  EXPECT_EQ(file.ReadString("velloran", "remoteIP", ""), "10.0.0.9");
  EXPECT_EQ(file.ReadString("velloran", "InstitutionName", ""), "New Name");
  EXPECT_EQ(file.ReadString("velloran", "Name", "<missing>"), "<missing>");

  SetupConfig reread;
  ASSERT_TRUE(LoadSettings(path.string(), reread));
  EXPECT_EQ(reread.remoteIP, "10.0.0.9");
  EXPECT_EQ(reread.PrinterPort, "9100");
}

TEST(SettingsTest, SavingIntoAMissingFolderFailsAndSaysSo) {
  testsupport::TempDir dir;
  EXPECT_FALSE(SaveSettings((dir / "no" / "such" / "velloran.ini").string(), SetupConfig{}));
}

TEST(SettingsTest, DefaultPathIsBesideTheExecutable) {
  const std::filesystem::path path = DefaultSettingsPath();
  EXPECT_EQ(path.filename(), "velloran.ini");
  EXPECT_EQ(path.parent_path(), std::filesystem::read_symlink("/proc/self/exe").parent_path());
}

}  // namespace
