// Turning a decoded picture upright.
#include "orientation.h"

#include <cstring>

RgbBitmap OrientBitmap(const RgbBitmap& stored, int orientation) {
  if (!OrientationChangesPicture(orientation)) return stored;
  const bool swaps = OrientationSwapsSides(orientation);
  RgbBitmap upright;
  upright.width = swaps ? stored.height : stored.width;
  upright.height = swaps ? stored.width : stored.height;
  upright.rgb.resize(stored.rgb.size());
  for (size_t y = 0; y < upright.height; ++y) {
    uint8_t* row = &upright.rgb[y * upright.width * 3];
    for (size_t x = 0; x < upright.width; ++x) {
      size_t storedX = 0, storedY = 0;
      StoredPixelOf(orientation, stored.width, stored.height, x, y, storedX, storedY);
      std::memcpy(row + x * 3, &stored.rgb[(storedY * stored.width + storedX) * 3], 3);
    }
  }
  return upright;
}
