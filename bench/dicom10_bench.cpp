// Decode and encode throughput of the toolkit on Part 10 files: MB/s and elements/s.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bufdata.h"
#include "dcmobj.h"
#include "dicomfile.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: dicom10_bench generate SMALL.dcm LARGE.dcm\n"
    "       dicom10_bench FILE...\n"
    "\n"
    "generate writes a data set of 100,000 small elements and one with a 200 MB pixel element.\n"
    "Given files, prints decode and encode throughput for each, best of several runs.\n";

// 100,000 short private elements in explicit VR little endian, four VRs in turn.
bool WriteSmall(const std::string& path) {
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  dataSet.Append(DcmTag::FromText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7"));
  dataSet.Append(DcmTag::FromText(0x0008, 0x0018, "1.2.3.4"));
  for (int i = 0; i < 100000; ++i) {
    const auto group = static_cast<uint16_t>(0x0011 + 2 * (i / 50000));
    const auto element = static_cast<uint16_t>(0x1000 + i % 50000);
    char text[16];
    switch (i % 4) {
      case 0:
        std::snprintf(text, sizeof text, "VALUE%05d", i % 100000);
        dataSet.Append(DcmTag::FromBytes(group, element, 10, text, "LO"));
        break;
      case 1:
        dataSet.Append(DcmTag::FromUS(group, element, static_cast<uint16_t>(i), "US"));
        break;
      case 2:
        std::snprintf(text, sizeof text, "%d.25", i);
        dataSet.Append(DcmTag::FromBytes(group, element, static_cast<uint32_t>(std::strlen(text)),
                                         text, "DS"));
        break;
      default:
        std::snprintf(text, sizeof text, "1.2.%d", i);
        dataSet.Append(DcmTag::FromBytes(group, element, static_cast<uint32_t>(std::strlen(text)),
                                         text, "UI"));
        break;
    }
  }
  return dataSet.SaveToFile(path, "1.2.840.10008.5.1.4.1.1.7", "1.2.3.4");
}

// One 10000 x 10000 image of 16-bit samples: a 200,000,000-byte pixel element.
bool WriteLarge(const std::string& path) {
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  dataSet.Append(DcmTag::FromText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7"));
  dataSet.Append(DcmTag::FromText(0x0008, 0x0018, "1.2.3.5"));
  dataSet.Append(DcmTag::FromUS(0x0028, 0x0002, 1, "US"));
  dataSet.Append(DcmTag::FromText(0x0028, 0x0004, "MONOCHROME2"));
  dataSet.Append(DcmTag::FromUS(0x0028, 0x0010, 10000, "US"));
  dataSet.Append(DcmTag::FromUS(0x0028, 0x0011, 10000, "US"));
  dataSet.Append(DcmTag::FromUS(0x0028, 0x0100, 16, "US"));
  dataSet.Append(DcmTag::FromUS(0x0028, 0x0101, 16, "US"));
  dataSet.Append(DcmTag::FromUS(0x0028, 0x0102, 15, "US"));
  dataSet.Append(DcmTag::FromUS(0x0028, 0x0103, 0, "US"));
  constexpr uint32_t kPixelBytes = 200000000;
  auto pixels = std::make_unique_for_overwrite<uint8_t[]>(kPixelBytes);
  for (uint32_t i = 0; i < kPixelBytes; ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  auto tag = std::make_unique<DcmTag>(0x7FE0, 0x0010);
  tag->SetVR("OW");
  tag->TakeValue(std::move(pixels), kPixelBytes);
  dataSet.Append(std::move(tag));
  return dataSet.SaveToFile(path, "1.2.840.10008.5.1.4.1.1.7", "1.2.3.5");
}

size_t CountElements(const DcmObj& dataSet) {
  size_t count = 0;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    ++count;
    if (const DcmObj* nested = dataSet.ObjAt(i)) count += CountElements(*nested);
  }
  return count;
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void PrintRow(const char* what, const std::string& file, double bytes, size_t elements,
              double seconds) {
  std::printf("%-28s %-24s %10.3f s %10.1f MB/s %14.0f elements/s\n", what, file.c_str(), seconds,
              bytes / 1e6 / seconds, static_cast<double>(elements) / seconds);
}

int Measure(const std::string& path) {
  const std::string name = path.substr(path.find_last_of('/') + 1);
  BufData loaded;
  std::string error;
  if (!loaded.LoadFromFile(path, error)) {
    std::fprintf(stderr, "dicom10_bench: %s\n", error.c_str());
    return 1;
  }
  const double fileBytes = static_cast<double>(loaded.stream.size());
  const int runs = fileBytes > 50e6 ? 3 : 5;

  double readFile = 1e30, decode = 1e30, encode = 1e30;
  size_t elements = 0;
  double encodedBytes = 0;
  for (int run = 0; run < runs; ++run) {
    {
      // From disk, as a reader of files would: load and parse.
      const auto start = Clock::now();
      DicomFile file;
      if (!ReadDicomFile(path, file, error)) {
        std::fprintf(stderr, "dicom10_bench: %s: %s\n", path.c_str(), error.c_str());
        return 1;
      }
      readFile = std::min(readFile, Seconds(start));
    }
    BufData buffer;
    buffer.stream = loaded.stream;
    DicomFile file;
    const auto start = Clock::now();
    if (!ParseDicomFile(buffer, file, error)) return 1;
    decode = std::min(decode, Seconds(start));
    elements = CountElements(file.meta) + CountElements(file.dataSet);

    const auto encodeStart = Clock::now();
    BufData out(false);
    out.WriteMetaHeader(file.meta.GetString(0x0002, 0x0002), file.meta.GetString(0x0002, 0x0003),
                        file.dataSet.transferSyntax);
    if (!out.WriteDataSet(file.dataSet)) return 1;
    encode = std::min(encode, Seconds(encodeStart));
    encodedBytes = static_cast<double>(out.stream.size());
  }
  PrintRow("read file (load + decode)", name, fileBytes, elements, readFile);
  PrintRow("decode from memory", name, fileBytes, elements, decode);
  PrintRow("encode to memory", name, encodedBytes, elements, encode);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (args[0] == "generate") {
    if (args.size() != 3) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    if (!WriteSmall(args[1]) || !WriteLarge(args[2])) {
      std::fprintf(stderr, "dicom10_bench: cannot write the benchmark files\n");
      return 1;
    }
    return 0;
  }
  int status = 0;
  for (const std::string& path : args) status |= Measure(path);
  return status;
}
