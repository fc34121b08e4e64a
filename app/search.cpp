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
// The server's name is part of each sentence, so that every language can word it whole.
struct ServerStopKinds {
  UserMessageKind failureStatus;
  UserMessageKind endedAssociation;
  UserMessageKind closedConnection;
};
constexpr ServerStopKinds kPacsStops = {UserMessageKind::PacsFailureStatus,
                                        UserMessageKind::PacsEndedAssociation,
                                        UserMessageKind::PacsClosedSearch};
constexpr ServerStopKinds kWorklistStops = {UserMessageKind::WorklistFailureStatus,
                                            UserMessageKind::WorklistEndedAssociation,
                                            UserMessageKind::WorklistClosedSearch};

UserMessage StopCause(const PDU_Service& service, int status, const ServerStopKinds& server) {
  if (status >= 0) {
    char code[8];
    std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(status) & 0xFFFF);
    return UserMessage(server.failureStatus, {UserMessage::Text(code)});
  }
  if (service.State() == AssociationState::Released) {
    return UserMessage(server.endedAssociation);
  }
  return UserMessage(server.closedConnection);
}

}  // namespace

UserMessage SearchStoppedMessage(const UserMessage& cause, size_t shown) {
  return UserMessage(UserMessageKind::SearchStopped,
                     {cause, UserMessage::Number(static_cast<long long>(shown))});
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

namespace {

SearchOutcome OutcomeOf(FindEnd end) {
  switch (end) {
    case FindEnd::Completed:
      return SearchOutcome::Completed;
    case FindEnd::Cancelled:
      return SearchOutcome::Cancelled;
    case FindEnd::NotSent:
      return SearchOutcome::RequestFailed;
    case FindEnd::Failed:
      break;
  }
  return SearchOutcome::Interrupted;
}

// Ends a search's association; a release that did not complete is worth a line, since the
// results already read are kept.
void EndSearch(PDU_Service& service, const RemoteNode& node) {
  if (!CloseAssociation(service)) {
    WriteLog("WARNING, search, the association with " + node.calledAet +
             " ended without a completed release");
  }
}

}  // namespace

SearchOutcome SearchPACS(const RemoteNode& pacs, const SearchForm& form,
                         std::vector<StudyInfo>& results, std::stop_token cancel,
                         UserMessage* stopCause) {
  results.clear();
  PDU_Service service;
  if (!OpenNodeAssociation(service, pacs, kStudyRootFindSopClass, "", "", kSearchTimeoutSeconds)) {
    WriteLog("ERROR, couldn't connect to " + pacs.calledAet);
    CloseAssociation(service);
    return SearchOutcome::NotConnected;
  }
  auto identifier = BuildStudyIdentifier(PacsQueryFromForm(form));
  int finalStatus = -1;
  const FindEnd end = RunFind(
      service, *identifier, kStudyRootFindSopClass,
      [&](DcmObj& match) {
        DecodeDataSetToUtf8(match);
        results.push_back(StudyFromIdentifier(match));
      },
      cancel, &finalStatus);
  // The cause looks at the association's state, so it is taken before the release.
  if (end == FindEnd::Failed && stopCause != nullptr) {
    *stopCause = StopCause(service, finalStatus, kPacsStops);
  }
  EndSearch(service, pacs);
  return OutcomeOf(end);
}

SearchOutcome SearchWorklist(const RemoteNode& worklist, const SearchForm& form,
                             std::vector<StudyInfo>& results, std::stop_token cancel,
                             UserMessage* stopCause) {
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
  int finalStatus = -1;
  const FindEnd end = RunFind(
      service, identifier, kModalityWorklistFindSopClass,
      [&](DcmObj& match) {
        StudyInfo study;
        WorklistResultToStudy(match, study);
        results.push_back(std::move(study));
      },
      cancel, &finalStatus);
  if (end == FindEnd::Failed && stopCause != nullptr) {
    *stopCause = StopCause(service, finalStatus, kWorklistStops);
  }
  EndSearch(service, worklist);
  return OutcomeOf(end);
}
