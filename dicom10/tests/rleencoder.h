// A small RLE Lossless encoder for tests: frames of raw samples into PS3.5 Annex G fragments.
#pragma once

#include <cstdint>
#include <vector>

namespace rleencoder {

// PackBits with replicate runs for repeats of three or more and literal runs otherwise.
inline std::vector<uint8_t> PackBits(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && run < 128 && in[i + run] == in[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
      out.push_back(in[i]);
      i += run;
      continue;
    }
    size_t literal = 0;
    while (i + literal < in.size() && literal < 128) {
      if (i + literal + 2 < in.size() && in[i + literal] == in[i + literal + 1] &&
          in[i + literal] == in[i + literal + 2])
        break;
      ++literal;
    }
    out.push_back(static_cast<uint8_t>(literal - 1));
    out.insert(out.end(), in.begin() + static_cast<long>(i),
               in.begin() + static_cast<long>(i + literal));
    i += literal;
  }
  return out;
}

// One fragment: segment s holds byte (s % bytes), most significant first, of sample s / bytes.
inline std::vector<uint8_t> EncodeFrame(const uint8_t* frame, size_t pixels, int samplesPerPixel,
                                        int bytesPerSample) {
  const int segments = samplesPerPixel * bytesPerSample;
  std::vector<uint8_t> fragment(64, 0);
  auto put32 = [&](size_t at, uint32_t value) {
    for (int b = 0; b < 4; ++b)
      fragment[at + static_cast<size_t>(b)] = static_cast<uint8_t>(value >> (8 * b));
  };
  put32(0, static_cast<uint32_t>(segments));
  for (int s = 0; s < segments; ++s) {
    const int sample = s / bytesPerSample;
    const int byte = bytesPerSample - 1 - s % bytesPerSample;
    std::vector<uint8_t> plane(pixels);
    for (size_t k = 0; k < pixels; ++k)
      plane[k] = frame[(k * static_cast<size_t>(samplesPerPixel) + static_cast<size_t>(sample)) *
                           static_cast<size_t>(bytesPerSample) +
                       static_cast<size_t>(byte)];
    put32(4 + 4 * static_cast<size_t>(s), static_cast<uint32_t>(fragment.size()));
    const auto packed = PackBits(plane);
    fragment.insert(fragment.end(), packed.begin(), packed.end());
    if (fragment.size() & 1u) fragment.push_back(0x80);  // a no-op control byte as padding
  }
  return fragment;
}

}  // namespace rleencoder
