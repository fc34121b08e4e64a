// Fuzz target: the DC decoder's header walk and entropy stepping over any bytes.
#include <cstddef>
#include <cstdint>

#include "jpegdcdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JpegDcPlanes planes;
  if (!DecodeJpegDc(data, size, QSize(1, 1), planes)) return 0;
  // What is decoded is a whole picture of the size the header gave.
  const QImage picture = JpegDcPicture(planes);
  if (picture.width() != (planes.width + 7) / 8 || picture.height() != (planes.height + 7) / 8) {
    __builtin_trap();
  }
  return 0;
}
