// The 96 × 96 tiles of the item strip, decoded at tile size and kept by path and modification
// time, so a redraw decodes only what is new or changed.
#pragma once

#include <QImage>
#include <QString>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "itemlist.h"

inline constexpr int kTileSize = 96;

// A picture decoded to (about) the given size, turned as the image converter turns it (the Exif
// orientation of a JPEG photo); JPEG files are scaled while decoding, and the camera's embedded
// thumbnail serves when it shows the same picture. Null when the file cannot be read or decoded.
QImage DecodePictureAtSize(const QString& path, const QSize& size);

// A whole picture scaled to fit `size` keeping its aspect ratio (for the preview), turned as the
// image converter turns it; null when it cannot be decoded. `fullSize` receives the picture's own
// size, upright.
QImage DecodePictureForPreview(const QString& path, const QSize& size, QSize* fullSize);

// One tile: a picture stretched to the square with "IMG", or a framed white square with the
// kind's label; the file name below. A picture that cannot be decoded gets a tile saying so.
QImage DrawTile(const std::string& path);

// What a cached tile is checked against: the file's modification time and size (a missing file
// has size -1).
struct FileStamp {
  long long modified = 0;
  long long size = -1;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// Tiles by path; safe to use from several threads.
class ThumbnailCache {
 public:
  // The cached tile of `path` if it was drawn from the file `stamp` describes; null otherwise.
  QImage Find(const std::string& path, const FileStamp& stamp) const;
  // Keeps `tile`, drawn from the file as `stamp` describes it (taken before it was read).
  void Store(const std::string& path, const FileStamp& stamp, const QImage& tile);
  void Clear();
  size_t Size() const;

 private:
  struct Entry {
    FileStamp stamp;
    QImage tile;
  };

  mutable std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
};
