// Construction and typed reading of data elements.
#include "dcmtag.h"

#include <locale.h>
#include <stdlib.h>
#include <cstdlib>

#include "dictionary.h"
#include "filevalue.h"

namespace {

void AssignVR(DcmTag& tag, const char* vr) {
  if (vr != nullptr && vr[0] != 0) {
    tag.SetVR(vr);
    return;
  }
  LookupVR(tag);
  if (tag.IsVR("UN") && tag.HasUndefinedLength()) tag.SetVR("SQ");
}

// Decimal strings always use a dot, whatever numeric locale the application has switched to.
locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

std::string ValueText(const DcmTag& tag) {
  if (!tag.HasValue()) return {};
  const char* bytes = reinterpret_cast<const char*>(tag.value.get());
  return std::string(bytes, strnlen(bytes, tag.length));
}

}  // namespace

bool HasLongLength(const char* vr) {
  // Every VR that PS3.5 gives a reserved field and a 32-bit length. Reading or writing any of
  // them with a 16-bit length would put the rest of the data set out of step with its peers.
  static constexpr const char* kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                          "SV", "UC", "UN", "UR", "UT", "UV"};
  for (const char* candidate : kLong) {
    if (vr[0] == candidate[0] && vr[1] == candidate[1]) return true;
  }
  return false;
}

void DcmTag::SetVR(const char* twoLetters) {
  vr[0] = twoLetters[0];
  vr[1] = twoLetters[0] != 0 ? twoLetters[1] : 0;
  vr[2] = 0;
  vr[3] = 0;
}

std::unique_ptr<DcmTag> DcmTag::FromBytes(uint16_t group, uint16_t element, uint32_t length,
                                          const void* bytes, const char* vr) {
  auto tag = std::make_unique<DcmTag>(group, element);
  tag->length = length;
  AssignVR(*tag, vr);
  if (length != 0 && length != kUndefinedLength) {
    // An odd length is at most 0xFFFFFFFD, so rounding up never reaches the undefined length.
    const uint32_t padded = length + (length & 1u);
    tag->value = std::make_unique<uint8_t[]>(padded);
    if (bytes != nullptr) std::memcpy(tag->value.get(), bytes, length);
    if (padded != length) tag->value[length] = tag->IsVR("UI") ? 0x00 : 0x20;
    tag->length = padded;
  }
  return tag;
}

std::unique_ptr<DcmTag> DcmTag::FromText(uint16_t group, uint16_t element, std::string_view text) {
  return FromBytes(group, element, static_cast<uint32_t>(text.size()), text.data());
}

std::unique_ptr<DcmTag> DcmTag::FromUS(uint16_t group, uint16_t element, uint16_t number,
                                       const char* vr) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8)};
  return FromBytes(group, element, 2, bytes, vr);
}

std::unique_ptr<DcmTag> DcmTag::FromUL(uint16_t group, uint16_t element, uint32_t number,
                                       const char* vr) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
  return FromBytes(group, element, 4, bytes, vr);
}

uint16_t DcmTag::GetUS() const {
  if (length != 2 || !value) return 0;
  if (bigEndian) return static_cast<uint16_t>(value[0] << 8 | value[1]);
  return static_cast<uint16_t>(value[1] << 8 | value[0]);
}

uint32_t DcmTag::GetUL() const {
  if (length != 4 || !value) return 0;
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i) {
    const int index = bigEndian ? i : 3 - i;
    result = result << 8 | value[index];
  }
  return result;
}

float DcmTag::GetFloat() const {
  if (!HasValue()) return 0.0f;
  // Converted in double precision first and then rounded, as the value is a decimal string.
  return static_cast<float>(strtod_l(ValueText(*this).c_str(), nullptr, CLocale()));
}

long double DcmTag::GetValueAt(int index) const {
  if (!HasValue() || index < 0) return 0.0L;
  const std::string text = ValueText(*this);
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    start = text.find('\\', start);
    if (start == std::string::npos) return 0.0L;
    ++start;
  }
  const size_t end = text.find('\\', start);
  const std::string part = text.substr(start, end == std::string::npos ? end : end - start);
  return strtold_l(part.c_str(), nullptr, CLocale());
}

std::string DcmTag::GetString() const {
  std::string text = ValueText(*this);
  size_t first = 0;
  while (first < text.size() && static_cast<uint8_t>(text[first]) <= 0x20) ++first;
  size_t last = text.size();
  while (last > first && static_cast<uint8_t>(text[last - 1]) <= 0x20) --last;
  return text.substr(first, last - first);
}

void DcmTag::SetValue(const void* bytes, uint32_t size) {
  value.reset();
  fileValue.reset();
  length = size;
  if (size != 0 && size != kUndefinedLength) {
    value = std::make_unique_for_overwrite<uint8_t[]>(size);
    std::memcpy(value.get(), bytes, size);
  }
}

void DcmTag::TakeValue(std::unique_ptr<uint8_t[]> buffer, uint32_t size) {
  fileValue.reset();
  length = size;
  value = size != 0 && size != kUndefinedLength ? std::move(buffer) : nullptr;
}

void DcmTag::TakeFileValue(std::shared_ptr<const FileValue> file) {
  value.reset();
  length = file ? file->Length() : 0;
  fileValue = length != 0 ? std::move(file) : nullptr;
}

std::unique_ptr<DcmTag> DcmTag::Clone() const {
  auto copy = std::make_unique<DcmTag>(group, element);
  std::memcpy(copy->vr, vr, sizeof vr);
  copy->bigEndian = bigEndian;
  copy->SetValue(value.get(), HasValue() ? length : 0);
  copy->fileValue = fileValue;
  copy->length = length;
  return copy;
}
