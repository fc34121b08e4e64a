// Fuzz target: the RTF reader on arbitrary bytes must fail cleanly or give text, never crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textreaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text;
  std::string problem;
  RtfToPlainText(std::string_view(reinterpret_cast<const char*>(data), size), text, problem);
  return 0;
}
