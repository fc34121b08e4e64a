// Dump lines of elements and data sets, and the UID names they show.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "charset.h"
#include "dcmobj.h"
#include "dump.h"
#include "uid_tables.h"
#include "uids.h"

namespace {

struct LineCase {
  const char* what;
  uint16_t group;
  uint16_t element;
  const char* vr;  // the tag's own VR
  std::string value;
  int depth;
  std::string expected;
  bool undefinedLength = false;
  bool bigEndian = false;
};

DcmTag MakeTag(const LineCase& c) {
  DcmTag tag(c.group, c.element);
  tag.SetVR(c.vr);
  tag.bigEndian = c.bigEndian;
  if (c.undefinedLength) {
    tag.length = kUndefinedLength;
  } else {
    tag.SetValue(c.value.data(), static_cast<uint32_t>(c.value.size()));
  }
  return tag;
}

std::string Bytes(std::initializer_list<uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(DumpLineTest, FormatsHeadNameAndValueAsOperatorsReadThem) {
  const std::string uid26 = "1.2.826.0.1.3680043.2.1143";
  const LineCase cases[] = {
      {"text at top level", 0x0008, 0x0060, "CS", "OT", 0, "(0008,0060),  2, CS, Modality: OT"},
      {"depth 1 has no dots", 0x0008, 0x0060, "CS", "OT", 1, "(0008,0060),  2, CS, Modality: OT"},
      {"depth 2 has one run of dots", 0x0008, 0x1155, "UI", uid26, 2,
       "...(0008,1155), 26, UI, Referenced SOP Instance UID: 1.2.826.0.1.3680043.2.1143"},
      {"depth 3", 0x0008, 0x0060, "CS", "OT", 3, "......(0008,0060),  2, CS, Modality: OT"},
      {"empty value", 0x0010, 0x0020, "LO", "", 0, "(0010,0020),  0, LO, Patient ID: "},
      {"undefined length", 0x7FE0, 0x0010, "OB", "", 0, "(7FE0,0010), -1, OW, Pixel Data: ", true},
      {"value up to 254 bytes is shown", 0x0020, 0x4000, "LT", std::string(254, 'a'), 0,
       "(0020,4000), 254, LT, Image Comments: " + std::string(254, 'a')},
      {"value of 255 bytes is not", 0x0020, 0x4000, "LT", std::string(255, 'a'), 0,
       "(0020,4000), 255, LT, Image Comments: "},
      {"long value", 0x0020, 0x4000, "LT", std::string(70000, 'a'), 0,
       "(0020,4000), 70000, LT, Image Comments: "},
      {"text stops at a zero byte", 0x0008, 0x0070, "LO", std::string("AB\0CD", 5), 0,
       "(0008,0070),  5, LO, Manufacturer: AB"},
      {"US is unsigned", 0x0028, 0x0010, "US", Bytes({0xFE, 0xFF}), 0,
       "(0028,0010),  2, US, Rows: 65534"},
      {"big-endian US is turned round", 0x0028, 0x0010, "US", Bytes({0x01, 0x02}), 0,
       "(0028,0010),  2, US, Rows: 258", false, true},
      {"big-endian SL", 0x0018, 0x6020, "SL", Bytes({0xFF, 0xFF, 0xFF, 0xFE}), 0,
       "(0018,6020),  4, SL, Reference Pixel X0: -2", false, true},
      {"big-endian FL", 0x0010, 0x9431, "FL", Bytes({0x3F, 0xC0, 0x00, 0x00}), 0,
       "(0010,9431),  4, FL, Examined Body Thickness:  1.50", false, true},
      {"big-endian FD", 0x0008, 0x1163, "FD", Bytes({0x40, 0xC3, 0x88, 0, 0, 0, 0, 0}), 0,
       "(0008,1163),  8, FD, Time Range: 10000.00", false, true},
      {"big-endian text is left alone", 0x0008, 0x0060, "CS", "OT", 0,
       "(0008,0060),  2, CS, Modality: OT", false, true},
      {"several US values", 0x0028, 0x0010, "US", Bytes({1, 0, 2, 0, 3, 0}), 0,
       "(0028,0010),  6, US, Rows: Vector!!"},
      {"SS prints unsigned", 0x0028, 0x0106, "SS", Bytes({0xFF, 0xFF}), 0,
       "(0028,0106),  2, SS, Smallest Image Pixel Value US or: 65535"},
      {"SL is signed", 0x0018, 0x6020, "SL", Bytes({0xFF, 0xFF, 0xFF, 0xFF}), 0,
       "(0018,6020),  4, SL, Reference Pixel X0: -1"},
      {"UL of 2^31 prints negative", 0x0000, 0x0000, "UL", Bytes({0, 0, 0, 0x80}), 0,
       "(0000,0000),  4, UL, Group Length: -2147483648"},
      {"FL", 0x0010, 0x9431, "FL", Bytes({0x00, 0x00, 0xC0, 0x3F}), 0,
       "(0010,9431),  4, FL, Examined Body Thickness:  1.50"},
      {"FD", 0x0008, 0x1163, "FD", Bytes({0x6E, 0x86, 0x1B, 0xF0, 0xF9, 0x21, 0x09, 0x40}), 0,
       "(0008,1163),  8, FD, Time Range:  3.14"},
      {"FD wider than five columns", 0x0008, 0x1163, "FD",
       Bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x88, 0xC3, 0x40}), 0,
       "(0008,1163),  8, FD, Time Range: 10000.00"},
      {"known UID", 0x0002, 0x0010, "UI", std::string("1.2.840.10008.1.2.1") + '\0', 0,
       "(0002,0010), 20, UI, Transfer Syntax UID: 1.2.840.10008.1.2.1 (Little Endian Explicit "
       "VR) "},
      {"name with trailing space", 0x0002, 0x0010, "UI", "1.2.840.10008.1.2.4.50", 0,
       "(0002,0010), 22, UI, Transfer Syntax UID: 1.2.840.10008.1.2.4.50 (JPEG BaseLine Lossy ) "},
      {"unknown UID", 0x0008, 0x0016, "UI", std::string("1.2.3.4") + '\0', 0,
       "(0008,0016),  8, UI, SOP Class UID: 1.2.3.4"},
      {"space-padded UID is not named", 0x0002, 0x0010, "UI", "1.2.840.10008.1.2 ", 0,
       "(0002,0010), 18, UI, Transfer Syntax UID: 1.2.840.10008.1.2 "},
      {"the dictionary's VR is shown", 0x0010, 0x0010, "LO", "DOE^JANE", 0,
       "(0010,0010),  8, PN, Patient\x92s Name: DOE^JANE"},
      {"unknown tag shows its own VR", 0x0009, 0x0010, "LO", "ACME 1.0", 0,
       "(0009,0010),  8, LO, *** Unidentified ***: ACME 1.0"},
      {"unknown tag without a VR", 0x0009, 0x1001, "", "ab", 0,
       "(0009,1001),  2, , *** Unidentified ***: ab"},
      {"sequence value is never shown", 0x0008, 0x1115, "SQ", "encoded", 0,
       "(0008,1115),  7, SQ, Referenced Series Sequence: "},
  };
  for (const LineCase& c : cases) {
    const DcmTag tag = MakeTag(c);
    EXPECT_EQ(DumpLine(tag, c.depth), c.expected) << c.what;
    EXPECT_EQ(tag.VR(), std::string_view(c.vr)) << c.what << ": the tag's VR must not change";
  }
}

TEST(DumpLineTest, HugeFloatsAreWrittenInFull) {
  // printf's "%5.2f" in the C locale is the reference; a small fixed buffer would cut it short.
  const double huge = -1.5e300;
  char reference[512];
  std::snprintf(reference, sizeof reference, "%5.2f", huge);
  DcmTag tag(0x0008, 0x1163);
  tag.SetVR("FD");
  tag.SetValue(&huge, sizeof huge);
  EXPECT_EQ(DumpLine(tag, 0), std::string("(0008,1163),  8, FD, Time Range: ") + reference);
}

// Everything a dump could disturb in one entry and, recursively, in nested data sets.
void Snapshot(const DcmObj& dataSet, std::vector<std::string>& out) {
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    const DcmTag& tag = dataSet.EntryTag(i);
    out.push_back(std::string(tag.vr, 4) + std::to_string(tag.length) + "|" +
                  std::string(tag.Bytes()) + (tag.bigEndian ? "|be" : "|le"));
    if (const DcmObj* nested = dataSet.ObjAt(i)) Snapshot(*nested, out);
  }
}

TEST(DumpTest, NestedFlatAndCommandElementsInOrder) {
  DcmObj dataSet;
  dataSet.Append(DcmTag::FromUS(0x0000, 0x0100, 0x0001, "UL"));  // wrong VR, as a decoder may leave
  dataSet.Append(DcmTag::FromText(0x0008, 0x0060, "OT"));
  // A flat sequence, as read with undefined lengths.
  dataSet.Append(DcmTag::FromBytes(0x0008, 0x1110, kUndefinedLength, nullptr, "SQ"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE000, kUndefinedLength, nullptr));
  dataSet.Append(DcmTag::FromText(0x0008, 0x1155, "1.2.3"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr));
  // A nested sequence with one item, as built by the converters.
  auto item = std::make_unique<DcmObj>();
  item->AddString(0x0008, 0x1150, "1.2.840.10008.5.1.4.1.1.7");
  item->AddString(0x0008, 0x1155, "1.2.826.0.1.3680043.2.1143");
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  dataSet.AddSequence(0x0008, 0x1115, std::move(sequence));
  dataSet.Append(DcmTag::FromBytes(0x0010, 0x0010, 8, "DOE^JANE", "LO"));

  std::vector<std::string> before;
  Snapshot(dataSet, before);
  std::vector<std::string> lines = {"kept"};
  dataSet.Dump(lines, 0);

  const std::vector<std::string> expected = {
      "kept",
      "(0000,0100),  2, US, Command Field: 1",
      "(0008,0060),  2, CS, Modality: OT",
      "(0008,1110), -1, SQ, Referenced Study Sequence: ",
      "(FFFE,E000), -1, DL, Item: ",
      "(0008,1155),  6, UI, Referenced SOP Instance UID: 1.2.3",
      "(FFFE,E00D),  0, DL, Item Delimitation Item: ",
      "(FFFE,E0DD),  0, DL, Sequence Delimitation Item: ",
      "(0008,1115),  0, SQ, Referenced Series Sequence: ",
      "(FFFE,E000),  0, DL, Item: ",
      "...(0008,1150), 26, UI, Referenced SOP Class UID: 1.2.840.10008.5.1.4.1.1.7 (Secondary "
      "Capture Image Storage) ",
      "...(0008,1155), 26, UI, Referenced SOP Instance UID: 1.2.826.0.1.3680043.2.1143",
      "(0010,0010),  8, PN, Patient\x92s Name: DOE^JANE",
  };
  EXPECT_EQ(lines, expected);

  // The command element now carries its dictionary VR; nothing else changed.
  std::vector<std::string> after;
  Snapshot(dataSet, after);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[0], std::string("US\0\0", 4) + "2|" + Bytes({1, 0}) + "|le");
  for (size_t i = 1; i < after.size(); ++i) EXPECT_EQ(after[i], before[i]) << "entry " << i;
}

// A data set that declares `characterSet` (nothing when null) with a person name and a
// description holding the given bytes, plus a binary value.
std::unique_ptr<DcmObj> TextDataSet(const char* characterSet, const std::string& name,
                                    const std::string& description) {
  auto dataSet = std::make_unique<DcmObj>();
  if (characterSet) dataSet->AddString(0x0008, 0x0005, characterSet);
  dataSet->AddString(0x0008, 0x1030, description);
  dataSet->Append(
      DcmTag::FromBytes(0x0010, 0x0010, static_cast<uint32_t>(name.size()), name.data(), "PN"));
  dataSet->Append(DcmTag::FromBytes(0x0028, 0x0010, 2, "\x00\x02", "US"));
  return dataSet;
}

TEST(DumpLinesUtf8Test, TextsAreDecodedByTheDeclaredCharacterSet) {
  struct Case {
    const char* what;
    const char* characterSet;  // nullptr: none declared
    std::string name;
    std::string description;
    std::string nameShown;
    std::string descriptionShown;
  };
  const std::string replacement = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"Cyrillic", "ISO_IR 144", "\xB8\xD2\xD0\xDD\xDE\xD2", "\xB8\xD2\xD0\xDD\xDE\xD2", "Иванов",
       "Иванов"},
      {"Greek", "ISO_IR 126", "\xC4\xE9\xEF\xED\xF5\xF3\xE9\xEF\xF2", "CT", "Διονυσιος", "CT"},
      {"Japanese with ISO 2022 escapes", "\\ISO 2022 IR 87",
       "Yamada^Tarou=\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B", "\x1B$B;3ED\x1B(B",
       "Yamada^Tarou=山田^太郎", "山田"},
      {"UTF-8", "ISO_IR 192", "Wang^XiaoDong=王^小東", "Gehirn \xC3\xBC", "Wang^XiaoDong=王^小東",
       "Gehirn ü"},
      {"Latin-1", "ISO_IR 100", "M\xFCller^J\xF6rg", "caf\xE9", "Müller^Jörg", "café"},
      {"nothing declared: UTF-8 where valid, Windows-1252 elsewhere", nullptr, "M\xFCller\x96Smith",
       "M\xC3\xBCller", "Müller–Smith", "Müller"},
      // Bytes the declared set cannot explain become U+FFFD, never raw bytes.
      {"invalid UTF-8", "ISO_IR 192",
       "A\xFF\xFE"
       "B",
       "\xC3", "A" + replacement + replacement + "B", replacement},
      {"byte undefined in Greek", "ISO_IR 126",
       "A\xAE"
       "B",
       "CT", "A" + replacement + "B", "CT"},
      {"JIS escape cut short", "\\ISO 2022 IR 87", "\x1B$B;3", "\x1B$", "山", replacement + "$"},
      {"unknown set", "ISO_IR 999", "\xE9t\xE9", "ok", replacement + "t" + replacement, "ok"},
  };
  // The line DumpLine writes for a value of these bytes, stored padded to even length with a
  // blank, with the value shown as given.
  const auto line = [](const char* head, const std::string& bytes, const std::string& shown) {
    const size_t length = bytes.size() + bytes.size() % 2;
    return std::string(head).substr(0, 11) + ", " + (length < 10 ? " " : "") +
           std::to_string(length) + std::string(head).substr(11) + shown +
           (bytes.size() % 2 ? " " : "");
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> lines =
        DumpLinesUtf8(*TextDataSet(c.characterSet, c.name, c.description));
    for (const std::string& text : lines) EXPECT_TRUE(IsValidUtf8(text)) << text;
    const size_t first = c.characterSet ? 1 : 0;
    ASSERT_EQ(lines.size(), first + 3);
    EXPECT_EQ(lines[first],
              line("(0008,1030), LO, Study Description: ", c.description, c.descriptionShown));
    // The head keeps the stored length; the dictionary's apostrophe is widened as well.
    EXPECT_EQ(lines[first + 1],
              line("(0010,0010), PN, Patient\u2019s Name: ", c.name, c.nameShown));
    // Binary values are shown as before.
    EXPECT_EQ(lines[first + 2], "(0028,0010),  2, US, Rows: 512");
  }
}

TEST(DumpLinesUtf8Test, NestedItemsUseTheirOwnSetAndBinaryBytesStayReadable) {
  DcmObj dataSet;
  dataSet.AddString(0x0008, 0x0005, "ISO_IR 100");
  dataSet.AddString(0x0008, 0x1030, "caf\xE9");
  auto item = std::make_unique<DcmObj>();
  item->AddString(0x0008, 0x0005, "ISO_IR 144");
  item->Append(DcmTag::FromBytes(0x0010, 0x0010, 6, "\xB8\xD2\xD0\xDD\xDE\xD2", "PN"));
  auto inherits = std::make_unique<DcmObj>();
  inherits->AddString(0x0008, 0x103E, "\xE9t\xE9");
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  sequence->AddSequence(0xFFFE, 0xE000, std::move(inherits));
  dataSet.AddSequence(0x0040, 0x0275, std::move(sequence));
  // An 8-bit binary value with bytes that are not UTF-8.
  dataSet.Append(DcmTag::FromBytes(0x0009, 0x1010, 4, "A\xFF\x80Z", "OB"));

  const std::vector<std::string> lines = DumpLinesUtf8(dataSet);
  for (const std::string& line : lines) EXPECT_TRUE(IsValidUtf8(line)) << line;
  const std::string text = [&] {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
  }();
  EXPECT_NE(text.find("Study Description: café\n"), std::string::npos) << text;
  EXPECT_NE(text.find("...(0010,0010),  6, PN, Patient\u2019s Name: Иванов\n"), std::string::npos)
      << text;
  // An item without a set of its own reads by the enclosing data set's.
  EXPECT_NE(text.find("Series Description: été \n"), std::string::npos) << text;
  // Not text: its bytes are not decoded by any set, only made readable.
  EXPECT_NE(text.find("(0009,1010),  4, OB, "), std::string::npos) << text;
  EXPECT_NE(text.find(": A\u00FF\u20ACZ\n"), std::string::npos) << text;
}

TEST(UidNameTest, NamesAreExactAndMatchingIsExact) {
  // Every row is found under its own UID, so no row shadows another.
  for (const auto& row : uid_tables::kUidNames) EXPECT_EQ(UidName(row.uid), row.name) << row.uid;

  const std::pair<std::string, std::string> cases[] = {
      {"1.2.840.10008.1.2.4.50", "JPEG BaseLine Lossy "},
      {"1.2.840.10008.5.1.4.1.1.7", "Secondary Capture Image Storage"},
      {"1.2.840.10008.5.1.4.1.1.11.3", "Pseudo Color Softcopy Presentation StateStorage"},
      {"1.2.840.10008.5.1.1.30", "Hardcopy Color Image StorageSOP Class (Retired)"},
      {"1.2.840.10008.1.2", "Little Endian Implicit VR"},
      {"1.2.840.10008.5.1.4.1.1.13.1.2", ""},  // an image class without a name
      {"1.2.840.10008.1.2.4.57", ""},
      {"1.2.840.10008.1.2.4.100", ""},
      {std::string("1.2.840.10008.1.2.1") + '\0', ""},
      {"1.2.840.10008.1.2.1 ", ""},
      {"1.2.840.10008.1.2.", ""},
      {"1.2.840.10008.1.", ""},
      {"", ""},
  };
  for (const auto& [uid, name] : cases) EXPECT_EQ(UidName(uid), name) << uid;
}

}  // namespace
