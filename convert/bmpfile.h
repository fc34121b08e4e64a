// Our reader of Windows bitmap files: palette, 16-, 24- and 32-bit, RLE, both row orders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "rgbbitmap.h"

// Decodes a whole BMP file held in memory. False, with the reason in `error`, for anything that
// is not a complete bitmap of a supported kind.
bool DecodeBmp(const uint8_t* bytes, size_t size, RgbBitmap& bitmap, std::string& error);
