// The head of a JPEG file for the strip and the preview: the embedded thumbnail and orientation.
#include "exifthumbnail.h"

#include <QFile>
#include <cmath>

#include "jpegfacts.h"
#include "orientation.h"
#include "sourcefile.h"

namespace {

// The Exif segment lies before the picture, 64 KB at most; an ICC profile may come before the
// frame header and take a few segments more.
constexpr qint64 kHeadBytes = 256 * 1024;
constexpr qint64 kExifBytes = 65536 + 4;

QByteArray ReadHead(const QString& path, qint64 bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(bytes);
}

}  // namespace

PhotoHead PhotoHeadOf(const QByteArray& head) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(head.constData());
  const JpegFacts facts = ReadJpegFacts(bytes, static_cast<size_t>(head.size()));
  PhotoHead photo;
  if (!facts.isJpeg) return photo;
  if (facts.thumbnailLength != 0) {
    photo.thumbnail = head.mid(static_cast<qsizetype>(facts.thumbnailOffset),
                               static_cast<qsizetype>(facts.thumbnailLength));
  }
  photo.thumbnailOrientation = facts.thumbnailOrientation;
  photo.orientation = facts.orientation;
  if (facts.frame.marker != 0 && facts.frame.width != 0 && facts.frame.height != 0) {
    photo.storedSize =
        QSize(static_cast<int>(facts.frame.width), static_cast<int>(facts.frame.height));
  }
  return photo;
}

PhotoHead ReadPhotoHead(const QString& path) {
  return PhotoHeadOf(ReadHead(path, kHeadBytes));
}

QByteArray ExifThumbnailOf(const QByteArray& head) {
  return PhotoHeadOf(head).thumbnail;
}

QByteArray ExifThumbnail(const QString& path) {
  return ExifThumbnailOf(ReadHead(path, kExifBytes));
}

bool ThumbnailMatchesPicture(const PhotoHead& head, const QSize& thumbnail) {
  const int own = head.thumbnailOrientation;
  if (own != 0 && own != (head.orientation == 0 ? 1 : head.orientation)) return false;
  if (!head.storedSize.isValid() || thumbnail.isEmpty()) return false;
  const double picture = static_cast<double>(head.storedSize.width()) / head.storedSize.height();
  const double preview = static_cast<double>(thumbnail.width()) / thumbnail.height();
  return std::abs(preview / picture - 1.0) <= 0.01;
}

int ConvertedOrientation(const QString& path, const PhotoHead& head) {
  if (UpperExtension(path.toStdString()) != ".JPG") return 0;
  return OrientationChangesPicture(head.orientation) ? head.orientation : 0;
}

QImage OrientImage(const QImage& image, int orientation) {
  if (!OrientationChangesPicture(orientation) || image.isNull()) return image;
  const QImage stored = image.convertToFormat(QImage::Format_RGB32);
  const bool swaps = OrientationSwapsSides(orientation);
  QImage upright(swaps ? stored.height() : stored.width(), swaps ? stored.width() : stored.height(),
                 QImage::Format_RGB32);
  if (upright.isNull()) return {};
  // RGB32 rows are whole pixels; bytesPerLine is a multiple of four.
  OrientPixels(orientation, reinterpret_cast<const uint32_t*>(stored.constBits()),
               static_cast<size_t>(stored.width()), static_cast<size_t>(stored.height()),
               static_cast<size_t>(stored.bytesPerLine() / 4),
               reinterpret_cast<uint32_t*>(upright.bits()),
               static_cast<size_t>(upright.bytesPerLine() / 4));
  return upright;
}
