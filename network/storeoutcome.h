// What became of one stored object: stored, stored with a warning, or failed, and why.
#pragma once

#include <string>

enum class StoreResult { Stored, StoredWithWarning, Failed };

struct StoreOutcome {
  StoreResult result = StoreResult::Failed;
  // The status that decided: a C-STORE response status, or the Warning Reason or Failure Reason
  // a DICOMweb server gave (they use the same codes). -1 when no status arrived at all.
  int status = -1;
  // Empty when stored; otherwise the reason in plain words, naming the status when there is one.
  std::string cause;
  // Refused by the receiver without a status, for a reason no retry can change (a DICOMweb server
  // that will not take the object even on its own): as final as a failure status.
  bool refusedAlone = false;

  bool IsStored() const { return result != StoreResult::Failed; }
};

// The one decision for every way of storing. 0 is stored; the warning statuses of PS3.7 (0001,
// 0107, 0116 and Bxxx) are stored with a warning; every other status is a failure. Negative
// values mean no status arrived and are failures with `causeWithoutStatus`.
StoreOutcome StoreOutcomeFromStatus(int status, const std::string& causeWithoutStatus = {});

// An object the receiver listed as not stored: a failure whatever code it came with.
StoreOutcome FailedStoreOutcome(int reason);

// A failure for which no status exists (the connection broke, the file could not be read).
StoreOutcome StoreFailure(const std::string& cause);

// "status 0xA900 (error: data set does not match SOP class)", or "status 0x0123" for a code with
// no known meaning.
std::string StoreStatusText(int status);

// What a refused object's messages say after its name: "refused by the PACS, status 0xA700 (out
// of resources)" for a failure status, the cause as it is otherwise.
std::string RefusalText(const StoreOutcome& outcome);
