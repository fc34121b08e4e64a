// Windows-1252 text: narrowing Unicode (UTF-8, UTF-16, code points) to it and widening it to UTF-8.
#pragma once

#include <string>
#include <string_view>

// Every text the converters handle is 8-bit Windows-1252. A character that code page cannot
// represent becomes this byte, as does every byte that is not part of a valid UTF-8 sequence and
// every unpaired UTF-16 surrogate.
inline constexpr char kUnrepresentable = '?';

// The Windows-1252 byte for a Unicode code point, or kUnrepresentable. The five positions the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to and from the C1 controls of the
// same value, so that any byte string survives a widening and narrowing unchanged.
char CodePointToCp1252(char32_t codePoint);
// The Unicode code point of a Windows-1252 byte.
char32_t Cp1252ToCodePoint(unsigned char byte);
// True when the code point has its own byte in Windows-1252.
bool RepresentableInCp1252(char32_t codePoint);

// UTF-8 to Windows-1252. Invalid sequences (stray continuation bytes, truncated or overlong
// sequences, encoded surrogates, values above U+10FFFF) give one kUnrepresentable per bad byte.
std::string Utf8ToCp1252(std::string_view utf8);

// UTF-16 code units to Windows-1252. A surrogate pair is one character (never representable);
// an unpaired surrogate gives kUnrepresentable.
std::string Utf16ToCp1252(std::u16string_view units);

enum class Utf16Order { LittleEndian, BigEndian };
// Reads UTF-16 code units from raw bytes. An odd final byte cannot be a code unit; it is left out
// and reported by the return value (false), so a caller can refuse a truncated text.
bool Utf16FromBytes(std::string_view bytes, Utf16Order order, std::u16string& units);

// Windows-1252 to UTF-8, for display and for tools that expect Unicode.
std::string Cp1252ToUtf8(std::string_view text);
