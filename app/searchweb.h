// "Search PACS" over DICOMweb: QIDO-RS with the keys and matching of the study-root C-FIND.
#pragma once

#include <vector>

#include "dicomwebserver.h"
#include "search.h"

// Empties `results` and fills them with one row per matching study, read page by page, as
// SearchPACS fills them from C-FIND responses. NotConnected when not even the first page
// arrived (the server cannot be reached or refused the login; the log's first error says which,
// followed by "ERROR, couldn't connect to " and the URL), Interrupted when a later page failed
// (the rows read until then are kept; `stopCause`, when given, says so in plain words).
SearchOutcome SearchPACSWeb(const DicomWebServer& pacs, const SearchForm& form,
                            std::vector<StudyInfo>& results, std::string* stopCause = nullptr);
