// Tests of the batch UID root: uniqueness across batches, processes and users, the
// 64-character limit, and the stamp file that other users can neither reach nor hold.
#include "batchuid.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <thread>

#include "appfolders.h"
#include "batch.h"
#include "log.h"
#include "testsupport.h"
#include "uids.h"

namespace {

std::string Root() {
  return kOrganisationUidRoot;
}

bool IsValidUid(const std::string& uid) {
  if (uid.empty() || uid.size() > kMaxUidLength || uid.front() == '.' || uid.back() == '.') {
    return false;
  }
  for (size_t i = 0; i < uid.size(); ++i) {
    if (uid[i] == '.') {
      if (uid[i - 1] == '.') return false;
      continue;
    }
    if (uid[i] < '0' || uid[i] > '9') return false;
    // No component of more than one digit starts with a zero.
    const bool starts = i == 0 || uid[i - 1] == '.';
    if (starts && uid[i] == '0' && i + 1 < uid.size() && uid[i + 1] != '.') return false;
  }
  return true;
}

TEST(BatchUidTest, TheStampReplacesTheMinuteAndTheRestStays) {
  const std::string generated =
      GenerateUid("WS-0001-7Q9Z", "PID4711", "", "20230118", "143210", "129");
  ASSERT_EQ(generated.substr(Root().size()), ".12900107090.4711.2301181432");
  EXPECT_EQ(MakeBatchUidRoot(generated, 1000, 1234567, 10),
            Root() + ".12900107090.4711.1000.1234567");
  // Two users, the same patient, accession and stamp: different roots.
  EXPECT_EQ(MakeBatchUidRoot(generated, 0, 1234567, 10), Root() + ".12900107090.4711.0.1234567");
  EXPECT_EQ(MakeBatchUidRoot("", 0, 1, 1), "");
}

TEST(BatchUidTest, InstanceUidsFitSixtyFourCharactersForLongIdsAndLargeBatches) {
  // Patient IDs and accession numbers long enough for four characters each, with dots inside
  // that would leave empty components, the largest stamps until 2051, and user IDs from root's to
  // the largest a system hands out.
  const struct {
    const char* patientId;
    const char* accession;
  } ids[] = {{"PATIENT-123456789", "ACC-987654321"}, {"12.", "..5"}, {"0000", "0000"}, {"X", "Y"}};
  for (const auto& id : ids) {
    const std::string generated = GenerateUid("a1b2c3d4e5f60718293a4b5c6d7e8f90", id.patientId,
                                              id.accession, "20991231", "235959", "129");
    for (uint64_t user : {uint64_t{0}, uint64_t{1000}, uint64_t{65534}, uint64_t{4294967294}}) {
      for (size_t items :
           {size_t{1}, size_t{9}, size_t{10}, size_t{500}, size_t{9999}, size_t{99999}}) {
        const std::string root = MakeBatchUidRoot(generated, user, 9999999999ull, items);
        const std::string longest = root + ".10." + std::to_string(items);
        EXPECT_LE(longest.size(), kMaxUidLength) << longest;
        EXPECT_TRUE(IsValidUid(longest)) << longest;
        EXPECT_TRUE(IsValidUid(root + ".20")) << root;
        EXPECT_EQ(root.substr(0, Root().size()), Root());
        EXPECT_TRUE(root.ends_with(".9999999999")) << root;
        // User IDs of up to five digits always stay whole, so users never share a root.
        if (user <= 99999) {
          EXPECT_NE(root.find("." + std::to_string(user) + ".9999999999"), std::string::npos)
              << root;
        }
      }
    }
  }
}

// Sets an environment variable (or removes it, for nullopt) while it lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

unsigned ModeOf(const std::filesystem::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// True while some process holds the lock of `path`.
bool Locked(const std::filesystem::path& path) {
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  const bool held = ::flock(file, LOCK_EX | LOCK_NB) != 0;
  ::close(file);
  return held;
}

bool WaitUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The stamp file in a private runtime folder of the test's own, and a state folder for when that
// folder cannot be used.
class BatchStampTest : public ::testing::Test {
 protected:
  BatchStampTest() {
    ReleaseLogTarget();
    SetLogTarget((temp_ / "test.log").string(), "", "");
  }
  ~BatchStampTest() override { ReleaseLogTarget(); }

  std::filesystem::path StateStampFile() const {
    return temp_ / "state" / "velloran" / kBatchStampFileName;
  }

  testsupport::TempDir temp_;
  std::filesystem::path runtime_ = temp_ / "runtime";
  ScopedVariable runtimeVariable_{"XDG_RUNTIME_DIR", runtime_.string()};
  ScopedVariable stateVariable_{"XDG_STATE_HOME", (temp_ / "state").string()};
};

TEST_F(BatchStampTest, StampsNeverRepeat) {
  std::filesystem::create_directory(runtime_);
  std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
  std::set<uint64_t> seen;
  uint64_t last = 0;
  for (int i = 0; i < 200; ++i) {
    UserMessage problem;
    const std::optional<uint64_t> stamp = NextBatchStamp(problem);
    ASSERT_TRUE(stamp) << problem;
    EXPECT_GT(*stamp, last);
    EXPECT_TRUE(seen.insert(*stamp).second);
    last = *stamp;
  }
}

TEST_F(BatchStampTest, TheStampFileIsPrivateAndAnOpenRuntimeFolderIsPassedOver) {
  const struct {
    const char* title;
    unsigned runtimeMode;  // 0: no runtime folder
    bool runtimeUsed;
  } rows[] = {
      {"private runtime folder", 0700, true},
      {"runtime folder others may read", 0755, false},
      {"runtime folder everyone may write, as /tmp", 01777, false},
      {"no runtime folder", 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    std::filesystem::remove_all(runtime_);
    std::filesystem::remove_all(temp_ / "state");
    if (row.runtimeMode != 0) {
      std::filesystem::create_directory(runtime_);
      ASSERT_EQ(::chmod(runtime_.c_str(), row.runtimeMode), 0);
    }
    UserMessage problem;
    ASSERT_TRUE(NextBatchStamp(problem)) << problem;
    const std::filesystem::path used =
        row.runtimeUsed ? runtime_ / kBatchStampFileName : StateStampFile();
    EXPECT_EQ(ModeOf(used), 0600u);
    EXPECT_EQ(std::filesystem::exists(runtime_ / kBatchStampFileName), row.runtimeUsed);
    if (!row.runtimeUsed) EXPECT_EQ(ModeOf(used.parent_path()), 0700u);
  }
}

TEST_F(BatchStampTest, ALinkOrAnotherUsersFileAtTheStampsPlaceIsNeverWritten) {
  std::filesystem::create_directory(runtime_);
  std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
  const std::filesystem::path stampFile = runtime_ / kBatchStampFileName;
  const std::filesystem::path victim = temp_ / "victim";
  const struct {
    const char* title;
    bool needsRoot;
    std::function<void()> plant;
  } rows[] = {
      {"a link to another file", false,
       [&] { std::filesystem::create_symlink(victim, stampFile); }},
      {"a file of another user", true,
       [&] {
         testsupport::WriteFile(stampFile, "victim\n");
         ASSERT_EQ(::chown(stampFile.c_str(), testsupport::SecondUserId(), 0), 0);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    if (row.needsRoot && geteuid() != 0) continue;  // only root can give a file away
    std::filesystem::remove(stampFile);
    testsupport::WriteFile(victim, "victim\n");
    row.plant();
    UserMessage problem;
    // The batch still gets a stamp, numbered by this process alone.
    EXPECT_TRUE(NextBatchStamp(problem)) << problem;
    EXPECT_EQ(testsupport::ReadFile(victim), "victim\n");
    if (std::filesystem::is_regular_file(stampFile) && !std::filesystem::is_symlink(stampFile)) {
      EXPECT_EQ(testsupport::ReadFile(stampFile), "victim\n");
    }
    EXPECT_NE(testsupport::ReadFile(temp_ / "test.log").find("WARNING, NextBatchStamp, "),
              std::string::npos);
  }
}

TEST_F(BatchStampTest, AStampFileHeldByAnotherProcessEndsTheWaitWithAMessage) {
  ASSERT_TRUE(testsupport::HaveProgram("flock"));
  std::filesystem::create_directory(runtime_);
  std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
  const std::filesystem::path stampFile = runtime_ / kBatchStampFileName;
  testsupport::WriteFile(stampFile, "1\n");
  std::filesystem::permissions(stampFile, std::filesystem::perms(0600));
  {
    testsupport::ChildProcess holder({"flock", "-x", stampFile.string(), "sleep", "60"});
    ASSERT_TRUE(WaitUntil([&] { return Locked(stampFile); }));

    UserMessage problem;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(NextBatchStamp(problem, std::chrono::milliseconds(300)));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(30));  // it gave up rather than waiting for the holder
    EXPECT_EQ(problem.English(), "Cannot number the batch: another program of this user holds " +
                                     stampFile.string() + " (waited 0.3 s). Please try again.");

    // The batch does not run: its UIDs could repeat another's.
    BatchForm form;
    form.patientName = "Roe^Rick";
    form.patientId = "PID7";
    std::string message;
    EXPECT_FALSE(PrepareBatch(form, nullptr, 1, SetupConfig{}, message));
    EXPECT_EQ(message, "Cannot number the batch: another program of this user holds " +
                           stampFile.string() + " (waited 1 s). Please try again.");
    EXPECT_EQ(BatchUIDRoot, "");
  }
  UserMessage problem;
  EXPECT_TRUE(NextBatchStamp(problem)) << problem;
}

// What a second user of the machine does to the batches of this one.
class SecondUserTest : public BatchStampTest {
 protected:
  void SetUp() override {
    const std::string why = testsupport::SecondUserUnavailable();
    if (!why.empty()) GTEST_SKIP() << "needs a second user: " << why;
    // The second user must reach the test's folders, so their own modes are what protects.
    std::filesystem::permissions(temp_.path(), std::filesystem::perms(0755));
  }

  // A folder of the second user's own, mode 0700.
  std::filesystem::path SecondUsersFolder(const std::string& name) {
    const std::filesystem::path folder = temp_ / name;
    std::filesystem::create_directory(folder);
    EXPECT_EQ(::chown(folder.c_str(), testsupport::SecondUserId(), 0), 0);
    EXPECT_EQ(::chmod(folder.c_str(), 0700), 0);
    return folder;
  }
};

TEST_F(SecondUserTest, AnotherUsersLockNeitherDelaysNorStopsTheBatch) {
  const std::filesystem::path shared = temp_ / "shared";
  std::filesystem::create_directory(shared);
  ::chmod(shared.c_str(), 01777);
  const struct {
    const char* title;
    std::filesystem::path runtime;  // this user's runtime folder variable
    std::filesystem::path held;     // the file the second user locks
  } rows[] = {
      // Where the stamp file used to be: a folder every user shares.
      {"the shared temporary folder", runtime_, shared / kBatchStampFileName},
      // A runtime variable pointing at a folder everyone may write.
      {"a runtime folder everyone may write", shared, shared / kBatchStampFileName},
      // A runtime variable pointing at the second user's own folder.
      {"the second user's runtime folder", SecondUsersFolder("theirs"),
       temp_ / "theirs" / kBatchStampFileName},
  };
  std::filesystem::create_directory(runtime_);
  std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    ScopedVariable runtime("XDG_RUNTIME_DIR", row.runtime.string());
    testsupport::ChildProcess holder(
        testsupport::AsSecondUser({"flock", "-x", row.held.string(), "sleep", "60"}));
    ASSERT_TRUE(WaitUntil([&] { return Locked(row.held); }));

    BatchForm form;
    form.patientName = "Roe^Rick";
    form.patientId = "PID7";
    std::string message;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(PrepareBatch(form, nullptr, 1, SetupConfig{}, message)) << message;
    EXPECT_LT(std::chrono::steady_clock::now() - start, kBatchStampWait);
    EXPECT_FALSE(BatchUIDRoot.empty());
    // The stamp went to a private folder of this user; the other user's file was not touched.
    const std::filesystem::path used =
        row.runtime == runtime_ ? runtime_ / kBatchStampFileName : StateStampFile();
    EXPECT_EQ(ModeOf(used), 0600u);
    EXPECT_EQ(ModeOf(used.parent_path()), 0700u);
    EXPECT_EQ(testsupport::ReadFile(row.held), "");
  }
}

TEST_F(SecondUserTest, TwoUsersBatchingTheSamePatientInTheSameStampGetDifferentUids) {
  // Both users' stamp files say the same last stamp, so both batches get the same stamp, as two
  // users pressing Send in the same tenth of a second would.
  const std::filesystem::path mine = runtime_;
  std::filesystem::create_directory(mine);
  std::filesystem::permissions(mine, std::filesystem::perms::owner_all);
  const std::filesystem::path theirs = SecondUsersFolder("theirs");
  for (const auto& folder : {mine, theirs}) {
    const std::filesystem::path file = folder / kBatchStampFileName;
    testsupport::WriteFile(file, "9000000000\n");
    ::chmod(file.c_str(), 0600);
    if (folder == theirs) ASSERT_EQ(::chown(file.c_str(), testsupport::SecondUserId(), 0), 0);
  }
  auto root = [](const std::vector<std::string>& argv) {
    const testsupport::CommandResult run = testsupport::RunCommand(argv);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    std::string text = run.output;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  };
  const std::string probe = BATCHROOT_PROBE;
  const std::string first = root({"env", "XDG_RUNTIME_DIR=" + mine.string(), probe, "PID7", "A1"});
  const std::string second = root(testsupport::AsSecondUser(
      {"env", "XDG_RUNTIME_DIR=" + theirs.string(), probe, "PID7", "A1"}));
  const std::string third = root({"env", "XDG_RUNTIME_DIR=" + mine.string(), probe, "PID7", "A1"});

  EXPECT_TRUE(first.ends_with(".0.9000000001")) << first;
  EXPECT_TRUE(second.ends_with("." + std::to_string(testsupport::SecondUserId()) + ".9000000001"))
      << second;
  EXPECT_TRUE(third.ends_with(".0.9000000002")) << third;  // the next process of the same user
  EXPECT_EQ(std::set<std::string>({first, second, third}).size(), 3u);
  // The same installation made all three.
  const size_t installation = Root().size() + 12;  // ".129" and eight characters
  EXPECT_EQ(first.substr(0, installation), second.substr(0, installation));
}

TEST(BatchUidTest, InstallationIdIsStableAndLongEnough) {
  const std::string id = InstallationId();
  EXPECT_GE(id.size(), 8u);
  EXPECT_EQ(id, InstallationId());
}

}  // namespace
