// The 8-bit IJG build: baseline and lossless encoding and decoding of byte samples.
#include <cstdio>

#include "codec_jpeg.h"

extern "C" {
#include <gdcmjpeg/8/jpeglib.h>
// jerror.h must follow jpeglib.h.
#include <gdcmjpeg/8/jerror.h>
}

#define JPEG_BITS 8
#include "codec_jpeg_impl.inc"

int CompressJpeg8(int width, int height, int components, const uint8_t* source,
                  std::vector<uint8_t>& out, int mode) {
  if (mode != kJpegBaseline && mode != kJpegLossless) {
    out.clear();
    WriteLog("ERROR, CompressJpeg8, mode " + std::to_string(mode) + " not supported");
    return -1;
  }
  return Compress("CompressJpeg8", width, height, components, source, out, mode == kJpegLossless,
                  90);
}

int DecompressJpeg8(const uint8_t* fragment, size_t length, uint8_t* frame, size_t frameSize,
                    JpegColour colour) {
  return Decompress("DecompressJpeg8", fragment, length, frame, frameSize, colour);
}
