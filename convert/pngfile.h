// PNG pictures through libpng: any colour type and depth to 8-bit RGB, transparency on white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "rgbbitmap.h"

// Decodes a PNG file held in memory. Grey and palette pictures become RGB; transparent and
// partly transparent pixels are blended onto a white background.
bool DecodePng(const uint8_t* bytes, size_t size, RgbBitmap& bitmap, std::string& error);
