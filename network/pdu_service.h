// The association service: one association as requestor, whole DIMSE messages in and out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Where an association stands, as the upper layer's state machine has it for a requestor:
// every Read and Write consults it, and nothing is written once the peer released or aborted.
enum class AssociationState {
  Idle,            // no connection
  AwaitingAccept,  // connected, request sent, no answer yet
  Established,     // accepted with a usable context: messages may flow
  Released,        // the peer asked for a release and got our answer
  Aborted,         // either side aborted, or the connection failed
};

// The state's name for log lines.
const char* StateName(AssociationState state);

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
  // Receives one message and decodes it into `dataSet`. False on any failure, on a release or
  // abort from the peer and on protocol errors (which abort the association). The whole message
  // must arrive within the socket's time-out, however the peer paces its PDUs, and may not be
  // longer than `maxLength` bytes.
  bool Read(DcmObj& dataSet, size_t maxLength = kMaxReceivedMessageLength);
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

  // Sends an A-ABORT with this source and reason and closes the connection.
  void Abort(AbortReason reason);

 private:
  friend bool CloseAssociation(PDU_Service& service);
  AssociationState state_ = AssociationState::Idle;
  bool OnUnexpectedPdu(uint8_t type);
  // True in the established state on a connected socket; otherwise logs why `operation` cannot
  // go on (a connection that failed underneath counts as aborted from now on).
  bool Established(const char* operation);
};

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
// Releases the association (when still connected) and closes the connection. Always true.
bool CloseAssociation(PDU_Service& service);

// The process-wide association counter, which numbers presentation contexts and messages.
void ResetCounter();
uint8_t NextContextID();
uint8_t NextAcceptID();
uint16_t NextMessageID();
