// The small preview picture that cameras and phones store inside a JPEG file's Exif segment.
#pragma once

#include <QByteArray>
#include <QString>

// The embedded JPEG thumbnail of a JPEG file (IFD1 of its Exif APP1 segment), read from the
// first 64 KB only; empty when there is none.
QByteArray ExifThumbnail(const QString& path);

// The same from the first bytes of a JPEG file.
QByteArray ExifThumbnailOf(const QByteArray& head);
