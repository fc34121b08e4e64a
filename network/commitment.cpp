// Storage commitment as a service user: request, report, and the hand-over between the two.
#include "commitment.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "dimse.h"
#include "log.h"
#include "pdu_service.h"
#include "uids.h"

namespace {

constexpr uint16_t kTransactionUid[] = {0x0008, 0x1195};
constexpr uint16_t kReferencedSopSequence[] = {0x0008, 0x1199};
constexpr uint16_t kFailedSopSequence[] = {0x0008, 0x1198};

bool IsItem(const DcmTag& tag) {
  return tag.Is(0xFFFE, 0xE000);
}
bool IsItemEnd(const DcmTag& tag) {
  return tag.Is(0xFFFE, 0xE00D);
}
bool IsSequenceEnd(const DcmTag& tag) {
  return tag.Is(0xFFFE, 0xE0DD);
}
bool OpensFlatSequence(const DcmTag& tag) {
  return tag.HasUndefinedLength() && !IsItem(tag) && (tag.IsVR("SQ") || tag.IsVR("UN"));
}

// The elements of one sequence item at its own level; nested sequences inside it are passed over.
using ItemElements = std::vector<const DcmTag*>;

const DcmTag* FindIn(const ItemElements& item, uint16_t group, uint16_t element) {
  for (const DcmTag* tag : item) {
    if (tag->Is(group, element)) return tag;
  }
  return nullptr;
}

// Elements of an item read with a defined length (a nested data set): its entries outside any
// sequence it holds in undefined-length form.
ItemElements ElementsOfNestedItem(const DcmObj& item) {
  ItemElements elements;
  int depth = 0;
  for (size_t i = 0; i < item.Count(); ++i) {
    const DcmTag* tag = item.TagAt(i);
    if (tag == nullptr) continue;
    if (OpensFlatSequence(*tag)) {
      ++depth;
    } else if (IsSequenceEnd(*tag)) {
      if (depth > 0) --depth;
    } else if (depth == 0 && !IsItem(*tag) && !IsItemEnd(*tag)) {
      elements.push_back(tag);
    }
  }
  return elements;
}

// The items of a sequence whose content starts at entry `begin` of `container`: nested items, and
// items held flat (an undefined-length item tag, its elements, the item delimiter). Stops at the
// sequence delimiter of this level or at the end of the container.
void CollectItems(const DcmObj& container, size_t begin, std::vector<ItemElements>& items) {
  bool inItem = false;
  int depth = 0;  // sequences of undefined length open inside the current flat item
  for (size_t i = begin; i < container.Count(); ++i) {
    if (const DcmObj* nested = container.ObjAt(i)) {
      if (!inItem && IsItem(nested->header)) items.push_back(ElementsOfNestedItem(*nested));
      continue;
    }
    const DcmTag& tag = *container.TagAt(i);
    if (inItem) {
      if (OpensFlatSequence(tag)) {
        ++depth;
      } else if (IsSequenceEnd(tag) && depth > 0) {
        --depth;
      } else if (depth == 0 && IsItemEnd(tag)) {
        inItem = false;
      } else if (depth == 0 && IsSequenceEnd(tag)) {
        return;  // the item's delimiter is missing; the sequence ends all the same
      } else if (depth == 0 && !IsItem(tag)) {
        items.back().push_back(&tag);
      }
      continue;
    }
    if (IsSequenceEnd(tag)) return;
    if (IsItem(tag)) {
      items.emplace_back();
      inItem = tag.HasUndefinedLength();
    }
  }
}

// The items of the sequence (group,element) at the top level of `dataSet`, however it was read;
// nullopt when there is no such sequence.
std::optional<std::vector<ItemElements>> SequenceItems(const DcmObj& dataSet, uint16_t group,
                                                       uint16_t element) {
  int depth = 0;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    if (const DcmObj* nested = dataSet.ObjAt(i)) {
      if (depth == 0 && nested->header.Is(group, element)) {
        std::vector<ItemElements> items;
        CollectItems(*nested, 0, items);
        return items;
      }
      continue;
    }
    const DcmTag& tag = *dataSet.TagAt(i);
    if (depth == 0 && tag.Is(group, element)) {
      std::vector<ItemElements> items;
      if (tag.HasUndefinedLength()) CollectItems(dataSet, i + 1, items);
      return items;
    }
    if (OpensFlatSequence(tag)) ++depth;
    if (IsSequenceEnd(tag) && depth > 0) --depth;
  }
  return std::nullopt;
}

std::unique_ptr<DcmTag> UidValue(uint16_t group, uint16_t element, const std::string& uid) {
  return DcmTag::FromBytes(group, element, static_cast<uint32_t>(uid.size()), uid.data(), "UI");
}

// An item naming one object, with its Failure Reason when `failureReason` is not 0.
std::unique_ptr<DcmObj> ObjectItem(const std::string& sopClassUid,
                                   const std::string& sopInstanceUid, int failureReason) {
  auto item = std::make_unique<DcmObj>();
  item->Append(UidValue(0x0008, 0x1150, sopClassUid));
  item->Append(UidValue(0x0008, 0x1155, sopInstanceUid));
  if (failureReason != 0) {
    item->Append(DcmTag::FromUS(0x0008, 0x1197, static_cast<uint16_t>(failureReason), "US"));
  }
  return item;
}

void AddObjectSequence(DcmObj& dataSet, const uint16_t (&tag)[2],
                       std::vector<std::unique_ptr<DcmObj>> items) {
  auto sequence = std::make_unique<DcmObj>();
  for (auto& item : items) sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  dataSet.AddSequence(tag[0], tag[1], std::move(sequence));
}

std::string Hex4(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value) & 0xFFFFu);
  return text;
}

}  // namespace

const CommitmentOutcome* CommitmentResult::Find(const std::string& sopInstanceUid) const {
  for (const CommitmentOutcome& outcome : objects) {
    if (outcome.sopInstanceUid == sopInstanceUid) return &outcome;
  }
  return nullptr;
}

bool CommitmentResult::AllCommitted() const {
  return !objects.empty() && std::all_of(objects.begin(), objects.end(),
                                         [](const CommitmentOutcome& o) { return o.committed; });
}

std::string CommitmentFailureText(int reason) {
  // PS3.4 J.3.2.1.1.2: the Failure Reasons a storage commitment SCP gives.
  const char* meaning = nullptr;
  switch (reason) {
    case 0x0110:
      meaning = "processing failure";
      break;
    case 0x0112:
      meaning = "no such object instance";
      break;
    case 0x0119:
      meaning = "class / instance conflict";
      break;
    case 0x0122:
      meaning = "referenced SOP class not supported";
      break;
    case 0x0131:
      meaning = "duplicate transaction UID";
      break;
    case 0x0213:
      meaning = "resource limitation";
      break;
    default:
      break;
  }
  const std::string code = "failure reason 0x" + Hex4(reason);
  return meaning ? code + " (" + meaning + ")" : code;
}

std::string NewTransactionUid() {
  std::random_device source;
  unsigned __int128 number = 0;
  for (int i = 0; i < 4; ++i) number = (number << 32) | source();
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(number % 10)));
    number /= 10;
  } while (number != 0);
  return "2.25." + digits;
}

std::unique_ptr<DcmObj> BuildCommitmentActionRQ(uint16_t messageId) {
  auto command = std::make_unique<DcmObj>();
  command->Append(UidElement(0x0003, kStorageCommitmentSopClass));
  command->Append(DcmTag::FromUS(0x0000, 0x0100, kCommandActionRQ, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0110, messageId, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0800, kDataSetFollows, "US"));
  command->Append(UidElement(0x1001, kStorageCommitmentSopInstance));
  command->Append(DcmTag::FromUS(0x0000, 0x1008, kCommitmentActionType, "US"));
  AddGroupLength(*command);
  return command;
}

std::unique_ptr<DcmObj> BuildCommitmentRequest(const std::string& transactionUid,
                                               const std::vector<CommitmentObject>& objects) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->Add(UidValue(kTransactionUid[0], kTransactionUid[1], transactionUid));
  std::vector<std::unique_ptr<DcmObj>> items;
  for (const CommitmentObject& object : objects) {
    items.push_back(ObjectItem(object.sopClassUid, object.sopInstanceUid, 0));
  }
  AddObjectSequence(*dataSet, kReferencedSopSequence, std::move(items));
  return dataSet;
}

std::unique_ptr<DcmObj> BuildCommitmentEventReportRQ(uint16_t messageId, uint16_t eventType) {
  auto command = std::make_unique<DcmObj>();
  command->Append(UidElement(0x0002, kStorageCommitmentSopClass));
  command->Append(DcmTag::FromUS(0x0000, 0x0100, kCommandEventReportRQ, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0110, messageId, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0800, kDataSetFollows, "US"));
  command->Append(UidElement(0x1000, kStorageCommitmentSopInstance));
  command->Append(DcmTag::FromUS(0x0000, 0x1002, eventType, "US"));
  AddGroupLength(*command);
  return command;
}

std::unique_ptr<DcmObj> BuildCommitmentReport(const CommitmentResult& result) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->Add(UidValue(kTransactionUid[0], kTransactionUid[1], result.transactionUid));
  std::vector<std::unique_ptr<DcmObj>> committed;
  std::vector<std::unique_ptr<DcmObj>> failed;
  for (const CommitmentOutcome& outcome : result.objects) {
    if (outcome.committed) {
      committed.push_back(ObjectItem(outcome.sopClassUid, outcome.sopInstanceUid, 0));
    } else {
      failed.push_back(ObjectItem(outcome.sopClassUid, outcome.sopInstanceUid,
                                  outcome.failureReason == 0 ? 0x0110 : outcome.failureReason));
    }
  }
  if (!failed.empty()) AddObjectSequence(*dataSet, kFailedSopSequence, std::move(failed));
  if (!committed.empty()) AddObjectSequence(*dataSet, kReferencedSopSequence, std::move(committed));
  return dataSet;
}

std::unique_ptr<DcmObj> BuildCommitmentEventReportRSP(uint16_t messageIdBeingRespondedTo,
                                                      uint16_t eventType, uint16_t status) {
  auto command = std::make_unique<DcmObj>();
  command->Append(UidElement(0x0002, kStorageCommitmentSopClass));
  command->Append(DcmTag::FromUS(0x0000, 0x0100, kCommandEventReportRSP, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0120, messageIdBeingRespondedTo, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0800, kNoDataSet, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0900, status, "US"));
  command->Append(UidElement(0x1000, kStorageCommitmentSopInstance));
  command->Append(DcmTag::FromUS(0x0000, 0x1002, eventType, "US"));
  AddGroupLength(*command);
  return command;
}

bool ReadCommitmentReport(const DcmObj& dataSet, uint16_t eventType, CommitmentResult& result,
                          std::string& error, uint16_t& status) {
  result = CommitmentResult();
  if (eventType != kEventAllCommitted && eventType != kEventFailuresExist) {
    error = "storage commitment report with event type " + std::to_string(eventType);
    status = kStatusNoSuchEventType;
    return false;
  }
  result.transactionUid = dataSet.GetString(kTransactionUid[0], kTransactionUid[1]);
  if (result.transactionUid.empty()) {
    error = "storage commitment report without Transaction UID";
    status = kStatusMissingAttribute;
    return false;
  }
  std::set<std::string> failedInstances;
  const auto failed = SequenceItems(dataSet, kFailedSopSequence[0], kFailedSopSequence[1]);
  for (const ItemElements& item : failed.value_or(std::vector<ItemElements>())) {
    const DcmTag* instance = FindIn(item, 0x0008, 0x1155);
    if (instance == nullptr || instance->GetString().empty()) continue;
    CommitmentOutcome outcome;
    outcome.sopInstanceUid = instance->GetString();
    if (const DcmTag* sopClass = FindIn(item, 0x0008, 0x1150)) {
      outcome.sopClassUid = sopClass->GetString();
    }
    const DcmTag* reason = FindIn(item, 0x0008, 0x1197);
    outcome.failureReason = reason != nullptr ? reason->GetUS() : 0;
    outcome.cause = outcome.failureReason != 0
                        ? "not committed: " + CommitmentFailureText(outcome.failureReason)
                        : "not committed (no reason given)";
    if (failedInstances.insert(outcome.sopInstanceUid).second) {
      result.objects.push_back(std::move(outcome));
    }
  }
  const auto committed =
      SequenceItems(dataSet, kReferencedSopSequence[0], kReferencedSopSequence[1]);
  std::set<std::string> committedInstances;
  for (const ItemElements& item : committed.value_or(std::vector<ItemElements>())) {
    const DcmTag* instance = FindIn(item, 0x0008, 0x1155);
    if (instance == nullptr || instance->GetString().empty()) continue;
    const std::string uid = instance->GetString();
    if (failedInstances.count(uid) != 0 || !committedInstances.insert(uid).second) continue;
    CommitmentOutcome outcome;
    outcome.sopInstanceUid = uid;
    if (const DcmTag* sopClass = FindIn(item, 0x0008, 0x1150)) {
      outcome.sopClassUid = sopClass->GetString();
    }
    outcome.committed = true;
    result.objects.push_back(std::move(outcome));
  }
  return true;
}

void AddUnreported(CommitmentResult& result, const std::vector<CommitmentObject>& requested) {
  for (const CommitmentObject& object : requested) {
    if (result.Find(object.sopInstanceUid) != nullptr) continue;
    CommitmentOutcome outcome;
    outcome.sopClassUid = object.sopClassUid;
    outcome.sopInstanceUid = object.sopInstanceUid;
    outcome.cause = "not named in the PACS's storage commitment report";
    result.objects.push_back(std::move(outcome));
  }
}

void CommitmentResults::Deliver(CommitmentResult result) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::string uid = result.transactionUid;
    results_[uid] = std::move(result);
  }
  arrived_.notify_all();
}

std::optional<CommitmentResult> CommitmentResults::WaitFor(const std::string& transactionUid,
                                                           std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_for(lock, limit, [&] { return results_.count(transactionUid) != 0; });
  const auto found = results_.find(transactionUid);
  if (found == results_.end()) return std::nullopt;
  CommitmentResult result = std::move(found->second);
  results_.erase(found);
  return result;
}

bool CommitmentResults::Has(const std::string& transactionUid) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return results_.count(transactionUid) != 0;
}

bool AnswerCommitmentReport(PDU_Service& service, const DcmObj& command,
                            CommitmentResults& results) {
  const uint16_t messageId = command.GetUS(0x0000, 0x0110);
  const uint16_t eventType = command.GetUS(0x0000, 0x1002);
  const uint8_t context = service.pdata.PresentationContextID;
  DcmObj dataSet;
  if (command.GetUS(0x0000, 0x0800) != kNoDataSet && !service.Read(dataSet, MessageKind::DataSet)) {
    WriteLog("ERROR, AnswerCommitmentReport, the report's data set did not arrive");
    return false;
  }
  uint16_t status = 0;
  std::string error;
  CommitmentResult result;
  if (command.GetString(0x0000, 0x0002) != kStorageCommitmentSopClass) {
    error = "event report for SOP class " + command.GetString(0x0000, 0x0002);
    status = 0x0118;  // no such SOP class
  } else if (ReadCommitmentReport(dataSet, eventType, result, error, status)) {
    size_t committed = 0;
    for (const CommitmentOutcome& outcome : result.objects) committed += outcome.committed ? 1 : 0;
    WriteLog("INFO, storage commitment report for " + result.transactionUid + ": " +
             std::to_string(committed) + " committed, " +
             std::to_string(result.objects.size() - committed) + " failed");
    results.Deliver(std::move(result));
  }
  if (!error.empty()) WriteLog("ERROR, AnswerCommitmentReport, " + error);
  service.pdata.PresentationContextID = context;
  auto response = BuildCommitmentEventReportRSP(messageId, eventType, status);
  return service.Write(*response, kStorageCommitmentSopClass, MessageKind::Command);
}

namespace {

// True when something arrives on the association within `wait` (or is already buffered).
bool Readable(PDU_Service& service, std::chrono::milliseconds wait) {
  if (service.Link.IncomingCount() != 0 || service.pdata.Length != 0) return true;
  pollfd watched{service.Link.dsocket.Socketfd, POLLIN, 0};
  return ::poll(&watched, 1, static_cast<int>(wait.count())) > 0;
}

// Waits on the association for a report the PACS sends on it, answering each one, until the
// transaction is known to `results`, the PACS ends the association, `limit` passes or `stop` is
// set.
void AwaitReportOnAssociation(PDU_Service& service, const std::string& transactionUid,
                              CommitmentResults& results, std::chrono::milliseconds limit,
                              const std::atomic<bool>* stop) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!results.Has(transactionUid) && service.State() == AssociationState::Established) {
    if (stop != nullptr && stop->load()) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    if (!Readable(service, std::min(left, std::chrono::milliseconds(250)))) continue;
    DcmObj command;
    if (!service.Read(command, MessageKind::Command, kMaxCommandLength)) return;
    if (command.GetUS(0x0000, 0x0100) != kCommandEventReportRQ) {
      WriteLog("ERROR, RequestCommitment, unexpected message on the association");
      service.Abort(AbortReason::NotSpecified);
      return;
    }
    if (!AnswerCommitmentReport(service, command, results)) return;
  }
}

}  // namespace

std::string RequestCommitment(const RemoteNode& node, const std::vector<CommitmentObject>& objects,
                              int timeoutSeconds, CommitmentResults& results, std::string& error,
                              std::chrono::milliseconds reportWait, std::string transactionUid,
                              const std::atomic<bool>* stop) {
  if (objects.empty()) {
    error = "no objects to ask storage commitment for";
    return {};
  }
  PDU_Service service;
  if (!OpenNodeAssociation(service, node, kStorageCommitmentSopClass, kExplicitVRLittleEndian, "",
                           timeoutSeconds)) {
    error = "The PACS did not accept an association for storage commitment (see the log)";
    CloseAssociation(service);
    return {};
  }
  if (transactionUid.empty()) transactionUid = NewTransactionUid();
  const uint16_t messageId = NextMessageID();
  auto command = BuildCommitmentActionRQ(messageId);
  auto request = BuildCommitmentRequest(transactionUid, objects);
  request->SetTransferSyntax(*service.GetTransferSyntaxUID(service.pdata.PresentationContextID));
  DcmObj response;
  if (!service.Write(*command, kStorageCommitmentSopClass, MessageKind::Command) ||
      !service.Write(*request, kStorageCommitmentSopClass, MessageKind::DataSet) ||
      !service.Read(response, MessageKind::Command, kMaxCommandLength)) {
    error = "The storage commitment request did not reach the PACS (see the log)";
    CloseAssociation(service);
    return {};
  }
  const std::optional<uint16_t> status = ResponseStatus(response);
  if (response.GetUS(0x0000, 0x0100) != kCommandActionRSP || !status ||
      response.GetUS(0x0000, 0x0120) != messageId) {
    error = "The PACS answered the storage commitment request with something else";
    service.Abort(AbortReason::NotSpecified);
    return {};
  }
  // An Action Reply, should the PACS send one, says nothing the report will not.
  DcmObj reply;
  if (response.GetUS(0x0000, 0x0800) != kNoDataSet && !service.Read(reply, MessageKind::DataSet)) {
    error = "The PACS's answer to the storage commitment request broke off (see the log)";
    CloseAssociation(service);
    return {};
  }
  if (*status != 0) {
    error = "The PACS refused the storage commitment request: status 0x" + Hex4(*status);
    CloseAssociation(service);
    return {};
  }
  WriteLog("INFO, storage commitment requested for " + std::to_string(objects.size()) +
           " objects, transaction " + transactionUid);
  AwaitReportOnAssociation(service, transactionUid, results, reportWait, stop);
  CloseAssociation(service);
  return transactionUid;
}
