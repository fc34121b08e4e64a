// Patient and study search: query records from the form fields, worklist results, both searches.
#pragma once

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "dcmobj.h"
#include "query.h"
#include "remotenode.h"
#include "studyinfo.h"
#include "usermessage.h"

// The filter fields of the main window's form, as typed, in UTF-8 (a query whose keys need more
// than ASCII declares its character set). Dates are "yyyymmdd".
struct SearchForm {
  std::string patientName;
  std::string patientId;
  std::string accessionNumber;
  std::string studyDescription;
  std::string fromDate;  // the "Patient BD / From" picker
  std::string toDate;    // the "Study Date / To" picker
  std::string modality;  // the modality filter: empty for "ALL"
};

// The filter for a modality text: one of the modality box's items other than "ALL" gives that
// item, anything else (including "ALL" and typed texts) gives no filter.
std::string ModalityFilter(std::string_view text);

// True when none of the four text filters is set, so a PACS search would list every study.
bool SearchHasNoFilters(const SearchForm& form);

// The query records of "Search PACS" and "Search WL". Names get a trailing wild card and the
// description one on each side; the PACS search matches the study date range from..to, the
// worklist the scheduled date of the "to" day only.
StudyInfo PacsQueryFromForm(const SearchForm& form);
TWorklistItem WorklistQueryFromForm(const SearchForm& form);

// Copies a worklist response's attributes, found at any depth, into `study`, decoded to UTF-8 by
// the response's Specific Character Set; later elements overwrite earlier ones, so a step
// description replaces the requested procedure description.
void WorklistResultToStudy(const DcmObj& identifier, StudyInfo& study);

// What a search ended with. The matches read before a failure are kept in the results.
enum class SearchOutcome {
  Completed,      // the final response arrived
  NotConnected,   // no association; the message is "ERROR, couldn't connect to " + AET
  RequestFailed,  // the C-FIND request could not be written
  Interrupted,    // a response could not be read, or a failure status ended the search
  Cancelled,      // the caller cancelled; the peer confirmed the end of the search
};

// Study-root C-FIND at study level against the PACS, and Modality Worklist C-FIND against the
// worklist server. `results` is emptied first and receives one record per pending response.
// A stop requested on `cancel` sends C-CANCEL-FIND-RQ; the matches read before it are kept.
// When the search is Interrupted, `stopCause` (when given) says why in plain words: "the worklist
// server closed the connection", "the PACS answered with the failure status 0xC000".
SearchOutcome SearchPACS(const RemoteNode& pacs, const SearchForm& form,
                         std::vector<StudyInfo>& results, std::stop_token cancel = {},
                         UserMessage* stopCause = nullptr);
SearchOutcome SearchWorklist(const RemoteNode& worklist, const SearchForm& form,
                             std::vector<StudyInfo>& results, std::stop_token cancel = {},
                             UserMessage* stopCause = nullptr);

// What the user is told after an interrupted search: "Search stopped: the worklist server closed
// the connection; 12 entries shown".
UserMessage SearchStoppedMessage(const UserMessage& cause, size_t shown);

// Time-out of both searches, in seconds.
inline constexpr int kSearchTimeoutSeconds = 30;
