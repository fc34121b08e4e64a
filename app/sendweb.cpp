// Sending a batch to the PACS over DICOMweb: STOW-RS requests of several objects each.
#include "sendweb.h"

#include "httpsession.h"
#include "log.h"
#include "webpacs.h"

bool SendListsWeb(BatchLists& lists, const DicomWebServer& pacs, const SendProgress& progress,
                  std::vector<StoreOutcome>* outcomes, const StowLimits& limits) {
  DataSetList* kinds[] = {&lists.images, &lists.documents, &lists.pdfs, &lists.videos};
  std::vector<StowItem> items;
  for (DataSetList* kind : kinds) {
    for (const std::unique_ptr<DcmObj>& dataSet : *kind) items.push_back({"", dataSet.get()});
  }
  bool allStored = true;
  if (!items.empty()) {
    HttpSession session(pacs);
    const std::vector<StoreOutcome> decided =
        StowRS(session, items, limits, [&](size_t index, const StoreOutcome& outcome) {
          if (progress) progress(*items[index].dataSet, index, items.size(), outcome.IsStored());
        });
    for (const StoreOutcome& outcome : decided) allStored = allStored && outcome.IsStored();
    if (outcomes != nullptr) *outcomes = decided;
  }
  for (DataSetList* kind : kinds) kind->clear();
  return allStored;
}

bool SendBatchWeb(const BatchForm& form, const StudyInfo* chosen,
                  const std::vector<std::string>& items, const SetupConfig& settings,
                  const DicomWebServer& pacs, UserMessage& message, const SendProgress& progress) {
  message = {};
  if (!PrepareBatch(form, chosen, items.size(), settings, message)) return false;
  return SendPreparedBatchWeb(items, pacs, message, progress);
}

bool SendPreparedBatchWeb(const std::vector<std::string>& items, const DicomWebServer& pacs,
                          UserMessage& message, const SendProgress& progress, std::stop_token stop,
                          BatchReport* report) {
  const SendConverted sendLists = [&](BatchLists& lists, BatchReport& outcome) {
    // Requests carry several objects each and are not cut short: a cancel is honoured before the
    // first one goes out.
    if (stop.stop_requested()) {
      outcome.MarkCancelled();
      return;
    }
    // The item names in the order SendListsWeb gives the outcomes.
    std::vector<std::string> names;
    for (DataSetList* kind : {&lists.images, &lists.documents, &lists.pdfs, &lists.videos}) {
      for (const std::unique_ptr<DcmObj>& dataSet : *kind) {
        names.push_back(outcome.NameOf(*dataSet));
      }
    }
    std::vector<StoreOutcome> decided;
    const SendProgress marking = [&](const DcmObj& dataSet, size_t index, size_t total,
                                     bool stored) {
      outcome.ObjectDone(dataSet, stored);
      if (progress) progress(dataSet, index, total, stored);
    };
    SendListsWeb(lists, pacs, marking, &decided);
    for (size_t i = 0; i < decided.size() && i < names.size(); ++i) {
      if (decided[i].IsStored()) continue;
      // Without a status the server was not reached or refused the request as a whole (the
      // login, the connection): that is no single file's fault.
      const UserMessage cause = UserMessage::Text(decided[i].cause);
      outcome.SetCause(decided[i].status < 0 ? cause
                                             : UserMessage(UserMessageKind::NamedCause,
                                                           {UserMessage::Text(names[i]), cause}));
    }
  };
  return ConvertAndSend(items, sendLists, message, stop, report);
}

bool SendPreparedBatchToPacs(const std::vector<std::string>& items, const SetupConfig& settings,
                             UserMessage& message, const SendProgress& progress,
                             std::stop_token stop, BatchReport* report) {
  if (!UsesDicomWeb(settings)) {
    return SendPreparedBatch(items, PacsNode(settings), message, progress, stop, report);
  }
  DicomWebServer pacs;
  std::string problem;
  if (!WebPacs(settings, pacs, problem)) {
    WriteLog("ERROR, SendPreparedBatchToPacs, " + problem);
    if (report != nullptr) report->SetCause(problem);
    message = UserMessage::Lines({UserMessage::Text(problem), kSendFailedMessage});
    return false;
  }
  return SendPreparedBatchWeb(items, pacs, message, progress, stop, report);
}

bool StoreFilesWeb(const std::vector<std::string>& paths, const DicomWebServer& pacs,
                   std::vector<std::string>& errors, const StoreFileProgress& progress,
                   const StowLimits& limits) {
  std::vector<StowItem> items;
  for (const std::string& path : paths) items.push_back({path});
  HttpSession session(pacs);
  const std::vector<StoreOutcome> outcomes =
      StowRS(session, items, limits, [&](size_t index, const StoreOutcome& outcome) {
        if (progress) progress(paths[index], index, paths.size(), outcome.IsStored());
      });
  bool allStored = true;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    if (outcomes[i].IsStored()) continue;
    allStored = false;
    errors.push_back(paths[i] + ": " + outcomes[i].cause);
  }
  return allStored;
}
