// Fuzz target for decoding encapsulated pixel data: a data set of a small image in any compressed
// transfer syntax whose fragments come from the input, converted to explicit little endian.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "dcmobj.h"
#include "transfer_syntax.h"

namespace {

// New syntaxes go at the end, so that the corpus keeps its meaning.
const char* const kSyntaxes[] = {
    kRleLossless,        kJpegLosslessSyntax,   kJpegLosslessProcess14,
    kJpegBaselineSyntax, kJpegExtendedSyntax,   kJpeg2000LosslessSyntax,
    kJpeg2000Syntax,     kJpegLSLosslessSyntax, kJpegLSNearLosslessSyntax};

}  // namespace

// Input: syntax, bits allocated (8/16), colour flag, frames, rows, columns, then fragments, each
// a 16-bit little-endian length and its bytes; the first fragment is the Basic Offset Table.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  DcmObj d;
  d.SetTransferSyntax(kSyntaxes[data[0] % std::size(kSyntaxes)]);
  const bool colour = data[2] & 1;
  const uint16_t rows = 1 + data[4] % 64;
  const uint16_t columns = 1 + data[5] % 64;
  const std::string photometric = colour ? "RGB " : "MONOCHROME2 ";
  d.Append(DcmTag::FromBytes(0x0028, 0x0004, static_cast<uint32_t>(photometric.size()),
                             photometric.data(), "CS"));
  const std::string frames = std::to_string(1 + data[3] % 4);
  d.Append(
      DcmTag::FromBytes(0x0028, 0x0008, static_cast<uint32_t>(frames.size()), frames.data(), "IS"));
  d.Append(DcmTag::FromUS(0x0028, 0x0010, rows, "US"));
  d.Append(DcmTag::FromUS(0x0028, 0x0011, columns, "US"));
  const uint16_t bits = (data[1] & 1) ? 16 : 8;
  d.Append(DcmTag::FromUS(0x0028, 0x0100, bits, "US"));
  d.Append(DcmTag::FromUS(0x0028, 0x0101, (data[1] & 2) ? 12 : bits, "US"));
  d.Append(DcmTag::FromUS(0x0028, 0x0103, (data[1] >> 2) & 1, "US"));
  d.Append(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  size_t at = 6;
  while (at + 2 <= size) {
    const size_t length = std::min<size_t>(data[at] | data[at + 1] << 8, size - at - 2);
    d.Append(DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<uint32_t>(length), data + at + 2, "DL"));
    at += 2 + length;
  }
  d.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  ConvertTransferSyntax(d, kExplicitVRLittleEndian);
  return 0;
}
