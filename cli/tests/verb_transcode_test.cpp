// velloran-cli transcode, run as a user would: a round trip through lossless JPEG, and failures
// that print the log's reason and write nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dcmobj.h"
#include "dicomfile.h"
#include "testsupport.h"

namespace {

using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::TempDir;

CommandResult Transcode(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {VELLORAN_CLI, "transcode"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv);
}

// A 16-bit grey image of 20 x 30 pixels in explicit VR little endian.
std::string WriteImage(const TempDir& dir, std::vector<uint8_t>& pixels) {
  DcmObj d;
  d.SetTransferSyntax(kExplicitVRLittleEndian);
  d.AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  d.AddString(0x0008, 0x0018, "1.2.826.0.1.3680043.2.1143.77");
  d.AddString(0x0008, 0x0060, "OT");
  d.Add(DcmTag::FromUS(0x0028, 0x0002, 1, "US"));
  d.AddString(0x0028, 0x0004, "MONOCHROME2");
  d.Add(DcmTag::FromUS(0x0028, 0x0010, 20, "US"));
  d.Add(DcmTag::FromUS(0x0028, 0x0011, 30, "US"));
  d.Add(DcmTag::FromUS(0x0028, 0x0100, 16, "US"));
  d.Add(DcmTag::FromUS(0x0028, 0x0101, 16, "US"));
  d.Add(DcmTag::FromUS(0x0028, 0x0102, 15, "US"));
  d.Add(DcmTag::FromUS(0x0028, 0x0103, 0, "US"));
  pixels.clear();
  for (int k = 0; k < 600; ++k) {
    pixels.push_back(static_cast<uint8_t>(k * 7));
    pixels.push_back(static_cast<uint8_t>(k * 3 >> 4));
  }
  d.Add(
      DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<uint32_t>(pixels.size()), pixels.data(), "OW"));
  const std::string path = (dir / "in.dcm").string();
  EXPECT_TRUE(d.SaveToFile(path, "1.2.840.10008.5.1.4.1.1.7", "1.2.826.0.1.3680043.2.1143.77"));
  return path;
}

TEST(VerbTranscode, LosslessJpegRoundTrip) {
  TempDir dir;
  std::vector<uint8_t> pixels;
  const std::string in = WriteImage(dir, pixels);
  const std::string jpeg = (dir / "jpeg.dcm").string();
  const std::string back = (dir / "back.dcm").string();
  CommandResult result = Transcode({"--ts", "1.2.840.10008.1.2.4.70", in, jpeg});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  DicomFile compressed;
  std::string error;
  ASSERT_TRUE(ReadDicomFile(jpeg, compressed, error)) << error;
  EXPECT_EQ(compressed.meta.GetString(0x0002, 0x0010), "1.2.840.10008.1.2.4.70");
  EXPECT_EQ(compressed.meta.GetString(0x0002, 0x0003), "1.2.826.0.1.3680043.2.1143.77");
  result = Transcode({"--ts", "1.2.840.10008.1.2", jpeg, back});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  DicomFile native;
  ASSERT_TRUE(ReadDicomFile(back, native, error)) << error;
  const DcmTag* pixelData = native.dataSet.FindTag(0x7FE0, 0x0010);
  ASSERT_NE(pixelData, nullptr);
  EXPECT_EQ(pixelData->Bytes(), std::string(pixels.begin(), pixels.end()));
}

TEST(VerbTranscode, FailuresExplainAndWriteNothing) {
  TempDir dir;
  std::vector<uint8_t> pixels;
  const std::string in = WriteImage(dir, pixels);
  const std::string out = (dir / "out.dcm").string();
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* stderrPiece;
  } cases[] = {
      {{"--ts", "1.2.840.10008.1.2.5", in, out},
       1,
       "ERROR, DcmObj::ConvertTransferSyntax, cannot convert"},
      {{"--ts", "1.2.840.10008.1.2.4.51", (dir / "missing.dcm").string(), out}, 1, "missing.dcm"},
      {{in, out}, 2, "usage: velloran-cli transcode"},
  };
  for (const Case& c : cases) {
    const CommandResult result = Transcode(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_NE(result.errors.find(c.stderrPiece), std::string::npos) << result.errors;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

}  // namespace
