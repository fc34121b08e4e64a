// Opening an association with a remote node, TLS choices included.
#include "remotenode.h"

#include "log.h"
#include "pdu_service.h"

bool OpenNodeAssociation(PDU_Service& service, const RemoteNode& node,
                         const std::string& abstractSyntax, const std::string& firstTransferSyntax,
                         const std::string& secondTransferSyntax, int timeoutSeconds) {
  service.TraceMessages = LogLevel > 1;
  service.UseTLS = node.useTls;
  service.CertificateFile = node.certificateFile;
  service.KeyFile = node.keyFile;
  service.TrustedCAFile = node.caFile;
  return OpenAssociation(service, node.callingAet, node.calledAet, node.host, node.port,
                         abstractSyntax, firstTransferSyntax, secondTransferSyntax, timeoutSeconds);
}
