// Tiles of the strip: decoded at tile size, cached by path and modification time, and drawn for
// files that cannot be decoded.
#include "thumbnails.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <array>
#include <filesystem>
#include <thread>

#include "testpictures.h"
#include "testsupport.h"

namespace {

TEST(ThumbnailsTest, ACachedTileServesUntilItsFileChangesInTimeOrSize) {
  testsupport::TempDir dir;
  const std::string photo = (dir / "photo.jpg").string();
  const std::string colour = testpictures::MakeJpeg(800, 600, false);
  testsupport::WriteFile(photo, colour);
  ThumbnailCache cache;
  const FileStamp first = StampOf(photo);
  EXPECT_TRUE(cache.Find(photo, first).isNull());
  const QImage tile = DrawTile(photo);
  cache.Store(photo, first, tile);
  // Shared, not drawn again.
  EXPECT_EQ(cache.Find(photo, StampOf(photo)).constBits(), tile.constBits());
  EXPECT_EQ(cache.Size(), 1u);

  // The same bytes written again: a new time.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  testsupport::WriteFile(photo, colour);
  EXPECT_TRUE(cache.Find(photo, StampOf(photo)).isNull());
  // Other bytes under the old time (a copy that kept its date): the size tells.
  testsupport::WriteFile(photo, testpictures::MakeJpeg(800, 600, true));
  const timespec times[2] = {{0, UTIME_OMIT},
                             {static_cast<time_t>(first.modified / 1000000000),
                              static_cast<long>(first.modified % 1000000000)}};
  ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times, 0), 0);
  ASSERT_EQ(StampOf(photo).modified, first.modified);
  EXPECT_TRUE(cache.Find(photo, StampOf(photo)).isNull());
  // A file that is gone.
  std::filesystem::remove(photo);
  EXPECT_EQ(StampOf(photo).size, -1);
  EXPECT_TRUE(cache.Find(photo, StampOf(photo)).isNull());
}

// A JPEG file with an Exif segment whose IFD1 holds `thumbnail`, as cameras write them.
std::string WithExifThumbnail(const std::string& jpeg, const std::string& thumbnail,
                              int orientation = 0, int thumbnailOrientation = 0) {
  testpictures::ExifFields fields;
  fields.orientation = orientation;
  fields.thumbnail = thumbnail;
  fields.thumbnailOrientation = thumbnailOrientation;
  return testpictures::WithExif(jpeg, fields);
}

bool Colourful(const QImage& image) {
  for (int y = 0; y < image.height(); y += 4) {
    for (int x = 0; x < image.width(); x += 4) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - c.green()) > 20 || std::abs(c.green() - c.blue()) > 20) return true;
    }
  }
  return false;
}

TEST(ThumbnailsTest, ACamerasEmbeddedPreviewServesWhenLargeEnough) {
  testsupport::TempDir dir;
  const std::string grey = testpictures::MakeJpeg(1600, 1200, true);
  const auto large = dir / "camera.jpg";
  testsupport::WriteFile(large, WithExifThumbnail(grey, testpictures::MakeJpeg(160, 120, false)));
  const auto small = dir / "old-camera.jpg";
  testsupport::WriteFile(small, WithExifThumbnail(grey, testpictures::MakeJpeg(64, 48, false)));
  const auto cut = dir / "cut.jpg";
  testsupport::WriteFile(
      cut, WithExifThumbnail(grey, testpictures::MakeJpeg(160, 120, false)).substr(0, 200));
  const QImage fromPreview = DecodePictureAtSize(QString::fromStdString(large.string()), {96, 96});
  EXPECT_EQ(fromPreview.size(), QSize(96, 96));
  EXPECT_TRUE(Colourful(fromPreview));
  const QImage fromPicture = DecodePictureAtSize(QString::fromStdString(small.string()), {96, 96});
  EXPECT_EQ(fromPicture.size(), QSize(96, 96));
  EXPECT_FALSE(Colourful(fromPicture));
  // A segment cut short is no thumbnail; the tile still comes (here: undecodable).
  EXPECT_EQ(DrawTile(cut.string()).size(), QSize(96, 96));
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

TEST(ThumbnailsTest, JpegPhotosOfEveryShapeDecodeToTheirPictureAtTileSize) {
  testsupport::TempDir dir;
  // The quadrant picture in ways cameras, scanners and editors write it.
  QImage quadrants;
  const std::string colour = testpictures::MakeJpeg(1600, 1200, false);
  ASSERT_TRUE(quadrants.loadFromData(QByteArray::fromStdString(colour), "JPG"));
  QByteArray progressive;
  QBuffer buffer(&progressive);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "JPG");
  writer.setProgressiveScanWrite(true);
  ASSERT_TRUE(writer.write(quadrants));
  struct Case {
    const char* name;
    std::string bytes;
    bool grey;
    bool topHalfOnly;  // a file cut short keeps the rows that were there
  };
  const std::string full = testpictures::MakeJpeg(1600, 1200, false);
  const Case cases[] = {
      {"1/8 scale", colour, false, false},
      {"grey", testpictures::MakeJpeg(1600, 1200, true), true, false},
      {"1/4 scale, odd size", testpictures::MakeJpeg(601, 407, false), false, false},
      {"smaller than a tile", testpictures::MakeJpeg(40, 30, false), false, false},
      {"progressive", progressive.toStdString(), false, false},
      {"cut short", full.substr(0, full.size() * 7 / 10), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / "photo.jpg";
    testsupport::WriteFile(path, c.bytes);
    const QImage picture = DecodePictureAtSize(QString::fromStdString(path.string()), {96, 96});
    ASSERT_EQ(picture.size(), QSize(96, 96));
    for (const QPoint& at : {QPoint(20, 20), QPoint(76, 20), QPoint(20, 76), QPoint(76, 76)}) {
      if (c.topHalfOnly && at.y() > 48) continue;
      const testpictures::Colour want = testpictures::QuadrantColour(at.x(), at.y(), 96, 96);
      const int grey = (want.r * 299 + want.g * 587 + want.b * 114) / 1000;
      const QColor expected = c.grey ? QColor(grey, grey, grey) : QColor(want.r, want.g, want.b);
      const QColor got = picture.pixelColor(at);
      EXPECT_LT(std::abs(got.red() - expected.red()) + std::abs(got.green() - expected.green()) +
                    std::abs(got.blue() - expected.blue()),
                30)
          << at.x() << "," << at.y() << ": " << got.name().toStdString() << " instead of "
          << expected.name().toStdString();
    }
  }
}

// The embedded preview stands in for the picture only when it shows it: no orientation of its own
// that differs, the same aspect within 1 %. Otherwise the (grey) picture itself is decoded.
TEST(ThumbnailsTest, TheEmbeddedPreviewServesOnlyWhenItMatchesThePicture) {
  testsupport::TempDir dir;
  const std::string preview = testpictures::MakeJpeg(160, 120, false);
  const struct {
    const char* name;
    std::string file;
    bool fromPreview;
  } rows[] = {
      {"same aspect", WithExifThumbnail(testpictures::MakeJpeg(1600, 1200, true), preview), true},
      {"aspect 0.8 % off",
       WithExifThumbnail(testpictures::MakeJpeg(1600, 1200, true),
                         testpictures::MakeJpeg(160, 121, false)),
       true},
      {"aspect 1.7 % off",
       WithExifThumbnail(testpictures::MakeJpeg(1600, 1200, true),
                         testpictures::MakeJpeg(160, 118, false)),
       false},
      {"letterboxed wide picture",
       WithExifThumbnail(testpictures::MakeJpeg(1600, 900, true), preview), false},
      {"picture turned by an editor, preview not",
       WithExifThumbnail(testpictures::MakeJpeg(1200, 1600, true), preview), false},
      {"preview with an orientation of its own",
       WithExifThumbnail(testpictures::MakeJpeg(1600, 1200, true), preview, 1, 6), false},
      {"both turned alike",
       WithExifThumbnail(testpictures::MakeJpeg(1600, 1200, true), preview, 6, 6), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto path = dir / "camera.jpg";
    testsupport::WriteFile(path, row.file);
    const QImage tile = DecodePictureAtSize(QString::fromStdString(path.string()), {96, 96});
    ASSERT_EQ(tile.size(), QSize(96, 96));
    EXPECT_EQ(Colourful(tile), row.fromPreview);
  }
}

// Where the tile (from the picture or from its preview) and the preview window show each stored
// quadrant (0 top left, 1 top right, 2 bottom left, 3 bottom right): as the image converter turns
// the photo, so neither shows another picture than the one that will be sent.
TEST(ThumbnailsTest, TilesAndThePreviewShowThePhotoTurnedAsItWillBeSent) {
  testsupport::TempDir dir;
  auto expectLayout = [](const QImage& image, const std::array<int, 4>& layout) {
    const int w = image.width(), h = image.height();
    const QPoint points[] = {
        {w / 4, h / 4}, {w * 3 / 4, h / 4}, {w / 4, h * 3 / 4}, {w * 3 / 4, h * 3 / 4}};
    for (int i = 0; i < 4; ++i) {
      const testpictures::Colour want = testpictures::QuadrantColour(
          layout[i] % 2 == 0 ? 0 : 100, layout[i] < 2 ? 0 : 100, 101, 101);
      const QColor got = image.pixelColor(points[i]);
      EXPECT_LT(std::abs(got.red() - want.r) + std::abs(got.green() - want.g) +
                    std::abs(got.blue() - want.b),
                40)
          << "quadrant " << i << ": " << got.name().toStdString();
    }
  };
  const std::string stored = testpictures::MakeJpeg(320, 240, false);
  const struct {
    const char* name;
    const char* fileName;
    std::string file;
    std::array<int, 4> layout;
    QSize upright;
  } rows[] = {
      {"as stored", "plain.jpg", stored, {0, 1, 2, 3}, {320, 240}},
      {"phone held upright",
       "phone.jpg",
       testpictures::WithExif(stored, {.orientation = 6}),
       {2, 0, 3, 1},
       {240, 320}},
      {"phone upside down",
       "down.jpg",
       testpictures::WithExif(stored, {.orientation = 3}),
       {3, 2, 1, 0},
       {320, 240}},
      {"turned anticlockwise, preview inside",
       "camera.jpg",
       WithExifThumbnail(stored, testpictures::MakeJpeg(160, 120, false), 8),
       {1, 3, 0, 2},
       {240, 320}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const QString path = QString::fromStdString((dir / row.fileName).string());
    testsupport::WriteFile(path.toStdString(), row.file);
    const QImage tile = DecodePictureAtSize(path, {96, 96});
    ASSERT_EQ(tile.size(), QSize(96, 96));
    expectLayout(tile, row.layout);
    QSize full;
    const QImage preview = DecodePictureForPreview(path, QSize(300, 300), &full);
    EXPECT_EQ(full, row.upright);
    EXPECT_EQ(preview.size(), row.upright.scaled(300, 300, Qt::KeepAspectRatio));
    expectLayout(preview, row.layout);
  }
}

}  // namespace
