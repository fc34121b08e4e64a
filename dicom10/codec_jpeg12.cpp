// The 12-bit IJG build: extended sequential encoding and decoding of 12-bit samples.
#include <cstdio>

#include "codec_jpeg.h"

extern "C" {
#include <gdcmjpeg/12/jpeglib.h>
// jerror.h must follow jpeglib.h.
#include <gdcmjpeg/12/jerror.h>
}

#define JPEG_BITS 12
#include "codec_jpeg_impl.inc"

int CompressJpeg12(int width, int height, int components, const uint8_t* source,
                   std::vector<uint8_t>& out) {
  return Compress("CompressJpeg12", width, height, components, source, out, false, 75);
}

int DecompressJpeg12(const uint8_t* fragment, size_t length, uint8_t* frame, size_t frameSize,
                     JpegColour colour) {
  return Decompress("DecompressJpeg12", fragment, length, frame, frameSize, colour);
}
