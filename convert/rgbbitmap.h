// RgbBitmap: a decoded picture as 8-bit RGB triples, rows top to bottom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbBitmap {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3 bytes, no row padding
};

// Rows and Columns are 16-bit, so larger pictures cannot be described; the pixel cap keeps a
// hostile header from making us allocate gigabytes before the data turns out to be missing.
inline constexpr uint32_t kMaxPictureSide = 65535;
inline constexpr uint64_t kMaxPicturePixels = 256ull * 1024 * 1024;

// Compressed pictures are believed to hold at most this many pixels per byte of their file, plus
// a fixed allowance: beyond that the header claims a picture the data cannot describe, and the
// pixel buffer is not made for it.
inline constexpr uint64_t kMaxPixelsPerByte = 1024;
inline constexpr uint64_t kPixelAllowance = 4ull * 1024 * 1024;

// Empty when `bytes` of compressed data can plausibly describe `pixels`; otherwise the reason.
inline std::string CheckPictureEvidence(uint64_t width, uint64_t height, uint64_t bytes) {
  if (width * height <= bytes * kMaxPixelsPerByte + kPixelAllowance) return "";
  return "the file (" + std::to_string(bytes) + " bytes) is too short to hold a " +
         std::to_string(width) + " x " + std::to_string(height) + " picture";
}

// Empty when the size can be held; otherwise the reason, for the user's message.
inline std::string CheckPictureSize(uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) return "the picture has no pixels";
  if (width > kMaxPictureSide || height > kMaxPictureSide) {
    return "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels; at most 65535 pixels per side can be stored";
  }
  if (width * height > kMaxPicturePixels) {
    return "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than this program converts";
  }
  return "";
}
