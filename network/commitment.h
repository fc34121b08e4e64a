// Storage Commitment Push Model (PS3.4 Annex J) as a service user: the N-ACTION that asks the PACS
// to take responsibility for stored objects, and the N-EVENT-REPORT in which it says which ones it
// did, received on the same association or on one the PACS opens (CommitmentListener).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dcmobj.h"
#include "remotenode.h"

class PDU_Service;

inline constexpr const char* kStorageCommitmentSopClass = "1.2.840.10008.1.20.1";
// The well-known SOP instance every request and report addresses.
inline constexpr const char* kStorageCommitmentSopInstance = "1.2.840.10008.1.20.1.1";

// Action Type ID of the request, Event Type IDs of the report (PS3.4 J.3.2 and J.3.3).
inline constexpr uint16_t kCommitmentActionType = 1;
inline constexpr uint16_t kEventAllCommitted = 1;
inline constexpr uint16_t kEventFailuresExist = 2;

// N-EVENT-REPORT statuses this side answers with (PS3.7 Annex C).
inline constexpr uint16_t kStatusProcessingFailure = 0x0110;
inline constexpr uint16_t kStatusNoSuchEventType = 0x0113;
inline constexpr uint16_t kStatusMissingAttribute = 0x0120;

// One stored object, as the request names it.
struct CommitmentObject {
  std::string sopClassUid;
  std::string sopInstanceUid;
};

// What the PACS said of one object: committed, or failed with its Failure Reason (0008,1197) and
// the reason in plain words.
struct CommitmentOutcome {
  std::string sopClassUid;
  std::string sopInstanceUid;
  bool committed = false;
  int failureReason = 0;  // 0 when committed or when no reason was given
  std::string cause;      // empty when committed
};

struct CommitmentResult {
  std::string transactionUid;
  std::vector<CommitmentOutcome> objects;
  // True when no report came in time: the objects are not committed, but nothing says they
  // failed either; asking again later may still see them committed.
  bool unanswered = false;

  // The outcome for an instance, nullptr when the report does not name it.
  const CommitmentOutcome* Find(const std::string& sopInstanceUid) const;
  // True when every object is committed (and there is at least one).
  bool AllCommitted() const;
};

// "failure reason 0x0112 (no such object instance)", or just the code when it has no known meaning.
std::string CommitmentFailureText(int reason);

// A fresh Transaction UID: "2.25." and a random 128-bit number (PS3.5 B.2).
std::string NewTransactionUid();

// The N-ACTION-RQ command set and its data set: Transaction UID (0008,1195) and one item of the
// Referenced SOP Sequence (0008,1199) per object.
std::unique_ptr<DcmObj> BuildCommitmentActionRQ(uint16_t messageId);
std::unique_ptr<DcmObj> BuildCommitmentRequest(const std::string& transactionUid,
                                               const std::vector<CommitmentObject>& objects);

// The N-EVENT-REPORT-RQ a PACS sends and its data set: the committed objects in the Referenced SOP
// Sequence, the failed ones with their Failure Reason in the Failed SOP Sequence (0008,1198), and
// the Event Type ID that goes with them. Used by test peers and the fuzz corpus.
std::unique_ptr<DcmObj> BuildCommitmentEventReportRQ(uint16_t messageId, uint16_t eventType);
std::unique_ptr<DcmObj> BuildCommitmentReport(const CommitmentResult& result);
// The N-EVENT-REPORT-RSP this side answers with.
std::unique_ptr<DcmObj> BuildCommitmentEventReportRSP(uint16_t messageIdBeingRespondedTo,
                                                      uint16_t eventType, uint16_t status);

// Reads the report's data set. Every item of the Referenced SOP Sequence is committed and every
// item of the Failed SOP Sequence failed (an object in both counts as failed), whichever event type
// the PACS chose; items without a SOP Instance UID are passed over. Sequences may arrive nested or
// with undefined lengths. False, with `error` and the status to answer with, when the report has
// no Transaction UID or an event type other than 1 and 2.
bool ReadCommitmentReport(const DcmObj& dataSet, uint16_t eventType, CommitmentResult& result,
                          std::string& error, uint16_t& status);

// Adds a failure "not named in the PACS's report" for every requested object the report left out,
// so that silence is never taken for a commitment.
void AddUnreported(CommitmentResult& result, const std::vector<CommitmentObject>& requested);

// Reports by transaction UID, handed over from whichever association they arrived on to whoever
// waits for them. Safe to use from several threads.
class CommitmentResults {
 public:
  void Deliver(CommitmentResult result);
  // Takes the report of this transaction, waiting at most `limit` for it to arrive.
  std::optional<CommitmentResult> WaitFor(const std::string& transactionUid,
                                          std::chrono::milliseconds limit);
  bool Has(const std::string& transactionUid);

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::map<std::string, CommitmentResult> results_;
};

// Answers one N-EVENT-REPORT-RQ whose command set has just been read: reads its data set, delivers
// the report to `results` when it is one and answers with the fitting status. False when the
// association failed on the way.
bool AnswerCommitmentReport(PDU_Service& service, const DcmObj& command,
                            CommitmentResults& results);

// Opens an association for the Storage Commitment Push Model SOP class, sends the N-ACTION-RQ for
// these objects under `transactionUid` (a new one when empty: a caller that records the
// transaction before asking passes its own) and reads the response. Then, up to `reportWait`, it
// stays on the association for a report the PACS may send on it (delivered to `results`), and
// stops waiting early once `results` holds the transaction (a report that came to the listener)
// or the PACS releases, or `stop` (when given) is set. Returns the Transaction UID, or an empty
// text with `error` when the PACS did not accept the request. `timeoutSeconds` bounds the connect
// and each message.
std::string RequestCommitment(const RemoteNode& node, const std::vector<CommitmentObject>& objects,
                              int timeoutSeconds, CommitmentResults& results, std::string& error,
                              std::chrono::milliseconds reportWait = std::chrono::milliseconds(0),
                              std::string transactionUid = {},
                              const std::atomic<bool>* stop = nullptr);
