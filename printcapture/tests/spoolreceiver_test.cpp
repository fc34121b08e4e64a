// Taking the filed jobs into the work folder: oldest first, from the same disk or another, never
// over a file of the work folder, and a job that cannot be taken stays and is reported once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "capturepeers.h"
#include "spoolreceiver.h"

namespace {

using capturetest::FileNames;
using capturetest::WaitUntil;
using testsupport::ReadFile;
using testsupport::WriteFile;

// A filed job whose modification time is `age` seconds in the past.
void FileJob(const std::filesystem::path& path, const std::string& content, int age) {
  WriteFile(path, content);
  const timespec times[2] = {{time(nullptr) - age, 0}, {time(nullptr) - age, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(SpoolReceiver, TakesTheJobsOldestFirstFromTheSameOrAnotherDiskWithoutReplacingAFile) {
  testsupport::TempDir disk;
  std::error_code error;
  const bool haveSharedMemory = std::filesystem::is_directory("/dev/shm", error);
  const struct {
    const char* title;
    std::filesystem::path spoolParent;
  } rows[] = {
      {"the same disk", disk.path()},
      // Another file system: the job is copied, then removed from the spool.
      {"another disk", haveSharedMemory ? std::filesystem::path("/dev/shm") : disk.path()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    testsupport::TempDir work;
    const std::filesystem::path spool =
        row.spoolParent / ("velloran-spool-test-" + std::to_string(getpid()));
    std::filesystem::remove_all(spool);
    std::filesystem::create_directories(spool);
    FileJob(spool / "Letter_101500_1.pdf", "%PDF-1.4 second", 10);
    FileJob(spool / "Report_101400_7.pdf", "%PDF-1.4 first", 20);
    WriteFile(spool / ".job-8-1-1.part", "%PDF-1.4 still being filed");
    // The work folder holds a job of the same name from an earlier day.
    WriteFile(work / "Letter_101500_1.pdf", "%PDF-1.4 sent yesterday");

    ItemList items;
    SpoolReceiver receiver(spool, work.path(), items);
    EXPECT_EQ(receiver.TakeJobs(), 2u);
    EXPECT_EQ(items.Snapshot(),
              (std::vector<std::string>{(work / "Report_101400_7.pdf").string(),
                                        (work / "Letter_101500_1_2.pdf").string()}));
    EXPECT_TRUE(items.TakeNewItemFlag());
    EXPECT_EQ(ReadFile(work / "Report_101400_7.pdf"), "%PDF-1.4 first");
    EXPECT_EQ(ReadFile(work / "Letter_101500_1_2.pdf"), "%PDF-1.4 second");
    EXPECT_EQ(ReadFile(work / "Letter_101500_1.pdf"), "%PDF-1.4 sent yesterday");
    // Only the job still being filed stays; nothing is left half-copied in the work folder.
    EXPECT_TRUE(FileNames(spool).empty());
    EXPECT_TRUE(std::filesystem::exists(spool / ".job-8-1-1.part"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.path()),
                            std::filesystem::directory_iterator()),
              3);
    EXPECT_EQ(receiver.TakeJobs(), 0u);
    EXPECT_TRUE(receiver.TakeReports().empty());
    std::filesystem::remove_all(spool);
  }
}

TEST(SpoolReceiver, TakesJobsAsTheyArriveUntilStopped) {
  testsupport::TempDir temp;
  const std::filesystem::path spool = temp / "spool";
  const std::filesystem::path work = temp / "work";
  std::filesystem::create_directories(work);
  ItemList items;
  SpoolReceiver receiver(spool, work, items, std::chrono::milliseconds(20));
  // No folder yet: the printer application makes it with the first job.
  EXPECT_EQ(receiver.TakeJobs(), 0u);
  receiver.Start();
  std::filesystem::create_directories(spool);
  WriteFile(spool / "Scan_090000_1.pdf", "%PDF-1.4 arrived");
  ASSERT_TRUE(WaitUntil([&] { return items.Size() == 1; }));
  EXPECT_EQ(*items.At(0), (work / "Scan_090000_1.pdf").string());
  receiver.Stop();
  WriteFile(spool / "Scan_090100_2.pdf", "%PDF-1.4 after the stop");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(items.Size(), 1u);
}

TEST(SpoolReceiver, AJobThatCannotBeTakenWaitsInTheSpoolAndIsReportedOnce) {
  testsupport::TempDir temp;
  capturetest::CapturedLog log;
  const std::filesystem::path spool = temp / "spool";
  std::filesystem::create_directories(spool);
  WriteFile(spool / "Letter_101500_1.pdf", "%PDF-1.4 kept");
  ItemList items;
  SpoolReceiver receiver(spool, temp / "no-work-folder", items);
  EXPECT_EQ(receiver.TakeJobs(), 0u);
  EXPECT_EQ(receiver.TakeJobs(), 0u);
  const std::vector<std::string> reports = receiver.TakeReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "ERROR, SpoolReceiver::TakeJobs, the work folder " +
                            (temp / "no-work-folder").string() +
                            " cannot be opened: No such file or directory; the printed jobs wait "
                            "in " +
                            spool.string());
  EXPECT_TRUE(receiver.TakeReports().empty());
  EXPECT_TRUE(items.Empty());
  EXPECT_EQ(ReadFile(spool / "Letter_101500_1.pdf"), "%PDF-1.4 kept");
  EXPECT_TRUE(log.Contains(reports[0] + "\n"));
}

}  // namespace
