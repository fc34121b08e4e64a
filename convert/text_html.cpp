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

// Feeds one line after another; the tag state is kept from line to line, so a tag may span lines.
class TagStripper {
 public:
  void Line(std::string_view line) {
    const size_t before = result_.size();
    for (const char c : Trim(line)) {
      if (inTag_) {
        if (c == '>') inTag_ = false;
      } else if (c == '<') {
        inTag_ = true;
      } else {
        result_ += c;
      }
    }
    if (result_.size() != before) result_ += "\r\n";
  }
  std::string Take() { return std::move(result_); }

 private:
  bool inTag_ = false;
  std::string result_;
};

}  // namespace

std::string StripHtmlTags(const TextLines& lines) {
  TagStripper stripper;
  for (const std::string& line : lines) stripper.Line(line);
  return stripper.Take();
}

std::string StripHtmlTags(std::string_view text) {
  TagStripper stripper;
  ForEachLine(text, [&stripper](std::string_view line) { stripper.Line(line); });
  return stripper.Take();
}
