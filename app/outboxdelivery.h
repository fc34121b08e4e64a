// Delivering the outbox to the PACS, by C-STORE or by STOW-RS, and settling each object by the
// answer it got.
#pragma once

#include <atomic>
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
};

// The cause recorded, and shown, while the PACS cannot be reached.
inline constexpr const char* kPacsDidNotAnswer = "PACS did not answer";

// What became of one object in a delivery.
struct DeliveredObject {
  OutboxEntry entry;                           // as it was before the delivery
  StoreOutcome outcome;                        // the decision; status -1 when no answer decided it
  OutboxState settled = OutboxState::Waiting;  // where it stands now (Gone: left the outbox)
};

struct DeliveryReport {
  std::vector<DeliveredObject> objects;  // in the order they were tried
  size_t delivered = 0;                  // stored, or stored with a warning: left the outbox
  size_t failed = 0;                     // refused with a failure status: kept as failed
  size_t waiting = 0;                    // no decision (no answer, connection lost): still waiting
  bool pacsAnswered = true;              // false when the PACS could not be reached at all
  std::string cause;                     // why objects still wait, when some do
};

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
  StreamingDelivery(Outbox& outbox, const RemoteNode& node, DeliveryProgress progress = {},
                    size_t expected = 0);
  ~StreamingDelivery();
  StreamingDelivery(const StreamingDelivery&) = delete;
  StreamingDelivery& operator=(const StreamingDelivery&) = delete;

  // Stores the object and settles it, unless it is of another kind than the association's. Once
  // the PACS did not answer, every object is left waiting without another try.
  void Deliver(const OutboxEntry& entry);
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
// cause; an object no answer decided waits for the next delivery. Only one delivery runs on an
// outbox at a time, across processes too; a second caller waits for the first. `stop`, when
// given and set, ends the delivery between objects, the rest still waiting.
DeliveryReport DeliverOutbox(Outbox& outbox, const PacsTarget& target,
                             const DeliveryProgress& progress = {},
                             const std::atomic<bool>* stop = nullptr);

// DeliverOutbox for a caller that already holds the delivery lock.
DeliveryReport DeliverOutboxLocked(const OutboxDeliveryLock& lock, Outbox& outbox,
                                   const PacsTarget& target, const DeliveryProgress& progress = {},
                                   const std::atomic<bool>* stop = nullptr);

// The PACS of the settings: by DICOMweb when they say so (false, with `problem`, when those
// settings cannot be used), by DICOM otherwise.
bool PacsTargetFromSettings(const SetupConfig& settings, PacsTarget& target, std::string& problem);
