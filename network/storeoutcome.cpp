// What became of one stored object, decided from the status that the receiver gave.
#include "storeoutcome.h"

#include <cstdio>
#include <string_view>

namespace {

// Meanings of the storage statuses: exact codes first, then the ranges whose low byte is free.
struct StatusMeaning {
  int code;
  int mask;
  const char* meaning;
};

constexpr StatusMeaning kMeanings[] = {
    {0x0001, 0xFFFF, "warning"},
    {0x0107, 0xFFFF, "warning: attribute list error"},
    {0x0110, 0xFFFF, "processing failure"},
    {0x0111, 0xFFFF, "duplicate SOP instance"},
    {0x0116, 0xFFFF, "warning: attribute value out of range"},
    {0x0117, 0xFFFF, "invalid SOP instance"},
    {0x0122, 0xFFFF, "SOP class not supported"},
    {0x0124, 0xFFFF, "not authorized"},
    {0x0210, 0xFFFF, "duplicate invocation"},
    {0x0211, 0xFFFF, "unrecognized operation"},
    {0x0212, 0xFFFF, "mistyped argument"},
    {0x0213, 0xFFFF, "resource limitation"},
    {0xB000, 0xFFFF, "warning: coercion of data elements"},
    {0xB006, 0xFFFF, "warning: elements discarded"},
    {0xB007, 0xFFFF, "warning: data set does not match SOP class"},
    {0xC122, 0xFFFF, "transfer syntax not supported"},
    {0xFE00, 0xFFFF, "cancelled"},
    {0xA700, 0xFF00, "refused: out of resources"},
    {0xA900, 0xFF00, "error: data set does not match SOP class"},
    {0xC000, 0xF000, "error: cannot understand"},
};

bool IsWarning(int status) {
  return status == 0x0001 || status == 0x0107 || status == 0x0116 || (status & 0xF000) == 0xB000;
}

}  // namespace

std::string StoreStatusText(int status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(status) & 0xFFFFu);
  for (const StatusMeaning& row : kMeanings) {
    if ((status & row.mask) == row.code)
      return "status " + std::string(code) + " (" + row.meaning + ")";
  }
  return "status " + std::string(code);
}

std::string RefusalText(const StoreOutcome& outcome) {
  if (outcome.status < 0 || outcome.IsStored()) return outcome.cause;
  std::string text = StoreStatusText(outcome.status);
  // After "refused by the PACS" the meaning's own "refused: " or "error: " says it twice.
  for (const std::string_view said : {"(refused: ", "(error: "}) {
    const size_t at = text.find(said);
    if (at != std::string::npos) text.erase(at + 1, said.size() - 1);
  }
  return "refused by the PACS, " + text;
}

StoreOutcome StoreOutcomeFromStatus(int status, const std::string& causeWithoutStatus) {
  StoreOutcome outcome;
  outcome.status = status;
  if (status < 0) {
    outcome.status = -1;
    outcome.cause = causeWithoutStatus.empty() ? "no response" : causeWithoutStatus;
  } else if (status == 0) {
    outcome.result = StoreResult::Stored;
  } else {
    outcome.result = IsWarning(status) ? StoreResult::StoredWithWarning : StoreResult::Failed;
    outcome.cause = StoreStatusText(status);
  }
  return outcome;
}

StoreOutcome FailedStoreOutcome(int reason) {
  StoreOutcome outcome;
  outcome.status = reason;
  outcome.cause = StoreStatusText(reason);
  return outcome;
}

StoreOutcome StoreFailure(const std::string& cause) {
  StoreOutcome outcome;
  outcome.cause = cause;
  return outcome;
}
