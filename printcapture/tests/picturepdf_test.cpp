// The printer application's PDF pages of pictures, read back by poppler's tools: JPEG files kept
// byte for byte on a page of their own, raster pages as drawn, and JPEG headers a PDF cannot
// carry refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "picturepdf.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

using testsupport::RunCommand;

// The bytes of a JPEG up to its scan: SOI, an optional Adobe segment, a frame of `marker` and
// the start of the scan. Enough for a header reader; no decoder would take it.
std::string JpegHeader(unsigned char marker, int precision, unsigned width, unsigned height,
                       int components, bool adobe) {
  std::string bytes = "\xFF\xD8";
  if (adobe)
    bytes += std::string(
        "\xFF\xEE\x00\x0E"
        "Adobe\x00\x64\x00\x00\x00\x00\x02",
        16);
  const int length = 8 + 3 * components;
  bytes += {'\xFF',
            static_cast<char>(marker),
            static_cast<char>(length >> 8),
            static_cast<char>(length & 0xFF),
            static_cast<char>(precision),
            static_cast<char>(height >> 8),
            static_cast<char>(height & 0xFF),
            static_cast<char>(width >> 8),
            static_cast<char>(width & 0xFF),
            static_cast<char>(components)};
  for (int c = 0; c < components; ++c) bytes += {static_cast<char>(c + 1), '\x11', '\x00'};
  bytes += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
  return bytes;
}

TEST(JpegHeader, TellsThePictureOrRefusesWhatAPdfCannotShow) {
  const struct {
    const char* title;
    std::string bytes;
    bool shown;
    JpegPicture expected;
  } rows[] = {
      {"baseline colour", JpegHeader(0xC0, 8, 640, 480, 3, false), true, {640, 480, 3, false}},
      {"extended grey", JpegHeader(0xC1, 8, 17, 9, 1, false), true, {17, 9, 1, false}},
      {"progressive", JpegHeader(0xC2, 8, 3000, 2000, 3, false), true, {3000, 2000, 3, false}},
      {"CMYK as Adobe writes it", JpegHeader(0xC0, 8, 10, 10, 4, true), true, {10, 10, 4, true}},
      {"CMYK without Adobe's marker",
       JpegHeader(0xC0, 8, 10, 10, 4, false),
       true,
       {10, 10, 4, false}},
      {"12 bits per sample", JpegHeader(0xC1, 12, 64, 64, 1, false), false, {}},
      {"lossless", JpegHeader(0xC3, 8, 64, 64, 3, false), false, {}},
      {"arithmetic coding", JpegHeader(0xC9, 8, 64, 64, 3, false), false, {}},
      {"two components", JpegHeader(0xC0, 8, 64, 64, 2, false), false, {}},
      {"no height", JpegHeader(0xC0, 8, 64, 0, 3, false), false, {}},
      {"cut inside the frame", JpegHeader(0xC0, 8, 64, 64, 3, false).substr(0, 9), false, {}},
      {"a PNG", testpictures::MakePng(4, 4, testpictures::PngKind::Rgb), false, {}},
      {"nothing", "", false, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    const std::optional<JpegPicture> picture = ReadJpegHeader(row.bytes);
    ASSERT_EQ(picture.has_value(), row.shown);
    if (!picture) continue;
    EXPECT_EQ(picture->width, row.expected.width);
    EXPECT_EQ(picture->height, row.expected.height);
    EXPECT_EQ(picture->components, row.expected.components);
    EXPECT_EQ(picture->invertedCmyk, row.expected.invertedCmyk);
  }
}

class PicturePdfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"pdfinfo", "pdfimages", "pdftoppm"}) {
      ASSERT_TRUE(testsupport::HaveProgram(tool)) << tool << " missing (scripts/setup.sh)";
    }
    file_ = std::fopen(pdf_.c_str(), "wb");
    ASSERT_NE(file_, nullptr);
  }
  void TearDown() override {
    if (file_) std::fclose(file_);
  }
  void Close() {
    std::fclose(file_);
    file_ = nullptr;
  }
  // pdfimages -list, one line per picture: page, width, height, colour, components, encoding.
  std::vector<std::string> Pictures() {
    std::vector<std::string> lines;
    const std::string listing = RunCommand({"pdfimages", "-list", pdf_.string()}).output;
    const std::regex line(R"(^\s*(\d+)\s+\d+\s+image\s+(\d+)\s+(\d+)\s+(\w+)\s+(\d)\s+8\s+(\w+))");
    size_t start = 0;
    while (start < listing.size()) {
      const size_t end = listing.find('\n', start);
      const std::string text = listing.substr(start, end - start);
      std::smatch match;
      if (std::regex_search(text, match, line)) {
        lines.push_back(match[1].str() + " " + match[2].str() + "x" + match[3].str() + " " +
                        match[4].str() + " " + match[5].str() + " " + match[6].str());
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return lines;
  }
  // The colour of the pixel at (x, y) of `page` rendered at 72 dpi, as "r g b".
  std::string PixelAt(int page, int x, int y) {
    const std::string rendered =
        RunCommand({"pdftoppm", "-r", "72", "-f", std::to_string(page), "-l", std::to_string(page),
                    "-x", std::to_string(x), "-y", std::to_string(y), "-W", "1", "-H", "1",
                    pdf_.string()})
            .output;
    // A binary PPM: "P6\n1 1\n255\n" and three bytes.
    if (rendered.size() < 3) return "none";
    const auto* rgb = reinterpret_cast<const unsigned char*>(rendered.data() + rendered.size() - 3);
    return std::to_string(rgb[0]) + " " + std::to_string(rgb[1]) + " " + std::to_string(rgb[2]);
  }

  testsupport::TempDir temp_;
  std::filesystem::path pdf_ = temp_ / "pictures.pdf";
  std::FILE* file_ = nullptr;
};

TEST_F(PicturePdfTest, AJpegKeepsItsBytesAndFillsItsPageCentred) {
  const std::string jpeg = testpictures::MakeJpeg(200, 100, false);
  const std::optional<JpegPicture> picture = ReadJpegHeader(jpeg);
  ASSERT_TRUE(picture);
  PicturePdf pdf(file_);
  // A landscape page twice the picture's width: the picture fills its width, centred upright.
  ASSERT_TRUE(pdf.AddJpegPage(jpeg, *picture, {400, 400}));
  ASSERT_TRUE(pdf.Finish());
  Close();

  EXPECT_NE(RunCommand({"pdfinfo", pdf_.string()}).output.find("Page size:       400 x 400 pts"),
            std::string::npos);
  EXPECT_EQ(Pictures(), std::vector<std::string>{"1 200x100 rgb 3 jpeg"});
  // The JPEG is in the file as it came.
  EXPECT_NE(testsupport::ReadFile(pdf_).find(jpeg), std::string::npos);
  // Drawn from y = 100 to 300 (PDF's origin is at the bottom), white above and below.
  EXPECT_EQ(PixelAt(1, 200, 50), "255 255 255");
  EXPECT_EQ(PixelAt(1, 200, 350), "255 255 255");
  const testpictures::Colour topLeft = testpictures::QuadrantColour(0, 0, 200, 100);
  const std::string drawn = PixelAt(1, 20, 120);
  std::istringstream channels(drawn);
  int r = 0, g = 0, b = 0;
  channels >> r >> g >> b;
  EXPECT_NEAR(r, topLeft.r, 12) << drawn;
  EXPECT_NEAR(g, topLeft.g, 12) << drawn;
  EXPECT_NEAR(b, topLeft.b, 12) << drawn;
}

TEST_F(PicturePdfTest, RasterPagesAreDrawnAsTheirRowsSayAndMissingRowsStayWhite) {
  PicturePdf pdf(file_);
  // A grey page of 4 x 6 pixels: black rows over white rows.
  ASSERT_TRUE(pdf.BeginRasterPage(4, 6, 1, {72, 108}));
  const unsigned char black[4] = {0, 0, 0, 0};
  for (int row = 0; row < 3; ++row) ASSERT_TRUE(pdf.AddRasterRow(black));
  ASSERT_TRUE(pdf.EndRasterPage());
  // A colour page of 2 x 2 pixels whose first row is red; the second row never comes.
  ASSERT_TRUE(pdf.BeginRasterPage(2, 2, 3, {144, 144}));
  const unsigned char red[6] = {255, 0, 0, 255, 0, 0};
  ASSERT_TRUE(pdf.AddRasterRow(red));
  ASSERT_TRUE(pdf.EndRasterPage());
  ASSERT_TRUE(pdf.Finish());
  EXPECT_EQ(pdf.Pages(), 2);
  Close();

  const std::string info = RunCommand({"pdfinfo", "-f", "1", "-l", "2", pdf_.string()}).output;
  EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    1 size:  72 x 108 pts"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    2 size:  144 x 144 pts"), std::string::npos) << info;
  EXPECT_EQ(Pictures(), (std::vector<std::string>{"1 4x6 gray 1 image", "2 2x2 rgb 3 image"}));
  EXPECT_EQ(PixelAt(1, 36, 20), "0 0 0");
  EXPECT_EQ(PixelAt(1, 36, 90), "255 255 255");
  EXPECT_EQ(PixelAt(2, 72, 30), "255 0 0");
  EXPECT_EQ(PixelAt(2, 72, 110), "255 255 255");
}

TEST_F(PicturePdfTest, AnUnfinishedOrEmptyDocumentAndExtraRowsAreRefused) {
  PicturePdf pdf(file_);
  EXPECT_FALSE(pdf.Finish());  // no page
  ASSERT_TRUE(pdf.BeginRasterPage(1, 1, 1, {10, 10}));
  const unsigned char pixel[1] = {0};
  EXPECT_TRUE(pdf.AddRasterRow(pixel));
  EXPECT_FALSE(pdf.AddRasterRow(pixel));  // one row more than the page has
  EXPECT_FALSE(pdf.Finish());             // the page is not ended
  EXPECT_FALSE(pdf.BeginRasterPage(1, 1, 2, {10, 10}));
  EXPECT_TRUE(pdf.EndRasterPage());
  EXPECT_TRUE(pdf.Finish());
}

}  // namespace
