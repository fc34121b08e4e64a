// Study-root and worklist C-FIND identifiers built from query records, and records read back.
#include "query.h"

#include "charset.h"
#include "dimse.h"
#include "log.h"

namespace {

// One matching or return key: the tag, the VR it is created with, and either the record field it
// holds or a fixed text (the query level).
template <typename Record>
struct Key {
  uint16_t group;
  uint16_t element;
  const char* vr;
  std::string Record::*field;
  const char* fixed = nullptr;
};

// Identifier keys per level, in ascending tag order.
const Key<StudyInfo> kStudyKeys[] = {
    {0x0008, 0x0020, "DA", &StudyInfo::studyDate},
    {0x0008, 0x0030, "TM", &StudyInfo::studyTime},
    {0x0008, 0x0050, "SH", &StudyInfo::accessionNumber},
    {0x0008, 0x0052, "CS", nullptr, "STUDY"},
    {0x0008, 0x0061, "CS", &StudyInfo::modality},
    {0x0008, 0x0080, "LO", &StudyInfo::institutionName},
    {0x0008, 0x0090, "PN", &StudyInfo::referringPhysicianName},
    {0x0008, 0x1030, "LO", &StudyInfo::studyDescription},
    {0x0010, 0x0010, "PN", &StudyInfo::patientName},
    {0x0010, 0x0020, "LO", &StudyInfo::patientId},
    {0x0010, 0x0030, "DA", &StudyInfo::patientBirthDate},
    {0x0010, 0x0040, "CS", &StudyInfo::patientSex},
    {0x0010, 0x4000, "LT", &StudyInfo::patientComments},
    {0x0020, 0x000D, "UI", &StudyInfo::studyInstanceUid},
};

const Key<SeriesInfo> kSeriesKeys[] = {
    {0x0008, 0x0021, "DA", &SeriesInfo::seriesDate},
    {0x0008, 0x0031, "TM", &SeriesInfo::seriesTime},
    {0x0008, 0x0052, "CS", nullptr, "SERIES"},
    {0x0008, 0x0060, "CS", &SeriesInfo::modality},
    {0x0008, 0x0080, "CS", &SeriesInfo::institutionName},
    {0x0008, 0x103E, "LO", &SeriesInfo::seriesDescription},
    {0x0008, 0x1070, "PN", &SeriesInfo::operatorsName},
    {0x0018, 0x0015, "CS", &SeriesInfo::bodyPartExamined},
    {0x0018, 0x1030, "LO", &SeriesInfo::protocolName},
    {0x0018, 0x5100, "CS", &SeriesInfo::patientPosition},
    {0x0020, 0x000D, "UI", &SeriesInfo::studyInstanceUid},
    {0x0020, 0x000E, "UI", &SeriesInfo::seriesInstanceUid},
    {0x0020, 0x0011, "IS", &SeriesInfo::seriesNumber},
};

// Rows and Columns go out as empty return keys: the numbers of a query record are not matched.
const Key<ImageInfo> kImageKeys[] = {
    {0x0008, 0x0016, "UI", &ImageInfo::sopClassUid},
    {0x0008, 0x0018, "UI", &ImageInfo::sopInstanceUid},
    {0x0008, 0x0022, "DA", &ImageInfo::acquisitionDate},
    {0x0008, 0x0023, "DA", &ImageInfo::contentDate},
    {0x0008, 0x0032, "TM", &ImageInfo::acquisitionTime},
    {0x0008, 0x0033, "TM", &ImageInfo::contentTime},
    {0x0008, 0x0052, "CS", nullptr, "IMAGE"},
    {0x0020, 0x000D, "UI", &ImageInfo::studyInstanceUid},
    {0x0020, 0x000E, "UI", &ImageInfo::seriesInstanceUid},
    {0x0020, 0x0012, "IS", &ImageInfo::acquisitionNumber},
    {0x0020, 0x0013, "IS", &ImageInfo::instanceNumber},
    {0x0028, 0x0010, "US", nullptr, ""},
    {0x0028, 0x0011, "US", nullptr, ""},
};

std::unique_ptr<DcmTag> TextElement(uint16_t group, uint16_t element, std::string_view text,
                                    const char* vr = nullptr) {
  return DcmTag::FromBytes(group, element, static_cast<uint32_t>(text.size()), text.data(), vr);
}

template <typename Record, size_t N>
std::unique_ptr<DcmObj> BuildIdentifier(const Record& query, const Key<Record> (&keys)[N]) {
  auto identifier = std::make_unique<DcmObj>();
  for (const Key<Record>& key : keys) {
    const std::string_view text = key.field ? std::string_view(query.*key.field) : key.fixed;
    identifier->Append(TextElement(key.group, key.element, text, key.vr));
  }
  // Keys beyond ASCII go out in ISO 8859-1 or UTF-8, and the identifier says which.
  EncodeObjectTexts(*identifier);
  return identifier;
}

// Where a returned element goes in a result record.
template <typename Record>
struct ResultField {
  uint16_t group;
  uint16_t element;
  std::string Record::*field;
};

const ResultField<StudyInfo> kStudyResults[] = {
    {0x0020, 0x000D, &StudyInfo::studyInstanceUid},
    {0x0008, 0x0020, &StudyInfo::studyDate},
    {0x0008, 0x0030, &StudyInfo::studyTime},
    {0x0020, 0x0010, &StudyInfo::studyId},
    {0x0008, 0x1030, &StudyInfo::studyDescription},
    {0x0008, 0x0050, &StudyInfo::accessionNumber},
    {0x0008, 0x0080, &StudyInfo::institutionName},
    {0x0008, 0x0090, &StudyInfo::referringPhysicianName},
    {0x0008, 0x0060, &StudyInfo::modality},
    {0x0008, 0x0061, &StudyInfo::modality},
    {0x0008, 0x1070, &StudyInfo::operatorsName},
    {0x0010, 0x0020, &StudyInfo::patientId},
    {0x0010, 0x0010, &StudyInfo::patientName},
    {0x0010, 0x0030, &StudyInfo::patientBirthDate},
    {0x0010, 0x0040, &StudyInfo::patientSex},
    {0x0010, 0x1010, &StudyInfo::patientAge},
    {0x0010, 0x1030, &StudyInfo::patientWeight},
    {0x0010, 0x4000, &StudyInfo::patientComments},
};

const ResultField<SeriesInfo> kSeriesResults[] = {
    {0x0020, 0x000E, &SeriesInfo::seriesInstanceUid},
    {0x0020, 0x0011, &SeriesInfo::seriesNumber},
    {0x0008, 0x0021, &SeriesInfo::seriesDate},
    {0x0008, 0x0031, &SeriesInfo::seriesTime},
    {0x0008, 0x103E, &SeriesInfo::seriesDescription},
    {0x0008, 0x0060, &SeriesInfo::modality},
    {0x0018, 0x5100, &SeriesInfo::patientPosition},
    {0x0008, 0x0080, &SeriesInfo::institutionName},
    {0x0008, 0x1070, &SeriesInfo::operatorsName},
    {0x0018, 0x0015, &SeriesInfo::bodyPartExamined},
    {0x0018, 0x1030, &SeriesInfo::protocolName},
    {0x0020, 0x0052, &SeriesInfo::frameOfReferenceUid},
    {0x0020, 0x000D, &SeriesInfo::studyInstanceUid},
};

const ResultField<ImageInfo> kImageResults[] = {
    {0x0008, 0x0018, &ImageInfo::sopInstanceUid},
    {0x0008, 0x0016, &ImageInfo::sopClassUid},
    {0x0020, 0x0013, &ImageInfo::instanceNumber},
    {0x0008, 0x0023, &ImageInfo::contentDate},
    {0x0008, 0x0033, &ImageInfo::contentTime},
    {0x0028, 0x0008, &ImageInfo::numberOfFrames},
    {0x0008, 0x0022, &ImageInfo::acquisitionDate},
    {0x0008, 0x0032, &ImageInfo::acquisitionTime},
    {0x0020, 0x0012, &ImageInfo::acquisitionNumber},
    {0x0020, 0x1041, &ImageInfo::sliceLocation},
    {0x0028, 0x0004, &ImageInfo::photometricInterpretation},
    {0x0008, 0x0008, &ImageInfo::imageType},
    {0x0008, 0x0068, &ImageInfo::presentationIntentType},
    {0x0020, 0x0037, &ImageInfo::imageOrientationPatient},
    {0x0020, 0x0032, &ImageInfo::imagePositionPatient},
    {0x0020, 0x000E, &ImageInfo::seriesInstanceUid},
    {0x0020, 0x000D, &ImageInfo::studyInstanceUid},
    {0x0018, 0x1210, &ImageInfo::convolutionKernel},
};

// Calls `use` with every top-level element that has a value, in identifier order. Elements
// between an undefined-length sequence and its delimitation item belong to that sequence's items
// and are passed over, as are sequences held as nested data sets.
template <typename Use>
void ForEachTopLevelValue(const DcmObj& identifier, Use use) {
  int depth = 0;
  for (size_t i = 0; i < identifier.Count(); ++i) {
    const DcmTag* tag = identifier.TagAt(i);
    if (tag == nullptr) continue;
    if (tag->IsVR("SQ") && tag->HasUndefinedLength()) {
      ++depth;
      continue;
    }
    if (tag->Is(0xFFFE, 0xE0DD)) {
      if (depth > 0) --depth;
      continue;
    }
    if (depth == 0 && tag->HasValue()) use(*tag);
  }
}

template <typename Record, size_t N>
void StoreValue(Record& record, const ResultField<Record> (&fields)[N], const DcmTag& tag,
                const std::string& text) {
  for (const ResultField<Record>& row : fields) {
    if (tag.Is(row.group, row.element)) record.*row.field = text;
  }
}

// Values are UTF-8 by now, so the limit counts characters and a cut never splits one.
void CutWithWarning(std::string& value, size_t limit, const char* warning) {
  if (Utf8Length(value) <= limit) return;
  WriteLog(std::string(warning) + value);
  value = Utf8Prefix(value, limit);
}

uint16_t Number16(const std::string& text) {
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 0xFFFF) return 0;
  }
  return static_cast<uint16_t>(value);
}

}  // namespace

std::unique_ptr<DcmObj> BuildStudyIdentifier(const StudyInfo& query) {
  return BuildIdentifier(query, kStudyKeys);
}

std::unique_ptr<DcmObj> BuildSeriesIdentifier(const SeriesInfo& query) {
  return BuildIdentifier(query, kSeriesKeys);
}

std::unique_ptr<DcmObj> BuildImageIdentifier(const ImageInfo& query) {
  return BuildIdentifier(query, kImageKeys);
}

StudyInfo StudyFromIdentifier(const DcmObj& identifier) {
  StudyInfo study;
  ForEachTopLevelValue(identifier, [&](const DcmTag& tag) {
    StoreValue(study, kStudyResults, tag, tag.GetString());
  });
  CutWithWarning(study.accessionNumber, 16, "WARNING, Accession number length>16, ");
  CutWithWarning(study.institutionName, 64, "WARNING, InstitutionName length>64, ");
  CutWithWarning(study.studyDescription, 64, "WARNING, StudyDescription length>64, ");
  CutWithWarning(study.operatorsName, 64, "WARNING, Operators Name length>64, ");
  CutWithWarning(study.patientName, 64, "WARNING, PatientName length>64, ");
  if (Utf8Length(study.studyId) > 16) study.studyId = Utf8Prefix(study.studyId, 16);
  return study;
}

SeriesInfo SeriesFromIdentifier(const DcmObj& identifier) {
  SeriesInfo series;
  ForEachTopLevelValue(identifier, [&](const DcmTag& tag) {
    StoreValue(series, kSeriesResults, tag, tag.GetString());
  });
  return series;
}

ImageInfo ImageFromIdentifier(const DcmObj& identifier) {
  ImageInfo image;
  ForEachTopLevelValue(identifier, [&](const DcmTag& tag) {
    const std::string text = tag.IsVR("US") ? std::to_string(tag.GetUS()) : tag.GetString();
    StoreValue(image, kImageResults, tag, text);
    if (tag.Is(0x0028, 0x0002)) image.samplesPerPixel = Number16(text);
    if (tag.Is(0x0028, 0x0010)) image.rows = Number16(text);
    if (tag.Is(0x0028, 0x0011)) image.columns = Number16(text);
    if (tag.Is(0x0028, 0x0101)) image.bitsStored = Number16(text);
  });
  return image;
}

void BuildWorklistQuery(const TWorklistItem& item, DcmObj& identifier) {
  identifier.Add(TextElement(0x0008, 0x0050, item.accessionNumber, "SH"));
  identifier.Add(TextElement(0x0008, 0x0090, item.referringPhysicianName, "PN"));
  identifier.Add(TextElement(0x0010, 0x0010, item.patientName, "PN"));
  identifier.Add(TextElement(0x0010, 0x0020, item.patientId, "LO"));
  identifier.Add(TextElement(0x0010, 0x0030, item.patientBirthDate, "DA"));
  identifier.Add(TextElement(0x0010, 0x0040, item.patientSex, "CS"));
  identifier.Add(TextElement(0x0020, 0x000D, item.studyInstanceUid, "UI"));
  identifier.Add(TextElement(0x0032, 0x1060, item.requestedProcedureDescription, "LO"));

  auto step = std::make_unique<DcmObj>();
  step->explicitVR = identifier.explicitVR;
  step->Append(TextElement(0x0008, 0x0060, item.modality, "CS"));
  step->Append(TextElement(0x0032, 0x1070, "", "LO"));
  step->Append(TextElement(0x0040, 0x0001, item.scheduledStationAETitle, "AE"));
  step->Append(TextElement(0x0040, 0x0002, item.scheduledProcedureStepStartDate, "DA"));
  step->Append(TextElement(0x0040, 0x0003, item.scheduledProcedureStepStartTime, "TM"));
  step->Append(TextElement(0x0040, 0x0006, item.scheduledPerformingPhysicianName, "PN"));
  step->Append(TextElement(0x0040, 0x0007, item.scheduledProcedureStepDescription, "LO"));
  // An empty Scheduled Protocol Code Sequence, held flat: undefined length, closed at once.
  step->Append(DcmTag::FromBytes(0x0040, 0x0008, kUndefinedLength, nullptr, "SQ"));
  step->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  step->Append(TextElement(0x0040, 0x0009, item.scheduledProcedureStepId, "SH"));
  step->Append(TextElement(0x0040, 0x0010, item.scheduledStationName, "SH"));
  step->Append(TextElement(0x0040, 0x0011, item.scheduledProcedureStepLocation, "SH"));
  step->Append(TextElement(0x0040, 0x0012, item.preMedication, "LO"));
  step->Append(TextElement(0x0040, 0x0020, item.scheduledProcedureStepStatus, "CS"));

  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(step));
  identifier.AddSequence(0x0040, 0x0100, std::move(sequence));

  identifier.Add(TextElement(0x0040, 0x1001, "", "SH"));
  identifier.Add(TextElement(0x0040, 0x1003, "", "SH"));
  EncodeObjectTexts(identifier);
}

bool WriteFindRQ(PDU_Service& service, QueryList& list, const std::string& sopClassUid,
                 const std::string& level) {
  auto identifier = std::make_unique<DcmObj>();
  if (!list.empty()) {
    const QueryRecord& record = list.front();
    const bool matches = (level == "STUDY" && std::holds_alternative<StudyInfo>(record)) ||
                         (level == "SERIES" && std::holds_alternative<SeriesInfo>(record)) ||
                         (level == "IMAGE" && std::holds_alternative<ImageInfo>(record));
    if (level == "STUDY" || level == "SERIES" || level == "IMAGE") {
      if (!matches) {
        WriteLog("ERROR, WriteFindRQ, query record does not match level " + level);
        list.erase(list.begin());
        return false;
      }
      if (const auto* study = std::get_if<StudyInfo>(&record)) {
        identifier = BuildStudyIdentifier(*study);
      } else if (const auto* series = std::get_if<SeriesInfo>(&record)) {
        identifier = BuildSeriesIdentifier(*series);
      } else if (const auto* image = std::get_if<ImageInfo>(&record)) {
        identifier = BuildImageIdentifier(*image);
      }
      list.erase(list.begin());
    }
  }
  return CFind::WriteRQ(&service, *identifier, sopClassUid);
}

int ReadFindRSP(PDU_Service& service, QueryList& list, const std::string& level) {
  DcmObj identifier;
  const int status = CFind::ReadRSP(&service, identifier);
  if (status == 0 || status == -1) return status;
  DecodeDataSetToUtf8(identifier);
  if (level == "STUDY") {
    list.emplace_back(StudyFromIdentifier(identifier));
  } else if (level == "SERIES") {
    list.emplace_back(SeriesFromIdentifier(identifier));
  } else if (level == "IMAGE") {
    list.emplace_back(ImageFromIdentifier(identifier));
  }
  return status;
}

FindEnd RunFind(PDU_Service& service, DcmObj& identifier, const std::string& sopClassUid,
                const std::function<void(DcmObj& match)>& onMatch, std::stop_token cancel,
                int* finalStatus) {
  if (finalStatus != nullptr) *finalStatus = -1;
  if (!CFind::WriteRQ(&service, identifier, sopClassUid)) return FindEnd::NotSent;
  bool cancelled = false;
  for (;;) {
    if (!cancelled && cancel.stop_requested()) {
      WriteLog("INFO, RunFind, search cancelled; awaiting the final response");
      if (!CFind::WriteCancelRQ(&service)) return FindEnd::Failed;
      cancelled = true;
    }
    DcmObj match;
    const int status = CFind::ReadRSP(&service, match);
    if (IsPendingStatus(status)) {
      if (!cancelled && onMatch) onMatch(match);
      continue;
    }
    if (finalStatus != nullptr) *finalStatus = status;
    // A peer may finish the search before it sees the cancel: success then ends it too.
    if (cancelled && (status == kStatusCancel || status == 0)) return FindEnd::Cancelled;
    return status == 0 ? FindEnd::Completed : FindEnd::Failed;
  }
}
