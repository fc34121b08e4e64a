// RLE Lossless decoding: header checks, PackBits segments and sample reassembly.
#include "rle.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "log.h"

namespace {

uint32_t ReadLittle32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool IsMonochrome(std::string_view photometric) {
  return photometric.substr(0, 3) == "MON" || photometric.substr(0, 3) == "PAL";
}

uint8_t ClampToByte(double value) {
  const double truncated = std::trunc(value);
  return static_cast<uint8_t>(std::clamp(truncated, 0.0, 255.0));
}

void UnsupportedFormat(uint32_t segments, int bitsAllocated, std::string_view photometric) {
  WriteLog("ERROR, format not supported: segment_count=" + std::to_string(segments) +
           ", bitsa=" + std::to_string(bitsAllocated) +
           ", PhotometricInterpretation=" + std::string(photometric));
}

}  // namespace

size_t DecodeRLESegment(const uint8_t* fragment, size_t fragmentLength, size_t offset,
                        size_t length, uint8_t* part, size_t partSize) {
  if (offset > fragmentLength) length = 0;
  length = std::min(length, fragmentLength - std::min(offset, fragmentLength));
  const uint8_t* in = fragment + std::min(offset, fragmentLength);
  size_t read = 0;
  size_t written = 0;
  while (written < partSize) {
    if (read >= length) {
      WriteLog("ERROR, overflow decoding RLE");
      break;
    }
    const auto control = static_cast<int8_t>(in[read++]);
    if (control >= 0) {
      const size_t count = static_cast<size_t>(control) + 1;
      if (read + count > length) {
        WriteLog("ERROR, overflow decoding RLE");
        break;
      }
      const size_t n = std::min(count, partSize - written);
      std::memcpy(part + written, in + read, n);
      written += n;
      read += count;
    } else if (control != -128) {
      if (read >= length) {
        WriteLog("ERROR, overflow decoding RLE");
        break;
      }
      const size_t count = static_cast<size_t>(1 - control);
      const size_t n = std::min(count, partSize - written);
      std::memset(part + written, in[read++], n);
      written += n;
    }
  }
  return written;
}

bool DecodeRLEFrame(std::string_view photometric, const uint8_t* fragment, size_t fragmentLength,
                    uint8_t* frame, size_t frameSize, int bitsAllocated) {
  if (fragment == nullptr || fragmentLength < 64) {
    WriteLog("ERROR, DecodeRLEFrame, fragment of " + std::to_string(fragmentLength) +
             " bytes has no RLE header");
    return false;
  }
  const uint32_t segments = ReadLittle32(fragment);
  const size_t samplesPerPixel = IsMonochrome(photometric) ? 1 : 3;
  const size_t bytesPerSample = bitsAllocated > 0 ? static_cast<size_t>(bitsAllocated) / 8 : 0;
  const size_t expected = samplesPerPixel * bytesPerSample;
  if (segments < 1 || segments > 15 || bitsAllocated % 8 != 0 || segments != expected ||
      frameSize % segments != 0) {
    UnsupportedFormat(segments, bitsAllocated, photometric);
    return false;
  }
  uint32_t offsets[16];
  for (uint32_t s = 0; s < segments; ++s) offsets[s] = ReadLittle32(fragment + 4 + 4 * s);
  offsets[segments] = static_cast<uint32_t>(std::min<size_t>(fragmentLength, UINT32_MAX));
  const size_t pixels = frameSize / segments;
  for (uint32_t s = 0; s < segments; ++s) {
    if (offsets[s] < 64 || offsets[s] > offsets[s + 1]) {
      WriteLog("ERROR, DecodeRLEFrame, segment " + std::to_string(s + 1) + " offset " +
               std::to_string(offsets[s]) + " outside the fragment");
      return false;
    }
  }
  // One segment is the frame itself; several are decoded side by side into a buffer each thread
  // keeps for its next frame, then woven together.
  uint8_t* parts = frame;
  if (segments > 1) {
    thread_local std::vector<uint8_t> scratch;
    if (scratch.size() < frameSize) scratch.resize(frameSize);
    parts = scratch.data();
  }
  for (uint32_t s = 0; s < segments; ++s) {
    const size_t written =
        DecodeRLESegment(fragment, fragmentLength, offsets[s], offsets[s + 1] - offsets[s],
                         parts + s * pixels, pixels);
    if (written != pixels) return false;
  }
  if (segments == 1) return true;
  const bool ybr = photometric == "YBR_FULL" && segments == 3;
  if (ybr) {
    const uint8_t* y = parts;
    const uint8_t* cb = parts + pixels;
    const uint8_t* cr = parts + 2 * pixels;
    for (size_t k = 0; k < pixels; ++k) {
      const double luma = y[k];
      const double blue = cb[k] - 128.0;
      const double red = cr[k] - 128.0;
      frame[3 * k] = ClampToByte(luma + 1.402 * red);
      frame[3 * k + 1] = ClampToByte(luma - 0.344136 * blue - 0.714136 * red);
      frame[3 * k + 2] = ClampToByte(luma + 1.772 * blue);
    }
    return true;
  }
  if (segments == 2) {
    // 16-bit monochrome, the common case: high bytes, then low bytes.
    const uint8_t* high = parts;
    const uint8_t* low = parts + pixels;
    for (size_t k = 0; k < pixels; ++k) {
      frame[2 * k] = low[k];
      frame[2 * k + 1] = high[k];
    }
    return true;
  }
  // Segment s holds byte (s % bytesPerSample) of sample (s / bytesPerSample), most significant
  // byte first; raw samples are little-endian and interleaved.
  const size_t stride = samplesPerPixel * bytesPerSample;
  for (size_t s = 0; s < segments; ++s) {
    const size_t sample = s / bytesPerSample;
    const size_t byteInSample = bytesPerSample - 1 - s % bytesPerSample;
    const uint8_t* part = parts + s * pixels;
    uint8_t* out = frame + sample * bytesPerSample + byteInSample;
    for (size_t k = 0; k < pixels; ++k) out[k * stride] = part[k];
  }
  return true;
}
