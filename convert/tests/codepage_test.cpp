// Tests of the document code pages: Windows-1252, other Windows code pages, UTF-16 surrogates.
#include "codepage.h"

#include <gtest/gtest.h>

namespace {

// Every byte of Windows-1252 widens to its character; the five undefined positions keep their
// C1 value, so no byte of a document is lost.
TEST(CodePageTest, Windows1252WidensEveryByte) {
  EXPECT_EQ(Cp1252ToUtf8("\x80 \x93q\x94 \x96"),
            "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xE2\x80\x93");
  EXPECT_EQ(Cp1252ToUtf8("\xE9\x9C"), "\xC3\xA9\xC5\x93");
  EXPECT_EQ(Cp1252ToUtf8("\x81\x9D"), "\xC2\x81\xC2\x9D");
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const std::string wide = Cp1252ToUtf8(all);
  EXPECT_EQ(wide.find("\xEF\xBF\xBD"), std::string::npos);
}

// The code pages documents name (RTF \ansicpg and \fcharset, Word's language), through iconv.
TEST(CodePageTest, WindowsCodePagesWidenThroughIconv) {
  struct Row {
    int codePage;
    std::string bytes;
    std::string utf8;
  };
  const Row rows[] = {
      {1252, "Caf\xE9 \x80", "Caf\xC3\xA9 \xE2\x82\xAC"},
      {1250, "\xA5\x9A\xDF", "\xC4\x84\xC5\xA1\xC3\x9F"},
      {1251, "\xC8\xE2\xE0\xED", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
      {1253, "\xC4\xE9\xEF", "\xCE\x94\xCE\xB9\xCE\xBF"},
      {932, "\x82\xA0\x93\xFA", "\xE3\x81\x82\xE6\x97\xA5"},
      {10000, "\x8A", "\xC3\xA4"},
      {1251, "\x98", "\xEF\xBF\xBD"},  // unassigned in the code page
      {99999, "\xE9", "\xC3\xA9"},     // unknown: read as Windows-1252
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CodePageToUtf8(row.codePage, row.bytes), row.utf8) << row.codePage;
  }
}

TEST(CodePageTest, Utf16KeepsPairsAndReplacesLoneSurrogates) {
  struct Row {
    const char* name;
    std::u16string units;
    std::string utf8;
  };
  const Row rows[] = {
      {"plain", u"Hello", "Hello"},
      {"euro and dash", u"\u20AC\u2013", "\xE2\x82\xAC\xE2\x80\x93"},
      {"greek", u"\u0394", "\xCE\x94"},
      {"pair is one character", u"a\U0001F600b",
       "a\xF0\x9F\x98\x80"
       "b"},
      {"lone high", std::u16string(u"a") + char16_t(0xD800) + u"b",
       "a\xEF\xBF\xBD"
       "b"},
      {"lone low", std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
      {"high at end", std::u16string(1, char16_t(0xDBFF)), "\xEF\xBF\xBD"},
  };
  for (const Row& row : rows) EXPECT_EQ(Utf16ToUtf8(row.units), row.utf8) << row.name;
}

TEST(CodePageTest, Utf16FromBytesHonoursByteOrderAndReportsOddLength) {
  std::u16string units;
  EXPECT_TRUE(Utf16FromBytes(std::string("A\0\xAC\x20", 4), Utf16Order::LittleEndian, units));
  EXPECT_EQ(units, u"A\u20AC");
  EXPECT_TRUE(Utf16FromBytes(std::string("\0A\x20\xAC", 4), Utf16Order::BigEndian, units));
  EXPECT_EQ(units, u"A\u20AC");
  EXPECT_FALSE(Utf16FromBytes(std::string("A\0B", 3), Utf16Order::LittleEndian, units));
  EXPECT_EQ(units, u"A");
}

}  // namespace
