// "Search PACS" over DICOMweb: QIDO-RS with the keys and matching of the study-root C-FIND.
#pragma once

#include <string>
#include <vector>

#include "dicomwebserver.h"
#include "search.h"
#include "settings.h"

// Empties `results` and fills them with one row per matching study, read page by page, as
// SearchPACS fills them from C-FIND responses. NotConnected when not even the first page
// arrived (the server cannot be reached or refused the login; the log's first error says which,
// followed by "ERROR, couldn't connect to " and the URL), Interrupted when a later page failed
// (the rows read until then are kept; `stopCause`, when given, says so in plain words) or when
// the server has more matches than a search shows (`stopCause` "more matches than shown").
SearchOutcome SearchPACSWeb(const DicomWebServer& pacs, const SearchForm& form,
                            std::vector<StudyInfo>& results, UserMessage* stopCause = nullptr);

// "Search PACS" on the PACS the settings name: QIDO-RS when they say DICOMweb (NotConnected, with
// the problem logged, when those settings cannot be used), C-FIND otherwise. `cancel` stops a
// C-FIND on the wire (C-CANCEL-FIND-RQ); a QIDO-RS search reads its pages to the end.
// `stopCause` as for SearchPACS.
SearchOutcome SearchPACSBySettings(const SetupConfig& settings, const SearchForm& form,
                                   std::vector<StudyInfo>& results, std::stop_token cancel = {},
                                   UserMessage* stopCause = nullptr);

// How messages name the PACS of the settings: its AE title, or its DICOMweb address (without any
// login in it).
std::string PacsName(const SetupConfig& settings);
