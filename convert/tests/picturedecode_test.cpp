// Tests of the picture decoders: every BMP layout, PNG colour types and transparency, JPEG.
#include <gtest/gtest.h>

#include <cstdlib>

#include "bmpfile.h"
#include "jpegfile.h"
#include "pngfile.h"
#include "testpictures.h"

namespace {

using testpictures::Colour;

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// The four quadrant centres compared with a tolerance (0 for lossless formats).
void ExpectQuadrants(const RgbBitmap& bitmap, int tolerance, bool twoColour = false) {
  const uint32_t w = bitmap.width, h = bitmap.height;
  const uint32_t points[4][2] = {
      {w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
  for (const auto& point : points) {
    uint32_t x = point[0], y = point[1];
    Colour expected = testpictures::QuadrantColour(x, y, w, h);
    if (twoColour) expected = testpictures::QuadrantColour(x, 0, w, h);
    const uint8_t* got = &bitmap.rgb[(size_t{y} * w + x) * 3];
    EXPECT_NEAR(got[0], expected.r, tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(got[1], expected.g, tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(got[2], expected.b, tolerance) << "at " << x << "," << y;
  }
}

TEST(BmpDecodeTest, EveryLayoutGivesTheSamePicture) {
  struct Row {
    const char* name;
    std::string file;
    bool twoColour;
  };
  // Odd widths make every row need padding to four bytes.
  const Row rows[] = {
      {"1-bit palette", testpictures::MakeBmp(21, 10, 1, false), true},
      {"4-bit palette", testpictures::MakeBmp(21, 10, 4, false), false},
      {"8-bit palette", testpictures::MakeBmp(21, 10, 8, false), false},
      {"8-bit palette top-down", testpictures::MakeBmp(21, 10, 8, true), false},
      {"16-bit 5-5-5", testpictures::MakeBmp(21, 10, 16, false), false},
      {"24-bit bottom-up", testpictures::MakeBmp(21, 10, 24, false), false},
      {"24-bit top-down", testpictures::MakeBmp(21, 10, 24, true), false},
      {"32-bit", testpictures::MakeBmp(21, 10, 32, false), false},
      {"8-bit run-length", testpictures::MakeBmpRle8(21, 10), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RgbBitmap bitmap;
    std::string error;
    ASSERT_TRUE(DecodeBmp(Bytes(row.file), row.file.size(), bitmap, error)) << error;
    EXPECT_EQ(bitmap.width, 21u);
    EXPECT_EQ(bitmap.height, 10u);
    // 5-bit channels lose their low three bits.
    ExpectQuadrants(bitmap, std::string_view(row.name).starts_with("16") ? 8 : 0, row.twoColour);
  }
}

TEST(BmpDecodeTest, DamagedFilesAreRefusedWithAReason) {
  const std::string good = testpictures::MakeBmp(21, 10, 24, false);
  std::string hugeClaim = good;
  // Width 60000 x height 60000 over a few hundred bytes of data.
  hugeClaim[18] = '\x60';
  hugeClaim[19] = '\xEA';
  hugeClaim[22] = '\x60';
  hugeClaim[23] = '\xEA';
  std::string rleWithoutEnd = testpictures::MakeBmpRle8(8, 4);
  rleWithoutEnd.resize(rleWithoutEnd.size() - 2);
  std::string jpegCompressed = good;
  jpegCompressed[30] = 4;  // BI_JPEG
  const struct {
    const char* name;
    std::string file;
  } rows[] = {
      {"empty", ""},
      {"not a bitmap", "GIF89a......................................................."},
      {"header only", good.substr(0, 30)},
      {"last row missing", good.substr(0, good.size() - 10)},
      {"huge size claimed", hugeClaim},
      {"run-length data without end mark", rleWithoutEnd},
      {"unsupported compression", jpegCompressed},
  };
  for (const auto& row : rows) {
    RgbBitmap bitmap;
    std::string error;
    EXPECT_FALSE(DecodeBmp(Bytes(row.file), row.file.size(), bitmap, error)) << row.name;
    EXPECT_FALSE(error.empty()) << row.name;
  }
}

TEST(PngDecodeTest, ColourTypesBecomeRgb) {
  for (auto kind : {testpictures::PngKind::Rgb, testpictures::PngKind::Palette}) {
    const std::string file = testpictures::MakePng(16, 12, kind);
    RgbBitmap bitmap;
    std::string error;
    ASSERT_TRUE(DecodePng(Bytes(file), file.size(), bitmap, error)) << error;
    ExpectQuadrants(bitmap, 0);
  }
  const std::string grey = testpictures::MakePng(16, 12, testpictures::PngKind::Grey);
  RgbBitmap bitmap;
  std::string error;
  ASSERT_TRUE(DecodePng(Bytes(grey), grey.size(), bitmap, error)) << error;
  // Bottom-right quadrant has grey level 180 in all three channels.
  const uint8_t* pixel = &bitmap.rgb[(size_t{10} * 16 + 12) * 3];
  EXPECT_EQ(pixel[0], 180);
  EXPECT_EQ(pixel[1], 180);
  EXPECT_EQ(pixel[2], 180);
}

TEST(PngDecodeTest, TransparentPixelsBecomeWhite) {
  const std::string file =
      testpictures::MakePng(16, 12, testpictures::PngKind::RgbaHalfTransparent);
  RgbBitmap bitmap;
  std::string error;
  ASSERT_TRUE(DecodePng(Bytes(file), file.size(), bitmap, error)) << error;
  const uint8_t* left = &bitmap.rgb[(size_t{3} * 16 + 2) * 3];
  EXPECT_EQ(left[0], 255);
  EXPECT_EQ(left[1], 255);
  EXPECT_EQ(left[2], 255);
  const uint8_t* right = &bitmap.rgb[(size_t{3} * 16 + 12) * 3];
  EXPECT_EQ(right[0], 30);
  EXPECT_EQ(right[1], 200);
  EXPECT_EQ(right[2], 30);
}

TEST(PngDecodeTest, TruncatedAndCorruptFilesAreRefused) {
  const std::string good = testpictures::MakePng(64, 64, testpictures::PngKind::Rgb);
  std::string flipped = good;
  flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x55);
  for (const std::string& file : {good.substr(0, 20), good.substr(0, good.size() / 2), flipped,
                                  std::string("not a png at all")}) {
    RgbBitmap bitmap;
    std::string error;
    EXPECT_FALSE(DecodePng(Bytes(file), file.size(), bitmap, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(JpegDecodeTest, ColourAndGreyDecodeToRgb) {
  const std::string colour = testpictures::MakeJpeg(32, 16, false);
  RgbBitmap bitmap;
  std::string error;
  ASSERT_TRUE(DecodeJpeg(Bytes(colour), colour.size(), bitmap, error)) << error;
  ExpectQuadrants(bitmap, 12);

  const std::string grey = testpictures::MakeJpeg(32, 16, true);
  ASSERT_TRUE(DecodeJpeg(Bytes(grey), grey.size(), bitmap, error)) << error;
  ASSERT_EQ(bitmap.rgb.size(), 32u * 16u * 3u);
  for (size_t i = 0; i < bitmap.rgb.size(); i += 3) {
    ASSERT_EQ(bitmap.rgb[i], bitmap.rgb[i + 1]);
    ASSERT_EQ(bitmap.rgb[i], bitmap.rgb[i + 2]);
  }
}

TEST(JpegDecodeTest, TruncatedOrGarbageStreamsAreRefused) {
  const std::string good = testpictures::MakeJpeg(64, 64, false);
  for (const std::string& file :
       {good.substr(0, good.size() / 2), good.substr(0, 100), std::string("\xFF\xD8\xFF", 3),
        std::string("plain text, not a picture")}) {
    RgbBitmap bitmap;
    std::string error;
    EXPECT_FALSE(DecodeJpeg(Bytes(file), file.size(), bitmap, error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
