// Test backend options and BMP header parsing.
#include "scannertesthelpers.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

SANE_Int FindOption(SANE_Handle device, const std::string& name) {
  SANE_Int count = 0;
  if (sane_control_option(device, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) {
    return -1;
  }
  for (SANE_Int index = 1; index < count; ++index) {
    const SANE_Option_Descriptor* descriptor = sane_get_option_descriptor(device, index);
    if (descriptor != nullptr && descriptor->name != nullptr && name == descriptor->name) {
      return index;
    }
  }
  return -1;
}

uint32_t Little(const std::vector<uint8_t>& bytes, size_t offset, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[offset + size_t(i)];
  return value;
}

}  // namespace

SANE_Status SetTestOption(SANE_Handle device, const std::string& name, const std::string& text) {
  const SANE_Int index = FindOption(device, name);
  if (index < 0) return SANE_STATUS_UNSUPPORTED;
  const SANE_Option_Descriptor* descriptor = sane_get_option_descriptor(device, index);
  std::vector<char> value(static_cast<size_t>(descriptor->size) + 1, '\0');
  std::memcpy(value.data(), text.data(), std::min(text.size(), value.size() - 1));
  return sane_control_option(device, index, SANE_ACTION_SET_VALUE, value.data(), nullptr);
}

SANE_Status SetTestOption(SANE_Handle device, const std::string& name, int value) {
  const SANE_Int index = FindOption(device, name);
  if (index < 0) return SANE_STATUS_UNSUPPORTED;
  const SANE_Option_Descriptor* descriptor = sane_get_option_descriptor(device, index);
  SANE_Word word = descriptor->type == SANE_TYPE_FIXED ? SANE_FIX(value) : value;
  return sane_control_option(device, index, SANE_ACTION_SET_VALUE, &word, nullptr);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

BmpHeader ParseBmpHeader(const std::vector<uint8_t>& bytes) {
  BmpHeader header;
  if (bytes.size() < 54) return header;
  header.signature = bytes[0] == 'B' && bytes[1] == 'M';
  header.fileSize = Little(bytes, 2, 4);
  header.pixelOffset = Little(bytes, 10, 4);
  header.infoSize = Little(bytes, 14, 4);
  header.width = static_cast<int32_t>(Little(bytes, 18, 4));
  header.height = static_cast<int32_t>(Little(bytes, 22, 4));
  header.planes = static_cast<uint16_t>(Little(bytes, 26, 2));
  header.bitsPerPixel = static_cast<uint16_t>(Little(bytes, 28, 2));
  header.compression = Little(bytes, 30, 4);
  header.xPixelsPerMetre = Little(bytes, 38, 4);
  header.yPixelsPerMetre = Little(bytes, 42, 4);
  header.coloursUsed = Little(bytes, 46, 4);
  return header;
}
