// Tests of the PDF converter: elements, the document bytes, numbering.
#include "convertpdf.h"

#include <gtest/gtest.h>

#include "convertertest.h"
#include "testsupport.h"

namespace {

using convertertest::Raw;

class ConvertPdfTest : public convertertest::ConverterTest {};

TEST_F(ConvertPdfTest, ObjectHoldsExactlyThePdfElements) {
  const convertertest::FixedClock clock(convertertest::kFixedTime);
  const auto path = dir_ / "Report.pdf";
  testsupport::WriteFile(path, "%PDF-1.4\nnot much of a document\n%%EOF\n");
  DataSetList list;
  std::string error;
  ASSERT_TRUE(ConvertPDF(path.string(), list, error)) << error;
  const DcmObj& pdf = *list[0];
  convertertest::ExpectTags(
      pdf,
      {{0x0008, 0x0005}, {0x0008, 0x0012}, {0x0008, 0x0013}, {0x0008, 0x0016}, {0x0008, 0x0018},
       {0x0008, 0x0020}, {0x0008, 0x0023}, {0x0008, 0x002A}, {0x0008, 0x0030}, {0x0008, 0x0033},
       {0x0008, 0x0050}, {0x0008, 0x0060}, {0x0008, 0x0064}, {0x0008, 0x0070}, {0x0008, 0x0080},
       {0x0008, 0x0090}, {0x0008, 0x1030}, {0x0008, 0x103E}, {0x0010, 0x0010}, {0x0010, 0x0020},
       {0x0010, 0x0030}, {0x0010, 0x0040}, {0x0020, 0x000D}, {0x0020, 0x000E}, {0x0020, 0x0010},
       {0x0020, 0x0011}, {0x0020, 0x0013}, {0x0028, 0x0301}, {0x0040, 0xA043}, {0x0042, 0x0010},
       {0x0042, 0x0011}, {0x0042, 0x0012}});
  EXPECT_EQ(pdf.transferSyntax, "1.2.840.10008.1.2.1");
  EXPECT_TRUE(pdf.explicitVR);
  EXPECT_EQ(pdf.GetString(0x0008, 0x0005), "ISO_IR 100");
  EXPECT_EQ(pdf.GetString(0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.104.1");
  EXPECT_EQ(pdf.GetString(0x0008, 0x0018), "1.2.3.4.1.1");
  EXPECT_EQ(pdf.GetString(0x0020, 0x000E), "1.2.3.4.40");
  EXPECT_EQ(Raw(pdf, 0x0008, 0x0060), "OT");  // not the batch's CT
  EXPECT_EQ(pdf.GetString(0x0008, 0x0064), "WSD");
  EXPECT_EQ(pdf.GetString(0x0008, 0x0090), "Doe^Jane");
  EXPECT_EQ(pdf.GetString(0x0008, 0x103E), "PRINTOUT");
  // An encapsulated document's series must carry a number.
  EXPECT_EQ(pdf.GetString(0x0020, 0x0011), "1");
  // Known when it is encapsulated: the content date; unknown: when the document was made, its
  // maker and what it is (all present, empty); a printout may name the patient.
  EXPECT_EQ(pdf.GetString(0x0008, 0x0023), "20240515");
  EXPECT_EQ(Raw(pdf, 0x0008, 0x002A), "");
  EXPECT_EQ(Raw(pdf, 0x0008, 0x0070), "");
  EXPECT_EQ(pdf.GetString(0x0028, 0x0301), "YES");
  EXPECT_EQ(pdf.GetString(0x0020, 0x0013), "1");
  EXPECT_EQ(pdf.GetString(0x0042, 0x0010), "Report.pdf");
  EXPECT_EQ(pdf.GetString(0x0042, 0x0012), "application/pdf");
  EXPECT_EQ(pdf.FindTag(0x0042, 0x0011)->VR(), "OB");
}

// A file name used as the Document Title is a text like any other: a Cyrillic one makes the
// object UTF-8, and a name that is not UTF-8 at all is read as Windows-1252 rather than lost.
TEST_F(ConvertPdfTest, FileNamesAsTitlesKeepEveryCharacter) {
  const struct {
    std::string fileName;
    const char* declared;
    std::string title;  // as stored
  } rows[] = {
      {"Report.pdf", "ISO_IR 100", "Report.pdf"},
      {"\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.pdf", "ISO_IR 192",
       "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.pdf"},
      {"Gr\xFC\xDF"
       "e.pdf",
       "ISO_IR 100",
       "Gr\xFC\xDF"
       "e.pdf"},
  };
  for (const auto& row : rows) {
    DataSetList list;
    std::string error;
    ASSERT_TRUE(ConvertPDF(Write(row.fileName, "%PDF-1.4\n%%EOF\n"), list, error)) << error;
    EXPECT_EQ(list[0]->GetString(0x0008, 0x0005), row.declared) << row.title;
    EXPECT_EQ(list[0]->GetString(0x0042, 0x0010), row.title);
  }
}

TEST_F(ConvertPdfTest, DocumentBytesAreKeptAndMadeEven) {
  const struct {
    size_t fileLength;
    uint32_t storedLength;
  } rows[] = {{1000, 1000}, {1001, 1002}, {5, 6}, {6, 6}};
  for (const auto& row : rows) {
    std::string bytes(row.fileLength, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 1);
    // The header, then bytes of every value: they are kept as they are.
    bytes.replace(0, 5, "%PDF-");
    const auto path = dir_ / ("n" + std::to_string(row.fileLength) + ".PDF");
    testsupport::WriteFile(path, bytes);
    DataSetList list;
    std::string error;
    ASSERT_TRUE(ConvertPDF(path.string(), list, error)) << error;
    const DcmTag* document = list[0]->FindTag(0x0042, 0x0011);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->length, row.storedLength);
    const std::string stored = convertertest::StoredValue(*document);
    EXPECT_EQ(stored.substr(0, row.fileLength), bytes);
    if (row.storedLength != row.fileLength) {
      EXPECT_EQ(stored.back(), '\0');
    }
  }
}

TEST_F(ConvertPdfTest, UnreadableFileAppendsNothingAndNamesIt) {
  DataSetList list;
  std::string error;
  EXPECT_FALSE(ConvertPDF((dir_ / "gone.pdf").string(), list, error));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(InstanceCounter, 0);
  EXPECT_NE(error.find("gone.pdf"), std::string::npos);
  // A folder named like a PDF opens but cannot be read.
  std::filesystem::create_directory(dir_ / "folder.pdf");
  EXPECT_FALSE(ConvertPDF((dir_ / "folder.pdf").string(), list, error));
  EXPECT_TRUE(list.empty());
  EXPECT_NE(error.find("folder.pdf"), std::string::npos);
}

// Readers find the header within the first 1024 bytes; a file without one there is no PDF and
// gives no object, whatever its name says.
TEST_F(ConvertPdfTest, AFileWithoutAPdfHeaderInItsFirst1024BytesIsRefused) {
  const struct {
    const char* name;
    std::string bytes;
    bool accepted;
  } rows[] = {
      {"empty", "", false},
      {"text", "Dear colleague,\nthe wound heals well.\n", false},
      {"header at 1019", std::string(1019, ' ') + "%PDF-1.4\n", true},
      {"header at 1020", std::string(1020, ' ') + "%PDF-1.4\n", false},
      {"word document", "PK\x03\x04" + std::string(3000, 'w'), false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto path = dir_ / "report.pdf";
    testsupport::WriteFile(path, row.bytes);
    InstanceCounter = 0;
    DataSetList list;
    std::string error;
    EXPECT_EQ(ConvertPDF(path.string(), list, error), row.accepted) << error;
    if (row.accepted) {
      EXPECT_EQ(list.size(), 1u);
      continue;
    }
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(InstanceCounter, 0);
    EXPECT_EQ(error, "Cannot convert \"" + path.string() + "\": not a PDF file");
  }
}

}  // namespace
