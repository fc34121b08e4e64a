// Tests of the shared conversion context: UID forms per kind, counter, source reading.
#include "conversioncontext.h"

#include <gtest/gtest.h>

#include "convertertest.h"
#include "sourcefile.h"
#include "testsupport.h"

namespace {

class ConversionContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BatchUIDRoot = "1.2.3.4";
    InstanceCounter = 0;
    SeriesNumberText.clear();
    CurrentSeriesUID.clear();
  }
};

// One counter runs over every kind, in conversion order; each kind has its own series suffix and
// the PDF kind its own ".1." instance form.
TEST_F(ConversionContextTest, NumbersRunAcrossKindsWithEachKindsUidForm) {
  struct Row {
    ObjectKind kind;
    const char* instanceUid;
    const char* seriesUid;
  };
  const Row rows[] = {
      {ObjectKind::Image, "1.2.3.4.10.1", "1.2.3.4.20"},
      {ObjectKind::Image, "1.2.3.4.10.2", "1.2.3.4.20"},
      {ObjectKind::Pdf, "1.2.3.4.1.3", "1.2.3.4.40"},
      {ObjectKind::TextReport, "1.2.3.4.10.4", "1.2.3.4.30"},
      {ObjectKind::Video, "1.2.3.4.10.5", "1.2.3.4.50"},
  };
  int32_t expected = 0;
  for (const Row& row : rows) {
    const ObjectNumbers numbers = StartObject(row.kind);
    ++expected;
    EXPECT_EQ(numbers.instanceNumber, expected);
    EXPECT_EQ(numbers.sopInstanceUid, row.instanceUid);
    EXPECT_EQ(CurrentSeriesUID, row.seriesUid);
    EXPECT_EQ(InstanceNumberText(), std::to_string(expected));
  }
}

TEST_F(ConversionContextTest, ClockTextsHaveFixedWidthDigits) {
  {
    // Single digits are zero-filled: 2024-05-15 09:08:07.
    const convertertest::FixedClock clock(convertertest::kFixedTime);
    EXPECT_EQ(TodayText(), "20240515");
    EXPECT_EQ(NowText(), "090807");
    EXPECT_EQ(LocalClockText("%Y-%m-%d"), "2024-05-15");
  }
  // The system clock again.
  EXPECT_NE(TodayText(), "20240515");
  for (const std::string& text : {TodayText(), NowText()}) {
    for (char c : text) EXPECT_TRUE(c >= '0' && c <= '9') << text;
  }
  EXPECT_EQ(TodayText().size(), 8u);
  EXPECT_EQ(NowText().size(), 6u);
}

TEST_F(ConversionContextTest, EncapsulatedPixelDataHasTableFragmentAndDelimiter) {
  DcmObj dataSet;
  auto bytes = std::make_unique<uint8_t[]>(4);
  bytes[0] = 0xFF;
  AppendEncapsulatedPixelData(dataSet, std::move(bytes), 4);
  ASSERT_EQ(dataSet.Count(), 4u);
  EXPECT_TRUE(dataSet.TagAt(0)->Is(0x7FE0, 0x0010));
  EXPECT_TRUE(dataSet.TagAt(0)->HasUndefinedLength());
  EXPECT_EQ(dataSet.TagAt(0)->VR(), "OB");
  EXPECT_TRUE(dataSet.TagAt(1)->Is(0xFFFE, 0xE000));
  EXPECT_EQ(dataSet.TagAt(1)->length, 0u);
  EXPECT_TRUE(dataSet.TagAt(2)->Is(0xFFFE, 0xE000));
  EXPECT_EQ(dataSet.TagAt(2)->length, 4u);
  EXPECT_EQ(dataSet.TagAt(2)->value[0], 0xFF);
  EXPECT_TRUE(dataSet.TagAt(3)->Is(0xFFFE, 0xE0DD));

  DcmObj empty;
  AppendEncapsulatedPixelData(empty, nullptr, 0);
  ASSERT_EQ(empty.Count(), 3u);
  EXPECT_TRUE(empty.TagAt(2)->Is(0xFFFE, 0xE0DD));
}

TEST(SourceFileTest, OddFilesArePaddedWithOneZeroByte) {
  testsupport::TempDir dir;
  struct Row {
    size_t fileLength;
    uint32_t storedLength;
  };
  for (const Row row : {Row{0, 0}, Row{1, 2}, Row{1000, 1000}, Row{1001, 1002}}) {
    const auto path = dir / ("f" + std::to_string(row.fileLength) + ".pdf");
    testsupport::WriteFile(path, std::string(row.fileLength, 'x'));
    SourceBytes source;
    std::string error;
    ASSERT_TRUE(ReadSourceFile(path.string(), source, error)) << error;
    EXPECT_EQ(source.length, row.storedLength);
    EXPECT_EQ(source.fileLength, row.fileLength);
    if (row.storedLength != row.fileLength) {
      EXPECT_EQ(source.bytes[row.fileLength], 0x00);
    }
  }
}

TEST(SourceFileTest, MissingFileNamesThePath) {
  SourceBytes source;
  std::string error;
  EXPECT_FALSE(ReadSourceFile("/nonexistent/folder/Report.pdf", source, error));
  EXPECT_NE(error.find("/nonexistent/folder/Report.pdf"), std::string::npos);
}

TEST(SourceFileTest, NamesAndExtensions) {
  struct Row {
    const char* path;
    const char* name;
    const char* extension;
  };
  const Row rows[] = {
      {"/some/folder/Report.pdf", "Report.pdf", ".PDF"},
      {"photo.jpg", "photo.jpg", ".JPG"},
      {"/a.b/noextension", "noextension", ""},
      {"/x/archive.tar.Mp4", "archive.tar.Mp4", ".MP4"},
      {"C:\\scans\\page.Jpeg", "page.Jpeg", ".JPEG"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FileNameOf(row.path), row.name);
    EXPECT_EQ(UpperExtension(row.path), row.extension);
  }
}

}  // namespace
