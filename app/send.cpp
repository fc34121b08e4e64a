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

UserMessage AssociationFailureCause(const PDU_Service& service, const RemoteNode& pacs) {
  const UserMessage where = UserMessage::Text(pacs.host + ":" + pacs.port);
  const AAssociateRJ& rejection = service.assocRJ;
  // Result 0 is no rejection at all: the answer never came or was something else.
  if (rejection.Result != 0) {
    if (rejection.Source == 1 && rejection.Reason == 3) {
      return UserMessage(UserMessageKind::PacsRefusedAeTitle, {UserMessage::Text(pacs.callingAet)});
    }
    if (rejection.Source == 1 && rejection.Reason == 7) {
      return UserMessage(UserMessageKind::PacsNotCalled,
                         {where, UserMessage::Text(pacs.calledAet)});
    }
    if (rejection.Source == 3) return UserMessage(UserMessageKind::PacsBusy, {where});
    return UserMessage(UserMessageKind::PacsRefusedConnection, {where});
  }
  if (service.Link.dsocket.LastResult != 0) {
    return UserMessage(UserMessageKind::PacsDidNotAnswer, {where});
  }
  return UserMessage(UserMessageKind::PacsDidNotAccept, {where});
}

bool SendObjectList(DataSetList& list, const std::string& sopClassUid,
                    const std::string& transferSyntaxUid, const RemoteNode& pacs,
                    const SendProgress& progress, std::stop_token stop, BatchReport* report) {
  // What the report learns of an object: whether it was stored, and why not.
  auto done = [&](const DcmObj& dataSet, size_t index, bool stored, const UserMessage& cause) {
    if (report != nullptr) {
      report->ObjectDone(dataSet, stored);
      if (!stored && !cause.Empty()) {
        const std::string name = report->NameOf(dataSet);
        report->SetCause(UserMessage(
            UserMessageKind::NamedCause,
            {UserMessage::Text(name.empty() ? dataSet.GetString(0x0008, 0x0018) : name), cause}));
      }
    }
    if (progress) progress(dataSet, index, list.size(), stored);
  };
  PDU_Service service;
  if (!OpenNodeStoreAssociation(service, pacs, sopClassUid, transferSyntaxUid,
                                kSendTimeoutSeconds)) {
    WriteLog("ERROR, Can't open association with: " + pacs.calledAet);
    if (report != nullptr) {
      report->SetCause(AssociationFailureCause(service, pacs));
      for (const std::unique_ptr<DcmObj>& dataSet : list) report->ObjectDone(*dataSet, false);
    }
    CloseAssociation(service);
    return false;
  }
  bool allStored = true;
  for (size_t i = 0; i < list.size(); ++i) {
    DcmObj& dataSet = *list[i];
    // Cancelled: the object in flight was finished; the rest stay unsent and are not reported.
    if (stop.stop_requested()) {
      if (report != nullptr) report->MarkCancelled();
      allStored = false;
      break;
    }
    if (service.State() != AssociationState::Established) {
      // The peer released or aborted, or the connection failed: nothing more may be written,
      // so the rest of the list is reported at once instead of being encoded for nobody.
      WriteLog("ERROR, SendObjectList, association " + std::string(StateName(service.State())) +
               ", " + std::to_string(list.size() - i) + " objects not sent");
      if (report != nullptr) {
        report->SetCause(UserMessage(UserMessageKind::PacsClosedConnection,
                                     {UserMessage::Text(pacs.host + ":" + pacs.port)}));
      }
      for (size_t rest = i; rest < list.size(); ++rest) done(*list[rest], rest, false, {});
      allStored = false;
      break;
    }
    StoreOutcome outcome = StoreFailure("the request could not be sent");
    UserMessage cause(UserMessageKind::RequestNotSent);
    if (WriteStoreRQ(service, dataSet, sopClassUid) != kStoreWritten) {
      WriteLog("ERROR, WriteStoreRQ for " + dataSet.GetString(0x0008, 0x0018));
    } else {
      // A warning status means stored; counting it as failed would make users send it again.
      outcome = StoreOutcomeFromStatus(ReadStoreRSP(service), "the PACS gave no answer");
      // A status is named as the PACS gave it; without one, the words are this program's own.
      cause = outcome.status < 0 ? UserMessage(UserMessageKind::PacsGaveNoAnswer)
                                 : UserMessage::Text(outcome.cause);
    }
    const bool stored = outcome.IsStored();
    allStored = allStored && stored;
    done(dataSet, i, stored, stored ? UserMessage() : cause);
  }
  CloseAssociation(service);
  return allStored;
}

bool SendLists(BatchLists& lists, const RemoteNode& pacs, const SendProgress& progress,
               std::stop_token stop, BatchReport* report) {
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
      if (stop.stop_requested()) {
        if (report != nullptr) report->MarkCancelled();
        allSent = false;
        break;
      }
      if (!SendObjectList(part, group.sopClassUid, group.transferSyntaxUid, pacs, partProgress,
                          stop, report)) {
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
               const RemoteNode& pacs, UserMessage& message, const SendProgress& progress) {
  message = {};
  if (!PrepareBatch(form, chosen, items.size(), settings, message)) return false;
  return SendPreparedBatch(items, pacs, message, progress);
}

UserMessage SendOutcomeMessage(const BatchReport& report) {
  if (report.Complete()) return kSentOkMessage;
  UserMessage message = report.Cancelled() ? report.Cancelled(DoneAs::Sent) : kSendFailedMessage;
  message.AddLine(report.Cause());
  message.AddLine(report.NotDelivered(DoneAs::Sent));
  return message;
}

bool SendPreparedBatch(const std::vector<std::string>& items, const RemoteNode& pacs,
                       UserMessage& message, const SendProgress& progress, std::stop_token stop,
                       BatchReport* report) {
  return ConvertAndSend(
      items,
      [&](BatchLists& lists, BatchReport& outcome) {
        SendLists(lists, pacs, progress, stop, &outcome);
      },
      message, stop, report);
}

bool ConvertAndSend(const std::vector<std::string>& items, const SendConverted& sendLists,
                    UserMessage& message, std::stop_token stop, BatchReport* report) {
  BatchReport local;
  BatchReport& outcome = report != nullptr ? *report : local;
  BatchLists lists;
  UserMessage conversionErrors;
  ConvertItems(items, lists, outcome, conversionErrors, stop);
  // Whatever was made goes out, also when other items gave no object: they stay in the list.
  sendLists(lists, outcome);
  message = SendOutcomeMessage(outcome);
  return outcome.Complete();
}
