// Sending a batch to the PACS: one association per SOP class and encoding, one C-STORE per object.
#include "send.h"

#include <algorithm>

#include "log.h"
#include "pdu_service.h"
#include "storage.h"
#include "storeoutcome.h"

namespace {

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
  if (!OpenNodeStoreAssociation(service, pacs, sopClassUid, transferSyntaxUid,
                                kSendTimeoutSeconds)) {
    WriteLog("ERROR, Can't open association with: " + pacs.calledAet);
    CloseAssociation(service);
    return false;
  }
  bool allStored = true;
  for (size_t i = 0; i < list.size(); ++i) {
    DcmObj& dataSet = *list[i];
    bool stored = false;
    if (service.State() != AssociationState::Established) {
      // The peer released or aborted, or the connection failed: nothing more may be written,
      // so the rest of the list is reported at once instead of being encoded for nobody.
      WriteLog("ERROR, SendObjectList, association " + std::string(StateName(service.State())) +
               ", " + std::to_string(list.size() - i) + " objects not sent");
      for (size_t rest = i; rest < list.size(); ++rest) {
        if (progress) progress(*list[rest], rest, list.size(), false);
      }
      allStored = false;
      break;
    }
    if (WriteStoreRQ(service, dataSet, sopClassUid) != kStoreWritten) {
      WriteLog("ERROR, WriteStoreRQ for " + dataSet.GetString(0x0008, 0x0018));
    } else {
      // A warning status means stored; counting it as failed would make users send it again.
      stored = StoreOutcomeFromStatus(ReadStoreRSP(service)).IsStored();
    }
    allStored = allStored && stored;
    if (progress) progress(dataSet, i, list.size(), stored);
  }
  CloseAssociation(service);
  return allStored;
}

bool SendLists(BatchLists& lists, const RemoteNode& pacs, const SendProgress& progress) {
  bool allSent = true;
  DataSetList* kinds[] = {&lists.images, &lists.documents, &lists.pdfs, &lists.videos};
  // Progress counts the objects of the whole batch, not of each association.
  size_t total = 0;
  for (const DataSetList* kind : kinds) total += kind->size();
  size_t done = 0;
  for (DataSetList* kind : kinds) {
    // One association per SOP class and transfer syntax, in order of first appearance: each
    // object is proposed in the encoding its converter chose (videos differ by their codec).
    struct Group {
      std::string sopClassUid;
      std::string transferSyntaxUid;
      std::vector<size_t> places;  // indexes into the kind's list
    };
    std::vector<Group> groups;
    for (size_t i = 0; i < kind->size(); ++i) {
      const DcmObj& dataSet = *(*kind)[i];
      const std::string sopClassUid = dataSet.GetString(0x0008, 0x0016);
      auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
        return g.sopClassUid == sopClassUid && g.transferSyntaxUid == dataSet.transferSyntax;
      });
      if (group == groups.end()) {
        groups.push_back({sopClassUid, dataSet.transferSyntax, {}});
        group = groups.end() - 1;
      }
      group->places.push_back(i);
    }
    for (const Group& group : groups) {
      DataSetList part;
      for (size_t place : group.places) part.push_back(std::move((*kind)[place]));
      SendProgress partProgress;
      if (progress) {
        partProgress = [&](const DcmObj& dataSet, size_t index, size_t, bool stored) {
          progress(dataSet, done + group.places[index], total, stored);
        };
      }
      if (!SendObjectList(part, group.sopClassUid, group.transferSyntaxUid, pacs, partProgress)) {
        allSent = false;
      }
    }
    done += kind->size();
    kind->clear();
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
  return ConvertAndSend(
      items, [&](BatchLists& lists) { return SendLists(lists, pacs, progress); }, message);
}

bool ConvertAndSend(const std::vector<std::string>& items,
                    const std::function<bool(BatchLists&)>& sendLists, std::string& message) {
  BatchLists lists;
  std::string conversionMessage;
  bool success = ConvertItems(items, lists, conversionMessage);
  // A failed conversion leaves the lists empty, and nothing goes out.
  if (!sendLists(lists)) success = false;
  if (success) {
    message = kSentOkMessage;
  } else {
    message = conversionMessage.empty() ? std::string(kSendFailedMessage)
                                        : conversionMessage + "\n" + kSendFailedMessage;
  }
  return success;
}
