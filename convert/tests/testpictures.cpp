// Small pictures made by the tests themselves: JPEG and PNG through the libraries, BMP as bytes.
#include "testpictures.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <png.h>

namespace testpictures {

namespace {

constexpr Colour kQuadrants[4] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {220, 220, 40}};

int QuadrantIndex(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  return (x < width / 2 ? 0 : 1) + (y < height / 2 ? 0 : 2);
}

std::string MakeJpegWith(uint32_t width, uint32_t height, bool grey, int quality,
                         JpegCoding coding);

void Put16(std::string& out, uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

std::string BmpHeaders(uint32_t width, int32_t height, int bits, uint32_t compression,
                       uint32_t paletteEntries, uint32_t dataSize) {
  std::string out = "BM";
  const uint32_t offset = 14 + 40 + paletteEntries * 4;
  Put32(out, offset + dataSize);
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, width);
  Put32(out, static_cast<uint32_t>(height));
  Put16(out, 1);
  Put16(out, static_cast<uint32_t>(bits));
  Put32(out, compression);
  Put32(out, dataSize);
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, paletteEntries);
  Put32(out, 0);
  for (uint32_t i = 0; i < paletteEntries; ++i) {
    const Colour c = i < 4 ? kQuadrants[i] : Colour{0, 0, 0};
    out.push_back(static_cast<char>(c.b));
    out.push_back(static_cast<char>(c.g));
    out.push_back(static_cast<char>(c.r));
    out.push_back(0);
  }
  return out;
}

}  // namespace

Colour QuadrantColour(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  return kQuadrants[QuadrantIndex(x, y, width, height)];
}

std::string MakeJpeg(uint32_t width, uint32_t height, bool grey, int quality) {
  return MakeJpegWith(width, height, grey, quality, JpegCoding::Baseline420);
}

std::string MakeColourJpeg(uint32_t width, uint32_t height, JpegCoding coding) {
  return MakeJpegWith(width, height, false, 95, coding);
}

namespace {

std::string MakeJpegWith(uint32_t width, uint32_t height, bool grey, int quality,
                         JpegCoding coding) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = grey ? 1 : 3;
  info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (coding == JpegCoding::Progressive) jpeg_simple_progression(&info);
  if (coding == JpegCoding::Baseline444) {
    info.comp_info[0].h_samp_factor = 1;
    info.comp_info[0].v_samp_factor = 1;
  }
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(width * 3);
  while (info.next_scanline < height) {
    for (uint32_t x = 0; x < width; ++x) {
      const Colour c = QuadrantColour(x, info.next_scanline, width, height);
      if (grey) {
        row[x] = static_cast<uint8_t>((c.r * 299 + c.g * 587 + c.b * 114) / 1000);
      } else {
        row[3 * x] = c.r;
        row[3 * x + 1] = c.g;
        row[3 * x + 2] = c.b;
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return out;
}

}  // namespace

std::string MakePng(uint32_t width, uint32_t height, PngKind kind) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> colourMap;
  switch (kind) {
    case PngKind::Rgb:
    case PngKind::RgbaHalfTransparent: {
      const bool alpha = kind == PngKind::RgbaHalfTransparent;
      image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
      for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
          const Colour c = QuadrantColour(x, y, width, height);
          pixels.insert(pixels.end(), {c.r, c.g, c.b});
          if (alpha) pixels.push_back(x < width / 2 ? 0 : 255);
        }
      }
      break;
    }
    case PngKind::Grey:
      image.format = PNG_FORMAT_GRAY;
      for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
          pixels.push_back(static_cast<uint8_t>(QuadrantIndex(x, y, width, height) * 60));
        }
      }
      break;
    case PngKind::Palette:
      image.format = PNG_FORMAT_RGB_COLORMAP;
      image.colormap_entries = 4;
      for (const Colour& c : kQuadrants) colourMap.insert(colourMap.end(), {c.r, c.g, c.b});
      for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
          pixels.push_back(static_cast<uint8_t>(QuadrantIndex(x, y, width, height)));
        }
      }
      break;
  }
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0,
                            colourMap.empty() ? nullptr : colourMap.data());
  std::string out(size, '\0');
  png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0,
                            colourMap.empty() ? nullptr : colourMap.data());
  out.resize(size);
  return out;
}

std::string MakeBmp(uint32_t width, uint32_t height, int bitsPerPixel, bool topDown) {
  const uint32_t stride = (width * static_cast<uint32_t>(bitsPerPixel) + 31) / 32 * 4;
  const uint32_t paletteEntries = bitsPerPixel <= 8 ? (bitsPerPixel == 1 ? 2 : 5) : 0;
  std::string out =
      BmpHeaders(width, topDown ? -static_cast<int32_t>(height) : static_cast<int32_t>(height),
                 bitsPerPixel, 0, paletteEntries, stride * height);
  for (uint32_t stored = 0; stored < height; ++stored) {
    const uint32_t y = topDown ? stored : height - 1 - stored;
    std::string row(stride, '\0');
    for (uint32_t x = 0; x < width; ++x) {
      const int index = QuadrantIndex(x, y, width, height);
      const Colour c = kQuadrants[index];
      switch (bitsPerPixel) {
        case 1:  // only two palette entries: left half 0, right half 1
          if (index % 2 == 1) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
          break;
        case 4:
          row[x / 2] = static_cast<char>(row[x / 2] | (x % 2 == 0 ? index << 4 : index));
          break;
        case 8:
          row[x] = static_cast<char>(index);
          break;
        case 16: {
          const uint32_t pixel =
              static_cast<uint32_t>((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
          row[2 * x] = static_cast<char>(pixel & 0xFF);
          row[2 * x + 1] = static_cast<char>(pixel >> 8);
          break;
        }
        case 24:
          row[3 * x] = static_cast<char>(c.b);
          row[3 * x + 1] = static_cast<char>(c.g);
          row[3 * x + 2] = static_cast<char>(c.r);
          break;
        case 32:
          row[4 * x] = static_cast<char>(c.b);
          row[4 * x + 1] = static_cast<char>(c.g);
          row[4 * x + 2] = static_cast<char>(c.r);
          row[4 * x + 3] = 0;
          break;
        default:
          break;
      }
    }
    out += row;
  }
  return out;
}

std::string MakeBmpRle8(uint32_t width, uint32_t height) {
  std::string data;
  for (uint32_t stored = 0; stored < height; ++stored) {
    const uint32_t y = height - 1 - stored;
    // Two runs per row, each at most 255 pixels wide in these small fixtures.
    const uint32_t left = width / 2, right = width - width / 2;
    data.push_back(static_cast<char>(left));
    data.push_back(static_cast<char>(QuadrantIndex(0, y, width, height)));
    data.push_back(static_cast<char>(right));
    data.push_back(static_cast<char>(QuadrantIndex(width - 1, y, width, height)));
    data.push_back(0);
    data.push_back(0);  // end of line
  }
  data.push_back(0);
  data.push_back(1);  // end of bitmap
  std::string out =
      BmpHeaders(width, static_cast<int32_t>(height), 8, 1, 5, static_cast<uint32_t>(data.size()));
  return out + data;
}

namespace {

// One directory entry of a TIFF structure; `value` holds the value's bytes in the structure's
// byte order (placed inside the entry when it fits four bytes).
struct TiffEntry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  std::string value;
};

class TiffWriter {
 public:
  explicit TiffWriter(bool motorola) : motorola_(motorola) {}
  std::string U16(uint32_t v) const {
    std::string out;
    if (motorola_) {
      out = {static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)};
    } else {
      out = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
    }
    return out;
  }
  std::string U32(uint32_t v) const {
    return motorola_ ? U16(v >> 16) + U16(v & 0xFFFF) : U16(v & 0xFFFF) + U16(v >> 16);
  }
  TiffEntry Short(uint16_t tag, uint32_t value) const { return {tag, 3, 1, U16(value) + U16(0)}; }
  TiffEntry Long(uint16_t tag, uint32_t value) const { return {tag, 4, 1, U32(value)}; }
  TiffEntry Ascii(uint16_t tag, const std::string& text) const {
    return {tag, 2, static_cast<uint32_t>(text.size() + 1), text + '\0'};
  }
  // The bytes a directory takes with its values that do not fit their entries.
  static size_t SizeOf(const std::vector<TiffEntry>& entries) {
    size_t size = 2 + entries.size() * 12 + 4;
    for (const TiffEntry& entry : entries) {
      if (entry.value.size() > 4) size += entry.value.size() + entry.value.size() % 2;
    }
    return size;
  }
  // The directory placed at `offset` of the structure, followed by its long values.
  std::string Directory(const std::vector<TiffEntry>& entries, uint32_t offset,
                        uint32_t next) const {
    std::string out = U16(static_cast<uint32_t>(entries.size()));
    std::string data;
    uint32_t dataOffset = offset + static_cast<uint32_t>(2 + entries.size() * 12 + 4);
    for (const TiffEntry& entry : entries) {
      out += U16(entry.tag) + U16(entry.type) + U32(entry.count);
      if (entry.value.size() <= 4) {
        out += entry.value + std::string(4 - entry.value.size(), '\0');
      } else {
        out += U32(dataOffset + static_cast<uint32_t>(data.size()));
        data += entry.value;
        if (data.size() % 2 != 0) data.push_back('\0');
      }
    }
    return out + U32(next) + data;
  }

 private:
  bool motorola_;
};

std::string Segment(uint8_t marker, const std::string& body) {
  const size_t length = body.size() + 2;
  return std::string{static_cast<char>(0xFF), static_cast<char>(marker),
                     static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} +
         body;
}

}  // namespace

std::string WithExif(const std::string& jpeg, const ExifFields& fields, bool motorola) {
  const TiffWriter tiff(motorola);
  std::vector<TiffEntry> exif;
  if (!fields.dateTimeOriginal.empty()) exif.push_back(tiff.Ascii(0x9003, fields.dateTimeOriginal));
  if (!fields.offsetTimeOriginal.empty()) {
    exif.push_back(tiff.Ascii(0x9011, fields.offsetTimeOriginal));
  }
  if (!fields.subSecTimeOriginal.empty()) {
    exif.push_back(tiff.Ascii(0x9291, fields.subSecTimeOriginal));
  }
  // Latitude reference "N" and 51 degrees 30 minutes 0 seconds.
  std::vector<TiffEntry> gps = {
      tiff.Ascii(0x0001, "N"),
      {0x0002, 5, 3,
       tiff.U32(51) + tiff.U32(1) + tiff.U32(30) + tiff.U32(1) + tiff.U32(0) + tiff.U32(1)}};
  std::vector<TiffEntry> first;
  if (fields.orientation != 0) first.push_back(tiff.Short(0x0112, fields.orientation));
  first.push_back(tiff.Long(0x8769, 0));
  if (fields.gps) first.push_back(tiff.Long(0x8825, 0));
  std::vector<TiffEntry> second;
  if (!fields.thumbnail.empty()) {
    if (fields.thumbnailOrientation != 0) {
      second.push_back(tiff.Short(0x0112, fields.thumbnailOrientation));
    }
    second.push_back(tiff.Long(0x0201, 0));
    second.push_back(tiff.Long(0x0202, static_cast<uint32_t>(fields.thumbnail.size())));
  }
  const uint32_t firstAt = 8;
  const uint32_t exifAt = firstAt + static_cast<uint32_t>(TiffWriter::SizeOf(first));
  const uint32_t gpsAt = exifAt + static_cast<uint32_t>(TiffWriter::SizeOf(exif));
  const uint32_t secondAt =
      gpsAt + (fields.gps ? static_cast<uint32_t>(TiffWriter::SizeOf(gps)) : 0);
  const uint32_t thumbnailAt = secondAt + static_cast<uint32_t>(TiffWriter::SizeOf(second));
  for (TiffEntry& entry : first) {
    if (entry.tag == 0x8769) entry.value = tiff.U32(exifAt);
    if (entry.tag == 0x8825) entry.value = tiff.U32(gpsAt);
  }
  for (TiffEntry& entry : second) {
    if (entry.tag == 0x0201) entry.value = tiff.U32(thumbnailAt);
  }
  std::string body =
      std::string("Exif\0\0", 6) + (motorola ? "MM" : "II") + tiff.U16(42) + tiff.U32(firstAt);
  body += tiff.Directory(first, firstAt, second.empty() ? 0 : secondAt);
  body += tiff.Directory(exif, exifAt, 0);
  if (fields.gps) body += tiff.Directory(gps, gpsAt, 0);
  if (!second.empty()) body += tiff.Directory(second, secondAt, 0) + fields.thumbnail;
  return jpeg.substr(0, 2) + Segment(0xE1, body) + jpeg.substr(2);
}

std::string MakeIccProfile(const char* colourSpace, size_t size) {
  std::string profile(size, '\0');
  for (size_t i = 0; i < size; ++i) profile[i] = static_cast<char>(i * 7 + 1);
  // Size (big-endian), then the colour space at 16 and "acsp" at 36, as every profile has them.
  for (int i = 0; i < 4; ++i) profile[i] = static_cast<char>(size >> (24 - 8 * i) & 0xFF);
  profile.replace(16, 4, colourSpace, 4);
  profile.replace(36, 4, "acsp");
  return profile;
}

std::string WithIccProfile(const std::string& jpeg, const std::string& profile, size_t pieceSize) {
  const size_t count = (profile.size() + pieceSize - 1) / pieceSize;
  std::string segments;
  for (size_t i = 0; i < count; ++i) {
    segments +=
        Segment(0xE2, std::string("ICC_PROFILE\0", 12) + static_cast<char>(i + 1) +
                          static_cast<char>(count) + profile.substr(i * pieceSize, pieceSize));
  }
  return jpeg.substr(0, 2) + segments + jpeg.substr(2);
}

}  // namespace testpictures
