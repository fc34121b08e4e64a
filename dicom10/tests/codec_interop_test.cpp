// Codec interoperability with DCMTK and OpenJPEG's tools: what we compress, dcmdjpeg and
// opj_decompress decode to the same samples; what dcmcjpeg, dcmcrle and opj_compress produce, we
// decode to the samples dcmdjpeg, dcmdrle and the source give.
#include <gtest/gtest.h>

#include "codec_j2k.h"
#include "dicomfile.h"
#include "imagefixture.h"
#include "testsupport.h"
#include "transfer_syntax.h"

namespace {

using imagefixture::ImageFormat;
using imagefixture::InterleavedSamples;
using imagefixture::MakeImage;
using imagefixture::NativeSamples;
using testsupport::RunCommand;

const ImageFormat kGrey8{"grey8", "MONOCHROME2", 8, 8, 0, false, 48, 64, 2};
const ImageFormat kRgb8{"rgb8", "RGB", 8, 8, 0, false, 48, 64, 1};
const ImageFormat kPlanarRgb8{"rgb8_planar", "RGB", 8, 8, 0, true, 48, 64, 1};
const ImageFormat kUnsigned12{"unsigned12", "MONOCHROME2", 16, 12, 0, false, 48, 64, 2};
const ImageFormat kSigned16{"signed16", "MONOCHROME2", 16, 16, 1, false, 48, 64, 1};
const ImageFormat kUnsigned16{"unsigned16", "MONOCHROME2", 16, 16, 0, false, 48, 64, 1};

bool Save(DcmObj& d, const std::filesystem::path& path) {
  return d.SaveToFile(path.string(), d.GetString(0x0008, 0x0016), d.GetString(0x0008, 0x0018));
}

// The native samples of a Part 10 file, decoded by us when it is compressed.
std::vector<uint8_t> SamplesOfFile(const std::filesystem::path& path, size_t size) {
  DicomFile file;
  std::string error;
  EXPECT_TRUE(ReadDicomFile(path.string(), file, error)) << error;
  EXPECT_TRUE(ConvertTransferSyntax(file.dataSet, kExplicitVRLittleEndian));
  return NativeSamples(file.dataSet, size);
}

// The samples of DCMTK's decompressed file, read without any conversion of ours.
std::vector<uint8_t> SamplesOfNativeFile(const std::filesystem::path& path, size_t size) {
  DicomFile file;
  std::string error;
  EXPECT_TRUE(ReadDicomFile(path.string(), file, error)) << error;
  EXPECT_EQ(file.dataSet.GetUS(0x0028, 0x0006), 0) << "planar output";
  return NativeSamples(file.dataSet, size);
}

TEST(CodecInterop, DcmdjpegDecodesWhatWeCompress) {
  ASSERT_TRUE(testsupport::HaveProgram("dcmdjpeg"))
      << "dcmdjpeg not installed (scripts/setup.sh installs it)";
  struct Case {
    ImageFormat format;
    const char* target;
    bool lossless;
  } cases[] = {
      {kGrey8, kJpegLosslessSyntax, true},         {kRgb8, kJpegLosslessSyntax, true},
      {kPlanarRgb8, kJpegLosslessProcess14, true}, {kUnsigned12, kJpegLosslessSyntax, true},
      {kSigned16, kJpegLosslessSyntax, true},      {kGrey8, kJpegBaselineSyntax, false},
      {kRgb8, kJpegBaselineSyntax, false},         {kUnsigned12, kJpegExtendedSyntax, false},
  };
  testsupport::TempDir folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format.name) + " " + c.target);
    const auto samples = InterleavedSamples(c.format, c.lossless);
    auto d = MakeImage(c.format, samples);
    ASSERT_TRUE(ConvertTransferSyntax(*d, c.target));
    const auto ours = folder / "ours.dcm";
    const auto theirs = folder / "theirs.dcm";
    ASSERT_TRUE(Save(*d, ours));
    const auto result = RunCommand({"dcmdjpeg", ours.string(), theirs.string()});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    const auto decodedByDcmtk = SamplesOfNativeFile(theirs, samples.size());
    ASSERT_EQ(decodedByDcmtk.size(), samples.size());
    EXPECT_EQ(decodedByDcmtk, SamplesOfFile(ours, samples.size()));
    if (c.lossless) {
      EXPECT_EQ(decodedByDcmtk, samples);
    }
  }
}

TEST(CodecInterop, WeDecodeWhatDcmtkCompresses) {
  ASSERT_TRUE(testsupport::HaveProgram("dcmcjpeg") && testsupport::HaveProgram("dcmcrle"))
      << "DCMTK missing (scripts/setup.sh installs it)";
  struct Case {
    ImageFormat format;
    const char* compress;
    const char* option;
    const char* decompress;
  } cases[] = {
      {kGrey8, "dcmcjpeg", "+eb", "dcmdjpeg"},      {kRgb8, "dcmcjpeg", "+eb", "dcmdjpeg"},
      {kUnsigned12, "dcmcjpeg", "+ee", "dcmdjpeg"}, {kGrey8, "dcmcjpeg", "+e1", "dcmdjpeg"},
      {kRgb8, "dcmcjpeg", "+el", "dcmdjpeg"},       {kUnsigned12, "dcmcjpeg", "+el", "dcmdjpeg"},
      {kSigned16, "dcmcjpeg", "+e1", "dcmdjpeg"},   {kUnsigned16, "dcmcjpeg", "+el", "dcmdjpeg"},
      {kGrey8, "dcmcrle", "", "dcmdrle"},           {kRgb8, "dcmcrle", "", "dcmdrle"},
      {kSigned16, "dcmcrle", "", "dcmdrle"},
  };
  testsupport::TempDir folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format.name) + " " + c.compress + " " + c.option);
    const auto samples = InterleavedSamples(c.format, false);
    auto d = MakeImage(c.format, samples);
    const auto native = folder / "native.dcm";
    const auto compressed = folder / "compressed.dcm";
    const auto reference = folder / "reference.dcm";
    ASSERT_TRUE(Save(*d, native));
    std::vector<std::string> command = {c.compress};
    if (c.option[0]) command.push_back(c.option);
    command.push_back(native.string());
    command.push_back(compressed.string());
    auto result = RunCommand(command);
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    result = RunCommand({c.decompress, compressed.string(), reference.string()});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    const auto decodedByDcmtk = SamplesOfNativeFile(reference, samples.size());
    ASSERT_EQ(decodedByDcmtk.size(), samples.size());
    EXPECT_EQ(SamplesOfFile(compressed, samples.size()), decodedByDcmtk);
  }
}

// Colour baseline JPEG decodes as its Photometric Interpretation says: RGB data sets whose streams
// carry no JFIF or Adobe marker were coded without colour transform and must not be converted
// from YCbCr (the library's guess for such streams); markers and YBR data sets keep the
// conversion. pydicom's test files cover each kind, and dcmdjpeg decodes them the same way, but
// for one: GDCM's file says RGB over a stream with subsampled chroma, which is YCbCr (decoded
// as RGB its red, green and blue bands come out pink, teal and violet), so there the reference
// is dcmdjpeg told to convert always.
TEST(CodecInterop, ColourJpegFollowsPhotometricInterpretationAsDcmdjpegDoes) {
  ASSERT_TRUE(testsupport::HaveProgram("dcmdjpeg"))
      << "dcmdjpeg not installed (scripts/setup.sh installs it)";
  const std::filesystem::path files = "/usr/lib/python3/dist-packages/pydicom/data/test_files";
  struct Case {
    const char* file;
    const char* conversion;           // dcmdjpeg's colour conversion option
    std::vector<uint8_t> firstPixel;  // as the reference gives it
  } cases[] = {
      // RGB without marker (converted from YCbCr it would be 255,121,255).
      {"SC_jpeg_no_color_transform.dcm", "+cp", {244, 244, 244}},
      {"SC_jpeg_no_color_transform_2.dcm", "+cp", {244, 246, 246}},  // Adobe transform 0
      {"SC_rgb_dcmtk_+eb+cr.dcm", "+cp", {}},
      {"SC_rgb_jpeg_app14_dcmd.dcm", "+cp", {}},
      {"SC_rgb_jpeg_lossy_gdcm.dcm", "+ca", {254, 0, 0}},
      {"SC_rgb_dcmtk_+eb+cy+n1.dcm", "+cp", {}},  // YBR_FULL
      {"SC_rgb_dcmtk_+eb+cy+np.dcm", "+cp", {}},  // YBR_FULL_422, subsampled
      {"SC_rgb_jpeg_dcmtk.dcm", "+cp", {}},
  };
  testsupport::TempDir folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto source = files / c.file;
    ASSERT_TRUE(std::filesystem::exists(source))
        << "python3-pydicom's test files missing (scripts/setup.sh installs them)";
    const auto reference = folder / "reference.dcm";
    const auto result = RunCommand({"dcmdjpeg", c.conversion, source.string(), reference.string()});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    DicomFile decoded;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(reference.string(), decoded, error)) << error;
    const size_t size =
        size_t{decoded.dataSet.GetUS(0x0028, 0x0010)} * decoded.dataSet.GetUS(0x0028, 0x0011) * 3;
    const auto decodedByDcmtk = SamplesOfNativeFile(reference, size);
    ASSERT_EQ(decodedByDcmtk.size(), size);
    if (!c.firstPixel.empty()) {
      EXPECT_EQ(std::vector<uint8_t>(decodedByDcmtk.begin(), decodedByDcmtk.begin() + 3),
                c.firstPixel);
    }
    EXPECT_TRUE(SamplesOfFile(source, size) == decodedByDcmtk);
  }
}

// JPEG-LS is decoded only: what dcmcjpls writes (lossless and near-lossless, each interleave
// mode, frames split over several fragments) decodes to the samples dcmdjpls gives.
TEST(CodecInterop, WeDecodeWhatDcmcjplsCompresses) {
  ASSERT_TRUE(testsupport::HaveProgram("dcmcjpls") && testsupport::HaveProgram("dcmdjpls"))
      << "dcmcjpls or dcmdjpls missing (scripts/setup.sh installs them)";
  struct Case {
    ImageFormat format;
    std::vector<std::string> options;
    const char* syntax;
  } cases[] = {
      {kGrey8, {"+el"}, kJpegLSLosslessSyntax},
      {kGrey8, {"+en", "+md", "3"}, kJpegLSNearLosslessSyntax},
      {kGrey8, {"+el", "+fs", "1"}, kJpegLSLosslessSyntax},
      {kRgb8, {"+el", "+il"}, kJpegLSLosslessSyntax},
      {kRgb8, {"+el", "+is"}, kJpegLSLosslessSyntax},
      {kRgb8, {"+el", "+in"}, kJpegLSLosslessSyntax},
      {kPlanarRgb8, {"+en"}, kJpegLSNearLosslessSyntax},
      {kUnsigned12, {"+el"}, kJpegLSLosslessSyntax},
      {kUnsigned12, {"+en"}, kJpegLSNearLosslessSyntax},
      {kUnsigned16, {"+el"}, kJpegLSLosslessSyntax},
      {kSigned16, {"+el"}, kJpegLSLosslessSyntax},
  };
  testsupport::TempDir folder;
  for (const Case& c : cases) {
    std::string options;
    for (const std::string& option : c.options) options += " " + option;
    SCOPED_TRACE(std::string(c.format.name) + options);
    const auto samples = InterleavedSamples(c.format, false);
    auto d = MakeImage(c.format, samples);
    const auto native = folder / "native.dcm";
    const auto compressed = folder / "compressed.dcm";
    const auto reference = folder / "reference.dcm";
    ASSERT_TRUE(Save(*d, native));
    std::vector<std::string> command = {"dcmcjpls"};
    command.insert(command.end(), c.options.begin(), c.options.end());
    command.push_back(native.string());
    command.push_back(compressed.string());
    auto result = RunCommand(command);
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    result = RunCommand({"dcmdjpls", compressed.string(), reference.string()});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(compressed.string(), file, error)) << error;
    EXPECT_EQ(file.dataSet.transferSyntax, c.syntax);
    const auto decodedByDcmtk = SamplesOfNativeFile(reference, samples.size());
    ASSERT_EQ(decodedByDcmtk.size(), samples.size());
    EXPECT_EQ(SamplesOfFile(compressed, samples.size()), decodedByDcmtk);
    if (std::string(c.syntax) == kJpegLSLosslessSyntax) EXPECT_EQ(decodedByDcmtk, samples);
  }
}

// Raw little-endian planes, as the OpenJPEG tools read and write them with the .rawl suffix.
std::string Planes(const std::vector<uint8_t>& interleaved, int components, size_t bytes) {
  std::string planes;
  const size_t pixels = interleaved.size() / bytes / static_cast<size_t>(components);
  for (int c = 0; c < components; ++c) {
    for (size_t k = 0; k < pixels; ++k) {
      const size_t at = (k * static_cast<size_t>(components) + static_cast<size_t>(c)) * bytes;
      planes.append(reinterpret_cast<const char*>(&interleaved[at]), bytes);
    }
  }
  return planes;
}

struct J2KCase {
  ImageFormat format;
  J2KSigned sign;
};
const J2KCase kJ2KCases[] = {
    {{"grey8", "MONOCHROME2", 8, 8, 0, false, 48, 64, 1}, J2KSigned::No},
    {{"rgb8", "RGB", 8, 8, 0, false, 48, 64, 1}, J2KSigned::No},
    {{"unsigned16", "MONOCHROME2", 16, 16, 0, false, 48, 64, 1}, J2KSigned::No},
    {{"signed16", "MONOCHROME2", 16, 16, 1, false, 48, 64, 1}, J2KSigned::Yes},
};

TEST(CodecInterop, OpjDecompressDecodesOurCodestreams) {
  ASSERT_TRUE(testsupport::HaveProgram("opj_decompress"))
      << "opj_decompress missing (scripts/setup.sh installs it)";
  testsupport::TempDir folder;
  for (const J2KCase& c : kJ2KCases) {
    SCOPED_TRACE(c.format.name);
    const int components = imagefixture::IsColour(c.format) ? 3 : 1;
    const size_t bytes = c.format.bitsAllocated / 8;
    const auto samples = InterleavedSamples(c.format);
    std::vector<uint8_t> codestream;
    ASSERT_TRUE(EncodeJ2K(samples.data(), codestream, c.format.columns, c.format.rows, components,
                          c.format.bitsAllocated, 0, c.sign));
    testsupport::WriteFile(folder / "ours.j2k", std::string(codestream.begin(), codestream.end()));
    const auto result = RunCommand({"opj_decompress", "-i", (folder / "ours.j2k").string(), "-o",
                                    (folder / "theirs.rawl").string()});
    ASSERT_EQ(result.exitCode, 0) << result.output << result.errors;
    EXPECT_TRUE(testsupport::ReadFile(folder / "theirs.rawl") ==
                Planes(samples, components, bytes));
  }
}

TEST(CodecInterop, WeDecodeOpjCompressCodestreams) {
  ASSERT_TRUE(testsupport::HaveProgram("opj_compress"))
      << "opj_compress missing (scripts/setup.sh installs it)";
  testsupport::TempDir folder;
  for (const J2KCase& c : kJ2KCases) {
    SCOPED_TRACE(c.format.name);
    const int components = imagefixture::IsColour(c.format) ? 3 : 1;
    const size_t bytes = c.format.bitsAllocated / 8;
    const auto samples = InterleavedSamples(c.format);
    testsupport::WriteFile(folder / "source.rawl", Planes(samples, components, bytes));
    const std::string layout = std::to_string(c.format.columns) + "," +
                               std::to_string(c.format.rows) + "," + std::to_string(components) +
                               "," + std::to_string(c.format.bitsAllocated) + "," +
                               (c.sign == J2KSigned::Yes ? "s" : "u");
    const auto result = RunCommand({"opj_compress", "-i", (folder / "source.rawl").string(), "-o",
                                    (folder / "theirs.j2k").string(), "-F", layout});
    ASSERT_EQ(result.exitCode, 0) << result.output << result.errors;
    const std::string codestream = testsupport::ReadFile(folder / "theirs.j2k");
    std::vector<uint8_t> frame(samples.size());
    ASSERT_TRUE(DecodeJ2K(reinterpret_cast<const uint8_t*>(codestream.data()), codestream.size(),
                          frame.data(), frame.size(), c.format.bitsAllocated));
    EXPECT_EQ(frame, samples);
  }
}

}  // namespace
