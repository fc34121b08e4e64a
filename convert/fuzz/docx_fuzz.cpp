// Fuzz target: a DOCX package in memory, through the ZIP reader, the size checks and the
// WordprocessingML text walk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textreaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text;
  std::string problem;
  DocxPackageText(std::string_view(reinterpret_cast<const char*>(data), size), text, problem);
  return 0;
}
