// Building, writing and reading the DIMSE command sets of C-ECHO, C-FIND and C-STORE.
#include "dimse.h"

#include <optional>

#include "log.h"
#include "pdu_service.h"
#include "storeoutcome.h"

std::unique_ptr<DcmTag> UidElement(uint16_t element, std::string_view uid) {
  return DcmTag::FromBytes(0x0000, element, static_cast<uint32_t>(uid.size()), uid.data(), "UI");
}

// The encoded size of every other element in Implicit VR, where each element takes an 8-byte
// header and its (already even) value.
void AddGroupLength(DcmObj& command) {
  uint32_t length = 0;
  for (size_t i = 0; i < command.Count(); ++i) length += 8 + command.TagAt(i)->length;
  command.entries.insert(command.entries.begin(),
                         DcmEntry{DcmTag::FromUL(0x0000, 0x0000, length, "UL"), nullptr});
}

std::optional<uint16_t> ResponseStatus(const DcmObj& response) {
  const DcmTag* status = response.FindTag(0x0000, 0x0900);
  if (status == nullptr || status->length != 2) return std::nullopt;
  return response.GetUS(0x0000, 0x0900);
}

namespace {

// Command Priority (0000,0700): medium.
constexpr uint16_t kPriorityMedium = 0x0000;

std::unique_ptr<DcmObj> BuildRequest(std::string_view sopClassUid, uint16_t commandField,
                                     uint16_t messageId, bool withPriority, uint16_t dataSetType,
                                     std::string_view sopInstanceUid) {
  auto command = std::make_unique<DcmObj>();
  command->Append(UidElement(0x0002, sopClassUid));
  command->Append(DcmTag::FromUS(0x0000, 0x0100, commandField, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0110, messageId, "US"));
  if (withPriority) command->Append(DcmTag::FromUS(0x0000, 0x0700, kPriorityMedium, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0800, dataSetType, "US"));
  if (!sopInstanceUid.empty()) command->Append(UidElement(0x1000, sopInstanceUid));
  AddGroupLength(*command);
  return command;
}

}  // namespace

std::unique_ptr<DcmObj> BuildEchoRQ(std::string_view sopClassUid, uint16_t messageId) {
  return BuildRequest(sopClassUid, kCommandEchoRQ, messageId, false, kNoDataSet, {});
}

std::unique_ptr<DcmObj> BuildFindRQ(std::string_view sopClassUid, uint16_t messageId,
                                    bool withIdentifier) {
  return BuildRequest(sopClassUid, kCommandFindRQ, messageId, true,
                      withIdentifier ? kDataSetFollows : kNoDataSet, {});
}

std::unique_ptr<DcmObj> BuildStoreRQ(std::string_view sopClassUid, std::string_view sopInstanceUid,
                                     uint16_t messageId) {
  return BuildRequest(sopClassUid, kCommandStoreRQ, messageId, true, kDataSetFollows,
                      sopInstanceUid);
}

std::unique_ptr<DcmObj> BuildCancelRQ(uint16_t messageIdBeingRespondedTo) {
  // PS3.7 Table 9.3-3: command field, the ID of the request to cancel, no data set.
  auto command = std::make_unique<DcmObj>();
  command->Append(DcmTag::FromUS(0x0000, 0x0100, kCommandCancelRQ, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0120, messageIdBeingRespondedTo, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0800, kNoDataSet, "US"));
  AddGroupLength(*command);
  return command;
}

bool WriteRequestCommand(PDU_Service& service, DcmObj& command, const std::string& sopClassUid) {
  service.Outstanding.messageId = command.GetUS(0x0000, 0x0110);
  service.Outstanding.affectedSopInstanceUid = command.GetString(0x0000, 0x1000);
  return service.Write(command, sopClassUid, MessageKind::Command);
}

bool AnswersOutstandingRequest(const PDU_Service& service, const DcmObj& response,
                               const char* operation, bool checkInstance) {
  const uint16_t sent = service.Outstanding.messageId;
  const DcmTag* respondedTo = response.FindTag(0x0000, 0x0120);
  if (respondedTo == nullptr || respondedTo->length != 2) {
    WriteLog(std::string("ERROR, ") + operation +
             ", response without Message ID Being Responded To; request " + std::to_string(sent) +
             " was sent");
    return false;
  }
  const uint16_t answered = response.GetUS(0x0000, 0x0120);
  if (answered != sent) {
    WriteLog(std::string("ERROR, ") + operation + ", response to message ID " +
             std::to_string(answered) + ", but request " + std::to_string(sent) + " was sent");
    return false;
  }
  if (!checkInstance || response.FindTag(0x0000, 0x1000) == nullptr) return true;
  const std::string instance = response.GetString(0x0000, 0x1000);
  if (instance != service.Outstanding.affectedSopInstanceUid) {
    WriteLog(std::string("ERROR, ") + operation + ", response for SOP instance " + instance +
             ", but " + service.Outstanding.affectedSopInstanceUid + " was sent");
    return false;
  }
  return true;
}

bool WriteEchoRQ(PDU_Service& service, const std::string& sopClassUid) {
  auto command = BuildEchoRQ(sopClassUid, NextMessageID());
  return WriteRequestCommand(service, *command, sopClassUid);
}

bool ReadEchoRSP(PDU_Service& service) {
  DcmObj response;
  if (!service.Read(response, MessageKind::Command, kMaxCommandLength)) return false;
  const std::optional<uint16_t> status = ResponseStatus(response);
  if (!status) WriteLog("ERROR, ReadEchoRSP, response without status");
  return response.GetUS(0x0000, 0x0100) == kCommandEchoRSP && status == 0 &&
         AnswersOutstandingRequest(service, response, "ReadEchoRSP", false);
}

bool CFind::WriteRQ(PDU_Service* service, DcmObj& identifier, const std::string& sopClassUid) {
  if (service == nullptr) {
    WriteLog("ERROR, CFind::WriteRQ, PDU is NULL");
    return false;
  }
  // A command that announces a data set must be followed by one: with no keys at all, the
  // command says that none follows.
  const bool withIdentifier = identifier.Count() != 0;
  auto command = BuildFindRQ(sopClassUid, NextMessageID(), withIdentifier);
  if (!WriteRequestCommand(*service, *command, sopClassUid)) {
    WriteLog("ERROR, CFind::WriteRQ, PDU->Write failed!");
    return false;
  }
  if (!withIdentifier) return true;
  return service->Write(identifier, sopClassUid, MessageKind::DataSet);
}

bool CFind::WriteCancelRQ(PDU_Service* service) {
  if (service == nullptr) return false;
  auto command = BuildCancelRQ(service->Outstanding.messageId);
  if (!service->Write(*command, "", MessageKind::Command)) {
    WriteLog("ERROR, CFind::WriteCancelRQ, PDU->Write failed!");
    return false;
  }
  return true;
}

int CFind::ReadRSP(PDU_Service* service, DcmObj& identifier) {
  if (service == nullptr) return -1;
  DcmObj command;
  if (!service->Read(command, MessageKind::Command, kMaxCommandLength)) {
    WriteLog("ERROR, CFind::ReadRSP, PDU->Read Failed!");
    return -1;
  }
  if (command.GetUS(0x0000, 0x0100) != kCommandFindRSP) {
    WriteLog("ERROR, CFind::ReadRSP, DCO not C-Find");
    return -1;
  }
  const std::optional<uint16_t> status = ResponseStatus(command);
  if (!status) {
    WriteLog("ERROR, CFind::ReadRSP, response without status");
    return -1;
  }
  if (!AnswersOutstandingRequest(*service, command, "CFind::ReadRSP", false)) return -1;
  if (command.GetUS(0x0000, 0x0800) != kNoDataSet &&
      !service->Read(identifier, MessageKind::DataSet)) {
    return -1;
  }
  return *status;
}

bool CStore::WriteRQ(PDU_Service* service, DcmObj* dataSet, const std::string& sopClassUid) {
  if (service == nullptr) return false;
  const std::string instanceUid = dataSet ? dataSet->GetString(0x0008, 0x0018) : std::string();
  auto command = BuildStoreRQ(sopClassUid, instanceUid, NextMessageID());
  if (!WriteRequestCommand(*service, *command, sopClassUid)) {
    WriteLog("ERROR, CStore::WriteRQ, PDU->Write DCO failed");
    return false;
  }
  if (dataSet == nullptr) return true;
  return service->Write(*dataSet, sopClassUid, MessageKind::DataSet);
}

int CStore::ReadRSP(PDU_Service* service, std::string* errorComment) {
  if (service == nullptr) return -1;
  DcmObj response;
  if (!service->Read(response, MessageKind::Command, kMaxCommandLength)) {
    WriteLog("ERROR, CStore::ReadRSP, PDU->Read DCO failed");
    return -1;
  }
  if (response.GetUS(0x0000, 0x0100) != kCommandStoreRSP) {
    WriteLog("ERROR, CStore::ReadRSP, not a C-Store RSP");
    return -2;
  }
  const std::optional<uint16_t> received = ResponseStatus(response);
  if (!received) {
    WriteLog("ERROR, CStore::ReadRSP, response without status");
    return -1;
  }
  if (!AnswersOutstandingRequest(*service, response, "CStore::ReadRSP", true)) {
    return kStoreResponseMismatch;
  }
  const int status = *received;
  // PS3.4 B.2.3: a warning means the object was stored, perhaps with changes the comment names.
  const std::string comment = response.GetString(0x0000, 0x0902);
  if (errorComment) *errorComment = comment;
  const std::string commentText = comment.empty() ? "" : ", Error Comment: " + comment;
  const StoreOutcome outcome = StoreOutcomeFromStatus(status);
  if (outcome.result == StoreResult::StoredWithWarning) {
    WriteLog("WARNING, CStore::ReadRSP, stored with " + StoreStatusText(status) + commentText);
  } else if (outcome.result == StoreResult::Failed) {
    WriteLog("ERROR, CStore::ReadRSP, status == " + std::to_string(status) +
             ", not stored: " + StoreStatusText(status) + commentText);
  }
  return status;
}
