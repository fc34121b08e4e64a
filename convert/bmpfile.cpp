// Our reader of Windows bitmap files: palette, 16-, 24- and 32-bit, RLE, both row orders.
#include "bmpfile.h"

#include <vector>

namespace {

constexpr uint32_t kCompressionRgb = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
constexpr uint32_t kCompressionBitfields = 3;
constexpr uint32_t kCompressionAlphaBitfields = 6;

// Little-endian reads over the file bytes; every read is checked against the end.
class ByteReader {
 public:
  ByteReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool Has(size_t offset, size_t count) const { return offset <= size_ && count <= size_ - offset; }
  uint16_t U16(size_t offset) const {
    return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
  }
  uint32_t U32(size_t offset) const {
    return static_cast<uint32_t>(bytes_[offset]) | static_cast<uint32_t>(bytes_[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes_[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes_[offset + 3]) << 24;
  }
  int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  int16_t I16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
  const uint8_t* At(size_t offset) const { return bytes_ + offset; }
  size_t size() const { return size_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
};

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

// One colour channel of a bit-field pixel, scaled to 0..255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t maximum = 0;

  explicit Channel(uint32_t m) : mask(m) {
    if (mask == 0) return;
    while (((mask >> shift) & 1u) == 0) ++shift;
    maximum = mask >> shift;
  }
  uint8_t Extract(uint32_t pixel) const {
    if (maximum == 0) return 0;
    const uint64_t value = (pixel & mask) >> shift;
    return static_cast<uint8_t>((value * 255 + maximum / 2) / maximum);
  }
};

struct Header {
  uint32_t dataOffset = 0;
  uint32_t headerSize = 0;
  int64_t width = 0;
  int64_t height = 0;  // negative for top-down rows
  uint16_t bitCount = 0;
  uint32_t compression = kCompressionRgb;
  uint32_t colorsUsed = 0;
  uint32_t masks[3] = {0, 0, 0};
};

bool ReadHeader(const ByteReader& in, Header& header, std::string& error) {
  if (!in.Has(0, 18) || in.At(0)[0] != 'B' || in.At(0)[1] != 'M') {
    error = "not a BMP file (no \"BM\" signature)";
    return false;
  }
  header.dataOffset = in.U32(10);
  header.headerSize = in.U32(14);
  if (header.headerSize == 12) {
    if (!in.Has(14, 12)) {
      error = "the bitmap header is truncated";
      return false;
    }
    header.width = in.I16(18);
    header.height = in.I16(20);
    header.bitCount = in.U16(24);
    return true;
  }
  if (header.headerSize < 40 || !in.Has(14, header.headerSize)) {
    error = "the bitmap header is truncated or of an unknown kind";
    return false;
  }
  header.width = in.I32(18);
  header.height = in.I32(22);
  header.bitCount = in.U16(28);
  header.compression = in.U32(30);
  header.colorsUsed = in.U32(46);
  if (header.compression == kCompressionBitfields ||
      header.compression == kCompressionAlphaBitfields) {
    // The masks are part of the larger headers, or follow a 40-byte one.
    const size_t at = 54;
    if (!in.Has(at, 12)) {
      error = "the bitmap's colour masks are missing";
      return false;
    }
    for (int i = 0; i < 3; ++i) header.masks[i] = in.U32(at + 4 * static_cast<size_t>(i));
  }
  return true;
}

bool ReadPalette(const ByteReader& in, const Header& header, std::vector<Rgb>& palette,
                 std::string& error) {
  const size_t entrySize = header.headerSize == 12 ? 3 : 4;
  size_t count = size_t{1} << header.bitCount;
  if (header.colorsUsed != 0 && header.colorsUsed < count) count = header.colorsUsed;
  size_t at = 14 + size_t{header.headerSize};
  if (header.headerSize == 40 && header.compression == kCompressionBitfields) at += 12;
  if (header.headerSize == 40 && header.compression == kCompressionAlphaBitfields) at += 16;
  if (!in.Has(at, count * entrySize)) {
    error = "the bitmap's colour table is truncated";
    return false;
  }
  // Indices beyond a short table read as black, as they do in the usual viewers.
  palette.assign(256, Rgb{});
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = in.At(at + i * entrySize);
    palette[i] = Rgb{entry[2], entry[1], entry[0]};
  }
  return true;
}

void Put(RgbBitmap& bitmap, uint32_t row, uint32_t column, Rgb colour) {
  uint8_t* pixel = &bitmap.rgb[(size_t{row} * bitmap.width + column) * 3];
  pixel[0] = colour.r;
  pixel[1] = colour.g;
  pixel[2] = colour.b;
}

bool DecodeUncompressed(const ByteReader& in, const Header& header, const std::vector<Rgb>& palette,
                        bool topDown, RgbBitmap& bitmap, std::string& error) {
  const uint64_t rowBits = uint64_t{bitmap.width} * header.bitCount;
  const uint64_t stride = (rowBits + 31) / 32 * 4;
  if (!in.Has(header.dataOffset, stride * bitmap.height)) {
    error = "the pixel data is truncated (the file ends before the last row)";
    return false;
  }
  uint32_t masks[3] = {header.masks[0], header.masks[1], header.masks[2]};
  const bool bitfields = header.compression == kCompressionBitfields ||
                         header.compression == kCompressionAlphaBitfields;
  if (!bitfields && header.bitCount == 16) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  } else if (!bitfields && header.bitCount == 32) {
    masks[0] = 0x00FF0000;
    masks[1] = 0x0000FF00;
    masks[2] = 0x000000FF;
  }
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
  for (uint32_t y = 0; y < bitmap.height; ++y) {
    const uint8_t* source = in.At(header.dataOffset + stride * y);
    const uint32_t row = topDown ? y : bitmap.height - 1 - y;
    for (uint32_t x = 0; x < bitmap.width; ++x) {
      switch (header.bitCount) {
        case 1:
          Put(bitmap, row, x, palette[(source[x / 8] >> (7 - x % 8)) & 1]);
          break;
        case 4:
          Put(bitmap, row, x, palette[(source[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F]);
          break;
        case 8:
          Put(bitmap, row, x, palette[source[x]]);
          break;
        case 16: {
          const uint32_t pixel = static_cast<uint32_t>(source[2 * x] | source[2 * x + 1] << 8);
          Put(bitmap, row, x, Rgb{red.Extract(pixel), green.Extract(pixel), blue.Extract(pixel)});
          break;
        }
        case 24:
          Put(bitmap, row, x, Rgb{source[3 * x + 2], source[3 * x + 1], source[3 * x]});
          break;
        case 32: {
          const uint8_t* p = source + 4 * size_t{x};
          const uint32_t pixel = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                 static_cast<uint32_t>(p[2]) << 16 |
                                 static_cast<uint32_t>(p[3]) << 24;
          Put(bitmap, row, x, Rgb{red.Extract(pixel), green.Extract(pixel), blue.Extract(pixel)});
          break;
        }
        default:
          break;
      }
    }
  }
  return true;
}

// Run-length encoded rows (always bottom-up). Pixels the runs never reach stay black.
bool DecodeRunLength(const ByteReader& in, const Header& header, const std::vector<Rgb>& palette,
                     RgbBitmap& bitmap, std::string& error) {
  const bool fourBit = header.compression == kCompressionRle4;
  size_t at = header.dataOffset;
  uint32_t x = 0, y = 0;
  auto put = [&](uint8_t index) {
    if (x < bitmap.width && y < bitmap.height)
      Put(bitmap, bitmap.height - 1 - y, x, palette[index]);
    ++x;
  };
  while (true) {
    if (!in.Has(at, 2)) {
      error = "the run-length pixel data is truncated (no end-of-bitmap mark)";
      return false;
    }
    const uint8_t count = in.At(at)[0];
    const uint8_t code = in.At(at)[1];
    at += 2;
    if (count != 0) {
      for (uint32_t i = 0; i < count; ++i) {
        put(fourBit ? static_cast<uint8_t>(i % 2 == 0 ? code >> 4 : code & 0x0F) : code);
      }
      continue;
    }
    if (code == 0) {  // end of line
      x = 0;
      ++y;
    } else if (code == 1) {  // end of bitmap
      return true;
    } else if (code == 2) {  // move right and up
      if (!in.Has(at, 2)) {
        error = "the run-length pixel data is truncated";
        return false;
      }
      x += in.At(at)[0];
      y += in.At(at)[1];
      at += 2;
    } else {  // `code` literal indices, padded to a 16-bit boundary
      const size_t bytes = fourBit ? (code + 1u) / 2 : code;
      if (!in.Has(at, bytes)) {
        error = "the run-length pixel data is truncated";
        return false;
      }
      for (uint32_t i = 0; i < code; ++i) {
        const uint8_t packed = in.At(at)[fourBit ? i / 2 : i];
        put(fourBit ? static_cast<uint8_t>(i % 2 == 0 ? packed >> 4 : packed & 0x0F) : packed);
      }
      at += bytes + (bytes & 1u);
    }
    if (y > bitmap.height) return true;  // runs beyond the last row cannot draw anything more
  }
}

}  // namespace

bool DecodeBmp(const uint8_t* bytes, size_t size, RgbBitmap& bitmap, std::string& error) {
  const ByteReader in(bytes, size);
  Header header;
  if (!ReadHeader(in, header, error)) return false;
  const bool topDown = header.height < 0;
  const int64_t height = topDown ? -header.height : header.height;
  if (header.width <= 0 || height <= 0) {
    error = "the bitmap has no pixels";
    return false;
  }
  const std::string sizeProblem =
      CheckPictureSize(static_cast<uint64_t>(header.width), static_cast<uint64_t>(height));
  if (!sizeProblem.empty()) {
    error = sizeProblem;
    return false;
  }
  const uint16_t bits = header.bitCount;
  const uint32_t compression = header.compression;
  const bool paletted = bits == 1 || bits == 4 || bits == 8;
  bool supported = false;
  if (compression == kCompressionRgb) {
    supported = paletted || bits == 16 || bits == 24 || bits == 32;
  } else if (compression == kCompressionRle8) {
    supported = bits == 8 && !topDown;
  } else if (compression == kCompressionRle4) {
    supported = bits == 4 && !topDown;
  } else if (compression == kCompressionBitfields || compression == kCompressionAlphaBitfields) {
    supported = bits == 16 || bits == 32;
  }
  if (!supported) {
    error = "unsupported bitmap kind (" + std::to_string(bits) + " bits per pixel, compression " +
            std::to_string(compression) + ")";
    return false;
  }
  std::vector<Rgb> palette;
  if (paletted && !ReadPalette(in, header, palette, error)) return false;

  // Checked before the pixel buffer is allocated, so a header claiming a huge picture over a
  // few bytes of data costs nothing.
  if (header.dataOffset >= size) {
    error = "the pixel data is missing (the file ends before it starts)";
    return false;
  }
  RgbBitmap decoded;
  decoded.width = static_cast<uint32_t>(header.width);
  decoded.height = static_cast<uint32_t>(height);
  if (compression == kCompressionRle8 || compression == kCompressionRle4) {
    error = CheckPictureEvidence(decoded.width, decoded.height, size - header.dataOffset);
    if (!error.empty()) return false;
    decoded.rgb.assign(size_t{decoded.width} * decoded.height * 3, 0);
    if (!DecodeRunLength(in, header, palette, decoded, error)) return false;
  } else {
    const uint64_t stride = (uint64_t{decoded.width} * bits + 31) / 32 * 4;
    if (!in.Has(header.dataOffset, stride * decoded.height)) {
      error = "the pixel data is truncated (the file ends before the last row)";
      return false;
    }
    decoded.rgb.resize(size_t{decoded.width} * decoded.height * 3);
    if (!DecodeUncompressed(in, header, palette, topDown, decoded, error)) return false;
  }
  bitmap = std::move(decoded);
  return true;
}
