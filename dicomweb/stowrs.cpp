// Storing objects on a DICOMweb server: STOW-RS (PS3.18 10.5).
#include "stowrs.h"

#include <map>
#include <memory>

#include "dicomjson.h"
#include "log.h"
#include "multipartbody.h"
#include "webmessages.h"

namespace {

// The Store Instances Response Module (PS3.18 Annex I).
constexpr uint16_t kReferencedSopSequence = 0x1199;     // (0008,1199)
constexpr uint16_t kFailedSopSequence = 0x1198;         // (0008,1198)
constexpr uint16_t kWarningReason = 0x1196;             // (0008,1196)
constexpr uint16_t kFailureReason = 0x1197;             // (0008,1197)
constexpr uint16_t kReferencedSopInstanceUid = 0x1155;  // (0008,1155)

// What the answer lists, by SOP Instance UID: the reason code given, 0 when none.
struct AnswerLists {
  std::map<std::string, int> stored;
  std::map<std::string, int> failed;
};

int ReasonOf(const DcmObj& item, uint16_t element) {
  const DcmTag* tag = item.FindTag(0x0008, element);
  if (tag == nullptr || !tag->HasValue()) return -1;
  if (tag->IsVR("US") && tag->length >= 2) return tag->GetUS();
  // A server that sends the code as text (decimal) is understood too.
  const std::string text = tag->GetString();
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 0xFFFF) return -1;
    value = value * 10 + (c - '0');
  }
  return text.empty() || value > 0xFFFF ? -1 : value;
}

AnswerLists ReadAnswerLists(const HttpResponse& response) {
  AnswerLists lists;
  const size_t start = response.body.find_first_not_of(" \t\r\n");
  // Only the JSON form is read; an answer in XML leaves the lists empty, and the HTTP status
  // alone then decides.
  if (start == std::string::npos || (response.body[start] != '{' && response.body[start] != '['))
    return lists;
  DcmObj answer;
  std::string error;
  if (!DataSetFromJson(response.body, answer, error)) return lists;
  for (const DcmObj* item : SequenceItems(answer, 0x0008, kReferencedSopSequence)) {
    const std::string uid = item->GetString(0x0008, kReferencedSopInstanceUid);
    if (!uid.empty()) lists.stored[uid] = std::max(ReasonOf(*item, kWarningReason), 0);
  }
  for (const DcmObj* item : SequenceItems(answer, 0x0008, kFailedSopSequence)) {
    const std::string uid = item->GetString(0x0008, kReferencedSopInstanceUid);
    // A failed object without a reason still failed: "processing failure" is the general one.
    const int reason = ReasonOf(*item, kFailureReason);
    if (!uid.empty()) lists.failed[uid] = reason < 0 ? 0x0110 : reason;
  }
  return lists;
}

// An object ready to go: its place in the items, its UID, and its part of a request body.
struct Prepared {
  size_t index = 0;
  std::string sopInstanceUid;
  std::unique_ptr<PartSource> part;
};

std::string ListedFailures(const std::vector<std::string>& uids,
                           const std::vector<StoreOutcome>& outcomes, size_t& failedCount) {
  std::string listed;
  failedCount = 0;
  for (size_t i = 0; i < uids.size(); ++i) {
    if (outcomes[i].IsStored() || outcomes[i].status < 0) continue;
    if (++failedCount <= 3)
      listed += (listed.empty() ? "" : "; ") + uids[i] + " " + outcomes[i].cause;
  }
  if (failedCount > 3) listed += "; …";
  return listed;
}

}  // namespace

std::vector<StoreOutcome> DecideStowAnswer(const HttpResponse& response,
                                           const std::vector<std::string>& sopInstanceUids,
                                           const DicomWebServer& server,
                                           std::string& requestProblem) {
  requestProblem.clear();
  std::vector<StoreOutcome> outcomes(sopInstanceUids.size());
  if (response.status == 0) {
    requestProblem =
        response.failure.empty() ? "The DICOMweb server did not answer" : response.failure;
    for (StoreOutcome& outcome : outcomes) outcome = StoreFailure(requestProblem);
    return outcomes;
  }
  const AnswerLists lists = ReadAnswerLists(response);
  const bool listsEmpty = lists.stored.empty() && lists.failed.empty();
  if (!IsHttpSuccess(response.status)) {
    requestProblem = HttpStatusProblem(response, WebAction::Store, server);
  }
  for (size_t i = 0; i < sopInstanceUids.size(); ++i) {
    const std::string& uid = sopInstanceUids[i];
    if (const auto failed = lists.failed.find(uid); failed != lists.failed.end()) {
      outcomes[i] = FailedStoreOutcome(failed->second);
    } else if (const auto stored = lists.stored.find(uid); stored != lists.stored.end()) {
      outcomes[i] = StoreOutcomeFromStatus(stored->second);
      // Listed as stored means stored, whatever code a server puts beside it.
      if (outcomes[i].result == StoreResult::Failed)
        outcomes[i].result = StoreResult::StoredWithWarning;
    } else if (response.status == 200 && listsEmpty) {
      outcomes[i] = StoreOutcomeFromStatus(0);
    } else if (!requestProblem.empty()) {
      outcomes[i] = StoreFailure(requestProblem);
    } else {
      outcomes[i] =
          StoreFailure("The DICOMweb server did not confirm that it stored the object (HTTP " +
                       std::to_string(response.status) + ")");
    }
  }
  size_t failedCount = 0;
  const std::string listed = ListedFailures(sopInstanceUids, outcomes, failedCount);
  if (!IsHttpSuccess(response.status) && failedCount > 0) {
    requestProblem = "The DICOMweb server rejected " + std::to_string(failedCount) +
                     (failedCount == 1 ? " object" : " objects") + " (HTTP " +
                     std::to_string(response.status) + ")" + (listed.empty() ? "" : ": " + listed);
  }
  return outcomes;
}

std::vector<StoreOutcome> StowRS(HttpSession& session, const std::vector<StowItem>& items,
                                 const StowLimits& limits, const StowProgress& progress) {
  std::vector<StoreOutcome> outcomes(items.size());
  auto decide = [&](size_t index, StoreOutcome outcome) {
    outcomes[index] = std::move(outcome);
    if (progress) progress(index, outcomes[index]);
  };

  // Objects are grouped into requests in item order; one that cannot even be read or encoded
  // fails at once.
  std::vector<std::vector<Prepared>> requests;
  uint64_t requestBytes = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    Prepared prepared;
    prepared.index = i;
    std::string error;
    if (items[i].dataSet != nullptr) {
      prepared.sopInstanceUid = items[i].dataSet->GetString(0x0008, 0x0018);
      prepared.part = DataSetPart(*items[i].dataSet);
      if (prepared.part->Size() == 0) {
        error = "The object " + prepared.sopInstanceUid +
                " could not be encoded; see the log for the reason";
      }
    } else {
      Part10Header header;
      if (ReadPart10Header(items[i].path, header, error)) {
        prepared.sopInstanceUid = header.sopInstanceUid;
        prepared.part = FilePart(items[i].path, std::move(header));
        if (prepared.part->Size() == 0) {
          error = "The file \"" + items[i].path + "\" names UIDs too long for a meta group";
        }
      }
    }
    if (!error.empty()) {
      WriteLog("ERROR, StowRS, " + error);
      decide(i, StoreFailure(error));
      continue;
    }
    const uint64_t size = prepared.part->Size();
    const bool fits = !requests.empty() && requests.back().size() < limits.maxRequestObjects &&
                      requestBytes + size <= limits.maxRequestBytes;
    if (!fits) {
      requests.emplace_back();
      requestBytes = 0;
    }
    requestBytes += size;
    requests.back().push_back(std::move(prepared));
  }

  std::string stopCause;
  for (std::vector<Prepared>& request : requests) {
    if (!stopCause.empty()) {
      for (const Prepared& object : request) decide(object.index, StoreFailure(stopCause));
      continue;
    }
    std::vector<std::unique_ptr<PartSource>> parts;
    std::vector<std::string> uids;
    for (Prepared& object : request) {
      parts.push_back(std::move(object.part));
      uids.push_back(object.sopInstanceUid);
    }
    if (LogLevel.load() > 1) {
      WriteLog("INFO, StowRS, storing " + std::to_string(request.size()) + " objects");
    }
    MultipartBody body(std::move(parts));
    const HttpResponse response = session.Post(
        "/studies", body.ContentType(), "application/dicom+json",
        [&](uint8_t* into, size_t size, std::string& error) {
          return body.Read(into, size, error);
        },
        static_cast<int64_t>(body.Size()));
    std::string requestProblem;
    std::vector<StoreOutcome> answered =
        DecideStowAnswer(response, uids, session.server(), requestProblem);
    if (!requestProblem.empty()) WriteLog("ERROR, StowRS, " + requestProblem);
    for (size_t k = 0; k < request.size(); ++k) {
      const StoreOutcome& outcome = answered[k];
      if (outcome.result == StoreResult::StoredWithWarning) {
        WriteLog("WARNING, StowRS, " + uids[k] + " stored with " + outcome.cause);
      } else if (outcome.result == StoreResult::Failed && outcome.cause != requestProblem) {
        WriteLog("ERROR, StowRS, " + uids[k] + " not stored: " + outcome.cause);
      }
      decide(request[k].index, std::move(answered[k]));
    }
    if (response.unreachable || HttpStatusStopsTheRun(response.status)) stopCause = requestProblem;
  }
  return outcomes;
}
