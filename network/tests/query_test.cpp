// C-FIND identifiers built from query records, and result records read from identifiers.
#include <gtest/gtest.h>

#include "bufdata.h"
#include "captured_log.h"
#include "charset.h"
#include "query.h"

namespace {

using TagList = std::vector<std::pair<uint16_t, uint16_t>>;

TagList Tags(const DcmObj& dataSet) {
  TagList tags;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    tags.emplace_back(dataSet.EntryTag(i).group, dataSet.EntryTag(i).element);
  }
  return tags;
}

bool Ascending(const TagList& tags) {
  for (size_t i = 1; i < tags.size(); ++i) {
    if (!(tags[i - 1] < tags[i])) return false;
  }
  return true;
}

void AddText(DcmObj& dataSet, uint16_t group, uint16_t element, const std::string& text,
             const char* vr) {
  dataSet.Append(
      DcmTag::FromBytes(group, element, static_cast<uint32_t>(text.size()), text.data(), vr));
}

TEST(QueryIdentifierTest, StudyQueryWithOnlyANameSendsEveryOtherKeyEmpty) {
  StudyInfo query;
  query.patientName = "SMI*";
  auto identifier = BuildStudyIdentifier(query);
  ASSERT_EQ(identifier->Count(), 14u);
  EXPECT_TRUE(Ascending(Tags(*identifier)));
  for (size_t i = 0; i < identifier->Count(); ++i) {
    const DcmTag& tag = *identifier->TagAt(i);
    if (tag.Is(0x0010, 0x0010)) {
      EXPECT_EQ(tag.GetString(), "SMI*");
    } else if (tag.Is(0x0008, 0x0052)) {
      EXPECT_EQ(tag.GetString(), "STUDY");
    } else {
      EXPECT_EQ(tag.length, 0u) << tag.group << "," << tag.element;
    }
  }
  // Modality goes out as Modalities in Study, the study-level key.
  EXPECT_NE(identifier->FindTag(0x0008, 0x0061), nullptr);
  EXPECT_EQ(identifier->FindTag(0x0008, 0x0060), nullptr);
}

TEST(QueryIdentifierTest, EachLevelNamesItselfAndKeepsTagOrder) {
  SeriesInfo series;
  series.studyInstanceUid = "1.2.3";
  ImageInfo image;
  image.seriesInstanceUid = "1.2.3.4";
  image.rows = 512;  // numbers are never matching keys
  struct Case {
    std::unique_ptr<DcmObj> identifier;
    const char* level;
    size_t count;
  };
  Case cases[] = {{BuildStudyIdentifier(StudyInfo{}), "STUDY", 14},
                  {BuildSeriesIdentifier(series), "SERIES", 13},
                  {BuildImageIdentifier(image), "IMAGE", 13}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.level);
    EXPECT_EQ(c.identifier->Count(), c.count);
    EXPECT_TRUE(Ascending(Tags(*c.identifier)));
    EXPECT_EQ(c.identifier->GetString(0x0008, 0x0052), c.level);
  }
  EXPECT_EQ(cases[1].identifier->GetString(0x0020, 0x000D), "1.2.3");
  EXPECT_EQ(cases[2].identifier->GetString(0x0020, 0x000E), "1.2.3.4");
  EXPECT_EQ(cases[2].identifier->FindTag(0x0028, 0x0010)->length, 0u);
}

TEST(QueryResultTest, StudyFieldsComeFromTopLevelElementsOnly) {
  DcmObj identifier;
  AddText(identifier, 0x0008, 0x0020, "20240102", "DA");
  AddText(identifier, 0x0008, 0x0060, "CT", "CS");
  AddText(identifier, 0x0008, 0x0061, "MR\\CT", "CS");
  AddText(identifier, 0x0010, 0x0010, "DOE^JANE", "PN");
  // A Referenced Study Sequence of undefined length whose item repeats top-level tags: they must
  // not overwrite the study's own values.
  identifier.Append(DcmTag::FromBytes(0x0008, 0x1110, kUndefinedLength, nullptr, "SQ"));
  identifier.Append(DcmTag::FromBytes(0xFFFE, 0xE000, kUndefinedLength, nullptr, "DL"));
  AddText(identifier, 0x0010, 0x0020, "INNER", "LO");
  AddText(identifier, 0x0010, 0x0010, "INNER^NAME", "PN");
  identifier.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, "DL"));
  identifier.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  AddText(identifier, 0x0010, 0x0020, "PID7", "LO");
  AddText(identifier, 0x0010, 0x0040, "", "CS");  // an empty return value stays empty
  AddText(identifier, 0x0020, 0x000D, "1.2.840.99", "UI");
  AddText(identifier, 0x0020, 0x0010, "STUDYID-OF-20-CHARS", "SH");

  const StudyInfo study = StudyFromIdentifier(identifier);
  EXPECT_EQ(study.studyDate, "20240102");
  EXPECT_EQ(study.modality, "MR\\CT");  // Modalities in Study comes later and wins
  EXPECT_EQ(study.patientName, "DOE^JANE");
  EXPECT_EQ(study.patientId, "PID7");
  EXPECT_EQ(study.patientSex, "");
  EXPECT_EQ(study.studyInstanceUid, "1.2.840.99");
  EXPECT_EQ(study.studyId, "STUDYID-OF-20-CH");
}

TEST(QueryResultTest, OverLongStudyValuesAreCutWithAWarningNamingTheFullValue) {
  const std::string long70(70, 'X');
  struct Case {
    uint16_t group, element;
    const char* vr;
    std::string value;
    std::string StudyInfo::*field;
    size_t limit;
    std::string warning;
  };
  const Case cases[] = {
      {0x0008, 0x0050, "SH", "ACC-0123456789-XYZ", &StudyInfo::accessionNumber, 16,
       "WARNING, Accession number length>16, "},
      {0x0008, 0x0080, "LO", long70, &StudyInfo::institutionName, 64,
       "WARNING, InstitutionName length>64, "},
      {0x0008, 0x1030, "LO", long70, &StudyInfo::studyDescription, 64,
       "WARNING, StudyDescription length>64, "},
      {0x0008, 0x1070, "PN", long70, &StudyInfo::operatorsName, 64,
       "WARNING, Operators Name length>64, "},
      {0x0010, 0x0010, "PN", long70, &StudyInfo::patientName, 64,
       "WARNING, PatientName length>64, "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    CapturedLog log;
    DcmObj identifier;
    AddText(identifier, c.group, c.element, c.value, c.vr);
    const StudyInfo study = StudyFromIdentifier(identifier);
    EXPECT_EQ(study.*c.field, c.value.substr(0, c.limit));
    EXPECT_TRUE(log.Contains(c.warning + c.value + "\n")) << log.Text();
  }
  CapturedLog quiet;
  DcmObj fits;
  AddText(fits, 0x0008, 0x0050, "ACC-16-CHARS-OK!", "SH");
  EXPECT_EQ(StudyFromIdentifier(fits).accessionNumber, "ACC-16-CHARS-OK!");
  EXPECT_EQ(quiet.Text(), "");
}

// Keys are UTF-8 in the records; an identifier whose keys need more than ASCII says which set
// they travel in, and an ASCII one stays as it always was.
TEST(QueryIdentifierTest, KeysBeyondAsciiDeclareTheirCharacterSet) {
  const struct {
    const char* name;
    std::string patientName;
    const char* declared;
    std::string sent;
  } cases[] = {
      {"ASCII", "SMI*", "", "SMI*"},
      {"Latin-1", "M\xC3\xBCL*", "ISO_IR 100", "M\xFCL*"},
      {"Cyrillic", "\xD0\x98\xD0\xB2*", "ISO_IR 192", "\xD0\x98\xD0\xB2* "},
  };
  for (const auto& c : cases) {
    StudyInfo query;
    query.patientName = c.patientName;
    const auto study = BuildStudyIdentifier(query);
    EXPECT_EQ(study->GetString(0x0008, 0x0005), c.declared) << c.name;
    EXPECT_EQ(study->FindTag(0x0010, 0x0010)->Bytes(), c.sent) << c.name;
    TWorklistItem item;
    item.patientName = c.patientName;
    DcmObj worklist;
    BuildWorklistQuery(item, worklist);
    EXPECT_EQ(worklist.GetString(0x0008, 0x0005), c.declared) << c.name;
    EXPECT_EQ(worklist.FindTag(0x0010, 0x0010)->Bytes(), c.sent) << c.name;
  }
}

// Responses are read in the set they declare, and the length limits count characters: a cut
// never splits one.
TEST(QueryResultTest, AnswersAreDecodedByTheirCharacterSetAndCutByCharacters) {
  DcmObj identifier;
  AddText(identifier, 0x0008, 0x0005, "ISO_IR 144", "CS");
  AddText(identifier, 0x0008, 0x1030, std::string(70, '\xC1'), "LO");
  AddText(identifier, 0x0010, 0x0010, "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD", "PN");
  // StudyFromIdentifier reads what ReadFindRSP has decoded.
  DecodeDataSetToUtf8(identifier);
  CapturedLog log;
  const StudyInfo study = StudyFromIdentifier(identifier);
  EXPECT_EQ(study.patientName,
            "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2^\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
  std::string es64;
  for (int i = 0; i < 64; ++i) es64 += "\xD0\xA1";
  EXPECT_EQ(study.studyDescription, es64);
  EXPECT_TRUE(log.Contains("WARNING, StudyDescription length>64, ")) << log.Text();
}

TEST(QueryResultTest, ImageNumbersAreReadFromBinaryOrText) {
  DcmObj identifier;
  identifier.Append(DcmTag::FromUS(0x0028, 0x0010, 512, "US"));
  identifier.Append(DcmTag::FromUS(0x0028, 0x0011, 640, "US"));
  AddText(identifier, 0x0028, 0x0101, "12", "IS");  // a peer that sends the number as text
  AddText(identifier, 0x0020, 0x0013, "4", "IS");
  AddText(identifier, 0x0008, 0x0018, "1.2.3.4.5", "UI");
  const ImageInfo image = ImageFromIdentifier(identifier);
  EXPECT_EQ(image.rows, 512);
  EXPECT_EQ(image.columns, 640);
  EXPECT_EQ(image.bitsStored, 12);
  EXPECT_EQ(image.instanceNumber, "4");
  EXPECT_EQ(image.sopInstanceUid, "1.2.3.4.5");

  DcmObj series;
  AddText(series, 0x0020, 0x000E, "1.2.3.4", "UI");
  AddText(series, 0x0020, 0x0052, "1.9", "UI");
  EXPECT_EQ(SeriesFromIdentifier(series).frameOfReferenceUid, "1.9");
  EXPECT_EQ(SeriesFromIdentifier(series).seriesInstanceUid, "1.2.3.4");
}

TEST(WorklistQueryTest, EmptyItemGivesAllReturnKeysAndOneScheduledStep) {
  DcmObj identifier;
  BuildWorklistQuery(TWorklistItem{}, identifier);
  const TagList top = {{0x0008, 0x0050}, {0x0008, 0x0090}, {0x0010, 0x0010}, {0x0010, 0x0020},
                       {0x0010, 0x0030}, {0x0010, 0x0040}, {0x0020, 0x000D}, {0x0032, 0x1060},
                       {0x0040, 0x0100}, {0x0040, 0x1001}, {0x0040, 0x1003}};
  ASSERT_EQ(Tags(identifier), top);
  const DcmObj* sequence = identifier.ObjAt(8);
  ASSERT_NE(sequence, nullptr);
  ASSERT_EQ(sequence->Count(), 1u);
  const DcmObj* step = sequence->ObjAt(0);
  ASSERT_NE(step, nullptr);
  EXPECT_TRUE(step->header.Is(0xFFFE, 0xE000));
  const TagList stepTags = {{0x0008, 0x0060}, {0x0032, 0x1070}, {0x0040, 0x0001}, {0x0040, 0x0002},
                            {0x0040, 0x0003}, {0x0040, 0x0006}, {0x0040, 0x0007}, {0x0040, 0x0008},
                            {0xFFFE, 0xE0DD}, {0x0040, 0x0009}, {0x0040, 0x0010}, {0x0040, 0x0011},
                            {0x0040, 0x0012}, {0x0040, 0x0020}};
  EXPECT_EQ(Tags(*step), stepTags);
  EXPECT_TRUE(step->TagAt(7)->HasUndefinedLength());
}

TEST(WorklistQueryTest, IdentifierSurvivesEncodingWithTheKeysInPlace) {
  TWorklistItem item;
  item.patientName = "SMI*";
  item.scheduledProcedureStepStartDate = "20240301-20240301";
  item.modality = "US";
  // Explicit VR, so the reading side finds the sequences without the dictionary.
  DcmObj identifier;
  identifier.SetTransferSyntax(kExplicitVRLittleEndian);
  BuildWorklistQuery(item, identifier);
  BufData encoded;
  ASSERT_TRUE(encoded.WriteDataSet(identifier));

  BufData reading;
  reading.stream = encoded.stream;
  DcmObj decoded;
  decoded.SetTransferSyntax(kExplicitVRLittleEndian);
  ASSERT_TRUE(reading.ReadDataSet(decoded));
  EXPECT_EQ(decoded.GetString(0x0010, 0x0010), "SMI*");
  // The Scheduled Procedure Step Sequence was written with defined lengths, so it reads back
  // nested with its one item, and the empty protocol code sequence inside stays closed.
  const long index = [&] {
    for (size_t i = 0; i < decoded.Count(); ++i) {
      if (decoded.EntryTag(i).Is(0x0040, 0x0100)) return static_cast<long>(i);
    }
    return -1L;
  }();
  ASSERT_GE(index, 0);
  const DcmObj* sequence = decoded.ObjAt(static_cast<size_t>(index));
  ASSERT_NE(sequence, nullptr);
  ASSERT_EQ(sequence->Count(), 1u);
  const DcmObj* step = sequence->ObjAt(0);
  ASSERT_NE(step, nullptr);
  EXPECT_EQ(step->GetString(0x0008, 0x0060), "US");
  EXPECT_EQ(step->GetString(0x0040, 0x0002), "20240301-20240301");
  EXPECT_EQ(step->GetString(0x0040, 0x0020), "");
  EXPECT_NE(step->FindTag(0x0040, 0x0020), nullptr);
  EXPECT_EQ(decoded.Count(), identifier.Count());
}

}  // namespace
