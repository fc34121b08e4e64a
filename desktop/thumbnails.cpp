// Tiles of the item strip, decoded at tile size and cached.
#include "thumbnails.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include "exifthumbnail.h"
#include "jpegtiledecoder.h"
#include "orientation.h"

namespace {

// Keeps the cache from growing without bound over a long day; a tile is about 27 KB.
constexpr size_t kMaxCachedTiles = 4000;

QString FileNameOf(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).fileName();
}

void DrawLabel(QPainter& painter, int x, int y, const QString& text) {
  painter.setPen(Qt::black);
  painter.drawText(QRect(x, y, kTileSize - x - 2, 16), Qt::AlignLeft | Qt::AlignTop, text);
}

}  // namespace

QImage DecodePictureAtSize(const QString& path, const QSize& size) {
  const PhotoHead head = ReadPhotoHead(path);
  const int orientation = ConvertedOrientation(path, head);
  // Decoded as stored, then turned: a picture turned a quarter is decoded at the size turned back.
  const QSize storedSize = OrientationSwapsSides(orientation) ? size.transposed() : size;
  // A camera's own small preview decodes in a fraction of the time the whole picture takes; it
  // serves when it is at least as large as asked for and shows the same picture.
  if (!head.thumbnail.isEmpty()) {
    const QImage thumbnail = QImage::fromData(head.thumbnail, "JPEG");
    if (!thumbnail.isNull() && thumbnail.width() >= storedSize.width() &&
        thumbnail.height() >= storedSize.height() &&
        ThumbnailMatchesPicture(head, thumbnail.size())) {
      return OrientImage(
          thumbnail.scaled(storedSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_RGB32),
          orientation);
    }
  }
  // JPEG files, nearly all of them, are decoded at a reduced scale by our own cheapest settings;
  // what that decoder leaves (other formats, CMYK, damaged files) goes to the generic reader.
  const QImage reduced = DecodeJpegNearSize(path, storedSize);
  if (!reduced.isNull()) {
    return OrientImage(reduced.scaled(storedSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_RGB32),
                       orientation);
  }
  QImageReader reader(path);
  reader.setAutoTransform(false);
  reader.setScaledSize(storedSize);
  QImage image = reader.read();
  if (image.isNull()) return {};
  return OrientImage(image.convertToFormat(QImage::Format_RGB32), orientation);
}

QImage DecodePictureForPreview(const QString& path, const QSize& size, QSize* fullSize) {
  const int orientation = ConvertedOrientation(path, ReadPhotoHead(path));
  const bool swaps = OrientationSwapsSides(orientation);
  QImageReader reader(path);
  reader.setAutoTransform(false);
  const QSize stored = reader.size();
  const QSize upright = swaps ? stored.transposed() : stored;
  if (fullSize != nullptr) *fullSize = upright;
  if (stored.isValid() && !stored.isEmpty()) {
    const QSize fitted = upright.scaled(size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    reader.setScaledSize(swaps ? fitted.transposed() : fitted);
  }
  QImage image = reader.read();
  if (image.isNull()) return {};
  image = OrientImage(image.convertToFormat(QImage::Format_RGB32), orientation);
  if (fullSize != nullptr && !stored.isValid()) *fullSize = image.size();
  return image;
}

QImage DrawTile(const std::string& path) {
  QImage tile(kTileSize, kTileSize, QImage::Format_RGB32);
  tile.fill(Qt::white);
  QPainter painter(&tile);
  QFont font = painter.font();
  font.setPixelSize(11);
  painter.setFont(font);
  const ItemKind kind = KindOfItem(path);
  bool undecodable = false;
  if (kind == ItemKind::Image) {
    const QImage picture =
        DecodePictureAtSize(QString::fromStdString(path), QSize(kTileSize, kTileSize));
    if (!picture.isNull()) {
      painter.drawImage(QRect(0, 0, kTileSize, kTileSize), picture);
    } else {
      undecodable = true;
    }
  }
  if (kind != ItemKind::Image || undecodable) {
    painter.setPen(Qt::black);
    painter.setBrush(Qt::white);
    painter.drawRect(0, 0, 92, 92);
  }
  // Tiles are drawn on the pool's threads; translating is safe there.
  const char* label = TileLabelOf(kind);
  DrawLabel(painter, 5, 5, *label != '\0' ? QCoreApplication::translate("ItemStrip", label) : "");
  DrawLabel(painter, 5, 30, FileNameOf(path));
  if (undecodable) {
    painter.drawText(QRect(5, 52, 84, 36), Qt::TextWordWrap,
                     QCoreApplication::translate("ItemStrip", "cannot be decoded"));
  }
  return tile;
}

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    stamp.modified =
        static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    stamp.size = static_cast<long long>(status.st_size);
  }
  return stamp;
}

QImage ThumbnailCache::Find(const std::string& path, const FileStamp& stamp) const {
  std::lock_guard lock(mutex_);
  const auto found = entries_.find(path);
  if (found == entries_.end() || !(found->second.stamp == stamp)) return {};
  return found->second.tile;
}

void ThumbnailCache::Store(const std::string& path, const FileStamp& stamp, const QImage& tile) {
  std::lock_guard lock(mutex_);
  if (entries_.size() >= kMaxCachedTiles && entries_.find(path) == entries_.end()) {
    entries_.clear();
  }
  entries_[path] = Entry{stamp, tile};
}

void ThumbnailCache::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

size_t ThumbnailCache::Size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}
