// Accepting one association: reading the request, choosing contexts and roles, answering.
#include "acceptor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

#include "log.h"
#include "pdu_service.h"
#include "uids.h"

namespace {

std::string Trimmed(const std::string& text) {
  const size_t end = text.find_last_not_of(' ');
  const size_t begin = text.find_first_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// The IPv4 address (network byte order) the connection comes from; 0 when unknown.
uint32_t PeerAddress(int descriptor) {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
      peer.sin_family != AF_INET) {
    return 0;
  }
  return peer.sin_addr.s_addr;
}

std::string AddressText(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr value{};
  value.s_addr = address;
  return ::inet_ntop(AF_INET, &value, text, sizeof text) != nullptr ? text : "?";
}

bool Served(const AcceptPolicy& policy, const std::string& abstractSyntax) {
  return std::find(policy.abstractSyntaxes.begin(), policy.abstractSyntaxes.end(),
                   abstractSyntax) != policy.abstractSyntaxes.end();
}

// PS3.8 Table 9-21: result 1 (permanent), source 1 (service user), the given reason.
void Reject(PDU_Service& service, uint8_t reason, const std::string& why) {
  WriteLog("ERROR, AcceptAssociation, rejected: " + why);
  AAssociateRJ rejection;
  rejection.Result = 1;
  rejection.Source = 1;
  rejection.Reason = reason;
  rejection.Write(service.Link);
  service.Link.dsocket.Close();
}

// The accept item for one proposed context (PS3.8 Table 9-18): result 0 with the chosen syntax,
// 3 for an abstract syntax not served, 4 when none of its transfer syntaxes will do.
PresentationContextAccept Answer(const PresentationContext& proposed, const AcceptPolicy& policy) {
  PresentationContextAccept accept;
  accept.PresentationContextID = proposed.PresentationContextID;
  accept.TrnSyntax.UID = kImplicitVRLittleEndian;
  if (!Served(policy, proposed.AbsSyntax.UID)) {
    accept.Result = 3;
    return accept;
  }
  accept.Result = 4;
  for (const UIDitem& syntax : proposed.TrnSyntax) {
    if (syntax.UID == kImplicitVRLittleEndian || syntax.UID == kExplicitVRLittleEndian) {
      accept.Result = 0;
      accept.TrnSyntax.UID = syntax.UID;
      break;
    }
  }
  return accept;
}

}  // namespace

bool AcceptAssociation(PDU_Service& service, int descriptor, const AcceptPolicy& policy,
                       int timeoutSeconds) {
  Socket& socket = service.Link.dsocket;
  socket.AdoptHandle(descriptor);
  socket.TimeOut = timeoutSeconds;
  uint8_t type = 0;
  if (!service.Link.Read8(type)) {
    WriteLog("ERROR, AcceptAssociation, nothing received");
    socket.Close();
    return false;
  }
  AAssociateRQ& request = service.assocRQ;
  if (type != 0x01 || request.Read(service.Link) == ReadStatus::Refused) {
    WriteLog("ERROR, AcceptAssociation, no usable A-ASSOCIATE-RQ (PDU type " +
             std::to_string(type) + ")");
    service.Abort(type != 0x01 ? AbortReason::UnexpectedPdu : AbortReason::InvalidPduParameter);
    return false;
  }
  const std::string calledAe = Trimmed(request.CalledApTitle);
  if (request.AppContext.UID != kApplicationContextName) {
    Reject(service, 2, "application context " + request.AppContext.UID);
    return false;
  }
  if (!policy.ownAeTitle.empty() && calledAe != Trimmed(policy.ownAeTitle)) {
    Reject(service, 7, "called AE title \"" + calledAe + "\"");
    return false;
  }
  const std::string callingAe = Trimmed(request.CallingApTitle);
  const uint32_t from = PeerAddress(descriptor);
  if ((!policy.callerAeTitle.empty() && callingAe != Trimmed(policy.callerAeTitle)) ||
      (policy.callerAddress && from != *policy.callerAddress)) {
    Reject(service, 3,
           "calling AE title \"" + callingAe + "\" from " + AddressText(from) + ", only " +
               (policy.callerAeTitle.empty() ? std::string("a caller") : policy.callerAeTitle) +
               (policy.callerAddress ? " at " + AddressText(*policy.callerAddress) : "") +
               " may call");
    return false;
  }

  AAssociateAC answer;
  answer.CalledApTitle = request.CalledApTitle;
  answer.CallingApTitle = request.CallingApTitle;
  answer.AppContext.UID = kApplicationContextName;
  service.AcceptedPresContexts.clear();
  for (const PresentationContext& proposed : request.PresContexts) {
    answer.PresContextAccepts.push_back(Answer(proposed, policy));
    if (answer.PresContextAccepts.back().Result == 0) {
      service.AcceptedPresContexts.push_back(answer.PresContextAccepts.back());
    }
  }
  if (service.AcceptedPresContexts.empty()) {
    Reject(service, 1, "no proposed presentation context is served");
    return false;
  }
  UserInformation& info = answer.UserInfo;
  info.MaxLength.MaximumLength = kOwnMaximumLength;
  info.ImplementationClass.ImplementationClassUID = std::string(kOrganisationUidRoot) + ".999";
  info.ImplementationVersion.ImplementationVersionName = kImplementationVersionName;
  const SCPSCURole& proposedRole = request.UserInfo.Role;
  if (!proposedRole.SOPClassUID.empty() && Served(policy, proposedRole.SOPClassUID)) {
    info.Role.SOPClassUID = proposedRole.SOPClassUID;
    info.Role.SCURole = 0;
    info.Role.SCPRole = proposedRole.SCPRole;
  }
  if (!answer.Write(service.Link)) {
    WriteLog("ERROR, AcceptAssociation, A-ASSOCIATE-AC not sent");
    socket.Close();
    return false;
  }
  // From here on assocAC describes the association as a requestor's would: this side's title
  // first in log lines, and the longest PDU the peer takes, which every Write obeys.
  service.assocAC = answer;
  service.assocAC.CallingApTitle = request.CalledApTitle;
  service.assocAC.CalledApTitle = request.CallingApTitle;
  service.assocAC.UserInfo.MaxLength.MaximumLength = request.UserInfo.MaxLength.MaximumLength;
  service.pdata.PresentationContextID = service.AcceptedPresContexts.front().PresentationContextID;
  service.NegotiatedContextID = service.pdata.PresentationContextID;
  service.MarkEstablished();
  return true;
}
