// Delivering the outbox to the PACS, by C-STORE or by STOW-RS.
#include "outboxdelivery.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

#include "commitmentlistener.h"
#include "dimse.h"
#include "httpsession.h"
#include "log.h"
#include "pdu_service.h"
#include "send.h"
#include "storage.h"
#include "storefiles.h"
#include "stowrs.h"

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
OutboxState Settle(Outbox& outbox, const OutboxEntry& entry, Attempt& attempt, bool commit) {
  const std::string name = OutboxObjectName(entry);
  if (attempt.outcome.IsStored()) {
    if (attempt.outcome.result == StoreResult::StoredWithWarning) {
      WriteLog("WARNING, Outbox, " + name + " (" + entry.sopInstanceUid + ") stored with " +
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
    attempt.outcome.cause = RefusalText(attempt.outcome);
    WriteLog("ERROR, Outbox, " + name + ": " + attempt.outcome.cause + " (" + entry.sopInstanceUid +
             ")");
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

// The counts and the cause of a report, anew from its objects; the cause of objects awaiting
// commitment stays when none waits.
void Recount(DeliveryReport& report) {
  const std::string previous = std::move(report.cause);
  report.cause.clear();
  report.delivered = report.failed = report.waiting = report.stored = 0;
  for (const DeliveredObject& object : report.objects) Count(report, object);
  if (report.cause.empty() && report.stored > 0) report.cause = previous;
}

// Settles the objects of one PACS and keeps the report: each object once, as it stands last.
class Delivery {
 public:
  Delivery(Outbox& outbox, bool web, DeliveryProgress progress, size_t total)
      : outbox_(outbox), web_(web), progress_(std::move(progress)), total_(total) {}

  void Record(const OutboxEntry& entry, Attempt attempt) {
    const OutboxState settled = Settle(outbox_, entry, attempt, entry.commit && !web_);
    Keep({entry, attempt.outcome, settled});
  }

  // The connection broke while the object was on its way: it waits again, or fails once that has
  // happened too often.
  void RecordLost(const OutboxEntry& entry, const std::string& cause) {
    const int lost = entry.lost + 1;
    if (lost < kMostConnectionsLost) {
      WriteLog("ERROR, Outbox, " + OutboxObjectName(entry) + ": " + cause +
               "; it is tried again after the others");
      outbox_.NoteLost(entry.file, cause);
      Keep({entry, StoreFailure(cause), OutboxState::Waiting});
      return;
    }
    Attempt attempt = Decided(StoreFailure("the connection was lost " + std::to_string(lost) +
                                           " times while it was sent (" + cause + ")"));
    Keep({entry, attempt.outcome, Settle(outbox_, entry, attempt, false)});
  }

  DeliveryReport& Report() { return report_; }

 private:
  void Keep(DeliveredObject object) {
    const auto [found, added] = at_.emplace(object.entry.file, report_.objects.size());
    if (added) {
      report_.objects.push_back(std::move(object));
    } else {
      // Tried again: the entry as it was before this delivery stays the one reported.
      object.entry = std::move(report_.objects[found->second].entry);
      report_.objects[found->second] = std::move(object);
    }
    Recount(report_);
    if (progress_) progress_(report_.objects[found->second], found->second, total_);
  }

  Outbox& outbox_;
  bool web_;
  DeliveryProgress progress_;
  size_t total_;
  DeliveryReport report_;
  std::map<std::string, size_t> at_;
};

bool Stopped(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load();
}

// After a loss the association is of no further use, whatever state it was left in.
void EndAssociation(PDU_Service& service) {
  if (service.State() == AssociationState::Established) {
    service.Abort(AbortReason::NotSpecified);
  }
  CloseAssociation(service);
}

// A C-STORE that ended without a status because the connection failed, as opposed to one this
// side could not even prepare (no context, a conversion that failed).
bool ConnectionFailed(int status) {
  return status == -1 || status == -2 || status == kStoreResponseMismatch ||
         status == kStoreWriteFailed;
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
      : outbox(box), node(target.node), delivery(box, false, std::move(progress), expected) {}

  enum class Association { Ready, OtherKind, PacsAway };
  // The association for objects of this kind: the one open, or one opened now for the first
  // object (or anew, when the PACS ended the last one between two objects).
  Association For(const std::string& sopClass, const std::string& transferSyntax) {
    if (pacsAway) return Association::PacsAway;
    if (service && (sopClass != sopClassUid || transferSyntax != transferSyntaxUid)) {
      return Association::OtherKind;
    }
    // The PACS may have ended the association between two objects: that is no object's fault, and
    // a new one is opened.
    if (service && service->State() != AssociationState::Established) {
      EndAssociation(*service);
      service.reset();
    }
    if (!service) {
      service = std::make_unique<PDU_Service>();
      sopClassUid = sopClass;
      transferSyntaxUid = transferSyntax;
      if (!OpenFileStoreAssociation(*service, node, sopClass, transferSyntax,
                                    kSendTimeoutSeconds)) {
        WriteLog("ERROR, Can't open association with: " + node.calledAet);
        // The PACS is not there: later objects would only wait for the same time-out.
        pacsAway = true;
        delivery.Report().pacsAnswered = false;
        return Association::PacsAway;
      }
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

StreamStep StreamingDelivery::Deliver(const OutboxEntry& entry) {
  State& state = *state_;
  if (state.pacsAway) {
    state.delivery.Record(entry, Undecided(kPacsDidNotAnswer));
    return StreamStep::Settled;
  }
  Part10Header header;
  std::string error;
  if (!ReadPart10Header(state.outbox.PathOf(entry).string(), header, error)) {
    state.delivery.Record(entry, Decided(StoreFailure(error)));
    return StreamStep::Settled;
  }
  switch (state.For(header.sopClassUid, header.transferSyntaxUid)) {
    case State::Association::OtherKind:
      return StreamStep::PassedOver;  // another kind: it waits for its own association
    case State::Association::PacsAway:
      state.delivery.Record(entry, Undecided(kPacsDidNotAnswer));
      return StreamStep::Settled;
    case State::Association::Ready:
      break;
  }
  PDU_Service& service = *state.service;
  if (ChooseStoreContext(service, header.transferSyntaxUid) == 0) {
    state.delivery.Record(entry,
                          Decided(StoreFailure("the PACS accepts no presentation context for " +
                                               header.sopClassUid)));
    return StreamStep::Settled;
  }
  const int status = StoreFile(service, state.outbox.PathOf(entry).string(), header, error);
  if (status >= 0) {
    state.delivery.Record(entry, Decided(StoreOutcomeFromStatus(status)));
    return StreamStep::Settled;
  }
  if (!ConnectionFailed(status)) {
    state.delivery.Record(entry, Decided(StoreFailure(error)));
    return StreamStep::Settled;
  }
  EndAssociation(service);
  state.service.reset();
  state.delivery.RecordLost(entry, error.empty() ? "the association was lost" : error);
  return StreamStep::ConnectionLost;
}

namespace {

// Hands on the data set of a DICOM file given piece by piece: the bytes after the preamble,
// "DICM" and the file meta group, whose length the group's first element tells.
class DataSetOfDicomFile {
 public:
  explicit DataSetOfDicomFile(const PieceSink& sink) : sink_(sink) {}

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
  if (association != State::Association::Ready || !SendsAsItIs(*state.service, transferSyntaxUid)) {
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
        DataSetOfDicomFile dataSet(send);
        written = write(
            [&](const uint8_t* bytes, size_t size) { return dataSet.Forward(bytes, size); }, entry);
        return written;
      },
      error);
  // Not written: the association was aborted before the object was whole, and the next object
  // opens a new one.
  if (!written) return false;
  if (status >= 0) {
    state.delivery.Record(entry, Decided(StoreOutcomeFromStatus(status)));
  } else if (!ConnectionFailed(status)) {
    state.delivery.Record(entry, Decided(StoreFailure(error)));
  } else {
    EndAssociation(*state.service);
    state.service.reset();
    state.delivery.RecordLost(entry, error.empty() ? "the association was lost" : error);
  }
  return true;
}

DeliveryReport StreamingDelivery::Finish() {
  if (state_->service) CloseAssociation(*state_->service);
  DeliveryReport report = std::move(state_->delivery.Report());
  state_.reset();
  return report;
}

namespace {

// Progress of one part of a delivery, placed among the objects of the whole.
DeliveryProgress Placed(const DeliveryProgress& progress, size_t base, size_t total) {
  if (!progress) return {};
  return [&progress, base, total](const DeliveredObject& object, size_t index, size_t) {
    progress(object, base + index, total);
  };
}

DeliveryReport DeliverByDicom(const std::vector<OutboxEntry>& waiting, Outbox& outbox,
                              const PacsTarget& target, const DeliveryProgress& progress,
                              const std::atomic<bool>* stop) {
  // Kind by kind, in order of first appearance, each kind's association closed before the next
  // opens: some archives take only one association per caller at a time.
  std::vector<std::pair<std::string, std::string>> kinds;
  std::vector<std::deque<OutboxEntry>> ofKind;
  for (const OutboxEntry& entry : waiting) {
    Part10Header header;
    std::string error;
    ReadPart10Header(outbox.PathOf(entry).string(), header, error);
    const std::pair<std::string, std::string> kind{header.sopClassUid, header.transferSyntaxUid};
    auto found = std::find(kinds.begin(), kinds.end(), kind);
    if (found == kinds.end()) {
      found = kinds.insert(kinds.end(), kind);
      ofKind.emplace_back();
    }
    ofKind[static_cast<size_t>(found - kinds.begin())].push_back(entry);
  }
  const size_t total = waiting.size();
  DeliveryReport report;
  for (size_t k = 0; k < ofKind.size(); ++k) {
    std::deque<OutboxEntry>& queue = ofKind[k];
    StreamingDelivery streaming(outbox, target, Placed(progress, report.objects.size(), total),
                                total);
    while (!queue.empty() && !Stopped(stop) && streaming.PacsAnswered()) {
      OutboxEntry entry = std::move(queue.front());
      queue.pop_front();
      if (streaming.Deliver(entry) == StreamStep::ConnectionLost &&
          ++entry.lost < kMostConnectionsLost) {
        // It may be the one the PACS cannot take: the others go first.
        queue.push_back(std::move(entry));
      }
    }
    const bool answered = streaming.PacsAnswered();
    report = MergeDeliveries(std::move(report), streaming.Finish());
    if (!answered) {
      // Not tried: they wait as they were, with the cause noted.
      for (size_t rest = k; rest < ofKind.size(); ++rest) {
        for (const OutboxEntry& entry : ofKind[rest]) {
          outbox.NoteAttempt(entry.file, kPacsDidNotAnswer);
          report.objects.push_back({entry, StoreFailure(kPacsDidNotAnswer), OutboxState::Waiting});
          if (progress) progress(report.objects.back(), report.objects.size() - 1, total);
        }
      }
      Recount(report);
      return report;
    }
    if (Stopped(stop)) break;
  }
  return report;
}

DeliveryReport DeliverByWeb(const std::vector<OutboxEntry>& waiting, Outbox& outbox,
                            const DicomWebServer& web, const DeliveryProgress& progress) {
  Delivery delivery(outbox, true, progress, waiting.size());
  std::vector<StowItem> items;
  for (const OutboxEntry& entry : waiting) items.push_back({outbox.PathOf(entry).string()});
  HttpSession session(web);
  bool answered = false;
  StowRS(
      session, items, {},
      [&](size_t index, const StoreOutcome& outcome) {
        // A status (a Failure Reason), or a refusal of the object on its own, decides; a refused
        // request, an answer that does not confirm it or no answer leaves it waiting.
        const bool decided = outcome.IsStored() || outcome.status >= 0 || outcome.refusedAlone;
        delivery.Record(waiting[index], decided ? Decided(outcome) : Undecided(outcome.cause));
      },
      &answered);
  delivery.Report().pacsAnswered = answered || waiting.empty();
  return std::move(delivery.Report());
}

// The objects of the outbox meant for one archive.
struct ArchiveGroup {
  OutboxDestination destination;
  std::vector<OutboxEntry> waiting;
  bool anyStored = false;
};

// The live objects grouped by the archive they are meant for, the one of `current` first, the
// others in the order their first object was queued.
std::vector<ArchiveGroup> GroupByArchive(const std::vector<OutboxEntry>& entries,
                                         const PacsTarget& current) {
  std::vector<ArchiveGroup> groups(1);
  groups[0].destination = DestinationOf(current);
  for (const OutboxEntry& entry : entries) {
    if (entry.state != OutboxState::Waiting && entry.state != OutboxState::Stored) continue;
    auto group = std::find_if(groups.begin(), groups.end(), [&](const ArchiveGroup& candidate) {
      return SameArchive(candidate.destination, entry.destination);
    });
    if (group == groups.end()) {
      groups.push_back({entry.destination, {}, false});
      group = groups.end() - 1;
    }
    if (entry.state == OutboxState::Waiting) group->waiting.push_back(entry);
    if (entry.state == OutboxState::Stored) group->anyStored = true;
  }
  return groups;
}

// Asks the archive of `destination`, reached as `target`, to commit what is stored on it.
DeliveryReport CommitGroup(Outbox& outbox, const OutboxDestination& destination,
                           const PacsTarget& target, const std::atomic<bool>* stop) {
  std::vector<OutboxEntry> stored = outbox.Entries();
  std::erase_if(stored, [&](const OutboxEntry& entry) {
    return entry.state != OutboxState::Stored || !SameArchive(entry.destination, destination);
  });
  DeliveryReport report;
  auto settle = [&](const OutboxEntry& entry, OutboxState state, const std::string& cause) {
    DeliveredObject object{entry, StoreFailure(cause), state};
    if (state == OutboxState::Gone) object.outcome = StoreOutcomeFromStatus(0);
    Count(report, object);
    if (state == OutboxState::Stored && report.cause.empty()) report.cause = cause;
    report.objects.push_back(std::move(object));
  };
  // Stored without commitment asked (or on a DICOMweb PACS, which cannot commit): delivered.
  std::erase_if(stored, [&](const OutboxEntry& entry) {
    if (entry.commit && !target.useWeb) return false;
    WriteLog("INFO, Outbox, " + OutboxObjectName(entry) +
             " stored; no storage commitment was asked for it");
    outbox.MarkDelivered(entry.file);
    settle(entry, OutboxState::Gone, {});
    return true;
  });
  if (stored.empty()) return report;
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
      WriteLog("INFO, Outbox, " + OutboxObjectName(entry) + " committed by the PACS");
      outbox.MarkDelivered(entry.file);
      settle(entry, OutboxState::Gone, {});
      report.objects.back().committed = true;
    } else if (result.unanswered || outcome == nullptr) {
      const std::string cause = outcome != nullptr ? outcome->cause : "not committed yet";
      outbox.MarkStored(entry.file, cause);
      settle(entry, OutboxState::Stored, cause);
    } else {
      const std::string cause = "not committed by the PACS: " + outcome->cause;
      WriteLog("ERROR, Outbox, " + OutboxObjectName(entry) + ": " + cause);
      outbox.MarkFailed(entry.file, cause);
      settle(entry, OutboxState::Failed, cause);
    }
  }
  return report;
}

// The objects of a group that cannot be reached now stay as they are, with the reason.
DeliveryReport Unreachable(const std::vector<OutboxEntry>& entries, const std::string& problem) {
  DeliveryReport report;
  for (const OutboxEntry& entry : entries) {
    report.objects.push_back({entry, StoreFailure(problem), entry.state});
  }
  Recount(report);
  if (report.cause.empty()) report.cause = problem;
  return report;
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
  AddressUnaddressed(outbox, target);
  // Read under the lock: objects a delivery that ran meanwhile has settled are not sent again.
  const std::vector<ArchiveGroup> groups = GroupByArchive(outbox.Entries(), target);
  size_t total = 0;
  for (const ArchiveGroup& group : groups) total += group.waiting.size();
  DeliveryReport report;
  for (const ArchiveGroup& group : groups) {
    if (Stopped(stop)) break;
    if (group.waiting.empty() && !group.anyStored) continue;
    PacsTarget reached;
    std::string problem;
    if (!TargetFor(group.destination, false, target, reached, problem)) {
      report = MergeDeliveries(std::move(report), Unreachable(group.waiting, problem));
      continue;
    }
    const DeliveryProgress placed = Placed(progress, report.objects.size(), total);
    DeliveryReport part;
    if (!group.waiting.empty()) {
      part = reached.useWeb ? DeliverByWeb(group.waiting, outbox, reached.web, placed)
                            : DeliverByDicom(group.waiting, outbox, reached, placed, stop);
    }
    // What the PACS stored, now or in an earlier delivery, and has not yet committed.
    if (part.pacsAnswered && !Stopped(stop) && (part.stored > 0 || group.anyStored)) {
      part =
          MergeDeliveries(std::move(part), CommitGroup(outbox, group.destination, reached, stop));
    }
    report = MergeDeliveries(std::move(report), std::move(part));
  }
  // The outcomes of the whole round reach the disk together.
  outbox.Flush();
  // Objects a stop left untried still wait.
  size_t tried = 0;
  for (const DeliveredObject& object : report.objects) {
    if (object.entry.state == OutboxState::Waiting) ++tried;
  }
  report.waiting += total - std::min(total, tried);
  return report;
}

DeliveryReport CommitStoredObjects(Outbox& outbox, const PacsTarget& target,
                                   const std::atomic<bool>* stop) {
  AddressUnaddressed(outbox, target);
  DeliveryReport report;
  for (const ArchiveGroup& group : GroupByArchive(outbox.Entries(), target)) {
    if (!group.anyStored || Stopped(stop)) continue;
    PacsTarget reached;
    std::string problem;
    if (!TargetFor(group.destination, false, target, reached, problem)) continue;
    report =
        MergeDeliveries(std::move(report), CommitGroup(outbox, group.destination, reached, stop));
  }
  outbox.Flush();
  return report;
}

size_t AddressUnaddressed(Outbox& outbox, const PacsTarget& target) {
  const OutboxDestination destination = DestinationOf(target);
  if (destination.kind == DestinationKind::Unknown) return 0;
  std::vector<std::string> waiting;
  std::vector<std::string> stored;
  for (const OutboxEntry& entry : outbox.Entries()) {
    if (entry.destination.kind != DestinationKind::Unknown) continue;
    if (entry.state == OutboxState::Waiting) waiting.push_back(entry.file);
    if (entry.state == OutboxState::Stored) stored.push_back(entry.file);
  }
  if (waiting.empty() && stored.empty()) return 0;
  // One already stored was sent while commitment was asked for.
  const size_t count = outbox.Readdress(waiting, destination, target.commit) +
                       outbox.Readdress(stored, destination, true);
  WriteLog("INFO, Outbox, " + std::to_string(count) +
           " objects queued without a destination go to " + DestinationText(destination));
  return count;
}

size_t ReaddressToCurrent(Outbox& outbox, const PacsTarget& target,
                          const std::vector<std::string>& sopInstanceUids) {
  const OutboxDestination destination = DestinationOf(target);
  if (destination.kind == DestinationKind::Unknown) return 0;
  std::vector<std::string> files;
  for (const OutboxEntry& entry : outbox.Entries()) {
    if (entry.state != OutboxState::Waiting && entry.state != OutboxState::Failed) continue;
    if (IsForTarget(entry, target)) continue;
    if (!sopInstanceUids.empty() && std::find(sopInstanceUids.begin(), sopInstanceUids.end(),
                                              entry.sopInstanceUid) == sopInstanceUids.end()) {
      continue;
    }
    WriteLog("INFO, Outbox, " + OutboxObjectName(entry) + " goes to " +
             DestinationText(destination) + " instead of " + DestinationText(entry.destination));
    files.push_back(entry.file);
  }
  return outbox.Readdress(files, destination, target.commit);
}

bool IsForTarget(const OutboxEntry& entry, const PacsTarget& target) {
  return entry.destination.kind == DestinationKind::Unknown ||
         SameArchive(entry.destination, DestinationOf(target));
}

std::vector<ArchiveCount> WaitingElsewhere(const std::vector<OutboxEntry>& entries,
                                           const PacsTarget& target) {
  std::vector<ArchiveCount> counts;
  for (const OutboxEntry& entry : entries) {
    if (entry.state != OutboxState::Waiting || IsForTarget(entry, target)) continue;
    const std::string archive = DestinationText(entry.destination);
    auto found = std::find_if(counts.begin(), counts.end(), [&](const ArchiveCount& counted) {
      return counted.archive == archive;
    });
    if (found == counts.end()) {
      counts.push_back({archive, 0});
      found = counts.end() - 1;
    }
    ++found->objects;
  }
  return counts;
}
