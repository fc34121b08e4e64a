// Character sets of data sets: values decoded to UTF-8 by their Specific Character Set, and the
// program's UTF-8 texts encoded for an object (ISO_IR 100 when they fit, else ISO_IR 192).
#pragma once

#include <string>
#include <string_view>

class DcmObj;
class DcmTag;

// The program's texts are UTF-8. These helpers take bytes from outside (files, the ini file, the
// command line, peers that declare nothing) to UTF-8 without losing any of them.

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
// Well-formed UTF-8 stays as it is; anything else is read as Windows-1252.
std::string TextToUtf8(std::string_view bytes);
// Windows-1252 bytes widened to UTF-8 (the five undefined positions keep their C1 value).
std::string Cp1252BytesToUtf8(std::string_view bytes);
// Text that mixes UTF-8 with other bytes (a dump line: decoded values beside dictionary names
// with Windows-1252 apostrophes and raw binary values): every well-formed UTF-8 sequence stays,
// every other byte is read as Windows-1252. The result is always valid UTF-8.
std::string MixedBytesToUtf8(std::string_view bytes);
// Bytes of an encoding iconv knows ("CP1251", "EUC-JP" ...) appended to `utf8` as UTF-8; a
// byte the encoding cannot explain becomes U+FFFD. False, with nothing appended, when iconv does
// not know the encoding.
bool IconvToUtf8(const std::string& encoding, std::string_view bytes, std::string& utf8);
// Appends one code point as UTF-8.
void AppendCodePoint(std::string& utf8, char32_t codePoint);
// The first `characters` characters of a UTF-8 text (never cutting a character in two).
std::string Utf8Prefix(std::string_view utf8, size_t characters);
// The number of characters of a UTF-8 text (bytes that start no character are not counted).
size_t Utf8Length(std::string_view utf8);

// What a UTF-8 text needs: nothing but ASCII, ISO 8859-1, or Unicode.
enum class TextRepertoire { Ascii, Latin1, Unicode };
TextRepertoire RepertoireOf(std::string_view utf8);
// A UTF-8 text whose characters are all below U+0100, as ISO 8859-1 bytes. False when one is not.
bool Utf8ToLatin1(std::string_view utf8, std::string& latin1);
// A UTF-8 text narrowed to Windows-1252, for places that hold 8-bit texts only (AE titles). False,
// with `refused` holding the first character that has no byte there, when the text does not fit.
bool Utf8ToCp1252Strict(std::string_view utf8, std::string& cp1252, std::string& refused);

// True for the VRs whose values Specific Character Set governs: SH, LO, ST, LT, UT, PN and UC.
bool IsCharacterSetVR(std::string_view vr);
// True for every VR that holds text (the above and AE, AS, CS, DA, DS, DT, IS, TM, UI, UR).
bool IsTextVR(std::string_view vr);

// True when every term of a Specific Character Set value is one this toolkit decodes.
bool IsKnownCharacterSet(std::string_view specificCharacterSet);

// One value as stored (padding included) to UTF-8 under a Specific Character Set value, which
// may name ISO 2022 code extensions. A person name resets the code extensions at each "^" and
// "=" as well as at the delimiters every text has. Bytes the set cannot explain are read as
// Windows-1252 when no set is declared, and become U+FFFD otherwise.
std::string DecodeValueToUtf8(std::string_view bytes, std::string_view specificCharacterSet,
                              bool personName);

// An element's value as GetString gives it (up to a zero byte, blanks trimmed), decoded to UTF-8.
std::string DecodedString(const DcmTag& tag, std::string_view specificCharacterSet);

// Decodes every text value of the data set and of its nested data sets (an item may declare a
// set of its own) to UTF-8. Afterwards the data set declares "ISO_IR 192" when it had declared
// another set; an identifier that declared nothing keeps declaring nothing.
void DecodeDataSetToUtf8(DcmObj& dataSet);

// Prepares an object whose texts are UTF-8 for writing: when every text is ASCII nothing changes;
// when all fit ISO 8859-1 they are written in it and the object declares "ISO_IR 100"; otherwise
// they stay UTF-8 and the object declares "ISO_IR 192". Texts that are not well-formed UTF-8
// are taken as Windows-1252 first. Returns the declared set, or "" when none was added.
std::string EncodeObjectTexts(DcmObj& dataSet);
