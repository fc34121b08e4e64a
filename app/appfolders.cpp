// Where the program keeps its settings, its work folder and its logs.
#include "appfolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// True when `path` is a real folder (no link) of this user that nobody else may enter.
bool IsPrivateFolder(const fs::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

// Files an older version left readable to others directly in a folder just closed.
void CloseFilesIn(const fs::path& folder) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    if (status.st_uid != ::geteuid() || (status.st_mode & 077) == 0) continue;
    ::chmod(entry.path().c_str(), status.st_mode & 0700);
  }
}

}  // namespace

bool MakePrivateFolder(const fs::path& folder, std::string& problem) {
  const fs::path path = folder.has_filename() ? folder : folder.parent_path();
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) {
    problem = path.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    problem = path.string() + " is not a folder";
    return false;
  }
  if (status.st_uid != ::geteuid()) {
    problem = path.string() + " belongs to another user";
    return false;
  }
  if ((status.st_mode & 077) != 0) {
    if (::chmod(path.c_str(), status.st_mode & 0700) != 0) {
      problem = path.string() + ": " + std::strerror(errno);
      return false;
    }
    CloseFilesIn(path);
  }
  return true;
}

fs::path PrivateRuntimeFolder(std::string& problem) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime)) return fs::path(runtime);
  const fs::path state = XdgFolder("XDG_STATE_HOME", ".local/state") / "velloran";
  if (MakePrivateFolder(state, problem)) return state;
  return {};
}

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
  std::string ignored;
  // The per-user data folder first, so that work/ and logs/ are made inside a closed one.
  if (folders.perUser) MakePrivateFolder(folders.workFolder.parent_path().parent_path(), ignored);
  MakePrivateFolder(folders.logsFolder, ignored);
  MakePrivateFolder(folders.workFolder, ignored);
  if (folders.perUser) MakePrivateFolder(folders.settingsFile.parent_path(), ignored);
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
