// Reading the segments of a JPEG stream and the Exif data inside it.
#include "jpegfacts.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

// Reads 16- and 32-bit numbers of a TIFF structure (the body of an Exif segment) in its byte
// order; every read is checked against the structure's end.
class TiffReader {
 public:
  TiffReader(const uint8_t* data, size_t size, bool bigEndian)
      : data_(data), size_(size), bigEndian_(bigEndian) {}

  bool U16(size_t offset, uint32_t& value) const {
    if (offset > size_ || size_ - offset < 2) return false;
    value = bigEndian_ ? (uint32_t{data_[offset]} << 8 | data_[offset + 1])
                       : (uint32_t{data_[offset + 1]} << 8 | data_[offset]);
    return true;
  }
  bool U32(size_t offset, uint32_t& value) const {
    uint32_t first = 0, second = 0;
    if (!U16(offset, first) || !U16(offset + 2, second)) return false;
    value = bigEndian_ ? (first << 16 | second) : (second << 16 | first);
    return true;
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  bool bigEndian_;
};

// One directory entry: the tag, its type and count, and where its value lies (inside the entry
// when it fits four bytes, else at the offset the entry holds).
struct IfdEntry {
  uint32_t type = 0;
  uint32_t count = 0;
  size_t entry = 0;  // offset of the 12-byte entry
};

constexpr uint32_t kTypeShort = 3;
constexpr uint32_t kTypeLong = 4;
constexpr uint32_t kTypeAscii = 2;
// A hostile file could make a directory claim 65535 entries; real ones hold a few dozen.
constexpr uint32_t kMaxIfdEntries = 1000;

// The entries of the directory at `offset`, and the offset of the next directory (0 for none).
bool ReadIfd(const TiffReader& reader, uint32_t offset, std::map<uint32_t, IfdEntry>& entries,
             uint32_t* next) {
  uint32_t count = 0;
  if (offset == 0 || !reader.U16(offset, count) || count > kMaxIfdEntries) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = size_t{offset} + 2 + size_t{i} * 12;
    uint32_t tag = 0;
    IfdEntry value;
    value.entry = entry;
    if (!reader.U16(entry, tag) || !reader.U16(entry + 2, value.type) ||
        !reader.U32(entry + 4, value.count)) {
      return false;
    }
    entries.emplace(tag, value);
  }
  if (next != nullptr) {
    *next = 0;
    reader.U32(size_t{offset} + 2 + size_t{count} * 12, *next);
  }
  return true;
}

// A SHORT or LONG value of count 1.
bool NumberOf(const TiffReader& reader, const std::map<uint32_t, IfdEntry>& entries, uint32_t tag,
              uint32_t& value) {
  const auto found = entries.find(tag);
  if (found == entries.end() || found->second.count != 1) return false;
  if (found->second.type == kTypeShort) return reader.U16(found->second.entry + 8, value);
  if (found->second.type == kTypeLong) return reader.U32(found->second.entry + 8, value);
  return false;
}

// An ASCII value up to its first NUL; empty when absent or outside the structure.
std::string TextOf(const TiffReader& reader, const std::map<uint32_t, IfdEntry>& entries,
                   uint32_t tag) {
  const auto found = entries.find(tag);
  if (found == entries.end() || found->second.type != kTypeAscii || found->second.count == 0 ||
      found->second.count > 256) {
    return {};
  }
  const uint32_t count = found->second.count;
  size_t start = found->second.entry + 8;
  if (count > 4) {
    uint32_t offset = 0;
    if (!reader.U32(found->second.entry + 8, offset)) return {};
    start = offset;
  }
  if (start > reader.size() || reader.size() - start < count) return {};
  const char* text = reinterpret_cast<const char*>(reader.data() + start);
  return std::string(text, strnlen(text, count));
}

void ReadExif(const uint8_t* tiff, size_t size, size_t tiffStart, JpegFacts& facts) {
  if (size < 8 || tiff[0] != tiff[1] || (tiff[0] != 'I' && tiff[0] != 'M')) return;
  const TiffReader reader(tiff, size, tiff[0] == 'M');
  uint32_t ifd0 = 0;
  if (!reader.U32(4, ifd0)) return;
  std::map<uint32_t, IfdEntry> first;
  uint32_t ifd1 = 0;
  if (!ReadIfd(reader, ifd0, first, &ifd1)) return;
  uint32_t orientation = 0;
  if (NumberOf(reader, first, 0x0112, orientation) && orientation >= 1 && orientation <= 8) {
    facts.orientation = static_cast<int>(orientation);
  }
  uint32_t exifIfd = 0;
  std::map<uint32_t, IfdEntry> exif;
  if (NumberOf(reader, first, 0x8769, exifIfd) && ReadIfd(reader, exifIfd, exif, nullptr)) {
    facts.dateTimeOriginal = TextOf(reader, exif, 0x9003);
    facts.offsetTimeOriginal = TextOf(reader, exif, 0x9011);
    facts.subSecTimeOriginal = TextOf(reader, exif, 0x9291);
  }
  std::map<uint32_t, IfdEntry> second;
  if (ifd1 == 0 || ifd1 == ifd0 || !ReadIfd(reader, ifd1, second, nullptr)) return;
  uint32_t offset = 0, length = 0, thumbnailOrientation = 0;
  if (NumberOf(reader, second, 0x0112, thumbnailOrientation)) {
    facts.thumbnailOrientation = static_cast<int>(thumbnailOrientation);
  }
  if (NumberOf(reader, second, 0x0201, offset) && NumberOf(reader, second, 0x0202, length) &&
      offset != 0 && length != 0 && offset <= size && length <= size - offset) {
    facts.thumbnailOffset = tiffStart + offset;
    facts.thumbnailLength = length;
  }
}

void ReadFrame(const uint8_t* body, size_t length, uint8_t marker, JpegFacts& facts) {
  if (facts.frame.marker != 0 || length < 6) return;
  JpegFrame& frame = facts.frame;
  frame.marker = marker;
  frame.precision = body[0];
  frame.height = uint32_t{body[1]} << 8 | body[2];
  frame.width = uint32_t{body[3]} << 8 | body[4];
  const int components = body[5];
  if (components > 4 || length < 6 + size_t(components) * 3) return;
  frame.components = components;
  for (int c = 0; c < components; ++c) {
    frame.componentIds[c] = body[6 + c * 3];
    frame.horizontalSampling[c] = body[7 + c * 3] >> 4;
    frame.verticalSampling[c] = body[7 + c * 3] & 0x0F;
  }
}

void NoteQuantTables(const uint8_t* body, size_t length, JpegFacts& facts) {
  size_t position = 0;
  while (position < length) {
    const bool sixteenBit = (body[position] >> 4) != 0;
    if (sixteenBit) facts.quantTables16Bit = true;
    position += 1 + (sixteenBit ? 128 : 64);
  }
}

// Skips the entropy-coded data that starts at `position`: up to the next marker that is neither
// a stuffed zero, a restart marker nor a fill byte. Returns its offset, or `size` when none.
size_t NextMarker(const uint8_t* bytes, size_t size, size_t position) {
  while (position + 1 < size) {
    const uint8_t* found =
        static_cast<const uint8_t*>(std::memchr(bytes + position, 0xFF, size - position - 1));
    if (found == nullptr) return size;
    position = static_cast<size_t>(found - bytes);
    const uint8_t next = bytes[position + 1];
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
      position += next == 0xFF ? 1 : 2;
      continue;
    }
    return position;
  }
  return size;
}

}  // namespace

JpegFacts ReadJpegFacts(const uint8_t* bytes, size_t size) {
  JpegFacts facts;
  if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return facts;
  facts.isJpeg = true;
  std::map<int, std::vector<uint8_t>> iccPieces;
  int iccCount = 0;
  bool exifSeen = false;
  size_t position = 2;
  while (position + 1 < size) {
    if (bytes[position] != 0xFF) {
      // Not a marker where one must be: the structure is damaged from here on.
      return facts;
    }
    const uint8_t marker = bytes[position + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++position;
      continue;
    }
    if (marker == 0xD9) {
      facts.imageEnd = position + 2;
      break;
    }
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      position += 2;
      continue;
    }
    if (position + 4 > size) break;
    const size_t length = size_t{bytes[position + 2]} << 8 | bytes[position + 3];
    if (length < 2 || position + 2 + length > size) break;
    const uint8_t* body = bytes + position + 4;
    const size_t bodyLength = length - 2;
    const bool frameMarker =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frameMarker) {
      ReadFrame(body, bodyLength, marker, facts);
    } else if (marker == 0xDB) {
      NoteQuantTables(body, bodyLength, facts);
    } else if (marker == 0xE0 && bodyLength >= 5 && std::memcmp(body, "JFIF\0", 5) == 0) {
      facts.jfif = true;
    } else if (marker == 0xEE && bodyLength >= 12 && std::memcmp(body, "Adobe", 5) == 0) {
      facts.adobeTransform = body[11];
    } else if (marker == 0xE1 && !exifSeen && bodyLength > 14 &&
               std::memcmp(body, "Exif\0\0", 6) == 0) {
      exifSeen = true;
      ReadExif(body + 6, bodyLength - 6, position + 4 + 6, facts);
    } else if (marker == 0xE2 && bodyLength > 14 && std::memcmp(body, "ICC_PROFILE\0", 12) == 0) {
      const int sequence = body[12];
      const int count = body[13];
      if (iccCount == 0) iccCount = count;
      if (count == iccCount && sequence >= 1 && sequence <= count) {
        iccPieces[sequence].assign(body + 14, body + bodyLength);
      }
    }
    // APP0 (JFIF), APP2 (ICC) and APP14 (Adobe) say how to read the colours; APP1 (Exif, XMP),
    // APP3 to APP13, APP15 and comments only describe the photo.
    const bool describesOnly =
        marker == 0xE1 || (marker >= 0xE3 && marker <= 0xED) || marker == 0xEF || marker == 0xFE;
    if (describesOnly) facts.metadataSegments.emplace_back(position, 2 + length);
    position += 2 + length;
    if (marker == 0xDA) position = NextMarker(bytes, size, position);
  }
  if (iccCount > 0 && static_cast<int>(iccPieces.size()) == iccCount) {
    for (const auto& piece : iccPieces) {
      facts.iccProfile.insert(facts.iccProfile.end(), piece.second.begin(), piece.second.end());
    }
  }
  return facts;
}

std::vector<uint8_t> JpegWithoutMetadata(const uint8_t* bytes, const JpegFacts& facts) {
  std::vector<uint8_t> stream;
  stream.reserve(facts.imageEnd);
  size_t position = 0;
  for (const auto& [offset, length] : facts.metadataSegments) {
    if (offset >= facts.imageEnd) break;
    stream.insert(stream.end(), bytes + position, bytes + offset);
    position = offset + length;
  }
  stream.insert(stream.end(), bytes + position, bytes + facts.imageEnd);
  return stream;
}

namespace {

bool Digits(const std::string& text, size_t start, size_t count, int& value) {
  if (start + count > text.size()) return false;
  value = 0;
  for (size_t i = start; i < start + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string ExifDateTimeToDicom(const std::string& dateTime, const std::string& subSeconds,
                                const std::string& offset) {
  // "YYYY:MM:DD HH:MM:SS"; cameras without a clock write blanks or zeros.
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (dateTime.size() < 19 || dateTime[4] != ':' || dateTime[7] != ':' || dateTime[10] != ' ' ||
      dateTime[13] != ':' || dateTime[16] != ':' || !Digits(dateTime, 0, 4, year) ||
      !Digits(dateTime, 5, 2, month) || !Digits(dateTime, 8, 2, day) ||
      !Digits(dateTime, 11, 2, hour) || !Digits(dateTime, 14, 2, minute) ||
      !Digits(dateTime, 17, 2, second)) {
    return {};
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 60) {
    return {};
  }
  std::string result = dateTime.substr(0, 4) + dateTime.substr(5, 2) + dateTime.substr(8, 2) +
                       dateTime.substr(11, 2) + dateTime.substr(14, 2) + dateTime.substr(17, 2);
  // The fraction: its leading digits, at most six (DT holds microseconds).
  size_t digits = 0;
  while (digits < subSeconds.size() && digits < 6 && subSeconds[digits] >= '0' &&
         subSeconds[digits] <= '9') {
    ++digits;
  }
  if (digits > 0) result += "." + subSeconds.substr(0, digits);
  int offsetHours = 0, offsetMinutes = 0;
  if (offset.size() >= 6 && (offset[0] == '+' || offset[0] == '-') && offset[3] == ':' &&
      Digits(offset, 1, 2, offsetHours) && Digits(offset, 4, 2, offsetMinutes) &&
      offsetHours <= 14 && offsetMinutes <= 59) {
    result += offset.substr(0, 1) + offset.substr(1, 2) + offset.substr(4, 2);
  }
  return result;
}
