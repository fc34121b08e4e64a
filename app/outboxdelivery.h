// Delivering the outbox to the PACS, by C-STORE or by STOW-RS, and settling each object by the
// answer it got.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dicomwebserver.h"
#include "outbox.h"
#include "remotenode.h"
#include "settings.h"
#include "storeoutcome.h"

// What the outbox talks to: the PACS by DICOM, or by DICOMweb when `useWeb` is set.
struct PacsTarget {
  RemoteNode node;
  bool useWeb = false;
  DicomWebServer web;
  // Storage commitment (DICOM only): an object the PACS stored leaves the outbox only once the
  // PACS has committed it. The report may come on the request's association or, when
  // `commitPort` is set, on an association the PACS opens to that port; it is waited for at most
  // `commitWait` per delivery, and asked again on the next one when it did not come.
  bool commit = false;
  std::string commitPort;
  std::chrono::seconds commitWait{60};
};

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
  std::vector<DeliveredObject> objects;  // in the order they were tried (each once)
  size_t delivered = 0;      // stored (and committed, when commitment is asked): left the outbox
  size_t failed = 0;         // refused with a failure status, or not committed: kept as failed
  size_t waiting = 0;        // no decision (no answer, connection lost): still waiting
  size_t stored = 0;         // stored, the PACS's commitment still awaited: kept, not sent again
  bool pacsAnswered = true;  // false when the PACS could not be reached at all
  std::string cause;         // why objects still wait (or await commitment), when some do
};

// Two deliveries one after the other as one: an object in both stands as the second left it, and
// the counts follow the objects.
DeliveryReport MergeDeliveries(DeliveryReport first, DeliveryReport second);

// Called after each object with its place in this delivery.
using DeliveryProgress =
    std::function<void(const DeliveredObject& object, size_t index, size_t total)>;

// Delivers objects by DICOM one at a time as they are handed in, so that a batch goes out while it
// is still being converted. Only one association is open at a time (some archives take no more
// from one caller): it is opened for the kind (SOP class and transfer syntax) of the first object,
// and objects of other kinds are passed over; they stay waiting for DeliverOutbox, which sends
// them kind by kind. Each object delivered is settled as DeliverOutbox settles it. The caller
// holds the outbox's delivery lock.
class StreamingDelivery {
 public:
  StreamingDelivery(Outbox& outbox, const PacsTarget& target, DeliveryProgress progress = {},
                    size_t expected = 0);
  ~StreamingDelivery();
  StreamingDelivery(const StreamingDelivery&) = delete;
  StreamingDelivery& operator=(const StreamingDelivery&) = delete;

  // Stores the object and settles it, unless it is of another kind than the association's. Once
  // the PACS did not answer, every object is left waiting without another try.
  void Deliver(const OutboxEntry& entry);
  // Puts an object into the outbox while storing it: `write` stages and commits it, handing each
  // piece of its Part 10 file to the sink it is given as it writes it, and gives the entry
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

// Delivers every waiting object: over DICOM on one association per SOP class and transfer
// syntax (as few as the kinds allow), over DICOMweb in as few requests as the limits allow. An
// object leaves the outbox on success or warning; a failure status marks it failed with its
// cause; an object no answer decided waits for the next delivery. With storage commitment, a
// stored object stays as stored, and then commitment is asked for every stored object of the
// outbox (CommitStoredObjects). Only one delivery runs on an outbox at a time, across processes
// too; a second caller waits for the first. `stop`, when given and set, ends the delivery between
// objects (and the wait for a commitment report), the rest still waiting.
DeliveryReport DeliverOutbox(Outbox& outbox, const PacsTarget& target,
                             const DeliveryProgress& progress = {},
                             const std::atomic<bool>* stop = nullptr);

// Asks the PACS to commit every object of the outbox that is stored and not yet committed, in one
// request: a committed object leaves the outbox, one the PACS says it cannot commit is kept as
// failed with the reason (a retry sends it again), and when no report comes in time (or at all)
// they stay stored, to be asked for again. Without commitment in `target` (the setting was turned
// off meanwhile), stored objects count as delivered and leave. The caller holds the delivery
// lock.
DeliveryReport CommitStoredObjects(Outbox& outbox, const PacsTarget& target,
                                   const std::atomic<bool>* stop = nullptr);

// DeliverOutbox for a caller that already holds the delivery lock.
DeliveryReport DeliverOutboxLocked(const OutboxDeliveryLock& lock, Outbox& outbox,
                                   const PacsTarget& target, const DeliveryProgress& progress = {},
                                   const std::atomic<bool>* stop = nullptr);

// The PACS of the settings: by DICOMweb when they say so (false, with `problem`, when those
// settings cannot be used), by DICOM otherwise.
bool PacsTargetFromSettings(const SetupConfig& settings, PacsTarget& target, std::string& problem);
