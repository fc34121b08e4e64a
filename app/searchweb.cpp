// "Search PACS" over DICOMweb: QIDO-RS with the keys and matching of the study-root C-FIND.
#include "searchweb.h"

#include "httpsession.h"
#include "log.h"
#include "qidors.h"
#include "send.h"
#include "webpacs.h"

SearchOutcome SearchPACSWeb(const DicomWebServer& pacs, const SearchForm& form,
                            std::vector<StudyInfo>& results, UserMessage* stopCause) {
  results.clear();
  HttpSession session(pacs);
  const QidoResult result = QidoStudies(session, PacsQueryFromForm(form), results);
  if (result.complete) return SearchOutcome::Completed;
  if (result.pagesRead == 0) {
    WriteLog("ERROR, couldn't connect to " + ShownUrl(pacs.baseUrl));
    return SearchOutcome::NotConnected;
  }
  if (stopCause != nullptr) {
    *stopCause = UserMessage(result.moreMatches ? UserMessageKind::MoreMatchesThanShown
                                                : UserMessageKind::PacsStoppedPartWay);
  }
  return SearchOutcome::Interrupted;
}

SearchOutcome SearchPACSBySettings(const SetupConfig& settings, const SearchForm& form,
                                   std::vector<StudyInfo>& results, std::stop_token cancel,
                                   UserMessage* stopCause) {
  if (!UsesDicomWeb(settings)) {
    return SearchPACS(PacsNode(settings), form, results, cancel, stopCause);
  }
  results.clear();
  DicomWebServer pacs;
  std::string problem;
  if (!WebPacs(settings, pacs, problem)) {
    WriteLog("ERROR, SearchPACSBySettings, " + problem);
    return SearchOutcome::NotConnected;
  }
  return SearchPACSWeb(pacs, form, results, stopCause);
}

std::string PacsName(const SetupConfig& settings) {
  return UsesDicomWeb(settings) ? ShownUrl(settings.webURL) : settings.remoteAET;
}
