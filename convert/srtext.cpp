// Basic Text SR documents: the report data set with its fixed content tree.
#include "srtext.h"

#include <memory>

#include "conversioncontext.h"
#include "uids.h"

namespace {

constexpr const char* kCodingScheme = "BRINDLEWICK";

std::unique_ptr<DcmObj> NewItem() {
  return std::make_unique<DcmObj>();
}

}  // namespace

std::string CodingSchemeUid() {
  return std::string(kOrganisationUidRoot) + ".9999.5";
}

std::string_view RelationshipTypeName(RelationshipKind kind) {
  switch (kind) {
    case RelationshipKind::IsRoot:
      return "IS ROOT";
    case RelationshipKind::Contains:
      return "CONTAINS";
    case RelationshipKind::HasObsContext:
      return "HAS OBS CONTEXT";
  }
  return "";
}

std::string_view ValueTypeName(ValueKind kind) {
  switch (kind) {
    case ValueKind::Text:
      return "TEXT";
    case ValueKind::PersonName:
      return "PNAME";
    case ValueKind::Composite:
      return "COMPOSITE";
  }
  return "";
}

void AddCodeSequence(DcmObj& target, uint16_t group, uint16_t element, std::string_view codeValue,
                     std::string_view codeMeaning) {
  auto item = NewItem();
  AppendText(*item, 0x0008, 0x0100, codeValue);
  AppendText(*item, 0x0008, 0x0102, kCodingScheme);
  AppendText(*item, 0x0008, 0x0104, codeMeaning);
  AppendText(*item, 0x0008, 0x010C, CodingSchemeUid());
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  target.AddSequence(group, element, std::move(sequence));
}

void AddContentItem(DcmObj& contentSequence, std::string_view codeValue,
                    std::string_view codeMeaning, std::string_view valueText, ValueKind valueKind,
                    RelationshipKind relationshipKind) {
  auto item = NewItem();
  AppendText(*item, 0x0040, 0xA010, RelationshipTypeName(relationshipKind));
  AppendText(*item, 0x0040, 0xA040, ValueTypeName(valueKind));
  AddCodeSequence(*item, 0x0040, 0xA043, codeValue, codeMeaning);
  if (valueKind == ValueKind::Text) {
    AppendText(*item, 0x0040, 0xA160, valueText);
  } else if (valueKind == ValueKind::PersonName) {
    AppendText(*item, 0x0040, 0xA123, valueText);
  }
  contentSequence.AddSequence(0xFFFE, 0xE000, std::move(item));
}

void SetSRHeader(DcmObj& dataSet, std::string_view studyInstanceUid,
                 std::string_view seriesInstanceUid, std::string_view sopInstanceUid,
                 std::string_view titleMeaning, std::string_view studyId, int seriesNumber,
                 int instanceNumber) {
  dataSet.Clear();
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  AppendText(dataSet, 0x0008, 0x0012, TodayText());
  AppendText(dataSet, 0x0008, 0x0013, NowText());
  AppendText(dataSet, 0x0008, 0x0016, kBasicTextSRStorage);
  AppendText(dataSet, 0x0008, 0x0018, sopInstanceUid);
  AppendText(dataSet, 0x0008, 0x0060, "SR");
  AppendText(dataSet, 0x0008, 0x0070, "");
  AppendText(dataSet, 0x0020, 0x000D, studyInstanceUid);
  AppendText(dataSet, 0x0020, 0x000E, seriesInstanceUid);
  AppendText(dataSet, 0x0020, 0x0010, studyId);
  AppendText(dataSet, 0x0020, 0x0011, std::to_string(seriesNumber));
  AppendText(dataSet, 0x0020, 0x0013, std::to_string(instanceNumber));
  AppendText(dataSet, 0x0040, 0xA040, "CONTAINER");
  AddCodeSequence(dataSet, 0x0040, 0xA043, "1111", titleMeaning);
  AppendText(dataSet, 0x0040, 0xA050, "SEPARATE");
}

void DcmSRObj::BuildReport(const StudyInfo& study, std::string_view observerName,
                           std::string_view text, const std::string& sopInstanceUid) {
  SetSRHeader(*this, study.studyInstanceUid, CurrentSeriesUID, sopInstanceUid, "Radiology Report",
              study.studyId, 0, 1);
  AddString(0x0008, 0x0020, study.studyDate);
  AddString(0x0008, 0x0021, TodayText());
  AddString(0x0008, 0x0023, TodayText());
  AddString(0x0008, 0x0030, study.studyTime);
  AddString(0x0008, 0x0031, NowText());
  AddString(0x0008, 0x0033, NowText());
  AddString(0x0008, 0x0050, study.accessionNumber);
  AddString(0x0008, 0x0080, study.institutionName);
  AddString(0x0008, 0x0090, study.referringPhysicianName);
  AddString(0x0008, 0x1030, study.studyDescription);
  AddString(0x0008, 0x103E, "Report");
  AddString(0x0010, 0x0010, study.patientName);
  AddString(0x0010, 0x0020, study.patientId);
  AddString(0x0010, 0x0030, study.patientBirthDate);
  AddString(0x0010, 0x0040, study.patientSex);
  // The text is taken whole from its document, so the report is complete; nobody in this program
  // attests it, so it is not verified (which would need the verifier's name and organisation).
  AddString(0x0040, 0xA491, "COMPLETE");
  AddString(0x0040, 0xA493, "UNVERIFIED");

  auto content = std::make_unique<DcmObj>();
  AddContentItem(*content, "CODE01", "Observer Name", observerName, ValueKind::PersonName,
                 RelationshipKind::HasObsContext);
  AddContentItem(*content, "CODE02", "Report Text", text, ValueKind::Text,
                 RelationshipKind::Contains);
  AddSequence(0x0040, 0xA730, std::move(content));
  // No procedure step or procedure code is known for a document brought in from a file.
  AddSequence(0x0008, 0x1111, std::make_unique<DcmObj>());
  AddSequence(0x0040, 0xA372, std::make_unique<DcmObj>());
}
