// Baseline JPEG pictures at 1/8 scale from the DC coefficients alone.
#include "jpegdcdecoder.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Codes (with the extra bits that follow them) up to this length are decoded by one look-up.
constexpr int kLookupBits = 12;
// A picture at 1/8 scale larger than this (in pixels) is left to libjpeg and its memory limits.
constexpr long long kMaxPixels = 64LL * 1024 * 1024;

// One Huffman table: its canonical codes for the rare long ones, and look-up tables by the next
// kLookupBits bits of the stream for the common short ones.
struct HuffmanTable {
  bool defined = false;
  std::array<int32_t, 18> maxCode{};
  std::array<int32_t, 17> minCode{};
  std::array<int32_t, 17> firstValue{};
  std::array<uint8_t, 256> values{};
  // DC: the code's length << 8 | its symbol (the size of the difference); 0 for a longer code.
  std::vector<uint16_t> dcLookup;
  // AC: up to two codes with their extra bits. A zero `bits` means no code fits the look-up;
  // `advance` is the run of zeros plus one (16 for sixteen zeros), 0 for the end of the block.
  struct Steps {
    uint8_t bits1;
    uint8_t advance1;
    uint8_t bits2;  // both codes together; 0 when a second one does not fit
    uint8_t advance2;
  };
  std::vector<Steps> acLookup;

  // The symbol of the code that starts the `available` bits of `prefix` (most significant bit
  // first), and its length; false when those bits hold no whole code.
  bool Decode(uint32_t prefix, int available, int& length, uint8_t& symbol) const {
    for (int bits = 1; bits <= 16 && bits <= available; ++bits) {
      const int32_t code = static_cast<int32_t>(prefix >> (available - bits));
      if (code <= maxCode[static_cast<size_t>(bits)]) {
        const int32_t index =
            firstValue[static_cast<size_t>(bits)] + code - minCode[static_cast<size_t>(bits)];
        if (index < 0 || index > 255) return false;
        length = bits;
        symbol = values[static_cast<size_t>(index)];
        return true;
      }
    }
    return false;
  }

  // One AC code and its extra bits from the start of `prefix`; false when they do not all fit or
  // the symbol is none a stream may hold.
  bool DecodeStep(uint32_t prefix, int available, int& bits, int& advance) const {
    int length = 0;
    uint8_t symbol = 0;
    if (!Decode(prefix, available, length, symbol)) return false;
    const int size = symbol & 15;
    const int run = symbol >> 4;
    if (size == 0) {
      if (run != 0 && run != 15) return false;
      bits = length;
      advance = run == 0 ? 0 : 16;
      return true;
    }
    if (length + size > available) return false;
    bits = length + size;
    advance = run + 1;
    return true;
  }

  // From a DHT segment's 16 counts and its symbols; false for counts no code can have.
  bool Define(const uint8_t* counts, const uint8_t* symbols, bool ac) {
    int total = 0;
    for (int i = 0; i < 16; ++i) total += counts[i];
    if (total > 256) return false;
    std::copy(symbols, symbols + total, values.begin());
    int32_t code = 0;
    int index = 0;
    for (int bits = 1; bits <= 16; ++bits) {
      const size_t at = static_cast<size_t>(bits);
      firstValue[at] = index;
      minCode[at] = code;
      code += counts[bits - 1];
      index += counts[bits - 1];
      maxCode[at] = counts[bits - 1] != 0 ? code - 1 : -1;
      // More codes than the length allows.
      if (code > (1 << bits)) return false;
      code <<= 1;
    }
    maxCode[17] = INT32_MAX;
    defined = true;
    const uint32_t entries = 1u << kLookupBits;
    if (!ac) {
      acLookup.clear();
      dcLookup.assign(entries, 0);
      for (uint32_t prefix = 0; prefix < entries; ++prefix) {
        int length = 0;
        uint8_t symbol = 0;
        if (Decode(prefix, kLookupBits, length, symbol)) {
          dcLookup[prefix] = static_cast<uint16_t>(length << 8 | symbol);
        }
      }
      return true;
    }
    dcLookup.clear();
    acLookup.assign(entries, Steps{0, 0, 0, 0});
    for (uint32_t prefix = 0; prefix < entries; ++prefix) {
      int bits1 = 0;
      int advance1 = 0;
      if (!DecodeStep(prefix, kLookupBits, bits1, advance1)) continue;
      Steps steps{static_cast<uint8_t>(bits1), static_cast<uint8_t>(advance1), 0, 0};
      int bits2 = 0;
      int advance2 = 0;
      const int rest = kLookupBits - bits1;
      if (advance1 != 0 && rest > 0 &&
          DecodeStep(prefix & ((1u << rest) - 1), rest, bits2, advance2)) {
        steps.bits2 = static_cast<uint8_t>(bits1 + bits2);
        steps.advance2 = static_cast<uint8_t>(advance2);
      }
      acLookup[prefix] = steps;
    }
    return true;
  }
};

// The entropy-coded bytes as bits, most significant first: stuffed zero bytes removed, and zero
// bits fed once the data ends or a marker comes (counted, so that reading into them shows).
class BitReader {
 public:
  BitReader(const uint8_t* position, const uint8_t* end) : position_(position), end_(end) {}

  // At least 57 bits in the buffer.
  void Fill() {
    // Eight bytes at once while none of them is 0xFF (a stuffed byte or a marker).
    if (!atMarker_ && end_ - position_ >= 8) {
      uint64_t word;
      std::memcpy(&word, position_, 8);
      const uint64_t inverted = ~word;
      const bool holds0xFF =
          ((inverted - 0x0101010101010101ULL) & ~inverted & 0x8080808080808080ULL) != 0;
      if (!holds0xFF) {
        word = __builtin_bswap64(word);
        const int take = (63 - bits_) >> 3;
        buffer_ |= (word >> (64 - 8 * take)) << (64 - 8 * take - bits_);
        bits_ += 8 * take;
        position_ += take;
        return;
      }
    }
    while (bits_ <= 56) {
      uint64_t byte = 0;
      bool real = false;
      if (!atMarker_ && position_ < end_) {
        if (position_[0] != 0xFF) {
          byte = *position_++;
          real = true;
        } else if (position_ + 1 < end_ && position_[1] == 0) {
          byte = 0xFF;
          position_ += 2;
          real = true;
        } else {
          atMarker_ = true;
        }
      }
      // A byte fed past the data counts as padding: reading into it shows in Overran().
      if (!real) padding_ += 8;
      buffer_ |= byte << (56 - bits_);
      bits_ += 8;
    }
  }
  uint32_t Peek(int count) const { return static_cast<uint32_t>(buffer_ >> (64 - count)); }
  void Drop(int count) {
    buffer_ <<= count;
    bits_ -= count;
  }
  int Bits() const { return bits_; }
  // True once bits were read that the data does not hold.
  bool Overran() const { return bits_ < padding_; }

  // At a restart: the bits left before the marker are dropped, and the marker RSTn must come.
  bool Restart() {
    buffer_ = 0;
    bits_ = 0;
    padding_ = 0;
    atMarker_ = false;
    if (end_ - position_ < 2 || position_[0] != 0xFF || (position_[1] & 0xF8) != 0xD0) {
      return false;
    }
    position_ += 2;
    return true;
  }

 private:
  const uint8_t* position_;
  const uint8_t* end_;
  uint64_t buffer_ = 0;
  int bits_ = 0;
  int padding_ = 0;
  bool atMarker_ = false;
};

struct FrameComponent {
  int id = 0;
  int horizontal = 1;
  int vertical = 1;
  int quantTable = 0;
  int dcTable = 0;
  int acTable = 0;
  bool inScan = false;
  int predictor = 0;
};

struct Frame {
  std::array<std::array<uint16_t, 64>, 4> quant{};
  std::array<bool, 4> quantDefined{};
  std::array<HuffmanTable, 4> dcTables;
  std::array<HuffmanTable, 4> acTables;
  std::vector<FrameComponent> components;
  std::vector<int> scanOrder;  // indexes into components, as the scan lists them
  int width = 0;
  int height = 0;
  int restartInterval = 0;
  bool sawFrame = false;
  bool jfif = false;
  int adobeTransform = -1;
};

int ReadWord(const uint8_t* at) {
  return at[0] << 8 | at[1];
}

// The segments up to the scan. False for anything this decoder declines.
bool ReadHeaders(const uint8_t* data, size_t size, Frame& frame, size_t& scanStart) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return false;
    const int marker = data[at + 1];
    if (marker == 0xFF) {
      ++at;  // a fill byte before a marker
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    const size_t length = static_cast<size_t>(ReadWord(data + at + 2));
    if (length < 2 || at + 2 + length > size) return false;
    const uint8_t* segment = data + at + 4;
    const size_t content = length - 2;
    switch (marker) {
      case 0xDB:  // quantization tables
        for (size_t offset = 0; offset < content;) {
          const int precision = segment[offset] >> 4;
          const int table = segment[offset] & 15;
          const size_t bytes = precision != 0 ? 128 : 64;
          if (table > 3 || precision > 1 || offset + 1 + bytes > content) return false;
          for (size_t k = 0; k < 64; ++k) {
            frame.quant[static_cast<size_t>(table)][k] = static_cast<uint16_t>(
                precision != 0 ? ReadWord(segment + offset + 1 + 2 * k) : segment[offset + 1 + k]);
          }
          frame.quantDefined[static_cast<size_t>(table)] = true;
          offset += 1 + bytes;
        }
        break;
      case 0xC4:  // Huffman tables
        for (size_t offset = 0; offset < content;) {
          if (offset + 17 > content) return false;
          const int kind = segment[offset] >> 4;
          const int table = segment[offset] & 15;
          if (kind > 1 || table > 3) return false;
          size_t count = 0;
          for (size_t i = 1; i <= 16; ++i) count += segment[offset + i];
          if (offset + 17 + count > content) return false;
          HuffmanTable& target = kind == 0 ? frame.dcTables[static_cast<size_t>(table)]
                                           : frame.acTables[static_cast<size_t>(table)];
          if (!target.Define(segment + offset + 1, segment + offset + 17, kind == 1)) return false;
          offset += 17 + count;
        }
        break;
      case 0xC0:  // baseline
      case 0xC1:  // extended sequential, Huffman coded
      {
        if (frame.sawFrame || content < 6 || segment[0] != 8) return false;
        frame.sawFrame = true;
        frame.height = ReadWord(segment + 1);
        frame.width = ReadWord(segment + 3);
        const size_t count = segment[5];
        if ((count != 1 && count != 3) || content < 6 + 3 * count) return false;
        for (size_t i = 0; i < count; ++i) {
          FrameComponent component;
          component.id = segment[6 + 3 * i];
          component.horizontal = segment[7 + 3 * i] >> 4;
          component.vertical = segment[7 + 3 * i] & 15;
          component.quantTable = segment[8 + 3 * i];
          if (component.horizontal < 1 || component.horizontal > 4 || component.vertical < 1 ||
              component.vertical > 4 || component.quantTable > 3) {
            return false;
          }
          frame.components.push_back(component);
        }
        break;
      }
      case 0xDD:  // restart interval
        if (content < 2) return false;
        frame.restartInterval = ReadWord(segment);
        break;
      case 0xE0:
        if (content >= 5 && std::memcmp(segment, "JFIF", 5) == 0) frame.jfif = true;
        break;
      case 0xEE:
        if (content >= 12 && std::memcmp(segment, "Adobe", 5) == 0) {
          frame.adobeTransform = segment[11];
        }
        break;
      case 0xDA: {  // the scan
        if (!frame.sawFrame || content < 1) return false;
        const size_t count = segment[0];
        if (content < 4 + 2 * count || count != frame.components.size()) return false;
        for (size_t i = 0; i < count; ++i) {
          const int id = segment[1 + 2 * i];
          const auto found =
              std::find_if(frame.components.begin(), frame.components.end(),
                           [id](const FrameComponent& component) { return component.id == id; });
          if (found == frame.components.end() || found->inScan) return false;
          found->inScan = true;
          found->dcTable = segment[2 + 2 * i] >> 4;
          found->acTable = segment[2 + 2 * i] & 15;
          if (found->dcTable > 3 || found->acTable > 3) return false;
          frame.scanOrder.push_back(static_cast<int>(found - frame.components.begin()));
        }
        // The whole spectrum at once, without successive approximation.
        const uint8_t* spectrum = segment + 1 + 2 * count;
        if (spectrum[0] != 0 || spectrum[1] != 63 || spectrum[2] != 0) return false;
        scanStart = at + 2 + length;
        return true;
      }
      default:
        // Progressive, lossless, hierarchical or arithmetic-coded frames are libjpeg's.
        if ((marker >= 0xC2 && marker <= 0xCF) || marker == 0xD9) return false;
        break;
    }
    at += 2 + length;
  }
  return false;
}

// Three components are YCbCr unless the file says RGB, as libjpeg reads it.
bool ColoursAreYCbCr(const Frame& frame) {
  if (frame.components.size() != 3) return true;
  if (frame.adobeTransform == 0) return false;
  if (frame.jfif || frame.adobeTransform > 0) return true;
  return !(frame.components[0].id == 'R' && frame.components[1].id == 'G' &&
           frame.components[2].id == 'B');
}

uint8_t Clamped(int value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// The extra bits of a difference as a signed value.
int Extend(uint32_t bits, int size) {
  return bits < (1u << (size - 1)) ? static_cast<int>(bits) - (1 << size) + 1
                                   : static_cast<int>(bits);
}

// Decodes one block: its DC difference into the component's predictor, the AC codes stepped over.
// False on a code no table holds.
bool DecodeBlock(BitReader& reader, const HuffmanTable& dc, const HuffmanTable& ac,
                 int& predictor) {
  if (reader.Bits() < 32) reader.Fill();
  int size;
  const uint16_t quick = dc.dcLookup.data()[reader.Peek(kLookupBits)];
  if (quick != 0) {
    reader.Drop(quick >> 8);
    size = quick & 0xFF;
  } else {
    int length = 0;
    uint8_t symbol = 0;
    if (!dc.Decode(reader.Peek(16), 16, length, symbol)) return false;
    reader.Drop(length);
    size = symbol;
  }
  if (size > 11) return false;
  if (size != 0) {
    if (reader.Bits() < 32) reader.Fill();
    predictor += Extend(reader.Peek(size), size);
    reader.Drop(size);
  }
  const HuffmanTable::Steps* const lookup = ac.acLookup.data();
  for (int k = 1; k < 64;) {
    if (reader.Bits() < 32) reader.Fill();
    const HuffmanTable::Steps steps = lookup[reader.Peek(kLookupBits)];
    if (steps.bits1 != 0) {
      if (steps.advance1 == 0) {
        reader.Drop(steps.bits1);
        break;
      }
      k += steps.advance1;
      // The second code belongs to this block only while the first left room in it.
      if (steps.bits2 == 0 || k >= 64) {
        reader.Drop(steps.bits1);
        continue;
      }
      reader.Drop(steps.bits2);
      if (steps.advance2 == 0) break;
      k += steps.advance2;
      continue;
    }
    int length = 0;
    uint8_t symbol = 0;
    if (!ac.Decode(reader.Peek(16), 16, length, symbol)) return false;
    reader.Drop(length);
    const int extraBits = symbol & 15;
    const int run = symbol >> 4;
    if (extraBits == 0) {
      if (run != 15) break;
      k += 16;
      continue;
    }
    if (reader.Bits() < 32) reader.Fill();
    reader.Drop(extraBits);
    k += run + 1;
  }
  return true;
}

}  // namespace

bool DecodeJpegDc(const uint8_t* data, size_t size, const QSize& atLeast, JpegDcPlanes& planes) {
  planes = JpegDcPlanes{};
  Frame frame;
  size_t scanStart = 0;
  if (data == nullptr || !ReadHeaders(data, size, frame, scanStart)) return false;
  if (frame.width == 0 || frame.height == 0 || !ColoursAreYCbCr(frame)) return false;
  const int outWidth = (frame.width + 7) / 8;
  const int outHeight = (frame.height + 7) / 8;
  if (outWidth < atLeast.width() || outHeight < atLeast.height() ||
      static_cast<long long>(outWidth) * outHeight > kMaxPixels) {
    return false;
  }
  for (const FrameComponent& component : frame.components) {
    if (!frame.quantDefined[static_cast<size_t>(component.quantTable)] ||
        !frame.dcTables[static_cast<size_t>(component.dcTable)].defined ||
        !frame.acTables[static_cast<size_t>(component.acTable)].defined) {
      return false;
    }
  }
  // One component is coded block after block; several, in MCUs of each one's sampling factors,
  // which the widest factor must divide (as they do in every camera's file).
  const bool single = frame.components.size() == 1;
  int widest = 1;
  int tallest = 1;
  if (single) {
    frame.components[0].horizontal = 1;
    frame.components[0].vertical = 1;
  }
  for (const FrameComponent& component : frame.components) {
    widest = std::max(widest, component.horizontal);
    tallest = std::max(tallest, component.vertical);
  }
  for (const FrameComponent& component : frame.components) {
    if (widest % component.horizontal != 0 || tallest % component.vertical != 0) return false;
  }
  const int mcusWide = (frame.width + 8 * widest - 1) / (8 * widest);
  const int mcusHigh = (frame.height + 8 * tallest - 1) / (8 * tallest);
  planes.width = frame.width;
  planes.height = frame.height;
  for (const FrameComponent& component : frame.components) {
    JpegDcPlanes::Plane plane;
    plane.horizontal = component.horizontal;
    plane.vertical = component.vertical;
    plane.blocksWide = mcusWide * component.horizontal;
    plane.blocksHigh = mcusHigh * component.vertical;
    plane.samples.assign(static_cast<size_t>(plane.blocksWide) * plane.blocksHigh, 0);
    planes.planes.push_back(std::move(plane));
  }

  BitReader reader(data + scanStart, data + size);
  int untilRestart = frame.restartInterval;
  for (int mcuRow = 0; mcuRow < mcusHigh; ++mcuRow) {
    for (int mcuColumn = 0; mcuColumn < mcusWide; ++mcuColumn) {
      if (frame.restartInterval != 0) {
        if (untilRestart == 0) {
          if (!reader.Restart()) return false;
          for (FrameComponent& component : frame.components) component.predictor = 0;
          untilRestart = frame.restartInterval;
        }
        --untilRestart;
      }
      for (int index : frame.scanOrder) {
        FrameComponent& component = frame.components[static_cast<size_t>(index)];
        JpegDcPlanes::Plane& plane = planes.planes[static_cast<size_t>(index)];
        const HuffmanTable& dc = frame.dcTables[static_cast<size_t>(component.dcTable)];
        const HuffmanTable& ac = frame.acTables[static_cast<size_t>(component.acTable)];
        const int quant = frame.quant[static_cast<size_t>(component.quantTable)][0];
        for (int row = 0; row < component.vertical; ++row) {
          for (int column = 0; column < component.horizontal; ++column) {
            if (!DecodeBlock(reader, dc, ac, component.predictor)) return false;
            // The 1 × 1 inverse transform: the average of the block, rounded as libjpeg does.
            const int average = ((component.predictor * quant + 4) >> 3) + 128;
            const size_t at =
                static_cast<size_t>(mcuRow * component.vertical + row) * plane.blocksWide +
                static_cast<size_t>(mcuColumn * component.horizontal + column);
            plane.samples[at] = Clamped(average);
          }
        }
      }
      if (reader.Overran()) return false;
    }
  }
  return true;
}

QImage JpegDcPicture(const JpegDcPlanes& planes) {
  const int width = (planes.width + 7) / 8;
  const int height = (planes.height + 7) / 8;
  QImage picture(width, height, QImage::Format_RGB32);
  if (picture.isNull() || planes.planes.empty()) return {};
  int widest = 1;
  int tallest = 1;
  for (const JpegDcPlanes::Plane& plane : planes.planes) {
    widest = std::max(widest, plane.horizontal);
    tallest = std::max(tallest, plane.vertical);
  }
  auto sample = [&](const JpegDcPlanes::Plane& plane, int x, int y) {
    return plane.samples[static_cast<size_t>(y * plane.vertical / tallest) * plane.blocksWide +
                         static_cast<size_t>(x * plane.horizontal / widest)];
  };
  // libjpeg's fixed-point YCbCr to RGB, 16 fraction bits.
  constexpr int kScale = 16;
  constexpr int kHalf = 1 << (kScale - 1);
  auto fixed = [](double value) { return static_cast<int>(value * (1 << kScale) + 0.5); };
  static const auto tables = [&fixed] {
    struct Tables {
      std::array<int, 256> crRed, cbBlue, crGreen, cbGreen;
    } made{};
    for (int i = 0; i < 256; ++i) {
      const int x = i - 128;
      made.crRed[static_cast<size_t>(i)] = (fixed(1.40200) * x + kHalf) >> kScale;
      made.cbBlue[static_cast<size_t>(i)] = (fixed(1.77200) * x + kHalf) >> kScale;
      made.crGreen[static_cast<size_t>(i)] = -fixed(0.71414) * x;
      made.cbGreen[static_cast<size_t>(i)] = -fixed(0.34414) * x + kHalf;
    }
    return made;
  }();
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const int luma = sample(planes.planes[0], x, y);
      if (planes.planes.size() == 1) {
        line[x] = qRgb(luma, luma, luma);
        continue;
      }
      const size_t blue = sample(planes.planes[1], x, y);
      const size_t red = sample(planes.planes[2], x, y);
      line[x] = qRgb(Clamped(luma + tables.crRed[red]),
                     Clamped(luma + ((tables.cbGreen[blue] + tables.crGreen[red]) >> kScale)),
                     Clamped(luma + tables.cbBlue[blue]));
    }
  }
  return picture;
}
