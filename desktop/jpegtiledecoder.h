// JPEG pictures decoded straight to about tile size: the decoder's own reduced scales and its
// cheapest settings, since a tile shows 96 × 96 pixels of the picture.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// The picture of the JPEG file at `path`, decoded at the smallest of 1/8, 1/4, 1/2 and full scale
// that still covers `size` (so the caller scales it down only a little). At 1/8 a baseline file
// is decoded from its DC coefficients alone (jpegdcdecoder.h), everything else by libjpeg. Null
// when the file is no JPEG or cannot be decoded; a picture cut short keeps the rows that were
// there.
QImage DecodeJpegNearSize(const QString& path, const QSize& size);

// Whether 1/8 scale uses the DC decoder (on unless turned off): desktop_bench turns it off to show
// the figure of libjpeg alone beside it.
void UseJpegDcDecoder(bool use);
