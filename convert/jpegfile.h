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

// What ReencodeYCbCrJpeg did.
enum class Reencoded { Done, Failed, NotYCbCr };

// Decodes a YCbCr JPEG held in memory and encodes it again as EncodeJpegBaseline would encode its
// RGB pixels, strip by strip and without turning the samples into RGB and back: the picture is
// never held whole. NotYCbCr, with nothing done, for grey, CMYK and other pictures; Failed with
// `error` for damaged data, as DecodeJpeg refuses it.
Reencoded ReencodeYCbCrJpeg(const uint8_t* bytes, size_t size, int quality,
                            std::vector<uint8_t>& stream, uint32_t& width, uint32_t& height,
                            std::string& error);

// Reads the whole stream's coded data without turning it into pixels: true when it is complete
// and undamaged (the warnings DecodeJpeg refuses are failures here too), else false with `error`.
bool JpegDecodesCleanly(const uint8_t* bytes, size_t size, std::string& error);
