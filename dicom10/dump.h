// Dumps of data sets as readable UTF-8 lines, for the log and the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DcmObj;

// Dump lines show a value only when it is shorter than this; a longer one by its length alone, so
// a reader that only dumps need not read it (ReadDicomFile's leaveInFileFrom).
inline constexpr uint32_t kLongestValueShown = 254;

// The dump lines of a data set as DcmObj::Dump makes them, but valid UTF-8 throughout: each text
// value is decoded by the Specific Character Set in force (an item may declare its own), and
// every other byte that is not UTF-8 (the dictionary names' Windows-1252 apostrophes, binary
// values) is read as Windows-1252. The lengths shown stay those of the elements.
std::vector<std::string> DumpLinesUtf8(const DcmObj& dataSet);
