// Where an association goes: both AE titles, the peer's address and the TLS choices.
#pragma once

#include <string>

class PDU_Service;

struct RemoteNode {
  std::string callingAet;  // this side's AE title
  std::string calledAet;   // the peer's AE title
  std::string host;
  std::string port;  // kept as text, as the settings hold it
  bool useTls = false;
  std::string certificateFile;  // client certificate (PEM), optional
  std::string keyFile;          // its private key (PEM), optional
  std::string caFile;           // when set, the peer's certificate is verified against it
};

// Applies the node's TLS choices, and the trace flag when debug logging is on, to a fresh
// service and opens an association proposing one presentation context.
bool OpenNodeAssociation(PDU_Service& service, const RemoteNode& node,
                         const std::string& abstractSyntax, const std::string& firstTransferSyntax,
                         const std::string& secondTransferSyntax, int timeoutSeconds);
// The same for storage: the objects' own transfer syntax and Implicit VR Little Endian in two
// contexts (OpenStoreAssociation).
bool OpenNodeStoreAssociation(PDU_Service& service, const RemoteNode& node,
                              const std::string& sopClassUid, const std::string& ownTransferSyntax,
                              int timeoutSeconds);
