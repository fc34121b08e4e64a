// Helpers for tests that scan with the test backend: options it alone has, and BMP headers.
#pragma once

#include <sane/sane.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Sets an option of the test backend by name: a string, or for a number or boolean its value.
SANE_Status SetTestOption(SANE_Handle device, const std::string& name, const std::string& text);
SANE_Status SetTestOption(SANE_Handle device, const std::string& name, int value);

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);

// The fields of a BMP file's headers this program writes.
struct BmpHeader {
  bool signature = false;  // "BM"
  uint32_t fileSize = 0;
  uint32_t pixelOffset = 0;
  uint32_t infoSize = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bitsPerPixel = 0;
  uint32_t compression = 0;
  uint32_t xPixelsPerMetre = 0;
  uint32_t yPixelsPerMetre = 0;
  uint32_t coloursUsed = 0;
};
BmpHeader ParseBmpHeader(const std::vector<uint8_t>& bytes);
