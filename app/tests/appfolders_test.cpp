// Tests of the program's folders as a shared machine needs them: work, logs and the settings of
// an installed copy closed to other users, whatever the umask and whatever an older version left.
#include "appfolders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "log.h"
#include "testsupport.h"

namespace {

unsigned ModeOf(const std::filesystem::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Sets the process's umask while it lives.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t old_;
};

class PrivateFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Other users may pass through the test's folder: only the program's own modes protect.
    std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
  }
  void TearDown() override {
    ReleaseLogTarget();
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
  }

  testsupport::TempDir dir_;
  // Everything readable to everyone unless the program says otherwise.
  ScopedUmask umask_{0};
};

TEST_F(PrivateFoldersTest, WorkLogsAndTheSettingsOfAnInstalledCopyAreTheUsersAlone) {
  const struct {
    const char* title;
    AppFolders folders;
    std::vector<std::filesystem::path> closed;
  } rows[] = {
      {"beside the executable", ResolveAppFolders(dir_ / "app"), {}},
      {"installed",
       ResolveAppFolders("/usr/bin"),
       {dir_ / "config" / "velloran", dir_ / "data" / "velloran"}},
  };
  std::filesystem::create_directory(dir_ / "app");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    CreateAppFolders(row.folders);
    std::vector<std::filesystem::path> closed = row.closed;
    closed.push_back(row.folders.workFolder.parent_path());
    closed.push_back(row.folders.logsFolder.parent_path());
    for (const auto& folder : closed) EXPECT_EQ(ModeOf(folder), 0700u) << folder;

    // The log file a run starts is the user's alone too.
    SetLogTarget(DailyLogFile(row.folders), "", "");
    WriteLog("INFO, a line naming Roe^Rick");
    EXPECT_EQ(ModeOf(DailyLogFile(row.folders)), 0600u);
    ReleaseLogTarget();
  }
  // Beside the executable only work/ and logs/ change; the program's own folder stays as it was.
  EXPECT_EQ(ModeOf(dir_ / "app"), 0777u);
}

TEST_F(PrivateFoldersTest, FoldersAndFilesAnOlderVersionLeftOpenAreClosed) {
  const AppFolders folders = ResolveAppFolders(dir_.path());
  const std::filesystem::path work = folders.workFolder.parent_path();
  std::filesystem::create_directories(work / "sub");
  ASSERT_EQ(::chmod(work.c_str(), 0755), 0);
  testsupport::WriteFile(work / "120000_1.ps", "%!PS");
  testsupport::WriteFile(work / "scan.jpg", "jpeg");
  ASSERT_EQ(::chmod((work / "scan.jpg").c_str(), 0640), 0);
  CreateAppFolders(folders);
  EXPECT_EQ(ModeOf(work), 0700u);
  EXPECT_EQ(ModeOf(work / "120000_1.ps"), 0600u);
  EXPECT_EQ(ModeOf(work / "scan.jpg"), 0600u);
}

TEST_F(PrivateFoldersTest, AFolderThatIsNoFolderOrNotTheUsersIsReported) {
  std::string problem;
  testsupport::WriteFile(dir_ / "file", "x");
  EXPECT_FALSE(MakePrivateFolder(dir_ / "file", problem));
  EXPECT_EQ(problem, (dir_ / "file").string() + " is not a folder");
  std::filesystem::create_directory(dir_ / "real");
  std::filesystem::create_directory_symlink(dir_ / "real", dir_ / "link");
  EXPECT_FALSE(MakePrivateFolder(dir_ / "link", problem));
  EXPECT_EQ(ModeOf(dir_ / "real"), 0777u);  // not followed
  if (testsupport::SecondUserUnavailable().empty()) {
    std::filesystem::create_directory(dir_ / "theirs");
    ASSERT_EQ(::chown((dir_ / "theirs").c_str(), testsupport::SecondUserId(), 0), 0);
    EXPECT_FALSE(MakePrivateFolder(dir_ / "theirs", problem));
    EXPECT_EQ(problem, (dir_ / "theirs").string() + " belongs to another user");
    EXPECT_EQ(ModeOf(dir_ / "theirs"), 0777u);
  }
}

TEST_F(PrivateFoldersTest, AnotherUserCanNeitherListNorReadWorkAndLogs) {
  const std::string why = testsupport::SecondUserUnavailable();
  if (!why.empty()) GTEST_SKIP() << "needs a second user: " << why;
  const AppFolders folders = ResolveAppFolders(dir_.path());
  CreateAppFolders(folders);
  SetLogTarget(DailyLogFile(folders), "", "");
  WriteLog("INFO, a line naming Roe^Rick");
  const std::filesystem::path scan = folders.workFolder / "scan.jpg";
  testsupport::WriteFile(scan, "jpeg");
  struct Attempt {
    const char* title;
    std::vector<std::string> argv;
  };
  const Attempt attempts[] = {
      {"list work/", {"ls", folders.workFolder.string()}},
      {"list logs/", {"ls", folders.logsFolder.string()}},
      {"read the log", {"cat", DailyLogFile(folders)}},
      {"read a file in work/", {"cat", scan.string()}},
      {"write into work/", {"touch", (folders.workFolder / "planted.pdf").string()}},
  };
  for (const Attempt& attempt : attempts) {
    SCOPED_TRACE(attempt.title);
    const testsupport::CommandResult run =
        testsupport::RunCommand(testsupport::AsSecondUser(attempt.argv));
    EXPECT_NE(run.exitCode, 0) << run.output;
    EXPECT_NE(run.errors.find("Permission denied"), std::string::npos) << run.errors;
  }
  // The same commands as this user work: the folders are closed, not broken.
  EXPECT_EQ(testsupport::RunCommand({"cat", DailyLogFile(folders)}).exitCode, 0);
}

}  // namespace
