// Where the program keeps its settings, its work folder and its logs.
#include "appfolders.h"

#include <unistd.h>

#include <cstdlib>

#include "conversioncontext.h"
#include "settings.h"

namespace fs = std::filesystem;

namespace {

fs::path XdgFolder(const char* variable, const char* fallbackBelowHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return fs::path(value);
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr && home[0] != '\0' ? home : "/tmp") / fallbackBelowHome;
}

fs::path ExecutableFolder() {
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (error) return fs::current_path(error);
  return executable.parent_path();
}

}  // namespace

fs::path PerUserDataFolder() {
  return XdgFolder("XDG_DATA_HOME", ".local/share") / "velloran";
}

AppFolders ResolveAppFolders(const fs::path& executableFolder) {
  AppFolders folders;
  folders.applicationFolder = executableFolder;
  // Root may write anywhere, so a system prefix counts as installed whatever the rights say.
  const std::string folder = executableFolder.lexically_normal().string();
  folders.perUser = folder.rfind("/usr/", 0) == 0 || folder.rfind("/opt/", 0) == 0 ||
                    ::access(executableFolder.c_str(), W_OK) != 0;
  if (!folders.perUser) {
    folders.settingsFile = executableFolder / kSettingsFileName;
    folders.workFolder = executableFolder / "work" / "";
    folders.logsFolder = executableFolder / "logs" / "";
    return folders;
  }
  folders.settingsFile = XdgFolder("XDG_CONFIG_HOME", ".config") / "velloran" / kSettingsFileName;
  const fs::path data = PerUserDataFolder();
  folders.workFolder = data / "work" / "";
  folders.logsFolder = data / "logs" / "";
  return folders;
}

const AppFolders& ThisProgramFolders() {
  static const AppFolders folders = ResolveAppFolders(ExecutableFolder());
  return folders;
}

void CreateAppFolders(const AppFolders& folders) {
  std::error_code ignored;
  fs::create_directories(folders.logsFolder, ignored);
  fs::create_directories(folders.workFolder, ignored);
  if (folders.perUser) fs::create_directories(folders.settingsFile.parent_path(), ignored);
}

const char* const kAppFoldersHelp =
    "files:\n"
    "  velloran.ini            the settings (section \"velloran\"), shared by the window and\n"
    "                          velloran-cli: in $XDG_CONFIG_HOME/velloran/ (~/.config/velloran/)\n"
    "                          for an installed copy, beside the program for a copy run from a\n"
    "                          folder it may write to. /usr/share/velloran/velloran.ini holds\n"
    "                          every setting at its default\n"
    "  logs/yyyymmdd_doc.log   the day's log: in $XDG_DATA_HOME/velloran/\n"
    "                          (~/.local/share/velloran/) for an installed copy, beside the\n"
    "                          program otherwise\n"
    "  work/                   captured print jobs and scanned pages, beside logs/\n";

std::string DailyLogFile(const AppFolders& folders) {
  return (folders.logsFolder / (TodayText() + "_doc.log")).string();
}
