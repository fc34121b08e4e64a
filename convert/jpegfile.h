// JPEG pictures through libjpeg-turbo: decoding to RGB and baseline encoding at a given quality.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rgbbitmap.h"

// Decodes a JPEG stream held in memory into RGB, as its pixels are stored (no rotation from an
// orientation tag). Grey pictures become three equal channels; CMYK ones are converted.
bool DecodeJpeg(const uint8_t* bytes, size_t size, RgbBitmap& bitmap, std::string& error);

// Encodes RGB as baseline sequential JPEG: YCbCr with both chroma components subsampled by two
// in each direction, the standard Huffman tables, `quality` on the IJG scale.
bool EncodeJpegBaseline(const RgbBitmap& bitmap, int quality, std::vector<uint8_t>& stream,
                        std::string& error);
