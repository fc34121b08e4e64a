// The program's settings: the record `setupcfg`, its ini file, loading and saving.
#include "settings.h"

#include <filesystem>

#include "appfolders.h"
#include "charset.h"
#include "inifile.h"
#include "log.h"

SetupConfig setupcfg;

namespace {

// The text keys in the order they are read and written.
struct TextKey {
  const char* name;
  std::string SetupConfig::*field;
};

constexpr TextKey kTextKeys[] = {
    {"LocalAET", &SetupConfig::LocalAET},       {"InstitutionName", &SetupConfig::InstitutionName},
    {"remoteAET", &SetupConfig::remoteAET},     {"remoteIP", &SetupConfig::remoteIP},
    {"remotePort", &SetupConfig::remotePort},   {"worklistAET", &SetupConfig::worklistAET},
    {"worklistIP", &SetupConfig::worklistIP},   {"worklistPort", &SetupConfig::worklistPort},
    {"PrinterPort", &SetupConfig::PrinterPort}, {"printCapture", &SetupConfig::printCapture},
};

// The DICOMweb keys, written after Debug; webVerify and webPlainLogin are the booleans among
// them.
constexpr TextKey kWebTextKeys[] = {
    {"remoteProtocol", &SetupConfig::remoteProtocol},
    {"webURL", &SetupConfig::webURL},
    {"webAuth", &SetupConfig::webAuth},
    {"webUser", &SetupConfig::webUser},
    {"webPassword", &SetupConfig::webPassword},
    {"webToken", &SetupConfig::webToken},
    {"webCAFile", &SetupConfig::webCAFile},
    {"webTimeout", &SetupConfig::webTimeout},
};

}  // namespace

std::string DefaultSettingsPath() {
  return ThisProgramFolders().settingsFile.string();
}

bool LoadSettings(const std::string& path, SetupConfig& config) {
  const SetupConfig defaults;
  IniFile file(path);
  if (!file.Load()) {
    config = defaults;
    WriteLog("ERROR, LoadSettings, cannot read " + path);
    return false;
  }
  for (const TextKey& key : kTextKeys) {
    // A file written by an 8-bit editor holds Windows-1252; the program's texts are UTF-8.
    config.*key.field =
        TextToUtf8(file.ReadString(kSettingsSection, key.name, defaults.*key.field));
  }
  config.Debug = file.ReadBool(kSettingsSection, "Debug", defaults.Debug);
  config.KeepCameraJpegs =
      file.ReadBool(kSettingsSection, "KeepCameraJpegs", defaults.KeepCameraJpegs);
  config.keepUnsentInOutbox =
      file.ReadBool(kSettingsSection, "keepUnsentInOutbox", defaults.keepUnsentInOutbox);
  for (const TextKey& key : kWebTextKeys) {
    config.*key.field =
        TextToUtf8(file.ReadString(kSettingsSection, key.name, defaults.*key.field));
  }
  config.webVerify = file.ReadBool(kSettingsSection, "webVerify", defaults.webVerify);
  config.webPlainLogin = file.ReadBool(kSettingsSection, "webPlainLogin", defaults.webPlainLogin);
  config.storageCommitment =
      file.ReadBool(kSettingsSection, "storageCommitment", defaults.storageCommitment);
  config.commitmentPort =
      file.ReadString(kSettingsSection, "commitmentPort", defaults.commitmentPort);
  config.Language = file.ReadString(kSettingsSection, "Language", defaults.Language);
  if (config.Debug) LogLevel = 2;
  return true;
}

UserMessage AeTitleProblem(const std::string& title) {
  std::string narrow;
  std::string refused;
  if (Utf8ToCp1252Strict(TextToUtf8(title), narrow, refused)) return {};
  return UserMessage(UserMessageKind::AeTitleRefusedCharacter,
                     {UserMessage::Text(title), UserMessage::Text(refused)});
}

bool SaveSettings(const std::string& path, const SetupConfig& config) {
  if (config.Debug) LogLevel = 2;
  IniFile file(path);
  // Other sections (the window captions) and comments survive the rewrite.
  if (!file.Load()) {
    WriteLog("ERROR, SaveSettings, cannot read " + path);
    return false;
  }
  for (const TextKey& key : kTextKeys)
    file.WriteString(kSettingsSection, key.name, config.*key.field);
  file.WriteBool(kSettingsSection, "Debug", config.Debug);
  file.WriteBool(kSettingsSection, "KeepCameraJpegs", config.KeepCameraJpegs);
  file.WriteBool(kSettingsSection, "keepUnsentInOutbox", config.keepUnsentInOutbox);
  for (const TextKey& key : kWebTextKeys)
    file.WriteString(kSettingsSection, key.name, config.*key.field);
  file.WriteBool(kSettingsSection, "webVerify", config.webVerify);
  file.WriteBool(kSettingsSection, "webPlainLogin", config.webPlainLogin);
  file.WriteBool(kSettingsSection, "storageCommitment", config.storageCommitment);
  file.WriteString(kSettingsSection, "commitmentPort", config.commitmentPort);
  file.WriteString(kSettingsSection, "Language", config.Language);
  const bool holdsSecret = !config.webPassword.empty() || !config.webToken.empty();
  if (!file.Save(holdsSecret ? IniFile::Access::OwnerOnly : IniFile::Access::AsBefore)) {
    WriteLog("ERROR, SaveSettings, cannot write " + path);
    return false;
  }
  return true;
}
