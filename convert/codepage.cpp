// Document code pages widened to UTF-8: Windows code pages through iconv, and UTF-16 text.
#include "codepage.h"

#include "charset.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  return Cp1252BytesToUtf8(text);
}

std::string CodePageToUtf8(int codePage, std::string_view bytes) {
  if (codePage == 1252 || codePage <= 0) return Cp1252ToUtf8(bytes);
  const std::string name = codePage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage);
  std::string utf8;
  if (!IconvToUtf8(name, bytes, utf8)) return Cp1252ToUtf8(bytes);
  return utf8;
}

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      AppendCodePoint(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                               (static_cast<char32_t>(units[i + 1]) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendCodePoint(out, kReplacementCharacter);
    } else {
      AppendCodePoint(out, unit);
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
