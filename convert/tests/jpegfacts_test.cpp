// Tests of reading a JPEG file's own facts: frame, Exif in both byte orders, ICC pieces, the end
// of the first picture, and damaged segments.
#include "jpegfacts.h"

#include <gtest/gtest.h>

#include "testpictures.h"

namespace {

JpegFacts Facts(const std::string& bytes) {
  return ReadJpegFacts(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(JpegFactsTest, ExifIsReadInBothByteOrders) {
  testpictures::ExifFields fields;
  fields.orientation = 6;
  fields.dateTimeOriginal = "2023:07:14 16:05:09";
  fields.subSecTimeOriginal = "042";
  fields.offsetTimeOriginal = "+02:00";
  fields.gps = true;
  fields.thumbnail = testpictures::MakeJpeg(16, 12, false);
  fields.thumbnailOrientation = 1;
  const std::string photo = testpictures::MakeJpeg(64, 48, false);
  for (const bool motorola : {false, true}) {
    SCOPED_TRACE(motorola ? "Motorola" : "Intel");
    const std::string file = testpictures::WithExif(photo, fields, motorola);
    const JpegFacts facts = Facts(file);
    EXPECT_TRUE(facts.isJpeg);
    EXPECT_EQ(facts.orientation, 6);
    EXPECT_EQ(facts.dateTimeOriginal, "2023:07:14 16:05:09");
    EXPECT_EQ(facts.subSecTimeOriginal, "042");
    EXPECT_EQ(facts.offsetTimeOriginal, "+02:00");
    EXPECT_EQ(facts.thumbnailOrientation, 1);
    ASSERT_NE(facts.thumbnailLength, 0u);
    EXPECT_EQ(file.substr(facts.thumbnailOffset, facts.thumbnailLength), fields.thumbnail);
    EXPECT_EQ(facts.frame.marker, 0xC0);
    EXPECT_EQ(facts.frame.width, 64u);
    EXPECT_EQ(facts.frame.height, 48u);
    EXPECT_EQ(facts.frame.components, 3);
    EXPECT_EQ(facts.frame.horizontalSampling[0], 2);
    EXPECT_EQ(facts.frame.verticalSampling[0], 2);
    EXPECT_EQ(facts.frame.horizontalSampling[1], 1);
    EXPECT_TRUE(facts.jfif);
    EXPECT_EQ(facts.imageEnd, file.size());
  }
}

TEST(JpegFactsTest, TheIccProfileIsJoinedFromItsPiecesOrDroppedWhenOneIsMissing) {
  const std::string photo = testpictures::MakeJpeg(16, 16, false);
  const std::string profile = testpictures::MakeIccProfile("RGB ", 3001);
  const std::string inThree = testpictures::WithIccProfile(photo, profile, 1000);
  const JpegFacts whole = Facts(inThree);
  EXPECT_EQ(std::string(whole.iccProfile.begin(), whole.iccProfile.end()), profile);

  // The second of three pieces cut out: segment lengths are 4 + 14 + 1000 bytes.
  const size_t second = 2 + (2 + 2 + 14 + 1000);
  std::string missing = inThree;
  missing.erase(second, 2 + 2 + 14 + 1000);
  EXPECT_TRUE(Facts(missing).iccProfile.empty());
  EXPECT_TRUE(Facts(photo).iccProfile.empty());
}

TEST(JpegFactsTest, TheFirstPictureEndsAtItsEndMarkerWhateverFollows) {
  const std::string photo = testpictures::MakeJpeg(32, 32, false);
  // A phone's second picture (a depth map, a preview) appended behind the first.
  const std::string appended = photo + testpictures::MakeJpeg(8, 8, true);
  EXPECT_EQ(Facts(appended).imageEnd, photo.size());
  // Cut inside the entropy-coded data: no end.
  EXPECT_EQ(Facts(photo.substr(0, photo.size() - 10)).imageEnd, 0u);
  EXPECT_EQ(Facts(photo.substr(0, photo.size() - 1)).imageEnd, 0u);
}

// Damaged Exif never leads outside the buffer; what cannot be read keeps its default.
TEST(JpegFactsTest, DamagedSegmentsLeaveTheirFactsAtTheDefaults) {
  testpictures::ExifFields fields;
  fields.orientation = 3;
  fields.dateTimeOriginal = "2023:07:14 16:05:09";
  fields.thumbnail = testpictures::MakeJpeg(16, 12, false);
  const std::string photo = testpictures::MakeJpeg(16, 16, false);
  const std::string good = testpictures::WithExif(photo, fields);
  // The APP1 body starts at 2 + 4; "Exif\0\0" takes 6 bytes, then the TIFF header.
  const size_t tiff = 2 + 4 + 6;
  struct Case {
    const char* name;
    std::string bytes;
    int orientation;
  };
  std::string badIfd = good;
  badIfd[tiff + 4] = '\xF0';  // IFD0 offset far beyond the segment
  std::string badOrder = good;
  badOrder[tiff + 1] = 'M';  // "IM": neither byte order
  std::string badOrientation = testpictures::WithExif(photo, {.orientation = 9});
  std::string cutSegment = good.substr(0, tiff + 20);
  const Case cases[] = {
      {"IFD0 offset out of range", badIfd, 0}, {"unknown byte order", badOrder, 0},
      {"orientation 9", badOrientation, 0},    {"segment cut short", cutSegment, 0},
      {"not a JPEG", "GIF89a.........", 0},    {"empty", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const JpegFacts facts = Facts(c.bytes);
    EXPECT_EQ(facts.orientation, c.orientation);
    EXPECT_TRUE(facts.dateTimeOriginal.empty());
    EXPECT_EQ(facts.thumbnailLength, 0u);
  }
  // A thumbnail whose length runs past the segment is no thumbnail. IFD1's length entry is
  // tag 0x0202, type LONG, count 1, in Intel order; its value follows.
  std::string overlong = good;
  const size_t entry = overlong.find(std::string("\x02\x02\x04\x00\x01\x00\x00\x00", 8));
  ASSERT_NE(entry, std::string::npos);
  overlong.replace(entry + 8, 4, std::string("\xFF\xFF\x00\x00", 4));
  EXPECT_EQ(Facts(overlong).thumbnailLength, 0u);
  EXPECT_EQ(Facts(overlong).orientation, 3);
}

TEST(JpegFactsTest, ExifMomentsBecomeDicomDateTimes) {
  const struct {
    const char* dateTime;
    const char* subSeconds;
    const char* offset;
    const char* expected;
  } rows[] = {
      {"2023:07:14 16:05:09", "", "", "20230714160509"},
      {"2023:07:14 16:05:09", "042", "+02:00", "20230714160509.042+0200"},
      {"2023:07:14 16:05:09", "1234567", "-05:30", "20230714160509.123456-0530"},
      {"2024:02:29 00:00:00", "", "", "20240229000000"},
      {"2023:07:14 16:05:09", "", "02:00", "20230714160509"},  // offset without sign: left out
      // Cameras without a set clock, and damaged values: no moment.
      {"0000:00:00 00:00:00", "", "", ""},
      {"    :  :     :  :  ", "", "", ""},
      {"2023:02:29 10:00:00", "", "", ""},
      {"2023:13:01 10:00:00", "", "", ""},
      {"2023:07:14 24:00:00", "", "", ""},
      {"2023-07-14 16:05:09", "", "", ""},
      {"2023:07:14", "", "", ""},
      {"", "", "", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ExifDateTimeToDicom(row.dateTime, row.subSeconds, row.offset), row.expected)
        << row.dateTime << " " << row.offset;
  }
}

}  // namespace
