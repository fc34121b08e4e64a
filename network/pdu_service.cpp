// PDU_Service: association set-up, message transfer in P-DATA-TF fragments, release and abort.
#include "pdu_service.h"

#include <atomic>
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

// One counter for the whole process numbers presentation contexts and messages. Several
// associations may run on different threads, so every step is one atomic update.
std::atomic<uint32_t> associationCounter{1};

// Takes the counter's value (first made odd when `odd` is set) and leaves it one higher.
uint32_t TakeCounter(bool odd) {
  uint32_t current = associationCounter.load();
  uint32_t taken;
  do {
    taken = (odd && current % 2 == 0) ? current + 1 : current;
  } while (!associationCounter.compare_exchange_weak(current, taken + 1));
  return taken;
}

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
// and lifts it again however the exchange ends.
class MessageDeadline {
 public:
  explicit MessageDeadline(Socket& socket) : socket_(socket) {
    if (socket_.TimeOut > 0) {
      socket_.Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(socket_.TimeOut);
    }
  }
  ~MessageDeadline() { socket_.Deadline.reset(); }
  MessageDeadline(const MessageDeadline&) = delete;
  MessageDeadline& operator=(const MessageDeadline&) = delete;

 private:
  Socket& socket_;
};

}  // namespace

const char* StateName(AssociationState state) {
  switch (state) {
    case AssociationState::Idle:
      return "idle";
    case AssociationState::AwaitingAccept:
      return "awaiting accept";
    case AssociationState::Established:
      return "established";
    case AssociationState::Released:
      return "released by the peer";
    case AssociationState::Aborted:
      return "aborted";
  }
  return "unknown";
}

void ResetCounter() {
  associationCounter.store(1);
}
uint8_t NextContextID() {
  return static_cast<uint8_t>(TakeCounter(true));
}
uint8_t NextAcceptID() {
  return static_cast<uint8_t>(TakeCounter(false));
}
uint16_t NextMessageID() {
  return static_cast<uint16_t>(TakeCounter(true));
}

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
    state_ = AssociationState::AwaitingAccept;
    // However slowly the peer answers, the association is accepted or refused within the
    // time-out.
    const MessageDeadline deadline(Link.dsocket);
    // A failed handshake ends the attempt here: sending the request in the clear, or to a
    // server whose certificate failed verification, would defeat the point of TLS.
    if (UseTLS && !Link.dsocket.StartTLS(CertificateFile, KeyFile, TrustedCAFile, host)) {
      WriteLog("ERROR, PDU_Service::Connect, TLS handshake failed");
      Link.dsocket.Close();
      return false;
    }
    if (Tracing()) WriteLog("INFO, Connected to: " + host + ":" + port);

    if (!assocRQ.Write(Link)) {
      WriteLog("ERROR, Association RQ failed!");
      Link.dsocket.Close();
      return false;
    }
    uint8_t type = 0;
    const bool typeRead = Link.Read8(type);
    if (Tracing()) WriteLog("INFO, PDU_Service::Connect, Item Type: " + std::to_string(type));
    if (typeRead && type == 0x03) {
      // The reason goes first: the earliest error of a run is what a user is shown as its cause.
      if (assocRJ.Read(Link)) WriteLog("ERROR, PDU_Service::Connect, " + RejectionText(assocRJ));
      WriteLog("ERROR, Association Rejected...");
      Link.dsocket.Close();
      return false;
    }
    if (!typeRead || type != 0x02) {
      WriteLog("ERROR, Corrupt Transmission...");
      // A peer that answers with something else is told why before the connection goes.
      if (typeRead) Abort(AbortReason::UnexpectedPdu);
      Link.dsocket.Close();
      return false;
    }
    if (Tracing()) WriteLog("INFO, Association Accept::ReadDynamic");
    assocAC = AAssociateAC();
    if (assocAC.ReadDynamic(Link) == ReadStatus::Refused) {
      WriteLog("ERROR, PDU_Service::Connect, A-ASSOCIATE-AC refused");
      Abort(AbortReason::InvalidPduParameter);
      return false;
    }
    if (InterogateAAssociateAC()) {
      state_ = AssociationState::Established;
      return true;
    }
    Link.dsocket.Close();
    WriteLog("ERROR, PDU_Service::Connect, InterogateAAssociateAC failed");
    return false;
  } catch (const std::exception&) {
    Link.dsocket.Close();
    WriteLog("ERROR, PDU_Service::Connect, indeterminate error");
    return false;
  }
}

bool PDU_Service::InterogateAAssociateAC() {
  if (assocAC.PresContextAccepts.empty()) {
    WriteLog("WARNING, assocAC.PresContextAccepts Count==0");
  }
  AcceptedPresContexts.clear();
  const PresentationContextAccept* chosen = nullptr;
  for (const PresentationContextAccept& accept : assocAC.PresContextAccepts) {
    if (accept.Result != 0) continue;
    // An accept item for a context we never proposed cannot be used to send anything.
    bool proposed = false;
    for (const PresentationContext& context : assocRQ.PresContexts) {
      proposed = proposed || context.PresentationContextID == accept.PresentationContextID;
    }
    if (!proposed) {
      WriteLog("WARNING, PDU_Service::InterogateAAssociateAC, context " +
               std::to_string(accept.PresentationContextID) + " was not proposed");
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

bool PDU_Service::Established(const char* operation) {
  if (state_ == AssociationState::Established && !IsConnected()) {
    state_ = AssociationState::Aborted;
  }
  if (state_ == AssociationState::Established) return true;
  WriteLog(std::string("ERROR, PDU_Service::") + operation + ", association " + StateName(state_));
  return false;
}

bool PDU_Service::Write(DcmObj& dataSet, const std::string& /*sopClassUid*/, MessageKind kind) {
  if (pdata.PresentationContextID == 0) {
    WriteLog("ERROR, PDU_Service::Write, pdata.PresentationContextID is 0");
    return false;
  }
  if (!Established("Write")) return false;
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
  state_ = AssociationState::Aborted;
  if (IsConnected()) {
    abortRQ.Source = static_cast<uint8_t>(AbortSource::ServiceProvider);
    abortRQ.Reason = static_cast<uint8_t>(reason);
    abortRQ.Write(Link);
  }
  Link.dsocket.Close();
  pdata.Length = 0;
}

bool PDU_Service::OnUnexpectedPdu(uint8_t type) {
  switch (type) {
    case 0x01: {
      AAssociateRQ unexpected;
      unexpected.Read(Link);
      Abort(AbortReason::UnexpectedPdu);
      WriteLog("ERROR, PDU_Service::Read Associate-RQ");
      break;
    }
    case 0x02: {
      AAssociateAC unexpected;
      unexpected.ReadDynamic(Link);
      Abort(AbortReason::UnexpectedPdu);
      WriteLog("ERROR, PDU_Service::Read Associate-AC");
      break;
    }
    case 0x03:
      Abort(AbortReason::UnexpectedPdu);
      WriteLog("ERROR, PDU_Service::Read Associate-RJ");
      break;
    case 0x05:
      if (releaseRQ.Read(Link) && releaseRP.Write(Link)) {
        // The peer closes the connection once it has our answer; nothing more may be sent.
        state_ = AssociationState::Released;
        if (Tracing()) WriteLog("INFO, PDU_Service::Read Release-RQ");
      } else {
        Abort(AbortReason::InvalidPduParameter);
      }
      break;
    case 0x06:
      Link.dsocket.Close();
      state_ = AssociationState::Aborted;
      WriteLog("WARNING, PDU_Service::Read Release-RSP");
      break;
    case 0x07:
      Link.dsocket.Close();
      state_ = AssociationState::Aborted;
      WriteLog("WARNING, PDU_Service::Read Abort-RQ");
      break;
    default:
      Abort(AbortReason::UnrecognizedPdu);
      WriteLog("ERROR, PDU_Service::Read Protocol Error");
      break;
  }
  return false;
}

bool PDU_Service::Read(DcmObj& dataSet, size_t maxLength) {
  if (!Established("Read")) return false;
  const MessageDeadline deadline(Link.dsocket);
  pdata.MaxMessageLength = maxLength;
  pdata.LastFragment = false;
  // Whatever a failed earlier read left behind is not part of this message.
  pdata.VRBuffer.Clear();
  auto fragmentsRead = [&] {
    if (pdata.ReadDynamic(Link)) return true;
    WriteLog("ERROR, PDU_Service::Read, pdata.ReadDynamic(Link)");
    Abort(AbortReason::InvalidPduParameter);
    return false;
  };
  if (pdata.Length != 0 && !fragmentsRead()) return false;
  while (!pdata.LastFragment) {
    uint8_t type = 0;
    if (!Link.Read8(type)) {
      state_ = AssociationState::Aborted;
      return false;
    }
    if (type != 0x04) return OnUnexpectedPdu(type);
    if (!fragmentsRead()) return false;
  }
  if (ParseRawVRIntoDCM(pdata.PresentationContextID, dataSet)) return true;
  WriteLog("ERROR, PDU_Service::Read ParseRawVRIntoDCM()");
  Abort(AbortReason::InvalidPduParameter);
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

bool CloseAssociation(PDU_Service& service) {
  service.pdata.Length = 0;
  Socket& socket = service.Link.dsocket;
  if (socket.Connected && service.state_ == AssociationState::Established) {
    if (service.releaseRQ.Write(service.Link)) {
      // The answer is read and not judged: a release reply or an abort both end the
      // association, and a silent peer ends with the socket's time-out.
      uint8_t type = 0;
      if (service.Link.Read8(type)) {
        AReleaseRP reply;
        reply.Read(service.Link);
      }
    }
  }
  socket.Close();
  service.state_ = AssociationState::Idle;
  return true;
}
