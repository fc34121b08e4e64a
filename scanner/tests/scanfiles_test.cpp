// Saving a scanned page: the JPEG item, names within one second, and failures that keep the page.
#include "scanfiles.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

#include "batch.h"
#include "convertimage.h"
#include "itemlist.h"
#include "jpegfile.h"
#include "scannedpage.h"
#include "scannertesthelpers.h"
#include "testsupport.h"

namespace {

// A small colour page: left half red, right half blue.
void WriteScanBitmap(const std::filesystem::path& workFolder) {
  ScannedPage page;
  page.width = 40;
  page.height = 30;
  page.channels = 3;
  page.resolution = 100;
  for (uint32_t y = 0; y < page.height; ++y) {
    for (uint32_t x = 0; x < page.width; ++x) {
      const bool left = x < page.width / 2;
      page.samples.insert(page.samples.end(),
                          {uint8_t(left ? 255 : 0), uint8_t(0), uint8_t(left ? 0 : 255)});
    }
  }
  ASSERT_EQ(WriteBmpFile(page, ScanBitmapPath(workFolder)), 0);
}

std::chrono::system_clock::time_point LocalTime(int year, int month, int day, int hour, int minute,
                                                int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

TEST(ScanFiles, NameIsTheLocalTimeToTheSecond) {
  EXPECT_EQ(ScanFileStem(LocalTime(2026, 3, 7, 9, 5, 2)), "260307090502");
  EXPECT_EQ(ScanFileStem(LocalTime(2031, 12, 31, 23, 59, 59)), "311231235959");
}

TEST(ScanFiles, TheBitmapAndTheSavedPageAreTheUsersAloneWhateverTheUmask) {
  testsupport::TempDir work;
  const mode_t oldMask = ::umask(0);
  WriteScanBitmap(work.path());
  struct stat status {};
  ASSERT_EQ(::stat(ScanBitmapPath(work.path()).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  ItemList items;
  const SavedPage saved = SaveScannedPage(work.path(), LocalTime(2026, 12, 10, 13, 45, 7), items);
  ::umask(oldMask);
  ASSERT_TRUE(saved.saved) << saved.error;
  ASSERT_EQ(::stat(saved.path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(ScanFiles, SaveWritesABaselineJpegItemAndDeletesTheBitmap) {
  testsupport::TempDir work;
  ItemList items;
  items.Append("/earlier/item.pdf");
  WriteScanBitmap(work.path());

  const SavedPage saved = SaveScannedPage(work.path(), LocalTime(2026, 12, 10, 13, 45, 7), items);
  ASSERT_TRUE(saved.saved) << saved.error;
  EXPECT_EQ(saved.path, (work / "261210134507.jpg").string());
  EXPECT_EQ(items.Snapshot(),
            (std::vector<std::string>{"/earlier/item.pdf", (work / "261210134507.jpg").string()}));
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work.path())));

  const std::vector<uint8_t> jpeg = ReadFileBytes(saved.path);
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  // Baseline: a SOF0 marker (FFC0) and no progressive or extended frame.
  const std::string bytes(jpeg.begin(), jpeg.end());
  EXPECT_NE(bytes.find("\xFF\xC0"), std::string::npos);
  EXPECT_EQ(bytes.find("\xFF\xC2"), std::string::npos);
  RgbBitmap decoded;
  std::string error;
  ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), decoded, error)) << error;
  EXPECT_EQ(decoded.width, 40u);
  EXPECT_EQ(decoded.height, 30u);
  EXPECT_GT(decoded.rgb[0], 200);                            // red on the left
  EXPECT_GT(decoded.rgb[(decoded.width - 1) * 3 + 2], 200);  // blue on the right
}

// A saved page goes through the image converter like any photo: the object is valid for its IOD.
TEST(ScanFiles, ASavedPageBecomesAnImageObjectValidForItsIod) {
  ASSERT_TRUE(testsupport::HaveProgram("dciodvfy")) << "dciodvfy missing (scripts/setup.sh)";
  testsupport::TempDir work;
  ItemList items;
  WriteScanBitmap(work.path());
  const SavedPage saved = SaveScannedPage(work.path(), std::chrono::system_clock::now(), items);
  ASSERT_TRUE(saved.saved) << saved.error;

  BatchForm form;
  form.patientName = "Roe^Rick";
  form.patientId = "P7";
  form.studyDate = "20260102";
  form.modalityText = "OT";
  std::string message;
  ASSERT_TRUE(PrepareBatch(form, nullptr, 1, SetupConfig{}, message)) << message;
  DataSetList list;
  std::string error;
  ASSERT_TRUE(ConvertImage(saved.path, list, error)) << error;
  const std::string object = (work / "page.dcm").string();
  ASSERT_TRUE(SaveObjectFile(*list[0], object));
  EXPECT_EQ(testsupport::DciodvfyErrors(object), std::vector<std::string>{});
}

TEST(ScanFiles, PagesSavedInOneSecondKeepDistinctNames) {
  testsupport::TempDir work;
  ItemList items;
  const auto second = LocalTime(2026, 12, 10, 13, 45, 7);
  std::vector<std::string> paths;
  for (int page = 0; page < 3; ++page) {
    WriteScanBitmap(work.path());
    const SavedPage saved = SaveScannedPage(work.path(), second, items);
    ASSERT_TRUE(saved.saved) << saved.error;
    paths.push_back(saved.path);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{(work / "261210134507.jpg").string(),
                                             (work / "261210134507-2.jpg").string(),
                                             (work / "261210134507-3.jpg").string()}));
  EXPECT_EQ(items.Snapshot(), paths);
  for (const std::string& path : paths) EXPECT_GT(std::filesystem::file_size(path), 100u);
}

TEST(ScanFiles, SaveWithoutAPageDoesNothing) {
  testsupport::TempDir work;
  ItemList items;
  const SavedPage saved = SaveScannedPage(work.path(), std::chrono::system_clock::now(), items);
  EXPECT_FALSE(saved.saved);
  EXPECT_TRUE(saved.error.empty());
  EXPECT_TRUE(items.Empty());
  EXPECT_TRUE(std::filesystem::is_empty(work.path()));
}

TEST(ScanFiles, FailedSaveKeepsTheBitmapAndAddsNoItem) {
  testsupport::TempDir work;
  ItemList items;
  // A page that cannot be read...
  std::ofstream(ScanBitmapPath(work.path())) << "BM but nothing else";
  SavedPage saved = SaveScannedPage(work.path(), std::chrono::system_clock::now(), items);
  EXPECT_FALSE(saved.saved);
  EXPECT_NE(saved.error.find("ERROR, saving scanned page: "), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(ScanBitmapPath(work.path())));

  // ...and a work folder that refuses new files.
  WriteScanBitmap(work.path());
  std::filesystem::permissions(work.path(), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  saved = SaveScannedPage(work.path(), std::chrono::system_clock::now(), items);
  std::filesystem::permissions(work.path(), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  if (geteuid() != 0) {
    EXPECT_FALSE(saved.saved);
    EXPECT_FALSE(saved.error.empty());
    EXPECT_TRUE(std::filesystem::exists(ScanBitmapPath(work.path())));
    EXPECT_TRUE(items.Empty());
  }
}

TEST(ScanFiles, DeleteScanBitmapRemovesOnlyThePage) {
  testsupport::TempDir work;
  WriteScanBitmap(work.path());
  std::ofstream(work / "261210134507.jpg") << "a saved page";
  DeleteScanBitmap(work.path());
  DeleteScanBitmap(work.path());
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work.path())));
  EXPECT_TRUE(std::filesystem::exists(work / "261210134507.jpg"));
}

}  // namespace
