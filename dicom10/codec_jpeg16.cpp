// The 16-bit IJG build: lossless encoding and decoding of samples up to 16 bits.
#include <cstdio>

#include "codec_jpeg.h"

extern "C" {
#include <gdcmjpeg/16/jpeglib.h>
// jerror.h must follow jpeglib.h.
#include <gdcmjpeg/16/jerror.h>
}

#define JPEG_BITS 16
#include "codec_jpeg_impl.inc"

int CompressJpeg16(int width, int height, int components, const uint8_t* source,
                   std::vector<uint8_t>& out) {
  return Compress("CompressJpeg16", width, height, components, source, out, true, 0);
}

int DecompressJpeg16(const uint8_t* fragment, size_t length, uint8_t* frame, size_t frameSize,
                     JpegColour colour) {
  return Decompress("DecompressJpeg16", fragment, length, frame, frameSize, colour);
}
