// Fuzz target: what a DICOMweb server answers, read as a search page and as a store report, as
// QidoStudies and StowRS read them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "charset.h"
#include "qidors.h"
#include "stowrs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<StudyInfo> rows;
  std::string error;
  StudiesFromJson(text, rows, error);
  for (const StudyInfo& row : rows) {
    // The cuts of a C-FIND row hold for these rows as well.
    if (Utf8Length(row.accessionNumber) > 16 || Utf8Length(row.patientName) > 64) {
      __builtin_trap();
    }
  }
  HttpResponse response;
  response.status = size > 0 && data[0] % 2 == 0 ? 200 : 409;
  response.body = text;
  DicomWebServer server;
  server.baseUrl = "http://127.0.0.1/dicom-web";
  std::string problem;
  const std::vector<std::string> uids = {"1.2.3", "1.2.4"};
  const std::vector<StoreOutcome> outcomes = DecideStowAnswer(response, uids, server, problem);
  if (outcomes.size() != uids.size()) __builtin_trap();
  for (const StoreOutcome& outcome : outcomes) {
    // Whatever a server says, a failure always carries a reason a user can be shown.
    if (outcome.result == StoreResult::Failed && outcome.cause.empty()) __builtin_trap();
  }
  return 0;
}
