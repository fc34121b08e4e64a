// Tests of the Windows-1252 conversions: the 0x80-0x9F range, invalid UTF-8, UTF-16 surrogates.
#include "codepage.h"

#include <gtest/gtest.h>

namespace {

struct NarrowRow {
  const char* name;
  std::string utf8;
  std::string cp1252;
};

// Each row is one kind of input the readers meet: the characters Windows-1252 places in
// 0x80-0x9F (where it differs from Latin-1), Latin-1 letters, characters it lacks, and bytes
// that are not valid UTF-8 at all.
TEST(CodePageTest, Utf8NarrowsToWindows1252) {
  const NarrowRow rows[] = {
      {"ascii", "Report 1\r\n", "Report 1\r\n"},
      {"nul kept", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"euro", "\xE2\x82\xAC", "\x80"},
      {"curly quotes",
       "\xE2\x80\x9C"
       "a\xE2\x80\x9D \xE2\x80\x98"
       "b\xE2\x80\x99",
       "\x93"
       "a\x94 \x91"
       "b\x92"},
      {"en and em dash", "\xE2\x80\x93\xE2\x80\x94", "\x96\x97"},
      {"ellipsis bullet trademark", "\xE2\x80\xA6\xE2\x80\xA2\xE2\x84\xA2", "\x85\x95\x99"},
      {"s caron y diaeresis", "\xC5\xA0\xC5\xB8", "\x8A\x9F"},
      {"latin-1 letters", "M\xC3\xBCller \xC3\xA9t\xC3\xA9 \xC3\x9F", "M\xFCller \xE9t\xE9 \xDF"},
      {"nbsp and y acute", "\xC2\xA0\xC3\xBF", "\xA0\xFF"},
      {"undefined position kept", "\xC2\x81\xC2\x9D", "\x81\x9D"},
      {"c1 control without a byte", "\xC2\x80", "?"},
      {"greek and cjk lost", "\xCE\xB1\xE4\xB8\xAD", "??"},
      {"four-byte character", "x\xF0\x9F\x98\x80y", "x?y"},
      {"stray continuation",
       "a\x80"
       "b",
       "a?b"},
      {"overlong slash", "\xC0\xAF", "??"},
      {"truncated keeps next",
       "\xE2\x82"
       "A",
       "??A"},
      {"truncated at end", "ok\xE2", "ok?"},
      {"encoded surrogate", "\xED\xA0\x80", "???"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"byte F5", "\xF5", "?"},
  };
  for (const NarrowRow& row : rows) {
    EXPECT_EQ(Utf8ToCp1252(row.utf8), row.cp1252) << row.name;
  }
}

// Widening and narrowing again must give back every byte value unchanged, so a text in the code
// page can go to the display and back without loss.
TEST(CodePageTest, EveryByteSurvivesWideningAndNarrowing) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string wide = Cp1252ToUtf8(all);
  EXPECT_EQ(Utf8ToCp1252(wide), all);
  for (int b = 0; b < 256; ++b) {
    EXPECT_TRUE(RepresentableInCp1252(Cp1252ToCodePoint(static_cast<unsigned char>(b)))) << b;
  }
}

TEST(CodePageTest, WidensTheHighControlRangeToItsCharacters) {
  EXPECT_EQ(Cp1252ToUtf8("\x80 \x93q\x94 \x96"),
            "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xE2\x80\x93");
  EXPECT_EQ(Cp1252ToUtf8("\xE9"), "\xC3\xA9");
  EXPECT_EQ(Cp1252ToCodePoint(0x9C), U'\x0153');
  EXPECT_FALSE(RepresentableInCp1252(U'\x20AD'));
  EXPECT_TRUE(RepresentableInCp1252(U'?'));
}

TEST(CodePageTest, Utf16NarrowsPairsAndLoneSurrogates) {
  struct Row {
    const char* name;
    std::u16string units;
    std::string cp1252;
  };
  const Row rows[] = {
      {"plain", u"Hello", "Hello"},
      {"euro and dash", u"\u20AC\u2013", "\x80\x96"},
      {"pair is one character", u"a\U0001F600b", "a?b"},
      {"lone high", std::u16string(u"a") + char16_t(0xD800) + u"b", "a?b"},
      {"lone low", std::u16string(1, char16_t(0xDC00)), "?"},
      {"high at end", std::u16string(1, char16_t(0xDBFF)), "?"},
  };
  for (const Row& row : rows) EXPECT_EQ(Utf16ToCp1252(row.units), row.cp1252) << row.name;
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
