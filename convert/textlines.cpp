// The line list the document readers deliver, and the splitting and joining the converter applies.
#include "textlines.h"

TextLines SplitLines(std::string_view text) {
  TextLines lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string JoinLines(const TextLines& lines) {
  size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string joined;
  joined.reserve(size);
  for (const std::string& line : lines) {
    joined += line;
    joined += "\r\n";
  }
  return joined;
}

std::string ReplaceCrCrByCrLf(std::string text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\r' && text[i + 1] == '\r') {
      text[i + 1] = '\n';
      ++i;  // the pair just made is not examined again
    }
  }
  return text;
}
