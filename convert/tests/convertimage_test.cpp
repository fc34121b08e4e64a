// Tests of the image converter: elements, SOP classes, the JPEG stream, failures.
#include "convertimage.h"

#include <gtest/gtest.h>

#include <jpeglib.h>

#include <vector>

#include "convertertest.h"
#include "jpegfile.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

using convertertest::Raw;

class ConvertImageTest : public convertertest::ConverterTest {};

// The fragment (third entry) as the JPEG stream it holds.
std::string Fragment(const DcmObj& dataSet) {
  const long pixelData = dataSet.FindIndex(0x7FE0, 0x0010);
  EXPECT_GE(pixelData, 0);
  return std::string(dataSet.TagAt(static_cast<size_t>(pixelData) + 2)->Bytes());
}

// The stream decoded by libjpeg into interleaved RGB rows.
std::vector<uint8_t> DecodeToRgb(const std::string& stream, uint32_t& width, uint32_t& height) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(stream.data()), stream.size());
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  width = info.output_width;
  height = info.output_height;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = rgb.data() + static_cast<size_t>(info.output_scanline) * width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return rgb;
}

TEST_F(ConvertImageTest, ObjectHoldsExactlyTheImageElementsInTagOrder) {
  const convertertest::FixedClock clock(convertertest::kFixedTime);
  DataSetList list;
  std::string error;
  ASSERT_TRUE(ConvertImage(Write("photo.jpg", testpictures::MakeJpeg(40, 30, false)), list, error))
      << error;
  ASSERT_EQ(list.size(), 1u);
  const DcmObj& image = *list[0];
  convertertest::ExpectTags(
      image,
      {{0x0008, 0x0008}, {0x0008, 0x0012}, {0x0008, 0x0013}, {0x0008, 0x0016}, {0x0008, 0x0018},
       {0x0008, 0x0020}, {0x0008, 0x0030}, {0x0008, 0x0032}, {0x0008, 0x0033}, {0x0008, 0x0050},
       {0x0008, 0x0060}, {0x0008, 0x0064}, {0x0008, 0x0070}, {0x0008, 0x0080}, {0x0008, 0x0090},
       {0x0008, 0x1030}, {0x0010, 0x0010}, {0x0010, 0x0020}, {0x0010, 0x0030}, {0x0010, 0x0040},
       {0x0020, 0x000D}, {0x0020, 0x000E}, {0x0020, 0x0010}, {0x0020, 0x0011}, {0x0020, 0x0013},
       {0x0020, 0x0020}, {0x0020, 0x0060}, {0x0028, 0x0002}, {0x0028, 0x0004}, {0x0028, 0x0006},
       {0x0028, 0x0010}, {0x0028, 0x0011}, {0x0028, 0x0100}, {0x0028, 0x0101}, {0x0028, 0x0102},
       {0x0028, 0x0103}, {0x0028, 0x2110}, {0x0028, 0x2112}, {0x0028, 0x2114}, {0x7FE0, 0x0010},
       {0xFFFE, 0xE000}, {0xFFFE, 0xE000}, {0xFFFE, 0xE0DD}});
  EXPECT_EQ(image.transferSyntax, "1.2.840.10008.1.2.4.50");
  EXPECT_TRUE(image.explicitVR);
  const struct {
    uint16_t group, element;
    const char* raw;
  } values[] = {
      {0x0008, 0x0008, "DERIVED\\SECONDARY "},
      {0x0008, 0x0020, "20240102"},
      {0x0008, 0x0030, "101112"},
      {0x0008, 0x0050, "ACC1"},
      {0x0008, 0x0060, "CT"},
      {0x0008, 0x0064, "WSD "},
      {0x0008, 0x0070, ""},
      {0x0008, 0x0080, "Brindlewick "},
      {0x0008, 0x0090, "Doe^Jane"},
      {0x0008, 0x1030, "Knee"},
      {0x0010, 0x0010, "Roe^Rick"},
      {0x0010, 0x0020, "PID7"},
      {0x0010, 0x0030, "19700203"},
      {0x0010, 0x0040, "F "},
      {0x0020, 0x000E, "1.2.3.4.20"},
      {0x0020, 0x0010, ""},
      {0x0020, 0x0011, ""},
      {0x0020, 0x0013, "1 "},
      {0x0020, 0x0020, ""},
      {0x0020, 0x0060, ""},
      {0x0028, 0x0004, "YBR_FULL_422"},
      {0x0028, 0x2110, "01"},
      {0x0028, 0x2114, "ISO_10918_1 "},
  };
  // A photo cannot be a CT image (greyscale, with the patient's geometry): Secondary Capture.
  EXPECT_EQ(image.GetString(0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.7");
  EXPECT_EQ(Raw(image, 0x0008, 0x0018), "1.2.3.4.10.1");
  for (const auto& value : values) {
    EXPECT_EQ(Raw(image, value.group, value.element), value.raw)
        << std::hex << value.group << "," << value.element;
  }
  EXPECT_NE(image.FindTag(0x0020, 0x0011), nullptr);
  const struct {
    uint16_t element;
    uint16_t number;
  } numbers[] = {{0x0002, 3}, {0x0006, 0}, {0x0010, 30}, {0x0011, 40},
                 {0x0100, 8}, {0x0101, 8}, {0x0102, 7},  {0x0103, 0}};
  for (const auto& number : numbers) {
    EXPECT_EQ(image.GetUS(0x0028, number.element), number.number) << std::hex << number.element;
    EXPECT_EQ(image.FindTag(0x0028, number.element)->VR(), "US");
  }
  EXPECT_EQ(Raw(image, 0x0008, 0x0012), "20240515");
  EXPECT_EQ(Raw(image, 0x0008, 0x0013), "090807");
  // Without Exif the picture's moment is that of its conversion.
  EXPECT_EQ(Raw(image, 0x0008, 0x0032), "090807");
  // Uncompressed 40 × 30 × 3 bytes over the stream's.
  const double ratio = std::stod(image.GetString(0x0028, 0x2112));
  EXPECT_NEAR(ratio, 3600.0 / static_cast<double>(Fragment(image).size()), 0.01);
}

TEST_F(ConvertImageTest, ModalityChoosesTheSopClass) {
  const struct {
    const char* modality;
    const char* sopClass;
  } rows[] = {
      // The two modalities whose image class holds a colour photograph.
      {"US", "1.2.840.10008.5.1.4.1.1.6.1"},
      {"ES", "1.2.840.10008.5.1.4.1.1.77.1.1"},
      // Those whose class needs greyscale pixels, geometry or exposure data: Secondary Capture.
      {"CR", "1.2.840.10008.5.1.4.1.1.7"},
      {"CT", "1.2.840.10008.5.1.4.1.1.7"},
      {"MR", "1.2.840.10008.5.1.4.1.1.7"},
      {"DX", "1.2.840.10008.5.1.4.1.1.7"},
      {"PX", "1.2.840.10008.5.1.4.1.1.7"},
      {"XA", "1.2.840.10008.5.1.4.1.1.7"},
      {"NM", "1.2.840.10008.5.1.4.1.1.7"},
      {"MG", "1.2.840.10008.5.1.4.1.1.7"},
      {"OT", "1.2.840.10008.5.1.4.1.1.7"},
      {"XC", "1.2.840.10008.5.1.4.1.1.7"},
      {"", "1.2.840.10008.5.1.4.1.1.7"},
      {"ct", "1.2.840.10008.5.1.4.1.1.7"},
  };
  const std::string path = Write("p.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb));
  for (const auto& row : rows) {
    convertertest::SetUpBatch(row.modality);
    DataSetList list;
    std::string error;
    ASSERT_TRUE(ConvertImage(path, list, error)) << error;
    EXPECT_EQ(list[0]->GetString(0x0008, 0x0016), row.sopClass) << "modality " << row.modality;
    EXPECT_EQ(Raw(*list[0], 0x0008, 0x0060).substr(0, std::string(row.modality).size()),
              row.modality);
    // Endoscopic pictures describe their (unknown) acquisition context.
    EXPECT_EQ(convertertest::HasEntry(*list[0], 0x0040, 0x0555), std::string(row.modality) == "ES")
        << row.modality;
  }
}

TEST_F(ConvertImageTest, EveryInputKindBecomesABaselineYCbCr420StreamAtQuality90) {
  // How the source shows its quadrants: in colour, as the colours' grey, as the grey steps 0, 60,
  // 120 and 180 of the grey PNG, or in colour with white where transparent.
  enum class Look { Colour, Grey, GreySteps, WhiteLeftHalf };
  const struct {
    const char* name;
    std::string bytes;
    Look look;
  } rows[] = {
      {"grey.jpg", testpictures::MakeJpeg(33, 17, true), Look::Grey},
      {"colour.JPG", testpictures::MakeJpeg(33, 17, false), Look::Colour},
      {"palette.bmp", testpictures::MakeBmp(33, 17, 8, false), Look::Colour},
      {"bottom.bmp", testpictures::MakeBmp(33, 17, 24, false), Look::Colour},
      {"top.Bmp", testpictures::MakeBmp(33, 17, 24, true), Look::Colour},
      {"colour.png", testpictures::MakePng(33, 17, testpictures::PngKind::Rgb), Look::Colour},
      {"grey.png", testpictures::MakePng(33, 17, testpictures::PngKind::Grey), Look::GreySteps},
      {"alpha.png", testpictures::MakePng(33, 17, testpictures::PngKind::RgbaHalfTransparent),
       Look::WhiteLeftHalf},
  };
  // What libjpeg writes for quality 90, to compare the stream's tables against.
  jpeg_compress_struct reference{};
  jpeg_error_mgr referenceErrors{};
  reference.err = jpeg_std_error(&referenceErrors);
  jpeg_create_compress(&reference);
  reference.in_color_space = JCS_RGB;
  jpeg_set_defaults(&reference);
  jpeg_set_quality(&reference, 90, TRUE);

  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataSetList list;
    std::string error;
    ASSERT_TRUE(ConvertImage(Write(row.name, row.bytes), list, error)) << error;
    const DcmObj& image = *list[0];
    EXPECT_EQ(image.GetUS(0x0028, 0x0010), 17);
    EXPECT_EQ(image.GetUS(0x0028, 0x0011), 33);
    EXPECT_EQ(image.GetUS(0x0028, 0x0002), 3);
    EXPECT_EQ(image.GetString(0x0028, 0x0004), "YBR_FULL_422");

    const std::string stream = Fragment(image);
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(stream.data()), stream.size());
    ASSERT_EQ(jpeg_read_header(&info, TRUE), JPEG_HEADER_OK);
    EXPECT_EQ(info.num_components, 3);
    EXPECT_EQ(info.jpeg_color_space, JCS_YCbCr);
    EXPECT_FALSE(info.progressive_mode);
    EXPECT_FALSE(info.arith_code);
    EXPECT_EQ(info.comp_info[0].h_samp_factor, 2);
    EXPECT_EQ(info.comp_info[0].v_samp_factor, 2);
    EXPECT_EQ(info.comp_info[1].h_samp_factor, 1);
    EXPECT_EQ(info.comp_info[2].v_samp_factor, 1);
    for (int table = 0; table < 2; ++table) {
      ASSERT_NE(info.quant_tbl_ptrs[table], nullptr);
      for (int i = 0; i < DCTSIZE2; ++i) {
        ASSERT_EQ(info.quant_tbl_ptrs[table]->quantval[i],
                  reference.quant_tbl_ptrs[table]->quantval[i])
            << "table " << table << " entry " << i;
      }
    }
    jpeg_destroy_decompress(&info);

    // Decoded, the picture is the source's: each quadrant's centre within the loss of two JPEG
    // generations, so swapped colour channels, a flip or a mirror show.
    uint32_t width = 0;
    uint32_t height = 0;
    const std::vector<uint8_t> rgb = DecodeToRgb(stream, width, height);
    ASSERT_EQ(width, 33u);
    ASSERT_EQ(height, 17u);
    for (const uint32_t y : {4u, 12u}) {
      for (const uint32_t x : {8u, 24u}) {
        testpictures::Colour want = testpictures::QuadrantColour(x, y, 33, 17);
        if (row.look == Look::Grey) {
          const auto grey =
              static_cast<uint8_t>((want.r * 299 + want.g * 587 + want.b * 114) / 1000);
          want = {grey, grey, grey};
        } else if (row.look == Look::GreySteps) {
          const auto grey = static_cast<uint8_t>(((x < 16 ? 0 : 1) + (y < 8 ? 0 : 2)) * 60);
          want = {grey, grey, grey};
        } else if (row.look == Look::WhiteLeftHalf && x < 16) {
          want = {255, 255, 255};
        }
        const uint8_t* got = &rgb[(static_cast<size_t>(y) * 33 + x) * 3];
        SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
        EXPECT_NEAR(got[0], want.r, 24);
        EXPECT_NEAR(got[1], want.g, 24);
        EXPECT_NEAR(got[2], want.b, 24);
      }
    }
  }
  jpeg_destroy_compress(&reference);
}

TEST_F(ConvertImageTest, OddStreamsArePaddedWithOneZeroByte) {
  // Try sizes until the encoder happens to produce an odd-length stream.
  for (uint32_t width = 8; width < 80; ++width) {
    const std::string path = Write("w.bmp", testpictures::MakeBmp(width, 9, 24, false));
    RgbBitmap bitmap;
    std::string error;
    ASSERT_TRUE(DecodePictureFile(path, bitmap, error)) << error;
    std::vector<uint8_t> stream;
    ASSERT_TRUE(EncodeJpegBaseline(bitmap, 90, stream, error));
    if (stream.size() % 2 == 0) continue;
    DataSetList list;
    ASSERT_TRUE(ConvertImage(path, list, error)) << error;
    const std::string fragment = Fragment(*list[0]);
    ASSERT_EQ(fragment.size(), stream.size() + 1);
    EXPECT_EQ(fragment.back(), '\0');
    EXPECT_EQ(fragment.compare(0, stream.size(), std::string(stream.begin(), stream.end())), 0);
    return;
  }
  FAIL() << "no width gave an odd-length stream";
}

TEST_F(ConvertImageTest, NumbersFollowTheSharedCounter) {
  const std::string path = Write("a.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb));
  DataSetList list;
  std::string error;
  InstanceCounter = 6;
  ASSERT_TRUE(ConvertImage(path, list, error));
  ASSERT_TRUE(ConvertImage(path, list, error));
  EXPECT_EQ(list[1]->GetString(0x0008, 0x0018), "1.2.3.4.10.8");
  EXPECT_EQ(list[1]->GetString(0x0020, 0x0013), "8");
  EXPECT_EQ(list[1]->GetString(0x0020, 0x000E), "1.2.3.4.20");
}

// Image objects declare no character set while their texts are ASCII, as they always have; a
// name beyond ASCII makes them declare the smallest set that holds it.
TEST_F(ConvertImageTest, TextsBeyondAsciiDeclareTheirCharacterSet) {
  const struct {
    const char* name;
    std::string patientName;  // UTF-8, as the program holds it
    const char* declared;     // "" for no (0008,0005)
    std::string written;      // Patient's Name as stored, padding included
  } rows[] = {
      {"ASCII", "Roe^Rick", "", "Roe^Rick"},
      {"Latin-1: the bytes objects always had", "M\xC3\xBCller^J\xC3\xBCrgen", "ISO_IR 100",
       "M\xFCller^J\xFCrgen "},
      {"Greek", "\xCE\x94\xCE\xB9\xCE\xBF\xCE\xBD\xCF\x8D\xCF\x83\xCE\xB9\xCE\xBF\xCF\x82",
       "ISO_IR 192", "\xCE\x94\xCE\xB9\xCE\xBF\xCE\xBD\xCF\x8D\xCF\x83\xCE\xB9\xCE\xBF\xCF\x82"},
      {"Cyrillic",
       "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD",
       "ISO_IR 192",
       "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD "},
  };
  const std::string path = Write("a.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb));
  for (const auto& row : rows) {
    CurrentStudy.patientName = row.patientName;
    DataSetList list;
    std::string error;
    ASSERT_TRUE(ConvertImage(path, list, error)) << error;
    const DcmObj& image = *list[0];
    EXPECT_EQ(image.GetString(0x0008, 0x0005), row.declared) << row.name;
    if (row.declared[0] != 0) EXPECT_TRUE(image.TagAt(0)->Is(0x0008, 0x0005)) << row.name;
    EXPECT_EQ(Raw(image, 0x0010, 0x0010), row.written) << row.name;
    EXPECT_EQ(Raw(image, 0x0008, 0x0090), "Doe^Jane") << row.name;
  }
}

TEST_F(ConvertImageTest, BadSourcesAppendNothingAndConsumeNoNumber) {
  const std::string jpeg = testpictures::MakeJpeg(64, 64, false);
  const struct {
    const char* name;
    std::string bytes;
    const char* expected;  // a part of the message
  } rows[] = {
      {"photo.jpeg", jpeg, "ERROR, not known image format"},
      {"scan.tif", "II*\0", "ERROR, not known image format"},
      {"cut.jpg", jpeg.substr(0, jpeg.size() / 2), "cut.jpg"},
      {"text.jpg", "hello", "text.jpg"},
      {"cut.png", testpictures::MakePng(30, 30, testpictures::PngKind::Rgb).substr(0, 40),
       "cut.png"},
      {"cut.bmp", testpictures::MakeBmp(30, 30, 24, false).substr(0, 500), "cut.bmp"},
      {"empty.bmp", "", "empty.bmp"},
  };
  for (const auto& row : rows) {
    DataSetList list;
    std::string error;
    EXPECT_FALSE(ConvertImage(Write(row.name, row.bytes), list, error)) << row.name;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(InstanceCounter, 0) << row.name;
    EXPECT_NE(error.find(row.expected), std::string::npos) << error;
  }
  DataSetList list;
  std::string error;
  EXPECT_FALSE(ConvertImage((dir_ / "missing.jpg").string(), list, error));
  EXPECT_NE(error.find("missing.jpg"), std::string::npos) << error;
}

// The quadrant (0 top left, 1 top right, 2 bottom left, 3 bottom right of the stored picture)
// whose colour the decoded picture shows at each of its own four quadrants.
struct QuadrantLayout {
  int topLeft, topRight, bottomLeft, bottomRight;
};

void ExpectLayout(const std::string& stream, uint32_t width, uint32_t height,
                  const QuadrantLayout& layout) {
  uint32_t decodedWidth = 0, decodedHeight = 0;
  const std::vector<uint8_t> rgb = DecodeToRgb(stream, decodedWidth, decodedHeight);
  ASSERT_EQ(decodedWidth, width);
  ASSERT_EQ(decodedHeight, height);
  const struct {
    uint32_t x, y;
    int quadrant;
  } points[] = {{width / 4, height / 4, layout.topLeft},
                {width * 3 / 4, height / 4, layout.topRight},
                {width / 4, height * 3 / 4, layout.bottomLeft},
                {width * 3 / 4, height * 3 / 4, layout.bottomRight}};
  for (const auto& point : points) {
    // The stored picture's colour of that quadrant, taken at its centre.
    const testpictures::Colour want = testpictures::QuadrantColour(
        point.quadrant % 2 == 0 ? 0 : 100, point.quadrant < 2 ? 0 : 100, 101, 101);
    const uint8_t* got = &rgb[(static_cast<size_t>(point.y) * width + point.x) * 3];
    EXPECT_NEAR(got[0], want.r, 24) << point.x << "," << point.y;
    EXPECT_NEAR(got[1], want.g, 24) << point.x << "," << point.y;
    EXPECT_NEAR(got[2], want.b, 24) << point.x << "," << point.y;
  }
}

// A phone stores the picture as its sensor reads it and says in Exif how to turn it: the object
// holds the picture turned, as it was seen, with Rows and Columns to match. The setting that
// keeps camera JPEGs does not keep one that needs turning.
TEST_F(ConvertImageTest, PhotosAreTurnedAsTheirExifOrientationSays) {
  const struct {
    int orientation;
    QuadrantLayout layout;
  } rows[] = {
      {0, {0, 1, 2, 3}},  // no tag
      {1, {0, 1, 2, 3}},  // as stored
      {2, {1, 0, 3, 2}},  // mirrored
      {3, {3, 2, 1, 0}},  // turned half
      {4, {2, 3, 0, 1}},  // flipped
      {5, {0, 2, 1, 3}},  // transposed
      {6, {2, 0, 3, 1}},  // turned a quarter clockwise (a phone held upright)
      {7, {3, 1, 2, 0}},  // transversed
      {8, {1, 3, 0, 2}},  // turned a quarter anticlockwise
  };
  const std::string stored = testpictures::MakeJpeg(48, 32, false);
  for (const bool keep : {false, true}) {
    KeepCameraJpegs = keep;
    for (const auto& row : rows) {
      SCOPED_TRACE("orientation " + std::to_string(row.orientation) + (keep ? ", kept" : ""));
      const std::string file = testpictures::WithExif(stored, {.orientation = row.orientation});
      DataSetList list;
      std::string error;
      ASSERT_TRUE(ConvertImage(Write("phone.jpg", file), list, error)) << error;
      const bool turned = row.orientation >= 5;
      const uint32_t width = turned ? 32 : 48;
      const uint32_t height = turned ? 48 : 32;
      EXPECT_EQ(list[0]->GetUS(0x0028, 0x0010), height);
      EXPECT_EQ(list[0]->GetUS(0x0028, 0x0011), width);
      const std::string stream = Fragment(*list[0]);
      const bool kept = keep && row.orientation <= 1;
      // A kept stream is the camera's own without its Exif segment.
      EXPECT_EQ(stream.substr(0, stored.size()) == stored, kept);
      ExpectLayout(stream, width, height, row.layout);
    }
  }
}

// Of the Exif data only the moment the photo was taken is used; its ICC profile is kept when it
// describes RGB colours. Nothing else reaches the object: the elements are the plain picture's
// plus the acquisition date and date-time and the profile.
TEST_F(ConvertImageTest, ThePhotosMomentAndColourProfileAreKeptAndNoOtherExif) {
  const convertertest::FixedClock clock(convertertest::kFixedTime);
  testpictures::ExifFields exif;
  exif.orientation = 1;
  exif.dateTimeOriginal = "2023:07:14 16:05:09";
  exif.subSecTimeOriginal = "042";
  exif.offsetTimeOriginal = "+02:00";
  exif.gps = true;
  exif.thumbnail = testpictures::MakeJpeg(16, 12, false);
  const std::string photo = testpictures::WithExif(testpictures::MakeJpeg(48, 32, false), exif);
  const std::string rgbProfile = testpictures::MakeIccProfile("RGB ", 701);
  const struct {
    const char* name;
    std::string file;
    bool keep;
    std::string profile;  // what ICC Profile holds; empty: absent
  } rows[] = {
      {"RGB profile", testpictures::WithIccProfile(photo, rgbProfile, 300), false,
       rgbProfile + '\0'},
      {"RGB profile, stream kept", testpictures::WithIccProfile(photo, rgbProfile), true,
       rgbProfile + '\0'},
      {"CMYK profile",
       testpictures::WithIccProfile(photo, testpictures::MakeIccProfile("CMYK", 400)), false, ""},
      {"no profile", photo, false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    KeepCameraJpegs = row.keep;
    DataSetList list;
    std::string error;
    ASSERT_TRUE(ConvertImage(Write("photo.jpg", row.file), list, error)) << error;
    const DcmObj& image = *list[0];
    std::vector<convertertest::TagId> tags = {
        {0x0008, 0x0008}, {0x0008, 0x0012}, {0x0008, 0x0013}, {0x0008, 0x0016}, {0x0008, 0x0018},
        {0x0008, 0x0020}, {0x0008, 0x0022}, {0x0008, 0x002A}, {0x0008, 0x0030}, {0x0008, 0x0032},
        {0x0008, 0x0033}, {0x0008, 0x0050}, {0x0008, 0x0060}, {0x0008, 0x0064}, {0x0008, 0x0070},
        {0x0008, 0x0080}, {0x0008, 0x0090}, {0x0008, 0x1030}, {0x0010, 0x0010}, {0x0010, 0x0020},
        {0x0010, 0x0030}, {0x0010, 0x0040}, {0x0020, 0x000D}, {0x0020, 0x000E}, {0x0020, 0x0010},
        {0x0020, 0x0011}, {0x0020, 0x0013}, {0x0020, 0x0020}, {0x0020, 0x0060}, {0x0028, 0x0002},
        {0x0028, 0x0004}, {0x0028, 0x0006}, {0x0028, 0x0010}, {0x0028, 0x0011}, {0x0028, 0x0100},
        {0x0028, 0x0101}, {0x0028, 0x0102}, {0x0028, 0x0103}};
    if (!row.profile.empty()) tags.push_back({0x0028, 0x2000});
    tags.insert(tags.end(), {{0x0028, 0x2110},
                             {0x0028, 0x2112},
                             {0x0028, 0x2114},
                             {0x7FE0, 0x0010},
                             {0xFFFE, 0xE000},
                             {0xFFFE, 0xE000},
                             {0xFFFE, 0xE0DD}});
    convertertest::ExpectTags(image, tags);
    EXPECT_EQ(Raw(image, 0x0008, 0x0022), "20230714");
    EXPECT_EQ(Raw(image, 0x0008, 0x002A), "20230714160509.042+0200 ");
    EXPECT_EQ(Raw(image, 0x0008, 0x0032), "160509");
    // The study, creation and content moments stay those of the batch and the conversion.
    EXPECT_EQ(Raw(image, 0x0008, 0x0020), "20240102");
    EXPECT_EQ(Raw(image, 0x0008, 0x0012), "20240515");
    EXPECT_EQ(Raw(image, 0x0008, 0x0033), "090807");
    if (!row.profile.empty()) {
      EXPECT_EQ(Raw(image, 0x0028, 0x2000), row.profile);
      EXPECT_EQ(image.FindTag(0x0028, 0x2000)->VR(), "OB");
    }
  }
}

// "Keep camera JPEGs as they are": a baseline 8-bit YCbCr stream with halved chroma that needs no
// turning goes in byte for byte (no second loss, no growth), without the segments that only
// describe the photo (Exif with its GPS position, comments); the segments that say how to read its
// colours stay. Any other stream is encoded as without the setting. A damaged stream is refused as
// it would be without the setting.
TEST_F(ConvertImageTest, KeptCameraJpegsAreTheSourceStreamByteForByte) {
  KeepCameraJpegs = true;
  const std::string baseline = testpictures::MakeJpeg(48, 32, false);
  const std::string behind = testpictures::MakeJpeg(8, 8, true);
  testpictures::ExifFields exif;
  exif.orientation = 1;
  exif.dateTimeOriginal = "2023:07:14 16:05:09";
  exif.gps = true;
  exif.thumbnail = testpictures::MakeJpeg(16, 12, false);
  const std::string withIcc =
      testpictures::WithIccProfile(baseline, testpictures::MakeIccProfile("RGB ", 300));
  const std::string comment = std::string("\xFF\xFE\x00\x0F", 4) + "Ward 3, bed 7";
  const struct {
    const char* name;
    std::string file;
    std::string kept;  // the stream the object holds; empty: encoded again
    bool colour;
  } rows[] = {
      {"baseline 4:2:0", baseline, baseline, true},
      {"with Exif and GPS, orientation 1", testpictures::WithExif(baseline, exif), baseline, true},
      {"with ICC profile, Exif and a comment",
       testpictures::WithExif(withIcc.substr(0, 2) + comment + withIcc.substr(2), exif), withIcc,
       true},
      {"a second picture behind", baseline + behind, baseline, true},
      {"progressive", testpictures::MakeColourJpeg(48, 32, testpictures::JpegCoding::Progressive),
       "", true},
      {"whole chroma", testpictures::MakeColourJpeg(48, 32, testpictures::JpegCoding::Baseline444),
       "", true},
      {"grey", testpictures::MakeJpeg(48, 32, true), "", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataSetList list;
    std::string error;
    ASSERT_TRUE(ConvertImage(Write("camera.jpg", row.file), list, error)) << error;
    const std::string stream = Fragment(*list[0]);
    if (!row.kept.empty()) {
      EXPECT_EQ(stream.size(), row.kept.size() + row.kept.size() % 2);
      EXPECT_TRUE(stream.substr(0, row.kept.size()) == row.kept);
      if (row.kept.size() % 2 != 0) EXPECT_EQ(stream.back(), '\0');
      EXPECT_EQ(stream.find("Exif"), std::string::npos);
      EXPECT_EQ(stream.find("Ward 3"), std::string::npos);
    } else {
      EXPECT_FALSE(stream.substr(0, row.file.size()) == row.file);
    }
    EXPECT_EQ(list[0]->GetString(0x0028, 0x0004), "YBR_FULL_422");
    EXPECT_EQ(list[0]->transferSyntax, "1.2.840.10008.1.2.4.50");
    if (row.colour) ExpectLayout(stream, 48, 32, {0, 1, 2, 3});
  }
  InstanceCounter = 0;
  DataSetList list;
  std::string error;
  EXPECT_FALSE(
      ConvertImage(Write("cut.jpg", baseline.substr(0, baseline.size() / 2)), list, error));
  EXPECT_NE(error.find("cut.jpg"), std::string::npos) << error;
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(InstanceCounter, 0);
}

}  // namespace
