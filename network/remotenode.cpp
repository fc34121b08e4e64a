// Opening an association with a remote node, TLS choices included.
#include "remotenode.h"

#include "log.h"
#include "pdu_service.h"

namespace {

void ApplyNode(PDU_Service& service, const RemoteNode& node) {
  service.TraceMessages = LogLevel > 1;
  service.UseTLS = node.useTls;
  service.CertificateFile = node.certificateFile;
  service.KeyFile = node.keyFile;
  service.TrustedCAFile = node.caFile;
}

}  // namespace

bool OpenNodeAssociation(PDU_Service& service, const RemoteNode& node,
                         const std::string& abstractSyntax, const std::string& firstTransferSyntax,
                         const std::string& secondTransferSyntax, int timeoutSeconds) {
  ApplyNode(service, node);
  return OpenAssociation(service, node.callingAet, node.calledAet, node.host, node.port,
                         abstractSyntax, firstTransferSyntax, secondTransferSyntax, timeoutSeconds);
}

bool OpenNodeStoreAssociation(PDU_Service& service, const RemoteNode& node,
                              const std::string& sopClassUid, const std::string& ownTransferSyntax,
                              int timeoutSeconds) {
  ApplyNode(service, node);
  return OpenStoreAssociation(service, node.callingAet, node.calledAet, node.host, node.port,
                              sopClassUid, ownTransferSyntax, timeoutSeconds);
}
