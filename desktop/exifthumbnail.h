// What the strip and the preview need from the head of a JPEG file: the small preview picture
// cameras and phones store in its Exif segment, and how the picture is to be turned.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

struct PhotoHead {
  QByteArray thumbnail;          // the embedded JPEG thumbnail (IFD1); empty when there is none
  int thumbnailOrientation = 0;  // IFD1's own orientation tag; 0 when absent
  int orientation = 0;           // the picture's Exif orientation (1 to 8); 0 when absent
  QSize storedSize;              // the picture as stored, before turning; invalid when unknown
};

// Reads the head of the JPEG file at `path` (the segments before its picture data, at most
// 256 KB). Everything stays at its default for other files.
PhotoHead ReadPhotoHead(const QString& path);

// The same from the first bytes of a JPEG file.
PhotoHead PhotoHeadOf(const QByteArray& head);

// The embedded JPEG thumbnail of a JPEG file (IFD1 of its Exif APP1 segment), read from the
// first 64 KB only; empty when there is none.
QByteArray ExifThumbnail(const QString& path);
QByteArray ExifThumbnailOf(const QByteArray& head);

// Whether `thumbnail` shows the picture the head describes: no orientation of its own that
// differs from the picture's, and the picture's aspect within 1 %. Cameras letterbox a wide
// picture into a 4:3 thumbnail, and editors turn a picture without turning its thumbnail.
bool ThumbnailMatchesPicture(const PhotoHead& head, const QSize& thumbnail);

// The orientation the image converter applies to the picture at `path` (a ".JPG" file with an
// Exif orientation), so a tile and the preview show what will be sent; 0 for any other file.
int ConvertedOrientation(const QString& path, const PhotoHead& head);

// `image` turned upright as the Exif `orientation` says; unchanged for 0 and 1.
QImage OrientImage(const QImage& image, int orientation);
