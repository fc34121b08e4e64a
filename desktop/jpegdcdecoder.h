// Baseline JPEG pictures at 1/8 scale from the DC coefficients alone. Each 8 × 8 block becomes one
// pixel, its average, as libjpeg's 1/8 scale gives it; the other 63 coefficients of a block are
// only stepped over, up to two codes a table look-up, since decoding them is where nearly all of a
// tile's time goes. Other kinds of JPEG (progressive, arithmetic coding, 12 bits, CMYK, RGB) and
// damaged data are declined, and left to libjpeg.
#pragma once

#include <QImage>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <vector>

// The DC value of every block of each component, as samples (0-255).
struct JpegDcPlanes {
  struct Plane {
    int horizontal = 1;  // sampling factors
    int vertical = 1;
    int blocksWide = 0;  // blocks in a row of the plane (whole MCUs)
    int blocksHigh = 0;
    std::vector<uint8_t> samples;
  };
  int width = 0;  // the picture's size in pixels
  int height = 0;
  std::vector<Plane> planes;  // one (grey) or three (Y, Cb, Cr)
};

// Decodes the DC of every block of the JPEG `data`. False, with nothing decoded, when it is no
// baseline (or extended) Huffman-coded 8-bit JPEG of one or three YCbCr components in one scan,
// when its picture at 1/8 scale would not cover `atLeast`, or when the data is damaged or cut
// short.
bool DecodeJpegDc(const uint8_t* data, size_t size, const QSize& atLeast, JpegDcPlanes& planes);

// The planes as a picture at 1/8 scale (each side divided by 8, rounded up), converted from YCbCr
// as libjpeg converts it, the colour planes widened by repeating their samples.
QImage JpegDcPicture(const JpegDcPlanes& planes);
