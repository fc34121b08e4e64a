// Fuzz target for the RLE decoder: arbitrary fragments against frames of any small format.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "rle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static constexpr std::string_view kPhotometric[] = {"MONOCHROME2", "RGB", "YBR_FULL",
                                                      "PALETTE COLOR"};
  const std::string_view photometric = kPhotometric[data[0] % 4];
  const int bitsAllocated = (data[1] & 1) ? 16 : 8;
  const size_t pixels = 1 + (static_cast<size_t>(data[2]) << 4 | data[3] >> 4);
  const size_t samples =
      photometric.substr(0, 3) == "MON" || photometric.substr(0, 3) == "PAL" ? 1 : 3;
  std::vector<uint8_t> frame(pixels * samples * static_cast<size_t>(bitsAllocated / 8));
  // The fragment is copied so that reads past its end are caught.
  const std::vector<uint8_t> fragment(data + 4, data + size);
  DecodeRLEFrame(photometric, fragment.data(), fragment.size(), frame.data(), frame.size(),
                 bitsAllocated);
  std::vector<uint8_t> part(pixels);
  DecodeRLESegment(fragment.data(), fragment.size(), data[3] & 0x0F, fragment.size(), part.data(),
                   part.size());
  return 0;
}
