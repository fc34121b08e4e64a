// The line list the document readers deliver, and the splitting and joining the converter applies.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text lines in UTF-8, without their line breaks.
using TextLines = std::vector<std::string>;

// Calls `visit` with every line of the text, split at every CR, LF or CR LF pair, without
// copying: a text that ends with a line break gets no empty line after it, and an empty text
// gives no lines at all.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    visit(text.substr(start, i - start));
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) visit(text.substr(start));
}

// The lines ForEachLine visits, each as its own string. Every line costs a string object, so
// whole documents go through NormalizeLineBreaks instead.
TextLines SplitLines(std::string_view text);

// JoinLines(SplitLines(text)) without the line list: every line followed by CR LF, in one
// string no larger than that result.
std::string NormalizeLineBreaks(std::string_view text);

// The lines, each followed by CR LF: the form a report's text takes.
std::string JoinLines(const TextLines& lines);

// Replaces every CR CR pair by CR LF, left to right, never looking at a replaced pair again.
// Word ends each paragraph with a lone CR; once the pieces are joined with CR LF, a paragraph mark
// at a piece's end becomes CR CR LF, which this turns into a paragraph break and an empty line.
std::string ReplaceCrCrByCrLf(std::string text);
