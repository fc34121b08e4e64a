// Delivering the outbox to the PACS, by C-STORE or by STOW-RS, and settling each object by the
// answer it got.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "outbox.h"
#include "pacstarget.h"
#include "storeoutcome.h"

// The cause recorded, and shown, while the PACS cannot be reached.
inline constexpr const char* kPacsDidNotAnswer = "PACS did not answer";

// What became of one object in a delivery.
struct DeliveredObject {
  OutboxEntry entry;                           // as it was before the delivery
  StoreOutcome outcome;                        // the decision; status -1 when no answer decided it
  OutboxState settled = OutboxState::Waiting;  // where it stands now (Gone: left the outbox)
  bool committed = false;                      // the PACS committed it (storage commitment)
};

struct DeliveryReport {
  // In the order they were first tried, each once as it stands at the end (an object whose
  // connection was lost is tried again behind the others).
  std::vector<DeliveredObject> objects;
  size_t delivered = 0;      // stored (and committed, when commitment is asked): left the outbox
  size_t failed = 0;         // refused with a failure status, or not committed: kept as failed
  size_t waiting = 0;        // no decision (no answer, connection lost): still waiting
  size_t stored = 0;         // stored, the PACS's commitment still awaited: kept, not sent again
  bool pacsAnswered = true;  // false when a PACS could not be reached at all
  std::string cause;         // why objects still wait (or await commitment), when some do
};

// Two deliveries one after the other as one: an object in both stands as the second left it, and
// the counts follow the objects.
DeliveryReport MergeDeliveries(DeliveryReport first, DeliveryReport second);

// Called after each object with its place in this delivery.
using DeliveryProgress =
    std::function<void(const DeliveredObject& object, size_t index, size_t total)>;

// What StreamingDelivery::Deliver did with an object.
enum class StreamStep {
  Settled,         // stored, refused, or left waiting (the PACS did not answer)
  PassedOver,      // of another kind than the open association: it waits for DeliverOutbox
  ConnectionLost,  // the connection broke while it was on its way: waiting again, or failed
                   // once that happened too often; the next object opens a new association
};

// Delivers objects by DICOM one at a time as they are handed in, so that a batch goes out while it
// is still being converted. Only one association is open at a time (some archives take no more
// from one caller): it is opened for the kind (SOP class and transfer syntax) of the first object,
// and objects of other kinds are passed over; they stay waiting for DeliverOutbox, which sends
// them kind by kind. Each object delivered is settled as DeliverOutbox settles it. The caller
// holds the outbox's delivery lock and hands in only objects meant for `target`.
class StreamingDelivery {
 public:
  StreamingDelivery(Outbox& outbox, const PacsTarget& target, DeliveryProgress progress = {},
                    size_t expected = 0);
  ~StreamingDelivery();
  StreamingDelivery(const StreamingDelivery&) = delete;
  StreamingDelivery& operator=(const StreamingDelivery&) = delete;

  // Stores the object and settles it, unless it is of another kind than the association's. Once
  // the PACS did not answer, every object is left waiting without another try.
  StreamStep Deliver(const OutboxEntry& entry);
  // Puts an object into the outbox while storing it: `write` stages and commits it, handing each
  // piece of its DICOM file to the sink it is given as it writes it, and gives the entry
  // committed. The PACS gets the last bytes only once `write` returned true, so it never holds an
  // object that is not safely in the outbox; the object is then settled as Deliver settles it.
  // One the association cannot send as it is (another kind or transfer syntax, no PACS) is only
  // written, and then treated as Deliver treats it. False, with nothing stored, when `write`
  // failed.
  using OutboxWrite = std::function<bool(const PieceSink& alsoSend, OutboxEntry& written)>;
  bool DeliverWhileWriting(const std::string& sopClassUid, const std::string& sopInstanceUid,
                           const std::string& transferSyntaxUid, const OutboxWrite& write);
  bool PacsAnswered() const;
  // Releases the association and gives what became of every object delivered.
  DeliveryReport Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// An object in flight when the connection was lost this many times (in one delivery or over
// several) is failed with the cause: it is the likely culprit, and the others must still go.
inline constexpr int kMostConnectionsLost = 3;

// Delivers every waiting object to the PACS it was queued for (its destination): over DICOM on
// one association per SOP class and transfer syntax (as few as the kinds allow), over DICOMweb in
// as few requests as the limits allow. `target` is the PACS of the settings (or of the command
// line): objects queued for it are reached as it says; objects queued for another PACS are
// reached as recorded, or, when that needs a login the outbox does not keep, wait for it.
// Objects queued without a destination (by an earlier version) take `target` first, for good.
// An object leaves the outbox on success or warning; a failure status marks it failed with its
// cause; an object no answer decided waits for the next delivery. When the connection breaks
// while an object is on its way, a new association takes the objects not yet tried and that one
// comes last; after kMostConnectionsLost losses it is failed. An object queued with storage
// commitment stays as stored, and then its PACS is asked to commit it (CommitStoredObjects).
// Only one delivery runs on an outbox at a time, across processes too; a second caller waits for
// the first. `stop`, when given and set, ends the delivery between objects (and the wait for a
// commitment report), the rest still waiting. The outcomes reach the disk together at the end.
DeliveryReport DeliverOutbox(Outbox& outbox, const PacsTarget& target,
                             const DeliveryProgress& progress = {},
                             const std::atomic<bool>* stop = nullptr);

// Asks each PACS to commit the objects of the outbox stored on it and not yet committed, one
// request per PACS: a committed object leaves the outbox, one the PACS says it cannot commit is
// kept as failed with the reason (a retry sends it again), and when no report comes in time (or
// at all) they stay stored, to be asked for again. `target` is the PACS of the settings, as for
// DeliverOutbox; whether it asks for commitment does not matter: each object keeps the wish it
// was queued with. The caller holds the delivery lock.
DeliveryReport CommitStoredObjects(Outbox& outbox, const PacsTarget& target,
                                   const std::atomic<bool>* stop = nullptr);

// Objects queued without a destination (by an earlier version) take the PACS of `target`, and its
// commitment wish (one already stored asked for commitment when it was sent); returns how many.
// Nothing changes when `target` names no usable PACS.
size_t AddressUnaddressed(Outbox& outbox, const PacsTarget& target);

// The objects that wait (or failed) for another PACS than `target`'s are given `target`'s PACS
// and its commitment wish instead, the failed ones waiting again; returns how many. The objects
// with these SOP Instance UIDs only, when some are given.
size_t ReaddressToCurrent(Outbox& outbox, const PacsTarget& target,
                          const std::vector<std::string>& sopInstanceUids = {});

// True when the object is meant for `target`'s PACS (or for whichever the settings name).
bool IsForTarget(const OutboxEntry& entry, const PacsTarget& target);

// Objects of one PACS, by its name.
struct ArchiveCount {
  std::string archive;  // "RESEARCH at 10.0.0.9:104", or "PACSAET" for the news of a delivery
  size_t objects = 0;

  bool operator==(const ArchiveCount&) const = default;
};

// The objects of `entries` that wait for another PACS than `target`'s, counted by that PACS
// ("RESEARCH at 10.0.0.9:104"), in the order their first object was queued.
std::vector<ArchiveCount> WaitingElsewhere(const std::vector<OutboxEntry>& entries,
                                           const PacsTarget& target);

// DeliverOutbox for a caller that already holds the delivery lock.
DeliveryReport DeliverOutboxLocked(const OutboxDeliveryLock& lock, Outbox& outbox,
                                   const PacsTarget& target, const DeliveryProgress& progress = {},
                                   const std::atomic<bool>* stop = nullptr);
