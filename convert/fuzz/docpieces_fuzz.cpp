// Fuzz target: the Word piece-table reader on arbitrary WordDocument and table streams.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textreaders.h"

// The input is a 4-byte little-endian length, that many bytes of WordDocument stream (or fewer
// when the input is shorter), and the rest as the table stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t wordLength = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8 |
                            static_cast<size_t>(data[2]) << 16 | static_cast<size_t>(data[3]) << 24;
  const std::string_view rest(reinterpret_cast<const char*>(data + 4), size - 4);
  const std::string_view word = rest.substr(0, wordLength);
  const std::string_view table = rest.substr(word.size());
  TextLines lines;
  std::string problem;
  ReadDocPieces(word, table, lines, problem);
  return 0;
}
