// The plain text reader: byte-order mark detection, UTF-8 and UTF-16 narrowed to Windows-1252.
#include "codepage.h"
#include "sourcefile.h"
#include "textreaders.h"

bool DecodeTextBytes(std::string_view bytes, std::string& text, std::string& problem) {
  text.clear();
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = Utf8ToCp1252(bytes.substr(3));
    return true;
  }
  const bool littleEndian = bytes.substr(0, 2) == "\xFF\xFE";
  if (littleEndian || bytes.substr(0, 2) == "\xFE\xFF") {
    std::u16string units;
    if (!Utf16FromBytes(bytes.substr(2),
                        littleEndian ? Utf16Order::LittleEndian : Utf16Order::BigEndian, units)) {
      // A UTF-16 text is made of byte pairs; an odd length means the file was cut short.
      problem = std::string("it is marked as UTF-16 ") + (littleEndian ? "LE" : "BE") +
                " but has an odd number of bytes (truncated)";
      return false;
    }
    text = Utf16ToCp1252(units);
    return true;
  }
  text.assign(bytes);
  return true;
}

bool ReadTextFileLines(const std::string& path, TextLines& lines, std::string& error) {
  lines.clear();
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  lines = SplitLines(text);
  return true;
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  SourceBytes source;
  if (!ReadSourceFile(path, source, error)) return false;
  const std::string_view bytes(reinterpret_cast<const char*>(source.bytes.get()),
                               static_cast<size_t>(source.fileLength));
  std::string problem;
  if (!DecodeTextBytes(bytes, text, problem)) {
    error = "Cannot read text file \"" + path + "\": " + problem;
    return false;
  }
  return true;
}
