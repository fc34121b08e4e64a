// Tiles of the strip: decoded at tile size, cached by path and modification time, and drawn for
// files that cannot be decoded.
#include "thumbnails.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
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
std::string WithExifThumbnail(const std::string& jpeg, const std::string& thumbnail) {
  auto u16 = [](uint32_t v) { return std::string{char(v & 0xFF), char(v >> 8 & 0xFF)}; };
  auto u32 = [&](uint32_t v) { return u16(v & 0xFFFF) + u16(v >> 16); };
  // TIFF header, an empty IFD0 pointing at IFD1, IFD1 with the thumbnail's offset and length.
  std::string tiff = "II*" + std::string(1, '\0') + u32(8) + u16(0) + u32(14);
  const uint32_t thumbnailOffset = 14 + 2 + 2 * 12 + 4;
  tiff += u16(2) + u16(0x0201) + u16(4) + u32(1) + u32(thumbnailOffset);
  tiff += u16(0x0202) + u16(4) + u32(1) + u32(static_cast<uint32_t>(thumbnail.size())) + u32(0);
  tiff += thumbnail;
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  const size_t length = body.size() + 2;
  const std::string app1 =
      std::string{char(0xFF), char(0xE1), char(length >> 8), char(length & 0xFF)} + body;
  return jpeg.substr(0, 2) + app1 + jpeg.substr(2);
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
  auto colourful = [](const QImage& image) {
    for (int y = 0; y < image.height(); y += 4) {
      for (int x = 0; x < image.width(); x += 4) {
        const QColor c = image.pixelColor(x, y);
        if (std::abs(c.red() - c.green()) > 20 || std::abs(c.green() - c.blue()) > 20) return true;
      }
    }
    return false;
  };
  const QImage fromPreview = DecodePictureAtSize(QString::fromStdString(large.string()), {96, 96});
  EXPECT_EQ(fromPreview.size(), QSize(96, 96));
  EXPECT_TRUE(colourful(fromPreview));
  const QImage fromPicture = DecodePictureAtSize(QString::fromStdString(small.string()), {96, 96});
  EXPECT_EQ(fromPicture.size(), QSize(96, 96));
  EXPECT_FALSE(colourful(fromPicture));
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

}  // namespace
