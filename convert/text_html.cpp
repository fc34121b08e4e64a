// The HTML reader: a two-state scanner that drops everything from "<" to ">", across lines.
#include "textreaders.h"

namespace {

// Blanks and control characters, as a trim removes them; bytes from 0x80 on are text.
bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view Trim(std::string_view line) {
  size_t first = 0;
  while (first < line.size() && IsTrimmed(line[first])) ++first;
  size_t end = line.size();
  while (end > first && IsTrimmed(line[end - 1])) --end;
  return line.substr(first, end - first);
}

}  // namespace

std::string StripHtmlTags(const TextLines& lines) {
  std::string result;
  bool inTag = false;  // kept from line to line, so a tag may span lines
  std::string output;
  for (const std::string& line : lines) {
    for (const char c : Trim(line)) {
      if (inTag) {
        if (c == '>') inTag = false;
      } else if (c == '<') {
        inTag = true;
      } else {
        output += c;
      }
    }
    if (!output.empty()) {
      result += output;
      result += "\r\n";
      output.clear();
    }
  }
  return result;
}
