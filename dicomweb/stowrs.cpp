// Storing objects on a DICOMweb server: STOW-RS (PS3.18 10.5).
#include "stowrs.h"

#include <cctype>
#include <deque>
#include <map>
#include <memory>

#include "dicomjson.h"
#include "dicomxml.h"
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

// The media type of an answer without its parameters, in lower case: "text/html".
std::string MediaType(const std::string& contentType) {
  std::string type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return type;
}

// Reads the answer as a DICOM data set, in JSON or in XML as its content type says (or, without
// one, as it begins). False for anything else: a web page, an empty answer, unreadable text.
bool ReadAnswer(const HttpResponse& response, DcmObj& answer) {
  const std::string type = MediaType(response.contentType);
  const size_t start = response.body.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return false;
  const char first = response.body[start];
  const bool json = type.empty() ? first == '{' || first == '[' : type.ends_with("json");
  const bool xml = type.empty() ? first == '<' : type.ends_with("xml");
  std::string error;
  if (json) return DataSetFromJson(response.body, answer, error);
  if (xml) return DataSetFromXml(response.body, answer, error);
  return false;
}

bool HasSequence(const DcmObj& answer, uint16_t element) {
  for (size_t i = 0; i < answer.Count(); ++i) {
    const DcmObj* sequence = answer.ObjAt(i);
    if (sequence != nullptr && sequence->header.Is(0x0008, element)) return true;
  }
  return false;
}

// What the answer lists; `isDicomAnswer` says whether it was a store answer at all (a DICOM data
// set with a Referenced or Failed SOP Sequence).
AnswerLists ReadAnswerLists(const HttpResponse& response, bool& isDicomAnswer) {
  AnswerLists lists;
  DcmObj answer;
  isDicomAnswer = ReadAnswer(response, answer) && (HasSequence(answer, kReferencedSopSequence) ||
                                                   HasSequence(answer, kFailedSopSequence));
  if (!isDicomAnswer) return lists;
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

// Why an answer that does not list an object leaves it unconfirmed: what the answer was.
std::string UnconfirmedCause(const HttpResponse& response, bool isDicomAnswer) {
  std::string what;
  if (response.body.find_first_not_of(" \t\r\n") == std::string::npos) {
    what = "an empty answer";
  } else if (isDicomAnswer) {
    what = "not among the objects it lists";
  } else {
    what = MediaType(response.contentType);
    if (what.empty()) what = "an answer without a content type";
  }
  return "the server's answer did not confirm the object: " + what;
}

// An object ready to go: its place in the items, its UID, its size in a request body and, until
// it is sent, its part of one (made again should it have to be sent once more).
struct Prepared {
  size_t index = 0;
  std::string sopInstanceUid;
  Part10Header header;  // of a file
  uint64_t size = 0;
  std::unique_ptr<PartSource> part;
};

std::unique_ptr<PartSource> PartOf(const StowItem& item, const Prepared& prepared) {
  return item.dataSet != nullptr ? DataSetPart(*item.dataSet)
                                 : FilePart(item.path, prepared.header);
}

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
  bool isDicomAnswer = false;
  const AnswerLists lists = ReadAnswerLists(response, isDicomAnswer);
  if (!IsHttpSuccess(response.status)) {
    requestProblem = HttpStatusProblem(response, WebAction::Store, server);
  }
  // Only an object the answer names counts as stored: a server (or a gateway in front of it) may
  // say 200 with a web page, nothing or something else entirely.
  for (size_t i = 0; i < sopInstanceUids.size(); ++i) {
    const std::string& uid = sopInstanceUids[i];
    if (const auto failed = lists.failed.find(uid); failed != lists.failed.end()) {
      outcomes[i] = FailedStoreOutcome(failed->second);
    } else if (const auto stored = lists.stored.find(uid); stored != lists.stored.end()) {
      outcomes[i] = StoreOutcomeFromStatus(stored->second);
      // Listed as stored means stored, whatever code a server puts beside it.
      if (outcomes[i].result == StoreResult::Failed)
        outcomes[i].result = StoreResult::StoredWithWarning;
    } else if (!requestProblem.empty()) {
      outcomes[i] = StoreFailure(requestProblem);
    } else {
      outcomes[i] = StoreFailure(UnconfirmedCause(response, isDicomAnswer));
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
                                 const StowLimits& limits, const StowProgress& progress,
                                 bool* serverAnswered) {
  std::vector<StoreOutcome> outcomes(items.size());
  auto decide = [&](size_t index, StoreOutcome outcome) {
    outcomes[index] = std::move(outcome);
    if (progress) progress(index, outcomes[index]);
  };
  if (serverAnswered != nullptr) *serverAnswered = false;

  // Objects are grouped into requests in item order; one that cannot even be read or encoded
  // fails at once.
  std::vector<Prepared> prepared;
  std::deque<std::vector<size_t>> requests;
  uint64_t requestBytes = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    Prepared object;
    object.index = i;
    std::string error;
    if (items[i].dataSet != nullptr) {
      object.sopInstanceUid = items[i].dataSet->GetString(0x0008, 0x0018);
      object.part = PartOf(items[i], object);
      if (object.part->Size() == 0) {
        error = "The object " + object.sopInstanceUid +
                " could not be encoded; see the log for the reason";
      }
    } else if (ReadPart10Header(items[i].path, object.header, error)) {
      object.sopInstanceUid = object.header.sopInstanceUid;
      object.part = PartOf(items[i], object);
      if (object.part->Size() == 0) {
        error = "The file \"" + items[i].path + "\" names UIDs too long for a meta group";
      }
    }
    if (!error.empty()) {
      WriteLog("ERROR, StowRS, " + error);
      decide(i, StoreFailure(error));
      continue;
    }
    object.size = object.part->Size();
    const bool fits = !requests.empty() && requests.back().size() < limits.maxRequestObjects &&
                      requestBytes + object.size <= limits.maxRequestBytes;
    if (!fits) {
      requests.emplace_back();
      requestBytes = 0;
    }
    requestBytes += object.size;
    requests.back().push_back(prepared.size());
    prepared.push_back(std::move(object));
  }

  std::string stopCause;
  while (!requests.empty()) {
    const std::vector<size_t> request = std::move(requests.front());
    requests.pop_front();
    if (!stopCause.empty()) {
      for (size_t k : request) decide(prepared[k].index, StoreFailure(stopCause));
      continue;
    }
    std::vector<std::unique_ptr<PartSource>> parts;
    std::vector<std::string> uids;
    for (size_t k : request) {
      Prepared& object = prepared[k];
      parts.push_back(object.part ? std::move(object.part) : PartOf(items[object.index], object));
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
    if (response.status != 0 && serverAnswered != nullptr) *serverAnswered = true;
    // Too large for the server (or a gateway before it): the same objects go again in two
    // halves, down to one object per request, each of which may well be under its limit.
    if (response.status == 413 && request.size() > 1) {
      WriteLog("WARNING, StowRS, the server refused " + std::to_string(request.size()) +
               " objects in one request as too large (HTTP 413); they go in smaller requests");
      const auto half = request.begin() + static_cast<std::ptrdiff_t>(request.size() / 2);
      requests.emplace_front(half, request.end());
      requests.emplace_front(request.begin(), half);
      continue;
    }
    std::string requestProblem;
    std::vector<StoreOutcome> answered =
        DecideStowAnswer(response, uids, session.server(), requestProblem);
    if (!requestProblem.empty()) WriteLog("ERROR, StowRS, " + requestProblem);
    for (size_t k = 0; k < request.size(); ++k) {
      StoreOutcome& outcome = answered[k];
      // Refused on its own for its size: sending it again changes nothing.
      if (response.status == 413) outcome.refusedAlone = true;
      if (outcome.result == StoreResult::StoredWithWarning) {
        WriteLog("WARNING, StowRS, " + uids[k] + " stored with " + outcome.cause);
      } else if (outcome.result == StoreResult::Failed && outcome.cause != requestProblem) {
        WriteLog("ERROR, StowRS, " + uids[k] + " not stored: " + outcome.cause);
      }
      decide(prepared[request[k]].index, std::move(outcome));
    }
    if (response.unreachable || HttpStatusStopsTheRun(response.status)) stopCause = requestProblem;
  }
  return outcomes;
}
