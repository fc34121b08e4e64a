// The embedded Exif thumbnail of a JPEG file.
#include "exifthumbnail.h"

#include <QFile>
#include <cstdint>

namespace {

// The Exif segment of a JPEG file lies before the picture; 64 KB is its largest possible size.
constexpr qint64 kHeadBytes = 65536 + 4;

class TiffReader {
 public:
  TiffReader(const uint8_t* data, size_t size, bool bigEndian)
      : data_(data), size_(size), bigEndian_(bigEndian) {}
  bool U16(size_t offset, uint32_t& value) const {
    if (offset > size_ || size_ - offset < 2) return false;
    value = bigEndian_ ? (data_[offset] << 8 | data_[offset + 1])
                       : (data_[offset + 1] << 8 | data_[offset]);
    return true;
  }
  bool U32(size_t offset, uint32_t& value) const {
    uint32_t high = 0, low = 0;
    if (!U16(offset, bigEndian_ ? high : low) || !U16(offset + 2, bigEndian_ ? low : high))
      return false;
    value = high << 16 | low;
    return true;
  }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  bool bigEndian_;
};

}  // namespace

QByteArray ExifThumbnail(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return ExifThumbnailOf(file.read(kHeadBytes));
}

QByteArray ExifThumbnailOf(const QByteArray& head) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(head.constData());
  const size_t size = static_cast<size_t>(head.size());
  if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return {};
  // Walk the markers before the picture data looking for APP1 "Exif\0\0".
  size_t position = 2;
  while (position + 4 <= size && bytes[position] == 0xFF) {
    const uint8_t marker = bytes[position + 1];
    const size_t length = static_cast<size_t>(bytes[position + 2] << 8 | bytes[position + 3]);
    if (marker == 0xDA || length < 2) return {};
    const size_t body = position + 4;
    const size_t bodyLength = length - 2;
    if (body + bodyLength > size) return {};
    if (marker == 0xE1 && bodyLength > 14 &&
        std::equal(bytes + body, bytes + body + 6, reinterpret_cast<const uint8_t*>("Exif\0\0"))) {
      const uint8_t* tiff = bytes + body + 6;
      const size_t tiffSize = bodyLength - 6;
      if (tiff[0] != tiff[1] || (tiff[0] != 'I' && tiff[0] != 'M')) return {};
      const TiffReader reader(tiff, tiffSize, tiff[0] == 'M');
      uint32_t ifd0 = 0, count = 0, ifd1 = 0;
      if (!reader.U32(4, ifd0) || !reader.U16(ifd0, count)) return {};
      if (!reader.U32(ifd0 + 2 + size_t{count} * 12, ifd1) || ifd1 == 0) return {};
      uint32_t entries = 0;
      if (!reader.U16(ifd1, entries)) return {};
      uint32_t offset = 0, thumbnailLength = 0;
      for (uint32_t i = 0; i < entries; ++i) {
        const size_t entry = ifd1 + 2 + size_t{i} * 12;
        uint32_t tag = 0, value = 0;
        if (!reader.U16(entry, tag) || !reader.U32(entry + 8, value)) return {};
        if (tag == 0x0201) offset = value;           // JPEGInterchangeFormat
        if (tag == 0x0202) thumbnailLength = value;  // JPEGInterchangeFormatLength
      }
      if (offset == 0 || thumbnailLength == 0 || offset > tiffSize ||
          thumbnailLength > tiffSize - offset)
        return {};
      return QByteArray(reinterpret_cast<const char*>(tiff + offset),
                        static_cast<qsizetype>(thumbnailLength));
    }
    position = body + bodyLength;
  }
  return {};
}
