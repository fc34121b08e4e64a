// The line list the document readers deliver, and the splitting and joining the converter applies.
#include "textlines.h"

TextLines SplitLines(std::string_view text) {
  TextLines lines;
  ForEachLine(text, [&lines](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

std::string NormalizeLineBreaks(std::string_view text) {
  size_t size = 0;
  ForEachLine(text, [&size](std::string_view line) { size += line.size() + 2; });
  std::string joined;
  joined.reserve(size);
  ForEachLine(text, [&joined](std::string_view line) {
    joined += line;
    joined += "\r\n";
  });
  return joined;
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
