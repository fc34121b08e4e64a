// Document code pages widened to UTF-8: Windows code pages through iconv, and UTF-16 text.
#pragma once

#include <string>
#include <string_view>

// The document readers deliver UTF-8. Nothing a document holds is lost on the way: a byte or
// unit that is not a character of its encoding becomes U+FFFD (the replacement character).

// Windows-1252 to UTF-8. The five positions the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) keep their C1 value, so no byte is ever lost.
std::string Cp1252ToUtf8(std::string_view text);

// Bytes of a Windows code page (1250, 1251, 932, 10000 for Mac Roman ...) to UTF-8. A code page
// iconv does not know is read as Windows-1252.
std::string CodePageToUtf8(int codePage, std::string_view bytes);

// UTF-16 code units to UTF-8. A surrogate pair is one character; an unpaired surrogate becomes
// U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

enum class Utf16Order { LittleEndian, BigEndian };
// Reads UTF-16 code units from raw bytes. An odd final byte cannot be a code unit; it is left out
// and reported by the return value (false), so a caller can refuse a truncated text.
bool Utf16FromBytes(std::string_view bytes, Utf16Order order, std::u16string& units);
