// Tiles of the strip: decoded at tile size, cached by path and modification time, and drawn for
// files that cannot be decoded.
#include "thumbnails.h"

#include <gtest/gtest.h>

#include <QImageReader>
#include <thread>

#include "testpictures.h"
#include "testsupport.h"

namespace {

TEST(ThumbnailsTest, TilesAreCachedUntilTheirFileChanges) {
  testsupport::TempDir dir;
  const auto red = dir / "photo.jpg";
  testsupport::WriteFile(red, testpictures::MakeJpeg(800, 600, false));
  const auto doc = dir / "notes.txt";
  testsupport::WriteFile(doc, "text");
  ThumbnailCache cache;
  const std::vector<std::string> paths = {red.string(), doc.string(), red.string()};
  const std::vector<QImage> first = cache.Tiles(paths);
  ASSERT_EQ(first.size(), 3u);
  for (const QImage& tile : first) EXPECT_EQ(tile.size(), QSize(96, 96));
  EXPECT_EQ(first[0], first[2]);
  EXPECT_NE(first[0], first[1]);
  EXPECT_EQ(cache.Size(), 2u);

  // Cached tiles are shared, not drawn again.
  const std::vector<QImage> second = cache.Tiles(paths);
  EXPECT_EQ(second[0].constBits(), first[0].constBits());

  // A changed file is drawn anew.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  testsupport::WriteFile(red, testpictures::MakeJpeg(800, 600, true));
  const std::vector<QImage> third = cache.Tiles(paths);
  EXPECT_NE(third[0].constBits(), first[0].constBits());
}

TEST(ThumbnailsTest, AFileThatCannotBeDecodedStillGetsItsTile) {
  testsupport::TempDir dir;
  const auto broken = dir / "broken.png";
  testsupport::WriteFile(broken, "\x89PNG\r\n\x1a\n not really");
  const QImage tile = DrawTile(broken.string());
  EXPECT_EQ(tile.size(), QSize(96, 96));
  // The frame of an undecodable picture is drawn, as for documents.
  EXPECT_EQ(tile.pixelColor(0, 40), QColor(Qt::black));
  const QImage missing = DrawTile((dir / "gone.jpg").string());
  EXPECT_EQ(missing.size(), QSize(96, 96));
}

TEST(ThumbnailsTest, PicturesAreDecodedNearTheSizeAskedFor) {
  testsupport::TempDir dir;
  const auto photo = dir / "big.jpg";
  testsupport::WriteFile(photo, testpictures::MakeJpeg(1600, 1200, false));
  const QImage small = DecodePictureAtSize(QString::fromStdString(photo.string()), QSize(96, 96));
  EXPECT_EQ(small.size(), QSize(96, 96));
  QSize full;
  const QImage preview =
      DecodePictureForPreview(QString::fromStdString(photo.string()), QSize(350, 379), &full);
  EXPECT_EQ(full, QSize(1600, 1200));
  EXPECT_EQ(preview.size(), QSize(350, 262));
}

}  // namespace
