// DIMSE command sets of the service-user side: C-ECHO, C-FIND and C-STORE requests and responses
// (N-ACTION and N-EVENT-REPORT are built where storage commitment uses them).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dcmobj.h"

class PDU_Service;

inline constexpr const char* kVerificationSopClass = "1.2.840.10008.1.1";

// Command Field (0000,0100) values of PS3.7 Annex E.
inline constexpr uint16_t kCommandStoreRQ = 0x0001;
inline constexpr uint16_t kCommandStoreRSP = 0x8001;
inline constexpr uint16_t kCommandFindRQ = 0x0020;
inline constexpr uint16_t kCommandFindRSP = 0x8020;
inline constexpr uint16_t kCommandEchoRQ = 0x0030;
inline constexpr uint16_t kCommandEchoRSP = 0x8030;
inline constexpr uint16_t kCommandEventReportRQ = 0x0100;
inline constexpr uint16_t kCommandEventReportRSP = 0x8100;
inline constexpr uint16_t kCommandActionRQ = 0x0130;
inline constexpr uint16_t kCommandActionRSP = 0x8130;
inline constexpr uint16_t kCommandCancelRQ = 0x0FFF;

// Command Data Set Type (0000,0800): no data set follows, or one does.
inline constexpr uint16_t kNoDataSet = 0x0101;
inline constexpr uint16_t kDataSetFollows = 0x0102;

// C-FIND statuses that announce a further match, and the one that ends a cancelled search.
inline constexpr int kStatusPending = 0xFF00;
inline constexpr int kStatusPendingWarning = 0xFF01;
inline constexpr int kStatusCancel = 0xFE00;

inline bool IsPendingStatus(int status) {
  return status == kStatusPending || status == kStatusPendingWarning;
}

// A UI element of the command group, (0000,element).
std::unique_ptr<DcmTag> UidElement(uint16_t element, std::string_view uid);
// Prepends the Command Group Length (0000,0000) to a command set of elements only.
void AddGroupLength(DcmObj& command);
// The Status (0000,0900) of a response; nullopt when the element is missing or not one 16-bit
// value. A response without one reports nothing, so it can never count as success.
std::optional<uint16_t> ResponseStatus(const DcmObj& response);

// The request command sets, in Implicit VR Little Endian with their group length first. The
// instance UID of C-STORE is left out when empty; a C-FIND without identifier says that no data
// set follows.
std::unique_ptr<DcmObj> BuildEchoRQ(std::string_view sopClassUid, uint16_t messageId);
std::unique_ptr<DcmObj> BuildFindRQ(std::string_view sopClassUid, uint16_t messageId,
                                    bool withIdentifier = true);
std::unique_ptr<DcmObj> BuildStoreRQ(std::string_view sopClassUid, std::string_view sopInstanceUid,
                                     uint16_t messageId);
// C-CANCEL-RQ for the request with this message ID (PS3.7 9.3.2.3).
std::unique_ptr<DcmObj> BuildCancelRQ(uint16_t messageIdBeingRespondedTo);

// Writes a request command set and remembers its Message ID (and Affected SOP Instance UID) as
// the service's outstanding request, which every response must answer.
bool WriteRequestCommand(PDU_Service& service, DcmObj& command, const std::string& sopClassUid);
// True when the response answers the outstanding request: its Message ID Being Responded To is
// the request's and, when `checkInstance` and the response names one, so is its Affected SOP
// Instance UID. Otherwise logs the mismatch for `operation`.
bool AnswersOutstandingRequest(const PDU_Service& service, const DcmObj& response,
                               const char* operation, bool checkInstance);

// Verification: true when the request was written / when a C-ECHO-RSP with status 0 arrived.
bool WriteEchoRQ(PDU_Service& service, const std::string& sopClassUid);
bool ReadEchoRSP(PDU_Service& service);

// Query. ReadRSP gives the status (0 to 65535) and fills `identifier` when one follows, or -1
// when nothing usable could be read or the response answers another request. WriteCancelRQ asks
// the peer to end the outstanding search; its responses still have to be read to the final one.
class CFind {
 public:
  static bool WriteRQ(PDU_Service* service, DcmObj& identifier, const std::string& sopClassUid);
  static int ReadRSP(PDU_Service* service, DcmObj& identifier);
  static bool WriteCancelRQ(PDU_Service* service);
};

// ReadRSP's result for a C-STORE-RSP that answers another request than the one sent. It differs
// from every code of storage.h, so that a caller never takes it for a failed conversion.
inline constexpr int kStoreResponseMismatch = -5;

// Storage. WriteRQ sends the data set in its own transfer syntax; ReadRSP gives the status, -1
// when nothing could be read, -2 when the response was not a C-STORE-RSP and
// kStoreResponseMismatch when it answers another request. A warning status is logged as such
// and a failure named; the Error Comment (0000,0902), when the peer gave one, goes to
// `errorComment`.
class CStore {
 public:
  static bool WriteRQ(PDU_Service* service, DcmObj* dataSet, const std::string& sopClassUid);
  static int ReadRSP(PDU_Service* service, std::string* errorComment = nullptr);
};
