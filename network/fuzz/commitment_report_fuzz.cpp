// Fuzz target: storage commitment reports (N-EVENT-REPORT data sets) from hostile bytes. The
// first byte picks the event type and the encoding; the rest is the data set as a PACS sends it.
#include <cstddef>
#include <cstdint>
#include <set>

#include "bufdata.h"
#include "commitment.h"
#include "dcmobj.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint16_t eventType = data[0] & 0x03;
  DcmObj dataSet;
  dataSet.SetTransferSyntax((data[0] & 0x04) != 0 ? kExplicitVRLittleEndian
                                                  : kImplicitVRLittleEndian);
  BufData buffer;
  buffer.stream.assign(data + 1, data + size);
  buffer.ReadDataSet(dataSet);
  CommitmentResult result;
  std::string error;
  uint16_t status = 0;
  if (!ReadCommitmentReport(dataSet, eventType, result, error, status)) {
    if (status == 0 || error.empty()) __builtin_trap();
    return 0;
  }
  // Each instance is named once, never with an empty UID, and only failures carry a cause.
  std::set<std::string> seen;
  for (const CommitmentOutcome& outcome : result.objects) {
    if (outcome.sopInstanceUid.empty() || !seen.insert(outcome.sopInstanceUid).second ||
        outcome.committed != outcome.cause.empty()) {
      __builtin_trap();
    }
  }
  AddUnreported(result, {{"1.2.840.10008.5.1.4.1.1.7", "1.2.3.4"}});
  if (result.Find("1.2.3.4") == nullptr) __builtin_trap();
  return 0;
}
