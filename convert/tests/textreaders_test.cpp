// Tests of the document readers: DOC piece tables, DOCX packages, RTF, text files and HTML,
// each on small fixtures made here, and the failures of truncated or corrupt files.
#include "textreaders.h"

#include <gtest/gtest.h>

#include <functional>

#include "documentfixtures.h"
#include "testsupport.h"

namespace {

using fixtures::DocPiece;
using testsupport::TempDir;
using testsupport::WriteFile;

// ---------------------------------------------------------------------------------------------
// DOC

TEST(DocReaderTest, ReadsCompressedAndUtf16PiecesOneLineEach) {
  TempDir dir;
  const std::string path = (dir / "mixed.doc").string();
  const auto streams = fixtures::MakeDocStreams({
      {"Caf\xE9 \x80 5\r", true},  // 8-bit: Windows-1252 for a Western document
      {"na\xC3\xAF"
       "ve \xE2\x80\x93 \xCE\xB1\r",
       false},     // UTF-16: every character kept
      {"", true},  // an empty piece is an empty line
  });
  fixtures::WriteCompoundFile(path,
                              {{"WordDocument", streams.wordDocument}, {"1Table", streams.table}});
  TextLines lines;
  std::string error;
  ASSERT_TRUE(ReadDocText(path, lines, error)) << error;
  EXPECT_EQ(lines, (TextLines{"Caf\xC3\xA9 \xE2\x82\xAC 5\r",
                              "na\xC3\xAFve \xE2\x80\x93 \xCE\xB1\r", ""}));
}

// 8-bit pieces are in the ANSI code page of the language the FIB names: Russian is Windows-1251.
TEST(DocReaderTest, CompressedPiecesFollowTheDocumentsLanguage) {
  auto streams = fixtures::MakeDocStreams({{"\xC8\xE2\xE0\xED\r", true}});
  streams.wordDocument[0x0006] = '\x19';  // lid 0x0419, Russian
  streams.wordDocument[0x0007] = '\x04';
  TextLines lines;
  std::string problem;
  ASSERT_TRUE(ReadDocPieces(streams.wordDocument, streams.table, lines, problem)) << problem;
  EXPECT_EQ(lines, (TextLines{"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\r"}));
  EXPECT_EQ(DocCodePage(streams.wordDocument), 1251);
}

// The table stream is the one the FIB names; a file that has only the other one is still read,
// and property modifiers in front of the piece table are stepped over.
TEST(DocReaderTest, FindsTheTableStreamAndThePieceTable) {
  struct Row {
    const char* name;
    bool table1Flag;
    const char* streamName;
    int propertyModifiers;
  };
  const Row rows[] = {
      {"flag set, 1Table", true, "1Table", 0},
      {"flag clear, 0Table", false, "0Table", 0},
      {"flag clear, only 1Table", false, "1Table", 0},
      {"flag set, only 0Table", true, "0Table", 0},
      {"two property modifiers first", true, "1Table", 2},
  };
  for (const Row& row : rows) {
    TempDir dir;
    const std::string path = (dir / "t.doc").string();
    const auto streams =
        fixtures::MakeDocStreams({{"hello\r", true}}, row.table1Flag, row.propertyModifiers);
    fixtures::WriteCompoundFile(
        path, {{"WordDocument", streams.wordDocument}, {row.streamName, streams.table}});
    TextLines lines;
    std::string error;
    EXPECT_TRUE(ReadDocText(path, lines, error)) << row.name << ": " << error;
    EXPECT_EQ(lines, TextLines{"hello\r"}) << row.name;
  }
}

// Every structure read from the file is checked before it is used: each row damages one field of
// a sound document and must give a failure that says what is wrong, never text from elsewhere.
TEST(DocReaderTest, CorruptStructuresFailWithAReason) {
  const auto sound = fixtures::MakeDocStreams({{"abc\r", true}, {"def\r", false}});
  auto put32 = [](std::string& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  // The Clx starts at table offset 16: marker, lcb, 3 CPs, 2 descriptors (fc at +2 of each).
  constexpr size_t kClx = 16;
  constexpr size_t kCps = kClx + 5;
  constexpr size_t kFirstFc = kCps + 12 + 2;
  constexpr size_t kSecondFc = kFirstFc + 8;
  struct Row {
    const char* name;
    std::function<void(fixtures::DocStreams&)> damage;
    const char* reason;
  };
  const Row rows[] = {
      {"FIB cut short", [](auto& s) { s.wordDocument.resize(300); }, "too short"},
      {"not a Word FIB", [](auto& s) { s.wordDocument[0] = 'X'; }, "does not start"},
      {"Word 95 FIB", [](auto& s) { s.wordDocument[2] = 0x68; }, "older than Word 97"},
      {"encrypted", [](auto& s) { s.wordDocument[0x0B] |= 0x01; }, "encrypted"},
      {"Clx beyond table", [&](auto& s) { put32(s.wordDocument, 418, 1000); }, "outside"},
      {"Clx size beyond table", [&](auto& s) { put32(s.wordDocument, 422, 5000); }, "outside"},
      {"no Pcdt marker", [](auto& s) { s.table[kClx] = 0x07; }, "no readable piece table"},
      {"lcb past the Clx", [&](auto& s) { put32(s.table, kClx + 1, 400); }, "does not fit"},
      {"lcb below 4", [&](auto& s) { put32(s.table, kClx + 1, 3); }, "does not fit"},
      {"CPs decreasing", [&](auto& s) { put32(s.table, kCps + 4, 9); }, "ends before it starts"},
      {"compressed piece past stream",
       [&](auto& s) { put32(s.table, kFirstFc, 0x40000000u | 4000u); }, "points past the end"},
      {"UTF-16 piece past stream", [&](auto& s) { put32(s.table, kSecondFc, 1030); },
       "points past the end"},
      {"huge piece count", [&](auto& s) { put32(s.table, kCps + 8, 0xFFFFFFF0u); },
       "points past the end"},
      {"pieces repeating the stream",
       [&](auto& s) {
         // Both pieces claim the whole stream: more text than the stream holds.
         const auto size = static_cast<uint32_t>(s.wordDocument.size());
         put32(s.table, kCps + 4, size);
         put32(s.table, kCps + 8, 2 * size);
         put32(s.table, kFirstFc, 0x40000000u);
         put32(s.table, kSecondFc, 0x40000000u);
       },
       "more text than"},
  };
  {
    TextLines lines;
    std::string problem;
    ASSERT_TRUE(ReadDocPieces(sound.wordDocument, sound.table, lines, problem)) << problem;
    EXPECT_EQ(lines, (TextLines{"abc\r", "def\r"}));
  }
  for (const Row& row : rows) {
    auto streams = sound;
    row.damage(streams);
    TextLines lines{"stale"};
    std::string problem;
    EXPECT_FALSE(ReadDocPieces(streams.wordDocument, streams.table, lines, problem)) << row.name;
    EXPECT_NE(problem.find(row.reason), std::string::npos) << row.name << ": " << problem;
    EXPECT_TRUE(lines.empty()) << row.name;
  }
}

TEST(DocReaderTest, UnreadableFilesFailWithAMessageNamingTheFile) {
  TempDir dir;
  const auto streams = fixtures::MakeDocStreams({{"x\r", true}});
  const std::string notOle = (dir / "plain.doc").string();
  WriteFile(notOle, "This is not a compound file at all, just text saved as .doc");
  const std::string noTable = (dir / "notable.doc").string();
  fixtures::WriteCompoundFile(noTable, {{"WordDocument", streams.wordDocument}});
  const std::string noWord = (dir / "noword.doc").string();
  fixtures::WriteCompoundFile(noWord, {{"1Table", streams.table}});
  const std::string pastEnd = (dir / "pastend.doc").string();
  auto damaged = streams;
  damaged.wordDocument.resize(1025);  // the piece's two bytes start at 1024
  fixtures::WriteCompoundFile(pastEnd,
                              {{"WordDocument", damaged.wordDocument}, {"1Table", damaged.table}});
  const std::pair<std::string, const char*> rows[] = {
      {(dir / "missing.doc").string(), "Cannot read Word document"},
      {notOle, "not an OLE compound file"},
      {noTable, "no table stream"},
      {noWord, "no WordDocument stream"},
      {pastEnd, "points past the end"},
  };
  for (const auto& [path, reason] : rows) {
    TextLines lines;
    std::string error;
    EXPECT_FALSE(ReadDocText(path, lines, error)) << path;
    EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    EXPECT_TRUE(lines.empty());
  }
}

// ---------------------------------------------------------------------------------------------
// DOCX

TEST(DocxReaderTest, ParagraphsStartWithABreakAndRunsJoin) {
  struct Row {
    const char* name;
    std::string xml;
    std::string text;
  };
  const std::string utf16Xml = [] {
    // UTF-16LE with a byte-order mark and a matching declaration: "é€" in a run.
    const std::string ascii =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?><w:document xmlns:w=\"urn:w\"><w:body><w:p>"
        "<w:r><w:t>@@</w:t></w:r></w:p></w:body></w:document>";
    std::string out = "\xFF\xFE";
    for (size_t i = 0; i < ascii.size(); ++i) {
      if (ascii.compare(i, 2, "@@") == 0) {
        out += std::string("\xE9\x00\xAC\x20", 4);
        ++i;
        continue;
      }
      out += ascii[i];
      out += '\0';
    }
    return out;
  }();
  const Row rows[] = {
      {"two paragraphs", fixtures::MakeDocumentXml({{"alpha"}, {"beta"}}), "\r\nalpha\r\nbeta"},
      {"runs of one paragraph", fixtures::MakeDocumentXml({{"Hel", "lo ", "world"}}),
       "\r\nHello world"},
      {"empty paragraph", fixtures::MakeDocumentXml({{}, {"x"}}), "\r\n\r\nx"},
      {"entities and UTF-8",
       fixtures::MakeDocumentXml({{"a &amp; b &lt;c&gt; \xE2\x82\xAC\xCE\xB1"}}),
       "\r\na & b <c> \xE2\x82\xAC\xCE\xB1"},
      {"windows-1252 declaration",
       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><w:document xmlns:w=\"urn:w\"><w:p>"
       "<w:t>\x93q\x94</w:t></w:p></w:document>",
       "\r\n\xE2\x80\x9Cq\xE2\x80\x9D"},
      {"UTF-16 with byte-order mark", utf16Xml, "\r\n\xC3\xA9\xE2\x82\xAC"},
      {"other prefix gives nothing",
       "<x:document xmlns:x=\"urn:w\"><x:p><x:t>hidden</x:t></x:p></x:document>", ""},
  };
  for (const Row& row : rows) {
    std::string text;
    std::string problem;
    EXPECT_TRUE(XmlDocumentText(row.xml, text, problem)) << row.name << ": " << problem;
    EXPECT_EQ(text, row.text) << row.name;
  }
}

TEST(DocxReaderTest, ReadsThePackageAndRefusesBrokenOnes) {
  TempDir dir;
  const std::string good = (dir / "good.docx").string();
  fixtures::WriteZip(good, {{"[Content_Types].xml", "<Types/>"},
                            {"word/document.xml", fixtures::MakeDocumentXml({{"alpha"}})}});
  std::string text;
  std::string error;
  ASSERT_TRUE(ReadDocxText(good, text, error)) << error;
  EXPECT_EQ(text, "\r\nalpha");

  const std::string notZip = (dir / "text.docx").string();
  WriteFile(notZip, "PK but not really a zip archive");
  const std::string noDocument = (dir / "nodoc.docx").string();
  fixtures::WriteZip(noDocument, {{"word/other.xml", "<a/>"}});
  const std::string malformed = (dir / "malformed.docx").string();
  fixtures::WriteZip(malformed, {{"word/document.xml", "<w:document xmlns:w=\"urn:w\"><w:p>"}});
  const std::string withDtd = (dir / "dtd.docx").string();
  fixtures::WriteZip(withDtd, {{"word/document.xml",
                                "<!DOCTYPE d [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]>"
                                "<w:document xmlns:w=\"urn:w\"><w:t>&b;</w:t></w:document>"}});
  const std::string truncated = (dir / "truncated.docx").string();
  {
    fixtures::WriteZip(
        truncated, {{"word/document.xml", fixtures::MakeDocumentXml({{std::string(5000, 'z')}})}});
    std::string bytes = testsupport::ReadFile(truncated);
    WriteFile(truncated, bytes.substr(0, bytes.size() / 2));
  }
  const std::pair<std::string, const char*> rows[] = {
      {(dir / "missing.docx").string(), "Cannot read DOCX document"},
      {notZip, "not a ZIP package"},
      {noDocument, "no word/document.xml"},
      {malformed, "not well-formed XML (line 1"},
      {withDtd, "document type declaration"},
      {truncated, "Cannot read DOCX document"},
  };
  for (const auto& [path, reason] : rows) {
    text = "stale";
    EXPECT_FALSE(ReadDocxText(path, text, error)) << path;
    EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    EXPECT_EQ(text, "");
  }
}

// ---------------------------------------------------------------------------------------------
// RTF

TEST(RtfReaderTest, KeepsTheTextOfParagraphsAndDropsTheRest) {
  struct Row {
    const char* name;
    std::string rtf;
    std::string text;
  };
  const Row rows[] = {
      {"paragraphs and tables skipped",
       "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red0\\green0"
       "\\blue0;}{\\stylesheet{\\s0 Normal;}}{\\info{\\title Secret}{\\author Me}}"
       "\\pard\\plain\\f0\\fs20 Hello\\par World\\b  bold\\b0\\par}",
       "Hello\r\nWorld bold\r\n"},
      {"escapes in the code page", "{\\rtf1\\ansi Caf\\'e9 \\'80\\'93x\\'94}",
       "Caf\xC3\xA9 \xE2\x82\xAC\xE2\x80\x9Cx\xE2\x80\x9D"},
      {"another code page", "{\\rtf1\\ansi\\ansicpg1250 \\'a5\\'9a\\'df}",
       "\xC4\x84\xC5\xA1\xC3\x9F"},
      {"a double-byte code page", "{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0\\'93\\'fa}",
       "\xE3\x81\x82\xE6\x97\xA5"},
      {"unicode with fallback skipped", "{\\rtf1\\uc1\\u8364?\\u233\\'e9 x}",
       "\xE2\x82\xAC\xC3\xA9 x"},
      // The fallback is in the current font's charset, so it never stands in for the character.
      {"unicode outside Windows-1252", "{\\rtf1\\u945a\\u322\\'b3\\u-4009?}",
       "\xCE\xB1\xC5\x82\xEF\x81\x97"},
      {"font charsets choose the code page",
       "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman\\fcharset0 Times;}"
       "{\\f1\\fswiss\\fcharset238 Arial CE;}}\\f0\\'b3 {\\f1\\'b3\\'df}\\'b3}",
       "\xC2\xB3 \xC5\x82\xC3\x9F\xC2\xB3"},
      {"default font's charset", "{\\rtf1\\deff1{\\fonttbl\\f1\\fcharset204 X;}\\'c0\\'e9}",
       "\xD0\x90\xD0\xB9"},
      {"longer fallback", "{\\rtf1\\uc2\\u8212--x{\\uc0\\u8211}}", "\xE2\x80\x94x\xE2\x80\x93"},
      {"surrogate pair is one character", "{\\rtf1\\u-10179?\\u-8704?.}", "\xF0\x9F\x98\x80."},
      {"lone surrogate", "{\\rtf1\\u-10179?x}", "\xEF\xBF\xBDx"},
      {"escaped symbols", "{\\rtf1 a\\{b\\}c\\\\d\\~e\\_f\\-g}",
       "a{b}c\\d\xC2\xA0"
       "e-fg"},
      {"special characters", "{\\rtf1 \\lquote q\\rquote\\tab\\emdash\\bullet\\line z}",
       "\xE2\x80\x98q\xE2\x80\x99\t\xE2\x80\x94\xE2\x80\xA2\r\nz"},
      {"ignorable and skipped destinations",
       "{\\rtf1 A{\\*\\generator Word;}{\\header H}{\\footer F}{\\*\\unknown U}"
       "{\\pict\\pngblip 89504e47}B}",
       "AB"},
      {"field result kept, instruction dropped",
       "{\\rtf1 see {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}} here}",
       "see link here"},
      {"binary data skipped", "{\\rtf1 A{\\pict\\bin4 }{}{}B}", "AB"},
      {"source line breaks ignored", "{\\rtf1 one\r\ntwo\\\r\nthree}", "onetwo\r\nthree"},
      {"text after the document ignored", "{\\rtf1 in}out{more}", "in"},
      {"leading byte-order mark and blanks", "\xEF\xBB\xBF \r\n{\\rtf1 ok}", "ok"},
  };
  for (const Row& row : rows) {
    std::string text;
    std::string problem;
    EXPECT_TRUE(RtfToPlainText(row.rtf, text, problem)) << row.name << ": " << problem;
    EXPECT_EQ(text, row.text) << row.name;
  }
}

TEST(RtfReaderTest, BrokenDocumentsFailWithAReason) {
  const std::pair<std::string, const char*> rows[] = {
      {"", "does not start"},
      {"plain text with .rtf name", "does not start"},
      {"{\\rtf1 Hello\\par", "not balanced"},
      {"{\\rtf1 {\\b x}", "not balanced"},
      {"{\\rtf1 {\\pict\\bin99 ab}}", "\\bin block runs past"},
      {"{\\rtf1 {\\pict\\bin-5 ab}}", "\\bin block runs past"},
      {"{\\rtf1 " + std::string(5000, '{') + std::string(5001, '}'), "nest deeper"},
      {"{\\rtf1 x\\", "not balanced"},
  };
  for (const auto& [rtf, reason] : rows) {
    std::string text = "stale";
    std::string problem;
    EXPECT_FALSE(RtfToPlainText(rtf, text, problem)) << rtf.substr(0, 40);
    EXPECT_NE(problem.find(reason), std::string::npos) << problem;
  }
  TempDir dir;
  const std::string path = (dir / "cut.rtf").string();
  WriteFile(path, "{\\rtf1\\ansi Hello {\\b wor");
  std::string text;
  std::string error;
  EXPECT_FALSE(ReadRtfText(path, text, error));
  EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
  EXPECT_EQ(text, "");
}

// ---------------------------------------------------------------------------------------------
// Plain text and HTML

TEST(TextFileReaderTest, ByteOrderMarksSelectTheEncoding) {
  struct Row {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const Row rows[] = {
      {"no mark, not UTF-8: Windows-1252", "Caf\xE9 \x80\r\n  indented\r\n",
       "Caf\xC3\xA9 \xE2\x82\xAC\r\n  indented\r\n"},
      {"no mark, valid UTF-8", "\xD0\x98\xD0\xB2 \xE2\x82\xAC", "\xD0\x98\xD0\xB2 \xE2\x82\xAC"},
      {"UTF-8 mark",
       "\xEF\xBB\xBF"
       "Caf\xC3\xA9 \xE2\x82\xAC \xCE\xB1",
       "Caf\xC3\xA9 \xE2\x82\xAC \xCE\xB1"},
      {"UTF-8 mark, broken byte",
       "\xEF\xBB\xBF"
       "a\xFF",
       "a\xEF\xBF\xBD"},
      {"UTF-16 LE mark",
       std::string("\xFF\xFE"
                   "A\0\xAC\x20\r\0\n\0",
                   10),
       "A\xE2\x82\xAC\r\n"},
      {"UTF-16 BE mark", std::string("\xFE\xFF\0A\x20\xAC", 6), "A\xE2\x82\xAC"},
      {"mark only", "\xEF\xBB\xBF", ""},
  };
  for (const Row& row : rows) {
    std::string text;
    std::string problem;
    EXPECT_TRUE(DecodeTextBytes(row.bytes, text, problem)) << row.name;
    EXPECT_EQ(text, row.text) << row.name;
  }
  std::string text;
  std::string problem;
  EXPECT_FALSE(DecodeTextBytes(std::string("\xFF\xFE"
                                           "A\0B",
                                           5),
                               text, problem));
  EXPECT_NE(problem.find("odd number of bytes"), std::string::npos) << problem;

  TempDir dir;
  const std::string odd = (dir / "odd.txt").string();
  WriteFile(odd, std::string("\xFE\xFF\0A\0", 5));
  TextLines lines;
  std::string error;
  EXPECT_FALSE(ReadTextFileLines(odd, lines, error));
  EXPECT_NE(error.find("\"" + odd + "\""), std::string::npos) << error;
  EXPECT_FALSE(ReadTextFileLines((dir / "missing.txt").string(), lines, error));
  EXPECT_NE(error.find("missing.txt"), std::string::npos) << error;
}

// An HTML file without a byte-order mark is read in the charset it declares; without a
// declaration the bytes decide.
TEST(HtmlReaderTest, TheDeclaredCharsetIsHonoured) {
  struct Row {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const Row rows[] = {
      {"meta charset windows-1251", "<meta charset=\"windows-1251\"><p>\xC8\xE2\xE0\xED</p>",
       "<meta charset=\"windows-1251\"><p>\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD</p>"},
      {"http-equiv koi8-r",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=KOI8-R\">\xE9",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=KOI8-R\">\xD0\x98"},
      {"iso-8859-1 means Windows-1252", "<meta charset=iso-8859-1>\x93",
       "<meta charset=iso-8859-1>\xE2\x80\x9C"},
      {"declared UTF-8", "<meta charset=\"utf-8\">\xC3\xA9", "<meta charset=\"utf-8\">\xC3\xA9"},
      {"unknown label: the bytes decide", "<meta charset=\"x-nonsense\">\xE9",
       "<meta charset=\"x-nonsense\">\xC3\xA9"},
  };
  for (const Row& row : rows) {
    std::string text;
    std::string problem;
    EXPECT_TRUE(DecodeTextBytes(row.bytes, text, problem, TextFileKind::Html)) << row.name;
    EXPECT_EQ(text, row.text) << row.name;
  }
  // A plain text file is not searched for declarations.
  std::string text;
  std::string problem;
  EXPECT_TRUE(DecodeTextBytes("charset=windows-1251 \xC8", text, problem));
  EXPECT_EQ(text, "charset=windows-1251 \xC3\x88");
}

TEST(HtmlReaderTest, TagsAreDroppedAcrossLinesAndReferencesKept) {
  struct Row {
    const char* name;
    TextLines lines;
    std::string text;
  };
  const Row rows[] = {
      {"tags around words", {"<p>Hello <b>world</b></p>"}, "Hello world\r\n"},
      {"line of tags only", {"<html><body>", "x"}, "x\r\n"},
      {"tag across lines", {"before<a", "href=\"y\">after"}, "before\r\nafter\r\n"},
      {"text inside a spanning tag is dropped", {"a<div", "title=t", "class=c>b"}, "a\r\nb\r\n"},
      {"reference kept", {"1 &lt; 2 &amp; &#8364;"}, "1 &lt; 2 &amp; &#8364;\r\n"},
      {"trimmed before scanning", {" \t <p> x </p>\t\x01"}, " x \r\n"},
      {"non-ASCII blanks are not trimmed", {"\xC2\xA0x\xC2\xA0"}, "\xC2\xA0x\xC2\xA0\r\n"},
      {"script text stays", {"<script>var a = 1;</script>"}, "var a = 1;\r\n"},
      {"comment with > inside leaks", {"<!-- a > b -->c"}, " b -->c\r\n"},
  };
  for (const Row& row : rows) EXPECT_EQ(StripHtmlTags(row.lines), row.text) << row.name;
}

}  // namespace
