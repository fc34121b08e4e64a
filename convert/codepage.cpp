// Windows-1252 text: narrowing Unicode (UTF-8, UTF-16, code points) to it and widening it to UTF-8.
#include "codepage.h"

#include <array>

namespace {

// Code points of the bytes 0x80-0x9F; the rest of the code page equals Latin-1. The undefined
// positions keep their own value, as the Windows conversion functions do.
constexpr std::array<char32_t, 32> kHighControlRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

}  // namespace

char32_t Cp1252ToCodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControlRange[byte - 0x80];
  return byte;
}

char CodePointToCp1252(char32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<char>(codePoint);
  }
  for (size_t i = 0; i < kHighControlRange.size(); ++i) {
    if (kHighControlRange[i] == codePoint) return static_cast<char>(0x80 + i);
  }
  return kUnrepresentable;
}

bool RepresentableInCp1252(char32_t codePoint) {
  const char byte = CodePointToCp1252(codePoint);
  return byte != kUnrepresentable || codePoint == static_cast<char32_t>(kUnrepresentable);
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t trailing = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trailing = 1;
      codePoint = lead & 0x1F;
      smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trailing = 2;
      codePoint = lead & 0x0F;
      smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trailing = 3;
      codePoint = lead & 0x07;
      smallest = 0x10000;
    } else {
      // A continuation byte without a lead, an overlong two-byte lead (C0, C1) or F5-FF.
      out += kUnrepresentable;
      ++i;
      continue;
    }
    size_t taken = 0;
    while (taken < trailing && i + 1 + taken < utf8.size()) {
      const auto next = static_cast<unsigned char>(utf8[i + 1 + taken]);
      if ((next & 0xC0) != 0x80) break;
      codePoint = (codePoint << 6) | (next & 0x3F);
      ++taken;
    }
    const bool complete = taken == trailing;
    const bool valid = complete && codePoint >= smallest && codePoint <= 0x10FFFF &&
                       !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
    if (valid) {
      out += CodePointToCp1252(codePoint);
      i += 1 + trailing;
    } else {
      // Only the lead byte is consumed: the bytes after it are looked at again on their own, so
      // a truncated sequence does not swallow the character that follows it.
      out += kUnrepresentable;
      ++i;
    }
  }
  return out;
}

std::string Utf16ToCp1252(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      ++i;  // a character beyond U+FFFF: never in the code page
      out += kUnrepresentable;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      out += kUnrepresentable;
    } else {
      out += CodePointToCp1252(unit);
    }
  }
  return out;
}

bool Utf16FromBytes(std::string_view bytes, Utf16Order order, std::u16string& units) {
  units.clear();
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    units += order == Utf16Order::LittleEndian ? static_cast<char16_t>(first | (second << 8))
                                               : static_cast<char16_t>((first << 8) | second);
  }
  return bytes.size() % 2 == 0;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) AppendUtf8(out, Cp1252ToCodePoint(static_cast<unsigned char>(c)));
  return out;
}
