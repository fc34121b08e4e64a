// The association service: one association as requestor, whole DIMSE messages in and out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "associationcounter.h"
#include "associationtable.h"
#include "buffer.h"
#include "dcmobj.h"
#include "pdu.h"

// What a message sent with PDU_Service::Write is (bit 0 of the control header).
enum class MessageKind : uint8_t { DataSet = 0, Command = 1 };

// The largest P-DATA-TF this side accepts, announced in every request; peers' larger limits are
// also lowered to it when sending.
inline constexpr uint32_t kOwnMaximumLength = kOwnPDataLength;
inline constexpr const char* kApplicationContextName = "1.2.840.10008.3.1.1.1";
inline constexpr const char* kImplementationVersionName = "Brindlewick";

// The largest command set accepted from a peer; responses carry a handful of elements.
inline constexpr size_t kMaxCommandLength = 64 * 1024;

class PDU_Service {
 public:
  Buffer Link{ByteOrder::BigEndian, ByteOrder::BigEndian};
  AAssociateRQ assocRQ;
  AAssociateAC assocAC;
  AAssociateRJ assocRJ;
  AReleaseRQ releaseRQ;
  AReleaseRP releaseRP;
  AAbortRQ abortRQ;
  PDataTF pdata;
  // Every accept item with result 0, in received order.
  std::vector<PresentationContextAccept> AcceptedPresContexts;
  // The context chosen when the association was accepted (0 before); messages go on
  // pdata.PresentationContextID, which a sender may point at another accepted context.
  uint8_t NegotiatedContextID = 0;
  // Further contexts (abstract syntax, the one transfer syntax) proposed after the first one.
  std::vector<std::pair<std::string, std::string>> ExtraContexts;
  // Log every message sent or received (as dump lines).
  bool TraceMessages = false;
  bool UseTLS = false;
  // User identity negotiation; nothing is sent while UserName is empty.
  std::string UserName;
  std::string Passcode;
  // TLS client certificate and private key (PEM files), both optional.
  std::string CertificateFile;
  std::string KeyFile;
  // CA certificates (PEM) against which the server's certificate is verified. Empty: the
  // server's certificate is not checked.
  std::string TrustedCAFile;

  PDU_Service() = default;
  // Closes a connection still open (no release).
  ~PDU_Service();
  PDU_Service(const PDU_Service&) = delete;
  PDU_Service& operator=(const PDU_Service&) = delete;

  // Opens the connection, sends the prepared request and reads the answer.
  bool Connect(const std::string& host, const std::string& port);
  // Chooses the context to use from the acceptance; true when a usable one was found.
  bool InterogateAAssociateAC();
  // Sends one message (command set or data set) as P-DATA-TF fragments. The SOP class UID is
  // not used; it is kept so that callers state what they send.
  bool Write(DcmObj& dataSet, const std::string& sopClassUid, MessageKind kind);
  // Receives one message of the `expected` kind and decodes it into `dataSet`. False on any
  // failure, on a release or abort from the peer and on protocol errors (which abort the
  // association): among them a message of the other kind, or one whose fragments mix both. The
  // whole message must arrive within the socket's time-out, however the peer paces its PDUs, and
  // may not be longer than `maxLength` bytes.
  bool Read(DcmObj& dataSet, MessageKind expected, size_t maxLength = kMaxReceivedMessageLength);
  // The accepted context whose transfer syntax is this one and sendable; 0 when there is none.
  uint8_t AcceptedContextFor(std::string_view transferSyntax) const;
  // The accepted transfer syntax of a context ID, nullopt when that context was not accepted.
  std::optional<std::string> GetTransferSyntaxUID(uint8_t presentationContextId) const;

  bool ParseRawVRIntoDCM(uint8_t presentationContextId, DcmObj& dataSet);

  // True while the association is open on a connected socket.
  bool IsConnected() const { return Link.dsocket.Connected; }
  AssociationState State() const { return state_; }
  // For a link negotiated outside Connect (a harness that feeds the link itself): messages may
  // flow from now on.
  void MarkEstablished() { state_ = AssociationState::Established; }
  // True after the peer asked for a release and got our answer.
  bool ReleasedByPeer() const { return state_ == AssociationState::Released; }

  // Sends an A-ABORT (source: the service provider) with this reason and closes the connection.
  void Abort(AbortReason reason);

  // The DIMSE request awaiting its response: one at a time on our associations.
  struct OutstandingRequest {
    uint16_t messageId = 0;
    std::string affectedSopInstanceUid;
  };
  OutstandingRequest Outstanding;

 private:
  friend bool CloseAssociation(PDU_Service& service);
  AssociationState state_ = AssociationState::Idle;
  // The last A-ABORT received, for the log line that names its source and reason.
  AAbortRQ abortReceived_;

  // Looks up the state table for `event`, moves to the next state and does what closes the
  // connection (an A-ABORT sent with `abortReason`, the socket closed). Returns the action, whose
  // sending part (data, release PDUs) the caller carries out.
  AssociationAction Apply(AssociationEvent event,
                          AbortReason abortReason = AbortReason::UnexpectedPdu);
  // After the type byte of a PDU other than P-DATA-TF: reads what is needed of it and names the
  // event it is.
  AssociationEvent ReceiveOtherPdu(uint8_t type);
  // Handles a PDU other than P-DATA-TF received while a message was awaited.
  void OnOtherPdu(uint8_t type);
  // True when the table gives `action` for `event` now, on a connected socket; otherwise logs
  // why `operation` cannot go on (a connection that failed underneath counts as lost from now on).
  bool Allows(AssociationEvent event, AssociationAction action, const char* operation);
  // Releases an established association, answering a release collision as the requestor does;
  // closes the connection in every case. True when the peer's A-RELEASE-RP arrived.
  bool Release();
};

// Who aborted and why, as an A-ABORT says it: "the service user (source 0, reason 0)" or "the
// service provider: unexpected PDU (source 2, reason 2)".
std::string AbortText(const AAbortRQ& abort);

// Fills the request (titles padded or cut to 16 characters, one presentation context with the
// given transfer syntaxes and, when `addImplicit`, Implicit VR Little Endian; then the service's
// ExtraContexts) and connects. The time-out in seconds bounds the connect and every receive of
// the association.
bool OpenAssociation(PDU_Service& service, const std::string& callingApTitle,
                     const std::string& calledApTitle, const std::string& host,
                     const std::string& port, const std::string& abstractSyntax,
                     const std::string& transferSyntax1, const std::string& transferSyntax2,
                     int timeOutSeconds, bool addImplicit = true);
// For storage: the object's own transfer syntax alone in the first context and Implicit VR
// Little Endian in a second one for the same SOP class, so that a peer which accepts the own
// syntax cannot push the object into conversion by preferring Implicit within one context. One
// context when the own syntax is empty or Implicit VR Little Endian.
bool OpenStoreAssociation(PDU_Service& service, const std::string& callingApTitle,
                          const std::string& calledApTitle, const std::string& host,
                          const std::string& port, const std::string& abstractSyntax,
                          const std::string& ownTransferSyntax, int timeOutSeconds);
// Implicit VR Little Endian only.
bool OpenAssociation(PDU_Service& service, const std::string& callingApTitle,
                     const std::string& calledApTitle, const std::string& host,
                     const std::string& port, const std::string& abstractSyntax,
                     int timeOutSeconds);
// Releases the association when it is established, and closes the connection in every case.
// True when the release completed (the peer's A-RELEASE-RP arrived); otherwise the log says why.
bool CloseAssociation(PDU_Service& service);
