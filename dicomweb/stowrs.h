// Storing objects on a DICOMweb server: STOW-RS (PS3.18 10.5).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dcmobj.h"
#include "httpsession.h"
#include "storeoutcome.h"

// One object to store: a Part 10 file on disk (`path`), or a data set in memory (`dataSet`,
// which must stay untouched until StowRS returns).
struct StowItem {
  std::string path;
  DcmObj* dataSet = nullptr;
};

// How much one request carries: objects are added while both limits hold; an object larger than
// the byte limit travels alone.
struct StowLimits {
  uint64_t maxRequestBytes = 64ull << 20;
  size_t maxRequestObjects = 100;
};

// Called once for every object, in the order the outcomes are known (request by request).
using StowProgress = std::function<void(size_t index, const StoreOutcome& outcome)>;

// Stores the objects with POST {baseUrl}/studies, a multipart/related body of application/dicom
// parts streamed from their files or encoded as they go, and returns one outcome per item, in
// item order. Only the answer's DICOM data set (application/dicom+json, or +xml) decides an
// object: listed in the Referenced SOP Sequence it is stored (with a warning when it carries a
// Warning Reason), listed in the Failed SOP Sequence it failed for its Failure Reason; an object
// the answer does not name is not stored, whatever the HTTP status ("the server's answer did not
// confirm the object: text/html"). A request the server refuses as too large (HTTP 413) goes
// again in halves, down to single objects; a single object refused so is failed with
// `refusedAlone` set. Another refused request fails its objects with the refusal in plain words;
// when that refusal means every further request would meet it too (the login, the address, an
// unreachable server), the objects not yet sent fail with it without being tried. Each failure
// is logged as "ERROR, StowRS, ..." and each warning as "WARNING, StowRS, ...".
// `serverAnswered`, when given, says whether any request got an HTTP answer at all.
std::vector<StoreOutcome> StowRS(HttpSession& session, const std::vector<StowItem>& items,
                                 const StowLimits& limits = {}, const StowProgress& progress = {},
                                 bool* serverAnswered = nullptr);

// The outcomes of one answer: for each SOP Instance UID sent, what the answer says about it.
// Exposed for tests and the fuzzer: `body` may be anything a server sends.
std::vector<StoreOutcome> DecideStowAnswer(const HttpResponse& response,
                                           const std::vector<std::string>& sopInstanceUids,
                                           const DicomWebServer& server,
                                           std::string& requestProblem);
