// "Search PACS" over DICOMweb: QIDO-RS with the keys and matching of the study-root C-FIND.
#include "searchweb.h"

#include "httpsession.h"
#include "log.h"
#include "qidors.h"

SearchOutcome SearchPACSWeb(const DicomWebServer& pacs, const SearchForm& form,
                            std::vector<StudyInfo>& results, std::string* stopCause) {
  results.clear();
  HttpSession session(pacs);
  const QidoResult result = QidoStudies(session, PacsQueryFromForm(form), results);
  if (result.complete) return SearchOutcome::Completed;
  if (result.pagesRead == 0) {
    WriteLog("ERROR, couldn't connect to " + ShownUrl(pacs.baseUrl));
    return SearchOutcome::NotConnected;
  }
  if (stopCause != nullptr) *stopCause = "the PACS stopped answering part-way";
  return SearchOutcome::Interrupted;
}
