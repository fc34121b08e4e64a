// Fuzz target: the BMP, PNG and JPEG decoders on arbitrary bytes; the first byte picks one.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bmpfile.h"
#include "jpegfile.h"
#include "pngfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  RgbBitmap bitmap;
  std::string error;
  switch (data[0] % 3) {
    case 0:
      DecodeBmp(data + 1, size - 1, bitmap, error);
      break;
    case 1:
      DecodePng(data + 1, size - 1, bitmap, error);
      break;
    default:
      DecodeJpeg(data + 1, size - 1, bitmap, error);
      break;
  }
  return 0;
}
