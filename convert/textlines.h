// The line list the document readers deliver, and the splitting and joining the converter applies.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text lines in Windows-1252, without their line breaks.
using TextLines = std::vector<std::string>;

// Splits at every CR, LF or CR LF pair. A text that ends with a line break gets no empty line
// after it, and an empty text gives no lines at all.
TextLines SplitLines(std::string_view text);

// The lines, each followed by CR LF: the form a report's text takes.
std::string JoinLines(const TextLines& lines);

// Replaces every CR CR pair by CR LF, left to right, never looking at a replaced pair again.
// Word ends each paragraph with a lone CR; once the pieces are joined with CR LF, a paragraph mark
// at a piece's end becomes CR CR LF, which this turns into a paragraph break and an empty line.
std::string ReplaceCrCrByCrLf(std::string text);
