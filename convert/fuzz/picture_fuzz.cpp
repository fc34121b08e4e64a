// Fuzz target: the BMP, PNG and JPEG decoders on arbitrary bytes; the first byte picks one. JPEG
// input also goes through the segment and Exif reader, the whole-stream check and the turning.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bmpfile.h"
#include "jpegfacts.h"
#include "jpegfile.h"
#include "orientation.h"
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
    default: {
      const JpegFacts facts = ReadJpegFacts(data + 1, size - 1);
      // What is found lies inside the input.
      if (facts.thumbnailOffset + facts.thumbnailLength > size - 1) __builtin_trap();
      if (facts.imageEnd > size - 1) __builtin_trap();
      ExifDateTimeToDicom(facts.dateTimeOriginal, facts.subSecTimeOriginal,
                          facts.offsetTimeOriginal);
      JpegDecodesCleanly(data + 1, size - 1, error);
      if (DecodeJpeg(data + 1, size - 1, bitmap, error)) OrientBitmap(bitmap, facts.orientation);
      break;
    }
  }
  return 0;
}
