// The plain text reader: byte-order mark, charset declaration, UTF-8 or Windows-1252, to UTF-8.
#include <cctype>

#include "charset.h"
#include "codepage.h"
#include "sourcefile.h"
#include "textreaders.h"

namespace {

// How far into an HTML file a charset declaration is looked for; browsers look as far.
constexpr size_t kDeclarationWindow = 1024;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Labels that browsers read as Windows-1252 although they name its subsets.
bool MeansWindows1252(const std::string& label) {
  return label == "windows-1252" || label == "cp1252" || label == "iso-8859-1" ||
         label == "latin1" || label == "l1" || label == "us-ascii" || label == "ascii" ||
         label == "iso8859-1" || label == "x-cp1252";
}

}  // namespace

std::string HtmlDeclaredCharset(std::string_view bytes) {
  const std::string head = Lower(bytes.substr(0, kDeclarationWindow));
  // <meta charset="x">, <meta http-equiv=... content="text/html; charset=x"> and
  // <?xml ... encoding="x"?> all name it after "charset=" or "encoding=".
  for (const std::string_view key : {std::string_view("charset="), std::string_view("encoding=")}) {
    const size_t at = head.find(key);
    if (at == std::string::npos) continue;
    size_t start = at + key.size();
    while (start < head.size() && (head[start] == '"' || head[start] == '\'' || head[start] == ' '))
      ++start;
    size_t end = start;
    while (end < head.size() &&
           (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
            head[end] == '_' || head[end] == '.' || head[end] == ':')) {
      ++end;
    }
    if (end > start) return head.substr(start, end - start);
  }
  return {};
}

bool DecodeTextBytes(std::string_view bytes, std::string& text, std::string& problem,
                     TextFileKind kind) {
  text.clear();
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = DecodeValueToUtf8(bytes.substr(3), "ISO_IR 192", false);
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
    text = Utf16ToUtf8(units);
    return true;
  }
  if (kind == TextFileKind::Html) {
    const std::string label = HtmlDeclaredCharset(bytes);
    if (label == "utf-8" || label == "utf8") {
      text = DecodeValueToUtf8(bytes, "ISO_IR 192", false);
      return true;
    }
    if (MeansWindows1252(label)) {
      text = Cp1252ToUtf8(bytes);
      return true;
    }
    // Any other label iconv knows (windows-1251, koi8-r, shift_jis ...); an unknown one is
    // passed over and the bytes speak for themselves.
    if (!label.empty() && label.substr(0, 6) != "utf-16" && IconvToUtf8(label, bytes, text)) {
      return true;
    }
    text.clear();
  }
  text = TextToUtf8(bytes);
  return true;
}

bool ReadTextFileLines(const std::string& path, TextLines& lines, std::string& error,
                       TextFileKind kind) {
  lines.clear();
  std::string text;
  if (!ReadTextFile(path, text, error, kind)) return false;
  lines = SplitLines(text);
  return true;
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& error,
                  TextFileKind kind) {
  text.clear();
  SourceBytes source;
  if (!ReadSourceFile(path, source, error)) return false;
  const std::string_view bytes(reinterpret_cast<const char*>(source.bytes.get()),
                               static_cast<size_t>(source.fileLength));
  std::string problem;
  if (!DecodeTextBytes(bytes, text, problem, kind)) {
    error = "Cannot read text file \"" + path + "\": " + problem;
    return false;
  }
  return true;
}
