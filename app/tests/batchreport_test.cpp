// What a batch tells about its items, and which work-folder files a Send may delete.
#include "batchreport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "testsupport.h"

namespace {

std::unique_ptr<DcmObj> Object(const std::string& instanceUid) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->AddString(0x0008, 0x0018, instanceUid);
  return dataSet;
}

// Seven items: two give no object, five are stored.
TEST(BatchReport, NamesTheItemsThatWereNotSentWithTheirReasons) {
  BatchReport report({"/a/p1.jpg", "/a/empty.txt", "/a/p2.jpg", "/a/notes.odt", "/a/p3.jpg",
                      "/a/p4.jpg", "/a/p5.jpg"});
  report.NoObject(1, kNoTextReason);
  report.NoObject(3, kUnknownKindReason);
  for (size_t item : {0u, 2u, 4u, 5u, 6u}) {
    const auto object = Object("1.2.3." + std::to_string(item));
    report.ObjectMade(item, *object);
    report.ObjectDone(*object, true);
  }
  EXPECT_FALSE(report.Complete());
  EXPECT_EQ(report.NotDelivered(DoneAs::Sent).English(),
            "2 of 7 items were not sent: empty.txt (no text), notes.odt (unknown kind)");
  EXPECT_EQ(report.DeliveredItems(), (std::vector<size_t>{0, 2, 4, 5, 6}));
}

TEST(BatchReport, AFailedObjectFailsItsItemAndACancelledBatchSaysWhatWasStored) {
  std::vector<std::string> items;
  for (int i = 0; i < 14; ++i) items.push_back("/in/photo" + std::to_string(i) + ".jpg");
  BatchReport report(items);
  std::vector<std::unique_ptr<DcmObj>> objects;
  for (size_t i = 0; i < items.size(); ++i) {
    objects.push_back(Object("1.2.3." + std::to_string(i)));
    report.ObjectMade(i, *objects.back());
  }
  report.ObjectDone(*objects[0], true);
  report.ObjectDone(*objects[1], false);
  report.ObjectDone(*Object("9.9.9"), true);  // not of this batch: ignored
  report.MarkCancelled();
  EXPECT_EQ(report.Fate(0), ItemFate::Delivered);
  EXPECT_EQ(report.Fate(1), ItemFate::Failed);
  EXPECT_EQ(report.Fate(2), ItemFate::Waiting);
  EXPECT_EQ(report.NotDelivered(DoneAs::Sent).English(), "1 of 14 items were not sent: photo1.jpg");
  EXPECT_EQ(report.Cancelled(DoneAs::Sent).English(),
            "Send cancelled: 1 of 14 items were stored: photo0.jpg; the other 13 stay in the "
            "list.");

  // Long lists name ten items and count the rest.
  for (size_t i = 2; i < items.size(); ++i) report.ObjectDone(*objects[i], false);
  EXPECT_EQ(report.NotDelivered(DoneAs::Sent).English(),
            "13 of 14 items were not sent: photo1.jpg, photo2.jpg, photo3.jpg, photo4.jpg, "
            "photo5.jpg, photo6.jpg, photo7.jpg, photo8.jpg, photo9.jpg, photo10.jpg and 3 more");
}

TEST(BatchReport, ShortReasonsDropTheFileTheMessageNames) {
  const struct {
    std::string error;
    std::string reason;
  } cases[] = {
      {"Cannot convert picture \"/in/a.png\": the PNG data is damaged", "the PNG data is damaged"},
      {"/in/a.png: an H.265 video of 10 x 10", "an H.265 video of 10 x 10"},
      {"ERROR, not known image format", "ERROR, not known image format"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortReason(c.error, "/in/a.png"), c.reason);
}

// "In the work folder" is a question about folders: a path that merely contains the work
// folder's text, a sibling folder with a longer name, or a way out with ".." are elsewhere.
TEST(WorkFolder, MembershipComparesRealFoldersNotTexts) {
  testsupport::TempDir root;
  const auto work = root / "app" / "work";
  std::filesystem::create_directories(work / "jobs");
  std::filesystem::create_directories(root / "app" / "work2");
  std::filesystem::create_directories(root / "copy" / "app" / "work");
  std::filesystem::create_symlink(work, root / "link");
  const struct {
    std::filesystem::path path;
    bool inside;
  } cases[] = {
      {work / "job1.pdf", true},
      {work / "jobs" / "job2.pdf", true},
      {root / "link" / "job3.pdf", true},
      {root / "app" / "work2" / "photo.jpg", false},
      {root / "copy" / "app" / "work" / "photo.jpg", false},
      {work / ".." / "photo.jpg", false},
      {work, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsInFolder(c.path, work), c.inside) << c.path;
    EXPECT_EQ(IsInFolder(c.path, work.string() + "/"), c.inside) << c.path << " (trailing /)";
  }
}

// Only the files of items whose objects were acknowledged are deleted, and only in the work
// folder; a kept print job whose object was refused stays on disk and in the list.
TEST(WorkFolder, OnlyDeliveredWorkFilesAreDeleted) {
  testsupport::TempDir root;
  const auto work = root / "work";
  std::filesystem::create_directories(work);
  const std::string scan = (work / "scan.jpg").string();
  const std::string job = (work / "job.pdf").string();
  const std::string photo = (root / "photo.jpg").string();
  for (const std::string& path : {scan, job, photo}) testsupport::WriteFile(path, "x");
  BatchReport report({scan, job, photo});
  std::vector<std::unique_ptr<DcmObj>> objects;
  for (size_t i = 0; i < 3; ++i) {
    objects.push_back(Object("1.2.4." + std::to_string(i)));
    report.ObjectMade(i, *objects.back());
    report.ObjectDone(*objects.back(), i != 1);
  }
  EXPECT_EQ(FinishDeliveredItems(report, work), (std::vector<size_t>{0, 2}));
  EXPECT_FALSE(std::filesystem::exists(scan));
  EXPECT_TRUE(std::filesystem::exists(job));
  EXPECT_TRUE(std::filesystem::exists(photo));
}

}  // namespace
