// Tests of the Basic Text SR builder: the data set and content tree element by element, and the
// written file as DCMTK and pydicom read it.
#include "srtext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conversioncontext.h"
#include "convertertest.h"
#include "dicomfile.h"
#include "testsupport.h"

namespace {

using testsupport::RunCommand;

// One entry of a data set as the tests compare it: the tag, and either the element's value
// (VR and text) or, for a nested data set, its kind.
struct Expected {
  uint16_t group;
  uint16_t element;
  std::string vr;  // "SQ" for a sequence, "" for an item
  std::string value;
};

std::string EntryValue(const DcmObj& dataSet, size_t index) {
  const DcmTag* tag = dataSet.TagAt(index);
  return tag ? std::string(tag->Bytes()) : std::string();
}

void ExpectEntries(const DcmObj& dataSet, const std::vector<Expected>& expected,
                   const std::string& where) {
  ASSERT_EQ(dataSet.Count(), expected.size()) << where;
  for (size_t i = 0; i < expected.size(); ++i) {
    const DcmTag& tag = dataSet.EntryTag(i);
    const Expected& want = expected[i];
    SCOPED_TRACE(where + " entry " + std::to_string(i));
    EXPECT_EQ(tag.group, want.group);
    EXPECT_EQ(tag.element, want.element);
    if (dataSet.ObjAt(i) != nullptr) {
      EXPECT_EQ(std::string(tag.VR()), want.vr);
    } else {
      EXPECT_EQ(std::string(tag.VR()), want.vr);
      EXPECT_EQ(EntryValue(dataSet, i), want.value);
    }
  }
}

// A code sequence: one item holding the four code elements in table order.
void ExpectCode(const DcmObj& sequence, const std::string& value, const std::string& meaning,
                const std::string& where) {
  ASSERT_EQ(sequence.Count(), 1u) << where;
  const DcmObj* item = sequence.ObjAt(0);
  ASSERT_NE(item, nullptr) << where;
  EXPECT_TRUE(item->header.Is(0xFFFE, 0xE000)) << where;
  auto padded = [](std::string text) {
    if (text.size() % 2) text += ' ';
    return text;
  };
  ExpectEntries(*item,
                {{0x0008, 0x0100, "SH", padded(value)},
                 {0x0008, 0x0102, "SH", padded("BRINDLEWICK")},
                 {0x0008, 0x0104, "LO", padded(meaning)},
                 // (0008,010C), the Coding Scheme UID, names the scheme by a UID of our own
                 // root: 33 characters, padded with a zero byte.
                 {0x0008, 0x010C, "UI", {"2.25.186492035740155963118.9999.5\0", 34}}},
                where);
}

class SRTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    study.studyInstanceUid = "1.2.3.4";
    study.studyDate = "20240131";
    study.studyTime = "101500";
    study.studyId = "S7";
    study.studyDescription = "Knee";
    study.accessionNumber = "ACC1";
    study.institutionName = "Clinic";
    study.referringPhysicianName = "Ref^Doc";
    study.modality = "US";
    study.patientId = "P01";
    study.patientName = "Doe^Jane";
    study.patientBirthDate = "19800101";
    study.patientSex = "F";
    CurrentSeriesUID = "1.2.3.4.30";
  }
  StudyInfo study;
};

TEST(SRTextNamesTest, RelationshipAndValueTypesFollowTheirTables) {
  EXPECT_EQ(RelationshipTypeName(RelationshipKind::IsRoot), "IS ROOT");
  EXPECT_EQ(RelationshipTypeName(RelationshipKind::Contains), "CONTAINS");
  EXPECT_EQ(RelationshipTypeName(RelationshipKind::HasObsContext), "HAS OBS CONTEXT");
  EXPECT_EQ(RelationshipTypeName(static_cast<RelationshipKind>(4)), "");
  EXPECT_EQ(ValueTypeName(ValueKind::Text), "TEXT");
  EXPECT_EQ(ValueTypeName(ValueKind::PersonName), "PNAME");
  EXPECT_EQ(ValueTypeName(ValueKind::Composite), "COMPOSITE");
  EXPECT_EQ(ValueTypeName(static_cast<ValueKind>(2)), "");
}

// The whole tree of a report built from three lines, entry by entry, with the values the study
// record and the caller gave; dates and times from a fixed clock.
TEST_F(SRTextTest, ReportHoldsTheFixedElementsAndContentTreeInTagOrder) {
  const convertertest::FixedClock clock(convertertest::kFixedTime);
  DcmSRObj report;
  const std::string text = "first\r\nsecond line\r\nthird\r\n";
  report.BuildReport(study, "Observer", text, "1.2.3.4.10.5");

  EXPECT_EQ(report.transferSyntax, kExplicitVRLittleEndian);
  EXPECT_TRUE(report.explicitVR);
  ExpectEntries(report,
                {{0x0008, 0x0012, "DA", "20240515"},
                 {0x0008, 0x0013, "TM", "090807"},
                 {0x0008, 0x0016, "UI", {"1.2.840.10008.5.1.4.1.1.88.11\0", 30}},
                 {0x0008, 0x0018, "UI", "1.2.3.4.10.5"},
                 {0x0008, 0x0020, "DA", "20240131"},
                 {0x0008, 0x0021, "DA", "20240515"},
                 {0x0008, 0x0023, "DA", "20240515"},
                 {0x0008, 0x0030, "TM", "101500"},
                 {0x0008, 0x0031, "TM", "090807"},
                 {0x0008, 0x0033, "TM", "090807"},
                 {0x0008, 0x0050, "SH", "ACC1"},
                 {0x0008, 0x0060, "CS", "SR"},
                 {0x0008, 0x0070, "LO", ""},
                 {0x0008, 0x0080, "LO", "Clinic"},
                 {0x0008, 0x0090, "PN", "Ref^Doc "},
                 {0x0008, 0x1030, "LO", "Knee"},
                 {0x0008, 0x103E, "LO", "Report"},
                 {0x0008, 0x1111, "SQ", ""},
                 {0x0010, 0x0010, "PN", "Doe^Jane"},
                 {0x0010, 0x0020, "LO", "P01 "},
                 {0x0010, 0x0030, "DA", "19800101"},
                 {0x0010, 0x0040, "CS", "F "},
                 {0x0020, 0x000D, "UI", {"1.2.3.4\0", 8}},
                 {0x0020, 0x000E, "UI", "1.2.3.4.30"},
                 {0x0020, 0x0010, "SH", "S7"},
                 {0x0020, 0x0011, "IS", "0 "},
                 {0x0020, 0x0013, "IS", "1 "},
                 {0x0040, 0xA040, "CS", "CONTAINER "},
                 {0x0040, 0xA043, "SQ", ""},
                 {0x0040, 0xA050, "CS", "SEPARATE"},
                 {0x0040, 0xA372, "SQ", ""},
                 // The whole text, and nobody who attested it.
                 {0x0040, 0xA491, "CS", "COMPLETE"},
                 {0x0040, 0xA493, "CS", "UNVERIFIED"},
                 {0x0040, 0xA730, "SQ", ""}},
                "report");

  const DcmObj* title = report.ObjAt(static_cast<size_t>(report.Count() - 6));
  ASSERT_NE(title, nullptr);
  ExpectCode(*title, "1111", "Radiology Report", "document title");
  // No procedure step or procedure code is known: both sequences are empty.
  for (const size_t index : {size_t{17}, report.Count() - 4}) {
    ASSERT_NE(report.ObjAt(index), nullptr) << index;
    EXPECT_EQ(report.ObjAt(index)->Count(), 0u) << index;
  }

  const DcmObj* content = report.ObjAt(report.Count() - 1);
  ASSERT_NE(content, nullptr);
  ASSERT_EQ(content->Count(), 2u);
  const DcmObj* observer = content->ObjAt(0);
  const DcmObj* reportText = content->ObjAt(1);
  ASSERT_NE(observer, nullptr);
  ASSERT_NE(reportText, nullptr);
  ExpectEntries(*observer,
                {{0x0040, 0xA010, "CS", "HAS OBS CONTEXT "},
                 {0x0040, 0xA040, "CS", "PNAME "},
                 {0x0040, 0xA043, "SQ", ""},
                 {0x0040, 0xA123, "PN", "Observer"}},
                "observer item");
  ExpectCode(*observer->ObjAt(2), "CODE01", "Observer Name", "observer concept");
  ExpectEntries(*reportText,
                {{0x0040, 0xA010, "CS", "CONTAINS"},
                 {0x0040, 0xA040, "CS", "TEXT"},
                 {0x0040, 0xA043, "SQ", ""},
                 {0x0040, 0xA160, "UT", text + " "}},  // padded to even length
                "text item");
  ExpectCode(*reportText->ObjAt(2), "CODE02", "Report Text", "text concept");
}

// A data set used before keeps nothing of its past; the numbers are fixed whatever the counter.
TEST_F(SRTextTest, RebuildingLeavesNothingBehindAndNumbersStayFixed) {
  DcmSRObj report;
  report.AddString(0x0008, 0x0090, "Left^Behind");
  report.AddString(0x0028, 0x0010, "1");
  InstanceCounter = 5;
  report.BuildReport(study, "Observer", "", "1.2.3.4.10.5");
  EXPECT_EQ(report.GetString(0x0008, 0x0090), "Ref^Doc");
  EXPECT_EQ(report.FindTag(0x0028, 0x0010), nullptr);
  EXPECT_EQ(report.GetString(0x0020, 0x0011), "0");
  EXPECT_EQ(report.GetString(0x0020, 0x0013), "1");
  // An empty text gives a Text Value of length zero, still present.
  const DcmObj* textItem = report.ObjAt(report.Count() - 1)->ObjAt(1);
  const DcmTag* value = textItem->FindTag(0x0040, 0xA160);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->length, 0u);
  // Neither a conversion type nor a character set is written.
  EXPECT_EQ(report.FindTag(0x0008, 0x0064), nullptr);
  EXPECT_EQ(report.FindTag(0x0008, 0x0005), nullptr);
}

// What we write, DCMTK and pydicom read, with the tree and the text intact.
TEST_F(SRTextTest, WrittenReportReadsBackInDcmtkAndPydicom) {
  testsupport::TempDir dir;
  DcmSRObj report;
  const std::string text = "Befund: o.B.\r\nZweite Zeile \x80 5\r\n";
  report.BuildReport(study, "Observer", text, "1.2.3.4.10.5");
  const std::string path = (dir / "report.dcm").string();
  ASSERT_TRUE(report.SaveToFile(path, kBasicTextSRStorage, "1.2.3.4.10.5"));

  DicomFile file;
  std::string error;
  ASSERT_TRUE(ReadDicomFile(path, file, error)) << error;
  EXPECT_EQ(file.dataSet.GetString(0x0008, 0x0016), kBasicTextSRStorage);

  ASSERT_TRUE(testsupport::HaveProgram("dcmdump"))
      << "dcmdump missing (scripts/setup.sh installs it)";
  const auto dump = RunCommand({"dcmdump", "-q", "+L", path});
  EXPECT_EQ(dump.exitCode, 0) << dump.errors;
  EXPECT_NE(dump.output.find("(0040,a010) CS [HAS OBS CONTEXT]"), std::string::npos) << dump.output;
  EXPECT_NE(dump.output.find("(0040,a123) PN [Observer]"), std::string::npos);
  EXPECT_NE(dump.output.find("(0008,0104) LO [Radiology Report]"), std::string::npos);
  EXPECT_NE(dump.output.find("(0040,a160) UT [Befund: o.B."), std::string::npos);
  EXPECT_EQ(dump.errors, "");
  ASSERT_TRUE(testsupport::HaveProgram("/usr/bin/python3"))
      << "/usr/bin/python3 missing (scripts/setup.sh installs it)";
  const std::string script =
      "import sys, pydicom\n"
      "d = pydicom.dcmread(sys.argv[1])\n"
      "items = d.ContentSequence\n"
      "print(len(items), items[0].PersonName, items[0].ConceptNameCodeSequence[0].CodeValue,\n"
      "      items[1].RelationshipType, items[1].ConceptNameCodeSequence[0].CodeMeaning)\n"
      "print(repr(items[1].TextValue))\n";
  const auto result = RunCommand({"/usr/bin/python3", "-c", script, path});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_NE(result.output.find("2 Observer CODE01 CONTAINS Report Text"), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("Befund: o.B.\\r\\nZweite Zeile"), std::string::npos)
      << result.output;
}

}  // namespace
