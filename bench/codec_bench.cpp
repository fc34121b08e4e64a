// Pixel codec throughput: a 512 x 512 x 100-frame 16-bit image converted to and from lossless
// JPEG and lossless JPEG 2000, timed in-process (conversion alone, and with file read and write).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dcmobj.h"
#include "dicomfile.h"
#include "transfer_syntax.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: codec_bench generate OUT.dcm\n"
    "       codec_bench transcode TS IN.dcm OUT.dcm\n"
    "\n"
    "generate writes a 512 x 512 x 100-frame, 16-bit (12 bits stored) CT-like image in explicit\n"
    "VR little endian. transcode converts IN to the transfer syntax TS and writes OUT, printing\n"
    "the MB/s of the conversion alone and of read + conversion + write, over the native size.\n";

constexpr int kRows = 512;
constexpr int kColumns = 512;
constexpr int kFrames = 100;

std::unique_ptr<DcmTag> Text(uint16_t group, uint16_t element, const char* vr,
                             const std::string& text) {
  return DcmTag::FromBytes(group, element, static_cast<uint32_t>(text.size()), text.data(), vr);
}

// Round "bodies" with soft edges, texture and noise, moving from frame to frame, like a CT series.
bool Generate(const std::string& path) {
  DcmObj d;
  d.SetTransferSyntax(kExplicitVRLittleEndian);
  d.Append(Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2"));
  d.Append(Text(0x0008, 0x0018, "UI", "1.2.826.0.1.3680043.2.1125.77.1"));
  d.Append(Text(0x0008, 0x0060, "CS", "CT"));
  d.Append(Text(0x0010, 0x0010, "PN", "BENCH^CODEC"));
  d.Append(DcmTag::FromUS(0x0028, 0x0002, 1, "US"));
  d.Append(Text(0x0028, 0x0004, "CS", "MONOCHROME2"));
  d.Append(Text(0x0028, 0x0008, "IS", std::to_string(kFrames)));
  d.Append(DcmTag::FromUS(0x0028, 0x0010, kRows, "US"));
  d.Append(DcmTag::FromUS(0x0028, 0x0011, kColumns, "US"));
  d.Append(DcmTag::FromUS(0x0028, 0x0100, 16, "US"));
  d.Append(DcmTag::FromUS(0x0028, 0x0101, 12, "US"));
  d.Append(DcmTag::FromUS(0x0028, 0x0102, 11, "US"));
  d.Append(DcmTag::FromUS(0x0028, 0x0103, 0, "US"));
  d.Append(Text(0x0028, 0x1052, "DS", "-1024"));
  d.Append(Text(0x0028, 0x1053, "DS", "1"));
  std::vector<uint8_t> pixels(static_cast<size_t>(kRows) * kColumns * 2 * kFrames);
  uint32_t state = 1;
  size_t at = 0;
  for (int f = 0; f < kFrames; ++f) {
    for (int y = 0; y < kRows; ++y) {
      for (int x = 0; x < kColumns; ++x) {
        const double dx = (x - 256.0) / 200.0;
        const double dy = (y - 256.0 - f) / 160.0;
        const double r = std::sqrt(dx * dx + dy * dy);
        double value = r < 1.0 ? 1000.0 + 60.0 * std::sin(x / 9.0) * std::cos(y / 13.0) : 24.0;
        if (std::abs(dx - 0.3) < 0.1 && std::abs(dy) < 0.2) value = 2400;  // bone
        state = state * 1664525u + 1013904223u;
        value += static_cast<double>(state >> 28) - 8.0;
        const auto word = static_cast<uint16_t>(std::max(0.0, std::min(4095.0, value)));
        pixels[at++] = static_cast<uint8_t>(word);
        pixels[at++] = static_cast<uint8_t>(word >> 8);
      }
    }
  }
  d.Append(
      DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<uint32_t>(pixels.size()), pixels.data(), "OW"));
  return d.SaveToFile(path, d.GetString(0x0008, 0x0016), d.GetString(0x0008, 0x0018));
}

double Seconds(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double>(end - start).count();
}

int Transcode(const std::string& target, const std::string& in, const std::string& out) {
  const auto start = Clock::now();
  DicomFile file;
  std::string error;
  if (!ReadDicomFile(in, file, error)) {
    std::fprintf(stderr, "codec_bench: %s: %s\n", in.c_str(), error.c_str());
    return 1;
  }
  const uint64_t native =
      static_cast<uint64_t>(file.dataSet.GetUS(0x0028, 0x0010)) *
      file.dataSet.GetUS(0x0028, 0x0011) * 2 *
      static_cast<uint64_t>(std::atoi(file.dataSet.GetString(0x0028, 0x0008).c_str()));
  const std::string source = file.dataSet.transferSyntax;
  const auto convertStart = Clock::now();
  if (!ConvertTransferSyntax(file.dataSet, target)) {
    std::fprintf(stderr, "codec_bench: conversion to %s failed\n", target.c_str());
    return 1;
  }
  const auto convertEnd = Clock::now();
  if (!file.dataSet.SaveToFile(out, file.dataSet.GetString(0x0008, 0x0016),
                               file.dataSet.GetString(0x0008, 0x0018))) {
    std::fprintf(stderr, "codec_bench: cannot write %s\n", out.c_str());
    return 1;
  }
  const auto end = Clock::now();
  const double convert = Seconds(convertStart, convertEnd);
  const double total = Seconds(start, end);
  std::printf("%-24s -> %-24s convert %7.3f s %8.1f MB/s   with file I/O %7.3f s %8.1f MB/s\n",
              source.c_str(), target.c_str(), convert, static_cast<double>(native) / 1e6 / convert,
              total, static_cast<double>(native) / 1e6 / total);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "generate") == 0) return Generate(argv[2]) ? 0 : 1;
  if (argc == 5 && std::strcmp(argv[1], "transcode") == 0)
    return Transcode(argv[2], argv[3], argv[4]);
  std::fputs(kUsage, stderr);
  return 2;
}
