// Sending a batch to the PACS: one association per kind of object, one C-STORE per object.
#include "send.h"

#include "log.h"
#include "pdu_service.h"
#include "storage.h"

namespace {

constexpr const char* kBasicTextSrClass = "1.2.840.10008.5.1.4.1.1.88.11";
constexpr const char* kEncapsulatedPdfClass = "1.2.840.10008.5.1.4.1.1.104.1";
constexpr const char* kVideoEndoscopicClass = "1.2.840.10008.5.1.4.1.1.77.1.1.1";
constexpr const char* kMpeg4TransferSyntax = "1.2.840.10008.1.2.4.102";

// Both servers are called with this station's own AE title.
RemoteNode NodeOf(const SetupConfig& settings, const std::string& calledAet,
                  const std::string& host, const std::string& port) {
  RemoteNode node;
  node.callingAet = settings.LocalAET;
  node.calledAet = calledAet;
  node.host = host;
  node.port = port;
  return node;
}

}  // namespace

RemoteNode PacsNode(const SetupConfig& settings) {
  return NodeOf(settings, settings.remoteAET, settings.remoteIP, settings.remotePort);
}

RemoteNode WorklistNode(const SetupConfig& settings) {
  return NodeOf(settings, settings.worklistAET, settings.worklistIP, settings.worklistPort);
}

bool SendObjectList(DataSetList& list, const std::string& sopClassUid,
                    const std::string& transferSyntaxUid, const RemoteNode& pacs,
                    const SendProgress& progress) {
  PDU_Service service;
  if (!OpenNodeAssociation(service, pacs, sopClassUid, transferSyntaxUid, "",
                           kSendTimeoutSeconds)) {
    WriteLog("ERROR, Can't open association with: " + pacs.calledAet);
    CloseAssociation(service);
    return false;
  }
  bool allStored = true;
  for (size_t i = 0; i < list.size(); ++i) {
    DcmObj& dataSet = *list[i];
    bool stored = false;
    if (WriteStoreRQ(service, dataSet, sopClassUid) != kStoreWritten) {
      WriteLog("ERROR, WriteStoreRQ for " + dataSet.GetString(0x0008, 0x0018));
    } else {
      stored = ReadStoreRSP(service) == 0;
    }
    allStored = allStored && stored;
    if (progress) progress(dataSet, i, list.size(), stored);
  }
  CloseAssociation(service);
  return allStored;
}

bool SendLists(BatchLists& lists, const RemoteNode& pacs, const SendProgress& progress) {
  bool allSent = true;
  struct Kind {
    DataSetList& list;
    std::string sopClassUid;
    std::string transferSyntaxUid;
  };
  // Images carry the class and encoding their converter chose; the other kinds have fixed ones.
  std::string imageClass;
  std::string imageSyntax;
  if (!lists.images.empty()) {
    imageClass = lists.images.front()->GetString(0x0008, 0x0016);
    imageSyntax = lists.images.front()->transferSyntax;
  }
  Kind kinds[] = {
      {lists.images, imageClass, imageSyntax},
      {lists.documents, kBasicTextSrClass, kExplicitVRLittleEndian},
      {lists.pdfs, kEncapsulatedPdfClass, kExplicitVRLittleEndian},
      {lists.videos, kVideoEndoscopicClass, kMpeg4TransferSyntax},
  };
  // Progress counts the objects of the whole batch, not of each association.
  size_t total = 0;
  for (const Kind& kind : kinds) total += kind.list.size();
  size_t done = 0;
  SendProgress batchProgress;
  if (progress) {
    batchProgress = [&](const DcmObj& dataSet, size_t index, size_t, bool stored) {
      progress(dataSet, done + index, total, stored);
    };
  }
  for (Kind& kind : kinds) {
    if (kind.list.empty()) continue;
    if (!SendObjectList(kind.list, kind.sopClassUid, kind.transferSyntaxUid, pacs, batchProgress)) {
      allSent = false;
    }
    done += kind.list.size();
    kind.list.clear();
  }
  return allSent;
}

bool SendBatch(const BatchForm& form, const StudyInfo* chosen,
               const std::vector<std::string>& items, const SetupConfig& settings,
               const RemoteNode& pacs, std::string& message, const SendProgress& progress) {
  message.clear();
  if (!PrepareBatch(form, chosen, items.size(), settings, message)) return false;
  return SendPreparedBatch(items, pacs, message, progress);
}

bool SendPreparedBatch(const std::vector<std::string>& items, const RemoteNode& pacs,
                       std::string& message, const SendProgress& progress) {
  BatchLists lists;
  std::string conversionMessage;
  bool success = ConvertItems(items, lists, conversionMessage);
  if (!SendLists(lists, pacs, progress)) success = false;
  if (success) {
    message = kSentOkMessage;
  } else {
    message = conversionMessage.empty() ? std::string(kSendFailedMessage)
                                        : conversionMessage + "\n" + kSendFailedMessage;
  }
  return success;
}
