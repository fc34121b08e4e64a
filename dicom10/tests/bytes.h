// Small helpers for the encoding tests: byte strings written as hex, and one-call decode/encode.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "bufdata.h"
#include "dcmobj.h"

namespace testbytes {

// "10 00 FE ff" -> the four bytes; spaces are ignored.
inline std::string Hex(std::string_view text) {
  std::string bytes;
  int high = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high << 4 | digit));
      high = -1;
    }
  }
  return bytes;
}

// Decodes `bytes` as a whole data set in the transfer syntax `syntax`.
inline bool Decode(const std::string& bytes, DcmObj& dataSet, const std::string& syntax) {
  dataSet.SetTransferSyntax(syntax);
  BufData buffer(dataSet.bigEndian);
  buffer.stream.assign(bytes.begin(), bytes.end());
  return buffer.ReadDataSet(dataSet);
}

// Encodes the data set in its transfer syntax; `ok` receives WriteDataSet's result.
inline std::string Encode(DcmObj& dataSet, bool* ok = nullptr) {
  BufData buffer(false);
  const bool written = buffer.WriteDataSet(dataSet);
  if (ok != nullptr) *ok = written;
  return std::string(buffer.stream.begin(), buffer.stream.end());
}

inline std::string ValueOf(const DcmTag& tag) {
  return std::string(tag.Bytes());
}

}  // namespace testbytes
