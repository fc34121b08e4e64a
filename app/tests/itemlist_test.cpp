// Tests of the item list (kinds, duplicates, appends from other threads) and the program folders.
#include "itemlist.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "appfolders.h"
#include "previewfit.h"
#include "testsupport.h"

namespace {

TEST(ItemListTest, KindsFollowTheUpperCasedExtension) {
  struct Row {
    const char* path;
    ItemKind kind;
    const char* label;
  };
  const Row rows[] = {
      {"/a/photo.jpg", ItemKind::Image, "IMG"},     {"/a/B.JPG", ItemKind::Image, "IMG"},
      {"/a/scan.Bmp", ItemKind::Image, "IMG"},      {"/a/x.png", ItemKind::Image, "IMG"},
      {"/a/c.jpeg", ItemKind::Unknown, ""},         {"/a/r.doc", ItemKind::Document, "TEXT"},
      {"/a/r.docx", ItemKind::Document, "TEXT"},    {"/a/r.RTF", ItemKind::Document, "TEXT"},
      {"/a/r.txt", ItemKind::Document, "TEXT"},     {"/a/r.html", ItemKind::Document, "TEXT"},
      {"/a/d.htm", ItemKind::Unknown, ""},          {"/a/p.pdf", ItemKind::Pdf, "PDF"},
      {"/a/v.MP4", ItemKind::Video, "Video"},       {"/a.b/noextension", ItemKind::Unknown, ""},
      {"/a/archive.tar.gz", ItemKind::Unknown, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(KindOfItem(row.path), row.kind) << row.path;
    EXPECT_STREQ(TileLabelOf(KindOfItem(row.path)), row.label) << row.path;
  }
}

TEST(ItemListTest, AppendUniqueRefusesAnEqualPathOnlyAndRemovalKeepsOrder) {
  ItemList items;
  EXPECT_TRUE(items.AppendUnique("/a/one.jpg"));
  EXPECT_FALSE(items.AppendUnique("/a/one.jpg"));
  EXPECT_TRUE(items.AppendUnique("/a/ONE.jpg"));  // case-sensitive
  items.Append("/a/one.jpg");                     // folders add without the check
  items.Append("/a/two.pdf");
  ASSERT_EQ(items.Size(), 4u);
  EXPECT_TRUE(items.RemoveAt(1));
  EXPECT_FALSE(items.RemoveAt(3));
  EXPECT_EQ(items.Snapshot(), (std::vector<std::string>{"/a/one.jpg", "/a/one.jpg", "/a/two.pdf"}));
  items.RemoveFirst(2);
  EXPECT_EQ(items.Snapshot(), (std::vector<std::string>{"/a/two.pdf"}));
  items.RemoveFirst(5);
  EXPECT_TRUE(items.Empty());
}

TEST(ItemListTest, AppendsFromThreadsAreAllKeptAndRaiseTheFlagOnce) {
  ItemList items;
  EXPECT_FALSE(items.TakeNewItemFlag());
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&items, t] {
      for (int i = 0; i < 250; ++i)
        items.AppendFromThread("/w/" + std::to_string(t) + "_" + std::to_string(i) + ".pdf");
    });
  }
  for (int i = 0; i < 100; ++i) (void)items.Snapshot();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(items.Size(), 2000u);
  EXPECT_TRUE(items.TakeNewItemFlag());
  EXPECT_FALSE(items.TakeNewItemFlag());
  items.Append("/gui/thread.jpg");
  EXPECT_FALSE(items.TakeNewItemFlag());
}

TEST(AppFoldersTest, AWritableFolderKeepsEverythingBesideTheExecutable) {
  testsupport::TempDir dir;
  const AppFolders folders = ResolveAppFolders(dir.path());
  EXPECT_FALSE(folders.perUser);
  EXPECT_EQ(folders.settingsFile, dir / "velloran.ini");
  EXPECT_EQ(folders.workFolder, dir.path() / "work" / "");
  EXPECT_EQ(folders.logsFolder, dir.path() / "logs" / "");
}

TEST(AppFoldersTest, AnInstalledCopyUsesThePerUserFoldersOfTheXdgVariables) {
  testsupport::TempDir dir;
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  for (const char* installed : {"/usr/bin", "/opt/velloran/bin"}) {
    const AppFolders folders = ResolveAppFolders(installed);
    EXPECT_TRUE(folders.perUser) << installed;
    EXPECT_EQ(folders.settingsFile, dir.path() / "config" / "velloran" / "velloran.ini");
    EXPECT_EQ(folders.workFolder, dir.path() / "data" / "velloran" / "work" / "");
    EXPECT_EQ(folders.logsFolder, dir.path() / "data" / "velloran" / "logs" / "");
  }
  // Without the variables the folders below the home folder stand in.
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", dir.path().c_str(), 1);
  const AppFolders folders = ResolveAppFolders("/usr/bin");
  EXPECT_EQ(folders.settingsFile, dir.path() / ".config" / "velloran" / "velloran.ini");
  EXPECT_EQ(folders.workFolder, dir.path() / ".local" / "share" / "velloran" / "work" / "");
  CreateAppFolders(folders);
  EXPECT_TRUE(std::filesystem::is_directory(folders.workFolder));
  EXPECT_TRUE(std::filesystem::is_directory(folders.logsFolder));
  EXPECT_TRUE(std::filesystem::is_directory(folders.settingsFile.parent_path()));
}

TEST(PreviewFitTest, PicturesFitTheAreaKeepingTheirAspectCentred) {
  struct Row {
    int previewWidth, previewHeight, pictureWidth, pictureHeight;
    PreviewRect expected;
  };
  const Row rows[] = {
      // A panorama fills the width and is centred vertically: 4000 x 1000 in 350 x 300.
      {350, 300, 4000, 1000, {0, 106, 350, 87}},
      // A tall picture fills the height and is centred horizontally.
      {350, 300, 1000, 4000, {137, 0, 75, 300}},
      // A scanned A4 page at 300 dpi in a 640 x 604 preview: 106 to 533 by 0 to 604.
      {640, 604, 2480, 3508, {106, 0, 427, 604}},
      // Same ratio: the height rule applies and the picture fills the area.
      {300, 200, 600, 400, {0, 0, 300, 200}},
      {300, 200, 0, 400, {0, 0, 0, 0}},
  };
  for (const Row& row : rows) {
    const PreviewRect got =
        FitPreview(row.previewWidth, row.previewHeight, row.pictureWidth, row.pictureHeight);
    EXPECT_EQ(got.left, row.expected.left) << row.pictureWidth << "x" << row.pictureHeight;
    EXPECT_EQ(got.top, row.expected.top) << row.pictureWidth << "x" << row.pictureHeight;
    EXPECT_EQ(got.width, row.expected.width) << row.pictureWidth << "x" << row.pictureHeight;
    EXPECT_EQ(got.height, row.expected.height) << row.pictureWidth << "x" << row.pictureHeight;
  }
}

}  // namespace
