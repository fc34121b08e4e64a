// Patient and study search: the query records the form gives, and the two C-FIND searches.
#include "search.h"

#include <array>
#include <cstdio>

#include "charset.h"
#include "dimse.h"
#include "log.h"
#include "pdu_service.h"
#include "remotenode.h"

namespace {

// The modality box's items after "ALL".
constexpr std::array<std::string_view, 10> kModalityItems = {"CT", "MR", "CR", "US", "MG",
                                                             "DX", "XA", "OT", "ES", "XC"};

// Where a worklist attribute goes in the study record.
struct WorklistField {
  uint16_t group;
  uint16_t element;
  std::string StudyInfo::*field;
};

constexpr WorklistField kWorklistFields[] = {
    {0x0008, 0x0050, &StudyInfo::accessionNumber},
    {0x0008, 0x0060, &StudyInfo::modality},
    {0x0008, 0x0090, &StudyInfo::referringPhysicianName},
    {0x0010, 0x0010, &StudyInfo::patientName},
    {0x0010, 0x0020, &StudyInfo::patientId},
    {0x0010, 0x0030, &StudyInfo::patientBirthDate},
    {0x0010, 0x0040, &StudyInfo::patientSex},
    {0x0020, 0x000D, &StudyInfo::studyInstanceUid},
    {0x0032, 0x1060, &StudyInfo::studyDescription},
    {0x0040, 0x0002, &StudyInfo::studyDate},
    {0x0040, 0x0003, &StudyInfo::studyTime},
    {0x0040, 0x0007, &StudyInfo::studyDescription},
};

// Nested data sets are walked with an explicit stack: a hostile response cannot exhaust the
// call stack however deep it nests.
void CopyWorklistValues(const DcmObj& identifier, StudyInfo& study) {
  // Values reach the record in UTF-8, whatever set the server answered in.
  const DcmTag* declaredTag = identifier.FindTag(0x0008, 0x0005);
  const std::string declared = declaredTag != nullptr ? std::string(declaredTag->Bytes()) : "";
  struct Position {
    const DcmObj* dataSet;
    size_t index;
  };
  std::vector<Position> stack = {{&identifier, 0}};
  while (!stack.empty()) {
    Position& top = stack.back();
    if (top.index >= top.dataSet->Count()) {
      stack.pop_back();
      continue;
    }
    const size_t index = top.index++;
    if (const DcmObj* nested = top.dataSet->ObjAt(index)) {
      stack.push_back({nested, 0});
      continue;
    }
    const DcmTag& tag = *top.dataSet->TagAt(index);
    if (!tag.HasValue()) continue;
    for (const WorklistField& row : kWorklistFields) {
      if (tag.Is(row.group, row.element)) study.*row.field = DecodedString(tag, declared);
    }
  }
}

// Why a search ended before its final response, for the user.
std::string StopCause(const PDU_Service& service, int status, const std::string& server) {
  if (status >= 0) {
    char code[8];
    std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(status) & 0xFFFF);
    return server + " answered with the failure status 0x" + code;
  }
  if (service.State() == AssociationState::Released) return server + " ended the association";
  return server + " closed the connection";
}

}  // namespace

std::string SearchStoppedMessage(const std::string& cause, size_t shown) {
  return "Search stopped: " + cause + "; " + std::to_string(shown) +
         (shown == 1 ? " entry shown" : " entries shown");
}

std::string ModalityFilter(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (std::string_view item : kModalityItems) {
    if (upper == item) return upper;
  }
  return {};
}

bool SearchHasNoFilters(const SearchForm& form) {
  return form.patientId.empty() && form.patientName.empty() && form.accessionNumber.empty() &&
         form.studyDescription.empty();
}

StudyInfo PacsQueryFromForm(const SearchForm& form) {
  StudyInfo query;
  if (!form.patientName.empty()) query.patientName = form.patientName + "*";
  if (!form.patientId.empty()) query.patientId = form.patientId;
  if (!form.accessionNumber.empty()) query.accessionNumber = form.accessionNumber;
  if (!form.studyDescription.empty()) query.studyDescription = "*" + form.studyDescription + "*";
  query.studyDate = form.fromDate + "-" + form.toDate;
  query.modality = form.modality;
  return query;
}

TWorklistItem WorklistQueryFromForm(const SearchForm& form) {
  TWorklistItem query;
  if (!form.patientName.empty()) query.patientName = form.patientName + "*";
  if (!form.patientId.empty()) query.patientId = form.patientId;
  if (!form.accessionNumber.empty()) query.accessionNumber = form.accessionNumber;
  if (!form.studyDescription.empty()) {
    query.requestedProcedureDescription = "*" + form.studyDescription + "*";
  }
  // The worklist is asked for the one day of the "to" picker; the "from" picker is not used.
  query.scheduledProcedureStepStartDate = form.toDate + "-" + form.toDate;
  query.modality = form.modality;
  return query;
}

void WorklistResultToStudy(const DcmObj& identifier, StudyInfo& study) {
  CopyWorklistValues(identifier, study);
}

SearchOutcome SearchPACS(const RemoteNode& pacs, const SearchForm& form,
                         std::vector<StudyInfo>& results, std::string* stopCause) {
  results.clear();
  QueryList list;
  list.emplace_back(PacsQueryFromForm(form));
  PDU_Service service;
  if (!OpenNodeAssociation(service, pacs, kStudyRootFindSopClass, "", "", kSearchTimeoutSeconds)) {
    WriteLog("ERROR, couldn't connect to " + pacs.calledAet);
    CloseAssociation(service);
    return SearchOutcome::NotConnected;
  }
  SearchOutcome outcome = SearchOutcome::RequestFailed;
  if (WriteFindRQ(service, list, kStudyRootFindSopClass, "STUDY")) {
    list.clear();
    for (;;) {
      const int status = ReadFindRSP(service, list, "STUDY");
      if (status != kStatusPending && status != kStatusPendingWarning) {
        outcome = status == 0 ? SearchOutcome::Completed : SearchOutcome::Interrupted;
        if (status != 0 && stopCause != nullptr) {
          *stopCause = StopCause(service, status, "the PACS");
        }
        break;
      }
      results.push_back(std::get<StudyInfo>(list.back()));
    }
  }
  CloseAssociation(service);
  return outcome;
}

SearchOutcome SearchWorklist(const RemoteNode& worklist, const SearchForm& form,
                             std::vector<StudyInfo>& results, std::string* stopCause) {
  results.clear();
  PDU_Service service;
  if (!OpenNodeAssociation(service, worklist, kModalityWorklistFindSopClass, "", "",
                           kSearchTimeoutSeconds)) {
    WriteLog("ERROR, couldn't connect to " + worklist.calledAet);
    CloseAssociation(service);
    return SearchOutcome::NotConnected;
  }
  DcmObj identifier;
  BuildWorklistQuery(WorklistQueryFromForm(form), identifier);
  SearchOutcome outcome = SearchOutcome::RequestFailed;
  if (CFind::WriteRQ(&service, identifier, kModalityWorklistFindSopClass)) {
    for (;;) {
      identifier.Clear();
      const int status = CFind::ReadRSP(&service, identifier);
      if (status != kStatusPending && status != kStatusPendingWarning) {
        outcome = status == 0 ? SearchOutcome::Completed : SearchOutcome::Interrupted;
        if (status != 0 && stopCause != nullptr) {
          *stopCause = StopCause(service, status, "the worklist server");
        }
        break;
      }
      StudyInfo study;
      WorklistResultToStudy(identifier, study);
      results.push_back(std::move(study));
    }
  }
  CloseAssociation(service);
  return outcome;
}
