// Filing a received job for the user who printed it: the user's own folder and file, names that
// never replace another job's, and the jobs that are not filed.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <regex>

#include "capturepeers.h"
#include "jobfiling.h"
#include "testsupport.h"

namespace {

using capturetest::FileNames;
using testsupport::ReadFile;

// 10:15:00 local time on some day.
std::time_t AtQuarterPastTen() {
  std::tm local{};
  local.tm_year = 126;
  local.tm_mon = 0;
  local.tm_mday = 2;
  local.tm_hour = 10;
  local.tm_min = 15;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

class JobFiling : public ::testing::Test {
 protected:
  void SetUp() override {
    // Giving a job to another user needs root, as the service has.
    if (geteuid() != 0) GTEST_SKIP() << "filing for another user needs root";
    const std::string why = testsupport::SecondUserUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    std::filesystem::create_directories(spool_);
    testsupport::WriteFile(document_, "%PDF-1.4 a printed letter\n%%EOF\n");
  }

  std::filesystem::path UserFolder() const {
    return spool_ / std::to_string(testsupport::SecondUserId());
  }

  testsupport::TempDir temp_;
  std::filesystem::path spool_ = temp_ / "spool";
  std::filesystem::path document_ = temp_ / "document.pdf";
  JobSpool jobSpool_{spool_, 0};
};

TEST_F(JobFiling, AJobBecomesTheUsersOwnFileNamedAfterItsTitleAndNumber) {
  const struct {
    const char* title;
    int number;
    const char* name;
  } rows[] = {
      {"My Report (v2)", 3, "My_Report__v2__101500_3.pdf"},
      // PAPPL numbers from 1 again after a restart: the same title and time take another name.
      {"My Report (v2)", 3, "My_Report__v2__101500_3_2.pdf"},
      {"My Report (v2)", 3, "My_Report__v2__101500_3_3.pdf"},
      {"  Report\t", 4, "Report_101500_4.pdf"},
      {"", 6, "Unknown_101500_6.pdf"},
      {"../../etc/passwd", 5, "______etc_passwd_101500_5.pdf"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const FilingResult filed = jobSpool_.File(document_, testsupport::kSecondUser, row.title,
                                              row.number, AtQuarterPastTen());
    ASSERT_EQ(filed.problem, "");
    EXPECT_EQ(filed.file, UserFolder() / row.name);
    EXPECT_EQ(ReadFile(filed.file), ReadFile(document_));
    struct stat status {};
    ASSERT_EQ(stat(filed.file.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, testsupport::SecondUserId());
    EXPECT_EQ(status.st_mode & 0777, 0600u);
  }
  struct stat folder {};
  ASSERT_EQ(stat(UserFolder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_uid, testsupport::SecondUserId());
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  // Only whole jobs: no part file stays behind.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(UserFolder())) {
    ++entries;
  }
  EXPECT_EQ(entries, std::size(rows));
}

TEST_F(JobFiling, AJobIsNotFiledWhereItWouldNotBeTheUsersAlone) {
  const struct {
    const char* title;
    std::function<void(const std::filesystem::path& userFolder)> prepare;
    const char* user;
    uint64_t minimumFree;
    const char* problem;
  } rows[] = {
      {"an unknown user", [](const std::filesystem::path&) {}, "no-such-user-here", 0,
       "no user named \"no-such-user-here\" on this computer"},
      {"a user folder that root made and others may read",
       [](const std::filesystem::path& folder) {
         std::filesystem::create_directory(folder);
         std::filesystem::permissions(folder, std::filesystem::perms(0755));
       },
       testsupport::kSecondUser, 0, "is not nobody's own folder"},
      {"a user folder that is a link elsewhere",
       [this](const std::filesystem::path& folder) {
         std::filesystem::create_directory(temp_ / "elsewhere");
         std::filesystem::create_directory_symlink(temp_ / "elsewhere", folder);
       },
       testsupport::kSecondUser, 0, "opening "},
      {"a disk too full", [](const std::filesystem::path&) {}, testsupport::kSecondUser,
       uint64_t{1} << 62, "too little free on the disk of "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    std::filesystem::remove_all(spool_);
    std::filesystem::create_directories(spool_);
    row.prepare(UserFolder());
    const FilingResult filed = JobSpool(spool_, row.minimumFree)
                                   .File(document_, row.user, "Letter", 1, AtQuarterPastTen());
    EXPECT_TRUE(filed.file.empty());
    EXPECT_NE(filed.problem.find(row.problem), std::string::npos) << filed.problem;
    EXPECT_TRUE(FileNames(temp_ / "elsewhere").empty());
    std::error_code missing;
    if (std::filesystem::is_directory(UserFolder(), missing)) {
      EXPECT_TRUE(FileNames(UserFolder()).empty());
    }
  }
}

TEST(OwnFolder, IsMadeWhenMissingAndTrustedOnlyWhenNobodyElseMayWriteIntoIt) {
  testsupport::TempDir temp;
  EXPECT_EQ(OwnFolderProblem(temp / "made", std::filesystem::perms(0700)), "");
  EXPECT_EQ(std::filesystem::status(temp / "made").permissions(), std::filesystem::perms(0700));
  std::filesystem::create_directory(temp / "open");
  std::filesystem::permissions(temp / "open", std::filesystem::perms(0777));
  EXPECT_NE(OwnFolderProblem(temp / "open", std::filesystem::perms(0755)).find("may be written"),
            std::string::npos);
  testsupport::WriteFile(temp / "file", "");
  EXPECT_NE(OwnFolderProblem(temp / "file", std::filesystem::perms(0755)).find("not a folder"),
            std::string::npos);
}

}  // namespace
