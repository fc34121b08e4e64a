// The association service: one association as requestor, whole DIMSE messages in and out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "buffer.h"
#include "dcmobj.h"
#include "pdu.h"

// What a message sent with PDU_Service::Write is (bit 0 of the control header).
enum class MessageKind : uint8_t { DataSet = 0, Command = 1 };

// The largest P-DATA-TF this side accepts, announced in every request; peers' larger limits are
// also lowered to it when sending.
inline constexpr uint32_t kOwnMaximumLength = 16384;
inline constexpr const char* kApplicationContextName = "1.2.840.10008.3.1.1.1";
inline constexpr const char* kImplementationVersionName = "Brindlewick";

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
  // abort from the peer and on protocol errors (which abort the association).
  bool Read(DcmObj& dataSet);
  // The accepted transfer syntax of a context ID, nullopt when that context was not accepted.
  std::optional<std::string> GetTransferSyntaxUID(uint8_t presentationContextId) const;

  bool ParseDCMIntoRawVR(DcmObj& dataSet, MessageKind kind);
  bool ParseRawVRIntoDCM(uint8_t presentationContextId, DcmObj& dataSet);

  // True while the association is open on a connected socket.
  bool IsConnected() const { return Link.dsocket.Connected; }
  // True after the peer asked for a release and got our answer.
  bool ReleasedByPeer() const { return releasedByPeer_; }

  // Sends an A-ABORT with this source and reason and closes the connection.
  void Abort(AbortReason reason);

 private:
  friend bool CloseAssociation(PDU_Service& service);
  bool releasedByPeer_ = false;
  bool OnUnexpectedPdu(uint8_t type);
};

// Fills the request (titles padded or cut to 16 characters, one presentation context with the
// given transfer syntaxes and Implicit VR Little Endian) and connects. The time-out in seconds
// bounds the connect and every receive of the association.
bool OpenAssociation(PDU_Service& service, const std::string& callingApTitle,
                     const std::string& calledApTitle, const std::string& host,
                     const std::string& port, const std::string& abstractSyntax,
                     const std::string& transferSyntax1, const std::string& transferSyntax2,
                     int timeOutSeconds);
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
