// Delivering the outbox to the PACS, by C-STORE or by STOW-RS.
#include "outboxdelivery.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "commitmentlistener.h"
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

constexpr const char* kAwaitingCommitment = "stored, awaiting storage commitment";

// The one step that settles a delivered object. A stored object leaves the outbox here, unless
// storage commitment is asked for: then it stays as stored until the PACS commits it.
OutboxState Settle(Outbox& outbox, const OutboxEntry& entry, const Attempt& attempt, bool commit) {
  if (attempt.outcome.IsStored()) {
    if (attempt.outcome.result == StoreResult::StoredWithWarning) {
      WriteLog("WARNING, Outbox, " + entry.sopInstanceUid + " stored with " +
               attempt.outcome.cause);
    }
    if (commit) {
      outbox.MarkStored(entry.file, kAwaitingCommitment);
      return OutboxState::Stored;
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

// Counts an object settled into the report.
void Count(DeliveryReport& report, const DeliveredObject& object) {
  switch (object.settled) {
    case OutboxState::Gone:
      ++report.delivered;
      break;
    case OutboxState::Failed:
      ++report.failed;
      break;
    case OutboxState::Stored:
      ++report.stored;
      break;
    case OutboxState::Waiting:
      ++report.waiting;
      if (report.cause.empty()) report.cause = object.outcome.cause;
      break;
  }
}

class Delivery {
 public:
  Delivery(Outbox& outbox, bool commit, DeliveryProgress progress, size_t total)
      : outbox_(outbox), commit_(commit), progress_(std::move(progress)), total_(total) {}

  void Record(const OutboxEntry& entry, const Attempt& attempt) {
    DeliveredObject object{entry, attempt.outcome, Settle(outbox_, entry, attempt, commit_)};
    Count(report_, object);
    report_.objects.push_back(std::move(object));
    if (progress_) progress_(report_.objects.back(), report_.objects.size() - 1, total_);
  }

  DeliveryReport& Report() { return report_; }

 private:
  Outbox& outbox_;
  bool commit_;
  DeliveryProgress progress_;
  size_t total_;
  DeliveryReport report_;
};

bool Stopped(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load();
}

}  // namespace

DeliveryReport MergeDeliveries(DeliveryReport first, DeliveryReport second) {
  DeliveryReport merged;
  merged.pacsAnswered = first.pacsAnswered && second.pacsAnswered;
  std::map<std::string, size_t> at;
  for (DeliveryReport* part : {&first, &second}) {
    for (DeliveredObject& object : part->objects) {
      const auto found = at.find(object.entry.file);
      if (found != at.end()) {
        merged.objects[found->second] = std::move(object);
      } else {
        at.emplace(object.entry.file, merged.objects.size());
        merged.objects.push_back(std::move(object));
      }
    }
  }
  for (const DeliveredObject& object : merged.objects) Count(merged, object);
  if (merged.cause.empty() && merged.stored > 0) {
    merged.cause = !second.cause.empty() ? second.cause : first.cause;
  }
  return merged;
}

struct StreamingDelivery::State {
  State(Outbox& box, const PacsTarget& target, DeliveryProgress progress, size_t expected)
      : outbox(box),
        node(target.node),
        delivery(box, target.commit, std::move(progress), expected) {}

  enum class Association { Ready, OtherKind, PacsAway };
  // The association for objects of this kind: the one open, or opened now for the first object.
  Association For(const std::string& sopClassUid, const std::string& transferSyntaxUid) {
    if (pacsAway) return Association::PacsAway;
    if (service) {
      return sopClassUid == this->sopClassUid && transferSyntaxUid == this->transferSyntaxUid
                 ? Association::Ready
                 : Association::OtherKind;
    }
    service = std::make_unique<PDU_Service>();
    this->sopClassUid = sopClassUid;
    this->transferSyntaxUid = transferSyntaxUid;
    if (!OpenFileStoreAssociation(*service, node, sopClassUid, transferSyntaxUid,
                                  kSendTimeoutSeconds)) {
      WriteLog("ERROR, Can't open association with: " + node.calledAet);
      // The PACS is not there: later objects would only wait for the same time-out.
      pacsAway = true;
      delivery.Report().pacsAnswered = false;
      return Association::PacsAway;
    }
    return Association::Ready;
  }

  Outbox& outbox;
  RemoteNode node;
  Delivery delivery;
  std::string sopClassUid;  // the association's kind, once opened
  std::string transferSyntaxUid;
  std::unique_ptr<PDU_Service> service;
  bool pacsAway = false;
};

StreamingDelivery::StreamingDelivery(Outbox& outbox, const PacsTarget& target,
                                     DeliveryProgress progress, size_t expected)
    : state_(std::make_unique<State>(outbox, target, std::move(progress), expected)) {}

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
  switch (state.For(header.sopClassUid, header.transferSyntaxUid)) {
    case State::Association::OtherKind:
      return;  // another kind: it waits for its own association
    case State::Association::PacsAway:
      state.delivery.Record(entry, Undecided(kPacsDidNotAnswer));
      return;
    case State::Association::Ready:
      break;
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

namespace {

// Hands on the data set of a Part 10 file given piece by piece: the bytes after the preamble,
// "DICM" and the file meta group, whose length the group's first element tells.
class DataSetOfPart10 {
 public:
  explicit DataSetOfPart10(const PieceSink& sink) : sink_(sink) {}

  bool Forward(const uint8_t* bytes, size_t size) {
    while (size > 0 && seen_ < skip_) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(size, skip_ - seen_));
      if (seen_ < kHead) std::memcpy(head_ + seen_, bytes, take);
      seen_ += take;
      bytes += take;
      size -= take;
      if (seen_ == kHead && skip_ == kHead) {
        skip_ += uint64_t{head_[140]} | uint64_t{head_[141]} << 8 | uint64_t{head_[142]} << 16 |
                 uint64_t{head_[143]} << 24;
      }
    }
    return size == 0 || sink_(bytes, size);
  }

 private:
  // Preamble, "DICM" and the group length element, whose value is the last four bytes.
  static constexpr uint64_t kHead = 144;
  const PieceSink& sink_;
  uint8_t head_[kHead] = {};
  uint64_t seen_ = 0;
  uint64_t skip_ = kHead;
};

}  // namespace

bool StreamingDelivery::DeliverWhileWriting(const std::string& sopClassUid,
                                            const std::string& sopInstanceUid,
                                            const std::string& transferSyntaxUid,
                                            const OutboxWrite& write) {
  State& state = *state_;
  OutboxEntry entry;
  const State::Association association = state.For(sopClassUid, transferSyntaxUid);
  if (association != State::Association::Ready ||
      state.service->State() != AssociationState::Established ||
      !SendsAsItIs(*state.service, transferSyntaxUid)) {
    if (!write({}, entry)) return false;
    if (association == State::Association::Ready) {
      Deliver(entry);
    } else if (association == State::Association::PacsAway) {
      state.delivery.Record(entry, Undecided(kPacsDidNotAnswer));
    }
    return true;
  }
  bool written = false;
  std::string error;
  const int status = StoreProduced(
      *state.service, sopClassUid, sopInstanceUid, transferSyntaxUid,
      [&](const PieceSink& send) {
        DataSetOfPart10 dataSet(send);
        written = write(
            [&](const uint8_t* bytes, size_t size) { return dataSet.Forward(bytes, size); }, entry);
        return written;
      },
      error);
  if (!written) return false;
  Attempt attempt;
  if (status >= 0) {
    attempt = Decided(StoreOutcomeFromStatus(status));
  } else {
    attempt = Undecided(error.empty() ? "the association was lost" : error);
  }
  state.delivery.Record(entry, attempt);
  return true;
}

DeliveryReport StreamingDelivery::Finish() {
  if (state_->service) CloseAssociation(*state_->service);
  DeliveryReport report = std::move(state_->delivery.Report());
  state_.reset();
  return report;
}

namespace {

void DeliverByDicom(std::vector<OutboxEntry> waiting, Outbox& outbox, const PacsTarget& target,
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
    StreamingDelivery streaming(outbox, target, placed, total);
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
    report.stored += part.stored;
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
  std::vector<OutboxEntry> entries = outbox.Entries();
  const bool anyStored = std::any_of(entries.begin(), entries.end(), [](const OutboxEntry& entry) {
    return entry.state == OutboxState::Stored;
  });
  std::vector<OutboxEntry> waiting;
  for (OutboxEntry& entry : entries) {
    if (entry.state == OutboxState::Waiting) waiting.push_back(std::move(entry));
  }
  DeliveryReport report;
  size_t untried = 0;
  if (!waiting.empty()) {
    if (target.useWeb) {
      Delivery delivery(outbox, false, progress, waiting.size());
      DeliverByWeb(waiting, outbox, target.web, delivery);
      report = std::move(delivery.Report());
    } else {
      DeliverByDicom(waiting, outbox, target, progress, report, stop);
    }
    untried = waiting.size() - std::min(waiting.size(), report.objects.size());
  }
  // What the PACS stored, now or in an earlier delivery, and has not yet committed.
  if (report.pacsAnswered && !Stopped(stop) && (report.stored > 0 || anyStored)) {
    report = MergeDeliveries(std::move(report), CommitStoredObjects(outbox, target, stop));
  }
  // Objects a stop left untried still wait.
  report.waiting += untried;
  return report;
}

DeliveryReport CommitStoredObjects(Outbox& outbox, const PacsTarget& target,
                                   const std::atomic<bool>* stop) {
  std::vector<OutboxEntry> stored = outbox.Entries();
  std::erase_if(stored,
                [](const OutboxEntry& entry) { return entry.state != OutboxState::Stored; });
  DeliveryReport report;
  if (stored.empty()) return report;
  auto settle = [&](const OutboxEntry& entry, OutboxState state, const std::string& cause) {
    DeliveredObject object{entry, StoreFailure(cause), state};
    if (state == OutboxState::Gone) object.outcome = StoreOutcomeFromStatus(0);
    Count(report, object);
    if (state == OutboxState::Stored && report.cause.empty()) report.cause = cause;
    report.objects.push_back(std::move(object));
  };
  if (!target.commit || target.useWeb) {
    // Commitment was turned off: what the PACS stored counts as delivered.
    for (const OutboxEntry& entry : stored) {
      WriteLog("INFO, Outbox, " + entry.sopInstanceUid +
               " stored; storage commitment is no longer asked");
      outbox.MarkDelivered(entry.file);
      settle(entry, OutboxState::Gone, {});
    }
    return report;
  }
  std::vector<CommitmentObject> objects;
  for (const OutboxEntry& entry : stored)
    objects.push_back({entry.sopClassUid, entry.sopInstanceUid});
  CommitmentResult result;
  std::string error;
  if (!CommitObjects(target.node, objects, target.commitPort, kSendTimeoutSeconds,
                     target.commitWait, result, error, stop)) {
    // No request reached the PACS: they stay stored and are asked for again.
    WriteLog("ERROR, Outbox, storage commitment: " + error);
    for (const OutboxEntry& entry : stored) {
      outbox.MarkStored(entry.file, "storage commitment: " + error);
      settle(entry, OutboxState::Stored, "storage commitment: " + error);
    }
    return report;
  }
  for (const OutboxEntry& entry : stored) {
    const CommitmentOutcome* outcome = result.Find(entry.sopInstanceUid);
    if (outcome != nullptr && outcome->committed) {
      WriteLog("INFO, Outbox, " + entry.sopInstanceUid + " committed by the PACS");
      outbox.MarkDelivered(entry.file);
      settle(entry, OutboxState::Gone, {});
      report.objects.back().committed = true;
    } else if (result.unanswered || outcome == nullptr) {
      const std::string cause = outcome != nullptr ? outcome->cause : "not committed yet";
      outbox.MarkStored(entry.file, cause);
      settle(entry, OutboxState::Stored, cause);
    } else {
      const std::string cause = "not committed by the PACS: " + outcome->cause;
      WriteLog("ERROR, Outbox, " + entry.sopInstanceUid + " " + cause);
      outbox.MarkFailed(entry.file, cause);
      settle(entry, OutboxState::Failed, cause);
    }
  }
  return report;
}

bool PacsTargetFromSettings(const SetupConfig& settings, PacsTarget& target, std::string& problem) {
  target = PacsTarget{};
  target.node = PacsNode(settings);
  target.useWeb = UsesDicomWeb(settings);
  target.commit = settings.storageCommitment && !target.useWeb;
  target.commitPort = settings.commitmentPort;
  return !target.useWeb || WebPacs(settings, target.web, problem);
}
