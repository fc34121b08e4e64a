// PDU_Service: association set-up, message transfer in P-DATA-TF fragments, release and abort.
#include "pdu_service.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>

#include "bufdata.h"
#include "charset.h"
#include "dump.h"
#include "fragmentwriter.h"
#include "log.h"
#include "uids.h"

namespace {

// A message is encoded and handed to the fragment writer in pieces of about this size.
constexpr size_t kEncodePieceSize = 64 * 1024;

bool Tracing() {
  return LogLevel.load() > 1;
}

// What an A-ASSOCIATE-RJ says, in the words of PS3.8 Table 9-21, with its three numbers.
std::string RejectionText(const AAssociateRJ& rejection) {
  const char* result = rejection.Result == 1   ? "permanently"
                       : rejection.Result == 2 ? "transiently"
                                               : "with an unknown result";
  const char* source = "an unknown source";
  const char* reason = "reason not defined";
  switch (rejection.Source) {
    case 1:
      source = "the called application";
      reason = rejection.Reason == 1   ? "no reason given"
               : rejection.Reason == 2 ? "application context name not supported"
               : rejection.Reason == 3 ? "calling AE title not recognized"
               : rejection.Reason == 7 ? "called AE title not recognized"
                                       : reason;
      break;
    case 2:
      source = "the peer's protocol layer";
      reason = rejection.Reason == 1   ? "no reason given"
               : rejection.Reason == 2 ? "protocol version not supported"
                                       : reason;
      break;
    case 3:
      source = "the peer's presentation layer";
      reason = rejection.Reason == 1   ? "temporary congestion"
               : rejection.Reason == 2 ? "local limit exceeded"
                                       : reason;
      break;
    default:
      break;
  }
  return std::string("association rejected ") + result + " by " + source + ": " + reason +
         " (result " + std::to_string(rejection.Result) + ", source " +
         std::to_string(rejection.Source) + ", reason " + std::to_string(rejection.Reason) + ")";
}

// Why a PDU of this type that brought this event is aborted, should the table say so.
AbortReason AbortReasonFor(uint8_t type, AssociationEvent event) {
  if (type == 0 || type > 0x07) return AbortReason::UnrecognizedPdu;
  return event == AssociationEvent::InvalidPdu ? AbortReason::InvalidPduParameter
                                               : AbortReason::UnexpectedPdu;
}

std::string Trimmed(const std::string& text) {
  const size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// The message as readable UTF-8 lines: texts decoded by the data set's character set, and the
// AE titles of the heading (8-bit texts) widened.
void LogDump(const std::string& heading, const DcmObj& dataSet) {
  WriteLog(MixedBytesToUtf8(heading));
  for (const std::string& line : DumpLinesUtf8(dataSet)) WriteLog(line);
  WriteLog("");
}

}  // namespace

namespace {

// Bounds every receive of one exchange (an association answer, one message) by one deadline,
// and lifts it again however the exchange ends. A deadline already set for the whole association
// (an acceptor's) stays in force when it comes first.
class MessageDeadline {
 public:
  explicit MessageDeadline(Socket& socket) : socket_(socket), outer_(socket.Deadline) {
    if (socket_.TimeOut > 0) {
      const auto own = std::chrono::steady_clock::now() + std::chrono::seconds(socket_.TimeOut);
      socket_.Deadline = outer_ ? std::min(*outer_, own) : own;
    }
  }
  ~MessageDeadline() { socket_.Deadline = outer_; }
  MessageDeadline(const MessageDeadline&) = delete;
  MessageDeadline& operator=(const MessageDeadline&) = delete;

 private:
  Socket& socket_;
  const std::optional<std::chrono::steady_clock::time_point> outer_;
};

}  // namespace

PDU_Service::~PDU_Service() = default;

bool OpenAssociation(PDU_Service& service, const std::string& callingApTitle,
                     const std::string& calledApTitle, const std::string& host,
                     const std::string& port, const std::string& abstractSyntax,
                     const std::string& transferSyntax1, const std::string& transferSyntax2,
                     int timeOutSeconds, bool addImplicit) {
  // AE titles travel as 8-bit text; one holding a character that has no byte there is refused
  // rather than sent as something else.
  std::string calling;
  std::string called;
  std::string refused;
  if (!Utf8ToCp1252Strict(TextToUtf8(callingApTitle), calling, refused) ||
      !Utf8ToCp1252Strict(TextToUtf8(calledApTitle), called, refused)) {
    WriteLog("ERROR, OpenAssociation, an AE title cannot hold the character \"" + refused + "\"");
    return false;
  }
  AAssociateRQ& request = service.assocRQ;
  request.CallingApTitle = Title16(calling);
  request.CalledApTitle = Title16(called);
  request.AppContext.UID = kApplicationContextName;
  service.Link.dsocket.TimeOut = timeOutSeconds;
  if (Tracing()) {
    WriteLog("INFO, OpenAssociation, Calling Ap. Title: " + request.CallingApTitle);
    WriteLog("INFO, OpenAssociation, Called Ap. Title: " + request.CalledApTitle);
  }
  ResetCounter();
  PresentationContext context;
  context.PresentationContextID = NextContextID();
  context.AbsSyntax.UID = abstractSyntax;
  if (!transferSyntax2.empty()) context.TrnSyntax.emplace_back(0x40, transferSyntax2);
  if (!transferSyntax1.empty() && transferSyntax1 != transferSyntax2) {
    context.TrnSyntax.emplace_back(0x40, transferSyntax1);
  }
  if (addImplicit && transferSyntax1 != kImplicitVRLittleEndian &&
      transferSyntax2 != kImplicitVRLittleEndian) {
    context.TrnSyntax.emplace_back(0x40, kImplicitVRLittleEndian);
  }
  request.PresContexts.push_back(std::move(context));
  for (const auto& [extraAbstract, extraSyntax] : service.ExtraContexts) {
    PresentationContext extra;
    extra.PresentationContextID = NextContextID();
    extra.AbsSyntax.UID = extraAbstract;
    extra.TrnSyntax.emplace_back(0x40, extraSyntax);
    request.PresContexts.push_back(std::move(extra));
  }
  return service.Connect(host, port);
}

bool OpenStoreAssociation(PDU_Service& service, const std::string& callingApTitle,
                          const std::string& calledApTitle, const std::string& host,
                          const std::string& port, const std::string& abstractSyntax,
                          const std::string& ownTransferSyntax, int timeOutSeconds) {
  // The first context is filled by OpenAssociation; the second is added before it connects.
  service.ExtraContexts.clear();
  if (!ownTransferSyntax.empty() && ownTransferSyntax != kImplicitVRLittleEndian) {
    service.ExtraContexts.push_back({abstractSyntax, kImplicitVRLittleEndian});
    return OpenAssociation(service, callingApTitle, calledApTitle, host, port, abstractSyntax,
                           ownTransferSyntax, ownTransferSyntax, timeOutSeconds, false);
  }
  return OpenAssociation(service, callingApTitle, calledApTitle, host, port, abstractSyntax,
                         kImplicitVRLittleEndian, "", timeOutSeconds);
}

bool OpenAssociation(PDU_Service& service, const std::string& callingApTitle,
                     const std::string& calledApTitle, const std::string& host,
                     const std::string& port, const std::string& abstractSyntax,
                     int timeOutSeconds) {
  return OpenAssociation(service, callingApTitle, calledApTitle, host, port, abstractSyntax, "", "",
                         timeOutSeconds);
}

std::string AbortText(const AAbortRQ& abort) {
  if (abort.Source == static_cast<uint8_t>(AbortSource::ServiceUser)) {
    return "the service user (source 0, reason " + std::to_string(abort.Reason) + ")";
  }
  if (abort.Source != static_cast<uint8_t>(AbortSource::ServiceProvider)) {
    return "an unknown source (source " + std::to_string(abort.Source) + ", reason " +
           std::to_string(abort.Reason) + ")";
  }
  // PS3.8 Table 9-26.
  const char* reason = "reason not specified";
  switch (abort.Reason) {
    case 1:
      reason = "unrecognized PDU";
      break;
    case 2:
      reason = "unexpected PDU";
      break;
    case 4:
      reason = "unrecognized PDU parameter";
      break;
    case 5:
      reason = "unexpected PDU parameter";
      break;
    case 6:
      reason = "invalid PDU parameter value";
      break;
    default:
      break;
  }
  return std::string("the service provider: ") + reason + " (source 2, reason " +
         std::to_string(abort.Reason) + ")";
}

AssociationAction PDU_Service::Apply(AssociationEvent event, AbortReason abortReason) {
  const AssociationTransition step = NextTransition(state_, event);
  if (Tracing()) {
    WriteLog(std::string("INFO, PDU_Service, ") + StateName(state_) + ": " +
             ActionName(step.action) + ", then " + StateName(step.next));
  }
  state_ = step.next;
  auto sendAbort = [this](AbortSource source, AbortReason reason) {
    if (!IsConnected()) return;
    abortRQ.Source = static_cast<uint8_t>(source);
    abortRQ.Reason = static_cast<uint8_t>(reason);
    abortRQ.Write(Link);
  };
  // Our aborts name the service provider as their source: only then does the peer read the
  // reason, which says what went wrong.
  switch (step.action) {
    case AssociationAction::AA1_SendAbort:
    case AssociationAction::AA7_SendAbort:
    case AssociationAction::AA8_UnexpectedSendAbort:
      sendAbort(AbortSource::ServiceProvider, abortReason);
      [[fallthrough]];
    case AssociationAction::AE4_RejectedClose:
    case AssociationAction::AR3_ReleaseConfirmedClose:
    case AssociationAction::AA3_AbortedByPeerClose:
    case AssociationAction::AA4_ConnectionLost:
      Link.dsocket.Close();
      pdata.Length = 0;
      break;
    default:
      break;
  }
  return step.action;
}

AssociationEvent PDU_Service::ReceiveOtherPdu(uint8_t type) {
  switch (type) {
    case 0x01: {
      AAssociateRQ unexpected;
      return unexpected.Read(Link) == ReadStatus::Refused ? AssociationEvent::InvalidPdu
                                                          : AssociationEvent::AssociateRequested;
    }
    case 0x02: {
      AAssociateAC unexpected;
      return unexpected.ReadDynamic(Link) == ReadStatus::Refused
                 ? AssociationEvent::InvalidPdu
                 : AssociationEvent::AssociateAccepted;
    }
    case 0x03:
      return assocRJ.Read(Link) ? AssociationEvent::AssociateRejected
                                : AssociationEvent::InvalidPdu;
    case 0x04:
      return AssociationEvent::DataReceived;
    case 0x05:
      return releaseRQ.Read(Link) ? AssociationEvent::ReleaseRequested
                                  : AssociationEvent::InvalidPdu;
    case 0x06:
      return releaseRP.Read(Link) ? AssociationEvent::ReleaseReplied : AssociationEvent::InvalidPdu;
    case 0x07:
      abortReceived_ = AAbortRQ();
      // An abort cut short still ends the association; its reason is then unknown.
      if (!abortReceived_.Read(Link)) abortReceived_.Source = 0xFF;
      return AssociationEvent::AbortReceived;
    default:
      return AssociationEvent::InvalidPdu;
  }
}

bool PDU_Service::Connect(const std::string& host, const std::string& port) {
  // Whatever ends the attempt without an accepted association leaves the service idle.
  struct IdleUnlessEstablished {
    AssociationState& state;
    ~IdleUnlessEstablished() {
      if (state != AssociationState::Established) state = AssociationState::Idle;
    }
  } idleGuard{state_};
  try {
    pdata.Length = 0;
    state_ = AssociationState::Idle;
    UserInformation& info = assocRQ.UserInfo;
    info.MaxLength.MaximumLength = kOwnMaximumLength;
    info.ImplementationClass.ImplementationClassUID = std::string(kOrganisationUidRoot) + ".999";
    info.ImplementationVersion.ImplementationVersionName = kImplementationVersionName;
    info.Identity.PrimaryField = UserName;
    info.Identity.SecondaryField = Passcode;
    info.Identity.UserIdentityType = 2;
    info.Identity.PositiveResponseRequested = 1;

    if (!Link.dsocket.Open(host, port)) {
      WriteLog("ERROR, PDU_Service::Connect, Socket Level Error");
      return false;
    }
    Apply(AssociationEvent::AssociateRequest);
    // However slowly the peer answers, the association is accepted or refused within the
    // time-out.
    const MessageDeadline deadline(Link.dsocket);
    // A failed handshake ends the attempt here: sending the request in the clear, or to a
    // server whose certificate failed verification, would defeat the point of TLS.
    if (UseTLS && !Link.dsocket.StartTLS(CertificateFile, KeyFile, TrustedCAFile, host)) {
      WriteLog("ERROR, PDU_Service::Connect, TLS handshake failed");
      Apply(AssociationEvent::ConnectionClosed);
      return false;
    }
    if (Tracing()) WriteLog("INFO, Connected to: " + host + ":" + port);

    if (!assocRQ.Write(Link)) {
      WriteLog("ERROR, Association RQ failed!");
      Apply(AssociationEvent::ConnectionClosed);
      return false;
    }
    uint8_t type = 0;
    if (!Link.Read8(type)) {
      WriteLog("ERROR, Corrupt Transmission...");
      Apply(AssociationEvent::ConnectionClosed);
      return false;
    }
    if (Tracing()) WriteLog("INFO, PDU_Service::Connect, Item Type: " + std::to_string(type));
    if (type == 0x02) {
      if (Tracing()) WriteLog("INFO, Association Accept::ReadDynamic");
      assocAC = AAssociateAC();
      if (assocAC.ReadDynamic(Link) == ReadStatus::Refused) {
        WriteLog("ERROR, PDU_Service::Connect, A-ASSOCIATE-AC refused");
        Apply(AssociationEvent::InvalidPdu, AbortReason::InvalidPduParameter);
        return false;
      }
      Apply(AssociationEvent::AssociateAccepted);
      if (InterogateAAssociateAC()) return true;
      WriteLog("ERROR, PDU_Service::Connect, InterogateAAssociateAC failed");
      // The association exists on the peer's side: it is ended in order, not by a reset.
      Release();
      return false;
    }
    const AssociationEvent event = ReceiveOtherPdu(type);
    if (event == AssociationEvent::AssociateRejected) {
      // The reason goes first: the earliest error of a run is what a user is shown as its cause.
      WriteLog("ERROR, PDU_Service::Connect, " + RejectionText(assocRJ));
      WriteLog("ERROR, Association Rejected...");
    } else if (event == AssociationEvent::AbortReceived) {
      // Nothing is answered to an abort; the peer has already let go of the association.
      WriteLog("ERROR, PDU_Service::Connect, association aborted by " + AbortText(abortReceived_));
    } else {
      WriteLog("ERROR, Corrupt Transmission...");
    }
    // A peer that answers with anything else is told why before the connection goes.
    Apply(event, AbortReasonFor(type, event));
    return false;
  } catch (const std::exception&) {
    Link.dsocket.Close();
    WriteLog("ERROR, PDU_Service::Connect, indeterminate error");
    return false;
  }
}

namespace {

bool Proposes(const PresentationContext& context, const std::string& transferSyntax) {
  for (const UIDitem& proposed : context.TrnSyntax) {
    if (proposed.UID == transferSyntax) return true;
  }
  return false;
}

}  // namespace

bool PDU_Service::InterogateAAssociateAC() {
  if (assocAC.PresContextAccepts.empty()) {
    WriteLog("WARNING, assocAC.PresContextAccepts Count==0");
  }
  AcceptedPresContexts.clear();
  const PresentationContextAccept* chosen = nullptr;
  for (const PresentationContextAccept& accept : assocAC.PresContextAccepts) {
    if (accept.Result != 0) continue;
    // An accept item for a context we never proposed cannot be used to send anything, nor can
    // one in a transfer syntax we did not offer for it: the objects of that context are not
    // ready for it, and converting them (a 12-bit image to 8-bit baseline JPEG, say) would lose
    // data the user never agreed to give up.
    const PresentationContext* proposed = nullptr;
    for (const PresentationContext& context : assocRQ.PresContexts) {
      if (context.PresentationContextID == accept.PresentationContextID) proposed = &context;
    }
    if (proposed == nullptr) {
      WriteLog("WARNING, PDU_Service::InterogateAAssociateAC, context " +
               std::to_string(accept.PresentationContextID) + " was not proposed");
      continue;
    }
    if (!Proposes(*proposed, accept.TrnSyntax.UID)) {
      WriteLog("ERROR, PDU_Service::InterogateAAssociateAC, context " +
               std::to_string(accept.PresentationContextID) + " accepted with transfer syntax " +
               accept.TrnSyntax.UID + ", which was not proposed for it; the context is not used");
      continue;
    }
    AcceptedPresContexts.push_back(accept);
    if (Tracing()) {
      WriteLog("Presentation Context Accept ID: " + std::to_string(accept.PresentationContextID) +
               ", Transfer Syntax: " + accept.TrnSyntax.UID);
    }
    if (!chosen && IsSendableTransferSyntax(accept.TrnSyntax.UID)) chosen = &accept;
  }
  if (!chosen) {
    WriteLog("ERROR, Transfer Syntax is Empty");
    return false;
  }
  pdata.PresentationContextID = chosen->PresentationContextID;
  NegotiatedContextID = chosen->PresentationContextID;
  return true;
}

uint8_t PDU_Service::AcceptedContextFor(std::string_view transferSyntax) const {
  if (!IsSendableTransferSyntax(transferSyntax)) return 0;
  for (const PresentationContextAccept& accept : AcceptedPresContexts) {
    if (accept.TrnSyntax.UID == transferSyntax) return accept.PresentationContextID;
  }
  return 0;
}

std::optional<std::string> PDU_Service::GetTransferSyntaxUID(uint8_t presentationContextId) const {
  for (const PresentationContextAccept& accept : AcceptedPresContexts) {
    if (accept.PresentationContextID == presentationContextId) return accept.TrnSyntax.UID;
  }
  return std::nullopt;
}

bool PDU_Service::Allows(AssociationEvent event, AssociationAction action, const char* operation) {
  if (state_ != AssociationState::Idle && state_ != AssociationState::Aborted && !IsConnected()) {
    Apply(AssociationEvent::ConnectionClosed);
  }
  if (NextTransition(state_, event).action == action) return true;
  WriteLog(std::string("ERROR, PDU_Service::") + operation + ", association " + StateName(state_));
  return false;
}

bool PDU_Service::Write(DcmObj& dataSet, const std::string& /*sopClassUid*/, MessageKind kind) {
  if (pdata.PresentationContextID == 0) {
    WriteLog("ERROR, PDU_Service::Write, pdata.PresentationContextID is 0");
    return false;
  }
  if (!Allows(AssociationEvent::DataRequest, AssociationAction::DT1_SendData, "Write")) {
    return false;
  }
  uint32_t& peerLimit = assocAC.UserInfo.MaxLength.MaximumLength;
  if (peerLimit > kOwnMaximumLength) {
    peerLimit = kOwnMaximumLength;
    if (Tracing()) WriteLog("INFO, PDU_Service::Write, MaximumLength set to 16384");
  }
  if (peerLimit != 0 && peerLimit < 7) {
    // No fragment could carry even one byte of data within such a limit.
    WriteLog("ERROR, PDU_Service::Write, peer maximum length " + std::to_string(peerLimit) +
             " is too small");
    return false;
  }
  if (TraceMessages) {
    LogDump(Trimmed(assocAC.CallingApTitle) + " >> " + Trimmed(assocAC.CalledApTitle), dataSet);
  }
  if (Link.OutgoingCount() != 0 && !Link.Flush()) return false;
  // The message is encoded once, piece by piece, and each piece goes into P-DATA-TF fragments
  // as it comes: long values (pixel data, a video) travel from the object itself. Fragments
  // never exceed what we accept ourselves, also for a peer that states no limit (0).
  const uint32_t limit = peerLimit == 0 ? kOwnMaximumLength : peerLimit;
  FragmentWriter writer(Link.dsocket, pdata.PresentationContextID, kind == MessageKind::Command,
                        limit - 6);
  BufData encoder(dataSet.bigEndian);
  bool sendFailed = false;
  const bool encoded =
      encoder.WriteDataSetPieces(dataSet, kEncodePieceSize, [&](const uint8_t* bytes, size_t size) {
        sendFailed = !writer.Add(bytes, size);
        return !sendFailed;
      });
  if (!encoded && !sendFailed) {
    WriteLog(kind == MessageKind::Command
                 ? "ERROR, PDU_Service::Write, Parsing DCM Into RAW VR for Command Mode"
                 : "ERROR, PDU_Service::Write, Parsing DCM Into RAW VR for Data Mode");
    // Fragments already sent cannot be taken back; the peer must not wait for the rest.
    if (writer.SentAny()) Abort(AbortReason::NotSpecified);
    return false;
  }
  if (sendFailed || !writer.Finish()) {
    WriteLog("ERROR, PDataTF::Write, failed Link.Flush");
    // Half a message cannot be taken back: the association is of no further use.
    Abort(AbortReason::NotSpecified);
    return false;
  }
  return true;
}

void PDU_Service::Abort(AbortReason reason) {
  Apply(AssociationEvent::AbortRequest, reason);
  // Whatever the state, nothing more goes over this connection.
  Link.dsocket.Close();
  pdata.Length = 0;
}

void PDU_Service::OnOtherPdu(uint8_t type) {
  const AssociationEvent event = ReceiveOtherPdu(type);
  const AssociationAction action = Apply(event, AbortReasonFor(type, event));
  switch (action) {
    case AssociationAction::AR2_ReleaseIndication:
      // The peer closes the connection once it has our answer; nothing more may be sent.
      Apply(AssociationEvent::ReleaseResponse);
      if (!releaseRP.Write(Link)) Apply(AssociationEvent::ConnectionClosed);
      if (Tracing()) WriteLog("INFO, PDU_Service::Read Release-RQ");
      return;
    case AssociationAction::AA3_AbortedByPeerClose:
      WriteLog("WARNING, PDU_Service::Read Abort-RQ, association aborted by " +
               AbortText(abortReceived_));
      return;
    default:
      break;
  }
  switch (event) {
    case AssociationEvent::AssociateRequested:
      WriteLog("ERROR, PDU_Service::Read Associate-RQ");
      break;
    case AssociationEvent::AssociateAccepted:
      WriteLog("ERROR, PDU_Service::Read Associate-AC");
      break;
    case AssociationEvent::AssociateRejected:
      WriteLog("ERROR, PDU_Service::Read Associate-RJ");
      break;
    case AssociationEvent::ReleaseReplied:
      WriteLog("WARNING, PDU_Service::Read Release-RSP");
      break;
    default:
      WriteLog("ERROR, PDU_Service::Read Protocol Error");
      break;
  }
}

bool PDU_Service::Read(DcmObj& dataSet, MessageKind expected, size_t maxLength) {
  if (!Allows(AssociationEvent::DataReceived, AssociationAction::DT2_DataIndication, "Read")) {
    return false;
  }
  const MessageDeadline deadline(Link.dsocket);
  pdata.MaxMessageLength = maxLength;
  pdata.LastFragment = false;
  pdata.MessageStarted = false;
  // Whatever a failed earlier read left behind is not part of this message.
  pdata.VRBuffer.Clear();
  auto fragmentsRead = [&] {
    if (pdata.ReadDynamic(Link)) return true;
    WriteLog("ERROR, PDU_Service::Read, pdata.ReadDynamic(Link)");
    Apply(AssociationEvent::InvalidPdu, AbortReason::InvalidPduParameter);
    return false;
  };
  if (pdata.Length != 0 && !fragmentsRead()) return false;
  while (!pdata.LastFragment) {
    uint8_t type = 0;
    if (!Link.Read8(type)) {
      Apply(AssociationEvent::ConnectionClosed);
      return false;
    }
    if (type != 0x04) {
      OnOtherPdu(type);
      return false;
    }
    if (!fragmentsRead()) return false;
  }
  const MessageKind received =
      pdata.MessageCommandBit != 0 ? MessageKind::Command : MessageKind::DataSet;
  if (received != expected) {
    WriteLog(expected == MessageKind::Command
                 ? "ERROR, PDU_Service::Read, a data set arrived where a command was expected"
                 : "ERROR, PDU_Service::Read, a command arrived where a data set was expected");
    pdata.VRBuffer.Clear();
    Apply(AssociationEvent::InvalidPdu, AbortReason::UnexpectedPduParameter);
    return false;
  }
  if (ParseRawVRIntoDCM(pdata.PresentationContextID, dataSet)) return true;
  WriteLog("ERROR, PDU_Service::Read ParseRawVRIntoDCM()");
  Apply(AssociationEvent::InvalidPdu, AbortReason::InvalidPduParameter);
  return false;
}

bool PDU_Service::ParseRawVRIntoDCM(uint8_t presentationContextId, DcmObj& dataSet) {
  const std::optional<std::string> syntax = GetTransferSyntaxUID(presentationContextId);
  if (!syntax) {
    WriteLog("ERROR, PDU_Service::ParseRawVRIntoDCM GetTransferSyntaxUID()");
    pdata.VRBuffer.Clear();
    return false;
  }
  // Command sets are Implicit VR Little Endian whatever the context's transfer syntax; only a
  // little-endian one lets an explicit-VR reader get by on them.
  const bool command = (pdata.ReceivedControlHeader & 0x01) != 0;
  dataSet.SetTransferSyntax(command ? std::string(kImplicitVRLittleEndian) : *syntax);
  if (Tracing()) WriteLog("INFO, PDU_Service::ParseRawVRIntoDCM, Transfer Syntax: " + *syntax);
  BufData decoder(dataSet.bigEndian);
  decoder.stream = pdata.VRBuffer.TakeIncoming();
  if (!decoder.ReadDataSet(dataSet)) {
    WriteLog("ERROR, PDU_Service::ParseRawVRIntoDCM buf.ReadOjb()");
    return false;
  }
  if (TraceMessages) {
    LogDump(Trimmed(assocAC.CallingApTitle) + " << " + Trimmed(assocAC.CalledApTitle), dataSet);
  }
  return true;
}

bool PDU_Service::Release() {
  pdata.Length = 0;
  if (state_ != AssociationState::Established || !IsConnected()) return false;
  const MessageDeadline deadline(Link.dsocket);
  std::string why;
  bool completed = false;
  Apply(AssociationEvent::ReleaseRequest);
  if (!releaseRQ.Write(Link)) {
    why = "the A-RELEASE-RQ could not be sent";
    Apply(AssociationEvent::ConnectionClosed);
  }
  while (state_ == AssociationState::AwaitingReleaseReply ||
         state_ == AssociationState::AwaitingCollisionReply) {
    uint8_t type = 0;
    if (!Link.Read8(type)) {
      why = "the connection ended before the A-RELEASE-RP";
      Apply(AssociationEvent::ConnectionClosed);
      break;
    }
    const AssociationEvent event = ReceiveOtherPdu(type);
    const AssociationAction action = Apply(event);
    switch (action) {
      case AssociationAction::AR6_DataWhileReleasing: {
        // The rest of a message the peer was still sending: nobody waits for it any more.
        uint8_t reserved = 0;
        uint32_t length = 0;
        if (!Link.Read8(reserved) || !Link.Read32(length) || length > kMaxAcceptedPDataLength ||
            !Link.Skip(length)) {
          why = "a P-DATA-TF during the release could not be read";
          Apply(AssociationEvent::InvalidPdu, AbortReason::InvalidPduParameter);
        }
        break;
      }
      case AssociationAction::AR8_ReleaseCollision:
        // Both sides asked at once (PS3.8 9.2.2.2): the requestor answers first, then awaits the
        // acceptor's answer.
        WriteLog("INFO, CloseAssociation, release collision: the peer asked for a release too");
        Apply(AssociationEvent::ReleaseResponse);
        if (!releaseRP.Write(Link)) {
          why = "the A-RELEASE-RP of the collision could not be sent";
          Apply(AssociationEvent::ConnectionClosed);
        }
        break;
      case AssociationAction::AR3_ReleaseConfirmedClose:
        completed = true;
        break;
      case AssociationAction::AA3_AbortedByPeerClose:
        why = "the peer aborted the release: " + AbortText(abortReceived_);
        break;
      default:
        why = "PDU type " + std::to_string(type) + " arrived instead of the A-RELEASE-RP";
        break;
    }
  }
  Link.dsocket.Close();
  state_ = AssociationState::Idle;
  if (!completed) WriteLog("WARNING, CloseAssociation, the release did not complete: " + why);
  return completed;
}

bool CloseAssociation(PDU_Service& service) {
  const bool released = service.Release();
  service.pdata.Length = 0;
  service.Link.dsocket.Close();
  service.state_ = AssociationState::Idle;
  return released;
}
