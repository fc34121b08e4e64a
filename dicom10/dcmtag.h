// One DICOM data element: tag, VR, length and the value bytes exactly as encoded.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

inline constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;

class FileValue;

class DcmTag {
 public:
  uint16_t group = 0;
  uint16_t element = 0;
  char vr[4] = {0, 0, 0, 0};  // two letters and a zero byte; the fourth byte is unused
  uint32_t length = 0;        // kUndefinedLength for an undefined length
  // Exactly `length` bytes; null when the length is 0 or undefined.
  std::unique_ptr<uint8_t[]> value;
  bool bigEndian = false;  // the value bytes are in big-endian order
  // Set instead of `value` for a long value whose `length` bytes stay in a file until the element
  // is written (a video). The readers of values below see no value.
  std::shared_ptr<const FileValue> fileValue;

  // The empty tag: (0000,0000), no VR, length 0, no value.
  DcmTag() = default;
  DcmTag(uint16_t group, uint16_t element) : group(group), element(element) {}

  // Bytes constructor: `length` bytes copied from `bytes` (which may be shorter only when null)
  // into a buffer rounded up to even and padded with 0x00 for "UI", 0x20 otherwise. With no VR
  // the dictionary's is used, and an unknown tag of undefined length becomes "SQ".
  static std::unique_ptr<DcmTag> FromBytes(uint16_t group, uint16_t element, uint32_t length,
                                           const void* bytes, const char* vr = nullptr);
  // Text constructor: the text's bytes, padded to even length, VR from the dictionary.
  static std::unique_ptr<DcmTag> FromText(uint16_t group, uint16_t element, std::string_view text);
  // 16- and 32-bit number constructors: the value stored low byte first.
  static std::unique_ptr<DcmTag> FromUS(uint16_t group, uint16_t element, uint16_t number,
                                        const char* vr = nullptr);
  static std::unique_ptr<DcmTag> FromUL(uint16_t group, uint16_t element, uint32_t number,
                                        const char* vr = nullptr);

  // 0 unless the length is exactly 2 (4 for GetUL); byte order from the big-endian flag.
  uint16_t GetUS() const;
  uint32_t GetUL() const;
  // The value as decimal text, up to the first zero byte or backslash, in single precision.
  float GetFloat() const;
  // The index-th backslash-separated value as a decimal number; 0 when absent.
  long double GetValueAt(int index) const;
  // The value as text up to the first zero byte, with leading and trailing bytes <= 0x20 removed.
  std::string GetString() const;

  bool HasValue() const { return value != nullptr && length != 0 && length != kUndefinedLength; }
  bool Is(uint16_t g, uint16_t e) const { return group == g && element == e; }
  bool IsVR(const char* twoLetters) const {
    return vr[0] == twoLetters[0] && vr[1] == twoLetters[1];
  }
  bool HasUndefinedLength() const { return length == kUndefinedLength; }
  std::string_view VR() const { return std::string_view(vr, strnlen(vr, 2)); }
  void SetVR(const char* twoLetters);
  // The value bytes, empty when there is no value.
  std::string_view Bytes() const {
    return HasValue() ? std::string_view(reinterpret_cast<const char*>(value.get()), length)
                      : std::string_view();
  }
  // Replaces the value with a copy of `size` bytes (no padding); the VR and flags stay.
  void SetValue(const void* bytes, uint32_t size);
  // Replaces the value with an owned buffer of `size` bytes.
  void TakeValue(std::unique_ptr<uint8_t[]> buffer, uint32_t size);
  // Replaces the value with the bytes of a file, read when the element is written.
  void TakeFileValue(std::shared_ptr<const FileValue> file);
  std::unique_ptr<DcmTag> Clone() const;
};

// True for VRs whose explicit-VR encoding has two reserved bytes and a 32-bit length.
bool HasLongLength(const char* vr);
