// Tests of ConvertText: the route by extension, line handling per kind, numbering, and failures.
#include "converttext.h"

#include <gtest/gtest.h>

#include "documentfixtures.h"
#include "srtext.h"
#include "testsupport.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

class ConvertTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BatchUIDRoot = "1.2.826.0.1.99";
    InstanceCounter = 0;
    SeriesNumberText.clear();
    CurrentSeriesUID.clear();
    CurrentStudy = StudyInfo{};
    CurrentStudy.studyInstanceUid = "1.2.826.0.1.99";
    CurrentStudy.patientName = "Doe^Jane";
  }

  // The Text Value of a converted report, without the even-length padding.
  static std::string ReportText(const DcmObj& report) {
    const long content = static_cast<long>(report.Count()) - 1;
    const DcmObj* sequence = report.ObjAt(static_cast<size_t>(content));
    if (sequence == nullptr || sequence->Count() != 2) return "<no content>";
    const DcmTag* value = sequence->ObjAt(1)->FindTag(0x0040, 0xA160);
    if (value == nullptr) return "<no text value>";
    std::string text(value->Bytes());
    // Every text ends with CR LF; an odd-length one carries the space that pads it.
    if (text.ends_with("\r\n ")) text.pop_back();
    return text;
  }

  TempDir dir;
};

// One document of every kind, each giving its lines as the report's text (every line followed by
// CR LF), with the DOC paragraph marks turned into line breaks and empty lines.
TEST_F(ConvertTextTest, EveryKindBecomesAReportOfItsLines) {
  const std::string doc = (dir / "two.DOC").string();
  const auto streams = fixtures::MakeDocStreams({{"x\r", true}, {"y\r", false}});
  fixtures::WriteCompoundFile(doc,
                              {{"WordDocument", streams.wordDocument}, {"1Table", streams.table}});
  const std::string docx = (dir / "two.docx").string();
  fixtures::WriteZip(docx,
                     {{"word/document.xml", fixtures::MakeDocumentXml({{"alpha"}, {"beta"}})}});
  const std::string rtf = (dir / "note.Rtf").string();
  WriteFile(rtf, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}Line one\\par Line \\'e9two\\par}");
  const std::string txt = (dir / "plain.txt").string();
  WriteFile(txt, "  first\r\n\r\nlast\nno break at end");
  const std::string crlfOnly = (dir / "empty-line.txt").string();
  WriteFile(crlfOnly, "\r\n");
  const std::string html = (dir / "page.html").string();
  WriteFile(html, "<html><body>\n<p>Hello <b>world</b></p>\n<p>1 &lt; 2</p>\n</body></html>\n");

  const std::pair<std::string, std::string> rows[] = {
      {doc, "x\r\n\r\ny\r\n\r\n"},
      {docx, "\r\nalpha\r\nbeta\r\n"},
      {rtf, "Line one\r\nLine \xE9two\r\n"},
      {txt, "  first\r\n\r\nlast\r\nno break at end\r\n"},
      {crlfOnly, "\r\n"},
      {html, "Hello world\r\n1 &lt; 2\r\n"},
  };
  DataSetList list;
  for (const auto& [path, text] : rows) {
    std::string error;
    ASSERT_TRUE(ConvertText(path, list, error)) << path << ": " << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(ReportText(*list.back()), text) << path;
    EXPECT_EQ(list.back()->GetString(0x0008, 0x0016), kBasicTextSRStorage);
    EXPECT_EQ(list.back()->transferSyntax, kExplicitVRLittleEndian);
    EXPECT_TRUE(list.back()->explicitVR);
  }
}

// Every file handed over takes the next number, even one that is refused or holds no text; the
// reports share the ".30" series and keep Series Number 0 and Instance Number 1.
TEST_F(ConvertTextTest, NumbersAdvanceForEveryFileAndFailuresAppendNothing) {
  const std::string good = (dir / "a.txt").string();
  WriteFile(good, "a\r\n");
  const std::string empty = (dir / "empty.txt").string();
  WriteFile(empty, "");
  const std::string odt = (dir / "letter.odt").string();
  WriteFile(odt, "whatever");
  const std::string tagsOnly = (dir / "tags.html").string();
  WriteFile(tagsOnly, "<html>\n</html>\n");
  const std::string broken = (dir / "broken.rtf").string();
  WriteFile(broken, "{\\rtf1 unfinished");

  struct Row {
    std::string path;
    bool converted;
    std::string error;  // expected message start; "" for no message
  };
  const Row rows[] = {
      {good, true, ""},
      {empty, false, ""},
      {odt, false, "ERROR, extension not supported, .ODT"},
      {tagsOnly, false, ""},
      {broken, false, "Cannot read RTF document \"" + broken + "\""},
      {good, true, ""},
  };
  DataSetList list;
  for (const Row& row : rows) {
    std::string error = "stale";
    EXPECT_EQ(ConvertText(row.path, list, error), row.converted) << row.path;
    EXPECT_EQ(error.substr(0, row.error.size()), row.error) << error;
    if (row.error.empty()) {
      EXPECT_EQ(error, "") << row.path;
    }
  }
  EXPECT_EQ(InstanceCounter, 6);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->GetString(0x0008, 0x0018), "1.2.826.0.1.99.10.1");
  EXPECT_EQ(list[1]->GetString(0x0008, 0x0018), "1.2.826.0.1.99.10.6");
  for (const auto& report : list) {
    EXPECT_EQ(report->GetString(0x0020, 0x000E), "1.2.826.0.1.99.30");
    EXPECT_EQ(report->GetString(0x0020, 0x000D), "1.2.826.0.1.99");
    EXPECT_EQ(report->GetString(0x0020, 0x0011), "0");
    EXPECT_EQ(report->GetString(0x0020, 0x0013), "1");
    EXPECT_EQ(report->GetString(0x0010, 0x0010), "Doe^Jane");
  }
}

// Reports are written in ISO 8859-1 when their text fits it and in UTF-8 otherwise: typographic
// quotes, dashes and the euro sign of a DOCX survive, and never as Windows-1252 bytes.
TEST_F(ConvertTextTest, ReportTextsKeepEveryCharacter) {
  const std::string docx = (dir / "quotes.docx").string();
  fixtures::WriteZip(
      docx, {{"word/document.xml", fixtures::MakeDocumentXml({{"\xE2\x80\x9CQuoted\xE2\x80\x9D "
                                                               "\xE2\x80\x93 5 \xE2\x82\xAC"}})}});
  const std::string latin1 = (dir / "latin1.txt").string();
  WriteFile(latin1, "Befund: Gef\xE4\xDF o.B.\r\n");
  const std::string ascii = (dir / "ascii.txt").string();
  WriteFile(ascii, "No findings\r\n");
  const struct {
    std::string path;
    const char* declared;
    std::string stored;
  } rows[] = {
      {docx, "ISO_IR 192", "\r\n\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x80\x93 5 \xE2\x82\xAC\r\n"},
      {latin1, "ISO_IR 100", "Befund: Gef\xE4\xDF o.B.\r\n"},
      {ascii, "", "No findings\r\n"},
  };
  for (const auto& row : rows) {
    DataSetList list;
    std::string error;
    ASSERT_TRUE(ConvertText(row.path, list, error)) << error;
    EXPECT_EQ(list[0]->GetString(0x0008, 0x0005), row.declared) << row.path;
    EXPECT_EQ(ReportText(*list[0]), row.stored) << row.path;
  }
}

// A corrupt file of each kind is refused with a message naming it; nothing half-built is kept.
TEST_F(ConvertTextTest, CorruptDocumentsOfEveryKindAreRefusedByName) {
  const std::string doc = (dir / "cut.doc").string();
  auto streams = fixtures::MakeDocStreams({{"some text\r", true}});
  streams.wordDocument.resize(1028);
  fixtures::WriteCompoundFile(doc,
                              {{"WordDocument", streams.wordDocument}, {"1Table", streams.table}});
  const std::string docx = (dir / "plain.docx").string();
  WriteFile(docx, "not a package");
  const std::string txt = (dir / "odd.txt").string();
  WriteFile(txt, std::string("\xFF\xFE"
                             "a\0b",
                             5));
  const std::string missing = (dir / "gone.html").string();
  DataSetList list;
  for (const std::string& path : {doc, docx, txt, missing}) {
    std::string error;
    EXPECT_FALSE(ConvertText(path, list, error)) << path;
    EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
  }
  EXPECT_TRUE(list.empty());
}

}  // namespace
