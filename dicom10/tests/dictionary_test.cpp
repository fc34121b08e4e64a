// The data dictionary: its rows, its lookups, and the VRs it hands to the encoder.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "dcmobj.h"
#include "dicomfile.h"
#include "dictionary.h"
#include "testsupport.h"

namespace {

using testsupport::HaveProgram;
using testsupport::RunCommand;
using testsupport::TempDir;

// What a lookup must return: the first row of the table, in stored order, with this tag.
const DictionaryRow* ScanForFirstRow(uint16_t group, uint16_t element) {
  for (const DictionaryRow& row : DictionaryRows()) {
    if (row.group == group && row.element == element) return &row;
  }
  return nullptr;
}

struct LookupCase {
  uint16_t group;
  uint16_t element;
  const char* vr;    // "UN" when the tag is not in the table
  const char* name;  // Windows-1252
};

TEST(DictionaryTest, KnownAndUnknownTagsGiveTheirVRAndName) {
  const LookupCase cases[] = {
      {0x0010, 0x0010, "PN", "Patient\x92s Name"},
      {0x0008, 0x1070, "PN", "Operators\x92 Name"},
      {0x0009, 0x0010, "UN", "*** Unidentified ***"},  // private creator
      {0x0028, 0x0106, "SS", "Smallest Image Pixel Value US or"},
      {0x0028, 0x0120, "SS", "Pixel Padding Value US or"},
      {0x0028, 0x3006, "OW", "LUT Data US or"},
      {0x5400, 0x1010, "OW", "Waveform Data OB or"},
      {0x6000, 0x3000, "OW", "Overlay Data OB or"},
      {0x5000, 0x3000, "OB", "Curve Data OW or (RET)"},
      {0x7FE0, 0x0010, "OW", "Pixel Data"},
      {0x6000, 0x1100, "US", "Overlay Descriptor \x96 Gray (RET)"},
      {0x6002, 0x3000, "UN", "*** Unidentified ***"},  // repeating groups are not masked
      {0x5002, 0x3000, "UN", "*** Unidentified ***"},
      {0x0008, 0x0001, "UL", "Length to End (RET)"},
      {0x0000, 0x0000, "UL", "Group Length"},
      {0x0002, 0x0000, "UL", "Group Length"},
      {0x3008, 0x0000, "UL", "Group Length"},
      {0x7FE0, 0x0000, "UL", "Group 7FE0 Length"},
      {0x0000, 0x0002, "UI", "Affected SOP Class UID"},
      {0x0000, 0x0100, "US", "Command Field"},
      {0x0000, 0x0600, "AE", "Move Destination"},
      {0x0000, 0x0900, "US", "Status"},
      {0x0000, 0x1021, "US", "Number of Completed Sub-operations"},
      {0x0042, 0x0011, "OB", "Encapsulated Document"},
      {0x0028, 0x7FE0, "UR", "Pixel Data Provider URL"},
      {0x0008, 0x9460, "CS", "Skip Frame Range Flag"},
      {0x5600, 0x0010, "OF", "First Order Phase Correction Angle"},
      {0x5600, 0x0020, "OF", "Spectroscopy Data"},
      {0xFFFE, 0xE000, "DL", "Item"},
      {0xFFFE, 0xE00D, "DL", "Item Delimitation Item"},
      {0xFFFE, 0xE0DD, "DL", "Sequence Delimitation Item"},
      {0xFFFA, 0xFFFA, "SQ", "Digital Signatures Sequence"},
      {0xFFFC, 0xFFFC, "OB", "Data Set Trailing Padding"},
      {0xFFFE, 0x0000, "UN", "*** Unidentified ***"},
      // Groups the table leaves out, each with an attribute the standard defines.
      {0x0014, 0x0023, "UN", "*** Unidentified ***"},
      {0x0024, 0x0010, "UN", "*** Unidentified ***"},
      {0x0046, 0x0012, "UN", "*** Unidentified ***"},
      {0x0062, 0x0001, "UN", "*** Unidentified ***"},
      {0x0064, 0x0002, "UN", "*** Unidentified ***"},
      {0x0066, 0x0001, "UN", "*** Unidentified ***"},
      {0x0068, 0x6210, "UN", "*** Unidentified ***"},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.group << "," << c.element);
    DcmTag tag(c.group, c.element);
    tag.SetVR("AE");
    EXPECT_EQ(LookupVR(tag), std::string_view(c.vr) != "UN");
    EXPECT_EQ(tag.VR(), c.vr);
    EXPECT_EQ(std::string(tag.vr, 4), std::string(c.vr) + std::string(2, '\0'));
    EXPECT_EQ(LookupName(tag), c.name);
  }
}

TEST(DictionaryTest, LookupAgreesWithAFirstMatchScan) {
  // Every row, and the tags beside each row, which are mostly not in the table.
  std::vector<std::pair<uint16_t, uint16_t>> probes = {
      {0x0000, 0x0000}, {0xFFFF, 0xFFFF}, {0x0001, 0x0000}, {0xFFFE, 0xFFFF}, {0x7FE0, 0x0011}};
  for (const DictionaryRow& row : DictionaryRows()) {
    probes.emplace_back(row.group, row.element);
    probes.emplace_back(row.group, static_cast<uint16_t>(row.element + 1));
    probes.emplace_back(row.group, static_cast<uint16_t>(row.element - 1));
    probes.emplace_back(static_cast<uint16_t>(row.group + 1), row.element);
    probes.emplace_back(static_cast<uint16_t>(row.group | 0x0002), row.element);
  }
  size_t unknown = 0;
  for (const auto& [group, element] : probes) {
    const DictionaryRow* expected = ScanForFirstRow(group, element);
    ASSERT_EQ(FindDictionaryRow(group, element), expected) << std::hex << group << "," << element;
    DcmTag tag(group, element);
    ASSERT_EQ(LookupVR(tag), expected != nullptr);
    ASSERT_EQ(tag.VR(), expected ? std::string_view(expected->vr) : "UN");
    ASSERT_EQ(LookupName(tag), expected ? expected->name : "*** Unidentified ***");
    if (!expected) ++unknown;
  }
  EXPECT_GT(unknown, DictionaryRows().size());  // the probes did exercise the misses
}

TEST(DictionaryTest, RowsAreSortedWellFormedAndLimitedToTheToolkitsGroups) {
  const std::set<uint16_t> expectedGroups = {
      0x0000, 0x0002, 0x0004, 0x0008, 0x0010, 0x0012, 0x0018, 0x0020, 0x0022, 0x0028, 0x0032,
      0x0038, 0x003A, 0x0040, 0x0042, 0x0050, 0x0054, 0x0060, 0x0070, 0x0072, 0x0088, 0x0100,
      0x0400, 0x2000, 0x2010, 0x2020, 0x2030, 0x2040, 0x2050, 0x2100, 0x2110, 0x2120, 0x2130,
      0x2200, 0x3002, 0x3004, 0x3006, 0x3008, 0x300A, 0x300C, 0x300E, 0x4000, 0x4008, 0x4FFE,
      0x5000, 0x5200, 0x5400, 0x5600, 0x6000, 0x7FE0, 0xFFFA, 0xFFFC, 0xFFFE};
  std::set<uint16_t> groups;
  const DictionaryRow* previous = nullptr;
  for (const DictionaryRow& row : DictionaryRows()) {
    SCOPED_TRACE(testing::Message() << std::hex << row.group << "," << row.element);
    groups.insert(row.group);
    if (previous) {
      ASSERT_LT(uint32_t{previous->group} << 16 | previous->element,
                uint32_t{row.group} << 16 | row.element);
    }
    previous = &row;
    EXPECT_TRUE(row.vr[0] >= 'A' && row.vr[0] <= 'Z' && row.vr[1] >= 'A' && row.vr[1] <= 'Z');
    EXPECT_EQ(row.vr[2], 0);
    EXPECT_EQ(row.vr[3], 0);
    // Names are printable Windows-1252: ASCII plus the typographic apostrophe and en dash. A
    // stray control byte here would mean a hex escape swallowed the letter after it.
    ASSERT_NE(row.name[0], 0);
    for (const char* c = row.name; *c; ++c) {
      const auto byte = static_cast<uint8_t>(*c);
      EXPECT_TRUE((byte >= 0x20 && byte < 0x7F) || byte == 0x92 || byte == 0x96) << row.name;
    }
  }
  EXPECT_EQ(groups, expectedGroups);
  for (uint16_t group : expectedGroups) {
    if (group >= 0xFFFA) continue;  // special tags, not groups of elements
    const DictionaryRow* length = FindDictionaryRow(group, 0x0000);
    ASSERT_NE(length, nullptr) << std::hex << group;
    EXPECT_STREQ(length->vr, "UL");
  }
}

TEST(DictionaryTest, LookupNameLeavesTheTagAlone) {
  auto tag = DcmTag::FromBytes(0x0010, 0x0010, 8, "DOE^JANE", "LO");
  const uint8_t* value = tag->value.get();
  EXPECT_EQ(LookupName(*tag), "Patient\x92s Name");
  EXPECT_EQ(tag->VR(), "LO");
  EXPECT_EQ(tag->length, 8u);
  EXPECT_EQ(tag->value.get(), value);
  EXPECT_EQ(tag->Bytes(), "DOE^JANE");
}

TEST(DictionaryTest, UnknownTagOfUndefinedLengthIsTakenForASequence) {
  // Only an unknown tag becomes "SQ"; a known one keeps the dictionary's VR.
  EXPECT_EQ(DcmTag::FromBytes(0x0009, 0x1010, kUndefinedLength, nullptr)->VR(), "SQ");
  EXPECT_EQ(DcmTag::FromBytes(0x0009, 0x1010, 4, "abcd")->VR(), "UN");
  EXPECT_EQ(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr)->VR(), "OW");
  EXPECT_EQ(DcmTag::FromBytes(0x0008, 0x1115, kUndefinedLength, nullptr)->VR(), "SQ");
}

// Elements read without a VR: repeating groups take the VRs of their first group, private
// creators are LO, and everything else is as the dictionary says.
TEST(DictionaryTest, ImplicitElementsTakeRepeatingGroupAndPrivateCreatorVRs) {
  const struct {
    uint16_t group;
    uint16_t element;
    const char* vr;
  } cases[] = {
      {0x0010, 0x0010, "PN"},
      {0x6002, 0x3000, "OW"},
      {0x601E, 0x0050, "SS"},
      {0x6000, 0x0010, "US"},
      {0x5004, 0x0005, "US"},
      {0x501E, 0x3000, "OB"},
      {0x6020, 0x0010, "UN"},  // past the last overlay group
      {0x6003, 0x3000, "UN"},  // odd: private, not an overlay
      {0x0009, 0x0010, "LO"},
      {0x0009, 0x00FF, "LO"},
      {0x6001, 0x0010, "LO"},
      {0x0009, 0x1010, "UN"},  // a private element: its creator alone knows its VR
      {0x0009, 0x0100, "UN"},
      {0x0009, 0x000F, "UN"},
      {0x0007, 0x0010, "UN"},  // odd groups up to 0008 hold no private elements
      {0xFFFF, 0x0010, "UN"},
      {0x0013, 0x0000, "UN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.group << "," << c.element);
    EXPECT_STREQ(ImplicitVR(c.group, c.element), c.vr);
    DcmTag tag(c.group, c.element);
    EXPECT_EQ(LookupImplicitVR(tag), std::string_view(c.vr) != "UN");
    EXPECT_EQ(tag.VR(), c.vr);
  }
}

TEST(DictionaryEncodingTest, EveryVRWithALongLengthIsEncodedWithOne) {
  // PS3.5 Table 7.1-1: these VRs have two reserved bytes and a 32-bit length in explicit VR.
  const std::set<std::string> longVRs = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                         "SV", "UC", "UN", "UR", "UT", "UV"};
  std::set<std::string> seen;
  for (const DictionaryRow& row : DictionaryRows()) {
    if (row.group == 0xFFFE) continue;  // items and delimiters never carry a VR
    seen.insert(row.vr);
    EXPECT_EQ(HasLongLength(row.vr), longVRs.count(row.vr) == 1) << row.vr << " " << row.name;
  }
  EXPECT_TRUE(seen.count("UC") && seen.count("UR") && seen.count("OV"));
}

// An element for each VR newer than the classic set, one of them too long for a 16-bit length.
struct ModernElement {
  uint16_t group;
  uint16_t element;
  const char* vr;
  std::string value;
};

std::vector<ModernElement> ModernElements() {
  return {
      {0x0008, 0x0119, "UC", std::string(70000, 'C')},
      {0x0018, 0x1638, "OF", std::string("\x00\x00\xC0\x3F", 4)},
      {0x0028, 0x7FE0, "UR", "http://pacs.example/pixels"},
      {0x0070, 0x150D, "OD", std::string("\x00\x00\x00\x00\x00\x00\xF8\x3F", 8)},
      {0x0072, 0x0075, "OL", std::string("\x01\x00\x00\x00", 4)},
      {0x0072, 0x0081, "OV", std::string("\x02\x00\x00\x00\x00\x00\x00\x00", 8)},
      {0x0072, 0x0082, "SV", std::string("\xFD\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8)},
      {0x0072, 0x0083, "UV", std::string("\x04\x00\x00\x00\x00\x00\x00\x00", 8)},
  };
}

TEST(DictionaryEncodingTest, ImplicitInputConvertedToExplicitKeepsModernVRsReadable) {
  TempDir dir;
  const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7";
  const std::string sopInstance = "1.2.826.0.1.3680043.2.1143.77";
  const std::string implicitPath = (dir / "implicit.dcm").string();
  {
    DcmObj dataSet;
    dataSet.AddString(0x0008, 0x0016, sopClass);
    dataSet.AddString(0x0008, 0x0018, sopInstance);
    for (const ModernElement& e : ModernElements()) {
      dataSet.AddBytes(e.group, e.element, static_cast<uint32_t>(e.value.size()), e.value.data());
    }
    ASSERT_TRUE(dataSet.SaveToFile(implicitPath, sopClass, sopInstance));
  }

  // Implicit VR input gets its VRs from the dictionary; written again in explicit VR, those
  // decide the length fields other toolkits read.
  DicomFile input;
  std::string error;
  ASSERT_TRUE(ReadDicomFile(implicitPath, input, error)) << error;
  for (const ModernElement& e : ModernElements()) {
    const DcmTag* tag = input.dataSet.FindTag(e.group, e.element);
    ASSERT_NE(tag, nullptr) << e.vr;
    EXPECT_EQ(tag->VR(), e.vr);
    EXPECT_EQ(tag->Bytes(), e.value) << e.vr;
  }
  input.dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  const std::string explicitPath = (dir / "explicit.dcm").string();
  ASSERT_TRUE(input.dataSet.SaveToFile(explicitPath, sopClass, sopInstance));

  DicomFile reread;
  ASSERT_TRUE(ReadDicomFile(explicitPath, reread, error)) << error;
  for (const ModernElement& e : ModernElements()) {
    const DcmTag* tag = reread.dataSet.FindTag(e.group, e.element);
    ASSERT_NE(tag, nullptr) << e.vr;
    EXPECT_EQ(tag->VR(), e.vr);
    EXPECT_EQ(tag->Bytes(), e.value) << e.vr;
  }

  ASSERT_TRUE(HaveProgram("dcmdump")) << "dcmdump missing (scripts/setup.sh installs it)";
  const auto dump = RunCommand({"dcmdump", "-q", "+L", explicitPath});
  EXPECT_EQ(dump.exitCode, 0) << dump.errors;
  EXPECT_NE(dump.output.find("(0028,7fe0) UR [http://pacs.example/pixels]"), std::string::npos)
      << dump.output;
  EXPECT_NE(dump.output.find("(0072,0082) SV -3"), std::string::npos) << dump.output;
  EXPECT_NE(dump.output.find("# 70000,"), std::string::npos) << dump.output;
  ASSERT_TRUE(HaveProgram("/usr/bin/python3"))
      << "/usr/bin/python3 missing (scripts/setup.sh installs it)";
  const auto read =
      RunCommand({"/usr/bin/python3", "-c",
                  "import sys, pydicom\n"
                  "ds = pydicom.dcmread(sys.argv[1])\n"
                  "print(ds[0x00080119].VR, len(ds.LongCodeValue), ds[0x00720082].VR,\n"
                  "      ds[0x00720082].value, ds.PixelDataProviderURL)\n",
                  explicitPath});
  EXPECT_EQ(read.exitCode, 0) << read.errors;
  EXPECT_EQ(read.output, "UC 70000 SV -3 http://pacs.example/pixels\n") << read.errors;
}

}  // namespace
