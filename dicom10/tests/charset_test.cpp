// Decoding values by Specific Character Set, encoding objects' UTF-8 texts, and the UTF-8 helpers.
#include "charset.h"

#include <gtest/gtest.h>

#include "dcmobj.h"

namespace {

struct DecodeCase {
  const char* name;
  const char* characterSet;
  std::string bytes;
  std::string utf8;
};

// Examples of PS3.5 Annexes H, I and J where they exist; the others are names in the set's script.
TEST(CharsetTest, ValuesAreDecodedByTheirSpecificCharacterSet) {
  const DecodeCase cases[] = {
      {"nothing declared, Windows-1252 bytes", "", "M\xFCller \x80", "M\xC3\xBCller \xE2\x82\xAC"},
      {"nothing declared, UTF-8 bytes", "", "M\xC3\xBCller", "M\xC3\xBCller"},
      {"ISO_IR 6", "ISO_IR 6", "Smith^John", "Smith^John"},
      {"ISO_IR 100", "ISO_IR 100", "M\xFCller^J\xF6rg", "M\xC3\xBCller^J\xC3\xB6rg"},
      {"ISO_IR 101", "ISO_IR 101", "\xA3ukasz", "\xC5\x81ukasz"},
      {"ISO_IR 109", "ISO_IR 109", "\xA1", "\xC4\xA6"},
      {"ISO_IR 110", "ISO_IR 110", "\xA3", "\xC5\x96"},
      {"ISO_IR 144", "ISO_IR 144", "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD",
       "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
      {"ISO_IR 127", "ISO_IR 127", "\xE2\xC8\xC7\xE6\xD9",
       "\xD9\x82\xD8\xA8\xD8\xA7\xD9\x86\xD8\xB9"},
      {"ISO_IR 126", "ISO_IR 126", "\xC4\xE9\xEF\xED\xF5\xF3\xE9\xEF\xF2",
       "\xCE\x94\xCE\xB9\xCE\xBF\xCE\xBD\xCF\x85\xCF\x83\xCE\xB9\xCE\xBF\xCF\x82"},
      {"ISO_IR 138", "ISO_IR 138", "\xF9\xF8\xE4^\xE3\xE1\xE5\xF8\xE4",
       "\xD7\xA9\xD7\xA8\xD7\x94^\xD7\x93\xD7\x91\xD7\x95\xD7\xA8\xD7\x94"},
      {"ISO_IR 148", "ISO_IR 148", "\xDE", "\xC5\x9E"},
      {"ISO_IR 166", "ISO_IR 166", "\xA1", "\xE0\xB8\x81"},
      {"ISO_IR 192", "ISO_IR 192", "\xD0\x98\xD0\xB2", "\xD0\x98\xD0\xB2"},
      {"ISO_IR 192, broken byte", "ISO_IR 192",
       "A\xFF"
       "B",
       "A\xEF\xBF\xBD"
       "B"},
      {"GB18030", "GB18030", "Wang^XiaoDong=\xCD\xF5^\xD0\xA1\xB6\xAB=",
       "Wang^XiaoDong=\xE7\x8E\x8B^\xE5\xB0\x8F\xE4\xB8\x9C="},
      {"ISO 2022 IR 87 (H.3.1)", "\\ISO 2022 IR 87",
       "Yamada^Tarou=\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B=\x1B$B$d$^$@\x1B(B^\x1B$B$?$m$&\x1B(B",
       "Yamada^Tarou=\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E="
       "\xE3\x82\x84\xE3\x81\xBE\xE3\x81\xA0^\xE3\x81\x9F\xE3\x82\x8D\xE3\x81\x86"},
      {"ISO 2022 IR 13 and 87 (H.3.2)", "ISO 2022 IR 13\\ISO 2022 IR 87",
       "\xD4\xCF\xC0\xDE^\xC0\xDB\xB3=\x1B$B;3ED\x1B(J^\x1B$BB@O:\x1B(J=\x1B$B$d$^$@\x1B(J^"
       "\x1B$B$?$m$&\x1B(J",
       "\xEF\xBE\x94\xEF\xBE\x8F\xEF\xBE\x80\xEF\xBE\x9E^\xEF\xBE\x80\xEF\xBE\x9B\xEF\xBD\xB3="
       "\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E="
       "\xE3\x82\x84\xE3\x81\xBE\xE3\x81\xA0^\xE3\x81\x9F\xE3\x82\x8D\xE3\x81\x86"},
      {"ISO 2022 IR 149 (I.2)", "\\ISO 2022 IR 149",
       "Hong^Gildong=\x1B$)C\xFB\xF3^\x1B$)C\xD1\xCE\xD4\xD7=\x1B$)C\xC8\xAB^\x1B$)"
       "C\xB1\xE6\xB5\xBF",
       "Hong^Gildong=\xE6\xB4\xAA^\xE5\x90\x89\xE6\xB4\x9E=\xED\x99\x8D^\xEA\xB8\xB8\xEB\x8F\x99"},
      {"ISO 2022 IR 100 and 144 switched by escapes", "ISO 2022 IR 100\\ISO 2022 IR 144",
       "M\xFCller \x1B-L\xB8\xD2\xD0\xDD", "M\xC3\xBCller \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
      {"an unknown set loses no ASCII", "ISO_IR 999", "Ab\xE9", "Ab\xEF\xBF\xBD"},
  };
  for (const DecodeCase& testCase : cases) {
    EXPECT_EQ(DecodeValueToUtf8(testCase.bytes, testCase.characterSet, true), testCase.utf8)
        << testCase.name;
  }
  EXPECT_TRUE(IsKnownCharacterSet("ISO 2022 IR 13\\ISO 2022 IR 87"));
  EXPECT_TRUE(IsKnownCharacterSet(""));
  EXPECT_FALSE(IsKnownCharacterSet("ISO_IR 999"));
}

TEST(CharsetTest, AResponseIdentifierIsDecodedToUtf8AtEveryDepth) {
  DcmObj identifier;
  identifier.AddString(0x0008, 0x0005, "ISO_IR 144");
  identifier.AddString(0x0010, 0x0010, "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD");
  identifier.AddString(0x0010, 0x0020, "ID1");
  auto step = std::make_unique<DcmObj>();
  step->AddString(0x0040, 0x0007, "\xC1\xDD\xD8\xDC\xDE\xDA");  // "Снимок"
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(step));
  identifier.AddSequence(0x0040, 0x0100, std::move(sequence));

  DecodeDataSetToUtf8(identifier);
  EXPECT_EQ(identifier.GetString(0x0008, 0x0005), "ISO_IR 192");
  EXPECT_EQ(identifier.GetString(0x0010, 0x0010),
            "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
  EXPECT_EQ(identifier.GetString(0x0010, 0x0020), "ID1");
  const DcmObj* item = identifier.ObjAt(identifier.Count() - 1)->ObjAt(0);
  EXPECT_EQ(item->GetString(0x0040, 0x0007), "\xD0\xA1\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA");
}

TEST(CharsetTest, ObjectsDeclareTheSmallestSetTheirTextsNeed) {
  struct Case {
    const char* name;
    std::string patientName;
    std::string nestedText;
    const char* declared;     // "" when nothing is declared
    std::string writtenName;  // the bytes of Patient's Name after encoding (padded)
  };
  const Case cases[] = {
      {"ASCII", "Smith^John", "text", "", "Smith^John"},
      {"Latin-1", "M\xC3\xBCller", "text", "ISO_IR 100", "M\xFCller"},
      {"Latin-1 in a nested item only", "Smith",
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       "ISO_IR 100", "Smith "},
      {"Greek", "\xCE\x94\xCE\xB9\xCE\xBF", "text", "ISO_IR 192", "\xCE\x94\xCE\xB9\xCE\xBF"},
      {"a Euro sign beside Latin-1", "M\xC3\xBCller", "5 \xE2\x82\xAC", "ISO_IR 192",
       "M\xC3\xBCller "},
      {"Windows-1252 bytes are widened, not lost", "M\xFCller \x80", "text", "ISO_IR 192",
       "M\xC3\xBCller \xE2\x82\xAC"},
  };
  for (const Case& testCase : cases) {
    DcmObj object;
    object.AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
    object.AddString(0x0010, 0x0010, testCase.patientName);
    auto item = std::make_unique<DcmObj>();
    item->AddString(0x0040, 0xA160, testCase.nestedText);
    auto sequence = std::make_unique<DcmObj>();
    sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
    object.AddSequence(0x0040, 0xA730, std::move(sequence));

    EXPECT_EQ(EncodeObjectTexts(object), testCase.declared) << testCase.name;
    const DcmTag* declared = object.FindTag(0x0008, 0x0005);
    if (std::string(testCase.declared).empty()) {
      EXPECT_EQ(declared, nullptr) << testCase.name;
    } else {
      ASSERT_NE(declared, nullptr) << testCase.name;
      EXPECT_EQ(object.TagAt(0), declared) << testCase.name << ": first in tag order";
    }
    std::string written(object.FindTag(0x0010, 0x0010)->Bytes());
    if (written.size() > testCase.writtenName.size()) written.pop_back();
    EXPECT_EQ(written, testCase.writtenName) << testCase.name;
  }
}

TEST(CharsetTest, AnObjectThatDeclaredLatin1GoesToUtf8WhenATextNeedsIt) {
  DcmObj pdf;
  pdf.AddString(0x0008, 0x0005, "ISO_IR 100");
  pdf.AddString(0x0010, 0x0010, "Smith");
  EXPECT_EQ(EncodeObjectTexts(pdf), "");
  EXPECT_EQ(pdf.GetString(0x0008, 0x0005), "ISO_IR 100");
  pdf.AddString(0x0042, 0x0010, "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.pdf");
  EXPECT_EQ(EncodeObjectTexts(pdf), "ISO_IR 192");
  EXPECT_EQ(pdf.GetString(0x0008, 0x0005), "ISO_IR 192");
}

TEST(CharsetTest, Utf8HelpersNeverCutACharacter) {
  EXPECT_TRUE(IsValidUtf8("M\xC3\xBCller"));
  EXPECT_FALSE(IsValidUtf8("M\xFCller"));
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_EQ(TextToUtf8("\x93q\x94"), "\xE2\x80\x9Cq\xE2\x80\x9D");
  EXPECT_EQ(Utf8Prefix("\xD0\x98\xD0\xB2\xD0\xB0", 2), "\xD0\x98\xD0\xB2");
  EXPECT_EQ(Utf8Length("\xD0\x98\xD0\xB2\xD0\xB0"), 3u);

  std::string narrow;
  std::string refused;
  EXPECT_TRUE(Utf8ToCp1252Strict("STATION\xE2\x82\xAC", narrow, refused));
  EXPECT_EQ(narrow, "STATION\x80");
  EXPECT_FALSE(Utf8ToCp1252Strict("\xCE\x94X", narrow, refused));
  EXPECT_EQ(refused, "\xCE\x94");
}

}  // namespace
