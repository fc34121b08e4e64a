// Where the program keeps its settings, its work folder and its logs.
#pragma once

#include <filesystem>
#include <string>

// A copy run from a folder it may write to (a build, a portable copy) keeps everything beside its
// executable: velloran.ini, work/ and logs/. An installed copy (its folder not writable, as
// /usr/bin) keeps its settings in $XDG_CONFIG_HOME/velloran/ (~/.config/velloran/) and work/ and
// logs/ in $XDG_DATA_HOME/velloran/ (~/.local/share/velloran/).
struct AppFolders {
  std::filesystem::path applicationFolder;  // the folder of the executable
  std::filesystem::path settingsFile;       // .../velloran.ini
  std::filesystem::path workFolder;         // .../work/
  std::filesystem::path logsFolder;         // .../logs/
  bool perUser = false;                     // true when the per-user folders are used
};

// The folders for an executable living in `executableFolder`.
AppFolders ResolveAppFolders(const std::filesystem::path& executableFolder);

// The folders of the running program (resolved once).
const AppFolders& ThisProgramFolders();

// The per-user data folder ($XDG_DATA_HOME/velloran or ~/.local/share/velloran).
std::filesystem::path PerUserDataFolder();

// Creates the work and logs folders with their missing parents, and for an installed copy the
// per-user data and settings folders. They hold patient data (scans, captured jobs, logs naming
// patients), so each is closed to other users: created with mode 0700, and an existing one of
// this user that is more open (made by an older version) is closed and the files directly in it
// made 0600. Failures are not reported: a later write into a missing folder fails where it
// happens.
void CreateAppFolders(const AppFolders& folders);

// Creates `folder` (its missing parents as usual) with mode 0700, or closes an existing folder of
// this user to others. False, with the reason, when it is missing and cannot be made, is no
// folder, or belongs to another user.
bool MakePrivateFolder(const std::filesystem::path& folder, std::string& problem);

// Mode 0600 for files written into the private folders (work, logs).
inline constexpr unsigned kPrivateFileMode = 0600;

// The user's private runtime folder, for small files that only this user's processes share
// (locks): $XDG_RUNTIME_DIR when it names a folder of this user that nobody else may enter, else
// $XDG_STATE_HOME/velloran (~/.local/state/velloran), made private. Empty, with the reason, when
// neither can be had.
std::filesystem::path PrivateRuntimeFolder(std::string& problem);

// The path of today's log file: logs folder + "yyyymmdd_doc.log".
std::string DailyLogFile(const AppFolders& folders);

// The "files:" section of the programs' --help texts (and so of their manual pages): where the
// settings, the log and the work folder are.
extern const char* const kAppFoldersHelp;
