// Tests of the settings: defaults, reading, the Debug rule, writing all keys, the ini file.
#include "settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "inifile.h"
#include "log.h"
#include "testsupport.h"
#include "webpacs.h"

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
  EXPECT_EQ(config.printCapture, "application");
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
        "worklistIP", "worklistPort", "PrinterPort", "printCapture", "Debug", "KeepCameraJpegs"}) {
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

TEST(SettingsTest, StorageCommitmentIsOffByDefaultAndItsKeysRoundTrip) {
  testsupport::TempDir dir;
  const auto path = dir / "velloran.ini";
  testsupport::WriteFile(path, "[velloran]\n");
  SetupConfig config;
  ASSERT_TRUE(LoadSettings(path.string(), config));
  EXPECT_FALSE(config.storageCommitment);
  EXPECT_EQ(config.commitmentPort, "");
  config.storageCommitment = true;
  config.commitmentPort = "11113";
  ASSERT_TRUE(SaveSettings(path.string(), config));
  SetupConfig reread;
  ASSERT_TRUE(LoadSettings(path.string(), reread));
  EXPECT_TRUE(reread.storageCommitment);
  EXPECT_EQ(reread.commitmentPort, "11113");
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

TEST(SettingsTest, DicomWebKeysRoundTripAndSecretsAreKeptFromOthers) {
  testsupport::TempDir dir;
  const std::string path = (dir / "velloran.ini").string();
  SetupConfig defaults;
  ASSERT_TRUE(LoadSettings(path, defaults));
  EXPECT_EQ(defaults.remoteProtocol, "DICOM");
  EXPECT_EQ(defaults.webURL, "http://127.0.0.1:8042/dicom-web");
  EXPECT_EQ(defaults.webAuth, "none");
  EXPECT_TRUE(defaults.webVerify);
  EXPECT_EQ(defaults.webTimeout, "60");
  EXPECT_FALSE(UsesDicomWeb(defaults));

  // Without a secret the file is written with the usual permissions.
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(SaveSettings(path, defaults));
  auto mode = [&] {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 0777;
  };
  EXPECT_EQ(mode(), 0644u);

  SetupConfig web = defaults;
  web.remoteProtocol = "dicomweb";
  web.webURL = "https://pacs.example/dicom-web";
  web.webAuth = "basic";
  web.webUser = "clinic";
  web.webPassword = "s3cret";
  web.webCAFile = "/etc/velloran/ca.pem";
  web.webVerify = false;
  web.webTimeout = "15";
  web.webPlainLogin = true;
  ASSERT_TRUE(SaveSettings(path, web));
  EXPECT_EQ(mode(), 0600u);
  SetupConfig reread;
  ASSERT_TRUE(LoadSettings(path, reread));
  EXPECT_TRUE(UsesDicomWeb(reread));
  EXPECT_EQ(reread.webURL, web.webURL);
  EXPECT_EQ(reread.webAuth, "basic");
  EXPECT_EQ(reread.webUser, "clinic");
  EXPECT_EQ(reread.webPassword, "s3cret");
  EXPECT_EQ(reread.webCAFile, web.webCAFile);
  EXPECT_FALSE(reread.webVerify);
  EXPECT_EQ(reread.webTimeout, "15");
  EXPECT_TRUE(reread.webPlainLogin);

  // Once the owner's alone, the file stays so when the secret goes; a rewrite keeps whatever
  // permissions the file was given.
  reread.webPassword.clear();
  ASSERT_TRUE(SaveSettings(path, reread));
  EXPECT_EQ(mode(), 0600u);
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(SaveSettings(path, reread));
  EXPECT_EQ(mode(), 0640u);
  // A file left over from an interrupted save does not pass its wider mode on.
  testsupport::TempDir other;
  const std::string fresh = (other / "velloran.ini").string();
  testsupport::WriteFile(fresh + ".part", "old");
  ::chmod((fresh + ".part").c_str(), 0666);
  web.webAuth = "bearer";
  web.webPassword.clear();
  web.webToken = "t0ken";
  ASSERT_TRUE(SaveSettings(fresh, web));
  struct stat status {};
  ASSERT_EQ(::stat(fresh.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  ::umask(mask);
}

TEST(SettingsTest, TheDicomWebServerComesFromTheSettingsOrTheirProblemIsSaid) {
  const struct {
    const char* name;
    std::string url, auth, user, token, timeout;
    const char* problem;  // empty when usable
  } rows[] = {
      {"plain", "http://127.0.0.1:8042/dicom-web", "none", "", "", "60", ""},
      {"basic login", "https://pacs.example/dicom-web", "Basic", "clinic", "", "5", ""},
      {"bearer login", "https://pacs.example/dicom-web", "bearer", "", "tok", "30", ""},
      {"no scheme", "pacs.example/dicom-web", "none", "", "", "60",
       "The DICOMweb address \"pacs.example/dicom-web\" must start with https:// or http://"},
      {"unknown login", "https://pacs.example/dicom-web", "digest", "", "", "60",
       "The DICOMweb login \"digest\" is none of none, basic and bearer"},
      {"basic without user", "https://pacs.example/dicom-web", "basic", "", "", "60",
       "DICOMweb basic login needs a user name"},
      {"bearer without token", "https://pacs.example/dicom-web", "bearer", "", "", "60",
       "DICOMweb bearer login needs a token"},
      {"time-out not a number", "https://pacs.example/dicom-web", "none", "", "", "1m",
       "The DICOMweb time-out \"1m\" is not a number of seconds"},
      {"time-out of nothing", "https://pacs.example/dicom-web", "none", "", "", "0",
       "The DICOMweb time-out must be a positive number of seconds"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetupConfig settings;
    settings.webURL = row.url;
    settings.webAuth = row.auth;
    settings.webUser = row.user;
    settings.webPassword = "pw";
    settings.webToken = row.token;
    settings.webTimeout = row.timeout;
    settings.webCAFile = "/ca.pem";
    settings.webVerify = false;
    DicomWebServer server;
    std::string problem;
    EXPECT_EQ(WebPacs(settings, server, problem), std::string(row.problem).empty());
    EXPECT_EQ(problem, row.problem);
    if (problem.empty()) {
      EXPECT_EQ(server.baseUrl, row.url);
      EXPECT_EQ(server.timeoutSeconds, std::stoi(row.timeout));
      EXPECT_EQ(server.caFile, "/ca.pem");
      EXPECT_FALSE(server.verifyCertificate);
      EXPECT_EQ(server.password, "pw");
    }
  }
}

}  // namespace
