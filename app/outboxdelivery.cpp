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
  Delivery(Outbox& outbox, DeliveryProgress progress, size_t total)
      : outbox_(outbox), progress_(std::move(progress)), total_(total) {}

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
  DeliveryProgress progress_;
  size_t total_;
  DeliveryReport report_;
};

bool Stopped(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load();
}

}  // namespace

struct StreamingDelivery::State {
  State(Outbox& box, const RemoteNode& peer, DeliveryProgress progress, size_t expected)
      : outbox(box), node(peer), delivery(box, std::move(progress), expected) {}
  Outbox& outbox;
  RemoteNode node;
  Delivery delivery;
  std::string sopClassUid;  // the association's kind, once opened
  std::string transferSyntaxUid;
  std::unique_ptr<PDU_Service> service;
  bool pacsAway = false;
};

StreamingDelivery::StreamingDelivery(Outbox& outbox, const RemoteNode& node,
                                     DeliveryProgress progress, size_t expected)
    : state_(std::make_unique<State>(outbox, node, std::move(progress), expected)) {}

StreamingDelivery::~StreamingDelivery() {
  if (state_) Finish();
}

bool StreamingDelivery::PacsAnswered() const {
  return !state_->pacsAway;
}

void StreamingDelivery::Deliver(const OutboxEntry& entry) {
  State& state = *state_;
  if (state.pacsAway) {
    state.delivery.Record(entry, Undecided(kPacsDidNotAnswer));
    return;
  }
  Part10Header header;
  std::string error;
  if (!ReadPart10Header(state.outbox.PathOf(entry).string(), header, error)) {
    state.delivery.Record(entry, Decided(StoreFailure(error)));
    return;
  }
  if (state.service) {
    if (header.sopClassUid != state.sopClassUid ||
        header.transferSyntaxUid != state.transferSyntaxUid) {
      return;  // another kind: it waits for its own association
    }
  } else {
    state.service = std::make_unique<PDU_Service>();
    state.sopClassUid = header.sopClassUid;
    state.transferSyntaxUid = header.transferSyntaxUid;
    if (!OpenFileStoreAssociation(*state.service, state.node, header.sopClassUid,
                                  header.transferSyntaxUid, kSendTimeoutSeconds)) {
      WriteLog("ERROR, Can't open association with: " + state.node.calledAet);
      // The PACS is not there: later objects would only wait for the same time-out.
      state.pacsAway = true;
      state.delivery.Report().pacsAnswered = false;
      state.delivery.Record(entry, Undecided(kPacsDidNotAnswer));
      return;
    }
  }
  PDU_Service& service = *state.service;
  Attempt attempt;
  if (service.State() != AssociationState::Established) {
    attempt = Undecided(std::string("not sent, association ") + StateName(service.State()));
  } else if (ChooseStoreContext(service, header.transferSyntaxUid) == 0) {
    attempt =
        Decided(StoreFailure("the PACS accepts no presentation context for " + header.sopClassUid));
  } else {
    const int status = StoreFile(service, state.outbox.PathOf(entry).string(), header, error);
    if (status >= 0) {
      attempt = Decided(StoreOutcomeFromStatus(status));
    } else if (status == kStoreConversionFailed) {
      attempt = Decided(StoreFailure(error));
    } else {
      attempt = Undecided(error.empty() ? "the association was lost" : error);
    }
  }
  state.delivery.Record(entry, attempt);
}

DeliveryReport StreamingDelivery::Finish() {
  if (state_->service) CloseAssociation(*state_->service);
  DeliveryReport report = std::move(state_->delivery.Report());
  state_.reset();
  return report;
}

namespace {

void DeliverByDicom(std::vector<OutboxEntry> waiting, Outbox& outbox, const RemoteNode& node,
                    const DeliveryProgress& progress, DeliveryReport& report,
                    const std::atomic<bool>* stop) {
  // Kind by kind, in order of first appearance, each kind's association closed before the next
  // opens: some archives take only one association per caller at a time.
  std::vector<std::pair<std::string, std::string>> kinds;
  std::vector<size_t> kindOf;
  for (const OutboxEntry& entry : waiting) {
    Part10Header header;
    std::string error;
    ReadPart10Header(outbox.PathOf(entry).string(), header, error);
    const std::pair<std::string, std::string> kind{header.sopClassUid, header.transferSyntaxUid};
    auto found = std::find(kinds.begin(), kinds.end(), kind);
    if (found == kinds.end()) found = kinds.insert(kinds.end(), kind);
    kindOf.push_back(static_cast<size_t>(found - kinds.begin()));
  }
  std::vector<size_t> order(waiting.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return kindOf[a] < kindOf[b]; });
  const size_t total = waiting.size();
  size_t done = 0;
  for (size_t k = 0; k < kinds.size() && done < order.size(); ++k) {
    const size_t base = report.objects.size();
    DeliveryProgress placed;
    if (progress) {
      placed = [&progress, base, total](const DeliveredObject& object, size_t index, size_t) {
        progress(object, base + index, total);
      };
    }
    StreamingDelivery streaming(outbox, node, placed, total);
    while (done < order.size() && kindOf[order[done]] == k) {
      if (Stopped(stop)) break;
      streaming.Deliver(waiting[order[done]]);
      ++done;
      if (!streaming.PacsAnswered()) break;
    }
    DeliveryReport part = streaming.Finish();
    report.delivered += part.delivered;
    report.failed += part.failed;
    report.waiting += part.waiting;
    if (report.cause.empty()) report.cause = part.cause;
    for (DeliveredObject& object : part.objects) report.objects.push_back(std::move(object));
    if (!part.pacsAnswered || Stopped(stop)) {
      report.pacsAnswered = report.pacsAnswered && part.pacsAnswered;
      // Not tried: they wait as they were, with the cause noted when the PACS was away.
      for (; done < order.size() && !part.pacsAnswered; ++done) {
        const OutboxEntry& entry = waiting[order[done]];
        outbox.NoteAttempt(entry.file, kPacsDidNotAnswer);
        report.objects.push_back({entry, StoreFailure(kPacsDidNotAnswer), OutboxState::Waiting});
        ++report.waiting;
        if (progress) progress(report.objects.back(), report.objects.size() - 1, total);
      }
      return;
    }
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
  return DeliverOutboxLocked(lock, outbox, target, progress, stop);
}

DeliveryReport DeliverOutboxLocked(const OutboxDeliveryLock&, Outbox& outbox,
                                   const PacsTarget& target, const DeliveryProgress& progress,
                                   const std::atomic<bool>* stop) {
  // Read under the lock: objects a delivery that ran meanwhile has settled are not sent again.
  std::vector<OutboxEntry> waiting = outbox.Entries();
  std::erase_if(waiting,
                [](const OutboxEntry& entry) { return entry.state != OutboxState::Waiting; });
  DeliveryReport report;
  if (waiting.empty()) return report;
  if (target.useWeb) {
    Delivery delivery(outbox, progress, waiting.size());
    DeliverByWeb(waiting, outbox, target.web, delivery);
    report = std::move(delivery.Report());
  } else {
    DeliverByDicom(waiting, outbox, target.node, progress, report, stop);
  }
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
