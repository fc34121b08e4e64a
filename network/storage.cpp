// Verification and storage as a service user: the echo test and one C-STORE per data set.
#include "storage.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "dimse.h"
#include "log.h"
#include "pdu_service.h"
#include "transfer_syntax.h"
#include "uids.h"

namespace {

// Transfer syntaxes whose data sets are plain elements: an object can move between the two
// little-endian ones by re-encoding alone.
bool IsNativeLittleEndian(std::string_view uid) {
  return uid == kImplicitVRLittleEndian || uid == kExplicitVRLittleEndian;
}

// Makes the data set match the accepted transfer syntax. False when that is impossible, so the
// object is not sent in an encoding the peer would misread.
bool MatchTransferSyntax(DcmObj& dataSet, const std::string& sopClassUid,
                         const std::string& accepted) {
  if (dataSet.transferSyntax == accepted) return true;
  if (IsImageStorageClass(sopClassUid) && !IsVideoTransferSyntax(dataSet.transferSyntax)) {
    if (!ConvertTransferSyntax(dataSet, accepted)) return false;
    // Whatever the conversion did, the label must say what the encoder is to write.
    if (dataSet.transferSyntax != accepted) dataSet.SetTransferSyntax(accepted);
    return true;
  }
  // Elements decoded or built in memory carry their VRs, so the little-endian encodings differ
  // only in how they are written.
  if (IsNativeLittleEndian(dataSet.transferSyntax) && IsNativeLittleEndian(accepted)) {
    dataSet.SetTransferSyntax(accepted);
    return true;
  }
  return false;
}

// Peers that write a response in more than one piece (DCMTK's storescp does) would otherwise wait
// for our delayed acknowledgement of the first piece: about 40 ms for every object stored.
void AcknowledgeAtOnce(PDU_Service& service) {
  const int descriptor = service.Link.dsocket.Socketfd;
  if (descriptor < 0) return;
  const int on = 1;
  setsockopt(descriptor, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

}  // namespace

bool EchoSCU(const RemoteNode& node, int timeoutSeconds) {
  PDU_Service service;
  bool result = false;
  if (!OpenNodeAssociation(service, node, kVerificationSopClass, "", "", timeoutSeconds)) {
    WriteLog("ERROR, EchoSCU, OpenAssoc failed");
  } else if (!WriteEchoRQ(service, kVerificationSopClass)) {
    WriteLog("ERROR, EchoSCU, WriteEchoRQ failed");
  } else {
    result = ReadEchoRSP(service);
  }
  if (!CloseAssociation(service) && result) {
    WriteLog("WARNING, EchoSCU, " + node.calledAet + " answered, but the release did not complete");
  }
  return result;
}

bool EchoSCU(const std::string& callingAet, const std::string& calledAet, const std::string& host,
             const std::string& port, int timeoutSeconds, bool useTls) {
  RemoteNode node;
  node.callingAet = callingAet;
  node.calledAet = calledAet;
  node.host = host;
  node.port = port;
  node.useTls = useTls;
  return EchoSCU(node, timeoutSeconds);
}

uint8_t ChooseStoreContext(const PDU_Service& service, const std::string& transferSyntax) {
  // Its own encoding travels as it is; otherwise a lossless conversion is preferred to whatever
  // the negotiation chose, which may be a lossy one.
  for (const char* syntax :
       {transferSyntax.c_str(), kImplicitVRLittleEndian, kExplicitVRLittleEndian}) {
    if (const uint8_t context = service.AcceptedContextFor(syntax)) return context;
  }
  return service.NegotiatedContextID;
}

int WriteStoreRQ(PDU_Service& service, DcmObj& dataSet, const std::string& sopClassUid) {
  // Nothing is converted for an association that can no longer carry it.
  if (service.State() != AssociationState::Established) return kStoreWriteFailed;
  const uint8_t context = ChooseStoreContext(service, dataSet.transferSyntax);
  if (context == 0) return kStoreNoContext;
  service.pdata.PresentationContextID = context;
  const std::optional<std::string> accepted = service.GetTransferSyntaxUID(context);
  if (!accepted) return kStoreUnknownTransferSyntax;
  if (!MatchTransferSyntax(dataSet, sopClassUid, *accepted)) return kStoreConversionFailed;
  return CStore::WriteRQ(&service, &dataSet, sopClassUid) ? kStoreWritten : kStoreWriteFailed;
}

int ReadStoreRSP(PDU_Service& service, std::string* errorComment) {
  AcknowledgeAtOnce(service);
  return CStore::ReadRSP(&service, errorComment);
}
