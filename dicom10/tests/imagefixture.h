// Test images made at test time: small data sets with native pixel data of a given format, and
// the raw samples they hold, for the codec and conversion tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dcmobj.h"
#include "transfer_syntax.h"

namespace imagefixture {

struct ImageFormat {
  const char* name;
  const char* photometric;
  uint16_t bitsAllocated;
  uint16_t bitsStored;
  uint16_t pixelRepresentation;
  bool planar;  // Planar Configuration 1 for colour
  uint16_t rows = 24;
  uint16_t columns = 40;
  int frames = 2;
  const char* modality = "OT";
};

inline bool IsColour(const ImageFormat& format) {
  const std::string photometric = format.photometric;
  return photometric.rfind("MON", 0) != 0 && photometric.rfind("PAL", 0) != 0;
}

// Smooth gradients with a little noise (lossy codecs stay close, lossless codecs have to work),
// covering the whole range of the stored bits, negative values included when signed.
inline std::vector<uint8_t> InterleavedSamples(const ImageFormat& f, bool noise = true) {
  const int components = IsColour(f) ? 3 : 1;
  const size_t bytes = f.bitsAllocated / 8;
  std::vector<uint8_t> out;
  uint32_t state = 12345;
  const long range = 1L << f.bitsStored;
  const long low = f.pixelRepresentation ? -(range / 2) : 0;
  for (int frame = 0; frame < f.frames; ++frame) {
    for (int y = 0; y < f.rows; ++y) {
      for (int x = 0; x < f.columns; ++x) {
        for (int c = 0; c < components; ++c) {
          state = state * 1103515245u + 12345u;
          const double position = (x + 2.0 * y + 7.0 * c + 5.0 * frame) /
                                  (f.columns + 2.0 * f.rows + 14.0 + 5.0 * f.frames);
          long value = low + static_cast<long>(position * static_cast<double>(range - 1));
          if (noise) value += static_cast<long>((state >> 16) % 3) - 1;
          value = std::max(low, std::min(low + range - 1, value));
          const auto word = static_cast<uint32_t>(value);
          for (size_t b = 0; b < bytes; ++b) out.push_back(static_cast<uint8_t>(word >> (8 * b)));
        }
      }
    }
  }
  return out;
}

// The frames of interleaved samples (of `sampleBytes` bytes each) in planar order (all of R, then
// G, then B per frame).
inline std::vector<uint8_t> ToPlanar(const std::vector<uint8_t>& interleaved, size_t frameSize,
                                     size_t sampleBytes = 1) {
  std::vector<uint8_t> planar(interleaved.size());
  const size_t third = frameSize / 3;
  for (size_t start = 0; start < interleaved.size(); start += frameSize) {
    for (size_t k = 0; k < third / sampleBytes; ++k) {
      for (size_t c = 0; c < 3; ++c) {
        for (size_t b = 0; b < sampleBytes; ++b) {
          planar[start + c * third + k * sampleBytes + b] =
              interleaved[start + (3 * k + c) * sampleBytes + b];
        }
      }
    }
  }
  return planar;
}

inline std::unique_ptr<DcmTag> Text(uint16_t group, uint16_t element, const char* vr,
                                    const std::string& text) {
  return DcmTag::FromBytes(group, element, static_cast<uint32_t>(text.size()), text.data(), vr);
}

// An image data set in Explicit VR Little Endian with native pixel data holding `samples`
// (interleaved; stored planar when the format says so).
inline std::unique_ptr<DcmObj> MakeImage(const ImageFormat& f,
                                         const std::vector<uint8_t>& samples) {
  auto d = std::make_unique<DcmObj>();
  d->SetTransferSyntax(kExplicitVRLittleEndian);
  const bool colour = IsColour(f);
  d->Append(Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7"));
  d->Append(Text(0x0008, 0x0018, "UI", "1.2.826.0.1.3680043.2.1125.99.1"));
  d->Append(Text(0x0008, 0x0060, "CS", f.modality));
  d->Append(Text(0x0010, 0x0010, "PN", "TEST^IMAGE"));
  d->Append(DcmTag::FromUS(0x0028, 0x0002, colour ? 3 : 1, "US"));
  d->Append(Text(0x0028, 0x0004, "CS", f.photometric));
  if (colour) d->Append(DcmTag::FromUS(0x0028, 0x0006, f.planar ? 1 : 0, "US"));
  d->Append(Text(0x0028, 0x0008, "IS", std::to_string(f.frames)));
  d->Append(DcmTag::FromUS(0x0028, 0x0010, f.rows, "US"));
  d->Append(DcmTag::FromUS(0x0028, 0x0011, f.columns, "US"));
  d->Append(DcmTag::FromUS(0x0028, 0x0100, f.bitsAllocated, "US"));
  d->Append(DcmTag::FromUS(0x0028, 0x0101, f.bitsStored, "US"));
  d->Append(DcmTag::FromUS(0x0028, 0x0102, static_cast<uint16_t>(f.bitsStored - 1), "US"));
  d->Append(DcmTag::FromUS(0x0028, 0x0103, f.pixelRepresentation, "US"));
  const size_t frameSize = samples.size() / static_cast<size_t>(f.frames);
  const std::vector<uint8_t> stored =
      colour && f.planar ? ToPlanar(samples, frameSize, f.bitsAllocated / 8u) : samples;
  d->Append(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<uint32_t>(stored.size()), stored.data(),
                              f.bitsAllocated == 8 ? "OB" : "OW"));
  return d;
}

// The native samples of a data set (its Pixel Data value, no padding), or empty.
inline std::vector<uint8_t> NativeSamples(const DcmObj& d, size_t expected) {
  const DcmTag* pixels = d.FindTag(0x7FE0, 0x0010);
  if (pixels == nullptr || !pixels->HasValue() || pixels->length < expected) return {};
  return std::vector<uint8_t>(pixels->value.get(), pixels->value.get() + expected);
}

}  // namespace imagefixture
