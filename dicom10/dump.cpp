// Readable one-line-per-element dumps of data sets for the log and the command line.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "charset.h"
#include "dcmobj.h"
#include "dictionary.h"
#include "dump.h"
#include "uids.h"

namespace {

// The number as printf's "%5.2f" writes it, but always with a dot, whatever numeric locale the
// application runs in, and never cut short: the largest double needs over 300 digits.
std::string FixedTwoDecimals(double number) {
  char digits[400];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, number, std::chars_format::fixed, 2);
  std::string text(digits, result.ptr);
  if (text.size() < 5) text.insert(0, 5 - text.size(), ' ');
  return text;
}

// The dump lines of one data set with each text value decoded by the Specific Character Set in
// force: the data set's own, else the one of the data set it is nested in.
void DecodedLines(const DcmObj& dataSet, std::string_view declared, int depth,
                  std::vector<std::string>& lines) {
  const DcmTag* own = dataSet.FindTag(0x0008, 0x0005);
  const std::string inForce = own != nullptr ? std::string(own->Bytes()) : std::string(declared);
  for (const DcmEntry& entry : dataSet.entries) {
    if (!entry.tag) {
      lines.push_back(MixedBytesToUtf8(DumpLine(entry.obj->header, depth)));
      DecodedLines(*entry.obj, inForce, depth + 1, lines);
      continue;
    }
    if (entry.tag->group == 0x0000) LookupVR(*entry.tag);
    const DcmTag& tag = *entry.tag;
    std::string line = DumpLine(tag, depth);
    // DumpLine ends the line with the value as stored, up to a zero byte; that part is replaced.
    if (tag.HasValue() && tag.length <= kLongestValueShown && IsTextVR(tag.VR()) && !tag.IsVR("UI")) {
      std::string_view raw = tag.Bytes();
      raw = raw.substr(0, raw.find('\0'));
      if (line.size() >= raw.size() &&
          line.compare(line.size() - raw.size(), raw.size(), raw) == 0) {
        line.resize(line.size() - raw.size());
        line += DecodeValueToUtf8(raw, inForce, tag.IsVR("PN"));
      }
    }
    lines.push_back(MixedBytesToUtf8(line));
  }
}

}  // namespace

std::vector<std::string> DumpLinesUtf8(const DcmObj& dataSet) {
  std::vector<std::string> lines;
  DecodedLines(dataSet, "", 0, lines);
  return lines;
}

std::string DumpLine(const DcmTag& tag, int depth) {
  std::string line;
  for (int i = 1; i < depth; ++i) line += "...";

  const DictionaryRow* row = FindDictionaryRow(tag.group, tag.element);
  const char* source = row ? row->vr : tag.vr;
  char shownVR[3] = {source[0], source[0] ? source[1] : '\0', 0};
  const std::string_view vr(shownVR);

  // "(%04X,%04X), %2d, %s, ", written out by hand: this runs for every line of every dump.
  char head[48];
  char* at = head;
  auto hex4 = [&at](uint16_t value) {
    for (int shift = 12; shift >= 0; shift -= 4) *at++ = "0123456789ABCDEF"[(value >> shift) & 0xF];
  };
  *at++ = '(';
  hex4(tag.group);
  *at++ = ',';
  hex4(tag.element);
  *at++ = ')';
  *at++ = ',';
  *at++ = ' ';
  char digits[16];
  const auto length =
      std::to_chars(digits, digits + sizeof digits, static_cast<int32_t>(tag.length));
  if (length.ptr - digits < 2) *at++ = ' ';
  for (const char* d = digits; d != length.ptr; ++d) *at++ = *d;
  *at++ = ',';
  *at++ = ' ';
  for (const char* v = shownVR; *v != 0; ++v) *at++ = *v;
  *at++ = ',';
  *at++ = ' ';
  line.append(head, at);
  line += row ? std::string_view(row->name) : LookupName(tag);
  line += ": ";

  if (vr != "SQ" && tag.length <= kLongestValueShown && tag.HasValue()) {
    char buffer[256] = {};
    std::memcpy(buffer, tag.value.get(), tag.length);
    // Binary numbers read from a big-endian stream keep its byte order (the tag says so); they
    // are turned round here so that the line shows the number the sender meant.
    const bool binary =
        vr == "FL" || vr == "FD" || vr == "SL" || vr == "SS" || vr == "UL" || vr == "US";
    if (binary && tag.bigEndian) {
      const uint32_t size = vr == "FD" ? 8 : vr == "FL" || vr[1] == 'L' ? 4 : 2;
      for (uint32_t start = 0; start + size <= tag.length; start += size)
        std::reverse(buffer + start, buffer + start + size);
    }
    if (vr == "FL") {
      float number;
      std::memcpy(&number, buffer, sizeof number);
      line += FixedTwoDecimals(static_cast<double>(number));
    } else if (vr == "FD") {
      double number;
      std::memcpy(&number, buffer, sizeof number);
      line += FixedTwoDecimals(number);
    } else if (vr == "SL" || vr == "SS" || vr == "UL" || vr == "US") {
      if (tag.length <= 4) {
        uint32_t number = 0;
        for (uint32_t i = 0; i < tag.length; ++i)
          number |= uint32_t{static_cast<uint8_t>(buffer[i])} << (8 * i);
        line += std::to_string(static_cast<int32_t>(number));
      } else {
        line += "Vector!!";
      }
    } else {
      const std::string_view value(buffer);
      line += value;
      if (vr == "UI") {
        const std::string_view name = UidName(value);
        if (!name.empty()) {
          line += " (";
          line += name;
          line += ") ";
        }
      }
    }
  }
  return line;
}

void DcmObj::Dump(std::vector<std::string>& lines, int depth) const {
  for (const DcmEntry& entry : entries) {
    if (entry.tag) {
      if (entry.tag->group == 0x0000) LookupVR(*entry.tag);
      lines.push_back(DumpLine(*entry.tag, depth));
    } else {
      lines.push_back(DumpLine(entry.obj->header, depth));
      entry.obj->Dump(lines, depth + 1);
    }
  }
}
