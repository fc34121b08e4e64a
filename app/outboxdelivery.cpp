// Delivering the outbox to the PACS, by C-STORE or by STOW-RS.
#include "outboxdelivery.h"

#include <algorithm>

#include "httpsession.h"
#include "log.h"
#include "pdu_service.h"
#include "send.h"
#include "storage.h"
#include "storefiles.h"
#include "stowrs.h"
#include "webpacs.h"

namespace {

// An answer either decides an object (a status, or a reason that no retry can change) or leaves
// it waiting for the next delivery.
struct Attempt {
  StoreOutcome outcome;
  bool decisive = false;
};

Attempt Decided(const StoreOutcome& outcome) {
  return {outcome, true};
}
Attempt Undecided(const std::string& cause) {
  return {StoreFailure(cause), false};
}

// The one step that settles a delivered object. A stored object leaves the outbox here; when
// storage commitment is asked for, this is where it would be recorded as stored and wait for the
// commitment instead.
OutboxState Settle(Outbox& outbox, const OutboxEntry& entry, const Attempt& attempt) {
  if (attempt.outcome.IsStored()) {
    if (attempt.outcome.result == StoreResult::StoredWithWarning) {
      WriteLog("WARNING, Outbox, " + entry.sopInstanceUid + " stored with " +
               attempt.outcome.cause);
    }
    outbox.MarkDelivered(entry.file);
    return OutboxState::Gone;
  }
  if (attempt.decisive) {
    WriteLog("ERROR, Outbox, " + entry.sopInstanceUid + " refused: " + attempt.outcome.cause);
    outbox.MarkFailed(entry.file, attempt.outcome.cause);
    return OutboxState::Failed;
  }
  outbox.NoteAttempt(entry.file, attempt.outcome.cause);
  return OutboxState::Waiting;
}

class Delivery {
 public:
  Delivery(Outbox& outbox, const DeliveryProgress& progress, size_t total)
      : outbox_(outbox), progress_(progress), total_(total) {}

  void Record(const OutboxEntry& entry, const Attempt& attempt) {
    DeliveredObject object{entry, attempt.outcome, Settle(outbox_, entry, attempt)};
    switch (object.settled) {
      case OutboxState::Gone:
        ++report_.delivered;
        break;
      case OutboxState::Failed:
        ++report_.failed;
        break;
      default:
        ++report_.waiting;
        if (report_.cause.empty()) report_.cause = attempt.outcome.cause;
        break;
    }
    report_.objects.push_back(std::move(object));
    if (progress_) progress_(report_.objects.back(), report_.objects.size() - 1, total_);
  }

  DeliveryReport& Report() { return report_; }

 private:
  Outbox& outbox_;
  const DeliveryProgress& progress_;
  size_t total_;
  DeliveryReport report_;
};

bool Stopped(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load();
}

void DeliverByDicom(const std::vector<OutboxEntry>& waiting, Outbox& outbox, const RemoteNode& node,
                    Delivery& delivery, const std::atomic<bool>* stop) {
  struct Group {
    std::string sopClassUid;
    std::string transferSyntaxUid;
    std::vector<std::pair<OutboxEntry, Part10Header>> objects;
  };
  std::vector<Group> groups;
  for (const OutboxEntry& entry : waiting) {
    Part10Header header;
    std::string error;
    if (!ReadPart10Header(outbox.PathOf(entry).string(), header, error)) {
      delivery.Record(entry, Decided(StoreFailure(error)));
      continue;
    }
    auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
      return g.sopClassUid == header.sopClassUid && g.transferSyntaxUid == header.transferSyntaxUid;
    });
    if (group == groups.end()) {
      groups.push_back({header.sopClassUid, header.transferSyntaxUid, {}});
      group = groups.end() - 1;
    }
    group->objects.emplace_back(entry, std::move(header));
  }
  for (size_t g = 0; g < groups.size() && !Stopped(stop); ++g) {
    const Group& group = groups[g];
    PDU_Service service;
    if (!OpenFileStoreAssociation(service, node, group.sopClassUid, group.transferSyntaxUid,
                                  kSendTimeoutSeconds)) {
      WriteLog("ERROR, Can't open association with: " + node.calledAet);
      CloseAssociation(service);
      // The PACS is not there: the other groups would only wait for the same time-out.
      delivery.Report().pacsAnswered = false;
      for (size_t rest = g; rest < groups.size(); ++rest) {
        for (const auto& [entry, header] : groups[rest].objects) {
          delivery.Record(entry, Undecided(kPacsDidNotAnswer));
        }
      }
      return;
    }
    for (const auto& [entry, header] : group.objects) {
      if (Stopped(stop)) break;
      Attempt attempt;
      if (service.State() != AssociationState::Established) {
        attempt = Undecided(std::string("not sent, association ") + StateName(service.State()));
      } else if (ChooseStoreContext(service, header.transferSyntaxUid) == 0) {
        attempt = Decided(
            StoreFailure("the PACS accepts no presentation context for " + header.sopClassUid));
      } else {
        std::string error;
        const int status = StoreFile(service, outbox.PathOf(entry).string(), header, error);
        if (status >= 0) {
          attempt = Decided(StoreOutcomeFromStatus(status));
        } else if (status == kStoreConversionFailed) {
          attempt = Decided(StoreFailure(error));
        } else {
          attempt = Undecided(error.empty() ? "the association was lost" : error);
        }
      }
      delivery.Record(entry, attempt);
    }
    CloseAssociation(service);
  }
}

void DeliverByWeb(const std::vector<OutboxEntry>& waiting, Outbox& outbox,
                  const DicomWebServer& web, Delivery& delivery) {
  std::vector<StowItem> items;
  for (const OutboxEntry& entry : waiting) items.push_back({outbox.PathOf(entry).string()});
  HttpSession session(web);
  bool anyAnswer = false;
  StowRS(session, items, {}, [&](size_t index, const StoreOutcome& outcome) {
    // A status (a Failure Reason) decides; a refused request or no answer leaves it waiting.
    const bool decided = outcome.IsStored() || outcome.status >= 0;
    anyAnswer = anyAnswer || decided;
    delivery.Record(waiting[index], decided ? Decided(outcome) : Undecided(outcome.cause));
  });
  if (!anyAnswer && !waiting.empty()) delivery.Report().pacsAnswered = false;
}

}  // namespace

DeliveryReport DeliverOutbox(Outbox& outbox, const PacsTarget& target,
                             const DeliveryProgress& progress, const std::atomic<bool>* stop) {
  const OutboxDeliveryLock lock(outbox);
  // Read after the lock: objects a delivery that ran meanwhile has settled are not sent again.
  std::vector<OutboxEntry> waiting = outbox.Entries();
  std::erase_if(waiting,
                [](const OutboxEntry& entry) { return entry.state != OutboxState::Waiting; });
  Delivery delivery(outbox, progress, waiting.size());
  if (!waiting.empty()) {
    if (target.useWeb) {
      DeliverByWeb(waiting, outbox, target.web, delivery);
    } else {
      DeliverByDicom(waiting, outbox, target.node, delivery, stop);
    }
  }
  DeliveryReport report = std::move(delivery.Report());
  // Objects a stop left untried still wait.
  report.waiting += waiting.size() - report.objects.size();
  return report;
}

bool PacsTargetFromSettings(const SetupConfig& settings, PacsTarget& target, std::string& problem) {
  target = PacsTarget{};
  target.node = PacsNode(settings);
  target.useWeb = UsesDicomWeb(settings);
  return !target.useWeb || WebPacs(settings, target.web, problem);
}
