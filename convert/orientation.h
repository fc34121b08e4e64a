// Turning a picture as its Exif orientation says, so it shows as the photo was taken.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rgbbitmap.h"

// Exif orientation values 5 to 8 turn the picture by a quarter: its sides swap.
inline bool OrientationSwapsSides(int orientation) {
  return orientation >= 5 && orientation <= 8;
}

// Whether the value asks for any change (2 to 8); 0 (absent), 1 and anything else do not.
inline bool OrientationChangesPicture(int orientation) {
  return orientation >= 2 && orientation <= 8;
}

// The stored pixel shown at (x, y) of the upright picture, for a stored picture of
// `storedWidth` × `storedHeight` (Exif orientation: 2 mirrored, 3 turned half, 4 flipped,
// 5 transposed, 6 turned a quarter clockwise, 7 transversed, 8 turned a quarter anticlockwise).
inline void StoredPixelOf(int orientation, size_t storedWidth, size_t storedHeight, size_t x,
                          size_t y, size_t& storedX, size_t& storedY) {
  switch (orientation) {
    case 2:
      storedX = storedWidth - 1 - x, storedY = y;
      return;
    case 3:
      storedX = storedWidth - 1 - x, storedY = storedHeight - 1 - y;
      return;
    case 4:
      storedX = x, storedY = storedHeight - 1 - y;
      return;
    case 5:
      storedX = y, storedY = x;
      return;
    case 6:
      storedX = y, storedY = storedHeight - 1 - x;
      return;
    case 7:
      storedX = storedWidth - 1 - y, storedY = storedHeight - 1 - x;
      return;
    case 8:
      storedX = storedWidth - 1 - y, storedY = x;
      return;
    default:
      storedX = x, storedY = y;
      return;
  }
}

// Copies the `Pixel` values of a stored picture (rows of `storedStride` pixels) into `upright`
// (rows of `uprightStride` pixels), which is storedHeight wide when the sides swap.
template <typename Pixel>
void OrientPixels(int orientation, const Pixel* stored, size_t storedWidth, size_t storedHeight,
                  size_t storedStride, Pixel* upright, size_t uprightStride) {
  const bool swaps = OrientationSwapsSides(orientation);
  const size_t width = swaps ? storedHeight : storedWidth;
  const size_t height = swaps ? storedWidth : storedHeight;
  for (size_t y = 0; y < height; ++y) {
    Pixel* row = upright + y * uprightStride;
    for (size_t x = 0; x < width; ++x) {
      size_t storedX = 0, storedY = 0;
      StoredPixelOf(orientation, storedWidth, storedHeight, x, y, storedX, storedY);
      row[x] = stored[storedY * storedStride + storedX];
    }
  }
}

// The bitmap turned upright; unchanged for orientations that ask for no change.
RgbBitmap OrientBitmap(const RgbBitmap& stored, int orientation);
